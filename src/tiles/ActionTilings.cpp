#include "ActionTilings.h"

#include <cfloat>
#include <utility>

#include "core/ReportTexts.h"
#include "Report.h"
#include "valuefunction/ActionBlocks.h"
#include "valuefunction/TraceStore.h"

ActionTilings::ActionTilings(int numberOfTilings, const std::list<Types::TILINGS_VAR_STRUCT>& varList)
    : Tilings(numberOfTilings, varList), ACTIONS(0) {}

// The body's strides and ARRAY_SIZE are checked against the number of
// actions, so that number is set before the body is read.
ActionTilings::ActionTilings(State* aStatePtr, int numberOfActions, FILE* file)
    : Tilings(aStatePtr), ACTIONS(numberOfActions) {
    (void)load(file);
}

ActionTilings::~ActionTilings() = default;

void ActionTilings::create(State* aStatePtr, int numberOfActions) {
    ACTIONS = numberOfActions;
    (void)createGeometry(aStatePtr, ACTIONS);
}

void ActionTilings::reportActionIndex(const int actionIndex, const char* function, const int line) const {
    TEMBRA_ERROR_AT(function, line, "actionIndex[" << actionIndex << "] out of bounds [ 0, " << ACTIONS << ")");
}

const double ActionTilings::getActionValue(int actionIndex) const {
    if (weights == nullptr) {
        TEMBRA_ERROR(tembra_text::NO_WEIGHTS);
        return DBL_MAX;
    }
    if (!checkActionIndex(actionIndex, __func__, __LINE__)) return 0.0;
    const int LIMIT = activeIndexLimit();
    const int ACTION_OFFSET = TILINGS * actionIndex;
    double value = 0.0;
    for (int t = 0; t < TILINGS; ++t) {
        const int index = activeTiles[t];
        if (index >= 0 && index < LIMIT) value += weights[index + ACTION_OFFSET];
    }
    return value;
}

void ActionTilings::setActionValue(int actionIndex, const double value) {
    if (weights == nullptr) {
        TEMBRA_ERROR(tembra_text::NO_WEIGHTS);
        return;
    }
    if (!checkActionIndex(actionIndex, __func__, __LINE__)) return;
    const int BLOCK = TILINGS * ACTIONS;
    for (int w = TILINGS * actionIndex; w < ARRAY_SIZE; w += BLOCK) {
        for (int t = 0; t < TILINGS; ++t) weights[w + t] = value;
    }
}

void ActionTilings::setActiveActionValue(int actionIndex, const double value) {
    if (weights == nullptr) {
        TEMBRA_ERROR(tembra_text::NO_WEIGHTS);
        return;
    }
    if (!checkActionIndex(actionIndex, __func__, __LINE__)) return;
    const int LIMIT = activeIndexLimit();
    for (int t = 0; t < TILINGS; ++t) {
        const int index = activeTiles[t];
        if (index >= 0 && index < LIMIT) weights[index + TILINGS * actionIndex] = value;
    }
}

void ActionTilings::replacingTraces(const double VALUE, int actionIndex) {
    if (!checkActionIndex(actionIndex, __func__, __LINE__) || !traceStore->markable(__func__, __LINE__)) return;
    const int LIMIT = activeIndexLimit();
    for (int t = 0; t < TILINGS; ++t) {
        const int index = activeTiles[t];
        if (index >= 0 && index < LIMIT) traceStore->replaceAmong(index, TILINGS, ACTIONS, actionIndex, VALUE);
    }
}

void ActionTilings::accumulatingTraces(const double VALUE, int actionIndex) {
    if (!checkActionIndex(actionIndex, __func__, __LINE__) || !traceStore->markable(__func__, __LINE__)) return;
    const int LIMIT = activeIndexLimit();
    for (int t = 0; t < TILINGS; ++t) {
        const int index = activeTiles[t];
        if (index >= 0 && index < LIMIT) traceStore->add(index + TILINGS * actionIndex, VALUE);
    }
}

void ActionTilings::storeActiveTiles(int actionIndex) {
    if (!checkActionIndex(actionIndex, __func__, __LINE__)) return;
    if (TILINGS < 1) return;
    if (storedActiveIndices == nullptr) storedActiveIndices = new int[static_cast<std::size_t>(TILINGS)];
    const int LIMIT = activeIndexLimit();
    for (int t = 0; t < TILINGS; ++t) {
        const int index = activeTiles[t];
        storedActiveIndices[t] = (index >= 0 && index < LIMIT) ? index + TILINGS * actionIndex : -1;
    }
}

void ActionTilings::storeEpisodeState(int actionIndex) {
    if (!checkActionIndex(actionIndex, __func__, __LINE__)) return;
    const int LIMIT = activeIndexLimit();
    for (int t = 0; t < TILINGS; ++t) {
        const int index = activeTiles[t];
        if (index >= 0 && index < LIMIT) recordVisit(index + TILINGS * actionIndex);
    }
}

const bool ActionTilings::removeAction(int actionIndex) {
    if (ACTIONS == 1) {
        TEMBRA_ERROR("ACTIONS == 1 --> Can not remove last action!");
        return false;
    }
    if (weights == nullptr) {
        TEMBRA_ERROR(tembra_text::NO_WEIGHTS);
        return false;
    }
    if (!checkActionIndex(actionIndex, __func__, __LINE__)) return false;

    const int NEW_ACTIONS = ACTIONS - 1;
    const int NEW_ARRAY_SIZE = ARRAY_SIZE / ACTIONS * NEW_ACTIONS;
    double* newWeights = newDoubles(NEW_ARRAY_SIZE);
    if (newWeights == nullptr) return false;

    // One block per combination of tile numbers, a run of TILINGS weights
    // per action in it.
    tembra_actions::copyWithoutAction(weights, ARRAY_SIZE, ACTIONS, TILINGS, actionIndex, newWeights);

    restride(NEW_ACTIONS);
    // The old layout's traces, stored and visited indices and active tiles
    // mean other weights now.
    releaseLearningData();
    ACTIONS = NEW_ACTIONS;
    ARRAY_SIZE = NEW_ARRAY_SIZE;
    weights = newWeights;
    return true;
}

const bool ActionTilings::addAction(const double (*initFunctionPtr)()) {
    if (weights == nullptr) {
        TEMBRA_ERROR(tembra_text::NO_WEIGHTS);
        return false;
    }
    const long long NEW_ARRAY_SIZE = tembra_actions::sizeWithNewAction(ARRAY_SIZE, ACTIONS);
    if (NEW_ARRAY_SIZE < 0 || initFunctionPtr == nullptr) {
        TEMBRA_ERROR("ACTIONS = " << ACTIONS << ", ARRAY_SIZE = " << ARRAY_SIZE
                                  << (initFunctionPtr == nullptr ? ", initFunctionPtr == 0" : "")
                                  << " --> the group cannot grow by an action");
        return false;
    }
    double* newWeights = newDoubles(NEW_ARRAY_SIZE);
    if (newWeights == nullptr) return false;
    tembra_actions::copyWithNewAction(weights, ARRAY_SIZE, ACTIONS, TILINGS, initFunctionPtr, newWeights);
    restride(ACTIONS + 1);
    releaseLearningData();
    ACTIONS = ACTIONS + 1;
    ARRAY_SIZE = static_cast<int>(NEW_ARRAY_SIZE);
    weights = newWeights;
    return true;
}

void ActionTilings::restride(const int actions) {
    int stride = TILINGS * actions;
    for (int d = DIMENSIONS - 1; d >= 0; --d) {
        indexOffset[d] = stride;
        stride = stride * tiles[d];
    }
}
