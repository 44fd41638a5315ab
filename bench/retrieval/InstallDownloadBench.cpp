// Compares two identical 256 MiB files with InstallDownload and with cmp, in the same run,
// and prints both times and their ratio. Files live in the directory given as argument
// (default: the system's temporary directory).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "retrieval/MessageFiles.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

void WriteRandomFile(const fs::path& path, std::size_t size)
{
    std::vector<char> block(1 << 20);
    std::mt19937_64 random(2026);
    for (std::size_t i = 0; i < block.size(); i += 8) {
        const auto value = random();
        std::memcpy(block.data() + i, &value, 8);
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (std::size_t written = 0; written < size; written += block.size()) {
        block[written % block.size()] ^= static_cast<char>(written >> 20);  // no two blocks alike
        out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
}

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

} // namespace

int main(int argc, char** argv)
{
    constexpr std::size_t kSize = 256u << 20;
    const fs::path dir = fs::path(argc > 1 ? argv[1] : fs::temp_directory_path().string()) / "notelia-bench";
    fs::create_directories(dir);
    fs::current_path(dir);
    WriteRandomFile("local.txt", kSize);
    fs::copy_file("local.txt", "master.txt", fs::copy_options::overwrite_existing);

    constexpr int kRounds = 5;
    double ours = 1e9;
    double theirs = 1e9;
    for (int round = 0; round < kRounds; ++round) {
        // InstallDownload consumes its temporary file: a fresh copy each round (not timed).
        fs::copy_file("master.txt", "buffer.txt", fs::copy_options::overwrite_existing);

        auto start = Clock::now();
        const int result = InstallDownload("buffer.txt", "local.txt");
        ours = std::min(ours, Seconds(Clock::now() - start));
        if (result != 1) {
            std::fprintf(stderr, "files compared as different\n");
            return 1;
        }

        start = Clock::now();
        const int rc = std::system("cmp -s master.txt local.txt");
        theirs = std::min(theirs, Seconds(Clock::now() - start));
        if (rc != 0) {
            std::fprintf(stderr, "cmp failed\n");
            return 1;
        }
    }
    fs::current_path(dir.parent_path());
    fs::remove_all(dir);

    std::printf("compare 256 MiB identical files (best of %d, warm cache)\n", kRounds);
    std::printf("  InstallDownload: %.3f s\n  cmp:             %.3f s\n  ratio:           %.2f (goal <= 0.50)\n",
                ours, theirs, ours / theirs);
    return 0;
}
