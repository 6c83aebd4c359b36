#ifndef TEMBRA_TOOLS_SWEEP_SWEEPRUNNER_H
#define TEMBRA_TOOLS_SWEEP_SWEEPRUNNER_H

// The running of a sweep: checks its options, writes its directory (the
// runs' directories, base.conf, each run's run.conf, the job and run
// lists), then hands the jobs to GNU parallel, replacing this process, or
// writes the Slurm array script (or, for a dry run, stops there).

#include "sweep/SweepPlan.h"

namespace tembra_sweep {

// Returns the exit status when it does not hand over to GNU parallel;
// throws SweepError for a usage error or a failure.
int runSweep(const SweepOptions& options);

// The base configuration every run starts from: the library's defaults,
// or the file, which must pass the configuration check (its findings are
// printed to stderr, and it is refused as a usage error).
ConfigCodec::Values readBase(const std::string& path);

}  // namespace tembra_sweep

#endif
