#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "ActionValueFunction.h"
#include "AllocationCounter.h"
#include "LookupTableAccess.h"
#include "ProbeLearner.h"
#include "Sarsa.h"
#include "StateValueFunction.h"
#include "TD.h"
#include "TestSupport.h"
#include "Utility.h"
#include "Watkins.h"

using lookup_test::makeQ;
using lookup_test::makeState;
using test_support::reportMessages;
using test_support::Reports;
using test_support::sameBits;
using test_support::TempDir;
using Messages = std::vector<std::string>;
using Calls = std::vector<std::string>;

namespace {

// A call as the recorders log it: name(arguments) in the stream's default format.
template <class... Args>
std::string call(const std::string& name, const Args&... args) {
    std::ostringstream os;
    const char* separator = "";
    os << name << "(";
    ((os << separator << args, separator = ","), ...);
    os << ")";
    return os.str();
}

void append(Calls& to, const Calls& more) { to.insert(to.end(), more.begin(), more.end()); }

// How many rand() values a run consumed: the next value after it is looked
// up in the sequence of the same seed.
int drawsDuring(const unsigned int seed, const std::function<void()>& run) {
    setSeed(seed);
    run();
    const int next = std::rand();
    setSeed(seed);
    for (int draws = 0; draws < 10000; ++draws) {
        if (std::rand() == next) return draws;
    }
    return -1;
}

void expectSameBits(const std::vector<double>& actual, const std::vector<double>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_TRUE(sameBits(actual[i], expected[i])) << i << ": " << actual[i] << " vs " << expected[i];
    }
}

// What a learner did, as seen from its value function and its hooks.
struct Recorder {
    Calls calls;
    std::vector<double> deltas;  // DELTA of every updateWeights
    int destroyed = 0;
};

// A value function that records every call a learner makes on it.
template <class Base>
class Recording : public Base {
public:
    explicit Recording(Recorder& recorder) : Base(nullptr), rec(recorder) {}
    ~Recording() override { ++rec.destroyed; }

    using Base::load;
    using Base::save;
    // Runs after every updateWeights, to change the values.
    std::function<void()> afterUpdate;

    void initWeights(const double (*)()) override {}
    void initEligibilityTraces() override { log("initEligibilityTraces"); }
    void updateWeights(const double ALPHA, const double DELTA) override {
        log(call("updateWeights", ALPHA));
        rec.deltas.push_back(DELTA);
        if (afterUpdate) afterUpdate();
    }
    void updateEligibilityTraces(const double GAMMA, const double LAMBDA) override {
        log(call("updateEligibilityTraces", GAMMA, LAMBDA));
    }
    void accumulatingTraces(const double VALUE) override { log(call("accumulatingTraces", VALUE)); }
    void replacingTraces(const double VALUE) override { log(call("replacingTraces", VALUE)); }
    void checkWeightLimit() override { log("checkWeightLimit"); }
    const double getMinWeight() const override { return 0.0; }
    const double getAvgWeight(const bool) const override { return 0.0; }
    const double getMaxWeight() const override { return 0.0; }
    void setState() override { log("setState"); }
    void storeState() override { log("storeState"); }
    void initEpisodeStateHistory() override { log("initEpisodeStateHistory"); }
    void valueEpisode(const double) override { log("valueEpisode"); }

protected:
    void log(const std::string& c) const { rec.calls.push_back(c); }
    const int save(FILE*) const override { return 0; }
    const int load(FILE*) override { return 0; }
    Recorder& rec;
};

// V(s) gives the scripted values in turn, the last one again once the
// script is used up.
class RecordingV : public Recording<StateValueFunction> {
public:
    explicit RecordingV(Recorder& recorder, const std::vector<double>& script = {})
        : Recording(recorder), values(script.begin(), script.end()) {}
    const double getStateValue() const override {
        log("getStateValue");
        const double v = values.empty() ? 0.0 : values.front();
        if (values.size() > 1) values.pop_front();
        return v;
    }

private:
    mutable std::deque<double> values;
};

// Q(s, a) is q[a] in every state. The selections are those of
// ActionValueFunction (their own reads of getActionValue are not logged),
// except that a random or softmax selection makes the scripted indices
// active in turn while there are any.
class RecordingQ : public Recording<ActionValueFunction> {
public:
    RecordingQ(Recorder& recorder, const std::vector<double>& actionValues, const std::deque<int>& script = {})
        : Recording(recorder), q(actionValues), choices(script) {
        for (std::size_t a = 0; a < q.size(); ++a) registerAction(new AbstractAction());
    }
    using ActionValueFunction::activeActionIndex;
    std::vector<double> q;

    const double getActionValue(int actionIndex) const override {
        if (selecting == 0) log(call("getActionValue", actionIndex));
        if (actionIndex < 0 || actionIndex >= static_cast<int>(q.size())) return 0.0;
        return q[static_cast<std::size_t>(actionIndex)];
    }
    const double setGreedyActionIndex() override {
        log("setGreedyActionIndex");
        return select(false, [this] { return ActionValueFunction::setGreedyActionIndex(); });
    }
    const double setRandomActionIndex() override {
        log("setRandomActionIndex");
        return select(true, [this] { return ActionValueFunction::setRandomActionIndex(); });
    }
    const double setSoftMaxActionIndex(const double TEMPERATURE) override {
        log(call("setSoftMaxActionIndex", TEMPERATURE));
        return select(true, [this, TEMPERATURE] { return ActionValueFunction::setSoftMaxActionIndex(TEMPERATURE); });
    }

protected:
    void removeAction(int) override {}

private:
    double select(const bool scripted, const std::function<double()>& base) {
        ++selecting;
        double v;
        if (scripted && !choices.empty()) {
            activeActionIndex = choices.front();
            choices.pop_front();
            v = getActionValue(activeActionIndex);
        } else {
            v = base();
        }
        --selecting;
        return v;
    }
    std::deque<int> choices;
    mutable int selecting = 0;
};

template <class Learner>
constexpr bool isTD = std::is_base_of<TD, Learner>::value;

// The using program. An integer position (published as variable 0 of the
// value function's State, when it has one) starts at 0 and moves by `move`; an
// episode ends at goal or after maxSteps steps; rewards[i] is the reward
// of step i + 1, stepReward beyond the script; learning stops after
// episodesToRun episodes. Every hook is logged when there is a recorder.
// Steps from number countFrom on (when it is set) count their allocations.
template <class Learner>
class Agent : public Learner {
public:
    using Values = std::conditional_t<isTD<Learner>, StateValueFunction, ActionValueFunction>;
    Agent(const std::string& confFile, Values* values, Recorder* recorder = nullptr)
        : Learner(confFile), state(values != nullptr ? values->getStatePtr() : nullptr), rec(recorder) {
        if constexpr (isTD<Learner>) {
            this->svfPtr = values;
        } else {
            this->avfPtr = values;
        }
    }

    using Learner::ACTION_SELECTION;
    using Learner::ALPHA;
    using Learner::EPSILON;
    using Learner::GAMMA;
    using Learner::LAMBDA;
    using Learner::TEMPERATURE;
    using Learner::TRACE_VALUE;
    using Learner::TRACES;
    using Learner::continueEpisode;
    using Learner::episodes;
    using Learner::initEpisode;
    using Learner::value;

    int goal = -1;
    int maxSteps = 2;
    int episodesToRun = 1;
    std::function<int(int, int)> move = [](const int position, int) { return position + 1; };
    std::vector<double> rewards;
    double stepReward = 1.0;
    // Answers of randomAction in turn (true: explore); the epsilon test
    // itself runs when none is left.
    mutable std::deque<bool> randomScript;
    std::vector<int> actionsTaken;
    int countFrom = 0;
    long countedSteps = 0;
    long allocations = 0;

    void step() override {
        if (countFrom == 0 || this->steps < countFrom) return Learner::step();
        ++countedSteps;
        allocations += allocation_count::during([this] { Learner::step(); });
    }

protected:
    void setInitialState() override {
        log("setInitialState");
        position = 0;
        publish();
    }
    void takeAction() override {
        log("takeAction");
        int action = 0;
        if constexpr (!isTD<Learner>) action = this->avfPtr->getActiveActionIndex();
        actionsTaken.push_back(action);
        position = move(position, action);
    }
    const bool observeState() override {
        log("observeState");
        publish();
        return position != goal && this->steps < maxSteps;
    }
    const double calculateReward() override {
        log("calculateReward");
        const std::size_t i = static_cast<std::size_t>(this->steps - 1);
        return i < rewards.size() ? rewards[i] : stepReward;
    }
    // Without the base notice: its text would allocate.
    void finishEpisode() override {
        log("finishEpisode");
        if (this->episodes >= episodesToRun) this->continueLearning = false;
    }
    const bool randomAction() const override {
        log("randomAction");
        if (randomScript.empty()) return Learner::randomAction();
        const bool explore = randomScript.front();
        randomScript.pop_front();
        return explore;
    }

private:
    void log(const char* c) const {
        if (rec != nullptr) rec->calls.push_back(c);
    }
    void publish() {
        if (state != nullptr) state->setValueInt(0, position);
    }
    State* state;
    Recorder* rec;
    int position = 0;
};

// The parameters of the call-order tests, none of them a default, so that
// each argument is seen to come from its parameter.
const double kAlpha = 0.2;
const double kGamma = 0.8;
const double kLambda = 0.25;
const double kTraceValue = 2.5;
const double kTemperature = 0.37;
const std::string kDecay = call("updateEligibilityTraces", kGamma, kLambda);
const std::string kUpdate = call("updateWeights", kAlpha);
const std::string kSoftmax = call("setSoftMaxActionIndex", kTemperature);

struct TraceCase {
    const char* name;
    Tembra::TRACE_TYPE traces;
    bool usesTraces;   // traces zeroed at episode start and decayed in steps
    std::string mark;  // the call for the present state; empty: none (reported)
};

const TraceCase kTraceCases[] = {
    {"NONE", Tembra::NONE, false, "storeState"},
    {"REPLACING", Tembra::REPLACING, true, call("replacingTraces", kTraceValue)},
    {"ACCUMULATING", Tembra::ACCUMULATING, true, call("accumulatingTraces", kTraceValue)},
    {"unknown (7)", static_cast<Tembra::TRACE_TYPE>(7), true, ""},
};

enum class TraceEffect { DECAY, CUT, NONE };

struct SelectionCase {
    const char* name;
    Tembra::ACTION_SELECTION_TYPE selection;
    double epsilon;
    Calls calls;              // Sarsa: one selection; Watkins: the exploration at a step's start
    std::deque<int> choices;  // the scripted random or softmax choices
    TraceEffect effect;       // Watkins: what the exploration does to the traces
    bool unknown() const { return selection > Tembra::SOFTMAX; }
    // The actions taken: the scripted ones, else the greedy one of q = {0.25, 0.75}.
    std::vector<int> actions() const {
        return choices.empty() ? std::vector<int>{1, 1} : std::vector<int>(choices.begin(), choices.end());
    }
};

const Tembra::ACTION_SELECTION_TYPE kUnknownSelection = static_cast<Tembra::ACTION_SELECTION_TYPE>(5);

template <class AgentT>
void configure(AgentT& agent, const TraceCase& t, const SelectionCase& s) {
    agent.ALPHA = kAlpha;
    agent.GAMMA = kGamma;
    agent.LAMBDA = kLambda;
    agent.TRACE_VALUE = kTraceValue;
    agent.TEMPERATURE = kTemperature;
    agent.TRACES = t.traces;
    agent.ACTION_SELECTION = s.selection;
    agent.EPSILON = s.epsilon;
    agent.rewards = {1.0, 2.0};
}

// The trace part of a TD or Sarsa step: decay, then mark.
Calls tracePart(const TraceCase& t) {
    Calls calls;
    if (t.usesTraces) calls.push_back(kDecay);
    if (!t.mark.empty()) calls.push_back(t.mark);
    return calls;
}

// The calls of an episode of two steps: the episode start, then for each
// step its start, the hooks, the bootstrapping and the update; the terminal
// step neither bootstraps nor reads the value again after its update.
Calls episodeCalls(const TraceCase& t, const Calls& start, const Calls& stepStart, const Calls& bootstrap,
                   const std::string& reread) {
    Calls calls = t.usesTraces ? Calls{"initEligibilityTraces"} : Calls{};
    append(calls, {"setInitialState", "setState"});
    append(calls, start);
    for (const bool terminal : {false, true}) {
        append(calls, stepStart);
        append(calls, {"takeAction", "observeState", "setState", "calculateReward"});
        if (!terminal) append(calls, bootstrap);
        calls.push_back(kUpdate);
        if (!terminal) calls.push_back(reread);
    }
    calls.push_back("finishEpisode");
    return calls;
}

// The reports of the two steps (and of the selections before them).
Messages stepErrors(const TraceCase& t, const bool unknownSelection = false) {
    Messages errors;
    for (int step = 0; step < 2; ++step) {
        if (unknownSelection) errors.push_back("Unknown ACTION_SELECTION 5");
        if (t.mark.empty()) errors.push_back("Unknown Tracetype!");
    }
    return errors;
}

lookup_test::VTable* vTable(const int positions) {
    return new lookup_test::VTable(makeState({{"position", 0, positions - 1}}));
}
lookup_test::QTable* qTable(const int positions, const int actions) {
    return makeQ({{"position", 0, positions - 1}}, actions);
}

}  // namespace

// ---------------------------------------------------------------------------
// The loop of the base learner

TEST(ControlLoop, WithoutValueFunctionReportsOnceAndCallsNoHook) {
    TempDir dir;
    ProbeLearner learner(dir.file("learner.conf"));
    learner.valueFunctionSet = false;
    testing::internal::CaptureStderr();
    learner.controlLoop();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("ERROR: File: Tembra.cpp   Function: controlLoop   Line: ", 0), 0u) << err;
    EXPECT_EQ(reportMessages(err), Messages{"valueFunctionPtr not set --> leave controlLoop !!!"});
    EXPECT_TRUE(learner.calls.empty());
}

TEST(ControlLoop, RunsTheHooksInOrderUntilLearningIsStoppedAndCountsOnAcrossCalls) {
    // The probe's initEpisode clears continueEpisode; controlLoop must set it
    // again after initEpisode, or no step would run.
    for (const int length : {1, 2}) {
        SCOPED_TRACE(length);
        TempDir dir;
        ProbeLearner learner(dir.file("learner.conf"));
        learner.episodeLength = length;
        learner.afterEpisode = [](ProbeLearner& l) { l.continueLearning = l.episodes < 3; };
        const Reports output = runLoop(learner);
        Calls expected;
        Messages notices;
        const std::string steps = "  steps = " + std::to_string(length);
        for (int episode = 1; episode <= 3; ++episode) {
            append(expected, {"initEpisode", "setInitialState"});
            for (int step = 0; step < length; ++step) {
                append(expected, {"step", "takeAction", "observeState", "calculateReward"});
            }
            expected.push_back("finishEpisode");
            notices.push_back("episode = " + std::to_string(episode) + steps);
        }
        EXPECT_EQ(learner.calls, expected);
        EXPECT_EQ(output.notices, notices);
        EXPECT_TRUE(output.errors.empty());

        learner.continueLearning = true;
        EXPECT_EQ(runLoop(learner).notices, Messages{"episode = 4" + steps});
        // The base notice alone, outside the loop, changes nothing.
        testing::internal::CaptureStdout();
        learner.finishEpisode();
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(out.rfind("File: Tembra.cpp   Function: finishEpisode   Line: ", 0), 0u) << out;
        EXPECT_EQ(reportMessages(out), Messages{"episode = 4" + steps});
        EXPECT_EQ(learner.episodes, 4);
    }
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
    const double draw = r1 / 2147483648.0;
    // EPSILON equal to the draw gives no random action, the next double up does.
    for (const bool above : {false, true}) {
        learner.EPSILON = above ? std::nextafter(draw, 1.0) : draw;
        setSeed(9);
        EXPECT_EQ(learner.randomAction(), above);
        EXPECT_EQ(std::rand(), r2);  // exactly one draw was used
    }
}

// ---------------------------------------------------------------------------
// The calls each learner makes on its value function and the using
// program's hooks, in order, for every kind of traces and every rule

TEST(TDLearner, CallsItsValueFunctionInOrderForEveryKindOfTraces) {
    for (const TraceCase& t : kTraceCases) {
        SCOPED_TRACE(t.name);
        TempDir dir;
        Recorder rec;
        // V(s0); V(s1) before the update of step 1; V(s1) after it.
        Agent<TD> agent(dir.file("td.conf"), new RecordingV(rec, {0.5, 0.25, 0.375}), &rec);
        configure(agent, t, {"", Tembra::GREEDY, 0.0, {}, {}, TraceEffect::NONE});
        const Reports output = runLoop(agent);
        EXPECT_EQ(rec.calls, episodeCalls(t, {"getStateValue"}, tracePart(t), {"getStateValue"}, "getStateValue"));
        // The terminal state is worth 0; the next step starts from V(s1) as
        // read after the update.
        EXPECT_EQ(rec.deltas, (std::vector<double>{(1.0 - 0.5) + kGamma * 0.25, 2.0 - 0.375}));
        EXPECT_EQ(output.errors, stepErrors(t));
    }
}

TEST(SarsaLearner, CallsItsValueFunctionInOrderForEveryTracesAndSelection) {
    const SelectionCase selections[] = {
        {"GREEDY", Tembra::GREEDY, 0.0, {"setGreedyActionIndex"}, {}, TraceEffect::NONE},
        // EPSILON 0 never explores, but the test still draws.
        {"EPSILON_GREEDY, greedy", Tembra::EPSILON_GREEDY, 0.0, {"randomAction", "setGreedyActionIndex"}, {},
         TraceEffect::NONE},
        {"EPSILON_GREEDY, exploring", Tembra::EPSILON_GREEDY, 1.0, {"randomAction", "setRandomActionIndex"}, {0, 0},
         TraceEffect::NONE},
        {"SOFTMAX", Tembra::SOFTMAX, 0.0, {kSoftmax}, {0, 0}, TraceEffect::NONE},
        {"unknown (5)", kUnknownSelection, 0.0, {}, {}, TraceEffect::NONE},
    };
    for (const TraceCase& t : kTraceCases) {
        for (const SelectionCase& s : selections) {
            SCOPED_TRACE(std::string(t.name) + " / " + s.name);
            TempDir dir;
            Recorder rec;
            const std::vector<double> q = {0.25, 0.75};
            RecordingQ* values = new RecordingQ(rec, q, s.choices);
            // Every update raises every value by 1: the next step starts
            // from the value read after the update.
            values->afterUpdate = [values] { for (double& v : values->q) v += 1.0; };
            // What an unknown rule leaves active: the previous action.
            if (s.unknown()) values->activeActionIndex = 0;
            Agent<Sarsa> agent(dir.file("sarsa.conf"), values, &rec);
            configure(agent, t, s);
            const Reports output = runLoop(agent);
            ASSERT_EQ(agent.actionsTaken.size(), 2u);
            // Sarsa takes the action it bootstrapped from.
            const int first = agent.actionsTaken[0];
            const int next = agent.actionsTaken[1];
            EXPECT_EQ(rec.calls, episodeCalls(t, s.calls, tracePart(t), s.calls, call("getActionValue", next)));
            EXPECT_EQ(output.errors, stepErrors(t, s.unknown()));
            if (s.unknown()) {
                // The previous action is repeated and value stays what it
                // was (nothing set it yet) until the read after the update.
                EXPECT_EQ(agent.actionsTaken, (std::vector<int>{0, 0}));
                EXPECT_EQ(rec.deltas, (std::vector<double>{(1.0 - 0.0) + 0.0 * kGamma, 2.0 - (q[0] + 1.0)}));
            } else {
                EXPECT_EQ(agent.actionsTaken, s.actions());
                EXPECT_EQ(rec.deltas,
                          (std::vector<double>{(1.0 - q[first]) + q[next] * kGamma, 2.0 - (q[next] + 1.0)}));
            }
        }
    }
}

TEST(WatkinsLearner, CallsItsValueFunctionInOrderForEveryTracesAndSelection) {
    const Calls explore = {"randomAction", "setRandomActionIndex"};
    const SelectionCase selections[] = {
        {"GREEDY", Tembra::GREEDY, 0.0, {}, {}, TraceEffect::DECAY},
        {"EPSILON_GREEDY, greedy", Tembra::EPSILON_GREEDY, 0.0, {"randomAction"}, {}, TraceEffect::DECAY},
        // Exploring cuts the traces even when it draws the greedy action (1).
        {"EPSILON_GREEDY, exploring the greedy action", Tembra::EPSILON_GREEDY, 1.0, explore, {1, 1}, TraceEffect::CUT},
        {"EPSILON_GREEDY, exploring another action", Tembra::EPSILON_GREEDY, 1.0, explore, {0, 0}, TraceEffect::CUT},
        {"SOFTMAX, greedy index again", Tembra::SOFTMAX, 0.0, {kSoftmax}, {1, 1}, TraceEffect::DECAY},
        {"SOFTMAX, other index", Tembra::SOFTMAX, 0.0, {kSoftmax}, {0, 0}, TraceEffect::CUT},
        {"unknown (5)", kUnknownSelection, 0.0, {}, {}, TraceEffect::NONE},
    };
    for (const TraceCase& t : kTraceCases) {
        for (const SelectionCase& s : selections) {
            SCOPED_TRACE(std::string(t.name) + " / " + s.name);
            TempDir dir;
            Recorder rec;
            const std::vector<double> q = {0.25, 0.75};
            RecordingQ* values = new RecordingQ(rec, q, s.choices);
            values->afterUpdate = [values] { for (double& v : values->q) v += 1.0; };
            Agent<Watkins> agent(dir.file("watkins.conf"), values, &rec);
            configure(agent, t, s);
            const Reports output = runLoop(agent);
            ASSERT_EQ(agent.actionsTaken.size(), 2u);

            Calls stepStart = s.calls;
            if (t.usesTraces && s.effect == TraceEffect::DECAY) stepStart.push_back(kDecay);
            if (t.usesTraces && s.effect == TraceEffect::CUT) stepStart.push_back("initEligibilityTraces");
            if (!t.mark.empty()) stepStart.push_back(t.mark);
            // Every episode starts greedy, whatever the rule.
            EXPECT_EQ(rec.calls, episodeCalls(t, {"setGreedyActionIndex"}, stepStart, {"setGreedyActionIndex"},
                                              "getActionValue(1)"));
            EXPECT_EQ(output.errors, stepErrors(t, s.unknown()));
            // An unknown rule keeps the greedy action.
            EXPECT_EQ(agent.actionsTaken, s.actions());
            // The error starts from the estimate of the action taken, the
            // exploratory one included, and bootstraps from the greedy one;
            // step 2 starts from values raised by the update of step 1.
            const double taken1 = q[static_cast<std::size_t>(agent.actionsTaken[0])];
            const double taken2 = q[static_cast<std::size_t>(agent.actionsTaken[1])] + 1.0;
            EXPECT_EQ(rec.deltas, (std::vector<double>{(1.0 - taken1) + 0.75 * kGamma, 2.0 - taken2}));
        }
    }
}

TEST(WatkinsLearner, ExplorationCutsTheTracesOnlyOnTheStepsThatExplore) {
    TempDir dir;
    Recorder rec;
    Agent<Watkins> agent(dir.file("watkins.conf"), new RecordingQ(rec, {0.25, 0.75}), &rec);
    agent.ACTION_SELECTION = Tembra::EPSILON_GREEDY;
    agent.maxSteps = 3;
    agent.randomScript = {false, true, false};
    runLoop(agent);
    // What each epsilon test (and exploration) is followed by.
    Calls after;
    for (std::size_t i = 0; i + 2 < rec.calls.size(); ++i) {
        if (rec.calls[i] != "randomAction") continue;
        after.push_back(rec.calls[rec.calls[i + 1] == "setRandomActionIndex" ? i + 2 : i + 1]);
    }
    const std::string decay = call("updateEligibilityTraces", 0.9, 0.5);
    EXPECT_EQ(after, (Calls{decay, "initEligibilityTraces", decay}));
}

// ---------------------------------------------------------------------------
// The arithmetic and the random draws of all three learners

TEST(Learners, ErrorIsRewardMinusValueThenPlusDiscountedNextValue) {
    // With these numbers the three ways of adding up the error give three
    // different doubles; only (reward - value) + discounted next value is right.
    const double reward = 0.1, v = 0.1, next = 0.55, gamma = 0.9;
    const double expected = (reward - v) + gamma * next;
    ASSERT_NE(expected, (reward + gamma * next) - v);
    ASSERT_NE(expected, reward + (gamma * next - v));
    TempDir dir;
    Recorder recs[3];
    // V(s) = v, V(s') = next. Sarsa starts, and Watkins explores, with
    // action 0 (Q = v); both bootstrap from action 1 (Q = next).
    Agent<TD> td(dir.file("td.conf"), new RecordingV(recs[0], {v, next}));
    Agent<Sarsa> sarsa(dir.file("sarsa.conf"), new RecordingQ(recs[1], {v, next}, {0, 1}));
    Agent<Watkins> watkins(dir.file("watkins.conf"), new RecordingQ(recs[2], {v, next}, {0}));
    auto run = [&](auto& agent) {
        agent.GAMMA = gamma;
        agent.ACTION_SELECTION = Tembra::SOFTMAX;
        agent.rewards = {reward};
        runLoop(agent);
    };
    run(td);
    run(sarsa);
    run(watkins);
    for (const Recorder& rec : recs) {
        ASSERT_EQ(rec.deltas.size(), 2u);
        EXPECT_TRUE(sameBits(rec.deltas[0], expected)) << rec.deltas[0];
    }
}

namespace {

template <class Learner>
int drawsOfAnEpisodeOfThreeSteps(const Tembra::ACTION_SELECTION_TYPE selection, const double epsilon) {
    TempDir dir;
    Recorder rec;
    Agent<Learner> agent(dir.file("learner.conf"), new RecordingQ(rec, {0.0, 1.0, 0.5}));
    agent.ACTION_SELECTION = selection;
    agent.EPSILON = epsilon;
    agent.maxSteps = 3;
    return drawsDuring(99, [&] { runLoop(agent); });
}

}  // namespace

TEST(Learners, RandomDrawsOfAnEpisodeOfThreeSteps) {
    // Sarsa selects three times (episode start, two non-terminal steps); a
    // greedy selection draws once for its tie break, and the epsilon test
    // once more even with EPSILON 0. Watkins starts every episode greedy (one
    // draw), explores at the start of each step, and draws for the greedy
    // next action in the two non-terminal steps.
    struct Case {
        const char* name;
        bool watkins;
        Tembra::ACTION_SELECTION_TYPE selection;
        double epsilon;
        int draws;
    };
    const Case cases[] = {
        {"Sarsa, GREEDY", false, Tembra::GREEDY, 0.0, 3},
        {"Sarsa, EPSILON_GREEDY 0", false, Tembra::EPSILON_GREEDY, 0.0, 3 + 3},
        {"Watkins, GREEDY", true, Tembra::GREEDY, 0.0, 1 + 2},
        {"Watkins, EPSILON_GREEDY 0", true, Tembra::EPSILON_GREEDY, 0.0, 1 + 3 + 2},
        {"Watkins, EPSILON_GREEDY 1", true, Tembra::EPSILON_GREEDY, 1.0, 1 + 6 + 2},
        {"Watkins, SOFTMAX", true, Tembra::SOFTMAX, 0.0, 1 + 3 + 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.watkins ? drawsOfAnEpisodeOfThreeSteps<Watkins>(c.selection, c.epsilon)
                            : drawsOfAnEpisodeOfThreeSteps<Sarsa>(c.selection, c.epsilon),
                  c.draws);
    }
}

TEST(Learners, EpisodeHistoryIsRestartedEveryEpisodeOnlyWhenTheFlagIsSet) {
    for (const bool flag : {false, true}) {
        for (const Tembra::TRACE_TYPE traces : {Tembra::NONE, Tembra::REPLACING}) {
            SCOPED_TRACE(std::string(flag ? "flag set" : "flag clear") + (traces == Tembra::NONE ? ", NONE" : ""));
            TempDir dir;
            Recorder recs[3];
            RecordingV* v = new RecordingV(recs[0]);
            RecordingQ* q1 = new RecordingQ(recs[1], {0.0, 1.0});
            RecordingQ* q2 = new RecordingQ(recs[2], {0.0, 1.0});
            for (ValueFunction* f : std::initializer_list<ValueFunction*>{v, q1, q2}) f->setEpisodeStateHistory(flag);
            Agent<TD> a(dir.file("td.conf"), v, &recs[0]);
            Agent<Sarsa> b(dir.file("sarsa.conf"), q1, &recs[1]);
            Agent<Watkins> c(dir.file("watkins.conf"), q2, &recs[2]);
            auto run = [traces](auto& agent) {
                agent.TRACES = traces;
                agent.episodesToRun = 2;
                runLoop(agent);
            };
            run(a);
            run(b);
            run(c);
            Calls start = {"setInitialState"};
            if (flag) start.insert(start.begin(), "initEpisodeStateHistory");
            if (traces != Tembra::NONE) start.insert(start.begin(), "initEligibilityTraces");
            for (const Recorder& rec : recs) {
                EXPECT_EQ(std::count(rec.calls.begin(), rec.calls.end(), "initEpisodeStateHistory"), flag ? 2 : 0);
                EXPECT_EQ(Calls(rec.calls.begin(), rec.calls.begin() + static_cast<long>(start.size())), start);
            }
        }
    }
}

TEST(Learners, OwnTheirValueFunctionAndRunNothingWithoutAUsableOne) {
    TempDir dir;
    Recorder recs[3];
    {
        Agent<TD> a(dir.file("td.conf"), new RecordingV(recs[0]));
        Agent<Sarsa> b(dir.file("sarsa.conf"), new RecordingQ(recs[1], {0.0}));
        Agent<Watkins> c(dir.file("watkins.conf"), new RecordingQ(recs[2], {0.0}));
        runLoop(a);
        runLoop(b);
        runLoop(c);
        for (const Recorder& rec : recs) EXPECT_EQ(rec.destroyed, 0);
    }
    for (const Recorder& rec : recs) EXPECT_EQ(rec.destroyed, 1);
    // Each wrote its configuration file where it was told to.
    for (const char* name : {"td.conf", "sarsa.conf", "watkins.conf"}) {
        EXPECT_EQ(test_support::readText(dir.file(name)).rfind("ALPHA 0.1\n", 0), 0u) << name;
    }

    Recorder rec;
    Agent<TD> a(dir.file("td.conf"), nullptr, &rec);
    Agent<Sarsa> b(dir.file("sarsa.conf"), nullptr, &rec);
    Agent<Watkins> c(dir.file("watkins.conf"), nullptr, &rec);
    const Messages report = {"valueFunctionPtr not set --> leave controlLoop !!!"};
    EXPECT_EQ(runLoop(a).errors, report);
    EXPECT_EQ(runLoop(b).errors, report);
    EXPECT_EQ(runLoop(c).errors, report);

    // An action not bound yet (a Q function loaded from a file has none
    // until setAction) would leave takeAction nothing to carry out.
    const auto unbound = [&rec] {
        RecordingQ* q = new RecordingQ(rec, {0.0, 0.0, 0.0});
        q->setAction(1, nullptr);
        return q;
    };
    Agent<Sarsa> d(dir.file("sarsa.conf"), unbound(), &rec);
    Agent<Watkins> e(dir.file("watkins.conf"), unbound(), &rec);
    for (const Messages& errors : {runLoop(d).errors, runLoop(e).errors}) {
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].rfind("actionIndex 1 ", 0), 0u) << errors[0];
        EXPECT_NE(errors[0].find("bind the actions with setAction"), std::string::npos) << errors[0];
    }
    // Nor does a value function without any action: one report, no step.
    Agent<Sarsa> f(dir.file("sarsa.conf"), new RecordingQ(rec, {}), &rec);
    Agent<Watkins> g(dir.file("watkins.conf"), new RecordingQ(rec, {}), &rec);
    for (const Messages& errors : {runLoop(f).errors, runLoop(g).errors}) {
        EXPECT_EQ(errors, Messages{"No actions registered! --> Register actions first!"});
    }
    EXPECT_TRUE(rec.calls.empty());
}

// ---------------------------------------------------------------------------
// The learners on lookup tables

TEST(TDLearner, TwoStepsOnALookupTableByHand) {
    // The defaults: ALPHA 0.1, GAMMA 0.9, LAMBDA 0.5, replacing traces of 1.
    TempDir dir;
    lookup_test::VTable* table = vTable(5);
    Agent<TD> agent(dir.file("td.conf"), table);
    agent.maxSteps = 3;
    agent.rewards = {1.0, 0.5};
    agent.initEpisode();
    agent.step();
    // delta = (1 - 0) + 0.9 * 0 = 1: the start state gains exactly 0.1.
    ASSERT_TRUE(agent.continueEpisode);
    EXPECT_EQ(table->weightVector(), (std::vector<double>{0.1, 0.0, 0.0, 0.0, 0.0}));
    EXPECT_EQ(agent.value, 0.0);

    // The second step moves both states along their traces: the start
    // state's decayed by GAMMA * LAMBDA, the next one's fresh.
    agent.step();
    const double factor = 0.1 * ((0.5 - 0.0) + 0.9 * 0.0);
    EXPECT_EQ(table->weightVector(),
              (std::vector<double>{0.1 + factor * (1.0 * (0.9 * 0.5)), 0.0 + factor * 1.0, 0.0, 0.0, 0.0}));
}

TEST(Learners, TwoStepsOnAnActionLookupTableByHand) {
    // From position 0 of four, two actions; Q(s, a) at index 2 s + a.
    const double A = 0.3, G = 0.9, L = 0.7, r1 = 0.3, r2 = -0.2;
    auto twoSteps = [&](auto& agent, lookup_test::QTable* table) {
        table->setWeights({0.25, 0.5, 0.75, -0.5, 0.0, 0.375, 0.0, 0.0});
        agent.maxSteps = 3;
        agent.ALPHA = A;
        agent.GAMMA = G;
        agent.LAMBDA = L;
        agent.rewards = {r1, r2};
        agent.initEpisode();
        EXPECT_EQ(agent.value, 0.5);  // greedy in state 0: action 1
        agent.step();
        agent.step();
    };
    // Step 1, greedy in both: (0, 1) traced; bootstrap from Q(1, 0) = 0.75.
    const double w01 = 0.5 + (A * ((r1 - 0.5) + 0.75 * G)) * 1.0;
    TempDir dir;
    lookup_test::QTable* sarsaTable = qTable(4, 2);
    Agent<Sarsa> sarsa(dir.file("sarsa.conf"), sarsaTable);
    twoSteps(sarsa, sarsaTable);
    EXPECT_EQ(sarsa.actionsTaken, (std::vector<int>{1, 0}));
    // Sarsa, step 2: (0, 1) decayed, (1, 0) traced; the next action in state
    // 2 is 1, and the error starts from Q(1, 0), which step 1 left alone.
    const double f2 = A * ((r2 - 0.75) + 0.375 * G);
    expectSameBits(sarsaTable->weightVector(),
                   {0.25, w01 + f2 * (1.0 * (G * L)), 0.75 + f2 * 1.0, -0.5, 0.0, 0.375, 0.0, 0.0});
    EXPECT_EQ(sarsa.value, 0.375);

    // Watkins explores in step 2; find a seed whose uniform draw there (after
    // the greedy tie breaks at episode start and after step 1) is action 1,
    // not greedy in state 1.
    unsigned int seed = 1;
    for (;; ++seed) {
        setSeed(seed);
        std::rand();
        std::rand();
        if (getRandomIndex(2) == 1) break;
    }
    lookup_test::QTable* watkinsTable = qTable(4, 2);
    Agent<Watkins> watkins(dir.file("watkins.conf"), watkinsTable);
    watkins.ACTION_SELECTION = Tembra::EPSILON_GREEDY;
    watkins.randomScript = {false, true};
    setSeed(seed);
    twoSteps(watkins, watkinsTable);
    EXPECT_EQ(watkins.actionsTaken, (std::vector<int>{1, 1}));
    // The traces are cut, so (0, 1) keeps what step 1 gave it; (1, 1) with
    // Q = -0.5 bootstraps from max Q(2, .).
    const double w11 = -0.5 + (A * ((r2 - (-0.5)) + 0.375 * G)) * 1.0;
    expectSameBits(watkinsTable->weightVector(), {0.25, w01, 0.75, w11, 0.0, 0.375, 0.0, 0.0});
}

TEST(WatkinsLearner, GreedyWatkinsTakesTheSameActionsAndWeightsAsGreedySarsa) {
    const std::pair<Tembra::TRACE_TYPE, Types::TRACE_STORAGE> cases[] = {{Tembra::REPLACING, Types::MAP},
                                                                         {Tembra::ACCUMULATING, Types::ARRAY}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        TempDir dir;
        // A corridor: action 0 steps left (not past 0), action 1 right; -1
        // per step until position 5. All values start equal, so the greedy
        // tie breaks draw a different path in every episode.
        auto corridor = [&c](auto& agent, lookup_test::QTable* table) {
                    table->setTraceStorage(c.second);
            agent.goal = 5;
            agent.maxSteps = 500;
            agent.episodesToRun = 12;
            agent.stepReward = -1.0;
            agent.move = [](const int at, const int action) { return action == 0 ? std::max(at - 1, 0) : at + 1; };
            agent.ALPHA = 0.2;
            agent.GAMMA = 0.95;
            agent.LAMBDA = 0.8;
            agent.TRACES = c.first;
            setSeed(3);
            EXPECT_TRUE(runLoop(agent).errors.empty());
        };
        lookup_test::QTable* sarsaTable = qTable(6, 2);
        lookup_test::QTable* watkinsTable = qTable(6, 2);
        Agent<Sarsa> sarsa(dir.file("sarsa.conf"), sarsaTable);
        Agent<Watkins> watkins(dir.file("watkins.conf"), watkinsTable);
        corridor(sarsa, sarsaTable);
        corridor(watkins, watkinsTable);

        EXPECT_EQ(sarsa.episodes, 12);
        EXPECT_EQ(watkins.actionsTaken, sarsa.actionsTaken);
        EXPECT_GT(std::count(sarsa.actionsTaken.begin(), sarsa.actionsTaken.end(), 0), 0);
        // Bit for bit: the two Q files are the same bytes.
        ASSERT_EQ(sarsaTable->save(dir.file("sarsa.q")), 0);
        ASSERT_EQ(watkinsTable->save(dir.file("watkins.q")), 0);
        EXPECT_EQ(test_support::readFile(dir.file("watkins.q")), test_support::readFile(dir.file("sarsa.q")));
        EXPECT_NE(sarsaTable->weightVector(), std::vector<double>(12, 0.0));
    }
}

// ---------------------------------------------------------------------------
// Steps allocate nothing

TEST(Learners, StepsOnLookupTablesAllocateNothing) {
    struct Case {
        const char* name;
        Types::TRACE_STORAGE storage;
        Tembra::TRACE_TYPE traces;
        Tembra::ACTION_SELECTION_TYPE selection;
        double epsilon;
    };
    const Case cases[] = {
        {"map, replacing, greedy", Types::MAP, Tembra::REPLACING, Tembra::GREEDY, 0.0},
        {"map, accumulating, greedy", Types::MAP, Tembra::ACCUMULATING, Tembra::GREEDY, 0.0},
        {"array, replacing, epsilon-greedy", Types::ARRAY, Tembra::REPLACING, Tembra::EPSILON_GREEDY, 0.3},
        {"array, accumulating, softmax", Types::ARRAY, Tembra::ACCUMULATING, Tembra::SOFTMAX, 0.0},
        {"no traces, greedy", Types::MAP, Tembra::NONE, Tembra::GREEDY, 0.0},
        {"sparse, replacing, greedy", Types::SPARSE, Tembra::REPLACING, Tembra::GREEDY, 0.0},
        {"sparse, accumulating, greedy", Types::SPARSE, Tembra::ACCUMULATING, Tembra::GREEDY, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Five positions on a ring: action 0 steps forward, any other back.
        // Episodes of 40 steps; the steps from the tenth on are counted,
        // once every position has been visited (and, with map traces, every
        // entry made).
        auto ring = [&c](auto& agent, auto* table, const char* learner) {
            SCOPED_TRACE(learner);
                    table->setTraceStorage(c.storage);
            agent.move = [](const int at, const int action) { return action == 0 ? (at + 1) % 5 : (at + 4) % 5; };
            agent.maxSteps = 40;
            agent.episodesToRun = 3;
            agent.countFrom = 10;
            agent.TRACES = c.traces;
            agent.ACTION_SELECTION = c.selection;
            agent.EPSILON = c.epsilon;
            agent.actionsTaken.reserve(200);  // the test's own record must not count
            EXPECT_TRUE(runLoop(agent).errors.empty());
            EXPECT_EQ(agent.countedSteps, 3 * 30);
            EXPECT_EQ(agent.allocations, 0);
        };
        TempDir dir;
        lookup_test::VTable* v = vTable(5);
        Agent<TD> td(dir.file("td.conf"), v);
        ring(td, v, "TD");
        // Action 1 far below: the greedy policy keeps to action 0.
        lookup_test::QTable* q1 = qTable(5, 2);
        lookup_test::QTable* q2 = qTable(5, 2);
        q1->setActionValue(1, -100.0);
        q2->setActionValue(1, -100.0);
        Agent<Sarsa> sarsa(dir.file("sarsa.conf"), q1);
        Agent<Watkins> watkins(dir.file("watkins.conf"), q2);
        ring(sarsa, q1, "Sarsa");
        ring(watkins, q2, "Watkins");
    }
}

TEST(Learners, AllocationCounterSeesTheLibraryAllocate) {
    // The counter must see allocations made inside the shared library, or
    // the test above would prove nothing.
    StateLookupTable* table = nullptr;
    State* state = makeState({{"x", 0, 9}});
    const long made = allocation_count::during([&] {
        table = new StateLookupTable(state);
        table->initEligibilityTraces();
    });
    EXPECT_GE(made, 3);  // the table object, strides, weights
    delete table;
}

// ---------------------------------------------------------------------------
// Actions registered after the weights were made

// A corridor with a third action, registered after create(), that stays
// put. Were it without weights it would read 0 while the others fall below
// it, and the greedy learner would stay for ever; with its own weights it
// learns what staying costs, every episode reaches the goal, and the table
// ends as one created with all three actions from the start.
TEST(Learners, AnActionRegisteredLateLearnsLikeOneRegisteredFirst) {
    for (const Types::TRACE_STORAGE storage : {Types::MAP, Types::ARRAY, Types::SPARSE}) {
        SCOPED_TRACE(storage);
        TempDir dir;
        auto corridor = [storage](Agent<Sarsa>& agent, lookup_test::QTable* table) {
            table->setTraceStorage(storage);
            agent.goal = 5;
            agent.maxSteps = 300;
            agent.episodesToRun = 15;
            agent.stepReward = -1.0;
            agent.move = [](const int at, const int action) {
                return action == 0 ? std::max(at - 1, 0) : action == 1 ? at + 1 : at;
            };
            setSeed(5);
            EXPECT_TRUE(runLoop(agent).errors.empty());
        };
        ValueFunction::setValue(0.0);
        lookup_test::QTable* early = qTable(6, 3);
        lookup_test::QTable* late = qTable(6, 2);
        late->registerAction(new lookup_test::CountedAction(nullptr));
        EXPECT_EQ(late->weightVector(), std::vector<double>(18, 0.0));
        Agent<Sarsa> first(dir.file("first.conf"), early);
        Agent<Sarsa> second(dir.file("second.conf"), late);
        corridor(first, early);
        corridor(second, late);

        EXPECT_EQ(second.episodes, 15);
        EXPECT_LT(second.actionsTaken.size(), 15u * 300u);
        EXPECT_GT(std::count(second.actionsTaken.begin(), second.actionsTaken.end(), 2), 0);
        EXPECT_EQ(second.actionsTaken, first.actionsTaken);
        ASSERT_EQ(early->save(dir.file("early.q")), 0);
        ASSERT_EQ(late->save(dir.file("late.q")), 0);
        EXPECT_EQ(test_support::readFile(dir.file("late.q")), test_support::readFile(dir.file("early.q")));
    }
}
