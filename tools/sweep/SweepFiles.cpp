#include "sweep/SweepFiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "ToolSupport.h"
#include "core/AtomicFile.h"
#include "sweep/SweepError.h"

using tembra_tools::printable;

namespace tembra_sweep {

namespace {

std::string currentDirectory() {
    std::vector<char> buffer(4096);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE || buffer.size() > (1u << 20)) failure(std::string("getcwd: ") + std::strerror(errno));
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

}  // namespace

bool isDirectory(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool isFile(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

void makeDirectories(const std::string& path) {
    std::string partial;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t slash = path.find('/', start);
        if (slash == std::string::npos) slash = path.size();
        partial = path.substr(0, slash);
        if (!partial.empty() && !isDirectory(partial) && mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) {
            failure("cannot make directory " + printable(partial) + ": " + std::strerror(errno));
        }
        start = slash + 1;
    }
    if (!isDirectory(path)) failure(printable(path) + " is not a directory");
}

std::string absolutePath(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    return currentDirectory() + "/" + path;
}

std::string canonicalPath(const std::string& path) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) failure("cannot resolve " + printable(path) + ": " + std::strerror(errno));
    const std::string result = resolved;
    std::free(resolved);
    return result;
}

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeWholeFile(const std::string& path, const std::string& text) {
    // As the library writes its files: a later run or a resumed sweep must
    // not take a cut-off file for a whole one, so the file that was there
    // is replaced only by a complete one.
    tembra_io::AtomicFile out(path);
    if (!out.isOpen() || std::fwrite(text.data(), 1, text.size(), out.get()) != text.size() || !out.commit())
        failure("cannot write " + printable(path) + ": " + std::strerror(errno));
}

bool executableInPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (isFile(candidate) && access(candidate.c_str(), X_OK) == 0) return true;
    }
    return false;
}

}  // namespace tembra_sweep
