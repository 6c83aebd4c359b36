// The named, bounded variables and the State that owns them. Their records
// and blocks are shown byte for byte, cut and damaged with the other files
// (test_files); here, what registering, reading and changing them does.

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "State.h"
#include "TestSupport.h"

using namespace test_support;
using Messages = std::vector<std::string>;

namespace {

const unsigned int NONE = State::NO_ID;

// A stream that reads the given bytes.
using Stream = std::unique_ptr<FILE, int (*)(FILE*)>;
Stream input(const TempDir& dir, const Bytes& bytes) {
    writeFile(dir.file("in.bin"), bytes);
    return Stream(std::fopen(dir.file("in.bin").c_str(), "r"), &std::fclose);
}

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
    EXPECT_EQ(d.registerVariable("v", 3.0, -1.0), 0u);
    EXPECT_EQ((std::vector<int>{s.getType(), s.getMinValueInt(0), s.getMaxValueInt(0), s.getValueInt(0)}),
              (std::vector<int>{State::INT, 2, 10, 6}));
    EXPECT_EQ((std::vector<double>{d.getMinValueDbl(0), d.getMaxValueDbl(0), d.getValueDbl(0)}),
              (std::vector<double>{-1.0, 3.0, 1.0}));
    std::vector<unsigned int> ids;
    EXPECT_EQ(stderrReports([&] { ids = {s.registerVariable("b", 0.0, 1.0), d.registerVariable("b", 0, 1)}; }),
              (Messages{"Cannot register Double-Variable!", "Cannot register Int-Variable!"}));
    EXPECT_EQ(ids, (std::vector<unsigned int>{NONE, NONE}));
    EXPECT_EQ((std::vector<unsigned int>{s.getNumberOfVariables(), d.getNumberOfVariables()}),
              (std::vector<unsigned int>{2, 1}));
    EXPECT_EQ(s.getType(), State::INT);
}

TEST(State, VariableIdIsTheFirstExactMatch) {
    State s;
    for (const std::string& name : {std::string("pos"), std::string("pos\0x", 5), std::string("pos"), std::string("")}) {
        s.registerVariable(name, 0, 1);
    }
    unsigned int id = 0;
    EXPECT_EQ(stderrReports([&] { id = s.getVariableId("po"); }), Messages{"No variable with name = po"});
    EXPECT_EQ((std::vector<unsigned int>{s.getVariableId("pos"), s.getVariableId(std::string("pos\0x", 5)),
                                         s.getVariableId(""), id}),
              (std::vector<unsigned int>{0, 1, 3, NONE}));
}

// A block of variables of no known kind is refused with the other files
// (test_files); an empty one is no damage.
TEST(State, UnknownKindIsAcceptedForAnEmptyBlock) {
    TempDir dir;
    for (const int32_t kind : {0, 7}) {
        SCOPED_TRACE(kind);
        const Stream in = input(dir, block(0, kind, Bytes()));
        State s;
        s.registerVariable("x", 0, 1);
        int result = 1;
        EXPECT_EQ(stderrReports([&] { result = s.load(in.get()); }), Messages{"Undef VarType: " + std::to_string(kind)});
        EXPECT_EQ(result, 0);
        EXPECT_EQ(s.getNumberOfVariables(), 0u);
        // An emptied State takes either kind again.
        EXPECT_EQ(s.registerVariable("d", 0.0, 1.0), 0u);
    }
}

TEST(State, AStreamThatCannotBeWrittenOrReadFailsQuotingTheError) {
    TempDir dir;
    const Stream in = input(dir, Bytes{});
    State s;
    s.registerVariable("x", 0, 1);
    int result = 0, record = 0;
    const Messages errors = stderrReports([&] {
        result = s.save(in.get());
        record = VarValuesDouble("d", 0.0, 1.0).save(in.get());
    });
    EXPECT_EQ(result, -1);
    EXPECT_EQ(record, -1);
    EXPECT_TRUE(reportsContain(errors, {"  -->  ", "  -->  "}));  // the wide form
    EXPECT_FALSE(someReportContains(errors, "errno = 0 ")) << "quotes no error";
    // A record that cannot be read leaves a variable of no name on [0, 0].
    std::unique_ptr<VarValuesDouble> unread;
    stderrReports([&] { unread.reset(new VarValuesDouble(in.get())); });
    EXPECT_EQ((std::vector<double>{unread->getMinValue(), unread->getMaxValue(), unread->getValue()}),
              std::vector<double>(3, 0.0));
}

// A State alone, as a stream holds it, whose last record ends in its bounds:
// the load fails and leaves no variable (the value-function files cut there
// fail later, in their bodies, whatever the State did).
TEST(State, ARecordCutInItsBoundsFailsTheLoad) {
    TempDir dir;
    for (const bool ints : {true, false}) {
        Bytes record;
        ints ? putIntVar(record, "a", 0, 2) : putDoubleVar(record, "a", 0.0, 2.0);
        for (const int missing : {1, ints ? 4 : 8, ints ? 5 : 9}) {
            SCOPED_TRACE(std::string(ints ? "INT" : "DOUBLE") + " record short of " + std::to_string(missing));
            const Stream in = input(dir, block(1, ints ? 1 : 2, Bytes(record.begin(), record.end() - missing)));
            State s;
            int result = 0;
            EXPECT_FALSE(stderrReports([&] { result = s.load(in.get()); }).empty());
            EXPECT_EQ(result, -1);
            EXPECT_EQ(s.getNumberOfVariables(), 0u);
        }
    }
}
