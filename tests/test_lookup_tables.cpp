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
using lookup_test::makeQ;
using lookup_test::makeState;
using lookup_test::QTable;
using lookup_test::VTable;
using test_support::reportMessages;
using test_support::TempDir;

namespace {

const std::string NO_WEIGHTS = "weights == 0 --> Maybe forgot to call create?";

// Runs f with stderr captured and returns the report messages.
template <class F>
std::vector<std::string> errorsOf(F f) {
    testing::internal::CaptureStderr();
    f();
    return reportMessages(testing::internal::GetCapturedStderr());
}

bool mentions(const std::vector<std::string>& messages, const std::string& part) {
    for (const std::string& m : messages) {
        if (m.find(part) != std::string::npos) return true;
    }
    return false;
}

std::map<int, double> mapOf(std::initializer_list<std::pair<const int, double>> entries) { return entries; }

const double (*constantOne())() {
    return []() -> const double { return 1.0; };
}

int counter = 0;
const double countingValue() { return static_cast<double>(counter++); }

}  // namespace

TEST(StateLookupTable, StridesAndSizeFollowTheRangesOfTheVariables) {
    VTable v(makeState({{"a", 0, 2}, {"b", -1, 1}}));
    EXPECT_EQ(v.strides(), (std::vector<int>{3, 1}));
    EXPECT_EQ(v.ARRAY_SIZE, 9);
    EXPECT_EQ(v.weightVector(), std::vector<double>(9, 0.0));
    EXPECT_EQ(v.traceStorage, Types::MAP);
    EXPECT_EQ(v.eTraces, nullptr);
    v.getStatePtr()->setValueInt(0, 1);
    v.getStatePtr()->setValueInt(1, 0);
    v.setState();
    EXPECT_EQ(v.activeIndex, 4);
    EXPECT_EQ(v.getStateValue(), 0.0);
    v.getStatePtr()->setValueInt(0, 2);
    v.getStatePtr()->setValueInt(1, -1);
    v.setState();
    EXPECT_EQ(v.activeIndex, 6);

    VTable three(makeState({{"a", 0, 1}, {"b", 5, 7}, {"c", -2, 1}}));
    EXPECT_EQ(three.strides(), (std::vector<int>{12, 4, 1}));
    EXPECT_EQ(three.ARRAY_SIZE, 24);

    VTable none(new State());
    EXPECT_EQ(none.ARRAY_SIZE, 1);
    none.setState();
    EXPECT_EQ(none.activeIndex, 0);
}

TEST(LookupTable, OnlyTheCombinedIndexIsCheckedAgainstTheTable) {
    VTable v(makeState({{"a", 0, 2}, {"b", -1, 1}}));
    v.getStatePtr()->setValueInt(0, 2);
    v.getStatePtr()->setValueInt(1, 2);
    v.weights[3] = 7.0;
    std::vector<std::string> errors = errorsOf([&] { v.setState(); });
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "index (9) out ouf bounds --> [0, 9)");
    EXPECT_EQ(v.activeIndex, -1);
    EXPECT_EQ(v.getStateValue(), 0.0);  // no present state, not the largest double

    // (0, 2) lies outside b's bounds but lands on the weight of (1, -1).
    v.getStatePtr()->setValueInt(0, 0);
    errors = errorsOf([&] { v.setState(); });
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(v.activeIndex, 3);
    EXPECT_EQ(v.getStateValue(), 7.0);
}

TEST(LookupTable, CombinedIndexIsComputedWithoutWrapping) {
    // Strides 4 and 1: a = 2^30 + 1 gives 4 * a = 2^32 + 4, which 32-bit
    // arithmetic would wrap to the valid index 4.
    VTable v(makeState({{"a", 0, 1}, {"b", 0, 3}}));
    v.getStatePtr()->setValueInt(0, 1073741825);
    v.getStatePtr()->setValueInt(1, 0);
    std::vector<std::string> errors = errorsOf([&] { v.setState(); });
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "index (4294967300) out ouf bounds --> [0, 8)");
    EXPECT_EQ(v.activeIndex, -1);

    // A difference of 2^32 - 1 between an extreme value and an extreme bound.
    VTable w(makeState({{"a", INT_MIN, INT_MIN + 1}}));
    w.getStatePtr()->setValueInt(0, INT_MAX);
    errors = errorsOf([&] { w.setState(); });
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "index (4294967295) out ouf bounds --> [0, 2)");
}

TEST(LookupTable, TablesBeyondAnIntIndexOrOnEmptyRangesAreRefused) {
    std::vector<std::string> errors;
    std::unique_ptr<VTable> whole;
    errors = errorsOf([&] { whole.reset(new VTable(makeState({{"a", INT_MIN, INT_MAX}}))); });
    EXPECT_TRUE(mentions(errors, "not addressable by an int index"));
    EXPECT_EQ(whole->weights, nullptr);
    EXPECT_EQ(whole->ARRAY_SIZE, 0);
    errors = errorsOf([&] {
        EXPECT_EQ(whole->getStateValue(), DBL_MAX);
        whole->setState();
        whole->updateWeights(0.1, 1.0);
    });
    EXPECT_EQ(errors, std::vector<std::string>(3, NO_WEIGHTS));

    // 2^16 * 2^15 = 2^31 is one more than an int holds.
    errors = errorsOf([&] { VTable v(makeState({{"a", 0, 65535}, {"b", 0, 32767}})); EXPECT_EQ(v.weights, nullptr); });
    EXPECT_TRUE(mentions(errors, "not addressable"));

    // The action count multiplies in: 2^30 states times 2 actions.
    std::unique_ptr<QTable> q(makeQ({{"a", 0, 1073741823}}, 2, false));
    errors = errorsOf([&] { q->create(); });
    EXPECT_TRUE(mentions(errors, "not addressable"));
    EXPECT_EQ(q->weights, nullptr);
    EXPECT_EQ(q->indexOffset, nullptr);

    // Bounds moved past each other after registration leave an empty range.
    State* crossed = makeState({{"a", 0, 3}});
    crossed->setMinValueInt(0, 5);
    errors = errorsOf([&] { VTable v(crossed); EXPECT_EQ(v.weights, nullptr); });
    EXPECT_TRUE(mentions(errors, "no table on an empty range"));
}

TEST(LookupTable, UpdateWithoutTracesMovesOnlyTheStoredWeight) {
    VTable v(makeState({{"a", 0, 8}}));
    v.storedActiveIndex = 4;
    v.updateWeights(0.5, 2.0);
    std::vector<double> expected(9, 0.0);
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

TEST(LookupTable, UpdateWithoutTraceOrStoredIndexReportsPerStorage) {
    VTable v(makeState({{"a", 0, 3}}));
    std::vector<std::string> errors = errorsOf([&] { v.updateWeights(1.0, 1.0); });
    EXPECT_EQ(errors, std::vector<std::string>{"traceStorage == MAP and eTracesMap == empty and storedActiveIndex == -1"
                                               " --> Set traceStorage to ARRAY or call initEligibilityTraces or "
                                               "storeState before calling updateWeights!"});
    v.setTraceStorage(Types::ARRAY);
    errors = errorsOf([&] { v.updateWeights(1.0, 1.0); });
    EXPECT_EQ(errors, std::vector<std::string>{"traceStorage == ARRAY and eTraces == 0 and storedActiveIndex == -1"
                                               " --> Set traceStorage to MAP or call initEligibilityTraces or "
                                               "storeState before calling updateWeights!"});
    errors = errorsOf([&] { v.updateEligibilityTraces(1.0, 1.0); });
    EXPECT_EQ(errors, std::vector<std::string>{"traceStorage == ARRAY and eTraces == 0 --> Set traceStorage to MAP "
                                               "or call initEligibilityTraces before calling updateEligibilityTraces!"});
    v.setTraceStorage(static_cast<Types::TRACE_STORAGE>(7));
    errors = errorsOf([&] {
        v.updateWeights(1.0, 1.0);
        v.updateEligibilityTraces(1.0, 1.0);
        v.initEligibilityTraces();
        v.replacingTraces(1.0);
        v.accumulatingTraces(1.0);
    });
    EXPECT_EQ(errors, std::vector<std::string>(5, "Unknown traceStorage = 7"));
    EXPECT_EQ(v.weightVector(), std::vector<double>(4, 0.0));
}

TEST(LookupTable, TracesMoveWeightsInBothStoragesAndMapEntriesSurviveDecay) {
    VTable v(makeState({{"a", 0, 9}}));
    v.eTracesMap = mapOf({{2, 1.0}, {7, 0.5}});
    const double F = 0.9 * 0.5;
    v.updateEligibilityTraces(0.9, 0.5);
    EXPECT_EQ(v.eTracesMap, mapOf({{2, 1.0 * F}, {7, 0.5 * F}}));
    v.updateWeights(0.5, 3.0);
    EXPECT_EQ(v.weights[2], 0.0 + (0.5 * 3.0) * (1.0 * F));
    EXPECT_EQ(v.weights[7], 0.0 + (0.5 * 3.0) * (0.5 * F));
    v.updateEligibilityTraces(0.0, 1.0);
    EXPECT_EQ(v.eTracesMap, mapOf({{2, 0.0}, {7, 0.0}}));

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

TEST(StateLookupTable, TraceMarkingFollowsThePresentState) {
    VTable v(makeState({{"a", 0, 4}}));
    v.getStatePtr()->setValueInt(0, 1);
    v.setState();
    v.replacingTraces(1.0);
    v.replacingTraces(1.0);
    EXPECT_EQ(v.eTracesMap, mapOf({{1, 1.0}}));
    v.accumulatingTraces(1.0);
    v.accumulatingTraces(1.0);
    EXPECT_EQ(v.eTracesMap, mapOf({{1, 3.0}}));

    // No present state: nothing happens, nothing is said.
    v.getStatePtr()->setValueInt(0, 9);
    errorsOf([&] { v.setState(); });
    std::vector<std::string> errors = errorsOf([&] {
        v.replacingTraces(5.0);
        v.accumulatingTraces(5.0);
        v.storeState();
    });
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(v.eTracesMap, mapOf({{1, 3.0}}));
    EXPECT_EQ(v.storedActiveIndex, -1);
    EXPECT_TRUE(v.episodeIndexHistorySet.empty());

    v.setTraceStorage(Types::ARRAY);
    v.getStatePtr()->setValueInt(0, 2);
    v.setState();
    errors = errorsOf([&] { v.replacingTraces(1.0); });
    EXPECT_EQ(errors, std::vector<std::string>{"traceStorage == ARRAY and eTraces == 0 --> Set traceStorage to MAP or "
                                               "call initEligibilityTraces before calling updateWeights!"});
    EXPECT_EQ(v.eTraces, nullptr);
}

TEST(StateLookupTable, EpisodeHistoryCreditsEachVisitedStateOnce) {
    VTable v(makeState({{"a", 0, 6}}));
    std::vector<std::string> errors = errorsOf([&] { v.valueEpisode(1.0); });
    EXPECT_EQ(errors, std::vector<std::string>{"episodeIndexHistorySet is empty! Did you forget to set "
                                               "ValueFunction::episodeStateHistory to true?"});
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
    VTable v(makeState({{"a", 0, 1}}));
    v.weights[0] = -2.0;
    v.weights[1] = 1.0;
    EXPECT_EQ(v.getAvgWeight(true), 1.5);
    EXPECT_EQ(v.getAvgWeight(false), -0.5);
    EXPECT_EQ(v.getMinWeight(), -2.0);
    EXPECT_EQ(v.getMaxWeight(), 1.0);

    VTable c(makeState({{"a", 0, 3}}));
    c.weights[0] = -3.0;
    c.weights[1] = 0.5;
    c.weights[2] = 2.0;
    c.weights[3] = std::nan("");
    EXPECT_EQ(c.getMinWeight(), -3.0);  // NaN never wins a comparison
    EXPECT_EQ(c.getMaxWeight(), 2.0);
    ValueFunction* vf = &c;
    vf->setMinWeightLimit(-1.0);
    vf->setMaxWeightLimit(1.0);
    vf->checkWeightLimit();
    EXPECT_EQ(c.weightVector(), (std::vector<double>{-1.0, 0.5, 1.0, -1.0}));

    std::unique_ptr<QTable> q(makeQ({{"a", 0, 1}}, 2, false));
    const std::vector<std::string> errors = errorsOf([&] {
        EXPECT_EQ(q->getMinWeight(), DBL_MAX);
        EXPECT_EQ(q->getMaxWeight(), -DBL_MAX);
        EXPECT_EQ(q->getAvgWeight(false), 0.0);
        q->checkWeightLimit();
        q->initWeights(constantOne());
        q->valueEpisode(1.0);  // the empty history is reported first
    });
    EXPECT_EQ(errors.size(), 6u);
    EXPECT_EQ(errors[4], NO_WEIGHTS);
}

TEST(LookupTable, BothBasesReachTheSameOverride) {
    // A subclass overrides the shared operations once; calls through the
    // value-function base and through LookupTable must both arrive there.
    class Counting : public StateLookupTable {
    public:
        using StateLookupTable::StateLookupTable;
        void updateWeights(const double, const double) override { ++updates; }
        void setState() override { ++states; }
        const double getMaxWeight() const override { return 42.0; }
        int updates = 0;
        int states = 0;
    };
    Counting table(makeState({{"a", 0, 1}}));
    ValueFunction* vf = &table;
    LookupTable* lt = &table;
    vf->updateWeights(1.0, 1.0);
    lt->updateWeights(1.0, 1.0);
    vf->setState();
    lt->setState();
    EXPECT_EQ(table.updates, 2);
    EXPECT_EQ(table.states, 2);
    EXPECT_EQ(vf->getMaxWeight(), 42.0);
    EXPECT_EQ(lt->getMaxWeight(), 42.0);

    // And the tables themselves forward both paths to one body.
    std::unique_ptr<QTable> q(makeQ({{"a", 0, 2}}, 2));
    ValueFunction* qvf = q.get();
    LookupTable* qlt = q.get();
    counter = 0;
    qvf->initWeights(&countingValue);
    EXPECT_EQ(q->weightVector(), (std::vector<double>{0, 1, 2, 3, 4, 5}));
    qlt->initWeights(&countingValue);
    EXPECT_EQ(q->weightVector(), (std::vector<double>{6, 7, 8, 9, 10, 11}));
    q->getStatePtr()->setValueInt(0, 2);
    qlt->setState();
    EXPECT_EQ(q->activeIndex, 4);
    EXPECT_EQ(qvf->getMinWeight(), qlt->getMinWeight());
}

TEST(ActionLookupTable, BlocksHoldOneWeightPerActionInEveryState) {
    std::unique_ptr<QTable> q(makeQ({{"a", 0, 2}}, 2));
    EXPECT_EQ(q->strides(), std::vector<int>{2});
    EXPECT_EQ(q->ARRAY_SIZE, 6);
    q->setWeights({0, 1, 2, 3, 4, 5});
    q->getStatePtr()->setValueInt(0, 1);
    q->setState();
    EXPECT_EQ(q->activeIndex, 2);
    EXPECT_EQ(q->getActionValue(1), 3.0);

    std::unique_ptr<QTable> two(makeQ({{"a", 0, 2}, {"b", -1, 1}}, 3));
    EXPECT_EQ(two->strides(), (std::vector<int>{9, 3}));
    EXPECT_EQ(two->ARRAY_SIZE, 27);

    std::unique_ptr<QTable> none(makeQ({}, 4));
    EXPECT_EQ(none->ARRAY_SIZE, 4);
}

TEST(ActionLookupTable, CreateNeedsActionsAndTheTableNeedsCreate) {
    std::unique_ptr<QTable> q(makeQ({{"a", 0, 2}}, 0, false));
    std::vector<std::string> errors = errorsOf([&] { q->create(); });
    EXPECT_EQ(errors, std::vector<std::string>{"No actions registered! --> Register actions first!"});
    errors = errorsOf([&] {
        EXPECT_EQ(q->getActionValue(0), DBL_MAX);
        q->setState();
        q->setActionValue(0, 1.0);
        q->setActiveActionValue(0, 1.0);
    });
    EXPECT_EQ(errors, std::vector<std::string>(4, NO_WEIGHTS));
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
    std::vector<std::string> errors = errorsOf([&] {
        EXPECT_EQ(q->getActionValue(2), 0.0);
        EXPECT_EQ(q->getActionValue(-1), 0.0);
        q->setActionValue(2, 7.0);
        q->setActionValue(-1, 7.0);
        q->setActiveActionValue(2, 7.0);
        q->setActiveActionValue(-3, 7.0);
    });
    ASSERT_EQ(errors.size(), 6u);
    EXPECT_EQ(errors[0], "actionIndex[2] out of bounds [ 0, 2)");
    EXPECT_EQ(errors[1], "actionIndex[-1] out of bounds [ 0, 2)");
    EXPECT_EQ(q->weightVector(), (std::vector<double>{0, 1, 2, 3, 4, 5}));

    // The active action drives trace marking and storing; out of range it
    // must not write beside the block, in either storage.
    for (Types::TRACE_STORAGE storage : {Types::MAP, Types::ARRAY}) {
        q->setTraceStorage(storage);
        q->initEligibilityTraces();
        for (int bad : {-1, 2, 1000}) {
            q->activeActionIndex = bad;
            errors = errorsOf([&] {
                q->replacingTraces(1.0);
                q->accumulatingTraces(1.0);
                q->storeState();
            });
            EXPECT_EQ(errors.size(), 4u);
            EXPECT_EQ(q->storedActiveIndex, -1);
            EXPECT_TRUE(q->episodeIndexHistorySet.empty());
            EXPECT_TRUE(q->eTracesMap.empty());
            if (storage == Types::ARRAY) {
                for (int i = 0; i < 6; ++i) EXPECT_EQ(q->eTraces[i], 0.0);
            }
        }
    }

    // An action registered after create() has no weights in the table.
    q->registerAction(new CountedAction(nullptr));
    errors = errorsOf([&] { EXPECT_EQ(q->getActionValue(2), 0.0); });
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("actionIndex[2] out of bounds [ 0, 2)"), std::string::npos);
}

TEST(ActionLookupTable, ReplacingTracesClearsTheOtherActionsOfTheState) {
    std::unique_ptr<QTable> q(makeQ({{"a", 0, 2}}, 3));
    q->getStatePtr()->setValueInt(0, 2);
    q->setState();
    ASSERT_EQ(q->activeIndex, 6);
    q->activeActionIndex = 1;

    q->setTraceStorage(Types::ARRAY);
    q->initEligibilityTraces();
    for (int i = 0; i < 9; ++i) q->eTraces[i] = 0.5;
    q->replacingTraces(1.0);
    EXPECT_EQ(std::vector<double>(q->eTraces, q->eTraces + 9),
              (std::vector<double>{0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.0, 1.0, 0.0}));

    q->setTraceStorage(Types::MAP);
    q->eTracesMap = mapOf({{6, 0.5}, {8, 0.3}, {2, 0.4}});
    q->replacingTraces(1.0);
    EXPECT_EQ(q->eTracesMap, mapOf({{2, 0.4}, {7, 1.0}}));
}

TEST(ActionLookupTable, AccumulatingTracesAddToTheActiveActionOnly) {
    std::unique_ptr<QTable> q(makeQ({{"a", 0, 2}}, 3));
    q->getStatePtr()->setValueInt(0, 2);
    q->setState();
    q->activeActionIndex = 2;
    q->eTracesMap = mapOf({{6, 0.5}, {7, 0.25}});
    q->accumulatingTraces(1.0);
    q->accumulatingTraces(1.0);
    EXPECT_EQ(q->eTracesMap, mapOf({{6, 0.5}, {7, 0.25}, {8, 2.0}}));

    q->setTraceStorage(Types::ARRAY);
    q->initEligibilityTraces();
    q->eTraces[6] = 0.5;
    q->eTraces[7] = 0.25;
    q->accumulatingTraces(1.0);
    q->accumulatingTraces(1.0);
    EXPECT_EQ(std::vector<double>(q->eTraces + 6, q->eTraces + 9), (std::vector<double>{0.5, 0.25, 2.0}));

    // Storing without traces remembers the active action's weight.
    q->storeState();
    EXPECT_EQ(q->storedActiveIndex, 8);
    EXPECT_EQ(q->episodeIndexHistorySet, std::set<int>{8});
}

TEST(ActionLookupTable, UnregisteringAnActionShiftsLaterActionsDown) {
    // Weights (a0, a1, a2, b0, b1, b2) over one variable with two values.
    const std::vector<double> all{10, 11, 12, 20, 21, 22};
    const std::vector<std::vector<double>> expected{{11, 12, 21, 22}, {10, 12, 20, 22}, {10, 11, 20, 21}};
    for (int removed = 0; removed < 3; ++removed) {
        int destroyed = 0;
        std::unique_ptr<QTable> q(makeQ({{"a", 0, 1}}, 0, false));
        std::vector<CountedAction*> actions;
        for (int a = 0; a < 3; ++a) {
            actions.push_back(new CountedAction(&destroyed));
            q->registerAction(actions.back());
        }
        q->create();
        q->setWeights(all);
        q->getStatePtr()->setValueInt(0, 1);
        q->setState();
        q->activeActionIndex = 0;
        q->setTraceStorage(removed == 1 ? Types::MAP : Types::ARRAY);
        q->initEligibilityTraces();
        q->replacingTraces(1.0);
        q->storeState();

        if (removed == 2) {
            q->unregisterAction(actions[2]);  // by pointer, the same path
        } else {
            q->unregisterAction(removed);
        }
        EXPECT_EQ(q->weightVector(), expected[removed]) << "removed " << removed;
        EXPECT_EQ(q->ARRAY_SIZE, 4);
        EXPECT_EQ(q->strides(), std::vector<int>{2});
        EXPECT_EQ(q->ACTIONS, 2);
        EXPECT_EQ(q->activeIndex, -1);
        EXPECT_EQ(q->storedActiveIndex, -1);
        EXPECT_EQ(q->eTraces, nullptr);
        EXPECT_TRUE(q->eTracesMap.empty());
        EXPECT_TRUE(q->episodeIndexHistorySet.empty());
        EXPECT_EQ(destroyed, 0);
        EXPECT_EQ(q->registeredActions.size(), 2u);
        q->setState();
        EXPECT_EQ(q->activeIndex, 2);
        delete actions[static_cast<std::size_t>(removed)];  // handed back to us
    }
}

TEST(ActionLookupTable, TheLastActionCannotBeRemoved) {
    std::unique_ptr<QTable> q(makeQ({{"a", 0, 2}}, 1));
    q->setWeights({1, 2, 3});
    const std::vector<std::string> errors = errorsOf([&] { q->removeAction(0); });
    EXPECT_EQ(errors, std::vector<std::string>{"ACTIONS == 1 --> Can not remove last action!"});
    EXPECT_EQ(q->weightVector(), (std::vector<double>{1, 2, 3}));
    EXPECT_EQ(q->strides(), std::vector<int>{1});
    EXPECT_EQ(q->ARRAY_SIZE, 3);

    std::unique_ptr<QTable> r(makeQ({{"a", 0, 2}}, 3));
    EXPECT_EQ(errorsOf([&] { r->removeAction(3); }), std::vector<std::string>{"actionIndex[3] out of bounds [ 0, 3)"});
    EXPECT_EQ(r->ARRAY_SIZE, 9);
}

TEST(ActionLookupTable, CreatingAgainRebuildsTheTableFromScratch) {
    std::unique_ptr<QTable> q(makeQ({{"a", 0, 2}}, 2));
    q->setWeights({1, 1, 1, 1, 1, 1});
    q->getStatePtr()->setValueInt(0, 2);
    q->setState();
    q->activeActionIndex = 1;
    q->setTraceStorage(Types::ARRAY);
    q->initEligibilityTraces();
    q->replacingTraces(1.0);
    q->storeState();
    q->eTracesMap[5] = 1.0;

    q->registerAction(new CountedAction(nullptr));
    q->create();
    EXPECT_EQ(q->ARRAY_SIZE, 9);
    EXPECT_EQ(q->strides(), std::vector<int>{3});
    EXPECT_EQ(q->weightVector(), std::vector<double>(9, 0.0));
    EXPECT_EQ(q->eTraces, nullptr);
    EXPECT_TRUE(q->eTracesMap.empty());
    EXPECT_EQ(q->activeIndex, -1);
    EXPECT_EQ(q->storedActiveIndex, -1);
    EXPECT_TRUE(q->episodeIndexHistorySet.empty());
    q->initEligibilityTraces();  // a trace array of the new size
    q->setState();
    q->activeActionIndex = 2;
    q->replacingTraces(1.0);
    EXPECT_EQ(q->eTraces[8], 1.0);
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
    std::unique_ptr<QTable> pending(makeQ({{"a", 0, 1}}, 1, false));
    ValueFunction::setValue(0.25);
    QTable fromFile(dir.file("q.bin"));
    pending->create();
    EXPECT_EQ(pending->weightVector(), std::vector<double>(2, 0.0));

    // The state table creates its weights while it is constructed.
    ValueFunction::setValue(0.25);
    VTable v(makeState({{"a", 0, 1}}));
    EXPECT_EQ(v.weightVector(), std::vector<double>(2, 0.0));
    ValueFunction::setValue(0.75);
    v.initWeights(constantOne());
    EXPECT_EQ(v.weightVector(), std::vector<double>(2, 1.0));
    ValueFunction::setValue(0.0);
}

TEST(StateLookupTable, AStateOfAnotherKindGivesOneWeight) {
    State* state = new State();
    state->registerVariable("x", 0.0, 1.0);
    state->registerVariable("y", 0.0, 1.0);
    std::unique_ptr<VTable> v;
    const std::vector<std::string> errors = errorsOf([&] { v.reset(new VTable(state)); });
    EXPECT_EQ(errors, std::vector<std::string>(4, "Not an Int-State!"));
    EXPECT_EQ(v->ARRAY_SIZE, 1);
    EXPECT_EQ(v->strides(), (std::vector<int>{1, 1}));
}
