// Tile coding: the geometry of a group of tilings, which tiles a value
// activates, the tilings without a tile, the action groups, and the
// containers' groups and episode history. Files are tested with the other
// files (test_files); updates, statistics, visits, removal and late
// actions with every representation (test_value_functions); Sarsa steps bit
// for bit against hand-written tilings (test_benchmark_equivalence).

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

using namespace test_support;
using namespace tile_test;

namespace {

using Messages = std::vector<std::string>;
using Traces = std::map<int, double>;
const char* const NO_WEIGHTS = "weights == 0 --> Maybe forgot to call create?";

// The tile number the activation rules give, written out again here from
// the formulas so that the expected indices do not come from the code.
int clipTile(double x, double min, double off, double w, int tiles) {
    const int n = static_cast<int>(std::floor((x - min - off) / w));
    return n < 0 ? 0 : (n > tiles - 1 ? tiles - 1 : n);
}

// 4 tilings over one variable on [lo, lo + 8] with resolution 0.5: tiles
// of width 2 (4 of them, 5 for WRAP), tiling t offset by 0.5 t.
struct EightGroup {
    std::unique_ptr<State> state;
    StateProbe group;
    explicit EightGroup(int tileType, double lo = 0.0)
        : state(doubleState({{lo, lo + 8.0}})), group(4, VarList{tiledVar(0, 0.5, tileType)}) {
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

}  // namespace

// ---------------------------------------------------------------- geometry

TEST(TilingsGeometry, CountsWidthsOffsetsStridesAndSizeFollowTheBounds) {
    const struct {
        const char* what;
        std::vector<std::pair<double, double>> bounds;
        int tilings, actions;
        VarList vars;
        std::vector<int> tiles, strides;
        std::vector<double> widths, resolutions;  // the resolutions as create() corrects them
        int size;
    } cases[] = {
        {"CLIP: ceil(10 / 1.2) tiles", {{0.0, 10.0}}, 4, 1, {tiledVar(0, 0.3, Types::CLIP)}, {9}, {4}, {10.0 / 9},
         {10.0 / 36}, 36},
        {"WRAP: one tile more", {{0.0, 10.0}}, 4, 1, {tiledVar(0, 0.3, Types::WRAP)}, {10}, {4}, {10.0 / 9},
         {10.0 / 36}, 40},
        {"CIRCLE: as CLIP", {{0.0, 8.0}}, 4, 1, {tiledVar(0, 0.5, Types::CIRCLE)}, {4}, {4}, {2.0}, {0.5}, 16},
        {"two variables", {{0.0, 10.0}, {0.0, 5.0}}, 4, 1,
         {tiledVar(0, 0.3, Types::CLIP), tiledVar(1, 0.25, Types::CLIP)}, {9, 5}, {20, 4}, {10.0 / 9, 1.0},
         {10.0 / 36, 0.25}, 180},
    };
    for (const auto& c : cases) {
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

TEST(TilingsGeometry, CreateRefusesGroupsWithoutSoundTilesAndTheyReportOnUse) {
    std::unique_ptr<State> state(doubleState({{0.0, 8.0}, {1.0, 1.0}, {0.0, INFINITY}}));
    State intState;
    intState.registerVariable("i", 0, 10);
    const double fine = 8.0 / 2000;
    const struct {
        const char* what;
        State* state;
        int tilings, actions;
        VarList vars;
        const char* report;
    } cases[] = {
        {"no tilings", state.get(), 0, 1, {tiledVar(0, 0.5, Types::CLIP)}, "at least one tiling and one variable"},
        {"no variables", state.get(), 4, 1, {}, "DIMENSIONS = 0"},
        {"no actions", state.get(), 4, 0, {tiledVar(0, 0.5, Types::CLIP)}, "ACTIONS[0] <= 0"},
        {"no State", nullptr, 4, 1, {tiledVar(0, 0.5, Types::CLIP)}, "statePtr == 0"},
        {"integer State", &intState, 4, 1, {tiledVar(0, 0.5, Types::CLIP)}, "Not a Double-State!"},
        {"max == min", state.get(), 4, 1, {tiledVar(1, 0.5, Types::CIRCLE)}, "max must be greater than min"},
        {"infinite max", state.get(), 4, 1, {tiledVar(2, 0.5, Types::CIRCLE)}, "both finite"},
        {"zero resolution", state.get(), 4, 1, {tiledVar(0, 0.0, Types::CLIP)}, "must be positive and finite"},
        {"NaN resolution", state.get(), 4, 1, {tiledVar(0, std::nan(""), Types::CLIP)}, "must be positive"},
        {"infinite resolution", state.get(), 4, 1, {tiledVar(0, INFINITY, Types::CLIP)}, "positive and finite"},
        {"tiles that underflow", state.get(), 4, 1, {tiledVar(0, DBL_MAX, Types::CLIP)}, "gives no tile"},
        {"unknown id", state.get(), 4, 1, {tiledVar(3, 0.5, Types::CLIP)}, "Variable id = 3 --> the State has"},
        {"too many tiles", state.get(), 1, 1, {tiledVar(0, 1e-12, Types::CLIP)}, "ARRAY_SIZE would exceed"},
        {"product beyond int", state.get(), 1, 1,
         {tiledVar(0, fine, Types::CLIP), tiledVar(0, fine, Types::CLIP), tiledVar(0, fine, Types::CLIP)},
         "ARRAY_SIZE would exceed"},
        // 1 tiling of 50000 tiles fits an int; times 50000 actions it does not.
        {"actions beyond int", state.get(), 1, 50000, {tiledVar(0, 8.0 / 50000, Types::CLIP)}, "would exceed"},
        {"tilings times actions beyond int", state.get(), 4, 1000000000, {tiledVar(0, 0.5, Types::CLIP)},
         "TILINGS * ACTIONS = 4000000000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ActionProbe group(c.tilings, c.vars);
        const Messages r = stderrReports([&] { group.create(c.state, c.actions); });
        EXPECT_EQ(r.size(), 1u);
        EXPECT_TRUE(someReportContains(r, c.report)) << testing::PrintToString(r);
        EXPECT_FALSE(group.hasWeights());
        // Every use finds no tile and computes nothing that overflows.
        const Messages use = stderrReports([&] {
            group.activateTiles();
            group.updateWeights(1.0, 1.0);
            EXPECT_EQ(group.getActionValue(0), DBL_MAX);
            if (c.vars.empty()) return;
            group.replacingTraces(1.0, 0);
            group.storeActiveTiles(0);
            group.storeEpisodeState(0);
        });
        EXPECT_TRUE(someReportContains(use, c.state == nullptr ? "statePtr == 0" : NO_WEIGHTS));
        EXPECT_TRUE(group.traceMap().empty());
        EXPECT_TRUE(group.visited().empty());
    }
}

// -------------------------------------------------------------- activation

TEST(TilingsActivation, EachTileTypeAtAndBetweenItsBounds) {
    const std::vector<int> circle{0, 13, 14, 15};  // 0 - 0.5 folds to 7.5: tile 3
    const struct {
        int type;
        double x;
        std::vector<int> active;
        double lo = 0.0;  // the lower bound
    } cases[] = {
        {Types::CLIP, 0.25, {0, -1, -1, -1}},    {Types::CLIP, 1.9, {0, 1, 2, 3}},
        {Types::CLIP, 8.0, {12, 13, 14, 15}},    // tile 3, tiling 0 by the clamp
        {Types::CLIP, 100.0, {12, 13, 14, 15}},  {Types::CLIP, std::nan(""), {-1, -1, -1, -1}},
        {Types::WRAP, 0.0, {0, 1, 2, 3}},        {Types::WRAP, 1.9, {0, 5, 6, 7}},
        {Types::WRAP, 8.0, {16, 17, 18, 19}},    {Types::CIRCLE, -2.0, circle, -2.0},
        {Types::CIRCLE, 6.0, circle, -2.0},      {Types::CIRCLE, -1.75, circle, -2.0},
        {Types::CIRCLE, 14.25, circle, -2.0},    // a whole turn further
        {Types::CIRCLE, 5.9, {12, 13, 14, 15}, -2.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << " at " << c.x);
        EightGroup g(c.type, c.lo);
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

TEST(TilingsActivation, UnknownTypesAndWrapsOutsideTheirBoundsAddNoTile) {
    std::unique_ptr<State> state(doubleState({{0.0, 8.0}, {0.0, 8.0}}));
    StateProbe unknown(4, VarList{tiledVar(0, 0.5, 7), tiledVar(1, 0.5, Types::CLIP)});
    unknown.create(state.get());
    state->setValueDbl(1, 1.9);  // tile 0 of every tiling
    EXPECT_EQ(stderrReports([&] { unknown.activateTiles(); }),
              Messages(4, "Unknown Tiletype[7] for Variable with id = 0"));
    EXPECT_EQ(unknown.activeList(), (std::vector<int>{0, 1, 2, 3}));

    // A CLIP variable at tile 0 and a WRAP variable just past its last
    // tile: the plain sum 0 + 5 * 4 would hit the real weight of tile (1, 0).
    StateProbe group(4, VarList{tiledVar(0, 0.5, Types::CLIP), tiledVar(1, 0.5, Types::WRAP)});
    group.create(state.get());
    group.initWeights(&zero);
    state->setValueDbl(0, 1.9);
    state->setValueDbl(1, 10.0);
    const Messages r = stderrReports([&] { group.activateTiles(); });
    EXPECT_EQ(group.activeList(), std::vector<int>(4, -1));
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[0], "index out ouf bounds --> 20");
    // Such a tiling is no tile in every operation.
    group.replacingTraces(1.0);
    group.storeActiveTiles();
    group.storeEpisodeState();
    group.updateWeights(1.0, 1.0);
    EXPECT_TRUE(group.traceMap().empty());
    EXPECT_TRUE(group.visited().empty());
    EXPECT_EQ(group.weightList(), std::vector<double>(80, 0.0));
    EXPECT_EQ(group.getStateValue(), 0.0);
}

// ------------------------------------------------------------ state tilings

// Traces and updates are shown for every representation
// (test_value_functions); here the tilings that have no tile.
TEST(StateTilings, TilingsWithoutATileAddNothingAndStoreNone) {
    EightGroup g(Types::CLIP);
    countFrom(1.0, 16);
    g.group.initWeights(&fromSequence);  // weight w holds w + 1
    EXPECT_EQ(g.at(0.25), (std::vector<int>{0, -1, -1, -1}));
    EXPECT_EQ(g.group.getStateValue(), 1.0);
    g.group.storeActiveTiles();
    const int* stored = g.group.stored();
    EXPECT_EQ(std::vector<int>(stored, stored + 4), (std::vector<int>{0, -1, -1, -1}));
    g.group.updateWeights(0.5, 2.0);
    g.at(8.0);
    EXPECT_EQ(g.group.getStateValue(), 0.0 + 13 + 14 + 15 + 16);
    g.group.storeActiveTiles();
    EXPECT_EQ(g.group.stored(), stored);  // allocated once
    g.group.updateWeights(1.0, 1.0);
    countFrom(1.0, 16);
    std::vector<double> expected = sequence().values;
    expected[0] += 0.5 * 2.0;
    for (int w : {12, 13, 14, 15}) expected[static_cast<std::size_t>(w)] += 1.0;  // the last tile too
    EXPECT_EQ(g.group.weightList(), expected);
}

TEST(Tilings, TraceHelpersSetAddAndDropEntries) {
    EightGroup g(Types::CLIP);
    g.group.setTraceStorage(Types::ARRAY);
    g.group.setTrace(3, 1.0);
    g.group.addTrace(3, 0.5);
    g.group.addTrace(7, 2.0);
    g.group.setTrace(7, 0.25);
    EXPECT_EQ(g.group.traceMap(), (Traces{{3, 1.5}, {7, 0.25}}));
    g.group.dropTrace(g.group.traceMapEntry(3));
    EXPECT_EQ(g.group.traceMap(), (Traces{{7, 0.25}}));
    g.group.clearTraceMap();
    EXPECT_TRUE(g.group.traceMap().empty());
}

TEST(ActionTilings, EveryOperationTouchesOnlyItsActionsWeightsAndOnlyInRange) {
    ActionGroup g(3);
    for (int a = 0; a < 3; ++a) EXPECT_EQ(g.group.getActionValue(a), 0.0 + (12 + 2 * a) + (13 + 2 * a));
    g.group.initWeights(&zero);
    g.group.setActionValue(1, 5.0);
    g.group.setActiveActionValue(2, 7.0);
    const std::vector<double> w = g.group.weightList();
    for (std::size_t i = 0; i < 18; ++i) {
        EXPECT_EQ(w[i], i % 6 == 2 || i % 6 == 3 ? 5.0 : (i == 16 || i == 17) ? 7.0 : 0.0) << "weight " << i;
    }
    g.group.storeActiveTiles(2);
    EXPECT_EQ(std::vector<int>(g.group.stored(), g.group.stored() + 2), (std::vector<int>{16, 17}));
    g.group.storeEpisodeState(1);
    EXPECT_EQ(g.group.visited(), (std::set<int>{14, 15}));
    const Messages r = stderrReports([&] {
        EXPECT_EQ(g.group.getActionValue(3), 0.0);
        g.group.setActionValue(3, 1.0);
        g.group.setActiveActionValue(-1, 1.0);
        g.group.replacingTraces(1.0, 3);
        g.group.accumulatingTraces(1.0, -1);
        g.group.storeActiveTiles(7);
        g.group.storeEpisodeState(3);
        EXPECT_FALSE(g.group.removeAction(3));
    });
    EXPECT_EQ(r.size(), 8u);  // one each
    EXPECT_EQ(r[5], "actionIndex[7] out of bounds [ 0, 3)");
    EXPECT_EQ(g.group.weightList(), w);
    EXPECT_TRUE(g.group.traceMap().empty());
    EXPECT_EQ(std::vector<int>(g.group.stored(), g.group.stored() + 2), (std::vector<int>{16, 17}));
    EXPECT_EQ(g.group.visited(), (std::set<int>{14, 15}));
    ActionGroup one(1);
    EXPECT_EQ(stderrReports([&] { EXPECT_FALSE(one.group.removeAction(0)); }),
              Messages{"ACTIONS == 1 --> Can not remove last action!"});
}

TEST(TileCoding, RefusedDuplicateAndNullGroupsAreNeitherAppendedNorCounted) {
    StateTileCoding vf(doubleState({{0.0, 8.0}}));
    EXPECT_EQ(vf.getMinWeight(), DBL_MAX);  // no group, no weights, no mean
    EXPECT_EQ(vf.getMaxWeight(), -DBL_MAX);
    EXPECT_TRUE(std::isnan(vf.getAvgWeight(false)));
    StateTilings* group = new StateTilings(4, VarList{tiledVar(0, 0.5, Types::CLIP)});
    vf.registerTiling(group);
    EXPECT_EQ(stderrReports([&] {
                  vf.registerTiling(new StateTilings(8, VarList{tiledVar(0, -1.0, Types::CLIP)}));
                  vf.registerTiling(group);
                  vf.registerTiling(nullptr);
              }).size(),
              4u);
    EXPECT_EQ((std::vector<int>{vf.getNumberOfGroups(), vf.getNumberOfTilings()}), (std::vector<int>{1, 4}));
    ActionTileCoding q(doubleState({{0.0, 8.0}}));
    EXPECT_EQ(stderrReports([&] { q.registerTiling(new ActionTilings(4, VarList{tiledVar(0, 0.5, Types::CLIP)})); }),
              (Messages{"ACTIONS[0] <= 0", "Tiling refused --> not registered (and deleted)"}));  // no actions yet
    EXPECT_EQ((std::vector<int>{q.getNumberOfGroups(), q.getNumberOfTilings()}), (std::vector<int>{0, 0}));
    // Setting an action's value reaches every group.
    q.registerAction(new AbstractAction());
    q.registerAction(new AbstractAction());
    q.registerTiling(new ActionTilings(4, VarList{tiledVar(0, 0.5, Types::CLIP)}));
    q.registerTiling(new ActionTilings(8, VarList{tiledVar(0, 0.25, Types::WRAP)}));
    q.getStatePtr()->setValueDbl(0, 3.3);  // a tile in every tiling
    q.setState();
    q.setActionValue(1, 0.5);
    EXPECT_EQ((std::vector<double>{q.getActionValue(0), q.getActionValue(1)}), (std::vector<double>{0.0, 0.5 * 12}));
    EXPECT_EQ(stderrReports([&] { q.setActionValue(-1, 3.0); }), Messages{"actionIndex[-1] out of bounds [ 0, 2)"});
}

// Crediting the visits is shown for every representation
// (test_value_functions); a tile coding records them while its history is
// on, also when it marks traces.
TEST(TileCoding, EpisodeHistoryRecordsTheTilesOfMarkedAndStoredStatesWhileSwitchedOn) {
    StateTileCoding vf(doubleState({{0.0, 8.0}}));
    StateProbe* group = new StateProbe(4, VarList{tiledVar(0, 0.5, Types::CLIP)});
    vf.registerTiling(group);
    const auto at = [&](double x) {
        vf.getStatePtr()->setValueDbl(0, x);
        vf.setState();
    };
    at(8.0);
    vf.accumulatingTraces(1.0);
    vf.storeState();
    EXPECT_TRUE(group->visited().empty());  // history off
    vf.setEpisodeStateHistory(true);
    at(1.9);
    vf.replacingTraces(1.0);
    at(3.0);
    vf.accumulatingTraces(1.0);  // tiles 1, 1, 1, 0
    at(8.0);
    vf.storeState();
    EXPECT_EQ(group->visited(), (std::set<int>{0, 1, 2, 3, 4, 5, 6, 12, 13, 14, 15}));
}
