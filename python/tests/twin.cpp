// The C++ twin of python/tests/twin.py: the same seeded runs, written with
// the library directly, so that the Python tests can compare the files both
// write byte for byte, and the speed script can time the same task on both
// sides.
//
//   tembra_python_twin cliff|car|walk DIR        learn, save DIR/<task>.q or .v
//   tembra_python_twin speed-car DIR EPISODES    mountain car, prints steps and seconds
//   tembra_python_twin speed-empty DIR STEPS     empty hooks, prints steps and seconds

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <list>
#include <string>

#include <tembra/libtembra.h>

namespace {

class Move : public AbstractAction {
public:
    Move(int dRow, int dColumn) : dRow(dRow), dColumn(dColumn) {}
    const int dRow;
    const int dColumn;
};

class Throttle : public AbstractAction {
public:
    explicit Throttle(int direction) : direction(direction) {}
    const int direction;
};

// Cliff walking: Sarsa, epsilon-greedy, one-step, on a table of row x column.
class Cliff : public Sarsa {
public:
    explicit Cliff(const std::string& conf) : Sarsa(conf) {
        ALPHA = 0.1;
        GAMMA = 1.0;
        EPSILON = 0.1;
        ACTION_SELECTION = EPSILON_GREEDY;
        TRACES = NONE;
        State* state = new State();
        state->registerVariable("row", 0, 3);
        state->registerVariable("column", 0, 11);
        ActionLookupTable* q = new ActionLookupTable(state);
        q->registerAction(new Move(-1, 0));
        q->registerAction(new Move(1, 0));
        q->registerAction(new Move(0, -1));
        q->registerAction(new Move(0, 1));
        q->create();
        avfPtr = q;
    }
    ActionValueFunction& values() { return *avfPtr; }

protected:
    void setInitialState() override {
        row = 3;
        column = 0;
        write();
    }
    void takeAction() override {
        const Move* move = static_cast<const Move*>(avfPtr->getActiveAction());
        row = std::min(std::max(row + move->dRow, 0), 3);
        column = std::min(std::max(column + move->dColumn, 0), 11);
        reward = -1.0;
        if (row == 3 && column > 0 && column < 11) {
            reward = -100.0;
            row = 3;
            column = 0;
        }
    }
    const bool observeState() override {
        write();
        return !(row == 3 && column == 11);
    }
    const double calculateReward() override { return reward; }
    void finishEpisode() override {
        if (episodes >= 100) continueLearning = false;
    }

private:
    void write() {
        avfPtr->getStatePtr()->setValueInt(0, row);
        avfPtr->getStatePtr()->setValueInt(1, column);
    }
    int row = 3;
    int column = 0;
    double reward = 0.0;
};

struct Car {
    double position = -0.5;
    double velocity = 0.0;
    void reset() {
        position = -0.6 + 0.2 * getNextDouble();
        velocity = 0.0;
    }
    void push(int direction) {
        velocity = minMax(velocity + 0.001 * direction - 0.0025 * std::cos(3.0 * position), -0.07, 0.07);
        position = minMax(position + velocity, -1.2, 0.5);
        if (position == -1.2 && velocity < 0.0) velocity = 0.0;
    }
};

ActionTileCoding* carValues() {
    State* state = new State();
    state->registerVariable("position", -1.2, 0.5);
    state->registerVariable("velocity", -0.07, 0.07);
    ActionTileCoding* q = new ActionTileCoding(state);
    for (int a = 0; a < 3; ++a) q->registerAction(new Throttle(a - 1));
    std::list<Types::TILINGS_VAR_STRUCT> vars;
    vars.push_back({0, 1.7 / 64, Types::CLIP});
    vars.push_back({1, 0.14 / 64, Types::CLIP});
    q->registerTiling(new ActionTilings(8, vars));
    return q;
}

// Mountain car on a tile coding. The Watkins run explores a little and is
// cut at 500 steps; the speed run is the demonstration's greedy Sarsa.
template <class Learner>
class MountainCar : public Learner {
public:
    MountainCar(const std::string& conf, int episodes, int stepLimit, double epsilon)
        : Learner(conf), lastEpisode(episodes), stepLimit(stepLimit) {
        this->ACTION_SELECTION = epsilon > 0.0 ? Tembra::EPSILON_GREEDY : Tembra::GREEDY;
        this->EPSILON = epsilon;
        this->ALPHA = 0.5;
        this->LAMBDA = 0.9;
        this->GAMMA = 1.0;
        this->TRACES = Tembra::REPLACING;
        this->avfPtr = carValues();
    }
    ActionValueFunction& values() { return *this->avfPtr; }
    long long totalSteps = 0;

protected:
    void setInitialState() override {
        car.reset();
        write();
    }
    void takeAction() override { car.push(static_cast<const Throttle*>(this->avfPtr->getActiveAction())->direction); }
    const bool observeState() override {
        write();
        ++totalSteps;
        return car.position < 0.5 && (stepLimit == 0 || this->steps < stepLimit);
    }
    const double calculateReward() override { return -1.0; }
    void finishEpisode() override {
        if (this->episodes >= lastEpisode) this->continueLearning = false;
    }

private:
    void write() {
        this->avfPtr->getStatePtr()->setValueDbl(0, car.position);
        this->avfPtr->getStatePtr()->setValueDbl(1, car.velocity);
    }
    Car car;
    int lastEpisode;
    int stepLimit;
};

// A random walk over positions 0..6 from 3; TD on a network learns the
// chance of leaving on the right.
class Walk : public TD {
public:
    explicit Walk(const std::string& conf) : TD(conf) {
        ALPHA = 0.2;
        LAMBDA = 0.5;
        GAMMA = 1.0;
        State* state = new State();
        state->registerVariable("position", 0.0, 6.0);
        NeuralNetwork* v = new NeuralNetwork(state, 3);
        v->setScaleFactor(0, 1.0 / 6.0);
        svfPtr = v;
    }
    StateValueFunction& values() { return *svfPtr; }

protected:
    void setInitialState() override {
        position = 3;
        svfPtr->getStatePtr()->setValueDbl(0, position);
    }
    void takeAction() override { position += getRandomIndex(2) == 0 ? -1 : 1; }
    const bool observeState() override {
        svfPtr->getStatePtr()->setValueDbl(0, position);
        return position > 0 && position < 6;
    }
    const double calculateReward() override { return position == 6 ? 1.0 : 0.0; }
    void finishEpisode() override {
        if (episodes >= 30) continueLearning = false;
    }

private:
    int position = 3;
};

class Nothing : public AbstractAction {};

// Hooks that do nothing, one episode of a given number of steps on a
// one-cell table: what a step costs besides the hooks' own work.
class Empty : public Sarsa {
public:
    Empty(const std::string& conf, int stepCount) : Sarsa(conf), stepCount(stepCount) {
        TRACES = NONE;
        ACTION_SELECTION = GREEDY;
        State* state = new State();
        state->registerVariable("cell", 0, 0);
        ActionLookupTable* q = new ActionLookupTable(state);
        q->registerAction(new Nothing());
        q->create();
        avfPtr = q;
    }

protected:
    void setInitialState() override {}
    void takeAction() override {}
    const bool observeState() override { return steps < stepCount; }
    const double calculateReward() override { return 0.0; }
    void finishEpisode() override { continueLearning = false; }

private:
    int stepCount;
};

template <class Run>
double seconds(Run run) {
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int usage() {
    std::fprintf(stderr, "usage: tembra_python_twin cliff|car|walk DIR | speed-car DIR EPISODES | speed-empty DIR STEPS\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return usage();
    const std::string task = argv[1];
    const std::string dir = argv[2];
    const int count = argc > 3 ? std::atoi(argv[3]) : 0;
    if (task == "cliff") {
        Cliff agent(dir + "/cliff.conf");
        agent.controlLoop();
        return agent.values().save(dir + "/cliff.q") == 0 ? 0 : 1;
    }
    if (task == "car") {
        MountainCar<Watkins> agent(dir + "/car.conf", 10, 500, 0.05);
        agent.controlLoop();
        return agent.values().save(dir + "/car.q") == 0 ? 0 : 1;
    }
    if (task == "walk") {
        Walk agent(dir + "/walk.conf");
        agent.controlLoop();
        return agent.values().save(dir + "/walk.v") == 0 ? 0 : 1;
    }
    if (task == "speed-car" && count > 0) {
        MountainCar<Sarsa> agent(dir + "/speed-car.conf", count, 0, 0.0);
        const double s = seconds([&] { agent.controlLoop(); });
        std::printf("steps %lld seconds %.6f\n", agent.totalSteps, s);
        return 0;
    }
    if (task == "speed-empty" && count > 0) {
        Empty agent(dir + "/speed-empty.conf", count);
        const double s = seconds([&] { agent.controlLoop(); });
        std::printf("steps %d seconds %.6f\n", count, s);
        return 0;
    }
    return usage();
}
