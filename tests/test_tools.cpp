// The command-line tools and the examples as a user runs them: tembra-inspect
// on files of every kind the library writes and on damaged ones, tembra-sweep
// through GNU parallel and through its Slurm script, its summary against
// sums the test makes itself, the examples stopped by SIGTERM and SIGINT,
// and the learning-curve script. The build tells where the programs are
// (tools/CMakeLists.txt); whatever it does not name is skipped, and so are
// the tests that need GNU parallel or gnuplot when they are not installed.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "AbstractAction.h"
#include "ActionLookupTable.h"
#include "NeuralNetwork.h"
#include "State.h"
#include "StateLookupTable.h"
#include "TestSupport.h"

#if __has_include("StateTileCoding.h") && __has_include("ActionTileCoding.h")
#include <list>

#include "ActionTileCoding.h"
#include "StateTileCoding.h"
#define TEST_TILES 1
#else
#define TEST_TILES 0
#endif

using test_support::readFile;
using test_support::readText;
using test_support::TempDir;
using test_support::writeText;

namespace {

#ifdef TEMBRA_INSPECT_PROGRAM
const char* const INSPECT = TEMBRA_INSPECT_PROGRAM;
const char* const SWEEP = TEMBRA_SWEEP_PROGRAM;
const char* const RUNNER = TEMBRA_TOOL_RUNNER;
const char* const CURVE_SCRIPT = TEMBRA_LEARNING_CURVE_SCRIPT;
#else
const char* const INSPECT = nullptr;
const char* const SWEEP = nullptr;
const char* const RUNNER = "";
const char* const CURVE_SCRIPT = nullptr;
#endif
#ifdef TEMBRA_EXAMPLE_RANDOM_WALK
const char* const RANDOM_WALK = TEMBRA_EXAMPLE_RANDOM_WALK;
#else
const char* const RANDOM_WALK = nullptr;
#endif
#ifdef TEMBRA_EXAMPLE_CLIFF_WALKING
const char* const CLIFF_WALKING = TEMBRA_EXAMPLE_CLIFF_WALKING;
#else
const char* const CLIFF_WALKING = nullptr;
#endif
#ifdef TEMBRA_EXAMPLE_RANDOM_WALK_NN
const char* const RANDOM_WALK_NN = TEMBRA_EXAMPLE_RANDOM_WALK_NN;
#else
const char* const RANDOM_WALK_NN = nullptr;
#endif
#ifdef TEMBRA_EXAMPLE_MOUNTAIN_CAR
const char* const MOUNTAIN_CAR = TEMBRA_EXAMPLE_MOUNTAIN_CAR;
#else
const char* const MOUNTAIN_CAR = nullptr;
#endif

#define SKIP_WITHOUT(program)                                                                  \
    do {                                                                                       \
        if ((program) == nullptr) GTEST_SKIP() << #program " is not part of this build";     \
    } while (0)

std::string quote(const std::string& word) {
    std::string quoted = "'";
    for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// A built program as a command word, behind the cross build's emulator.
std::string program(const char* path) {
    const std::string runner = RUNNER;
    return (runner.empty() ? "" : runner + " ") + quote(path);
}

bool installed(const std::string& name) {
    return std::system(("command -v " + name + " > /dev/null 2>&1").c_str()) == 0;
}

struct Result {
    int status = -1;  // exit status; -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// Runs a shell command line in dir with its output captured.
Result run(const TempDir& dir, const std::string& command) {
    const std::string out = dir.file(".out"), err = dir.file(".err");
    const std::string line = "cd " + quote(dir.path()) + " && " + command + " > " + quote(out) + " 2> " + quote(err);
    const int raw = std::system(line.c_str());
    Result result;
    result.status = raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = readText(out);
    result.err = readText(err);
    return result;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) result.push_back(line);
    return result;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator)) parts.push_back(part);
    if (!text.empty() && text.back() == separator) parts.push_back("");
    return parts;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Weights -1, -0.5, 0, 0.5, ... in index order.
int rampCounter = 0;
const double ramp() { return -1.0 + 0.5 * rampCounter++; }

class Move : public AbstractAction {
public:
    void addInformation(std::ostream& os) const override { os << "move"; }
};

void writeLookupV(const std::string& file) {
    State* state = new State();
    state->registerVariable("row", 0, 2);
    state->registerVariable("column", -1, 1);
    StateLookupTable table(state);
    rampCounter = 0;
    table.initWeights(ramp);
    ASSERT_EQ(table.save(file), 0);
}

void writeLookupQ(const std::string& file) {
    State* state = new State();
    state->registerVariable("row", 0, 2);
    state->registerVariable("column", -1, 1);
    ActionLookupTable table(state);
    for (int a = 0; a < 3; ++a) table.registerAction(new Move());
    table.create();
    rampCounter = 0;
    table.initWeights(ramp);
    ASSERT_EQ(table.save(file), 0);
}

void writeNetwork(const std::string& file) {
    State* state = new State();
    state->registerVariable("position", 0.0, 20.0);
    NeuralNetwork network(state, 2);
    network.setScaleFactor(0, 0.05);
    rampCounter = 0;
    network.initWeights(ramp);
    ASSERT_EQ(network.save(file), 0);
}

// --- tembra-inspect -----------------------------------------------------------

TEST(ToolsInspect, DescribesEveryKindTheLibraryWrites) {
    SKIP_WITHOUT(INSPECT);
    TempDir dir;
    writeLookupV(dir.file("table.v"));
    writeLookupQ(dir.file("table.q"));
    writeNetwork(dir.file("network.v"));

    Result v = run(dir, program(INSPECT) + " table.v");
    ASSERT_EQ(v.status, 0) << v.err;
    EXPECT_EQ(v.err, "");
    EXPECT_TRUE(contains(v.out, "kind         lookup-v: ")) << v.out;
    EXPECT_TRUE(contains(v.out, "state        2 INT variables\n")) << v.out;
    EXPECT_TRUE(contains(v.out, "  0  row     [0, 2]\n")) << v.out;
    EXPECT_TRUE(contains(v.out, "  1  column  [-1, 1]\n")) << v.out;
    EXPECT_TRUE(contains(v.out, "table        strides 3 1, ARRAY_SIZE 9, traces MAP\n")) << v.out;
    EXPECT_FALSE(contains(v.out, "ACTIONS")) << v.out;
    // Weights -1 ... 3 in steps of 0.5.
    EXPECT_TRUE(contains(v.out, "weights      9: min -1, mean 1, max 3\n")) << v.out;
    EXPECT_FALSE(contains(v.out, "also readable")) << v.out;

    Result q = run(dir, program(INSPECT) + " table.q");
    ASSERT_EQ(q.status, 0) << q.err;
    EXPECT_TRUE(contains(q.out, "kind         lookup-q: ")) << q.out;
    EXPECT_TRUE(contains(q.out, "table        strides 9 3, ARRAY_SIZE 27, traces MAP\n")) << q.out;
    EXPECT_TRUE(contains(q.out, "ACTIONS      3\n")) << q.out;
    EXPECT_TRUE(contains(q.out, "weights      27: min -1, mean 5.5, max 12\n")) << q.out;

    Result n = run(dir, program(INSPECT) + " network.v");
    ASSERT_EQ(n.status, 0) << n.err;
    EXPECT_TRUE(contains(n.out, "kind         network: ")) << n.out;
    EXPECT_TRUE(contains(n.out, "state        1 DOUBLE variable\n")) << n.out;
    EXPECT_TRUE(contains(n.out, "  0  position  [0, 20]\n")) << n.out;
    EXPECT_TRUE(contains(n.out, "layers 2 (inputs, bias included), 3 (hidden, extra neuron included), 1 (output)"))
        << n.out;
    EXPECT_TRUE(contains(n.out, "scale factors 0.05\n")) << n.out;
    // 2 x 3 input-hidden and 3 x 1 hidden-output weights: -1 ... 3.
    EXPECT_TRUE(contains(n.out, "weights      9: min -1, mean 1, max 3\n")) << n.out;

    // The kind given explicitly reads the same.
    EXPECT_EQ(run(dir, program(INSPECT) + " --kind lookup-q table.q").out, q.out);
}

#if TEST_TILES
TEST(ToolsInspect, DescribesTileCodedValueFunctions) {
    SKIP_WITHOUT(INSPECT);
    TempDir dir;
    {
        State* state = new State();
        state->registerVariable("position", 0.0, 8.0);
        state->registerVariable("velocity", -1.0, 1.0);
        StateTileCoding v(state);
        v.registerTiling(new StateTilings(4, std::list<Types::TILINGS_VAR_STRUCT>{{0, 0.5, Types::CLIP}}));
        v.registerTiling(new StateTilings(2, std::list<Types::TILINGS_VAR_STRUCT>{{0, 0.5, Types::WRAP},
                                                                                  {1, 0.25, Types::CIRCLE}}));
        ASSERT_EQ(v.save(dir.file("tiles.v")), 0);
    }
    {
        State* state = new State();
        state->registerVariable("position", 0.0, 8.0);
        ActionTileCoding q(state);
        for (int a = 0; a < 3; ++a) q.registerAction(new Move());
        q.registerTiling(new ActionTilings(4, std::list<Types::TILINGS_VAR_STRUCT>{{0, 0.5, Types::CLIP}}));
        ASSERT_EQ(q.save(dir.file("tiles.q")), 0);
    }
    Result v = run(dir, program(INSPECT) + " tiles.v");
    ASSERT_EQ(v.status, 0) << v.err;
    EXPECT_TRUE(contains(v.out, "kind         tiles-v: ")) << v.out;
    EXPECT_TRUE(contains(v.out, "tile coding  2 groups, 6 tilings in all\n")) << v.out;
    // [0, 8] at resolution 0.5 in 4 tilings: 4 tiles of width 2; WRAP one more.
    EXPECT_TRUE(contains(v.out, "  group 0    4 tilings, ARRAY_SIZE 16, traces MAP\n")) << v.out;
    EXPECT_TRUE(contains(v.out, "position: CLIP, 4 tiles of width 2, resolution 0.5\n")) << v.out;
    EXPECT_TRUE(contains(v.out, "position: WRAP, 9 tiles of width 1, resolution 0.5\n")) << v.out;
    EXPECT_TRUE(contains(v.out, "velocity: CIRCLE, 4 tiles of width 0.5, resolution 0.25\n")) << v.out;

    Result q = run(dir, program(INSPECT) + " tiles.q");
    ASSERT_EQ(q.status, 0) << q.err;
    EXPECT_TRUE(contains(q.out, "kind         tiles-q: ")) << q.out;
    EXPECT_TRUE(contains(q.out, "  group 0    4 tilings, ARRAY_SIZE 48, traces MAP\n")) << q.out;
    EXPECT_TRUE(contains(q.out, "ACTIONS      3\n")) << q.out;

    // Weight 4 of a group of 4 tilings and 3 actions: tile 0, action 1, tiling 0.
    const std::vector<std::string> rows = lines(run(dir, program(INSPECT) + " tiles.q --weights").out);
    ASSERT_EQ(rows.size(), 49u);
    EXPECT_EQ(rows[0], "group,index,tiling,tile,action,weight");
    EXPECT_EQ(rows[1 + 4], "0,4,0,0,1,0");
    EXPECT_EQ(rows[1 + 13], "0,13,1,1,0,0");
}
#endif

TEST(ToolsInspect, WritesEveryWeightAsCsv) {
    SKIP_WITHOUT(INSPECT);
    TempDir dir;
    writeLookupV(dir.file("table.v"));
    writeLookupQ(dir.file("table.q"));
    writeNetwork(dir.file("network.v"));

    // Row-major over (row, column), the action fastest within a state.
    const std::vector<std::string> q = lines(run(dir, program(INSPECT) + " table.q --weights").out);
    ASSERT_EQ(q.size(), 28u);
    EXPECT_EQ(q[0], "index,state,row,column,action,weight");
    for (int i = 0; i < 27; ++i) {
        std::ostringstream expected;
        expected << i << ',' << i / 3 << ',' << i / 9 << ',' << (i / 3) % 3 - 1 << ',' << i % 3 << ',' << -1.0 + 0.5 * i;
        EXPECT_EQ(q[static_cast<std::size_t>(i) + 1], expected.str());
    }

    const std::vector<std::string> v = lines(run(dir, program(INSPECT) + " table.v --weights").out);
    ASSERT_EQ(v.size(), 10u);
    EXPECT_EQ(v[0], "index,row,column,weight");
    EXPECT_EQ(v[6], "5,1,1,1.5");

    const std::vector<std::string> n = lines(run(dir, program(INSPECT) + " network.v --weights").out);
    ASSERT_EQ(n.size(), 10u);
    EXPECT_EQ(n[0], "index,layer,from,to,weight");
    EXPECT_EQ(n[5], "4,input-hidden,1,1,1");
    EXPECT_EQ(n[7], "6,hidden-output,0,0,2");
    EXPECT_EQ(n[9], "8,hidden-output,2,0,3");
}

// Exit status 1, nothing on stdout, one line on stderr naming the file.
void expectRefused(const TempDir& dir, const std::string& arguments, const std::string& file, const std::string& reason) {
    const Result r = run(dir, program(INSPECT) + " " + arguments);
    EXPECT_EQ(r.status, 1) << arguments << ": " << r.err;
    EXPECT_EQ(r.out, "") << arguments;
    EXPECT_EQ(lines(r.err).size(), 1u) << arguments << ": " << r.err;
    EXPECT_EQ(r.err.compare(0, 16 + file.size(), "tembra-inspect: " + file), 0) << r.err;
    EXPECT_TRUE(contains(r.err, reason)) << arguments << ": " << r.err;
}

TEST(ToolsInspect, RefusesDamagedAndForeignFilesInOneLine) {
    SKIP_WITHOUT(INSPECT);
    TempDir dir;
    writeLookupQ(dir.file("table.q"));
    writeNetwork(dir.file("network.v"));
    const test_support::Bytes q = readFile(dir.file("table.q"));
    const test_support::Bytes n = readFile(dir.file("network.v"));

    // Cut inside the State block, at its end, inside the body, one byte short.
    const std::string unreadable = "no reader reads it exactly to its end";
    for (const std::size_t size : {std::size_t(1), std::size_t(9), std::size_t(40), q.size() / 2, q.size() - 1}) {
        test_support::writeFile(dir.file("cut.q"), test_support::Bytes(q.begin(), q.begin() + static_cast<long>(size)));
        expectRefused(dir, "cut.q", "cut.q", unreadable);
    }
    test_support::writeFile(dir.file("cut.v"), test_support::Bytes(n.begin(), n.end() - 8));
    expectRefused(dir, "cut.v", "cut.v", unreadable);

    writeText(dir.file("notes.txt"), "ALPHA 0.1\nLAMBDA 0.5\n");
    expectRefused(dir, "notes.txt", "notes.txt", unreadable);
    // Counts that promise more than the file holds.
    writeText(dir.file("huge.bin"), std::string("\xff\xff\xff\x7f\x01\x00\x00\x00\xff\xff\xff\x7f", 12));
    expectRefused(dir, "huge.bin", "huge.bin", unreadable);

    test_support::Bytes longer = q;
    longer.push_back(0);
    longer.push_back(7);
    test_support::writeFile(dir.file("longer.q"), longer);
    expectRefused(dir, "longer.q", "longer.q", "a complete lookup-q value function followed by 2 stray bytes");

    writeText(dir.file("empty"), "");
    expectRefused(dir, "empty", "empty", "empty file");
    expectRefused(dir, "missing.v", "missing.v", "No such file or directory");
    expectRefused(dir, ".", ".", "is a directory");

    // With a kind, the reader's own reason.
    expectRefused(dir, "--kind network table.q", "table.q", "not readable as network: ");
    expectRefused(dir, "--kind lookup-v network.v", "network.v", "not readable as lookup-v: ");
}

TEST(ToolsInspect, UsageErrorsExitWithTwo) {
    SKIP_WITHOUT(INSPECT);
    TempDir dir;
    writeLookupV(dir.file("table.v"));
    for (const std::string arguments : {"", "table.v table.v", "--kind", "--kind tiles table.v", "--bogus table.v"}) {
        const Result r = run(dir, program(INSPECT) + " " + arguments);
        EXPECT_EQ(r.status, 2) << arguments;
        EXPECT_EQ(r.out, "") << arguments;
        EXPECT_FALSE(r.err.empty()) << arguments;
    }
    const Result help = run(dir, program(INSPECT) + " --help");
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(contains(help.out, "usage: tembra-inspect FILE")) << help.out;
    EXPECT_TRUE(contains(help.out, "--config FILE")) << help.out;
}

TEST(ToolsInspect, ChecksConfigurationFiles) {
    SKIP_WITHOUT(INSPECT);
    TempDir dir;
    writeText(dir.file("good.conf"), "# tuned\nALPHA 0.5\nTRACES NONE\n");
    writeText(dir.file("bad.conf"), "ALPHA 0.5\nEPSILON = 0.1\nTRACES none\r\n");
    const Result good = run(dir, program(INSPECT) + " --config good.conf");
    EXPECT_EQ(good.status, 0) << good.err;
    EXPECT_EQ(good.out, "good.conf: ok\n");
    const Result bad = run(dir, program(INSPECT) + " --config=bad.conf");
    EXPECT_EQ(bad.status, 1);
    const std::vector<std::string> found = lines(bad.out);
    ASSERT_EQ(found.size(), 3u) << bad.out;
    EXPECT_EQ(found[0].compare(0, 22, "bad.conf:2: EPSILON '="), 0) << found[0];
    EXPECT_EQ(found[1].compare(0, 12, "bad.conf:3: "), 0) << found[1];
    EXPECT_TRUE(contains(bad.out, "'none\\x0d' is not one of NONE, REPLACING or ACCUMULATING")) << bad.out;
    expectRefused(dir, "--config missing.conf", "missing.conf", "No such file or directory");
    for (const std::string arguments : {"--config", "--config good.conf --weights", "--config good.conf bad.conf"}) {
        const Result r = run(dir, program(INSPECT) + " " + arguments);
        EXPECT_EQ(r.status, 2) << arguments;
        EXPECT_EQ(r.out, "") << arguments;
    }
}

// --- tembra-sweep -------------------------------------------------------------

// The eight lines of a configuration file as the learners write them.
std::string configuration(const std::string& alpha, const std::string& lambda, const std::string& gamma,
                          const std::string& selection, const std::string& epsilon, const std::string& traces) {
    return "ALPHA " + alpha + "\nLAMBDA " + lambda + "\nGAMMA " + gamma + "\nACTION_SELECTION " + selection +
           "\nEPSILON " + epsilon + "\nTEMPERATURE 0.5\nTRACES " + traces + "\nTRACE_VALUE 1\n";
}

TEST(ToolsSweep, WritesEveryRunsConfigurationThroughTheLibrary) {
    SKIP_WITHOUT(SWEEP);
    TempDir dir;
    writeText(dir.file("base.conf"), "# a comment\nGAMMA 0.5\nTRACES NONE\nACTION_SELECTION EPSILON_GREEDY\n");
    const Result r = run(dir, program(SWEEP) +
                                  " --base base.conf --set TRACES=ACCUMULATING,NONE --set ALPHA=0.250,1e-5 --seeds 7,3"
                                  " --out runs --dry-run -- /bin/echo --config {conf} --seed {seed} --into {dir}");
    ASSERT_EQ(r.status, 0) << r.err;

    // The runs' order, names and job lines are the plan's (test_tool_modules);
    // here: they reach the files, below the canonical path of --out.
    const std::vector<std::string> names = {"TRACES=ACCUMULATING,ALPHA=0.25", "TRACES=ACCUMULATING,ALPHA=1e-05",
                                            "TRACES=NONE,ALPHA=0.25", "TRACES=NONE,ALPHA=1e-05"};
    const std::vector<std::string> index = lines(readText(dir.file("runs/runs.tsv")));
    const std::vector<std::string> jobs = lines(readText(dir.file("runs/jobs.txt")));
    ASSERT_EQ(index.size(), 9u);
    ASSERT_EQ(jobs.size(), 8u);
    EXPECT_EQ(index[8], "8\tTRACES=NONE ALPHA=1e-05\t3\tTRACES=NONE,ALPHA=1e-05/seed-3");
    char* resolved = realpath(dir.path().c_str(), nullptr);
    ASSERT_NE(resolved, nullptr);
    const std::string out = std::string(resolved) + "/runs/" + names[0] + "/seed-7";
    std::free(resolved);
    EXPECT_EQ(jobs[0], "cd " + out + " && exec /bin/echo --config " + out + "/run.conf --seed 7 --into " + out +
                           " > output.txt 2>&1");
    for (std::size_t c = 0; c < names.size(); ++c) {
        for (std::size_t s = 0; s < 2; ++s) {
            const std::string seed = s == 0 ? "7" : "3";
            const std::string runDir = names[c] + "/seed-" + seed;
            const std::string alpha = c % 2 == 0 ? "0.25" : "1e-05";
            const std::string traces = c < 2 ? "ACCUMULATING" : "NONE";
            EXPECT_EQ(readText(dir.file("runs/" + runDir + "/run.conf")),
                      configuration(alpha, "0.5", "0.5", "EPSILON_GREEDY", "0.1", traces))
                << runDir;
        }
    }
    EXPECT_EQ(readText(dir.file("runs/base.conf")), configuration("0.1", "0.5", "0.5", "EPSILON_GREEDY", "0.1", "NONE"));

    // The same sweep again is fine, however its directory is written;
    // another one into the same place is not.
    EXPECT_EQ(run(dir, program(SWEEP) + " --base base.conf --set TRACES=ACCUMULATING,NONE --set ALPHA=0.250,1e-5"
                                        " --seeds 7,3 --out ./runs/ --dry-run -- /bin/echo --config {conf} --seed {seed}"
                                        " --into {dir}")
                  .status,
              0);
    const Result other = run(dir, program(SWEEP) + " --set ALPHA=0.5 --out runs --dry-run -- /bin/echo {conf}");
    EXPECT_EQ(other.status, 2);
    EXPECT_TRUE(contains(other.err, "already holds a different sweep")) << other.err;

    // Without a base the runs start from the library's defaults.
    ASSERT_EQ(run(dir, program(SWEEP) + " --set LAMBDA=0.9 --out plain --dry-run -- /bin/echo {conf}").status, 0);
    EXPECT_EQ(readText(dir.file("plain/LAMBDA=0.9/seed-1/run.conf")),
              configuration("0.1", "0.9", "0.9", "GREEDY", "0.1", "REPLACING"));
}

TEST(ToolsSweep, RefusesWhatAConfigurationCannotHoldAndOtherUsageErrors) {
    SKIP_WITHOUT(SWEEP);
    TempDir dir;
    // None of these gets as far as running anything.
    const std::string tail = " --out runs -- /bin/echo {conf} {seed}";
    // What --set and --seeds refuse is the plan's (test_tool_modules); here:
    // it reaches the user as a usage error.
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"--set SPEED=1", "unknown key"},
        {"--set TRACES=replacing", "TRACES takes NONE, REPLACING or ACCUMULATING"},
        {"--set ALPHA=0.1 --set ALPHA=0.2", "ALPHA is swept twice"},
        {"--set ALPHA=0.1 --seeds 3-1", "runs backwards"},
        {"--base missing.conf --set ALPHA=0.1", "cannot read the base configuration"},
        {"--base . --set ALPHA=0.1", "is not a file"},
        {"--set ALPHA=0.1 --slurm --resume", "GNU parallel's"},
        {"--set ALPHA=0.1 --slurm --jobs 50%", "number of array tasks"},
        // The warning would come as the runs start: 120 s default, M:S
        // rounded up to a whole minute, D-H:M:S.
        {"--set ALPHA=0.1 --slurm --time 2", "not shorter than --time"},
        {"--set ALPHA=0.1 --slurm --time 0:30 --signal-time 60", "not shorter than --time"},
        {"--set ALPHA=0.1 --slurm --time 0-0:01:00 --signal-time 60", "not shorter than --time"},
        {"--set ALPHA=0.1 --slurm --signal-time 65536", "up to 65535"},
        {"--set ALPHA=0.1 --sshlogin 'ssh -p 2222 node'", "without spaces"},
    };
    for (const auto& c : cases) {
        const Result r = run(dir, program(SWEEP) + " " + c.first + tail);
        EXPECT_EQ(r.status, 2) << c.first;
        EXPECT_EQ(lines(r.err).size(), 1u) << c.first << ": " << r.err;
        EXPECT_TRUE(contains(r.err, c.second)) << c.first << ": " << r.err;
    }
    const Result backslash = run(dir, program(SWEEP) + " --slurm --out 'back\\slash' -- /bin/echo");
    EXPECT_EQ(backslash.status, 2);
    EXPECT_TRUE(contains(backslash.err, "cannot hold a backslash")) << backslash.err;
    // A swept value the command never sees.
    const Result unused = run(dir, program(SWEEP) + " --set ALPHA=0.1 --out runs --dry-run -- /bin/echo {seed}");
    EXPECT_EQ(unused.status, 2);
    EXPECT_TRUE(contains(unused.err, "does not use {conf}")) << unused.err;
    const Result noProgram = run(dir, program(SWEEP) + " --set ALPHA=0.1 --out runs --dry-run -- ./nothing {conf}");
    EXPECT_EQ(noProgram.status, 2);
    EXPECT_TRUE(contains(noProgram.err, "is not an executable file")) << noProgram.err;
    EXPECT_FALSE(test_support::readText(dir.file("missing.conf")).size() > 0) << "the base must not be created";

    // A base the configuration check finds fault with: its findings, then
    // the refusal, before anything is written.
    writeText(dir.file("typo.conf"), "ALPA 0.5\nGAMMA 0.9\n");
    const Result typo = run(dir, program(SWEEP) + " --base typo.conf --set ALPHA=0.1 --out typo -- /bin/echo {conf}");
    EXPECT_EQ(typo.status, 2);
    EXPECT_EQ(lines(typo.err).size(), 2u) << typo.err;
    EXPECT_TRUE(contains(typo.err, "tembra-sweep: typo.conf:1: unknown key 'ALPA'")) << typo.err;
    EXPECT_TRUE(contains(typo.err, "has the problems listed above")) << typo.err;
    EXPECT_TRUE(readText(dir.file("typo/jobs.txt")).empty());
}

// One run's learning curve: the rows of a complete CSV file.
std::vector<std::vector<double>> curveRows(const std::string& path) {
    const std::string text = readText(path);
    EXPECT_FALSE(text.empty()) << path;
    EXPECT_EQ(text.back(), '\n') << path << " ends inside a line";
    std::vector<std::vector<double>> rows;
    const std::vector<std::string> all = lines(text);
    for (std::size_t i = 1; i < all.size(); ++i) {
        std::vector<double> row;
        for (const std::string& field : split(all[i], ',')) row.push_back(std::strtod(field.c_str(), nullptr));
        rows.push_back(row);
    }
    return rows;
}

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
        const std::vector<std::string> f = split(all[i], ',');
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

// Mean and standard error over runs of each run's mean return over its last
// `last` episodes, recomputed from the curves.
Summary expectedSummary(const std::vector<std::vector<std::vector<double>>>& runs, std::size_t last, std::size_t column) {
    std::vector<double> values;
    for (const auto& rows : runs) {
        double sum = 0.0;
        for (std::size_t r = rows.size() - last; r < rows.size(); ++r) sum += rows[r][column];
        values.push_back(sum / static_cast<double>(last));
    }
    Summary s;
    s.runs = static_cast<int>(values.size());
    double sum = 0.0;
    for (const double v : values) sum += v;
    s.mean = sum / static_cast<double>(values.size());
    double squares = 0.0;
    for (const double v : values) squares += (v - s.mean) * (v - s.mean);
    s.stderror = std::sqrt(squares / static_cast<double>(values.size() - 1)) / std::sqrt(static_cast<double>(values.size()));
    return s;
}

TEST(ToolsSweep, RunsWithGnuParallelAndSummarisesOverSeeds) {
    SKIP_WITHOUT(SWEEP);
    SKIP_WITHOUT(CLIFF_WALKING);
    if (!installed("parallel")) GTEST_SKIP() << "GNU parallel is not installed";
    TempDir dir;
    writeText(dir.file("base.conf"), configuration("0.1", "0.5", "1", "EPSILON_GREEDY", "0.1", "NONE"));
    const Result r = run(dir, program(SWEEP) + " --base base.conf --set ALPHA=0.1,0.5 --set EPSILON=0.05,0.2"
                                               " --seeds 1-3 --out runs --jobs 2 -- " +
                                  program(CLIFF_WALKING) + " --config {conf} --seed {seed} --csv {dir}/curve.csv --episodes 30");
    ASSERT_EQ(r.status, 0) << r.out << r.err;

    // Every job ran, and succeeded, according to GNU parallel's job log.
    const std::vector<std::string> log = lines(readText(dir.file("runs/parallel.joblog")));
    ASSERT_EQ(log.size(), 13u);
    for (std::size_t i = 1; i < log.size(); ++i) EXPECT_EQ(split(log[i], '\t').at(6), "0") << log[i];

    const Result s = run(dir, program(SWEEP) + " --summarize runs");
    ASSERT_EQ(s.status, 0) << s.err;
    const std::map<std::string, Summary> summary = readSummary(dir.file("runs/summary.csv"));
    ASSERT_EQ(summary.size(), 8u);
    for (const std::string alpha : {"0.1", "0.5"}) {
        for (const std::string epsilon : {"0.05", "0.2"}) {
            for (const std::string learner : {"sarsa", "watkins"}) {
                const std::string combination = "ALPHA=" + alpha + ",EPSILON=" + epsilon;
                const std::string file = "curve." + learner + ".csv";
                std::vector<std::vector<std::vector<double>>> curves;
                for (int seed = 1; seed <= 3; ++seed) {
                    curves.push_back(curveRows(dir.file("runs/" + combination + "/seed-" + std::to_string(seed) + "/" + file)));
                    ASSERT_EQ(curves.back().size(), 30u);
                    EXPECT_EQ(readText(dir.file("runs/" + combination + "/seed-" + std::to_string(seed) + "/run.conf")),
                              configuration(alpha, "0.5", "1", "EPSILON_GREEDY", epsilon, "NONE"));
                }
                // 10% of 30 episodes: the last 3; the return is column 2.
                const Summary expected = expectedSummary(curves, 3, 2);
                const auto found = summary.find("ALPHA=" + alpha + " EPSILON=" + epsilon + "|" + file);
                ASSERT_NE(found, summary.end()) << combination << " " << file;
                EXPECT_EQ(found->second.runs, 3);
                EXPECT_NEAR(found->second.mean, expected.mean, 1e-12 * (1 + std::fabs(expected.mean)));
                EXPECT_NEAR(found->second.stderror, expected.stderror, 1e-12 * (1 + expected.stderror));
                // The printed table says the same, in six digits.
                char mean[32];
                std::snprintf(mean, sizeof mean, "%.6g", expected.mean);
                EXPECT_TRUE(contains(s.out, mean)) << s.out;
            }
        }
    }
    // The seeds made different runs.
    EXPECT_NE(readText(dir.file("runs/ALPHA=0.5,EPSILON=0.2/seed-1/curve.sarsa.csv")),
              readText(dir.file("runs/ALPHA=0.5,EPSILON=0.2/seed-2/curve.sarsa.csv")));
    // Every run saved what it learnt where it ran.
    const Result inspect = run(dir, program(INSPECT) + " 'runs/ALPHA=0.1,EPSILON=0.2/seed-3/cliff_walking.watkins.q'");
    EXPECT_EQ(inspect.status, 0) << inspect.err;
}

TEST(ToolsSweep, JobsRunWithTheControlSignalsUnblocked) {
    SKIP_WITHOUT(SWEEP);
    if (!installed("parallel")) GTEST_SKIP() << "GNU parallel is not installed";
    TempDir dir;
    // Whatever the sweep did before it handed over to GNU parallel, the jobs
    // start with the four control signals unblocked.
    const Result r =
        run(dir, program(SWEEP) + " --set ALPHA=0.1,0.2 --out runs -- /bin/sh -c 'grep SigBlk /proc/self/status' {conf}");
    ASSERT_EQ(r.status, 0) << r.err;
    for (const std::string alpha : {"0.1", "0.2"}) {
        const std::string line = readText(dir.file("runs/ALPHA=" + alpha + "/seed-1/output.txt"));
        ASSERT_EQ(line.compare(0, 7, "SigBlk:"), 0) << line;
        const unsigned long long mask = std::strtoull(line.c_str() + 7, nullptr, 16);
        for (const int sig : {SIGUSR1, SIGUSR2, SIGTERM, SIGINT}) {
            EXPECT_EQ(mask & (1ull << (sig - 1)), 0u) << "signal " << sig << " blocked: " << line;
        }
    }
}

TEST(ToolsSweep, ResumesFromGnuParallelsJobLog) {
    SKIP_WITHOUT(SWEEP);
    if (!installed("parallel")) GTEST_SKIP() << "GNU parallel is not installed";
    TempDir dir;
    // Each run counts its starts; seed 2 fails until its directory holds "ok".
    const std::string sweep = program(SWEEP) + " --seeds 1-3 --out runs --jobs 2";
    const std::string job = " -- /bin/sh -c 'echo ran >> count; [ -e ok ] || [ {seed} != 2 ]'";
    EXPECT_EQ(run(dir, sweep + job).status, 1) << "GNU parallel's count of failed jobs";
    writeText(dir.file("runs/base/seed-2/ok"), "");
    EXPECT_EQ(run(dir, sweep + " --resume" + job).status, 0);
    EXPECT_EQ(readText(dir.file("runs/base/seed-2/count")), "ran\n") << "--resume does not retry a failed job";
    EXPECT_EQ(run(dir, sweep + " --resume-failed" + job).status, 0);
    EXPECT_EQ(readText(dir.file("runs/base/seed-1/count")), "ran\n");
    EXPECT_EQ(readText(dir.file("runs/base/seed-2/count")), "ran\nran\n");
    EXPECT_EQ(readText(dir.file("runs/base/seed-3/count")), "ran\n");
}

TEST(ToolsSweep, SlurmScriptRunsTheJobOfItsArrayIndex) {
    SKIP_WITHOUT(SWEEP);
    SKIP_WITHOUT(RANDOM_WALK);
    TempDir dir;
    const Result r =
        run(dir, program(SWEEP) + " --set ALPHA=0.05,0.1 --set LAMBDA=0,0.9 --seeds 1-3 --out runs --slurm --jobs 4"
                                  " --time 00:10:00 -- " +
                     program(RANDOM_WALK) + " --config {conf} --seed {seed} --csv {dir}/curve.csv --episodes 5");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string script = readText(dir.file("runs/sweep.sbatch"));
    EXPECT_TRUE(contains(script, "#SBATCH --array=1-12%4\n")) << script;
    EXPECT_TRUE(contains(script, "#SBATCH --signal=B:TERM@120\n")) << script;
    EXPECT_TRUE(contains(script, "#SBATCH --time=00:10:00\n")) << script;

    const std::vector<std::string> runDirs = {"ALPHA=0.05,LAMBDA=0",  "ALPHA=0.05,LAMBDA=0.9", "ALPHA=0.1,LAMBDA=0",
                                              "ALPHA=0.1,LAMBDA=0.9"};
    // Tasks 2 and 11: seed 2 of the first combination, seed 2 of the last.
    for (const int task : {2, 11}) {
        const Result t = run(dir, "SLURM_ARRAY_TASK_ID=" + std::to_string(task) + " bash runs/sweep.sbatch");
        EXPECT_EQ(t.status, 0) << task << ": " << t.err;
    }
    for (std::size_t c = 0; c < runDirs.size(); ++c) {
        for (int seed = 1; seed <= 3; ++seed) {
            const int task = static_cast<int>(c) * 3 + seed;
            const std::string runDir = "runs/" + runDirs[c] + "/seed-" + std::to_string(seed);
            const bool ran = task == 2 || task == 11;
            EXPECT_EQ(readText(dir.file(runDir + "/curve.csv")).empty(), !ran) << runDir;
            EXPECT_EQ(readText(dir.file(runDir + "/random_walk.v")).empty(), !ran) << runDir;
            if (ran) {
                EXPECT_EQ(curveRows(dir.file(runDir + "/curve.csv")).size(), 5u) << runDir;
            }
        }
    }
    // The run read its own configuration: ALPHA 0.1 and LAMBDA 0.9 for task 11.
    EXPECT_EQ(readText(dir.file("runs/ALPHA=0.1,LAMBDA=0.9/seed-2/run.conf")).substr(0, 21), "ALPHA 0.1\nLAMBDA 0.9\n");

    for (const std::string task : {"0", "13", "", "x"}) {
        const Result t = run(dir, "SLURM_ARRAY_TASK_ID=" + task + " bash runs/sweep.sbatch");
        EXPECT_EQ(t.status, 2) << "task '" << task << "'";
    }
}

// --- the examples, stopped -------------------------------------------------------

// Starts an example in dir and returns its process id.
pid_t start(const TempDir& dir, const char* example, const std::vector<std::string>& arguments) {
    std::vector<std::string> words;
    const std::string runner = RUNNER;
    if (!runner.empty()) {
        std::istringstream in(runner);
        std::string word;
        while (in >> word) words.push_back(word);
    }
    words.push_back(example);
    words.insert(words.end(), arguments.begin(), arguments.end());
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.path().c_str()) != 0) _exit(126);
        if (std::freopen("output.txt", "w", stdout) == nullptr || std::freopen("errors.txt", "w", stderr) == nullptr) _exit(126);
        std::vector<char*> argv;
        for (std::string& w : words) argv.push_back(&w[0]);
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

std::size_t lineCount(const std::string& path) {
    const std::string text = readText(path);
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// Sends sig once the curve has `rows` lines; returns the exit status (-1:
// the program did not exit normally, -2: it never wrote its curve).
int stopWhenLearning(const TempDir& dir, const pid_t pid, const std::string& curve, const int sig,
                     const std::size_t rows = 20) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (lineCount(dir.file(curve)) < rows && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const bool learning = lineCount(dir.file(curve)) >= rows;
    kill(pid, learning ? sig : SIGKILL);
    int raw = 0;
    waitpid(pid, &raw, 0);
    if (!learning) return -2;
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// Every line complete, episodes numbered 1, 2, ... without a gap.
void expectCompleteCurve(const std::string& path, const std::size_t columns, const std::size_t rows = 20) {
    const std::string text = readText(path);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n') << path;
    const std::vector<std::string> all = lines(text);
    ASSERT_GE(all.size(), rows);
    for (std::size_t i = 1; i < all.size(); ++i) {
        const std::vector<std::string> fields = split(all[i], ',');
        ASSERT_EQ(fields.size(), columns) << path << ": " << all[i];
        EXPECT_EQ(fields[0], std::to_string(i)) << path;
    }
}

// The saved file reads back completely: saving what was read gives its bytes.
template <class ValueFunctionType>
void expectLoadable(const TempDir& dir, const std::string& file) {
    const test_support::Bytes saved = readFile(dir.file(file));
    ASSERT_FALSE(saved.empty()) << file << " was not saved";
    ValueFunctionType loaded(dir.file(file));
    ASSERT_EQ(loaded.save(dir.file("again")), 0) << file;
    EXPECT_EQ(readFile(dir.file("again")), saved) << file;
}

const std::vector<std::string> FOREVER = {"--episodes", "100000000", "--csv", "curve.csv"};

TEST(ExamplesStopped, BySigtermTheRandomWalkSavesItsTableAndCurve) {
    SKIP_WITHOUT(RANDOM_WALK);
    TempDir dir;
    const pid_t pid = start(dir, RANDOM_WALK, FOREVER);
    EXPECT_EQ(stopWhenLearning(dir, pid, "curve.csv", SIGTERM), 128 + SIGTERM) << readText(dir.file("errors.txt"));
    expectCompleteCurve(dir.file("curve.csv"), 4);
    expectLoadable<StateLookupTable>(dir, "random_walk.v");
    EXPECT_TRUE(contains(readText(dir.file("output.txt")), "SIGTERM received")) << readText(dir.file("output.txt"));
}

TEST(ExamplesStopped, BySigintTheRandomWalkSavesAndLeavesTheCutEpisodeOut) {
    SKIP_WITHOUT(RANDOM_WALK);
    TempDir dir;
    const pid_t pid = start(dir, RANDOM_WALK, FOREVER);
    EXPECT_EQ(stopWhenLearning(dir, pid, "curve.csv", SIGINT), 128 + SIGINT);
    expectCompleteCurve(dir.file("curve.csv"), 4);
    expectLoadable<StateLookupTable>(dir, "random_walk.v");
    // Every row is a whole episode: one that ends at either end of the walk.
    const std::vector<std::string> all = lines(readText(dir.file("curve.csv")));
    for (std::size_t i = 1; i < all.size(); ++i) {
        const std::string ret = split(all[i], ',').at(2);
        EXPECT_TRUE(ret == "1" || ret == "-1") << all[i];
    }
}

TEST(ExamplesStopped, BySigtermCliffWalkingSavesTheLearnerThatWasRunning) {
    SKIP_WITHOUT(CLIFF_WALKING);
    TempDir dir;
    const pid_t pid = start(dir, CLIFF_WALKING, FOREVER);
    EXPECT_EQ(stopWhenLearning(dir, pid, "curve.sarsa.csv", SIGTERM), 128 + SIGTERM);
    expectCompleteCurve(dir.file("curve.sarsa.csv"), 3);
    expectLoadable<ActionLookupTable>(dir, "cliff_walking.sarsa.q");
    EXPECT_TRUE(readText(dir.file("curve.watkins.csv")).empty()) << "the second learner ran after the stop";
}

TEST(ExamplesStopped, BySigtermTheNetworkWalkSavesItsNetwork) {
    SKIP_WITHOUT(RANDOM_WALK_NN);
    TempDir dir;
    const pid_t pid = start(dir, RANDOM_WALK_NN, FOREVER);
    EXPECT_EQ(stopWhenLearning(dir, pid, "curve.csv", SIGTERM), 128 + SIGTERM);
    expectCompleteCurve(dir.file("curve.csv"), 4);
    expectLoadable<NeuralNetwork>(dir, "random_walk_nn.v");
}

TEST(ExamplesStopped, BySigtermMountainCarSavesItsTileCoding) {
    SKIP_WITHOUT(MOUNTAIN_CAR);
    TempDir dir;
    const pid_t pid = start(dir, MOUNTAIN_CAR, FOREVER);
    EXPECT_EQ(stopWhenLearning(dir, pid, "curve.csv", SIGTERM, 5), 128 + SIGTERM);
    expectCompleteCurve(dir.file("curve.csv"), 3, 5);
    const Result inspect = run(dir, program(INSPECT) + " mountain_car.q");
    EXPECT_EQ(inspect.status, 0) << inspect.err;
#if TEST_TILES
    expectLoadable<ActionTileCoding>(dir, "mountain_car.q");
#endif
}

// --- the learning-curve script ----------------------------------------------------

bool isPng(const std::string& path) {
    const test_support::Bytes bytes = readFile(path);
    const test_support::Bytes magic = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    return bytes.size() > 100 && std::equal(magic.begin(), magic.end(), bytes.begin());
}

TEST(LearningCurveScript, DrawsCurvesAndASweepSummary) {
    if (CURVE_SCRIPT == nullptr) GTEST_SKIP() << "the tools are not part of this build";
    if (!installed("gnuplot")) GTEST_SKIP() << "gnuplot is not installed";
    TempDir dir;
    std::string a = "episode,steps,return\n", b = "episode,steps,return,rms_error\n";
    for (int e = 1; e <= 50; ++e) {
        a += std::to_string(e) + ",10," + std::to_string(-100 + e) + "\n";
        b += std::to_string(e) + ",12," + std::to_string(-120 + 2 * e) + ",0.5\n";
    }
    writeText(dir.file("a.csv"), a);
    writeText(dir.file("b.csv"), b);
    const std::string gnuplot = "gnuplot -c " + quote(CURVE_SCRIPT);
    Result r = run(dir, gnuplot + " files.png a.csv b.csv");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(isPng(dir.file("files.png")));

    r = run(dir, "gnuplot -e 'column=\"rms_error\"; window=1; ymin=0' -c " + quote(CURVE_SCRIPT) + " error.png b.csv");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(isPng(dir.file("error.png")));

    // A sweep's summary: the directory of mean curves.
    ASSERT_EQ(std::system(("mkdir -p " + quote(dir.file("runs/summary/ALPHA=0.1")) + " " +
                           quote(dir.file("runs/summary/ALPHA=0.2")))
                              .c_str()),
              0);
    writeText(dir.file("runs/summary/ALPHA=0.1/curve.csv"), a);
    writeText(dir.file("runs/summary/ALPHA=0.2/curve.csv"), a);
    r = run(dir, gnuplot + " summary.png runs/summary");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(isPng(dir.file("summary.png")));

    EXPECT_NE(run(dir, gnuplot + " nothing.png").status, 0);
}

}  // namespace
