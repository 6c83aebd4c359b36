#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "ActionTileCoding.h"
#include "ActionTilings.h"
#include "StateTileCoding.h"
#include "StateTilings.h"
#include "TestSupport.h"
#include "TileTestSupport.h"
#include "Utility.h"

using test_support::reportMessages;
using namespace tile_test;

namespace {

const char* const NO_WEIGHTS = "weights == 0 --> Maybe forgot to call create?";

// The tile number the activation rules give, written out again here from
// the formulas so that the expected indices do not come from the code.
int clipTile(double x, double min, double off, double w, int tiles) {
    const int n = static_cast<int>(std::floor((x - min - off) / w));
    return n < 0 ? 0 : (n > tiles - 1 ? tiles - 1 : n);
}

// A group of 4 tilings over one variable on [0, 8] with resolution 0.5.
struct EightGroup {
    std::unique_ptr<State> state{doubleState({{0.0, 8.0}})};
    StateProbe group;
    explicit EightGroup(int tileType) : group(4, VarList{tiledVar(0, 0.5, tileType)}) {
        group.create(state.get());
        group.initWeights(&zero);
    }
    std::vector<int> at(double x) {
        state->setValueDbl(0, x);
        group.activateTiles();
        return group.activeList();
    }
};

}  // namespace

// ---------------------------------------------------------------- geometry

TEST(TilingsGeometry, ClipAndWrapOnZeroToTenWithResolutionPointThree) {
    std::unique_ptr<State> state(doubleState({{0.0, 10.0}}));
    StateProbe clip(4, VarList{tiledVar(0, 0.3, Types::CLIP)});
    clip.create(state.get());
    ASSERT_TRUE(clip.hasWeights());
    EXPECT_EQ(clip.tileCount(0), 9);  // ceil(10 / 1.2)
    EXPECT_EQ(clip.resolution(0), 10.0 / 36);
    EXPECT_EQ(clip.width(0), 10.0 / 9);
    for (int t = 0; t < 4; ++t) EXPECT_EQ(clip.offset(t, 0), t * (10.0 / 36));
    EXPECT_EQ(clip.stride(0), 4);
    EXPECT_EQ(clip.arraySize(), 36);

    StateProbe wrap(4, VarList{tiledVar(0, 0.3, Types::WRAP)});
    wrap.create(state.get());
    EXPECT_EQ(wrap.tileCount(0), 10);
    EXPECT_EQ(wrap.resolution(0), 10.0 / 36);
    EXPECT_EQ(wrap.width(0), 10.0 / 9);
    EXPECT_EQ(wrap.arraySize(), 40);
}

TEST(TilingsGeometry, ZeroToEightWithResolutionHalfForEachTileType) {
    for (int type : {Types::CLIP, Types::CIRCLE, Types::WRAP}) {
        EightGroup g(type);
        const int expectedTiles = type == Types::WRAP ? 5 : 4;
        EXPECT_EQ(g.group.tileCount(0), expectedTiles) << "tile type " << type;
        EXPECT_EQ(g.group.width(0), 2.0);
        EXPECT_EQ(g.group.resolution(0), 0.5);
        for (int t = 0; t < 4; ++t) EXPECT_EQ(g.group.offset(t, 0), 0.5 * t);
        EXPECT_EQ(g.group.arraySize(), 4 * expectedTiles);
    }
}

TEST(TilingsGeometry, TwoVariablesGiveStridesAndTheIndexOfATile) {
    std::unique_ptr<State> state(doubleState({{0.0, 10.0}, {0.0, 5.0}}));
    StateProbe group(4, VarList{tiledVar(0, 0.3, Types::CLIP), tiledVar(1, 0.25, Types::CLIP)});
    group.create(state.get());
    ASSERT_EQ(group.tileCount(0), 9);
    ASSERT_EQ(group.tileCount(1), 5);
    EXPECT_EQ(group.stride(0), 20);
    EXPECT_EQ(group.stride(1), 4);
    EXPECT_EQ(group.arraySize(), 180);

    // Tiling 2 on tile (3, 1): 2 + 3 * 20 + 1 * 4.
    state->setValueDbl(0, 4.4);
    state->setValueDbl(1, 2.0);
    group.activateTiles();
    EXPECT_EQ(clipTile(4.4, 0.0, 2 * (10.0 / 36), 10.0 / 9, 9), 3);
    EXPECT_EQ(clipTile(2.0, 0.0, 2 * 0.25, 1.0, 5), 1);
    EXPECT_EQ(group.active(2), 66);
    for (int t = 0; t < 4; ++t) {
        const int n0 = clipTile(4.4, 0.0, t * (10.0 / 36), 10.0 / 9, 9);
        const int n1 = clipTile(2.0, 0.0, t * 0.25, 1.0, 5);
        EXPECT_EQ(group.active(t), t + 20 * n0 + 4 * n1) << "tiling " << t;
    }
}

TEST(TilingsGeometry, ActionLayoutMultipliesStridesAndSizeByTheActions) {
    std::unique_ptr<State> state(doubleState({{0.0, 3.0}}));
    ActionProbe group(2, VarList{tiledVar(0, 0.5, Types::CLIP)});
    group.create(state.get(), 4);
    ASSERT_EQ(group.tileCount(0), 3);
    EXPECT_EQ(group.stride(0), 8);
    EXPECT_EQ(group.arraySize(), 24);
    EXPECT_EQ(group.getNumberOfActions(), 4);

    resetCounter();
    group.initWeights(&countUp);  // weight w holds w
    state->setValueDbl(0, 2.9);
    group.activateTiles();
    EXPECT_EQ(group.active(0), 16);
    EXPECT_EQ(group.active(1), 17);  // tiling 1 on tile 2: 1 + 2 * 8
    // Action 3 of tiling 1's tile lies at 17 + 2 * 3 = 23.
    EXPECT_EQ(group.getActionValue(3), 0.0 + (16 + 6) + (17 + 6));
    EXPECT_EQ(group.getActionValue(0), 0.0 + 16 + 17);
}

// -------------------------------------------------------------- activation

TEST(TilingsActivation, ClipAtTheEdges) {
    EightGroup g(Types::CLIP);
    EXPECT_EQ(g.at(0.25), (std::vector<int>{0, -1, -1, -1}));
    EXPECT_EQ(g.at(8.0), (std::vector<int>{12, 13, 14, 15}));  // tile 3, tiling 0 by the clamp
    EXPECT_EQ(g.at(1.9), (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(g.at(std::nan("")), (std::vector<int>{-1, -1, -1, -1}));
}

TEST(TilingsActivation, WrapAtTheEdges) {
    EightGroup g(Types::WRAP);
    EXPECT_EQ(g.at(0.0), (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(g.at(8.0), (std::vector<int>{16, 17, 18, 19}));
    EXPECT_EQ(g.at(1.9), (std::vector<int>{0, 5, 6, 7}));
}

TEST(TilingsActivation, CircleFoldsBothBoundsOntoTheSameTiles) {
    EightGroup g(Types::CIRCLE);
    const std::vector<int> expected{0, 13, 14, 15};  // 0 - 0.5 folds to 7.5: tile 3
    EXPECT_EQ(g.at(0.0), expected);
    EXPECT_EQ(g.at(8.0), expected);
    EXPECT_EQ(g.at(0.25), expected);
    EXPECT_EQ(g.at(16.25), expected);  // a whole turn further
}

TEST(TilingsActivation, UnknownTileTypeIsReportedAndAddsNothing) {
    std::unique_ptr<State> state(doubleState({{0.0, 8.0}, {0.0, 8.0}}));
    StateProbe group(4, VarList{tiledVar(0, 0.5, 7), tiledVar(1, 0.5, Types::CLIP)});
    group.create(state.get());
    ASSERT_TRUE(group.hasWeights());
    state->setValueDbl(1, 1.9);  // tile 0 of every tiling
    testing::internal::CaptureStderr();
    group.activateTiles();
    const std::vector<std::string> messages = reportMessages(testing::internal::GetCapturedStderr());
    ASSERT_EQ(messages.size(), 4u);
    for (const std::string& m : messages) EXPECT_EQ(m, "Unknown Tiletype[7] for Variable with id = 0");
    EXPECT_EQ(group.activeList(), (std::vector<int>{0, 1, 2, 3}));
}

TEST(TilingsActivation, WrapOutsideItsBoundsGivesNoTileEvenWhenTheIndexWouldAlias) {
    EightGroup g(Types::WRAP);
    testing::internal::CaptureStderr();
    EXPECT_EQ(g.at(-3.0), (std::vector<int>{-1, -1, -1, -1}));
    std::vector<std::string> messages = reportMessages(testing::internal::GetCapturedStderr());
    ASSERT_EQ(messages.size(), 4u);
    // Tiling 0: floor(-3 / 2) = -2, index 0 + (-2) * 4.
    EXPECT_EQ(messages[0], "index out ouf bounds --> -8");
    EXPECT_EQ(g.group.getStateValue(), 0.0);

    // A CLIP variable at tile 0 and a WRAP variable two tiles beyond its
    // last: the plain sum 0 + 6 * 4 would hit a real weight of tile (1, 1).
    std::unique_ptr<State> state(doubleState({{0.0, 8.0}, {0.0, 8.0}}));
    StateProbe group(4, VarList{tiledVar(0, 0.5, Types::CLIP), tiledVar(1, 0.5, Types::WRAP)});
    group.create(state.get());
    group.initWeights(&zero);
    ASSERT_EQ(group.stride(0), 20);
    ASSERT_EQ(group.arraySize(), 80);
    state->setValueDbl(0, 1.9);
    state->setValueDbl(1, 12.0);
    testing::internal::CaptureStderr();
    group.activateTiles();
    messages = reportMessages(testing::internal::GetCapturedStderr());
    EXPECT_EQ(group.activeList(), (std::vector<int>{-1, -1, -1, -1}));
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[0], "index out ouf bounds --> 24");

    // Such a tiling counts as no tile in every operation.
    group.replacingTraces(1.0);
    group.storeActiveTiles();
    group.storeEpisodeState();
    EXPECT_TRUE(group.traceMap().empty());
    EXPECT_TRUE(group.visited().empty());
    for (int t = 0; t < 4; ++t) EXPECT_EQ(group.stored()[t], -1);
    group.updateWeights(1.0, 1.0);
    for (double w : group.weightList()) EXPECT_EQ(w, 0.0);
}

TEST(TilingsActivation, WithoutStateOrGeometryEveryTilingHasNoTile) {
    StateProbe group(2, VarList{tiledVar(0, 0.5, Types::CLIP)});
    testing::internal::CaptureStderr();
    group.activateTiles();
    EXPECT_EQ(reportMessages(testing::internal::GetCapturedStderr()), (std::vector<std::string>{"statePtr == 0"}));
    EXPECT_EQ(group.activeList(), (std::vector<int>{-1, -1}));
}

TEST(ActionTilings, EntriesWhoseHigherActionsLieBeyondTheArrayAreNoTiles) {
    // 5 WRAP tiles, 4 tilings, 2 actions: 40 weights. An entry of 38 is
    // inside the array for action 0 but action 1 would be at 42.
    std::unique_ptr<State> state(doubleState({{0.0, 8.0}}));
    ActionProbe group(4, VarList{tiledVar(0, 0.5, Types::WRAP)});
    group.create(state.get(), 2);
    ASSERT_EQ(group.arraySize(), 40);
    group.initWeights(&zero);
    for (int t = 0; t < 4; ++t) group.setActive(t, t == 0 ? 38 : -1);
    EXPECT_EQ(group.getActionValue(0), 0.0);
    EXPECT_EQ(group.getActionValue(1), 0.0);
    group.replacingTraces(1.0, 1);
    group.accumulatingTraces(1.0, 0);
    group.storeActiveTiles(1);
    group.storeEpisodeState(1);
    group.setActiveActionValue(1, 9.0);
    EXPECT_TRUE(group.traceMap().empty());
    EXPECT_TRUE(group.visited().empty());
    EXPECT_EQ(group.stored()[0], -1);
    for (double w : group.weightList()) EXPECT_EQ(w, 0.0);
}

// ------------------------------------------------------------ create refusal

namespace {

// Creates the group on the State and returns the reports; the group must
// then be without weights and report that on use.
std::vector<std::string> refusedCreate(State* state, int tilings, const VarList& vars) {
    StateTilings group(tilings, vars);
    testing::internal::CaptureStderr();
    group.create(state);
    std::vector<std::string> messages = reportMessages(testing::internal::GetCapturedStderr());
    EXPECT_FALSE(group.hasWeights());
    testing::internal::CaptureStderr();
    group.updateWeights(1.0, 1.0);
    group.activateTiles();
    EXPECT_EQ(group.getStateValue(), DBL_MAX);
    const std::vector<std::string> use = reportMessages(testing::internal::GetCapturedStderr());
    EXPECT_EQ(use, (std::vector<std::string>{NO_WEIGHTS, NO_WEIGHTS, NO_WEIGHTS}));
    return messages;
}

}  // namespace

TEST(TilingsCreate, RefusesGeometriesWithoutSoundTiles) {
    std::unique_ptr<State> state(doubleState({{0.0, 8.0}, {1.0, 1.0}, {0.0, INFINITY}}));
    const double nan = std::nan("");
    struct Case {
        const char* what;
        int tilings;
        VarList vars;
    };
    const std::vector<Case> cases{
        {"no tilings", 0, VarList{tiledVar(0, 0.5, Types::CLIP)}},
        {"negative tilings", -3, VarList{tiledVar(0, 0.5, Types::CLIP)}},
        {"no variables", 4, VarList{}},
        {"max == min", 4, VarList{tiledVar(1, 0.5, Types::CIRCLE)}},
        {"infinite max", 4, VarList{tiledVar(2, 0.5, Types::CIRCLE)}},
        {"zero resolution", 4, VarList{tiledVar(0, 0.0, Types::CLIP)}},
        {"negative resolution", 4, VarList{tiledVar(0, -0.5, Types::WRAP)}},
        {"NaN resolution", 4, VarList{tiledVar(0, nan, Types::CLIP)}},
        {"infinite resolution", 4, VarList{tiledVar(0, INFINITY, Types::CLIP)}},
        {"unknown id", 4, VarList{tiledVar(3, 0.5, Types::CLIP)}},
        {"negative id", 4, VarList{tiledVar(-1, 0.5, Types::CLIP)}},
        {"too many tiles", 1, VarList{tiledVar(0, 1e-12, Types::CLIP)}},
        {"product beyond int", 1,
         VarList{tiledVar(0, 8.0 / 2000, Types::CLIP), tiledVar(0, 8.0 / 2000, Types::CLIP),
                 tiledVar(0, 8.0 / 2000, Types::CLIP)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(refusedCreate(state.get(), c.tilings, c.vars).empty());
    }
    // The creating State must hold floating-point variables.
    State intState;
    intState.registerVariable("i", 0, 10);
    EXPECT_FALSE(refusedCreate(&intState, 4, VarList{tiledVar(0, 0.5, Types::CLIP)}).empty());
}

TEST(TilingsCreate, RefusesActionLayoutsWithoutActionsOrBeyondInt) {
    std::unique_ptr<State> state(doubleState({{0.0, 8.0}}));
    ActionTilings none(2, VarList{tiledVar(0, 0.5, Types::CLIP)});
    testing::internal::CaptureStderr();
    none.create(state.get(), 0);
    EXPECT_EQ(reportMessages(testing::internal::GetCapturedStderr()), (std::vector<std::string>{"ACTIONS[0] <= 0"}));
    EXPECT_FALSE(none.hasWeights());

    // 1 tiling of 50000 tiles fits an int; times 50000 actions it does not.
    ActionTilings many(1, VarList{tiledVar(0, 8.0 / 50000, Types::CLIP)});
    testing::internal::CaptureStderr();
    many.create(state.get(), 50000);
    EXPECT_EQ(reportMessages(testing::internal::GetCapturedStderr()).size(), 1u);
    EXPECT_FALSE(many.hasWeights());
    many.create(state.get(), 2);
    EXPECT_TRUE(many.hasWeights());

    // After a refusal for a huge number of actions, the trace operations
    // for a valid index find no tile (and compute nothing that overflows).
    ActionProbe huge(4, VarList{tiledVar(0, 0.5, Types::CLIP)});
    testing::internal::CaptureStderr();
    huge.create(state.get(), 1000000000);
    EXPECT_EQ(reportMessages(testing::internal::GetCapturedStderr()).size(), 1u);
    huge.replacingTraces(1.0, 3);
    huge.accumulatingTraces(1.0, 3);
    huge.storeActiveTiles(3);
    huge.storeEpisodeState(3);
    EXPECT_TRUE(huge.traceMap().empty());
    EXPECT_TRUE(huge.visited().empty());
}

TEST(TileCoding, ARefusedGroupIsNeitherAppendedNorCounted) {
    StateTileCoding vf(doubleState({{0.0, 8.0}}));
    vf.registerTiling(new StateTilings(4, VarList{tiledVar(0, 0.5, Types::CLIP)}));
    testing::internal::CaptureStderr();
    vf.registerTiling(new StateTilings(8, VarList{tiledVar(0, -1.0, Types::CLIP)}));
    EXPECT_EQ(reportMessages(testing::internal::GetCapturedStderr()).size(), 2u);
    EXPECT_EQ(vf.getNumberOfGroups(), 1);
    EXPECT_EQ(vf.getNumberOfTilings(), 4);

    ActionTileCoding q(doubleState({{0.0, 8.0}}));
    testing::internal::CaptureStderr();
    q.registerTiling(new ActionTilings(4, VarList{tiledVar(0, 0.5, Types::CLIP)}));  // no actions yet
    EXPECT_EQ(reportMessages(testing::internal::GetCapturedStderr()),
              (std::vector<std::string>{"ACTIONS[0] <= 0", "Tiling refused --> not registered (and deleted)"}));
    EXPECT_EQ(q.getNumberOfGroups(), 0);
    EXPECT_EQ(q.getNumberOfTilings(), 0);
}

// ------------------------------------------------------------ state tilings

TEST(StateTilings, ValueIsThePlainSumOfTheActiveWeights) {
    EightGroup g(Types::CLIP);
    resetCounter(1.0);
    g.group.initWeights(&countUp);  // weight w holds w + 1
    g.at(0.25);                     // only tiling 0 has a tile
    EXPECT_EQ(g.group.getStateValue(), 1.0);
    g.at(1.9);
    EXPECT_EQ(g.group.getStateValue(), 0.0 + 1 + 2 + 3 + 4);
    g.at(8.0);
    EXPECT_EQ(g.group.getStateValue(), 0.0 + 13 + 14 + 15 + 16);

    StateTilings uncreated(4, VarList{tiledVar(0, 0.5, Types::CLIP)});
    testing::internal::CaptureStderr();
    EXPECT_EQ(uncreated.getStateValue(), DBL_MAX);
    EXPECT_EQ(reportMessages(testing::internal::GetCapturedStderr()), (std::vector<std::string>{NO_WEIGHTS}));
}

TEST(StateTilings, MapTracesAccumulateReplaceAndDecayWithoutPruning) {
    EightGroup g(Types::CLIP);
    g.at(1.9);
    g.group.accumulatingTraces(1.0);
    g.group.accumulatingTraces(1.0);
    EXPECT_EQ(g.group.traceMap(), (std::map<int, double>{{0, 2.0}, {1, 2.0}, {2, 2.0}, {3, 2.0}}));
    g.group.replacingTraces(1.0);
    EXPECT_EQ(g.group.traceMap(), (std::map<int, double>{{0, 1.0}, {1, 1.0}, {2, 1.0}, {3, 1.0}}));
    g.group.updateEligibilityTraces(0.0, 0.9);
    EXPECT_EQ(g.group.traceMap(), (std::map<int, double>{{0, 0.0}, {1, 0.0}, {2, 0.0}, {3, 0.0}}));
    g.group.initEligibilityTraces();
    EXPECT_TRUE(g.group.traceMap().empty());
}

TEST(StateTilings, ArrayTracesNeedTheirArrayWhichIsAllocatedOnce) {
    EightGroup g(Types::CLIP);
    g.group.setTraceStorage(Types::ARRAY);
    g.at(1.9);
    testing::internal::CaptureStderr();
    g.group.replacingTraces(1.0);
    g.group.updateEligibilityTraces(0.9, 0.9);
    const std::vector<std::string> messages = reportMessages(testing::internal::GetCapturedStderr());
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0],
              "traceStorage == ARRAY and eTraces == 0 --> Set traceStorage to MAP or call initEligibilityTraces "
              "before calling updateWeights!");
    EXPECT_EQ(messages[1],
              "traceStorage == ARRAY and eTraces == 0 --> Set traceStorage to MAP or call initEligibilityTraces "
              "before calling updateEligibilityTraces!");
    EXPECT_EQ(g.group.traceArray(), nullptr);

    g.group.initEligibilityTraces();
    const double* first = g.group.traceArray();
    ASSERT_NE(first, nullptr);
    g.group.accumulatingTraces(0.5);
    g.group.accumulatingTraces(0.5);
    EXPECT_EQ(first[0], 1.0);
    EXPECT_EQ(first[4], 0.0);
    g.group.initEligibilityTraces();
    EXPECT_EQ(g.group.traceArray(), first);
    EXPECT_EQ(first[0], 0.0);
}

TEST(StateTilings, UpdatesWithoutTracesUseTheStoredIndicesAndSkipNoTiles) {
    EightGroup g(Types::CLIP);
    g.at(0.25);  // {0, -1, -1, -1}
    g.group.storeActiveTiles();
    const int* stored = g.group.stored();
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(std::vector<int>(stored, stored + 4), (std::vector<int>{0, -1, -1, -1}));
    g.group.updateWeights(0.5, 2.0);
    std::vector<double> expected(16, 0.0);
    expected[0] = 0.5 * 2.0;
    EXPECT_EQ(g.group.weightList(), expected);
    g.at(1.9);
    g.group.storeActiveTiles();
    EXPECT_EQ(g.group.stored(), stored);  // allocated once

    // An ARRAY trace array of zeros wins over stored indices: nothing moves.
    g.group.setTraceStorage(Types::ARRAY);
    g.group.initEligibilityTraces();
    g.group.updateWeights(0.5, 2.0);
    EXPECT_EQ(g.group.weightList(), expected);
}

TEST(StateTilings, UpdateWithNeitherTracesNorStoredIndicesReportsPerStorage) {
    EightGroup g(Types::CLIP);
    testing::internal::CaptureStderr();
    g.group.updateWeights(1.0, 1.0);
    g.group.setTraceStorage(Types::ARRAY);
    g.group.updateWeights(1.0, 1.0);
    g.group.setTraceStorage(static_cast<Types::TRACE_STORAGE>(5));
    g.group.updateWeights(1.0, 1.0);
    g.group.replacingTraces(1.0);
    const std::vector<std::string> messages = reportMessages(testing::internal::GetCapturedStderr());
    EXPECT_EQ(messages, (std::vector<std::string>{
                            "traceStorage == MAP and eTracesMap == empty and storedActiveIndices == 0 --> Set "
                            "traceStorage to ARRAY or call initEligibilityTraces or storeState before calling "
                            "updateWeights!",
                            "traceStorage == ARRAY and eTraces == 0 and storedActiveIndices == 0 --> Set "
                            "traceStorage to MAP or call initEligibilityTraces or storeState before calling "
                            "updateWeights!",
                            "Unknown traceStorage = 5", "Unknown traceStorage = 5"}));
    for (double w : g.group.weightList()) EXPECT_EQ(w, 0.0);
}

TEST(StateTilings, EpisodeIndicesAreRecordedOnceAndValuedEachTime) {
    EightGroup g(Types::CLIP);
    testing::internal::CaptureStderr();
    g.group.valueEpisode(1.0);
    EXPECT_EQ(reportMessages(testing::internal::GetCapturedStderr()),
              (std::vector<std::string>{"episodeIndexHistorySet is empty! Did you forget to set "
                                        "ValueFunction::episodeStateHistory to true?"}));
    g.at(1.9);
    g.group.storeEpisodeState();
    g.group.storeEpisodeState();
    g.at(0.25);
    g.group.storeEpisodeState();
    EXPECT_EQ(g.group.visited(), (std::set<int>{0, 1, 2, 3}));
    g.group.valueEpisode(1.0);
    g.group.valueEpisode(1.0);
    const std::vector<double> w = g.group.weightList();
    for (int i = 0; i < 16; ++i) EXPECT_EQ(w[static_cast<std::size_t>(i)], i < 4 ? 2.0 : 0.0);
    g.group.initEpisodeStateHistory();
    EXPECT_TRUE(g.group.visited().empty());
}

TEST(StateTilings, StatisticsAndClamping) {
    std::unique_ptr<State> state(doubleState({{0.0, 1.0}}));
    StateProbe group(1, VarList{tiledVar(0, 0.5, Types::CLIP)});
    group.create(state.get());
    ASSERT_EQ(group.arraySize(), 2);
    setSequence({-1.0, 2.0});
    group.initWeights(&fromSequence);
    int n = 5;
    EXPECT_EQ(group.getWeightSum(true, n), 3.0);
    EXPECT_EQ(n, 7);
    EXPECT_EQ(group.getWeightSum(false, n), 1.0);
    EXPECT_EQ(group.getMinWeight(), -1.0);
    EXPECT_EQ(group.getMaxWeight(), 2.0);
    group.checkWeightLimit(-0.5, 1.5);
    EXPECT_EQ(group.weightList(), (std::vector<double>{-0.5, 1.5}));

    StateTilings uncreated(1, VarList{tiledVar(0, 0.5, Types::CLIP)});
    testing::internal::CaptureStderr();
    int count = 3;
    EXPECT_EQ(uncreated.getMinWeight(), DBL_MAX);
    EXPECT_EQ(uncreated.getMaxWeight(), -DBL_MAX);
    EXPECT_EQ(uncreated.getWeightSum(false, count), 0.0);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(reportMessages(testing::internal::GetCapturedStderr()).size(), 3u);
}

// ----------------------------------------------------------- action tilings

namespace {

// One CLIP variable on [0, 3] with 3 tiles in 2 tilings; x = 2.9 activates
// tile 2 of both tilings.
struct ActionGroup {
    std::unique_ptr<State> state{doubleState({{0.0, 3.0}})};
    ActionProbe group{2, VarList{tiledVar(0, 0.5, Types::CLIP)}};
    explicit ActionGroup(int actions) {
        group.create(state.get(), actions);
        resetCounter();
        group.initWeights(&countUp);
        state->setValueDbl(0, 2.9);
        group.activateTiles();
    }
};

}  // namespace

TEST(ActionTilings, SetActionValueTouchesExactlyThatActionsWeights) {
    ActionGroup g(3);
    g.group.initWeights(&zero);
    g.group.setActionValue(1, 5.0);
    const std::vector<double> w = g.group.weightList();
    ASSERT_EQ(w.size(), 18u);
    for (int i = 0; i < 18; ++i) {
        const bool action1 = (i % 6) == 2 || (i % 6) == 3;  // 2, 3, 8, 9, 14, 15
        EXPECT_EQ(w[static_cast<std::size_t>(i)], action1 ? 5.0 : 0.0) << "weight " << i;
    }
    g.group.setActiveActionValue(2, 7.0);  // tile 2: block 12..17, action 2 at 16, 17
    EXPECT_EQ(g.group.weightList()[16], 7.0);
    EXPECT_EQ(g.group.weightList()[17], 7.0);
    EXPECT_EQ(g.group.getActionValue(2), 14.0);
}

TEST(ActionTilings, OutOfRangeActionIndicesReportAndTouchNothing) {
    ActionGroup g(3);
    const std::vector<double> before = g.group.weightList();
    testing::internal::CaptureStderr();
    EXPECT_EQ(g.group.getActionValue(3), 0.0);
    EXPECT_EQ(g.group.getActionValue(-1), 0.0);
    g.group.setActionValue(3, 1.0);
    g.group.setActiveActionValue(-1, 1.0);
    g.group.replacingTraces(1.0, 3);
    g.group.accumulatingTraces(1.0, -1);
    g.group.storeActiveTiles(7);
    g.group.storeEpisodeState(3);
    const std::vector<std::string> messages = reportMessages(testing::internal::GetCapturedStderr());
    ASSERT_EQ(messages.size(), 8u);
    EXPECT_EQ(messages[0], "actionIndex[3] out of bounds [ 0, 3)");
    EXPECT_EQ(messages[1], "actionIndex[-1] out of bounds [ 0, 3)");
    EXPECT_EQ(g.group.weightList(), before);
    EXPECT_TRUE(g.group.traceMap().empty());
    EXPECT_EQ(g.group.stored(), nullptr);
    EXPECT_TRUE(g.group.visited().empty());
}

TEST(ActionTilings, ReplacingTracesClearTheOtherActionsOnTheActiveTiles) {
    ActionGroup g(3);
    g.group.replacingTraces(1.0, 1);
    EXPECT_EQ(g.group.traceMap(), (std::map<int, double>{{14, 1.0}, {15, 1.0}}));
    g.group.replacingTraces(1.0, 0);
    EXPECT_EQ(g.group.traceMap(), (std::map<int, double>{{12, 1.0}, {13, 1.0}}));

    ActionGroup a(3);
    a.group.setTraceStorage(Types::ARRAY);
    a.group.initEligibilityTraces();
    a.group.accumulatingTraces(0.25, 2);
    a.group.replacingTraces(1.0, 1);
    a.group.replacingTraces(1.0, 0);
    const double* traces = a.group.traceArray();
    for (int i = 0; i < 18; ++i) EXPECT_EQ(traces[i], (i == 12 || i == 13) ? 1.0 : 0.0) << "trace " << i;
}

TEST(ActionTilings, AccumulatingTracesLeaveTheOtherActionsAlone) {
    ActionGroup g(3);
    g.group.replacingTraces(0.5, 0);
    g.group.accumulatingTraces(1.0, 2);
    g.group.accumulatingTraces(1.0, 2);
    EXPECT_EQ(g.group.traceMap(), (std::map<int, double>{{12, 0.5}, {13, 0.5}, {16, 2.0}, {17, 2.0}}));
}

TEST(ActionTilings, StoredAndVisitedIndicesBelongToTheGivenAction) {
    ActionGroup g(3);
    g.group.storeActiveTiles(2);
    EXPECT_EQ(std::vector<int>(g.group.stored(), g.group.stored() + 2), (std::vector<int>{16, 17}));
    g.group.initWeights(&zero);
    g.group.updateWeights(0.5, 1.0);
    EXPECT_EQ(g.group.getActionValue(2), 1.0);
    EXPECT_EQ(g.group.getActionValue(1), 0.0);
    g.group.storeEpisodeState(1);
    EXPECT_EQ(g.group.visited(), (std::set<int>{14, 15}));
}

TEST(ActionTilings, RemovingAnActionShiftsTheLaterActionsDown) {
    // Weight w holds w; per tile block of 6: a0t0 a0t1 a1t0 a1t1 a2t0 a2t1.
    const std::vector<std::vector<double>> expected{
        {2, 3, 4, 5, 8, 9, 10, 11, 14, 15, 16, 17},  // remove the first
        {0, 1, 4, 5, 6, 7, 10, 11, 12, 13, 16, 17},  // a middle one
        {0, 1, 2, 3, 6, 7, 8, 9, 12, 13, 14, 15},    // the last
    };
    for (int removed = 0; removed < 3; ++removed) {
        SCOPED_TRACE(removed);
        ActionGroup g(3);
        g.group.replacingTraces(1.0, 0);
        g.group.storeActiveTiles(0);
        g.group.storeEpisodeState(0);
        EXPECT_TRUE(g.group.removeAction(removed));
        EXPECT_EQ(g.group.getNumberOfActions(), 2);
        EXPECT_EQ(g.group.arraySize(), 12);
        EXPECT_EQ(g.group.stride(0), 4);
        EXPECT_EQ(g.group.weightList(), expected[static_cast<std::size_t>(removed)]);
        // Nothing of the old layout survives.
        EXPECT_TRUE(g.group.traceMap().empty());
        EXPECT_EQ(g.group.stored(), nullptr);
        EXPECT_TRUE(g.group.visited().empty());
        EXPECT_EQ(g.group.activeList(), (std::vector<int>{-1, -1}));
        EXPECT_EQ(g.group.getActionValue(1), 0.0);
        g.group.activateTiles();
        EXPECT_EQ(g.group.activeList(), (std::vector<int>{8, 9}));
        const std::vector<double>& e = expected[static_cast<std::size_t>(removed)];
        EXPECT_EQ(g.group.getActionValue(1), 0.0 + e[10] + e[11]);
    }

    ActionGroup arrayGroup(3);
    arrayGroup.group.setTraceStorage(Types::ARRAY);
    arrayGroup.group.initEligibilityTraces();
    EXPECT_TRUE(arrayGroup.group.removeAction(1));
    EXPECT_EQ(arrayGroup.group.traceArray(), nullptr);
}

TEST(ActionTilings, RemovalIsRefusedForTheLastActionAndUnknownIndices) {
    ActionGroup one(1);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(one.group.removeAction(0));
    EXPECT_EQ(reportMessages(testing::internal::GetCapturedStderr()),
              (std::vector<std::string>{"ACTIONS == 1 --> Can not remove last action!"}));
    EXPECT_EQ(one.group.arraySize(), 6);

    ActionGroup three(3);
    const std::vector<double> before = three.group.weightList();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(three.group.removeAction(3));
    EXPECT_EQ(reportMessages(testing::internal::GetCapturedStderr()),
              (std::vector<std::string>{"actionIndex[3] out of bounds [ 0, 3)"}));
    EXPECT_EQ(three.group.weightList(), before);
    EXPECT_EQ(three.group.getNumberOfActions(), 3);
}

// ------------------------------------------------------------- containers

namespace {

// Two groups on one variable on [0, 8], of 4 and 8 tilings; at x = 3.3
// every tiling has an active tile.
template <class G, class VF>
void registerGroups(VF& vf, G** groups) {
    groups[0] = new G(4, VarList{tiledVar(0, 0.5, Types::CLIP)});
    groups[1] = new G(8, VarList{tiledVar(0, 0.25, Types::WRAP)});
    vf.registerTiling(groups[0]);
    vf.registerTiling(groups[1]);
}
void registerFourAndEight(StateTileCoding& vf, StateProbe** groups) { registerGroups(vf, groups); }
void registerFourAndEight(ActionTileCoding& q, ActionProbe** groups) { registerGroups(q, groups); }

}  // namespace

TEST(StateTileCoding, StepSizeIsSharedOutOverAllTilings) {
    StateTileCoding vf(doubleState({{0.0, 8.0}}));
    StateProbe* groups[2];
    registerFourAndEight(vf, groups);
    ASSERT_EQ(vf.getNumberOfTilings(), 12);
    vf.getStatePtr()->setValueDbl(0, 3.3);
    vf.setState();
    for (StateProbe* g : groups) {
        for (int index : g->activeList()) ASSERT_NE(index, -1);
    }
    EXPECT_EQ(vf.getStateValue(), 0.0);
    vf.replacingTraces(1.0);
    vf.updateWeights(0.12, 1.0);

    const double step = (0.12 / 12) * 1.0 * 1.0;
    double group4 = 0.0, group8 = 0.0;
    for (int t = 0; t < 4; ++t) group4 += step;
    for (int t = 0; t < 8; ++t) group8 += step;
    for (StateProbe* g : groups) {
        for (int index : g->activeList()) EXPECT_EQ(g->weightArray()[index], step);
    }
    EXPECT_EQ(vf.getStateValue(), 0.0 + group4 + group8);
    EXPECT_NEAR(vf.getStateValue(), 0.12, 1e-15);
}

TEST(ActionTileCoding, StepSizeIsSharedOutAndOnlyTheTracedActionMoves) {
    ActionTileCoding q(doubleState({{0.0, 8.0}}));
    for (int a = 0; a < 3; ++a) q.registerAction(new AbstractAction());
    ActionProbe* groups[2];
    registerFourAndEight(q, groups);
    ASSERT_EQ(q.getNumberOfTilings(), 12);
    q.getStatePtr()->setValueDbl(0, 3.3);
    q.setState();
    // rand() picks among equal values; the traced action is whichever it chose.
    q.setGreedyActionIndex();
    const int traced = q.getActiveActionIndex();
    q.replacingTraces(1.0);
    q.updateWeights(0.12, 1.0);
    const double step = (0.12 / 12) * 1.0 * 1.0;
    double expected = 0.0, group4 = 0.0, group8 = 0.0;
    for (int t = 0; t < 4; ++t) group4 += step;
    for (int t = 0; t < 8; ++t) group8 += step;
    expected = 0.0 + group4 + group8;
    for (int a = 0; a < 3; ++a) EXPECT_EQ(q.getActionValue(a), a == traced ? expected : 0.0) << "action " << a;
}

TEST(StateTileCoding, MapAndArrayTracesLearnTheSameWeights) {
    std::vector<double> results[2];
    for (int storage = 0; storage < 2; ++storage) {
        StateTileCoding vf(doubleState({{0.0, 8.0}}));
        StateProbe* groups[2];
        registerFourAndEight(vf, groups);
        vf.setTraceStorage(static_cast<Types::TRACE_STORAGE>(storage));
        vf.initEligibilityTraces();
        const double xs[] = {0.3, 1.7, 2.2, 6.9, 7.95};
        for (double x : xs) {
            vf.updateEligibilityTraces(0.9, 0.8);
            vf.accumulatingTraces(1.0);
            vf.getStatePtr()->setValueDbl(0, x);
            vf.setState();
            vf.updateWeights(0.3, 1.0 - vf.getStateValue());
            vf.replacingTraces(0.5);
        }
        for (StateProbe* g : groups) {
            const std::vector<double> w = g->weightList();
            results[storage].insert(results[storage].end(), w.begin(), w.end());
        }
    }
    ASSERT_EQ(results[0].size(), results[1].size());
    for (std::size_t i = 0; i < results[0].size(); ++i) {
        EXPECT_TRUE(test_support::sameBits(results[0][i], results[1][i])) << "weight " << i;
    }
}

TEST(TileCoding, ExtremesAndMeanOverAllGroups) {
    StateTileCoding vf(doubleState({{0.0, 1.0}}));
    EXPECT_EQ(vf.getMinWeight(), DBL_MAX);
    EXPECT_EQ(vf.getMaxWeight(), -DBL_MAX);
    EXPECT_TRUE(std::isnan(vf.getAvgWeight(false)));

    setSequence({1.0, 2.0, 3.0});
    vf.setInitWeightsFunctionPtr(&fromSequence);
    vf.registerTiling(new StateTilings(1, VarList{tiledVar(0, 0.5, Types::CLIP)}));  // 2 weights
    vf.registerTiling(new StateTilings(1, VarList{tiledVar(0, 1.0, Types::CLIP)}));  // 1 weight
    EXPECT_EQ(vf.getAvgWeight(false), 2.0);
    EXPECT_EQ(vf.getMinWeight(), 1.0);
    EXPECT_EQ(vf.getMaxWeight(), 3.0);

    StateTileCoding absolute(doubleState({{0.0, 1.0}}));
    setSequence({-1.0, 3.0});
    absolute.setInitWeightsFunctionPtr(&fromSequence);
    absolute.registerTiling(new StateTilings(1, VarList{tiledVar(0, 0.5, Types::CLIP)}));
    EXPECT_EQ(absolute.getAvgWeight(true), 2.0);
    EXPECT_EQ(absolute.getAvgWeight(false), 1.0);
}

TEST(TileCoding, EmptyContainerHasNoValueAndNothingToUpdate) {
    StateTileCoding vf(doubleState({{0.0, 1.0}}));
    testing::internal::CaptureStderr();
    vf.setState();
    vf.updateWeights(0.5, 1.0);
    EXPECT_EQ(vf.getStateValue(), 0.0);
    EXPECT_TRUE(reportMessages(testing::internal::GetCapturedStderr()).empty());

    ActionTileCoding q(doubleState({{0.0, 1.0}}));
    q.registerAction(new AbstractAction());
    q.registerAction(new AbstractAction());
    EXPECT_EQ(q.getActionValue(0), 0.0);
    EXPECT_EQ(q.getActionValue(1), 0.0);
}

TEST(TileCoding, CallsThroughEitherBaseReachTheSameBody) {
    StateTileCoding vf(doubleState({{0.0, 8.0}}));
    StateProbe* group = new StateProbe(4, VarList{tiledVar(0, 0.5, Types::CLIP)});
    vf.registerTiling(group);
    ValueFunction* asValueFunction = &vf;
    TileCoding* asTileCoding = &vf;
    vf.getStatePtr()->setValueDbl(0, 1.9);
    asValueFunction->setState();
    asTileCoding->replacingTraces(1.0);
    asValueFunction->updateWeights(0.4, 1.0);
    asTileCoding->updateWeights(0.4, 1.0);
    EXPECT_EQ(group->weightArray()[0], 0.0 + (0.4 / 4) + (0.4 / 4));
    EXPECT_EQ(asValueFunction->getAvgWeight(false), asTileCoding->getAvgWeight(false));
    EXPECT_EQ(asValueFunction->getMaxWeight(), asTileCoding->getMaxWeight());
}

TEST(TileCoding, TraceStorageIsSetForTheGroupsRegisteredSoFar) {
    StateTileCoding vf(doubleState({{0.0, 8.0}}));
    StateProbe* first = new StateProbe(4, VarList{tiledVar(0, 0.5, Types::CLIP)});
    StateProbe* second = new StateProbe(4, VarList{tiledVar(0, 0.5, Types::CLIP)});
    vf.registerTiling(first);
    vf.setTraceStorage(Types::ARRAY);
    vf.registerTiling(second);
    EXPECT_EQ(first->storage(), Types::ARRAY);
    EXPECT_EQ(second->storage(), Types::MAP);
    EXPECT_EQ(first->traceArray(), nullptr);  // setTraceStorage allocates nothing
    testing::internal::CaptureStderr();
    vf.updateEligibilityTraces(0.9, 0.9);
    EXPECT_EQ(reportMessages(testing::internal::GetCapturedStderr()).size(), 1u);
}

TEST(TileCoding, WeightLimitsApplyOnlyOnceSet) {
    StateTileCoding vf(doubleState({{0.0, 1.0}}));
    setSequence({DBL_MAX, -DBL_MAX});
    vf.setInitWeightsFunctionPtr(&fromSequence);
    StateProbe* group = new StateProbe(1, VarList{tiledVar(0, 0.5, Types::CLIP)});
    vf.registerTiling(group);
    vf.checkWeightLimit();
    EXPECT_EQ(group->weightList(), (std::vector<double>{DBL_MAX, -DBL_MAX}));
    vf.setMaxWeightLimit(1.0);
    vf.checkWeightLimit();
    EXPECT_EQ(group->weightList(), (std::vector<double>{1.0, -DBL_MAX}));
}

TEST(TileCoding, EpisodeHistoryFollowsTracesAndStoredStates) {
    StateTileCoding vf(doubleState({{0.0, 8.0}}));
    StateProbe* group = new StateProbe(4, VarList{tiledVar(0, 0.5, Types::CLIP)});
    vf.registerTiling(group);
    vf.getStatePtr()->setValueDbl(0, 1.9);
    vf.setState();
    vf.replacingTraces(1.0);
    EXPECT_TRUE(group->visited().empty());  // history off
    vf.setEpisodeStateHistory(true);
    vf.replacingTraces(1.0);
    vf.storeState();
    EXPECT_EQ(group->visited(), (std::set<int>{0, 1, 2, 3}));
    vf.valueEpisode(0.5);
    EXPECT_EQ(vf.getStateValue(), 0.0 + 0.5 + 0.5 + 0.5 + 0.5);

    ActionTileCoding q(doubleState({{0.0, 3.0}}));
    for (int a = 0; a < 3; ++a) q.registerAction(new AbstractAction());
    ActionProbe* actionGroup = new ActionProbe(2, VarList{tiledVar(0, 0.5, Types::CLIP)});
    q.registerTiling(actionGroup);
    q.setEpisodeStateHistory(true);
    q.getStatePtr()->setValueDbl(0, 2.9);
    q.setState();
    setSeed(1);
    q.setRandomActionIndex();
    const int a = q.getActiveActionIndex();
    q.storeState();
    EXPECT_EQ(actionGroup->visited(), (std::set<int>{12 + 2 * a, 13 + 2 * a}));
    q.valueEpisode(0.25);
    EXPECT_EQ(q.getActionValue(a), 0.5);
}

TEST(ActionTileCoding, SetActionValueAndRemovalCoverEveryGroup) {
    ActionTileCoding q(doubleState({{0.0, 8.0}}));
    AbstractAction* first = new AbstractAction();
    q.registerAction(first);
    for (int a = 1; a < 3; ++a) q.registerAction(new AbstractAction());
    ActionProbe* groups[2];
    registerFourAndEight(q, groups);
    q.getStatePtr()->setValueDbl(0, 3.3);
    q.setState();
    q.setActionValue(2, 0.5);
    EXPECT_EQ(q.getActionValue(2), 0.5 * 12);
    EXPECT_EQ(q.getActionValue(1), 0.0);

    q.unregisterAction(0);  // the weights of actions 1 and 2 become those of 0 and 1
    delete first;           // handed back to us
    EXPECT_EQ(q.getNumberOfActions(), 2);
    for (ActionProbe* g : groups) EXPECT_EQ(g->getNumberOfActions(), 2);
    q.setState();
    EXPECT_EQ(q.getActionValue(1), 0.5 * 12);
    EXPECT_EQ(q.getActionValue(0), 0.0);

    testing::internal::CaptureStderr();
    EXPECT_EQ(q.getActionValue(2), 0.0);
    q.setActionValue(-1, 3.0);
    EXPECT_EQ(reportMessages(testing::internal::GetCapturedStderr()),
              (std::vector<std::string>{"actionIndex[2] out of bounds [ 0, 2)", "actionIndex[-1] out of bounds [ 0, 2)"}));
}

TEST(ActionTileCoding, RemovingTheLastActionIsRefusedByEveryGroup) {
    ActionTileCoding q(doubleState({{0.0, 8.0}}));
    AbstractAction* only = new AbstractAction();
    q.registerAction(only);
    ActionProbe* groups[2];
    registerFourAndEight(q, groups);
    testing::internal::CaptureStderr();
    q.unregisterAction(0);
    const std::vector<std::string> messages = reportMessages(testing::internal::GetCapturedStderr());
    EXPECT_EQ(messages, (std::vector<std::string>{"ACTIONS == 1 --> Can not remove last action!",
                                                   "Action could not be removed!",
                                                   "ACTIONS == 1 --> Can not remove last action!",
                                                   "Action could not be removed!"}));
    for (ActionProbe* g : groups) EXPECT_EQ(g->getNumberOfActions(), 1);
    delete only;  // unregistering hands the action back
}

TEST(ActionTileCoding, TraceOperationsNeedAnActiveAction) {
    ActionTileCoding q(doubleState({{0.0, 3.0}}));
    q.registerAction(new AbstractAction());
    ActionProbe* group = new ActionProbe(2, VarList{tiledVar(0, 0.5, Types::CLIP)});
    q.registerTiling(group);
    q.setState();
    testing::internal::CaptureStderr();
    q.replacingTraces(1.0);
    q.accumulatingTraces(1.0);
    q.storeState();
    EXPECT_EQ(reportMessages(testing::internal::GetCapturedStderr()),
              std::vector<std::string>(3, "actionIndex[-1] out of bounds [ 0, 1)"));
    EXPECT_TRUE(group->traceMap().empty());
    EXPECT_EQ(group->stored(), nullptr);
}

TEST(TileCoding, ConstructorsResetTheClassWideInitialWeight) {
    ValueFunction::setValue(0.25);
    StateTileCoding before(doubleState({{0.0, 1.0}}));
    StateProbe* g1 = new StateProbe(1, VarList{tiledVar(0, 0.5, Types::CLIP)});
    before.registerTiling(g1);
    EXPECT_EQ(g1->weightList(), (std::vector<double>{0.0, 0.0}));

    ActionTileCoding q(doubleState({{0.0, 1.0}}));
    q.registerAction(new AbstractAction());
    ValueFunction::setValue(0.25);
    ActionProbe* g2 = new ActionProbe(1, VarList{tiledVar(0, 0.5, Types::CLIP)});
    q.registerTiling(g2);
    EXPECT_EQ(g2->weightList(), (std::vector<double>{0.25, 0.25}));
    ValueFunction::setValue(0.0);
}

TEST(TileCoding, RegisteringTheSameGroupTwiceKeepsOneCopy) {
    StateTileCoding vf(doubleState({{0.0, 1.0}}));
    StateTilings* group = new StateTilings(2, VarList{tiledVar(0, 0.5, Types::CLIP)});
    vf.registerTiling(group);
    testing::internal::CaptureStderr();
    vf.registerTiling(group);
    vf.registerTiling(nullptr);
    EXPECT_EQ(reportMessages(testing::internal::GetCapturedStderr()).size(), 2u);
    EXPECT_EQ(vf.getNumberOfGroups(), 1);
    EXPECT_EQ(vf.getNumberOfTilings(), 2);
}
