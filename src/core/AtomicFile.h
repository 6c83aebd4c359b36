#ifndef TEMBRA_ATOMICFILE_H
#define TEMBRA_ATOMICFILE_H

#include <cstdio>
#include <string>

namespace tembra_io {

// A file written by name that replaces the file there only once it is
// complete: the bytes go to a new file beside the target
// (".<name>.XXXXXX", in the same directory, so that the rename stays on one
// file system), and commit() flushes, syncs and closes it, renames it over
// the target and syncs the directory, so that neither a failed write (a
// full disk, a quota, an I/O error) nor a process killed half-way, nor a
// power cut after commit() returned, leaves a cut-off file where a good one
// was. Whatever does not commit is discarded: the destructor closes and
// removes the temporary file and the target stays as it was.
//
// The new file gets the permissions a plain fopen would give a new file
// (0666 less the umask, and a directory's default ACL); the mode, owner and
// other hard links of the file it replaces are not carried over. A symbolic
// link at the target is followed, as fopen does: the link stays and the
// file it names is replaced (or created). A target that exists and is not a
// regular file (a device such as /dev/null, a pipe) cannot be replaced and
// is written directly, as fopen would. Internal: not installed; the tools
// compile it in with the configuration codec.
class AtomicFile {
public:
    // Opens the temporary file; get() is null when that failed (errno says
    // why: the directory is missing, read-only or not writable, ...).
    explicit AtomicFile(const std::string& target);
    ~AtomicFile();

    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    FILE* get() const { return file_; }
    bool isOpen() const { return file_ != nullptr; }

    // Puts the written file in place of the target: true on success. On
    // failure errno says why, the temporary file is gone and the target is
    // as it was (unless only the final sync of the directory failed: the
    // new file is then in place but may not survive a power cut).
    bool commit();

private:
    void discard();

    FILE* file_ = nullptr;
    std::string target_;     // the target with symbolic links followed
    std::string temporary_;  // empty when the target is written directly
};

}  // namespace tembra_io

#endif
