#include "TD.h"

#include "learners/Steps.h"
#include "Report.h"

TD::TD(const std::string& fileName) : Tembra(fileName), svfPtr(nullptr) {}

TD::~TD() {
    delete svfPtr;
    svfPtr = nullptr;
}

const bool TD::checkValueFunction() const { return svfPtr != nullptr; }

void TD::initEpisode() {
    episodes = episodes + 1;
    steps = 0;
    tembra_steps::clearEpisodeRecords(*svfPtr, TRACES);
    setInitialState();
    svfPtr->setState();
    value = svfPtr->getStateValue();
}

void TD::step() {
    steps = steps + 1;
    // The trace of the state being left, before the action is taken.
    if (TRACES != NONE) svfPtr->updateEligibilityTraces(GAMMA, LAMBDA);
    if (!tembra_steps::markPresentState(*svfPtr, TRACES, TRACE_VALUE)) TEMBRA_ERROR(tembra_steps::UNKNOWN_TRACE_TYPE);
    takeAction();
    continueEpisode = observeState();
    svfPtr->setState();
    const double reward = calculateReward();
    double delta = reward - value;
    // A terminal state is worth 0: nothing to bootstrap from.
    if (continueEpisode) {
        value = svfPtr->getStateValue();
        delta = delta + GAMMA * value;
    }
    svfPtr->updateWeights(ALPHA, delta);
    if (continueEpisode) value = svfPtr->getStateValue();
}
