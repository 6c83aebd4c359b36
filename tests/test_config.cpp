#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ProbeLearner.h"
#include "TestSupport.h"

using test_support::readText;
using test_support::reportMessages;
using test_support::Reports;
using test_support::TempDir;
using test_support::writeText;
using Messages = std::vector<std::string>;

namespace {

const char* const DEFAULT_TEXT =
    "ALPHA 0.1\nLAMBDA 0.5\nGAMMA 0.9\nACTION_SELECTION GREEDY\n"
    "EPSILON 0.1\nTEMPERATURE 0.5\nTRACES REPLACING\nTRACE_VALUE 1\n";

// A learner built on the configuration file at path, and the reports its
// construction wrote.
std::unique_ptr<ProbeLearner> construct(const std::string& path, Reports& reports) {
    std::unique_ptr<ProbeLearner> learner;
    reports = test_support::reportsOf([&] { learner.reset(new ProbeLearner(path)); });
    return learner;
}

// The shortest text that reads back as exactly v.
std::string shortest(const double v) {
    char text[32];
    for (int digits = 1;; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, v);
        if (std::strtod(text, nullptr) == v || digits == 17) return text;
    }
}

// The parameters that differ from the defaults, one "KEY value" line each,
// in the order of the file.
std::string changed(const ProbeLearner& l) {
    const char* const selections[] = {"GREEDY", "EPSILON_GREEDY", "SOFTMAX"};
    const char* const traces[] = {"NONE", "REPLACING", "ACCUMULATING"};
    const std::string values[] = {shortest(l.ALPHA),       shortest(l.LAMBDA),      shortest(l.GAMMA),
                                  selections[l.ACTION_SELECTION], shortest(l.EPSILON), shortest(l.TEMPERATURE),
                                  traces[l.TRACES],        shortest(l.TRACE_VALUE)};
    std::istringstream defaults(DEFAULT_TEXT);
    std::string text, key, standard;
    for (const std::string& value : values) {
        defaults >> key >> standard;
        if (value != standard) text += key + " " + value + "\n";
    }
    return text;
}

}  // namespace

// --- Creating and writing the file -----------------------------------------

TEST(Configuration, MissingUnwritableAndUnreadableFilesAreReported) {
    // A directory opens for reading on Linux, and every read then fails.
    // A full device accepts the open and refuses the data; reading it yields
    // an endless run of NUL bytes, which must not keep the reader busy either.
    // The test makes its own when it can (as root: CI runs so): a broken save
    // that replaced the system's /dev/full would break the machine.
    struct Case {
        std::string name;
        Messages notices, errors, saveErrors;
    };
    TempDir dir;
    const std::string created = dir.file("new.conf"), lost = dir.file("no/such/dir/learner.conf");
    const std::string create = "File (" + created + ") didn't exist --> create";
    std::string full = dir.file("full");
    if (mknod(full.c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0) full = "/dev/full";
    const Case cases[] = {
        {created, {create}, {}, {}},
        {lost, {"File (" + lost + ") didn't exist --> create", "Was not able to create file (" + lost + ")"}, {}, {}},
        {dir.path(), {}, {"Was not able to read file (" + dir.path() + ")"}, {}},
        {full, {}, {}, {"Was not able to write file (" + full + ")"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reports reports;
        const std::unique_ptr<ProbeLearner> learner = construct(c.name, reports);
        EXPECT_EQ(reports.notices, c.notices);
        EXPECT_EQ(reports.errors, c.errors);
        EXPECT_EQ(changed(*learner), "");
        if (c.name == created) EXPECT_EQ(readText(created), DEFAULT_TEXT);
        else EXPECT_EQ(test_support::reportsOf([&] { learner->saveConf(); }).errors, c.saveErrors);
    }
}

TEST(Configuration, SaveWritesEightLinesInOrderWithSixSignificantDigits) {
    TempDir dir;
    const std::string path = dir.file("learner.conf");
    writeText(path, "ALPHA 0.123456789\nLAMBDA 1234567\nGAMMA 0.00001\nACTION_SELECTION EPSILON_GREEDY\n"
                    "EPSILON 0.0001\nTEMPERATURE 100\nTRACES ACCUMULATING\nTRACE_VALUE -2.5\n");
    ProbeLearner learner(path);
    const std::string head = "ALPHA 0.123457\nLAMBDA 1.23457e+06\nGAMMA 1e-05\nACTION_SELECTION ";
    const std::string middle = "\nEPSILON 0.0001\nTEMPERATURE 100\nTRACES ";
    // Values outside the enumerators are written as the last word of each.
    const int words[][2] = {{Tembra::EPSILON_GREEDY, Tembra::ACCUMULATING}, {Tembra::SOFTMAX, Tembra::NONE}, {5, 7}};
    const char* const written[] = {"EPSILON_GREEDY", "ACCUMULATING", "SOFTMAX", "NONE", "SOFTMAX", "NONE"};
    for (int i = 0; i < 3; ++i) {
        learner.ACTION_SELECTION = static_cast<Tembra::ACTION_SELECTION_TYPE>(words[i][0]);
        learner.TRACES = static_cast<Tembra::TRACE_TYPE>(words[i][1]);
        learner.saveConf();
        EXPECT_EQ(readText(path), head + written[2 * i] + middle + written[2 * i + 1] + "\nTRACE_VALUE -2.5\n");
    }
}

// --- Reading ---------------------------------------------------------------

TEST(Configuration, ReadingReportsComeFromLoadConf) {
    TempDir dir;
    writeText(dir.file("learner.conf"), "TRACES none\nALPHA inf\n");
    testing::internal::CaptureStderr();
    ProbeLearner learner(dir.file("learner.conf"));
    const std::string err = testing::internal::GetCapturedStderr();
    const std::string head = "ERROR: File: Tembra.cpp   Function: loadConf   Line: ";
    ASSERT_EQ(reportMessages(err).size(), 2u) << err;
    EXPECT_EQ(err.rfind(head, 0), 0u) << err;
    EXPECT_NE(err.find("\n" + head), std::string::npos) << err;
}

TEST(Configuration, ReadsWhatItCanAndReportsWhatItCannot) {
    struct Case {
        const char* name;
        std::string text;
        Messages errors;
        std::string changed;  // the parameters read, as changed() shows them
    };
    const std::string fits = "0.25" + std::string(507, ' ');  // 511 characters
    const std::string nul(1, '\0');
    std::string unknownKeys;
    for (int i = 0; i < 200000; ++i) unknownKeys += "UNKNOWN_KEY 1\n";
    const Case cases[] = {
        {"every key and every word",
         "ALPHA 0.3\nLAMBDA 0.7\nGAMMA 0.8\nACTION_SELECTION EPSILON_GREEDY\n"
         "EPSILON 0.2\nTEMPERATURE 3\nTRACES ACCUMULATING\nTRACE_VALUE 0.75\n",
         {},
         "ALPHA 0.3\nLAMBDA 0.7\nGAMMA 0.8\nACTION_SELECTION EPSILON_GREEDY\n"
         "EPSILON 0.2\nTEMPERATURE 3\nTRACES ACCUMULATING\nTRACE_VALUE 0.75\n"},
        {"the later entry wins", "ACTION_SELECTION SOFTMAX\nTRACES NONE\nACTION_SELECTION GREEDY\n", {}, "TRACES NONE\n"},
        {"the other words", "ACTION_SELECTION SOFTMAX\nTRACES NONE\nTRACES REPLACING\n", {}, "ACTION_SELECTION SOFTMAX\n"},
        // A blank line before a comment must not turn the comment into a key
        // that swallows the next line.
        {"comments, blank lines and unknown keys",
         "# ALPHA 0.9\n\n\nALPHA 0.3 # the rest is ignored by atof\n\nBETA 0.4\nalpha 0.6\n"
         "ALPHAS 0.7\n\n#\nGAMMA 0.2\n\n# learning rate\nLAMBDA 0.4\n",
         {},
         "ALPHA 0.3\nLAMBDA 0.4\nGAMMA 0.2\n"},
        {"numbers read like atof", "ALPHA abc\nGAMMA 0.5xyz\nLAMBDA \t 0.25\nEPSILON -1e-3\nTEMPERATURE .5e1\n", {},
         "ALPHA 0\nLAMBDA 0.25\nGAMMA 0.5\nEPSILON -0.001\nTEMPERATURE 5\n"},
        {"numbers that are not finite", "ALPHA inf\nGAMMA nan\nLAMBDA 1e999\nEPSILON 0.3\n",
         {"Not a finite number for ALPHA: inf", "Not a finite number for GAMMA: nan",
          "Not a finite number for LAMBDA: 1e999"},
         "EPSILON 0.3\n"},
        {"lines starting with blanks", " ALPHA 0.7\n\t  GAMMA 0.2\nLAMBDA 0.4\n",
         {"spaces at begin of line:  ALPHA 0.7", "spaces at begin of line: \t  GAMMA 0.2"}, "LAMBDA 0.4\n"},
        {"words are case-sensitive",
         "ACTION_SELECTION softmax\nALPHA 0.3\nTRACES replacing\nTRACES NONE\nTRACES ACCUMULATE\n",
         {"Unknown ActionSelection Algorithm softmax", "Unknown Tracetype replacing", "Unknown Tracetype ACCUMULATE"},
         "ALPHA 0.3\nTRACES NONE\n"},
        {"two blanks before the value", "ALPHA  0.3\nTRACES  NONE\nACTION_SELECTION  SOFTMAX\n",
         {"Unknown Tracetype  NONE", "Unknown ActionSelection Algorithm  SOFTMAX"}, "ALPHA 0.3\n"},
        {"trailing blanks and carriage returns", "GAMMA 0.7  \r\nTRACES NONE \nACTION_SELECTION SOFTMAX\r\nLAMBDA 0.2\r\n",
         {"Unknown Tracetype NONE ", "Unknown ActionSelection Algorithm SOFTMAX\r"}, "LAMBDA 0.2\nGAMMA 0.7\n"},
        // The separator is one character, so a key alone on its line takes
        // the next line as its value.
        {"a key alone swallows the next line", "GAMMA\nALPHA 0.3\nLAMBDA 0.2\n", {}, "LAMBDA 0.2\nGAMMA 0\n"},
        {"a word on the next line", "TRACES\nNONE\nEPSILON 0.3\n", {}, "EPSILON 0.3\nTRACES NONE\n"},
        {"other white space after a key", "ALPHA\v0.3\nGAMMA\f0.2\nLAMBDA\t0.4\n", {}, "ALPHA 0.3\nLAMBDA 0.4\nGAMMA 0.2\n"},
        {"a key joined by an equals sign", "ALPHA=0.3\nGAMMA 0.2\nLAMBDA 0.4\n", {}, "LAMBDA 0.4\n"},
        {"an empty value reads as zero", "ALPHA \nGAMMA 0.2\n", {}, "ALPHA 0\nGAMMA 0.2\n"},
        // The end of the file assigns nothing more.
        {"a blank line at the end", "ALPHA 0.3\n\n", {}, "ALPHA 0.3\n"},
        {"blank lines at the end", "ALPHA 0.3\n\n\r\n \n", {"spaces at begin of line:  "}, "ALPHA 0.3\n"},
        {"no newline at the end", "GAMMA 0.2\nTRACES NONE", {}, "GAMMA 0.2\nTRACES NONE\n"},
        {"cut after a key", "ALPHA 0.3\nGAMMA", {}, "ALPHA 0.3\n"},
        {"a key alone on the last line", "ALPHA 0.3\nGAMMA\n", {}, "ALPHA 0.3\n"},
        // A value of 511 characters is the longest that keeps the reading
        // going; of a longer one, what was read is used and reading ends.
        {"a value of 511 characters", "ALPHA " + fits + "\nGAMMA 0.2\n", {}, "ALPHA 0.25\nGAMMA 0.2\n"},
        {"a value of 512 characters", "ALPHA " + fits + " \nGAMMA 0.2\n", {}, "ALPHA 0.25\n"},
        {"an overlong word", "TRACES NONE" + std::string(600, 'x') + "\nGAMMA 0.2\n",
         {"Unknown Tracetype NONE" + std::string(507, 'x')}, ""},
        {"a comment of 511 characters", "#" + std::string(510, 'c') + "\nGAMMA 0.2\n", {}, "GAMMA 0.2\n"},
        {"a comment of 512 characters", "#" + std::string(511, 'c') + "\nGAMMA 0.2\n", {}, ""},
        {"an overlong indented line", " " + std::string(700, 's') + "\nGAMMA 0.2\n",
         {"spaces at begin of line:  " + std::string(510, 's')}, ""},
        {"ten megabytes without a newline or a blank", std::string(10 * 1024 * 1024, 'A') + " 0.3\nGAMMA 0.2\n", {}, ""},
        {"a long run of unknown keys", unknownKeys + "GAMMA 0.2\n", {}, "GAMMA 0.2\n"},
        // Numbers stop at NUL bytes; words do not match across them.
        {"NUL bytes", "ALPHA 0.3" + nul + "7\nTRACES NONE" + nul + "\nGAMMA" + nul + " 0.4\nLAMBDA 0.2\n",
         {"Unknown Tracetype NONE" + nul}, "ALPHA 0.3\nLAMBDA 0.2\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        writeText(dir.file("learner.conf"), c.text);
        Reports reports;
        const std::unique_ptr<ProbeLearner> learner = construct(dir.file("learner.conf"), reports);
        EXPECT_EQ(reports.errors, c.errors);
        EXPECT_TRUE(reports.notices.empty());
        EXPECT_EQ(changed(*learner), c.changed);
    }
}

TEST(Configuration, EveryByteValueEndsTheReadingWithoutHarm) {
    std::string binary;
    for (int round = 0; round < 64; ++round) {
        for (int byte = 0; byte < 256; ++byte) binary.push_back(static_cast<char>((byte * 37 + round) & 0xFF));
    }
    TempDir dir;
    writeText(dir.file("learner.conf"), binary);
    Reports reports;
    EXPECT_EQ(construct(dir.file("learner.conf"), reports)->TRACES, Tembra::REPLACING);
}
