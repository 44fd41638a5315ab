// The head of an HTTP answer as the download reads it: the status, the body's framing and
// codings, the media type and the redirection's target.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// A head that has not ended within this many bytes is no answer of a message server.
inline constexpr std::size_t kMaxHttpHead = 64 * 1024;

enum class HeadState {
    Incomplete,  // no empty line yet: more bytes are needed
    Complete,
    Invalid,     // over kMaxHttpHead, a Content-Length that is no length, lengths or
                 // redirection targets that disagree
};

enum class TransferCoding {
    None,     // the body runs to its length or to the end of the stream
    Chunked,  // in chunks; any Content-Length is to be ignored
    Other,    // a coding the download cannot read
};

struct HttpHead {
    HeadState state = HeadState::Incomplete;
    // Bytes of the head with its empty line; the body starts there.
    std::size_t size = 0;
    // Absent when the first line is no status line ("HTTP/x", a blank, exactly three digits,
    // then a blank or the line end).
    std::optional<unsigned> status;
    // Absent when not announced; a length over the bound, however large, is the bound + 1
    // (the bound itself when it is the largest 64-bit number).
    std::optional<std::uint64_t> length;
    TransferCoding transfer = TransferCoding::None;
    bool encoded = false;  // a Content-Encoding other than identity
    bool html = false;     // Content-Type text/html: a page, not a file
    std::optional<std::string> location;
    // The server keeps the connection after this answer: HTTP/1.1 or later without
    // "Connection: close", or HTTP/1.0 with "Connection: keep-alive". Its body must still be
    // framed (a length or chunks) and read to its end before another request goes on it.
    bool persistent = false;
    // What identifies the content sent, to be asked about again; empty when absent or unfit to
    // send back (a control character, or over kMaxValidator bytes).
    std::string etag;
    std::string lastModified;
};

inline constexpr std::size_t kMaxValidator = 256;

// Parses the head at the start of `received`. Lines end with LF or CR LF; header names are
// matched without regard to case. Content-Length must be digits only (blanks around them
// allowed), and every one of them must give the same number.
HttpHead ParseHttpHead(std::string_view received, std::uint64_t maxLength);
