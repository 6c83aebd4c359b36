#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
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

using test_support::stderrReports;
using namespace tile_test;

namespace {

using Messages = std::vector<std::string>;
const char* const NO_WEIGHTS = "weights == 0 --> Maybe forgot to call create?";

// The tile number the activation rules give, written out again here from
// the formulas so that the expected indices do not come from the code.
int clipTile(double x, double min, double off, double w, int tiles) {
    const int n = static_cast<int>(std::floor((x - min - off) / w));
    return n < 0 ? 0 : (n > tiles - 1 ? tiles - 1 : n);
}

// 4 tilings over one variable on [0, 8] with resolution 0.5: tiles of
// width 2 (4 of them, 5 for WRAP), tiling t offset by 0.5 t.
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

// 2 tilings over one CLIP variable on [0, 3] (3 tiles) for the given
// actions; weight w holds w. x = 2.9 activates tile 2 of both tilings, so
// with 3 actions action a lies at 12 + 2 a and 13 + 2 a.
struct ActionGroup {
    std::unique_ptr<State> state{doubleState({{0.0, 3.0}})};
    ActionProbe group{2, VarList{tiledVar(0, 0.5, Types::CLIP)}};
    explicit ActionGroup(int actions) {
        group.create(state.get(), actions);
        countFrom(0.0, 2 * 3 * static_cast<std::size_t>(actions));
        group.initWeights(&fromSequence);
        state->setValueDbl(0, 2.9);
        group.activateTiles();
    }
};

// Two groups on one variable on [0, 8], of 4 and 8 tilings; at x = 3.3,
// which this sets, every tiling has a tile.
template <class G, class VF>
std::vector<G*> fourAndEight(VF& vf) {
    std::vector<G*> groups{new G(4, VarList{tiledVar(0, 0.5, Types::CLIP)}),
                           new G(8, VarList{tiledVar(0, 0.25, Types::WRAP)})};
    for (G* g : groups) vf.registerTiling(g);
    vf.getStatePtr()->setValueDbl(0, 3.3);
    return groups;
}

// The value of both groups after every tiling gained step, summed as the
// groups and the container sum.
double twelveSteps(double step) {
    double group4 = 0.0, group8 = 0.0;
    for (int t = 0; t < 4; ++t) group4 += step;
    for (int t = 0; t < 8; ++t) group8 += step;
    return 0.0 + group4 + group8;
}

}  // namespace

// ---------------------------------------------------------------- geometry

TEST(TilingsGeometry, CountsWidthsOffsetsStridesAndSizeFollowTheBounds) {
    struct Case {
        const char* what;
        std::vector<std::pair<double, double>> bounds;
        int tilings, actions;
        VarList vars;
        std::vector<int> tiles, strides;
        std::vector<double> widths, resolutions;  // the resolutions as create() corrects them
        int size;
    };
    const Case cases[] = {
        {"CLIP: ceil(10 / 1.2) tiles", {{0.0, 10.0}}, 4, 1, {tiledVar(0, 0.3, Types::CLIP)}, {9}, {4}, {10.0 / 9},
         {10.0 / 36}, 36},
        {"WRAP: one tile more", {{0.0, 10.0}}, 4, 1, {tiledVar(0, 0.3, Types::WRAP)}, {10}, {4}, {10.0 / 9},
         {10.0 / 36}, 40},
        {"CIRCLE: as CLIP", {{0.0, 8.0}}, 4, 1, {tiledVar(0, 0.5, Types::CIRCLE)}, {4}, {4}, {2.0}, {0.5}, 16},
        {"two variables", {{0.0, 10.0}, {0.0, 5.0}}, 4, 1,
         {tiledVar(0, 0.3, Types::CLIP), tiledVar(1, 0.25, Types::CLIP)}, {9, 5}, {20, 4}, {10.0 / 9, 1.0},
         {10.0 / 36, 0.25}, 180},
        {"actions multiply strides and size", {{0.0, 3.0}}, 2, 4, {tiledVar(0, 0.5, Types::CLIP)}, {3}, {8}, {1.0},
         {0.5}, 24},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<State> state(doubleState(c.bounds));
        ActionProbe g(c.tilings, c.vars);
        g.create(state.get(), c.actions);
        ASSERT_TRUE(g.hasWeights());
        for (int d = 0; d < static_cast<int>(c.tiles.size()); ++d) {
            const std::size_t i = static_cast<std::size_t>(d);
            EXPECT_EQ(g.tileCount(d), c.tiles[i]);
            EXPECT_EQ(g.stride(d), c.strides[i]);
            EXPECT_EQ(g.width(d), c.widths[i]);
            EXPECT_EQ(g.resolution(d), c.resolutions[i]);
            for (int t = 0; t < c.tilings; ++t) EXPECT_EQ(g.offset(t, d), t * c.resolutions[i]);
        }
        EXPECT_EQ(g.arraySize(), c.size);
    }
}

// -------------------------------------------------------------- activation

TEST(TilingsActivation, EachTileTypeAtAndBetweenItsBounds) {
    const std::vector<int> circle{0, 13, 14, 15};  // 0 - 0.5 folds to 7.5: tile 3
    struct Case {
        int type;
        double x;
        std::vector<int> active;
    };
    const Case cases[] = {
        {Types::CLIP, 0.25, {0, -1, -1, -1}},    {Types::CLIP, 1.9, {0, 1, 2, 3}},
        {Types::CLIP, 8.0, {12, 13, 14, 15}},    // tile 3, tiling 0 by the clamp
        {Types::CLIP, std::nan(""), {-1, -1, -1, -1}},
        {Types::WRAP, 0.0, {0, 1, 2, 3}},        {Types::WRAP, 1.9, {0, 5, 6, 7}},
        {Types::WRAP, 8.0, {16, 17, 18, 19}},    {Types::CIRCLE, 0.0, circle},
        {Types::CIRCLE, 8.0, circle},            {Types::CIRCLE, 0.25, circle},
        {Types::CIRCLE, 16.25, circle},  // a whole turn further
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << " at " << c.x);
        EightGroup g(c.type);
        EXPECT_EQ(g.at(c.x), c.active);
    }

    // Two variables: tiling t + 20 n0 + 4 n1.
    std::unique_ptr<State> state(doubleState({{0.0, 10.0}, {0.0, 5.0}}));
    StateProbe group(4, VarList{tiledVar(0, 0.3, Types::CLIP), tiledVar(1, 0.25, Types::CLIP)});
    group.create(state.get());
    state->setValueDbl(0, 4.4);
    state->setValueDbl(1, 2.0);
    group.activateTiles();
    for (int t = 0; t < 4; ++t) {
        const int n0 = clipTile(4.4, 0.0, t * (10.0 / 36), 10.0 / 9, 9);
        EXPECT_EQ(group.active(t), t + 20 * n0 + 4 * clipTile(2.0, 0.0, t * 0.25, 1.0, 5)) << "tiling " << t;
    }
}

TEST(TilingsActivation, UnknownTileTypeIsReportedAndAddsNothing) {
    std::unique_ptr<State> state(doubleState({{0.0, 8.0}, {0.0, 8.0}}));
    StateProbe group(4, VarList{tiledVar(0, 0.5, 7), tiledVar(1, 0.5, Types::CLIP)});
    group.create(state.get());
    state->setValueDbl(1, 1.9);  // tile 0 of every tiling
    const Messages r = stderrReports([&] { group.activateTiles(); });
    EXPECT_EQ(r, Messages(4, "Unknown Tiletype[7] for Variable with id = 0"));
    EXPECT_EQ(group.activeList(), (std::vector<int>{0, 1, 2, 3}));
}

TEST(TilingsActivation, WrapOutsideItsBoundsIsNoTileEvenWhereTheIndexWouldAlias) {
    // A CLIP variable at tile 0 and a WRAP variable two tiles beyond its
    // last: the plain sum 0 + 6 * 4 would hit the real weight of tile (1, 1).
    std::unique_ptr<State> state(doubleState({{0.0, 8.0}, {0.0, 8.0}}));
    StateProbe group(4, VarList{tiledVar(0, 0.5, Types::CLIP), tiledVar(1, 0.5, Types::WRAP)});
    group.create(state.get());
    group.initWeights(&zero);
    ASSERT_EQ(group.arraySize(), 80);
    state->setValueDbl(0, 1.9);
    state->setValueDbl(1, 12.0);
    const Messages r = stderrReports([&] { group.activateTiles(); });
    EXPECT_EQ(group.activeList(), std::vector<int>(4, -1));
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[0], "index out ouf bounds --> 24");
    // Such a tiling is no tile in every operation.
    group.replacingTraces(1.0);
    group.storeActiveTiles();
    group.storeEpisodeState();
    group.updateWeights(1.0, 1.0);
    EXPECT_TRUE(group.traceMap().empty());
    EXPECT_TRUE(group.visited().empty());
    EXPECT_EQ(group.weightList(), std::vector<double>(80, 0.0));
    EXPECT_EQ(group.getStateValue(), 0.0);

    StateProbe stateless(2, VarList{tiledVar(0, 0.5, Types::CLIP)});
    EXPECT_EQ(stderrReports([&] { stateless.activateTiles(); }), Messages{"statePtr == 0"});
    EXPECT_EQ(stateless.activeList(), (std::vector<int>{-1, -1}));
}

// ------------------------------------------------------------ create refusal

TEST(TilingsCreate, RefusesGeometriesWithoutSoundTiles) {
    std::unique_ptr<State> state(doubleState({{0.0, 8.0}, {1.0, 1.0}, {0.0, INFINITY}}));
    State intState;
    intState.registerVariable("i", 0, 10);
    const double nan = std::nan(""), fine = 8.0 / 2000;
    struct Case {
        const char* what;
        State* state;
        int tilings;
        VarList vars;
    };
    const Case cases[] = {
        {"no tilings", state.get(), 0, {tiledVar(0, 0.5, Types::CLIP)}},
        {"negative tilings", state.get(), -3, {tiledVar(0, 0.5, Types::CLIP)}},
        {"no variables", state.get(), 4, {}},
        {"max == min", state.get(), 4, {tiledVar(1, 0.5, Types::CIRCLE)}},
        {"infinite max", state.get(), 4, {tiledVar(2, 0.5, Types::CIRCLE)}},
        {"zero resolution", state.get(), 4, {tiledVar(0, 0.0, Types::CLIP)}},
        {"negative resolution", state.get(), 4, {tiledVar(0, -0.5, Types::WRAP)}},
        {"NaN resolution", state.get(), 4, {tiledVar(0, nan, Types::CLIP)}},
        {"infinite resolution", state.get(), 4, {tiledVar(0, INFINITY, Types::CLIP)}},
        {"unknown id", state.get(), 4, {tiledVar(3, 0.5, Types::CLIP)}},
        {"negative id", state.get(), 4, {tiledVar(-1, 0.5, Types::CLIP)}},
        {"too many tiles", state.get(), 1, {tiledVar(0, 1e-12, Types::CLIP)}},
        {"product beyond int", state.get(), 1,
         {tiledVar(0, fine, Types::CLIP), tiledVar(0, fine, Types::CLIP), tiledVar(0, fine, Types::CLIP)}},
        {"integer State", &intState, 4, {tiledVar(0, 0.5, Types::CLIP)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StateTilings group(c.tilings, c.vars);
        EXPECT_FALSE(stderrReports([&] { group.create(c.state); }).empty());
        EXPECT_FALSE(group.hasWeights());
    }
    // A refused group reports its missing weights on use.
    StateTilings refused(4, VarList{tiledVar(0, -1.0, Types::CLIP)});
    stderrReports([&] { refused.create(state.get()); });
    const Messages use = stderrReports([&] {
        refused.updateWeights(1.0, 1.0);
        refused.activateTiles();
        EXPECT_EQ(refused.getStateValue(), DBL_MAX);
    });
    EXPECT_EQ(use, Messages(3, NO_WEIGHTS));
}

TEST(TilingsCreate, RefusesActionLayoutsBeyondInt) {
    std::unique_ptr<State> state(doubleState({{0.0, 8.0}}));
    // 1 tiling of 50000 tiles fits an int; times 50000 actions it does not.
    ActionTilings many(1, VarList{tiledVar(0, 8.0 / 50000, Types::CLIP)});
    EXPECT_EQ(stderrReports([&] { many.create(state.get(), 50000); }).size(), 1u);
    EXPECT_FALSE(many.hasWeights());

    // After a refusal for a huge number of actions, the trace operations
    // for a valid index find no tile (and compute nothing that overflows).
    ActionProbe huge(4, VarList{tiledVar(0, 0.5, Types::CLIP)});
    EXPECT_EQ(stderrReports([&] { huge.create(state.get(), 1000000000); }).size(), 1u);
    huge.replacingTraces(1.0, 3);
    huge.accumulatingTraces(1.0, 3);
    huge.storeActiveTiles(3);
    huge.storeEpisodeState(3);
    EXPECT_TRUE(huge.traceMap().empty());
    EXPECT_TRUE(huge.visited().empty());
}

TEST(TileCoding, RefusedDuplicateAndNullGroupsAreNeitherAppendedNorCounted) {
    StateTileCoding vf(doubleState({{0.0, 8.0}}));
    StateTilings* group = new StateTilings(4, VarList{tiledVar(0, 0.5, Types::CLIP)});
    vf.registerTiling(group);
    const Messages r = stderrReports([&] {
        vf.registerTiling(new StateTilings(8, VarList{tiledVar(0, -1.0, Types::CLIP)}));
        vf.registerTiling(group);
        vf.registerTiling(nullptr);
    });
    EXPECT_EQ(r.size(), 4u);
    EXPECT_EQ(vf.getNumberOfGroups(), 1);
    EXPECT_EQ(vf.getNumberOfTilings(), 4);

    ActionTileCoding q(doubleState({{0.0, 8.0}}));
    EXPECT_EQ(stderrReports([&] { q.registerTiling(new ActionTilings(4, VarList{tiledVar(0, 0.5, Types::CLIP)})); }),
              (Messages{"ACTIONS[0] <= 0", "Tiling refused --> not registered (and deleted)"}));  // no actions yet
    EXPECT_EQ(q.getNumberOfGroups(), 0);
    EXPECT_EQ(q.getNumberOfTilings(), 0);
}

// ------------------------------------------------------------ state tilings

TEST(StateTilings, ValueIsThePlainSumOfTheActiveWeights) {
    EightGroup g(Types::CLIP);
    countFrom(1.0, 16);
    g.group.initWeights(&fromSequence);  // weight w holds w + 1
    g.at(0.25);
    EXPECT_EQ(g.group.getStateValue(), 1.0);  // only tiling 0 has a tile
    g.at(8.0);
    EXPECT_EQ(g.group.getStateValue(), 0.0 + 13 + 14 + 15 + 16);
}

TEST(StateTilings, TracesInEveryStorage) {
    EightGroup g(Types::CLIP);
    g.at(1.9);
    g.group.accumulatingTraces(1.0);
    g.group.accumulatingTraces(1.0);
    EXPECT_EQ(g.group.traceMap(), (std::map<int, double>{{0, 2.0}, {1, 2.0}, {2, 2.0}, {3, 2.0}}));
    g.group.replacingTraces(1.0);
    EXPECT_EQ(g.group.traceMap(), (std::map<int, double>{{0, 1.0}, {1, 1.0}, {2, 1.0}, {3, 1.0}}));
    g.group.updateEligibilityTraces(0.0, 0.9);  // decayed to zero, not pruned
    EXPECT_EQ(g.group.traceMap(), (std::map<int, double>{{0, 0.0}, {1, 0.0}, {2, 0.0}, {3, 0.0}}));
    g.group.initEligibilityTraces();
    EXPECT_TRUE(g.group.traceMap().empty());

    // The sparse list holds what the map holds, and is never pruned either.
    g.group.setTraceStorage(Types::SPARSE);
    g.group.accumulatingTraces(1.0);
    g.group.accumulatingTraces(1.0);
    g.group.updateEligibilityTraces(0.5, 0.5);
    EXPECT_EQ(g.group.sparseTraces(), (std::map<int, double>{{0, 0.5}, {1, 0.5}, {2, 0.5}, {3, 0.5}}));
    g.group.updateEligibilityTraces(0.0, 0.5);
    EXPECT_EQ(g.group.sparseTraces().size(), 4u);
    g.group.initEligibilityTraces();
    EXPECT_TRUE(g.group.sparseTraces().empty());
    EXPECT_TRUE(g.group.traceMap().empty());

    // ARRAY traces need their array, which is allocated once.
    g.group.setTraceStorage(Types::ARRAY);
    const std::string missing = "traceStorage == ARRAY and eTraces == 0 --> Set traceStorage to MAP or call "
                                "initEligibilityTraces before calling ";
    EXPECT_EQ(stderrReports([&] {
                  g.group.replacingTraces(1.0);
                  g.group.updateEligibilityTraces(0.9, 0.9);
              }),
              (Messages{missing + "updateWeights!", missing + "updateEligibilityTraces!"}));
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

TEST(StateTilings, UpdatesWithoutTracesUseTheStoredIndicesOrReport) {
    EightGroup g(Types::CLIP);
    const std::string neither = " and storedActiveIndices == 0 --> Set traceStorage to ";
    const std::string call = " or call initEligibilityTraces or storeState before calling updateWeights!";
    EXPECT_EQ(stderrReports([&] {
                  g.group.updateWeights(1.0, 1.0);
                  g.group.setTraceStorage(Types::ARRAY);
                  g.group.updateWeights(1.0, 1.0);
                  g.group.setTraceStorage(static_cast<Types::TRACE_STORAGE>(5));
                  g.group.updateWeights(1.0, 1.0);
                  g.group.replacingTraces(1.0);
                  g.group.setTraceStorage(Types::MAP);
              }),
              (Messages{"traceStorage == MAP and eTracesMap == empty" + neither + "ARRAY" + call,
                       "traceStorage == ARRAY and eTraces == 0" + neither + "MAP" + call, "Unknown traceStorage = 5",
                       "Unknown traceStorage = 5"}));
    EXPECT_EQ(g.group.weightList(), std::vector<double>(16, 0.0));

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

// ----------------------------------------------------------- action tilings

TEST(ActionTilings, ValuesAndSetValuesTouchExactlyThatActionsWeights) {
    ActionGroup g(3);
    for (int a = 0; a < 3; ++a) EXPECT_EQ(g.group.getActionValue(a), 0.0 + (12 + 2 * a) + (13 + 2 * a));
    g.group.initWeights(&zero);
    g.group.setActionValue(1, 5.0);
    const std::vector<double> w = g.group.weightList();
    ASSERT_EQ(w.size(), 18u);
    for (std::size_t i = 0; i < 18; ++i) EXPECT_EQ(w[i], i % 6 == 2 || i % 6 == 3 ? 5.0 : 0.0) << "weight " << i;
    g.group.setActiveActionValue(2, 7.0);
    EXPECT_EQ(g.group.weightList()[16], 7.0);
    EXPECT_EQ(g.group.weightList()[17], 7.0);
    EXPECT_EQ(g.group.getActionValue(2), 14.0);
}

TEST(ActionTilings, OutOfRangeActionIndicesReportAndTouchNothing) {
    ActionGroup g(3);
    const std::vector<double> before = g.group.weightList();
    const Messages r = stderrReports([&] {
        EXPECT_EQ(g.group.getActionValue(3), 0.0);
        EXPECT_EQ(g.group.getActionValue(-1), 0.0);
        g.group.setActionValue(3, 1.0);
        g.group.setActiveActionValue(-1, 1.0);
        g.group.replacingTraces(1.0, 3);
        g.group.accumulatingTraces(1.0, -1);
        g.group.storeActiveTiles(7);
        g.group.storeEpisodeState(3);
    });
    ASSERT_EQ(r.size(), 8u);
    EXPECT_EQ(r[0], "actionIndex[3] out of bounds [ 0, 3)");
    EXPECT_EQ(r[1], "actionIndex[-1] out of bounds [ 0, 3)");
    EXPECT_EQ(g.group.weightList(), before);
    EXPECT_TRUE(g.group.traceMap().empty());
    EXPECT_EQ(g.group.stored(), nullptr);
    EXPECT_TRUE(g.group.visited().empty());
}

TEST(ActionTilings, TracesStoredAndVisitedIndicesBelongToTheGivenAction) {
    ActionGroup g(3);
    g.group.replacingTraces(1.0, 1);
    EXPECT_EQ(g.group.traceMap(), (std::map<int, double>{{14, 1.0}, {15, 1.0}}));
    g.group.replacingTraces(0.5, 0);  // clears the other actions on the active tiles
    EXPECT_EQ(g.group.traceMap(), (std::map<int, double>{{12, 0.5}, {13, 0.5}}));
    g.group.accumulatingTraces(1.0, 2);  // leaves them alone
    g.group.accumulatingTraces(1.0, 2);
    EXPECT_EQ(g.group.traceMap(), (std::map<int, double>{{12, 0.5}, {13, 0.5}, {16, 2.0}, {17, 2.0}}));
    g.group.storeActiveTiles(2);
    EXPECT_EQ(std::vector<int>(g.group.stored(), g.group.stored() + 2), (std::vector<int>{16, 17}));
    g.group.storeEpisodeState(1);
    EXPECT_EQ(g.group.visited(), (std::set<int>{14, 15}));

    ActionGroup a(3);
    a.group.setTraceStorage(Types::ARRAY);
    a.group.initEligibilityTraces();
    a.group.accumulatingTraces(0.25, 2);
    a.group.replacingTraces(1.0, 1);
    a.group.replacingTraces(1.0, 0);
    const double* traces = a.group.traceArray();
    for (int i = 0; i < 18; ++i) EXPECT_EQ(traces[i], (i == 12 || i == 13) ? 1.0 : 0.0) << "trace " << i;
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
        const std::vector<double>& e = expected[static_cast<std::size_t>(removed)];
        ActionGroup g(3);
        g.group.setTraceStorage(static_cast<Types::TRACE_STORAGE>(removed));
        g.group.initEligibilityTraces();
        g.group.replacingTraces(1.0, 0);
        g.group.storeActiveTiles(0);
        g.group.storeEpisodeState(0);
        EXPECT_TRUE(g.group.removeAction(removed));
        EXPECT_EQ(g.group.getNumberOfActions(), 2);
        EXPECT_EQ(g.group.arraySize(), 12);
        EXPECT_EQ(g.group.stride(0), 4);
        EXPECT_EQ(g.group.weightList(), e);
        // Nothing of the old layout survives.
        EXPECT_TRUE(g.group.traceMap().empty());
        EXPECT_TRUE(g.group.sparseTraces().empty());
        EXPECT_EQ(g.group.traceArray(), nullptr);
        EXPECT_EQ(g.group.stored(), nullptr);
        EXPECT_TRUE(g.group.visited().empty());
        EXPECT_EQ(g.group.activeList(), (std::vector<int>{-1, -1}));
        g.group.activateTiles();
        EXPECT_EQ(g.group.activeList(), (std::vector<int>{8, 9}));
        EXPECT_EQ(g.group.getActionValue(1), 0.0 + e[10] + e[11]);
    }

    ActionGroup one(1);
    EXPECT_EQ(stderrReports([&] { EXPECT_FALSE(one.group.removeAction(0)); }),
              Messages{"ACTIONS == 1 --> Can not remove last action!"});
    EXPECT_EQ(one.group.arraySize(), 6);
    ActionGroup three(3);
    const std::vector<double> before = three.group.weightList();
    EXPECT_EQ(stderrReports([&] { EXPECT_FALSE(three.group.removeAction(3)); }),
              Messages{"actionIndex[3] out of bounds [ 0, 3)"});
    EXPECT_EQ(three.group.weightList(), before);
    EXPECT_EQ(three.group.getNumberOfActions(), 3);
}

// ------------------------------------------------------------- containers

TEST(TileCoding, StepSizeIsSharedOutOverAllTilingsAndOnlyTheTracedActionMoves) {
    const double step = (0.12 / 12) * 1.0 * 1.0;
    StateTileCoding vf(doubleState({{0.0, 8.0}}));
    const std::vector<StateProbe*> groups = fourAndEight<StateProbe>(vf);
    ASSERT_EQ(vf.getNumberOfTilings(), 12);
    vf.setState();
    vf.replacingTraces(1.0);
    vf.updateWeights(0.12, 1.0);
    for (StateProbe* g : groups) {
        for (int index : g->activeList()) EXPECT_EQ(g->weightArray()[index], step);
    }
    EXPECT_EQ(vf.getStateValue(), twelveSteps(step));

    ActionTileCoding q(doubleState({{0.0, 8.0}}));
    for (int a = 0; a < 3; ++a) q.registerAction(new AbstractAction());
    fourAndEight<ActionProbe>(q);
    q.setState();
    q.setGreedyActionIndex();  // rand() picks among equal values
    const int traced = q.getActiveActionIndex();
    q.replacingTraces(1.0);
    q.updateWeights(0.12, 1.0);
    for (int a = 0; a < 3; ++a) EXPECT_EQ(q.getActionValue(a), a == traced ? twelveSteps(step) : 0.0) << "action " << a;
}

TEST(TileCoding, EveryTraceStorageLearnsTheSameWeights) {
    std::vector<double> results[3];
    for (int storage = 0; storage < 3; ++storage) {
        StateTileCoding vf(doubleState({{0.0, 8.0}}));
        const std::vector<StateProbe*> groups = fourAndEight<StateProbe>(vf);
        vf.setTraceStorage(static_cast<Types::TRACE_STORAGE>(storage));
        for (StateProbe* g : groups) ASSERT_EQ(g->storage(), storage);
        vf.initEligibilityTraces();
        for (double x : {0.3, 1.7, 2.2, 6.9, 7.95}) {
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
    for (int storage = 1; storage < 3; ++storage) {
        ASSERT_EQ(results[0].size(), results[storage].size());
        for (std::size_t i = 0; i < results[0].size(); ++i) {
            EXPECT_TRUE(test_support::sameBits(results[0][i], results[storage][i])) << storage << ", weight " << i;
        }
    }
}

TEST(TileCoding, ExtremesAndMeanOverAllGroups) {
    StateTileCoding vf(doubleState({{0.0, 1.0}}));
    EXPECT_EQ(vf.getStateValue(), 0.0);
    EXPECT_EQ(vf.getMinWeight(), DBL_MAX);
    EXPECT_EQ(vf.getMaxWeight(), -DBL_MAX);
    EXPECT_TRUE(std::isnan(vf.getAvgWeight(false)));
    setSequence({1.0, -2.0, 4.0});
    vf.setInitWeightsFunctionPtr(&fromSequence);
    vf.registerTiling(new StateTilings(1, VarList{tiledVar(0, 0.5, Types::CLIP)}));  // 2 weights
    vf.registerTiling(new StateTilings(1, VarList{tiledVar(0, 1.0, Types::CLIP)}));  // 1 weight
    EXPECT_EQ(vf.getAvgWeight(false), 1.0);
    EXPECT_EQ(vf.getAvgWeight(true), 7.0 / 3);
    EXPECT_EQ(vf.getMinWeight(), -2.0);
    EXPECT_EQ(vf.getMaxWeight(), 4.0);
    // Clamping waits for a limit to be set.
    vf.checkWeightLimit();
    vf.setMaxWeightLimit(3.0);
    vf.checkWeightLimit();
    EXPECT_EQ(vf.getMaxWeight(), 3.0);
    EXPECT_EQ(vf.getMinWeight(), -2.0);
}

TEST(TileCoding, EpisodeHistoryRecordsEachTileOnceWhileSwitchedOn) {
    StateTileCoding vf(doubleState({{0.0, 8.0}}));
    StateProbe* group = new StateProbe(4, VarList{tiledVar(0, 0.5, Types::CLIP)});
    vf.registerTiling(group);
    auto at = [&](double x) {
        vf.getStatePtr()->setValueDbl(0, x);
        vf.setState();
    };
    at(8.0);
    vf.accumulatingTraces(1.0);
    EXPECT_TRUE(group->visited().empty());  // history off
    vf.setEpisodeStateHistory(true);
    at(1.9);
    vf.replacingTraces(1.0);
    at(3.0);
    vf.accumulatingTraces(1.0);  // tiles 1, 1, 1, 0
    at(8.0);
    vf.storeState();
    vf.storeState();
    EXPECT_EQ(group->visited(), (std::set<int>{0, 1, 2, 3, 4, 5, 6, 12, 13, 14, 15}));
    vf.valueEpisode(0.5);
    vf.valueEpisode(0.5);
    at(1.9);
    EXPECT_EQ(vf.getStateValue(), 0.0 + 1.0 + 1.0 + 1.0 + 1.0);
    vf.initEpisodeStateHistory();
    EXPECT_EQ(stderrReports([&] { vf.valueEpisode(1.0); }),
              Messages{"episodeIndexHistorySet is empty! Did you forget to set ValueFunction::episodeStateHistory to "
                      "true?"});

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
    const std::vector<ActionProbe*> groups = fourAndEight<ActionProbe>(q);
    q.setState();
    q.setActionValue(2, 0.5);
    EXPECT_EQ(q.getActionValue(2), 0.5 * 12);
    EXPECT_EQ(q.getActionValue(1), 0.0);

    q.unregisterAction(0);  // the weights of actions 1 and 2 become those of 0 and 1
    delete first;           // handed back to us
    for (ActionProbe* g : groups) EXPECT_EQ(g->getNumberOfActions(), 2);
    q.setState();
    EXPECT_EQ(q.getActionValue(1), 0.5 * 12);
    EXPECT_EQ(q.getActionValue(0), 0.0);
    EXPECT_EQ(stderrReports([&] {
                  EXPECT_EQ(q.getActionValue(2), 0.0);
                  q.setActionValue(-1, 3.0);
              }),
              (Messages{"actionIndex[2] out of bounds [ 0, 2)", "actionIndex[-1] out of bounds [ 0, 2)"}));

    // The last action stays, in every group.
    ActionTileCoding single(doubleState({{0.0, 8.0}}));
    AbstractAction* only = new AbstractAction();
    single.registerAction(only);
    const std::vector<ActionProbe*> kept = fourAndEight<ActionProbe>(single);
    const Messages refused = {"ACTIONS == 1 --> Can not remove last action!", "Action could not be removed!"};
    EXPECT_EQ(stderrReports([&] { single.unregisterAction(0); }),
              (Messages{refused[0], refused[1], refused[0], refused[1]}));
    for (ActionProbe* g : kept) EXPECT_EQ(g->getNumberOfActions(), 1);
    delete only;  // unregistering hands the action back
}

// Every group grows by the late action's weights at the initial value; the
// tile coding then learns and saves as one with the action from the start.
TEST(ActionTileCoding, AnActionRegisteredLateGrowsEveryGroupAsIfRegisteredFirst) {
    test_support::TempDir dir;
    std::vector<std::string> files;
    for (const bool late : {false, true}) {
        setSeed(1);
        ActionTileCoding q(doubleState({{0.0, 8.0}}));
        ValueFunction::setValue(-0.5);
        for (int a = 0; a < (late ? 2 : 3); ++a) q.registerAction(new AbstractAction());
        const std::vector<ActionProbe*> groups = fourAndEight<ActionProbe>(q);
        if (late) q.registerAction(new AbstractAction());
        ValueFunction::setValue(0.0);
        for (ActionProbe* g : groups) EXPECT_EQ(g->getNumberOfActions(), 3);
        q.setState();
        EXPECT_EQ(q.getActionValue(2), -0.5 * 12);
        q.setTraceStorage(Types::SPARSE);
        q.initEligibilityTraces();
        for (double x : {0.3, 1.7, 6.9}) {
            q.getStatePtr()->setValueDbl(0, x);
            q.setState();
            q.setGreedyActionIndex();
            q.updateEligibilityTraces(0.9, 0.8);
            q.replacingTraces(1.0);
            q.updateWeights(0.3, 1.0 - q.getActionValue(q.getActiveActionIndex()));
        }
        files.push_back(dir.file(late ? "late.q" : "early.q"));
        ASSERT_EQ(q.save(files.back()), 0);
    }
    EXPECT_EQ(test_support::readFile(files[1]), test_support::readFile(files[0]));
}

TEST(TileCoding, ConstructorsResetTheClassWideInitialWeight) {
    ValueFunction::setValue(0.25);
    StateTileCoding vf(doubleState({{0.0, 1.0}}));
    ActionTileCoding q(doubleState({{0.0, 1.0}}));
    q.registerAction(new AbstractAction());
    StateProbe* before = new StateProbe(1, VarList{tiledVar(0, 0.5, Types::CLIP)});
    ActionProbe* actionBefore = new ActionProbe(1, VarList{tiledVar(0, 0.5, Types::CLIP)});
    vf.registerTiling(before);
    q.registerTiling(actionBefore);
    EXPECT_EQ(before->weightList(), (std::vector<double>{0.0, 0.0}));
    EXPECT_EQ(actionBefore->weightList(), (std::vector<double>{0.0, 0.0}));
    ValueFunction::setValue(0.25);  // read when a group is registered
    StateProbe* after = new StateProbe(1, VarList{tiledVar(0, 1.0, Types::CLIP)});
    vf.registerTiling(after);
    EXPECT_EQ(after->weightList(), (std::vector<double>{0.25}));
    ValueFunction::setValue(0.0);
}
