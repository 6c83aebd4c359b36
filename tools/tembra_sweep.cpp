// tembra-sweep: runs a learning program once for every combination of
// learning-parameter values and seeds, and summarises the learning curves.
//
//   tembra-sweep [--base FILE] --set KEY=V1,V2,... [--set ...] [--seeds LIST]
//                --out DIR [how to run] -- PROGRAM ARGS...
//   tembra-sweep --summarize DIR [--last K|P%] [--column NAME] [--csv NAME]
//
// The plan (sweep/SweepPlan.h) says which runs there are and how they are
// run; the runner (sweep/SweepRunner.h) writes them and hands them to GNU
// parallel or Slurm; the summary (sweep/SweepSummary.h) reads what they
// wrote.

#include <exception>
#include <iostream>

#include "sweep/SweepCommandLine.h"
#include "sweep/SweepError.h"
#include "sweep/SweepRunner.h"
#include "sweep/SweepSummary.h"

using namespace tembra_sweep;

namespace {

int run(const int argc, const char* const* argv) {
    const CommandLine line = parseCommandLine(argc, argv);
    if (line.help) {
        printUsage(std::cout);
        return 0;
    }
    if (line.summarizing) return summarize(line.summary, std::cout, std::cerr);
    return runSweep(line.sweep);
}

}  // namespace

// A one-line reason, then the end: status 2 for a usage error, 1 for a
// failure.
int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const SweepError& error) {
        std::cerr << PROGRAM << ": " << error.what();
        if (error.status() == SweepError::USAGE) std::cerr << " (see " << PROGRAM << " --help)";
        std::cerr << std::endl;
        return error.status();
    } catch (const std::exception& error) {
        std::cerr << PROGRAM << ": " << error.what() << std::endl;
        return 1;
    }
}
