#include "Watkins.h"

#include "core/ReportTexts.h"
#include "learners/Steps.h"
#include "Report.h"

Watkins::Watkins(const std::string& fileName) : Tembra(fileName), avfPtr(nullptr) {}

Watkins::~Watkins() {
    delete avfPtr;
    avfPtr = nullptr;
}

const bool Watkins::checkValueFunction() const { return avfPtr != nullptr; }

void Watkins::controlLoop() {
    const std::string unusable = tembra_steps::whyActionsUnusable(avfPtr);
    if (!unusable.empty()) {
        TEMBRA_ERROR(unusable);
        return;
    }
    Tembra::controlLoop();
}

void Watkins::initEpisode() {
    episodes = episodes + 1;
    steps = 0;
    tembra_steps::clearEpisodeRecords(*avfPtr, TRACES);
    setInitialState();
    avfPtr->setState();
    // Every episode starts greedy; exploration happens at the start of a step.
    value = avfPtr->setGreedyActionIndex();
}

void Watkins::step() {
    steps = steps + 1;
    if (!explore()) TEMBRA_ERROR(tembra_steps::UNKNOWN_ACTION_SELECTION << static_cast<int>(ACTION_SELECTION));
    if (!tembra_steps::markPresentState(*avfPtr, TRACES, TRACE_VALUE)) TEMBRA_ERROR(tembra_steps::UNKNOWN_TRACE_TYPE);
    takeAction();
    continueEpisode = observeState();
    avfPtr->setState();
    const double reward = calculateReward();
    double delta = reward - value;
    if (continueEpisode) {
        value = avfPtr->setGreedyActionIndex();
        delta = delta + value * GAMMA;
    }
    avfPtr->updateWeights(ALPHA, delta);
    if (continueEpisode) value = avfPtr->getActionValue(avfPtr->getActiveActionIndex());
}

// Exploration replaces the greedy action chosen at the end of the last
// step. Leaving the greedy policy cuts the traces, since what follows no
// longer says anything about the greedy policy's earlier choices; staying
// on it decays them.
bool Watkins::explore() {
    switch (ACTION_SELECTION) {
        case GREEDY:
            if (TRACES != NONE) avfPtr->updateEligibilityTraces(GAMMA, LAMBDA);
            return true;
        case EPSILON_GREEDY:
            if (randomAction()) {
                value = avfPtr->setRandomActionIndex();
                // Cut even when the draw repeats the greedy action.
                if (TRACES != NONE) avfPtr->initEligibilityTraces();
            } else if (TRACES != NONE) {
                avfPtr->updateEligibilityTraces(GAMMA, LAMBDA);
            }
            return true;
        case SOFTMAX: {
            const int greedyIndex = avfPtr->getActiveActionIndex();
            value = avfPtr->setSoftMaxActionIndex(TEMPERATURE);
            if (TRACES == NONE) return true;
            if (avfPtr->getActiveActionIndex() == greedyIndex) {
                avfPtr->updateEligibilityTraces(GAMMA, LAMBDA);
            } else {
                avfPtr->initEligibilityTraces();
            }
            return true;
        }
    }
    return false;
}
