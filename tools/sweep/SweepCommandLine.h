#ifndef TEMBRA_TOOLS_SWEEP_SWEEPCOMMANDLINE_H
#define TEMBRA_TOOLS_SWEEP_SWEEPCOMMANDLINE_H

// tembra-sweep's command line: a sweep, or the summary of one.

#include <ostream>

#include "sweep/SweepPlan.h"
#include "sweep/SweepSummary.h"

namespace tembra_sweep {

struct CommandLine {
    bool help = false;
    bool summarizing = false;
    SweepOptions sweep;
    SummaryOptions summary;
};

// Throws SweepError for a usage error.
CommandLine parseCommandLine(int argc, const char* const* argv);
void printUsage(std::ostream& out);

}  // namespace tembra_sweep

#endif
