#include "app/SettingValues.h"

#include <climits>

bool IsYes(std::string_view text)
{
    if (text.size() != 3) return false;
    static constexpr char yes[] = "yes";
    for (std::size_t i = 0; i < 3; ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != yes[i]) return false;
    }
    return true;
}

const char* YesNo(bool value)
{
    return value ? "Yes" : "No";
}

long ParseLenientLong(std::string_view text)
{
    std::size_t i = 0;
    auto isBlank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (i < text.size() && isBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        if (negative) {
            if (value < (LONG_MIN + digit) / 10) return LONG_MIN;
            value = value * 10 - digit;
        } else {
            if (value > (LONG_MAX - digit) / 10) return LONG_MAX;
            value = value * 10 + digit;
        }
    }
    return value;
}

std::string CutFaceName(std::string_view face)
{
    return std::string(face.substr(0, kMaxFaceNameLength));
}

int TicksPerFetch(long seconds)
{
    const long ticks = seconds / 30;
    if (ticks < 1) return 1;
    return ticks > INT_MAX ? INT_MAX : static_cast<int>(ticks);
}
