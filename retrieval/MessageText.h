// How a message file's bytes become the text that the view shows. Files are written as
// Windows-1252 or, by today's editors, as UTF-8; the view takes UTF-16.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Longest line handed to the view, in UTF-16 units: the edit control lays a line out in time
// that grows with the square of its length, so a longer line is broken for display.
inline constexpr std::size_t kMaxViewLine = 1024;

// The view's text for a message file's `bytes`: up to the first NUL; as UTF-8 when the bytes
// start with the UTF-8 byte order mark (dropped; invalid sequences become U+FFFD) or are valid
// UTF-8 with at least one non-ASCII character, else as Windows-1252. A line longer than
// `maxLine` units (at least 2) is broken with CR LF, after its last space in the line's
// second half when there is one, never inside a CR LF or a surrogate pair.
std::u16string MessageViewText(std::string_view bytes, std::size_t maxLine = kMaxViewLine);
