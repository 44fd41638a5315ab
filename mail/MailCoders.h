// Text coders of the mail client: quoted-printable bodies, RFC 2047 header words, UTF-8.
// Texts are Windows-1252 byte strings.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// '0'..'9' for 0 to 9, 'A'..'F' for 10 to 15.
char HexDigit(int value);

// Escapes "=", control codes and bytes above 126 (blanks, tabs and line ends stay) and cuts
// lines longer than 77 characters with soft breaks ("=\r\n"), never inside an escape.
std::string QuotedPrintableEncode(const char* text);
std::string QuotedPrintableEncode(std::string_view text);

// One piece: unchanged when no byte is above 127, else one Q-encoded word.
std::string QEncodeHeaderWord(std::string_view piece, const std::string& charset);

// A header text: unchanged when no byte is above 127; otherwise Q-encoded words of at most
// 69 characters, separated by single blanks and cut between whole characters, that a
// standard decoder turns back into the text. "UTF-8" (any case) converts the text first.
std::string EncodeHeaderText(std::string_view text, const std::string& charset);
// As EncodeHeaderText, but encoded words even for plain text (a text too long to fold).
std::string EncodeHeaderWords(std::string_view text, const std::string& charset);

// Windows-1252 to UTF-8, whatever the process's code page.
std::string ConvertToUtf8(std::string_view text);

// UTF-16 to UTF-8 unit by unit; an unpaired surrogate is written in the three-byte form of
// its own value. With a buffer, answers the bytes written, or 0 when the next sequence does
// not fit; without one (null), the bytes needed.
std::size_t Utf16ToUtf8(const char16_t* units, std::size_t count, char* buffer, std::size_t capacity);

bool EqualsNoCase(std::string_view a, std::string_view b);
