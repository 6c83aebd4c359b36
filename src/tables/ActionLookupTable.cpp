#include "ActionLookupTable.h"

#include <cfloat>
#include <new>
#include <utility>

#include "core/ReportTexts.h"
#include "Report.h"
#include "valuefunction/ActionBlocks.h"
#include "valuefunction/TraceStore.h"

ActionLookupTable::ActionLookupTable(State* aStatePtr) : ActionValueFunction(aStatePtr), LookupTable(aStatePtr) {
    ValueFunction::value = 0.0;
    initWeightsFunctionPtr = &ValueFunction::getValue;
}

ActionLookupTable::ActionLookupTable(const std::string& fileName) : ActionValueFunction(nullptr), LookupTable(nullptr) {
    initWeightsFunctionPtr = &ValueFunction::getValue;
    ValueFunction::value = 0.0;
    (void)ActionValueFunction::load(fileName);
    setStatePtr(ValueFunction::statePtr);
}

ActionLookupTable::~ActionLookupTable() = default;

void ActionLookupTable::create() {
    if (ACTIONS < 1) {
        TEMBRA_ERROR(tembra_text::NO_ACTIONS);
        return;
    }
    // A second create() replaces the table: buildTable releases the old
    // arrays and forgets every index into them.
    setStatePtr(ValueFunction::statePtr);
    if (!buildTable(ACTIONS, __func__, __LINE__)) return;
    initWeights(initWeightsFunctionPtr);
}

void ActionLookupTable::initWeights(const double (*initFunctionPtr)()) { LookupTable::initWeights(initFunctionPtr); }

void ActionLookupTable::initEligibilityTraces() { LookupTable::initEligibilityTraces(); }

void ActionLookupTable::updateWeights(const double ALPHA, const double DELTA) {
    LookupTable::updateWeights(ALPHA, DELTA);
}

void ActionLookupTable::updateEligibilityTraces(const double GAMMA, const double LAMBDA) {
    LookupTable::updateEligibilityTraces(GAMMA, LAMBDA);
}

const double ActionLookupTable::getMinWeight() const { return LookupTable::getMinWeight(); }

const double ActionLookupTable::getAvgWeight(const bool abs) const { return LookupTable::getAvgWeight(abs); }

const double ActionLookupTable::getMaxWeight() const { return LookupTable::getMaxWeight(); }

void ActionLookupTable::setState() { LookupTable::setState(); }

void ActionLookupTable::initEpisodeStateHistory() { LookupTable::initEpisodeStateHistory(); }

void ActionLookupTable::valueEpisode(const double value) { LookupTable::valueEpisode(value); }

void ActionLookupTable::checkWeightLimit() { checkWeightLimit(minWeightLimit, maxWeightLimit); }

const int ActionLookupTable::weightsPerState() const { return ACTIONS; }

void ActionLookupTable::reportActionIndex(const int actionIndex, const char* function, const int line) const {
    if (actionIndex < 0 || actionIndex >= ACTIONS) {
        TEMBRA_ERROR_AT(function, line, "actionIndex[" << actionIndex << "] out of bounds [ 0, " << ACTIONS << ")");
        return;
    }
    const int tableWidth = tableActions();
    TEMBRA_ERROR_AT(function, line,
                    "actionIndex[" << actionIndex << "] out of bounds [ 0, " << tableWidth
                                   << ") --> the table was created for " << tableWidth
                                   << " actions; register all actions before create()");
}

const int ActionLookupTable::save(FILE* file) const {
    // The Q file states ACTIONS before the body; a body with other blocks
    // could never be read back.
    if (weights != nullptr && tableActions() != ACTIONS) {
        TEMBRA_ERROR("ACTIONS = " << ACTIONS << ", but the table holds " << tableActions()
                                  << " actions per state --> call create() after registering actions");
        return -1;
    }
    return LookupTable::save(file);
}

const int ActionLookupTable::load(FILE* file) {
    setStatePtr(ValueFunction::statePtr);
    return LookupTable::load(file);
}

const double ActionLookupTable::getActionValue(const int actionIndex) const {
    if (weights == nullptr) {
        TEMBRA_ERROR(tembra_text::NO_WEIGHTS);
        return DBL_MAX;
    }
    // The selections call this once per action and step: the checks are
    // made on the spot, and only a failing one goes on to report.
    const int A = tableActions();
    if (actionIndex < 0 || actionIndex >= ACTIONS || actionIndex >= A) {
        reportActionIndex(actionIndex, __func__, __LINE__);
        return 0.0;
    }
    if (activeIndex < 0 || activeIndex > ARRAY_SIZE - A) return DBL_MAX;
    return weights[activeIndex + actionIndex];
}

void ActionLookupTable::setActionValue(const int actionIndex, const double value) {
    if (weights == nullptr) {
        TEMBRA_ERROR(tembra_text::NO_WEIGHTS);
        return;
    }
    if (!checkActionIndex(actionIndex, __func__, __LINE__)) return;
    const int A = tableActions();
    for (int i = actionIndex; i < ARRAY_SIZE; i += A) weights[i] = value;
}

void ActionLookupTable::setActiveActionValue(const int actionIndex, const double value) {
    if (weights == nullptr) {
        TEMBRA_ERROR(tembra_text::NO_WEIGHTS);
        return;
    }
    if (!checkActionIndex(actionIndex, __func__, __LINE__)) return;
    if (hasPresentState()) weights[activeIndex + actionIndex] = value;
}

void ActionLookupTable::storeState() {
    storeActiveIndex(activeActionIndex);
    storeEpisodeState(activeActionIndex);
}

void ActionLookupTable::storeActiveIndex(const int actionIndex) {
    storedActiveIndex = -1;
    if (activeIndex == -1) return;
    // An index outside the block would make the next update write past it.
    if (!hasPresentState() || !checkActionIndex(actionIndex, __func__, __LINE__)) return;
    storedActiveIndex = activeIndex + actionIndex;
}

void ActionLookupTable::storeEpisodeState(const int actionIndex) {
    if (activeIndex == -1) return;
    if (!hasPresentState() || !checkActionIndex(actionIndex, __func__, __LINE__)) return;
    recordVisit(activeIndex + actionIndex);
}

void ActionLookupTable::replacingTraces(const double VALUE) {
    if (!traceStore->markable(__func__, __LINE__) || activeIndex == -1) return;
    if (!hasPresentState() || !checkActionIndex(activeActionIndex, __func__, __LINE__)) return;
    traceStore->replaceAmong(activeIndex, 1, tableActions(), activeActionIndex, VALUE);
}

void ActionLookupTable::accumulatingTraces(const double VALUE) {
    if (!traceStore->markable(__func__, __LINE__) || activeIndex == -1) return;
    if (!hasPresentState() || !checkActionIndex(activeActionIndex, __func__, __LINE__)) return;
    traceStore->add(activeIndex + activeActionIndex, VALUE);
}

bool ActionLookupTable::actionRemovable(const int actionIndex, const char* function) const {
    if (ACTIONS == 1) {
        TEMBRA_ERROR_AT(function, __LINE__, "ACTIONS == 1 --> Can not remove last action!");
        return false;
    }
    if (weights == nullptr) {
        TEMBRA_ERROR_AT(function, __LINE__, tembra_text::NO_WEIGHTS);
        return false;
    }
    if (actionIndex < 0 || actionIndex >= ACTIONS) {
        TEMBRA_ERROR_AT(function, __LINE__, "actionIndex[" << actionIndex << "] out of bounds [ 0, " << ACTIONS << ")");
        return false;
    }
    // The copy walks blocks of ACTIONS weights; blocks of another width
    // would be cut in the wrong places.
    if (tableActions() != ACTIONS) {
        TEMBRA_ERROR_AT(function, __LINE__,
                        "ACTIONS = " << ACTIONS << ", but the table holds " << tableActions()
                                     << " actions per state --> call create() after registering actions");
        return false;
    }
    return true;
}

void ActionLookupTable::removeAction(const int actionIndex) {
    if (!actionRemovable(actionIndex, __func__)) return;
    const int NEW_ACTIONS = ACTIONS - 1;
    const int STATES = ARRAY_SIZE / ACTIONS;
    const int NEW_ARRAY_SIZE = STATES * NEW_ACTIONS;
    double* newWeights = new (std::nothrow) double[static_cast<std::size_t>(NEW_ARRAY_SIZE)];
    if (newWeights == nullptr) {
        TEMBRA_ERROR("cannot allocate " << NEW_ARRAY_SIZE << " weights --> action not removed");
        return;
    }
    tembra_actions::copyWithoutAction(weights, ARRAY_SIZE, ACTIONS, 1, actionIndex, newWeights);
    for (unsigned int v = 0; v < indexOffsetSize; ++v) indexOffset[v] = indexOffset[v] / ACTIONS * NEW_ACTIONS;
    ARRAY_SIZE = NEW_ARRAY_SIZE;
    delete[] weights;
    weights = newWeights;
    // Both trace stores go, whichever is in use: a trace array of the old
    // size must not survive a later switch to ARRAY storage.
    delete[] eTraces;
    eTraces = nullptr;
    forgetIndices();
}

const bool ActionLookupTable::addAction() {
    // Without a table there is nothing to grow: create() lays out every
    // action registered by then.
    if (weights == nullptr) return true;
    const int A = tableActions();
    const long long NEW_SIZE = tembra_actions::sizeWithNewAction(ARRAY_SIZE, A);
    if (A != ACTIONS || NEW_SIZE < 0 || initWeightsFunctionPtr == nullptr) {
        TEMBRA_ERROR("ACTIONS = " << ACTIONS << ", table actions = " << A << ", ARRAY_SIZE = " << ARRAY_SIZE
                                  << " --> the table cannot grow by an action; action not registered (and deleted)");
        return false;
    }
    double* newWeights = new (std::nothrow) double[static_cast<std::size_t>(NEW_SIZE)];
    if (newWeights == nullptr) {
        TEMBRA_ERROR("cannot allocate " << NEW_SIZE << " weights --> action not registered (and deleted)");
        return false;
    }
    tembra_actions::copyWithNewAction(weights, ARRAY_SIZE, A, 1, initWeightsFunctionPtr, newWeights);
    for (unsigned int v = 0; v < indexOffsetSize; ++v) indexOffset[v] = indexOffset[v] / A * (A + 1);
    ARRAY_SIZE = static_cast<int>(NEW_SIZE);
    delete[] weights;
    weights = newWeights;
    // As after a removal: the trace array has the old size, and every index
    // into the old table means another weight now.
    delete[] eTraces;
    eTraces = nullptr;
    forgetIndices();
    return true;
}
