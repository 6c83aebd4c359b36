// The files of every kind: the State block and the value-function files of
// the lookup tables, the tile codings and the network. The expected bytes
// are assembled here from the layout, never from the code under test; a
// reader is tried two ways, through the file-name constructor and through
// load() into a value function already in use.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
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
using lookup_test::makeState;
using namespace test_support;
using namespace tile_test;

namespace {

using Messages = std::vector<std::string>;

Bytes i32(int32_t v) {
    Bytes b;
    putI32(b, v);
    return b;
}

Bytes cat(const std::vector<Bytes>& parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes prefix(const Bytes& b, std::size_t n) { return Bytes(b.begin(), b.begin() + static_cast<long>(n)); }

// ------------------------------------------------------------------ layouts

// The State block: count, kind (1 INT, 2 DOUBLE), one record per variable.
Bytes intBlock(const std::vector<IntVar>& vars) {
    Bytes b = i32(static_cast<int32_t>(vars.size()));
    putI32(b, 1);
    for (const IntVar& v : vars) putIntVar(b, v.name, v.lo, v.hi);
    return b;
}

Bytes doubleBlock(const std::vector<std::pair<std::string, std::pair<double, double>>>& vars) {
    Bytes b = i32(static_cast<int32_t>(vars.size()));
    putI32(b, 2);
    for (const auto& v : vars) putDoubleVar(b, v.first, v.second.first, v.second.second);
    return b;
}

// The lookup-table body: storage, strides, ARRAY_SIZE, weights.
Bytes tableBody(int32_t storage, const std::vector<int32_t>& strides, int32_t size, const std::vector<double>& w) {
    Bytes b = i32(storage);
    for (int32_t s : strides) putI32(b, s);
    putI32(b, size);
    for (double x : w) putF64(b, x);
    return b;
}

std::vector<double> ramp(std::size_t n, double start) {
    std::vector<double> w;
    for (std::size_t i = 0; i < n; ++i) w.push_back(start + 0.1 * static_cast<double>(i) - 1.3);
    return w;
}

Bytes doubles(const std::vector<double>& values) {
    Bytes b;
    for (double v : values) putF64(b, v);
    return b;
}

// 603 weights: more than one chunk of the array reads and writes, led by
// values whose bits a careless copy would change.
std::vector<double> wideWeights() {
    std::vector<double> w{0.0, -0.0, INFINITY, -INFINITY, -std::nan(""), std::numeric_limits<double>::denorm_min(),
                          DBL_MAX, -DBL_MIN};
    while (w.size() < 603) w.push_back(0.25 * static_cast<double>(w.size()) - 1.0);
    return w;
}

const std::vector<IntVar> WIDE{{std::string("n\0a\0", 4), -300, -100}, {std::string("\0", 1), 7, 9}};
const std::vector<IntVar> TWO_VARS{{"x", 0, 2}, {"yy", -1, 1}};
const std::vector<IntVar> ONE_VAR{{"a", 0, 2}};

// One group body, field by field.
struct GroupFields {
    int32_t tilings, dimensions, storage;
    struct Var {
        int32_t id;
        double resolution;
        int32_t tileType;
    };
    std::vector<Var> vars;
    std::vector<double> widths;
    std::vector<int32_t> tiles, strides;
    std::vector<std::vector<double>> offsets;
    int32_t arraySize;
    std::vector<double> weights;
};

Bytes groupBody(const GroupFields& s) {
    Bytes b = cat({i32(s.tilings), i32(s.dimensions), i32(s.storage)});
    for (const GroupFields::Var& v : s.vars) {
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

// The tile codings' State: v0 on [0, 8], v1 on [-1, 2].
Bytes tileBlock() { return doubleBlock({{"v0", {0.0, 8.0}}, {"v1", {-1.0, 2.0}}}); }
State* tileState() { return doubleState({{0.0, 8.0}, {-1.0, 2.0}}); }

// Group A: 4 tilings, v0 CLIP at resolution 0.5: 4 tiles of width 2.
GroupFields groupA(int actions, int32_t storage, const std::vector<double>& weights) {
    GroupFields s{4, 1, storage, {{0, 8.0 / 16, Types::CLIP}}, {2.0}, {4}, {4 * actions}, {}, 16 * actions, weights};
    for (int t = 0; t < 4; ++t) s.offsets.push_back({t * (8.0 / 16)});
    return s;
}

// Group B: 2 tilings, v1 CIRCLE at 0.5 (3 tiles of width 1) and v0 WRAP at
// 1.5 (ceil(8 / 3) + 1 = 4 tiles of width 8/3).
GroupFields groupB(int actions, int32_t storage, const std::vector<double>& weights) {
    GroupFields s{2, 2, storage, {{1, 3.0 / 6, Types::CIRCLE}, {0, 8.0 / 6, Types::WRAP}}, {1.0, 8.0 / 3}, {3, 4},
               {8 * actions, 2 * actions}, {}, 24 * actions, weights};
    for (int t = 0; t < 2; ++t) s.offsets.push_back({t * (3.0 / 6), t * (8.0 / 6)});
    return s;
}

VarList listA() { return {tiledVar(0, 0.5, Types::CLIP)}; }
VarList listB() { return {tiledVar(1, 0.5, Types::CIRCLE), tiledVar(0, 1.5, Types::WRAP)}; }

std::vector<double> part(const std::vector<double>& w, std::size_t from, std::size_t to) {
    return std::vector<double>(w.begin() + static_cast<long>(from), w.begin() + static_cast<long>(to));
}

// The network's State: three variables on [-1, 1].
State* netState() { return doubleState({{-1.0, 1.0}, {-1.0, 1.0}, {-1.0, 1.0}}); }
Bytes netBlock() { return doubleBlock({{"v0", {-1.0, 1.0}}, {"v1", {-1.0, 1.0}}, {"v2", {-1.0, 1.0}}}); }

// ---------------------------------------------------------------- the kinds

// What writing or reading a file gave: the result and the reports, whether
// everything read holds nothing to use, the bytes written (or saved again
// after a read) and the values at the midpoints of the variables.
struct Read {
    int result = 0;
    Messages errors;
    bool nothing = false;
    Bytes saved;
    std::vector<double> values;
};

std::vector<double> valuesOf(ValueFunction& vf) {
    vf.setState();
    if (StateValueFunction* v = dynamic_cast<StateValueFunction*>(&vf)) return {v->getStateValue()};
    ActionValueFunction& q = dynamic_cast<ActionValueFunction&>(vf);
    std::vector<double> values;
    for (int a = 0; a < q.getNumberOfActions(); ++a) values.push_back(q.getActionValue(a));
    return values;
}

Read saved(ValueFunction& vf, const std::string& path) {
    Read r;
    r.result = vf.save(path);
    r.saved = readFile(path);
    r.values = valuesOf(vf);
    return r;
}

// Whether a value function holds nothing to use: using it reports, or it
// has no weight at all (a tile coding without groups); a table has nothing
// to save either. A load that fails in the State block leaves a table or a
// tile coding its weights, on a State that no longer fits them: using them
// reports.
bool holdsNothing(ValueFunction& vf, const std::string& path) {
    bool none = false, saves = false;
    const bool reports = !stderrReports([&] {
                             vf.setState();
                             ActionValueFunction* q = dynamic_cast<ActionValueFunction*>(&vf);
                             (void)(q != nullptr ? q->getActionValue(0)
                                                 : dynamic_cast<StateValueFunction&>(vf).getStateValue());
                             none = vf.getMaxWeight() == -DBL_MAX;
                         }).empty();
    stderrReports([&] { saves = vf.save(path + ".unusable") == 0; });
    return dynamic_cast<LookupTable*>(&vf) != nullptr ? reports && !saves : reports || none;
}

// A kind of file: the file of a full value, assembled from the format;
// writing that value; reading a file both ways.
struct Kind {
    std::string name;
    Bytes layout;
    std::function<Read(const std::string&)> write, read;
};

// A value-function kind. The reader in use is a small one, of another
// geometry than the full one, so that a load must replace it.
template <class VF>
Kind kind(const char* name, std::function<VF*()> small, std::function<VF*()> full, const Bytes& layout) {
    const auto read = [small](const std::string& path) {
        Read r;
        std::unique_ptr<ValueFunction> reused(small()), fresh;
        r.errors = stderrReports([&] {
            r.result = reused->load(path);
            fresh.reset(new VF(path));
        });
        r.nothing = holdsNothing(*reused, path) && holdsNothing(*fresh, path);
        if (r.result != 0) return r;
        const Read again = saved(*fresh, path + ".fresh");
        EXPECT_EQ(saved(*reused, path + ".reused").saved, again.saved);
        r.saved = again.saved;
        r.values = again.values;
        return r;
    };
    return {name, layout, [full](const std::string& path) { return saved(*std::unique_ptr<VF>(full()), path); }, read};
}

template <class Q>
Q* withActions(Q* q, int n) {
    for (int a = 0; a < n; ++a) q->registerAction(new AbstractAction());
    return q;
}

// The State block alone, written to a stream and read from one into a
// State in use.
Read stateSaved(const State& s, const std::string& path) {
    Read r;
    FILE* out = std::fopen(path.c_str(), "wb");
    r.result = s.save(out);
    std::fclose(out);
    r.saved = readFile(path);
    for (unsigned int v = 0; v < s.getNumberOfVariables(); ++v) r.values.push_back(s.getValueDbl(v));
    return r;
}

Read readState(const std::string& path) {
    Read r;
    State s;
    s.registerVariable("old", 0, 3);
    FILE* in = std::fopen(path.c_str(), "rb");
    r.errors = stderrReports([&] { r.result = s.load(in); });
    std::fclose(in);
    r.nothing = s.getNumberOfVariables() == 0 && s.getType() == State::UNDEF;
    if (r.result != 0) return r;
    const Read again = stateSaved(s, path + ".again");
    r.saved = again.saved;
    r.values = again.values;
    return r;
}

// Every kind, the State block first.
enum { STATE, LOOKUP_V, LOOKUP_Q, TILES_V, TILES_Q, NETWORK };

const std::vector<Kind>& kinds() {
    const std::vector<double> w40 = ramp(40, 0.0), w120 = ramp(120, 0.05);
    static const std::vector<Kind> all{
        // Two DOUBLE variables, one named by no bytes, one by bytes that hold zeros.
        {"State block", doubleBlock({{"", {-1.0, 1.0}}, {std::string("a\0b\0", 4), {0.0, 2.5}}}),
         [](const std::string& path) {
             State s;
             s.registerVariable("", -1.0, 1.0);
             s.registerVariable(std::string("a\0b\0", 4), 0.0, 2.5);
             return stateSaved(s, path);
         },
         &readState},
        kind<StateLookupTable>(
            "state table", [] { return new StateLookupTable(makeState(ONE_VAR)); },
            [] {
                StateLookupTable* v = new StateLookupTable(makeState(WIDE));
                v->setTraceStorage(Types::ARRAY);
                setSequence(wideWeights());
                v->initWeights(&fromSequence);
                return v;
            },
            cat({intBlock(WIDE), tableBody(1, {3, 1}, 603, wideWeights())})),
        kind<ActionLookupTable>(
            "action table", [] { return lookup_test::makeQ(ONE_VAR, 2); },
            [] {
                ActionLookupTable* q = withActions(new ActionLookupTable(makeState(TWO_VARS)), 2);
                q->create();
                q->setTraceStorage(Types::SPARSE);
                setSequence(ramp(18, 0.0));
                q->initWeights(&fromSequence);
                return q;
            },
            cat({intBlock(TWO_VARS), i32(2), tableBody(2, {6, 2}, 18, ramp(18, 0.0))})),
        // Group A with ARRAY traces, group B with MAP traces; weights from
        // one running sequence.
        kind<StateTileCoding>(
            "state tiles",
            [] {
                StateTileCoding* v = new StateTileCoding(doubleState({{0.0, 1.0}}));
                v->registerTiling(new StateTilings(2, {tiledVar(0, 0.5, Types::CLIP)}));
                return v;
            },
            [] {
                StateTileCoding* v = new StateTileCoding(tileState());
                setSequence(ramp(40, 0.0));
                v->setInitWeightsFunctionPtr(&fromSequence);
                v->registerTiling(new StateTilings(4, listA()));
                v->setTraceStorage(Types::ARRAY);
                v->registerTiling(new StateTilings(2, listB()));
                return v;
            },
            cat({tileBlock(), i32(2), groupBody(groupA(1, 1, part(w40, 0, 16))),
                 groupBody(groupB(1, 0, part(w40, 16, 40)))})),
        // Both groups laid out for 3 actions, SPARSE traces.
        kind<ActionTileCoding>(
            "action tiles",
            [] {
                ActionTileCoding* q = withActions(new ActionTileCoding(doubleState({{0.0, 1.0}})), 2);
                q->registerTiling(new ActionTilings(2, {tiledVar(0, 0.5, Types::CLIP)}));
                return q;
            },
            [] {
                ActionTileCoding* q = withActions(new ActionTileCoding(tileState()), 3);
                setSequence(ramp(120, 0.05));
                q->setInitWeightsFunctionPtr(&fromSequence);
                q->registerTiling(new ActionTilings(4, listA()));
                q->registerTiling(new ActionTilings(2, listB()));
                q->setTraceStorage(Types::SPARSE);
                return q;
            },
            cat({tileBlock(), i32(3), i32(2), groupBody(groupA(3, 2, part(w120, 0, 48))),
                 groupBody(groupB(3, 2, part(w120, 48, 120)))})),
        // I = 4, H = 6, O = 1; the weights input-hidden first; the scale
        // factors of the variables.
        kind<NeuralNetwork>(
            "network", [] { return new NeuralNetwork(doubleState({{0.0, 1.0}}), 2); },
            [] {
                NeuralNetwork* n = new NeuralNetwork(netState(), 5);
                setSequence(ramp(30, 0.0));
                n->initWeights(&fromSequence);
                n->setScaleFactor(1, 0.125);
                return n;
            },
            cat({netBlock(), i32(4), i32(6), i32(1), doubles(ramp(30, 0.0)), doubles({1.0, 0.125, 1.0})})),
    };
    return all;
}

}  // namespace

TEST(Files, AreLaidOutByteForByteAndReadBackBitExact) {
    TempDir dir;
    const std::string path = dir.file("file");
    for (const Kind& k : kinds()) {
        SCOPED_TRACE(k.name);
        const Read written = k.write(path);
        ASSERT_EQ(written.result, 0);
        EXPECT_EQ(written.saved, k.layout);
        const Read r = k.read(path);
        EXPECT_EQ(r.result, 0);
        EXPECT_TRUE(r.errors.empty()) << testing::PrintToString(r.errors);
        EXPECT_EQ(r.saved, k.layout);
        // The variables restart at their midpoints: the values there are the same.
        EXPECT_EQ(r.values, written.values);
    }
    // More strides than one chunk of the int arrays holds.
    const std::vector<IntVar> many(600, IntVar{"v", 0, 0});
    StateLookupTable wide(makeState(many));
    const Bytes layout = cat({intBlock(many), tableBody(0, std::vector<int32_t>(600, 1), 1, {0.0})});
    EXPECT_EQ(saved(wide, path).saved, layout);
    StateLookupTable wideAgain(path);
    EXPECT_EQ(saved(wideAgain, path + ".again").saved, layout);
    // A pipe cannot tell its reader how much is left; what it carries loads
    // all the same.
    const std::string fifo = dir.file("pipe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        writeFile(fifo, kinds()[LOOKUP_V].layout);
        _exit(0);
    }
    StateLookupTable piped(fifo);
    ASSERT_EQ(waitpid(child, nullptr, 0), child);
    EXPECT_EQ(saved(piped, path).saved, kinds()[LOOKUP_V].layout);
}

TEST(Files, EveryTruncationIsRefusedAndLeavesNothingToUse) {
    TempDir dir;
    const std::string path = dir.file("cut");
    for (const Kind& k : kinds()) {
        // At every byte: a cut inside any field of any group.
        const std::size_t size = k.layout.size();
        for (std::size_t cut = 0; cut < size; ++cut) {
            SCOPED_TRACE(k.name + " cut at " + std::to_string(cut));
            writeFile(path, prefix(k.layout, cut));
            const Read r = k.read(path);
            EXPECT_EQ(r.result, -1);
            EXPECT_TRUE(r.nothing);
            ASSERT_FALSE(r.errors.empty());
            // The end of a file is no error of the system: no errno to quote.
            EXPECT_FALSE(someReportContains(r.errors, "errno = ")) << testing::PrintToString(r.errors);
        }
    }
}

// A file names neither its kind nor its representation: each reader must
// see for itself that a body is not its own, and leave nothing usable.
TEST(Files, EachReaderReadsOnlyWholeFilesOfItsOwnKind) {
    TempDir dir;
    const std::string path = dir.file("vf.bin");
    for (std::size_t w = LOOKUP_V; w < kinds().size(); ++w) {
        for (const bool longer : {false, true}) {
            // One byte more is no longer the file its reader wrote.
            Bytes bytes = kinds()[w].layout;
            if (longer) bytes.push_back(0);
            writeFile(path, bytes);
            for (std::size_t reader = LOOKUP_V; reader < kinds().size(); ++reader) {
                SCOPED_TRACE(kinds()[w].name + (longer ? " file + 1 byte" : " file") + " read by " +
                             kinds()[reader].name);
                const bool reads = reader == w && !longer;
                const Read r = kinds()[reader].read(path);
                EXPECT_EQ(r.result, reads ? 0 : -1);
                EXPECT_EQ(r.errors.empty(), reads) << testing::PrintToString(r.errors);
                EXPECT_TRUE(reads || r.nothing);
                EXPECT_TRUE(reader != w || !longer || someReportContains(r.errors, "1 byte after the body"));
            }
        }
    }
}

TEST(Files, AbsurdCountsAndLayoutsAreRefusedWithTheirReason) {
    const auto V = [](const std::vector<IntVar>& vars, const Bytes& body) { return cat({intBlock(vars), body}); };
    const auto Q = [](const std::vector<IntVar>& vars, int32_t actions, const Bytes& body) {
        return cat({intBlock(vars), i32(actions), body});
    };
    const auto tiles = [](void (*damage)(GroupFields&)) {
        // The damaged group comes second: the first must not stay behind.
        GroupFields b = groupB(1, 0, ramp(24, 0.0));
        damage(b);
        return cat({tileBlock(), i32(2), groupBody(groupA(1, 0, ramp(16, 0.0))), groupBody(b)});
    };
    const auto net = [](int32_t I, int32_t H, int32_t O, int weights) {
        Bytes b = cat({netBlock(), i32(I), i32(H), i32(O)});
        for (int k = 0; k < weights; ++k) putF64(b, 0.01 * k);
        return b;
    };
    const Bytes groupA1 = groupBody(groupA(1, 0, ramp(16, 0.0)));
    // INT_MAX weights laid out consistently, the last stride INT_MAX itself.
    const GroupFields huge{1, 2, 0, {{0, 8.0, Types::CLIP}, {1, 1.0, Types::CLIP}}, {8.0, 3.0 / INT_MAX},
                        {1, INT_MAX}, {INT_MAX, 1}, {{0.0, 0.0}}, INT_MAX, {0.0}};
    Bytes record, nameTooLong = cat({i32(1), i32(1), i32(-16)});
    putIntVar(record, "a", 0, 2);
    nameTooLong.insert(nameTooLong.end(), 16, 'n');
    const std::vector<double> w9 = ramp(9, 0.0), w6 = ramp(6, 0.0);
    const struct {
        int kind;
        const char* what;
        Bytes file;
        const char* report;
    } cases[] = {
        {STATE, "all the variables there can be", cat({i32(-1), i32(1), record}), "varsSize = 4294967295"},
        {STATE, "one variable more than the file holds", cat({i32(2), i32(1), record}),
         "more variables than the rest of the file can hold"},
        {STATE, "a name longer than the file", nameTooLong, "larger than the rest of the file"},
        {STATE, "variables of no known kind", cat({i32(1), i32(7), record}), "Undef VarType: 7"},
        {LOOKUP_V, "negative size", V(TWO_VARS, tableBody(0, {3, 1}, -9, {})), "ARRAY_SIZE = -9, but the State's"},
        {LOOKUP_V, "size one too small", V(TWO_VARS, tableBody(0, {3, 1}, 8, ramp(8, 0.0))), "ARRAY_SIZE = 8"},
        {LOOKUP_V, "size beyond the file", V(TWO_VARS, tableBody(0, {3, 1}, 9, ramp(8, 0.0))),
         "more weights than the rest of the file holds"},
        {LOOKUP_V, "swapped strides", V(TWO_VARS, tableBody(0, {1, 3}, 9, w9)), "indexOffset[1] = 3"},
        {LOOKUP_V, "zero stride", V(TWO_VARS, tableBody(0, {0, 1}, 9, w9)), "indexOffset[0] = 0"},
        {LOOKUP_V, "no strides", V(TWO_VARS, tableBody(0, {}, 9, {})), "the body ends before its 2 strides"},
        {LOOKUP_V, "a State beyond an int index", V({{"w", INT_MIN, INT_MAX}}, tableBody(0, {1}, 1, {0.0})),
         "not addressable by an int index"},
        {LOOKUP_V, "an empty range", V({{"w", 2, 0}}, tableBody(0, {1}, 1, {0.0})), "no table on an empty range"},
        {LOOKUP_V, "INT_MAX weights", V({{"w", 0, INT_MAX - 1}}, tableBody(0, {1}, INT_MAX, {})),
         "more weights than the rest of the file holds"},
        {LOOKUP_Q, "blocks of two for three actions", Q(ONE_VAR, 3, tableBody(0, {2}, 6, w6)), "indexOffset[0] = 2"},
        {LOOKUP_Q, "blocks of three for two actions", Q(ONE_VAR, 2, tableBody(0, {3}, 9, w9)), "indexOffset[0] = 3"},
        {LOOKUP_Q, "no actions", Q(ONE_VAR, 0, tableBody(0, {0}, 0, {})), "weights per state = 0"},
        {LOOKUP_Q, "negative actions", Q(ONE_VAR, -1, tableBody(0, {2}, 6, w6)), "ACTIONS = -1 --> not a plausible"},
        {LOOKUP_Q, "huge actions", Q(ONE_VAR, INT_MAX, tableBody(0, {2}, 6, w6)), "ACTIONS = 2147483647"},
        {LOOKUP_Q, "huge size", Q({}, 2, tableBody(0, {}, 1 << 30, {1.0, 2.0})), "ARRAY_SIZE = 1073741824"},
        {LOOKUP_Q, "states times actions beyond an int", Q({{"w", 0, 1 << 30}}, 2, tableBody(0, {2}, 2, {0.0, 0.0})),
         "not addressable by an int index"},
        {TILES_V, "no tilings", tiles([](GroupFields& s) { s.tilings = 0; }), "at least one tiling and one variable"},
        {TILES_V, "no variables", tiles([](GroupFields& s) { s.dimensions = 0; }), "DIMENSIONS = 0"},
        {TILES_V, "tilings beyond the file", tiles([](GroupFields& s) { s.tilings = INT_MAX; }),
         "more than the rest of the file"},
        {TILES_V, "variables beyond the file", tiles([](GroupFields& s) { s.dimensions = INT_MAX; }),
         "more than the rest of the file"},
        {TILES_V, "unknown trace storage", tiles([](GroupFields& s) { s.storage = 3; }), "Unknown traceStorage = 3"},
        {TILES_V, "unknown tile type", tiles([](GroupFields& s) { s.vars[1].tileType = 3; }), "Unknown Tiletype[3]"},
        {TILES_V, "id beyond the State", tiles([](GroupFields& s) { s.vars[0].id = 2; }), "Variable id = 2 --> the"},
        {TILES_V, "no tiles", tiles([](GroupFields& s) { s.tiles[0] = 0; }), "tiles[0] = 0"},
        {TILES_V, "tiles that do not match the strides", tiles([](GroupFields& s) { s.tiles[1] = 5; }),
         "indexOffset[0] = 8 --> expected 10"},
        {TILES_V, "a wrong last stride", tiles([](GroupFields& s) { s.strides[1] = 3; }), "indexOffset[1] = 3"},
        {TILES_V, "a wrong first stride", tiles([](GroupFields& s) { s.strides[0] = 6; }), "indexOffset[0] = 6"},
        {TILES_V, "zero width", tiles([](GroupFields& s) { s.widths[0] = 0.0; }), "tileWidth[0] = 0"},
        {TILES_V, "NaN width", tiles([](GroupFields& s) { s.widths[1] = std::nan(""); }), "tileWidth[1] = "},
        {TILES_V, "infinite offset", tiles([](GroupFields& s) { s.offsets[1][0] = INFINITY; }), "tileOffset[1][0] = "},
        {TILES_V, "size one too small", tiles([](GroupFields& s) { s.arraySize = 23, s.weights.pop_back(); }),
         "ARRAY_SIZE = 23 --> the geometry gives 24"},
        {TILES_V, "INT_MAX weights", cat({tileBlock(), i32(1), groupBody(huge)}), "more weights than the rest"},
        {TILES_V, "more groups than the file holds", cat({tileBlock(), i32(-1), groupA1}), "more groups than the rest"},
        {TILES_V, "one group short", cat({tileBlock(), i32(2), groupA1}), "Tiling 1 of 2 could not be read"},
        {TILES_V, "an integer State", cat({intBlock(TWO_VARS), i32(1), groupA1}), "needs a State of DOUBLE variables"},
        {TILES_Q, "groups laid out for other actions",
         cat({tileBlock(), i32(3), i32(1), groupBody(groupA(2, 0, ramp(32, 0.0)))}), "indexOffset[0] = 8"},
        {TILES_Q, "groups and no actions", cat({tileBlock(), i32(0), i32(1), groupA1}), "ACTIONS[0] <= 0"},
        {NETWORK, "I not variables + 1", net(5, 2, 1, 16), "so I must be 4"},
        {NETWORK, "H zero", net(4, 0, 1, 10), "H = 0 --> must be at least 1"},
        {NETWORK, "O two", net(4, 2, 2, 20), "O = 2 --> must be 1"},
        {NETWORK, "H beyond the file", net(4, 1000, 1, 10), "more weights than the rest of the file can hold"},
        {NETWORK, "I * H beyond an int", net(4, INT_MAX, 1, 10), "network too large"},
        {NETWORK, "one weight short", net(4, 2, 1, 12), "more weights than the rest of the file can hold"},
    };
    TempDir dir;
    const std::string path = dir.file("bad");
    for (const auto& c : cases) {
        SCOPED_TRACE(kinds()[static_cast<std::size_t>(c.kind)].name + ": " + c.what);
        writeFile(path, c.file);
        const Read r = kinds()[static_cast<std::size_t>(c.kind)].read(path);
        EXPECT_EQ(r.result, -1);
        EXPECT_TRUE(r.nothing);
        EXPECT_TRUE(someReportContains(r.errors, c.report)) << testing::PrintToString(r.errors);
    }
}

TEST(Files, SavesWithoutACompleteBodyFailAndSayWhy) {
    TempDir dir;
    std::unique_ptr<lookup_test::QTable> uncreated(lookup_test::makeQ(ONE_VAR, 2, false));
    // A table whose blocks no longer match ACTIONS (a subclass changed it)
    // would write a file that cannot be read back.
    std::unique_ptr<lookup_test::QTable> grown(lookup_test::makeQ(ONE_VAR, 2));
    grown->ACTIONS = 3;
    std::unique_ptr<StateLookupTable> missing;
    stderrReports([&] { missing.reset(new StateLookupTable(dir.file("does-not-exist"))); });
    // A group that fails its own save after the container wrote the count.
    class FailingGroup : public StateTilings {
    public:
        using StateTilings::StateTilings;
        const int save(FILE*) const override { return -1; }
    };
    StateTileCoding tiles(tileState());
    tiles.registerTiling(new StateTilings(4, listA()));
    tiles.registerTiling(new FailingGroup(4, listA()));
    const std::string unwritable = dir.file("no/such/dir/out");
    const struct {
        const ValueFunction* vf;
        std::string path, report;
        bool body;  // the failure is the body's
    } cases[] = {
        {uncreated.get(), dir.file("out"), "weights == 0 --> Maybe forgot to call create?", true},
        {grown.get(), dir.file("out"), "ACTIONS = 3, but the table holds 2 actions per state", true},
        {&tiles, dir.file("out"), "Tiling::save returned -1", true},
        {missing.get(), dir.file("out"), "statePtr == 0 --> nothing to save", false},
        // The program may write several files: the report says which one.
        {grown.get(), unwritable, "errno = 2 --> " + std::string(std::strerror(ENOENT)) + " (" + unwritable + ")", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.report);
        int result = 0;
        const Messages errors = stderrReports([&] { result = c.vf->save(c.path); });
        EXPECT_EQ(result, -1);
        EXPECT_TRUE(someReportContains(errors, c.report)) << testing::PrintToString(errors);
        EXPECT_EQ(someReportContains(errors, "saving valuefunction failed"), c.body);
        EXPECT_TRUE(readFile(c.path).empty()) << "a failed save leaves no file";
    }
}
