// A body sent in chunks (Transfer-Encoding: chunked), decoded as it arrives: sizes in
// hexadecimal, each chunk followed by its line end, a last chunk of size 0, then trailer
// lines (dropped) up to an empty line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class CChunkedBody {
public:
    enum class State {
        Reading,   // more bytes are needed
        Ended,     // the empty line after the last chunk was read
        Invalid,   // a size line or line end that breaks the framing, or a line too long
        TooLarge,  // the chunks would make the body longer than its bound
    };

    explicit CChunkedBody(std::uint64_t maxBody) : m_nMaxBody(maxBody) {}

    // Decodes what it can from the start of `input`, appending the body's bytes to `body`, and
    // answers how many bytes of `input` it used; the others must come again with what follows.
    // Uses nothing once the state is not Reading.
    std::size_t Decode(std::string_view input, std::string& body);
    State GetState() const noexcept { return m_state; }

    // The longest size, chunk-end or trailer line, and the most trailer bytes.
    static constexpr std::size_t kMaxLine = 4096;
    static constexpr std::size_t kMaxTrailer = 64 * 1024;

private:
    enum class Part { Size, Data, DataEnd, Trailer };
    void TakeSizeLine(std::string_view line);

    std::uint64_t m_nMaxBody;
    std::uint64_t m_nBody = 0;  // bytes announced so far
    std::uint64_t m_nLeft = 0;  // of the chunk being read
    std::size_t m_nTrailer = 0;
    Part m_part = Part::Size;
    State m_state = State::Reading;
};
