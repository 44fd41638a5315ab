// How the text of a setting is read as a value.
#pragma once

#include <string>
#include <string_view>

// True only for "yes" in any mix of capitals.
bool IsYes(std::string_view text);

// "Yes" or "No", as booleans are stored.
const char* YesNo(bool value);

// Leading blanks skipped, an optional sign, then decimal digits up to the first other
// character; text without leading digits gives 0. Values beyond the range of long saturate.
long ParseLenientLong(std::string_view text);

// A face name as it fits in a font description: at most 31 characters.
std::string CutFaceName(std::string_view face);
inline constexpr std::size_t kMaxFaceNameLength = 31;

// Number of 30-second ticks between periodic fetches for a TimerRefresh of `seconds`;
// values under 30 (or negative) give one tick, so the tick arithmetic never divides by zero.
int TicksPerFetch(long seconds);
