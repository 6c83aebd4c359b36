#ifndef TEMBRA_TOOLS_SWEEP_SWEEPERROR_H
#define TEMBRA_TOOLS_SWEEP_SWEEPERROR_H

#include <stdexcept>
#include <string>

namespace tembra_sweep {

// What ends tembra-sweep: a one-line reason, which main prints, and the
// exit status, 2 for a usage error, 1 for a failure. The modules throw it
// rather than end the process, so that they can be used (and tested) in
// process.
class SweepError : public std::runtime_error {
public:
    enum Status { FAILURE = 1, USAGE = 2 };
    SweepError(const Status status, const std::string& message) : std::runtime_error(message), status_(status) {}
    Status status() const { return status_; }

private:
    Status status_;
};

[[noreturn]] inline void usageError(const std::string& message) { throw SweepError(SweepError::USAGE, message); }
[[noreturn]] inline void failure(const std::string& message) { throw SweepError(SweepError::FAILURE, message); }

}  // namespace tembra_sweep

#endif
