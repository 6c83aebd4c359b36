#ifndef TEMBRA_EXAMPLES_EXAMPLESUPPORT_H
#define TEMBRA_EXAMPLES_EXAMPLESUPPORT_H

// What every example shares: its command line (--config, --seed, --episodes,
// --csv, --out) and a CSV learning curve (one row per episode).

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <sys/stat.h>

struct ExampleOptions {
    std::string config;   // configuration file of the learner
    std::string csv;      // learning curve; empty: none
    std::string out;      // where the learnt value function is saved
    unsigned int seed = 1;
    bool seedGiven = false;
    int episodes;
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
            } else if (arg.size() > 2 && arg.compare(0, 2, "--") == 0 && hasValue) {
                extra[arg.substr(2)] = argv[++i];
            } else {
                return usage(argv[0]);
            }
        }
        return true;
    }

    bool usage(const char* program) const {
        std::cerr << "usage: " << program
                  << " [--config FILE] [--seed N] [--episodes N] [--csv FILE] [--out FILE]" << std::endl;
        return false;
    }
};

inline bool fileExists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// One row per episode: episode,steps,return[,error].
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
