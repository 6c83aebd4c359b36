#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "State.h"
#include "TestSupport.h"
#include "VarValuesDouble.h"
#include "VarValuesInt.h"

using test_support::Bytes;
using test_support::putDoubleVar;
using test_support::putF64;
using test_support::putI32;
using test_support::putIntVar;
using test_support::putU32;
using test_support::readFile;
using test_support::reportMessages;
using test_support::TempDir;
using test_support::writeFile;

namespace {

const unsigned int NONE = 4294967295u;

// A stream opened on a file, closed with the test's scope.
class Stream {
public:
    Stream(const std::string& path, const char* mode) : file_(std::fopen(path.c_str(), mode)) {
        EXPECT_NE(file_, nullptr) << path;
    }
    ~Stream() {
        if (file_ != nullptr) std::fclose(file_);
    }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;
    FILE* get() const { return file_; }
    long position() const { return std::ftell(file_); }

private:
    FILE* file_;
};

// A stream that reads the given bytes.
struct Input {
    Input(const TempDir& dir, const Bytes& bytes, const std::string& name = "in.bin")
        : path(dir.file(name)), stream((writeFile(path, bytes), path), "r") {}
    std::string path;
    Stream stream;
    FILE* get() const { return stream.get(); }
};

// The reports an action wrote to stderr, as messages.
std::vector<std::string> errorsOf(const std::function<void()>& action) {
    testing::internal::CaptureStderr();
    action();
    return reportMessages(testing::internal::GetCapturedStderr());
}

bool isWideErrnoReport(const std::string& message) {
    return message.rfind("errno = ", 0) == 0 && message.find("  -->  ") != std::string::npos;
}

Bytes prefix(const Bytes& bytes, std::size_t n) { return Bytes(bytes.begin(), bytes.begin() + static_cast<long>(n)); }

}  // namespace

// ---------------------------------------------------------------- variables

TEST(VarValues, IntRecordIsLengthNameAndBoundsAndReadsBackToTheMidpoint) {
    TempDir dir;
    const std::string path = dir.file("x.bin");
    {
        Stream out(path, "w+");
        VarValuesInt x("x", 0, 9);
        EXPECT_EQ(x.save(out.get()), 0);
    }
    const Bytes expected = {0x01, 0x00, 0x00, 0x00, 0x78, 0x00, 0x00, 0x00, 0x00, 0x09, 0x00, 0x00, 0x00};
    EXPECT_EQ(readFile(path), expected);

    Stream in(path, "r");
    VarValuesInt loaded(in.get());
    EXPECT_EQ(loaded.getName(), "x");
    EXPECT_EQ(loaded.getMinValue(), 0);
    EXPECT_EQ(loaded.getMaxValue(), 9);
    EXPECT_EQ(loaded.getValue(), 4);
    EXPECT_EQ(in.position(), 13);
}

TEST(VarValues, IntMidpointRoundsTowardZeroWithoutOverflow) {
    EXPECT_EQ(VarValuesInt("v", -3, 0).getValue(), -1);
    EXPECT_EQ(VarValuesInt("v", -7, -4).getValue(), -5);
    EXPECT_EQ(VarValuesInt("v", 3, 8).getValue(), 5);
    EXPECT_EQ(VarValuesInt("v", INT_MIN, INT_MAX).getValue(), 0);
    EXPECT_EQ(VarValuesInt("v", INT_MAX, INT_MAX).getValue(), INT_MAX);
    EXPECT_EQ(VarValuesInt("v", INT_MIN, INT_MIN).getValue(), INT_MIN);
    EXPECT_EQ(VarValuesInt("v", INT_MAX - 1, INT_MAX).getValue(), INT_MAX - 1);

    // The same rule after reading a record.
    TempDir dir;
    Bytes bytes;
    putIntVar(bytes, "big", INT_MAX, INT_MAX);
    putIntVar(bytes, "neg", -3, 0);
    Input in(dir, bytes);
    VarValuesInt big(in.get());
    VarValuesInt neg(in.get());
    EXPECT_EQ(big.getValue(), INT_MAX);
    EXPECT_EQ(neg.getValue(), -1);
}

TEST(VarValues, DoubleRecordRoundTripsBoundsAndRestartsAtTheMidpoint) {
    TempDir dir;
    const std::string path = dir.file("d.bin");
    VarValuesDouble v("speed", -1.0, 2.0);
    EXPECT_EQ(v.getValue(), 0.5);
    v.setValue(1.75);
    {
        Stream out(path, "w+");
        EXPECT_EQ(v.save(out.get()), 0);
    }
    Bytes expected;
    putDoubleVar(expected, "speed", -1.0, 2.0);
    EXPECT_EQ(readFile(path), expected);
    EXPECT_EQ(expected.size(), 20u + 5u);

    Stream in(path, "r");
    VarValuesDouble loaded("old", 7.0, 8.0);
    EXPECT_EQ(loaded.load(in.get()), 0);
    EXPECT_EQ(loaded.getName(), "speed");
    EXPECT_EQ(loaded.getMinValue(), -1.0);
    EXPECT_EQ(loaded.getMaxValue(), 2.0);
    EXPECT_EQ(loaded.getValue(), 0.5);
}

TEST(VarValues, NamesAreBytesOfAnyContent) {
    TempDir dir;
    const std::string path = dir.file("names.bin");
    const std::string zeroes("a\0b\0", 4);
    {
        Stream out(path, "w+");
        EXPECT_EQ(VarValuesInt("", -2, 5).save(out.get()), 0);
        EXPECT_EQ(VarValuesDouble(zeroes, 0.0, 1.0).save(out.get()), 0);
    }
    Bytes expected;
    putU32(expected, 0);  // no name bytes at all, bounds follow directly
    putI32(expected, -2);
    putI32(expected, 5);
    putDoubleVar(expected, zeroes, 0.0, 1.0);
    EXPECT_EQ(readFile(path), expected);

    Stream in(path, "r");
    VarValuesInt empty("was named", 0, 0);
    EXPECT_EQ(empty.load(in.get()), 0);
    EXPECT_EQ(empty.getName(), "");
    VarValuesDouble withZeroes(in.get());
    EXPECT_EQ(withZeroes.getName(), zeroes);
    EXPECT_EQ(withZeroes.getName().size(), 4u);
}

TEST(VarValues, ConstructorKeepsDescendingBoundsAsGiven) {
    VarValuesInt i("i", 9, 1);
    EXPECT_EQ(i.getMinValue(), 9);
    EXPECT_EQ(i.getMaxValue(), 1);
    EXPECT_EQ(i.getValue(), 5);
    VarValuesDouble d("d", 3.0, -1.0);
    EXPECT_EQ(d.getMinValue(), 3.0);
    EXPECT_EQ(d.getValue(), 1.0);
}

TEST(VarValues, RecordCutAtAnyByteFailsWithTheErrnoReport) {
    TempDir dir;
    Bytes intRecord;
    putIntVar(intRecord, "abc", -5, 7);
    for (std::size_t cut = 0; cut < intRecord.size(); ++cut) {
        Input in(dir, prefix(intRecord, cut));
        VarValuesInt v("old", 100, 200);
        int result = 0;
        const auto messages = errorsOf([&] { result = v.load(in.get()); });
        EXPECT_EQ(result, -1) << "cut at " << cut;
        ASSERT_FALSE(messages.empty()) << "cut at " << cut;
        EXPECT_TRUE(isWideErrnoReport(messages.back())) << messages.back();
    }
    Bytes doubleRecord;
    putDoubleVar(doubleRecord, "ab", -5.0, 7.0);
    for (std::size_t cut = 0; cut < doubleRecord.size(); ++cut) {
        Input in(dir, prefix(doubleRecord, cut));
        VarValuesDouble v("old", 1.0, 2.0);
        int result = 0;
        const auto messages = errorsOf([&] { result = v.load(in.get()); });
        EXPECT_EQ(result, -1) << "cut at " << cut;
        ASSERT_FALSE(messages.empty()) << "cut at " << cut;
        EXPECT_TRUE(isWideErrnoReport(messages.back())) << messages.back();
    }
}

TEST(VarValues, FailedLoadKeepsWhatItReadAndNothingElse) {
    TempDir dir;
    Bytes record;
    putIntVar(record, "abc", -5, 7);
    {
        // Ends inside the name: the variable is untouched.
        Input in(dir, prefix(record, 5));
        VarValuesInt v("old", 100, 200);
        errorsOf([&] { EXPECT_EQ(v.load(in.get()), -1); });
        EXPECT_EQ(v.getName(), "old");
        EXPECT_EQ(v.getMinValue(), 100);
    }
    {
        // Ends before maxValue: name and minValue are the new ones, the rest old.
        Input in(dir, prefix(record, 4 + 3 + 4 + 2));
        VarValuesInt v("old", 100, 200);
        errorsOf([&] { EXPECT_EQ(v.load(in.get()), -1); });
        EXPECT_EQ(v.getName(), "abc");
        EXPECT_EQ(v.getMinValue(), -5);
        EXPECT_EQ(v.getMaxValue(), 200);
        EXPECT_EQ(v.getValue(), 150);
    }
}

TEST(VarValues, NameLengthBeyondTheFileIsRefusedWithoutAllocating) {
    TempDir dir;
    Bytes bytes;
    putU32(bytes, 0xFFFFFFF0u);
    bytes.insert(bytes.end(), 16, 'n');
    Input in(dir, bytes);
    VarValuesInt v("kept", 1, 2);
    int result = 0;
    const auto messages = errorsOf([&] { result = v.load(in.get()); });
    EXPECT_EQ(result, -1);
    ASSERT_FALSE(messages.empty());
    EXPECT_TRUE(isWideErrnoReport(messages.back())) << messages.back();
    EXPECT_EQ(v.getName(), "kept");
}

TEST(VarValues, SaveOnAStreamThatCannotBeWrittenFails) {
    TempDir dir;
    Input in(dir, Bytes{});
    int result = 0;
    const auto messages = errorsOf([&] { result = VarValuesDouble("d", 0.0, 1.0).save(in.get()); });
    EXPECT_EQ(result, -1);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(isWideErrnoReport(messages[0])) << messages[0];
    EXPECT_EQ(messages[0].rfind("errno = 0 ", 0), std::string::npos) << "quotes no error: " << messages[0];
}

// -------------------------------------------------------------------- State

TEST(State, RegistrationNumbersVariablesAndOrdersTheirBounds) {
    State s;
    EXPECT_EQ(s.getType(), State::UNDEF);
    EXPECT_EQ(s.registerVariable("row", 10, 2), 0u);
    EXPECT_EQ(s.registerVariable("col", -1, 1), 1u);
    EXPECT_EQ(s.registerVariable("", 5, 5), 2u);
    EXPECT_EQ(s.getType(), State::INT);
    EXPECT_EQ(s.getNumberOfVariables(), 3u);
    EXPECT_EQ(s.getMinValueInt(0), 2);
    EXPECT_EQ(s.getMaxValueInt(0), 10);
    EXPECT_EQ(s.getValueInt(0), 6);
    EXPECT_EQ(s.getValueInt(1), 0);

    State d;
    EXPECT_EQ(d.registerVariable("v", 3.0, -1.0), 0u);
    EXPECT_EQ(d.getMinValueDbl(0), -1.0);
    EXPECT_EQ(d.getMaxValueDbl(0), 3.0);
    EXPECT_EQ(d.getValueDbl(0), 1.0);
}

TEST(State, RegistrationOfTheOtherKindIsRefused) {
    State s;
    s.registerVariable("a", 0, 3);
    unsigned int id = 0;
    auto messages = errorsOf([&] { id = s.registerVariable("b", 0.0, 1.0); });
    EXPECT_EQ(id, NONE);
    EXPECT_EQ(messages, std::vector<std::string>{"Cannot register Double-Variable!"});
    EXPECT_EQ(s.getNumberOfVariables(), 1u);
    EXPECT_EQ(s.getType(), State::INT);

    State d;
    d.registerVariable("a", 0.0, 1.0);
    messages = errorsOf([&] { id = d.registerVariable("b", 0, 1); });
    EXPECT_EQ(id, NONE);
    EXPECT_EQ(messages, std::vector<std::string>{"Cannot register Int-Variable!"});
    EXPECT_EQ(d.getNumberOfVariables(), 1u);
}

TEST(State, VariableIdIsTheFirstExactMatch) {
    State s;
    s.registerVariable("pos", 0, 1);
    s.registerVariable(std::string("pos\0x", 5), 0, 1);
    s.registerVariable("pos", 0, 1);
    s.registerVariable("", 0, 1);
    EXPECT_EQ(s.getVariableId("pos"), 0u);
    EXPECT_EQ(s.getVariableId(std::string("pos\0x", 5)), 1u);
    EXPECT_EQ(s.getVariableId(""), 3u);

    unsigned int id = 0;
    const auto messages = errorsOf([&] { id = s.getVariableId("po"); });
    EXPECT_EQ(id, NONE);
    EXPECT_EQ(messages, std::vector<std::string>{"No variable with name = po"});
}

TEST(State, GettersCheckTheKindBeforeTheId) {
    State s;
    s.registerVariable("a", 0, 4);
    s.registerVariable("b", 0, 4);
    double dbl = 1.0;
    auto messages = errorsOf([&] { dbl = s.getValueDbl(5); });
    EXPECT_EQ(dbl, 0.0);
    EXPECT_EQ(messages, std::vector<std::string>{"Not a Double-State!"});

    int value = 1;
    testing::internal::CaptureStderr();
    value = s.getMaxValueInt(2);
    const std::string text = testing::internal::GetCapturedStderr();
    EXPECT_EQ(value, 0);
    EXPECT_EQ(reportMessages(text), std::vector<std::string>{"VarId out of bounds --> 0 <= 2 < 2"});
    EXPECT_NE(text.find("File: State.h   Function: getMaxValueInt   Line: "), std::string::npos) << text;

    messages = errorsOf([&] { value = s.getValueInt(NONE); });
    EXPECT_EQ(messages, std::vector<std::string>{"VarId out of bounds --> 0 <= 4294967295 < 2"});

    State undef;
    messages = errorsOf([&] {
        value = undef.getMinValueInt(0);
        dbl = undef.getMaxValueDbl(0);
    });
    EXPECT_EQ(messages, (std::vector<std::string>{"Not an Int-State!", "Not a Double-State!"}));
}

TEST(State, SettersCheckLikeTheGettersAndChangeOnlyTheirField) {
    State s;
    s.registerVariable("v", 0.0, 10.0);
    s.setValueDbl(0, 2.5);
    s.setMinValueDbl(0, -1.0);
    s.setMaxValueDbl(0, 11.0);
    EXPECT_EQ(s.getValueDbl(0), 2.5);
    EXPECT_EQ(s.getMinValueDbl(0), -1.0);
    EXPECT_EQ(s.getMaxValueDbl(0), 11.0);

    const auto messages = errorsOf([&] {
        s.setValueInt(0, 3);
        s.setValueDbl(1, 3.0);
    });
    EXPECT_EQ(messages, (std::vector<std::string>{"Not an Int-State!", "VarId out of bounds --> 0 <= 1 < 1"}));
    EXPECT_EQ(s.getValueDbl(0), 2.5);
}

TEST(State, BlockOfTwoDoublesIsFiftyOneBytes) {
    TempDir dir;
    const std::string path = dir.file("state.bin");
    State s;
    s.registerVariable("a", -1.0, 1.0);
    s.registerVariable("bc", 0.0, 2.5);
    s.setValueDbl(0, 0.75);
    {
        Stream out(path, "w+");
        EXPECT_EQ(s.save(out.get()), 0);
    }
    Bytes expected;
    putU32(expected, 2);
    putI32(expected, 2);
    putDoubleVar(expected, "a", -1.0, 1.0);
    putDoubleVar(expected, "bc", 0.0, 2.5);
    ASSERT_EQ(expected.size(), 51u);
    EXPECT_EQ(readFile(path), expected);

    // Loading restarts at the midpoints and replaces variables of the other kind.
    State loaded;
    loaded.registerVariable("gone", 0, 1);
    Stream in(path, "r");
    EXPECT_EQ(loaded.load(in.get()), 0);
    EXPECT_EQ(loaded.getType(), State::DOUBLE);
    EXPECT_EQ(loaded.getNumberOfVariables(), 2u);
    EXPECT_EQ(loaded.getVariableId("bc"), 1u);
    EXPECT_EQ(loaded.getValueDbl(0), 0.0);
    EXPECT_EQ(loaded.getValueDbl(1), 1.25);
    EXPECT_EQ(in.position(), 51);
}

TEST(State, IntBlockStartsWithCountAndKind) {
    TempDir dir;
    const std::string path = dir.file("state.bin");
    State s;
    s.registerVariable("x", 0, 9);
    s.registerVariable("y", 9, 0);
    {
        Stream out(path, "w+");
        EXPECT_EQ(s.save(out.get()), 0);
    }
    Bytes expected = {0x02, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00};
    putIntVar(expected, "x", 0, 9);
    putIntVar(expected, "y", 0, 9);
    EXPECT_EQ(readFile(path), expected);

    Stream in(path, "r");
    State loaded(in.get());
    EXPECT_EQ(loaded.getType(), State::INT);
    EXPECT_EQ(loaded.getVariableId("y"), 1u);
    EXPECT_EQ(loaded.getValueInt(1), 4);
}

TEST(State, EmptyBlockIsEightZeroBytesAndLoadsWithAReport) {
    TempDir dir;
    const std::string path = dir.file("empty.bin");
    {
        Stream out(path, "w+");
        EXPECT_EQ(State().save(out.get()), 0);
    }
    EXPECT_EQ(readFile(path), Bytes(8, 0x00));

    State s;
    s.registerVariable("x", 0, 1);
    Stream in(path, "r");
    int result = -1;
    const auto messages = errorsOf([&] { result = s.load(in.get()); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(messages, std::vector<std::string>{"Undef VarType: 0"});
    EXPECT_EQ(s.getNumberOfVariables(), 0u);
    // An emptied State takes either kind again.
    EXPECT_EQ(s.registerVariable("d", 0.0, 1.0), 0u);
}

TEST(State, UnknownKindIsAcceptedOnlyForAnEmptyBlock) {
    TempDir dir;
    Bytes empty;
    putU32(empty, 0);
    putI32(empty, 7);
    Input emptyIn(dir, empty, "empty.bin");
    State s;
    int result = -1;
    auto messages = errorsOf([&] { result = s.load(emptyIn.get()); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(messages, std::vector<std::string>{"Undef VarType: 7"});
    EXPECT_EQ(s.getNumberOfVariables(), 0u);

    Bytes withVars;
    putU32(withVars, 1);
    putI32(withVars, 7);
    putIntVar(withVars, "x", 0, 1);
    Input varsIn(dir, withVars, "vars.bin");
    State t;
    t.registerVariable("old", 0, 1);
    messages = errorsOf([&] { result = t.load(varsIn.get()); });
    EXPECT_EQ(result, -1);
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages[0], "Undef VarType: 7");
    EXPECT_EQ(t.getNumberOfVariables(), 0u);
    EXPECT_EQ(t.getType(), State::UNDEF);
}

TEST(State, BlockCutAtAnyByteFailsAndLeavesAnEmptyState) {
    TempDir dir;
    Bytes block;
    putU32(block, 2);
    putI32(block, 2);
    putDoubleVar(block, "a", -1.0, 1.0);
    putDoubleVar(block, "bc", 0.0, 2.5);
    for (std::size_t cut = 0; cut < block.size(); ++cut) {
        Input in(dir, prefix(block, cut));
        State s;
        s.registerVariable("old", 0, 3);
        int result = 0;
        const auto messages = errorsOf([&] { result = s.load(in.get()); });
        EXPECT_EQ(result, -1) << "cut at " << cut;
        EXPECT_FALSE(messages.empty()) << "cut at " << cut;
        EXPECT_EQ(s.getNumberOfVariables(), 0u) << "cut at " << cut;
        EXPECT_EQ(s.getType(), State::UNDEF) << "cut at " << cut;
    }
    // The file constructor fares the same.
    Input in(dir, prefix(block, 40));
    errorsOf([&] {
        State s(in.get());
        EXPECT_EQ(s.getNumberOfVariables(), 0u);
        EXPECT_EQ(s.getType(), State::UNDEF);
    });
}

TEST(State, HugeVariableCountFailsBeforeAllocating) {
    TempDir dir;
    Bytes block;
    putU32(block, 0xFFFFFFFFu);
    putI32(block, 1);
    putIntVar(block, "x", 0, 1);
    Input in(dir, block);
    State s;
    int result = 0;
    const auto messages = errorsOf([&] { result = s.load(in.get()); });
    EXPECT_EQ(result, -1);
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages[0].rfind("varsSize = 4294967295", 0), 0u) << messages[0];
    EXPECT_EQ(s.getNumberOfVariables(), 0u);

    // Just one record more than the file holds is caught as well.
    Bytes oneShort;
    putU32(oneShort, 2);
    putI32(oneShort, 1);
    putIntVar(oneShort, "x", 0, 1);
    Input shortIn(dir, oneShort, "short.bin");
    errorsOf([&] { EXPECT_EQ(s.load(shortIn.get()), -1); });
    EXPECT_EQ(s.getNumberOfVariables(), 0u);
}

TEST(State, SaveOnAStreamThatCannotBeWrittenFails) {
    TempDir dir;
    Input in(dir, Bytes{});
    State s;
    s.registerVariable("x", 0, 1);
    int result = 0;
    const auto messages = errorsOf([&] { result = s.save(in.get()); });
    EXPECT_NE(result, 0);
    ASSERT_FALSE(messages.empty());
    EXPECT_TRUE(isWideErrnoReport(messages[0])) << messages[0];
}
