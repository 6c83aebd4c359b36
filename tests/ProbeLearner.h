#ifndef TEMBRA_TESTS_PROBELEARNER_H
#define TEMBRA_TESTS_PROBELEARNER_H

// A TD learner on a lookup table of one state for the tests of the learner
// base: its steps cost next to nothing, an episode lasts maxSteps steps and
// ends with the base notice, the tests can run code inside a step (to raise
// a signal, edit the configuration file), and ALPHA is kept as each step
// saw it.

#include <functional>
#include <string>
#include <vector>

#include "LearnerAgent.h"
#include "LookupTableAccess.h"
#include "StateLookupTable.h"
#include "TestSupport.h"

class ProbeLearner : public Agent<TD> {
public:
    explicit ProbeLearner(const std::string& fileName)
        : Agent<TD>(fileName, new StateLookupTable(lookup_test::makeState({{"x", 0, 0}})), &calls) {
        notices = true;
        maxSteps = 3;
        move = [this](const int at, int) {
            alphaPerStep.push_back(ALPHA);
            if (duringStep) duringStep(*this);
            return at;
        };
    }

    std::function<void(ProbeLearner&)> duringStep;
    std::vector<double> alphaPerStep;
    std::string calls;  // the letters of LearnerAgent.h
};

// Runs controlLoop and returns what it reported.
template <class Learner>
test_support::Reports runLoop(Learner& learner) {
    return test_support::reportsOf([&learner] { learner.controlLoop(); });
}

#endif
