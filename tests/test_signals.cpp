#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "ProbeLearner.h"
#include "TestSupport.h"

using test_support::reportsOf;
using test_support::Reports;
using test_support::TempDir;
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
    *sig = sigwaitinfo(set, nullptr);
    return *sig == -1 ? errno : 0;
}

extern "C" int sigprocmask(int how, const sigset_t* set, sigset_t* oldSet) noexcept {
    const int error = fake::failSigprocmask ? EINVAL : pthread_sigmask(how, set, oldSet);
    if (error != 0) errno = error;
    return error == 0 ? 0 : -1;
}

namespace {

const std::vector<int> CONTROL = {SIGUSR1, SIGUSR2, SIGTERM, SIGINT};
const std::vector<int> ALL = {SIGHUP, SIGUSR1, SIGUSR2, SIGTERM, SIGINT};
const std::string USR1 = "SIGUSR1 received --> load configuration";
const std::string USR2 = "SIGUSR2 received --> nothing implemented here!";
const std::string TERM = "SIGTERM received --> stop learning (after episode)";
const std::string INT = "SIGINT received --> stop learning (after step)";

sigset_t setOf(const std::vector<int>& sigs) {
    sigset_t set;
    sigemptyset(&set);
    for (const int sig : sigs) sigaddset(&set, sig);
    return set;
}

void block(const std::vector<int>& sigs) {
    const sigset_t set = setOf(sigs);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

// Which of sigs the mask (or the pending set) holds.
std::vector<int> held(const std::vector<int>& sigs, const bool pending = false) {
    sigset_t set;
    pending ? sigpending(&set) : pthread_sigmask(SIG_SETMASK, nullptr, &set);
    std::vector<int> in;
    for (const int sig : sigs) {
        if (sigismember(&set, sig) == 1) in.push_back(sig);
    }
    return in;
}

// Every test starts with the control signals and SIGHUP unblocked and ends
// with the mask it found, after swallowing whatever a failing test left
// pending, so that nothing it raised can reach the test runner.
class SignalScope {
public:
    SignalScope() {
        pthread_sigmask(SIG_SETMASK, nullptr, &saved);
        pthread_sigmask(SIG_UNBLOCK, &all, nullptr);
    }
    ~SignalScope() {
        fake::failSigwait = fake::failSigprocmask = false;
        pthread_sigmask(SIG_BLOCK, &all, nullptr);
        const timespec zero = {0, 0};
        while (sigtimedwait(&all, nullptr, &zero) > 0) continue;
        pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    }

private:
    const sigset_t all = setOf(ALL);
    sigset_t saved;
};

std::string episode(const int number, const int steps) {
    return "episode = " + std::to_string(number) + "  steps = " + std::to_string(steps);
}

}  // namespace

// --- The signal mask ---------------------------------------------------------

// Replacing a learner (build the new one, then delete the old one) must not
// unblock the signals under the new one: a SIGINT would then end the
// process instead of the learning.
TEST(Signals, TheFourStayBlockedUntilTheLastLearnerGoesAndTheMaskFoundIsRestored) {
    for (const bool olderFirst : {false, true}) {
        SCOPED_TRACE(olderFirst ? "older one destroyed first" : "younger one destroyed first");
        SignalScope scope;
        TempDir dir;
        block({SIGUSR2});  // by someone else before: it stays blocked
        std::unique_ptr<ProbeLearner> older(new ProbeLearner(dir.file("older.conf")));
        std::unique_ptr<ProbeLearner> younger(new ProbeLearner(dir.file("younger.conf")));
        EXPECT_EQ(held(ALL), CONTROL);
        (olderFirst ? older : younger).reset();
        EXPECT_EQ(held(ALL), CONTROL);
        raise(SIGINT);
        std::unique_ptr<ProbeLearner>& last = olderFirst ? younger : older;
        EXPECT_EQ(reportsOf([&last] { last->checkPendingSignals(); }).notices, Messages{INT});
        last.reset();
        EXPECT_EQ(held(ALL), std::vector<int>{SIGUSR2});
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
    EXPECT_EQ(held(ALL), std::vector<int>{SIGINT});
    learner.reset();
    EXPECT_EQ(held(ALL), std::vector<int>{SIGINT});  // blocked by someone else, not the learner

    learner.reset(new ProbeLearner(dir.file("learner.conf")));
    fake::failSigprocmask = true;
    EXPECT_EQ(reportsOf([&] { learner.reset(); }).errors, report);
}

// --- Signals during learning -------------------------------------------------

// Polled after every interval-th step and at the end of every episode:
// SIGINT ends learning after the step it was seen in, SIGTERM after the
// episode, SIGUSR2 only says so.
TEST(Signals, EachSignalTakesEffectAtThePollAfterTheStepItArrivedIn) {
    struct Case {
        const char* name;
        int interval;
        int length;   // of the episodes
        int episode;  // the signals are raised in this step of this episode;
        int step;     // step 0: before controlLoop
        std::vector<int> sigs;
        Messages notices;
        std::size_t unordered;  // leading notices of signals handled in one poll, sorted
    };
    const Case cases[] = {
        {"SIGINT ends learning after its step", 1, 10, 2, 5, {SIGINT}, {episode(1, 10), INT, episode(2, 5)}, 0},
        {"SIGTERM lets the episode run to its end", 1, 6, 1, 2, {SIGTERM}, {TERM, episode(1, 6)}, 0},
        {"SIGTERM sent before controlLoop", 1, 3, 1, 0, {SIGTERM}, {TERM, episode(1, 3)}, 0},
        {"SIGTERM and SIGINT together", 1, 5, 1, 2, {SIGTERM, SIGINT}, {INT, TERM, episode(1, 2)}, 2},
        {"the same signals three times in one step", 1, 4, 1, 2, {SIGUSR2, SIGUSR2, SIGUSR2, SIGTERM, SIGTERM, SIGTERM},
         {TERM, USR2, episode(1, 4)}, 2},
        {"SIGUSR2 gives a notice, changes nothing", 1, 3, 1, 2, {SIGUSR2}, {USR2, episode(1, 3), episode(2, 3)}, 0},
        {"SIGINT at the next interval", 4, 10, 1, 5, {SIGINT}, {INT, episode(1, 8)}, 0},
        {"SIGINT on an interval's last step", 4, 10, 1, 4, {SIGINT}, {INT, episode(1, 4)}, 0},
        {"SIGINT at the episode's end", 100, 10, 1, 3, {SIGINT}, {INT, episode(1, 10)}, 0},
        {"SIGTERM after the last interval", 4, 10, 1, 9, {SIGTERM}, {TERM, episode(1, 10)}, 0},
        {"SIGTERM, interval longer than the episode", 64, 10, 1, 2, {SIGTERM}, {TERM, episode(1, 10)}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SignalScope scope;
        TempDir dir;
        ProbeLearner learner(dir.file("learner.conf"));
        learner.maxSteps = c.length;
        learner.episodesToRun = 2;
        learner.duringStep = [&c](ProbeLearner& l) {
            if (l.episodes != c.episode || l.steps != c.step) return;
            for (const int sig : c.sigs) raise(sig);
        };
        Reports output = reportsOf([&] {
            learner.setSignalPollInterval(c.interval);
            if (c.step == 0) for (const int sig : c.sigs) raise(sig);
            learner.controlLoop();
        });
        ASSERT_GE(output.notices.size(), c.unordered);
        std::sort(output.notices.begin(), output.notices.begin() + static_cast<long>(c.unordered));
        EXPECT_EQ(output.notices, c.notices);
        EXPECT_TRUE(output.errors.empty());
        const bool intSeen = std::count(c.notices.begin(), c.notices.end(), INT) > 0;
        const bool termSeen = std::count(c.notices.begin(), c.notices.end(), TERM) > 0;
        // Through the virtual handler, which a subclass may override.
        EXPECT_EQ(std::count(learner.calls.begin(), learner.calls.end(), 'U'),
                  std::count(c.notices.begin(), c.notices.end(), USR2));
        EXPECT_EQ(learner.sigIntRcvd, intSeen);
        EXPECT_EQ(learner.sigTermRcvd, termSeen);
        if (intSeen || termSeen) {
            // The flag stays: a later controlLoop starts no episode.
            learner.calls.clear();
            EXPECT_TRUE(runLoop(learner).notices.empty());
            EXPECT_TRUE(learner.calls.empty());
        }
    }
}

// The reload keeps the interval; an interval below 1 is refused.
TEST(Signals, SigusrOneReloadsTheFileAtTheNextPollOrWritesItAgain) {
    for (const int interval : {1, 3}) {
        SCOPED_TRACE(interval);
        SignalScope scope;
        TempDir dir;
        const std::string path = dir.file("learner.conf");
        ProbeLearner learner(path);
        learner.maxSteps = 4;
        learner.episodesToRun = 2;
        learner.setSignalPollInterval(interval);
        learner.duringStep = [&path](ProbeLearner& l) {
            if (l.steps != 1) return;
            if (l.episodes == 1) {
                test_support::writeText(path, "ALPHA 0.5\nTRACES NONE\n");
                kill(getpid(), SIGUSR1);  // sent to the process, as from a shell
            } else if (l.episodes == 2) {
                l.ALPHA = 0.3;
                std::remove(path.c_str());
                raise(SIGUSR1);
            }
        };
        const Reports output = runLoop(learner);
        EXPECT_EQ(output.notices, (Messages{USR1, episode(1, 4), USR1, "File (" + path + ") didn't exist --> create",
                                            episode(2, 4)}));
        // ALPHA as each step saw it: the reload waits for the poll.
        const double reloaded = interval == 1 ? 0.5 : 0.1;
        EXPECT_EQ(learner.alphaPerStep, (std::vector<double>{0.1, reloaded, reloaded, 0.5, 0.5, 0.3, 0.3, 0.3}));
        EXPECT_EQ(learner.GAMMA, 0.9);  // not in the file: unchanged
        EXPECT_EQ(test_support::readText(path), "ALPHA 0.3\nLAMBDA 0.5\nGAMMA 0.9\nACTION_SELECTION GREEDY\n"
                                                "EPSILON 0.1\nTEMPERATURE 0.5\nTRACES NONE\nTRACE_VALUE 1\n");
        const Reports refused = reportsOf([&learner] {
            learner.setSignalPollInterval(0);
            learner.setSignalPollInterval(-5);
        });
        EXPECT_EQ(refused.errors.size(), 2u);
        EXPECT_TRUE(test_support::someReportContains(refused.errors, "must be at least 1"));
        EXPECT_EQ(learner.getSignalPollInterval(), interval);
        // A later controlLoop counts the episodes on.
        learner.continueLearning = true;
        EXPECT_EQ(runLoop(learner).notices, Messages{episode(3, 4)});
    }
}

// --- The poll itself ---------------------------------------------------------

// Another blocked signal alone is left pending; pending with one of the
// four, it is part of the wait set, and Linux hands out the lowest signal
// number first, so it is consumed and reported. A failing wait is reported
// once and ends the poll; the signals wait for the next one.
TEST(Signals, ThePollLeavesOtherSignalsAloneAndGivesUpOnAFailingWait) {
    SignalScope scope;
    TempDir dir;
    ProbeLearner learner(dir.file("learner.conf"));
    block({SIGHUP});
    raise(SIGHUP);
    Reports output = reportsOf([&learner] { learner.checkPendingSignals(); });
    EXPECT_TRUE(output.notices.empty() && output.errors.empty());
    EXPECT_EQ(held(ALL, true), std::vector<int>{SIGHUP});

    raise(SIGUSR2);
    fake::failSigwait = true;
    output = reportsOf([&learner] { learner.checkPendingSignals(); });
    fake::failSigwait = false;
    EXPECT_EQ(fake::failedSigwaits, 1);
    EXPECT_EQ(output.errors, Messages{"errno = 22 --> " + std::string(std::strerror(EINVAL))});
    EXPECT_TRUE(output.notices.empty());

    output = reportsOf([&learner] { learner.checkPendingSignals(); });
    EXPECT_EQ(output.errors, Messages{"Unknown signal = " + std::to_string(SIGHUP)});
    EXPECT_EQ(output.notices, Messages{USR2});
    EXPECT_TRUE(held(ALL, true).empty());
}
