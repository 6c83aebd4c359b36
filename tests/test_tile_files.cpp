#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "ActionTileCoding.h"
#include "StateTileCoding.h"
#include "TestSupport.h"
#include "TileTestSupport.h"

using namespace test_support;
using namespace tile_test;

namespace {

// ------------------------------------------------ the layout, from outside

struct VarSpec {
    int32_t id;
    double resolution;
    int32_t tileType;
};

// One group body field by field, as the file layout lists it.
struct BodySpec {
    int32_t tilings;
    int32_t dimensions;
    int32_t storage;
    std::vector<VarSpec> vars;
    std::vector<double> widths;
    std::vector<int32_t> tiles;
    std::vector<int32_t> strides;
    std::vector<std::vector<double>> offsets;
    int32_t arraySize;
    std::vector<double> weights;
};

Bytes body(const BodySpec& s) {
    Bytes b;
    putI32(b, s.tilings);
    putI32(b, s.dimensions);
    putI32(b, s.storage);
    for (const VarSpec& v : s.vars) {
        putI32(b, v.id);
        putF64(b, v.resolution);
        putI32(b, v.tileType);
    }
    for (double w : s.widths) putF64(b, w);
    for (int32_t t : s.tiles) putI32(b, t);
    for (int32_t o : s.strides) putI32(b, o);
    for (const std::vector<double>& row : s.offsets) {
        for (double o : row) putF64(b, o);
    }
    putI32(b, s.arraySize);
    for (double w : s.weights) putF64(b, w);
    return b;
}

// The State both files are built on: v0 on [0, 8], v1 on [-1, 2].
Bytes stateBlock() {
    Bytes b;
    putU32(b, 2);
    putI32(b, 2);  // DOUBLE
    putDoubleVar(b, "v0", 0.0, 8.0);
    putDoubleVar(b, "v1", -1.0, 2.0);
    return b;
}

State* fileState() { return doubleState({{0.0, 8.0}, {-1.0, 2.0}}); }

std::vector<double> sequence(std::size_t n, double start) {
    std::vector<double> values;
    for (std::size_t i = 0; i < n; ++i) values.push_back(start + 0.1 * static_cast<double>(i) - 1.3);
    return values;
}

// Group A: 4 tilings, v0 CLIP with resolution 0.5: 4 tiles of width 2.
BodySpec groupA(int actions, int32_t storage, const std::vector<double>& weights) {
    BodySpec s;
    s.tilings = 4;
    s.dimensions = 1;
    s.storage = storage;
    s.vars = {{0, 8.0 / (4 * 4), Types::CLIP}};
    s.widths = {8.0 / 4};
    s.tiles = {4};
    s.strides = {4 * actions};
    for (int t = 0; t < 4; ++t) s.offsets.push_back({t * (8.0 / (4 * 4))});
    s.arraySize = 4 * actions * 4;
    s.weights = weights;
    return s;
}

// Group B: 2 tilings over v1 CIRCLE with resolution 0.5 (3 tiles of width
// 1) and v0 WRAP with resolution 1.5 (ceil(8 / 3) + 1 = 4 tiles of width 8/3).
BodySpec groupB(int actions, int32_t storage, const std::vector<double>& weights) {
    BodySpec s;
    s.tilings = 2;
    s.dimensions = 2;
    s.storage = storage;
    s.vars = {{1, 3.0 / (3 * 2), Types::CIRCLE}, {0, 8.0 / ((4 - 1) * 2), Types::WRAP}};
    s.widths = {3.0 / 3, 8.0 / (4 - 1)};
    s.tiles = {3, 4};
    s.strides = {2 * actions * 4, 2 * actions};
    for (int t = 0; t < 2; ++t) s.offsets.push_back({t * (3.0 / (3 * 2)), t * (8.0 / ((4 - 1) * 2))});
    s.arraySize = 2 * actions * 3 * 4;
    s.weights = weights;
    return s;
}

VarList listA() { return VarList{tiledVar(0, 0.5, Types::CLIP)}; }
VarList listB() { return VarList{tiledVar(1, 0.5, Types::CIRCLE), tiledVar(0, 1.5, Types::WRAP)}; }

Bytes concat(std::vector<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes u32(uint32_t v) {
    Bytes b;
    putU32(b, v);
    return b;
}

// Group A with ARRAY traces, group B with MAP traces; weights from one
// running sequence.
void buildV(StateTileCoding& vf) {
    setSequence(sequence(16 + 24, 0.0));
    vf.setInitWeightsFunctionPtr(&fromSequence);
    vf.registerTiling(new StateTilings(4, listA()));
    vf.setTraceStorage(Types::ARRAY);
    vf.registerTiling(new StateTilings(2, listB()));
}

Bytes expectedV() {
    const std::vector<double> w = sequence(16 + 24, 0.0);
    return concat({stateBlock(), u32(2), body(groupA(1, 1, std::vector<double>(w.begin(), w.begin() + 16))),
                   body(groupB(1, 0, std::vector<double>(w.begin() + 16, w.end())))});
}

void buildQ(ActionTileCoding& q) {
    for (int a = 0; a < 3; ++a) q.registerAction(new AbstractAction());
    setSequence(sequence(48 + 72, 0.05));
    q.setInitWeightsFunctionPtr(&fromSequence);
    q.registerTiling(new ActionTilings(4, listA()));
    q.registerTiling(new ActionTilings(2, listB()));
    q.setTraceStorage(Types::ARRAY);
}

Bytes expectedQ() {
    const std::vector<double> w = sequence(48 + 72, 0.05);
    Bytes actions;
    putI32(actions, 3);
    return concat({stateBlock(), actions, u32(2), body(groupA(3, 1, std::vector<double>(w.begin(), w.begin() + 48))),
                   body(groupB(3, 1, std::vector<double>(w.begin() + 48, w.end())))});
}

// Loading bytes: the result of load(fileName) and what is left of the container.
struct LoadResult {
    int result;
    int groups;
    int tilings;
    std::vector<std::string> errors;
};

// The truncation loops capture the reports once around the whole loop.
template <class VF>
LoadResult loadUncaptured(const TempDir& dir, const Bytes& bytes) {
    const std::string path = dir.file("vf.bin");
    writeFile(path, bytes);
    VF vf(fileState());
    const int result = vf.load(path);
    LoadResult r{result, vf.getNumberOfGroups(), vf.getNumberOfTilings(), {}};
    // The file-name constructor goes the same way.
    VF fromFile(path);
    EXPECT_EQ(fromFile.getNumberOfGroups(), result == 0 ? r.groups : 0);
    return r;
}

template <class VF>
LoadResult loadCaptured(const TempDir& dir, const Bytes& bytes) {
    testing::internal::CaptureStderr();
    LoadResult r = loadUncaptured<VF>(dir, bytes);
    r.errors = reportMessages(testing::internal::GetCapturedStderr());
    return r;
}

LoadResult loadV(const TempDir& dir, const Bytes& bytes) { return loadCaptured<StateTileCoding>(dir, bytes); }
LoadResult loadQ(const TempDir& dir, const Bytes& bytes) { return loadCaptured<ActionTileCoding>(dir, bytes); }

}  // namespace

// --------------------------------------------------------- byte-exact files

TEST(TileFiles, GroupBodyIsWrittenFieldByField) {
    TempDir dir;
    std::unique_ptr<State> state(fileState());
    StateTilings group(2, listB());
    group.create(state.get());
    setSequence(sequence(24, 0.0));
    group.initWeights(&fromSequence);
    const std::string path = dir.file("body.bin");
    FILE* file = std::fopen(path.c_str(), "w+");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(group.save(file), 0);
    std::fclose(file);
    const Bytes expected = body(groupB(1, 0, sequence(24, 0.0)));
    EXPECT_EQ(expected.size(), 16u + 32 * 2 + 8 * 2 * 2 + 8 * 24);
    EXPECT_EQ(readFile(path), expected);
}

TEST(TileFiles, GroupWithoutWeightsWritesItsGeometryAndFails) {
    TempDir dir;
    StateTilings group(3, listB());
    const std::string path = dir.file("body.bin");
    FILE* file = std::fopen(path.c_str(), "w+");
    ASSERT_NE(file, nullptr);
    testing::internal::CaptureStderr();
    EXPECT_EQ(group.save(file), -1);
    EXPECT_EQ(reportMessages(testing::internal::GetCapturedStderr()),
              (std::vector<std::string>{"weights == 0 --> Maybe forgot to call create?"}));
    std::fclose(file);
    EXPECT_EQ(readFile(path).size(), 16u + 32 * 2 + 8 * 3 * 2);
}

TEST(TileFiles, VFileIsStateBlockListSizeAndGroupBodies) {
    TempDir dir;
    StateTileCoding vf(fileState());
    buildV(vf);
    ASSERT_EQ(vf.save(dir.file("v.bin")), 0);
    EXPECT_EQ(readFile(dir.file("v.bin")), expectedV());

    StateTileCoding empty(fileState());
    ASSERT_EQ(empty.save(dir.file("empty.bin")), 0);
    EXPECT_EQ(readFile(dir.file("empty.bin")), concat({stateBlock(), u32(0)}));
}

TEST(TileFiles, QFileLaysEachGroupOutForTheActions) {
    TempDir dir;
    ActionTileCoding q(fileState());
    buildQ(q);
    ASSERT_EQ(q.save(dir.file("q.bin")), 0);
    EXPECT_EQ(readFile(dir.file("q.bin")), expectedQ());
}

TEST(TileFiles, AGroupThatCannotBeSavedStopsTheContainer) {
    // A group that fails its own save after the container wrote listSize.
    class FailingGroup : public StateTilings {
    public:
        using StateTilings::StateTilings;
        const int save(FILE*) const override { return -1; }
    };
    TempDir dir;
    StateTileCoding vf(fileState());
    vf.registerTiling(new StateTilings(4, listA()));
    vf.registerTiling(new FailingGroup(4, listA()));
    testing::internal::CaptureStderr();
    EXPECT_EQ(vf.save(dir.file("v.bin")), -1);
    EXPECT_EQ(reportMessages(testing::internal::GetCapturedStderr()),
              (std::vector<std::string>{"Tiling::save returned -1", "saving valuefunction failed"}));
    // listSize and the first group stay in the file.
    EXPECT_EQ(readFile(dir.file("v.bin")).size(), stateBlock().size() + 4 + 16 + 32 + 8 * 4 + 8 * 16);
}

// -------------------------------------------------------------- round trips

TEST(TileFiles, VFileRoundTripIsBitExact) {
    TempDir dir;
    StateTileCoding vf(fileState());
    buildV(vf);
    vf.getStatePtr()->setValueDbl(0, 5.3);
    vf.getStatePtr()->setValueDbl(1, -0.7);
    vf.setState();
    ASSERT_EQ(vf.save(dir.file("first.bin")), 0);

    StateTileCoding loaded(dir.file("first.bin"));
    ASSERT_EQ(loaded.getNumberOfGroups(), 2);
    EXPECT_EQ(loaded.getNumberOfTilings(), 6);
    ASSERT_EQ(loaded.save(dir.file("second.bin")), 0);
    EXPECT_EQ(readFile(dir.file("second.bin")), readFile(dir.file("first.bin")));

    loaded.getStatePtr()->setValueDbl(0, 5.3);
    loaded.getStatePtr()->setValueDbl(1, -0.7);
    loaded.setState();
    EXPECT_TRUE(sameBits(loaded.getStateValue(), vf.getStateValue()));
    EXPECT_EQ(loaded.getMinWeight(), vf.getMinWeight());
    EXPECT_EQ(loaded.getMaxWeight(), vf.getMaxWeight());

    // Loading replaces the groups a function already had.
    StateTileCoding replaced(fileState());
    replaced.registerTiling(new StateTilings(8, listA()));
    ASSERT_EQ(replaced.load(dir.file("first.bin")), 0);
    EXPECT_EQ(replaced.getNumberOfGroups(), 2);
    EXPECT_EQ(replaced.getNumberOfTilings(), 6);

    // A damaged body leaves none of them, and none of its own.
    Bytes damaged = readFile(dir.file("first.bin"));
    damaged.resize(damaged.size() - 1);
    writeFile(dir.file("damaged.bin"), damaged);
    testing::internal::CaptureStderr();
    EXPECT_EQ(replaced.load(dir.file("damaged.bin")), -1);
    (void)testing::internal::GetCapturedStderr();
    EXPECT_EQ(replaced.getNumberOfGroups(), 0);
    EXPECT_EQ(replaced.getNumberOfTilings(), 0);
}

TEST(TileFiles, QFileRoundTripIsBitExactAndKeepsTheActions) {
    TempDir dir;
    ActionTileCoding q(fileState());
    buildQ(q);
    ASSERT_EQ(q.save(dir.file("first.bin")), 0);

    ActionTileCoding loaded(dir.file("first.bin"));
    EXPECT_EQ(loaded.getNumberOfActions(), 3);
    for (int a = 0; a < 3; ++a) EXPECT_EQ(loaded.getAction(a), nullptr);
    ASSERT_EQ(loaded.getNumberOfGroups(), 2);
    ASSERT_EQ(loaded.save(dir.file("second.bin")), 0);
    EXPECT_EQ(readFile(dir.file("second.bin")), readFile(dir.file("first.bin")));

    for (ActionTileCoding* f : {&q, &loaded}) {
        f->getStatePtr()->setValueDbl(0, 7.9);
        f->getStatePtr()->setValueDbl(1, 1.99);
        f->setState();
    }
    for (int a = 0; a < 3; ++a) EXPECT_TRUE(sameBits(loaded.getActionValue(a), q.getActionValue(a)));

    // A loaded function learns on the loaded layout.
    AbstractAction* third = new AbstractAction();
    loaded.setAction(0, new AbstractAction());
    loaded.setAction(1, new AbstractAction());
    loaded.setAction(2, third);
    const double before = loaded.getActionValue(1);
    loaded.unregisterAction(2);
    delete third;  // handed back
    EXPECT_EQ(loaded.getNumberOfActions(), 2);
    loaded.setState();
    EXPECT_TRUE(sameBits(loaded.getActionValue(1), before));
}

// ----------------------------------------------------------- damaged files

TEST(TileFiles, EveryTruncationOfAVFileFails) {
    TempDir dir;
    const Bytes full = expectedV();
    ASSERT_EQ(loadV(dir, full).result, 0);
    testing::internal::CaptureStderr();
    for (std::size_t length = 0; length < full.size(); ++length) {
        const LoadResult r =
            loadUncaptured<StateTileCoding>(dir, Bytes(full.begin(), full.begin() + static_cast<long>(length)));
        EXPECT_EQ(r.result, -1) << "cut at " << length;
        EXPECT_EQ(r.groups, 0) << "cut at " << length;
        EXPECT_EQ(r.tilings, 0) << "cut at " << length;
    }
    (void)testing::internal::GetCapturedStderr();
}

TEST(TileFiles, EveryTruncationOfAQFileFails) {
    TempDir dir;
    const Bytes full = expectedQ();
    ASSERT_EQ(loadQ(dir, full).result, 0);
    testing::internal::CaptureStderr();
    for (std::size_t length = 0; length < full.size(); ++length) {
        const LoadResult r =
            loadUncaptured<ActionTileCoding>(dir, Bytes(full.begin(), full.begin() + static_cast<long>(length)));
        EXPECT_EQ(r.result, -1) << "cut at " << length;
        EXPECT_EQ(r.groups, 0) << "cut at " << length;
        EXPECT_EQ(r.tilings, 0) << "cut at " << length;
    }
    (void)testing::internal::GetCapturedStderr();
}

TEST(TileFiles, AMissingListSizeIsReportedWithErrno) {
    TempDir dir;
    const LoadResult r = loadV(dir, stateBlock());
    EXPECT_EQ(r.result, -1);
    ASSERT_FALSE(r.errors.empty());
    EXPECT_EQ(r.errors[0].rfind("errno = ", 0), 0u) << r.errors[0];
}

TEST(TileFiles, MalformedGroupBodiesAreRefusedWhole) {
    TempDir dir;
    const std::vector<double> wA = sequence(16, 0.0);
    const std::vector<double> wB = sequence(24, 0.0);
    struct Case {
        const char* what;
        void (*damage)(BodySpec&);
    };
    const std::vector<Case> cases{
        {"no tilings", [](BodySpec& s) { s.tilings = 0; }},
        {"negative tilings", [](BodySpec& s) { s.tilings = -2; }},
        {"no variables", [](BodySpec& s) { s.dimensions = 0; }},
        {"tilings beyond the file", [](BodySpec& s) { s.tilings = INT_MAX; }},
        {"variables beyond the file", [](BodySpec& s) { s.dimensions = INT_MAX; }},
        {"unknown trace storage", [](BodySpec& s) { s.storage = 2; }},
        {"unknown tile type", [](BodySpec& s) { s.vars[1].tileType = 3; }},
        {"id beyond the State", [](BodySpec& s) { s.vars[0].id = 2; }},
        {"negative id", [](BodySpec& s) { s.vars[1].id = -1; }},
        {"no tiles", [](BodySpec& s) { s.tiles[0] = 0; }},
        {"tiles that do not match the strides", [](BodySpec& s) { s.tiles[1] = 5; }},
        {"a wrong last stride", [](BodySpec& s) { s.strides[1] = 3; }},
        {"a wrong first stride", [](BodySpec& s) { s.strides[0] = 6; }},
        {"zero width", [](BodySpec& s) { s.widths[0] = 0.0; }},
        {"NaN width", [](BodySpec& s) { s.widths[1] = std::nan(""); }},
        {"infinite offset", [](BodySpec& s) { s.offsets[1][0] = INFINITY; }},
        {"ARRAY_SIZE one too small", [](BodySpec& s) {
             s.arraySize = 23;
             s.weights.pop_back();
         }},
        {"ARRAY_SIZE one too large", [](BodySpec& s) {
             s.arraySize = 25;
             s.weights.push_back(1.0);
         }},
        {"ARRAY_SIZE negative", [](BodySpec& s) { s.arraySize = -24; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BodySpec damaged = groupB(1, 0, wB);
        c.damage(damaged);
        // The damaged group comes second: the first must not stay behind.
        const LoadResult r = loadV(dir, concat({stateBlock(), u32(2), body(groupA(1, 0, wA)), body(damaged)}));
        EXPECT_EQ(r.result, -1);
        EXPECT_EQ(r.groups, 0);
        EXPECT_EQ(r.tilings, 0);
        EXPECT_FALSE(r.errors.empty());
    }
}

TEST(TileFiles, ImplausibleCountsAreRefusedBeforeAllocating) {
    TempDir dir;
    // A consistent geometry of INT_MAX weights in a file of a few bytes.
    BodySpec huge;
    huge.tilings = 1;
    huge.dimensions = 1;
    huge.storage = 0;
    huge.vars = {{0, 1.0, Types::CLIP}};
    huge.widths = {8.0 / INT_MAX};
    huge.tiles = {INT_MAX};
    huge.strides = {1};
    huge.offsets = {{0.0}};
    huge.arraySize = INT_MAX;
    LoadResult r = loadV(dir, concat({stateBlock(), u32(1), body(huge)}));
    EXPECT_EQ(r.result, -1);
    EXPECT_EQ(r.groups, 0);

    // More groups announced than the file holds.
    r = loadV(dir, concat({stateBlock(), u32(0xffffffffu), body(groupA(1, 0, sequence(16, 0.0)))}));
    EXPECT_EQ(r.result, -1);
    r = loadV(dir, concat({stateBlock(), u32(2), body(groupA(1, 0, sequence(16, 0.0)))}));
    EXPECT_EQ(r.result, -1);
    EXPECT_EQ(r.groups, 0);
}

TEST(TileFiles, ActionBodiesMustBeLaidOutForTheEnvelopesActions) {
    TempDir dir;
    // Bodies written for 2 actions under an envelope that says 3.
    Bytes three;
    putI32(three, 3);
    LoadResult r = loadQ(dir, concat({stateBlock(), three, u32(1), body(groupA(2, 0, sequence(32, 0.0)))}));
    EXPECT_EQ(r.result, -1);
    EXPECT_EQ(r.groups, 0);

    // No actions: nothing can be laid out.
    Bytes none;
    putI32(none, 0);
    r = loadQ(dir, concat({stateBlock(), none, u32(1), body(groupA(1, 0, sequence(16, 0.0)))}));
    EXPECT_EQ(r.result, -1);
    r = loadQ(dir, concat({stateBlock(), none, u32(0)}));
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.groups, 0);
}

TEST(TileFiles, TileBodiesNeedAFloatingPointState) {
    TempDir dir;
    Bytes intState;
    putU32(intState, 2);
    putI32(intState, 1);  // INT
    putIntVar(intState, "v0", 0, 8);
    putIntVar(intState, "v1", -1, 2);
    const LoadResult r = loadV(dir, concat({intState, u32(1), body(groupA(1, 0, sequence(16, 0.0)))}));
    EXPECT_EQ(r.result, -1);
    EXPECT_EQ(r.groups, 0);
}

TEST(TileFiles, AGroupThatCannotBeReadHasNoWeights) {
    TempDir dir;
    const Bytes full = body(groupA(1, 0, sequence(16, 0.0)));
    const std::string path = dir.file("body.bin");
    writeFile(path, Bytes(full.begin(), full.end() - 3));  // cut inside the weights
    std::unique_ptr<State> state(fileState());
    FILE* file = std::fopen(path.c_str(), "r");
    ASSERT_NE(file, nullptr);
    testing::internal::CaptureStderr();
    StateTilings group(state.get(), file);
    std::fclose(file);
    EXPECT_FALSE(group.hasWeights());
    EXPECT_EQ(group.getNumberOfTilings(), 0);
    EXPECT_EQ(group.getStateValue(), DBL_MAX);
    group.activateTiles();
    const std::vector<std::string> messages = reportMessages(testing::internal::GetCapturedStderr());
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[1], "weights == 0 --> Maybe forgot to call create?");
    EXPECT_EQ(messages[2], "weights == 0 --> Maybe forgot to call create?");
}
