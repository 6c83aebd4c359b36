#ifndef TEMBRA_FILEENVELOPE_H
#define TEMBRA_FILEENVELOPE_H

#include <cstdio>
#include <functional>
#include <string>

#include "State.h"

// The envelope of every value-function file: the State block, the fields
// a kind of file puts before the body (the Q file's ACTIONS; none in a V
// file), then the representation's body. StateValueFunction and
// ActionValueFunction save and load their files through here, and this is
// the one place where the library opens a file by name to write it.
// Internal: not installed.
namespace tembra_envelope {

// The envelope reports on behalf of the value function that called it, so
// that a report names that class's source file and the operation the user
// called: report is a function of that source file that hands its
// arguments to TEMBRA_ERROR_AT.
struct ReportTo {
    void (*report)(const char* function, int line, const std::string& text);
    const char* function;
    int line;

    void operator()(const std::string& text) const { report(function, line, text); }
};

// The fields between the State block and the body: true when they were
// transferred, otherwise false after reporting through report.
using Fields = std::function<bool(FILE* file, const ReportTo& report)>;
// The representation's body (which reports its own failures): true on success.
using Body = std::function<bool(FILE* file)>;

// Writes the file fileName: 0 on success, -1 (reported) on failure. The
// file is replaced only once the new one is complete; after a failure the
// file that was there is as it was. Without a State there is nothing to
// write and no file is opened. fields may be empty.
int save(const std::string& fileName, const State* state, const Fields& fields, const Body& body,
         const ReportTo& report);

// Reads the file fileName into state (made first when it is null, once the
// file is open) and the body: 0 on success, -1 (reported) on failure.
int load(const std::string& fileName, State*& state, const Fields& fields, const Body& body, const ReportTo& report);

// errno in the envelope's form, "errno = " errno " --> " text (or that the
// file ends early, for errno 0).
std::string errnoText();

}  // namespace tembra_envelope

#endif
