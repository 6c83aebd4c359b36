// The command-line tools and the examples as a user runs them: tembra-inspect
// on files of every kind the library writes and on damaged ones, the usage
// errors of both tools, tembra-sweep run by GNU parallel and by its Slurm
// script, the examples stopped by SIGTERM, and the learning-curve script.
// Their modules are tested in process in test_tool_modules.cpp. The build
// tells where the programs are (tools/CMakeLists.txt); whatever it does not
// name is skipped, and so is what needs GNU parallel or gnuplot without them.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "ActionLookupTable.h"
#include "ActionTileCoding.h"
#include "NeuralNetwork.h"
#include "StateLookupTable.h"
#include "StateTileCoding.h"
#include "TestSupport.h"

using namespace test_support;
using testing::HasSubstr;

namespace {

#ifndef TEMBRA_INSPECT_PROGRAM  // the tools are built all or none, and so are the examples
#define TEMBRA_INSPECT_PROGRAM nullptr
#define TEMBRA_SWEEP_PROGRAM nullptr
#define TEMBRA_TOOL_RUNNER ""
#define TEMBRA_LEARNING_CURVE_SCRIPT nullptr
#endif
#ifndef TEMBRA_EXAMPLE_RANDOM_WALK
#define TEMBRA_EXAMPLE_RANDOM_WALK nullptr
#define TEMBRA_EXAMPLE_CLIFF_WALKING nullptr
#define TEMBRA_EXAMPLE_RANDOM_WALK_NN nullptr
#define TEMBRA_EXAMPLE_MOUNTAIN_CAR nullptr
#endif
const char* const INSPECT = TEMBRA_INSPECT_PROGRAM;
const char* const SWEEP = TEMBRA_SWEEP_PROGRAM;

#define SKIP_WITHOUT(program) \
    if ((program) == nullptr) GTEST_SKIP() << #program " is not part of this build"
#define SKIP_UNLESS_INSTALLED(name) \
    if (std::system("command -v " name " > /dev/null 2>&1") != 0) GTEST_SKIP() << name " is not installed"

std::string quote(const std::string& path) { return "'" + path + "'"; }  // a path without quotes in it

// A built program as a command word, behind the cross build's emulator.
std::string program(const char* path) {
    return (*TEMBRA_TOOL_RUNNER == '\0' ? "" : TEMBRA_TOOL_RUNNER " ") + quote(path);
}

struct Result {
    int status;  // -1 when the shell did not exit normally
    std::string out, err;
};

// Runs a shell command line in dir with its output captured.
Result run(const TempDir& dir, const std::string& command) {
    const std::string out = dir.file(".out"), err = dir.file(".err");
    const int raw = std::system(
        ("cd " + quote(dir.path()) + " && " + command + " > " + quote(out) + " 2> " + quote(err)).c_str());
    return Result{raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readText(out), readText(err)};
}

// The episodes of a learning curve, checked: a header, then complete lines
// of the given number of fields, numbered 1, 2, ... without a gap.
std::size_t episodes(const std::string& path, const std::size_t fields) {
    const std::string text = readText(path);
    EXPECT_TRUE(!text.empty() && text.back() == '\n') << path << " is empty or ends inside a line";
    const std::vector<std::string> all = linesOf(text);
    for (std::size_t i = 1; i < all.size(); ++i) {
        EXPECT_EQ(all[i].rfind(std::to_string(i) + ",", 0), 0u) << path << ": " << all[i];
        EXPECT_EQ(std::count(all[i].begin(), all[i].end(), ','), fields - 1) << all[i];
    }
    return all.empty() ? 0 : all.size() - 1;
}

// Weights -1, -0.5, 0, 0.5, ... in index order.
int rampCounter = 0;
const double ramp() { return -1.0 + 0.5 * rampCounter++; }

class Move : public AbstractAction {};

// The INT grid row 0..2, column -1..1, or one DOUBLE variable on [0, high].
State* newState(const char* name = nullptr, const double high = 0) {
    State* state = new State();
    if (name == nullptr) {
        state->registerVariable("row", 0, 2);
        state->registerVariable("column", -1, 1);
    } else {
        state->registerVariable(name, 0.0, high);
    }
    return state;
}

template <class V>
int save(V&& values, const std::string& file, const bool ramped = true) {
    rampCounter = 0;
    if (ramped) values.initWeights(ramp);
    return values.save(file);
}

// --- tembra-inspect -----------------------------------------------------------

TEST(Tools, InspectDescribesEveryKindAndBothRefuseWhatTheyCannotUseWithAStatusAndAReason) {
    SKIP_WITHOUT(INSPECT);
    // weights: lines of --weights by number; "" is one line past the last.
    const struct {
        std::string kind;
        int (*write)(const std::string&);
        std::string description;
        std::vector<std::pair<std::size_t, std::string>> weights;
    } kinds[] = {
        {"lookup-v", [](const std::string& f) { return save(StateLookupTable(newState()), f); },
         "state        2 INT variables\n  0  row     [0, 2]\n  1  column  [-1, 1]\n"
         "table        strides 3 1, ARRAY_SIZE 9, traces MAP\nweights      9: min -1, mean 1, max 3\n",
         {{0, "index,row,column,weight"}, {6, "5,1,1,1.5"}, {10, ""}}},
        // Row-major over (row, column), the action fastest within a state.
        {"lookup-q",
         [](const std::string& f) {
             ActionLookupTable q(newState());
             for (int a = 0; a < 3; ++a) q.registerAction(new Move());
             q.create();
             return save(q, f);
         },
         "table        strides 9 3, ARRAY_SIZE 27, traces MAP\nACTIONS      3\n"
         "weights      27: min -1, mean 5.5, max 12\n",
         {{0, "index,state,row,column,action,weight"}, {6, "5,1,0,0,2,1.5"}, {23, "22,7,2,0,1,10"}, {28, ""}}},
        // 2 x 3 input-hidden and 3 x 1 hidden-output weights: -1 ... 3.
        {"network",
         [](const std::string& f) {
             NeuralNetwork network(newState("position", 20.0), 2);
             network.setScaleFactor(0, 0.05);
             return save(network, f);
         },
         "state        1 DOUBLE variable\n  0  position  [0, 20]\nnetwork      layers 2 (inputs, bias included), "
         "3 (hidden, extra neuron included), 1 (output)\n             scale factors 0.05\n"
         "weights      9: min -1, mean 1, max 3\n",
         {{0, "index,layer,from,to,weight"}, {5, "4,input-hidden,1,1,1"}, {9, "8,hidden-output,2,0,3"}, {10, ""}}},
        // [0, 8] at resolution 0.5 in 4 tilings: 4 tiles of width 2; WRAP one more.
        {"tiles-v",
         [](const std::string& f) {
             State* state = newState("position", 8.0);
             state->registerVariable("velocity", -1.0, 1.0);
             StateTileCoding v(state);
             v.registerTiling(new StateTilings(4, {{0, 0.5, Types::CLIP}}));
             v.registerTiling(new StateTilings(2, {{0, 0.5, Types::WRAP}, {1, 0.25, Types::CIRCLE}}));
             return save(v, f, false);
         },
         "tile coding  2 groups, 6 tilings in all\n  group 0    4 tilings, ARRAY_SIZE 16, traces MAP\n"
         "             position: CLIP, 4 tiles of width 2, resolution 0.5\n  group 1    2 tilings, ARRAY_SIZE "
         "72, traces MAP\n             position: WRAP, 9 tiles of width 1, resolution 0.5\n"
         "             velocity: CIRCLE, 4 tiles of width 0.5, resolution 0.25\n",
         {{0, "group,index,tiling,tile,weight"}, {6, "0,5,1,1,0"}}},
        // Weight 4 of a group of 4 tilings and 3 actions: tile 0, action 1, tiling 0.
        {"tiles-q",
         [](const std::string& f) {
             ActionTileCoding q(newState("position", 8.0));
             for (int a = 0; a < 3; ++a) q.registerAction(new Move());
             q.registerTiling(new ActionTilings(4, {{0, 0.5, Types::CLIP}}));
             return save(q, f, false);
         },
         "tile coding  1 group, 4 tilings in all\n  group 0    4 tilings, ARRAY_SIZE 48, traces MAP\n"
         "             position: CLIP, 4 tiles of width 2, resolution 0.5\nACTIONS      3\n",
         {{0, "group,index,tiling,tile,action,weight"}, {5, "0,4,0,0,1,0"}, {14, "0,13,1,1,0,0"}, {49, ""}}},
    };
    TempDir dir;
    for (const auto& c : kinds) {
        SCOPED_TRACE(c.kind);
        ASSERT_EQ(c.write(dir.file(c.kind)), 0);
        const Result r = run(dir, program(INSPECT) + " " + c.kind);
        EXPECT_EQ(r.out.rfind("file         " + c.kind + "\nkind         " + c.kind + ": ", 0), 0u) << r.err;
        EXPECT_THAT(r.out, HasSubstr(c.description));
        const std::vector<std::string> rows = linesOf(run(dir, program(INSPECT) + " --weights " + c.kind).out);
        for (const auto& line : c.weights) EXPECT_EQ(rows.size() > line.first ? rows[line.first] : "", line.second);
    }

    const Bytes q = readFile(dir.file("lookup-q")), n = readFile(dir.file("network"));
    const auto cut = [](const Bytes& bytes, const long drop) { return Bytes(bytes.begin(), bytes.end() - drop); };
    // Cut inside the State block, inside the body, one byte short; longer.
    writeFile(dir.file("cut.q"), cut(q, static_cast<long>(q.size()) - 40));
    writeFile(dir.file("short.q"), cut(q, 1));
    writeFile(dir.file("short.v"), cut(n, 8));
    Bytes longer = q;
    longer.push_back(0);
    writeFile(dir.file("longer1.q"), longer);
    longer.push_back(7);
    writeFile(dir.file("longer.q"), longer);
    writeText(dir.file("notes.txt"), "ALPHA 0.1\nLAMBDA 0.5\n");
    // Counts that promise more than the file holds.
    writeText(dir.file("huge.bin"), std::string("\xff\xff\xff\x7f\x01\x00\x00\x00\xff\xff\xff\x7f", 12));
    writeText(dir.file("empty"), "");
    writeText(dir.file("good.conf"), "# tuned\nALPHA 0.5\nTRACES NONE\n");
    writeText(dir.file("bad.conf"), "ALPHA 0.5\nEPSILON = 0.1\nTRACES none\r\n");
    const std::string unreadable = "no reader reads it exactly to its end", usage = "usage: tembra-inspect FILE";
    // The phrase is on stdout or stderr; the other stays empty but for usage errors.
    const struct { const char* tool; std::string arguments; int status; bool onStdout; std::string phrase; } cases[] = {
        {INSPECT, "cut.q", 1, false, unreadable},
        {INSPECT, "short.q", 1, false, unreadable},
        {INSPECT, "short.v", 1, false, unreadable},
        {INSPECT, "notes.txt", 1, false, unreadable},
        {INSPECT, "huge.bin", 1, false, unreadable},
        {INSPECT, "longer.q", 1, false, "a complete lookup-q value function followed by 2 stray bytes"},
        {INSPECT, "longer1.q", 1, false, "followed by 1 stray byte\n"},
        {INSPECT, "empty", 1, false, "empty file"},
        {INSPECT, "missing.v", 1, false, "No such file or directory"},
        {INSPECT, ".", 1, false, "is a directory"},
        {INSPECT, "--kind network lookup-q", 1, false, "not readable as network: "},  // the reader's own reason
        // The configuration check, line by line.
        {INSPECT, "--config good.conf", 0, true, "good.conf: ok\n"},
        {INSPECT, "--config=bad.conf", 1, true, "bad.conf:2: EPSILON '= 0.1' is not a number"},
        {INSPECT, "--config=bad.conf", 1, true, "\nbad.conf:3: TRACES 'none\\x0d' is not one of NONE, REPLACING"},
        // Usage errors: status 2, and why.
        {INSPECT, "", 2, false, usage},
        {INSPECT, "good.conf good.conf", 2, false, "one file at a time"},
        {INSPECT, "--kind", 2, false, usage},
        {INSPECT, "--kind tiles good.conf", 2, false, "unknown kind 'tiles' (known: lookup-v, lookup-q, "},
        {INSPECT, "--bogus good.conf", 2, false, "unknown option --bogus"},
        {INSPECT, "--config good.conf --weights", 2, false, "--config goes without --kind and --weights"},
        {INSPECT, "--help", 0, true, "--config FILE  check a configuration file"},
        // One line, and where to look for more (the sweep's refusals: test_tool_modules.cpp).
        {SWEEP, "--set ALPHA=0.1 --out runs -- /bin/echo", 2, false,
         "tembra-sweep: the command does not use {conf}: every run would learn with the same configuration (see "
         "tembra-sweep --help)\n"},
        {SWEEP, "--summarize nowhere", 1, false, "tembra-sweep: nowhere is not a sweep directory (no runs.tsv)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const Result r = run(dir, program(c.tool) + " " + c.arguments);
        EXPECT_EQ(r.status, c.status);
        EXPECT_THAT(c.onStdout ? r.out : r.err, HasSubstr(c.phrase));
        EXPECT_TRUE(c.status == 2 || (c.onStdout ? r.err : r.out).empty()) << r.out << r.err;
        // A refused file: one line, naming it.
        if (c.status != 1 || c.onStdout || c.tool != INSPECT) continue;
        EXPECT_EQ(linesOf(r.err).size(), 1u) << r.err;
        EXPECT_EQ(r.err.rfind("tembra-inspect: " + c.arguments.substr(c.arguments.rfind(' ') + 1) + ": ", 0), 0u);
    }
}

// --- tembra-sweep -------------------------------------------------------------

TEST(ToolsSweep, RunsWithGnuParallelAndSummarisesOverSeeds) {
    SKIP_WITHOUT(TEMBRA_EXAMPLE_CLIFF_WALKING);
    SKIP_UNLESS_INSTALLED("parallel");
    TempDir dir;
    writeText(dir.file("base.conf"), "GAMMA 1\nACTION_SELECTION EPSILON_GREEDY\nTRACES NONE\n");
    const Result r = run(dir, program(SWEEP) + " --base base.conf --set ALPHA=0.1,0.5 --set EPSILON=0.05,0.2" +
                                  " --seeds 1-3 --out runs --jobs 2 -- " + program(TEMBRA_EXAMPLE_CLIFF_WALKING) +
                                  " --config {conf} --seed {seed} --csv {dir}/curve.csv --episodes 30");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    // Per combination and learner: 3 runs of 3, 30 episodes each, the last 10% summarised.
    ASSERT_EQ(run(dir, program(SWEEP) + " --summarize runs").status, 0);
    const std::vector<std::string> summary = linesOf(readText(dir.file("runs/summary.csv")));
    ASSERT_EQ(summary.size(), 9u);
    for (std::size_t i = 1; i < summary.size(); ++i) EXPECT_THAT(summary[i], HasSubstr(".csv,3,3,30,30,3,3,-"));
}

TEST(ToolsSweep, ResumesFromGnuParallelsJobLogWithTheControlSignalsUnblocked) {
    SKIP_WITHOUT(SWEEP);
    SKIP_UNLESS_INSTALLED("parallel");
    TempDir dir;
    // Each run counts its starts; seed 2 fails until its directory holds "ok".
    const std::string sweep = program(SWEEP) + " --seeds 1-3 --out runs --jobs 2";
    const std::string job =
        " -- /bin/sh -c 'grep SigBlk /proc/self/status > mask; echo ran >> count; [ -e ok ] || [ {seed} != 2 ]'";
    EXPECT_EQ(run(dir, sweep + job).status, 1) << "GNU parallel's count of failed jobs";
    writeText(dir.file("runs/base/seed-2/ok"), "");
    EXPECT_EQ(run(dir, sweep + " --resume" + job).status, 0);
    EXPECT_EQ(readText(dir.file("runs/base/seed-2/count")), "ran\n") << "--resume does not retry a failed job";
    EXPECT_EQ(run(dir, sweep + " --resume-failed" + job).status, 0);
    EXPECT_EQ(run(dir, "cat runs/base/seed-*/count").out, "ran\nran\nran\nran\n");
    // Whatever the sweep did before it handed over, the jobs start with the
    // four control signals unblocked.
    const std::string mask = readText(dir.file("runs/base/seed-1/mask"));
    ASSERT_THAT(mask, testing::StartsWith("SigBlk:"));
    const unsigned long long blocked = std::strtoull(mask.c_str() + 7, nullptr, 16);
    for (const int sig : {SIGUSR1, SIGUSR2, SIGTERM, SIGINT}) EXPECT_EQ(blocked & (1ull << (sig - 1)), 0u) << sig;
}

TEST(ToolsSweep, SlurmScriptRunsTheJobOfItsArrayIndex) {
    SKIP_WITHOUT(TEMBRA_EXAMPLE_RANDOM_WALK);
    TempDir dir;
    const Result r = run(dir, program(SWEEP) + " --set ALPHA=0.05,0.1 --set LAMBDA=0,0.9 --seeds 1-3 --out runs" +
                                  " --slurm --jobs 4 --time 0:10:00 -- " + program(TEMBRA_EXAMPLE_RANDOM_WALK) +
                                  " --config {conf} --seed {seed} --csv {dir}/curve.csv --episodes 5");
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* line : {"\n#SBATCH --array=1-12%4\n", "\n#SBATCH --signal=B:TERM@120\n", "--time=0:10:00\n"})
        EXPECT_THAT(readText(dir.file("runs/sweep.sbatch")), HasSubstr(line));
    // Tasks 2 and 11: seed 2 of the first combination, seed 2 of the last.
    for (const std::string task : {"2", "11", "0", "13", "", "x"}) {
        const int status = run(dir, "SLURM_ARRAY_TASK_ID=" + task + " bash runs/sweep.sbatch").status;
        EXPECT_EQ(status, task == "2" || task == "11" ? 0 : 2) << "task '" << task << "'";
    }
    EXPECT_EQ(run(dir, "ls runs/*/seed-*/random_walk.v").out,
              "runs/ALPHA=0.05,LAMBDA=0/seed-2/random_walk.v\nruns/ALPHA=0.1,LAMBDA=0.9/seed-2/random_walk.v\n");
    EXPECT_EQ(episodes(dir.file("runs/ALPHA=0.1,LAMBDA=0.9/seed-2/curve.csv"), 4), 5u);
}

// --- the examples, stopped -------------------------------------------------------

TEST(ExamplesStopped, BySigtermEachSavesWhatItLearntAndAWholeCurve) {
    SKIP_WITHOUT(TEMBRA_EXAMPLE_RANDOM_WALK);
    // The curve of the learner that runs first: its fields, and the lines after which it is stopped.
    const struct { const char* example; std::string curve; std::size_t fields, rows; std::string saved; } cases[] = {
        {TEMBRA_EXAMPLE_RANDOM_WALK, "curve.csv", 4, 20, "random_walk.v"},
        {TEMBRA_EXAMPLE_CLIFF_WALKING, "curve.sarsa.csv", 3, 20, "cliff_walking.sarsa.q"},
        {TEMBRA_EXAMPLE_RANDOM_WALK_NN, "curve.csv", 4, 20, "random_walk_nn.v"},
        {TEMBRA_EXAMPLE_MOUNTAIN_CAR, "curve.csv", 3, 5, "mountain_car.q"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.saved);
        TempDir dir;
        // Once the curve has `rows` lines (two minutes at most), SIGTERM; the example's exit status.
        const Result r = run(dir, "{ " + program(c.example) + " --episodes 100000000 --csv curve.csv > output.txt &" +
                                      " pid=$!; i=0; while [ \"$(cat " + c.curve + " 2> /dev/null | wc -l)\" -lt " +
                                      std::to_string(c.rows) + " ] && [ $i -lt 6000 ]; do sleep 0.02; i=$((i + 1));" +
                                      " done; kill -TERM $pid; wait $pid; }");
        EXPECT_EQ(r.status, 128 + SIGTERM) << r.err;
        EXPECT_GE(episodes(dir.file(c.curve), c.fields), c.rows - 1);
        // What it saved reads back exactly to its end, by the library's reader of its kind.
        EXPECT_EQ(run(dir, program(INSPECT) + " " + c.saved).status, 0);
        EXPECT_THAT(readText(dir.file("output.txt")), HasSubstr("SIGTERM received"));
        EXPECT_EQ(readText(dir.file("curve.watkins.csv")), "") << "cliff walking's second learner ran after the stop";
    }
}

// --- the learning-curve script ----------------------------------------------------

TEST(LearningCurveScript, DrawsCurvesOfFilesOfAnotherColumnAndOfASweepsMeanCurves) {
    SKIP_WITHOUT(TEMBRA_LEARNING_CURVE_SCRIPT);
    SKIP_UNLESS_INSTALLED("gnuplot");
    TempDir dir;
    std::string curve = "episode,steps,return,rms_error\n";
    for (int e = 1; e <= 50; ++e) curve += std::to_string(e) + ",10," + std::to_string(-100 + e) + ",0.5\n";
    ASSERT_EQ(run(dir, "mkdir -p runs/summary/ALPHA=0.1 runs/summary/ALPHA=0.2").status, 0);
    for (const char* file : {"a.csv", "runs/summary/ALPHA=0.1/curve.csv", "runs/summary/ALPHA=0.2/curve.csv"})
        writeText(dir.file(file), curve);
    const Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    const std::string script = "-c " + quote(TEMBRA_LEARNING_CURVE_SCRIPT) + " ";
    const std::string draws[][3] = {{"", "files.png", " a.csv runs/summary/ALPHA=0.1/curve.csv"},
                                    {"-e 'column=\"rms_error\"; window=1; ymin=0' ", "error.png", " a.csv"},
                                    {"", "summary.png", " runs/summary"}};
    for (const auto& d : draws) {
        EXPECT_EQ(run(dir, "gnuplot " + d[0] + script + d[1] + d[2]).status, 0) << d[1];
        const Bytes drawn = readFile(dir.file(d[1]));
        EXPECT_TRUE(drawn.size() > 100 && std::equal(png.begin(), png.end(), drawn.begin())) << d[1];
    }
}

}  // namespace
