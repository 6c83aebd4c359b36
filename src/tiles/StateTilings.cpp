#include "StateTilings.h"

#include <cfloat>
#include <utility>

#include "core/ReportTexts.h"
#include "Report.h"
#include "valuefunction/TraceStore.h"

StateTilings::StateTilings(int numberOfTilings, const std::list<Types::TILINGS_VAR_STRUCT>& varList)
    : Tilings(numberOfTilings, varList) {}

StateTilings::StateTilings(State* aStatePtr, FILE* file) : Tilings(aStatePtr, file) {}

StateTilings::~StateTilings() = default;

void StateTilings::create(State* aStatePtr) { (void)createGeometry(aStatePtr, 1); }

const double StateTilings::getStateValue() const {
    if (weights == nullptr) {
        TEMBRA_ERROR(tembra_text::NO_WEIGHTS);
        return DBL_MAX;
    }
    double value = 0.0;
    for (int t = 0; t < TILINGS; ++t) {
        const int index = activeTiles[t];
        if (isWeightIndex(index)) value += weights[index];
    }
    return value;
}

void StateTilings::replacingTraces(const double VALUE) {
    if (!traceStore->markable(__func__, __LINE__)) return;
    for (int t = 0; t < TILINGS; ++t) {
        if (isWeightIndex(activeTiles[t])) traceStore->set(activeTiles[t], VALUE);
    }
}

void StateTilings::accumulatingTraces(const double VALUE) {
    if (!traceStore->markable(__func__, __LINE__)) return;
    for (int t = 0; t < TILINGS; ++t) {
        if (isWeightIndex(activeTiles[t])) traceStore->add(activeTiles[t], VALUE);
    }
}

void StateTilings::storeActiveTiles() {
    if (TILINGS < 1) return;
    if (storedActiveIndices == nullptr) storedActiveIndices = new int[static_cast<std::size_t>(TILINGS)];
    for (int t = 0; t < TILINGS; ++t) {
        storedActiveIndices[t] = isWeightIndex(activeTiles[t]) ? activeTiles[t] : -1;
    }
}

void StateTilings::storeEpisodeState() {
    for (int t = 0; t < TILINGS; ++t) {
        if (isWeightIndex(activeTiles[t])) recordVisit(activeTiles[t]);
    }
}
