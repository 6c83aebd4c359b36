// The interfaces every representation implements: the initial weights,
// the file envelope (State block, the ACTIONS of a Q file, the body), the
// action registry and the action selections. The representations here are
// stubs whose body is a count and that many doubles.

#include <gtest/gtest.h>

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "ActionTileCoding.h"
#include "LookupTableAccess.h"
#include "NeuralNetwork.h"
#include "StateTileCoding.h"
#include "TestSupport.h"
#include "TileTestSupport.h"
#include "Utility.h"

using lookup_test::CountedAction;
using namespace test_support;
using namespace tile_test;
using Messages = std::vector<std::string>;

namespace {

const double TWO_TO_MINUS_31 = 1.0 / 2147483648.0;
const int HALF_OF_RAND = 1073741824;  // 2^30

Messages errorsOf(const std::function<void()>& action) { return stderrReports(action); }

const std::string MISSING_FILE_REPORT = "errno = 2 --> " + std::string(std::strerror(ENOENT));

// The first value rand() gives after seeding, and the one after it; the
// seed is set again.
std::pair<int, int> firstDraws(unsigned seed) {
    setSeed(seed);
    const int first = std::rand();
    const int second = std::rand();
    setSeed(seed);
    return {first, second};
}

// A seed whose first draw satisfies the predicate.
unsigned seedWhere(const std::function<bool(int)>& wanted) {
    for (unsigned seed = 1;; ++seed) {
        setSeed(seed);
        if (wanted(std::rand())) return seed;
    }
}

Bytes bodyBytes(const std::vector<double>& weights) {
    Bytes b;
    putU32(b, static_cast<uint32_t>(weights.size()));
    for (double w : weights) putF64(b, w);
    return b;
}

Bytes cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The abstract operations of a representation, doing what the tests need.
template <class Base>
class Stubbed : public Base {
public:
    using Base::Base;
    std::vector<double> weights;
    bool failBodySave = false;
    mutable int bodySaves = 0;
    int bodyLoads = 0;

    void initWeights(const double (*init)()) override {
        for (double& w : weights) w = init();
    }
    void initEligibilityTraces() override {}
    void updateWeights(const double, const double) override {}
    void updateEligibilityTraces(const double, const double) override {}
    void accumulatingTraces(const double) override {}
    void replacingTraces(const double) override {}
    void checkWeightLimit() override {}
    const double getMinWeight() const override { return 0.0; }
    const double getAvgWeight(const bool) const override { return 0.0; }
    const double getMaxWeight() const override { return 0.0; }
    void setState() override {}
    void storeState() override {}
    void initEpisodeStateHistory() override {}
    void valueEpisode(const double) override {}
    const double (*initFunction() const)() { return this->initWeightsFunctionPtr; }
    using Base::getRandomValue;

protected:
    const int save(FILE* file) const override {
        ++bodySaves;
        const Bytes b = bodyBytes(weights);
        return !failBodySave && std::fwrite(b.data(), 1, b.size(), file) == b.size() ? 0 : -1;
    }
    const int load(FILE* file) override {
        ++bodyLoads;
        uint32_t n = 0;
        if (std::fread(&n, 4, 1, file) != 1 || n > 1000) return -1;  // a little-endian host
        weights.assign(n, 0.0);
        return n == 0 || std::fread(weights.data(), 8, n, file) == n ? 0 : -1;
    }
};

class TestV : public Stubbed<StateValueFunction> {
public:
    using Stubbed<StateValueFunction>::Stubbed;
    using StateValueFunction::load;
    using StateValueFunction::save;
    const double getStateValue() const override { return weights.empty() ? 0.0 : weights[0]; }
};

// Q values come from an array the test sets; removals are recorded with
// the ACTIONS the representation saw.
class TestQ : public Stubbed<ActionValueFunction> {
public:
    using Stubbed<ActionValueFunction>::Stubbed;
    using ActionValueFunction::load;
    using ActionValueFunction::save;

    std::vector<double> values;
    mutable int valueCalls = 0;
    std::vector<std::pair<int, int>> removals;  // (index, ACTIONS during the call)

    const double getActionValue(int a) const override {
        ++valueCalls;
        return a < 0 || a >= static_cast<int>(values.size()) ? 0.0 : values[static_cast<std::size_t>(a)];
    }
    std::size_t registrySize() const { return registeredActions.size(); }
    const double* scratch() const { return actionValues; }
    void registerNull(const int n) {
        for (int i = 0; i < n; ++i) registerAction(nullptr);
    }

protected:
    void removeAction(int a) override { removals.emplace_back(a, ACTIONS); }
};

State* intState() { return lookup_test::makeState({{"x", 0, 9}, {"yy", -3, 4}}); }

Bytes intStateBlock() {
    Bytes b;
    putU32(b, 2);
    putI32(b, 1);
    putIntVar(b, "x", 0, 9);
    putIntVar(b, "yy", -3, 4);
    return b;
}

template <class F>
void expectSaveFailuresReported() {
    TempDir dir;
    // Without a State there is nothing to write, and no file is left behind.
    F empty(nullptr);
    int result = 0;
    EXPECT_EQ(errorsOf([&] { result = empty.save(dir.file("empty.bin")); }).size(), 1u);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(empty.bodySaves, 0);
    EXPECT_FALSE(std::ifstream(dir.file("empty.bin")).good());

    F f(intState());
    const std::string unwritable = dir.file("no/such/dir/f.bin");
    Messages messages = errorsOf([&] { result = f.save(unwritable); });
    EXPECT_EQ(result, -1);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "errno = 2 --> " + std::string(std::strerror(ENOENT)) + " (" + unwritable + ")");
    f.failBodySave = true;
    messages = errorsOf([&] { result = f.save(dir.file("f.bin")); });
    EXPECT_EQ(result, -1);
    EXPECT_EQ(messages, Messages{"saving valuefunction failed"});
}

// A lookup table over a in [0, 9], or a tile coding of two groups (4
// tilings CLIP, 8 tilings WRAP: 16 + 40 weights per action) over v in
// [0, 8]; a V function without actions. Weights start at initial.
ValueFunction* representation(bool tiles, int actions, double initial = 0.0) {
    const VarList clip{tiledVar(0, 0.5, Types::CLIP)}, wrap{tiledVar(0, 0.25, Types::WRAP)};
    if (!tiles && actions == 0) return new StateLookupTable(lookup_test::makeState({{"a", 0, 9}}));
    if (tiles && actions == 0) {
        StateTileCoding* v = new StateTileCoding(doubleState({{0.0, 8.0}}));
        ValueFunction::setValue(initial);
        v->registerTiling(new StateTilings(4, clip));
        v->registerTiling(new StateTilings(8, wrap));
        return v;
    }
    if (!tiles) {
        ActionLookupTable* q = new ActionLookupTable(lookup_test::makeState({{"a", 0, 9}}));
        for (int a = 0; a < actions; ++a) q->registerAction(new AbstractAction());
        ValueFunction::setValue(initial);
        q->create();
        return q;
    }
    ActionTileCoding* q = new ActionTileCoding(doubleState({{0.0, 8.0}}));
    for (int a = 0; a < actions; ++a) q->registerAction(new AbstractAction());
    ValueFunction::setValue(initial);
    q->registerTiling(new ActionTilings(4, clip));
    q->registerTiling(new ActionTilings(8, wrap));
    return q;
}

void setStorage(ValueFunction& vf, int storage) {
    const Types::TRACE_STORAGE s = static_cast<Types::TRACE_STORAGE>(storage);
    if (LookupTable* t = dynamic_cast<LookupTable*>(&vf)) return t->setTraceStorage(s);
    dynamic_cast<TileCoding&>(vf).setTraceStorage(s);
}

// Moves to probe point p of ten and gives the values there.
std::vector<double> at(ValueFunction& vf, int p) {
    State* s = vf.getStatePtr();
    if (s->getType() == State::INT) s->setValueInt(0, p);
    if (s->getType() == State::DOUBLE) s->setValueDbl(0, 0.8 * p + 0.05);
    vf.setState();
    if (StateValueFunction* v = dynamic_cast<StateValueFunction*>(&vf)) return {v->getStateValue()};
    ActionValueFunction& q = dynamic_cast<ActionValueFunction&>(vf);
    std::vector<double> values;
    for (int a = 0; a < q.getNumberOfActions(); ++a) values.push_back(q.getActionValue(a));
    return values;
}

std::vector<std::vector<double>> everywhere(ValueFunction& vf) {
    std::vector<std::vector<double>> values;
    for (int p = 0; p < 10; ++p) values.push_back(at(vf, p));
    return values;
}

// Steps of learning with traces, taken as the learners take them.
void learn(ValueFunction& vf, int steps) {
    setSeed(3);
    ActionValueFunction* q = dynamic_cast<ActionValueFunction*>(&vf);
    vf.initEligibilityTraces();
    for (int step = 0; step < steps; ++step) {
        const std::vector<double> values = at(vf, step * 7 % 10);
        const double value = q != nullptr ? q->setGreedyActionIndex() : values[0];
        vf.updateEligibilityTraces(0.9, 0.8);
        if (step % 2 == 0) vf.replacingTraces(1.0);
        if (step % 2 == 1) vf.accumulatingTraces(1.0);
        vf.updateWeights(0.3, 1.0 - value);
    }
}

}  // namespace

TEST(ValueFunction, InitialWeightsAreZeroUnlessSetAndRandomValuesAreTheScaledDraw) {
    TestV v(intState());
    v.weights.assign(3, 9.0);
    v.initWeights(v.initFunction());
    EXPECT_EQ(v.weights, std::vector<double>(3, 0.0));
    // With bounds -1 and 1 the draw r gives exactly -1 + r / 2^30.
    ValueFunction::setRandomValueBoundaries(-1.0, 1.0);
    for (unsigned seed = 1; seed <= 5; ++seed) {
        const auto draws = firstDraws(seed);
        EXPECT_EQ(TestV::getRandomValue(), -1.0 + draws.first / 1073741824.0) << "seed " << seed;
        EXPECT_EQ(std::rand(), draws.second) << "one draw per value";
    }
    ValueFunction::setRandomValueBoundaries(-0.5, 0.5);
    const auto draws = firstDraws(99);
    EXPECT_EQ(TestV::getRandomValue(), -0.5 + draws.first * TWO_TO_MINUS_31);
}

// ------------------------------------------------------------------ files

TEST(StateValueFunction, SavingReplacesTheFileAndLoadingKeepsTheStateObject) {
    TempDir dir;
    const std::string path = dir.file("v.bin");
    TestV v(intState());
    v.weights = {1.5, -2.0, 0.0};
    EXPECT_EQ(v.save(path), 0);
    v.weights = {4.0};
    EXPECT_EQ(v.save(path), 0);
    EXPECT_EQ(readFile(path), cat(intStateBlock(), bodyBytes({4.0})));
    // The using program may hold the State: it gets the file's variables
    // in place of its own, and stays the same object.
    State* s = new State();
    s->registerVariable("d", 0.0, 1.0);
    TestV own(s);
    EXPECT_EQ(own.load(path), 0);
    EXPECT_EQ(own.getStatePtr(), s);
    EXPECT_EQ(s->getType(), State::INT);
    EXPECT_EQ(s->getNumberOfVariables(), 2u);
    EXPECT_EQ(own.weights, std::vector<double>{4.0});
}

TEST(StateValueFunction, LoadFailuresAreReportedAtTheStepThatFailed) {
    TempDir dir;
    const Bytes whole = cat(intStateBlock(), bodyBytes({1.0}));
    const struct {
        const char* name;
        std::size_t size;  // of the file; 0: no file
        bool ownState;
        std::string report;  // the last one
        bool onlyReport;
        unsigned vars;  // of the State afterwards
        int bodyLoads;
    } cases[] = {
        {"missing file", 0, true, MISSING_FILE_REPORT, true, 2, 0},
        // The body is never read, and the State is left empty.
        {"cut in the state block, without a State", 10, false, "loading state failed", false, 0, 0},
        {"cut in the state block, with a State", 10, true, "loading state failed", false, 0, 0},
        {"cut in the body", whole.size() - 1, false, "loading valuefunction failed", true, 2, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(c.size == 0 ? "absent.bin" : "v.bin");
        if (c.size != 0) writeFile(path, Bytes(whole.begin(), whole.begin() + static_cast<long>(c.size)));
        TestV v(c.ownState ? intState() : nullptr);
        int result = 0;
        const Messages messages = errorsOf([&] { result = v.load(path); });
        EXPECT_EQ(result, -1);
        ASSERT_FALSE(messages.empty());
        EXPECT_EQ(messages.back(), c.size == 0 ? c.report + " (" + path + ")" : c.report);
        EXPECT_TRUE(messages.size() == 1 || !c.onlyReport) << messages.size();
        ASSERT_NE(v.getStatePtr(), nullptr);
        EXPECT_EQ(v.getStatePtr()->getNumberOfVariables(), c.vars);
        EXPECT_EQ(v.bodyLoads, c.bodyLoads);
    }
}

TEST(ValueFunctions, SaveFailuresAreReportedAndReturnMinusOne) {
    {
        SCOPED_TRACE("V");
        expectSaveFailuresReported<TestV>();
    }
    SCOPED_TRACE("Q");
    expectSaveFailuresReported<TestQ>();
}

TEST(ActionValueFunction, LoadGivesEmptySlotsThatSetActionBinds) {
    TempDir dir;
    const std::string path = dir.file("q.bin");
    Bytes file = intStateBlock();
    putI32(file, 3);
    writeFile(path, cat(file, bodyBytes({1.0, 2.0, 3.0})));
    int destroyedOld = 0;
    int destroyedBound[3] = {0, 0, 0};
    {
        TestQ q(nullptr);
        q.registerAction(new CountedAction(&destroyedOld));
        q.registerAction(new CountedAction(&destroyedOld));
        q.values = {0.0, 1.0};
        (void)q.setGreedyActionIndex();
        EXPECT_EQ(q.load(path), 0);
        EXPECT_EQ(destroyedOld, 2);
        EXPECT_EQ(q.getActiveActionIndex(), 1);  // left as it was
        EXPECT_EQ(q.getNumberOfActions(), 3);
        EXPECT_EQ(q.registrySize(), 3u);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(q.getAction(i), nullptr);
        // The active action is one of them: the caller is told, not left with a bare null.
        const Messages unbound = errorsOf([&] { EXPECT_EQ(q.getActiveAction(), nullptr); });
        EXPECT_TRUE(someReportContains(unbound, "bind the actions with setAction"));
        EXPECT_EQ(q.weights, (std::vector<double>{1.0, 2.0, 3.0}));
        for (int i = 0; i < 3; ++i) q.setAction(i, new CountedAction(&destroyedBound[i]));
    }
    for (int d : destroyedBound) EXPECT_EQ(d, 1);
}

TEST(ActionValueFunction, LoadFailuresKeepTheRegistryUntilTheFileReplacesIt) {
    TempDir dir;
    const Bytes block = intStateBlock();
    const auto withActions = [&block](const int32_t actions) {
        Bytes file = block;
        putI32(file, actions);
        return cat(file, bodyBytes({1.0}));
    };
    const struct {
        const char* name;
        bool exists;
        Bytes bytes;
        std::string report;  // the last one
        int actions;         // afterwards
    } cases[] = {
        {"missing file", false, {}, MISSING_FILE_REPORT, 1},
        {"cut in the state block", true, Bytes(block.begin(), block.begin() + 12), "loading state failed", 1},
        // The end of the file sets no errno to quote.
        {"empty file", true, {}, "loading state failed", 1},
        // The registry is emptied first, then reading ACTIONS comes up short.
        {"no number of actions", true, block, "the file ends early", 0},
        {"a negative number of actions", true, withActions(-1),
         "ACTIONS = -1 --> not a plausible number of actions for this file", 0},
        {"more actions than the file can hold", true, withActions(0x7FFFFFFF),
         "ACTIONS = 2147483647 --> not a plausible number of actions for this file", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(c.exists ? "q.bin" : "absent.bin");
        if (c.exists) writeFile(path, c.bytes);
        int destroyed = 0;
        TestQ q(intState());
        q.registerAction(new CountedAction(&destroyed));
        int result = 0;
        const Messages messages = errorsOf([&] { result = q.load(path); });
        EXPECT_EQ(result, -1);
        ASSERT_FALSE(messages.empty());
        EXPECT_EQ(messages.back(), c.report == MISSING_FILE_REPORT ? c.report + " (" + path + ")" : c.report);
        EXPECT_EQ(messages.front().find("errno = 0 "), std::string::npos) << messages.front();
        EXPECT_EQ(q.getNumberOfActions(), c.actions);
        EXPECT_EQ(q.registrySize(), static_cast<std::size_t>(c.actions));
        EXPECT_EQ(destroyed, 1 - c.actions);
        EXPECT_EQ(q.bodyLoads, 0);
    }
}

// ----------------------------------------------------- registry and ownership

TEST(ActionValueFunction, RegistryIndexesActionsInOrderAndDestroysEachOnce) {
    int destroyed[4] = {0, 0, 0, 0};
    const AbstractAction* a[4];
    for (int i = 0; i < 4; ++i) a[i] = new CountedAction(&destroyed[i]);
    {
        TestQ q(intState());
        EXPECT_EQ(q.getActiveActionIndex(), -1);
        const AbstractAction* active = a[0];
        EXPECT_EQ(errorsOf([&] { active = q.getActiveAction(); }), Messages{"actionIndex -1 out of bounds [0, 0)"});
        EXPECT_EQ(active, nullptr);
        for (const AbstractAction* action : {a[0], a[1], static_cast<const AbstractAction*>(nullptr), a[2], a[3]}) {
            q.registerAction(action);  // a null is accepted as it is
        }
        EXPECT_EQ(q.getNumberOfActions(), 5);
        EXPECT_EQ(q.getAction(2), nullptr);
        EXPECT_EQ(q.getAction(3), a[2]);
        EXPECT_EQ(errorsOf([&] { EXPECT_EQ(q.getAction(5), nullptr); }), Messages{"actionIndex 5 out of bounds [0, 5)"});
        // Later actions shift down; the representation is told with the
        // ACTIONS of before, and the object is handed back.
        q.unregisterAction(1);
        EXPECT_EQ(q.getNumberOfActions(), 4);
        EXPECT_EQ(q.registrySize(), 4u);
        EXPECT_EQ(q.getAction(0), a[0]);
        EXPECT_EQ(q.getAction(2), a[2]);
        EXPECT_EQ(q.removals, (std::vector<std::pair<int, int>>{{1, 5}}));
        q.unregisterAction(a[3]);  // by pointer: the index it has now
        EXPECT_EQ(q.removals.back(), std::make_pair(3, 4));
        // What is not there changes nothing.
        const CountedAction stranger(nullptr);
        EXPECT_EQ(errorsOf([&] {
                      q.unregisterAction(3);
                      q.unregisterAction(-1);
                      q.unregisterAction(&stranger);
                  }),
                  (Messages{"actionIndex 3 out of bounds [0, 3)", "actionIndex -1 out of bounds [0, 3)"}));
        EXPECT_EQ(q.getNumberOfActions(), 3);
        EXPECT_EQ(q.removals.size(), 2u);
        EXPECT_EQ(destroyed[0] + destroyed[1] + destroyed[2] + destroyed[3], 0);
    }
    EXPECT_EQ(std::vector<int>(destroyed, destroyed + 4), (std::vector<int>{1, 0, 1, 0}));
    delete a[1];
    delete a[3];
}

TEST(ActionValueFunction, SetActionReplacesAndDestroysOnlyWhatItReplaces) {
    int destroyedOld = 0, destroyedNew = 0, destroyedRefused = 0;
    const AbstractAction* refused = new CountedAction(&destroyedRefused);
    {
        TestQ q(intState());
        const AbstractAction* replacement = new CountedAction(&destroyedNew);
        q.registerAction(new CountedAction(&destroyedOld));
        q.registerAction(nullptr);
        q.setAction(0, replacement);
        EXPECT_EQ(destroyedOld, 1);
        q.setAction(0, replacement);  // the action already there stays alive
        EXPECT_EQ(destroyedNew, 0);
        EXPECT_EQ(q.getAction(0), replacement);
        EXPECT_EQ(errorsOf([&] { q.setAction(5, refused); }), Messages{"actionIndex 5 out of bounds [0, 2)"});
        EXPECT_EQ(q.getNumberOfActions(), 2);
    }
    EXPECT_EQ(destroyedNew, 1);
    EXPECT_EQ(destroyedRefused, 0);  // not taken over
    delete refused;
}

// --------------------------------------------------------------- selection

TEST(ActionValueFunction, GreedyDrawsOnceAmongTheBestComparableValues) {
    const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
    const struct {
        const char* name;
        std::vector<double> values;
        std::function<int(int)> index;  // the active action after the draw r
        bool reported;
    } cases[] = {
        // Position floor(r * 2^-31 * 2) among the candidates {1, 2}.
        {"a tie", {1.0, 3.0, 3.0, 2.0}, [](int r) { return r < HALF_OF_RAND ? 1 : 2; }, false},
        {"a single best action", {5.0, 1.0}, [](int) { return 0; }, false},
        {"NaN is skipped", {nan, 2.0}, [](int) { return 1; }, false},
        {"the most negative finite value", {-DBL_MAX, -DBL_MAX}, [](int r) { return r < HALF_OF_RAND ? 0 : 1; }, false},
        // Nothing comparable: a draw among all, reported.
        {"no comparable value", {-inf, nan, -inf},
         [](int r) { return static_cast<int>(std::floor(r * TWO_TO_MINUS_31 * 3)); }, true},
    };
    const unsigned low = seedWhere([](int r) { return r < HALF_OF_RAND; });
    const unsigned high = seedWhere([](int r) { return r >= HALF_OF_RAND; });
    for (const auto& c : cases) {
        TestQ q(intState());
        q.registerNull(static_cast<int>(c.values.size()));
        q.values = c.values;
        for (const unsigned seed : {low, high, 3u, 4u, 5u, 6u}) {
            SCOPED_TRACE(std::string(c.name) + ", seed " + std::to_string(seed));
            const auto draws = firstDraws(seed);
            q.valueCalls = 0;
            double value = 0.0;
            const Messages errors = errorsOf([&] { value = q.setGreedyActionIndex(); });
            const int expected = c.index(draws.first);
            EXPECT_EQ(q.getActiveActionIndex(), expected) << "rand() = " << draws.first;
            EXPECT_TRUE(sameBits(value, c.values[static_cast<std::size_t>(expected)])) << value;
            EXPECT_EQ(std::rand(), draws.second);
            EXPECT_EQ(errors.size(), c.reported ? 1u : 0u);
            EXPECT_TRUE(c.reported || q.valueCalls == static_cast<int>(c.values.size()));
        }
    }
}

TEST(ActionValueFunction, RandomSelectionIsTheUniformIndexDraw) {
    TestQ q(intState());
    q.registerNull(4);
    q.values = {0.5, 1.5, 2.5, 3.5};
    for (unsigned seed = 1; seed <= 12; ++seed) {
        const auto draws = firstDraws(seed);
        const int expected = static_cast<int>(draws.first / 536870912);  // r / 2^29
        q.valueCalls = 0;
        EXPECT_EQ(q.setRandomActionIndex(), q.values[static_cast<std::size_t>(expected)]);
        EXPECT_EQ(q.getActiveActionIndex(), expected);
        EXPECT_EQ(std::rand(), draws.second);
        EXPECT_EQ(q.valueCalls, 1);
    }
}

TEST(ActionValueFunction, SoftMaxDrawsOnceByExponentialWeightsOfTheValues) {
    TestQ q(intState());
    q.registerNull(2);
    q.values = {0.0, 1.0};
    // Weights {1, e}: action 1 once rand() reaches RAND_MAX / (1 + e).
    const double threshold = 2147483647.0 / (1.0 + reproducibleExp(1.0));
    for (const unsigned seed : {seedWhere([&](int r) { return r < threshold; }),
                                seedWhere([&](int r) { return r >= threshold; })}) {
        const auto draws = firstDraws(seed);
        const int expected = draws.first >= threshold ? 1 : 0;
        q.valueCalls = 0;
        EXPECT_EQ(q.setSoftMaxActionIndex(1.0), q.values[static_cast<std::size_t>(expected)]);
        EXPECT_EQ(q.getActiveActionIndex(), expected);
        EXPECT_EQ(q.valueCalls, 3);
        EXPECT_EQ(std::rand(), draws.second);
        EXPECT_DOUBLE_EQ(q.scratch()[1], std::exp(1.0));
    }
    // Actions registered after the first use grow the scratch array (the
    // sanitizer build catches a write past one kept at two entries); the
    // weights run from exp(0) at the least value to exp(1 / T) at the most.
    q.registerNull(6);
    q.values = {1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0};
    q.valueCalls = 0;
    (void)q.setSoftMaxActionIndex(2.0);
    EXPECT_EQ(q.valueCalls, 9);
    EXPECT_DOUBLE_EQ(q.scratch()[0], 1.0);
    EXPECT_DOUBLE_EQ(q.scratch()[7], std::exp(0.5));
    // Equal values: the uniform draw, and the values kept.
    q.values.assign(8, 2.0);
    const auto draws = firstDraws(23);
    EXPECT_EQ(q.setSoftMaxActionIndex(0.5), 2.0);
    EXPECT_EQ(q.getActiveActionIndex(), static_cast<int>(std::floor(draws.first * TWO_TO_MINUS_31 * 8)));
    EXPECT_EQ(std::rand(), draws.second);
    EXPECT_EQ(q.scratch()[7], 2.0);
}

TEST(ActionValueFunction, SelectionsWithoutActionsReportAndChangeNothing) {
    TestQ q(intState());
    const auto draws = firstDraws(31);
    const Messages messages = errorsOf([&] {
        EXPECT_EQ(q.setGreedyActionIndex(), 0.0);
        EXPECT_EQ(q.setRandomActionIndex(), 0.0);
        EXPECT_EQ(q.setSoftMaxActionIndex(1.0), 0.0);
    });
    EXPECT_EQ(messages, Messages(3, "No actions registered! --> Register actions first!"));
    EXPECT_EQ(q.getActiveActionIndex(), -1);
    EXPECT_EQ(q.valueCalls, 0);
    EXPECT_EQ(std::rand(), draws.first);
}

// ------------------------------------------------ every representation alike

TEST(ValueFunctions, StatisticsAndClampingCoverEveryWeight) {
    const struct {
        const char* what;
        std::function<ValueFunction*()> make;
        int weights;
    } cases[] = {
        {"state table", [] { return representation(false, 0); }, 10},
        {"action table", [] { return representation(false, 3); }, 30},
        {"state tiles", [] { return representation(true, 0); }, 56},
        {"action tiles", [] { return representation(true, 3); }, 168},
        {"network, both layers", [] { return new NeuralNetwork(doubleState({{0, 1}, {0, 1}, {0, 1}}), 2); }, 15},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<ValueFunction> vf(c.make());
        const double n = c.weights;
        countFrom(-3.0, static_cast<std::size_t>(c.weights));  // -3, -2, ..., the least first, the largest last
        vf->initWeights(&fromSequence);
        EXPECT_EQ(vf->getMinWeight(), -3.0);
        EXPECT_EQ(vf->getMaxWeight(), n - 4);
        EXPECT_DOUBLE_EQ(vf->getAvgWeight(false), -3.0 + (n - 1) / 2);
        EXPECT_DOUBLE_EQ(vf->getAvgWeight(true), (6 + (n - 4) * (n - 3) / 2) / n);
        vf->setMinWeightLimit(-1.0);
        vf->setMaxWeightLimit(1.0);
        vf->checkWeightLimit();
        EXPECT_EQ(vf->getMinWeight(), -1.0);
        EXPECT_EQ(vf->getMaxWeight(), 1.0);
        EXPECT_DOUBLE_EQ(vf->getAvgWeight(false), (n - 7) / n);
    }
}

TEST(ValueFunctions, EveryTraceStorageLearnsTheSameValues) {
    for (const bool tiles : {false, true}) {
        for (const int actions : {0, 3}) {
            SCOPED_TRACE(std::string(tiles ? "tiles" : "table") + (actions == 0 ? " V" : " Q"));
            std::vector<std::vector<double>> learnt[3];
            for (int storage = 0; storage < 3; ++storage) {
                std::unique_ptr<ValueFunction> vf(representation(tiles, actions));
                setStorage(*vf, storage);
                learn(*vf, 14);
                learnt[storage] = everywhere(*vf);
            }
            EXPECT_NE(learnt[0], everywhere(*std::unique_ptr<ValueFunction>(representation(tiles, actions))));
            EXPECT_EQ(learnt[1], learnt[0]);
            EXPECT_EQ(learnt[2], learnt[0]);
        }
    }
}

TEST(ValueFunctions, RemovingAnActionShiftsTheLaterActionsDownAndForgetsTheOldLayout) {
    for (const bool tiles : {false, true}) {
        for (int removed = 0; removed < 3; ++removed) {
            SCOPED_TRACE(std::string(tiles ? "tiles" : "table") + ", removing " + std::to_string(removed));
            std::unique_ptr<ValueFunction> vf(representation(tiles, 3));
            ActionValueFunction& q = dynamic_cast<ActionValueFunction&>(*vf);
            countFrom(1.0, 200);
            vf->initWeights(&fromSequence);
            const std::vector<std::vector<double>> before = everywhere(*vf);
            // Traces, a stored state and visits in the old layout, in each storage.
            setStorage(*vf, removed);
            vf->setEpisodeStateHistory(true);
            vf->initEligibilityTraces();
            at(*vf, 4);
            (void)q.setGreedyActionIndex();
            vf->replacingTraces(1.0);
            vf->storeState();
            const AbstractAction* action = q.getAction(removed);
            q.unregisterAction(removed);
            delete action;  // handed back
            EXPECT_FALSE(stderrReports([&] { vf->updateWeights(1.0, 1.0); }).empty());
            EXPECT_FALSE(stderrReports([&] { vf->valueEpisode(1.0); }).empty());
            std::vector<std::vector<double>> expected = before;
            for (std::vector<double>& values : expected) values.erase(values.begin() + removed);
            EXPECT_EQ(everywhere(*vf), expected);
            // The renumbered layout learns: only the traced action moves.
            vf->initEligibilityTraces();
            at(*vf, 4);
            (void)q.setGreedyActionIndex();
            const int traced = q.getActiveActionIndex();
            vf->replacingTraces(1.0);
            vf->updateWeights(0.5, 1.0);
            const std::vector<std::vector<double>> after = everywhere(*vf);
            for (int p = 0; p < 10; ++p) EXPECT_EQ(after[p][1 - traced], expected[p][1 - traced]) << p;
            EXPECT_NEAR(after[4][traced], expected[4][traced] + 0.5, 1e-12);
        }
    }
}

// Every part of the function grows by the late action's weights at the
// initial value: it learns and saves as one with the action from the start.
TEST(ValueFunctions, AnActionRegisteredLateIsAsIfRegisteredFirst) {
    TempDir dir;
    for (const bool tiles : {false, true}) {
        SCOPED_TRACE(tiles ? "tiles" : "table");
        Bytes files[2];
        for (const bool late : {false, true}) {
            std::unique_ptr<ValueFunction> vf(representation(tiles, late ? 2 : 3, -0.5));
            if (late) dynamic_cast<ActionValueFunction&>(*vf).registerAction(new AbstractAction());
            ValueFunction::setValue(0.0);
            EXPECT_EQ(at(*vf, 3)[2], tiles ? -0.5 * 12 : -0.5);
            setStorage(*vf, Types::SPARSE);
            learn(*vf, 9);
            ASSERT_EQ(vf->save(dir.file("q")), 0);
            files[late] = readFile(dir.file("q"));
        }
        EXPECT_EQ(files[1], files[0]);
    }
}
