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
using test_support::reportMessages;
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

struct LoopOutput {
    Messages notices;
    Messages errors;
};

LoopOutput capture(const std::function<void()>& action) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    action();
    LoopOutput output;
    output.errors = reportMessages(testing::internal::GetCapturedStderr());
    output.notices = reportMessages(testing::internal::GetCapturedStdout());
    return output;
}

LoopOutput runLoop(ProbeLearner& learner) {
    return capture([&learner] { learner.controlLoop(); });
}

// Raises sig once, inside the given step of the given episode.
void raiseAt(ProbeLearner& learner, int episode, int step, std::vector<int> sigs) {
    learner.duringStep = [episode, step, sigs](ProbeLearner& l) {
        if (l.episodes == episode && l.steps == step) {
            for (const int sig : sigs) raise(sig);
        }
    };
}

void stopAfterEpisode(ProbeLearner& learner, int episode) {
    learner.afterEpisode = [episode](ProbeLearner& l) {
        if (l.episodes == episode) l.continueLearning = false;
    };
}

const std::string USR1_NOTICE = "SIGUSR1 received --> load configuration";
const std::string USR2_NOTICE = "SIGUSR2 received --> nothing implemented here!";
const std::string TERM_NOTICE = "SIGTERM received --> stop learning (after episode)";
const std::string INT_NOTICE = "SIGINT received --> stop learning (after step)";

}  // namespace

// --- The signal mask ---------------------------------------------------------

TEST(Signals, TheLearnerBlocksTheFourSignalsForItsLifetimeAndRestoresTheMask) {
    SignalScope scope;
    TempDir dir;
    const sigset_t before = currentMask();
    {
        ProbeLearner learner(dir.file("learner.conf"));
        for (const int sig : CONTROL) EXPECT_TRUE(isBlocked(sig)) << sig;
        EXPECT_FALSE(isBlocked(SIGHUP));
    }
    EXPECT_TRUE(sameMask(currentMask(), before));
}

TEST(Signals, SignalsBlockedBeforeConstructionStayBlocked) {
    SignalScope scope;
    TempDir dir;
    sigset_t mine;
    sigemptyset(&mine);
    sigaddset(&mine, SIGUSR2);
    sigaddset(&mine, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &mine, nullptr);
    { ProbeLearner learner(dir.file("learner.conf")); }
    EXPECT_TRUE(isBlocked(SIGUSR2));
    EXPECT_TRUE(isBlocked(SIGTERM));
    EXPECT_FALSE(isBlocked(SIGUSR1));
    EXPECT_FALSE(isBlocked(SIGINT));
}

TEST(Signals, NestedLearnersLeaveTheSignalsBlockedUntilTheOuterOneGoes) {
    SignalScope scope;
    TempDir dir;
    std::unique_ptr<ProbeLearner> outer(new ProbeLearner(dir.file("outer.conf")));
    { ProbeLearner inner(dir.file("inner.conf")); }
    for (const int sig : CONTROL) ASSERT_TRUE(isBlocked(sig)) << sig;
    raise(SIGUSR2);
    const LoopOutput output = capture([&outer] { outer->checkPendingSignals(); });
    EXPECT_EQ(output.notices, Messages{USR2_NOTICE});
    outer.reset();
    for (const int sig : CONTROL) EXPECT_FALSE(isBlocked(sig)) << sig;
}

TEST(Signals, ALearnerOutlivingAnOlderOneKeepsItsSignalsBlocked) {
    // Replacing a learner (build the new one, then delete the old one) must
    // not unblock the signals under the new one: a SIGINT would then end
    // the process instead of the learning.
    SignalScope scope;
    TempDir dir;
    std::unique_ptr<ProbeLearner> older(new ProbeLearner(dir.file("older.conf")));
    std::unique_ptr<ProbeLearner> younger(new ProbeLearner(dir.file("younger.conf")));
    older.reset();
    for (const int sig : CONTROL) ASSERT_TRUE(isBlocked(sig)) << sig;

    raiseAt(*younger, 1, 1, {SIGINT});
    younger->episodeLength = 4;
    const LoopOutput output = runLoop(*younger);
    EXPECT_EQ(output.notices, (Messages{INT_NOTICE, "episode = 1  steps = 1"}));
    younger.reset();
    for (const int sig : CONTROL) EXPECT_FALSE(isBlocked(sig)) << sig;
}

TEST(Signals, FailedBlockingIsReportedAndUnblocksNothingLater) {
    SignalScope scope;
    TempDir dir;
    sigset_t mine;
    sigemptyset(&mine);
    sigaddset(&mine, SIGINT);
    pthread_sigmask(SIG_BLOCK, &mine, nullptr);

    std::unique_ptr<ProbeLearner> learner;
    fake::failSigprocmask = true;
    const LoopOutput output = capture([&] { learner.reset(new ProbeLearner(dir.file("learner.conf"))); });
    fake::failSigprocmask = false;
    EXPECT_EQ(output.errors,
              Messages{"sigprocmask --> errno = 22 - " + std::string(std::strerror(EINVAL))});
    EXPECT_FALSE(isBlocked(SIGUSR1));
    learner.reset();
    EXPECT_TRUE(isBlocked(SIGINT));  // blocked by someone else, not the learner
}

TEST(Signals, FailedUnblockingIsReported) {
    SignalScope scope;
    TempDir dir;
    std::unique_ptr<ProbeLearner> learner(new ProbeLearner(dir.file("learner.conf")));
    fake::failSigprocmask = true;
    const LoopOutput output = capture([&] { learner.reset(); });
    fake::failSigprocmask = false;
    EXPECT_EQ(output.errors,
              Messages{"sigprocmask --> errno = 22 - " + std::string(std::strerror(EINVAL))});
}

// --- Signals during learning -------------------------------------------------

TEST(Signals, SigintDuringStepFiveOfEpisodeTwoEndsLearningAfterThatStep) {
    SignalScope scope;
    TempDir dir;
    ProbeLearner learner(dir.file("learner.conf"));
    learner.episodeLength = 10;
    raiseAt(learner, 2, 5, {SIGINT});
    const LoopOutput output = runLoop(learner);
    EXPECT_EQ(output.notices, (Messages{"episode = 1  steps = 10", INT_NOTICE, "episode = 2  steps = 5"}));
    EXPECT_TRUE(output.errors.empty());
    EXPECT_TRUE(learner.sigIntRcvd);
    EXPECT_FALSE(learner.sigTermRcvd);
    EXPECT_EQ(learner.episodes, 2);
    EXPECT_EQ(learner.count("step"), 15);

    // The flag stays: a later controlLoop starts no episode.
    learner.calls.clear();
    const LoopOutput again = runLoop(learner);
    EXPECT_TRUE(learner.calls.empty());
    EXPECT_TRUE(again.notices.empty());
    EXPECT_TRUE(again.errors.empty());
}

TEST(Signals, SigtermMidEpisodeLetsTheEpisodeRunToItsEnd) {
    SignalScope scope;
    TempDir dir;
    ProbeLearner learner(dir.file("learner.conf"));
    learner.episodeLength = 6;
    raiseAt(learner, 1, 2, {SIGTERM});
    const LoopOutput output = runLoop(learner);
    EXPECT_EQ(output.notices, (Messages{TERM_NOTICE, "episode = 1  steps = 6"}));
    EXPECT_TRUE(learner.sigTermRcvd);
    EXPECT_FALSE(learner.sigIntRcvd);
    EXPECT_EQ(learner.count("initEpisode"), 1);

    learner.calls.clear();
    runLoop(learner);
    EXPECT_TRUE(learner.calls.empty());
}

TEST(Signals, ASignalSentBeforeControlLoopIsHandledAtItsFirstPoll) {
    SignalScope scope;
    TempDir dir;
    ProbeLearner learner(dir.file("learner.conf"));
    raise(SIGTERM);
    const LoopOutput output = runLoop(learner);
    EXPECT_EQ(output.notices, (Messages{TERM_NOTICE, "episode = 1  steps = 3"}));
}

TEST(Signals, SigtermAndSigintPendingTogetherAreBothHandled) {
    SignalScope scope;
    TempDir dir;
    ProbeLearner learner(dir.file("learner.conf"));
    learner.episodeLength = 5;
    raiseAt(learner, 1, 2, {SIGTERM, SIGINT});
    LoopOutput output = runLoop(learner);
    ASSERT_EQ(output.notices.size(), 3u);
    EXPECT_EQ(output.notices[2], "episode = 1  steps = 2");
    Messages handled(output.notices.begin(), output.notices.begin() + 2);
    std::sort(handled.begin(), handled.end());
    EXPECT_EQ(handled, (Messages{INT_NOTICE, TERM_NOTICE}));
    EXPECT_TRUE(learner.sigTermRcvd);
    EXPECT_TRUE(learner.sigIntRcvd);
}

TEST(Signals, SigusrOneReloadsTheEditedFileBeforeTheNextStep) {
    SignalScope scope;
    TempDir dir;
    const std::string path = dir.file("learner.conf");
    ProbeLearner learner(path);
    learner.episodeLength = 6;
    stopAfterEpisode(learner, 1);
    learner.duringStep = [&path](ProbeLearner& l) {
        if (l.steps == 3) {
            writeText(path, "ALPHA 0.5\nTRACES NONE\n");
            kill(getpid(), SIGUSR1);  // sent to the process, as from a shell
        }
    };
    const LoopOutput output = runLoop(learner);
    EXPECT_EQ(output.notices, (Messages{USR1_NOTICE, "episode = 1  steps = 6"}));
    EXPECT_EQ(learner.alphaPerStep, (std::vector<double>{0.1, 0.1, 0.1, 0.5, 0.5, 0.5}));
    EXPECT_EQ(learner.TRACES, Tembra::NONE);
    EXPECT_EQ(learner.GAMMA, 0.9);  // not in the file: unchanged
    EXPECT_FALSE(learner.sigTermRcvd);
    EXPECT_FALSE(learner.sigIntRcvd);
}

TEST(Signals, SigusrOneAfterTheFileWasDeletedWritesItAgain) {
    SignalScope scope;
    TempDir dir;
    const std::string path = dir.file("learner.conf");
    ProbeLearner learner(path);
    stopAfterEpisode(learner, 1);
    learner.duringStep = [&path](ProbeLearner& l) {
        if (l.steps == 2) {
            l.ALPHA = 0.3;
            std::remove(path.c_str());
            raise(SIGUSR1);
        }
    };
    const LoopOutput output = runLoop(learner);
    EXPECT_EQ(output.notices, (Messages{USR1_NOTICE, "File (" + path + ") didn't exist --> create",
                                        "episode = 1  steps = 3"}));
    EXPECT_EQ(readText(path),
              "ALPHA 0.3\nLAMBDA 0.5\nGAMMA 0.9\nACTION_SELECTION GREEDY\n"
              "EPSILON 0.1\nTEMPERATURE 0.5\nTRACES REPLACING\nTRACE_VALUE 1\n");
}

TEST(Signals, SigusrTwoGivesOneNoticeAndChangesNothing) {
    SignalScope scope;
    TempDir dir;
    const std::string path = dir.file("learner.conf");
    writeText(path, "ALPHA 0.2\n");
    ProbeLearner learner(path);
    stopAfterEpisode(learner, 2);
    learner.duringStep = [&path](ProbeLearner& l) {
        if (l.episodes == 1 && l.steps == 2) {
            writeText(path, "ALPHA 0.7\n");  // must not be read
            raise(SIGUSR2);
        }
    };
    const LoopOutput output = runLoop(learner);
    EXPECT_EQ(output.notices, (Messages{USR2_NOTICE, "episode = 1  steps = 3", "episode = 2  steps = 3"}));
    EXPECT_TRUE(output.errors.empty());
    EXPECT_EQ(learner.ALPHA, 0.2);
    EXPECT_FALSE(learner.sigTermRcvd);
    EXPECT_FALSE(learner.sigIntRcvd);
}

TEST(Signals, TheSameSignalThreeTimesInOneStepIsHandledOnce) {
    SignalScope scope;
    TempDir dir;
    ProbeLearner learner(dir.file("learner.conf"));
    learner.episodeLength = 4;
    raiseAt(learner, 1, 2, {SIGUSR2, SIGUSR2, SIGUSR2, SIGTERM, SIGTERM, SIGTERM});
    const LoopOutput output = runLoop(learner);
    ASSERT_EQ(output.notices.size(), 3u);
    Messages handled(output.notices.begin(), output.notices.begin() + 2);
    std::sort(handled.begin(), handled.end());
    EXPECT_EQ(handled, (Messages{TERM_NOTICE, USR2_NOTICE}));
    EXPECT_EQ(output.notices[2], "episode = 1  steps = 4");
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
    const LoopOutput output = runLoop(learner);
    EXPECT_EQ(learner.usr2Calls, 1);
    EXPECT_EQ(output.notices, Messages{"episode = 1  steps = 2"});
}

// --- The poll itself ---------------------------------------------------------

TEST(Signals, AnotherBlockedSignalIsLeftAloneUnlessTheWaitConsumesIt) {
    SignalScope scope;
    TempDir dir;
    ProbeLearner learner(dir.file("learner.conf"));
    sigset_t hangup;
    sigemptyset(&hangup);
    sigaddset(&hangup, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &hangup, nullptr);

    // Alone, it is not touched.
    raise(SIGHUP);
    LoopOutput output = capture([&learner] { learner.checkPendingSignals(); });
    EXPECT_TRUE(output.notices.empty());
    EXPECT_TRUE(output.errors.empty());
    EXPECT_TRUE(isPending(SIGHUP));

    // Pending with one of the four, it is part of the wait set; Linux hands
    // out the lowest signal number first, so it is consumed and reported.
    raise(SIGUSR2);
    output = capture([&learner] { learner.checkPendingSignals(); });
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
    const LoopOutput output = capture([&learner] { learner.checkPendingSignals(); });
    fake::failSigwait = false;
    EXPECT_EQ(fake::failedSigwaits, 1);
    EXPECT_EQ(output.errors, Messages{"errno = 22 --> " + std::string(std::strerror(EINVAL))});
    EXPECT_TRUE(output.notices.empty());

    // The signal is still pending and the next poll handles it.
    const LoopOutput next = capture([&learner] { learner.checkPendingSignals(); });
    EXPECT_EQ(next.notices, Messages{USR2_NOTICE});
    EXPECT_FALSE(isPending(SIGUSR2));
}
