// Mountain car: an underpowered car in a valley must rock back and forth to
// climb the right hill. Sarsa(lambda) with replacing traces learns action
// values on a tile coding: one group of 8 tilings over position and
// velocity (8 x 8 tiles each), 3 actions (reverse, coast, forward), weights
// starting at 0 while every step costs -1, so untried actions look good and
// the greedy agent explores by itself. ALPHA in the configuration file is
// the step size for a whole state; the tile coding divides it by its 8
// tilings. The program prints each episode's steps as it learns, saves the
// Q file, reloads it into a fresh value function and drives the car
// greedily with it.

#include <cmath>
#include <cstdio>
#include <iostream>
#include <list>
#include <string>

#include <tembra/AbstractAction.h>
#include <tembra/ActionTileCoding.h>
#include <tembra/ActionTilings.h>
#include <tembra/Sarsa.h>
#include <tembra/Utility.h>

#include "ExampleSupport.h"

namespace {

const double MIN_POSITION = -1.2;
const double MAX_POSITION = 0.5;
const double MAX_SPEED = 0.07;
const int TILINGS = 8;
const int TILES = 8;  // per variable and tiling
const int GREEDY_RUNS = 5;
const int STEP_LIMIT = 100000;  // a greedy run that never reaches the goal stops here

class Throttle : public AbstractAction {
public:
    explicit Throttle(int direction) : direction(direction) {}
    void addInformation(std::ostream& os) const override {
        os << (direction < 0 ? "reverse" : direction > 0 ? "forward" : "coast");
    }
    const int direction;
};

struct Car {
    double position = -0.5;
    double velocity = 0.0;

    void reset() {
        position = -0.6 + 0.2 * getNextDouble();
        velocity = 0.0;
    }
    void push(int direction) {
        velocity = minMax(velocity + 0.001 * direction - 0.0025 * std::cos(3.0 * position), -MAX_SPEED, MAX_SPEED);
        position = minMax(position + velocity, MIN_POSITION, MAX_POSITION);
        if (position == MIN_POSITION && velocity < 0.0) velocity = 0.0;
    }
    bool atGoal() const { return position >= MAX_POSITION; }
};

void bindActions(ActionValueFunction& q) {
    for (int a = 0; a < 3; ++a) q.setAction(a, new Throttle(a - 1));
}

// The value function: 3 actions, then one group of 8 tilings over both
// variables, with a resolution that gives 8 tiles per variable.
ActionTileCoding* buildValueFunction() {
    State* state = new State();
    const unsigned int position = state->registerVariable("position", MIN_POSITION, MAX_POSITION);
    const unsigned int velocity = state->registerVariable("velocity", -MAX_SPEED, MAX_SPEED);
    ActionTileCoding* q = new ActionTileCoding(state);
    for (int a = 0; a < 3; ++a) q->registerAction(new Throttle(a - 1));
    std::list<Types::TILINGS_VAR_STRUCT> vars;
    vars.push_back({static_cast<int>(position), (MAX_POSITION - MIN_POSITION) / (TILES * TILINGS), Types::CLIP});
    vars.push_back({static_cast<int>(velocity), 2.0 * MAX_SPEED / (TILES * TILINGS), Types::CLIP});
    q->registerTiling(new ActionTilings(TILINGS, vars));
    // Traces in a flat list: the same learning as the default map, several
    // times faster per step, for one int per weight.
    q->setTraceStorage(Types::SPARSE);
    return q;
}

class MountainCar : public Sarsa {
public:
    MountainCar(const ExampleOptions& options, bool freshConfig)
        : Sarsa(options.config), options_(options), curve_(options.csv, "") {
        if (freshConfig) {
            ALPHA = 0.5;
            LAMBDA = 0.9;
            GAMMA = 1.0;
            ACTION_SELECTION = GREEDY;
            TRACES = REPLACING;
            saveConf();
        }
        avfPtr = buildValueFunction();
        setSignalPollInterval(options.poll);
        if (options.seedGiven) setSeed(options.seed);
    }

    ActionValueFunction& values() { return *avfPtr; }
    int exitStatus() const { return stopStatus(sigTermRcvd, sigIntRcvd); }
    double firstSteps() const { return firstSteps_; }
    double meanOfLastTen() const { return lastCount_ == 0 ? 0.0 : lastSum_ / lastCount_; }

protected:
    void setInitialState() override {
        car_.reset();
        writeState();
    }
    void takeAction() override { car_.push(static_cast<const Throttle*>(avfPtr->getActiveAction())->direction); }
    const bool observeState() override {
        writeState();
        return !car_.atGoal();
    }
    const double calculateReward() override { return -1.0; }
    void finishEpisode() override {
        if (!continueEpisode) curve_.row(episodes, steps, -steps);
        std::printf("episode %4d  steps %5d\n", episodes, steps);
        std::fflush(stdout);
        if (episodes == 1) firstSteps_ = steps;
        if (episodes > options_.episodes - 10) {
            lastSum_ += steps;
            ++lastCount_;
        }
        if (episodes >= options_.episodes) continueLearning = false;
    }

private:
    void writeState() {
        avfPtr->getStatePtr()->setValueDbl(0, car_.position);
        avfPtr->getStatePtr()->setValueDbl(1, car_.velocity);
    }

    const ExampleOptions& options_;
    LearningCurve curve_;
    Car car_;
    double firstSteps_ = 0.0;
    double lastSum_ = 0.0;
    int lastCount_ = 0;
};

// Drives the car greedily with a value function; returns the steps taken.
int greedyRun(ActionValueFunction& q) {
    Car car;
    car.reset();
    State* state = q.getStatePtr();
    int steps = 0;
    while (!car.atGoal() && steps < STEP_LIMIT) {
        state->setValueDbl(0, car.position);
        state->setValueDbl(1, car.velocity);
        q.setState();
        q.setGreedyActionIndex();
        const Throttle* throttle = static_cast<const Throttle*>(q.getActiveAction());
        if (throttle == nullptr) return STEP_LIMIT;
        car.push(throttle->direction);
        ++steps;
    }
    return steps;
}

}  // namespace

int main(int argc, char** argv) {
    ExampleOptions options("mountain_car", 100);
    if (!options.parse(argc, argv)) return 2;
    blockControlSignals();
    options.out = options.out == "mountain_car.tembra" ? "mountain_car.q" : options.out;

    MountainCar agent(options, !fileExists(options.config));
    agent.controlLoop();
    if (agent.values().save(options.out) != 0) return 1;
    std::cout << "saved the learnt action values to " << options.out << std::endl;
    // A run stopped by a signal has saved what it learnt and ends here.
    if (agent.exitStatus() != 0) return agent.exitStatus();

    // A fresh value function from the file, with the actions bound again,
    // drives the car without learning.
    ActionTileCoding reloaded(options.out);
    bindActions(reloaded);
    double greedySum = 0.0;
    std::cout << "greedy runs with the reloaded value function:";
    for (int run = 0; run < GREEDY_RUNS; ++run) {
        const int steps = greedyRun(reloaded);
        greedySum += steps;
        std::cout << " " << steps;
    }
    std::cout << " steps" << std::endl;

    const double last = agent.meanOfLastTen();
    const bool learned = last < agent.firstSteps() / 3.0 && greedySum / GREEDY_RUNS < agent.firstSteps() / 3.0;
    std::printf("result: steps per episode %.0f (first) -> %.1f (mean of the last 10)%s\n", agent.firstSteps(), last,
                learned ? " (learned)" : " (NOT learned)");
    return 0;
}
