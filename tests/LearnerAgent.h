#ifndef TEMBRA_TESTS_LEARNERAGENT_H
#define TEMBRA_TESTS_LEARNERAGENT_H

// The using program of the learner tests, for any of the three learners.
// An integer position starts at 0 in every episode and moves by `move`;
// `publish` shows it to the value function's State (by default as integer
// variable 0). An episode lasts maxSteps steps; `reward` gives the reward
// of an episode's step by its number and the position reached; learning
// stops after episodesToRun episodes (counted here, so that a broken counter
// in the learner cannot keep it going). With a log, the
// hooks leave a letter each: S a step begins, I T O R the four environment
// hooks, ? the epsilon test, E the end of an episode, U SIGUSR2's handler.
// afterStep runs at the signal poll that follows every step.

#include <deque>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

#include "ActionValueFunction.h"
#include "State.h"
#include "StateValueFunction.h"
#include "TD.h"

template <class Learner>
constexpr bool isTD = std::is_base_of<TD, Learner>::value;

template <class Learner>
class Agent : public Learner {
public:
    using Values = std::conditional_t<isTD<Learner>, StateValueFunction, ActionValueFunction>;
    Agent(const std::string& confFile, Values* values, std::string* log = nullptr) : Learner(confFile), log_(log) {
        if constexpr (isTD<Learner>) this->svfPtr = values;
        else this->avfPtr = values;
        state = values != nullptr ? values->getStatePtr() : nullptr;
    }
    using Learner::ACTION_SELECTION, Learner::ALPHA, Learner::EPSILON, Learner::GAMMA, Learner::LAMBDA, Learner::TRACES;
    using Learner::TEMPERATURE, Learner::TRACE_VALUE, Learner::continueLearning, Learner::value, Learner::episodes;
    using Learner::initEpisode, Learner::sigIntRcvd, Learner::sigTermRcvd, Learner::steps;

    int maxSteps = 2, episodesToRun = 1;
    std::function<int(int, int)> move = [](const int at, int) { return at + 1; };
    std::function<void(State&, int)> publish = [](State& s, const int at) { s.setValueInt(0, at); };
    std::function<double(int, int)> reward = [](int, int) { return 1.0; };
    // Answers of randomAction in turn (true: explore); the epsilon test
    // itself runs when none is left.
    mutable std::deque<bool> randomScript;
    std::vector<int> actionsTaken;
    std::function<void()> afterStep;
    bool notices = false;  // the base notice at the end of every episode

    void step() override {
        log('S');
        Learner::step();
    }
    const bool randomAction() const override {
        log('?');
        if (randomScript.empty()) return Learner::randomAction();
        const bool explore = randomScript.front();
        randomScript.pop_front();
        return explore;
    }
    void checkPendingSignals() override {
        Learner::checkPendingSignals();
        if (afterStep) afterStep();
    }

protected:
    void setInitialState() override {
        log('I');
        position = taken = 0;
        if (state != nullptr) publish(*state, position);
    }
    void takeAction() override {
        log('T');
        int action = 0;
        if constexpr (!isTD<Learner>) action = this->avfPtr->getActiveActionIndex();
        actionsTaken.push_back(action);
        position = move(position, action);
        ++taken;
    }
    const bool observeState() override {
        log('O');
        if (state != nullptr) publish(*state, position);
        return taken < maxSteps;
    }
    const double calculateReward() override {
        log('R');
        return reward(taken, position);
    }
    void finishEpisode() override {
        if (notices) Learner::finishEpisode();
        log('E');
        if (++finished >= episodesToRun) this->continueLearning = false;
    }
    void sigUsr2() override {
        log('U');
        Learner::sigUsr2();
    }

private:
    void log(const char c) const { if (log_ != nullptr) log_->push_back(c); }
    std::string* log_;
    State* state;
    int position = 0, taken = 0, finished = 0;
};

#endif
