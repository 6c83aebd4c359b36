// Lookup tables over integer variables: their layout, the present state's
// index, what they refuse, and the actions of a Q table. Their files are
// tested with the other files (test_files); updates, statistics, visits,
// action removal and late actions with every representation
// (test_value_functions); Sarsa and Watkins steps bit for bit against
// hand-written tables (test_benchmark_equivalence).

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "LookupTableAccess.h"
#include "TestSupport.h"

using lookup_test::CountedAction;
using lookup_test::makeQ;
using lookup_test::makeState;
using lookup_test::QTable;
using lookup_test::VTable;
using namespace test_support;

namespace {

using Messages = std::vector<std::string>;
using TraceMap = std::map<int, double>;
using Weights = std::vector<double>;
const std::string NO_WEIGHTS = "weights == 0 --> Maybe forgot to call create?";

void setInts(State* state, const std::vector<int>& values) {
    for (std::size_t v = 0; v < values.size(); ++v) state->setValueInt(static_cast<unsigned int>(v), values[v]);
}

// A table of the given actions over a in [0, 2], in state a = 2, whose
// weight i holds i.
std::unique_ptr<QTable> atTwo(int actions) {
    std::unique_ptr<QTable> q(makeQ({{"a", 0, 2}}, actions));
    Weights w;
    for (int i = 0; i < 3 * actions; ++i) w.push_back(i);
    q->setWeights(w);
    q->getStatePtr()->setValueInt(0, 2);
    q->setState();
    return q;
}

}  // namespace

// Two more layouts are shown byte for byte with the files (test_files).
TEST(LookupTable, StridesAndSizeFollowTheRangesAndTheActions) {
    const auto expectLayout = [](const char* what, const auto& table, const std::vector<int>& strides, int size) {
        SCOPED_TRACE(what);
        EXPECT_EQ(table.strides(), strides);
        EXPECT_EQ(table.weightVector(), Weights(static_cast<std::size_t>(size), 0.0));
    };
    expectLayout("three variables", VTable(makeState({{"a", 0, 1}, {"b", 5, 7}, {"c", -2, 1}})), {12, 4, 1}, 24);
    expectLayout("no variables", VTable(new State()), {}, 1);
    expectLayout("three actions", *std::unique_ptr<QTable>(makeQ({{"a", 0, 2}, {"b", -1, 1}}, 3)), {9, 3}, 27);
    expectLayout("actions only", *std::unique_ptr<QTable>(makeQ({}, 4)), {}, 4);
    VTable v(makeState({{"a", 0, 2}, {"b", -1, 1}}));
    for (const auto& x : std::vector<std::pair<std::vector<int>, int>>{{{1, 0}, 4}, {{2, -1}, 6}, {{0, -1}, 0}}) {
        setInts(v.getStatePtr(), x.first);
        v.setState();
        EXPECT_EQ(v.activeIndex, x.second);
    }
    std::unique_ptr<QTable> q = atTwo(2);
    q->getStatePtr()->setValueInt(0, 1);
    q->setState();
    EXPECT_EQ(q->activeIndex, 2);
    EXPECT_EQ(q->getActionValue(1), 3.0);
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

// Tables beyond an int index are refused with the files that describe
// them (test_files); here the bounds a program moved past each other after
// registering them, and a Q table without actions.
TEST(LookupTable, TablesOnEmptyRangesOrWithoutActionsAreRefusedAndReportOnUse) {
    State* crossed = makeState({{"a", 0, 3}});
    crossed->setMinValueInt(0, 5);
    std::unique_ptr<VTable> v;
    EXPECT_TRUE(someReportContains(stderrReports([&] { v.reset(new VTable(crossed)); }), "no table on an empty range"));
    EXPECT_EQ(v->indexOffset, nullptr);
    EXPECT_EQ(stderrReports([&] { v->setState(), v->updateWeights(0.1, 1.0); }), Messages(2, NO_WEIGHTS));
    std::unique_ptr<QTable> none(makeQ({{"a", 0, 2}}, 0, false));
    EXPECT_EQ(stderrReports([&] { none->create(); }), Messages{"No actions registered! --> Register actions first!"});
}

TEST(StateLookupTable, TracesAndUpdatesTouchNothingOutsideTheTable) {
    VTable v(makeState({{"a", 0, 9}}));
    v.getStatePtr()->setValueInt(0, 1);
    v.setState();
    v.replacingTraces(1.5);
    v.getStatePtr()->setValueInt(0, 12);
    stderrReports([&] { v.setState(); });
    EXPECT_TRUE(stderrReports([&] {
                    v.replacingTraces(5.0);
                    v.accumulatingTraces(5.0);
                    v.storeState();
                }).empty());
    v.activeIndex = 10;  // one past the table, as a subclass might leave it
    stderrReports([&] {
        v.replacingTraces(5.0);
        v.accumulatingTraces(5.0);
    });
    EXPECT_EQ(v.eTracesMap, (TraceMap{{1, 1.5}}));
    EXPECT_EQ(v.storedActiveIndex, -1);
    EXPECT_TRUE(v.episodeIndexHistorySet.empty());
    v.eTracesMap.clear();
    for (int bad : {10, -2}) {
        v.storedActiveIndex = bad;
        EXPECT_TRUE(someReportContains(stderrReports([&] { v.updateWeights(1.0, 1.0); }), "out ouf bounds"));
    }
    EXPECT_EQ(v.weightVector(), Weights(10, 0.0));
}

TEST(ActionLookupTable, ValuesOfSingleActionsAndIndicesOutsideTheBlock) {
    std::unique_ptr<QTable> q(makeQ({{"a", 0, 2}}, 2));
    q->setActionValue(1, 5.0);
    EXPECT_EQ(q->getActionValue(0), DBL_MAX);  // no present state yet
    q->setActiveActionValue(0, 9.0);           // nothing to set, nothing said
    q->getStatePtr()->setValueInt(0, 2);
    q->setState();
    q->setActiveActionValue(0, 9.0);
    EXPECT_EQ(q->weightVector(), (Weights{0, 5, 0, 5, 9, 5}));
    EXPECT_EQ(q->getActionValue(0), 9.0);
    EXPECT_TRUE(reportsContain(stderrReports([&] {
                                   EXPECT_EQ(q->getActionValue(2), 0.0);
                                   EXPECT_EQ(q->getActionValue(-1), 0.0);
                                   q->setActionValue(2, 7.0);
                                   q->setActiveActionValue(-3, 7.0);
                               }),
                               {"actionIndex[2] out of bounds [ 0, 2)", "actionIndex[-1] out of bounds [ 0, 2)",
                                "actionIndex[2]", "actionIndex[-3]"}));
    EXPECT_EQ(q->weightVector(), (Weights{0, 5, 0, 5, 9, 5}));
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
        }
    }
    EXPECT_EQ(std::vector<double>(q->eTraces, q->eTraces + 6), Weights(6, 0.0));
    // Accumulating adds to the active action only.
    q->activeActionIndex = 1;
    q->accumulatingTraces(1.0);
    q->accumulatingTraces(1.0);
    EXPECT_EQ(std::vector<double>(q->eTraces, q->eTraces + 6), (Weights{0, 0, 0, 0, 0, 2.0}));
    q->storeState();
    EXPECT_EQ(q->storedActiveIndex, 5);
    EXPECT_EQ(q->episodeIndexHistorySet, std::set<int>{5});
    // An active index that leaves no whole block (a subclass set it) is no present state.
    q->activeIndex = 5;
    EXPECT_EQ(q->getActionValue(1), DBL_MAX);
    // One action counted more than the blocks hold (a subclass raised
    // ACTIONS): it has no value here, and the next state's first is not it.
    q->activeIndex = 2;
    q->ACTIONS = 3;
    EXPECT_TRUE(reportsContain(stderrReports([&] {
                                   EXPECT_EQ(q->getActionValue(2), 0.0);
                                   q->setAction(2, nullptr);
                                   q->unregisterAction(2);
                               }),
                               {"actionIndex[2]", "actionIndex 2 out of bounds", "actionIndex 2 out of bounds"}));
    q->ACTIONS = 2;
}

TEST(ActionLookupTable, RemovalAndLateActionsRefuseWhatTheTableCannotHold) {
    std::unique_ptr<QTable> single = atTwo(1);
    EXPECT_EQ(stderrReports([&] { single->removeAction(0); }), Messages{"ACTIONS == 1 --> Can not remove last action!"});
    EXPECT_EQ(single->weightVector(), (Weights{0, 1, 2}));
    std::unique_ptr<QTable> q = atTwo(2);
    EXPECT_EQ(stderrReports([&] { q->removeAction(2); }), Messages{"actionIndex[2] out of bounds [ 0, 2)"});
    // A table out of step with ACTIONS (a subclass changed it) can neither
    // lose nor gain a block: a late action is refused, once, and destroyed.
    int destroyed = 0;
    q->ACTIONS = 3;
    EXPECT_TRUE(reportsContain(stderrReports([&] {
                                   q->removeAction(0);
                                   q->registerAction(new CountedAction(&destroyed));
                               }),
                               {"ACTIONS = 3, but the table holds 2 actions per state",
                                "action not registered (and deleted)"}));
    q->ACTIONS = 2;
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(q->registeredActions.size(), 2u);
    EXPECT_EQ(q->weightVector(), (Weights{0, 1, 2, 3, 4, 5}));
}

TEST(ActionLookupTable, CreatingAgainOrLoadingForgetsEveryIndexIntoTheOldTable) {
    TempDir dir;
    ASSERT_EQ(std::unique_ptr<QTable>(makeQ({{"a", 0, 2}}, 2))->save(dir.file("small.bin")), 0);
    for (const bool load : {false, true}) {
        SCOPED_TRACE(load ? "load" : "create");
        std::unique_ptr<QTable> q(makeQ({{"a", 0, 99}}, 3));
        q->getStatePtr()->setValueInt(0, 99);
        q->setState();
        q->activeActionIndex = 2;
        q->setTraceStorage(Types::ARRAY);
        q->initEligibilityTraces();
        q->replacingTraces(1.0);
        q->storeState();
        q->eTracesMap[5] = 1.0;
        ASSERT_EQ(q->storedActiveIndex, 299);
        ASSERT_TRUE(!load || q->load(dir.file("small.bin")) == 0);
        if (!load) q->registerAction(new CountedAction(nullptr)), q->create();
        EXPECT_EQ(q->activeIndex, -1);
        EXPECT_EQ(q->eTraces, nullptr);
        EXPECT_TRUE(q->eTracesMap.empty());
        EXPECT_TRUE(q->episodeIndexHistorySet.empty());
        // Nothing left to update: the stale index 299 must not be written.
        EXPECT_EQ(stderrReports([&] {
                      q->updateWeights(1.0, 1.0);
                      q->valueEpisode(1.0);
                  }).size(),
                  2u);
        EXPECT_EQ(q->weightVector(), Weights(load ? 6 : 400, 0.0));
        // Indices a subclass recorded by hand are credited only inside the table.
        q->episodeIndexHistorySet = {-1, 1, load ? 6 : 400};
        q->valueEpisode(2.0);
        EXPECT_EQ(q->getMaxWeight(), 2.0);
        EXPECT_EQ(q->getAvgWeight(false), 2.0 / (load ? 6 : 400));
    }
}
