#ifndef TEMBRA_EXAMPLES_EXAMPLESUPPORT_H
#define TEMBRA_EXAMPLES_EXAMPLESUPPORT_H

// What every example shares: its command line (--config, --seed, --episodes,
// --csv, --out, --poll), a CSV learning curve (one row per episode), and the way it
// ends when a SIGTERM or SIGINT stops it: the learner returns from
// controlLoop, the example saves what it learnt and exits with 128 + the
// signal's number, as a shell reports a program ended by that signal, so
// that job runners see the run as not finished.

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <sys/stat.h>

struct ExampleOptions {
    std::string config;  // configuration file of the learner
    std::string csv;     // learning curve; empty: none
    std::string out;     // where the learnt value function is saved
    unsigned int seed = 1;
    bool seedGiven = false;
    int episodes;
    // The learner polls its control signals after every poll-th step (and
    // at the end of every episode): 64 makes the poll's system call cost
    // almost nothing, at the price of SIGINT taking up to 63 steps longer.
    int poll = 1;
    // Options of one example alone: --name value.
    std::map<std::string, std::string> extra;

    ExampleOptions(const std::string& name, int defaultEpisodes)
        : config(name + ".conf"), out(name + ".tembra"), episodes(defaultEpisodes) {}

    // Returns false (after printing the usage) on a bad command line.
    bool parse(int argc, char** argv) {
        for (int i = 1; i < argc; ++i) {
            const std::string arg = argv[i];
            const bool hasValue = i + 1 < argc;
            if (arg == "--config" && hasValue) {
                config = argv[++i];
            } else if (arg == "--csv" && hasValue) {
                csv = argv[++i];
            } else if (arg == "--out" && hasValue) {
                out = argv[++i];
            } else if (arg == "--seed" && hasValue) {
                char* end = nullptr;
                const unsigned long value = std::strtoul(argv[++i], &end, 10);
                if (end == nullptr || *end != '\0') return usage(argv[0]);
                seed = static_cast<unsigned int>(value);
                seedGiven = true;
            } else if (arg == "--episodes" && hasValue) {
                char* end = nullptr;
                const long value = std::strtol(argv[++i], &end, 10);
                if (end == nullptr || *end != '\0' || value < 1 || value > 100000000) return usage(argv[0]);
                episodes = static_cast<int>(value);
            } else if (arg == "--poll" && hasValue) {
                char* end = nullptr;
                const long value = std::strtol(argv[++i], &end, 10);
                if (end == nullptr || *end != '\0' || value < 1 || value > 1000000000) return usage(argv[0]);
                poll = static_cast<int>(value);
            } else if (arg.size() > 2 && arg.compare(0, 2, "--") == 0 && hasValue) {
                extra[arg.substr(2)] = argv[++i];
            } else {
                return usage(argv[0]);
            }
        }
        return true;
    }

    bool usage(const char* program) const {
        std::cerr << "usage: " << program << " [--config FILE] [--seed N] [--episodes N] [--csv FILE] [--out FILE]"
                  << " [--poll N]" << std::endl;
        return false;
    }
};

// The learners block their control signals while they live. An example
// blocks them for its whole run instead: a SIGTERM that arrives between two
// learners, or while one is saving, then waits for the next learner's poll
// instead of ending the program before its results are written.
inline void blockControlSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGUSR1);
    sigaddset(&signals, SIGUSR2);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
}

// Exit status of a run that a signal stopped (0 when none did).
inline int stopStatus(bool sigTermReceived, bool sigIntReceived) {
    if (sigTermReceived) return 128 + SIGTERM;
    if (sigIntReceived) return 128 + SIGINT;
    return 0;
}

// The file of one of several learning curves: label before the
// extension ("curve.csv", "sarsa" -> "curve.sarsa.csv"), or after the name
// when it has none.
inline std::string labelledPath(const std::string& path, const std::string& label) {
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == slash + 1 || dot == 0) {
        return path + "." + label;
    }
    return path.substr(0, dot) + "." + label + path.substr(dot);
}

inline bool fileExists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// One row per episode: episode,steps,return[,error]. Each row is flushed as
// it is written, so that a run stopped at any moment leaves complete lines;
// an episode that SIGINT cut short gets no row (its return is not an
// episode's return).
class LearningCurve {
public:
    LearningCurve(const std::string& path, const std::string& errorColumn) {
        if (path.empty()) return;
        out_.open(path, std::ios::trunc);
        if (!out_) {
            std::cerr << "cannot write " << path << std::endl;
            return;
        }
        out_ << "episode,steps,return" << (errorColumn.empty() ? "" : "," + errorColumn) << "\n";
    }
    void row(int episode, int steps, double ret) {
        if (out_) out_ << episode << ',' << steps << ',' << ret << "\n" << std::flush;
    }
    void row(int episode, int steps, double ret, double error) {
        if (out_) out_ << episode << ',' << steps << ',' << ret << ',' << error << "\n" << std::flush;
    }

private:
    std::ofstream out_;
};

#endif
