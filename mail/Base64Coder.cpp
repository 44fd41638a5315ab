#include "mail/Base64Coder.h"

#include "mail/MailPlatform.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>

unsigned char Base64DecodeTable[256];

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
bool g_bDecodeTableBuilt = false;

void BuildDecodeTable()
{
    std::memset(Base64DecodeTable, 254, sizeof Base64DecodeTable);
    for (unsigned value = 0; value < 64; ++value) {
        const auto c = static_cast<unsigned char>(kAlphabet[value]);
        Base64DecodeTable[c] = static_cast<unsigned char>(value);
        Base64DecodeTable[c | 0x80] = static_cast<unsigned char>(value);
    }
    Base64DecodeTable['='] = 255;
    Base64DecodeTable['=' | 0x80] = 255;
    g_bDecodeTableBuilt = true;
}

// Twelve bits give two characters: one lookup per half of a group.
struct PairTable {
    char Pairs[4096][2];
    PairTable()
    {
        for (unsigned v = 0; v < 4096; ++v) {
            Pairs[v][0] = kAlphabet[v >> 6];
            Pairs[v][1] = kAlphabet[v & 63];
        }
    }
};

// The contribution of each of the four characters to the 24 bits of a group. A padding
// value counts as 0 in the third and fourth place; elsewhere every value, invalid ones too,
// takes part with its low six bits, which is what the bytewise arithmetic of a group gives.
struct QuadTables {
    std::uint32_t Place[4][256];
    QuadTables()
    {
        for (unsigned c = 0; c < 256; ++c) {
            const unsigned v = Base64DecodeTable[c];
            const unsigned late = v == 255 ? 0 : v;
            Place[0][c] = (v & 63u) << 18;
            Place[1][c] = (v & 63u) << 12;
            Place[2][c] = (late & 63u) << 6;
            Place[3][c] = late & 63u;
        }
    }
};

struct SkipTable {
    unsigned char Keep[256];
    SkipTable()
    {
        for (unsigned c = 0; c < 256; ++c) Keep[c] = !((c >= 7 && c <= 13) || c == 32);
    }
};

template <typename T>
T* Allocate(std::uint32_t size)
{
    // A new block comes zeroed, which spares a pass over it.
    void* block = AllocateZeroedBlock(size);
    if (!block) throw std::bad_alloc();
    return static_cast<T*>(block);
}

std::uint32_t RoundedCapacity(std::uint64_t size)
{
    const std::uint64_t capacity = ((size >> 12) + 1) << 12;
    if (capacity > 0xFFFFFFFFu) throw std::bad_alloc();
    return static_cast<std::uint32_t>(capacity);
}

// A buffer of at least `size` bytes, zero-filled up to its capacity: a smaller one is
// replaced by a fresh block of the next 4096-byte step, a large enough one is cleared.
template <typename T>
void ReserveBlock(T*& block, std::uint32_t& capacity, std::uint32_t size)
{
    if (capacity < size) {
        FreeBlock(block, capacity);
        block = nullptr;
        capacity = 0;
        const std::uint32_t rounded = RoundedCapacity(size);
        block = Allocate<T>(rounded);
        capacity = rounded;
    } else if (block) {
        std::memset(block, 0, capacity);
    }
}

} // namespace

CBase64Coder::~CBase64Coder()
{
    FreeBlock(m_pDecoded, m_nDecodedCapacity);
    FreeBlock(m_pEncoded, m_nEncodedCapacity);
}

void CBase64Coder::EncodeText(const char* text)
{
    if (!text) return;
    EncodeData(reinterpret_cast<const unsigned char*>(text), static_cast<std::uint32_t>(std::strlen(text)));
}

void CBase64Coder::DecodeText(const char* text)
{
    if (!text) return;
    DecodeData(reinterpret_cast<const unsigned char*>(text), static_cast<std::uint32_t>(std::strlen(text)));
}

const unsigned char* CBase64Coder::DecodedData() const
{
    static const unsigned char empty[1] = {0};
    return m_pDecoded ? m_pDecoded : empty;
}

const char* CBase64Coder::EncodedText() const
{
    return m_pEncoded ? m_pEncoded : "";
}

std::uint32_t CBase64Coder::DecodedLength() const
{
    return m_nDecodedLength;
}

std::uint32_t CBase64Coder::EncodedLength() const
{
    return m_nEncodedLength;
}

void CBase64Coder::ReserveEncoded(std::uint32_t size)
{
    ReserveBlock(m_pEncoded, m_nEncodedCapacity, size);
    m_nEncodedLength = 0;
}

void CBase64Coder::ReserveDecoded(std::uint32_t size)
{
    ReserveBlock(m_pDecoded, m_nDecodedCapacity, size);
    m_nDecodedLength = 0;
}

void CBase64Coder::LoadDecoded(const unsigned char* data, std::uint32_t length)
{
    ReserveDecoded(length);
    if (length) std::memcpy(m_pDecoded, data, length);
    m_nDecodedLength = length;
}

void CBase64Coder::LoadEncoded(const unsigned char* data, std::uint32_t length)
{
    static const SkipTable skip;
    ReserveEncoded(length);
    std::uint32_t count = 0;
    // Every byte is written; the position only moves on for kept ones.
    for (std::uint32_t i = 0; i < length; ++i) {
        const unsigned char c = data[i];
        m_pEncoded[count] = static_cast<char>(c);
        count += skip.Keep[c];
    }
    if (count < length) std::memset(m_pEncoded + count, 0, length - count);
    m_nEncodedLength = count;
}

void CBase64Coder::EncodeData(const unsigned char* data, std::uint32_t length)
{
    static const PairTable table;
    LoadDecoded(data, length);
    ReserveEncoded(static_cast<std::uint32_t>(std::min<std::uint64_t>(2ull * length, 0xFFFFFFFFull)));
    if (!m_pEncoded) return;

    const unsigned char* in = m_pDecoded;
    char* out = m_pEncoded;
    const std::uint32_t whole = length - length % 3;
    std::uint32_t i = 0;
    if constexpr (std::endian::native == std::endian::little) {
        // Four bytes read at once (the zeroed capacity lies beyond the data), four written.
        for (; i < whole; i += 3, out += 4) {
            std::uint32_t v;
            std::memcpy(&v, in + i, 4);
            v = ((v & 0xFF) << 16) | (v & 0xFF00) | ((v >> 16) & 0xFF);
            std::uint16_t a, b;
            std::memcpy(&a, table.Pairs[v >> 12], 2);
            std::memcpy(&b, table.Pairs[v & 0xFFF], 2);
            const std::uint32_t w = a | (std::uint32_t(b) << 16);
            std::memcpy(out, &w, 4);
        }
    }
    for (; i < whole; i += 3, out += 4) {
        const std::uint32_t v = (std::uint32_t(in[i]) << 16) | (std::uint32_t(in[i + 1]) << 8) | in[i + 2];
        std::memcpy(out, table.Pairs[v >> 12], 2);
        std::memcpy(out + 2, table.Pairs[v & 0xFFF], 2);
    }
    m_nEncodedLength = whole / 3 * 4;
    if (const std::uint32_t rest = length - whole) {
        Base64Group group{{in[whole], rest == 2 ? in[whole + 1] : static_cast<unsigned char>(0), 0, 0},
                          static_cast<unsigned char>(rest)};
        EncodeGroup(group, m_pEncoded + m_nEncodedLength);
        m_nEncodedLength += 4;
    }
}

void CBase64Coder::DecodeData(const unsigned char* data, std::uint32_t length)
{
    if (!g_bDecodeTableBuilt) BuildDecodeTable();
    static const QuadTables quad;
    LoadEncoded(data, length);
    ReserveDecoded(length);
    if (!m_pDecoded) return;

    const auto* in = reinterpret_cast<const unsigned char*>(m_pEncoded);
    const std::uint32_t count = m_nEncodedLength;
    const std::uint32_t whole = count - count % 4;
    unsigned char* out = m_pDecoded;
    for (std::uint32_t i = 0; i < whole; i += 4, out += 3) {
        const std::uint32_t v = quad.Place[0][in[i]] | quad.Place[1][in[i + 1]] | quad.Place[2][in[i + 2]] |
                                quad.Place[3][in[i + 3]];
        out[0] = static_cast<unsigned char>(v >> 16);
        out[1] = static_cast<unsigned char>(v >> 8);
        out[2] = static_cast<unsigned char>(v);
    }
    m_nDecodedLength = whole / 4 * 3;
    if (const std::uint32_t rest = count - whole) {
        Base64Group group{{0, 0, 0, 0}, static_cast<unsigned char>(rest)};
        for (std::uint32_t k = 0; k < rest; ++k) {
            const unsigned char v = Base64DecodeTable[in[whole + k]];
            group.Bytes[k] = v == 255 ? 0 : v;
        }
        DecodeGroup(group, m_pDecoded + m_nDecodedLength);
        m_nDecodedLength += rest;
    }
}

void CBase64Coder::EncodeGroup(const Base64Group& group, char* destination)
{
    Base64Group values{};
    SplitGroup(values, group);
    for (int k = 0; k < 4; ++k) destination[k] = kAlphabet[values.Bytes[k]];
    if (group.Count == 1) destination[2] = destination[3] = '=';
    if (group.Count == 2) destination[3] = '=';
}

void CBase64Coder::DecodeGroup(const Base64Group& group, unsigned char* destination)
{
    Base64Group bytes{};
    JoinGroup(bytes, group);
    std::memcpy(destination, bytes.Bytes, 3);
}

void CBase64Coder::SplitGroup(Base64Group& out, const Base64Group& in)
{
    const unsigned char* b = in.Bytes;
    out.Bytes[0] = static_cast<unsigned char>(b[0] >> 2);
    out.Bytes[1] = static_cast<unsigned char>(((b[0] & 3) << 4) | (b[1] >> 4));
    out.Bytes[2] = static_cast<unsigned char>(((b[1] & 15) << 2) | (b[2] >> 6));
    out.Bytes[3] = static_cast<unsigned char>(b[2] & 63);
    out.Count = 4;
}

void CBase64Coder::JoinGroup(Base64Group& out, const Base64Group& in)
{
    const unsigned char* v = in.Bytes;
    out.Bytes[0] = static_cast<unsigned char>((v[0] << 2) | ((v[1] >> 4) & 3));
    out.Bytes[1] = static_cast<unsigned char>(((v[1] & 15) << 4) | ((v[2] >> 2) & 15));
    out.Bytes[2] = static_cast<unsigned char>(((v[2] & 3) << 6) | (v[3] & 63));
    out.Bytes[3] = 0;
    out.Count = 3;
}

bool CBase64Coder::IsSkippedChar(unsigned char c)
{
    return (c >= 7 && c <= 13) || c == 32;
}
