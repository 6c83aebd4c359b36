// The step benchmarks compare the library with hand-written loops
// (bench/Workloads.h). A ratio means something only while both do the same
// work: these tests run each agent and its baseline for the same episodes
// and require the same trajectory (every state and action, hashed) and the
// same final weights, bit for bit. The baselines reseed rand() with 1 as a
// learner does, so each pair runs one after the other.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>

#include "../bench/Workloads.h"
#include "TestSupport.h"

using namespace bench;

namespace {

// -1 when the two weight arrays are identical bit for bit, otherwise the
// first index that differs.
int firstDifference(const double* a, const double* b, const int n) {
    for (int i = 0; i < n; ++i) {
        if (std::memcmp(&a[i], &b[i], sizeof(double)) != 0) return i;
    }
    return -1;
}

long nonZero(const double* w, const int n) { return std::count_if(w, w + n, [](double x) { return x != 0.0; }); }

template <class Agent, class Baseline>
void expectSameEpisodes(const Agent& agent, const Baseline& baseline) {
    EXPECT_EQ(agent.episodeCount(), baseline.episodeCount());
    EXPECT_EQ(agent.trajectory.steps, baseline.trajectory.steps);
    EXPECT_EQ(agent.trajectory.hash, baseline.trajectory.hash);
}

template <class Learner, class Traces>
void checkTable(const Params& p, const Types::TRACE_STORAGE storage, const int pollInterval = 0) {
    SCOPED_TRACE(std::string(std::is_same<Learner, Watkins>::value ? "Watkins" : "Sarsa") + ", traces " +
                 std::to_string(p.traces) + ", selection " + std::to_string(p.selection) + ", storage " +
                 std::to_string(storage) + (pollInterval > 0 ? ", polled" : ""));
    test_support::TempDir dir;
    const std::string conf = dir.file("conf");
    TableSetup setup;
    setup.states = 30;
    setup.cycle = 12;
    setup.length = 40;
    setup.storage = storage;
    ASSERT_TRUE(writeConfig(conf, p));
    std::unique_ptr<TableAgent<Learner>> agent(pollInterval > 0 ? new TableAgent<Learner>(conf, setup)
                                                                : new NoPoll<TableAgent<Learner>>(conf, setup));
    if (pollInterval > 0) agent->setSignalPollInterval(pollInterval);
    agent->runEpisodes(12);
    // Greedy Watkins is held to the Sarsa baseline: without exploration the
    // two take the same actions and make the same updates.
    TableBaseline<Traces> baseline(p, setup, std::is_same<Learner, Watkins>::value && p.selection != Tembra::GREEDY);
    baseline.runEpisodes(12);

    expectSameEpisodes(*agent, baseline);
    ASSERT_EQ(agent->q->weightCount(), baseline.weightCount());
    EXPECT_EQ(firstDifference(agent->q->weightData(), baseline.weightData(), baseline.weightCount()), -1);
    // Something was learnt: the comparison is not one of two zero tables.
    EXPECT_GT(nonZero(baseline.weightData(), baseline.weightCount()), p.traces == Tembra::NONE ? 20 : 40);
}

template <class Env, class Traces>
void checkTiles(const Env& env, const TileSetup& setup, const int episodes) {
    test_support::TempDir dir;
    Params p;
    p.alpha = 0.5;
    p.gamma = 1.0;
    ASSERT_TRUE(writeConfig(dir.file("conf"), p));

    NoPoll<TileAgent<Env>> agent(dir.file("conf"), env, setup);
    agent.runEpisodes(episodes);
    TileBaseline<Env, Traces> baseline(p, env, setup);
    baseline.runEpisodes(episodes);

    expectSameEpisodes(agent, baseline);
    ASSERT_EQ(agent.group->weightCount(), baseline.weightCount());
    EXPECT_EQ(firstDifference(agent.group->weightData(), baseline.weightData(), baseline.weightCount()), -1);
    EXPECT_GT(nonZero(baseline.weightData(), baseline.weightCount()), 3 * setup.tilings);
}

template <class Env>
void checkTileStorages(const Env& env, TileSetup setup, const int episodes) {
    checkTiles<Env, MapTraces>(env, setup, episodes);
    checkTiles<Env, PairTraces>(env, setup, episodes);
    setup.storage = Types::SPARSE;
    checkTiles<Env, PairTraces>(env, setup, episodes);
    checkTiles<Env, HashPairTraces>(env, setup, episodes);
    setup.storage = Types::ARRAY;
    checkTiles<Env, DenseTraces>(env, setup, episodes);
}

}  // namespace

// Epsilon-greedy and softmax make Watkins cut its traces in the middle of
// episodes.
TEST(BenchmarkEquivalence, TableLearnersMatchTheirBaselinesForEveryTracesSelectionAndStorage) {
    for (const Tembra::TRACE_TYPE traces : {Tembra::REPLACING, Tembra::ACCUMULATING, Tembra::NONE}) {
        for (const Tembra::ACTION_SELECTION_TYPE selection : {Tembra::GREEDY, Tembra::EPSILON_GREEDY, Tembra::SOFTMAX}) {
            Params p;
            p.traces = traces;
            p.selection = selection;
            p.epsilon = 0.2;
            p.gamma = 0.951234567891;  // more digits than a saved configuration keeps
            checkTable<Sarsa, MapTraces>(p, Types::MAP);
            checkTable<Sarsa, PairTraces>(p, Types::SPARSE);
            checkTable<Sarsa, DenseTraces>(p, Types::ARRAY);
            checkTable<Watkins, MapTraces>(p, Types::MAP);
            checkTable<Watkins, PairTraces>(p, Types::SPARSE);
            checkTable<Watkins, DenseTraces>(p, Types::ARRAY);
        }
    }
    // The other baselines of the benchmarks, and polling the signals (at
    // every step or every n-th), change nothing either.
    Params p;
    p.selection = Tembra::EPSILON_GREEDY;
    p.epsilon = 0.2;
    checkTable<Sarsa, PairTraces>(p, Types::MAP);
    checkTable<Sarsa, HashPairTraces>(p, Types::SPARSE);
    checkTable<Watkins, PairTraces>(p, Types::MAP);
    checkTable<Sarsa, MapTraces>(p, Types::MAP, 1);
    checkTable<Watkins, MapTraces>(p, Types::MAP, 3);
}

// The mountain car, and walkers with several variables, many tilings and
// tile counts that the requested resolution does not give exactly (the
// geometry must round as the library does), in every storage.
TEST(BenchmarkEquivalence, TileSarsaMatchesItsBaselinesForEveryStorageAndShape) {
    MountainCar car;
    car.length = 150;
    checkTileStorages(car, TileSetup(), 6);
    const int shapes[][3] = {{1, 1, 8}, {3, 3, 5}, {16, 2, 7}, {5, 4, 3}};
    for (const auto& shape : shapes) {
        SCOPED_TRACE(std::to_string(shape[0]) + " tilings, " + std::to_string(shape[1]) + " variables");
        Walker walker;
        walker.dims = shape[1];
        walker.length = 60;
        TileSetup setup;
        setup.tilings = shape[0];
        setup.tilesPerVariable = shape[2];
        checkTileStorages(walker, setup, 4);
    }
}

TEST(BenchmarkEquivalence, NetworkTDMatchesItsBaseline) {
    const int shapes[][2] = {{2, 5}, {4, 20}, {8, 100}};
    for (const auto& shape : shapes) {
        SCOPED_TRACE(std::to_string(shape[0]) + " inputs, " + std::to_string(shape[1]) + " hidden");
        test_support::TempDir dir;
        Params p;
        p.lambda = 0.8;
        ASSERT_TRUE(writeConfig(dir.file("conf"), p));

        NoPoll<NetworkAgent> agent(dir.file("conf"), shape[0], shape[1], 50);
        agent.runEpisodes(5);
        NetworkBaseline baseline(p, shape[0], shape[1], 50);
        baseline.runEpisodes(5);

        expectSameEpisodes(agent, baseline);
        ASSERT_EQ(agent.net->inputHiddenCount(), baseline.inputHiddenCount());
        ASSERT_EQ(agent.net->hiddenOutputCount(), baseline.hiddenOutputCount());
        EXPECT_EQ(firstDifference(agent.net->inputHidden(), baseline.inputHidden(), baseline.inputHiddenCount()), -1);
        EXPECT_EQ(firstDifference(agent.net->hiddenOutput(), baseline.hiddenOutput(), baseline.hiddenOutputCount()), -1);
    }
}
