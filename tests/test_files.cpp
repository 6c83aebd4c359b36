#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cstddef>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "ActionTileCoding.h"
#include "LookupTableAccess.h"
#include "NeuralNetwork.h"
#include "StateTileCoding.h"
#include "TestSupport.h"
#include "TileTestSupport.h"

using lookup_test::IntVar;
using lookup_test::makeQ;
using lookup_test::makeState;
using lookup_test::QTable;
using lookup_test::VTable;
using namespace test_support;

namespace {

using Messages = std::vector<std::string>;
const std::string NO_WEIGHTS = "weights == 0 --> Maybe forgot to call create?";

// The State block of integer variables, assembled from the layout.
Bytes stateBlock(const std::vector<IntVar>& vars) {
    Bytes b;
    putU32(b, static_cast<uint32_t>(vars.size()));
    putI32(b, vars.empty() ? 0 : 1);
    for (const IntVar& v : vars) putIntVar(b, v.name, v.lo, v.hi);
    return b;
}

// The lookup-table body.
Bytes body(int32_t storage, const std::vector<int32_t>& strides, int32_t size, const std::vector<double>& weights) {
    Bytes b;
    putI32(b, storage);
    for (int32_t s : strides) putI32(b, s);
    putI32(b, size);
    for (double w : weights) putF64(b, w);
    return b;
}

Bytes vFile(const std::vector<IntVar>& vars, const Bytes& tableBody) {
    Bytes b = stateBlock(vars);
    b.insert(b.end(), tableBody.begin(), tableBody.end());
    return b;
}

Bytes qFile(const std::vector<IntVar>& vars, int32_t actions, const Bytes& tableBody) {
    Bytes b = stateBlock(vars);
    putI32(b, actions);
    b.insert(b.end(), tableBody.begin(), tableBody.end());
    return b;
}

std::vector<double> ramp(int n, double scale) {
    std::vector<double> w;
    for (int i = 0; i < n; ++i) w.push_back(i * scale - 1.0);
    return w;
}

bool sameWeightBits(const std::vector<double>& a, const std::vector<double>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!sameBits(a[i], b[i])) return false;
    }
    return true;
}

double nanWithPayload() {
    const uint64_t bits = 0x7ff80000deadbeefULL;
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

const std::vector<double> ODD_WEIGHTS{0.0,     -0.0,     std::numeric_limits<double>::infinity(),
                                      -std::numeric_limits<double>::infinity(),
                                      nanWithPayload(), std::numeric_limits<double>::denorm_min(),
                                      DBL_MAX, -DBL_MIN, 0.1};

const std::vector<IntVar> TWO_VARS{{"x", 0, 2}, {"yy", -1, 1}};
const std::vector<IntVar> ONE_VAR{{"a", 0, 2}};

// Reads the file at path through the file-name constructor and into an
// existing table; returns the captured reports.
struct Readers {
    std::unique_ptr<QTable> freshQ, reusedQ;
    std::unique_ptr<VTable> freshV, reusedV;
    int result = 0;
    Messages errors;
    Readers(bool action, const std::string& path) {
        errors = stderrReports([&] {
            if (action) {
                freshQ.reset(new QTable(path));
                reusedQ.reset(makeQ(ONE_VAR, 2));
                result = reusedQ->load(path);
            } else {
                freshV.reset(new VTable(path));
                reusedV.reset(new VTable(makeState(TWO_VARS)));
                result = reusedV->load(path);
            }
        });
    }
    const double* freshWeights() const { return freshQ ? freshQ->weights : freshV->weights; }
    const double* reusedWeights() const { return reusedQ ? reusedQ->weights : reusedV->weights; }
    // Every use of a table that holds no weights reports.
    Messages use() {
        return stderrReports([&] {
            if (reusedQ) {
                EXPECT_EQ(freshQ->getActionValue(0), DBL_MAX);
                reusedQ->setState();
                reusedQ->setActionValue(0, 1.0);
                reusedQ->updateWeights(1.0, 1.0);
            } else {
                EXPECT_EQ(freshV->getStateValue(), DBL_MAX);
                reusedV->setState();
                reusedV->updateWeights(1.0, 1.0);
            }
        });
    }
};

// A small value function of each kind, for reading each other's files.
struct Kind {
    const char* name;
    std::function<ValueFunction*()> build;                    // with a body
    std::function<ValueFunction*(const std::string&)> open;  // the file-name constructor
    // Using it reports (or, for a tile coding, it has no group left to use).
    std::function<bool(ValueFunction&)> holdsNothing;
};

template <class VF>
Kind kind(const char* name, const std::function<VF*()>& build, const std::function<bool(VF&)>& holdsNothing) {
    return {name, build, [](const std::string& path) { return new VF(path); },
            [holdsNothing](ValueFunction& vf) { return holdsNothing(static_cast<VF&>(vf)); }};
}

template <class F>
bool reports(F use) {
    return !stderrReports(use).empty();
}

template <class Q>
Q* withTwoActions(Q* q) {
    q->registerAction(new AbstractAction());
    q->registerAction(new AbstractAction());
    return q;
}

State* unitState() { return tile_test::doubleState({{0.0, 1.0}}); }
tile_test::VarList clipped() { return {tile_test::tiledVar(0, 0.5, Types::CLIP)}; }

std::vector<Kind> allKinds() {
    return {kind<StateLookupTable>(
                "state table", [] { return new StateLookupTable(makeState(ONE_VAR)); },
                [](StateLookupTable& t) { return reports([&] { (void)t.getStateValue(); }); }),
            kind<ActionLookupTable>(
                "action table",
                [] {
                    ActionLookupTable* q = withTwoActions(new ActionLookupTable(makeState(ONE_VAR)));
                    q->create();
                    return q;
                },
                [](ActionLookupTable& t) { return reports([&] { (void)t.getActionValue(0); }); }),
            kind<StateTileCoding>(
                "state tiles",
                [] {
                    StateTileCoding* v = new StateTileCoding(unitState());
                    v->registerTiling(new StateTilings(2, clipped()));
                    return v;
                },
                [](StateTileCoding& t) { return t.getNumberOfGroups() == 0; }),
            kind<ActionTileCoding>(
                "action tiles",
                [] {
                    ActionTileCoding* q = withTwoActions(new ActionTileCoding(unitState()));
                    q->registerTiling(new ActionTilings(2, clipped()));
                    return q;
                },
                [](ActionTileCoding& t) { return t.getNumberOfGroups() == 0; }),
            kind<NeuralNetwork>(
                "network", [] { return new NeuralNetwork(unitState(), 2); },
                [](NeuralNetwork& n) { return reports([&] { (void)n.getStateValue(); }); })};
}

}  // namespace

// A file names neither its kind nor its representation: each reader must
// see for itself that a body is not its own, and leave nothing usable.
TEST(Files, EachReaderReadsOnlyWholeFilesOfItsOwnKind) {
    TempDir dir;
    const std::vector<Kind> kinds = allKinds();
    const std::string path = dir.file("vf.bin");
    for (const Kind& writer : kinds) {
        std::unique_ptr<ValueFunction> written(writer.build());
        ASSERT_EQ(written->save(path), 0);
        const Bytes file = readFile(path);
        for (const bool longer : {false, true}) {
            // One byte more is no longer the file its reader wrote.
            Bytes bytes = file;
            if (longer) bytes.push_back(0);
            writeFile(path, bytes);
            for (const Kind& reader : kinds) {
                SCOPED_TRACE(std::string(writer.name) + (longer ? " file + 1 byte" : " file") + " read by " +
                             reader.name);
                const bool reads = &reader == &writer && !longer;
                std::unique_ptr<ValueFunction> reused(reader.build());
                std::unique_ptr<ValueFunction> fresh;
                int result = 0;
                const Messages errors = stderrReports([&] {
                    result = reused->load(path);
                    fresh.reset(reader.open(path));
                });
                EXPECT_EQ(result, reads ? 0 : -1);
                EXPECT_EQ(errors.empty(), reads) << testing::PrintToString(errors);
                if (reads) continue;
                EXPECT_TRUE(reader.holdsNothing(*reused));
                EXPECT_TRUE(reader.holdsNothing(*fresh));
                EXPECT_TRUE(&reader != &writer || someReportContains(errors, "1 byte after the body"));
            }
        }
    }
}

// The state table's file is checked byte for byte with the round trip.
TEST(Files, ActionTableFileHoldsTheActionCountBetweenStateAndBody) {
    TempDir dir;
    std::unique_ptr<QTable> q(makeQ(ONE_VAR, 3));
    q->setWeights(ramp(9, 0.25));
    ASSERT_EQ(q->save(dir.file("q.bin")), 0);
    EXPECT_EQ(readFile(dir.file("q.bin")), qFile(ONE_VAR, 3, body(0, {3}, 9, ramp(9, 0.25))));

    // No variables: the block is UNDEF and the body has no strides.
    std::unique_ptr<QTable> none(makeQ({}, 2));
    ASSERT_EQ(none->save(dir.file("none.bin")), 0);
    EXPECT_EQ(readFile(dir.file("none.bin")), qFile({}, 2, body(0, {}, 2, {0.0, 0.0})));
}

TEST(Files, RoundTripsAreBitExact) {
    TempDir dir;
    const std::string oddName("n\0a\0", 4);
    const std::vector<IntVar> vars{{oddName, -4, -2}, {std::string("\0", 1), 7, 9}};
    VTable v(makeState(vars));
    v.setTraceStorage(Types::ARRAY);
    v.setWeights(ODD_WEIGHTS);
    ASSERT_EQ(v.save(dir.file("v.bin")), 0);
    EXPECT_EQ(readFile(dir.file("v.bin")), vFile(vars, body(1, {3, 1}, 9, ODD_WEIGHTS)));
    VTable fresh(dir.file("v.bin"));
    VTable reused(makeState({{"z", 0, 40}}));  // another geometry, replaced by the file
    ASSERT_EQ(reused.load(dir.file("v.bin")), 0);
    for (VTable* t : {&fresh, &reused}) {
        EXPECT_EQ(t->traceStorage, Types::ARRAY);
        EXPECT_EQ(t->strides(), (std::vector<int>{3, 1}));
        EXPECT_TRUE(sameWeightBits(t->weightVector(), ODD_WEIGHTS));
        EXPECT_EQ(t->getStatePtr()->getVariableId(oddName), 0u);
        EXPECT_EQ(t->getStatePtr()->getMinValueInt(1), 7);
    }

    std::unique_ptr<QTable> q(makeQ(ONE_VAR, 3));
    q->setTraceStorage(Types::SPARSE);
    q->setWeights(ODD_WEIGHTS);
    ASSERT_EQ(q->save(dir.file("q.bin")), 0);
    QTable qFresh(dir.file("q.bin"));
    std::unique_ptr<QTable> qReused(makeQ({{"b", 0, 1}, {"c", 0, 1}}, 5));
    ASSERT_EQ(qReused->load(dir.file("q.bin")), 0);
    for (QTable* t : {&qFresh, qReused.get()}) {
        EXPECT_EQ(t->ACTIONS, 3);
        EXPECT_EQ(t->registeredActions, std::vector<const AbstractAction*>(3, nullptr));
        EXPECT_EQ(t->traceStorage, Types::SPARSE);
        EXPECT_EQ(t->strides(), std::vector<int>{3});
        EXPECT_TRUE(sameWeightBits(t->weightVector(), ODD_WEIGHTS));
    }
    // Saving what was read writes the same bytes again.
    ASSERT_EQ(qFresh.save(dir.file("q2.bin")), 0);
    EXPECT_EQ(readFile(dir.file("q2.bin")), readFile(dir.file("q.bin")));
}

TEST(Files, AFileCutAtAnyByteIsRefused) {
    TempDir dir;
    const std::string path = dir.file("cut.bin");
    for (const bool action : {false, true}) {
        const Bytes whole = action ? qFile(ONE_VAR, 2, body(0, {2}, 6, ramp(6, 1.0)))
                                   : vFile(TWO_VARS, body(1, {3, 1}, 9, ramp(9, 1.0)));
        // A cut inside the envelope may leave the reused table as it was.
        const std::size_t bodyStart = action ? stateBlock(ONE_VAR).size() + 4 : stateBlock(TWO_VARS).size();
        for (std::size_t cut = 0; cut <= whole.size(); ++cut) {
            SCOPED_TRACE(testing::Message() << (action ? "Q" : "V") << " cut at " << cut);
            writeFile(path, Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut)));
            Readers r(action, path);
            const bool complete = cut == whole.size();
            EXPECT_EQ(r.result, complete ? 0 : -1);
            EXPECT_EQ(r.freshWeights() == nullptr, !complete);
            EXPECT_EQ(r.errors.empty(), complete);
            if (!complete) {
                EXPECT_TRUE(cut < bodyStart || r.reusedWeights() == nullptr);
                EXPECT_FALSE(r.use().empty());
            }
        }
    }
}

TEST(Files, MalformedBodiesAreRefusedByEveryReader) {
    const struct {
        const char* what;
        bool action;
        Bytes file;
        const char* report;       // a part of the refusal's message
        bool bodyReached = true;  // false: the envelope refuses before the body
    } cases[] = {
        {"negative size", false, vFile(TWO_VARS, body(0, {3, 1}, -9, {})),
         "ARRAY_SIZE = -9, but the State's bounds give 9"},
        {"zero size", false, vFile(TWO_VARS, body(0, {3, 1}, 0, {})), "ARRAY_SIZE = 0"},
        {"huge size", false, vFile(TWO_VARS, body(0, {3, 1}, INT_MAX, ramp(9, 1.0))), "ARRAY_SIZE = 2147483647"},
        {"swapped strides", false, vFile(TWO_VARS, body(0, {1, 3}, 9, ramp(9, 1.0))), "indexOffset[1] = 3"},
        {"zero stride", false, vFile(TWO_VARS, body(0, {0, 1}, 9, ramp(9, 1.0))), "indexOffset[0] = 0"},
        {"size too small", false, vFile(TWO_VARS, body(0, {3, 1}, 8, ramp(8, 1.0))), "ARRAY_SIZE = 8"},
        {"size too large", false, vFile(TWO_VARS, body(0, {3, 1}, 10, ramp(10, 1.0))), "ARRAY_SIZE = 10"},
        {"size larger than the file", false, vFile(TWO_VARS, body(0, {3, 1}, 9, ramp(8, 1.0))),
         "more weights than the rest of the file holds"},
        {"strides cut", false, vFile(TWO_VARS, body(0, {}, 9, {})), "the body ends before its 2 strides"},
        {"state too large", false, vFile({{"w", INT_MIN, INT_MAX}}, body(0, {1}, 1, {0.0})),
         "not addressable by an int index"},
        {"empty range", false, vFile({{"w", 2, 0}}, body(0, {1}, 1, {0.0})), "no table on an empty range"},
        {"blocks of two for three actions", true, qFile(ONE_VAR, 3, body(0, {2}, 6, ramp(6, 1.0))),
         "indexOffset[0] = 2"},
        {"size not actions times states", true, qFile(ONE_VAR, 3, body(0, {3}, 6, ramp(6, 1.0))), "ARRAY_SIZE = 6"},
        {"blocks of three for two actions", true, qFile(ONE_VAR, 2, body(0, {3}, 9, ramp(9, 1.0))),
         "indexOffset[0] = 3"},
        {"no actions", true, qFile(ONE_VAR, 0, body(0, {0}, 0, {})), "weights per state = 0"},
        {"negative actions", true, qFile(ONE_VAR, -1, body(0, {2}, 6, ramp(6, 1.0))), "ACTIONS = -1", false},
        {"huge actions", true, qFile(ONE_VAR, INT_MAX, body(0, {2}, 6, ramp(6, 1.0))), "ACTIONS = 2147483647",
         false},
        {"negative action size", true, qFile(ONE_VAR, 2, body(0, {2}, -6, {})), "ARRAY_SIZE = -6"},
        {"huge action size", true, qFile({}, 2, body(0, {}, 1 << 30, {1.0, 2.0})), "ARRAY_SIZE = 1073741824"},
        {"states times actions too large", true, qFile({{"w", 0, 1 << 30}}, 2, body(0, {2}, 2, {0.0, 0.0})),
         "not addressable by an int index"},
    };
    TempDir dir;
    const std::string path = dir.file("bad.bin");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(path, c.file);
        Readers r(c.action, path);
        EXPECT_EQ(r.result, -1);
        EXPECT_EQ(r.freshWeights(), nullptr);
        EXPECT_TRUE(!c.bodyReached || r.reusedWeights() == nullptr);
        EXPECT_TRUE(someReportContains(r.errors, c.report));
        const Messages use = r.use();
        if (!c.action) {
            EXPECT_EQ(r.reusedV->indexOffset, nullptr);
            EXPECT_EQ(r.reusedV->ARRAY_SIZE, 0);
            EXPECT_EQ(use, Messages(3, NO_WEIGHTS));
        } else {
            EXPECT_FALSE(use.empty());
        }
    }
}

TEST(Files, LoadingForgetsEveryIndexIntoTheOldTable) {
    TempDir dir;
    std::unique_ptr<QTable> small(makeQ(ONE_VAR, 2));
    ASSERT_EQ(small->save(dir.file("small.bin")), 0);

    std::unique_ptr<QTable> big(makeQ({{"a", 0, 99}}, 2));
    big->getStatePtr()->setValueInt(0, 99);
    big->setState();
    big->activeActionIndex = 1;
    big->replacingTraces(1.0);
    big->storeState();
    ASSERT_EQ(big->activeIndex, 198);
    ASSERT_EQ(big->load(dir.file("small.bin")), 0);
    EXPECT_EQ(big->activeIndex, -1);
    EXPECT_EQ(big->storedActiveIndex, -1);
    EXPECT_TRUE(big->eTracesMap.empty());
    EXPECT_TRUE(big->episodeIndexHistorySet.empty());
    // Nothing left to update: the stale index 199 must not be written.
    EXPECT_EQ(stderrReports([&] {
                  big->updateWeights(1.0, 1.0);
                  big->valueEpisode(1.0);
              }).size(),
              2u);
    EXPECT_EQ(big->weightVector(), std::vector<double>(6, 0.0));
}

TEST(Files, SavingWithoutAConsistentTableFails) {
    TempDir dir;
    std::unique_ptr<QTable> uncreated(makeQ(ONE_VAR, 2, false));
    Messages errors = stderrReports([&] { EXPECT_EQ(uncreated->save(dir.file("a.bin")), -1); });
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors[0], NO_WEIGHTS);

    // A table whose blocks no longer match ACTIONS (a subclass changed it)
    // would write a file that cannot be read back.
    std::unique_ptr<QTable> grown(makeQ(ONE_VAR, 2));
    grown->ACTIONS = 3;
    errors = stderrReports([&] { EXPECT_EQ(grown->save(dir.file("b.bin")), -1); });
    EXPECT_TRUE(someReportContains(errors, "ACTIONS = 3, but the table holds 2 actions per state"));

    errors = stderrReports([&] {
        VTable missing(dir.file("does-not-exist.bin"));
        EXPECT_EQ(missing.save(dir.file("c.bin")), -1);
    });
    EXPECT_FALSE(errors.empty());
}
