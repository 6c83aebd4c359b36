#include "sweep/SweepRunner.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>

#include "ConfigCheck.h"
#include "ToolSupport.h"
#include "sweep/SweepError.h"
#include "sweep/SweepFiles.h"
#include "sweep/SweepText.h"

using tembra_tools::printable;

namespace tembra_sweep {

namespace {

bool isCount(const std::string& text) {
    return text.find_first_not_of("0123456789") == std::string::npos && std::atol(text.c_str()) >= 1;
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
void checkSlurmTiming(const SweepOptions& options) {
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

// GNU parallel writes the login into its job log, and cannot read that log
// back (--resume) when the login holds spaces.
void checkSshLogins(const SweepOptions& options) {
    for (const std::string& login : options.sshlogins) {
        if (login.find_first_of(" \t") != std::string::npos) {
            usageError(
                "--sshlogin takes a login without spaces (user@host, or a host named in ~/.ssh/config); "
                "put ssh options into ~/.ssh/config or PARALLEL_SSH");
        }
    }
}

void checkSlurmOptions(const SweepOptions& options) {
    if (options.slurm && options.dryRun) usageError("--slurm and --dry-run: choose one");
    if (!options.slurm && (!options.time.empty() || !options.partition.empty() || !options.sbatchOptions.empty())) {
        usageError("--time, --partition and --sbatch go with --slurm");
    }
    if (options.slurm &&
        (options.resume || options.resumeFailed || !options.sshlogins.empty() || !options.joblog.empty())) {
        usageError("--joblog, --resume and --sshlogin are GNU parallel's; Slurm keeps its own records");
    }
    if (options.slurm && !options.jobs.empty() && !isCount(options.jobs)) {
        usageError("with --slurm, --jobs is the number of array tasks running at once, not '" +
                   printable(options.jobs) + "'");
    }
    if (options.signalTime.empty() || options.signalTime.find_first_not_of("0123456789") != std::string::npos) {
        usageError("--signal-time takes seconds, not '" + printable(options.signalTime) + "'");
    }
    if (options.slurm) checkSlurmTiming(options);
}

void checkOptions(const SweepOptions& options) {
    if (options.out.empty()) usageError("--out DIR is missing");
    if (options.command.empty()) usageError("the program to run is missing (after --)");
    checkSlurmOptions(options);
    checkSshLogins(options);
    std::set<std::string> keys;
    for (const Parameter& p : options.parameters) {
        if (!keys.insert(p.key->name).second) usageError(std::string(p.key->name) + " is swept twice");
    }
}

// The seeds; the command must use what varies between the runs.
std::vector<unsigned long> seedsFor(const SweepOptions& options) {
    std::string joined;
    for (const std::string& word : options.command) joined += word + " ";
    if (!options.parameters.empty() && joined.find("{conf}") == std::string::npos) {
        usageError("the command does not use {conf}: every run would learn with the same configuration");
    }
    const std::vector<unsigned long> seeds = parseSeeds(options.seeds);
    if (seeds.size() > 1 && joined.find("{seed}") == std::string::npos) {
        std::cerr << PROGRAM << ": warning: the command does not use {seed}" << std::endl;
    }
    return seeds;
}

// The program is found from here, whatever directory its job runs in.
std::vector<std::string> resolveProgram(const std::vector<std::string>& given) {
    std::vector<std::string> command = given;
    if (command[0].find('/') != std::string::npos) {
        command[0] = absolutePath(command[0]);
        if (!isFile(command[0]) || access(command[0].c_str(), X_OK) != 0) {
            usageError(printable(given[0]) + " is not an executable file");
        }
    } else if (!executableInPath(command[0])) {
        usageError(printable(command[0]) + " is not found in PATH");
    }
    return command;
}

std::string configurationText(const ConfigCodec::Values& values) {
    std::ostringstream text;
    ConfigCodec::write(text, values);
    return text.str();
}

// What a configuration file holds, read by the learners' rules.
ConfigCodec::Values readConfiguration(std::istream& in, const std::string& path) {
    ConfigCodec::Values values;
    ConfigCodec::read(in, values, [&path](const std::string& message) {
        std::cerr << PROGRAM << ": warning: " << printable(path) << ": " << printable(message) << std::endl;
    });
    return values;
}

// Writes one run's run.conf and reads it back, to make sure the run gets
// the values it is named after.
void writeRunConfiguration(const SweepOptions& options, const ConfigCodec::Values& base, const Run& run,
                           const std::string& conf) {
    ConfigCodec::Values values = base;
    std::string problem;
    for (std::size_t p = 0; p < options.parameters.size(); ++p)
        ConfigCodec::set(values, *options.parameters[p].key, run.values[p], problem);
    writeWholeFile(conf, configurationText(values));
    std::ifstream in(conf);
    const ConfigCodec::Values check = readConfiguration(in, conf);
    for (std::size_t p = 0; p < options.parameters.size(); ++p) {
        const ConfigCodec::Key& key = *options.parameters[p].key;
        const std::string held = ConfigCodec::valueText(check, key);
        if (held != run.values[p]) {
            failure(printable(conf) + " holds " + key.name + " " + held + " instead of " + run.values[p]);
        }
    }
}

// base.conf and every run's run.conf, in the learners' own format.
void writeConfigurations(const SweepOptions& options, const ConfigCodec::Values& baseValues, const std::string& out,
                         const std::vector<Run>& runs) {
    const std::string baseCopy = out + "/" + BASE_FILE;
    const std::string baseText = configurationText(baseValues);
    writeWholeFile(baseCopy, baseText);
    // The runs start from the base as its file holds it.
    std::istringstream in(baseText);
    const ConfigCodec::Values base = readConfiguration(in, baseCopy);
    for (const Run& run : runs) writeRunConfiguration(options, base, run, out + "/" + run.directory + "/" + RUN_CONF);
}

// The sweep's directory with everything but the Slurm script; returns it,
// canonical.
std::string writeSweep(const SweepOptions& options, const std::vector<std::string>& command,
                       const std::vector<Run>& runs, const ConfigCodec::Values& base) {
    makeDirectories(options.out);
    const std::string out = canonicalPath(options.out);
    const std::string jobs = jobList(command, out, runs);
    // A directory that holds another sweep's jobs would mix two sweeps in one
    // summary and confuse a resumed job log.
    const std::string jobsPath = out + "/" + JOBS_FILE;
    if (isFile(jobsPath) && readWholeFile(jobsPath) != jobs) {
        usageError(printable(options.out) + " already holds a different sweep (" + JOBS_FILE +
                   " differs); choose another --out or remove it");
    }
    for (const Run& run : runs) makeDirectories(out + "/" + run.directory);
    writeConfigurations(options, base, out, runs);
    writeWholeFile(jobsPath, jobs);
    writeWholeFile(out + "/" + RUNS_FILE, runList(runs));
    return out;
}

int writeSlurm(const SweepOptions& options, const std::string& out, const std::size_t jobCount) {
    const std::string script = out + "/" + SLURM_SCRIPT;
    writeWholeFile(script, slurmScript(options, out, jobCount));
    chmod(script.c_str(), 0755);
    std::cout << PROGRAM << ": submit with: sbatch " << shellQuote(script) << "\n"
              << PROGRAM << ": afterwards: " << PROGRAM << " --summarize " << shellQuote(options.out) << std::endl;
    return 0;
}

[[noreturn]] void runParallel(const SweepOptions& options, const std::string& out) {
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
    arguments.insert(arguments.end(), {"--arg-file", out + "/" + JOBS_FILE});
    std::cout << PROGRAM << ": running them with GNU parallel; afterwards: " << PROGRAM << " --summarize "
              << shellQuote(options.out) << std::endl;

    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    failure(std::string("cannot run GNU parallel: ") + std::strerror(errno));
}

}  // namespace

ConfigCodec::Values readBase(const std::string& path) {
    if (path.empty()) return ConfigCodec::Values();
    std::ifstream in(path);
    if (!in) usageError("cannot read the base configuration " + printable(path) + ": " + std::strerror(errno));
    if (!isFile(path)) usageError("the base configuration " + printable(path) + " is not a file");
    const std::vector<tembra_tools::ConfigCheck::Finding> findings = tembra_tools::ConfigCheck::check(in);
    if (!findings.empty()) {
        tembra_tools::ConfigCheck::print(std::cerr, std::string(PROGRAM) + ": ", path, findings);
        usageError("the base configuration " + printable(path) + " has the problems listed above");
    }
    in.clear();
    in.seekg(0);
    return readConfiguration(in, path);
}

int runSweep(const SweepOptions& options) {
    checkOptions(options);
    const std::vector<unsigned long> seeds = seedsFor(options);
    const std::vector<std::string> command = resolveProgram(options.command);
    const std::vector<Run> runs = makeRuns(options.parameters, seeds);
    const ConfigCodec::Values base = readBase(options.base);
    const std::string out = writeSweep(options, command, runs, base);

    std::cout << PROGRAM << ": " << runs.size() << (runs.size() == 1 ? " run" : " runs") << " in " << printable(out)
              << ", commands in " << JOBS_FILE << std::endl;
    if (options.dryRun) return 0;
    if (options.slurm) return writeSlurm(options, out, runs.size());
    runParallel(options, out);
}

}  // namespace tembra_sweep
