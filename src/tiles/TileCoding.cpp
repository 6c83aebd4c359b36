#include "TileCoding.h"

#include <cfloat>
#include <climits>
#include <cstdint>
#include <limits>

#include "core/FileIO.h"
#include "core/ReportTexts.h"
#include "Report.h"

TileCoding::TileCoding() : numberOfTilings(0) {}

TileCoding::~TileCoding() { TileCoding::freeMemory(); }

void TileCoding::freeMemory() {
    for (Tilings* tilingPtr : tilingPtrList) delete tilingPtr;
    tilingPtrList.clear();
    numberOfTilings = 0;
}

const bool TileCoding::isRegistered(const Tilings* tilingPtr) const {
    for (const Tilings* registered : tilingPtrList) {
        if (registered == tilingPtr) return true;
    }
    return false;
}

const bool TileCoding::appendTiling(Tilings* tilingPtr) {
    if (!tilingPtr->hasWeights() || tilingPtr->getNumberOfTilings() > INT_MAX - numberOfTilings) {
        delete tilingPtr;
        return false;
    }
    tilingPtrList.push_back(tilingPtr);
    numberOfTilings += tilingPtr->getNumberOfTilings();
    return true;
}

const long long TileCoding::readListSize(FILE* file, const char* function, const int line) {
    uint32_t listSize = 0;
    if (!tembra_io::readUInt32(file, listSize)) {
        TEMBRA_ERROR_AT(function, line, TEMBRA_ERRNO_NARROW);
        return -1;
    }
    if (!tembra_io::fits(file, listSize, Tilings::MIN_BODY_BYTES)) {
        TEMBRA_ERROR_AT(function, line,
                        "listSize = " << listSize << " --> more groups than the rest of the file can hold");
        return -1;
    }
    return listSize;
}

const bool TileCoding::stateTileable(const State* state, const char* function, const int line) {
    if (state != nullptr && state->getNumberOfVariables() > 0 && state->getType() != State::DOUBLE) {
        TEMBRA_ERROR_AT(function, line,
                        "varType = " << state->getType() << " --> a tile coding needs a State of DOUBLE variables");
        return false;
    }
    return true;
}

const bool TileCoding::bodyEnds(FILE* file, const char* function, const int line) {
    const long long left = tembra_io::bytesLeft(file);
    if (left == 0) return true;
    TEMBRA_ERROR_AT(function, line, tembra_text::bytesAfterBody(left));
    return false;
}

void TileCoding::initWeights(const double (*initFunctionPtr)()) {
    for (Tilings* tilingPtr : tilingPtrList) tilingPtr->initWeights(initFunctionPtr);
}

void TileCoding::initEligibilityTraces() {
    for (Tilings* tilingPtr : tilingPtrList) tilingPtr->initEligibilityTraces();
}

void TileCoding::updateWeights(const double ALPHA, const double DELTA) {
    if (tilingPtrList.empty()) return;
    const double GROUP_ALPHA = ALPHA / numberOfTilings;
    for (Tilings* tilingPtr : tilingPtrList) tilingPtr->updateWeights(GROUP_ALPHA, DELTA);
}

void TileCoding::updateEligibilityTraces(const double GAMMA, const double LAMBDA) {
    for (Tilings* tilingPtr : tilingPtrList) tilingPtr->updateEligibilityTraces(GAMMA, LAMBDA);
}

void TileCoding::setTraceStorage(const Types::TRACE_STORAGE newTraceStorage) {
    for (Tilings* tilingPtr : tilingPtrList) tilingPtr->setTraceStorage(newTraceStorage);
}

const double TileCoding::getMinWeight() const {
    double minWeight = DBL_MAX;
    for (const Tilings* tilingPtr : tilingPtrList) {
        const double groupMin = tilingPtr->getMinWeight();
        if (groupMin < minWeight) minWeight = groupMin;
    }
    return minWeight;
}

const double TileCoding::getAvgWeight(const bool abs) const {
    double sum = 0.0;
    int weightCount = 0;
    for (const Tilings* tilingPtr : tilingPtrList) sum += tilingPtr->getWeightSum(abs, weightCount);
    // No weights, no mean.
    if (weightCount == 0) return std::numeric_limits<double>::quiet_NaN();
    return sum / weightCount;
}

const double TileCoding::getMaxWeight() const {
    double maxWeight = -DBL_MAX;
    for (const Tilings* tilingPtr : tilingPtrList) {
        const double groupMax = tilingPtr->getMaxWeight();
        if (groupMax > maxWeight) maxWeight = groupMax;
    }
    return maxWeight;
}

void TileCoding::setState() {
    for (Tilings* tilingPtr : tilingPtrList) tilingPtr->activateTiles();
}

void TileCoding::initEpisodeStateHistory() {
    for (Tilings* tilingPtr : tilingPtrList) tilingPtr->initEpisodeStateHistory();
}

void TileCoding::valueEpisode(const double value) {
    for (Tilings* tilingPtr : tilingPtrList) tilingPtr->valueEpisode(value);
}

const int TileCoding::save(FILE* file) const {
    if (!tembra_io::writeUInt32(file, static_cast<uint32_t>(tilingPtrList.size()))) {
        TEMBRA_ERROR(TEMBRA_ERRNO_NARROW);
        return -1;
    }
    for (const Tilings* tilingPtr : tilingPtrList) {
        const int r = tilingPtr->save(file);
        if (r != 0) {
            TEMBRA_ERROR("Tiling::save returned " << r);
            return -1;
        }
    }
    return 0;
}
