#include <gtest/gtest.h>

#include <climits>
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
using test_support::putI32;
using test_support::putIntVar;
using test_support::putU32;
using test_support::readFile;
using test_support::reportMessages;
using test_support::TempDir;
using test_support::writeFile;
using Messages = std::vector<std::string>;

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

// The bytes that save wrote on a fresh stream.
template <class T>
Bytes saved(const TempDir& dir, const T& object) {
    const std::string path = dir.file("saved.bin");
    {
        Stream out(path, "w+");
        EXPECT_EQ(object.save(out.get()), 0);
    }
    return readFile(path);
}

// The reports an action wrote to stderr, as messages.
Messages errorsOf(const std::function<void()>& action) {
    testing::internal::CaptureStderr();
    action();
    return reportMessages(testing::internal::GetCapturedStderr());
}

bool isWideErrnoReport(const std::string& message) {
    return message.rfind("errno = ", 0) == 0 && message.find("  -->  ") != std::string::npos;
}

Bytes prefix(const Bytes& bytes, std::size_t n) { return Bytes(bytes.begin(), bytes.begin() + static_cast<long>(n)); }

// The block of a State of two floating-point variables (51 bytes).
Bytes twoDoublesBlock() {
    Bytes block;
    putU32(block, 2);
    putI32(block, 2);
    putDoubleVar(block, "a", -1.0, 1.0);
    putDoubleVar(block, "bc", 0.0, 2.5);
    return block;
}

}  // namespace

// ---------------------------------------------------------------- variables

// The records and blocks as the files hold them are shown byte for byte
// with the value-function files; here, what reading them does.

TEST(VarValues, IntMidpointRoundsTowardZeroWithoutOverflowAndKeepsTheBoundsAsGiven) {
    const int cases[][3] = {{-3, 0, -1},
                            {-7, -4, -5},
                            {3, 8, 5},
                            {INT_MIN, INT_MAX, 0},
                            {INT_MAX, INT_MAX, INT_MAX},
                            {INT_MIN, INT_MIN, INT_MIN},
                            {INT_MAX - 1, INT_MAX, INT_MAX - 1},
                            {9, 1, 5}};
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c[0]) + ", " + std::to_string(c[1]));
        const VarValuesInt v("v", c[0], c[1]);
        EXPECT_EQ(v.getMinValue(), c[0]);
        EXPECT_EQ(v.getMaxValue(), c[1]);
        EXPECT_EQ(v.getValue(), c[2]);
        // The same after reading the record, which ends after its 13 bytes.
        Bytes record;
        putIntVar(record, "v", c[0], c[1]);
        Input in(dir, record);
        const VarValuesInt loaded(in.get());
        EXPECT_EQ(loaded.getName(), "v");
        EXPECT_EQ(loaded.getMaxValue(), c[1]);
        EXPECT_EQ(loaded.getValue(), c[2]);
        EXPECT_EQ(in.stream.position(), 13);
    }
}

TEST(VarValues, DoubleRecordReadsItsBoundsAndRestartsAtTheMidpoint) {
    TempDir dir;
    Bytes record;
    putDoubleVar(record, "speed", -1.0, 2.0);
    Input in(dir, record);
    VarValuesDouble loaded("old", 7.0, 8.0);
    loaded.setValue(7.5);
    EXPECT_EQ(loaded.load(in.get()), 0);
    EXPECT_EQ(loaded.getName(), "speed");
    EXPECT_EQ(loaded.getMinValue(), -1.0);
    EXPECT_EQ(loaded.getMaxValue(), 2.0);
    EXPECT_EQ(loaded.getValue(), 0.5);
    EXPECT_EQ(in.stream.position(), 25);

    const VarValuesDouble descending("d", 3.0, -1.0);
    EXPECT_EQ(descending.getMinValue(), 3.0);
    EXPECT_EQ(descending.getValue(), 1.0);
}

TEST(VarValues, NamesAreBytesOfAnyContent) {
    TempDir dir;
    Bytes expected;
    putU32(expected, 0);  // no name bytes at all, bounds follow directly
    putI32(expected, -2);
    putI32(expected, 5);
    EXPECT_EQ(saved(dir, VarValuesInt("", -2, 5)), expected);
    const std::string zeroes("a\0b\0", 4);
    putDoubleVar(expected, zeroes, 0.0, 1.0);
    Input in(dir, expected);
    VarValuesInt empty("was named", 0, 0);
    EXPECT_EQ(empty.load(in.get()), 0);
    EXPECT_EQ(empty.getName(), "");
    EXPECT_EQ(VarValuesDouble(in.get()).getName(), zeroes);
}

TEST(VarValues, RecordCutAtAnyByteFailsSayingTheFileEndsEarly) {
    TempDir dir;
    Bytes intRecord, doubleRecord;
    putIntVar(intRecord, "abc", -5, 7);
    putDoubleVar(doubleRecord, "ab", -5.0, 7.0);
    for (const bool isInt : {true, false}) {
        const Bytes& record = isInt ? intRecord : doubleRecord;
        for (std::size_t cut = 0; cut < record.size(); ++cut) {
            SCOPED_TRACE(std::string(isInt ? "int" : "double") + " record cut at " + std::to_string(cut));
            Input in(dir, prefix(record, cut));
            VarValuesInt i("old", 100, 200);
            VarValuesDouble d("old", 1.0, 2.0);
            int result = 0;
            const Messages messages = errorsOf([&] { result = isInt ? i.load(in.get()) : d.load(in.get()); });
            EXPECT_EQ(result, -1);
            ASSERT_FALSE(messages.empty());
            EXPECT_EQ(messages.back(), "the file ends early");
        }
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
    // Ends before maxValue: name and minValue are the new ones, the rest old.
    Input in(dir, prefix(record, 4 + 3 + 4 + 2));
    VarValuesInt v("old", 100, 200);
    errorsOf([&] { EXPECT_EQ(v.load(in.get()), -1); });
    EXPECT_EQ(v.getName(), "abc");
    EXPECT_EQ(v.getMinValue(), -5);
    EXPECT_EQ(v.getMaxValue(), 200);
    EXPECT_EQ(v.getValue(), 150);
}

TEST(VarValues, NameLengthBeyondTheFileIsRefusedWithoutAllocating) {
    TempDir dir;
    Bytes bytes;
    putU32(bytes, 0xFFFFFFF0u);
    bytes.insert(bytes.end(), 16, 'n');
    Input in(dir, bytes);
    VarValuesInt v("kept", 1, 2);
    int result = 0;
    const Messages messages = errorsOf([&] { result = v.load(in.get()); });
    EXPECT_EQ(result, -1);
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), "the file ends early");
    EXPECT_EQ(v.getName(), "kept");
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

    State d;
    EXPECT_EQ(d.registerVariable("v", 3.0, -1.0), 0u);
    EXPECT_EQ(d.getMinValueDbl(0), -1.0);
    EXPECT_EQ(d.getMaxValueDbl(0), 3.0);
    EXPECT_EQ(d.getValueDbl(0), 1.0);
}

TEST(State, RegistrationOfTheOtherKindIsRefused) {
    State s, d;
    s.registerVariable("a", 0, 3);
    d.registerVariable("a", 0.0, 1.0);
    unsigned int id = 0, other = 0;
    const Messages messages = errorsOf([&] {
        id = s.registerVariable("b", 0.0, 1.0);
        other = d.registerVariable("b", 0, 1);
    });
    EXPECT_EQ(id, NONE);
    EXPECT_EQ(other, NONE);
    EXPECT_EQ(messages, (Messages{"Cannot register Double-Variable!", "Cannot register Int-Variable!"}));
    EXPECT_EQ(s.getNumberOfVariables(), 1u);
    EXPECT_EQ(d.getNumberOfVariables(), 1u);
    EXPECT_EQ(s.getType(), State::INT);
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
    EXPECT_EQ(errorsOf([&] { id = s.getVariableId("po"); }), Messages{"No variable with name = po"});
    EXPECT_EQ(id, NONE);
}

TEST(State, AccessorsCheckTheKindBeforeTheIdAndChangeOnlyTheirField) {
    State s;
    s.registerVariable("a", 0, 4);
    s.registerVariable("b", 0, 4);
    double dbl = 1.0;
    int value = 1;
    EXPECT_EQ(errorsOf([&] { dbl = s.getValueDbl(5); }), Messages{"Not a Double-State!"});
    EXPECT_EQ(dbl, 0.0);

    testing::internal::CaptureStderr();
    value = s.getMaxValueInt(2);
    const std::string text = testing::internal::GetCapturedStderr();
    EXPECT_EQ(value, 0);
    EXPECT_EQ(reportMessages(text), Messages{"VarId out of bounds --> 0 <= 2 < 2"});
    EXPECT_NE(text.find("File: State.h   Function: getMaxValueInt   Line: "), std::string::npos) << text;
    EXPECT_EQ(errorsOf([&] { value = s.getValueInt(NONE); }),
              Messages{"VarId out of bounds --> 0 <= 4294967295 < 2"});

    State undef;
    EXPECT_EQ(errorsOf([&] {
                  value = undef.getMinValueInt(0);
                  dbl = undef.getMaxValueDbl(0);
              }),
              (Messages{"Not an Int-State!", "Not a Double-State!"}));

    State d;
    d.registerVariable("v", 0.0, 10.0);
    d.setValueDbl(0, 2.5);
    d.setMinValueDbl(0, -1.0);
    d.setMaxValueDbl(0, 11.0);
    EXPECT_EQ(d.getValueDbl(0), 2.5);
    EXPECT_EQ(d.getMinValueDbl(0), -1.0);
    EXPECT_EQ(d.getMaxValueDbl(0), 11.0);
    EXPECT_EQ(errorsOf([&] {
                  d.setValueInt(0, 3);
                  d.setValueDbl(1, 3.0);
              }),
              (Messages{"Not an Int-State!", "VarId out of bounds --> 0 <= 1 < 1"}));
    EXPECT_EQ(d.getValueDbl(0), 2.5);
}

TEST(State, LoadReplacesTheVariablesAndRestartsAtTheMidpoints) {
    TempDir dir;
    // Loading replaces variables of the other kind.
    Input doubles(dir, twoDoublesBlock());
    State loaded;
    loaded.registerVariable("gone", 0, 1);
    EXPECT_EQ(loaded.load(doubles.get()), 0);
    EXPECT_EQ(loaded.getType(), State::DOUBLE);
    EXPECT_EQ(loaded.getNumberOfVariables(), 2u);
    EXPECT_EQ(loaded.getVariableId("bc"), 1u);
    EXPECT_EQ(loaded.getValueDbl(0), 0.0);
    EXPECT_EQ(loaded.getValueDbl(1), 1.25);
    EXPECT_EQ(doubles.stream.position(), 51);

    Bytes ints;
    putU32(ints, 2);
    putI32(ints, 1);
    putIntVar(ints, "x", 0, 9);
    putIntVar(ints, "y", 0, 9);
    Input intIn(dir, ints, "ints.bin");
    State fromFile(intIn.get());
    EXPECT_EQ(fromFile.getType(), State::INT);
    EXPECT_EQ(fromFile.getVariableId("y"), 1u);
    EXPECT_EQ(fromFile.getValueInt(1), 4);
}

TEST(State, UnknownKindIsAcceptedOnlyForAnEmptyBlock) {
    TempDir dir;
    for (const int32_t kind : {0, 7}) {
        SCOPED_TRACE(kind);
        Bytes empty;
        putU32(empty, 0);
        putI32(empty, kind);
        Input in(dir, empty);
        State s;
        s.registerVariable("x", 0, 1);
        int result = -1;
        EXPECT_EQ(errorsOf([&] { result = s.load(in.get()); }), Messages{"Undef VarType: " + std::to_string(kind)});
        EXPECT_EQ(result, 0);
        EXPECT_EQ(s.getNumberOfVariables(), 0u);
        // An emptied State takes either kind again.
        EXPECT_EQ(s.registerVariable("d", 0.0, 1.0), 0u);
    }
    Bytes withVars;
    putU32(withVars, 1);
    putI32(withVars, 7);
    putIntVar(withVars, "x", 0, 1);
    Input in(dir, withVars);
    State t;
    t.registerVariable("old", 0, 1);
    int result = 0;
    const Messages messages = errorsOf([&] { result = t.load(in.get()); });
    EXPECT_EQ(result, -1);
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages[0], "Undef VarType: 7");
    EXPECT_EQ(t.getNumberOfVariables(), 0u);
    EXPECT_EQ(t.getType(), State::UNDEF);
}

TEST(State, BlockCutAtAnyByteFailsAndLeavesAnEmptyState) {
    TempDir dir;
    const Bytes block = twoDoublesBlock();
    for (std::size_t cut = 0; cut < block.size(); ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        Input in(dir, prefix(block, cut));
        State s;
        s.registerVariable("old", 0, 3);
        int result = 0;
        EXPECT_FALSE(errorsOf([&] { result = s.load(in.get()); }).empty());
        EXPECT_EQ(result, -1);
        EXPECT_EQ(s.getNumberOfVariables(), 0u);
        EXPECT_EQ(s.getType(), State::UNDEF);
    }
    // The file constructor fares the same.
    Input in(dir, prefix(block, 40));
    errorsOf([&] {
        State s(in.get());
        EXPECT_EQ(s.getNumberOfVariables(), 0u);
        EXPECT_EQ(s.getType(), State::UNDEF);
    });
}

TEST(State, VariableCountBeyondTheFileFailsBeforeAllocating) {
    TempDir dir;
    for (const uint32_t count : {0xFFFFFFFFu, 2u}) {
        SCOPED_TRACE(count);
        Bytes block;
        putU32(block, count);
        putI32(block, 1);
        putIntVar(block, "x", 0, 1);
        Input in(dir, block);
        State s;
        int result = 0;
        const Messages messages = errorsOf([&] { result = s.load(in.get()); });
        EXPECT_EQ(result, -1);
        ASSERT_FALSE(messages.empty());
        EXPECT_EQ(s.getNumberOfVariables(), 0u);
        // Just one record more than the file holds is caught as well.
        if (count != 2u) {
            EXPECT_EQ(messages[0].rfind("varsSize = 4294967295", 0), 0u) << messages[0];
        }
    }
}

TEST(State, SavingOnAStreamThatCannotBeWrittenFails) {
    TempDir dir;
    Input in(dir, Bytes{});
    State s;
    s.registerVariable("x", 0, 1);
    int result = 0;
    Messages messages = errorsOf([&] { result = s.save(in.get()); });
    EXPECT_NE(result, 0);
    ASSERT_FALSE(messages.empty());
    EXPECT_TRUE(isWideErrnoReport(messages[0])) << messages[0];

    messages = errorsOf([&] { result = VarValuesDouble("d", 0.0, 1.0).save(in.get()); });
    EXPECT_EQ(result, -1);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(isWideErrnoReport(messages[0])) << messages[0];
    EXPECT_EQ(messages[0].rfind("errno = 0 ", 0), std::string::npos) << "quotes no error: " << messages[0];
}
