#ifndef TEMBRA_TOOLS_TOOLSUPPORT_H
#define TEMBRA_TOOLS_TOOLSUPPORT_H

// What the command-line tools share: keeping the library's reports off the
// terminal while a tool tries something that may legitimately fail, and
// writing text that came from a file (variable names) safely into a
// terminal line or a CSV field.

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace tembra_tools {

// While it lives, whatever is written to the standard output and error
// streams (file descriptors 1 and 2, so the library's reports and any
// stdio output alike) goes to a file instead; the streams come back when
// it ends. The file may be /dev/null.
class QuietOutput {
public:
    explicit QuietOutput(const std::string& sink) {
        flushAll();
        const int target = open(sink.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (target < 0) return;
        savedOut_ = dup(STDOUT_FILENO);
        savedErr_ = dup(STDERR_FILENO);
        if (savedOut_ < 0 || savedErr_ < 0) {
            close(target);
            restore();
            return;
        }
        dup2(target, STDOUT_FILENO);
        dup2(target, STDERR_FILENO);
        close(target);
    }
    ~QuietOutput() { restore(); }

    QuietOutput(const QuietOutput&) = delete;
    QuietOutput& operator=(const QuietOutput&) = delete;

private:
    static void flushAll() {
        std::cout.flush();
        std::cerr.flush();
        std::fflush(stdout);
        std::fflush(stderr);
    }
    void restore() {
        flushAll();
        if (savedOut_ >= 0) {
            dup2(savedOut_, STDOUT_FILENO);
            close(savedOut_);
            savedOut_ = -1;
        }
        if (savedErr_ >= 0) {
            dup2(savedErr_, STDERR_FILENO);
            close(savedErr_);
            savedErr_ = -1;
        }
    }

    int savedOut_ = -1;
    int savedErr_ = -1;
};

// The message of the first error report in a file of captured output (the
// text after the report's arrow), or the empty string.
inline std::string firstErrorMessage(const std::string& capture) {
    std::ifstream in(capture);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, 7, "ERROR: ") != 0) continue;
        const std::size_t arrow = line.find("    --> ");
        return arrow == std::string::npos ? line.substr(7) : line.substr(arrow + 8);
    }
    return std::string();
}

// Bytes that would upset a terminal (control characters, bytes above 126)
// as \xNN, a backslash as \\.
inline std::string printable(const std::string& text) {
    static const char HEX[] = "0123456789abcdef";
    std::string out;
    for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u == '\\') {
            out += "\\\\";
        } else if (u < 0x20 || u > 0x7e) {
            out += "\\x";
            out += HEX[u >> 4];
            out += HEX[u & 0xf];
        } else {
            out += c;
        }
    }
    return out;
}

// A CSV field: quoted (with doubled quotes) when it holds a comma, a quote,
// a line break or leading or trailing blanks.
inline std::string csvField(const std::string& text) {
    bool quote = !text.empty() && (text.front() == ' ' || text.back() == ' ');
    for (const char c : text) {
        if (c == ',' || c == '"' || c == '\n' || c == '\r') quote = true;
    }
    if (!quote) return text;
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

// "A, B or C".
inline std::string alternatives(const std::vector<std::string>& words) {
    std::string text;
    for (std::size_t i = 0; i < words.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == words.size() ? " or " : ", ") + words[i];
    }
    return text;
}

}  // namespace tembra_tools

#endif
