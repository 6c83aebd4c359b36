#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "LookupTableAccess.h"
#include "Report.h"
#include "TestSupport.h"
#include "Utility.h"

using test_support::reportMessages;

TEST(Utility, MinMaxClampsAndNormalizeWrapsIntoTheClosedInterval) {
    EXPECT_EQ(minMax(5, 0, 3), 3);
    EXPECT_EQ(minMax(-2, 0, 3), 0);
    EXPECT_EQ(minMax(1, 4, 2), 2);  // crossed bounds: the upper one wins
    EXPECT_EQ(minMax(std::nan(""), -1.0, 1.0), -1.0);
    // value, min, max, result; degenerate intervals and infinite values come back unchanged.
    const double cases[][4] = {{7.5, 0, 5, 2.5}, {-1, 0, 5, 4}, {12, 0, 5, 2}, {5, 0, 5, 5}, {0, 0, 5, 0},
                               {3, 2, 2, 3},     {3, 5, 1, 3},  {INFINITY, 0, 1, INFINITY}};
    for (const auto& c : cases) EXPECT_EQ(normalize(c[0], c[1], c[2]), c[3]) << c[0] << " in " << c[1] << ".." << c[2];
    EXPECT_TRUE(std::isnan(normalize(std::nan(""), 0.0, 1.0)));
    const double far = normalize(1e300, 0.0, 1.0);  // would take forever by subtraction
    EXPECT_TRUE(far >= 0.0 && far <= 1.0) << far;
}

TEST(Utility, DrawsAreRandTimesTwoToTheMinus31AndSoftMaxPicksByTheRunningSumOfExpWeights) {
    setSeed(3);
    const int r1 = std::rand(), r2 = std::rand();
    setSeed(3);
    EXPECT_EQ(getNextDouble(), r1 / 2147483648.0);
    EXPECT_EQ(getRandomIndex(10), static_cast<int>(std::floor(r2 / 2147483648.0 * 10)));
    for (int i = 0; i < 1000; ++i) ASSERT_LE(static_cast<unsigned>(getRandomIndex(3)), 2u);
    // Values {0, 1}, temperature 1: weights {1, e}; index 1 once rand() >= RAND_MAX / (1 + e).
    for (unsigned seed = 1; seed < 60; ++seed) {
        setSeed(seed);
        const int r = std::rand();
        setSeed(seed);
        double values[2] = {0.0, 1.0};
        EXPECT_EQ(getSoftMaxIndex(2, values, 1.0, 0.0, 1.0), r >= 2147483647.0 / (1.0 + reproducibleExp(1.0)));
    }
    double values[3] = {-4.0, 10.0, 3.0};
    (void)getSoftMaxIndex(3, values, 0.25, -4.0, 10.0);
    EXPECT_EQ(values[0], 1.0);
    EXPECT_EQ(values[1], reproducibleExp(4.0));
}

TEST(Utility, SoftMaxFallsBackToOneUniformDrawOnEqualValuesZeroTemperatureOrBadSums) {
    setSeed(5);
    const int expected = getRandomIndex(2), next = std::rand();
    double equal[2] = {2.0, 2.0}, values[2] = {0.0, 1.0}, nanValues[2] = {std::nan(""), 1.0};
    const struct { double* values; double temperature, lo, hi; } cases[] = {
        {equal, 0.5, 2, 2}, {values, 0, 0, 1}, {nanValues, 1, 0, 1}};
    for (const auto& c : cases) {
        setSeed(5);
        EXPECT_EQ(getSoftMaxIndex(2, c.values, c.temperature, c.lo, c.hi), expected);
        EXPECT_EQ(std::rand(), next) << "more than one draw";
    }
    EXPECT_EQ(equal[1], 2.0);
    double one[1] = {4.0};
    EXPECT_EQ(getSoftMaxIndex(1, one, 0.5, 4.0, 4.0), 0);
}

TEST(Report, LayoutAndStreamOfErrorsAndNoticesAndTheErrnoForms) {
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    TEMBRA_ERROR("Unknown Tracetype!");
    TEMBRA_NOTICE("episode = " << 3 << "  steps = " << 17);
    for (const int error : {ENOENT, 0}) {  // the file helpers leave errno 0 only at the end of the file
        errno = error;
        TEMBRA_ERROR(TEMBRA_ERRNO_WIDE);
        errno = error;
        TEMBRA_ERROR(TEMBRA_ERRNO_NARROW);
    }
    const std::string notice = testing::internal::GetCapturedStdout(), errors = testing::internal::GetCapturedStderr();
    // The function is the bare name __func__ gives.
    const std::string where = "File: test_utility.cpp   Function: TestBody   Line: [0-9]+    --> ";
    EXPECT_THAT(errors, testing::ContainsRegex("^ERROR: " + where + "Unknown Tracetype!\nERROR: "));
    EXPECT_THAT(notice, testing::MatchesRegex(where + "episode = 3  steps = 17\n"));
    const std::string reason = std::strerror(ENOENT);
    EXPECT_EQ(reportMessages(errors), (std::vector<std::string>{"Unknown Tracetype!", "errno = 2  -->  " + reason,
                                                                "errno = 2 --> " + reason, "the file ends early",
                                                                "the file ends early"}));
}

// The texts a user meets when a program misuses a State or a table, word for
// word; the other tests recognise a report by its key phrase.
TEST(Report, MisuseTextsWordForWord) {
    State ints, doubles;
    ints.registerVariable("n", 0, 3);
    doubles.registerVariable("x", 0.0, 1.0);
    StateLookupTable table(lookup_test::makeState({{"a", 0, 3}}));
    const std::string arrayTraces = "traceStorage == ARRAY and eTraces == 0 --> Set traceStorage to MAP or call "
                                    "initEligibilityTraces before calling ";
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { (void)doubles.getValueInt(0); }, "Not an Int-State!"},
        {[&] { (void)ints.getValueDbl(0); }, "Not a Double-State!"},
        {[&] { ints.setValueInt(2, 1); }, "VarId out of bounds --> 0 <= 2 < 1"},
        {[&] { table.valueEpisode(1.0); },
         "episodeIndexHistorySet is empty! Did you forget to set ValueFunction::episodeStateHistory to true?"},
        {[&] {
             table.setTraceStorage(Types::ARRAY);
             table.updateEligibilityTraces(0.9, 0.5);
         },
         arrayTraces + "updateEligibilityTraces!"},
        {[&] {
             table.setState();
             table.replacingTraces(1.0);
         },
         arrayTraces + "updateWeights!"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(test_support::stderrReports(c.first), std::vector<std::string>{c.second});
    }
}
