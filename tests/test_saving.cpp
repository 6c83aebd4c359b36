// A save replaces the file it names only with a complete new one: a save
// that fails half-way (a full disk, a read-only file system, a file-size
// limit) or a process killed during one leaves the file that was there as
// it was. Every value-function file goes through the same envelope, and
// the configuration file through the same atomic file, whose failure
// reports are shown with the configuration (test_config).

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <set>
#include <string>

#include "LookupTableAccess.h"
#include "TestSupport.h"

using test_support::Bytes;
using test_support::readFile;
using test_support::TempDir;

namespace {

// What an action wrote to the standard output and error, through a pipe:
// gtest's capture goes to a file, which a file-size limit would cut.
template <class Action>
std::string outputOf(Action action) {
    int ends[2];
    if (pipe(ends) != 0) return "pipe failed";
    std::cout.flush();
    std::cerr.flush();
    const int saved[2] = {dup(STDOUT_FILENO), dup(STDERR_FILENO)};
    dup2(ends[1], STDOUT_FILENO);
    dup2(ends[1], STDERR_FILENO);
    close(ends[1]);
    action();
    std::cout.flush();
    std::cerr.flush();
    for (int fd : {STDOUT_FILENO, STDERR_FILENO}) {
        dup2(saved[fd - STDOUT_FILENO], fd);
        close(saved[fd - STDOUT_FILENO]);
    }
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(ends[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
    close(ends[0]);
    return text;
}

// A lookup-table Q file (the larger the scale, the larger the file): its
// save's result, and whether the file reads back without a report.
int saveTable(const std::string& path, int scale) {
    std::unique_ptr<lookup_test::QTable> q(lookup_test::makeQ({{"x", 0, 100 * scale}}, 2));
    q->setWeights(std::vector<double>(static_cast<std::size_t>(q->ARRAY_SIZE), 0.25 * scale));
    return q->save(path);
}
bool tableLoads(const std::string& path) {
    bool loaded = false;
    const std::string output = outputOf([&] { loaded = ActionLookupTable(path).getStatePtr() != nullptr; });
    return loaded && output.empty();
}

std::set<std::string> entries(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) names.insert(entry.path().filename());
    return names;
}

}  // namespace

// A file system that fills up (a small tmpfs, mounted as root: CI runs so)
// and a file-size limit of nothing (SIGXFSZ ignored: writes fail with
// EFBIG). A directory that refuses the file at all is shown with the files
// (test_files).
TEST(Saving, AFailedSaveLeavesTheOldFileAsItWas) {
    for (const bool full : {true, false}) {
        SCOPED_TRACE(full ? "full tmpfs" : "file-size limit");
        TempDir dir;
        const std::string fs = dir.file("fs"), path = fs + "/old";
        ASSERT_EQ(mkdir(fs.c_str(), 0755), 0);
        if (full && mount("tembra-test", fs.c_str(), "tmpfs", 0, "size=64k") != 0) {
            std::cout << "no tmpfs here (not root?): the full file system is left out" << std::endl;
            continue;
        }
        ASSERT_EQ(saveTable(path, 1), 0);
        const Bytes old = readFile(path);
        const std::set<std::string> before = entries(fs);
        rlimit limit;
        getrlimit(RLIMIT_FSIZE, &limit);
        if (full) {
            const int fd = open((fs + "/filler").c_str(), O_WRONLY | O_CREAT, 0644);
            const std::string block(4096, 'f');
            while (write(fd, block.data(), block.size()) > 0) {
            }
            close(fd);
        } else {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit none = {0, limit.rlim_max};
            setrlimit(RLIMIT_FSIZE, &none);
        }
        // A large file fails while it is written, a small one only when the
        // stream's buffer is flushed at the end.
        int results[2] = {0, 0};
        const std::string output = outputOf([&] { results[0] = saveTable(path, 3), results[1] = saveTable(path, 0); });
        setrlimit(RLIMIT_FSIZE, &limit);  // the test's own output is written again
        signal(SIGXFSZ, SIG_DFL);
        EXPECT_EQ(results[0], -1);
        EXPECT_EQ(results[1], -1);
        EXPECT_NE(output.find(std::strerror(full ? ENOSPC : EFBIG)), std::string::npos) << output;
        EXPECT_EQ(readFile(path), old);
        EXPECT_TRUE(tableLoads(path));
        std::set<std::string> after = entries(fs);
        after.erase("filler");
        EXPECT_EQ(after, before) << "a temporary file is left";
        if (full) umount2(fs.c_str(), MNT_DETACH);
    }
}

TEST(Saving, AProcessKilledDuringASaveLeavesTheOldFile) {
    // The child's file-size limit kills it (SIGXFSZ) half-way through a
    // 160 KB table.
    TempDir dir;
    const std::string path = dir.file("q.bin");
    ASSERT_EQ(saveTable(path, 1), 0);
    const Bytes old = readFile(path);
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        signal(SIGXFSZ, SIG_DFL);
        const rlimit noCore = {0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        rlimit limit;
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 64 * 1024;
        setrlimit(RLIMIT_FSIZE, &limit);
        saveTable(path, 100);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child finished its save";
    EXPECT_EQ(WTERMSIG(status), SIGXFSZ);
    EXPECT_EQ(readFile(path), old);
    EXPECT_TRUE(tableLoads(path));
    // What the killed process could not remove: ".<name>.XXXXXX" beside it.
    std::set<std::string> left = entries(dir.path());
    EXPECT_EQ(left.erase("q.bin"), 1u);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left.begin()->rfind(".q.bin.", 0), 0u);
    EXPECT_EQ(left.begin()->size(), std::string(".q.bin.XXXXXX").size());
}

TEST(Saving, LinksAreFollowedAndNewFilesGetTheUmasksPermissions) {
    TempDir dir;
    ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0755), 0);
    ASSERT_EQ(symlink("../real2", dir.file("sub/hop").c_str()), 0);
    // A device of the test's own (as root: CI runs so), never the system's:
    // a save that replaced it would break the machine.
    const bool device = mknod(dir.file("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    const struct {
        const char* link;    // made at "link" first, when not null
        const char* target;  // the file the save must write
        mode_t umask;
    } cases[] = {
        {nullptr, "plain", 022},
        {nullptr, "private", 077},
        {"real", "real", 022},             // an existing file behind a link
        {"sub/new", "sub/new", 027},       // a dangling link: its file is made
        {"sub/hop", "sub/../real2", 022},  // a relative link is read from the link's directory
        {"null", "null", 022},             // a device is written in place, not replaced
    };
    const std::size_t descriptors = entries("/proc/self/fd").size();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        const bool isDevice = std::string(c.target) == "null";
        if (isDevice && !device) continue;
        const std::string saved = c.link != nullptr ? dir.file("link") : dir.file(c.target);
        const std::string target = dir.file(c.target);
        unlink(dir.file("link").c_str());
        // The file replaced keeps neither its contents nor its mode.
        if (std::string(c.target) == "real") {
            test_support::writeText(target, "old");
            chmod(target.c_str(), 0600);
        }
        ASSERT_TRUE(c.link == nullptr || symlink(c.link, saved.c_str()) == 0);
        const mode_t previous = umask(c.umask);
        EXPECT_EQ(saveTable(saved, 1), 0);
        umask(previous);
        struct stat info;
        ASSERT_EQ(lstat(saved.c_str(), &info), 0);
        EXPECT_EQ(S_ISLNK(info.st_mode), c.link != nullptr) << "the link is gone";
        ASSERT_EQ(stat(target.c_str(), &info), 0);
        if (isDevice) {
            EXPECT_TRUE(S_ISCHR(info.st_mode));
            continue;
        }
        EXPECT_EQ(info.st_mode & 0777, 0666 & ~c.umask);
        EXPECT_TRUE(tableLoads(target));
    }
    EXPECT_EQ(entries("/proc/self/fd").size(), descriptors) << "a save leaks a descriptor";
    // A link that names itself fails as fopen would.
    ASSERT_EQ(symlink("loop", dir.file("loop").c_str()), 0);
    int result = 0;
    const std::string output = outputOf([&] { result = saveTable(dir.file("loop"), 1); });
    EXPECT_EQ(result, -1);
    EXPECT_NE(output.find(std::strerror(ELOOP)), std::string::npos) << output;
}
