#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "ActionTileCoding.h"
#include "StateTileCoding.h"
#include "TestSupport.h"
#include "TileTestSupport.h"

using namespace test_support;
using namespace tile_test;

namespace {

using Messages = std::vector<std::string>;

// ------------------------------------------------ the layout, from outside

struct VarSpec {
    int32_t id;
    double resolution;
    int32_t tileType;
};

// One group body field by field, as the file layout lists it.
struct BodySpec {
    int32_t tilings, dimensions, storage;
    std::vector<VarSpec> vars;
    std::vector<double> widths;
    std::vector<int32_t> tiles, strides;
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

Bytes i32(int32_t v) {
    Bytes b;
    putI32(b, v);
    return b;
}

Bytes concat(const std::vector<Bytes>& parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

// The State the files are built on: v0 on [0, 8], v1 on [-1, 2].
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
    BodySpec s{4, 1, storage, {{0, 8.0 / (4 * 4), Types::CLIP}}, {8.0 / 4}, {4}, {4 * actions}, {}, 4 * actions * 4,
               weights};
    for (int t = 0; t < 4; ++t) s.offsets.push_back({t * (8.0 / (4 * 4))});
    return s;
}

// Group B: 2 tilings over v1 CIRCLE with resolution 0.5 (3 tiles of width
// 1) and v0 WRAP with resolution 1.5 (ceil(8 / 3) + 1 = 4 tiles of width 8/3).
BodySpec groupB(int actions, int32_t storage, const std::vector<double>& weights) {
    BodySpec s{2, 2, storage, {{1, 3.0 / (3 * 2), Types::CIRCLE}, {0, 8.0 / ((4 - 1) * 2), Types::WRAP}},
               {3.0 / 3, 8.0 / (4 - 1)}, {3, 4}, {2 * actions * 4, 2 * actions}, {}, 2 * actions * 3 * 4, weights};
    for (int t = 0; t < 2; ++t) s.offsets.push_back({t * (3.0 / (3 * 2)), t * (8.0 / ((4 - 1) * 2))});
    return s;
}

VarList listA() { return VarList{tiledVar(0, 0.5, Types::CLIP)}; }
VarList listB() { return VarList{tiledVar(1, 0.5, Types::CIRCLE), tiledVar(0, 1.5, Types::WRAP)}; }

// Group A with ARRAY traces, group B with MAP traces (the Q groups both
// SPARSE); weights from one running sequence.
void buildV(StateTileCoding& vf) {
    setSequence(sequence(16 + 24, 0.0));
    vf.setInitWeightsFunctionPtr(&fromSequence);
    vf.registerTiling(new StateTilings(4, listA()));
    vf.setTraceStorage(Types::ARRAY);
    vf.registerTiling(new StateTilings(2, listB()));
}

Bytes expectedV() {
    const std::vector<double> w = sequence(16 + 24, 0.0);
    return concat({stateBlock(), i32(2), body(groupA(1, 1, std::vector<double>(w.begin(), w.begin() + 16))),
                   body(groupB(1, 0, std::vector<double>(w.begin() + 16, w.end())))});
}

void buildQ(ActionTileCoding& q) {
    for (int a = 0; a < 3; ++a) q.registerAction(new AbstractAction());
    setSequence(sequence(48 + 72, 0.05));
    q.setInitWeightsFunctionPtr(&fromSequence);
    q.registerTiling(new ActionTilings(4, listA()));
    q.registerTiling(new ActionTilings(2, listB()));
    q.setTraceStorage(Types::SPARSE);
}

Bytes expectedQ() {
    const std::vector<double> w = sequence(48 + 72, 0.05);
    return concat({stateBlock(), i32(3), i32(2), body(groupA(3, 2, std::vector<double>(w.begin(), w.begin() + 48))),
                   body(groupB(3, 2, std::vector<double>(w.begin() + 48, w.end())))});
}

// The result of load(fileName) on the bytes and what is left of the
// function; the file-name constructor must go the same way.
struct LoadResult {
    int result;
    int groups;
    int tilings;
    Messages errors;
};

template <class VF>
LoadResult load(const TempDir& dir, const Bytes& bytes) {
    const std::string path = dir.file("vf.bin");
    writeFile(path, bytes);
    VF vf(fileState());
    int result = 0;
    const Messages errors = stderrReports([&] {
        result = vf.load(path);
        VF fromFile(path);
        EXPECT_EQ(fromFile.getNumberOfGroups(), result == 0 ? vf.getNumberOfGroups() : 0);
    });
    return {result, vf.getNumberOfGroups(), vf.getNumberOfTilings(), errors};
}

void expectRefused(const LoadResult& r) {
    EXPECT_EQ(r.result, -1);
    EXPECT_EQ(r.groups, 0);
    EXPECT_EQ(r.tilings, 0);
    EXPECT_FALSE(r.errors.empty());
}

}  // namespace

// --------------------------------------------------------- byte-exact files

TEST(TileFiles, FilesAreTheStateBlockThenTheGroupBodiesLaidOutForTheActions) {
    TempDir dir;
    StateTileCoding vf(fileState());
    buildV(vf);
    ASSERT_EQ(vf.save(dir.file("v.bin")), 0);
    EXPECT_EQ(readFile(dir.file("v.bin")), expectedV());

    StateTileCoding empty(fileState());
    ASSERT_EQ(empty.save(dir.file("empty.bin")), 0);
    EXPECT_EQ(readFile(dir.file("empty.bin")), concat({stateBlock(), i32(0)}));

    ActionTileCoding q(fileState());
    buildQ(q);
    ASSERT_EQ(q.save(dir.file("q.bin")), 0);
    EXPECT_EQ(readFile(dir.file("q.bin")), expectedQ());
}

TEST(TileFiles, SavesThatCannotWriteEverythingFail) {
    TempDir dir;
    StateTilings uncreated(3, listB());
    FILE* file = std::fopen(dir.file("body.bin").c_str(), "w+");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(stderrReports([&] { EXPECT_EQ(uncreated.save(file), -1); }),
              Messages{"weights == 0 --> Maybe forgot to call create?"});
    std::fclose(file);

    // A group that fails its own save after the container wrote listSize.
    class FailingGroup : public StateTilings {
    public:
        using StateTilings::StateTilings;
        const int save(FILE*) const override { return -1; }
    };
    StateTileCoding vf(fileState());
    vf.registerTiling(new StateTilings(4, listA()));
    vf.registerTiling(new FailingGroup(4, listA()));
    EXPECT_EQ(stderrReports([&] { EXPECT_EQ(vf.save(dir.file("v.bin")), -1); }),
              (Messages{"Tiling::save returned -1", "saving valuefunction failed"}));
}

// -------------------------------------------------------------- round trips

TEST(TileFiles, RoundTripsAreBitExact) {
    TempDir dir;
    StateTileCoding vf(fileState());
    buildV(vf);
    ASSERT_EQ(vf.save(dir.file("v1.bin")), 0);
    StateTileCoding loaded(dir.file("v1.bin"));
    ASSERT_EQ(loaded.getNumberOfGroups(), 2);
    EXPECT_EQ(loaded.getNumberOfTilings(), 6);
    ASSERT_EQ(loaded.save(dir.file("v2.bin")), 0);
    EXPECT_EQ(readFile(dir.file("v2.bin")), readFile(dir.file("v1.bin")));
    for (StateTileCoding* f : {&vf, &loaded}) {
        f->getStatePtr()->setValueDbl(0, 5.3);
        f->getStatePtr()->setValueDbl(1, -0.7);
        f->setState();
    }
    EXPECT_TRUE(sameBits(loaded.getStateValue(), vf.getStateValue()));

    ActionTileCoding q(fileState());
    buildQ(q);
    ASSERT_EQ(q.save(dir.file("q1.bin")), 0);
    ActionTileCoding loadedQ(dir.file("q1.bin"));
    EXPECT_EQ(loadedQ.getNumberOfActions(), 3);
    for (int a = 0; a < 3; ++a) EXPECT_EQ(loadedQ.getAction(a), nullptr);
    ASSERT_EQ(loadedQ.save(dir.file("q2.bin")), 0);
    EXPECT_EQ(readFile(dir.file("q2.bin")), readFile(dir.file("q1.bin")));
    for (ActionTileCoding* f : {&q, &loadedQ}) {
        f->getStatePtr()->setValueDbl(0, 7.9);
        f->getStatePtr()->setValueDbl(1, 1.99);
        f->setState();
    }
    for (int a = 0; a < 3; ++a) EXPECT_TRUE(sameBits(loadedQ.getActionValue(a), q.getActionValue(a)));

    // A loaded function goes on with the loaded layout.
    AbstractAction* third = new AbstractAction();
    loadedQ.setAction(0, new AbstractAction());
    loadedQ.setAction(1, new AbstractAction());
    loadedQ.setAction(2, third);
    const double before = loadedQ.getActionValue(1);
    loadedQ.unregisterAction(2);
    delete third;  // handed back
    loadedQ.setState();
    EXPECT_TRUE(sameBits(loadedQ.getActionValue(1), before));
}

TEST(TileFiles, LoadingReplacesTheGroupsAndAFailedLoadLeavesNone) {
    TempDir dir;
    StateTileCoding vf(fileState());
    vf.registerTiling(new StateTilings(8, listA()));
    writeFile(dir.file("v.bin"), expectedV());
    ASSERT_EQ(vf.load(dir.file("v.bin")), 0);
    EXPECT_EQ(vf.getNumberOfGroups(), 2);
    EXPECT_EQ(vf.getNumberOfTilings(), 6);

    Bytes damaged = expectedV();
    damaged.pop_back();
    writeFile(dir.file("v.bin"), damaged);
    EXPECT_FALSE(stderrReports([&] { EXPECT_EQ(vf.load(dir.file("v.bin")), -1); }).empty());
    EXPECT_EQ(vf.getNumberOfGroups(), 0);
    EXPECT_EQ(vf.getNumberOfTilings(), 0);
}

// ----------------------------------------------------------- damaged files

TEST(TileFiles, EveryTruncationFails) {
    TempDir dir;
    for (const bool action : {false, true}) {
        const Bytes full = action ? expectedQ() : expectedV();
        const auto loadBytes = action ? &load<ActionTileCoding> : &load<StateTileCoding>;
        ASSERT_EQ(loadBytes(dir, full).result, 0);
        for (std::size_t length = 0; length < full.size(); ++length) {
            SCOPED_TRACE(testing::Message() << (action ? "Q" : "V") << " cut at " << length);
            const LoadResult r = loadBytes(dir, Bytes(full.begin(), full.begin() + static_cast<long>(length)));
            expectRefused(r);
            // A missing listSize is a short read: the file ended, no errno.
            if (!action && length == stateBlock().size()) {
                EXPECT_TRUE(!r.errors.empty() && r.errors[0] == "the file ends early");
            }
        }
    }
}

TEST(TileFiles, MalformedGroupBodiesAreRefusedWhole) {
    TempDir dir;
    struct Case {
        const char* what;
        void (*damage)(BodySpec&);
        const char* report = "";  // a part of the refusal's message, where it must be that one
    };
    const Case cases[] = {
        {"no tilings", [](BodySpec& s) { s.tilings = 0; }},
        {"negative tilings", [](BodySpec& s) { s.tilings = -2; }},
        {"no variables", [](BodySpec& s) { s.dimensions = 0; }},
        {"tilings beyond the file", [](BodySpec& s) { s.tilings = INT_MAX; }, "more than the rest of the file"},
        {"variables beyond the file", [](BodySpec& s) { s.dimensions = INT_MAX; }, "more than the rest of the file"},
        {"unknown trace storage", [](BodySpec& s) { s.storage = 3; }},
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
        {"ARRAY_SIZE one too small", [](BodySpec& s) { s.arraySize = 23; s.weights.pop_back(); }},
        {"ARRAY_SIZE one too large", [](BodySpec& s) { s.arraySize = 25; s.weights.push_back(1.0); }},
        {"ARRAY_SIZE negative", [](BodySpec& s) { s.arraySize = -24; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BodySpec damaged = groupB(1, 0, sequence(24, 0.0));
        c.damage(damaged);
        // The damaged group comes second: the first must not stay behind.
        const LoadResult r = load<StateTileCoding>(
            dir, concat({stateBlock(), i32(2), body(groupA(1, 0, sequence(16, 0.0))), body(damaged)}));
        expectRefused(r);
        EXPECT_TRUE(someReportContains(r.errors, c.report)) << testing::PrintToString(r.errors);
    }
}

TEST(TileFiles, ImplausibleCountsAndBodiesThatDoNotFitTheEnvelopeAreRefused) {
    TempDir dir;
    const Bytes bodyA = body(groupA(1, 0, sequence(16, 0.0)));
    // A consistent geometry of INT_MAX weights in a file of a few bytes.
    const BodySpec huge{1, 1, 0, {{0, 1.0, Types::CLIP}}, {8.0 / INT_MAX}, {INT_MAX}, {1}, {{0.0}}, INT_MAX,
                        {0.0, 0.0}};
    Bytes intState;
    putU32(intState, 2);
    putI32(intState, 1);  // INT
    putIntVar(intState, "v0", 0, 8);
    putIntVar(intState, "v1", -1, 2);
    const struct {
        const char* what;
        Bytes file;
        const char* report;
    } vCases[] = {
        {"INT_MAX weights", concat({stateBlock(), i32(1), body(huge)}), "more weights than the rest of the file"},
        {"more groups than the file holds", concat({stateBlock(), i32(-1), bodyA}), "more groups than the rest"},
        {"one group short", concat({stateBlock(), i32(2), bodyA}), "Tiling 1 of 2 could not be read"},
        {"an integer State", concat({intState, i32(1), bodyA}), "needs a State of DOUBLE variables"},
    };
    for (const auto& c : vCases) {
        SCOPED_TRACE(c.what);
        const LoadResult r = load<StateTileCoding>(dir, c.file);
        expectRefused(r);
        EXPECT_TRUE(someReportContains(r.errors, c.report)) << testing::PrintToString(r.errors);
    }
    // Action bodies must be laid out for the envelope's actions.
    expectRefused(load<ActionTileCoding>(
        dir, concat({stateBlock(), i32(3), i32(1), body(groupA(2, 0, sequence(32, 0.0)))})));
    expectRefused(load<ActionTileCoding>(dir, concat({stateBlock(), i32(0), i32(1), bodyA})));
    const LoadResult none = load<ActionTileCoding>(dir, concat({stateBlock(), i32(0), i32(0)}));
    EXPECT_EQ(none.result, 0);
    EXPECT_EQ(none.groups, 0);
}
