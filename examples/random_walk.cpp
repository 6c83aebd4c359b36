// TD(lambda) on the 19-state random walk: from the centre, step left or
// right at random until one of the two ends; reward -1 at the left end,
// +1 at the right end, 0 otherwise. With GAMMA 1 the true value of state i
// (1..19) is (i - 10) / 10. The program prints the RMS error of the learnt
// values against the true ones as it learns, saves the table, and reads it
// back to show that the file holds what was learnt.

#include <cmath>
#include <cstdio>
#include <iostream>

#include <tembra/StateLookupTable.h>
#include <tembra/TD.h>
#include <tembra/Utility.h>

#include "ExampleSupport.h"

namespace {

const int LEFT_END = 0;
const int RIGHT_END = 20;
const int START = 10;

double trueValue(int position) { return (position - START) / 10.0; }

// RMS error over the 19 non-terminal states of any state value function.
double rmsError(StateValueFunction& values, unsigned int positionId) {
    State* state = values.getStatePtr();
    double sum = 0.0;
    for (int position = LEFT_END + 1; position < RIGHT_END; ++position) {
        state->setValueInt(positionId, position);
        values.setState();
        const double error = values.getStateValue() - trueValue(position);
        sum += error * error;
    }
    return std::sqrt(sum / (RIGHT_END - LEFT_END - 1));
}

class RandomWalk : public TD {
public:
    // freshConfig: the configuration file did not exist before; the learner
    // has just written it with the library's defaults.
    RandomWalk(const ExampleOptions& options, bool freshConfig)
        : TD(options.config), options_(options), curve_(options.csv, "rms_error") {
        // A first run writes the settings this task wants; later runs (and
        // SIGUSR1) read whatever the user made of them.
        if (freshConfig) {
            ALPHA = 0.1;
            LAMBDA = 0.8;
            GAMMA = 1.0;
            TRACES = ACCUMULATING;
            saveConf();
        }
        State* state = new State();
        positionId_ = state->registerVariable("position", LEFT_END, RIGHT_END);
        svfPtr = new StateLookupTable(state);
        setSignalPollInterval(options.poll);
        if (options.seedGiven) setSeed(options.seed);
        startError_ = rmsError(*svfPtr, positionId_);
        std::cout << "episode 0  rms error " << startError_ << std::endl;
    }

    double startError() const { return startError_; }
    double error() { return rmsError(*svfPtr, positionId_); }
    StateValueFunction& values() { return *svfPtr; }
    int exitStatus() const { return stopStatus(sigTermRcvd, sigIntRcvd); }
    int episodesDone() const { return episodes; }
    unsigned int positionId() const { return positionId_; }

protected:
    void setInitialState() override {
        position_ = START;
        reward_ = 0.0;
        svfPtr->getStatePtr()->setValueInt(positionId_, position_);
    }
    void takeAction() override { position_ += (getNextDouble() < 0.5) ? -1 : 1; }
    const bool observeState() override {
        svfPtr->getStatePtr()->setValueInt(positionId_, position_);
        return position_ != LEFT_END && position_ != RIGHT_END;
    }
    const double calculateReward() override {
        const double r = position_ == RIGHT_END ? 1.0 : (position_ == LEFT_END ? -1.0 : 0.0);
        reward_ += r;
        return r;
    }
    void finishEpisode() override {
        const double rms = error();
        if (!continueEpisode) curve_.row(episodes, steps, reward_, rms);
        if (episodes % 10 == 0 || episodes == options_.episodes) {
            std::cout << "episode " << episodes << "  steps " << steps << "  rms error " << rms << std::endl;
        }
        if (episodes >= options_.episodes) continueLearning = false;
    }

private:
    const ExampleOptions& options_;
    LearningCurve curve_;
    unsigned int positionId_ = 0;
    int position_ = START;
    double reward_ = 0.0;
    double startError_ = 0.0;
};

}  // namespace

int main(int argc, char** argv) {
    ExampleOptions options("random_walk", 100);
    if (!options.parse(argc, argv)) return 2;
    blockControlSignals();
    options.out = options.out == "random_walk.tembra" ? "random_walk.v" : options.out;

    RandomWalk agent(options, !fileExists(options.config));
    agent.controlLoop();

    const double endError = agent.error();
    if (agent.values().save(options.out) != 0) return 1;
    std::cout << "saved the learnt values to " << options.out << std::endl;

    // A fresh table from the file gives the same values.
    StateLookupTable reloaded(options.out);
    const double reloadedError = rmsError(reloaded, reloaded.getStatePtr()->getVariableId("position"));
    std::cout << "reloaded from " << options.out << ": rms error " << reloadedError << std::endl;

    std::cout << "values:";
    for (int position = LEFT_END + 1; position < RIGHT_END; ++position) {
        reloaded.getStatePtr()->setValueInt(0, position);
        reloaded.setState();
        std::printf(" %.2f", reloaded.getStateValue());
    }
    std::cout << std::endl;

    const bool learned = endError < 0.5 * agent.startError() && reloadedError == endError;
    std::cout << "result: rms error " << agent.startError() << " -> " << endError
              << (learned ? " (learned)" : " (NOT learned)") << std::endl;
    if (agent.exitStatus() != 0) {
        std::cout << "stopped by a signal after " << agent.episodesDone() << " episodes" << std::endl;
    }
    return agent.exitStatus();
}
