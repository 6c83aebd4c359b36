#include "Sarsa.h"

#include "core/ReportTexts.h"
#include "learners/Steps.h"
#include "Report.h"

Sarsa::Sarsa(const std::string& fileName) : Tembra(fileName), avfPtr(nullptr) {}

Sarsa::~Sarsa() {
    delete avfPtr;
    avfPtr = nullptr;
}

const bool Sarsa::checkValueFunction() const { return avfPtr != nullptr; }

void Sarsa::controlLoop() {
    const std::string unusable = tembra_steps::whyActionsUnusable(avfPtr);
    if (!unusable.empty()) {
        TEMBRA_ERROR(unusable);
        return;
    }
    Tembra::controlLoop();
}

void Sarsa::selectAction() {
    switch (ACTION_SELECTION) {
        case GREEDY: value = avfPtr->setGreedyActionIndex(); break;
        case EPSILON_GREEDY:
            value = randomAction() ? avfPtr->setRandomActionIndex() : avfPtr->setGreedyActionIndex();
            break;
        case SOFTMAX: value = avfPtr->setSoftMaxActionIndex(TEMPERATURE); break;
        default: TEMBRA_ERROR(tembra_steps::UNKNOWN_ACTION_SELECTION << static_cast<int>(ACTION_SELECTION)); break;
    }
}

void Sarsa::initEpisode() {
    episodes = episodes + 1;
    steps = 0;
    tembra_steps::clearEpisodeRecords(*avfPtr, TRACES);
    setInitialState();
    avfPtr->setState();
    selectAction();
}

void Sarsa::step() {
    steps = steps + 1;
    // The trace of the present state with the action about to be taken.
    if (TRACES != NONE) avfPtr->updateEligibilityTraces(GAMMA, LAMBDA);
    if (!tembra_steps::markPresentState(*avfPtr, TRACES, TRACE_VALUE)) TEMBRA_ERROR(tembra_steps::UNKNOWN_TRACE_TYPE);
    takeAction();
    continueEpisode = observeState();
    avfPtr->setState();
    const double reward = calculateReward();
    double delta = reward - value;
    // On-policy: the next action is chosen now and bootstraps the update;
    // a terminal state is worth 0 and chooses nothing.
    if (continueEpisode) {
        selectAction();
        delta = delta + value * GAMMA;
    }
    avfPtr->updateWeights(ALPHA, delta);
    if (continueEpisode) value = avfPtr->getActionValue(avfPtr->getActiveActionIndex());
}
