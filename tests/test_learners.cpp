#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "ProbeLearner.h"
#include "TestSupport.h"
#include "Utility.h"

using test_support::reportMessages;
using test_support::TempDir;
using Messages = std::vector<std::string>;

namespace {

// Runs controlLoop and returns the notices and error reports it wrote.
struct LoopOutput {
    Messages notices;
    Messages errors;
};

LoopOutput runLoop(ProbeLearner& learner) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    learner.controlLoop();
    LoopOutput output;
    output.errors = reportMessages(testing::internal::GetCapturedStderr());
    output.notices = reportMessages(testing::internal::GetCapturedStdout());
    return output;
}

void stopAfterEpisode(ProbeLearner& learner, int episode) {
    learner.afterEpisode = [episode](ProbeLearner& l) {
        if (l.episodes == episode) l.continueLearning = false;
    };
}

}  // namespace

TEST(ControlLoop, WithoutValueFunctionReportsOnceAndCallsNoHook) {
    TempDir dir;
    ProbeLearner learner(dir.file("learner.conf"));
    learner.valueFunctionSet = false;
    const LoopOutput output = runLoop(learner);
    EXPECT_EQ(output.errors, Messages{"valueFunctionPtr not set --> leave controlLoop !!!"});
    EXPECT_TRUE(output.notices.empty());
    EXPECT_TRUE(learner.calls.empty());
    EXPECT_EQ(learner.episodes, 0);
}

TEST(ControlLoop, ClearingContinueLearningAfterEpisodeThreeRunsThreeEpisodes) {
    TempDir dir;
    ProbeLearner learner(dir.file("learner.conf"));
    stopAfterEpisode(learner, 3);
    const LoopOutput output = runLoop(learner);
    EXPECT_EQ(learner.count("initEpisode"), 3);
    EXPECT_EQ(learner.count("finishEpisode"), 3);
    EXPECT_EQ(learner.count("step"), 9);
    EXPECT_EQ(output.notices, (Messages{"episode = 1  steps = 3", "episode = 2  steps = 3",
                                        "episode = 3  steps = 3"}));
    EXPECT_TRUE(output.errors.empty());
}

TEST(ControlLoop, EpisodeEndingAtTheFirstStepHasOneStep) {
    TempDir dir;
    ProbeLearner learner(dir.file("learner.conf"));
    learner.episodeLength = 1;
    stopAfterEpisode(learner, 1);
    const LoopOutput output = runLoop(learner);
    EXPECT_EQ(output.notices, Messages{"episode = 1  steps = 1"});
    EXPECT_EQ(learner.count("step"), 1);
}

TEST(ControlLoop, HooksRunInOrderAndTheEpisodeStartsWhateverInitEpisodeLeft) {
    // The probe's initEpisode clears continueEpisode; controlLoop must set it
    // again after initEpisode, or no step would run.
    TempDir dir;
    ProbeLearner learner(dir.file("learner.conf"));
    learner.episodeLength = 2;
    stopAfterEpisode(learner, 1);
    runLoop(learner);
    const std::vector<std::string> expected = {
        "initEpisode", "setInitialState",
        "step", "takeAction", "observeState", "calculateReward",
        "step", "takeAction", "observeState", "calculateReward",
        "finishEpisode"};
    EXPECT_EQ(learner.calls, expected);
}

TEST(ControlLoop, EpisodesKeepCountingAcrossCallsAndFinishEpisodeChangesNothing) {
    TempDir dir;
    ProbeLearner learner(dir.file("learner.conf"));
    learner.episodeLength = 2;
    learner.afterEpisode = [](ProbeLearner& l) { l.continueLearning = false; };
    runLoop(learner);
    learner.continueLearning = true;
    const LoopOutput second = runLoop(learner);
    EXPECT_EQ(second.notices, Messages{"episode = 2  steps = 2"});

    // The base notice alone, called outside the loop.
    testing::internal::CaptureStdout();
    learner.finishEpisode();
    EXPECT_EQ(reportMessages(testing::internal::GetCapturedStdout()), Messages{"episode = 2  steps = 2"});
    EXPECT_EQ(learner.episodes, 2);
    EXPECT_EQ(learner.steps, 2);
    EXPECT_FALSE(learner.continueLearning);
}

TEST(ControlLoop, ReportsNameTheOperationThatWroteThem) {
    TempDir dir;
    ProbeLearner learner(dir.file("learner.conf"));
    learner.valueFunctionSet = false;
    testing::internal::CaptureStderr();
    learner.controlLoop();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("ERROR: File: Tembra.cpp   Function: controlLoop   Line: ", 0), 0u) << err;

    learner.valueFunctionSet = true;
    learner.episodeLength = 1;
    stopAfterEpisode(learner, 1);
    testing::internal::CaptureStdout();
    learner.controlLoop();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("File: Tembra.cpp   Function: finishEpisode   Line: ", 0), 0u) << out;
}

TEST(Learner, ConstructionSetsTheDefaults) {
    TempDir dir;
    testing::internal::CaptureStdout();
    ProbeLearner learner(dir.file("learner.conf"));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(learner.ALPHA, 0.1);
    EXPECT_EQ(learner.LAMBDA, 0.5);
    EXPECT_EQ(learner.GAMMA, 0.9);
    EXPECT_EQ(learner.EPSILON, 0.1);
    EXPECT_EQ(learner.TRACES, Tembra::REPLACING);
    EXPECT_EQ(learner.TRACE_VALUE, 1.0);
    EXPECT_EQ(learner.ACTION_SELECTION, Tembra::GREEDY);
    EXPECT_EQ(learner.TEMPERATURE, 0.5);
    EXPECT_TRUE(learner.continueLearning);
    EXPECT_TRUE(learner.continueEpisode);
    EXPECT_FALSE(learner.sigTermRcvd);
    EXPECT_FALSE(learner.sigIntRcvd);
    EXPECT_EQ(learner.episodes, 0);
    EXPECT_EQ(learner.steps, 0);
    EXPECT_EQ(learner.confFileName, dir.file("learner.conf"));
}

TEST(Learner, EveryConstructionRestartsTheRandomSequenceWithSeedOne) {
    setSeed(1);
    const int first = std::rand();
    const int second = std::rand();

    TempDir dir;
    setSeed(12345);
    ProbeLearner a(dir.file("a.conf"));
    EXPECT_EQ(std::rand(), first);
    ProbeLearner b(dir.file("b.conf"));
    EXPECT_EQ(std::rand(), first);
    EXPECT_EQ(std::rand(), second);
}

TEST(Learner, RandomActionDrawsOnceAndIsStrictlyBelowEpsilon) {
    TempDir dir;
    ProbeLearner learner(dir.file("learner.conf"));

    setSeed(9);
    const int r1 = std::rand();
    const int r2 = std::rand();
    // EPSILON equal to the draw: the test is strict, so no random action.
    learner.EPSILON = r1 / 2147483648.0;
    setSeed(9);
    EXPECT_FALSE(learner.randomAction());
    EXPECT_EQ(std::rand(), r2);  // exactly one draw was used

    learner.EPSILON = 0.0;
    for (int i = 0; i < 2000; ++i) ASSERT_FALSE(learner.randomAction());
    learner.EPSILON = 1.0;
    for (int i = 0; i < 2000; ++i) ASSERT_TRUE(learner.randomAction());

    learner.EPSILON = 0.1;
    setSeed(1);
    int hits = 0;
    for (int i = 0; i < 10000; ++i) hits += learner.randomAction() ? 1 : 0;
    EXPECT_GT(hits, 800);
    EXPECT_LT(hits, 1200);
}
