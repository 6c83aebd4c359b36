#ifndef TEMBRA_FILE_H
#define TEMBRA_FILE_H

#include <cstdio>
#include <string>

namespace tembra_io {

// A file opened by name and closed by its owner: the destructor closes it
// on every early return, and close() closes it where the result matters
// (a write that the stream buffered fails only then). Internal: not
// installed.
class File {
public:
    // std::fopen(name, mode); get() is null when that failed (errno says why).
    File(const std::string& name, const char* mode) : file_(std::fopen(name.c_str(), mode)) {}
    ~File() {
        if (file_ != nullptr) std::fclose(file_);
    }

    File(const File&) = delete;
    File& operator=(const File&) = delete;

    FILE* get() const { return file_; }
    bool isOpen() const { return file_ != nullptr; }

    // Closes the file now: true when it was open and closed without error.
    bool close() {
        FILE* const file = file_;
        file_ = nullptr;
        return file != nullptr && std::fclose(file) == 0;
    }

private:
    FILE* file_;
};

}  // namespace tembra_io

#endif
