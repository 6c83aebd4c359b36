#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "AbstractAction.h"
#include "ActionValueFunction.h"
#include "State.h"
#include "StateValueFunction.h"
#include "TestSupport.h"
#include "Utility.h"

using test_support::Bytes;
using test_support::putF64;
using test_support::putI32;
using test_support::putIntVar;
using test_support::putDoubleVar;
using test_support::putU32;
using test_support::readFile;
using test_support::reportMessages;
using test_support::TempDir;
using test_support::writeFile;

// Every allocation of the process is counted while counting is on, so that
// a test can show that a per-step path allocates nothing.
namespace {
bool countAllocations = false;
long allocations = 0;
}  // namespace

// The replacements pair malloc with free; GCC cannot see that and would
// warn about every delete it inlines.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size) {
    if (countAllocations) ++allocations;
    if (void* p = std::malloc(size != 0 ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

const double TWO_TO_MINUS_31 = 1.0 / 2147483648.0;

std::vector<std::string> errorsOf(const std::function<void()>& action) {
    testing::internal::CaptureStderr();
    action();
    return reportMessages(testing::internal::GetCapturedStderr());
}

bool isNarrowErrnoReport(const std::string& message) {
    return message.rfind("errno = ", 0) == 0 && message.find(" --> ") != std::string::npos &&
           message.find("  -->  ") == std::string::npos;
}

// The first value rand() gives after seeding, and the one after it.
std::pair<int, int> firstDraws(unsigned seed) {
    setSeed(seed);
    const int first = std::rand();
    const int second = std::rand();
    setSeed(seed);
    return {first, second};
}

// A seed whose first draw satisfies the predicate.
unsigned seedWhere(const std::function<bool(int)>& wanted) {
    for (unsigned seed = 1;; ++seed) {
        setSeed(seed);
        if (wanted(std::rand())) return seed;
    }
}

// A body the test representations write and read: a count and that many
// doubles, little-endian.
Bytes bodyBytes(const std::vector<double>& weights) {
    Bytes b;
    putU32(b, static_cast<uint32_t>(weights.size()));
    for (double w : weights) putF64(b, w);
    return b;
}

int writeBody(FILE* file, const std::vector<double>& weights) {
    const Bytes b = bodyBytes(weights);
    return std::fwrite(b.data(), 1, b.size(), file) == b.size() ? 0 : -1;
}

int readBody(FILE* file, std::vector<double>& weights) {
    unsigned char head[4];
    if (std::fread(head, 1, 4, file) != 4) return -1;
    const uint32_t n = head[0] | (head[1] << 8) | (head[2] << 16) | (static_cast<uint32_t>(head[3]) << 24);
    if (n > 1000) return -1;
    weights.assign(n, 0.0);
    for (uint32_t i = 0; i < n; ++i) {
        unsigned char bytes[8];
        if (std::fread(bytes, 1, 8, file) != 8) return -1;
        uint64_t bits = 0;
        for (int k = 7; k >= 0; --k) bits = (bits << 8) | bytes[k];
        std::memcpy(&weights[i], &bits, 8);
    }
    return 0;
}

// Slots 2 to 15 of a representation, doing what the test needs of them.
template <class Base>
class Stubbed : public Base {
public:
    using Base::Base;
    std::vector<double> weights;

    void initWeights(const double (*initFunctionPtr)()) override {
        for (double& w : weights) w = initFunctionPtr();
    }
    void initEligibilityTraces() override {}
    void updateWeights(const double, const double) override {}
    void updateEligibilityTraces(const double, const double) override {}
    void accumulatingTraces(const double) override {}
    void replacingTraces(const double) override {}
    void checkWeightLimit() override {}
    const double getMinWeight() const override { return 0.0; }
    const double getAvgWeight(const bool) const override { return 0.0; }
    const double getMaxWeight() const override { return 0.0; }
    void setState() override {}
    void storeState() override {}
    void initEpisodeStateHistory() override {}
    void valueEpisode(const double) override {}

    // What a representation sees of its base.
    const double (*initFunction() const)() { return this->initWeightsFunctionPtr; }
    double minLimit() const { return this->minWeightLimit; }
    double maxLimit() const { return this->maxWeightLimit; }
    using Base::getRandomValue;
    using Base::getValue;

    bool failBodySave = false;
    bool failBodyLoad = false;
    mutable int bodySaves = 0;
    int bodyLoads = 0;

protected:
    const int save(FILE* file) const override {
        ++bodySaves;
        return failBodySave ? -1 : writeBody(file, weights);
    }
    const int load(FILE* file) override {
        ++bodyLoads;
        return failBodyLoad ? -1 : readBody(file, weights);
    }
};

class TestV : public Stubbed<StateValueFunction> {
public:
    using Stubbed<StateValueFunction>::Stubbed;
    using StateValueFunction::load;
    using StateValueFunction::save;
    const double getStateValue() const override { return weights.empty() ? 0.0 : weights[0]; }
};

// Q values come from an array the test sets; removals are recorded with
// the ACTIONS the representation saw.
class TestQ : public Stubbed<ActionValueFunction> {
public:
    using Stubbed<ActionValueFunction>::Stubbed;
    using ActionValueFunction::load;
    using ActionValueFunction::save;

    std::vector<double> values;
    mutable int valueCalls = 0;
    std::vector<std::pair<int, int>> removals;  // (index, ACTIONS during the call)

    const double getActionValue(int actionIndex) const override {
        ++valueCalls;
        if (actionIndex < 0 || actionIndex >= static_cast<int>(values.size())) return 0.0;
        return values[static_cast<std::size_t>(actionIndex)];
    }
    int actions() const { return ACTIONS; }
    std::size_t registrySize() const { return registeredActions.size(); }
    const double* scratch() const { return actionValues; }

protected:
    void removeAction(int actionIndex) override { removals.emplace_back(actionIndex, ACTIONS); }
};

// An action that counts its destruction.
class TrackedAction : public AbstractAction {
public:
    explicit TrackedAction(int& destroyed) : destroyed_(destroyed) {}
    ~TrackedAction() override { ++destroyed_; }

private:
    int& destroyed_;
};

State* intState() {
    State* s = new State();
    s->registerVariable("x", 0, 9);
    s->registerVariable("yy", -3, 4);
    return s;
}

Bytes intStateBlock() {
    Bytes b;
    putU32(b, 2);
    putI32(b, 1);
    putIntVar(b, "x", 0, 9);
    putIntVar(b, "yy", -3, 4);
    return b;
}

Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Keeps the class-wide initial-weight settings of one test from the next.
class ValueSettings : public testing::Test {
protected:
    void TearDown() override {
        ValueFunction::setValue(0.0);
        ValueFunction::setRandomValueBoundaries(-0.5, 0.5);
    }
};

}  // namespace

// ------------------------------------------------------------ ValueFunction

TEST(ValueFunction, FreshFunctionHasWidestLimitsNoHistoryAndZeroInitialWeights) {
    TestV v(intState());
    EXPECT_EQ(v.minLimit(), -1.7976931348623157e308);
    EXPECT_EQ(v.maxLimit(), 1.7976931348623157e308);
    EXPECT_FALSE(v.getEpisodeStateHistory());
    EXPECT_EQ(v.initFunction(), &TestV::getValue);
    v.weights.assign(3, 9.0);
    v.initWeights(v.initFunction());
    EXPECT_EQ(v.weights, std::vector<double>(3, 0.0));
    v.setEpisodeStateHistory(true);
    EXPECT_TRUE(v.getEpisodeStateHistory());
    EXPECT_EQ(v.getStatePtr()->getNumberOfVariables(), 2u);
}

TEST_F(ValueSettings, InitialValueIsClassWide) {
    TestV first(intState());
    TestV second(nullptr);
    ValueFunction::setValue(0.25);
    first.weights.assign(2, 0.0);
    second.weights.assign(1, 0.0);
    first.initWeights(first.initFunction());
    second.initWeights(second.initFunction());
    EXPECT_EQ(first.weights, std::vector<double>(2, 0.25));
    EXPECT_EQ(second.weights, std::vector<double>(1, 0.25));
}

TEST_F(ValueSettings, RandomValueIsTheLowerBoundPlusTheScaledDraw) {
    // With bounds -1 and 1 the draw r gives exactly -1 + r / 2^30: -1 at
    // r = 0 and 1 - 2^-30 at r = 2^31 - 1, never 1.
    ValueFunction::setRandomValueBoundaries(-1.0, 1.0);
    for (unsigned seed = 1; seed <= 20; ++seed) {
        const auto draws = firstDraws(seed);
        EXPECT_EQ(TestV::getRandomValue(), -1.0 + draws.first / 1073741824.0) << "seed " << seed;
        EXPECT_EQ(std::rand(), draws.second) << "one draw per value";
    }
    ValueFunction::setRandomValueBoundaries(-0.5, 0.5);
    const auto draws = firstDraws(99);
    EXPECT_EQ(TestV::getRandomValue(), -0.5 + draws.first * TWO_TO_MINUS_31);

    TestV v(nullptr);
    v.setInitWeightsFunctionPtr(&TestV::getRandomValue);
    v.weights.assign(100, 7.0);
    v.initWeights(v.initFunction());
    for (double w : v.weights) {
        EXPECT_GE(w, -0.5);
        EXPECT_LT(w, 0.5);
    }
}

TEST(ValueFunction, OwnsItsStateAndNothingElse) {
    // The sanitizer build turns a leaked or doubly destroyed State into a failure.
    { TestV v(intState()); }
    { TestQ q(intState()); }
    { TestV empty(nullptr); }
    TestV v(nullptr);
    EXPECT_EQ(v.getStatePtr(), nullptr);
}

// ---------------------------------------------------------------- V file

TEST(StateValueFunction, FileIsTheStateBlockFollowedByTheBody) {
    TempDir dir;
    const std::string path = dir.file("v.bin");
    TestV v(intState());
    v.weights = {1.5, -2.0, 0.0};
    EXPECT_EQ(v.save(path), 0);
    const Bytes file = readFile(path);
    const Bytes head = {0x02, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00};
    ASSERT_GE(file.size(), 8u);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 8), head);
    EXPECT_EQ(file, concat(intStateBlock(), bodyBytes({1.5, -2.0, 0.0})));

    // Saving again replaces the file rather than appending to it.
    v.weights = {4.0};
    EXPECT_EQ(v.save(path), 0);
    EXPECT_EQ(readFile(path), concat(intStateBlock(), bodyBytes({4.0})));
}

TEST(StateValueFunction, LoadWithoutAStateCreatesOneFromTheFile) {
    TempDir dir;
    const std::string path = dir.file("v.bin");
    writeFile(path, concat(intStateBlock(), bodyBytes({0.5, 0.25})));
    TestV v(nullptr);
    EXPECT_EQ(v.load(path), 0);
    ASSERT_NE(v.getStatePtr(), nullptr);
    EXPECT_EQ(v.getStatePtr()->getVariableId("yy"), 1u);
    EXPECT_EQ(v.getStatePtr()->getValueInt(1), 0);
    EXPECT_EQ(v.weights, (std::vector<double>{0.5, 0.25}));
}

TEST(StateValueFunction, LoadReplacesTheVariablesOfItsOwnState) {
    TempDir dir;
    const std::string path = dir.file("v.bin");
    writeFile(path, concat(intStateBlock(), bodyBytes({})));
    State* s = new State();
    s->registerVariable("d", 0.0, 1.0);
    TestV v(s);
    EXPECT_EQ(v.load(path), 0);
    EXPECT_EQ(v.getStatePtr(), s);
    EXPECT_EQ(s->getType(), State::INT);
    EXPECT_EQ(s->getNumberOfVariables(), 2u);
}

TEST(StateValueFunction, MissingFileFailsAndLeavesTheStateAlone) {
    TempDir dir;
    TestV v(intState());
    int result = 0;
    const auto messages = errorsOf([&] { result = v.load(dir.file("absent.bin")); });
    EXPECT_EQ(result, -1);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], std::string("errno = 2 --> ") + std::strerror(ENOENT));
    EXPECT_EQ(v.getStatePtr()->getNumberOfVariables(), 2u);
    EXPECT_EQ(v.bodyLoads, 0);
}

TEST(StateValueFunction, SaveFailures) {
    TempDir dir;
    TestV v(intState());
    int result = 0;
    auto messages = errorsOf([&] { result = v.save(dir.file("no/such/dir/v.bin")); });
    EXPECT_EQ(result, -1);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(isNarrowErrnoReport(messages[0])) << messages[0];

    v.failBodySave = true;
    messages = errorsOf([&] { result = v.save(dir.file("v.bin")); });
    EXPECT_EQ(result, -1);
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), "saving valuefunction failed");

    // Without a State there is nothing to write, and no file is left behind.
    TestV empty(nullptr);
    messages = errorsOf([&] { result = empty.save(dir.file("empty.bin")); });
    EXPECT_EQ(result, -1);
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(empty.bodySaves, 0);
    EXPECT_EQ(std::fopen(dir.file("empty.bin").c_str(), "r"), nullptr);
}

TEST(StateValueFunction, DamagedFilesFailAtTheRightStep) {
    TempDir dir;
    const Bytes whole = concat(intStateBlock(), bodyBytes({1.0}));
    // Cut inside the State block: the body is never read.
    const std::string cutState = dir.file("cut-state.bin");
    writeFile(cutState, Bytes(whole.begin(), whole.begin() + 10));
    TestV fresh(nullptr);
    int result = 0;
    auto messages = errorsOf([&] { result = fresh.load(cutState); });
    EXPECT_EQ(result, -1);
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), "loading state failed");
    EXPECT_EQ(fresh.bodyLoads, 0);
    ASSERT_NE(fresh.getStatePtr(), nullptr);  // owned, empty
    EXPECT_EQ(fresh.getStatePtr()->getNumberOfVariables(), 0u);

    TestV own(intState());
    messages = errorsOf([&] { result = own.load(cutState); });
    EXPECT_EQ(result, -1);
    EXPECT_EQ(messages.back(), "loading state failed");

    // Cut inside the body.
    const std::string cutBody = dir.file("cut-body.bin");
    writeFile(cutBody, Bytes(whole.begin(), whole.end() - 1));
    TestV v(nullptr);
    messages = errorsOf([&] { result = v.load(cutBody); });
    EXPECT_EQ(result, -1);
    EXPECT_EQ(messages, std::vector<std::string>{"loading valuefunction failed"});
}

// ----------------------------------------------------- registry and ownership

TEST(ActionValueFunction, FreshFunctionHasNoActionsAndNoActiveAction) {
    TestQ q(intState());
    EXPECT_EQ(q.getNumberOfActions(), 0);
    EXPECT_EQ(q.getActiveActionIndex(), -1);
    const AbstractAction placeholder;
    const AbstractAction* active = &placeholder;
    const auto messages = errorsOf([&] { active = q.getActiveAction(); });
    EXPECT_EQ(active, nullptr);
    EXPECT_EQ(messages, std::vector<std::string>{"actionIndex -1 out of bounds [0, 0)"});
    EXPECT_EQ(q.scratch(), nullptr);
}

TEST(ActionValueFunction, RegisteredActionsAreIndexedInOrderAndDestroyedOnce) {
    int destroyed[3] = {0, 0, 0};
    {
        TestQ q(intState());
        const AbstractAction* a0 = new TrackedAction(destroyed[0]);
        const AbstractAction* a1 = new TrackedAction(destroyed[1]);
        const AbstractAction* a2 = new TrackedAction(destroyed[2]);
        q.registerAction(a0);
        q.registerAction(a1);
        q.registerAction(nullptr);  // accepted as it is
        q.registerAction(a2);
        EXPECT_EQ(q.getNumberOfActions(), 4);
        EXPECT_EQ(q.getAction(0), a0);
        EXPECT_EQ(q.getAction(1), a1);
        EXPECT_EQ(q.getAction(2), nullptr);
        EXPECT_EQ(q.getAction(3), a2);
        const auto messages = errorsOf([&] { EXPECT_EQ(q.getAction(4), nullptr); });
        EXPECT_EQ(messages, std::vector<std::string>{"actionIndex 4 out of bounds [0, 4)"});
        EXPECT_EQ(destroyed[0] + destroyed[1] + destroyed[2], 0);
    }
    EXPECT_EQ(destroyed[0], 1);
    EXPECT_EQ(destroyed[1], 1);
    EXPECT_EQ(destroyed[2], 1);
}

TEST(ActionValueFunction, UnregisteringShiftsLaterActionsDownAndHandsTheObjectBack) {
    int destroyed[3] = {0, 0, 0};
    const AbstractAction* removed = nullptr;
    {
        TestQ q(intState());
        const AbstractAction* a[3];
        for (int i = 0; i < 3; ++i) {
            a[i] = new TrackedAction(destroyed[i]);
            q.registerAction(a[i]);
        }
        q.unregisterAction(1);
        removed = a[1];
        EXPECT_EQ(q.getNumberOfActions(), 2);
        EXPECT_EQ(q.registrySize(), 2u);
        EXPECT_EQ(q.getAction(0), a[0]);
        EXPECT_EQ(q.getAction(1), a[2]);
        EXPECT_EQ(q.removals, (std::vector<std::pair<int, int>>{{1, 3}}));
        EXPECT_EQ(destroyed[1], 0);

        // By pointer: the index it has now.
        q.unregisterAction(a[2]);
        EXPECT_EQ(q.removals.back(), std::make_pair(1, 2));
        EXPECT_EQ(q.getNumberOfActions(), 1);
        delete a[2];
    }
    EXPECT_EQ(destroyed[0], 1);
    EXPECT_EQ(destroyed[1], 0);
    EXPECT_EQ(destroyed[2], 1);
    delete removed;
}

TEST(ActionValueFunction, UnregisteringWhatIsNotThereChangesNothing) {
    int destroyed = 0;
    TestQ q(intState());
    for (int i = 0; i < 3; ++i) q.registerAction(new TrackedAction(destroyed));
    auto messages = errorsOf([&] {
        q.unregisterAction(3);
        q.unregisterAction(-1);
    });
    EXPECT_EQ(messages, (std::vector<std::string>{"actionIndex 3 out of bounds [0, 3)",
                                                  "actionIndex -1 out of bounds [0, 3)"}));
    TrackedAction stranger(destroyed);
    messages = errorsOf([&] { q.unregisterAction(&stranger); });
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(q.getNumberOfActions(), 3);
    EXPECT_TRUE(q.removals.empty());
    EXPECT_EQ(destroyed, 0);
}

TEST(ActionValueFunction, SetActionReplacesAndDestroysOnlyWhatItReplaces) {
    int destroyedOld = 0, destroyedNew = 0, destroyedRefused = 0;
    const AbstractAction* refused = new TrackedAction(destroyedRefused);
    {
        TestQ q(intState());
        const AbstractAction* old = new TrackedAction(destroyedOld);
        const AbstractAction* replacement = new TrackedAction(destroyedNew);
        q.registerAction(old);
        q.registerAction(nullptr);
        q.setAction(0, replacement);
        EXPECT_EQ(destroyedOld, 1);
        EXPECT_EQ(q.getAction(0), replacement);

        q.setAction(0, replacement);  // the action already there stays alive
        EXPECT_EQ(destroyedNew, 0);
        EXPECT_EQ(q.getAction(0), replacement);

        const auto messages = errorsOf([&] { q.setAction(5, refused); });
        EXPECT_EQ(messages, std::vector<std::string>{"actionIndex 5 out of bounds [0, 2)"});
        EXPECT_EQ(q.getNumberOfActions(), 2);
        EXPECT_TRUE(q.removals.empty());
    }
    EXPECT_EQ(destroyedNew, 1);
    EXPECT_EQ(destroyedRefused, 0);  // not taken over
    delete refused;
}

// --------------------------------------------------------------- selection

TEST(ActionValueFunction, GreedyBreaksTiesByOneDrawAmongTheBest) {
    TestQ q(intState());
    for (int i = 0; i < 4; ++i) q.registerAction(nullptr);
    q.values = {1.0, 3.0, 3.0, 2.0};
    // Position floor(r * 2^-31 * 2) among candidates {1, 2}.
    const unsigned low = seedWhere([](int r) { return r < 1073741824; });
    const unsigned high = seedWhere([](int r) { return r >= 1073741824; });
    for (unsigned seed : {low, high, 3u, 4u, 5u}) {
        const auto draws = firstDraws(seed);
        q.valueCalls = 0;
        EXPECT_EQ(q.setGreedyActionIndex(), 3.0);
        EXPECT_EQ(q.getActiveActionIndex(), draws.first < 1073741824 ? 1 : 2) << "rand() = " << draws.first;
        EXPECT_EQ(std::rand(), draws.second);
        EXPECT_EQ(q.valueCalls, 4);
    }
}

TEST(ActionValueFunction, GreedyDrawsOnceEvenForASingleBestAction) {
    TestQ q(intState());
    q.registerAction(nullptr);
    q.registerAction(nullptr);
    q.values = {5.0, 1.0};
    const auto draws = firstDraws(17);
    EXPECT_EQ(q.setGreedyActionIndex(), 5.0);
    EXPECT_EQ(q.getActiveActionIndex(), 0);
    EXPECT_EQ(std::rand(), draws.second);
}

TEST(ActionValueFunction, GreedySkipsNaNAndKeepsTheMostNegativeFiniteValue) {
    TestQ q(intState());
    q.registerAction(nullptr);
    q.registerAction(nullptr);
    q.values = {std::nan(""), 2.0};
    EXPECT_EQ(q.setGreedyActionIndex(), 2.0);
    EXPECT_EQ(q.getActiveActionIndex(), 1);

    q.values = {-DBL_MAX, -DBL_MAX};
    const auto draws = firstDraws(8);
    const auto messages = errorsOf([&] { EXPECT_EQ(q.setGreedyActionIndex(), -DBL_MAX); });
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(q.getActiveActionIndex(), draws.first < 1073741824 ? 0 : 1);
}

TEST(ActionValueFunction, GreedyWithoutAnyComparableValueDrawsAmongAll) {
    TestQ q(intState());
    for (int i = 0; i < 3; ++i) q.registerAction(nullptr);
    const double inf = std::numeric_limits<double>::infinity();
    q.values = {-inf, std::nan(""), -inf};
    for (unsigned seed = 1; seed <= 6; ++seed) {
        const auto draws = firstDraws(seed);
        const auto messages = errorsOf([&] { (void)q.setGreedyActionIndex(); });
        EXPECT_EQ(messages.size(), 1u);
        EXPECT_EQ(q.getActiveActionIndex(), static_cast<int>(std::floor(draws.first * TWO_TO_MINUS_31 * 3)));
        EXPECT_EQ(std::rand(), draws.second);
    }
}

TEST(ActionValueFunction, RandomSelectionIsTheUniformIndexDraw) {
    TestQ q(intState());
    for (int i = 0; i < 4; ++i) q.registerAction(nullptr);
    q.values = {0.5, 1.5, 2.5, 3.5};
    // rand() = 2^30 is the first draw that reaches action 2.
    for (unsigned seed = 1; seed <= 12; ++seed) {
        const auto draws = firstDraws(seed);
        const int expected = static_cast<int>(draws.first / 536870912);  // r / 2^29
        q.valueCalls = 0;
        EXPECT_EQ(q.setRandomActionIndex(), q.values[static_cast<std::size_t>(expected)]);
        EXPECT_EQ(q.getActiveActionIndex(), expected);
        EXPECT_EQ(std::rand(), draws.second);
        EXPECT_EQ(q.valueCalls, 1);
    }
}

TEST(ActionValueFunction, SoftMaxWithEqualValuesIsUniformAndKeepsTheValues) {
    TestQ q(intState());
    for (int i = 0; i < 3; ++i) q.registerAction(nullptr);
    q.values = {2.0, 2.0, 2.0};
    const auto draws = firstDraws(23);
    EXPECT_EQ(q.setSoftMaxActionIndex(0.5), 2.0);
    EXPECT_EQ(q.getActiveActionIndex(), static_cast<int>(std::floor(draws.first * TWO_TO_MINUS_31 * 3)));
    EXPECT_EQ(q.valueCalls, 4);
    EXPECT_EQ(std::rand(), draws.second);
    ASSERT_NE(q.scratch(), nullptr);
    EXPECT_EQ(q.scratch()[0], 2.0);
    EXPECT_EQ(q.scratch()[2], 2.0);
}

TEST(ActionValueFunction, SoftMaxDrawsByExponentialWeights) {
    TestQ q(intState());
    q.registerAction(nullptr);
    q.registerAction(nullptr);
    q.values = {0.0, 1.0};
    // Weights {1, e}: action 1 once rand() reaches RAND_MAX / (1 + e).
    const double threshold = 2147483647.0 / (1.0 + std::exp(1.0));
    const unsigned low = seedWhere([&](int r) { return r < threshold; });
    const unsigned high = seedWhere([&](int r) { return r >= threshold; });
    for (unsigned seed : {low, high}) {
        const auto draws = firstDraws(seed);
        q.valueCalls = 0;
        const int expected = draws.first >= threshold ? 1 : 0;
        EXPECT_EQ(q.setSoftMaxActionIndex(1.0), q.values[static_cast<std::size_t>(expected)]);
        EXPECT_EQ(q.getActiveActionIndex(), expected);
        EXPECT_EQ(q.valueCalls, 3);
        EXPECT_EQ(std::rand(), draws.second);
        EXPECT_DOUBLE_EQ(q.scratch()[0], 1.0);
        EXPECT_DOUBLE_EQ(q.scratch()[1], std::exp(1.0));
    }
}

TEST(ActionValueFunction, SoftMaxFollowsActionsRegisteredAfterItsFirstUse) {
    TestQ q(intState());
    q.registerAction(nullptr);
    q.registerAction(nullptr);
    q.values = {0.0, 1.0};
    (void)q.setSoftMaxActionIndex(1.0);
    for (int i = 0; i < 6; ++i) q.registerAction(nullptr);
    q.values = {0.0, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0};
    q.valueCalls = 0;
    (void)q.setSoftMaxActionIndex(2.0);
    EXPECT_EQ(q.valueCalls, 9);
    EXPECT_GE(q.getActiveActionIndex(), 0);
    EXPECT_LT(q.getActiveActionIndex(), 8);
    // The sanitizer build catches a write past a scratch array kept at two entries.
    EXPECT_DOUBLE_EQ(q.scratch()[7], std::exp(0.5));
    EXPECT_DOUBLE_EQ(q.scratch()[0], 1.0);
}

TEST(ActionValueFunction, SelectionsWithoutActionsReportAndChangeNothing) {
    TestQ q(intState());
    const auto draws = firstDraws(31);
    const auto messages = errorsOf([&] {
        EXPECT_EQ(q.setGreedyActionIndex(), 0.0);
        EXPECT_EQ(q.setRandomActionIndex(), 0.0);
        EXPECT_EQ(q.setSoftMaxActionIndex(1.0), 0.0);
    });
    EXPECT_EQ(messages, std::vector<std::string>(3, "No actions registered! --> Register actions first!"));
    EXPECT_EQ(q.getActiveActionIndex(), -1);
    EXPECT_EQ(q.valueCalls, 0);
    EXPECT_EQ(std::rand(), draws.first);
}

TEST(ActionValueFunction, SelectionsAllocateNothingOnceWarmedUp) {
    TestQ q(intState());
    for (int i = 0; i < 16; ++i) q.registerAction(nullptr);
    q.values.assign(16, 1.0);
    (void)q.setGreedyActionIndex();
    (void)q.setSoftMaxActionIndex(1.0);
    allocations = 0;
    countAllocations = true;
    for (int step = 0; step < 50; ++step) {
        // Ties of changing size, so that the candidate list grows and shrinks.
        for (int a = 0; a < 16; ++a) q.values[static_cast<std::size_t>(a)] = (a * (step + 1)) % 5;
        (void)q.setGreedyActionIndex();
        (void)q.setRandomActionIndex();
        (void)q.setSoftMaxActionIndex(0.7);
    }
    countAllocations = false;
    EXPECT_EQ(allocations, 0);
}

// ----------------------------------------------------------------- Q file

TEST(ActionValueFunction, FileHoldsTheNumberOfActionsBetweenStateAndBody) {
    TempDir dir;
    const std::string path = dir.file("q.bin");
    State* s = new State();
    s->registerVariable("pos", 0, 4);
    TestQ q(s);
    int destroyed = 0;
    for (int i = 0; i < 3; ++i) q.registerAction(new TrackedAction(destroyed));
    q.weights = {0.5, -1.0, 2.0};
    EXPECT_EQ(q.save(path), 0);
    Bytes expected;
    putU32(expected, 1);
    putI32(expected, 1);
    putIntVar(expected, "pos", 0, 4);
    expected.insert(expected.end(), {0x03, 0x00, 0x00, 0x00});
    expected = concat(expected, bodyBytes({0.5, -1.0, 2.0}));
    EXPECT_EQ(readFile(path), expected);
}

TEST(ActionValueFunction, LoadGivesEmptySlotsThatSetActionBinds) {
    TempDir dir;
    const std::string path = dir.file("q.bin");
    Bytes file = intStateBlock();
    putI32(file, 3);
    file = concat(file, bodyBytes({1.0, 2.0, 3.0}));
    writeFile(path, file);

    int destroyedOld[2] = {0, 0};
    int destroyedBound[3] = {0, 0, 0};
    {
        TestQ q(nullptr);
        q.registerAction(new TrackedAction(destroyedOld[0]));
        q.registerAction(new TrackedAction(destroyedOld[1]));
        q.values = {0.0, 1.0};
        (void)q.setGreedyActionIndex();
        EXPECT_EQ(q.load(path), 0);
        EXPECT_EQ(destroyedOld[0], 1);
        EXPECT_EQ(destroyedOld[1], 1);
        EXPECT_EQ(q.getActiveActionIndex(), 1);  // left as it was
        EXPECT_EQ(q.getNumberOfActions(), 3);
        EXPECT_EQ(q.registrySize(), 3u);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(q.getAction(i), nullptr);
        ASSERT_NE(q.getStatePtr(), nullptr);
        EXPECT_EQ(q.getStatePtr()->getNumberOfVariables(), 2u);
        EXPECT_EQ(q.weights, (std::vector<double>{1.0, 2.0, 3.0}));

        for (int i = 0; i < 3; ++i) q.setAction(i, new TrackedAction(destroyedBound[i]));
        EXPECT_NE(q.getAction(2), nullptr);
    }
    for (int d : destroyedBound) EXPECT_EQ(d, 1);
}

TEST(ActionValueFunction, LoadRefusesAnImplausibleNumberOfActions) {
    TempDir dir;
    for (int32_t actions : {-1, 0x7FFFFFFF}) {
        const std::string path = dir.file("q.bin");
        Bytes file = intStateBlock();
        putI32(file, actions);
        file = concat(file, bodyBytes({1.0}));
        writeFile(path, file);
        TestQ q(intState());
        q.registerAction(nullptr);
        int result = 0;
        const auto messages = errorsOf([&] { result = q.load(path); });
        EXPECT_EQ(result, -1) << actions;
        EXPECT_FALSE(messages.empty());
        EXPECT_EQ(q.getNumberOfActions(), 0);
        EXPECT_EQ(q.registrySize(), 0u);
        EXPECT_EQ(q.bodyLoads, 0);
    }
}

TEST(ActionValueFunction, LoadFailuresBeforeTheRegistryKeepIt) {
    TempDir dir;
    int destroyed = 0;
    TestQ q(intState());
    q.registerAction(new TrackedAction(destroyed));
    int result = 0;
    auto messages = errorsOf([&] { result = q.load(dir.file("absent.bin")); });
    EXPECT_EQ(result, -1);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], std::string("errno = 2 --> ") + std::strerror(ENOENT));

    const std::string cut = dir.file("cut.bin");
    const Bytes block = intStateBlock();
    writeFile(cut, Bytes(block.begin(), block.begin() + 12));
    messages = errorsOf([&] { result = q.load(cut); });
    EXPECT_EQ(result, -1);
    EXPECT_EQ(messages.back(), "loading state failed");
    EXPECT_EQ(q.getNumberOfActions(), 1);
    EXPECT_EQ(destroyed, 0);

    // A file that ends right after the State block: the registry is emptied
    // first, then reading ACTIONS comes up short.
    const std::string noActions = dir.file("no-actions.bin");
    writeFile(noActions, intStateBlock());
    messages = errorsOf([&] { result = q.load(noActions); });
    EXPECT_EQ(result, -1);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(isNarrowErrnoReport(messages[0])) << messages[0];
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(q.getNumberOfActions(), 0);
}

TEST(ActionValueFunction, SaveFailures) {
    TempDir dir;
    TestQ empty(nullptr);
    int result = 0;
    auto messages = errorsOf([&] { result = empty.save(dir.file("q.bin")); });
    EXPECT_EQ(result, -1);
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(empty.bodySaves, 0);

    TestQ q(intState());
    messages = errorsOf([&] { result = q.save(dir.file("missing/q.bin")); });
    EXPECT_EQ(result, -1);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(isNarrowErrnoReport(messages[0])) << messages[0];

    q.failBodySave = true;
    messages = errorsOf([&] { result = q.save(dir.file("q.bin")); });
    EXPECT_EQ(result, -1);
    EXPECT_EQ(messages, std::vector<std::string>{"saving valuefunction failed"});
}
