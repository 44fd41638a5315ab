// Timing helpers shared by the mail benchmarks.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

using BenchClock = std::chrono::steady_clock;

inline double Seconds(BenchClock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

template <typename F>
double BestOf(int rounds, F&& run)
{
    double best = 1e9;
    for (int i = 0; i < rounds; ++i) {
        const auto start = BenchClock::now();
        run();
        const double t = Seconds(BenchClock::now() - start);
        if (t < best) best = t;
    }
    return best;
}

// The wall time of a shell command, best of `rounds`; exits when the command fails.
inline double CommandSeconds(int rounds, const std::string& command)
{
    return BestOf(rounds, [&] {
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "failed: %s\n", command.c_str());
            std::exit(1);
        }
    });
}

inline void WriteFile(const std::string& path, const std::string& data)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(data.data(), static_cast<std::streamsize>(data.size()));
}

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void PrintRatio(const char* what, double ours, const char* anchor, double theirs, const char* goal)
{
    std::printf("%s\n  ours:   %8.4f s\n  %-7s %8.4f s\n  ratio:  %8.2f (goal %s)\n", what, ours, anchor, theirs,
                ours / theirs, goal);
}
