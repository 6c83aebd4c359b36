// The tools' modules in process: tembra-sweep's command line, plan, runner
// (up to the hand-over to GNU parallel) and summary, and the configuration
// check. tests/test_tools.cpp runs the built tools as a user does.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "ConfigCheck.h"
#include "TestSupport.h"
#include "sweep/SweepCommandLine.h"
#include "sweep/SweepError.h"
#include "sweep/SweepFiles.h"
#include "sweep/SweepPlan.h"
#include "sweep/SweepRunner.h"
#include "sweep/SweepSummary.h"
#include "sweep/SweepText.h"

using namespace test_support;
using namespace tembra_sweep;
using testing::HasSubstr;

namespace {

// "status|message" of a tembra-sweep command line run in process: DIR in it
// stands for dir, '^' for a blank inside a word. A sweep that passes its
// checks stops before GNU parallel (a dry run) unless it is for Slurm.
std::string outcome(const std::string& arguments, const std::string& dir) {
    std::vector<std::string> words = {"tembra-sweep"};
    for (std::string word : split(replaceAll(arguments, "DIR", dir), ' ')) words.push_back(replaceAll(word, "^", " "));
    std::vector<const char*> argv;
    for (const std::string& word : words) argv.push_back(word.c_str());
    try {
        CommandLine line = parseCommandLine(static_cast<int>(argv.size()), argv.data());
        line.sweep.dryRun = line.sweep.dryRun || !line.sweep.slurm;
        const int status = line.summarizing ? summarize(line.summary, std::cout, std::cerr) : runSweep(line.sweep);
        return std::to_string(status) + "|";
    } catch (const SweepError& error) {
        return std::to_string(error.status()) + "|" + error.what();
    }
}

// The eight lines of a configuration file as the learners write them.
std::string configuration(const std::string& alpha, const std::string& lambda, const std::string& gamma,
                          const std::string& selection, const std::string& traces) {
    return "ALPHA " + alpha + "\nLAMBDA " + lambda + "\nGAMMA " + gamma + "\nACTION_SELECTION " + selection +
           "\nEPSILON 0.1\nTEMPERATURE 0.5\nTRACES " + traces + "\nTRACE_VALUE 1\n";
}

}  // namespace

TEST(SweepCommandLine, RefusesUsageErrorsWithStatusTwoBeforeWritingAnything) {
    TempDir dir;
    writeText(dir.file("typo.conf"), "ALPA 0.5\nGAMMA 0.9\n");
    const std::string run = " --out DIR/runs -- /bin/echo {conf} {seed}";
    const std::pair<std::string, std::string> cases[] = {
        {"--set SPEED=1" + run, "unknown key 'SPEED' (ALPHA, LAMBDA, GAMMA, ACTION_SELECTION, EPSILON, TEMPERATURE, "},
        {"--set ALPHA" + run, "--set takes KEY=VALUE"},
        {"--set ALPHA=0.1,abc" + run, "ALPHA takes numbers"},
        // Six significant digits: these two would be one configuration.
        {"--set ALPHA=0.1000001,0.1000002" + run, "are the same in a configuration file (0.1)"},
        {"--set TRACES=replacing" + run, "TRACES takes NONE, REPLACING or ACCUMULATING"},
        {"--set ALPHA=0.1 --set ALPHA=0.2" + run, "ALPHA is swept twice"},
        {"--seeds 3-1" + run, "seed range 3-1 runs backwards"},
        {"--seeds 1,2,1" + run, "seed 1 is given twice"},
        {"--seeds 4294967296" + run, "a seed is a number"},
        {"--seeds 0-1000000" + run, "is too long"},
        {"--set GAMMA=0.1,0.2 --seeds 1-500001" + run, "more than 1000000 runs"},
        {"--base DIR/missing.conf" + run, "cannot read the base configuration"},
        {"--base DIR/typo.conf" + run, "the base configuration " + dir.file("typo.conf") + " has the problems listed"},
        {"--set ALPHA=0.1 --out DIR/runs -- /bin/echo {seed}", "does not use {conf}"},
        {"--out DIR/runs -- DIR/nothing", "is not an executable file"},
        {"--set ALPHA=0.1", "--out DIR is missing"},
        {"--out DIR/runs -- /bin/echo a^b^\nc", "a line break in the command"},
        {"--slurm --resume" + run, "GNU parallel's"},
        {"--slurm --dry-run" + run, "choose one"},
        {"--time 1:00" + run, "go with --slurm"},
        {"--slurm --jobs 50%" + run, "number of array tasks"},
        // The warning would come as the runs start; Slurm rounds M:S up to a whole minute.
        {"--slurm --time 0:30 --signal-time 60" + run, "not shorter than --time 0:30 (60 s)"},
        {"--slurm --signal-time 65536" + run, "up to 65535"},
        {"--slurm --out DIR/back\\slash -- /bin/echo", "cannot hold a backslash"},
        {"--sshlogin ssh^-p^2222^node" + run, "without spaces"},
        {"--bogus" + run, "unknown argument '--bogus'"},
        {"--last 5" + run, "go with --summarize"},
        {"--summarize DIR --set ALPHA=1", "--summarize takes only"},
        {"--summarize DIR --last 0", "--last takes a number of episodes or a percentage"},
        {"--summarize DIR --last 101%", "--last takes"},
        {"--summarize DIR --csv a/b.csv", "a file name, not a path"},
    };
    for (const auto& c : cases) {
        testing::internal::CaptureStderr();
        const std::string result = outcome(c.first, dir.path()), err = testing::internal::GetCapturedStderr();
        EXPECT_THAT(result, testing::StartsWith("2|")) << c.first;
        EXPECT_THAT(result, HasSubstr(c.second)) << c.first;
        // A base the configuration check finds fault with: its findings come first.
        EXPECT_THAT(err, HasSubstr(c.first.find("typo") == std::string::npos ? "" : "typo.conf:1: unknown key 'ALPA'"));
    }
    EXPECT_EQ(readText(dir.file("runs/jobs.txt")), "") << "a refused sweep wrote its job list";
    // Seeds in the order given, each once.
    EXPECT_EQ(parseSeeds("5,1-3,7-7,4294967295"), (std::vector<unsigned long>{5, 1, 2, 3, 7, 4294967295ul}));
}

TEST(SweepRunner, WritesEachRunsDirectoryConfigurationAndJobInTheOrderOfThePlan) {
    TempDir dir;
    writeText(dir.file("base.conf"), "# a comment\nGAMMA 0.5\nTRACES NONE\nACTION_SELECTION EPSILON_GREEDY\n");
    // Numbers as the configuration file writes them; the last --set varies fastest, the seed fastest of all.
    const std::string sweep = "--base DIR/base.conf --set TRACES=ACCUMULATING,NONE --set ALPHA=0.250,1e-5 --seeds 7,3";
    const std::string command = " -- /bin/echo --config {conf} --seed {seed} --into {dir}";
    ASSERT_EQ(outcome(sweep + " --out DIR/runs" + command, dir.path()), "0|");
    const std::string out = canonicalPath(dir.path()) + "/runs/";
    const std::vector<std::string> index = linesOf(readText(out + "runs.tsv"));
    const std::vector<std::string> jobs = linesOf(readText(out + "jobs.txt"));
    ASSERT_EQ(index.size(), 9u);
    ASSERT_EQ(jobs.size(), 8u);
    EXPECT_EQ(index[0], "run\tcombination\tseed\tdirectory");
    for (std::size_t run = 0; run < 8; ++run) {
        const std::string traces = run < 4 ? "ACCUMULATING" : "NONE", alpha = run / 2 % 2 == 0 ? "0.25" : "1e-05";
        const std::string seed = run % 2 == 0 ? "7" : "3", combination = "TRACES=" + traces + " ALPHA=" + alpha;
        const std::string runDir = replaceAll(combination, " ", ",") + "/seed-" + seed;
        EXPECT_EQ(index[run + 1], std::to_string(run + 1) + "\t" + combination + "\t" + seed + "\t" + runDir);
        EXPECT_EQ(jobs[run], "cd " + out + runDir + " && exec /bin/echo --config " + out + runDir +
                                 "/run.conf --seed " + seed + " --into " + out + runDir + " > output.txt 2>&1");
        EXPECT_EQ(readText(out + runDir + "/run.conf"), configuration(alpha, "0.5", "0.5", "EPSILON_GREEDY", traces));
    }
    EXPECT_EQ(readText(out + "base.conf"), configuration("0.1", "0.5", "0.5", "EPSILON_GREEDY", "NONE"));
    // The same sweep again is fine, however its directory is written; another one into the same place is not.
    EXPECT_EQ(outcome(sweep + " --out DIR/./runs/" + command, dir.path()), "0|");
    EXPECT_THAT(outcome("--set ALPHA=0.5 --out DIR/runs -- /bin/echo {conf}", dir.path()),
                HasSubstr("2|" + dir.file("runs") + " already holds a different sweep"));
    // Without a base the runs start from the library's defaults.
    ASSERT_EQ(outcome("--set LAMBDA=0.9 --out DIR/plain -- /bin/echo {conf}", dir.path()), "0|");
    EXPECT_EQ(readText(dir.file("plain/LAMBDA=0.9/seed-1/run.conf")),
              configuration("0.1", "0.9", "0.9", "GREEDY", "REPLACING"));
    // Without swept values every seed runs the base; words the shell would split or expand are quoted.
    const tembra_sweep::Run base = makeRuns({}, {2}).at(0);
    EXPECT_EQ(base.combination, "base");
    EXPECT_EQ(jobLine({"/bin/sh", "-c", "echo $HOME 'x'", "it's"}, "/my runs/base/seed-2", base),
              "cd '/my runs/base/seed-2' && exec /bin/sh -c 'echo $HOME '\\''x'\\''' 'it'\\''s' > output.txt 2>&1");
}

// --- the summary ---------------------------------------------------------------

TEST(SweepSummary, AveragesTheLastEpisodesOfCompleteLines) {
    TempDir dir;
    const std::string runs = dir.file("runs");
    const std::vector<tembra_sweep::Run> plan = makeRuns({parseSet("GAMMA=0.9,1")}, parseSeeds("1-3"));
    for (const tembra_sweep::Run& run : plan) makeDirectories(runs + "/" + run.directory);
    writeText(runs + "/runs.tsv", runList(plan));
    // Returns chosen so that the sums are exact.
    const std::string header = "episode,steps,return\n";
    writeText(runs + "/GAMMA=0.9/seed-1/c.csv", header + "1,5,-10\n2,5,-4\n3,5,-2\n4,5,0\n");
    writeText(runs + "/GAMMA=0.9/seed-2/c.csv", header + "1,5,-8\n2,5,-6\r\n3,5,-4\n4,5,-2\n");
    // A run still writing: its last line is not complete yet.
    writeText(runs + "/GAMMA=0.9/seed-3/c.csv", header + "1,5,-9\n2,5,-7\n3,5,-3\n4,5,-1\n5,5,-10");
    writeText(runs + "/GAMMA=1/seed-1/c.csv", header + "1,3,-3\n2,3,-1\n");
    writeText(runs + "/GAMMA=1/seed-2/c.csv", header + "1,3,-5\n2,3,-3\n3,3,-1\n");
    // seed 3 of GAMMA=1 has not written anything yet; a file that is not a curve is left out.
    writeText(runs + "/GAMMA=1/seed-3/c.csv", header + "1,x,-3\n");

    // GAMMA=0.9: per run -1, -3, -2: mean -2, sd 1, stderr 1/sqrt(3).
    // GAMMA=1: per run -2, -2 (the last 2 of 3 episodes): mean -2, stderr 0.
    ASSERT_EQ(outcome("--summarize DIR --last 2", runs), "0|");
    EXPECT_EQ(readText(runs + "/summary.csv"),
              "combination,file,runs,expected,episodes_min,episodes_max,last_min,last_max,mean,stderr\n"
              "GAMMA=0.9,c.csv,3,3,4,4,2,2,-2,0.57735026918962584\nGAMMA=1,c.csv,2,3,2,3,2,2,-2,0\n");
    // The mean curve over the runs, episode by episode, as far as any run went.
    EXPECT_EQ(readText(runs + "/summary/GAMMA=1/c.csv"),
              "episode,steps,return,stderr,runs\n1,3,-4,1,2\n2,3,-2,1,2\n3,3,-1,nan,1\n");
    // 50% of 4 episodes is 2; of 2 and 3 episodes it is 1 and 2.
    testing::internal::CaptureStdout();
    ASSERT_EQ(outcome("--summarize DIR --last 50%", runs), "0|");
    EXPECT_THAT(testing::internal::GetCapturedStdout(),
                testing::ContainsRegex("\nGAMMA=1 +c.csv +2/3 +2-3 +1-2 +-1.5 +0.5\n"));
    EXPECT_EQ(linesOf(readText(runs + "/summary.csv"))[2], "GAMMA=1,c.csv,2,3,2,3,1,2,-1.5,0.5");
    testing::internal::CaptureStderr();
    EXPECT_EQ(outcome("--summarize DIR --last 100%", runs), "0|");
    const std::string warnings = testing::internal::GetCapturedStderr();
    EXPECT_THAT(warnings, HasSubstr("seed-3/c.csv: incomplete last line left out"));
    EXPECT_THAT(warnings, HasSubstr("seed-3/c.csv: line 2: 'x' is not a number; run left out"));

    // A run list pointing outside the sweep is damaged, not followed.
    writeText(runs + "/runs.tsv", "run\tcombination\tseed\tdirectory\n1\tGAMMA=1\t1\t../elsewhere/seed-1\n");
    EXPECT_THAT(outcome("--summarize DIR", runs), testing::MatchesRegex("1\\|.*runs.tsv: damaged line .*"));
    EXPECT_THAT(outcome("--summarize DIR/nowhere", runs), testing::MatchesRegex("1\\|.*nowhere is not a sweep dir.*"));
}

TEST(SweepSummary, TakesTheLastEpisodesRoundedUpAndWithinTheRun) {
    const struct { long long episodes, last; double percent; long long expected; } cases[] = {
        {30, 0, 10, 3}, {4, 0, 50, 2}, {2, 0, 50, 1}, {5, 0, 10, 1}, {11, 0, 10, 2},
        {100, 0, 100, 100}, {3, 10, 10, 3}, {7, 2, 10, 2}, {1, 0, 1, 1}};
    for (const auto& c : cases) {
        SummaryOptions options;
        options.last = c.last;
        options.lastPercent = c.percent;
        EXPECT_EQ(lastEpisodes(c.episodes, options), c.expected) << c.episodes << " " << c.last << " " << c.percent;
    }
    EXPECT_TRUE(std::isnan(meanAndStandardError({}).mean));
    EXPECT_TRUE(std::isnan(meanAndStandardError({4.5}).stderror));
}

// --- the configuration check ---------------------------------------------------------

TEST(ConfigCheck, FindsWhatTheLearnersWouldIgnoreMisreadOrRefuse) {
    // The findings: line and key phrase.
    const struct { std::string text; std::vector<std::pair<int, std::string>> findings; } cases[] = {
        {"# settings\n\nALPHA 0.1\nACTION_SELECTION SOFTMAX\nTRACES NONE\nTEMPERATURE 2\nTRACE_VALUE 1\n", {}},
        {"ALPA 0.5\n", {{1, "unknown key 'ALPA' is ignored (did you mean ALPHA?)"}}},
        {"alpha 0.5\n", {{1, "(keys are case-sensitive: ALPHA)"}}},
        {"ALPHA 0,5\n", {{1, "ALPHA '0,5' is a number only as far as '0': the library takes 0"}}},
        {"EPSILON = 0.1\n", {{1, "EPSILON '= 0.1' is not a number: the library takes 0 (a key and its value are "}}},
        {"ALPHA \n", {{1, "ALPHA has no value: the library takes 0"}}},
        {"ALPHA inf\n", {{1, "'inf' is not a finite number: the library refuses it"}}},
        {"ALPHA 1.5\nGAMMA -0.1\nLAMBDA 1\nEPSILON 0\n",
         {{1, "ALPHA 1.5 is outside its sensible range ([0, 1])"}, {2, "GAMMA -0.1 is outside"}}},
        {"TEMPERATURE 0\nTRACE_VALUE -1\n", {{1, "(greater than 0)"}, {2, "TRACE_VALUE -1 is outside"}}},
        {"TRACES replacing\n",
         {{1, "TRACES 'replacing' is not one of NONE, REPLACING or ACCUMULATING: the library refuses it (the words "}}},
        {"ACTION_SELECTION SOFT_MAX\n", {{1, "is not one of GREEDY, EPSILON_GREEDY or SOFTMAX: the library refuses"}}},
        {"ACTION_SELECTION SOFTMAX \n",
         {{1, "ACTION_SELECTION ends in invisible characters (a blank)"}, {1, "(invisible characters around the"}}},
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
        // Reading ends after an over-long line: GAMMA 2 is never read.
        {"#" + std::string(511, 'c') + "\nGAMMA 2\n", {{1, "longer than 511 characters"}}},
        {"ALPHA 0.5" + std::string(600, ' ') + "\nGAMMA 2\n",
         {{1, "ends in invisible characters (508 blanks)"}, {1, "longer than 511 characters"}}},
        {std::string(600, 'A') + " 0.3\nGAMMA 2\n", {{1, "a word longer than 511 characters"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40));
        std::istringstream in(c.text);
        const std::vector<tembra_tools::ConfigCheck::Finding> findings = tembra_tools::ConfigCheck::check(in);
        ASSERT_EQ(findings.size(), c.findings.size());
        for (std::size_t i = 0; i < findings.size(); ++i) {
            EXPECT_EQ(findings[i].line, c.findings[i].first) << findings[i].message;
            EXPECT_THAT(findings[i].message, HasSubstr(c.findings[i].second));
        }
    }
}
