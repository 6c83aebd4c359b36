#ifndef TEMBRA_FUZZ_FUZZSUPPORT_H
#define TEMBRA_FUZZ_FUZZSUPPORT_H

// What every file-reader harness needs: the input written to a file of its
// own (the readers take file names), a second file to save into, and the
// library's reports silenced, since damaged input is expected to produce
// them by the thousand. TEMBRA_FUZZ_VERBOSE=1 keeps the reports.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <streambuf>
#include <string>
#include <vector>

namespace fuzz_support {

class TempFile {
public:
    explicit TempFile(const char* tag) {
        const char* base = std::getenv("TMPDIR");
        std::string pattern =
            std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/tembra-fuzz-" + tag + "-XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        const int fd = mkstemp(buffer.data());
        if (fd < 0) {
            std::perror("mkstemp");
            std::abort();
        }
        close(fd);
        path_ = buffer.data();
    }
    ~TempFile() { unlink(path_.c_str()); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// The file the current input is written to.
inline const std::string& inputPath() {
    static TempFile file("in");
    return file.path();
}

// A file for the harness to save into.
inline const std::string& outputPath() {
    static TempFile file("out");
    return file.path();
}

inline const std::string& secondOutputPath() {
    static TempFile file("out2");
    return file.path();
}

inline bool writeFile(const std::string& path, const uint8_t* data, std::size_t size) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool ok = size == 0 || std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && ok;
}

inline bool writeInput(const uint8_t* data, std::size_t size) { return writeFile(inputPath(), data, size); }

inline std::vector<unsigned char> readFile(const std::string& path) {
    std::vector<unsigned char> bytes;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return bytes;
    unsigned char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(file);
    return bytes;
}

// A stream buffer that swallows everything.
class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

inline void silenceReports() {
    const char* verbose = std::getenv("TEMBRA_FUZZ_VERBOSE");
    if (verbose != nullptr && *verbose == '1') return;
    static NullBuffer sink;
    std::cerr.rdbuf(&sink);
    std::cout.rdbuf(&sink);
}

// A harness found a broken property: stop here so that libFuzzer keeps the input.
inline void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "property violated: %s\n", what);
        std::abort();
    }
}

}  // namespace fuzz_support

#endif
