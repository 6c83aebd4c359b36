#include "Sarsa.h"

#include "Report.h"

Sarsa::Sarsa(const std::string& fileName) : Tembra(fileName), avfPtr(nullptr) {}

Sarsa::~Sarsa() {
    delete avfPtr;
    avfPtr = nullptr;
}

const bool Sarsa::checkValueFunction() const { return avfPtr != nullptr; }

void Sarsa::selectAction() {
    switch (ACTION_SELECTION) {
        case GREEDY: value = avfPtr->setGreedyActionIndex(); break;
        case EPSILON_GREEDY:
            value = randomAction() ? avfPtr->setRandomActionIndex() : avfPtr->setGreedyActionIndex();
            break;
        case SOFTMAX: value = avfPtr->setSoftMaxActionIndex(TEMPERATURE); break;
        default: TEMBRA_ERROR("Unknown ACTION_SELECTION " << static_cast<int>(ACTION_SELECTION)); break;
    }
}

void Sarsa::initEpisode() {
    episodes = episodes + 1;
    steps = 0;
    if (TRACES != NONE) avfPtr->initEligibilityTraces();
    if (avfPtr->getEpisodeStateHistory()) avfPtr->initEpisodeStateHistory();
    setInitialState();
    avfPtr->setState();
    selectAction();
}

void Sarsa::step() {
    steps = steps + 1;
    // The trace of the present state with the action about to be taken.
    if (TRACES == NONE) {
        avfPtr->storeState();
    } else {
        avfPtr->updateEligibilityTraces(GAMMA, LAMBDA);
        if (TRACES == REPLACING) {
            avfPtr->replacingTraces(TRACE_VALUE);
        } else if (TRACES == ACCUMULATING) {
            avfPtr->accumulatingTraces(TRACE_VALUE);
        } else {
            TEMBRA_ERROR("Unknown Tracetype!");
        }
    }
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
