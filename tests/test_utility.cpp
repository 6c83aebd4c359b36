#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <sstream>

#include "AbstractAction.h"
#include "Report.h"
#include "TestSupport.h"
#include "Utility.h"

using test_support::reportMessages;

TEST(Utility, MinMaxClampsAndPrefersTheUpperBoundWhenBoundsCross) {
    EXPECT_EQ(minMax(5, 0, 3), 3);
    EXPECT_EQ(minMax(-2, 0, 3), 0);
    EXPECT_EQ(minMax(2, 0, 3), 2);
    EXPECT_EQ(minMax(1, 4, 2), 2);
    EXPECT_EQ(minMax(std::nan(""), -1.0, 1.0), -1.0);
}

TEST(Utility, NormalizeWrapsIntoTheClosedIntervalAndNeverLoops) {
    EXPECT_DOUBLE_EQ(normalize(7.5, 0.0, 5.0), 2.5);
    EXPECT_DOUBLE_EQ(normalize(-1.0, 0.0, 5.0), 4.0);
    EXPECT_DOUBLE_EQ(normalize(12.0, 0.0, 5.0), 2.0);
    EXPECT_DOUBLE_EQ(normalize(5.0, 0.0, 5.0), 5.0);
    EXPECT_DOUBLE_EQ(normalize(0.0, 0.0, 5.0), 0.0);
    // Degenerate input comes back unchanged.
    EXPECT_DOUBLE_EQ(normalize(3.0, 2.0, 2.0), 3.0);  // empty interval
    EXPECT_DOUBLE_EQ(normalize(3.0, 5.0, 1.0), 3.0);  // inverted interval
    EXPECT_TRUE(std::isinf(normalize<double>(INFINITY, 0.0, 1.0)));
    EXPECT_TRUE(std::isnan(normalize(std::nan(""), 0.0, 1.0)));
    const double far = normalize(1e300, 0.0, 1.0);  // would take forever by subtraction
    EXPECT_GE(far, 0.0);
    EXPECT_LE(far, 1.0);
}

TEST(Utility, DrawsAreRandTimesTwoToTheMinus31AndTheIndexOneDrawInRange) {
    setSeed(3);
    const int r1 = std::rand();
    const int r2 = std::rand();
    setSeed(3);
    EXPECT_EQ(getNextDouble(), r1 / 2147483648.0);
    EXPECT_EQ(getRandomIndex(10), static_cast<int>(std::floor(r2 / 2147483648.0 * 10)));
    setSeed(3);
    EXPECT_EQ(getRandomIndex(10), static_cast<int>(std::floor(r1 / 2147483648.0 * 10)));
    EXPECT_EQ(std::rand(), r2);
    for (int i = 0; i < 1000; ++i) {
        const int index = getRandomIndex(3);
        ASSERT_GE(index, 0);
        ASSERT_LE(index, 2);
    }
}

TEST(Utility, SoftMaxPicksByTheRunningSumOfWeightsFromOneToExpOfInverseTemperature) {
    // Values {0, 1}, temperature 1: weights {1, e}; index 1 once rand() >= RAND_MAX / (1 + e).
    const double threshold = 2147483647.0 / (1.0 + reproducibleExp(1.0));
    for (unsigned seed = 1; seed < 60; ++seed) {
        setSeed(seed);
        const int r = std::rand();
        setSeed(seed);
        double values[2] = {0.0, 1.0};
        EXPECT_EQ(getSoftMaxIndex(2, values, 1.0, 0.0, 1.0), r >= threshold ? 1 : 0) << "rand() = " << r;
        EXPECT_EQ(values[1], reproducibleExp(1.0));
    }
    double values[3] = {-4.0, 10.0, 3.0};
    (void)getSoftMaxIndex(3, values, 0.25, -4.0, 10.0);
    EXPECT_DOUBLE_EQ(values[0], 1.0);
    EXPECT_EQ(values[1], reproducibleExp(4.0));
}

TEST(Utility, SoftMaxFallsBackToOneUniformDrawOnEqualValuesZeroTemperatureOrBadSums) {
    setSeed(5);
    const int expected = getRandomIndex(2);
    const int next = std::rand();
    double equal[2] = {2.0, 2.0};
    double values[2] = {0.0, 1.0};
    double nanValues[2] = {std::nan(""), 1.0};
    const auto check = [&](double* v, const double temperature, const double lo, const double hi) {
        setSeed(5);
        EXPECT_EQ(getSoftMaxIndex(2, v, temperature, lo, hi), expected);
        EXPECT_EQ(std::rand(), next);
    };
    check(equal, 0.5, 2.0, 2.0);
    EXPECT_EQ(equal[1], 2.0);
    check(values, 0.0, 0.0, 1.0);
    check(nanValues, 1.0, 0.0, 1.0);
    double one[1] = {4.0};
    EXPECT_EQ(getSoftMaxIndex(1, one, 0.5, 4.0, 4.0), 0);
}

namespace {
void reportUnknownTraceType() { TEMBRA_ERROR("Unknown Tracetype!"); }
void noticeEpisode() { TEMBRA_NOTICE("episode = " << 3 << "  steps = " << 17); }
}  // namespace

TEST(Report, ErrorLayoutIsExact) {
    testing::internal::CaptureStderr();
    reportUnknownTraceType();
    const std::string text = testing::internal::GetCapturedStderr();
    const std::string head = "ERROR: File: test_utility.cpp   Function: reportUnknownTraceType   Line: ";
    ASSERT_EQ(text.compare(0, head.size(), head), 0) << text;
    const std::string rest = text.substr(head.size());
    const std::size_t digits = rest.find_first_not_of("0123456789");
    ASSERT_GT(digits, 0u);
    EXPECT_EQ(rest.substr(digits), "    --> Unknown Tracetype!\n");
}

TEST(Report, NoticeGoesToStdoutWithoutTheErrorPrefix) {
    testing::internal::CaptureStdout();
    noticeEpisode();
    const std::string text = testing::internal::GetCapturedStdout();
    EXPECT_EQ(text.rfind("File: test_utility.cpp   Function: noticeEpisode   Line: ", 0), 0u) << text;
    EXPECT_EQ(reportMessages(text), std::vector<std::string>{"episode = 3  steps = 17"});
}

TEST(Report, ErrnoFormsQuoteTheFailingCall) {
    testing::internal::CaptureStderr();
    errno = ENOENT;
    TEMBRA_ERROR(TEMBRA_ERRNO_WIDE);
    errno = ENOENT;
    TEMBRA_ERROR(TEMBRA_ERRNO_NARROW);
    // The file helpers leave errno 0 only when a read found the end of the file.
    errno = 0;
    TEMBRA_ERROR(TEMBRA_ERRNO_WIDE);
    errno = 0;
    TEMBRA_ERROR(TEMBRA_ERRNO_NARROW);
    const auto messages = reportMessages(testing::internal::GetCapturedStderr());
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[0], std::string("errno = 2  -->  ") + std::strerror(ENOENT));
    EXPECT_EQ(messages[1], std::string("errno = 2 --> ") + std::strerror(ENOENT));
    EXPECT_EQ(messages[2], "the file ends early");
    EXPECT_EQ(messages[3], "the file ends early");
}

TEST(AbstractAction, BaseWritesNoInformation) {
    AbstractAction action;
    AbstractAction copy(action);
    std::ostringstream os;
    copy.addInformation(os);
    EXPECT_TRUE(os.str().empty());
}
