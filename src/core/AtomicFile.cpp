#include "core/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <ctime>
#include <vector>

namespace tembra_io {

namespace {

// As many links as the kernel follows before it gives up with ELOOP.
constexpr int MAX_LINKS = 40;
// Tries at a temporary name before giving up: each is new unless another
// process picked the same six characters a moment ago.
constexpr int NAME_TRIES = 100;
constexpr std::size_t SUFFIX_LENGTH = 6;

// The directory part of path with its final "/", or "" for a bare name.
std::string directoryPart(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string namePart(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows a symbolic link at path to the file it names, link by link as
// open() does (a relative link is read from the link's directory); path
// stays as it is when it is no link. False (errno ELOOP or the readlink
// error) when the links cannot be followed.
bool followLinks(std::string& path) {
    std::vector<char> link(PATH_MAX);
    for (int hops = 0; hops < MAX_LINKS; ++hops) {
        struct stat info;
        if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return true;
        const ssize_t length = readlink(path.c_str(), link.data(), link.size());
        if (length < 0) return false;
        if (static_cast<std::size_t>(length) >= link.size()) {
            errno = ENAMETOOLONG;
            return false;
        }
        const std::string named(link.data(), static_cast<std::size_t>(length));
        path = !named.empty() && named[0] == '/' ? named : directoryPart(path) + named;
    }
    errno = ELOOP;
    return false;
}

// Six letters and digits that differ from call to call and from process to
// process. The library's random source (rand()) is left alone: learning
// runs with a given seed must not depend on how often they saved.
std::string randomSuffix() {
    static std::atomic<unsigned> calls{0};
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::uint64_t x = (static_cast<std::uint64_t>(getpid()) << 32) ^ static_cast<std::uint64_t>(now.tv_nsec) ^
                      (static_cast<std::uint64_t>(now.tv_sec) << 30) ^
                      (static_cast<std::uint64_t>(calls.fetch_add(1)) * 0x9E3779B97F4A7C15ULL);
    // splitmix64's finaliser spreads every input bit over the output.
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ULL;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBULL;
    x ^= x >> 31;
    static const char DIGITS[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string suffix(SUFFIX_LENGTH, ' ');
    for (char& c : suffix) {
        c = DIGITS[x % 62];
        x /= 62;
    }
    return suffix;
}

// fsync, where the file system can sync at all (some answer EINVAL).
bool synced(const int descriptor) { return fsync(descriptor) == 0 || errno == EINVAL; }

// Syncs the directory, so that a rename in it survives a power cut. A
// directory that cannot be opened for that (no read permission) is left
// to the file system's own schedule.
bool syncDirectory(const std::string& directory) {
    const int descriptor = open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) return true;
    const bool ok = synced(descriptor);
    const int error = errno;
    close(descriptor);
    errno = error;
    return ok;
}

// Removes path, keeping errno for the report of what failed before.
void removeKeepingErrno(const std::string& path) {
    const int error = errno;
    unlink(path.c_str());
    errno = error;
}

}  // namespace

AtomicFile::AtomicFile(const std::string& target) : target_(target) {
    if (!followLinks(target_)) return;
    std::string name = namePart(target_);
    struct stat info;
    if (name.empty() || (stat(target_.c_str(), &info) == 0 && !S_ISREG(info.st_mode))) {
        // A device or a pipe is written in place; a directory fails here
        // with the error a plain fopen gives.
        file_ = std::fopen(target_.c_str(), "w");
        return;
    }
    // The temporary name must fit where the target's did.
    if (name.size() > NAME_MAX - SUFFIX_LENGTH - 2) name.resize(NAME_MAX - SUFFIX_LENGTH - 2);
    for (int attempt = 0; attempt < NAME_TRIES; ++attempt) {
        const std::string temporary = directoryPart(target_) + "." + name + "." + randomSuffix();
        // 0666 as fopen asks: the umask and a default ACL apply as to any new file.
        const int descriptor = open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor < 0) {
            if (errno == EEXIST) continue;
            return;
        }
        file_ = fdopen(descriptor, "w+");
        if (file_ == nullptr) {
            const int error = errno;
            close(descriptor);
            removeKeepingErrno(temporary);
            errno = error;
            return;
        }
        temporary_ = temporary;
        return;
    }
}

AtomicFile::~AtomicFile() { discard(); }

bool AtomicFile::commit() {
    if (file_ == nullptr) {
        errno = EBADF;
        return false;
    }
    FILE* const file = file_;
    file_ = nullptr;
    if (temporary_.empty()) return std::fclose(file) == 0;
    // A write the stream buffered fails at the flush, one the kernel
    // buffered at the sync.
    if (std::fflush(file) != 0 || !synced(fileno(file))) {
        file_ = file;
        discard();
        return false;
    }
    const bool closed = std::fclose(file) == 0;
    if (!closed || std::rename(temporary_.c_str(), target_.c_str()) != 0) {
        removeKeepingErrno(temporary_);
        temporary_.clear();
        return false;
    }
    temporary_.clear();
    return syncDirectory(directoryPart(target_));
}

void AtomicFile::discard() {
    const int error = errno;
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    if (!temporary_.empty()) unlink(temporary_.c_str());
    temporary_.clear();
    errno = error;
}

}  // namespace tembra_io
