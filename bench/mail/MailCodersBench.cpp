// Base64 and quoted-printable against their anchors on the same input in the same run:
// coreutils base64 (encode with -w0, decode of the 76-column form) and Python's
// binascii.b2a_qp(quotetabs=False). Files live in the directory given as argument (default:
// the system's temporary directory).
#include <cstring>
#include <filesystem>
#include <random>

#include "mail/Base64Coder.h"
#include "mail/MailCoders.h"
#include "tests/mail/MailTestText.h"
#include "bench/mail/BenchSupport.h"

namespace fs = std::filesystem;

namespace {

std::string RandomBytes(std::size_t size)
{
    std::string data(size, '\0');
    std::mt19937_64 random(2026);
    for (std::size_t i = 0; i + 8 <= size; i += 8) {
        const auto value = random();
        std::memcpy(data.data() + i, &value, 8);
    }
    return data;
}

double EncodeSeconds(const std::string& data, int rounds)
{
    return BestOf(rounds, [&] {
        CBase64Coder coder;  // a fresh coder, as every caller has
        coder.EncodeData(reinterpret_cast<const unsigned char*>(data.data()), static_cast<std::uint32_t>(data.size()));
        if (coder.EncodedLength() != (data.size() + 2) / 3 * 4) std::exit(1);
    });
}

} // namespace

int main(int argc, char** argv)
{
    const fs::path dir = fs::path(argc > 1 ? argv[1] : fs::temp_directory_path().string()) / "notelia-mail-bench";
    fs::create_directories(dir);
    const std::string plain = (dir / "plain.bin").string();
    const std::string wrapped = (dir / "wrapped.b64").string();
    const std::string spanish = (dir / "spanish.txt").string();
    constexpr int kRounds = 5;

    const std::string data = RandomBytes(64u << 20);
    WriteFile(plain, data);

    // Encoding.
    CommandSeconds(1, "base64 -w0 '" + plain + "' >/dev/null");  // warm the cache
    const double theirsEncode = CommandSeconds(kRounds, "base64 -w0 '" + plain + "' >/dev/null");
    const double oursEncode = EncodeSeconds(data, kRounds);
    PrintRatio("base64 encode, 64 MiB", oursEncode, "base64:", theirsEncode, "<= 0.80");
    const double small = EncodeSeconds(data.substr(0, 8u << 20), kRounds);
    std::printf("  8 MiB: %.4f s, 64 MiB: %.4f s, ratio %.2f (linear: close to 8)\n\n", small, oursEncode,
                oursEncode / small);

    // Decoding the 76-column form.
    CommandSeconds(1, "base64 '" + plain + "' >'" + wrapped + "'");
    const std::string text = ReadFile(wrapped);
    const double theirsDecode = CommandSeconds(kRounds, "base64 -d '" + wrapped + "' >/dev/null");
    const double oursDecode = BestOf(kRounds, [&] {
        CBase64Coder coder;
        coder.DecodeData(reinterpret_cast<const unsigned char*>(text.data()), static_cast<std::uint32_t>(text.size()));
        if (coder.DecodedLength() < data.size()) std::exit(1);
    });
    PrintRatio("base64 decode, 76-column form of 64 MiB", oursDecode, "base64:", theirsDecode, "<= 0.50");
    std::printf("\n");

    // Quoted-printable of Spanish text.
    const std::string sample = SpanishSample(64u << 20);
    WriteFile(spanish, sample);
    const std::string script = "import binascii,time\n"
                               "d=open('" + spanish + "','rb').read()\n"
                               "b=1e9\n"
                               "for i in range(" + std::to_string(kRounds) + "):\n"
                               "  t=time.perf_counter(); binascii.b2a_qp(d,quotetabs=False); b=min(b,time.perf_counter()-t)\n"
                               "open('" + (dir / "qp.time").string() + "','w').write(repr(b))\n";
    WriteFile((dir / "qp.py").string(), script);
    CommandSeconds(1, "/usr/bin/python3 '" + (dir / "qp.py").string() + "'");
    const double theirsQp = std::stod(ReadFile((dir / "qp.time").string()));
    std::size_t size = 0;
    const double oursQp = BestOf(kRounds, [&] { size = QuotedPrintableEncode(sample).size(); });
    if (size < sample.size()) return 1;
    PrintRatio("quoted-printable, 64 MiB of Spanish text", oursQp, "b2a_qp:", theirsQp, "<= 0.25");

    fs::remove_all(dir);
    return 0;
}
