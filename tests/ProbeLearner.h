#ifndef TEMBRA_TESTS_PROBELEARNER_H
#define TEMBRA_TESTS_PROBELEARNER_H

// A learner without a value function for the tests of the learner base: the
// abstract operations are stubs that record their calls, episodes last a
// fixed number of steps, and the tests can run code inside a step or after
// an episode (to raise a signal, edit the configuration file, stop).

#include <functional>
#include <string>
#include <vector>

#include "Tembra.h"
#include "TestSupport.h"

class ProbeLearner : public Tembra {
public:
    explicit ProbeLearner(const std::string& fileName) : Tembra(fileName) {}

    using Tembra::ACTION_SELECTION, Tembra::ALPHA, Tembra::EPSILON, Tembra::GAMMA, Tembra::LAMBDA;
    using Tembra::TEMPERATURE, Tembra::TRACE_VALUE, Tembra::TRACES;
    using Tembra::checkPendingSignals, Tembra::continueLearning, Tembra::episodes, Tembra::randomAction;
    using Tembra::sigIntRcvd, Tembra::sigTermRcvd, Tembra::steps;

    // What checkValueFunction answers.
    bool valueFunctionSet = true;
    // observeState returns false at this step of every episode.
    int episodeLength = 3;
    // Runs inside every step, between takeAction and observeState.
    std::function<void(ProbeLearner&)> duringStep;
    // Runs after the base finishEpisode has written its notice.
    std::function<void(ProbeLearner&)> afterEpisode;
    // The hooks in the order they ran, and ALPHA as each step saw it.
    std::vector<std::string> calls;
    std::vector<double> alphaPerStep;

protected:
    void initEpisode() override {
        calls.push_back("initEpisode");
        ++episodes;
        steps = 0;
        if (episodes >= 10000) continueLearning = false;  // as in step()
        // controlLoop must start the episode whatever is left here.
        continueEpisode = false;
        setInitialState();
    }
    void step() override {
        ++steps;
        calls.push_back("step");
        alphaPerStep.push_back(ALPHA);
        takeAction();
        continueEpisode = observeState();
        calculateReward();
        // A loop that never ends would hang the test; this makes it fail.
        if (alphaPerStep.size() >= 10000) continueEpisode = continueLearning = false;
    }
    void finishEpisode() override {
        Tembra::finishEpisode();
        calls.push_back("finishEpisode");
        if (afterEpisode) afterEpisode(*this);
    }
    void setInitialState() override { calls.push_back("setInitialState"); }
    void takeAction() override {
        calls.push_back("takeAction");
        if (duringStep) duringStep(*this);
    }
    const bool observeState() override {
        calls.push_back("observeState");
        return steps < episodeLength;
    }
    const double calculateReward() override {
        calls.push_back("calculateReward");
        return 0.0;
    }
    const bool checkValueFunction() const override { return valueFunctionSet; }
    void sigUsr2() override {
        calls.push_back("sigUsr2");
        Tembra::sigUsr2();
    }
};

// Runs controlLoop and returns what it reported.
template <class Learner>
test_support::Reports runLoop(Learner& learner) {
    return test_support::reportsOf([&learner] { learner.controlLoop(); });
}

inline void stopAfterEpisode(ProbeLearner& learner, const int episode) {
    learner.afterEpisode = [episode](ProbeLearner& l) {
        if (l.episodes == episode) l.continueLearning = false;
    };
}

#endif
