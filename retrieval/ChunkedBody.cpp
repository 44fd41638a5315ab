#include "retrieval/ChunkedBody.h"

#include <algorithm>

namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

void CChunkedBody::TakeSizeLine(std::string_view line)
{
    std::uint64_t size = 0;
    std::size_t at = 0;
    for (int digit; at < line.size() && (digit = HexValue(line[at])) >= 0; ++at) {
        if (size > (UINT64_MAX >> 4)) {
            m_state = State::Invalid;  // more than 64 bits
            return;
        }
        size = size << 4 | static_cast<std::uint64_t>(digit);
    }
    // After the digits only blanks and extensions (dropped) may follow.
    const std::size_t rest = line.find_first_not_of(" \t", at);
    if (at == 0 || (rest != std::string_view::npos && line[rest] != ';')) {
        m_state = State::Invalid;
        return;
    }
    if (size > m_nMaxBody - m_nBody) {
        m_state = State::TooLarge;
        return;
    }
    m_nBody += size;
    m_nLeft = size;
    m_part = size == 0 ? Part::Trailer : Part::Data;
}

std::size_t CChunkedBody::Decode(std::string_view input, std::string& body)
{
    std::size_t used = 0;
    while (m_state == State::Reading && used < input.size()) {
        const std::string_view rest = input.substr(used);
        if (m_part == Part::Data) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(m_nLeft, rest.size()));
            body.append(rest.data(), n);
            used += n;
            m_nLeft -= n;
            if (m_nLeft == 0) m_part = Part::DataEnd;
            continue;
        }
        const std::size_t end = rest.find('\n');
        if (end == std::string_view::npos || end > kMaxLine) {
            if (rest.size() > kMaxLine) m_state = State::Invalid;
            break;
        }
        std::string_view line = rest.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        used += end + 1;
        if (m_part == Part::Size) {
            TakeSizeLine(line);
        } else if (m_part == Part::DataEnd) {
            if (!line.empty()) m_state = State::Invalid;
            m_part = Part::Size;
        } else if (line.empty()) {
            m_state = State::Ended;
        } else if ((m_nTrailer += end + 1) > kMaxTrailer) {
            m_state = State::Invalid;
        }
    }
    return used;
}
