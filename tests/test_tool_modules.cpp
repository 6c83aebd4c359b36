// The tools' modules in process: the sweep's plan (values, seeds, the runs
// and their job lines), its summary arithmetic, and the configuration check.
// tests/test_tools.cpp runs the built tools as a user does.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ConfigCheck.h"
#include "TestSupport.h"
#include "sweep/SweepCommandLine.h"
#include "sweep/SweepError.h"
#include "sweep/SweepFiles.h"
#include "sweep/SweepPlan.h"
#include "sweep/SweepSummary.h"

using test_support::readText;
using test_support::TempDir;
using test_support::writeText;
using namespace tembra_sweep;

namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) result.push_back(line);
    return result;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The SweepError an action throws: its status, and its message after a '|'.
std::string thrown(const std::function<void()>& action) {
    try {
        action();
    } catch (const SweepError& error) {
        return std::to_string(error.status()) + "|" + error.what();
    }
    return "nothing thrown";
}

}  // namespace

// --- the plan ------------------------------------------------------------------

TEST(SweepPlan, RefusesWhatAConfigurationCannotHoldAndBadSeeds) {
    const std::vector<std::pair<std::string, std::string>> sets = {
        {"SPEED=1", "unknown key 'SPEED' (ALPHA, LAMBDA, GAMMA, ACTION_SELECTION, EPSILON, TEMPERATURE, TRACES, "},
        {"ALPHA", "--set takes KEY=VALUE"},
        {"ALPHA=0.1,abc", "ALPHA takes numbers"},
        {"ALPHA=0.1,", "ALPHA takes numbers"},
        {"ALPHA=nan", "ALPHA takes numbers"},
        {"ALPHA=0.1,0.10", "are the same in a configuration file (0.1)"},
        // Six significant digits: these two would be one configuration.
        {"ALPHA=0.1000001,0.1000002", "are the same in a configuration file"},
        {"TRACES=replacing", "TRACES takes NONE, REPLACING or ACCUMULATING"},
        {"ACTION_SELECTION=GREEDY,softmax", "ACTION_SELECTION takes GREEDY, EPSILON_GREEDY or SOFTMAX"},
    };
    for (const auto& c : sets) {
        const std::string error = thrown([&] { parseSet(c.first); });
        EXPECT_EQ(error.compare(0, 2, "2|"), 0) << c.first << ": " << error;
        EXPECT_TRUE(contains(error, c.second)) << c.first << ": " << error;
    }
    const std::vector<std::pair<std::string, std::string>> seeds = {
        {"3-1", "seed range 3-1 runs backwards"},
        {"1,2,1", "seed 1 is given twice"},
        {"4294967296", "a seed is a number"},
        {"1-", "a seed is a number"},
        {"0-1000000", "is too long"},
    };
    for (const auto& c : seeds) {
        const std::string error = thrown([&] { parseSeeds(c.first); });
        EXPECT_EQ(error.compare(0, 2, "2|"), 0) << c.first << ": " << error;
        EXPECT_TRUE(contains(error, c.second)) << c.first << ": " << error;
    }
    EXPECT_EQ(parseSeeds("4294967295"), std::vector<unsigned long>{4294967295ul});
    EXPECT_EQ(parseSeeds("5,1-3,9"), (std::vector<unsigned long>{5, 1, 2, 3, 9}));
}

TEST(SweepPlan, RunsVaryTheLastSetFastestAndTheSeedFastestOfAll) {
    // Numbers as the configuration file writes them.
    const std::vector<Parameter> parameters = {parseSet("TRACES=ACCUMULATING,NONE"), parseSet("ALPHA=0.250,1e-5")};
    const std::vector<tembra_sweep::Run> runs = makeRuns(parameters, parseSeeds("7,3"));
    const std::vector<std::string> names = {"TRACES=ACCUMULATING,ALPHA=0.25", "TRACES=ACCUMULATING,ALPHA=1e-05",
                                            "TRACES=NONE,ALPHA=0.25", "TRACES=NONE,ALPHA=1e-05"};
    const std::vector<std::string> command = {"/bin/echo", "--config", "{conf}", "--seed", "{seed}", "--into", "{dir}"};
    const std::vector<std::string> index = lines(runList(runs));
    const std::vector<std::string> jobs = lines(jobList(command, "/x/runs", runs));
    ASSERT_EQ(runs.size(), 8u);
    ASSERT_EQ(index.size(), 9u);
    ASSERT_EQ(jobs.size(), 8u);
    EXPECT_EQ(index[0], "run\tcombination\tseed\tdirectory");
    for (std::size_t c = 0; c < names.size(); ++c) {
        for (std::size_t s = 0; s < 2; ++s) {
            const std::size_t run = 2 * c + s;
            const std::string seed = s == 0 ? "7" : "3";
            const std::string runDir = names[c] + "/seed-" + seed;
            std::string label = names[c];
            label[label.find(',')] = ' ';
            EXPECT_EQ(runs[run].values, (std::vector<std::string>{c < 2 ? "ACCUMULATING" : "NONE",
                                                                  c % 2 == 0 ? "0.25" : "1e-05"}));
            EXPECT_EQ(index[run + 1], std::to_string(run + 1) + "\t" + label + "\t" + seed + "\t" + runDir);
            EXPECT_EQ(jobs[run], "cd /x/runs/" + runDir + " && exec /bin/echo --config /x/runs/" + runDir +
                                     "/run.conf --seed " + seed + " --into /x/runs/" + runDir + " > output.txt 2>&1");
        }
    }
    // Without swept values every seed runs the base; words the shell would
    // split or expand are quoted.
    const std::vector<tembra_sweep::Run> base = makeRuns({}, parseSeeds("2"));
    ASSERT_EQ(base.size(), 1u);
    EXPECT_EQ(base[0].combination, "base");
    EXPECT_EQ(jobLine({"/bin/sh", "-c", "echo $HOME 'x'"}, "/my runs/base/seed-2", base[0]),
              "cd '/my runs/base/seed-2' && exec /bin/sh -c 'echo $HOME '\\''x'\\''' > output.txt 2>&1");
    EXPECT_TRUE(contains(thrown([] { makeRuns({parseSet("GAMMA=0.1,0.2")}, parseSeeds("1-500001")); }),
                         "2|more than 1000000 runs"));
}

// --- the summary ---------------------------------------------------------------

namespace {

struct Summary {
    int runs = 0;
    double mean = NAN;
    double stderror = NAN;
};

// summary.csv by combination and file.
std::map<std::string, Summary> readSummary(const std::string& path) {
    std::map<std::string, Summary> result;
    const std::vector<std::string> all = lines(readText(path));
    EXPECT_FALSE(all.empty());
    if (all.empty()) return result;
    EXPECT_EQ(all[0], "combination,file,runs,expected,episodes_min,episodes_max,last_min,last_max,mean,stderr");
    for (std::size_t i = 1; i < all.size(); ++i) {
        std::vector<std::string> f;
        std::istringstream in(all[i]);
        for (std::string field; std::getline(in, field, ',');) f.push_back(field);
        EXPECT_EQ(f.size(), 10u) << all[i];
        if (f.size() != 10u) continue;
        Summary s;
        s.runs = std::atoi(f[2].c_str());
        s.mean = std::strtod(f[8].c_str(), nullptr);
        s.stderror = std::strtod(f[9].c_str(), nullptr);
        result[f[0] + "|" + f[1]] = s;
    }
    return result;
}

CommandLine commandLine(const std::vector<const char*>& words) {
    std::vector<const char*> argv = {"tembra-sweep"};
    argv.insert(argv.end(), words.begin(), words.end());
    return parseCommandLine(static_cast<int>(argv.size()), argv.data());
}

}  // namespace

TEST(SweepSummary, AveragesTheLastEpisodesOfCompleteLines) {
    TempDir dir;
    const std::string runs = dir.file("runs");
    const std::vector<tembra_sweep::Run> plan = makeRuns({parseSet("GAMMA=0.9,1")}, parseSeeds("1-3"));
    for (const tembra_sweep::Run& run : plan) makeDirectories(runs + "/" + run.directory);
    writeText(runs + "/runs.tsv", runList(plan));
    // Returns chosen so that the sums are exact.
    const std::string header = "episode,steps,return\n";
    writeText(runs + "/GAMMA=0.9/seed-1/c.csv", header + "1,5,-10\n2,5,-4\n3,5,-2\n4,5,0\n");
    writeText(runs + "/GAMMA=0.9/seed-2/c.csv", header + "1,5,-8\n2,5,-6\n3,5,-4\n4,5,-2\n");
    // A run still writing: its last line is not complete yet.
    writeText(runs + "/GAMMA=0.9/seed-3/c.csv", header + "1,5,-9\n2,5,-7\n3,5,-3\n4,5,-1\n5,5,-10");
    writeText(runs + "/GAMMA=1/seed-1/c.csv", header + "1,3,-3\n2,3,-1\n");
    writeText(runs + "/GAMMA=1/seed-2/c.csv", header + "1,3,-5\n2,3,-3\n");
    // seed 3 of GAMMA=1 has not written anything yet.

    std::ostringstream out, warnings;
    ASSERT_EQ(summarize(commandLine({"--summarize", runs.c_str(), "--last", "2"}).summary, out, warnings), 0);
    EXPECT_TRUE(contains(warnings.str(), "incomplete last line left out")) << warnings.str();
    std::map<std::string, Summary> summary = readSummary(runs + "/summary.csv");
    ASSERT_EQ(summary.size(), 2u);
    // GAMMA=0.9: per run -1, -3, -2: mean -2, sd 1, stderr 1/sqrt(3).
    EXPECT_EQ(summary["GAMMA=0.9|c.csv"].runs, 3);
    EXPECT_DOUBLE_EQ(summary["GAMMA=0.9|c.csv"].mean, -2.0);
    EXPECT_DOUBLE_EQ(summary["GAMMA=0.9|c.csv"].stderror, 1.0 / std::sqrt(3.0));
    // GAMMA=1: per run -2, -4: mean -3, sd sqrt(2), stderr 1.
    EXPECT_EQ(summary["GAMMA=1|c.csv"].runs, 2);
    EXPECT_DOUBLE_EQ(summary["GAMMA=1|c.csv"].mean, -3.0);
    EXPECT_DOUBLE_EQ(summary["GAMMA=1|c.csv"].stderror, 1.0);
    EXPECT_TRUE(contains(out.str(), "2/3")) << out.str();

    // The mean curve over the runs, episode by episode.
    EXPECT_EQ(readText(runs + "/summary/GAMMA=1/c.csv"), "episode,steps,return,stderr,runs\n1,3,-4,1,2\n2,3,-2,1,2\n");

    // 50% of 4 episodes is 2 as well; of 2 episodes it is 1.
    ASSERT_EQ(summarize(commandLine({"--summarize", runs.c_str(), "--last", "50%"}).summary, out, warnings), 0);
    summary = readSummary(runs + "/summary.csv");
    EXPECT_DOUBLE_EQ(summary["GAMMA=0.9|c.csv"].mean, -2.0);
    EXPECT_DOUBLE_EQ(summary["GAMMA=1|c.csv"].mean, -2.0);

    SummaryOptions nowhere;
    nowhere.dir = dir.file("nowhere");
    EXPECT_TRUE(contains(thrown([&] { summarize(nowhere, out, warnings); }), "1|"));
    // A run list pointing outside the sweep is damaged, not followed.
    writeText(runs + "/runs.tsv", "run\tcombination\tseed\tdirectory\n1\tGAMMA=1\t1\t../elsewhere/seed-1\n");
    EXPECT_TRUE(contains(thrown([&] { readRunList(runs); }), "1|")) << thrown([&] { readRunList(runs); });
    EXPECT_TRUE(contains(thrown([&] { readRunList(runs); }), "damaged line"));
    EXPECT_EQ(thrown([] { commandLine({"--summarize", "runs", "--last", "0"}); }).substr(0, 2), "2|");
    EXPECT_EQ(thrown([] { commandLine({"--summarize", "runs", "--last", "101%"}); }).substr(0, 2), "2|");
}

TEST(SweepSummary, TakesTheLastEpisodesRoundedUpAndWithinTheRun) {
    struct Case {
        long long episodes, last;
        double percent;
        long long expected;
    };
    const Case cases[] = {
        {30, 0, 10, 3}, {4, 0, 50, 2}, {2, 0, 50, 1}, {5, 0, 10, 1}, {11, 0, 10, 2},
        {100, 0, 100, 100}, {3, 10, 10, 3}, {7, 2, 10, 2}, {1, 0, 1, 1},
    };
    for (const Case& c : cases) {
        SummaryOptions options;
        options.last = c.last;
        options.lastPercent = c.percent;
        EXPECT_EQ(lastEpisodes(c.episodes, options), c.expected) << c.episodes << " " << c.last << " " << c.percent;
    }
    const MeanAndError none = meanAndStandardError({});
    EXPECT_TRUE(std::isnan(none.mean) && std::isnan(none.stderror));
    const MeanAndError one = meanAndStandardError({4.5});
    EXPECT_EQ(one.mean, 4.5);
    EXPECT_TRUE(std::isnan(one.stderror));
}

// --- the configuration check ---------------------------------------------------------

TEST(ConfigCheck, FindsWhatTheLearnersWouldIgnoreMisreadOrRefuse) {
    struct Case {
        std::string text;
        std::vector<std::pair<int, std::string>> findings;  // line, key phrase
    };
    const std::string nul(1, '\0');
    const Case cases[] = {
        {"# settings\n\nALPHA 0.1\nACTION_SELECTION SOFTMAX\nTRACES NONE\nTEMPERATURE 2\nTRACE_VALUE 1\n", {}},
        {"", {}},
        {"ALPA 0.5\n", {{1, "unknown key 'ALPA' is ignored (did you mean ALPHA?)"}}},
        {"alpha 0.5\n", {{1, "(keys are case-sensitive: ALPHA)"}}},
        {"SPEED 3\n", {{1, "unknown key 'SPEED' is ignored (the keys: ALPHA, LAMBDA, GAMMA, ACTION_SELECTION, "}}},
        {"ALPHA 0,5\n", {{1, "ALPHA '0,5' is a number only as far as '0': the library takes 0"}}},
        {"GAMMA 0.5xyz\n", {{1, "only as far as '0.5': the library takes 0.5"}}},
        {"ALPHA 0.3 # learning rate\n", {{1, "only as far as '0.3'"}}},
        {"ALPHA 0.3" + nul + "7\n", {{1, "only as far as '0.3'"}}},
        {"EPSILON = 0.1\n", {{1, "EPSILON '= 0.1' is not a number: the library takes 0 (a key and its value are "}}},
        {"LAMBDA abc\n", {{1, "LAMBDA 'abc' is not a number"}}},
        {"ALPHA \n", {{1, "ALPHA has no value: the library takes 0"}}},
        {"ALPHA inf\n", {{1, "'inf' is not a finite number: the library refuses it"}}},
        {"ALPHA 1.5\nGAMMA -0.1\nLAMBDA 1\nEPSILON 0\n",
         {{1, "ALPHA 1.5 is outside its sensible range ([0, 1])"}, {2, "GAMMA -0.1 is outside"}}},
        {"TEMPERATURE 0\nTRACE_VALUE -1\n", {{1, "(greater than 0)"}, {2, "TRACE_VALUE -1 is outside"}}},
        {"TRACES replacing\n",
         {{1, "TRACES 'replacing' is not one of NONE, REPLACING or ACCUMULATING: the library refuses it (the words "}}},
        {"ACTION_SELECTION SOFT_MAX\n", {{1, "is not one of GREEDY, EPSILON_GREEDY or SOFTMAX: the library refuses"}}},
        {"ACTION_SELECTION SOFTMAX \n",
         {{1, "ACTION_SELECTION ends in invisible characters (a blank)"}, {1, "(invisible characters around the word)"}}},
        {"TRACES  NONE\n", {{1, "TRACES ' NONE' is not one of"}}},
        {"GAMMA 0.7\r\nLAMBDA 0.2 \t \n",
         {{1, "GAMMA ends in invisible characters (a carriage return)"}, {2, "(2 blanks and a tab)"}}},
        {"ALPHA\r\n", {{1, "ends in invisible characters (a carriage return)"}, {1, "ALPHA has no value"}}},
        {"ALPHA 0.1\nGAMMA 0.9\nALPHA 0.2\n", {{3, "ALPHA is set again (first on line 1): the later value wins"}}},
        {" ALPHA 0.1\n\tGAMMA 0.9\n", {{1, "starts with a blank or a tab"}, {2, "starts with a blank or a tab"}}},
        // The separator is one character: a key alone takes the next line.
        {"GAMMA\nALPHA 0.3\n", {{1, "'GAMMA' is alone on its line: the library takes line 2 as its value"},
                                {2, "GAMMA 'ALPHA 0.3' is not a number"}}},
        {"ALPHA=0.3\nGAMMA 0.2\n",
         {{1, "alone on its line"}, {1, "unknown key 'ALPHA=0.3' is ignored (a key and its value are separated by "}}},
        {"ALPHA 0.3\nGAMMA", {{2, "GAMMA has no value before the end of the file"}}},
        // Reading ends after an over-long line: GAMMA 2 is never read.
        {"#" + std::string(511, 'c') + "\nGAMMA 2\n", {{1, "longer than 511 characters"}}},
        {"ALPHA 0.5" + std::string(600, ' ') + "\nGAMMA 2\n",
         {{1, "ends in invisible characters (508 blanks)"}, {1, "longer than 511 characters"}}},
        {std::string(600, 'A') + " 0.3\nGAMMA 2\n", {{1, "a word longer than 511 characters"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40));
        std::istringstream in(c.text);
        const std::vector<tembra_tools::ConfigCheck::Finding> findings = tembra_tools::ConfigCheck::check(in);
        ASSERT_EQ(findings.size(), c.findings.size());
        for (std::size_t i = 0; i < findings.size(); ++i) {
            EXPECT_EQ(findings[i].line, c.findings[i].first) << findings[i].message;
            EXPECT_TRUE(contains(findings[i].message, c.findings[i].second)) << findings[i].message;
        }
    }
}
