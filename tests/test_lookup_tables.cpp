#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "LookupTableAccess.h"
#include "TestSupport.h"

using lookup_test::CountedAction;
using lookup_test::IntVar;
using lookup_test::makeQ;
using lookup_test::makeState;
using lookup_test::QTable;
using lookup_test::VTable;
using test_support::someReportContains;
using test_support::stderrReports;
using test_support::TempDir;

namespace {

using Messages = std::vector<std::string>;
using TraceMap = std::map<int, double>;
const std::string NO_WEIGHTS = "weights == 0 --> Maybe forgot to call create?";

const double one() { return 1.0; }

void setInts(State* state, const std::vector<int>& values) {
    for (std::size_t v = 0; v < values.size(); ++v) state->setValueInt(static_cast<unsigned int>(v), values[v]);
}

// A table of 3 actions over a in [0, 2], in state a = 2 (block 6..8).
std::unique_ptr<QTable> threeActionsAtTwo() {
    std::unique_ptr<QTable> q(makeQ({{"a", 0, 2}}, 3));
    q->getStatePtr()->setValueInt(0, 2);
    q->setState();
    return q;
}

}  // namespace

TEST(LookupTable, StridesAndSizeFollowTheRangesAndTheActions) {
    const auto expectLayout = [](const char* what, const auto& table, const std::vector<int>& strides, int size) {
        SCOPED_TRACE(what);
        EXPECT_EQ(table.strides(), strides);
        EXPECT_EQ(table.ARRAY_SIZE, size);
        EXPECT_EQ(table.weightVector(), std::vector<double>(static_cast<std::size_t>(size), 0.0));
    };
    expectLayout("two variables", VTable(makeState({{"a", 0, 2}, {"b", -1, 1}})), {3, 1}, 9);
    expectLayout("three variables", VTable(makeState({{"a", 0, 1}, {"b", 5, 7}, {"c", -2, 1}})), {12, 4, 1}, 24);
    expectLayout("no variables", VTable(new State()), {}, 1);
    expectLayout("two actions", *std::unique_ptr<QTable>(makeQ({{"a", 0, 2}}, 2)), {2}, 6);
    expectLayout("three actions", *std::unique_ptr<QTable>(makeQ({{"a", 0, 2}, {"b", -1, 1}}, 3)), {9, 3}, 27);
    expectLayout("actions only", *std::unique_ptr<QTable>(makeQ({}, 4)), {}, 4);

    VTable v(makeState({{"a", 0, 2}, {"b", -1, 1}}));
    for (const auto& x : std::vector<std::pair<std::vector<int>, int>>{{{1, 0}, 4}, {{2, -1}, 6}}) {
        setInts(v.getStatePtr(), x.first);
        v.setState();
        EXPECT_EQ(v.activeIndex, x.second);
    }
    std::unique_ptr<QTable> q(makeQ({{"a", 0, 2}}, 2));
    q->setWeights({0, 1, 2, 3, 4, 5});
    q->getStatePtr()->setValueInt(0, 1);
    q->setState();
    EXPECT_EQ(q->activeIndex, 2);
    EXPECT_EQ(q->getActionValue(1), 3.0);
    VTable none(new State());
    none.setState();
    EXPECT_EQ(none.activeIndex, 0);
}

TEST(LookupTable, OnlyTheCombinedIndexIsCheckedAndWithoutWrapping) {
    VTable v(makeState({{"a", 0, 2}, {"b", -1, 1}}));
    setInts(v.getStatePtr(), {2, 2});
    v.weights[3] = 7.0;
    EXPECT_EQ(stderrReports([&] { v.setState(); }), Messages{"index (9) out ouf bounds --> [0, 9)"});
    EXPECT_EQ(v.activeIndex, -1);
    EXPECT_EQ(v.getStateValue(), 0.0);  // no present state, not the largest double
    // (0, 2) lies outside b's bounds but lands on the weight of (1, -1).
    v.getStatePtr()->setValueInt(0, 0);
    EXPECT_TRUE(stderrReports([&] { v.setState(); }).empty());
    EXPECT_EQ(v.getStateValue(), 7.0);

    // Strides 4 and 1: a = 2^30 + 1 gives 4 * a = 2^32 + 4, which 32-bit
    // arithmetic would wrap to the valid index 4.
    VTable w(makeState({{"a", 0, 1}, {"b", 0, 3}}));
    setInts(w.getStatePtr(), {1073741825, 0});
    EXPECT_EQ(stderrReports([&] { w.setState(); }), Messages{"index (4294967300) out ouf bounds --> [0, 8)"});
    EXPECT_EQ(w.activeIndex, -1);
    // A difference of 2^32 - 1 between an extreme value and an extreme bound.
    VTable x(makeState({{"a", INT_MIN, INT_MIN + 1}}));
    x.getStatePtr()->setValueInt(0, INT_MAX);
    EXPECT_EQ(stderrReports([&] { x.setState(); }), Messages{"index (4294967295) out ouf bounds --> [0, 2)"});
}

TEST(LookupTable, TablesBeyondAnIntIndexOrOnEmptyRangesAreRefused) {
    const auto expectNoTable = [](const char* what, const Messages& r, const char* message, const auto& table) {
        SCOPED_TRACE(what);
        EXPECT_TRUE(someReportContains(r, message));
        EXPECT_EQ(table.weights, nullptr);
        EXPECT_EQ(table.indexOffset, nullptr);
        EXPECT_EQ(table.ARRAY_SIZE, 0);
    };
    std::unique_ptr<VTable> v;
    Messages r = stderrReports([&] { v.reset(new VTable(makeState({{"a", INT_MIN, INT_MAX}}))); });
    expectNoTable("the whole int range", r, "not addressable by an int index", *v);
    r = stderrReports([&] { v.reset(new VTable(makeState({{"a", 0, 65535}, {"b", 0, 32767}}))); });
    expectNoTable("2^16 * 2^15 = 2^31", r, "not addressable", *v);
    State* crossed = makeState({{"a", 0, 3}});
    crossed->setMinValueInt(0, 5);  // bounds moved past each other after registration
    r = stderrReports([&] { v.reset(new VTable(crossed)); });
    expectNoTable("an empty range", r, "no table on an empty range", *v);
    EXPECT_EQ(stderrReports([&] {
                  EXPECT_EQ(v->getStateValue(), DBL_MAX);
                  v->setState();
                  v->updateWeights(0.1, 1.0);
              }),
              Messages(3, NO_WEIGHTS));
    std::unique_ptr<QTable> q(makeQ({{"a", 0, 1073741823}}, 2, false));
    r = stderrReports([&] { q->create(); });
    expectNoTable("2^30 states times 2 actions", r, "not addressable", *q);
}

TEST(LookupTable, UpdatesWithoutTracesUseTheStoredWeightOrReport) {
    VTable v(makeState({{"a", 0, 8}}));
    const std::string neither = " and storedActiveIndex == -1 --> Set traceStorage to ";
    const std::string call = " or call initEligibilityTraces or storeState before calling updateWeights!";
    EXPECT_EQ(stderrReports([&] {
                  v.updateWeights(1.0, 1.0);
                  v.setTraceStorage(Types::ARRAY);
                  v.updateWeights(1.0, 1.0);
                  v.updateEligibilityTraces(1.0, 1.0);
              }),
              (Messages{"traceStorage == MAP and eTracesMap == empty" + neither + "ARRAY" + call,
                       "traceStorage == ARRAY and eTraces == 0" + neither + "MAP" + call,
                       "traceStorage == ARRAY and eTraces == 0 --> Set traceStorage to MAP or call "
                       "initEligibilityTraces before calling updateEligibilityTraces!"}));
    v.setTraceStorage(static_cast<Types::TRACE_STORAGE>(7));
    EXPECT_EQ(stderrReports([&] {
                  v.updateWeights(1.0, 1.0);
                  v.updateEligibilityTraces(1.0, 1.0);
                  v.initEligibilityTraces();
                  v.replacingTraces(1.0);
                  v.accumulatingTraces(1.0);
              }),
              Messages(5, "Unknown traceStorage = 7"));
    std::vector<double> expected(9, 0.0);
    EXPECT_EQ(v.weightVector(), expected);

    v.setTraceStorage(Types::MAP);
    v.storedActiveIndex = 4;
    v.updateWeights(0.5, 2.0);
    expected[4] = 1.0;
    EXPECT_EQ(v.weightVector(), expected);
    // ARRAY storage without a trace array also falls back on the stored weight.
    v.setTraceStorage(Types::ARRAY);
    v.updateWeights(0.25, 2.0);
    expected[4] = 1.5;
    EXPECT_EQ(v.weightVector(), expected);
    // With a trace array, the stored index is ignored, and zero traces change nothing.
    v.initEligibilityTraces();
    v.updateWeights(0.5, 2.0);
    EXPECT_EQ(v.weightVector(), expected);
}

TEST(LookupTable, TracesMoveWeightsInBothStoragesAndMapEntriesSurviveDecay) {
    VTable v(makeState({{"a", 0, 9}}));
    v.eTracesMap = TraceMap{{2, 1.0}, {7, 0.5}};
    const double F = 0.9 * 0.5;
    v.updateEligibilityTraces(0.9, 0.5);
    EXPECT_EQ(v.eTracesMap, (TraceMap{{2, 1.0 * F}, {7, 0.5 * F}}));
    v.updateWeights(0.5, 3.0);
    EXPECT_EQ(v.weights[2], 0.0 + (0.5 * 3.0) * (1.0 * F));
    EXPECT_EQ(v.weights[7], 0.0 + (0.5 * 3.0) * (0.5 * F));
    v.updateEligibilityTraces(0.0, 1.0);
    EXPECT_EQ(v.eTracesMap, (TraceMap{{2, 0.0}, {7, 0.0}}));

    v.setTraceStorage(Types::ARRAY);
    v.initEligibilityTraces();
    double* array = v.eTraces;
    v.getStatePtr()->setValueInt(0, 3);
    v.setState();
    v.accumulatingTraces(1.0);
    v.accumulatingTraces(1.0);
    EXPECT_EQ(v.eTraces[3], 2.0);
    v.replacingTraces(1.0);
    EXPECT_EQ(v.eTraces[3], 1.0);
    v.updateEligibilityTraces(0.5, 0.5);
    v.updateWeights(2.0, 1.0);
    EXPECT_EQ(v.weights[3], 0.5);
    // A second initialisation reuses the array; the map is left as it was.
    v.initEligibilityTraces();
    EXPECT_EQ(v.eTraces, array);
    EXPECT_EQ(v.eTraces[3], 0.0);
    EXPECT_EQ(v.eTracesMap.size(), 2u);
}

TEST(StateLookupTable, TraceMarkingAndStoringFollowThePresentState) {
    VTable v(makeState({{"a", 0, 6}}));
    v.getStatePtr()->setValueInt(0, 1);
    v.setState();
    v.replacingTraces(1.0);
    v.replacingTraces(1.0);
    EXPECT_EQ(v.eTracesMap, (TraceMap{{1, 1.0}}));
    v.accumulatingTraces(1.0);
    v.accumulatingTraces(1.0);
    EXPECT_EQ(v.eTracesMap, (TraceMap{{1, 3.0}}));

    // No present state: nothing happens, nothing is said.
    v.getStatePtr()->setValueInt(0, 9);
    stderrReports([&] { v.setState(); });
    EXPECT_TRUE(stderrReports([&] {
                    v.replacingTraces(5.0);
                    v.accumulatingTraces(5.0);
                    v.storeState();
                }).empty());
    EXPECT_EQ(v.eTracesMap, (TraceMap{{1, 3.0}}));
    EXPECT_EQ(v.storedActiveIndex, -1);
    EXPECT_TRUE(v.episodeIndexHistorySet.empty());

    // Each visited state is credited once however often it was stored.
    EXPECT_EQ(stderrReports([&] { v.valueEpisode(1.0); }),
              Messages{"episodeIndexHistorySet is empty! Did you forget to set ValueFunction::episodeStateHistory to "
                      "true?"});
    for (int x : {3, 5, 3}) {
        v.getStatePtr()->setValueInt(0, x);
        v.setState();
        v.storeState();
    }
    EXPECT_EQ(v.storedActiveIndex, 3);
    EXPECT_EQ(v.episodeIndexHistorySet, (std::set<int>{3, 5}));
    v.valueEpisode(1.0);
    v.valueEpisode(1.0);
    EXPECT_EQ(v.weightVector(), (std::vector<double>{0, 0, 0, 2.0, 0, 2.0, 0}));
    v.initEpisodeStateHistory();
    EXPECT_TRUE(v.episodeIndexHistorySet.empty());
}

TEST(LookupTable, StatisticsAndClampingCoverEveryWeight) {
    VTable v(makeState({{"a", 0, 3}}));
    v.weights[0] = -3.0;
    v.weights[1] = 0.5;
    v.weights[2] = 2.0;
    EXPECT_EQ(v.getAvgWeight(true), 5.5 / 4);
    EXPECT_EQ(v.getAvgWeight(false), -0.5 / 4);
    v.weights[3] = std::nan("");
    EXPECT_EQ(v.getMinWeight(), -3.0);  // NaN never wins a comparison
    EXPECT_EQ(v.getMaxWeight(), 2.0);
    ValueFunction* vf = &v;
    vf->setMinWeightLimit(-1.0);
    vf->setMaxWeightLimit(1.0);
    vf->checkWeightLimit();
    EXPECT_EQ(v.weightVector(), (std::vector<double>{-1.0, 0.5, 1.0, -1.0}));
}

TEST(StateLookupTable, AStateOfAnotherKindGivesOneWeight) {
    State* state = new State();
    state->registerVariable("x", 0.0, 1.0);
    state->registerVariable("y", 0.0, 1.0);
    std::unique_ptr<VTable> v;
    EXPECT_EQ(stderrReports([&] { v.reset(new VTable(state)); }), Messages(4, "Not an Int-State!"));
    EXPECT_EQ(v->ARRAY_SIZE, 1);
    EXPECT_EQ(v->strides(), (std::vector<int>{1, 1}));
}

TEST(ActionLookupTable, CreateNeedsActionsAndTheTableNeedsCreate) {
    std::unique_ptr<QTable> q(makeQ({{"a", 0, 2}}, 0, false));
    EXPECT_EQ(stderrReports([&] { q->create(); }), Messages{"No actions registered! --> Register actions first!"});
    EXPECT_EQ(stderrReports([&] {
                  EXPECT_EQ(q->getActionValue(0), DBL_MAX);
                  q->setActionValue(0, 1.0);
                  q->setActiveActionValue(0, 1.0);
                  EXPECT_EQ(q->getMinWeight(), DBL_MAX);
                  EXPECT_EQ(q->getAvgWeight(false), 0.0);
                  q->checkWeightLimit();
                  q->initWeights(&one);
              }),
              Messages(7, NO_WEIGHTS));
}

TEST(ActionLookupTable, ValuesOfSingleActions) {
    std::unique_ptr<QTable> q(makeQ({{"a", 0, 2}}, 2));
    q->setActionValue(1, 5.0);
    EXPECT_EQ(q->weightVector(), (std::vector<double>{0, 5, 0, 5, 0, 5}));
    EXPECT_EQ(q->getActionValue(0), DBL_MAX);  // no present state yet
    q->setActiveActionValue(0, 9.0);           // nothing to set, nothing said
    EXPECT_EQ(q->weightVector(), (std::vector<double>{0, 5, 0, 5, 0, 5}));
    q->getStatePtr()->setValueInt(0, 2);
    q->setState();
    q->setActiveActionValue(0, 9.0);
    EXPECT_EQ(q->weightVector(), (std::vector<double>{0, 5, 0, 5, 9, 5}));
    EXPECT_EQ(q->getActionValue(0), 9.0);
}

TEST(ActionLookupTable, ActionIndicesOutsideTheBlockTouchNothing) {
    std::unique_ptr<QTable> q(makeQ({{"a", 0, 2}}, 2));
    q->setWeights({0, 1, 2, 3, 4, 5});
    q->getStatePtr()->setValueInt(0, 2);
    q->setState();
    const Messages r = stderrReports([&] {
        EXPECT_EQ(q->getActionValue(2), 0.0);
        EXPECT_EQ(q->getActionValue(-1), 0.0);
        q->setActionValue(2, 7.0);
        q->setActionValue(-1, 7.0);
        q->setActiveActionValue(2, 7.0);
        q->setActiveActionValue(-3, 7.0);
    });
    ASSERT_EQ(r.size(), 6u);
    EXPECT_EQ(r[0], "actionIndex[2] out of bounds [ 0, 2)");
    EXPECT_EQ(r[1], "actionIndex[-1] out of bounds [ 0, 2)");
    EXPECT_EQ(q->weightVector(), (std::vector<double>{0, 1, 2, 3, 4, 5}));

    // The active action drives trace marking and storing; out of range it
    // must not write beside the block, in either storage.
    for (Types::TRACE_STORAGE storage : {Types::MAP, Types::ARRAY}) {
        q->setTraceStorage(storage);
        q->initEligibilityTraces();
        for (int bad : {-1, 2, 1000}) {
            q->activeActionIndex = bad;
            EXPECT_EQ(stderrReports([&] {
                          q->replacingTraces(1.0);
                          q->accumulatingTraces(1.0);
                          q->storeState();
                      }).size(),
                      4u);
            EXPECT_EQ(q->storedActiveIndex, -1);
            EXPECT_TRUE(q->episodeIndexHistorySet.empty());
            EXPECT_TRUE(q->eTracesMap.empty());
            if (storage == Types::ARRAY) {
                EXPECT_EQ(std::vector<double>(q->eTraces, q->eTraces + 6), std::vector<double>(6, 0.0));
            }
        }
    }

}

TEST(ActionLookupTable, AnActionRegisteredLateGetsItsInitialWeightsOrIsRefused) {
    std::unique_ptr<QTable> q(makeQ({{"a", 0, 1}}, 2, false));
    ValueFunction::setValue(0.5);
    q->create();
    q->setWeights({10, 11, 20, 21});
    ValueFunction::setValue(-2.0);
    q->registerAction(new CountedAction(nullptr));
    ValueFunction::setValue(0.0);
    EXPECT_EQ(q->weightVector(), (std::vector<double>{10, 11, -2, 20, 21, -2}));
    EXPECT_EQ(q->strides(), std::vector<int>{3});
    q->getStatePtr()->setValueInt(0, 1);
    q->setState();
    EXPECT_EQ(q->getActionValue(2), -2.0);

    // A table out of step with ACTIONS (a subclass changed it) cannot grow
    // by one block: the action is refused, once, and destroyed.
    int destroyed = 0;
    q->ACTIONS = 4;
    const Messages refused = stderrReports([&] { q->registerAction(new CountedAction(&destroyed)); });
    q->ACTIONS = 3;
    EXPECT_EQ(refused.size(), 1u);
    EXPECT_TRUE(someReportContains(refused, "action not registered (and deleted)"));
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(q->registeredActions.size(), 3u);
    EXPECT_EQ(q->ARRAY_SIZE, 6);
}

TEST(ActionLookupTable, TracesAndStoringTouchOnlyTheActiveAction) {
    std::unique_ptr<QTable> q = threeActionsAtTwo();
    q->activeActionIndex = 1;
    // Replacing clears the other actions of the state, in both storages.
    q->eTracesMap = TraceMap{{6, 0.5}, {8, 0.3}, {2, 0.4}};
    q->replacingTraces(1.0);
    EXPECT_EQ(q->eTracesMap, (TraceMap{{2, 0.4}, {7, 1.0}}));
    q->setTraceStorage(Types::ARRAY);
    q->initEligibilityTraces();
    for (int i = 0; i < 9; ++i) q->eTraces[i] = 0.5;
    q->replacingTraces(1.0);
    EXPECT_EQ(std::vector<double>(q->eTraces, q->eTraces + 9),
              (std::vector<double>{0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.0, 1.0, 0.0}));

    // Accumulating adds to the active action only, in both storages.
    q->activeActionIndex = 2;
    q->accumulatingTraces(1.0);
    q->accumulatingTraces(1.0);
    EXPECT_EQ(std::vector<double>(q->eTraces + 6, q->eTraces + 9), (std::vector<double>{0.0, 1.0, 2.0}));
    q->setTraceStorage(Types::MAP);
    q->eTracesMap = TraceMap{{6, 0.5}, {7, 0.25}};
    q->accumulatingTraces(1.0);
    q->accumulatingTraces(1.0);
    EXPECT_EQ(q->eTracesMap, (TraceMap{{6, 0.5}, {7, 0.25}, {8, 2.0}}));

    q->storeState();
    EXPECT_EQ(q->storedActiveIndex, 8);
    EXPECT_EQ(q->episodeIndexHistorySet, std::set<int>{8});
}

TEST(ActionLookupTable, UnregisteringAnActionShiftsLaterActionsDown) {
    // Weights (a0, a1, a2, b0, b1, b2) over one variable with two values.
    const std::vector<std::vector<double>> expected{{11, 12, 21, 22}, {10, 12, 20, 22}, {10, 11, 20, 21}};
    for (int removed = 0; removed < 3; ++removed) {
        SCOPED_TRACE(removed);
        std::unique_ptr<QTable> q(makeQ({{"a", 0, 1}}, 3));
        q->setWeights({10, 11, 12, 20, 21, 22});
        q->getStatePtr()->setValueInt(0, 1);
        q->setState();
        q->activeActionIndex = 0;
        q->setTraceStorage(static_cast<Types::TRACE_STORAGE>(removed));
        q->initEligibilityTraces();
        q->replacingTraces(1.0);
        q->storeState();
        const AbstractAction* action = q->getAction(removed);
        q->unregisterAction(removed);
        delete action;  // handed back to us
        EXPECT_EQ(q->weightVector(), expected[static_cast<std::size_t>(removed)]);
        EXPECT_EQ(q->ARRAY_SIZE, 4);
        EXPECT_EQ(q->strides(), std::vector<int>{2});
        EXPECT_EQ(q->ACTIONS, 2);
        // Every index into the old table is forgotten.
        EXPECT_EQ(q->activeIndex, -1);
        EXPECT_EQ(q->storedActiveIndex, -1);
        EXPECT_EQ(q->eTraces, nullptr);
        EXPECT_TRUE(q->eTracesMap.empty());
        EXPECT_EQ(q->traceStore->sparseCount(), 0u);
        EXPECT_TRUE(q->episodeIndexHistorySet.empty());
        q->setState();
        // Traces are marked again in the renumbered table.
        q->initEligibilityTraces();
        q->replacingTraces(1.0);
        q->updateWeights(1.0, 1.0);
        EXPECT_EQ(q->weightVector()[2], expected[static_cast<std::size_t>(removed)][2] + 1.0);
        EXPECT_EQ(q->activeIndex, 2);
    }

    std::unique_ptr<QTable> single(makeQ({{"a", 0, 2}}, 1));
    single->setWeights({1, 2, 3});
    EXPECT_EQ(stderrReports([&] { single->removeAction(0); }), Messages{"ACTIONS == 1 --> Can not remove last action!"});
    EXPECT_EQ(single->weightVector(), (std::vector<double>{1, 2, 3}));
    EXPECT_EQ(single->strides(), std::vector<int>{1});
    std::unique_ptr<QTable> three(makeQ({{"a", 0, 2}}, 3));
    EXPECT_EQ(stderrReports([&] { three->removeAction(3); }), Messages{"actionIndex[3] out of bounds [ 0, 3)"});
    EXPECT_EQ(three->ARRAY_SIZE, 9);
}

TEST(ActionLookupTable, CreatingAgainRebuildsTheTableFromScratch) {
    std::unique_ptr<QTable> q = threeActionsAtTwo();
    q->setWeights(std::vector<double>(9, 1.0));
    q->activeActionIndex = 1;
    q->setTraceStorage(Types::ARRAY);
    q->initEligibilityTraces();
    q->replacingTraces(1.0);
    q->storeState();
    q->eTracesMap[5] = 1.0;

    q->registerAction(new CountedAction(nullptr));
    q->create();
    EXPECT_EQ(q->ARRAY_SIZE, 12);
    EXPECT_EQ(q->strides(), std::vector<int>{4});
    EXPECT_EQ(q->weightVector(), std::vector<double>(12, 0.0));
    EXPECT_EQ(q->eTraces, nullptr);
    EXPECT_TRUE(q->eTracesMap.empty());
    EXPECT_EQ(q->activeIndex, -1);
    EXPECT_EQ(q->storedActiveIndex, -1);
    EXPECT_TRUE(q->episodeIndexHistorySet.empty());
    q->initEligibilityTraces();  // a trace array of the new size
    q->setState();
    q->activeActionIndex = 3;
    q->replacingTraces(1.0);
    EXPECT_EQ(q->eTraces[11], 1.0);
}

TEST(ValueFunction, InitialWeightSettingsAreClassWideAndResetByTableConstructors) {
    ValueFunction::setValue(0.25);
    std::unique_ptr<QTable> before(makeQ({{"a", 0, 1}}, 2));
    EXPECT_EQ(before->weightVector(), std::vector<double>(4, 0.0));
    std::unique_ptr<QTable> after(makeQ({{"a", 0, 1}}, 2, false));
    ValueFunction::setValue(0.25);
    after->create();
    EXPECT_EQ(after->weightVector(), std::vector<double>(4, 0.25));

    // The file-name constructors reset the value as well.
    TempDir dir;
    ASSERT_EQ(before->save(dir.file("q.bin")), 0);
    ValueFunction::setValue(0.25);
    QTable fromFile(dir.file("q.bin"));
    after->create();
    EXPECT_EQ(after->weightVector(), std::vector<double>(4, 0.0));

    // The state table creates its weights while it is constructed.
    ValueFunction::setValue(0.25);
    VTable v(makeState({{"a", 0, 1}}));
    EXPECT_EQ(v.weightVector(), std::vector<double>(2, 0.0));
    ValueFunction::setValue(0.0);
}
