#include "ActionValueFunction.h"

#include <cfloat>
#include <cstdint>

#include "core/FileIO.h"
#include "Utility.h"

ActionValueFunction::ActionValueFunction(State* aStatePtr)
    : ValueFunction(aStatePtr), ACTIONS(0), activeActionIndex(-1), actionValues(nullptr), actionValuesSize(0) {}

ActionValueFunction::~ActionValueFunction() {
    delete[] actionValues;
    actionValues = nullptr;
    destroyActions();
}

void ActionValueFunction::destroyActions() {
    for (const AbstractAction* action : registeredActions) delete action;
    registeredActions.clear();
}

const bool ActionValueFunction::checkActions(const char* function, const int line) const {
    if (ACTIONS < 1) {
        TEMBRA_ERROR_AT(function, line, "No actions registered! --> Register actions first!");
        return false;
    }
    return true;
}

void ActionValueFunction::registerAction(const AbstractAction* action) {
    registeredActions.push_back(action);
    ACTIONS++;
}

const bool ActionValueFunction::validIndex(const int actionIndex) const {
    // ACTIONS is what callers see; the registry size guards against a
    // subclass that changed ACTIONS by hand.
    return actionIndex >= 0 && actionIndex < ACTIONS &&
           static_cast<std::size_t>(actionIndex) < registeredActions.size();
}

void ActionValueFunction::unregisterAction(int actionIndex) {
    if (!validIndex(actionIndex)) {
        TEMBRA_ERROR("actionIndex " << actionIndex << " out of bounds [0, " << ACTIONS << ")");
        return;
    }
    registeredActions.erase(registeredActions.begin() + actionIndex);
    removeAction(actionIndex);
    ACTIONS--;
}

void ActionValueFunction::unregisterAction(const AbstractAction* action) {
    for (std::size_t i = 0; i < registeredActions.size(); ++i) {
        if (registeredActions[i] == action) {
            unregisterAction(static_cast<int>(i));
            return;
        }
    }
}

void ActionValueFunction::setAction(int actionIndex, const AbstractAction* action) {
    if (!validIndex(actionIndex)) {
        TEMBRA_ERROR("actionIndex " << actionIndex << " out of bounds [0, " << ACTIONS << ")");
        return;
    }
    const AbstractAction*& slot = registeredActions[static_cast<std::size_t>(actionIndex)];
    // Storing the very action that is already there must not destroy it.
    if (slot == action) return;
    delete slot;
    slot = action;
}

const double ActionValueFunction::setGreedyActionIndex() {
    if (!checkActions(__func__, __LINE__)) return 0.0;
    const int A = ACTIONS;
    // Sized once for the actions; the list is then kept in place and
    // counted here, which spares a capacity test per candidate.
    if (greedyCandidates.size() < static_cast<std::size_t>(A)) greedyCandidates.resize(static_cast<std::size_t>(A));
    int* const candidates = greedyCandidates.data();
    int count = 0;
    double maxValue = -DBL_MAX;
    for (int a = 0; a < A; ++a) {
        const double v = getActionValue(a);
        if (v > maxValue) {
            maxValue = v;
            candidates[0] = a;
            count = 1;
        } else if (v == maxValue) {
            candidates[count++] = a;
        }
    }
    if (count == 0) {
        // Every value is NaN or -inf: no action is better than another, so
        // draw among all of them (still one rand() call).
        TEMBRA_ERROR("no action value >= -DBL_MAX (all NaN or -inf) --> action drawn at random");
        activeActionIndex = getRandomIndex(A);
        return getActionValue(activeActionIndex);
    }
    activeActionIndex = candidates[getRandomIndex(count)];
    return maxValue;
}

const double ActionValueFunction::setRandomActionIndex() {
    if (!checkActions(__func__, __LINE__)) return 0.0;
    activeActionIndex = getRandomIndex(ACTIONS);
    return getActionValue(activeActionIndex);
}

const double ActionValueFunction::setSoftMaxActionIndex(const double TEMPERATURE) {
    if (!checkActions(__func__, __LINE__)) return 0.0;
    // Actions registered after the first softmax selection grow the scratch
    // array; otherwise it is allocated once.
    if (actionValues == nullptr || actionValuesSize < ACTIONS) {
        delete[] actionValues;
        actionValues = new double[static_cast<std::size_t>(ACTIONS)];
        actionValuesSize = ACTIONS;
    }
    double MIN_VALUE = DBL_MAX;
    double MAX_VALUE = -DBL_MAX;
    for (int a = 0; a < ACTIONS; ++a) {
        const double v = getActionValue(a);
        actionValues[a] = v;
        if (v < MIN_VALUE) MIN_VALUE = v;
        if (v > MAX_VALUE) MAX_VALUE = v;
    }
    activeActionIndex = getSoftMaxIndex(ACTIONS, actionValues, TEMPERATURE, MIN_VALUE, MAX_VALUE);
    return getActionValue(activeActionIndex);
}

const int ActionValueFunction::save(const std::string& fileName) const {
    if (statePtr == nullptr) {
        TEMBRA_ERROR("statePtr == 0 --> nothing to save (create or load the value function first)");
        return -1;
    }
    FILE* file = std::fopen(fileName.c_str(), "w+");
    if (file == nullptr) {
        TEMBRA_ERROR(TEMBRA_ERRNO_NARROW);
        return -1;
    }
    if (statePtr->save(file) != 0) {
        TEMBRA_ERROR("saving state failed");
        std::fclose(file);
        return -1;
    }
    if (!tembra_io::writeInt32(file, ACTIONS)) {
        TEMBRA_ERROR(TEMBRA_ERRNO_NARROW);
        std::fclose(file);
        return -1;
    }
    if (save(file) != 0) {
        TEMBRA_ERROR("saving valuefunction failed");
        std::fclose(file);
        return -1;
    }
    if (std::fclose(file) != 0) {
        TEMBRA_ERROR(TEMBRA_ERRNO_NARROW);
        return -1;
    }
    return 0;
}

const int ActionValueFunction::load(const std::string& fileName) {
    FILE* file = std::fopen(fileName.c_str(), "r");
    if (file == nullptr) {
        TEMBRA_ERROR(TEMBRA_ERRNO_NARROW);
        return -1;
    }
    if (statePtr == nullptr) statePtr = new State();
    if (statePtr->load(file) != 0) {
        TEMBRA_ERROR("loading state failed");
        std::fclose(file);
        return -1;
    }
    destroyActions();
    ACTIONS = 0;
    int32_t readActions = 0;
    if (!tembra_io::readInt32(file, readActions)) {
        TEMBRA_ERROR(TEMBRA_ERRNO_NARROW);
        std::fclose(file);
        return -1;
    }
    // Every action owns at least one weight of 8 bytes in any body that has
    // weights; an empty body (a tile coding without groups) still cannot
    // justify more than a few thousand empty registry entries.
    const long long left = tembra_io::remainingBytes(file);
    const long long limit = (left < 0 ? 0 : left / 8) > 4096 ? left / 8 : 4096;
    if (readActions < 0 || readActions > limit) {
        TEMBRA_ERROR("ACTIONS = " << readActions << " --> not a plausible number of actions for this file");
        std::fclose(file);
        return -1;
    }
    ACTIONS = readActions;
    registeredActions.assign(static_cast<std::size_t>(ACTIONS), nullptr);
    if (load(file) != 0) {
        TEMBRA_ERROR("loading valuefunction failed");
        std::fclose(file);
        return -1;
    }
    if (std::fclose(file) != 0) {
        TEMBRA_ERROR(TEMBRA_ERRNO_NARROW);
        return -1;
    }
    return 0;
}
