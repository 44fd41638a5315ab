// Spanish texts of the error codes.
#pragma once

#include <cstddef>
#include <string>

class CErrorText {
public:
    // Room for the longest text and its terminator.
    static constexpr std::size_t kBufferSize = 71;

    virtual ~CErrorText() = default;

    // Copies the text of `code`, terminator included, into `buffer` (kBufferSize bytes) and
    // answers the number of bytes copied.
    int GetText(long code, char* buffer) const;

    std::string Text(long code) const;
};
