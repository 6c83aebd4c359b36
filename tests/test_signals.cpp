#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ProbeLearner.h"
#include "TestSupport.h"

using test_support::readText;
using test_support::reportsOf;
using test_support::Reports;
using test_support::TempDir;
using test_support::writeText;
using Messages = std::vector<std::string>;

// ---------------------------------------------------------------------------
// Stand-ins for two libc calls, so that their failures can be provoked. The
// library resolves them through this program's definitions; they pass
// through to the system unless a test asks them to fail.

namespace fake {
bool failSigwait = false;
int failedSigwaits = 0;
bool failSigprocmask = false;
}  // namespace fake

extern "C" int sigwait(const sigset_t* set, int* sig) {
    // A poll that waits again after a failure would spin; give up failing
    // after a while so that such a fault shows as a count, not a hang.
    if (fake::failSigwait && ++fake::failedSigwaits <= 100) return EINVAL;
    const int result = sigwaitinfo(set, nullptr);
    if (result == -1) return errno;
    *sig = result;
    return 0;
}

extern "C" int sigprocmask(int how, const sigset_t* set, sigset_t* oldSet) noexcept {
    if (fake::failSigprocmask) {
        errno = EINVAL;
        return -1;
    }
    const int error = pthread_sigmask(how, set, oldSet);
    if (error != 0) {
        errno = error;
        return -1;
    }
    return 0;
}

namespace {

const int CONTROL[] = {SIGUSR1, SIGUSR2, SIGTERM, SIGINT};

sigset_t controlAndHangup() {
    sigset_t set;
    sigemptyset(&set);
    for (const int sig : CONTROL) sigaddset(&set, sig);
    sigaddset(&set, SIGHUP);
    return set;
}

sigset_t currentMask() {
    sigset_t mask;
    pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    return mask;
}

bool isBlocked(int sig) {
    const sigset_t mask = currentMask();
    return sigismember(&mask, sig) == 1;
}

void block(const std::vector<int>& sigs) {
    sigset_t set;
    sigemptyset(&set);
    for (const int sig : sigs) sigaddset(&set, sig);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

bool isPending(int sig) {
    sigset_t pending;
    sigpending(&pending);
    return sigismember(&pending, sig) == 1;
}

bool sameMask(const sigset_t& a, const sigset_t& b) {
    for (int sig = 1; sig <= SIGRTMAX; ++sig) {
        if (sigismember(&a, sig) != sigismember(&b, sig)) return false;
    }
    return true;
}

// Every test starts with the control signals and SIGHUP unblocked and ends
// with the mask it found, after swallowing whatever a failing test left
// pending, so that nothing it raised can reach the test runner.
class SignalScope {
public:
    SignalScope() {
        pthread_sigmask(SIG_SETMASK, nullptr, &saved_);
        const sigset_t set = controlAndHangup();
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    }
    ~SignalScope() {
        fake::failSigwait = false;
        fake::failSigprocmask = false;
        const sigset_t set = controlAndHangup();
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
        const timespec zero = {0, 0};
        while (sigtimedwait(&set, nullptr, &zero) > 0) {
        }
        pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
    }
    SignalScope(const SignalScope&) = delete;
    SignalScope& operator=(const SignalScope&) = delete;

private:
    sigset_t saved_;
};

// Raises sig once, inside the given step of the given episode.
void raiseAt(ProbeLearner& learner, int episode, int step, std::vector<int> sigs) {
    learner.duringStep = [episode, step, sigs](ProbeLearner& l) {
        if (l.episodes == episode && l.steps == step) {
            for (const int sig : sigs) raise(sig);
        }
    };
}

const std::string USR1_NOTICE = "SIGUSR1 received --> load configuration";
const std::string USR2_NOTICE = "SIGUSR2 received --> nothing implemented here!";
const std::string TERM_NOTICE = "SIGTERM received --> stop learning (after episode)";
const std::string INT_NOTICE = "SIGINT received --> stop learning (after step)";

}  // namespace

// --- The signal mask ---------------------------------------------------------

TEST(Signals, TheLearnerBlocksTheFourSignalsForItsLifetimeAndRestoresTheMaskItFound) {
    SignalScope scope;
    TempDir dir;
    // Blocked by someone else before: they stay blocked afterwards.
    block({SIGUSR2, SIGTERM});
    const sigset_t before = currentMask();
    {
        ProbeLearner learner(dir.file("learner.conf"));
        for (const int sig : CONTROL) EXPECT_TRUE(isBlocked(sig)) << sig;
        EXPECT_FALSE(isBlocked(SIGHUP));
    }
    EXPECT_TRUE(sameMask(currentMask(), before));
}

TEST(Signals, TheSignalsStayBlockedUntilTheLastLearnerGoesWhicheverGoesFirst) {
    // Replacing a learner (build the new one, then delete the old one) must
    // not unblock the signals under the new one: a SIGINT would then end
    // the process instead of the learning.
    for (const bool olderFirst : {false, true}) {
        SCOPED_TRACE(olderFirst ? "older one destroyed first" : "younger one destroyed first");
        SignalScope scope;
        TempDir dir;
        std::unique_ptr<ProbeLearner> older(new ProbeLearner(dir.file("older.conf")));
        std::unique_ptr<ProbeLearner> younger(new ProbeLearner(dir.file("younger.conf")));
        std::unique_ptr<ProbeLearner>& first = olderFirst ? older : younger;
        std::unique_ptr<ProbeLearner>& last = olderFirst ? younger : older;
        first.reset();
        for (const int sig : CONTROL) ASSERT_TRUE(isBlocked(sig)) << sig;
        raise(SIGINT);
        EXPECT_EQ(reportsOf([&last] { last->checkPendingSignals(); }).notices, Messages{INT_NOTICE});
        last.reset();
        for (const int sig : CONTROL) EXPECT_FALSE(isBlocked(sig)) << sig;
    }
}

TEST(Signals, FailuresToChangeTheMaskAreReportedAndUnblockNothingLater) {
    SignalScope scope;
    TempDir dir;
    block({SIGINT});
    const Messages report = {"sigprocmask --> errno = 22 - " + std::string(std::strerror(EINVAL))};
    std::unique_ptr<ProbeLearner> learner;
    fake::failSigprocmask = true;
    EXPECT_EQ(reportsOf([&] { learner.reset(new ProbeLearner(dir.file("learner.conf"))); }).errors, report);
    fake::failSigprocmask = false;
    EXPECT_FALSE(isBlocked(SIGUSR1));
    learner.reset();
    EXPECT_TRUE(isBlocked(SIGINT));  // blocked by someone else, not the learner

    learner.reset(new ProbeLearner(dir.file("learner.conf")));
    fake::failSigprocmask = true;
    EXPECT_EQ(reportsOf([&] { learner.reset(); }).errors, report);
}

// --- Signals during learning -------------------------------------------------

TEST(Signals, EachSignalTakesEffectAtThePollAfterTheStepItArrivedIn) {
    struct Case {
        const char* name;
        int episodeLength;
        int episode;  // the signals are raised in this step of this episode;
        int step;     // step 0: before controlLoop
        std::vector<int> sigs;
        Messages notices;
        std::size_t unordered;  // leading notices of signals handled in one poll, sorted
        bool intRcvd;
        bool termRcvd;
    };
    const Case cases[] = {
        {"SIGINT ends learning after its step", 10, 2, 5, {SIGINT},
         {"episode = 1  steps = 10", INT_NOTICE, "episode = 2  steps = 5"}, 0, true, false},
        {"SIGTERM lets the episode run to its end", 6, 1, 2, {SIGTERM}, {TERM_NOTICE, "episode = 1  steps = 6"}, 0,
         false, true},
        {"SIGTERM sent before controlLoop", 3, 1, 0, {SIGTERM}, {TERM_NOTICE, "episode = 1  steps = 3"}, 0, false, true},
        {"SIGTERM and SIGINT together", 5, 1, 2, {SIGTERM, SIGINT},
         {INT_NOTICE, TERM_NOTICE, "episode = 1  steps = 2"}, 2, true, true},
        {"the same signal three times in one step", 4, 1, 2,
         {SIGUSR2, SIGUSR2, SIGUSR2, SIGTERM, SIGTERM, SIGTERM},
         {TERM_NOTICE, USR2_NOTICE, "episode = 1  steps = 4"}, 2, false, true},
        {"SIGUSR2 gives one notice and changes nothing", 3, 1, 2, {SIGUSR2},
         {USR2_NOTICE, "episode = 1  steps = 3", "episode = 2  steps = 3"}, 0, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SignalScope scope;
        TempDir dir;
        ProbeLearner learner(dir.file("learner.conf"));
        learner.episodeLength = c.episodeLength;
        stopAfterEpisode(learner, 2);
        if (c.step == 0) {
            for (const int sig : c.sigs) raise(sig);
        }
        raiseAt(learner, c.episode, c.step, c.sigs);
        Reports output = runLoop(learner);
        ASSERT_GE(output.notices.size(), c.unordered);
        std::sort(output.notices.begin(), output.notices.begin() + static_cast<long>(c.unordered));
        EXPECT_EQ(output.notices, c.notices);
        EXPECT_TRUE(output.errors.empty());
        EXPECT_EQ(learner.sigIntRcvd, c.intRcvd);
        EXPECT_EQ(learner.sigTermRcvd, c.termRcvd);
        if (c.intRcvd || c.termRcvd) {
            // The flag stays: a later controlLoop starts no episode.
            learner.calls.clear();
            const Reports again = runLoop(learner);
            EXPECT_TRUE(learner.calls.empty());
            EXPECT_TRUE(again.notices.empty());
        }
    }
}

TEST(Signals, SigusrOneReloadsTheFileBeforeTheNextStepOrWritesItAgain) {
    SignalScope scope;
    TempDir dir;
    const std::string path = dir.file("learner.conf");
    ProbeLearner learner(path);
    learner.episodeLength = 4;
    stopAfterEpisode(learner, 2);
    learner.duringStep = [&path](ProbeLearner& l) {
        if (l.episodes == 1 && l.steps == 2) {
            writeText(path, "ALPHA 0.5\nTRACES NONE\n");
            kill(getpid(), SIGUSR1);  // sent to the process, as from a shell
        }
        if (l.episodes == 2 && l.steps == 3) {
            l.ALPHA = 0.3;
            std::remove(path.c_str());
            raise(SIGUSR1);
        }
    };
    const Reports output = runLoop(learner);
    EXPECT_EQ(output.notices, (Messages{USR1_NOTICE, "episode = 1  steps = 4", USR1_NOTICE,
                                        "File (" + path + ") didn't exist --> create", "episode = 2  steps = 4"}));
    EXPECT_EQ(learner.alphaPerStep, (std::vector<double>{0.1, 0.1, 0.5, 0.5, 0.5, 0.5, 0.5, 0.3}));
    EXPECT_EQ(learner.GAMMA, 0.9);  // not in the file: unchanged
    EXPECT_EQ(readText(path), "ALPHA 0.3\nLAMBDA 0.5\nGAMMA 0.9\nACTION_SELECTION GREEDY\n"
                              "EPSILON 0.1\nTEMPERATURE 0.5\nTRACES NONE\nTRACE_VALUE 1\n");
    EXPECT_FALSE(learner.sigTermRcvd || learner.sigIntRcvd);
}

class Usr2Listener : public ProbeLearner {
public:
    using ProbeLearner::ProbeLearner;
    int usr2Calls = 0;

protected:
    void sigUsr2() override { ++usr2Calls; }
};

TEST(Signals, ASubclassOverridingAHandlerReceivesTheCall) {
    SignalScope scope;
    TempDir dir;
    Usr2Listener learner(dir.file("learner.conf"));
    learner.episodeLength = 2;
    stopAfterEpisode(learner, 1);
    raiseAt(learner, 1, 1, {SIGUSR2});
    EXPECT_EQ(runLoop(learner).notices, Messages{"episode = 1  steps = 2"});
    EXPECT_EQ(learner.usr2Calls, 1);
}

// --- The poll itself ---------------------------------------------------------

TEST(Signals, AnotherBlockedSignalIsLeftAloneUnlessTheWaitConsumesIt) {
    SignalScope scope;
    TempDir dir;
    ProbeLearner learner(dir.file("learner.conf"));
    block({SIGHUP});

    // Alone, it is not touched.
    raise(SIGHUP);
    Reports output = reportsOf([&learner] { learner.checkPendingSignals(); });
    EXPECT_TRUE(output.notices.empty());
    EXPECT_TRUE(output.errors.empty());
    EXPECT_TRUE(isPending(SIGHUP));

    // Pending with one of the four, it is part of the wait set; Linux hands
    // out the lowest signal number first, so it is consumed and reported.
    raise(SIGUSR2);
    output = reportsOf([&learner] { learner.checkPendingSignals(); });
    EXPECT_EQ(output.errors, Messages{"Unknown signal = " + std::to_string(SIGHUP)});
    EXPECT_EQ(output.notices, Messages{USR2_NOTICE});
    EXPECT_FALSE(isPending(SIGHUP));
    EXPECT_FALSE(isPending(SIGUSR2));
}

TEST(Signals, AFailingWaitIsReportedOnceAndEndsThePoll) {
    SignalScope scope;
    TempDir dir;
    ProbeLearner learner(dir.file("learner.conf"));
    raise(SIGUSR2);
    fake::failSigwait = true;
    fake::failedSigwaits = 0;
    const Reports output = reportsOf([&learner] { learner.checkPendingSignals(); });
    fake::failSigwait = false;
    EXPECT_EQ(fake::failedSigwaits, 1);
    EXPECT_EQ(output.errors, Messages{"errno = 22 --> " + std::string(std::strerror(EINVAL))});
    EXPECT_TRUE(output.notices.empty());

    // The signal is still pending and the next poll handles it.
    const Reports next = reportsOf([&learner] { learner.checkPendingSignals(); });
    EXPECT_EQ(next.notices, Messages{USR2_NOTICE});
    EXPECT_FALSE(isPending(SIGUSR2));
}

// --- The poll interval -------------------------------------------------------

// Polled after every interval-th step and at the end of every episode:
// SIGTERM keeps its meaning, SIGINT and SIGUSR1 wait for the next poll.
TEST(Signals, APollIntervalDelaysSigintWithinItsStepsButNeverSigterm) {
    struct Case {
        const char* name;
        int interval;
        int step;  // raised in this step of episode 1 (episodes of 10 steps)
        int sig;
        Messages notices;
    };
    const Case cases[] = {
        {"SIGINT at the next interval", 4, 5, SIGINT, {INT_NOTICE, "episode = 1  steps = 8"}},
        {"SIGINT on an interval's last step", 4, 4, SIGINT, {INT_NOTICE, "episode = 1  steps = 4"}},
        {"SIGINT at the episode's end", 100, 3, SIGINT, {INT_NOTICE, "episode = 1  steps = 10"}},
        {"SIGTERM after the last interval", 4, 9, SIGTERM, {TERM_NOTICE, "episode = 1  steps = 10"}},
        {"SIGTERM, interval longer than the episode", 64, 2, SIGTERM, {TERM_NOTICE, "episode = 1  steps = 10"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SignalScope scope;
        TempDir dir;
        ProbeLearner learner(dir.file("learner.conf"));
        learner.episodeLength = 10;
        learner.setSignalPollInterval(c.interval);
        stopAfterEpisode(learner, 3);
        raiseAt(learner, 1, c.step, {c.sig});
        const Reports output = runLoop(learner);
        EXPECT_EQ(output.notices, c.notices);
        EXPECT_TRUE(output.errors.empty());
    }

    // A SIGUSR1 reload takes effect at the next poll and keeps the interval.
    SignalScope scope;
    TempDir dir;
    const std::string path = dir.file("learner.conf");
    ProbeLearner learner(path);
    learner.episodeLength = 5;
    learner.setSignalPollInterval(3);
    stopAfterEpisode(learner, 3);
    learner.duringStep = [&path](ProbeLearner& l) {
        if (l.episodes == 1 && l.steps == 1) {
            writeText(path, "ALPHA 0.5\n");
            raise(SIGUSR1);
        }
        if (l.episodes == 2 && l.steps == 1) raise(SIGINT);
    };
    const Reports output = runLoop(learner);
    EXPECT_EQ(learner.alphaPerStep, (std::vector<double>{0.1, 0.1, 0.1, 0.5, 0.5, 0.5, 0.5, 0.5}));
    EXPECT_EQ(output.notices, (Messages{USR1_NOTICE, "episode = 1  steps = 5", INT_NOTICE, "episode = 2  steps = 3"}));
    EXPECT_EQ(learner.getSignalPollInterval(), 3);

    const Reports refused = reportsOf([&learner] {
        learner.setSignalPollInterval(0);
        learner.setSignalPollInterval(-5);
    });
    EXPECT_EQ(refused.errors.size(), 2u);
    EXPECT_TRUE(test_support::someReportContains(refused.errors, "must be at least 1"));
    EXPECT_EQ(learner.getSignalPollInterval(), 3);
}
