#ifndef TEMBRA_TOOLS_SWEEP_SWEEPFILES_H
#define TEMBRA_TOOLS_SWEEP_SWEEPFILES_H

// The files and paths of a sweep. What cannot be done is a failure
// (SweepError), named with the path.

#include <string>

namespace tembra_sweep {

bool isDirectory(const std::string& path);
bool isFile(const std::string& path);
// mkdir -p
void makeDirectories(const std::string& path);
std::string absolutePath(const std::string& path);
// The canonical absolute form of an existing path, so that "runs",
// "./runs/" and a symbolic link to it make the same job list.
std::string canonicalPath(const std::string& path);
// The file's bytes; empty when it cannot be read.
std::string readWholeFile(const std::string& path);
// Replaces the file at path with text, all at once (core/AtomicFile.h).
void writeWholeFile(const std::string& path, const std::string& text);
// Whether PATH holds an executable of that name.
bool executableInPath(const std::string& name);

}  // namespace tembra_sweep

#endif
