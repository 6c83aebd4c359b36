// The interfaces every representation implements, shown on the
// representations themselves: the class-wide initial weights, the file
// envelope (State block, the ACTIONS of a Q file, the body), the action
// registry and the selections; then what every representation must do
// alike: statistics and clamping, updates with and without traces in every
// storage, the visits of an episode, the removal of an action and an
// action registered late.

#include <gtest/gtest.h>

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
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
using lookup_test::makeQ;
using lookup_test::QTable;
using namespace test_support;
using namespace tile_test;
using Messages = std::vector<std::string>;

namespace {

const double TWO_TO_MINUS_31 = 1.0 / 2147483648.0;
const int HALF_OF_RAND = 1073741824;  // 2^30

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

// What a representation's own code sees of the class-wide values.
struct Peek : ValueFunction {
    using ValueFunction::getRandomValue;
    using ValueFunction::getValue;
};

// A table of one state whose action values the test sets; it counts how
// often the selections ask for them, and opens their scratch array.
class ValuesQ : public QTable {
public:
    explicit ValuesQ(const std::vector<double>& values) : QTable(new State()) {
        for (std::size_t a = 0; a < values.size(); ++a) registerAction(nullptr);
        if (!values.empty()) create();
        set(values);
    }
    void set(const std::vector<double>& values) {
        if (!values.empty()) setState();
        for (std::size_t a = 0; a < values.size(); ++a) setActionValue(static_cast<int>(a), values[a]);
    }
    const double getActionValue(int a) const override {
        ++calls;
        return QTable::getActionValue(a);
    }
    using ActionValueFunction::actionValues;
    mutable int calls = 0;
};

// A lookup table over a in [0, 9], or a tile coding of two groups (4
// tilings CLIP, 8 tilings WRAP: 16 + 40 weights per action) over v in
// [0, 8]; a V function without actions. Weights start at initial.
ValueFunction* representation(bool tiles, int actions, double initial = 0.0) {
    if (!tiles && actions == 0) return new StateLookupTable(lookup_test::makeState({{"a", 0, 9}}));
    if (!tiles) {
        QTable* q = makeQ({{"a", 0, 9}}, actions, false);
        ValueFunction::setValue(initial);
        q->create();
        return q;
    }
    const VarList clip{tiledVar(0, 0.5, Types::CLIP)}, wrap{tiledVar(0, 0.25, Types::WRAP)};
    if (actions == 0) {
        StateTileCoding* v = new StateTileCoding(doubleState({{0.0, 8.0}}));
        v->registerTiling(new StateTilings(4, clip));
        v->registerTiling(new StateTilings(8, wrap));
        return v;
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

}  // namespace

TEST(ValueFunction, InitialWeightsAreZeroUntilSetAndRandomValuesAreTheScaledDraw) {
    EXPECT_EQ(Peek::getValue(), 0.0);
    // With bounds -1 and 1 the draw r gives exactly -1 + r / 2^30.
    ValueFunction::setRandomValueBoundaries(-1.0, 1.0);
    for (unsigned seed = 1; seed <= 5; ++seed) {
        const auto draws = firstDraws(seed);
        EXPECT_EQ(Peek::getRandomValue(), -1.0 + draws.first / 1073741824.0) << "seed " << seed;
        EXPECT_EQ(std::rand(), draws.second) << "one draw per value";
    }
    ValueFunction::setRandomValueBoundaries(-0.5, 0.5);
    const auto draws = firstDraws(99);
    EXPECT_EQ(Peek::getRandomValue(), -0.5 + draws.first * TWO_TO_MINUS_31);
}

// ------------------------------------------------------------------ files

// The envelope's own failures; truncated and damaged files of every kind
// are refused with the other files (test_files).
TEST(ValueFunctions, LoadFailuresAreReportedAtTheStepThatFailedAndKeepTheRegistryUntilTheFileReplacesIt) {
    TempDir dir;
    ASSERT_EQ(std::unique_ptr<QTable>(makeQ({{"x", 0, 9}, {"yy", -3, 4}}, 1))->save(dir.file("whole")), 0);
    const Bytes whole = readFile(dir.file("whole"));
    const std::string missing = "errno = 2 --> " + std::string(std::strerror(ENOENT));
    const struct {
        const char* name;
        std::size_t size;    // of the file, cut from a whole one; 0: no file
        std::string report;  // the last one
        unsigned vars;       // of the State afterwards
        int registry;        // actions afterwards
        bool replaced;       // the action in the registry is gone
    } cases[] = {
        {"missing file", 0, missing, 2, 1, false},
        {"cut in the state block", 12, "loading state failed", 0, 1, false},
        // The registry is emptied first, then reading ACTIONS comes up short.
        {"no number of actions", 35, "the file ends early", 2, 0, true},
        {"cut in the body", whole.size() - 9, "loading valuefunction failed", 2, 1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(c.size == 0 ? "absent" : "q");
        if (c.size != 0) writeFile(path, Bytes(whole.begin(), whole.begin() + static_cast<long>(c.size)));
        int destroyed = 0, result = 0;
        std::unique_ptr<QTable> q(makeQ({{"x", 0, 9}, {"yy", -3, 4}}, 0, false));
        q->registerAction(new CountedAction(&destroyed));
        const Messages errors = stderrReports([&] { result = q->load(path); });
        EXPECT_EQ(result, -1);
        ASSERT_FALSE(errors.empty());
        EXPECT_EQ(errors.back(), c.size == 0 ? c.report + " (" + path + ")" : c.report);
        EXPECT_EQ(errors.front().find("errno = 0 "), std::string::npos) << errors.front();
        EXPECT_EQ(q->getStatePtr()->getNumberOfVariables(), c.vars);
        EXPECT_EQ((std::vector<std::size_t>{q->registeredActions.size(), static_cast<std::size_t>(q->ACTIONS)}),
                  std::vector<std::size_t>(2, static_cast<std::size_t>(c.registry)));
        EXPECT_EQ(destroyed, c.replaced ? 1 : 0);
    }
}

TEST(ValueFunctions, LoadingKeepsTheStateObjectAndGivesEmptyActionSlotsThatSetActionBinds) {
    TempDir dir;
    std::unique_ptr<QTable> written(makeQ({{"x", 0, 9}, {"yy", -3, 4}}, 3));
    ASSERT_EQ(written->save(dir.file("q.bin")), 0);
    int destroyedOld = 0;
    int destroyedBound[3] = {0, 0, 0};
    {
        // The using program may hold the State: it gets the file's variables
        // in place of its own, and stays the same object.
        State* own = lookup_test::makeState({{"own", 0, 1}});
        QTable q(own);
        q.registerAction(new CountedAction(&destroyedOld));
        q.registerAction(new CountedAction(&destroyedOld));
        q.create();
        q.activeActionIndex = 1;
        EXPECT_EQ(q.load(dir.file("q.bin")), 0);
        EXPECT_EQ(q.getStatePtr(), own);
        EXPECT_EQ(own->getVariableId("yy"), 1u);
        EXPECT_EQ(destroyedOld, 2);
        EXPECT_EQ(q.getActiveActionIndex(), 1);  // left as it was
        EXPECT_EQ(q.getNumberOfActions(), 3);
        EXPECT_EQ(q.registeredActions, std::vector<const AbstractAction*>(3, nullptr));
        // The active action is one of them: the caller is told, not left with a bare null.
        const Messages unbound = stderrReports([&] { EXPECT_EQ(q.getActiveAction(), nullptr); });
        EXPECT_TRUE(someReportContains(unbound, "bind the actions with setAction"));
        for (int i = 0; i < 3; ++i) q.setAction(i, new CountedAction(&destroyedBound[i]));
    }
    for (int d : destroyedBound) EXPECT_EQ(d, 1);
}

// ----------------------------------------------------- registry and ownership

TEST(ActionValueFunction, RegistryIndexesActionsInOrderAndDestroysEachOnce) {
    int destroyed[5] = {0, 0, 0, 0, 0};
    const AbstractAction* a[5];
    for (int i = 0; i < 5; ++i) a[i] = new CountedAction(&destroyed[i]);
    {
        std::unique_ptr<QTable> q(makeQ({}, 0, false));
        EXPECT_EQ(stderrReports([&] { EXPECT_EQ(q->getActiveAction(), nullptr); }),
                  Messages{"actionIndex -1 out of bounds [0, 0)"});
        for (const AbstractAction* action : {a[0], a[1], static_cast<const AbstractAction*>(nullptr), a[2], a[3]}) {
            q->registerAction(action);  // a null is accepted as it is
        }
        q->create();
        EXPECT_EQ(q->registeredActions, (std::vector<const AbstractAction*>{a[0], a[1], nullptr, a[2], a[3]}));
        EXPECT_EQ(stderrReports([&] { EXPECT_EQ(q->getAction(5), nullptr); }),
                  Messages{"actionIndex 5 out of bounds [0, 5)"});
        // Later actions shift down, and the object is handed back; by
        // pointer, an action is found at the index it has now.
        q->unregisterAction(1);
        q->unregisterAction(a[3]);
        EXPECT_EQ(q->registeredActions, (std::vector<const AbstractAction*>{a[0], nullptr, a[2]}));
        EXPECT_EQ(q->ARRAY_SIZE, 3);
        // What is not there changes nothing.
        const CountedAction stranger(nullptr);
        EXPECT_EQ(stderrReports([&] {
                      q->unregisterAction(3);
                      q->unregisterAction(-1);
                      q->unregisterAction(&stranger);
                      q->setAction(3, a[4]);
                  }),
                  (Messages{"actionIndex 3 out of bounds [0, 3)", "actionIndex -1 out of bounds [0, 3)",
                            "actionIndex 3 out of bounds [0, 3)"}));
        EXPECT_EQ(std::vector<int>(destroyed, destroyed + 5), std::vector<int>(5, 0));
        // setAction destroys what it replaces, but not the action already there.
        q->setAction(0, a[4]);
        q->setAction(0, a[4]);
        EXPECT_EQ(q->getAction(0), a[4]);
    }
    EXPECT_EQ(std::vector<int>(destroyed, destroyed + 5), (std::vector<int>{1, 0, 1, 0, 1}));
    delete a[1];
    delete a[3];
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
        ValuesQ q(c.values);
        for (const unsigned seed : {low, high, 3u, 4u, 5u, 6u}) {
            SCOPED_TRACE(std::string(c.name) + ", seed " + std::to_string(seed));
            const auto draws = firstDraws(seed);
            q.calls = 0;
            double value = 0.0;
            const Messages errors = stderrReports([&] { value = q.setGreedyActionIndex(); });
            const int expected = c.index(draws.first);
            EXPECT_EQ(q.getActiveActionIndex(), expected) << "rand() = " << draws.first;
            EXPECT_TRUE(sameBits(value, c.values[static_cast<std::size_t>(expected)])) << value;
            EXPECT_EQ(std::rand(), draws.second);
            EXPECT_EQ(errors.size(), c.reported ? 1u : 0u);
            EXPECT_TRUE(c.reported || q.calls == static_cast<int>(c.values.size())) << q.calls;
        }
    }
}

TEST(ActionValueFunction, RandomSelectionAsksForOneValueAndNoActionsNoDraw) {
    ValuesQ q({0.5, 1.5, 2.5, 3.5});
    const auto draws = firstDraws(7);
    EXPECT_EQ(q.setRandomActionIndex(), 0.5 + draws.first / 536870912);  // r / 2^29
    EXPECT_EQ(q.calls, 1);
    ValuesQ none({});
    EXPECT_EQ(stderrReports([&] {
                  EXPECT_EQ(none.setGreedyActionIndex(), 0.0);
                  EXPECT_EQ(none.setRandomActionIndex(), 0.0);
                  EXPECT_EQ(none.setSoftMaxActionIndex(1.0), 0.0);
              }),
              Messages(3, "No actions registered! --> Register actions first!"));
    EXPECT_EQ(none.getActiveActionIndex(), -1);
    EXPECT_EQ(none.calls, 0);
    EXPECT_EQ(std::rand(), draws.second);  // no draw
}

// The draw itself is shown with the utilities (test_utility); here the
// values it is given, in a scratch array that grows with the actions.
TEST(ActionValueFunction, SoftMaxDrawsOnceFromTheValuesOfEveryAction) {
    ValuesQ q({0.0, 1.0});
    // Weights {1, e}: action 1 once rand() reaches RAND_MAX / (1 + e).
    const unsigned seed = seedWhere([](int r) { return r >= 2147483647.0 / (1.0 + reproducibleExp(1.0)); });
    const auto draws = firstDraws(seed);
    EXPECT_EQ(q.setSoftMaxActionIndex(1.0), 1.0);
    EXPECT_EQ(q.getActiveActionIndex(), 1);
    EXPECT_EQ(q.calls, 3);
    EXPECT_EQ(std::rand(), draws.second);
    // Actions registered after the first use grow the scratch array (the
    // sanitizer build catches a write past one kept at two entries); the
    // weights run from exp(0) at the least value to exp(1 / T) at the most.
    for (int a = 0; a < 6; ++a) q.registerAction(nullptr);
    q.set({1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0});
    (void)q.setSoftMaxActionIndex(2.0);
    EXPECT_DOUBLE_EQ(q.actionValues[0], 1.0);
    EXPECT_DOUBLE_EQ(q.actionValues[7], std::exp(0.5));
}

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
        countFrom(-3.0, static_cast<std::size_t>(c.weights));  // -3, -2, ...: the least first, the largest last
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

// With traces, in every storage, each weight moves by alpha delta times
// its trace; without traces, the weights of the stored state move; with
// neither, the update says so. The probe points 0, 3, 6 and 9 share no tile.
TEST(ValueFunctions, UpdatesFollowTheTracesInEveryStorageOrTheStoredState) {
    for (const bool tiles : {false, true}) {
        for (int storage = 0; storage < 3; ++storage) {
            SCOPED_TRACE(std::string(tiles ? "tiles" : "table") + ", storage " + std::to_string(storage));
            std::unique_ptr<ValueFunction> vf(representation(tiles, 0));
            setStorage(*vf, storage);
            // At 0 three of the four CLIP tilings have no tile yet.
            const double first = tiles ? 9.0 / 12 : 1.0;
            const auto expectValues = [&](const std::vector<double>& expected) {
                for (int p : {0, 3, 6, 9}) EXPECT_NEAR(at(*vf, p)[0], expected[p / 3], 1e-12) << "at " << p;
            };
            EXPECT_TRUE(someReportContains(stderrReports([&] { vf->updateWeights(1.0, 1.0); }),
                                           "or call initEligibilityTraces or storeState before calling updateWeights!"));
            at(*vf, 0);  // the first weight or tile is one like the others
            vf->storeState();
            at(*vf, 6);
            vf->updateWeights(0.5, 2.0);
            expectValues({first, 0.0, 0.0, 0.0});
            if (storage == Types::ARRAY) vf->initEligibilityTraces();  // MAP and SPARSE mark without it
            at(*vf, 0);
            vf->accumulatingTraces(1.0);
            vf->accumulatingTraces(1.0);  // 2
            at(*vf, 3);
            vf->accumulatingTraces(1.0);
            vf->replacingTraces(0.5);               // 0.5
            vf->updateEligibilityTraces(0.5, 0.5);  // 0.5 and 0.125
            vf->updateWeights(2.0, 1.0);
            expectValues({2.0 * first, 0.25, 0.0, 0.0});
            // Traces decayed to nothing move nothing: the stored state is for updates without traces.
            vf->updateEligibilityTraces(0.0, 1.0);
            vf->updateWeights(2.0, 1.0);
            expectValues({2.0 * first, 0.25, 0.0, 0.0});
        }
        // A storage of no known kind is reported by every trace operation.
        std::unique_ptr<ValueFunction> vf(representation(tiles, 0));
        setStorage(*vf, 7);
        const Messages errors = stderrReports([&] {
            vf->initEligibilityTraces();
            vf->replacingTraces(1.0);
            vf->accumulatingTraces(1.0);
            vf->updateEligibilityTraces(1.0, 1.0);
            vf->updateWeights(1.0, 1.0);
        });
        EXPECT_EQ(errors, Messages(tiles ? 10 : 5, "Unknown traceStorage = 7"));
    }
}

// With the history on, each weight visited in an episode is credited once,
// however often it was visited; a new episode starts from no visits.
TEST(ValueFunctions, EachVisitedWeightIsCreditedOnceAnEpisode) {
    for (const bool tiles : {false, true}) {
        for (const int actions : {0, 2}) {
            SCOPED_TRACE(std::string(tiles ? "tiles" : "table") + (actions == 0 ? " V" : " Q"));
            std::unique_ptr<ValueFunction> vf(representation(tiles, actions));
            ActionValueFunction* q = dynamic_cast<ActionValueFunction*>(vf.get());
            vf->setEpisodeStateHistory(true);
            std::vector<std::vector<double>> expected = everywhere(*vf);
            setSeed(5);
            for (int p : {3, 6, 3}) {
                at(*vf, p);
                const int a = q != nullptr ? (q->setRandomActionIndex(), q->getActiveActionIndex()) : 0;
                vf->storeState();
                expected[p][a] = tiles ? 12 * 1.0 : 1.0;  // a tile in every tiling
            }
            vf->valueEpisode(0.5);
            vf->valueEpisode(0.5);
            for (int p : {0, 3, 6, 9}) EXPECT_EQ(at(*vf, p), expected[p]) << "at " << p;
            vf->initEpisodeStateHistory();
            EXPECT_TRUE(someReportContains(stderrReports([&] { vf->valueEpisode(1.0); }), "is empty!"));
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
            EXPECT_TRUE(stderrReports([&] { q.unregisterAction(removed); }).empty());
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
            ActionValueFunction& q = dynamic_cast<ActionValueFunction&>(*vf);
            if (late) q.registerAction(new AbstractAction());
            ValueFunction::setValue(0.0);
            EXPECT_EQ(at(*vf, 3)[2], tiles ? -0.5 * 12 : -0.5);
            setStorage(*vf, Types::SPARSE);
            setSeed(3);
            vf->initEligibilityTraces();
            for (int step = 0; step < 9; ++step) {
                at(*vf, step * 7 % 10);
                const double value = q.setGreedyActionIndex();
                vf->updateEligibilityTraces(0.9, 0.8);
                vf->replacingTraces(1.0);
                vf->updateWeights(0.3, 1.0 - value);
            }
            ASSERT_EQ(vf->save(dir.file("q")), 0);
            files[late] = readFile(dir.file("q"));
        }
        EXPECT_EQ(files[1], files[0]);
    }
}

TEST(ValueFunctions, ConstructorsResetTheClassWideInitialWeight) {
    TempDir dir;
    ASSERT_EQ(std::unique_ptr<QTable>(makeQ({{"a", 0, 1}}, 2))->save(dir.file("q")), 0);
    const std::function<ValueFunction*()> makers[] = {
        [] { return new StateLookupTable(lookup_test::makeState({{"a", 0, 1}})); },
        [] { return makeQ({{"a", 0, 1}}, 2); },
        [&dir] { return new ActionLookupTable(dir.file("q")); },
        [] { return representation(true, 0); },
    };
    for (const auto& make : makers) {
        ValueFunction::setValue(0.25);
        std::unique_ptr<ValueFunction> vf(make());
        EXPECT_EQ((std::vector<double>{vf->getMinWeight(), vf->getMaxWeight()}), std::vector<double>(2, 0.0));
    }
    ValueFunction::setValue(0.0);
}
