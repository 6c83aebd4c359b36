#include "StateLookupTable.h"

#include <cfloat>
#include <utility>

#include "core/ReportTexts.h"
#include "Report.h"
#include "valuefunction/TraceStore.h"

StateLookupTable::StateLookupTable(State* aStatePtr) : StateValueFunction(aStatePtr), LookupTable(aStatePtr) {
    initWeightsFunctionPtr = &ValueFunction::getValue;
    ValueFunction::value = 0.0;
    if (buildTable(1, __func__, __LINE__)) LookupTable::initWeights(initWeightsFunctionPtr);
}

StateLookupTable::StateLookupTable(const std::string& fileName) : StateValueFunction(nullptr), LookupTable(nullptr) {
    initWeightsFunctionPtr = &ValueFunction::getValue;
    ValueFunction::value = 0.0;
    (void)StateValueFunction::load(fileName);
    // Also when the body was never reached: the table then reads the
    // State the envelope made and reports its missing weights.
    setStatePtr(ValueFunction::statePtr);
}

StateLookupTable::~StateLookupTable() = default;

void StateLookupTable::initWeights(const double (*initFunctionPtr)()) { LookupTable::initWeights(initFunctionPtr); }

void StateLookupTable::initEligibilityTraces() { LookupTable::initEligibilityTraces(); }

void StateLookupTable::updateWeights(const double ALPHA, const double DELTA) {
    LookupTable::updateWeights(ALPHA, DELTA);
}

void StateLookupTable::updateEligibilityTraces(const double GAMMA, const double LAMBDA) {
    LookupTable::updateEligibilityTraces(GAMMA, LAMBDA);
}

const double StateLookupTable::getMinWeight() const { return LookupTable::getMinWeight(); }

const double StateLookupTable::getAvgWeight(const bool abs) const { return LookupTable::getAvgWeight(abs); }

const double StateLookupTable::getMaxWeight() const { return LookupTable::getMaxWeight(); }

void StateLookupTable::setState() { LookupTable::setState(); }

void StateLookupTable::initEpisodeStateHistory() { LookupTable::initEpisodeStateHistory(); }

void StateLookupTable::valueEpisode(const double value) { LookupTable::valueEpisode(value); }

void StateLookupTable::checkWeightLimit() { checkWeightLimit(minWeightLimit, maxWeightLimit); }

const int StateLookupTable::save(FILE* file) const { return LookupTable::save(file); }

const int StateLookupTable::load(FILE* file) {
    setStatePtr(ValueFunction::statePtr);
    return LookupTable::load(file);
}

const double StateLookupTable::getStateValue() const {
    if (weights == nullptr) {
        TEMBRA_ERROR(tembra_text::NO_WEIGHTS);
        return DBL_MAX;
    }
    if (activeIndex < 0 || activeIndex >= ARRAY_SIZE) return 0.0;
    return weights[activeIndex];
}

void StateLookupTable::storeState() {
    storeActiveIndex();
    storeEpisodeState();
}

void StateLookupTable::storeActiveIndex() { storedActiveIndex = activeIndex; }

void StateLookupTable::storeEpisodeState() {
    if (activeIndex != -1) recordVisit(activeIndex);
}

void StateLookupTable::replacingTraces(const double VALUE) {
    if (!traceStore->markable(__func__, __LINE__)) return;
    if (activeIndex >= 0 && activeIndex < ARRAY_SIZE) traceStore->set(activeIndex, VALUE);
}

void StateLookupTable::accumulatingTraces(const double VALUE) {
    if (!traceStore->markable(__func__, __LINE__)) return;
    if (activeIndex >= 0 && activeIndex < ARRAY_SIZE) traceStore->add(activeIndex, VALUE);
}
