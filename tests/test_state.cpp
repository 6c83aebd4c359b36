// The named, bounded variables and the State that owns them. Their records
// and blocks are shown byte for byte, cut and damaged with the other files
// (test_files); here, what registering, reading and changing them does.

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "State.h"
#include "TestSupport.h"

using namespace test_support;
using Messages = std::vector<std::string>;

namespace {

const unsigned int NONE = State::NO_ID;

// A stream that reads the given bytes, closed with the test's scope.
class Input {
public:
    Input(const TempDir& dir, const Bytes& bytes) : path_(dir.file("in.bin")) {
        writeFile(path_, bytes);
        file_ = std::fopen(path_.c_str(), "r");
    }
    ~Input() { std::fclose(file_); }
    FILE* get() const { return file_; }

private:
    std::string path_;
    FILE* file_;
};

Bytes block(uint32_t count, int32_t kind, const Bytes& records) {
    Bytes b;
    putU32(b, count);
    putI32(b, kind);
    b.insert(b.end(), records.begin(), records.end());
    return b;
}

}  // namespace

TEST(VarValues, MidpointsRoundTowardZeroWithoutOverflowAndKeepTheBoundsAsGiven) {
    const int cases[][3] = {{-3, 0, -1},      {-7, -4, -5}, {3, 8, 5}, {INT_MIN, INT_MAX, 0}, {INT_MAX, INT_MAX, INT_MAX},
                            {INT_MIN, INT_MIN, INT_MIN}, {INT_MAX - 1, INT_MAX, INT_MAX - 1}, {9, 1, 5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c[0]) + ", " + std::to_string(c[1]));
        const VarValuesInt v("v", c[0], c[1]);
        EXPECT_EQ(v.getMinValue(), c[0]);
        EXPECT_EQ(v.getMaxValue(), c[1]);
        EXPECT_EQ(v.getValue(), c[2]);
    }
    const VarValuesDouble descending("d", 3.0, -1.0);
    EXPECT_EQ(descending.getMinValue(), 3.0);
    EXPECT_EQ(descending.getValue(), 1.0);
}

TEST(State, RegistrationNumbersVariablesOrdersTheirBoundsAndRefusesTheOtherKind) {
    State s, d;
    EXPECT_EQ(s.getType(), State::UNDEF);
    EXPECT_EQ(s.registerVariable("row", 10, 2), 0u);
    EXPECT_EQ(s.registerVariable("col", -1, 1), 1u);
    EXPECT_EQ(s.getType(), State::INT);
    EXPECT_EQ(s.getMinValueInt(0), 2);
    EXPECT_EQ(s.getMaxValueInt(0), 10);
    EXPECT_EQ(s.getValueInt(0), 6);
    EXPECT_EQ(d.registerVariable("v", 3.0, -1.0), 0u);
    EXPECT_EQ(d.getMinValueDbl(0), -1.0);
    EXPECT_EQ(d.getMaxValueDbl(0), 3.0);
    EXPECT_EQ(d.getValueDbl(0), 1.0);
    unsigned int id = 0, other = 0;
    EXPECT_EQ(stderrReports([&] {
                  id = s.registerVariable("b", 0.0, 1.0);
                  other = d.registerVariable("b", 0, 1);
              }),
              (Messages{"Cannot register Double-Variable!", "Cannot register Int-Variable!"}));
    EXPECT_EQ(id, NONE);
    EXPECT_EQ(other, NONE);
    EXPECT_EQ(s.getNumberOfVariables(), 2u);
    EXPECT_EQ(d.getNumberOfVariables(), 1u);
    EXPECT_EQ(s.getType(), State::INT);
}

TEST(State, VariableIdIsTheFirstExactMatch) {
    State s;
    for (const std::string& name : {std::string("pos"), std::string("pos\0x", 5), std::string("pos"), std::string("")}) {
        s.registerVariable(name, 0, 1);
    }
    EXPECT_EQ(s.getVariableId("pos"), 0u);
    EXPECT_EQ(s.getVariableId(std::string("pos\0x", 5)), 1u);
    EXPECT_EQ(s.getVariableId(""), 3u);
    unsigned int id = 0;
    EXPECT_EQ(stderrReports([&] { id = s.getVariableId("po"); }), Messages{"No variable with name = po"});
    EXPECT_EQ(id, NONE);
}

TEST(State, AccessorsCheckTheKindBeforeTheIdAndChangeOnlyTheirField) {
    State s, undef, d;
    s.registerVariable("a", 0, 4);
    s.registerVariable("b", 0, 4);
    d.registerVariable("v", 0.0, 10.0);
    double dbl = 1.0;
    int value = 1;
    testing::internal::CaptureStderr();
    value = s.getMaxValueInt(2);
    const std::string text = testing::internal::GetCapturedStderr();
    EXPECT_EQ(value, 0);
    EXPECT_EQ(reportMessages(text), Messages{"VarId out of bounds --> 0 <= 2 < 2"});
    EXPECT_NE(text.find("File: State.h   Function: getMaxValueInt   Line: "), std::string::npos) << text;
    EXPECT_EQ(stderrReports([&] {
                  dbl = s.getValueDbl(5);
                  value = s.getValueInt(NONE);
                  value = undef.getMinValueInt(0);
                  dbl = undef.getMaxValueDbl(0);
                  d.setValueInt(0, 3);
                  d.setValueDbl(1, 3.0);
              }),
              (Messages{"Not a Double-State!", "VarId out of bounds --> 0 <= 4294967295 < 2", "Not an Int-State!",
                        "Not a Double-State!", "Not an Int-State!", "VarId out of bounds --> 0 <= 1 < 1"}));
    EXPECT_EQ(dbl, 0.0);
    EXPECT_EQ(value, 0);
    d.setValueDbl(0, 2.5);
    d.setMinValueDbl(0, -1.0);
    d.setMaxValueDbl(0, 11.0);
    EXPECT_EQ(d.getValueDbl(0), 2.5);
    EXPECT_EQ(d.getMinValueDbl(0), -1.0);
    EXPECT_EQ(d.getMaxValueDbl(0), 11.0);
}

TEST(State, LoadReplacesTheVariablesAndRestartsAtTheMidpoints) {
    TempDir dir;
    Bytes doubles, ints;
    putDoubleVar(doubles, "a", -1.0, 1.0);
    putDoubleVar(doubles, "bc", 0.0, 2.5);
    putIntVar(ints, "x", 0, 9);
    putIntVar(ints, "y", -8, 1);
    Input doubleIn(dir, block(2, 2, doubles));
    State loaded;
    loaded.registerVariable("gone", 0, 1);
    EXPECT_EQ(loaded.load(doubleIn.get()), 0);
    EXPECT_EQ(loaded.getType(), State::DOUBLE);
    EXPECT_EQ(loaded.getVariableId("bc"), 1u);
    EXPECT_EQ(loaded.getValueDbl(0), 0.0);
    EXPECT_EQ(loaded.getValueDbl(1), 1.25);
    Input intIn(dir, block(2, 1, ints));
    State fromFile(intIn.get());
    EXPECT_EQ(fromFile.getType(), State::INT);
    EXPECT_EQ(fromFile.getVariableId("y"), 1u);
    EXPECT_EQ(fromFile.getValueInt(0), 4);
    EXPECT_EQ(fromFile.getValueInt(1), -3);
}

TEST(State, UnknownKindIsAcceptedOnlyForAnEmptyBlock) {
    TempDir dir;
    Bytes record;
    putIntVar(record, "x", 0, 1);
    for (const int32_t kind : {0, 7}) {
        for (const uint32_t count : {0u, 1u}) {
            SCOPED_TRACE(std::to_string(kind) + ", " + std::to_string(count) + " variables");
            Input in(dir, block(count, kind, count == 0 ? Bytes() : record));
            State s;
            s.registerVariable("x", 0, 1);
            int result = 1;
            const Messages errors = stderrReports([&] { result = s.load(in.get()); });
            EXPECT_EQ(result, count == 0 ? 0 : -1);
            ASSERT_FALSE(errors.empty());
            EXPECT_EQ(errors[0], "Undef VarType: " + std::to_string(kind));
            EXPECT_EQ(s.getNumberOfVariables(), 0u);
            // An emptied State takes either kind again.
            EXPECT_EQ(s.registerVariable("d", 0.0, 1.0), 0u);
        }
    }
}

TEST(State, SavingOnAStreamThatCannotBeWrittenFailsQuotingTheError) {
    TempDir dir;
    Input in(dir, Bytes{});
    State s;
    s.registerVariable("x", 0, 1);
    int result = 0, record = 0;
    const Messages errors = stderrReports([&] {
        result = s.save(in.get());
        record = VarValuesDouble("d", 0.0, 1.0).save(in.get());
    });
    EXPECT_EQ(result, -1);
    EXPECT_EQ(record, -1);
    ASSERT_EQ(errors.size(), 2u);
    for (const std::string& e : errors) {
        EXPECT_EQ(e.rfind("errno = ", 0), 0u) << e;
        EXPECT_NE(e.find("  -->  "), std::string::npos) << e;
        EXPECT_EQ(e.rfind("errno = 0 ", 0), std::string::npos) << "quotes no error: " << e;
    }
}
