#include "StateTileCoding.h"

#include <cfloat>

#include "Report.h"

StateTileCoding::StateTileCoding(State* aStatePtr) : StateValueFunction(aStatePtr), TileCoding() {
    ValueFunction::value = 0.0;
    initWeightsFunctionPtr = &ValueFunction::getValue;
}

StateTileCoding::StateTileCoding(const std::string& fileName) : StateValueFunction(nullptr), TileCoding() {
    (void)load(fileName);
}

StateTileCoding::~StateTileCoding() = default;

void StateTileCoding::initWeights(const double (*initFunctionPtr)()) { TileCoding::initWeights(initFunctionPtr); }

void StateTileCoding::initEligibilityTraces() { TileCoding::initEligibilityTraces(); }

void StateTileCoding::updateWeights(const double ALPHA, const double DELTA) { TileCoding::updateWeights(ALPHA, DELTA); }

void StateTileCoding::updateEligibilityTraces(const double GAMMA, const double LAMBDA) {
    TileCoding::updateEligibilityTraces(GAMMA, LAMBDA);
}

const double StateTileCoding::getMinWeight() const { return TileCoding::getMinWeight(); }

const double StateTileCoding::getAvgWeight(const bool abs) const { return TileCoding::getAvgWeight(abs); }

const double StateTileCoding::getMaxWeight() const { return TileCoding::getMaxWeight(); }

void StateTileCoding::setState() { TileCoding::setState(); }

void StateTileCoding::initEpisodeStateHistory() { TileCoding::initEpisodeStateHistory(); }

void StateTileCoding::valueEpisode(const double value) { TileCoding::valueEpisode(value); }

const int StateTileCoding::save(FILE* file) const { return TileCoding::save(file); }

void StateTileCoding::registerTiling(StateTilings* stateTilingPtr) {
    if (stateTilingPtr == nullptr) {
        TEMBRA_ERROR("stateTilingPtr == 0 --> nothing to register");
        return;
    }
    if (isRegistered(stateTilingPtr)) {
        TEMBRA_ERROR("Tiling already registered --> ignored");
        return;
    }
    stateTilingPtr->create(statePtr);
    if (stateTilingPtr->hasWeights()) stateTilingPtr->initWeights(initWeightsFunctionPtr);
    if (!appendTiling(stateTilingPtr)) TEMBRA_ERROR("Tiling refused --> not registered (and deleted)");
}

const double StateTileCoding::getStateValue() const {
    double value = 0.0;
    for (const Tilings* tilingPtr : tilingPtrList)
        value += static_cast<const StateTilings*>(tilingPtr)->getStateValue();
    return value;
}

void StateTileCoding::replacingTraces(const double VALUE) {
    for (Tilings* tilingPtr : tilingPtrList) static_cast<StateTilings*>(tilingPtr)->replacingTraces(VALUE);
    if (episodeStateHistory) {
        for (Tilings* tilingPtr : tilingPtrList) static_cast<StateTilings*>(tilingPtr)->storeEpisodeState();
    }
}

void StateTileCoding::accumulatingTraces(const double VALUE) {
    for (Tilings* tilingPtr : tilingPtrList) static_cast<StateTilings*>(tilingPtr)->accumulatingTraces(VALUE);
    if (episodeStateHistory) {
        for (Tilings* tilingPtr : tilingPtrList) static_cast<StateTilings*>(tilingPtr)->storeEpisodeState();
    }
}

void StateTileCoding::storeState() {
    for (Tilings* tilingPtr : tilingPtrList) static_cast<StateTilings*>(tilingPtr)->storeActiveTiles();
    if (episodeStateHistory) {
        for (Tilings* tilingPtr : tilingPtrList) static_cast<StateTilings*>(tilingPtr)->storeEpisodeState();
    }
}

void StateTileCoding::checkWeightLimit() {
    if (minWeightLimit > -DBL_MAX || maxWeightLimit < DBL_MAX) {
        for (Tilings* tilingPtr : tilingPtrList) tilingPtr->checkWeightLimit(minWeightLimit, maxWeightLimit);
    }
}

const int StateTileCoding::load(FILE* file) {
    freeMemory();
    if (!stateTileable(statePtr, __func__, __LINE__)) return -1;
    const long long listSize = readListSize(file, __func__, __LINE__);
    if (listSize < 0) return -1;
    for (long long i = 0; i < listSize; ++i) {
        if (!appendTiling(new StateTilings(statePtr, file))) {
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
