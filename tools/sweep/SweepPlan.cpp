#include "sweep/SweepPlan.h"

#include <cmath>
#include <cstdlib>
#include <locale>
#include <map>
#include <set>
#include <sstream>

#include "ToolSupport.h"
#include "sweep/SweepError.h"
#include "sweep/SweepText.h"

using tembra_tools::printable;

namespace tembra_sweep {

const char* const PROGRAM = "tembra-sweep";
const char* const JOBS_FILE = "jobs.txt";
const char* const RUNS_FILE = "runs.tsv";
const char* const BASE_FILE = "base.conf";
const char* const RUN_CONF = "run.conf";
const char* const RUN_OUTPUT = "output.txt";
const char* const SLURM_SCRIPT = "sweep.sbatch";
const char* const JOBLOG_FILE = "parallel.joblog";
const char* const SUMMARY_FILE = "summary.csv";
const char* const SUMMARY_DIR = "summary";
const long long MAX_RUNS = 1000000;

namespace {

using Kind = ConfigCodec::Kind;

unsigned long parseSeed(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 10) {
        usageError("a seed is a number from 0 to 4294967295, not '" + printable(text) + "'");
    }
    const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
    if (value > 4294967295ull) usageError("a seed is a number from 0 to 4294967295, not '" + printable(text) + "'");
    return static_cast<unsigned long>(value);
}

std::string keyNames() {
    std::string names;
    for (const ConfigCodec::Key& key : ConfigCodec::keys())
        names += (names.empty() ? "" : ", ") + std::string(key.name);
    return names;
}

// The swept values of combination c, one per parameter.
std::vector<std::string> combinationValues(const std::vector<Parameter>& parameters, long long c) {
    std::vector<std::string> values(parameters.size());
    for (std::size_t p = parameters.size(); p-- > 0;) {
        const long long n = static_cast<long long>(parameters[p].values.size());
        values[p] = parameters[p].values[static_cast<std::size_t>(c % n)];
        c /= n;
    }
    return values;
}

}  // namespace

std::string canonicalValue(const ConfigCodec::Key& key, const std::string& text) {
    if (key.kind != Kind::NUMBER) {
        if (ConfigCodec::wordValue(key.kind, text) >= 0) return text;
        usageError(std::string(key.name) + " takes " + tembra_tools::alternatives(ConfigCodec::words(key.kind)) +
                   ", not '" + printable(text) + "'");
    }
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    double value = 0.0;
    in >> value;
    if (text.empty() || in.fail() || !in.eof() || !std::isfinite(value)) {
        usageError(std::string(key.name) + " takes numbers, not '" + printable(text) + "'");
    }
    return ConfigCodec::numberText(value);
}

Parameter parseSet(const std::string& text) {
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos) usageError("--set takes KEY=VALUE,VALUE,..., not '" + printable(text) + "'");
    const std::string name = text.substr(0, equals);
    const ConfigCodec::Key* key = ConfigCodec::findKey(name);
    if (key == nullptr) usageError("unknown key '" + printable(name) + "' (" + keyNames() + ")");
    Parameter parameter{key, {}};
    std::map<std::string, std::string> given;  // canonical -> as typed
    for (const std::string& value : split(text.substr(equals + 1), ',')) {
        const std::string canonical = canonicalValue(*key, value);
        if (given.count(canonical) != 0) {
            usageError(name + " values '" + printable(given[canonical]) + "' and '" + printable(value) +
                       "' are the same in a configuration file (" + canonical + ")");
        }
        given[canonical] = value;
        parameter.values.push_back(canonical);
    }
    return parameter;
}

std::vector<unsigned long> parseSeeds(const std::string& text) {
    std::vector<unsigned long> seeds;
    std::set<unsigned long> seen;
    for (const std::string& part : split(text, ',')) {
        const std::size_t dash = part.find('-');
        unsigned long first = 0;
        unsigned long last = 0;
        if (dash == std::string::npos) {
            first = last = parseSeed(part);
        } else {
            first = parseSeed(part.substr(0, dash));
            last = parseSeed(part.substr(dash + 1));
            if (first > last) usageError("seed range " + printable(part) + " runs backwards");
        }
        if (last - first >= static_cast<unsigned long>(MAX_RUNS))
            usageError("seed range " + printable(part) + " is too long");
        for (unsigned long seed = first;; ++seed) {
            if (!seen.insert(seed).second) usageError("seed " + std::to_string(seed) + " is given twice");
            seeds.push_back(seed);
            if (seed == last) break;
        }
    }
    return seeds;
}

std::vector<Run> makeRuns(const std::vector<Parameter>& parameters, const std::vector<unsigned long>& seeds) {
    long long combinations = 1;
    for (const Parameter& p : parameters) combinations *= static_cast<long long>(p.values.size());
    if (combinations * static_cast<long long>(seeds.size()) > MAX_RUNS) {
        usageError("more than " + std::to_string(MAX_RUNS) + " runs");
    }
    std::vector<Run> runs;
    for (long long c = 0; c < combinations; ++c) {
        const std::vector<std::string> values = combinationValues(parameters, c);
        std::string label;
        std::string directory;
        for (std::size_t p = 0; p < parameters.size(); ++p) {
            const std::string item = std::string(parameters[p].key->name) + "=" + values[p];
            label += (p == 0 ? "" : " ") + item;
            directory += (p == 0 ? "" : ",") + item;
        }
        if (parameters.empty()) label = directory = "base";
        for (const unsigned long seed : seeds) {
            runs.push_back(Run{label, directory + "/seed-" + std::to_string(seed), seed, values});
        }
    }
    return runs;
}

// Into the run's directory, then the program in place of the shell (exec),
// so that a signal meant for the job (parallel passing on a Ctrl-C, Slurm's
// warning before the time limit) reaches the learner itself, with its
// output kept in the run's directory.
std::string jobLine(const std::vector<std::string>& command, const std::string& runDirectory, const Run& run) {
    std::string line = "cd " + shellQuote(runDirectory) + " && exec";
    for (std::size_t i = 0; i < command.size(); ++i) {
        std::string word = command[i];
        word = replaceAll(word, "{conf}", runDirectory + "/" + RUN_CONF);
        word = replaceAll(word, "{dir}", runDirectory);
        word = replaceAll(word, "{seed}", std::to_string(run.seed));
        line += " " + shellQuote(word);
    }
    return line + " > " + RUN_OUTPUT + " 2>&1";
}

std::string jobList(const std::vector<std::string>& command, const std::string& out, const std::vector<Run>& runs) {
    std::string jobs;
    for (const Run& run : runs) jobs += jobLine(command, out + "/" + run.directory, run) + "\n";
    return jobs;
}

std::string runList(const std::vector<Run>& runs) {
    std::ostringstream index;
    index << "run\tcombination\tseed\tdirectory\n";
    for (std::size_t i = 0; i < runs.size(); ++i) {
        index << i + 1 << '\t' << runs[i].combination << '\t' << runs[i].seed << '\t' << runs[i].directory << "\n";
    }
    return index.str();
}

// Where each task's own output goes, for an #SBATCH line: in double quotes,
// which sbatch takes off (a space would end the directive), and with a
// literal % of the directory as %% (Slurm's file names are patterns).
static std::string slurmOutputFile(const std::string& out) {
    std::string quoted = "\"";
    for (const char c : out)
        quoted += c == '"' ? std::string("\\\"") : c == '%' ? std::string("%%") : std::string(1, c);
    return quoted + "/slurm-%A_%a.out\"";
}

std::string slurmScript(const SweepOptions& options, const std::string& out, const std::size_t jobCount) {
    std::ostringstream s;
    s << "#!/bin/bash\n"
      << "# Written by " << PROGRAM << ": one array task per line of " << JOBS_FILE << ".\n"
      << "#   sbatch " << shellQuote(out + "/" + SLURM_SCRIPT) << "\n"
      << "# Slurm sends SIGTERM " << options.signalTime << " s before the time limit. The job line replaces\n"
      << "# this shell by the learning program (exec), and B: sends the signal to\n"
      << "# this very process, so the learner finishes its episode, saves and ends.\n"
      << "#SBATCH --job-name=tembra-sweep\n"
      << "#SBATCH --array=1-" << jobCount << (options.jobs.empty() ? "" : "%" + options.jobs) << "\n"
      << "#SBATCH --output=" << slurmOutputFile(out) << "\n"
      << "#SBATCH --signal=B:TERM@" << options.signalTime << "\n";
    if (!options.time.empty()) s << "#SBATCH --time=" << options.time << "\n";
    if (!options.partition.empty()) s << "#SBATCH --partition=" << options.partition << "\n";
    for (const std::string& option : options.sbatchOptions) s << "#SBATCH " << option << "\n";
    s << "set -u\n"
      << "jobs=" << shellQuote(out + "/" + JOBS_FILE) << "\n"
      << "task=${SLURM_ARRAY_TASK_ID:-}\n"
      << "case $task in\n"
      << "    '' | *[!0-9]*)\n"
      << "        echo \"" << SLURM_SCRIPT << ": SLURM_ARRAY_TASK_ID is '$task'; submit with sbatch\" >&2\n"
      << "        exit 2 ;;\n"
      << "esac\n"
      << "line=$(sed -n \"${task}{p;q}\" \"$jobs\")\n"
      << "if [ \"$task\" -lt 1 ] || [ -z \"$line\" ]; then\n"
      << "    echo \"" << SLURM_SCRIPT << ": no job $task in $jobs\" >&2\n"
      << "    exit 2\n"
      << "fi\n"
      << "exec bash -c \"$line\"\n";
    return s.str();
}

}  // namespace tembra_sweep
