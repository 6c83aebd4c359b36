// TD(lambda) with a small sigmoid network on the 19-state random walk. The
// network's output lies in (0, 1), so here the walk pays +1 at the right
// end and 0 at the left end: with GAMMA 1 the true value of state i
// (1..19) is i / 20. The position enters the network scaled to [0, 1].
// The program prints the RMS error as it learns, saves the network in a V
// file and reads it back.

#include <cmath>
#include <cstdio>
#include <iostream>

#include <tembra/NeuralNetwork.h>
#include <tembra/TD.h>
#include <tembra/Utility.h>

#include "ExampleSupport.h"

namespace {

const int LEFT_END = 0;
const int RIGHT_END = 20;
const int START = 10;
const int HIDDEN_NEURONS = 5;

double trueValue(int position) { return position / 20.0; }

double rmsError(StateValueFunction& values) {
    State* state = values.getStatePtr();
    double sum = 0.0;
    for (int position = LEFT_END + 1; position < RIGHT_END; ++position) {
        state->setValueDbl(0, position);
        values.setState();
        const double error = values.getStateValue() - trueValue(position);
        sum += error * error;
    }
    return std::sqrt(sum / (RIGHT_END - LEFT_END - 1));
}

class NetworkWalk : public TD {
public:
    NetworkWalk(const ExampleOptions& options, bool freshConfig)
        : TD(options.config), options_(options), curve_(options.csv, "rms_error") {
        if (freshConfig) {
            ALPHA = 0.5;
            LAMBDA = 0.6;
            GAMMA = 1.0;
            TRACES = ACCUMULATING;  // the network's traces are its gradients either way
            saveConf();
        }
        State* state = new State();
        state->registerVariable("position", static_cast<double>(LEFT_END), static_cast<double>(RIGHT_END));
        // The seed is set before the network draws its initial weights.
        setSignalPollInterval(options.poll);
        if (options.seedGiven) setSeed(options.seed);
        NeuralNetwork* network = new NeuralNetwork(state, HIDDEN_NEURONS);
        network->setScaleFactor(0, 1.0 / RIGHT_END);
        svfPtr = network;
        startError_ = rmsError(*svfPtr);
        std::cout << "episode 0  rms error " << startError_ << std::endl;
    }

    double startError() const { return startError_; }
    double error() { return rmsError(*svfPtr); }
    StateValueFunction& values() { return *svfPtr; }
    int exitStatus() const { return stopStatus(sigTermRcvd, sigIntRcvd); }
    int episodesDone() const { return episodes; }

protected:
    void setInitialState() override {
        position_ = START;
        reward_ = 0.0;
        svfPtr->getStatePtr()->setValueDbl(0, position_);
    }
    void takeAction() override { position_ += (getNextDouble() < 0.5) ? -1 : 1; }
    const bool observeState() override {
        svfPtr->getStatePtr()->setValueDbl(0, position_);
        return position_ != LEFT_END && position_ != RIGHT_END;
    }
    const double calculateReward() override {
        const double r = position_ == RIGHT_END ? 1.0 : 0.0;
        reward_ += r;
        return r;
    }
    void finishEpisode() override {
        const double rms = error();
        if (!continueEpisode) curve_.row(episodes, steps, reward_, rms);
        if (episodes % 50 == 0 || episodes == options_.episodes) {
            std::cout << "episode " << episodes << "  steps " << steps << "  rms error " << rms << std::endl;
        }
        if (episodes >= options_.episodes) continueLearning = false;
    }

private:
    const ExampleOptions& options_;
    LearningCurve curve_;
    int position_ = START;
    double reward_ = 0.0;
    double startError_ = 0.0;
};

}  // namespace

int main(int argc, char** argv) {
    ExampleOptions options("random_walk_nn", 1000);
    if (!options.parse(argc, argv)) return 2;
    blockControlSignals();
    options.out = options.out == "random_walk_nn.tembra" ? "random_walk_nn.v" : options.out;

    NetworkWalk agent(options, !fileExists(options.config));
    agent.controlLoop();

    const double endError = agent.error();
    if (agent.values().save(options.out) != 0) return 1;
    std::cout << "saved the network to " << options.out << std::endl;

    NeuralNetwork reloaded(options.out);
    const double reloadedError = rmsError(reloaded);
    std::cout << "reloaded from " << options.out << ": rms error " << reloadedError << std::endl;
    std::cout << "values:";
    for (int position = LEFT_END + 1; position < RIGHT_END; ++position) {
        reloaded.getStatePtr()->setValueDbl(0, position);
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
