// Texts and small decoders shared by the mail suites and benchmarks.
#pragma once

#include <string>
#include <vector>

// Spanish-like text with accents, tabs, trailing blanks, "=" and long lines, `size` bytes.
std::string SpanishSample(std::size_t size);
// Soft breaks removed and "=XY" escapes turned back into bytes.
std::string DecodeQuotedPrintable(const std::string& text);
std::vector<std::string> SplitBlanks(const std::string& text);
// Concatenated payloads of blank-separated "=?charset?q?...?=" words.
std::string DecodeHeaderWords(const std::string& text);
bool IsWholeUtf8(const std::string& bytes);
std::string Hex(const std::string& bytes);
std::string Unhex(const std::string& hex);
