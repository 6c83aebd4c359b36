#ifndef TEMBRA_TESTS_TESTSUPPORT_H
#define TEMBRA_TESTS_TESTSUPPORT_H

// Helpers shared by the tests: a fresh temporary directory per test, file
// contents as bytes, and little-endian byte builders with which the tests
// assemble the files they expect from the layouts, not from the code under
// test.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace test_support {

class TempDir {
public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/tembra-test-XXXXXX";
        const char* made = mkdtemp(&pattern[0]);
        EXPECT_NE(made, nullptr) << "mkdtemp failed";
        path_ = made != nullptr ? made : "/tmp";
    }
    ~TempDir() { (void)std::system(("rm -rf '" + path_ + "'").c_str()); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

using Bytes = std::vector<unsigned char>;

inline Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
inline void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}
inline std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
inline void writeText(const std::string& path, const std::string& text) {
    writeFile(path, Bytes(text.begin(), text.end()));
}

// The lines of a text, without their line ends.
inline std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
}

// Little-endian builders.
inline void putU32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
inline void putI32(Bytes& b, int32_t v) { putU32(b, static_cast<uint32_t>(v)); }
inline void putF64(Bytes& b, double d) {
    uint64_t v;
    std::memcpy(&v, &d, sizeof v);
    for (int i = 0; i < 8; ++i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
inline void putText(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }

// A variable record: length, name bytes, min, max (INT: int32_t bounds, DOUBLE: double bounds).
inline void putIntVar(Bytes& b, const std::string& name, int32_t lo, int32_t hi) {
    putU32(b, static_cast<uint32_t>(name.size()));
    putText(b, name);
    putI32(b, lo);
    putI32(b, hi);
}
inline void putDoubleVar(Bytes& b, const std::string& name, double lo, double hi) {
    putU32(b, static_cast<uint32_t>(name.size()));
    putText(b, name);
    putF64(b, lo);
    putF64(b, hi);
}

// Bit-exact comparison of doubles (NaN payloads and signed zeros included).
inline bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// What the reports look like from the outside: the text after " --> " of
// every report line in the captured stream.
inline std::vector<std::string> reportMessages(const std::string& captured) {
    std::vector<std::string> messages;
    for (const std::string& line : linesOf(captured)) {
        const std::size_t arrow = line.find("    --> ");
        if (arrow != std::string::npos) messages.push_back(line.substr(arrow + 8));
    }
    return messages;
}

// The reports an action wrote: notices (stdout) and errors (stderr).
struct Reports {
    std::vector<std::string> notices;
    std::vector<std::string> errors;
};

template <class Action>
Reports reportsOf(Action&& action) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    action();
    const std::vector<std::string> errors = reportMessages(testing::internal::GetCapturedStderr());
    return Reports{reportMessages(testing::internal::GetCapturedStdout()), errors};
}

// The report messages of whatever f writes to stderr.
template <class F>
std::vector<std::string> stderrReports(F f) {
    testing::internal::CaptureStderr();
    f();
    return reportMessages(testing::internal::GetCapturedStderr());
}

// Whether one of the messages contains the given text.
inline bool someReportContains(const std::vector<std::string>& messages, const std::string& part) {
    return std::any_of(messages.begin(), messages.end(), [&](const std::string& m) { return m.find(part) != m.npos; });
}

// One message per part, each containing its part, in order: a report is
// recognised by its key phrase, not by its whole sentence.
inline testing::AssertionResult reportsContain(const std::vector<std::string>& messages,
                                               const std::vector<std::string>& parts) {
    bool ok = messages.size() == parts.size();
    for (std::size_t i = 0; ok && i < parts.size(); ++i) ok = messages[i].find(parts[i]) != std::string::npos;
    if (ok) return testing::AssertionSuccess();
    return testing::AssertionFailure() << testing::PrintToString(messages) << " are not "
                                       << testing::PrintToString(parts);
}

}  // namespace test_support

#endif
