#ifndef TEMBRA_TOOLS_SWEEP_SWEEPSUMMARY_H
#define TEMBRA_TOOLS_SWEEP_SWEEPSUMMARY_H

// The summary of a sweep: every run's learning curves (*.csv: a header,
// then one row per episode), grouped by combination and file name; per
// group the mean over the runs of each run's mean of one column over its
// last episodes, with its standard error, printed as a table and written
// to DIR/summary.csv; and per group the mean curve over the runs, episode
// by episode, in DIR/summary/<combination>/<file>.

#include <climits>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace tembra_sweep {

struct SummaryOptions {
    std::string dir;
    long long last = 0;       // episodes, when not a percentage
    double lastPercent = 10;  // of each run's episodes
    std::string column = "return";
    std::string csv;  // only this file name; empty: every CSV of a run
};

struct Curve {
    std::vector<std::string> header;
    std::vector<std::vector<double>> rows;
};

// A learning curve as the examples write it. A last line without its end
// of line is a run still writing (or killed while writing): it is left out
// with a warning. False, with the reason, for a file that is not a curve.
bool readCurve(const std::string& path, Curve& curve, std::string& problem, std::ostream& warnings);

// The runs of a sweep as DIR/runs.tsv lists them.
struct RunList {
    std::vector<std::string> combinations;  // in the order of the sweep
    std::map<std::string, int> runsPerCombination;
    std::vector<std::pair<std::string, std::string>> runs;  // combination, directory
};
RunList readRunList(const std::string& dir);

struct Group {
    std::string combination;
    std::string directory;  // of the combination, relative
    std::string file;
    int expected = 0;
    std::vector<double> values;  // per run: mean of the column over its last episodes
    std::vector<Curve> curves;
    long long minEpisodes = LLONG_MAX;
    long long maxEpisodes = 0;
    long long minLast = LLONG_MAX;
    long long maxLast = 0;
};

// Each run's curves, grouped by combination and file name, combinations
// in the order of the sweep and files by name within each. Curves that
// cannot be used are left out with a warning.
std::vector<Group> collectGroups(const SummaryOptions& options, const RunList& runs, std::ostream& warnings);

// How many of a run's episodes its value is taken over: --last, or the
// percentage rounded up; at least one, at most all.
long long lastEpisodes(long long episodes, const SummaryOptions& options);

struct MeanAndError {
    double mean;      // NaN for no values
    double stderror;  // standard error of the mean; NaN for fewer than two values
};
MeanAndError meanAndStandardError(const std::vector<double>& values);

// The whole summary: reads the runs, writes DIR/summary.csv and the mean
// curves, prints the table to out. Returns the exit status.
int summarize(const SummaryOptions& options, std::ostream& out, std::ostream& warnings);

}  // namespace tembra_sweep

#endif
