// Base64 (RFC 4648 alphabet and padding) over two buffers that the coder owns.
#pragma once

#include <cstdint>

struct Base64Group {
    unsigned char Bytes[4];
    unsigned char Count;  // how many of the four bytes are meaningful
};

class CBase64Coder {
public:
    CBase64Coder() = default;
    CBase64Coder(const CBase64Coder&) = delete;
    CBase64Coder& operator=(const CBase64Coder&) = delete;
    virtual ~CBase64Coder();

    // A null pointer does nothing.
    virtual void EncodeText(const char* text);
    virtual void EncodeData(const unsigned char* data, std::uint32_t length);
    // A null pointer does nothing. Skipped characters (codes 7 to 13 and blank) are ignored;
    // other characters outside the alphabet are decoded arithmetically, never rejected.
    virtual void DecodeText(const char* text);
    virtual void DecodeData(const unsigned char* data, std::uint32_t length);

    // Both stay valid until the next encode or decode; the contents are NUL-terminated.
    virtual const unsigned char* DecodedData() const;
    virtual const char* EncodedText() const;
    virtual std::uint32_t DecodedLength() const;
    virtual std::uint32_t EncodedLength() const;

protected:
    // Capacity becomes the smallest multiple of 4096 above `size` when it is smaller; the
    // whole buffer is zeroed and its count reset in every case.
    virtual void ReserveEncoded(std::uint32_t size);
    virtual void ReserveDecoded(std::uint32_t size);
    virtual void LoadEncoded(const unsigned char* data, std::uint32_t length);
    virtual void LoadDecoded(const unsigned char* data, std::uint32_t length);
    virtual void EncodeGroup(const Base64Group& group, char* destination);
    virtual void DecodeGroup(const Base64Group& group, unsigned char* destination);
    virtual void SplitGroup(Base64Group& out, const Base64Group& in);
    virtual void JoinGroup(Base64Group& out, const Base64Group& in);
    virtual bool IsSkippedChar(unsigned char c);

private:
    unsigned char* m_pDecoded = nullptr;
    char* m_pEncoded = nullptr;
    std::uint32_t m_nDecodedCapacity = 0;
    std::uint32_t m_nEncodedCapacity = 0;
    std::uint32_t m_nDecodedLength = 0;
    std::uint32_t m_nEncodedLength = 0;
};

// 256 entries: alphabet characters (also with bit 7 set) give their value, "=" (and 189)
// gives 255, everything else 254. Built on the first decode in the process.
extern unsigned char Base64DecodeTable[256];
