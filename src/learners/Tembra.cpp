#include "Tembra.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "Report.h"
#include "Utility.h"
#include "core/AtomicFile.h"
#include "learners/ConfigCodec.h"

namespace {

// ---------------------------------------------------------------------------
// Signal mask bookkeeping of this thread. Learners are usually destroyed in
// the reverse order of their construction, and then each one unblocks just
// what it blocked itself. A learner destroyed while a younger one still
// lives must not unblock the signals under it (they would then be delivered
// with their default action and end the process): its share is kept here
// and released when the thread's last learner goes.

const int CONTROL_SIGNALS[] = {SIGUSR1, SIGUSR2, SIGTERM, SIGINT};

thread_local int blockingLearners = 0;
thread_local sigset_t deferredUnblock;

bool holdsControlSignal(const sigset_t& set) {
    for (const int sig : CONTROL_SIGNALS) {
        if (sigismember(&set, sig) == 1) return true;
    }
    return false;
}

}  // namespace

Tembra::Tembra(const std::string& fileName) : confFileName(fileName) {
    sigemptyset(&oldSigSet);
    sigemptyset(&newSigSet);
    sigemptyset(&pendingSignals);
    setSeed(1);
    // A subclass is not constructed yet: its overrides must not run here.
    Tembra::installSignalHandler();
    Tembra::loadConf();
}

Tembra::~Tembra() { Tembra::removeSignalHandler(); }

void Tembra::controlLoop() {
    if (!checkValueFunction()) {
        TEMBRA_ERROR("valueFunctionPtr not set --> leave controlLoop !!!");
        return;
    }
    while (continueLearning && !sigTermRcvd && !sigIntRcvd) {
        initEpisode();
        continueEpisode = true;
        int sincePoll = 0;
        while (continueEpisode && !sigIntRcvd) {
            step();
            if (++sincePoll >= signalPollInterval) {
                sincePoll = 0;
                checkPendingSignals();
            }
        }
        // The steps since the last poll are polled for at the episode's end,
        // so that SIGTERM always stops learning after the episode it came in.
        if (sincePoll > 0) checkPendingSignals();
        finishEpisode();
    }
}

void Tembra::setSignalPollInterval(const int steps) {
    if (steps < 1) {
        TEMBRA_ERROR("steps = " << steps << " --> the signal poll interval must be at least 1 (it stays "
                                << signalPollInterval << ")");
        return;
    }
    signalPollInterval = steps;
}

void Tembra::finishEpisode() { TEMBRA_NOTICE("episode = " << episodes << "  steps = " << steps); }

const bool Tembra::randomAction() const { return getNextDouble() < EPSILON; }

// ---------------------------------------------------------------------------
// Configuration file

void Tembra::saveConf() const {
    // The file that was there is replaced only by a complete one.
    tembra_io::AtomicFile file(confFileName);
    if (!file.isOpen()) {
        TEMBRA_NOTICE("Was not able to create file (" << confFileName << ")");
        return;
    }
    std::ostringstream text;
    ConfigCodec::write(text, {ALPHA, LAMBDA, GAMMA, ACTION_SELECTION, EPSILON, TEMPERATURE, TRACES, TRACE_VALUE});
    const std::string bytes = text.str();
    // A full disk would otherwise go without a word.
    if (std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size() || !file.commit())
        TEMBRA_ERROR("Was not able to write file (" << confFileName << ")");
}

void Tembra::loadConf() {
    std::ifstream file(confFileName.c_str(), std::ios::in);
    if (!file.is_open()) {
        TEMBRA_NOTICE("File (" << confFileName << ") didn't exist --> create");
        saveConf();
        return;
    }
    ConfigCodec::Values values = {ALPHA, LAMBDA, GAMMA, ACTION_SELECTION, EPSILON, TEMPERATURE, TRACES, TRACE_VALUE};
    const char* const function = __func__;
    ConfigCodec::read(file, values,
                      [function](const std::string& message) { TEMBRA_ERROR_AT(function, __LINE__, message); });
    ALPHA = values.ALPHA;
    LAMBDA = values.LAMBDA;
    GAMMA = values.GAMMA;
    ACTION_SELECTION = static_cast<ACTION_SELECTION_TYPE>(values.ACTION_SELECTION);
    EPSILON = values.EPSILON;
    TEMPERATURE = values.TEMPERATURE;
    TRACES = static_cast<TRACE_TYPE>(values.TRACES);
    TRACE_VALUE = values.TRACE_VALUE;
    // Opened but not readable (a directory, a failing disk): say so rather
    // than go on as if the file had been read.
    if (file.bad()) TEMBRA_ERROR("Was not able to read file (" << confFileName << ")");
}

// ---------------------------------------------------------------------------
// Signal control

void Tembra::installSignalHandler() {
    sigemptyset(&oldSigSet);
    sigemptyset(&newSigSet);
    for (const int sig : CONTROL_SIGNALS) sigaddset(&newSigSet, sig);
    if (sigprocmask(SIG_BLOCK, &newSigSet, &oldSigSet) == -1) {
        TEMBRA_ERROR("sigprocmask --> errno = " << errno << " - " << std::strerror(errno));
        // Nothing was blocked, so the destructor must unblock nothing: the
        // signals may be blocked by someone else who relies on that.
        sigemptyset(&oldSigSet);
        sigemptyset(&newSigSet);
    } else {
        if (blockingLearners == 0) sigemptyset(&deferredUnblock);
        ++blockingLearners;
    }
    sigemptyset(&pendingSignals);
}

void Tembra::removeSignalHandler() {
    // A learner whose blocking failed holds nothing and was not counted.
    const bool counted = holdsControlSignal(newSigSet);
    // Signals that were blocked before this learner stay blocked.
    for (const int sig : CONTROL_SIGNALS) {
        if (sigismember(&oldSigSet, sig) == 1) sigdelset(&newSigSet, sig);
    }
    if (!counted) return;

    sigset_t unblock = newSigSet;
    if (blockingLearners > 1) {
        --blockingLearners;
        for (const int sig : CONTROL_SIGNALS) {
            if (sigismember(&newSigSet, sig) == 1) sigaddset(&deferredUnblock, sig);
        }
        return;
    }
    if (blockingLearners == 1) {
        blockingLearners = 0;
        for (const int sig : CONTROL_SIGNALS) {
            if (sigismember(&deferredUnblock, sig) == 1) sigaddset(&unblock, sig);
        }
        sigemptyset(&deferredUnblock);
    }
    if (sigprocmask(SIG_UNBLOCK, &unblock, nullptr) == -1) {
        TEMBRA_ERROR("sigprocmask --> errno = " << errno << " - " << std::strerror(errno));
    }
}

void Tembra::checkPendingSignals() {
    if (sigpending(&pendingSignals) == -1) {
        TEMBRA_ERROR("sigpending --> errno = " << errno << " - " << std::strerror(errno));
        sigemptyset(&pendingSignals);
        return;
    }
    while (holdsControlSignal(pendingSignals)) {
        int sig = 0;
        // sigwait gives its error as the result and leaves errno alone.
        const int error = sigwait(&pendingSignals, &sig);
        if (error != 0) {
            // The set is unchanged, so waiting again would fail again:
            // leave the poll instead of spinning.
            TEMBRA_ERROR("errno = " << error << " --> " << std::strerror(error));
            return;
        }
        switch (sig) {
            case SIGUSR1: sigUsr1(); break;
            case SIGUSR2: sigUsr2(); break;
            case SIGTERM: sigTerm(); break;
            case SIGINT: sigInt(); break;
            default: TEMBRA_ERROR("Unknown signal = " << sig); break;
        }
        if (sigdelset(&pendingSignals, sig) == -1) return;
    }
}

void Tembra::sigUsr1() {
    TEMBRA_NOTICE("SIGUSR1 received --> load configuration");
    loadConf();
}

void Tembra::sigUsr2() { TEMBRA_NOTICE("SIGUSR2 received --> nothing implemented here!"); }

void Tembra::sigTerm() {
    TEMBRA_NOTICE("SIGTERM received --> stop learning (after episode)");
    sigTermRcvd = true;
}

void Tembra::sigInt() {
    TEMBRA_NOTICE("SIGINT received --> stop learning (after step)");
    sigIntRcvd = true;
}
