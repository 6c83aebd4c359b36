#include "sweep/SweepText.h"

#include <cctype>
#include <cstring>

namespace tembra_sweep {

std::vector<std::string> split(const std::string& text, const char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return parts;
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

std::string shellQuote(const std::string& word) {
    bool plain = !word.empty();
    for (const char c : word) {
        if (!(std::isalnum(static_cast<unsigned char>(c)) || std::strchr("_./:=@%+,-", c) != nullptr)) plain = false;
    }
    if (plain) return word;
    std::string quoted = "'";
    for (const char c : word) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

}  // namespace tembra_sweep
