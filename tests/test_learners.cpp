#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "LearnerAgent.h"
#include "LookupTableAccess.h"
#include "ProbeLearner.h"
#include "Sarsa.h"
#include "Utility.h"
#include "Watkins.h"

using lookup_test::QTable;
using test_support::Reports;
using test_support::TempDir;
using Messages = std::vector<std::string>;

namespace {

// The parameters of the recorded runs, none of them a default, so that each
// argument is seen to come from its parameter. With Q(s, a0) = 0.1, reward
// 0.1 and Q(s', a1) = 0.45, the three ways of adding up the error give three
// different doubles; only (reward - value) + discounted next value is right.
const double kAlpha = 0.2, kGamma = 0.8, kLambda = 0.25, kTraceValue = 2.5, kTemperature = 0.37;
const char* const kConf = "ALPHA 0.2\nGAMMA 0.8\nLAMBDA 0.25\nTRACE_VALUE 2.5\nTEMPERATURE 0.37\n";

// What a learner did, one letter per call, as its value function and the
// using program's hooks saw it. A call with a wrong argument leaves '!'.
//   c initEligibilityTraces  d updateEligibilityTraces  h initEpisodeStateHistory
//   n storeState  p replacingTraces  a accumulatingTraces  s setState
//   u updateWeights  v a value read by the learner
//   g x f the greedy, random and softmax selections  ? the epsilon test
//   I T O R setInitialState, takeAction, observeState, calculateReward
//   S the start of a step  E finishEpisode
struct Recorder {
    std::string calls;
    std::vector<double> deltas;
    int updates = 0, destroyed = 0;
};

template <class Base>
class Recording : public Base {
public:
    explicit Recording(Recorder& recorder) : Base(nullptr), rec(recorder) {}
    ~Recording() override { ++rec.destroyed; }

    void initWeights(const double (*)()) override {}
    void initEligibilityTraces() override { log('c'); }
    void updateWeights(const double ALPHA, const double DELTA) override {
        log(ALPHA == kAlpha ? 'u' : '!');
        rec.deltas.push_back(DELTA);
        ++rec.updates;
    }
    void updateEligibilityTraces(double g, double l) override { log(g == kGamma && l == kLambda ? 'd' : '!'); }
    void accumulatingTraces(const double VALUE) override { log(VALUE == kTraceValue ? 'a' : '!'); }
    void replacingTraces(const double VALUE) override { log(VALUE == kTraceValue ? 'p' : '!'); }
    void checkWeightLimit() override {}
    const double getMinWeight() const override { return 0.0; }
    const double getAvgWeight(const bool) const override { return 0.0; }
    const double getMaxWeight() const override { return 0.0; }
    void setState() override { log('s'); }
    void storeState() override { log('n'); }
    void initEpisodeStateHistory() override { log('h'); }
    void valueEpisode(const double) override { log('!'); }

protected:
    void log(const char c) const { rec.calls.push_back(c); }
    const int save(FILE*) const override { return 0; }
    const int load(FILE*) override { return 0; }
    Recorder& rec;
};

// V(s) gives the scripted values in turn, the last one again once the
// script is used up.
class RecordingV : public Recording<StateValueFunction> {
public:
    RecordingV(Recorder& recorder, const std::vector<double>& script) : Recording(recorder), values(script) {}
    const double getStateValue() const override {
        log('v');
        return values[std::min(reads++, values.size() - 1)];
    }

private:
    std::vector<double> values;
    mutable std::size_t reads = 0;
};

// Q(s, a) is q[a] plus the number of updates so far, in every state. A
// greedy selection takes the first of the largest; a random or softmax
// selection takes the scripted indices in turn.
class RecordingQ : public Recording<ActionValueFunction> {
public:
    RecordingQ(Recorder& recorder, const std::vector<double>& actionValues, const std::deque<int>& script = {})
        : Recording(recorder), q(actionValues), choices(script) {
        for (std::size_t a = 0; a < q.size(); ++a) registerAction(new AbstractAction());
        activeActionIndex = 0;  // what an unknown rule leaves active
    }

    const double getActionValue(int a) const override {
        log('v');
        return value(a);
    }
    const double setGreedyActionIndex() override {
        log('g');
        activeActionIndex = static_cast<int>(std::max_element(q.begin(), q.end()) - q.begin());
        return value(activeActionIndex);
    }
    const double setRandomActionIndex() override { return choose('x'); }
    const double setSoftMaxActionIndex(const double T) override { return choose(T == kTemperature ? 'f' : '!'); }

protected:
    void removeAction(int) override {}

private:
    double value(const int a) const { return q[static_cast<std::size_t>(a)] + rec.updates; }
    double choose(const char letter) {
        log(letter);
        activeActionIndex = choices.front();
        choices.pop_front();
        return value(activeActionIndex);
    }
    std::vector<double> q;
    std::deque<int> choices;
};

// A part of a run: exactly these letters, in any order in which the letters
// of each chain come in the chain's order (others may come between them).
void expectPart(const std::string& actual, const std::string& letters, const std::vector<std::string>& chains) {
    std::string a = actual, e = letters;
    std::sort(a.begin(), a.end());
    std::sort(e.begin(), e.end());
    EXPECT_EQ(a, e) << "calls " << actual << ", expected " << letters;
    for (const std::string& chain : chains) {
        std::size_t at = 0;
        for (const char c : chain) {
            if ((at = actual.find(c, at)) == std::string::npos) break;
            ++at;
        }
        EXPECT_NE(at, std::string::npos) << actual << " breaks " << chain;
    }
}

struct TraceCase {
    const char* name;
    Tembra::TRACE_TYPE traces;
    std::string mark;  // the present pair's trace (or storing); empty: reported
    bool history;      // the value function keeps an episode record
};

struct SelectionCase {
    const char* name;
    Tembra::ACTION_SELECTION_TYPE rule;
    std::deque<bool> explore;  // the epsilon tests' answers in turn
    std::deque<int> choices;   // the random and softmax choices in turn
};

// What the learners must do, step by step, as letters: what comes before
// the action (Watkins' exploration, the traces' decay or cut, the present
// pair's trace), what bootstraps the update once the next state is set, and
// the errors, actions and reports that follow.
template <class Learner>
struct Model {
    static constexpr bool td = isTD<Learner>, watkins = std::is_same<Learner, Watkins>::value;
    Model(const TraceCase& traceCase, const SelectionCase& rule) : t(traceCase), s(rule) {}
    TraceCase t;
    SelectionCase s;
    std::vector<double> v = {0.1, 0.45, 0.3};  // TD: V in turn
    int active = 0, updates = 0, reads = 0;
    double value = 0.0;
    std::vector<double> deltas;
    std::vector<int> actions;

    std::string traces(const char letter) const { return t.traces == Tembra::NONE ? "" : std::string(1, letter); }
    std::string take(const char letter, const int a) {
        active = a;
        value = (a == 0 ? 0.1 : 0.45) + updates;
        return std::string(1, letter);
    }
    std::string choose(const char letter) {
        const int a = s.choices.front();
        s.choices.pop_front();
        return take(letter, a);
    }
    std::string read() {
        value = v[static_cast<std::size_t>(std::min(reads++, 2))];
        return "v";
    }
    // Sarsa's selection, or Watkins' exploration, which leaves the greedy
    // action alone unless it explores, and then cuts the traces.
    std::string select() {
        std::string letters;
        switch (s.rule) {
            case Tembra::GREEDY: letters = watkins ? "" : take('g', 1); break;
            case Tembra::EPSILON_GREEDY: {
                const bool explores = s.explore.front();
                s.explore.pop_front();
                letters = "?" + (explores ? choose('x') : watkins ? "" : take('g', 1));
                break;
            }
            case Tembra::SOFTMAX: letters = choose('f'); break;
            default: return "";
        }
        const bool left = letters.find('x') != std::string::npos || active != 1;
        return watkins ? letters + traces(left ? 'c' : 'd') : letters;
    }
    // What sets value at the start of an episode and bootstraps the updates.
    std::string next() { return td ? read() : watkins ? take('g', 1) : select(); }
    void step(const std::string& calls, const double reward, const bool last) {
        const std::string pre = (watkins ? select() : traces('d')) + t.mark;
        actions.push_back(active);
        double delta = reward - value;
        const std::string boot = last ? "" : next();
        if (!last) delta = delta + value * kGamma;
        deltas.push_back(delta);
        ++updates;
        const std::string after = last ? "" : td ? read() : take('v', active);
        expectPart(calls, pre + "TOsR" + boot + "u" + after, {pre + "T", "Os" + boot + "u" + after, "Ru"});
    }
};

template <class Learner>
void expectOrdering(const TraceCase& t, const SelectionCase& s) {
    TempDir dir;
    Recorder rec;
    Model<Learner> model(t, s);
    typename Agent<Learner>::Values* values = nullptr;
    if constexpr (isTD<Learner>) values = new RecordingV(rec, model.v);
    else values = new RecordingQ(rec, {0.1, 0.45}, s.choices);
    values->setEpisodeStateHistory(t.history);
    test_support::writeText(dir.file("learner.conf"), kConf);
    std::unique_ptr<Agent<Learner>> owner(new Agent<Learner>(dir.file("learner.conf"), values, &rec.calls));
    Agent<Learner>& agent = *owner;
    agent.TRACES = t.traces;
    agent.ACTION_SELECTION = s.rule;
    agent.randomScript = s.explore;
    agent.reward = [](const int step, int) { return step == 1 ? 0.1 : 2.0; };
    agent.episodesToRun = 2;
    const Reports output = runLoop(agent);
    EXPECT_EQ(agent.episodes, 2);
    EXPECT_EQ(agent.steps, 2);

    // Two episodes of two steps: "<start>S<step>S<step>E" twice.
    std::size_t at = 0;
    for (int episode = 0; episode < 2; ++episode) {
        std::string parts[3];
        for (std::string& part : parts) {
            const std::size_t end = rec.calls.find(&part == &parts[2] ? 'E' : 'S', at);
            ASSERT_NE(end, std::string::npos) << rec.calls;
            part = rec.calls.substr(at, end - at);
            at = end + 1;
        }
        const std::string start = "Is" + model.next();
        expectPart(parts[0], model.traces('c') + (t.history ? "h" : "") + start, {start});
        model.step(parts[1], 0.1, false);
        model.step(parts[2], 2.0, true);
    }
    EXPECT_EQ(rec.deltas, model.deltas);
    EXPECT_EQ(agent.actionsTaken, model.actions);
    const long traceReports = t.mark.empty() ? 4 : 0;
    EXPECT_EQ(std::count(output.errors.begin(), output.errors.end(), "Unknown Tracetype!"), traceReports);
    const long selectionReports = s.rule > Tembra::SOFTMAX ? 4 : 0;  // Sarsa: two per episode, Watkins: one per step
    EXPECT_EQ(std::count(output.errors.begin(), output.errors.end(), "Unknown ACTION_SELECTION 5"), selectionReports);
    EXPECT_EQ(static_cast<long>(output.errors.size()), traceReports + selectionReports);
    owner.reset();
    EXPECT_EQ(rec.destroyed, 1);  // the learner owns its value function
}

}  // namespace

TEST(Learner, ConstructionRestartsTheRandomSequenceAndTheEpsilonTestDrawsOnceStrictlyBelow) {
    setSeed(1);
    const int first = std::rand();
    TempDir dir;
    setSeed(12345);
    ProbeLearner learner(dir.file("learner.conf"));
    EXPECT_EQ(std::rand(), first);

    setSeed(9);
    const double draw = std::rand() / 2147483648.0;
    const int next = std::rand();
    // EPSILON equal to the draw gives no random action, the next double up does.
    for (const bool above : {false, true}) {
        learner.EPSILON = above ? std::nextafter(draw, 1.0) : draw;
        setSeed(9);
        EXPECT_EQ(learner.randomAction(), above);
        EXPECT_EQ(std::rand(), next);
    }
}

// ---------------------------------------------------------------------------
// What each learner does in a step, for every kind of traces and every rule:
// the trace of the present pair before the action, the update after the
// reward and the next state, the next value read after the update, and for
// Watkins the traces cut after an exploratory action. The order of calls
// that do not depend on each other is left open.

const TraceCase kTraceCases[] = {
    {"NONE", Tembra::NONE, "n", true},
    {"REPLACING", Tembra::REPLACING, "p", false},
    {"ACCUMULATING", Tembra::ACCUMULATING, "a", true},
    {"unknown (7)", static_cast<Tembra::TRACE_TYPE>(7), "", false},
};
// Q(s, 1) is the greedy value throughout. Softmax takes action 0 first, so
// that the first error starts from 0.1 and bootstraps from 0.45. Watkins
// explores in steps 2 and 3 of the four (the third exploration draws the
// greedy action: the traces are cut all the same), and its softmax leaves
// the greedy action in steps 1 and 4.
const SelectionCase kSelectionCases[] = {
    {"GREEDY", Tembra::GREEDY, {}, {}},
    {"EPSILON_GREEDY", Tembra::EPSILON_GREEDY, {false, true, true, false}, {0, 1}},
    {"SOFTMAX", Tembra::SOFTMAX, {}, {0, 1, 1, 0}},
    {"unknown (5)", static_cast<Tembra::ACTION_SELECTION_TYPE>(5), {}, {}},
};

TEST(Learners, EachStepTracesThePresentPairFirstAndReadsTheNextValueAfterTheUpdate) {
    ASSERT_NE((0.1 - 0.1) + 0.45 * kGamma, (0.1 + 0.45 * kGamma) - 0.1);
    ASSERT_NE((0.1 - 0.1) + 0.45 * kGamma, 0.1 + (0.45 * kGamma - 0.1));
    for (const TraceCase& t : kTraceCases) {
        SCOPED_TRACE(std::string("TD / ") + t.name);
        expectOrdering<TD>(t, kSelectionCases[0]);
        for (const SelectionCase& s : kSelectionCases) {
            SCOPED_TRACE(std::string(t.name) + " / " + s.name);
            expectOrdering<Sarsa>(t, s);
            expectOrdering<Watkins>(t, s);
        }
    }
}

// Without a value function, with an action not bound yet (a Q function
// loaded from a file has none until setAction: takeAction would have nothing
// to carry out), or without actions: one report, no call.
TEST(Learners, RunNothingWithoutAUsableValueFunction) {
    TempDir dir;
    Recorder rec;
    RecordingQ* unbound = new RecordingQ(rec, {0.0, 0.0, 0.0});
    unbound->setAction(1, nullptr);
    Agent<TD> a(dir.file("a"), nullptr, &rec.calls);
    Agent<Watkins> b(dir.file("b"), nullptr, &rec.calls), c(dir.file("c"), new RecordingQ(rec, {}), &rec.calls);
    Agent<Sarsa> d(dir.file("d"), unbound, &rec.calls);
    const std::pair<Messages, std::string> runs[] = {
        {runLoop(a).errors, "valueFunctionPtr not set --> leave controlLoop !!!"},
        {runLoop(b).errors, "valueFunctionPtr not set"}, {runLoop(c).errors, "No actions registered!"},
        {runLoop(d).errors, "actionIndex 1 holds no action"}};
    for (const auto& run : runs) {
        EXPECT_EQ(run.first.size(), 1u) << run.second;
        EXPECT_TRUE(test_support::someReportContains(run.first, run.second)) << run.second;
    }
    EXPECT_TRUE(rec.calls.empty());
}

// ---------------------------------------------------------------------------
// The learners on lookup tables, by hand

TEST(TDLearner, TwoStepsOnALookupTableByHand) {
    // The defaults: ALPHA 0.1, GAMMA 0.9, LAMBDA 0.5, replacing traces of 1.
    TempDir dir;
    lookup_test::VTable* table = new lookup_test::VTable(lookup_test::makeState({{"position", 0, 4}}));
    Agent<TD> agent(dir.file("td.conf"), table);
    agent.maxSteps = 3;
    agent.reward = [](const int step, int) { return step == 1 ? 1.0 : 0.5; };
    agent.initEpisode();
    agent.step();
    // delta = (1 - 0) + 0.9 * 0 = 1: the start state gains exactly 0.1.
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
    auto twoSteps = [&](auto& agent, QTable* table) {
        table->setWeights({0.25, 0.5, 0.75, -0.5, 0.0, 0.375, 0.0, 0.0});
        agent.maxSteps = 3;
        agent.reward = [&](const int step, int) { return step == 1 ? r1 : r2; };
        agent.initEpisode();
        EXPECT_EQ(agent.value, 0.5);  // greedy in state 0: action 1
        agent.step();
        agent.step();
    };
    // Step 1, greedy in both: (0, 1) traced; bootstrap from Q(1, 0) = 0.75.
    const double w01 = 0.5 + (A * ((r1 - 0.5) + 0.75 * G)) * 1.0;
    TempDir dir;
    test_support::writeText(dir.file("learner.conf"), "ALPHA 0.3\nGAMMA 0.9\nLAMBDA 0.7\n");
    QTable* sarsaTable = lookup_test::makeQ({{"position", 0, 3}}, 2);
    Agent<Sarsa> sarsa(dir.file("learner.conf"), sarsaTable);
    twoSteps(sarsa, sarsaTable);
    EXPECT_EQ(sarsa.actionsTaken, (std::vector<int>{1, 0}));
    // Sarsa, step 2: (0, 1) decayed, (1, 0) traced; the next action in state
    // 2 is 1, and the error starts from Q(1, 0), which step 1 left alone.
    const double f2 = A * ((r2 - 0.75) + 0.375 * G);
    EXPECT_EQ(sarsaTable->weightVector(),
              (std::vector<double>{0.25, w01 + f2 * (1.0 * (G * L)), 0.75 + f2 * 1.0, -0.5, 0.0, 0.375, 0.0, 0.0}));
    EXPECT_EQ(sarsa.value, 0.375);

    // Watkins explores in step 2; find a seed whose uniform draw there (after
    // the greedy tie breaks at episode start and after step 1) is action 1,
    // not greedy in state 1.
    unsigned int seed = 0;
    do {
        setSeed(++seed);
        std::rand();
        std::rand();
    } while (getRandomIndex(2) != 1);
    QTable* watkinsTable = lookup_test::makeQ({{"position", 0, 3}}, 2);
    Agent<Watkins> watkins(dir.file("learner.conf"), watkinsTable);
    watkins.ACTION_SELECTION = Tembra::EPSILON_GREEDY;
    watkins.randomScript = {false, true};
    setSeed(seed);
    twoSteps(watkins, watkinsTable);
    EXPECT_EQ(watkins.actionsTaken, (std::vector<int>{1, 1}));
    // The traces are cut, so (0, 1) keeps what step 1 gave it; (1, 1) with
    // Q = -0.5 bootstraps from max Q(2, .).
    const double w11 = -0.5 + (A * ((r2 - (-0.5)) + 0.375 * G)) * 1.0;
    EXPECT_EQ(watkinsTable->weightVector(), (std::vector<double>{0.25, w01, 0.75, w11, 0.0, 0.375, 0.0, 0.0}));
}
