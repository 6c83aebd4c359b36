#include "ActionTileCoding.h"

#include <cfloat>

#include "Report.h"

ActionTileCoding::ActionTileCoding(State* aStatePtr) : ActionValueFunction(aStatePtr), TileCoding() {
    ValueFunction::value = 0.0;
    initWeightsFunctionPtr = &ValueFunction::getValue;
}

ActionTileCoding::ActionTileCoding(const std::string& fileName) : ActionValueFunction(nullptr), TileCoding() {
    (void)load(fileName);
}

ActionTileCoding::~ActionTileCoding() = default;

void ActionTileCoding::initWeights(const double (*initFunctionPtr)()) { TileCoding::initWeights(initFunctionPtr); }

void ActionTileCoding::initEligibilityTraces() { TileCoding::initEligibilityTraces(); }

void ActionTileCoding::updateWeights(const double ALPHA, const double DELTA) {
    TileCoding::updateWeights(ALPHA, DELTA);
}

void ActionTileCoding::updateEligibilityTraces(const double GAMMA, const double LAMBDA) {
    TileCoding::updateEligibilityTraces(GAMMA, LAMBDA);
}

const double ActionTileCoding::getMinWeight() const { return TileCoding::getMinWeight(); }

const double ActionTileCoding::getAvgWeight(const bool abs) const { return TileCoding::getAvgWeight(abs); }

const double ActionTileCoding::getMaxWeight() const { return TileCoding::getMaxWeight(); }

void ActionTileCoding::setState() { TileCoding::setState(); }

void ActionTileCoding::initEpisodeStateHistory() { TileCoding::initEpisodeStateHistory(); }

void ActionTileCoding::valueEpisode(const double value) { TileCoding::valueEpisode(value); }

const int ActionTileCoding::save(FILE* file) const { return TileCoding::save(file); }

const bool ActionTileCoding::checkActiveAction(const char* function, const int line) const {
    if (activeActionIndex < 0 || activeActionIndex >= ACTIONS) {
        TEMBRA_ERROR_AT(function, line,
                        "actionIndex[" << activeActionIndex << "] out of bounds [ 0, " << ACTIONS << ")");
        return false;
    }
    return true;
}

void ActionTileCoding::registerTiling(ActionTilings* actionTilingPtr) {
    if (actionTilingPtr == nullptr) {
        TEMBRA_ERROR("actionTilingPtr == 0 --> nothing to register");
        return;
    }
    if (isRegistered(actionTilingPtr)) {
        TEMBRA_ERROR("Tiling already registered --> ignored");
        return;
    }
    actionTilingPtr->create(statePtr, ACTIONS);
    if (actionTilingPtr->hasWeights()) actionTilingPtr->initWeights(initWeightsFunctionPtr);
    if (!appendTiling(actionTilingPtr)) TEMBRA_ERROR("Tiling refused --> not registered (and deleted)");
}

const double ActionTileCoding::getActionValue(int actionIndex) const {
    if (actionIndex < 0 || actionIndex >= ACTIONS) {
        TEMBRA_ERROR("actionIndex[" << actionIndex << "] out of bounds [ 0, " << ACTIONS << ")");
        return 0.0;
    }
    double value = 0.0;
    for (const Tilings* tilingPtr : tilingPtrList) {
        value += static_cast<const ActionTilings*>(tilingPtr)->getActionValue(actionIndex);
    }
    return value;
}

void ActionTileCoding::setActionValue(int actionIndex, const double value) {
    if (actionIndex < 0 || actionIndex >= ACTIONS) {
        TEMBRA_ERROR("actionIndex[" << actionIndex << "] out of bounds [ 0, " << ACTIONS << ")");
        return;
    }
    for (Tilings* tilingPtr : tilingPtrList) static_cast<ActionTilings*>(tilingPtr)->setActionValue(actionIndex, value);
}

void ActionTileCoding::replacingTraces(const double VALUE) {
    if (!checkActiveAction(__func__, __LINE__)) return;
    for (Tilings* tilingPtr : tilingPtrList) {
        static_cast<ActionTilings*>(tilingPtr)->replacingTraces(VALUE, activeActionIndex);
    }
    if (episodeStateHistory) {
        for (Tilings* tilingPtr : tilingPtrList)
            static_cast<ActionTilings*>(tilingPtr)->storeEpisodeState(activeActionIndex);
    }
}

void ActionTileCoding::accumulatingTraces(const double VALUE) {
    if (!checkActiveAction(__func__, __LINE__)) return;
    for (Tilings* tilingPtr : tilingPtrList) {
        static_cast<ActionTilings*>(tilingPtr)->accumulatingTraces(VALUE, activeActionIndex);
    }
    if (episodeStateHistory) {
        for (Tilings* tilingPtr : tilingPtrList)
            static_cast<ActionTilings*>(tilingPtr)->storeEpisodeState(activeActionIndex);
    }
}

void ActionTileCoding::storeState() {
    if (!checkActiveAction(__func__, __LINE__)) return;
    for (Tilings* tilingPtr : tilingPtrList)
        static_cast<ActionTilings*>(tilingPtr)->storeActiveTiles(activeActionIndex);
    if (episodeStateHistory) {
        for (Tilings* tilingPtr : tilingPtrList)
            static_cast<ActionTilings*>(tilingPtr)->storeEpisodeState(activeActionIndex);
    }
}

void ActionTileCoding::checkWeightLimit() {
    if (minWeightLimit > -DBL_MAX || maxWeightLimit < DBL_MAX) {
        for (Tilings* tilingPtr : tilingPtrList) tilingPtr->checkWeightLimit(minWeightLimit, maxWeightLimit);
    }
}

void ActionTileCoding::removeAction(int actionIndex) {
    for (Tilings* tilingPtr : tilingPtrList) {
        if (!static_cast<ActionTilings*>(tilingPtr)->removeAction(actionIndex)) {
            TEMBRA_ERROR("Action could not be removed!");
        }
    }
}

const bool ActionTileCoding::addAction() {
    std::list<Tilings*>::iterator grown = tilingPtrList.begin();
    for (; grown != tilingPtrList.end(); ++grown) {
        ActionTilings* group = static_cast<ActionTilings*>(*grown);
        if (group->getNumberOfActions() != ACTIONS || !group->addAction(initWeightsFunctionPtr)) break;
    }
    if (grown == tilingPtrList.end()) return true;
    // Half a tile coding with the action would be worse than none with it.
    for (std::list<Tilings*>::iterator it = tilingPtrList.begin(); it != grown; ++it) {
        (void)static_cast<ActionTilings*>(*it)->removeAction(ACTIONS);
    }
    TEMBRA_ERROR("a group holds " << static_cast<ActionTilings*>(*grown)->getNumberOfActions() << " of " << ACTIONS
                                  << " actions or cannot grow --> action not registered (and deleted)");
    return false;
}

const int ActionTileCoding::load(FILE* file) {
    freeMemory();
    if (!stateTileable(statePtr, __func__, __LINE__)) return -1;
    const long long listSize = readListSize(file, __func__, __LINE__);
    if (listSize < 0) return -1;
    for (long long i = 0; i < listSize; ++i) {
        if (!appendTiling(new ActionTilings(statePtr, ACTIONS, file))) {
            // The group has reported why; the groups read before it are of
            // no use without it.
            TEMBRA_ERROR("Tiling " << i << " of " << listSize << " could not be read");
            freeMemory();
            return -1;
        }
    }
    if (!bodyEnds(file, __func__, __LINE__)) {
        freeMemory();
        return -1;
    }
    return 0;
}
