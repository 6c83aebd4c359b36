#ifndef TEMBRA_TOOLS_INSPECT_FILEPROBE_H
#define TEMBRA_TOOLS_INSPECT_FILEPROBE_H

// Which reader reads a value-function file. A file names neither itself nor
// its representation: after the State block comes a body that only the
// class that wrote it can read. So every reader of the library tries the
// file, and the one that reads it exactly to its end wins. The proof of an
// exact read needs no knowledge of the formats: they are deterministic, so
// saving what was read gives the very same bytes again, and anything else
// (a read that stopped early, bytes left over, a body that only looked
// plausible) does not.

#include <memory>
#include <string>
#include <vector>

#include "inspect/Inspectors.h"

namespace tembra_inspect {

// A directory of our own for the round trips and the captured reports.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    bool ok() const { return !path_.empty(); }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

enum class Match { SAME, LONGER, DIFFERENT };

// Compares the input with what the reader wrote back. LONGER: the round
// trip is a proper prefix of the input (extra holds the surplus bytes).
Match compareFiles(const std::string& input, const std::string& roundTrip, long long& extra);

struct Probe {
    const Reader* reader = nullptr;
    std::unique_ptr<Inspector> inspector;  // kept only for an exact read
    Match match = Match::DIFFERENT;
    long long extra = 0;
    long long weights = 0;  // of what was read, when it could be saved
    std::string reason;     // the library's first report, when the read failed
};

// Reads the file with one reader, its reports kept off the terminal, and
// compares what it saves again with the file. A file that the reader
// refused for the bytes after a complete body is LONGER when it reads
// exactly without them.
Probe probe(const Reader& reader, const std::string& file, const ScratchDir& scratch);

// The probes of every reader, or of the reader of one kind.
std::vector<Probe> probeAll(const std::string& file, const std::string& kind, const ScratchDir& scratch);

}  // namespace tembra_inspect

#endif
