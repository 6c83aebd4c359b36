#ifndef TEMBRA_BENCH_WORKLOADS_H
#define TEMBRA_BENCH_WORKLOADS_H

// The workloads of the step benchmarks, shared with the test that keeps
// them honest (tests/test_benchmark_equivalence.cpp):
//
// - three environments, trivial and deterministic: a walk over integer
//   states for the lookup tables, the mountain car and a walker bouncing
//   in the unit cube for tile coding and the network;
// - agents that drive the library on them through controlLoop, the way a
//   using program does (hooks that write the State, a finishEpisode that
//   stops after a number of episodes and writes no notice);
// - for each workload a baseline: the same learner written the way a
//   careful programmer writes it without the library (flat arrays, no
//   virtual calls, work hoisted out of loops), with the same arithmetic in
//   the same order and the same rand() draws in the same order.
//
// An agent and its baseline, run for the same episodes, take the same
// actions and end with the same weights, bit for bit.

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <list>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "AbstractAction.h"
#include "ActionLookupTable.h"
#include "ActionTileCoding.h"
#include "ActionTilings.h"
#include "NeuralNetwork.h"
#include "Sarsa.h"
#include "State.h"
#include "TD.h"
#include "Types.h"
#include "Utility.h"
#include "Watkins.h"
#include "learners/ConfigCodec.h"

namespace bench {

// ===========================================================================
// Parameters and bookkeeping

// The eight learning parameters. The agents get them from the configuration
// file (writeConfig), the baselines from here.
struct Params {
    double alpha = 0.1;
    double lambda = 0.9;
    double gamma = 0.95;
    double epsilon = 0.1;
    double temperature = 0.5;
    double traceValue = 1.0;
    Tembra::TRACE_TYPE traces = Tembra::REPLACING;
    Tembra::ACTION_SELECTION_TYPE selection = Tembra::GREEDY;
};

// Writes the configuration file a learner reads at construction, with every
// number exact (17 digits), so that the learner does not create the file
// and announce it.
inline bool writeConfig(const std::string& path, const Params& p) {
    std::ofstream file(path.c_str(), std::ios::out | std::ios::trunc);
    ConfigCodec::write(file,
                       {p.alpha, p.lambda, p.gamma, p.selection, p.epsilon, p.temperature, p.traces, p.traceValue},
                       17);
    file.close();
    return !file.fail();
}

// What an agent did: a running hash of every (state, action) it took and the
// number of steps. Equal trajectories mean equal episodes.
struct Trajectory {
    std::uint64_t hash = 14695981039346656037ull;
    long long steps = 0;

    void mix(const std::uint64_t v) { hash = (hash ^ v) * 1099511628211ull; }
    void add(const long long stateKey, const int action) {
        mix(static_cast<std::uint64_t>(stateKey));
        mix(static_cast<std::uint64_t>(action));
        ++steps;
    }
    void add(const double stateKey, const int action) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &stateKey, sizeof bits);
        add(static_cast<long long>(bits), action);
    }
};

// The uniform index draw and the greedy tie-break of the library, written
// out: one rand() per call.
inline int drawIndex(const int n) {
    const int i = static_cast<int>(std::floor(std::rand() * (1.0 / 2147483648.0) * n));
    return i < 0 ? 0 : (i > n - 1 ? n - 1 : i);
}

inline bool drawBelow(const double probability) { return std::rand() * (1.0 / 2147483648.0) < probability; }

// ===========================================================================
// Environments

// A walk over the integer states [0, states): episode e starts in state
// e * cycle (mod states) and moves on by one state per step whatever the
// action, coming back to its start after cycle steps. An episode of
// length steps thus traces min(cycle, length, states) distinct states.
struct CycleWalk {
    int states = 100;
    int cycle = 100;
    int length = 100;
    int start = 0;
    int step = 0;
    int x = 0;

    void reset(const int episode) {
        start = static_cast<int>(static_cast<long long>(episode) * cycle % states);
        step = 0;
        x = start;
    }
    void act(int) {
        ++step;
        x = static_cast<int>((static_cast<long long>(start) + step % cycle) % states);
    }
    bool goesOn() const { return step < length; }
    double reward(const int action) const { return (x + action) % 3 == 0 ? 1.0 : -0.5; }
};

// The mountain car: an underpowered car in a valley, 3 actions (reverse,
// coast, forward), a cost of 1 per step. Episodes last length steps
// whether or not the car reaches the goal; the start draws one rand().
struct MountainCar {
    static constexpr double MIN_POSITION = -1.2;
    static constexpr double MAX_POSITION = 0.5;
    static constexpr double MAX_SPEED = 0.07;

    int length = 200;
    int step = 0;
    double position = -0.5;
    double velocity = 0.0;

    int dimensions() const { return 2; }
    double minValue(const int d) const { return d == 0 ? MIN_POSITION : -MAX_SPEED; }
    double maxValue(const int d) const { return d == 0 ? MAX_POSITION : MAX_SPEED; }
    double value(const int d) const { return d == 0 ? position : velocity; }

    void reset(int) {
        position = -0.6 + 0.2 * getNextDouble();
        velocity = 0.0;
        step = 0;
    }
    void act(const int action) {
        velocity = minMax(velocity + 0.001 * (action - 1) - 0.0025 * std::cos(3.0 * position), -MAX_SPEED, MAX_SPEED);
        position = minMax(position + velocity, MIN_POSITION, MAX_POSITION);
        if (position == MIN_POSITION && velocity < 0.0) velocity = 0.0;
        ++step;
    }
    bool goesOn() const { return step < length; }
    double reward(int) const { return -1.0; }
};

// A point bouncing in the unit cube of 1 to 8 dimensions, each coordinate
// at its own speed; the action nudges coordinate 0. The reward favours a
// large coordinate 0 (controlled), or is coordinate 0 at the end of the
// episode and 0 before (for state values, which the network keeps in (0, 1)).
struct Walker {
    static const int MAX_DIMENSIONS = 8;

    int dims = 2;
    int length = 100;
    int step = 0;
    double x[MAX_DIMENSIONS] = {};
    double direction[MAX_DIMENSIONS] = {};

    int dimensions() const { return dims; }
    double minValue(int) const { return 0.0; }
    double maxValue(int) const { return 1.0; }
    double value(const int d) const { return x[d]; }

    void reset(const int episode) {
        for (int d = 0; d < dims; ++d) {
            x[d] = 0.05 + std::fmod(0.137 * episode + 0.291 * d, 0.9);
            direction[d] = 1.0;
        }
        step = 0;
    }
    void act(const int action) {
        for (int d = 0; d < dims; ++d) {
            double next = x[d] + (0.011 + 0.006 * d) * direction[d];
            if (d == 0) next += 0.004 * (action - 1);
            if (next > 1.0) {
                next = 2.0 - next;
                direction[d] = -direction[d];
            } else if (next < 0.0) {
                next = -next;
                direction[d] = -direction[d];
            }
            x[d] = next;
        }
        ++step;
    }
    bool goesOn() const { return step < length; }
    double reward(const int action) const { return x[0] - 1.0 - (action == 1 ? 0.05 : 0.0); }
    double finalReward() const { return step < length ? 0.0 : x[0]; }
    // What the TD agent does: it chooses for itself.
    int policy() const { return (step / 7) % 3; }
};

// ===========================================================================
// The library side

// An action of the benchmark agents: they only use its index.
class Move : public AbstractAction {};

// A learner that runs a given number of episodes per call and writes no
// notice at the end of an episode.
template <class Learner>
class Driven : public Learner {
public:
    explicit Driven(const std::string& confFile) : Learner(confFile) {}

    void runEpisodes(const int n) {
        stopAfter = this->episodes + n;
        this->continueLearning = true;
        this->controlLoop();
    }
    int episodeCount() const { return this->episodes; }

    Trajectory trajectory;

protected:
    void finishEpisode() override {
        if (this->episodes >= stopAfter) this->continueLearning = false;
    }

private:
    int stopAfter = 0;
};

// The signal poll taken out (measures the library without it).
template <class Agent>
class NoPoll : public Agent {
public:
    using Agent::Agent;

protected:
    void checkPendingSignals() override {}
};

// Value functions that let the comparison read their weights.
class TableQ : public ActionLookupTable {
public:
    using ActionLookupTable::ActionLookupTable;
    const double* weightData() const { return weights; }
    int weightCount() const { return ARRAY_SIZE; }
};

class TileGroup : public ActionTilings {
public:
    using ActionTilings::ActionTilings;
    const double* weightData() const { return weights; }
    int weightCount() const { return ARRAY_SIZE; }
};

class Network : public NeuralNetwork {
public:
    using NeuralNetwork::NeuralNetwork;
    const double* inputHidden() const { return inputHiddenWeights; }
    const double* hiddenOutput() const { return hiddenOutputWeights; }
    int inputHiddenCount() const { return INPUT_LAYER_NEURONS * HIDDEN_LAYER_NEURONS; }
    int hiddenOutputCount() const { return HIDDEN_LAYER_NEURONS * OUTPUT_LAYER_NEURONS; }
};

struct TableSetup {
    int states = 25;
    int actions = 4;
    int cycle = 100;
    int length = 100;
    Types::TRACE_STORAGE storage = Types::MAP;
};

// Sarsa or Watkins on an action lookup table over one integer variable.
template <class Learner>
class TableAgent : public Driven<Learner> {
public:
    TableAgent(const std::string& confFile, const TableSetup& setup) : Driven<Learner>(confFile) {
        env.states = setup.states;
        env.cycle = setup.cycle;
        env.length = setup.length;
        state = new State();
        state->registerVariable("x", 0, setup.states - 1);
        q = new TableQ(state);
        for (int a = 0; a < setup.actions; ++a) q->registerAction(new Move());
        q->create();
        q->setTraceStorage(setup.storage);
        this->avfPtr = q;
    }

    CycleWalk env;
    TableQ* q;

protected:
    void setInitialState() override {
        env.reset(this->episodes);
        state->setValueInt(0, env.x);
    }
    void takeAction() override {
        action = q->getActiveActionIndex();
        this->trajectory.add(static_cast<long long>(env.x), action);
        env.act(action);
    }
    const bool observeState() override {
        state->setValueInt(0, env.x);
        return env.goesOn();
    }
    const double calculateReward() override { return env.reward(action); }

private:
    State* state;
    int action = 0;
};

struct TileSetup {
    int tilings = 8;
    int tilesPerVariable = 8;
    int actions = 3;
    Types::TRACE_STORAGE storage = Types::MAP;
};

// The resolution that asks for tilesPerVariable tiles of every tiling.
inline double tileResolution(const double range, const TileSetup& setup) {
    return range / (setup.tilesPerVariable * setup.tilings);
}

// Sarsa on an action tile coding: one group of CLIP tilings over every
// variable of the environment.
template <class Env>
class TileAgent : public Driven<Sarsa> {
public:
    TileAgent(const std::string& confFile, const Env& environment, const TileSetup& setup)
        : Driven<Sarsa>(confFile), env(environment) {
        state = new State();
        for (int d = 0; d < env.dimensions(); ++d) {
            state->registerVariable("v" + std::to_string(d), env.minValue(d), env.maxValue(d));
        }
        q = new ActionTileCoding(state);
        for (int a = 0; a < setup.actions; ++a) q->registerAction(new Move());
        std::list<Types::TILINGS_VAR_STRUCT> vars;
        for (int d = 0; d < env.dimensions(); ++d) {
            vars.push_back({d, tileResolution(env.maxValue(d) - env.minValue(d), setup), Types::CLIP});
        }
        group = new TileGroup(setup.tilings, vars);
        q->registerTiling(group);
        q->setTraceStorage(setup.storage);
        avfPtr = q;
    }

    Env env;
    ActionTileCoding* q;
    TileGroup* group;

protected:
    void setInitialState() override {
        env.reset(episodes);
        writeState();
    }
    void takeAction() override {
        action = q->getActiveActionIndex();
        trajectory.add(env.value(0), action);
        env.act(action);
    }
    const bool observeState() override {
        writeState();
        return env.goesOn();
    }
    const double calculateReward() override { return env.reward(action); }

private:
    void writeState() {
        for (int d = 0; d < env.dimensions(); ++d) state->setValueDbl(static_cast<unsigned int>(d), env.value(d));
    }

    State* state;
    int action = 0;
};

// TD on the network: the walker's coordinates are the inputs.
class NetworkAgent : public Driven<TD> {
public:
    NetworkAgent(const std::string& confFile, const int inputs, const int hidden, const int length)
        : Driven<TD>(confFile) {
        env.dims = inputs;
        env.length = length;
        state = new State();
        for (int d = 0; d < inputs; ++d) state->registerVariable("v" + std::to_string(d), 0.0, 1.0);
        net = new Network(state, hidden);
        svfPtr = net;
    }

    Walker env;
    Network* net;

protected:
    void setInitialState() override {
        env.reset(episodes);
        writeState();
    }
    void takeAction() override {
        const int action = env.policy();
        trajectory.add(env.value(0), action);
        env.act(action);
    }
    const bool observeState() override {
        writeState();
        return env.goesOn();
    }
    const double calculateReward() override { return env.finalReward(); }

private:
    void writeState() {
        for (int d = 0; d < env.dims; ++d) state->setValueDbl(static_cast<unsigned int>(d), env.x[d]);
    }

    State* state;
};

// ===========================================================================
// The baselines

// Three ways to keep traces over size weights.
//
// Dense: one trace per weight; every decay and update visits them all.
class DenseTraces {
public:
    explicit DenseTraces(const int size) : e(static_cast<std::size_t>(size), 0.0) {}
    void clear() { std::fill(e.begin(), e.end(), 0.0); }
    void decay(const double factor) {
        for (double& t : e) t = t * factor;
    }
    void set(const int i, const double v) { e[static_cast<std::size_t>(i)] = v; }
    void add(const int i, const double v) { set(i, e[static_cast<std::size_t>(i)] + v); }
    void drop(const int i) { e[static_cast<std::size_t>(i)] = 0.0; }
    void update(double* w, const double factor) const {
        const std::size_t n = e.size();
        for (std::size_t i = 0; i < n; ++i) w[i] = w[i] + factor * e[i];
    }
    std::size_t entries() const { return e.size(); }

private:
    std::vector<double> e;
};

// Ordered map from weight index to trace, as the library keeps them.
class MapTraces {
public:
    explicit MapTraces(int) {}
    void clear() { e.clear(); }
    void decay(const double factor) {
        for (std::pair<const int, double>& t : e) t.second = t.second * factor;
    }
    void set(const int i, const double v) { e[i] = v; }
    void add(const int i, const double v) { e[i] = e[i] + v; }
    void drop(const int i) { e.erase(i); }
    void update(double* w, const double factor) const {
        for (const std::pair<const int, double>& t : e) w[t.first] = w[t.first] + factor * t.second;
    }
    std::size_t entries() const { return e.size(); }

private:
    std::map<int, double> e;
};

// A flat array of (index, trace) pairs with the slot of every index: decay
// and update run over contiguous memory, marking and dropping take one
// look-up each. Costs one int per weight.
class PairTraces {
public:
    explicit PairTraces(const int size) : slot(static_cast<std::size_t>(size), -1) {}
    void clear() {
        for (const std::pair<int, double>& t : list) slot[static_cast<std::size_t>(t.first)] = -1;
        list.clear();
    }
    void decay(const double factor) {
        for (std::pair<int, double>& t : list) t.second = t.second * factor;
    }
    void set(const int i, const double v) {
        int& s = slot[static_cast<std::size_t>(i)];
        if (s < 0) {
            s = static_cast<int>(list.size());
            list.push_back(std::make_pair(i, v));
        } else {
            list[static_cast<std::size_t>(s)].second = v;
        }
    }
    void add(const int i, const double v) {
        const int s = slot[static_cast<std::size_t>(i)];
        set(i, s < 0 ? v : list[static_cast<std::size_t>(s)].second + v);
    }
    void drop(const int i) {
        const int s = slot[static_cast<std::size_t>(i)];
        if (s < 0) return;
        const std::pair<int, double> last = list.back();
        list[static_cast<std::size_t>(s)] = last;
        slot[static_cast<std::size_t>(last.first)] = s;
        list.pop_back();
        slot[static_cast<std::size_t>(i)] = -1;
    }
    void update(double* w, const double factor) const {
        for (const std::pair<int, double>& t : list) w[t.first] = w[t.first] + factor * t.second;
    }
    std::size_t entries() const { return list.size(); }

private:
    std::vector<int> slot;
    std::vector<std::pair<int, double>> list;
};

// The same flat arrays, with the slot of an index found by an
// open-addressing hash (linear probing, deletion by shifting back) instead
// of a table of one int per weight: memory for the traced entries only, a
// little more work per look-up.
class HashPairTraces {
public:
    explicit HashPairTraces(int) : keys(64, -1), slots(64, -1) {}
    // Every place emptied at once: emptying them one by one would cut the
    // probe runs of those still to be found.
    void clear() {
        std::fill(keys.begin(), keys.end(), -1);
        list.clear();
    }
    void decay(const double factor) {
        for (std::pair<int, double>& t : list) t.second = t.second * factor;
    }
    void set(const int i, const double v) {
        const std::size_t h = find(i);
        if (keys[h] == i) {
            list[static_cast<std::size_t>(slots[h])].second = v;
            return;
        }
        keys[h] = i;
        slots[h] = static_cast<int>(list.size());
        list.push_back(std::make_pair(i, v));
        if (2 * list.size() > keys.size()) grow();
    }
    void add(const int i, const double v) {
        const std::size_t h = find(i);
        set(i, keys[h] == i ? list[static_cast<std::size_t>(slots[h])].second + v : v);
    }
    void drop(const int i) {
        const std::size_t h = find(i);
        if (keys[h] != i) return;
        const int s = slots[h];
        erase(h);
        const std::pair<int, double> last = list.back();
        list.pop_back();
        if (last.first == i) return;
        list[static_cast<std::size_t>(s)] = last;
        slots[find(last.first)] = s;
    }
    void update(double* w, const double factor) const {
        for (const std::pair<int, double>& t : list) w[t.first] = w[t.first] + factor * t.second;
    }
    std::size_t entries() const { return list.size(); }

private:
    std::size_t mask() const { return keys.size() - 1; }
    static std::size_t hash(const int i) { return static_cast<std::size_t>(static_cast<unsigned int>(i) * 2654435761u); }
    // The place of i, or the empty place where it would go.
    std::size_t find(const int i) const {
        std::size_t h = hash(i) & mask();
        while (keys[h] != -1 && keys[h] != i) h = (h + 1) & mask();
        return h;
    }
    // Empties place h and moves back the entries after it that probing
    // would no longer reach.
    void erase(std::size_t h) {
        std::size_t next = (h + 1) & mask();
        while (keys[next] != -1) {
            const std::size_t home = hash(keys[next]) & mask();
            if (((next - home) & mask()) >= ((next - h) & mask())) {
                keys[h] = keys[next];
                slots[h] = slots[next];
                h = next;
            }
            next = (next + 1) & mask();
        }
        keys[h] = -1;
    }
    void grow() {
        keys.assign(2 * keys.size(), -1);
        slots.assign(keys.size(), -1);
        for (std::size_t k = 0; k < list.size(); ++k) {
            const std::size_t h = find(list[k].first);
            keys[h] = list[k].first;
            slots[h] = static_cast<int>(k);
        }
    }

    std::vector<int> keys;
    std::vector<int> slots;
    std::vector<std::pair<int, double>> list;
};

// Sarsa(lambda) or Watkins' Q(lambda) with replacing, accumulating or no
// traces (the update then moves the weight of the pair stored last) on a
// table of states x actions weights, greedy, epsilon-greedy or softmax.
template <class Traces>
class TableBaseline {
public:
    TableBaseline(const Params& params, const TableSetup& setup, const bool watkinsRule)
        : p(params),
          A(setup.actions),
          watkins(watkinsRule),
          w(static_cast<std::size_t>(setup.states) * static_cast<std::size_t>(setup.actions), 0.0),
          traces(setup.states * setup.actions),
          candidates(static_cast<std::size_t>(setup.actions)),
          weightsOf(static_cast<std::size_t>(setup.actions)) {
        env.states = setup.states;
        env.cycle = setup.cycle;
        env.length = setup.length;
        std::srand(1);
    }

    void runEpisodes(const int n) {
        for (int k = 0; k < n; ++k) episode();
    }
    const double* weightData() const { return w.data(); }
    int weightCount() const { return static_cast<int>(w.size()); }
    int episodeCount() const { return episodes; }

    CycleWalk env;
    Trajectory trajectory;

private:
    // The greedy action of the block at s (ties broken at random); value = its Q.
    int greedy(const int s) {
        double best = -DBL_MAX;
        int n = 0;
        for (int b = 0; b < A; ++b) {
            const double v = w[static_cast<std::size_t>(s + b)];
            if (v > best) {
                best = v;
                candidates[0] = b;
                n = 1;
            } else if (v == best) {
                candidates[static_cast<std::size_t>(n++)] = b;
            }
        }
        value = best;
        return candidates[static_cast<std::size_t>(drawIndex(n))];
    }
    // Softmax over the block at s: weights exp((v - min) / ((max - min) * T)),
    // one draw over their running sum; uniform when they cannot be told apart.
    int softmax(const int s) {
        double lo = DBL_MAX, hi = -DBL_MAX, sum = 0.0;
        for (int b = 0; b < A; ++b) {
            lo = std::min(lo, w[static_cast<std::size_t>(s + b)]);
            hi = std::max(hi, w[static_cast<std::size_t>(s + b)]);
        }
        for (int b = 0; b < A && hi != lo; ++b) {
            const double e = reproducibleExp((w[static_cast<std::size_t>(s + b)] - lo) / ((hi - lo) * p.temperature));
            weightsOf[static_cast<std::size_t>(b)] = e;
            sum = sum + e;
        }
        int a = A - 1;
        if (hi == lo || p.temperature == 0.0 || !(sum > 0.0) || !std::isfinite(sum)) {
            a = drawIndex(A);
        } else {
            const int r = std::rand();
            double running = 0.0;
            for (int b = 0; b < A; ++b) {
                running = running + weightsOf[static_cast<std::size_t>(b)] / sum * 2147483647.0;
                if (running > r) {
                    a = b;
                    break;
                }
            }
        }
        value = w[static_cast<std::size_t>(s + a)];
        return a;
    }
    // Sarsa's selection: the behaviour and the target.
    int select(const int s) {
        if (p.selection == Tembra::SOFTMAX) return softmax(s);
        if (p.selection == Tembra::EPSILON_GREEDY && drawBelow(p.epsilon)) {
            const int a = drawIndex(A);
            value = w[static_cast<std::size_t>(s + a)];
            return a;
        }
        return greedy(s);
    }
    void replace(const int s, const int a) {
        stored = s + a;
        if (p.traces == Tembra::ACCUMULATING) traces.add(s + a, p.traceValue);
        if (p.traces != Tembra::REPLACING) return;
        for (int b = 0; b < A; ++b) {
            if (b == a) traces.set(s + b, p.traceValue);
            else traces.drop(s + b);
        }
    }

    void episode() {
        ++episodes;
        traces.clear();
        env.reset(episodes);
        int s = env.x * A;
        int a = watkins ? greedy(s) : select(s);
        for (;;) {
            if (watkins && p.selection == Tembra::SOFTMAX) {
                // Leaving the greedy action cuts the traces.
                const int greedyAction = a;
                a = softmax(s);
                if (a == greedyAction) traces.decay(p.gamma * p.lambda);
                else traces.clear();
            } else if (watkins && p.selection == Tembra::EPSILON_GREEDY && drawBelow(p.epsilon)) {
                a = drawIndex(A);
                value = w[static_cast<std::size_t>(s + a)];
                traces.clear();
            } else {
                traces.decay(p.gamma * p.lambda);
            }
            replace(s, a);
            trajectory.add(static_cast<long long>(env.x), a);
            env.act(a);
            const bool goesOn = env.goesOn();
            const int next = env.x * A;
            double delta = env.reward(a) - value;
            int nextAction = a;
            if (goesOn) {
                nextAction = watkins ? greedy(next) : select(next);
                delta = delta + value * p.gamma;
            }
            if (p.traces == Tembra::NONE) {
                w[static_cast<std::size_t>(stored)] = w[static_cast<std::size_t>(stored)] + p.alpha * delta;
            } else {
                traces.update(w.data(), p.alpha * delta);
            }
            if (!goesOn) break;
            value = w[static_cast<std::size_t>(next + nextAction)];
            s = next;
            a = nextAction;
        }
    }

    const Params p;
    const int A;
    const bool watkins;
    std::vector<double> w;
    Traces traces;
    std::vector<int> candidates;
    std::vector<double> weightsOf;
    double value = 0.0;
    int stored = 0;
    int episodes = 0;
};

// Sarsa(lambda), greedy, replacing traces, on one group of CLIP tilings over
// every variable of the environment, laid out as the library lays it out:
// the weight of tiling t, tile numbers n_d and action a at
// t + sum_d n_d * stride_d + T * a.
template <class Env, class Traces>
class TileBaseline {
public:
    TileBaseline(const Params& params, const Env& environment, const TileSetup& setup)
        : env(environment), p(params), T(setup.tilings), D(env.dimensions()), A(setup.actions),
          tiles(static_cast<std::size_t>(D)), minimum(static_cast<std::size_t>(D)), width(static_cast<std::size_t>(D)),
          stride(static_cast<std::size_t>(D)), offset(static_cast<std::size_t>(T * D)),
          active(static_cast<std::size_t>(T)), q(static_cast<std::size_t>(A)), candidates(static_cast<std::size_t>(A)),
          traces(layout(setup)) {
        w.assign(static_cast<std::size_t>(size), 0.0);
        std::srand(1);
    }

    void runEpisodes(const int n) {
        for (int k = 0; k < n; ++k) episode();
    }
    const double* weightData() const { return w.data(); }
    int weightCount() const { return size; }
    int episodeCount() const { return episodes; }

    Env env;
    Trajectory trajectory;

private:
    // Tile counts, widths and offsets by the same formulas as the library,
    // so that every tile boundary falls on the same double.
    int layout(const TileSetup& setup) {
        for (int d = 0; d < D; ++d) {
            const std::size_t k = static_cast<std::size_t>(d);
            const double R = env.maxValue(d) - env.minValue(d);
            const double requested = tileResolution(R, setup);
            tiles[k] = static_cast<int>(std::ceil(R / (T * requested)));
            const double resolution = R / static_cast<double>(tiles[k] * T);
            width[k] = R / tiles[k];
            minimum[k] = env.minValue(d);
            for (int t = 0; t < T; ++t) offset[static_cast<std::size_t>(t * D + d)] = t * resolution;
        }
        stride[static_cast<std::size_t>(D - 1)] = T * A;
        for (int d = D - 2; d >= 0; --d) {
            stride[static_cast<std::size_t>(d)] = stride[static_cast<std::size_t>(d + 1)] * tiles[static_cast<std::size_t>(d + 1)];
        }
        size = stride[0] * tiles[0];
        return size;
    }

    void activate() {
        for (int t = 0; t < T; ++t) {
            int index = t;
            for (int d = 0; d < D; ++d) {
                const std::size_t k = static_cast<std::size_t>(d);
                const double x = env.value(d);
                const double off = offset[static_cast<std::size_t>(t * D + d)];
                if (!(x - off >= minimum[k])) {
                    index = -1;
                    break;
                }
                int n = static_cast<int>(std::floor((x - minimum[k] - off) / width[k]));
                n = n < 0 ? 0 : (n > tiles[k] - 1 ? tiles[k] - 1 : n);
                index += n * stride[k];
            }
            active[static_cast<std::size_t>(t)] = index;
        }
    }
    // Q of every action in one pass over the active tiles.
    void values() {
        for (int b = 0; b < A; ++b) q[static_cast<std::size_t>(b)] = 0.0;
        for (int t = 0; t < T; ++t) {
            const int index = active[static_cast<std::size_t>(t)];
            if (index < 0) continue;
            for (int b = 0; b < A; ++b) q[static_cast<std::size_t>(b)] += w[static_cast<std::size_t>(index + T * b)];
        }
        for (int b = 0; b < A; ++b) q[static_cast<std::size_t>(b)] = 0.0 + q[static_cast<std::size_t>(b)];
    }
    double valueOf(const int a) const {
        double sum = 0.0;
        for (int t = 0; t < T; ++t) {
            const int index = active[static_cast<std::size_t>(t)];
            if (index >= 0) sum += w[static_cast<std::size_t>(index + T * a)];
        }
        return 0.0 + sum;
    }
    int greedy() {
        values();
        double best = -DBL_MAX;
        int n = 0;
        for (int b = 0; b < A; ++b) {
            const double v = q[static_cast<std::size_t>(b)];
            if (v > best) {
                best = v;
                candidates[0] = b;
                n = 1;
            } else if (v == best) {
                candidates[static_cast<std::size_t>(n++)] = b;
            }
        }
        value = best;
        return candidates[static_cast<std::size_t>(drawIndex(n))];
    }
    void replace(const int a) {
        for (int t = 0; t < T; ++t) {
            const int index = active[static_cast<std::size_t>(t)];
            if (index < 0) continue;
            for (int b = 0; b < A; ++b) {
                if (b == a) traces.set(index + T * b, p.traceValue);
                else traces.drop(index + T * b);
            }
        }
    }

    void episode() {
        ++episodes;
        traces.clear();
        env.reset(episodes);
        activate();
        int a = greedy();
        for (;;) {
            traces.decay(p.gamma * p.lambda);
            replace(a);
            trajectory.add(env.value(0), a);
            env.act(a);
            const bool goesOn = env.goesOn();
            activate();
            double delta = env.reward(a) - value;
            if (goesOn) {
                a = greedy();
                delta = delta + value * p.gamma;
            }
            traces.update(w.data(), p.alpha / T * delta);
            if (!goesOn) break;
            value = valueOf(a);
        }
    }

    const Params p;
    const int T;
    const int D;
    const int A;
    std::vector<int> tiles;
    std::vector<double> minimum;
    std::vector<double> width;
    std::vector<int> stride;
    std::vector<double> offset;
    std::vector<int> active;
    std::vector<double> q;
    std::vector<int> candidates;
    int size = 0;
    Traces traces;
    std::vector<double> w;
    double value = 0.0;
    int episodes = 0;
};

// TD(lambda) on a three-layer sigmoid network: I = inputs + 1 (bias), H =
// hidden + 1, one output; the traces are the output's gradients, decayed by
// gamma * lambda. The gradient factor of a hidden neuron is computed once
// per step instead of once per input.
class NetworkBaseline {
public:
    NetworkBaseline(const Params& params, const int inputs, const int hidden, const int length)
        : p(params), I(inputs + 1), H(hidden + 1), in(static_cast<std::size_t>(I), 0.0),
          hid(static_cast<std::size_t>(H), 0.0), sums(static_cast<std::size_t>(H), 0.0),
          grad(static_cast<std::size_t>(H), 0.0), wIH(static_cast<std::size_t>(I * H)), wHO(static_cast<std::size_t>(H)),
          eIH(static_cast<std::size_t>(I * H), 0.0), eHO(static_cast<std::size_t>(H), 0.0) {
        env.dims = inputs;
        env.length = length;
        // The library's weights: uniform in [-0.5, 0.5), input-hidden first.
        std::srand(1);
        for (double& weight : wIH) weight = -0.5 + (std::rand() * (1.0 / 2147483648.0)) * (0.5 - -0.5);
        for (double& weight : wHO) weight = -0.5 + (std::rand() * (1.0 / 2147483648.0)) * (0.5 - -0.5);
        in[static_cast<std::size_t>(I - 1)] = 1.0;
    }

    void runEpisodes(const int n) {
        for (int k = 0; k < n; ++k) episode();
    }
    const double* inputHidden() const { return wIH.data(); }
    const double* hiddenOutput() const { return wHO.data(); }
    int inputHiddenCount() const { return I * H; }
    int hiddenOutputCount() const { return H; }
    int episodeCount() const { return episodes; }

    Walker env;
    Trajectory trajectory;

private:
    static double sigmoid(const double x) { return 1.0 / (1.0 + reproducibleExp(-x)); }

    void readInputs() {
        for (int d = 0; d < I - 1; ++d) in[static_cast<std::size_t>(d)] = env.x[d];
    }
    double forward() {
        std::fill(sums.begin(), sums.end(), 0.0);
        for (int i = 0; i < I; ++i) {
            const double x = in[static_cast<std::size_t>(i)];
            const double* row = &wIH[static_cast<std::size_t>(i * H)];
            for (int h = 0; h < H; ++h) sums[static_cast<std::size_t>(h)] += row[h] * x;
        }
        double sum = 0.0;
        for (int h = 0; h < H; ++h) {
            hid[static_cast<std::size_t>(h)] = sigmoid(sums[static_cast<std::size_t>(h)]);
            sum += wHO[static_cast<std::size_t>(h)] * hid[static_cast<std::size_t>(h)];
        }
        out = sigmoid(sum);
        return out;
    }
    void decayAndAddGradient(const double gl) {
        const double tmp = (1 - out) * out;
        for (int h = 0; h < H; ++h) {
            const std::size_t k = static_cast<std::size_t>(h);
            eHO[k] = gl * eHO[k] + hid[k] * tmp;
            grad[k] = wHO[k] * tmp * hid[k] * (1 - hid[k]);
        }
        for (int i = 0; i < I; ++i) {
            const double x = in[static_cast<std::size_t>(i)];
            double* row = &eIH[static_cast<std::size_t>(i * H)];
            for (int h = 0; h < H; ++h) row[h] = gl * row[h] + grad[static_cast<std::size_t>(h)] * x;
        }
    }
    void update(const double factor) {
        for (int h = 0; h < H; ++h) wHO[static_cast<std::size_t>(h)] += factor * eHO[static_cast<std::size_t>(h)];
        const std::size_t n = wIH.size();
        for (std::size_t j = 0; j < n; ++j) wIH[j] += factor * eIH[j];
    }

    void episode() {
        ++episodes;
        std::fill(eIH.begin(), eIH.end(), 0.0);
        std::fill(eHO.begin(), eHO.end(), 0.0);
        env.reset(episodes);
        readInputs();
        double value = forward();
        for (;;) {
            decayAndAddGradient(p.gamma * p.lambda);
            const int action = env.policy();
            trajectory.add(env.value(0), action);
            env.act(action);
            const bool goesOn = env.goesOn();
            readInputs();
            double delta = env.finalReward() - value;
            if (goesOn) {
                value = forward();
                delta = delta + p.gamma * value;
            }
            update(p.alpha * delta);
            if (!goesOn) break;
            value = forward();
        }
    }

    const Params p;
    const int I;
    const int H;
    std::vector<double> in;
    std::vector<double> hid;
    std::vector<double> sums;
    std::vector<double> grad;
    std::vector<double> wIH;
    std::vector<double> wHO;
    std::vector<double> eIH;
    std::vector<double> eHO;
    double out = 0.0;
    int episodes = 0;
};

}  // namespace bench

#endif
