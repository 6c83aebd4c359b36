#include "inspect/FileProbe.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ToolSupport.h"

namespace tembra_inspect {

namespace {

long long bytesLeft(FILE* file, char* buffer, const std::size_t size) {
    long long count = 0;
    for (std::size_t n = std::fread(buffer, 1, size, file); n > 0; n = std::fread(buffer, 1, size, file)) {
        count += static_cast<long long>(n);
    }
    return count;
}

Match compareStreams(FILE* a, FILE* b, long long& extra) {
    char bufferA[65536];
    char bufferB[65536];
    for (;;) {
        const std::size_t na = std::fread(bufferA, 1, sizeof bufferA, a);
        const std::size_t nb = std::fread(bufferB, 1, sizeof bufferB, b);
        const std::size_t common = std::min(na, nb);
        if (std::memcmp(bufferA, bufferB, common) != 0) return Match::DIFFERENT;
        if (na == nb) {
            if (na == 0) return Match::SAME;
            continue;
        }
        if (nb > na || !std::feof(b)) return Match::DIFFERENT;
        extra = static_cast<long long>(na - nb) + bytesLeft(a, bufferA, sizeof bufferA);
        return Match::LONGER;
    }
}

// The library refuses a file that goes on after a complete body, with a
// report that starts with the number of bytes after it: that number, or 0
// for any other reason.
long long bytesAfterBody(const std::string& reason) {
    if (reason.find(" after the body --> ") == std::string::npos) return 0;
    return std::strtoll(reason.c_str(), nullptr, 10);
}

// The file without its last count bytes, as scratch's "cut": false when
// it could not be written.
bool writeCut(const std::string& file, const long long count, const std::string& cut) {
    FILE* in = std::fopen(file.c_str(), "rb");
    if (in == nullptr) return false;
    std::vector<char> bytes;
    char buffer[65536];
    for (std::size_t n = std::fread(buffer, 1, sizeof buffer, in); n > 0;
         n = std::fread(buffer, 1, sizeof buffer, in)) {
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    std::fclose(in);
    if (count <= 0 || static_cast<unsigned long long>(count) > bytes.size()) return false;
    bytes.resize(bytes.size() - static_cast<std::size_t>(count));
    FILE* out = std::fopen(cut.c_str(), "wb");
    if (out == nullptr) return false;
    const bool written = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    return std::fclose(out) == 0 && written;
}

}  // namespace

ScratchDir::ScratchDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/tembra-inspect-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) != nullptr) path_ = buffer.data();
}

ScratchDir::~ScratchDir() {
    if (path_.empty()) return;
    for (const char* name : {"roundtrip", "reports", "cut"}) unlink(file(name).c_str());
    rmdir(path_.c_str());
}

Match compareFiles(const std::string& input, const std::string& roundTrip, long long& extra) {
    extra = 0;
    FILE* a = std::fopen(input.c_str(), "rb");
    FILE* b = std::fopen(roundTrip.c_str(), "rb");
    const Match result = a != nullptr && b != nullptr ? compareStreams(a, b, extra) : Match::DIFFERENT;
    if (a != nullptr) std::fclose(a);
    if (b != nullptr) std::fclose(b);
    return result;
}

Probe probe(const Reader& reader, const std::string& file, const ScratchDir& scratch) {
    Probe result;
    result.reader = &reader;
    const std::string roundTrip = scratch.file("roundtrip");
    const std::string reports = scratch.file("reports");
    unlink(roundTrip.c_str());
    bool saved = false;
    {
        tembra_tools::QuietOutput quiet(reports);
        result.inspector = reader.open(file);
        saved = result.inspector->saveTo(roundTrip);
    }
    result.reason = tembra_tools::firstErrorMessage(reports);
    if (saved) {
        result.match = compareFiles(file, roundTrip, result.extra);
        result.weights = result.inspector->weightCount();
    }
    if (result.match != Match::SAME) result.inspector.reset();
    unlink(roundTrip.c_str());
    const long long extra = bytesAfterBody(result.reason);
    if (extra > 0 && file != scratch.file("cut") && writeCut(file, extra, scratch.file("cut"))) {
        const Probe withoutThem = probe(reader, scratch.file("cut"), scratch);
        if (withoutThem.match == Match::SAME) {
            result.match = Match::LONGER;
            result.extra = extra;
            result.weights = withoutThem.weights;
        }
        unlink(scratch.file("cut").c_str());
    }
    return result;
}

std::vector<Probe> probeAll(const std::string& file, const std::string& kind, const ScratchDir& scratch) {
    std::vector<Probe> probes;
    for (const Reader& reader : readers()) {
        if (kind.empty() || kind == reader.kind) probes.push_back(probe(reader, file, scratch));
    }
    return probes;
}

}  // namespace tembra_inspect
