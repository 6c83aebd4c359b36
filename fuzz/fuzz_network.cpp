// Feeds arbitrary bytes to the neural network's V-file reader, through the
// file-name constructor and through load() on a network built on a State,
// then uses whatever came out: a damaged file must give a reported
// failure and a network that reports on use, never a crash or a huge
// allocation.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <streambuf>
#include <string>

#include <unistd.h>

#include "NeuralNetwork.h"

namespace {

// Swallows the reports: a damaged file is expected to be reported, and
// writing every report would only slow the fuzzer down.
class NullBuffer : public std::streambuf {
protected:
    int overflow(int ch) override { return ch == EOF ? 0 : ch; }
    std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

std::string tempPath(const char* tag) {
    const char* base = std::getenv("TMPDIR");
    const std::string dir = (base != nullptr && *base != '\0') ? base : "/tmp";
    return dir + "/tembra-fuzz-network-" + std::to_string(static_cast<long>(getpid())) + tag;
}

void exercise(NeuralNetwork& net, const std::string& outPath) {
    net.setState();
    (void)net.getStateValue();
    net.initEligibilityTraces();
    net.updateEligibilityTraces(0.9, 0.8);
    net.storeState();
    net.updateWeights(0.1, 0.5);
    (void)net.getStateValue();
    (void)net.getMinWeight();
    (void)net.getMaxWeight();
    (void)net.getAvgWeight(true);
    net.setScaleFactor(0, 0.5);
    (void)net.save(outPath);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static NullBuffer sink;
    std::cerr.rdbuf(&sink);
    std::cout.rdbuf(&sink);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string inPath = tempPath(".in.v");
    static const std::string outPath = tempPath(".out.v");

    FILE* file = std::fopen(inPath.c_str(), "wb");
    if (file == nullptr) return 0;
    const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
    if (std::fclose(file) != 0 || !written) return 0;

    {
        NeuralNetwork fromFile(inPath);
        exercise(fromFile, outPath);
    }
    {
        State* state = new State();
        state->registerVariable("x0", -1.0, 1.0);
        state->registerVariable("x1", 0.0, 10.0);
        state->registerVariable("x2", -5.0, 5.0);
        NeuralNetwork existing(state, 2);
        (void)existing.load(inPath);
        exercise(existing, outPath);
    }
    std::remove(inPath.c_str());
    std::remove(outPath.c_str());
    return 0;
}
