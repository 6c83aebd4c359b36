#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cstddef>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "LookupTableAccess.h"
#include "TestSupport.h"

using lookup_test::IntVar;
using lookup_test::makeQ;
using lookup_test::makeState;
using lookup_test::QTable;
using lookup_test::VTable;
using test_support::Bytes;
using test_support::putF64;
using test_support::putI32;
using test_support::putIntVar;
using test_support::putU32;
using test_support::readFile;
using test_support::reportMessages;
using test_support::sameBits;
using test_support::TempDir;
using test_support::writeFile;

namespace {

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

const std::vector<double> ODD_WEIGHTS{0.0,
                                  -0.0,
                                  std::numeric_limits<double>::infinity(),
                                  -std::numeric_limits<double>::infinity(),
                                  nanWithPayload(),
                                  std::numeric_limits<double>::denorm_min(),
                                  DBL_MAX,
                                  -DBL_MIN,
                                  0.1};

const std::vector<IntVar> TWO_VARS{{"x", 0, 2}, {"yy", -1, 1}};
const std::vector<IntVar> ONE_VAR{{"a", 0, 2}};

}  // namespace

TEST(Files, StateTableFileIsTheStateBlockThenTheBody) {
    TempDir dir;
    VTable v(makeState(TWO_VARS));
    v.setTraceStorage(Types::ARRAY);
    const std::vector<double> weights = ramp(9, 0.5);
    for (int i = 0; i < 9; ++i) v.weights[i] = weights[static_cast<std::size_t>(i)];
    ASSERT_EQ(v.save(dir.file("v.bin")), 0);

    const Bytes expected = vFile(TWO_VARS, body(1, {3, 1}, 9, weights));
    const Bytes written = readFile(dir.file("v.bin"));
    EXPECT_EQ(written, expected);
    EXPECT_EQ(written.size() - stateBlock(TWO_VARS).size(), 88u);
    EXPECT_EQ(Bytes(written.begin(), written.begin() + 8), (Bytes{2, 0, 0, 0, 1, 0, 0, 0}));
}

TEST(Files, ActionTableFileHoldsTheActionCountBetweenStateAndBody) {
    TempDir dir;
    std::unique_ptr<QTable> q(makeQ(ONE_VAR, 3));
    const std::vector<double> weights = ramp(9, 0.25);
    q->setWeights(weights);
    ASSERT_EQ(q->save(dir.file("q.bin")), 0);
    EXPECT_EQ(readFile(dir.file("q.bin")), qFile(ONE_VAR, 3, body(0, {3}, 9, weights)));

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
    for (int i = 0; i < 9; ++i) v.weights[i] = ODD_WEIGHTS[static_cast<std::size_t>(i)];
    ASSERT_EQ(v.save(dir.file("v.bin")), 0);
    EXPECT_EQ(readFile(dir.file("v.bin")), vFile(vars, body(1, {3, 1}, 9, ODD_WEIGHTS)));

    VTable fresh(dir.file("v.bin"));
    VTable reused(makeState({{"z", 0, 40}}));  // another geometry, replaced by the file
    ASSERT_EQ(reused.load(dir.file("v.bin")), 0);
    for (VTable* t : {&fresh, &reused}) {
        EXPECT_EQ(t->traceStorage, Types::ARRAY);
        EXPECT_EQ(t->strides(), (std::vector<int>{3, 1}));
        EXPECT_EQ(t->ARRAY_SIZE, 9);
        EXPECT_TRUE(sameWeightBits(t->weightVector(), ODD_WEIGHTS));
        EXPECT_EQ(t->eTraces, nullptr);
        EXPECT_EQ(t->getStatePtr()->getVariableId(oddName), 0u);
        EXPECT_EQ(t->getStatePtr()->getMinValueInt(1), 7);
    }

    std::unique_ptr<QTable> q(makeQ(ONE_VAR, 3));
    q->setTraceStorage(Types::ARRAY);
    q->setWeights(ODD_WEIGHTS);
    ASSERT_EQ(q->save(dir.file("q.bin")), 0);
    QTable qFresh(dir.file("q.bin"));
    std::unique_ptr<QTable> qReused(makeQ({{"b", 0, 1}, {"c", 0, 1}}, 5));
    ASSERT_EQ(qReused->load(dir.file("q.bin")), 0);
    for (QTable* t : {&qFresh, qReused.get()}) {
        EXPECT_EQ(t->ACTIONS, 3);
        EXPECT_EQ(t->registeredActions, std::vector<const AbstractAction*>(3, nullptr));
        EXPECT_EQ(t->traceStorage, Types::ARRAY);
        EXPECT_EQ(t->strides(), std::vector<int>{3});
        EXPECT_EQ(t->ARRAY_SIZE, 9);
        EXPECT_TRUE(sameWeightBits(t->weightVector(), ODD_WEIGHTS));
    }
    // Saving what was read writes the same bytes again.
    ASSERT_EQ(qFresh.save(dir.file("q2.bin")), 0);
    EXPECT_EQ(readFile(dir.file("q2.bin")), readFile(dir.file("q.bin")));
}

TEST(Files, AReloadedTableGoesOnLikeTheOriginal) {
    TempDir dir;
    std::unique_ptr<QTable> original(makeQ({{"a", 0, 3}, {"b", -2, 2}}, 2));
    auto step = [](QTable& q, int a, int b, int action, double reward) {
        q.getStatePtr()->setValueInt(0, a);
        q.getStatePtr()->setValueInt(1, b);
        q.setState();
        q.updateEligibilityTraces(0.9, 0.8);
        q.activeActionIndex = action;
        q.replacingTraces(1.0);
        q.updateWeights(0.1, reward - q.getActionValue(action));
    };
    original->initEligibilityTraces();
    for (int i = 0; i < 12; ++i) step(*original, i % 4, i % 5 - 2, i % 2, i * 0.5);
    ASSERT_EQ(original->save(dir.file("q.bin")), 0);

    QTable loaded(dir.file("q.bin"));
    original->initEligibilityTraces();
    loaded.initEligibilityTraces();
    for (int i = 0; i < 12; ++i) {
        step(*original, (i * 3) % 4, i % 5 - 2, (i + 1) % 2, 1.0 - i);
        step(loaded, (i * 3) % 4, i % 5 - 2, (i + 1) % 2, 1.0 - i);
        EXPECT_TRUE(sameBits(original->getActionValue(0), loaded.getActionValue(0)));
        EXPECT_TRUE(sameBits(original->getActionValue(1), loaded.getActionValue(1)));
    }
    EXPECT_TRUE(sameWeightBits(original->weightVector(), loaded.weightVector()));
    EXPECT_NE(loaded.getMaxWeight(), 0.0);

    VTable v(makeState(TWO_VARS));
    v.initWeights([]() -> const double { return 0.125; });
    ASSERT_EQ(v.save(dir.file("v.bin")), 0);
    VTable w(dir.file("v.bin"));
    w.getStatePtr()->setValueInt(0, 2);
    w.getStatePtr()->setValueInt(1, 1);
    w.setState();
    EXPECT_EQ(w.activeIndex, 8);
    EXPECT_EQ(w.getStateValue(), 0.125);
}

TEST(Files, AFileCutAtAnyByteIsRefused) {
    TempDir dir;
    const std::string path = dir.file("cut.bin");
    const Bytes vWhole = vFile(TWO_VARS, body(1, {3, 1}, 9, ramp(9, 1.0)));
    const Bytes qWhole = qFile(ONE_VAR, 2, body(0, {2}, 6, ramp(6, 1.0)));
    const std::size_t vStateEnd = stateBlock(TWO_VARS).size();
    const std::size_t qStateEnd = stateBlock(ONE_VAR).size() + 4;

    for (std::size_t cut = 0; cut <= vWhole.size(); ++cut) {
        writeFile(path, Bytes(vWhole.begin(), vWhole.begin() + static_cast<std::ptrdiff_t>(cut)));
        const bool whole = cut == vWhole.size();
        testing::internal::CaptureStderr();
        VTable fresh(path);
        VTable reused(makeState(TWO_VARS));
        const int result = reused.load(path);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(result, whole ? 0 : -1) << "cut at " << cut;
        EXPECT_EQ(fresh.weights == nullptr, !whole) << "cut at " << cut;
        EXPECT_EQ(err.empty(), whole) << "cut at " << cut;
        if (!whole && cut >= vStateEnd) {
            EXPECT_EQ(reused.weights, nullptr) << "cut at " << cut;
        }
        if (!whole) {
            testing::internal::CaptureStderr();
            EXPECT_EQ(fresh.getStateValue(), DBL_MAX);
            fresh.setState();
            reused.setState();
            reused.updateWeights(1.0, 1.0);
            EXPECT_FALSE(reportMessages(testing::internal::GetCapturedStderr()).empty());
        }
    }

    for (std::size_t cut = 0; cut <= qWhole.size(); ++cut) {
        writeFile(path, Bytes(qWhole.begin(), qWhole.begin() + static_cast<std::ptrdiff_t>(cut)));
        const bool whole = cut == qWhole.size();
        testing::internal::CaptureStderr();
        QTable fresh(path);
        std::unique_ptr<QTable> reused(makeQ(ONE_VAR, 2));
        const int result = reused->load(path);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(result, whole ? 0 : -1) << "cut at " << cut;
        EXPECT_EQ(fresh.weights == nullptr, !whole) << "cut at " << cut;
        EXPECT_EQ(err.empty(), whole) << "cut at " << cut;
        if (!whole && cut >= qStateEnd) {
            EXPECT_EQ(reused->weights, nullptr) << "cut at " << cut;
        }
        if (!whole) {
            testing::internal::CaptureStderr();
            EXPECT_EQ(fresh.getActionValue(0), DBL_MAX);
            reused->setState();
            reused->getActionValue(1);
            reused->updateWeights(1.0, 1.0);
            EXPECT_FALSE(reportMessages(testing::internal::GetCapturedStderr()).empty());
        }
    }
}

namespace {

struct Malformed {
    const char* what;
    Bytes file;
    const char* report;  // a part of the refusal's message
    bool bodyReached = true;  // false: the envelope refuses before the body
};

}  // namespace

TEST(Files, MalformedStateTableBodiesAreRefusedByEveryReader) {
    std::vector<Malformed> cases{
        {"negative size", vFile(TWO_VARS, body(0, {3, 1}, -9, {})), "ARRAY_SIZE = -9, but the State's bounds give 9"},
        {"zero size", vFile(TWO_VARS, body(0, {3, 1}, 0, {})), "ARRAY_SIZE = 0"},
        {"huge size", vFile(TWO_VARS, body(0, {3, 1}, INT_MAX, ramp(9, 1.0))), "ARRAY_SIZE = 2147483647"},
        {"swapped strides", vFile(TWO_VARS, body(0, {1, 3}, 9, ramp(9, 1.0))), "indexOffset[1] = 3"},
        {"zero stride", vFile(TWO_VARS, body(0, {0, 1}, 9, ramp(9, 1.0))), "indexOffset[0] = 0"},
        {"size too small", vFile(TWO_VARS, body(0, {3, 1}, 8, ramp(8, 1.0))), "ARRAY_SIZE = 8"},
        {"size too large", vFile(TWO_VARS, body(0, {3, 1}, 10, ramp(10, 1.0))), "ARRAY_SIZE = 10"},
        {"size larger than the file", vFile(TWO_VARS, body(0, {3, 1}, 9, ramp(8, 1.0))),
         "more weights than the rest of the file holds"},
        {"strides cut", vFile(TWO_VARS, body(0, {}, 9, {})), "the body ends before its 2 strides"},
        {"state too large", vFile({{"w", INT_MIN, INT_MAX}}, body(0, {1}, 1, {0.0})), "not addressable by an int index"},
        {"empty range", vFile({{"w", 2, 0}}, body(0, {1}, 1, {0.0})), "no table on an empty range"},
    };
    TempDir dir;
    const std::string path = dir.file("bad.bin");
    for (const Malformed& m : cases) {
        writeFile(path, m.file);
        testing::internal::CaptureStderr();
        VTable fresh(path);
        VTable reused(makeState(TWO_VARS));
        const int result = reused.load(path);
        const std::vector<std::string> errors = reportMessages(testing::internal::GetCapturedStderr());
        EXPECT_EQ(result, -1) << m.what;
        EXPECT_EQ(fresh.weights, nullptr) << m.what;
        EXPECT_EQ(reused.weights, nullptr) << m.what;
        EXPECT_EQ(reused.indexOffset, nullptr) << m.what;
        EXPECT_EQ(reused.ARRAY_SIZE, 0) << m.what;
        bool found = false;
        for (const std::string& e : errors) found = found || e.find(m.report) != std::string::npos;
        EXPECT_TRUE(found) << m.what;
        testing::internal::CaptureStderr();
        EXPECT_EQ(reused.getStateValue(), DBL_MAX);
        reused.initEligibilityTraces();
        EXPECT_EQ(reportMessages(testing::internal::GetCapturedStderr()), std::vector<std::string>(1, NO_WEIGHTS));
    }
}

TEST(Files, MalformedActionTableFilesAreRefusedByEveryReader) {
    std::vector<Malformed> cases{
        {"blocks of two for three actions", qFile(ONE_VAR, 3, body(0, {2}, 6, ramp(6, 1.0))), "indexOffset[0] = 2"},
        {"size not actions times states", qFile(ONE_VAR, 3, body(0, {3}, 6, ramp(6, 1.0))), "ARRAY_SIZE = 6"},
        {"blocks of three for two actions", qFile(ONE_VAR, 2, body(0, {3}, 9, ramp(9, 1.0))), "indexOffset[0] = 3"},
        {"no actions", qFile(ONE_VAR, 0, body(0, {0}, 0, {})), "weights per state = 0"},
        {"negative actions", qFile(ONE_VAR, -1, body(0, {2}, 6, ramp(6, 1.0))), "ACTIONS = -1", false},
        {"huge actions", qFile(ONE_VAR, INT_MAX, body(0, {2}, 6, ramp(6, 1.0))), "ACTIONS = 2147483647", false},
        {"negative size", qFile(ONE_VAR, 2, body(0, {2}, -6, {})), "ARRAY_SIZE = -6"},
        {"huge size", qFile({}, 2, body(0, {}, 1 << 30, {1.0, 2.0})), "ARRAY_SIZE = 1073741824"},
        {"states times actions too large", qFile({{"w", 0, 1 << 30}}, 2, body(0, {2}, 2, {0.0, 0.0})),
         "not addressable by an int index"},
    };
    TempDir dir;
    const std::string path = dir.file("bad.bin");
    for (const Malformed& m : cases) {
        writeFile(path, m.file);
        testing::internal::CaptureStderr();
        QTable fresh(path);
        std::unique_ptr<QTable> reused(makeQ(ONE_VAR, 2));
        const int result = reused->load(path);
        const std::vector<std::string> errors = reportMessages(testing::internal::GetCapturedStderr());
        EXPECT_EQ(result, -1) << m.what;
        EXPECT_EQ(fresh.weights, nullptr) << m.what;
        if (m.bodyReached) {
            EXPECT_EQ(reused->weights, nullptr) << m.what;
        }
        bool found = false;
        for (const std::string& e : errors) found = found || e.find(m.report) != std::string::npos;
        EXPECT_TRUE(found) << m.what;
        testing::internal::CaptureStderr();
        reused->setState();
        reused->getActionValue(0);
        reused->setActionValue(0, 1.0);
        EXPECT_FALSE(reportMessages(testing::internal::GetCapturedStderr()).empty()) << m.what;
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
    testing::internal::CaptureStderr();
    big->updateWeights(1.0, 1.0);
    big->valueEpisode(1.0);
    EXPECT_EQ(reportMessages(testing::internal::GetCapturedStderr()).size(), 2u);
    EXPECT_EQ(big->weightVector(), std::vector<double>(6, 0.0));
}

TEST(Files, SavingWithoutAConsistentTableFails) {
    TempDir dir;
    std::unique_ptr<QTable> uncreated(makeQ(ONE_VAR, 2, false));
    testing::internal::CaptureStderr();
    EXPECT_EQ(uncreated->save(dir.file("a.bin")), -1);
    std::vector<std::string> errors = reportMessages(testing::internal::GetCapturedStderr());
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors[0], NO_WEIGHTS);

    // A table whose blocks no longer match ACTIONS would write a file that
    // cannot be read back.
    std::unique_ptr<QTable> grown(makeQ(ONE_VAR, 2));
    grown->registerAction(new lookup_test::CountedAction(nullptr));
    testing::internal::CaptureStderr();
    EXPECT_EQ(grown->save(dir.file("b.bin")), -1);
    errors = reportMessages(testing::internal::GetCapturedStderr());
    ASSERT_FALSE(errors.empty());
    EXPECT_NE(errors[0].find("ACTIONS = 3, but the table holds 2 actions per state"), std::string::npos);

    testing::internal::CaptureStderr();
    VTable missing(dir.file("does-not-exist.bin"));
    EXPECT_EQ(missing.save(dir.file("c.bin")), -1);
    EXPECT_FALSE(reportMessages(testing::internal::GetCapturedStderr()).empty());
}
