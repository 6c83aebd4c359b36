#ifndef TEMBRA_TOOLS_SWEEP_SWEEPPLAN_H
#define TEMBRA_TOOLS_SWEEP_SWEEPPLAN_H

// The plan of a sweep: the swept values (--set) and seeds (--seeds), the
// runs they make, and the texts that describe the runs: the job list
// (DIR/jobs.txt, one shell command per line, line i is run i), which GNU
// parallel runs directly and the Slurm array script reads by task id, so
// that both run exactly the same jobs, and the run list (DIR/runs.tsv) the
// summary reads. Every run gets a directory of its own,
// DIR/<combination>/seed-<n>/, with its configuration file run.conf.

#include <string>
#include <vector>

#include "learners/ConfigCodec.h"

namespace tembra_sweep {

extern const char* const PROGRAM;
// The files of a sweep's directory.
extern const char* const JOBS_FILE;
extern const char* const RUNS_FILE;
extern const char* const BASE_FILE;
extern const char* const RUN_CONF;
extern const char* const RUN_OUTPUT;
extern const char* const SLURM_SCRIPT;
extern const char* const JOBLOG_FILE;
extern const char* const SUMMARY_FILE;
extern const char* const SUMMARY_DIR;
// More runs than this is a typing error, not a sweep.
extern const long long MAX_RUNS;

// The values of one swept key.
struct Parameter {
    const ConfigCodec::Key* key;
    std::vector<std::string> values;  // canonical (see canonicalValue)
};

struct Run {
    std::string combination;  // "ALPHA=0.1 LAMBDA=0.9" ("base" without swept values)
    std::string directory;    // relative to the sweep's directory
    unsigned long seed;
    std::vector<std::string> values;  // one per parameter
};

struct SweepOptions {
    std::string base;
    std::vector<Parameter> parameters;
    std::string seeds = "1";
    std::string out;
    std::string jobs;
    std::string joblog;
    bool resume = false;
    bool resumeFailed = false;
    std::vector<std::string> sshlogins;
    bool slurm = false;
    std::string time;
    std::string partition;
    std::string signalTime = "120";
    std::vector<std::string> sbatchOptions;
    bool dryRun = false;
    std::vector<std::string> command;
};

// The text a swept value is known by: a number as the configuration file
// will hold it, a word as it is. Refuses (a usage error) what the file
// cannot express.
std::string canonicalValue(const ConfigCodec::Key& key, const std::string& text);
// --set KEY=V1,V2,...; two values the file would hold alike are refused.
Parameter parseSet(const std::string& text);
// --seeds "1-10", "1,4,7", "1-3,10": in the order given, each seed once.
std::vector<unsigned long> parseSeeds(const std::string& text);

// Every combination of the values with every seed: the last --set varies
// fastest, the seed fastest of all.
std::vector<Run> makeRuns(const std::vector<Parameter>& parameters, const std::vector<unsigned long>& seeds);

// One line of the job list, for a run in runDirectory (absolute).
std::string jobLine(const std::vector<std::string>& command, const std::string& runDirectory, const Run& run);
// The job list of runs below the sweep directory out (absolute).
std::string jobList(const std::vector<std::string>& command, const std::string& out, const std::vector<Run>& runs);
// DIR/runs.tsv: run, combination, seed and directory of every run.
std::string runList(const std::vector<Run>& runs);
// DIR/sweep.sbatch: an array job with one task per line of the job list.
std::string slurmScript(const SweepOptions& options, const std::string& out, std::size_t jobCount);

}  // namespace tembra_sweep

#endif
