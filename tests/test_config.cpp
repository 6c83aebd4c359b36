#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "ProbeLearner.h"
#include "TestSupport.h"

using test_support::readText;
using test_support::reportMessages;
using test_support::TempDir;
using test_support::writeText;
using Messages = std::vector<std::string>;

namespace {

const char* const DEFAULT_TEXT =
    "ALPHA 0.1\nLAMBDA 0.5\nGAMMA 0.9\nACTION_SELECTION GREEDY\n"
    "EPSILON 0.1\nTEMPERATURE 0.5\nTRACES REPLACING\nTRACE_VALUE 1\n";

// A learner built on a configuration file with the given text, and the
// reports its construction wrote.
struct Loaded {
    TempDir dir;
    std::unique_ptr<ProbeLearner> learner;
    Messages errors;
    Messages notices;
};

std::unique_ptr<Loaded> load(const std::string& text) {
    std::unique_ptr<Loaded> loaded(new Loaded);
    const std::string path = loaded->dir.file("learner.conf");
    writeText(path, text);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    loaded->learner.reset(new ProbeLearner(path));
    loaded->errors = reportMessages(testing::internal::GetCapturedStderr());
    loaded->notices = reportMessages(testing::internal::GetCapturedStdout());
    return loaded;
}

}  // namespace

// --- Creating and writing the file -----------------------------------------

TEST(Configuration, MissingFileIsCreatedWithExactlyTheDefaultText) {
    TempDir dir;
    const std::string path = dir.file("new.conf");
    testing::internal::CaptureStdout();
    ProbeLearner learner(path);
    EXPECT_EQ(reportMessages(testing::internal::GetCapturedStdout()),
              Messages{"File (" + path + ") didn't exist --> create"});
    EXPECT_EQ(readText(path), DEFAULT_TEXT);
    EXPECT_EQ(learner.ALPHA, 0.1);
    EXPECT_EQ(learner.TRACES, Tembra::REPLACING);
}

TEST(Configuration, UnwritablePathGivesTheNoticesAndKeepsTheDefaults) {
    TempDir dir;
    const std::string path = dir.file("no/such/dir/learner.conf");
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    ProbeLearner learner(path);
    EXPECT_TRUE(reportMessages(testing::internal::GetCapturedStderr()).empty());
    EXPECT_EQ(reportMessages(testing::internal::GetCapturedStdout()),
              (Messages{"File (" + path + ") didn't exist --> create",
                        "Was not able to create file (" + path + ")"}));
    EXPECT_EQ(learner.GAMMA, 0.9);
    EXPECT_EQ(learner.ACTION_SELECTION, Tembra::GREEDY);
}

TEST(Configuration, SaveWritesEightLinesInOrderWithSixSignificantDigits) {
    std::unique_ptr<Loaded> l = load(DEFAULT_TEXT);
    ProbeLearner& learner = *l->learner;
    learner.ALPHA = 0.123456789;
    learner.LAMBDA = 1234567.0;
    learner.GAMMA = 0.00001;
    learner.ACTION_SELECTION = Tembra::EPSILON_GREEDY;
    learner.EPSILON = 0.0001;
    learner.TEMPERATURE = 100.0;
    learner.TRACES = Tembra::ACCUMULATING;
    learner.TRACE_VALUE = -2.5;
    learner.saveConf();
    EXPECT_EQ(readText(learner.confFileName),
              "ALPHA 0.123457\nLAMBDA 1.23457e+06\nGAMMA 1e-05\nACTION_SELECTION EPSILON_GREEDY\n"
              "EPSILON 0.0001\nTEMPERATURE 100\nTRACES ACCUMULATING\nTRACE_VALUE -2.5\n");

    learner.ACTION_SELECTION = Tembra::SOFTMAX;
    learner.TRACES = Tembra::NONE;
    learner.saveConf();
    EXPECT_EQ(readText(learner.confFileName),
              "ALPHA 0.123457\nLAMBDA 1.23457e+06\nGAMMA 1e-05\nACTION_SELECTION SOFTMAX\n"
              "EPSILON 0.0001\nTEMPERATURE 100\nTRACES NONE\nTRACE_VALUE -2.5\n");
}

TEST(Configuration, OutOfRangeEnumsAreWrittenAsNoneAndSoftmax) {
    std::unique_ptr<Loaded> l = load(DEFAULT_TEXT);
    ProbeLearner& learner = *l->learner;
    learner.TRACES = static_cast<Tembra::TRACE_TYPE>(7);
    learner.ACTION_SELECTION = static_cast<Tembra::ACTION_SELECTION_TYPE>(5);
    learner.saveConf();
    EXPECT_EQ(readText(learner.confFileName),
              "ALPHA 0.1\nLAMBDA 0.5\nGAMMA 0.9\nACTION_SELECTION SOFTMAX\n"
              "EPSILON 0.1\nTEMPERATURE 0.5\nTRACES NONE\nTRACE_VALUE 1\n");
}

TEST(Configuration, SavedFileReadsBackToTheSameValues) {
    TempDir dir;
    const std::string path = dir.file("round.conf");
    {
        ProbeLearner writer(path);
        writer.ALPHA = 0.25;
        writer.LAMBDA = 0.75;
        writer.GAMMA = 0.995;
        writer.ACTION_SELECTION = Tembra::SOFTMAX;
        writer.EPSILON = 0.05;
        writer.TEMPERATURE = 2.0;
        writer.TRACES = Tembra::NONE;
        writer.TRACE_VALUE = 0.5;
        writer.saveConf();
    }
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    ProbeLearner reader(path);
    EXPECT_TRUE(reportMessages(testing::internal::GetCapturedStderr()).empty());
    EXPECT_TRUE(reportMessages(testing::internal::GetCapturedStdout()).empty());
    EXPECT_EQ(reader.ALPHA, 0.25);
    EXPECT_EQ(reader.LAMBDA, 0.75);
    EXPECT_EQ(reader.GAMMA, 0.995);
    EXPECT_EQ(reader.ACTION_SELECTION, Tembra::SOFTMAX);
    EXPECT_EQ(reader.EPSILON, 0.05);
    EXPECT_EQ(reader.TEMPERATURE, 2.0);
    EXPECT_EQ(reader.TRACES, Tembra::NONE);
    EXPECT_EQ(reader.TRACE_VALUE, 0.5);
}

TEST(Configuration, FailedWriteIsReported) {
    // /dev/full accepts the open and refuses the data; reading it yields an
    // endless run of NUL bytes, which must not keep the reader busy either.
    std::FILE* probe = std::fopen("/dev/full", "w");
    if (probe == nullptr) GTEST_SKIP() << "no /dev/full";
    std::fclose(probe);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    ProbeLearner learner("/dev/full");
    EXPECT_TRUE(reportMessages(testing::internal::GetCapturedStderr()).empty());
    EXPECT_TRUE(reportMessages(testing::internal::GetCapturedStdout()).empty());
    EXPECT_EQ(learner.ALPHA, 0.1);
    testing::internal::CaptureStderr();
    learner.saveConf();
    EXPECT_EQ(reportMessages(testing::internal::GetCapturedStderr()),
              Messages{"Was not able to write file (/dev/full)"});
}

TEST(Configuration, AFileThatOpensButCannotBeReadIsReported) {
    // A directory opens for reading on Linux, and every read then fails.
    TempDir dir;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    ProbeLearner learner(dir.path());
    EXPECT_EQ(reportMessages(testing::internal::GetCapturedStderr()),
              Messages{"Was not able to read file (" + dir.path() + ")"});
    EXPECT_TRUE(reportMessages(testing::internal::GetCapturedStdout()).empty());
    EXPECT_EQ(learner.ALPHA, 0.1);
}

// --- Reading: the regular cases --------------------------------------------

TEST(Configuration, ReadsEveryKeyAndEveryWord) {
    std::unique_ptr<Loaded> l = load(
        "ALPHA 0.3\nLAMBDA 0.7\nGAMMA 0.8\nACTION_SELECTION EPSILON_GREEDY\n"
        "EPSILON 0.2\nTEMPERATURE 3\nTRACES ACCUMULATING\nTRACE_VALUE 0.75\n");
    const ProbeLearner& learner = *l->learner;
    EXPECT_TRUE(l->errors.empty());
    EXPECT_TRUE(l->notices.empty());
    EXPECT_EQ(learner.ALPHA, 0.3);
    EXPECT_EQ(learner.LAMBDA, 0.7);
    EXPECT_EQ(learner.GAMMA, 0.8);
    EXPECT_EQ(learner.ACTION_SELECTION, Tembra::EPSILON_GREEDY);
    EXPECT_EQ(learner.EPSILON, 0.2);
    EXPECT_EQ(learner.TEMPERATURE, 3.0);
    EXPECT_EQ(learner.TRACES, Tembra::ACCUMULATING);
    EXPECT_EQ(learner.TRACE_VALUE, 0.75);

    std::unique_ptr<Loaded> m = load("ACTION_SELECTION SOFTMAX\nTRACES NONE\nACTION_SELECTION GREEDY\n");
    EXPECT_EQ(m->learner->ACTION_SELECTION, Tembra::GREEDY);  // the later entry wins
    EXPECT_EQ(m->learner->TRACES, Tembra::NONE);
    std::unique_ptr<Loaded> n = load("ACTION_SELECTION SOFTMAX\nTRACES REPLACING\n");
    EXPECT_EQ(n->learner->ACTION_SELECTION, Tembra::SOFTMAX);
    EXPECT_EQ(n->learner->TRACES, Tembra::REPLACING);
}

TEST(Configuration, CommentsBlankLinesAndUnknownKeysAreSilent) {
    std::unique_ptr<Loaded> l = load(
        "# ALPHA 0.9\n\n\nALPHA 0.3 # the rest is ignored by atof\n\nBETA 0.4\nalpha 0.6\n"
        "ALPHAS 0.7\n\n#\nGAMMA 0.2\n\n# learning rate\nLAMBDA 0.4\n");
    const ProbeLearner& learner = *l->learner;
    EXPECT_TRUE(l->errors.empty());
    EXPECT_EQ(learner.ALPHA, 0.3);
    // A blank line before a comment must not turn the comment into a key
    // that swallows the next line.
    EXPECT_EQ(learner.GAMMA, 0.2);
    EXPECT_EQ(learner.LAMBDA, 0.4);
}

TEST(Configuration, NumbersAreReadLikeAtof) {
    std::unique_ptr<Loaded> l = load("ALPHA abc\nGAMMA 0.5xyz\nLAMBDA \t 0.25\nEPSILON -1e-3\nTEMPERATURE .5e1\n");
    const ProbeLearner& learner = *l->learner;
    EXPECT_TRUE(l->errors.empty());
    EXPECT_EQ(learner.ALPHA, 0.0);
    EXPECT_EQ(learner.GAMMA, 0.5);
    EXPECT_EQ(learner.LAMBDA, 0.25);
    EXPECT_EQ(learner.EPSILON, -0.001);
    EXPECT_EQ(learner.TEMPERATURE, 5.0);
}

TEST(Configuration, NumbersThatAreNotFiniteAreRefused) {
    std::unique_ptr<Loaded> l = load("ALPHA inf\nGAMMA nan\nLAMBDA 1e999\nEPSILON 0.3\n");
    const ProbeLearner& learner = *l->learner;
    EXPECT_EQ(l->errors, (Messages{"Not a finite number for ALPHA: inf", "Not a finite number for GAMMA: nan",
                                   "Not a finite number for LAMBDA: 1e999"}));
    EXPECT_EQ(learner.ALPHA, 0.1);
    EXPECT_EQ(learner.GAMMA, 0.9);
    EXPECT_EQ(learner.LAMBDA, 0.5);
    EXPECT_EQ(learner.EPSILON, 0.3);
}

TEST(Configuration, ReadingReportsComeFromLoadConf) {
    TempDir dir;
    const std::string path = dir.file("learner.conf");
    writeText(path, "TRACES none\nALPHA inf\n");
    testing::internal::CaptureStderr();
    ProbeLearner learner(path);
    const std::string err = testing::internal::GetCapturedStderr();
    const std::string head = "ERROR: File: Tembra.cpp   Function: loadConf   Line: ";
    ASSERT_EQ(reportMessages(err).size(), 2u) << err;
    EXPECT_EQ(err.rfind(head, 0), 0u) << err;
    EXPECT_NE(err.find("\n" + head), std::string::npos) << err;
}

// --- Reading: the odd cases ------------------------------------------------

TEST(Configuration, LinesStartingWithBlanksAreReportedAndSkipped) {
    std::unique_ptr<Loaded> l = load(" ALPHA 0.7\n\t  GAMMA 0.2\nLAMBDA 0.4\n");
    EXPECT_EQ(l->errors, (Messages{"spaces at begin of line:  ALPHA 0.7",
                                   "spaces at begin of line: \t  GAMMA 0.2"}));
    EXPECT_EQ(l->learner->ALPHA, 0.1);
    EXPECT_EQ(l->learner->GAMMA, 0.9);
    EXPECT_EQ(l->learner->LAMBDA, 0.4);
}

TEST(Configuration, EnumWordsAreCaseSensitiveAndAnUnknownWordChangesOnlyItsParameter) {
    std::unique_ptr<Loaded> l = load("ACTION_SELECTION softmax\nALPHA 0.3\nTRACES replacing\nTRACES NONE\n"
                                     "TRACES ACCUMULATE\n");
    EXPECT_EQ(l->errors, (Messages{"Unknown ActionSelection Algorithm softmax", "Unknown Tracetype replacing",
                                   "Unknown Tracetype ACCUMULATE"}));
    EXPECT_EQ(l->learner->ACTION_SELECTION, Tembra::GREEDY);
    EXPECT_EQ(l->learner->TRACES, Tembra::NONE);
    EXPECT_EQ(l->learner->ALPHA, 0.3);
}

TEST(Configuration, TwoSpacesBeforeTheValueKeepNumbersButNotWords) {
    std::unique_ptr<Loaded> l = load("ALPHA  0.3\nTRACES  NONE\nACTION_SELECTION  SOFTMAX\n");
    EXPECT_EQ(l->errors, (Messages{"Unknown Tracetype  NONE", "Unknown ActionSelection Algorithm  SOFTMAX"}));
    EXPECT_EQ(l->learner->ALPHA, 0.3);
    EXPECT_EQ(l->learner->TRACES, Tembra::REPLACING);
    EXPECT_EQ(l->learner->ACTION_SELECTION, Tembra::GREEDY);
}

TEST(Configuration, TrailingBlanksAndCarriageReturnsKeepNumbersButNotWords) {
    std::unique_ptr<Loaded> l = load("GAMMA 0.7  \r\nTRACES NONE \nACTION_SELECTION SOFTMAX\r\nLAMBDA 0.2\r\n");
    EXPECT_EQ(l->errors, (Messages{"Unknown Tracetype NONE ", "Unknown ActionSelection Algorithm SOFTMAX\r"}));
    EXPECT_EQ(l->learner->GAMMA, 0.7);
    EXPECT_EQ(l->learner->LAMBDA, 0.2);
    EXPECT_EQ(l->learner->TRACES, Tembra::REPLACING);
    EXPECT_EQ(l->learner->ACTION_SELECTION, Tembra::GREEDY);
}

TEST(Configuration, AKeyAloneOnItsLineSwallowsTheNextLine) {
    std::unique_ptr<Loaded> l = load("GAMMA\nALPHA 0.3\nLAMBDA 0.2\n");
    EXPECT_TRUE(l->errors.empty());
    EXPECT_EQ(l->learner->GAMMA, 0.0);  // atof("ALPHA 0.3")
    EXPECT_EQ(l->learner->ALPHA, 0.1);
    EXPECT_EQ(l->learner->LAMBDA, 0.2);

    std::unique_ptr<Loaded> m = load("TRACES\nNONE\nEPSILON 0.3\n");
    EXPECT_EQ(m->learner->TRACES, Tembra::NONE);
    EXPECT_EQ(m->learner->EPSILON, 0.3);
}

TEST(Configuration, AKeyJoinedByAnEqualsSignIsOneUnknownWordThatSwallowsTheNextLine) {
    std::unique_ptr<Loaded> l = load("ALPHA=0.3\nGAMMA 0.2\nLAMBDA 0.4\n");
    EXPECT_TRUE(l->errors.empty());
    EXPECT_EQ(l->learner->ALPHA, 0.1);
    EXPECT_EQ(l->learner->GAMMA, 0.9);
    EXPECT_EQ(l->learner->LAMBDA, 0.4);
}

TEST(Configuration, TheEndOfTheFileAssignsNothingMore) {
    // A blank line at the end must not reuse the last key with an empty value.
    std::unique_ptr<Loaded> l = load("ALPHA 0.3\n\n");
    EXPECT_EQ(l->learner->ALPHA, 0.3);
    std::unique_ptr<Loaded> m = load("ALPHA 0.3\n\n\r\n \n");
    EXPECT_EQ(m->learner->ALPHA, 0.3);
    EXPECT_EQ(m->errors, Messages{"spaces at begin of line:  "});
    // No newline after the last entry.
    std::unique_ptr<Loaded> n = load("GAMMA 0.2\nTRACES NONE");
    EXPECT_EQ(n->learner->GAMMA, 0.2);
    EXPECT_EQ(n->learner->TRACES, Tembra::NONE);
    // A file cut off after a key.
    std::unique_ptr<Loaded> o = load("ALPHA 0.3\nGAMMA");
    EXPECT_EQ(o->learner->GAMMA, 0.9);
    std::unique_ptr<Loaded> p = load("ALPHA 0.3\nGAMMA\n");
    EXPECT_EQ(p->learner->GAMMA, 0.9);
    EXPECT_TRUE(p->errors.empty());
}

TEST(Configuration, AnEmptyValueWithItsNewlineReadsAsZero) {
    std::unique_ptr<Loaded> l = load("ALPHA \nGAMMA 0.2\n");
    EXPECT_EQ(l->learner->ALPHA, 0.0);
    EXPECT_EQ(l->learner->GAMMA, 0.2);
}

TEST(Configuration, AValueOfFiveHundredElevenCharactersIsTheLongestThatKeepsReading) {
    const std::string fits = "0.25" + std::string(507, ' ');  // 511 characters
    std::unique_ptr<Loaded> l = load("ALPHA " + fits + "\nGAMMA 0.2\n");
    EXPECT_EQ(l->learner->ALPHA, 0.25);
    EXPECT_EQ(l->learner->GAMMA, 0.2);

    // One more: what was read is used, and reading ends there.
    std::unique_ptr<Loaded> m = load("ALPHA " + fits + " \nGAMMA 0.2\n");
    EXPECT_EQ(m->learner->ALPHA, 0.25);
    EXPECT_EQ(m->learner->GAMMA, 0.9);

    // The word is compared with what was read.
    std::unique_ptr<Loaded> n = load("TRACES NONE" + std::string(600, 'x') + "\nGAMMA 0.2\n");
    EXPECT_EQ(n->errors, Messages{"Unknown Tracetype NONE" + std::string(507, 'x')});
    EXPECT_EQ(n->learner->GAMMA, 0.9);
}

TEST(Configuration, OverlongCommentsAndIndentedLinesEndTheReading) {
    std::unique_ptr<Loaded> l = load("#" + std::string(510, 'c') + "\nGAMMA 0.2\n");
    EXPECT_EQ(l->learner->GAMMA, 0.2);
    std::unique_ptr<Loaded> m = load("#" + std::string(511, 'c') + "\nGAMMA 0.2\n");
    EXPECT_EQ(m->learner->GAMMA, 0.9);

    std::unique_ptr<Loaded> n = load(" " + std::string(700, 's') + "\nGAMMA 0.2\n");
    EXPECT_EQ(n->errors, Messages{"spaces at begin of line:  " + std::string(510, 's')});
    EXPECT_EQ(n->learner->GAMMA, 0.9);
}

TEST(Configuration, HostileContentEndsTheReadingWithoutHarm) {
    // Ten megabytes without a newline or a blank.
    std::unique_ptr<Loaded> a = load(std::string(10 * 1024 * 1024, 'A') + " 0.3\nGAMMA 0.2\n");
    EXPECT_EQ(a->learner->GAMMA, 0.9);
    EXPECT_EQ(a->learner->ALPHA, 0.1);

    // A long run of unknown entries is read to its end.
    std::string many;
    for (int i = 0; i < 200000; ++i) many += "UNKNOWN_KEY 1\n";
    std::unique_ptr<Loaded> b = load(many + "GAMMA 0.2\n");
    EXPECT_EQ(b->learner->GAMMA, 0.2);

    // NUL bytes: numbers stop at them, words do not match across them.
    const std::string nul(1, '\0');
    std::unique_ptr<Loaded> c = load("ALPHA 0.3" + nul + "7\nTRACES NONE" + nul + "\nGAMMA" + nul + " 0.4\nLAMBDA 0.2\n");
    EXPECT_EQ(c->learner->ALPHA, 0.3);
    EXPECT_EQ(c->learner->TRACES, Tembra::REPLACING);
    EXPECT_EQ(c->errors, Messages{"Unknown Tracetype NONE" + nul});
    EXPECT_EQ(c->learner->GAMMA, 0.9);
    EXPECT_EQ(c->learner->LAMBDA, 0.2);

    // Every byte value, lines of all lengths.
    std::string binary;
    for (int round = 0; round < 64; ++round) {
        for (int byte = 0; byte < 256; ++byte) binary.push_back(static_cast<char>((byte * 37 + round) & 0xFF));
    }
    std::unique_ptr<Loaded> d = load(binary);
    EXPECT_EQ(d->learner->TRACES, Tembra::REPLACING);
}
