#ifndef TEMBRA_REPORT_H
#define TEMBRA_REPORT_H

#include <cerrno>
#include <cstring>
#include <iostream>
#include <sstream>

// The one way this library reports. An error goes to stderr as
//   ERROR: File: <file>   Function: <function>   Line: <line>    --> <message>
// and a notice goes to stdout in the same layout without "ERROR: ".
// Every line ends with std::endl, so it is flushed at once; a report
// never stops the program. The message is a stream expression:
//   TEMBRA_ERROR("index (" << index << ") out ouf bounds");

namespace tembra_detail {

// Base name of a path given by __FILE__, so that reports do not depend on
// where the library was built.
constexpr const char* baseName(const char* path) {
    const char* base = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '/' || *p == '\\') base = p + 1;
    }
    return base;
}

// errno as the file readers and writers report it: "errno = " errno,
// the arrow, the system's text. The library's file helpers leave errno 0
// only when a read found the end of the file, where the system's text
// ("Success") would say nothing; that is said instead.
struct ErrnoText {
    int error;
    const char* arrow;
};

inline std::ostream& operator<<(std::ostream& out, const ErrnoText& e) {
    if (e.error == 0) return out << "the file ends early";
    return out << "errno = " << e.error << e.arrow << std::strerror(e.error);
}

}  // namespace tembra_detail

// The message is formatted before anything is written, so that an errno it
// quotes is the one the failing call left, not one the output may set.
#define TEMBRA_REPORT_TO(stream, prefix, message)                                                         \
    do {                                                                                                  \
        std::ostringstream tembraReportText_;                                                             \
        tembraReportText_ << message;                                                                     \
        (stream) << prefix "File: " << ::tembra_detail::baseName(__FILE__) << "   Function: " << __func__ \
                 << "   Line: " << __LINE__ << "    --> " << tembraReportText_.str() << std::endl;        \
    } while (0)

// The same, for a helper that reports on behalf of the operation (and
// line) that called it.
#define TEMBRA_REPORT_AT(stream, prefix, function, line, message)                                           \
    do {                                                                                                    \
        std::ostringstream tembraReportText_;                                                               \
        tembraReportText_ << message;                                                                       \
        (stream) << prefix "File: " << ::tembra_detail::baseName(__FILE__) << "   Function: " << (function) \
                 << "   Line: " << (line) << "    --> " << tembraReportText_.str() << std::endl;            \
    } while (0)

#define TEMBRA_ERROR(message) TEMBRA_REPORT_TO(std::cerr, "ERROR: ", message)
#define TEMBRA_ERROR_AT(function, line, message) TEMBRA_REPORT_AT(std::cerr, "ERROR: ", function, line, message)
#define TEMBRA_NOTICE(message) TEMBRA_REPORT_TO(std::cout, "", message)

// errno in the form the file readers and writers report it:
// "errno = " errno "  -->  " text (two blanks each side) ...
#define TEMBRA_ERRNO_WIDE (::tembra_detail::ErrnoText{errno, "  -->  "})
// ... and the form of the file envelopes: "errno = " errno " --> " text.
// Either says "the file ends early" for errno 0.
#define TEMBRA_ERRNO_NARROW (::tembra_detail::ErrnoText{errno, " --> "})

#endif
