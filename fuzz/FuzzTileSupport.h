#ifndef TEMBRA_FUZZ_FUZZTILESUPPORT_H
#define TEMBRA_FUZZ_FUZZTILESUPPORT_H

// Shared by the tile-coding harnesses: per-process scratch files, reports
// sent nowhere (they would drown libFuzzer's own output), and the State
// values each loaded value function is driven with.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <streambuf>
#include <string>

#include "State.h"

namespace fuzz_tiles {

class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

inline std::string& inputPath() {
    static std::string path;
    return path;
}
inline std::string& outputPath() {
    static std::string path;
    return path;
}

inline void removeFiles() {
    unlink(inputPath().c_str());
    unlink(outputPath().c_str());
}

inline void setUp(const char* name) {
    static NullBuffer nullBuffer;
    const char* base = std::getenv("TMPDIR");
    const std::string dir = (base != nullptr && *base != '\0') ? base : "/tmp";
    const std::string stem = dir + "/tembra-" + name + "-" + std::to_string(getpid());
    inputPath() = stem + ".in";
    outputPath() = stem + ".out";
    std::cerr.rdbuf(&nullBuffer);
    std::cout.rdbuf(&nullBuffer);
    std::atexit(removeFiles);
}

inline bool writeInput(const uint8_t* data, size_t size) {
    FILE* file = std::fopen(inputPath().c_str(), "wb");
    if (file == nullptr) return false;
    const bool ok = size == 0 || std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && ok;
}

// Probe p of five: every variable at its minimum, its maximum, its
// midpoint, beyond the maximum and below the minimum (WRAP and CIRCLE
// tiles see values outside their bounds).
inline void setProbe(State* state, int p) {
    if (state == nullptr || state->getType() != State::DOUBLE) return;
    const unsigned int n = state->getNumberOfVariables();
    for (unsigned int id = 0; id < n; ++id) {
        const double min = state->getMinValueDbl(id);
        const double max = state->getMaxValueDbl(id);
        const double range = max - min;
        const double values[5] = {min, max, min + range * 0.5, max + range * 1.5, min - range * 0.75};
        state->setValueDbl(id, values[p]);
    }
}

}  // namespace fuzz_tiles

#endif
