#include "TD.h"

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
    if (TRACES != NONE) svfPtr->initEligibilityTraces();
    if (svfPtr->getEpisodeStateHistory()) svfPtr->initEpisodeStateHistory();
    setInitialState();
    svfPtr->setState();
    value = svfPtr->getStateValue();
}

void TD::step() {
    steps = steps + 1;
    // The trace of the state being left, before the action is taken.
    if (TRACES == NONE) {
        svfPtr->storeState();
    } else {
        svfPtr->updateEligibilityTraces(GAMMA, LAMBDA);
        if (TRACES == REPLACING) {
            svfPtr->replacingTraces(TRACE_VALUE);
        } else if (TRACES == ACCUMULATING) {
            svfPtr->accumulatingTraces(TRACE_VALUE);
        } else {
            TEMBRA_ERROR("Unknown Tracetype!");
        }
    }
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
