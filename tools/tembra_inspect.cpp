// tembra-inspect FILE [--kind KIND] [--weights]
// tembra-inspect --config FILE
//
// Says what a saved value function holds: its state description, its
// representation, its actions and its weights; every reader of the library
// tries the file, and the one that reads it exactly to its end wins
// (inspect/FileProbe.h). Or checks a configuration file, line by line, for
// what the learners would ignore, read otherwise than written or refuse
// (ConfigCheck.h).

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "ConfigCheck.h"
#include "ToolSupport.h"
#include "inspect/FileProbe.h"
#include "inspect/Inspectors.h"

using tembra_tools::printable;

namespace {

using namespace tembra_inspect;

const char* const PROGRAM = "tembra-inspect";

struct Arguments {
    std::string file;
    std::string kind;
    bool weights = false;
    bool config = false;
};

int usage(std::ostream& out, const int status) {
    out << "usage: " << PROGRAM << " FILE [--kind KIND] [--weights]\n"
        << "       " << PROGRAM << " --config FILE\n"
        << "  Describes a value-function file written by libtembra: the state variables,\n"
        << "  the representation, the actions and the weights' minimum, mean and maximum.\n"
        << "  --kind KIND    read the file as KIND only (" << kindList("|") << ");\n"
        << "                 without it every kind is tried and the one that reads the\n"
        << "                 file exactly to its end is taken\n"
        << "  --weights      print every weight as CSV instead of the description\n"
        << "  --config FILE  check a configuration file instead: list, line by line,\n"
        << "                 unknown keys, values that are not numbers or not one of the\n"
        << "                 words, values outside their sensible range, invisible\n"
        << "                 characters at the end of a line, keys given twice and lines\n"
        << "                 the library refuses or reads otherwise than they look\n"
        << "Exit status: 0 described (a configuration: all right, and an \"ok\" line),\n"
        << "1 the file cannot be read as a value function (a configuration: problems\n"
        << "found), 2 a usage error.\n";
    return status;
}

int fail(const std::string& file, const std::string& reason) {
    std::cerr << PROGRAM << ": " << printable(file) << ": " << reason << std::endl;
    return 1;
}

// "--name VALUE" or "--name=VALUE"; false when the value is missing.
bool optionValue(const std::string& name, const std::string& arg, int& i, const int argc, char** argv,
                 std::string& value) {
    if (arg != name) {
        value = arg.substr(name.size() + 1);
        return true;
    }
    if (i + 1 >= argc) return false;
    value = argv[++i];
    return true;
}

bool isOption(const std::string& arg, const std::string& name) {
    return arg == name || arg.compare(0, name.size() + 1, name + "=") == 0;
}

// The file operand; false (with the reason on stderr) when one was given
// already.
bool takeFile(Arguments& arguments, const std::string& file) {
    if (!arguments.file.empty()) {
        std::cerr << PROGRAM << ": one file at a time" << std::endl;
        return false;
    }
    arguments.file = file;
    return true;
}

// -1 when the arguments are complete, else the exit status.
int parseArgument(Arguments& arguments, int& i, const int argc, char** argv) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") return usage(std::cout, 0);
    if (arg == "--weights") {
        arguments.weights = true;
    } else if (isOption(arg, "--kind")) {
        if (!optionValue("--kind", arg, i, argc, argv, arguments.kind)) return usage(std::cerr, 2);
        if (findReader(arguments.kind) == nullptr) {
            std::cerr << PROGRAM << ": unknown kind '" << printable(arguments.kind) << "' (known: " << kindList(", ")
                      << ")" << std::endl;
            return 2;
        }
    } else if (isOption(arg, "--config")) {
        std::string file;
        arguments.config = true;
        if (!optionValue("--config", arg, i, argc, argv, file) || !takeFile(arguments, file))
            return usage(std::cerr, 2);
    } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
        std::cerr << PROGRAM << ": unknown option " << printable(arg) << std::endl;
        return usage(std::cerr, 2);
    } else if (!takeFile(arguments, arg)) {
        return usage(std::cerr, 2);
    }
    return -1;
}

// -1 when the arguments are complete, else the exit status.
int parseArguments(const int argc, char** argv, Arguments& arguments) {
    for (int i = 1; i < argc; ++i) {
        const int status = parseArgument(arguments, i, argc, argv);
        if (status >= 0) return status;
    }
    if (arguments.file.empty()) return usage(std::cerr, 2);
    if (arguments.config && (arguments.weights || !arguments.kind.empty())) {
        std::cerr << PROGRAM << ": --config goes without --kind and --weights" << std::endl;
        return usage(std::cerr, 2);
    }
    return -1;
}

// What the readers would only report in their own words; empty when the
// file is a readable regular file.
std::string unreadable(const std::string& file, const bool allowEmpty) {
    struct stat info;
    if (stat(file.c_str(), &info) != 0) return std::strerror(errno);
    if (S_ISDIR(info.st_mode)) return "is a directory";
    if (!S_ISREG(info.st_mode)) return "not a regular file";
    if (access(file.c_str(), R_OK) != 0) return std::strerror(errno);
    if (info.st_size == 0 && !allowEmpty) return "empty file";
    return std::string();
}

int checkConfiguration(const std::string& file) {
    const std::string reason = unreadable(file, true);
    if (!reason.empty()) return fail(file, reason);
    std::ifstream in(file, std::ios::binary);
    if (!in) return fail(file, std::strerror(errno));
    const std::vector<tembra_tools::ConfigCheck::Finding> findings = tembra_tools::ConfigCheck::check(in);
    tembra_tools::ConfigCheck::print(std::cout, "", file, findings);
    if (findings.empty()) std::cout << printable(file) << ": ok" << std::endl;
    return findings.empty() ? 0 : 1;
}

void describe(const std::string& file, const Probe& chosen, const std::vector<std::string>& alsoReadableAs) {
    std::ostream& out = std::cout;
    out << "file         " << printable(file) << '\n';
    out << "kind         " << chosen.reader->kind << ": " << chosen.reader->what << '\n';
    if (!alsoReadableAs.empty()) {
        out << "             also readable as";
        for (std::size_t i = 0; i < alsoReadableAs.size(); ++i) out << (i == 0 ? " " : ", ") << alsoReadableAs[i];
        out << '\n';
    }
    chosen.inspector->describe(out);
}

// Why no reader read the file exactly.
int refuse(const std::string& file, const std::string& kind, const std::vector<Probe>& probes) {
    // A value function without weights (a tile coding of no groups) is
    // no evidence: a few bytes of anything can read as one.
    for (const Probe& p : probes) {
        if (p.match == Match::LONGER && p.weights > 0) {
            return fail(file, std::string("a complete ") + p.reader->kind + " value function followed by " +
                                  std::to_string(p.extra) + (p.extra == 1 ? " stray byte" : " stray bytes"));
        }
    }
    if (!kind.empty()) {
        const Probe& p = probes.front();
        const std::string reason = p.reason.empty() ? "the file does not read back as it was written" : p.reason;
        return fail(file, "not readable as " + kind + ": " + printable(reason));
    }
    return fail(file, "no reader reads it exactly to its end (tried " + kindList(", ") +
                          "): damaged, truncated or not a value function");
}

int inspect(const Arguments& arguments) {
    const std::string& file = arguments.file;
    const std::string reason = unreadable(file, false);
    if (!reason.empty()) return fail(file, reason);
    ScratchDir scratch;
    if (!scratch.ok()) return fail(file, std::string("cannot make a temporary directory: ") + std::strerror(errno));

    std::vector<Probe> probes = probeAll(file, arguments.kind, scratch);
    Probe* chosen = nullptr;
    std::vector<std::string> alsoReadableAs;
    for (Probe& p : probes) {
        if (p.match != Match::SAME) continue;
        if (chosen == nullptr) chosen = &p;
        else alsoReadableAs.push_back(p.reader->kind);
    }
    if (chosen == nullptr) return refuse(file, arguments.kind, probes);
    if (arguments.weights) {
        chosen->inspector->writeWeights(std::cout);
    } else {
        describe(file, *chosen, alsoReadableAs);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments arguments;
    const int status = parseArguments(argc, argv, arguments);
    if (status >= 0) return status;
    const int result = arguments.config ? checkConfiguration(arguments.file) : inspect(arguments);
    std::cout.flush();
    if (!std::cout) {
        std::cerr << PROGRAM << ": cannot write the output" << std::endl;
        return 1;
    }
    return result;
}
