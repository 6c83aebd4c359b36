#include "sweep/SweepCommandLine.h"

#include <cmath>
#include <cstdlib>
#include <string>

#include "ToolSupport.h"
#include "sweep/SweepError.h"
#include "sweep/SweepFiles.h"

using tembra_tools::printable;

namespace tembra_sweep {

namespace {

// Which mode an option belongs to.
enum class Mode { SWEEP, SUMMARY, EITHER };

struct Option {
    const char* name;
    const char* alias;
    Mode mode;
    bool takesValue;
    void (*apply)(CommandLine& line, const std::string& value);
};

// --last K or --last P%
void parseLast(SummaryOptions& options, std::string value) {
    const bool percent = !value.empty() && value.back() == '%';
    if (percent) value.pop_back();
    char* end = nullptr;
    const double number = std::strtod(value.c_str(), &end);
    if (value.empty() || end == nullptr || *end != '\0' || !(number > 0) ||
        (percent ? number > 100 : (number != std::floor(number) || number > 1e12))) {
        usageError("--last takes a number of episodes or a percentage up to 100%");
    }
    if (percent) {
        options.lastPercent = number;
    } else {
        options.last = static_cast<long long>(number);
    }
}

using L = CommandLine;
using V = const std::string&;

const Option OPTIONS[] = {
    {"--summarize", nullptr, Mode::EITHER, true,
     [](L& l, V v) {
         l.summarizing = true;
         l.summary.dir = v;
     }},
    {"--last", nullptr, Mode::SUMMARY, true, [](L& l, V v) { parseLast(l.summary, v); }},
    {"--column", nullptr, Mode::SUMMARY, true, [](L& l, V v) { l.summary.column = v; }},
    {"--csv", nullptr, Mode::SUMMARY, true,
     [](L& l, V v) {
         l.summary.csv = v;
         if (v.find('/') != std::string::npos) usageError("--csv takes a file name, not a path");
     }},
    {"--base", nullptr, Mode::SWEEP, true, [](L& l, V v) { l.sweep.base = v; }},
    {"--set", nullptr, Mode::SWEEP, true, [](L& l, V v) { l.sweep.parameters.push_back(parseSet(v)); }},
    {"--seeds", nullptr, Mode::SWEEP, true, [](L& l, V v) { l.sweep.seeds = v; }},
    {"--out", nullptr, Mode::SWEEP, true, [](L& l, V v) { l.sweep.out = v; }},
    {"--jobs", "-j", Mode::SWEEP, true, [](L& l, V v) { l.sweep.jobs = v; }},
    {"--joblog", nullptr, Mode::SWEEP, true, [](L& l, V v) { l.sweep.joblog = absolutePath(v); }},
    {"--resume", nullptr, Mode::SWEEP, false, [](L& l, V) { l.sweep.resume = true; }},
    {"--resume-failed", nullptr, Mode::SWEEP, false, [](L& l, V) { l.sweep.resumeFailed = true; }},
    {"--sshlogin", "-S", Mode::SWEEP, true, [](L& l, V v) { l.sweep.sshlogins.push_back(v); }},
    {"--slurm", nullptr, Mode::SWEEP, false, [](L& l, V) { l.sweep.slurm = true; }},
    {"--time", nullptr, Mode::SWEEP, true, [](L& l, V v) { l.sweep.time = v; }},
    {"--partition", nullptr, Mode::SWEEP, true, [](L& l, V v) { l.sweep.partition = v; }},
    {"--signal-time", nullptr, Mode::SWEEP, true, [](L& l, V v) { l.sweep.signalTime = v; }},
    {"--sbatch", nullptr, Mode::SWEEP, true, [](L& l, V v) { l.sweep.sbatchOptions.push_back(v); }},
    {"--dry-run", nullptr, Mode::SWEEP, false, [](L& l, V) { l.sweep.dryRun = true; }},
};

const Option* findOption(const std::string& arg) {
    for (const Option& option : OPTIONS) {
        if (arg == option.name || (option.alias != nullptr && arg == option.alias)) return &option;
    }
    return nullptr;
}

bool holdsLineBreak(const std::string& text) { return text.find_first_of("\n\r") != std::string::npos; }

// Option values end up in a shell script or a command line: no line
// breaks, which would start a new command there.
void refuseLineBreaks(const SweepOptions& options) {
    for (const std::string* text : {&options.time, &options.partition, &options.jobs, &options.out}) {
        if (holdsLineBreak(*text)) usageError("a line break in an option value");
    }
    for (const std::string& text : options.sbatchOptions) {
        if (holdsLineBreak(text)) usageError("a line break in an --sbatch option");
    }
    for (const std::string& word : options.command) {
        if (holdsLineBreak(word)) usageError("a line break in the command");
    }
}

}  // namespace

CommandLine parseCommandLine(const int argc, const char* const* argv) {
    CommandLine line;
    bool sweepOnly = false;
    bool summaryOnly = false;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") {
            ++i;
            break;
        }
        if (arg == "--help" || arg == "-h") {
            line.help = true;
            return line;
        }
        const Option* option = findOption(arg);
        if (option == nullptr) usageError("unknown argument '" + printable(arg) + "'");
        if (option->takesValue && i + 1 >= argc) usageError(arg + " needs a value");
        sweepOnly = sweepOnly || option->mode == Mode::SWEEP;
        summaryOnly = summaryOnly || option->mode == Mode::SUMMARY;
        option->apply(line, option->takesValue ? argv[++i] : "");
    }
    for (; i < argc; ++i) line.sweep.command.push_back(argv[i]);
    refuseLineBreaks(line.sweep);
    if (line.summarizing && (sweepOnly || !line.sweep.command.empty())) {
        usageError("--summarize takes only --last, --column and --csv");
    }
    if (!line.summarizing && summaryOnly) usageError("--last, --column and --csv go with --summarize");
    return line;
}

void printUsage(std::ostream& out) {
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
        << "                    library's defaults); copied to DIR/base.conf; refused\n"
        << "                    when the check of tembra-inspect --config finds problems\n"
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
}

}  // namespace tembra_sweep
