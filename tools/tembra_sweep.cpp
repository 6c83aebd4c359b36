// tembra-sweep: runs a learning program once for every combination of
// learning-parameter values and seeds, and summarises the learning curves.
//
//   tembra-sweep [--base FILE] --set KEY=V1,V2,... [--set ...] [--seeds LIST]
//                --out DIR [how to run] -- PROGRAM ARGS...
//   tembra-sweep --summarize DIR [--last K|P%] [--column NAME] [--csv NAME]
//
// Every run gets a directory of its own, DIR/<combination>/seed-<n>/, with
// its configuration file run.conf, written by the library's own saveConf
// from the base configuration with the swept values set. The commands go
// into DIR/jobs.txt, one shell command per line (line i is run i), which
// GNU parallel runs directly and a Slurm array script reads by task id, so
// that both run exactly the same jobs. DIR/runs.tsv lists the runs for the
// summary.

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <locale>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Tembra.h"
#include "ToolSupport.h"

using tembra_tools::csvField;
using tembra_tools::printable;

namespace {

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
// More runs than this is a typing error, not a sweep.
const long long MAX_RUNS = 1000000;

// A one-line reason, then the end: status 2 for a usage error, 1 for a
// failure. Nothing the tool holds needs unwinding (files are closed when
// written, the configuration learners restore the signal mask only for a
// process that goes on).
[[noreturn]] void usageError(const std::string& message) {
    std::cerr << PROGRAM << ": " << message << " (see " << PROGRAM << " --help)" << std::endl;
    std::exit(2);
}

[[noreturn]] void failure(const std::string& message) {
    std::cerr << PROGRAM << ": " << message << std::endl;
    std::exit(1);
}

// ---------------------------------------------------------------------------
// Files and paths

bool isDirectory(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool isFile(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

void makeDirectories(const std::string& path) {
    std::string partial;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t slash = path.find('/', start);
        if (slash == std::string::npos) slash = path.size();
        partial = path.substr(0, slash);
        if (!partial.empty() && !isDirectory(partial) && mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) {
            failure("cannot make directory " + printable(partial) + ": " + std::strerror(errno));
        }
        start = slash + 1;
    }
    if (!isDirectory(path)) failure(printable(path) + " is not a directory");
}

std::string currentDirectory() {
    std::vector<char> buffer(4096);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE || buffer.size() > (1u << 20)) failure(std::string("getcwd: ") + std::strerror(errno));
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

std::string absolutePath(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    return currentDirectory() + "/" + path;
}

// The canonical absolute form of an existing path, so that "runs",
// "./runs/" and a symbolic link to it make the same job list.
std::string canonicalPath(const std::string& path) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) failure("cannot resolve " + printable(path) + ": " + std::strerror(errno));
    const std::string result = resolved;
    std::free(resolved);
    return result;
}

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeWholeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) failure("cannot write " + printable(path) + ": " + std::strerror(errno));
}

// A word for the shell: as it is when it holds only harmless characters,
// in single quotes otherwise.
std::string shellQuote(const std::string& word) {
    bool plain = !word.empty();
    for (const char c : word) {
        if (!(std::isalnum(static_cast<unsigned char>(c)) || std::strchr("_./:=@%+,-", c) != nullptr)) plain = false;
    }
    if (plain) return word;
    std::string quoted = "'";
    for (const char c : word) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

bool executableInPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (isFile(candidate) && access(candidate.c_str(), X_OK) == 0) return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// Configuration files, read and written by the library itself: a learner
// that never learns reads the base file when it is constructed (loadConf),
// takes the swept values and writes each run's file with saveConf.

class ConfigWriter : public Tembra {
public:
    explicit ConfigWriter(const std::string& fileName) : Tembra(fileName) {}

    // The swept keys: the eight of the configuration file.
    enum class Kind { NUMBER, ACTION_SELECTION, TRACES };
    struct Key {
        const char* name;
        Kind kind;
        double Tembra::*number;
    };
    static const std::vector<Key>& keys() {
        static const std::vector<Key> table = {
            {"ALPHA", Kind::NUMBER, &ConfigWriter::ALPHA},
            {"LAMBDA", Kind::NUMBER, &ConfigWriter::LAMBDA},
            {"GAMMA", Kind::NUMBER, &ConfigWriter::GAMMA},
            {"ACTION_SELECTION", Kind::ACTION_SELECTION, nullptr},
            {"EPSILON", Kind::NUMBER, &ConfigWriter::EPSILON},
            {"TEMPERATURE", Kind::NUMBER, &ConfigWriter::TEMPERATURE},
            {"TRACES", Kind::TRACES, nullptr},
            {"TRACE_VALUE", Kind::NUMBER, &ConfigWriter::TRACE_VALUE},
        };
        return table;
    }
    static const Key* findKey(const std::string& name) {
        for (const Key& key : keys()) {
            if (name == key.name) return &key;
        }
        return nullptr;
    }

    // value is a canonical text (see canonicalValue).
    void set(const Key& key, const std::string& value) {
        switch (key.kind) {
            case Kind::NUMBER: this->*key.number = std::strtod(value.c_str(), nullptr); break;
            case Kind::ACTION_SELECTION:
                ACTION_SELECTION = value == "GREEDY" ? GREEDY : value == "EPSILON_GREEDY" ? EPSILON_GREEDY : SOFTMAX;
                break;
            case Kind::TRACES: TRACES = value == "NONE" ? NONE : value == "REPLACING" ? REPLACING : ACCUMULATING; break;
        }
    }

    // What the configuration holds for a key, in the canonical text.
    std::string get(const Key& key) const {
        switch (key.kind) {
            case Kind::NUMBER: return numberText(this->*key.number);
            case Kind::ACTION_SELECTION:
                return ACTION_SELECTION == GREEDY           ? "GREEDY"
                       : ACTION_SELECTION == EPSILON_GREEDY ? "EPSILON_GREEDY"
                                                            : "SOFTMAX";
            case Kind::TRACES:
                return TRACES == REPLACING ? "REPLACING" : TRACES == ACCUMULATING ? "ACCUMULATING" : "NONE";
        }
        return std::string();
    }

    void writeTo(const std::string& fileName) {
        confFileName = fileName;
        saveConf();
    }

    // A number as the configuration file holds it: the stream's default
    // format, six significant digits.
    static std::string numberText(const double value) {
        std::ostringstream text;
        text.imbue(std::locale::classic());
        text << value;
        return text.str();
    }

protected:
    // A learner that never runs.
    void initEpisode() override {}
    void step() override {}
    void setInitialState() override {}
    void takeAction() override {}
    const bool observeState() override { return false; }
    const double calculateReward() override { return 0.0; }
    const bool checkValueFunction() const override { return false; }
};

using Key = ConfigWriter::Key;
using Kind = ConfigWriter::Kind;

// The text a swept value is known by: a number as the file will hold it,
// a word as it is. Refuses what the configuration file cannot express.
std::string canonicalValue(const Key& key, const std::string& text) {
    if (key.kind == Kind::ACTION_SELECTION) {
        if (text == "GREEDY" || text == "EPSILON_GREEDY" || text == "SOFTMAX") return text;
        usageError("ACTION_SELECTION takes GREEDY, EPSILON_GREEDY or SOFTMAX, not '" + printable(text) + "'");
    }
    if (key.kind == Kind::TRACES) {
        if (text == "NONE" || text == "REPLACING" || text == "ACCUMULATING") return text;
        usageError("TRACES takes NONE, REPLACING or ACCUMULATING, not '" + printable(text) + "'");
    }
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    double value = 0.0;
    in >> value;
    if (text.empty() || in.fail() || !in.eof() || !std::isfinite(value)) {
        usageError(std::string(key.name) + " takes numbers, not '" + printable(text) + "'");
    }
    return ConfigWriter::numberText(value);
}

// ---------------------------------------------------------------------------
// The sweep

struct Parameter {
    const Key* key;
    std::vector<std::string> values;  // canonical
};

struct Run {
    std::string combination;  // "ALPHA=0.1 LAMBDA=0.9" ("base" without swept values)
    std::string directory;    // relative to the sweep's directory
    unsigned long seed;
    std::vector<std::string> values;  // one per parameter
};

std::vector<std::string> split(const std::string& text, const char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return parts;
}

unsigned long parseSeed(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 10) {
        usageError("a seed is a number from 0 to 4294967295, not '" + printable(text) + "'");
    }
    const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
    if (value > 4294967295ull) usageError("a seed is a number from 0 to 4294967295, not '" + printable(text) + "'");
    return static_cast<unsigned long>(value);
}

// "1-10", "1,4,7", "1-3,10": in the order given, each seed once.
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

Parameter parseSet(const std::string& text) {
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos) usageError("--set takes KEY=VALUE,VALUE,..., not '" + printable(text) + "'");
    const std::string name = text.substr(0, equals);
    const Key* key = ConfigWriter::findKey(name);
    if (key == nullptr) {
        usageError("unknown key '" + printable(name) +
                   "' (ALPHA, LAMBDA, GAMMA, ACTION_SELECTION, EPSILON, TEMPERATURE, TRACES, TRACE_VALUE)");
    }
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

std::vector<Run> makeRuns(const std::vector<Parameter>& parameters, const std::vector<unsigned long>& seeds) {
    long long combinations = 1;
    for (const Parameter& p : parameters) combinations *= static_cast<long long>(p.values.size());
    if (combinations * static_cast<long long>(seeds.size()) > MAX_RUNS) {
        usageError("more than " + std::to_string(MAX_RUNS) + " runs");
    }
    std::vector<Run> runs;
    // The last --set varies fastest, the seed fastest of all.
    for (long long c = 0; c < combinations; ++c) {
        std::vector<std::string> values(parameters.size());
        long long rest = c;
        for (std::size_t p = parameters.size(); p-- > 0;) {
            const long long n = static_cast<long long>(parameters[p].values.size());
            values[p] = parameters[p].values[static_cast<std::size_t>(rest % n)];
            rest /= n;
        }
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

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// One line of the job list: into the run's directory, then the program in
// place of the shell (exec), so that a signal meant for the job (parallel
// passing on a Ctrl-C, Slurm's warning before the time limit) reaches the
// learner itself, with its output kept in the run's directory.
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

// Writes base.conf and every run's run.conf; reads each back through the
// library to make sure the run gets the values it is named after.
void writeConfigurations(const SweepOptions& options, const std::string& out, const std::vector<Run>& runs) {
    const std::string baseCopy = out + "/" + BASE_FILE;
    std::string baseSource = options.base;
    if (baseSource.empty()) {
        // The library writes its defaults when the file it is given does
        // not exist; its notice saying so is not for the user.
        unlink(baseCopy.c_str());
        baseSource = baseCopy;
    } else {
        std::ifstream probe(baseSource);
        if (!probe)
            usageError("cannot read the base configuration " + printable(baseSource) + ": " + std::strerror(errno));
        if (!isFile(baseSource)) usageError("the base configuration " + printable(baseSource) + " is not a file");
    }
    {
        std::unique_ptr<tembra_tools::QuietOutput> quiet;
        if (options.base.empty()) quiet.reset(new tembra_tools::QuietOutput("/dev/null"));
        ConfigWriter writer(baseSource);
        quiet.reset();
        writer.writeTo(baseCopy);
        for (const Run& run : runs) {
            const std::string conf = out + "/" + run.directory + "/" + RUN_CONF;
            ConfigWriter config(baseCopy);
            for (std::size_t p = 0; p < options.parameters.size(); ++p)
                config.set(*options.parameters[p].key, run.values[p]);
            config.writeTo(conf);
            ConfigWriter check(conf);
            for (std::size_t p = 0; p < options.parameters.size(); ++p) {
                const Key& key = *options.parameters[p].key;
                if (check.get(key) != run.values[p]) {
                    failure(printable(conf) + " holds " + key.name + " " + check.get(key) + " instead of " +
                            run.values[p]);
                }
            }
        }
    }
    if (!isFile(baseCopy)) failure("cannot write " + printable(baseCopy));
}

// A time limit as sbatch reads it ("minutes", "minutes:seconds",
// "hours:minutes:seconds", "days-hours", "days-hours:minutes",
// "days-hours:minutes:seconds"), in seconds rounded up to whole minutes as
// Slurm does; -1 for no limit (0, INFINITE) or a form left to sbatch to judge.
long long slurmTimeLimit(const std::string& text) {
    const std::size_t dash = text.find('-');
    std::vector<std::string> fields = split(text.substr(dash == std::string::npos ? 0 : dash + 1), ':');
    if (dash != std::string::npos) fields.insert(fields.begin(), text.substr(0, dash));
    long long parts[4] = {0, 0, 0, 0};  // days, hours, minutes, seconds
    const std::size_t n = fields.size();
    if (n > 4 || (dash == std::string::npos && n > 3)) return -1;
    for (std::size_t i = 0; i < n; ++i) {
        if (fields[i].empty() || fields[i].size() > 6 || fields[i].find_first_not_of("0123456789") != std::string::npos)
            return -1;
        // Without days: M, M:S, H:M:S; with days: D-H, D-H:M, D-H:M:S.
        const std::size_t slot = dash != std::string::npos ? i : n == 3 ? i + 1 : i + 2;
        parts[slot] = std::atoll(fields[i].c_str());
    }
    const long long seconds = ((parts[0] * 24 + parts[1]) * 60 + parts[2]) * 60 + parts[3];
    return seconds == 0 ? -1 : (seconds + 59) / 60 * 60;
}

// What Slurm must be told to work as the script says, refused before
// anything is written.
void checkSlurmOptions(const SweepOptions& options) {
    if (options.signalTime.size() > 5 || std::atol(options.signalTime.c_str()) > 65535)
        usageError("--signal-time takes up to 65535 seconds");
    const long long limit = slurmTimeLimit(options.time);
    if (limit > 0 && std::atoll(options.signalTime.c_str()) >= limit) {
        usageError("--signal-time " + options.signalTime + " is not shorter than --time " + options.time + " (" +
                   std::to_string(limit) + " s): the signal would stop the runs as they start");
    }
    // In the output file's name a backslash would turn off the %A_%a that
    // keeps the tasks' files apart.
    if (absolutePath(options.out).find('\\') != std::string::npos)
        usageError("with --slurm, the --out path cannot hold a backslash");
}

// Where each task's own output goes, for an #SBATCH line: in double quotes,
// which sbatch takes off (a space would end the directive), and with a
// literal % of the directory as %% (Slurm's file names are patterns).
std::string slurmOutputFile(const std::string& out) {
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

int sweep(const SweepOptions& options) {
    if (options.out.empty()) usageError("--out DIR is missing");
    if (options.command.empty()) usageError("the program to run is missing (after --)");
    if (options.slurm && options.dryRun) usageError("--slurm and --dry-run: choose one");
    if (!options.slurm && (!options.time.empty() || !options.partition.empty() || !options.sbatchOptions.empty())) {
        usageError("--time, --partition and --sbatch go with --slurm");
    }
    if (options.slurm &&
        (options.resume || options.resumeFailed || !options.sshlogins.empty() || !options.joblog.empty())) {
        usageError("--joblog, --resume and --sshlogin are GNU parallel's; Slurm keeps its own records");
    }
    if (options.slurm && !options.jobs.empty() &&
        (options.jobs.find_first_not_of("0123456789") != std::string::npos || std::atol(options.jobs.c_str()) < 1)) {
        usageError("with --slurm, --jobs is the number of array tasks running at once, not '" +
                   printable(options.jobs) + "'");
    }
    if (options.signalTime.empty() || options.signalTime.find_first_not_of("0123456789") != std::string::npos) {
        usageError("--signal-time takes seconds, not '" + printable(options.signalTime) + "'");
    }
    if (options.slurm) checkSlurmOptions(options);
    std::set<std::string> keys;
    for (const Parameter& p : options.parameters) {
        if (!keys.insert(p.key->name).second) usageError(std::string(p.key->name) + " is swept twice");
    }

    std::string joined;
    for (const std::string& word : options.command) joined += word + " ";
    if (!options.parameters.empty() && joined.find("{conf}") == std::string::npos) {
        usageError("the command does not use {conf}: every run would learn with the same configuration");
    }
    const std::vector<unsigned long> seeds = parseSeeds(options.seeds);
    if (seeds.size() > 1 && joined.find("{seed}") == std::string::npos) {
        std::cerr << PROGRAM << ": warning: the command does not use {seed}" << std::endl;
    }

    // The program is found from here, whatever directory its job runs in.
    std::vector<std::string> command = options.command;
    if (command[0].find('/') != std::string::npos) {
        command[0] = absolutePath(command[0]);
        if (!isFile(command[0]) || access(command[0].c_str(), X_OK) != 0) {
            usageError(printable(options.command[0]) + " is not an executable file");
        }
    } else if (!executableInPath(command[0])) {
        usageError(printable(command[0]) + " is not found in PATH");
    }

    const std::vector<Run> runs = makeRuns(options.parameters, seeds);
    makeDirectories(options.out);
    const std::string out = canonicalPath(options.out);

    std::ostringstream jobs;
    std::ostringstream index;
    index << "run\tcombination\tseed\tdirectory\n";
    for (std::size_t i = 0; i < runs.size(); ++i) {
        jobs << jobLine(command, out + "/" + runs[i].directory, runs[i]) << "\n";
        index << i + 1 << '\t' << runs[i].combination << '\t' << runs[i].seed << '\t' << runs[i].directory << "\n";
    }
    // A directory that holds another sweep's jobs would mix two sweeps in one
    // summary and confuse a resumed job log.
    const std::string jobsPath = out + "/" + JOBS_FILE;
    if (isFile(jobsPath) && readWholeFile(jobsPath) != jobs.str()) {
        usageError(printable(options.out) + " already holds a different sweep (" + JOBS_FILE +
                   " differs); choose another --out or remove it");
    }
    for (const Run& run : runs) makeDirectories(out + "/" + run.directory);
    writeConfigurations(options, out, runs);
    writeWholeFile(jobsPath, jobs.str());
    writeWholeFile(out + "/" + RUNS_FILE, index.str());

    std::cout << PROGRAM << ": " << runs.size() << (runs.size() == 1 ? " run" : " runs") << " in " << printable(out)
              << ", commands in " << JOBS_FILE << std::endl;
    if (options.dryRun) return 0;
    if (options.slurm) {
        const std::string script = out + "/" + SLURM_SCRIPT;
        writeWholeFile(script, slurmScript(options, out, runs.size()));
        chmod(script.c_str(), 0755);
        std::cout << PROGRAM << ": submit with: sbatch " << shellQuote(script) << "\n"
                  << PROGRAM << ": afterwards: " << PROGRAM << " --summarize " << shellQuote(options.out) << std::endl;
        return 0;
    }

    if (!executableInPath("parallel")) {
        failure(
            "GNU parallel is not installed (Debian: apt-get install parallel); --slurm or --dry-run work without it");
    }
    std::vector<std::string> arguments = {"parallel"};
    if (!options.jobs.empty()) arguments.insert(arguments.end(), {"--jobs", options.jobs});
    arguments.insert(arguments.end(), {"--joblog", options.joblog.empty() ? out + "/" + JOBLOG_FILE : options.joblog});
    if (options.resume) arguments.push_back("--resume");
    if (options.resumeFailed) arguments.push_back("--resume-failed");
    for (const std::string& login : options.sshlogins) arguments.insert(arguments.end(), {"--sshlogin", login});
    arguments.insert(arguments.end(), {"--arg-file", jobsPath});
    std::cout << PROGRAM << ": running them with GNU parallel; afterwards: " << PROGRAM << " --summarize "
              << shellQuote(options.out) << std::endl;

    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    failure(std::string("cannot run GNU parallel: ") + std::strerror(errno));
}

// ---------------------------------------------------------------------------
// The summary

struct Curve {
    std::vector<std::string> header;
    std::vector<std::vector<double>> rows;
};

// A learning curve as the examples write it: a header, then numbers. A
// last line without its end of line is a run still writing (or killed
// while writing) and is left out.
bool readCurve(const std::string& path, Curve& curve, std::string& problem) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        problem = std::strerror(errno);
        return false;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::size_t start = 0;
    std::size_t lineNumber = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            std::cerr << PROGRAM << ": warning: " << printable(path) << ": incomplete last line left out" << std::endl;
            break;
        }
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        const std::vector<std::string> fields = split(line, ',');
        if (curve.header.empty()) {
            curve.header = fields;
            continue;
        }
        if (fields.size() != curve.header.size()) {
            problem = "line " + std::to_string(lineNumber) + " has " + std::to_string(fields.size()) +
                      " fields, the header " + std::to_string(curve.header.size());
            return false;
        }
        std::vector<double> row;
        for (const std::string& field : fields) {
            char* endOfNumber = nullptr;
            const double value = std::strtod(field.c_str(), &endOfNumber);
            if (field.empty() || endOfNumber == nullptr || *endOfNumber != '\0') {
                problem = "line " + std::to_string(lineNumber) + ": '" + printable(field) + "' is not a number";
                return false;
            }
            row.push_back(value);
        }
        curve.rows.push_back(row);
    }
    if (curve.header.empty()) {
        problem = "no header";
        return false;
    }
    return true;
}

std::vector<std::string> csvFilesIn(const std::string& directory) {
    std::vector<std::string> names;
    DIR* dir = opendir(directory.c_str());
    if (dir == nullptr) return names;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".csv") == 0 && isFile(directory + "/" + name)) {
            names.push_back(name);
        }
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

struct SummaryOptions {
    std::string dir;
    long long last = 0;       // episodes, when not a percentage
    double lastPercent = 10;  // of each run's episodes
    std::string column = "return";
    std::string csv;  // only this file name; empty: every CSV of a run
};

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

std::string formatNumber(const double value, const int precision) {
    if (std::isnan(value)) return "nan";
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text << std::setprecision(precision) << value;
    return text.str();
}

std::string range(const long long low, const long long high) {
    return low == high ? std::to_string(low) : std::to_string(low) + "-" + std::to_string(high);
}

// Mean over the runs, episode by episode, of every column of the group's
// curves, with the standard error of the summarised column and the number
// of runs that reached the episode.
void writeMeanCurve(const Group& group, const std::size_t column, const std::string& path) {
    const Curve& first = group.curves.front();
    std::ostringstream out;
    out.imbue(std::locale::classic());
    for (std::size_t c = 0; c < first.header.size(); ++c) out << (c == 0 ? "" : ",") << first.header[c];
    out << ",stderr,runs\n";
    std::size_t longest = 0;
    for (const Curve& curve : group.curves) longest = std::max(longest, curve.rows.size());
    for (std::size_t r = 0; r < longest; ++r) {
        std::vector<double> sums(first.header.size(), 0.0);
        std::vector<double> values;
        for (const Curve& curve : group.curves) {
            if (r >= curve.rows.size()) continue;
            for (std::size_t c = 0; c < sums.size(); ++c) sums[c] += curve.rows[r][c];
            values.push_back(curve.rows[r][column]);
        }
        const double n = static_cast<double>(values.size());
        double squares = 0.0;
        for (const double v : values) squares += (v - sums[column] / n) * (v - sums[column] / n);
        const double stderror = values.size() > 1 ? std::sqrt(squares / (n - 1.0)) / std::sqrt(n) : NAN;
        for (std::size_t c = 0; c < sums.size(); ++c) out << (c == 0 ? "" : ",") << formatNumber(sums[c] / n, 10);
        out << ',' << formatNumber(stderror, 10) << ',' << values.size() << "\n";
    }
    writeWholeFile(path, out.str());
}

int summarize(const SummaryOptions& options) {
    const std::string indexPath = options.dir + "/" + RUNS_FILE;
    std::ifstream index(indexPath);
    if (!index) failure(printable(options.dir) + " is not a sweep directory (no " + RUNS_FILE + ")");

    std::vector<Group> groups;
    std::map<std::pair<std::string, std::string>, std::size_t> groupOf;
    std::map<std::string, int> runsPerCombination;
    std::vector<std::string> combinationOrder;
    std::vector<std::pair<std::string, std::string>> runDirectories;  // combination, directory
    std::string line;
    bool header = true;
    while (std::getline(index, line)) {
        if (header) {
            header = false;
            continue;
        }
        const std::vector<std::string> fields = split(line, '\t');
        // The directory is where the summary writes the mean curve: it must
        // stay below the sweep's directory.
        const bool below = fields.size() == 4 && !fields[3].empty() && fields[3][0] != '/' &&
                           ("/" + fields[3] + "/").find("/../") == std::string::npos;
        if (!below) failure(printable(indexPath) + ": damaged line '" + printable(line) + "'");
        if (runsPerCombination[fields[1]]++ == 0) combinationOrder.push_back(fields[1]);
        runDirectories.push_back({fields[1], fields[3]});
    }

    // Each run's learning curves, grouped by combination and file name.
    for (const auto& run : runDirectories) {
        const std::string directory = options.dir + "/" + run.second;
        std::vector<std::string> files = csvFilesIn(directory);
        if (!options.csv.empty()) files = std::vector<std::string>(1, options.csv);
        for (const std::string& file : files) {
            const std::pair<std::string, std::string> key(run.first, file);
            if (groupOf.count(key) == 0) {
                groupOf[key] = groups.size();
                Group group;
                group.combination = run.first;
                group.directory = run.second.substr(0, run.second.rfind('/'));
                group.file = file;
                group.expected = runsPerCombination[run.first];
                groups.push_back(group);
            }
            Group& group = groups[groupOf[key]];
            const std::string path = directory + "/" + file;
            if (!isFile(path)) continue;
            Curve curve;
            std::string problem;
            if (!readCurve(path, curve, problem)) {
                std::cerr << PROGRAM << ": warning: " << printable(path) << ": " << problem << "; run left out"
                          << std::endl;
                continue;
            }
            const auto at = std::find(curve.header.begin(), curve.header.end(), options.column);
            if (at == curve.header.end()) {
                std::cerr << PROGRAM << ": warning: " << printable(path) << " has no column '"
                          << printable(options.column) << "'; run left out" << std::endl;
                continue;
            }
            if (!group.curves.empty() && group.curves.front().header != curve.header) {
                std::cerr << PROGRAM << ": warning: " << printable(path)
                          << " has other columns than its siblings; run left out" << std::endl;
                continue;
            }
            const long long episodes = static_cast<long long>(curve.rows.size());
            if (episodes == 0) {
                std::cerr << PROGRAM << ": warning: " << printable(path) << " has no episodes; run left out"
                          << std::endl;
                continue;
            }
            const std::size_t column = static_cast<std::size_t>(at - curve.header.begin());
            long long last = options.last > 0
                                 ? options.last
                                 : static_cast<long long>(
                                       std::ceil(static_cast<double>(episodes) * options.lastPercent / 100.0 - 1e-9));
            last = std::max(1LL, std::min(last, episodes));
            double sum = 0.0;
            for (long long r = episodes - last; r < episodes; ++r)
                sum += curve.rows[static_cast<std::size_t>(r)][column];
            group.values.push_back(sum / static_cast<double>(last));
            group.minEpisodes = std::min(group.minEpisodes, episodes);
            group.maxEpisodes = std::max(group.maxEpisodes, episodes);
            group.minLast = std::min(group.minLast, last);
            group.maxLast = std::max(group.maxLast, last);
            group.curves.push_back(std::move(curve));
        }
    }
    if (groups.empty()) failure("no learning curves (*.csv) in the runs of " + printable(options.dir) + " yet");

    // Combinations in the order of the sweep, files by name within each.
    std::stable_sort(groups.begin(), groups.end(), [&](const Group& a, const Group& b) {
        const auto ia = std::find(combinationOrder.begin(), combinationOrder.end(), a.combination);
        const auto ib = std::find(combinationOrder.begin(), combinationOrder.end(), b.combination);
        return ia != ib ? ia < ib : a.file < b.file;
    });

    std::vector<std::vector<std::string>> table;
    table.push_back({"combination", "file", "runs", "episodes", "last", "mean", "stderr"});
    std::ostringstream csv;
    csv << "combination,file,runs,expected,episodes_min,episodes_max,last_min,last_max,mean,stderr\n";
    const std::string summaryDir = options.dir + "/" + SUMMARY_DIR;
    for (const Group& group : groups) {
        const double n = static_cast<double>(group.values.size());
        double mean = NAN;
        double stderror = NAN;
        if (!group.values.empty()) {
            double sum = 0.0;
            for (const double v : group.values) sum += v;
            mean = sum / n;
            if (group.values.size() > 1) {
                double squares = 0.0;
                for (const double v : group.values) squares += (v - mean) * (v - mean);
                stderror = std::sqrt(squares / (n - 1.0)) / std::sqrt(n);
            }
        }
        const bool any = !group.values.empty();
        table.push_back(
            {group.combination, group.file, std::to_string(group.values.size()) + "/" + std::to_string(group.expected),
             any ? range(group.minEpisodes, group.maxEpisodes) : "-", any ? range(group.minLast, group.maxLast) : "-",
             formatNumber(mean, 6), group.values.size() > 1 ? formatNumber(stderror, 6) : "-"});
        csv << csvField(group.combination) << ',' << csvField(group.file) << ',' << group.values.size() << ','
            << group.expected << ',' << (any ? std::to_string(group.minEpisodes) : "") << ','
            << (any ? std::to_string(group.maxEpisodes) : "") << ',' << (any ? std::to_string(group.minLast) : "")
            << ',' << (any ? std::to_string(group.maxLast) : "") << ',' << formatNumber(mean, 17) << ','
            << formatNumber(stderror, 17) << "\n";
        if (any) {
            const std::string curveDir = summaryDir + "/" + group.directory;
            makeDirectories(curveDir);
            const std::vector<std::string>& names = group.curves.front().header;
            const std::size_t column =
                static_cast<std::size_t>(std::find(names.begin(), names.end(), options.column) - names.begin());
            writeMeanCurve(group, column, curveDir + "/" + group.file);
        }
    }
    writeWholeFile(options.dir + "/" + SUMMARY_FILE, csv.str());

    std::vector<std::size_t> widths(table.front().size(), 0);
    for (const auto& row : table) {
        for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
    }
    for (const auto& row : table) {
        for (std::size_t c = 0; c < row.size(); ++c) {
            const bool right = c >= 2;
            const std::string pad(widths[c] - row[c].size(), ' ');
            std::cout << (c == 0 ? "" : "  ") << (right ? pad + row[c] : row[c] + (c + 1 < row.size() ? pad : ""));
        }
        std::cout << "\n";
    }
    std::cout << "\nmean: over the runs (seeds) of each run's mean '" << options.column << "' over its last "
              << (options.last > 0 ? std::to_string(options.last) + " episodes"
                                   : formatNumber(options.lastPercent, 6) + "% of episodes")
              << "; stderr: standard error of that mean\n"
              << "written: " << printable(options.dir) << "/" << SUMMARY_FILE << ", mean curves in "
              << printable(summaryDir) << "/" << std::endl;
    return 0;
}

// ---------------------------------------------------------------------------

int usage(std::ostream& out, const int status) {
    out << "usage: " << PROGRAM << " [--base FILE] [--set KEY=V1,V2,...]... [--seeds LIST] --out DIR\n"
        << "                    [--jobs N] [--joblog FILE] [--resume | --resume-failed]\n"
        << "                    [--sshlogin LOGIN]...\n"
        << "                    [--slurm [--time T] [--partition P] [--signal-time S] [--sbatch OPTION]...]\n"
        << "                    [--dry-run] -- PROGRAM ARGUMENTS...\n"
        << "       " << PROGRAM << " --summarize DIR [--last K | --last P%] [--column NAME] [--csv NAME]\n"
        << "\n"
        << "Runs PROGRAM once per combination of the swept values and seed, each run in\n"
        << "a directory of its own, DIR/KEY=V,.../seed-N/, which holds its configuration\n"
        << "file run.conf (the base configuration with the swept values) and its output\n"
        << "(output.txt). In the arguments {conf} stands for the run's configuration file,\n"
        << "{seed} for its seed and {dir} for its directory; the program runs in {dir}.\n"
        << "\n"
        << "  --base FILE       configuration every run starts from (default: the\n"
        << "                    library's defaults); copied to DIR/base.conf\n"
        << "  --set KEY=V,...   values of one learning parameter: ALPHA, LAMBDA, GAMMA,\n"
        << "                    EPSILON, TEMPERATURE, TRACE_VALUE (numbers),\n"
        << "                    ACTION_SELECTION (GREEDY, EPSILON_GREEDY, SOFTMAX) or\n"
        << "                    TRACES (NONE, REPLACING, ACCUMULATING); repeatable\n"
        << "  --seeds LIST      e.g. 1-10 or 1,5,9 (default 1)\n"
        << "  --out DIR         the sweep's directory\n"
        << "The commands go to DIR/jobs.txt, one per line. By default GNU parallel runs\n"
        << "them, with these of its options:\n"
        << "  --jobs N          jobs at once (default: one per core)\n"
        << "  --joblog FILE     its job log (default DIR/parallel.joblog)\n"
        << "  --resume          skip the jobs the job log shows as done\n"
        << "  --resume-failed   ... and run again those that failed or were stopped\n"
        << "                    (a stopped example exits with 128 + the signal)\n"
        << "  --sshlogin LOGIN  run jobs on another machine too (it must see the same\n"
        << "                    paths); repeatable\n"
        << "  --slurm           write DIR/sweep.sbatch, an array job with one task per\n"
        << "                    line of jobs.txt, instead; submit it with sbatch. Slurm\n"
        << "                    sends SIGTERM --signal-time seconds (120) before --time\n"
        << "                    runs out. --jobs N limits the tasks running at once.\n"
        << "  --dry-run         write the directories and the job list only\n"
        << "\n"
        << "--summarize reads each run's learning curves (*.csv: a header, then one row\n"
        << "per episode) and prints, per combination and file, the mean over the runs of\n"
        << "each run's mean of --column (default return) over its last K episodes\n"
        << "(--last, default 10%), with its standard error; it writes DIR/summary.csv\n"
        << "and, per combination, the mean curve over the runs in DIR/summary/.\n";
    return status;
}

std::string takeValue(int& i, const int argc, char** argv, const std::string& option) {
    if (i + 1 >= argc) usageError(option + " needs a value");
    return argv[++i];
}

int run(int argc, char** argv) {
    SweepOptions sweepOptions;
    SummaryOptions summaryOptions;
    bool summarizing = false;
    bool sweepOnly = false;
    bool summaryOnly = false;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") {
            ++i;
            break;
        }
        if (arg == "--help" || arg == "-h") return usage(std::cout, 0);
        if (arg == "--summarize") {
            summarizing = true;
            summaryOptions.dir = takeValue(i, argc, argv, arg);
        } else if (arg == "--last") {
            summaryOnly = true;
            std::string value = takeValue(i, argc, argv, arg);
            const bool percent = !value.empty() && value.back() == '%';
            if (percent) value.pop_back();
            char* end = nullptr;
            const double number = std::strtod(value.c_str(), &end);
            if (value.empty() || end == nullptr || *end != '\0' || !(number > 0) ||
                (percent ? number > 100 : (number != std::floor(number) || number > 1e12))) {
                usageError("--last takes a number of episodes or a percentage up to 100%");
            }
            if (percent) {
                summaryOptions.lastPercent = number;
            } else {
                summaryOptions.last = static_cast<long long>(number);
            }
        } else if (arg == "--column") {
            summaryOnly = true;
            summaryOptions.column = takeValue(i, argc, argv, arg);
        } else if (arg == "--csv") {
            summaryOnly = true;
            summaryOptions.csv = takeValue(i, argc, argv, arg);
            if (summaryOptions.csv.find('/') != std::string::npos) usageError("--csv takes a file name, not a path");
        } else if (arg == "--base") {
            sweepOnly = true;
            sweepOptions.base = takeValue(i, argc, argv, arg);
        } else if (arg == "--set") {
            sweepOnly = true;
            sweepOptions.parameters.push_back(parseSet(takeValue(i, argc, argv, arg)));
        } else if (arg == "--seeds") {
            sweepOnly = true;
            sweepOptions.seeds = takeValue(i, argc, argv, arg);
        } else if (arg == "--out") {
            sweepOnly = true;
            sweepOptions.out = takeValue(i, argc, argv, arg);
        } else if (arg == "--jobs" || arg == "-j") {
            sweepOnly = true;
            sweepOptions.jobs = takeValue(i, argc, argv, arg);
        } else if (arg == "--joblog") {
            sweepOnly = true;
            sweepOptions.joblog = absolutePath(takeValue(i, argc, argv, arg));
        } else if (arg == "--resume") {
            sweepOnly = true;
            sweepOptions.resume = true;
        } else if (arg == "--resume-failed") {
            sweepOnly = true;
            sweepOptions.resumeFailed = true;
        } else if (arg == "--sshlogin" || arg == "-S") {
            sweepOnly = true;
            sweepOptions.sshlogins.push_back(takeValue(i, argc, argv, arg));
            // GNU parallel writes the login into its job log, and cannot
            // read that log back (--resume) when the login holds spaces.
            if (sweepOptions.sshlogins.back().find_first_of(" \t") != std::string::npos) {
                usageError(
                    "--sshlogin takes a login without spaces (user@host, or a host named in ~/.ssh/config); "
                    "put ssh options into ~/.ssh/config or PARALLEL_SSH");
            }
        } else if (arg == "--slurm") {
            sweepOnly = true;
            sweepOptions.slurm = true;
        } else if (arg == "--time") {
            sweepOnly = true;
            sweepOptions.time = takeValue(i, argc, argv, arg);
        } else if (arg == "--partition") {
            sweepOnly = true;
            sweepOptions.partition = takeValue(i, argc, argv, arg);
        } else if (arg == "--signal-time") {
            sweepOnly = true;
            sweepOptions.signalTime = takeValue(i, argc, argv, arg);
        } else if (arg == "--sbatch") {
            sweepOnly = true;
            sweepOptions.sbatchOptions.push_back(takeValue(i, argc, argv, arg));
        } else if (arg == "--dry-run") {
            sweepOnly = true;
            sweepOptions.dryRun = true;
        } else {
            usageError("unknown argument '" + printable(arg) + "'");
        }
    }
    for (; i < argc; ++i) sweepOptions.command.push_back(argv[i]);
    // Option values end up in a shell script or a command line: no line
    // breaks, which would start a new command there.
    for (const std::string* text :
         {&sweepOptions.time, &sweepOptions.partition, &sweepOptions.jobs, &sweepOptions.out}) {
        if (text->find_first_of("\n\r") != std::string::npos) usageError("a line break in an option value");
    }
    for (const std::string& text : sweepOptions.sbatchOptions) {
        if (text.find_first_of("\n\r") != std::string::npos) usageError("a line break in an --sbatch option");
    }
    for (const std::string& word : sweepOptions.command) {
        if (word.find_first_of("\n\r") != std::string::npos) usageError("a line break in the command");
    }

    if (summarizing) {
        if (sweepOnly || !sweepOptions.command.empty()) usageError("--summarize takes only --last, --column and --csv");
        return summarize(summaryOptions);
    }
    if (summaryOnly) usageError("--last, --column and --csv go with --summarize");
    return sweep(sweepOptions);
}

}  // namespace

int main(int argc, char** argv) { return run(argc, argv); }
