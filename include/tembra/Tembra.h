#ifndef TEMBRA_TEMBRA_H
#define TEMBRA_TEMBRA_H

#include <signal.h>

#include <string>

#include "Export.h"

// The abstract base of every learner: the eight learning parameters, the
// counters and flags of a run, the configuration file and the control
// signals, and the loop that drives episodes of steps.
//
// One learner per thread: SIGUSR1, SIGUSR2, SIGTERM and SIGINT are blocked
// in the constructing thread for the learner's lifetime and are consumed
// synchronously between steps, so no asynchronous handler ever runs. Every
// random decision draws from the process-wide rand(), which each
// construction reseeds with 1.
class TEMBRA_API Tembra {
public:
    // Fixed underlying types: a value outside the enumerators, set by a
    // subclass, stays well defined and reaches the "Unknown ..." reports.
    enum TRACE_TYPE : int { NONE = 0, REPLACING = 1, ACCUMULATING = 2 };
    enum ACTION_SELECTION_TYPE : int { GREEDY = 0, EPSILON_GREEDY = 1, SOFTMAX = 2 };

    // fileName names the configuration file; it is read, or written with
    // the defaults when it cannot be read.
    explicit Tembra(const std::string& fileName);
    virtual ~Tembra();

    // A learner owns its signal mask and (in the concrete learners) its
    // value function: copies would release both twice.
    Tembra(const Tembra&) = delete;
    Tembra& operator=(const Tembra&) = delete;

    // Runs episodes until continueLearning is cleared or SIGTERM/SIGINT is seen.
    virtual void controlLoop();
    virtual void saveConf() const;
    virtual void loadConf();

    // The control signals are polled after every steps-th step of an
    // episode and always at its end (default 1: after every step). A poll
    // is a system call, which can cost more than a whole step of a small
    // value function; polling less often, say every 64 steps, removes
    // nearly all of that. SIGTERM still stops learning after the episode
    // it arrived in; SIGINT and SIGUSR1 take effect within steps steps.
    // A value below 1 is refused with a report (the interval stays).
    void setSignalPollInterval(const int steps);
    const int getSignalPollInterval() const { return signalPollInterval; }

protected:
    virtual void initEpisode() = 0;
    virtual void step() = 0;
    virtual void finishEpisode();
    // The environment: implemented by the using program.
    virtual void setInitialState() = 0;
    virtual void takeAction() = 0;
    virtual const bool observeState() = 0;
    virtual const double calculateReward() = 0;
    virtual const bool checkValueFunction() const = 0;
    // The epsilon test: true with probability EPSILON, one draw per call.
    virtual const bool randomAction() const;
    virtual void installSignalHandler();
    virtual void removeSignalHandler();
    virtual void checkPendingSignals();
    virtual void sigUsr1();
    virtual void sigUsr2();
    virtual void sigTerm();
    virtual void sigInt();

    double ALPHA = 0.1;
    double LAMBDA = 0.5;
    double GAMMA = 0.9;
    double EPSILON = 0.1;
    TRACE_TYPE TRACES = REPLACING;
    double TRACE_VALUE = 1.0;
    ACTION_SELECTION_TYPE ACTION_SELECTION = GREEDY;
    double TEMPERATURE = 0.5;

    bool continueLearning = true;
    bool continueEpisode = true;
    bool sigTermRcvd = false;
    bool sigIntRcvd = false;
    int episodes = 0;
    int steps = 0;
    // The learners set it in every initEpisode; zero until then, so that
    // reading it early gives a defined value.
    double value = 0.0;

    std::string confFileName;

    sigset_t oldSigSet;
    sigset_t newSigSet;
    sigset_t pendingSignals;

private:
    int signalPollInterval = 1;
};

#endif
