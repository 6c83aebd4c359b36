#include "ActionValueFunction.h"

#include <cfloat>
#include <cstdint>
#include <sstream>

#include "core/FileIO.h"
#include "core/ReportTexts.h"
#include "Utility.h"
#include "valuefunction/FileEnvelope.h"

namespace {

using tembra_envelope::ReportTo;

// The envelope's reports name this file and the operation that was called.
void report(const char* function, const int line, const std::string& text) { TEMBRA_ERROR_AT(function, line, text); }

// The Q file's ACTIONS field, between the State block and the body.
bool writeActionCount(FILE* file, const int actions, const ReportTo& fail) {
    if (tembra_io::writeInt32(file, actions)) return true;
    fail(tembra_envelope::errnoText());
    return false;
}

// The count read back, or -1 (reported) for a short read or a count that
// the rest of the file cannot justify.
int readActionCount(FILE* file, const ReportTo& fail) {
    int32_t actions = 0;
    if (!tembra_io::readInt32(file, actions)) {
        fail(tembra_envelope::errnoText());
        return -1;
    }
    // Every action owns at least one weight of 8 bytes in any body that has
    // weights; an empty body (a tile coding without groups) still cannot
    // justify more than a few thousand empty registry entries.
    const long long left = tembra_io::remainingBytes(file);
    const long long limit = (left < 0 ? 0 : left / 8) > 4096 ? left / 8 : 4096;
    if (actions < 0 || actions > limit) {
        std::ostringstream text;
        text << "ACTIONS = " << actions << " --> not a plausible number of actions for this file";
        fail(text.str());
        return -1;
    }
    return actions;
}

}  // namespace

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
        TEMBRA_ERROR_AT(function, line, tembra_text::NO_ACTIONS);
        return false;
    }
    return true;
}

void ActionValueFunction::registerAction(const AbstractAction* action) {
    // An action without weights would read as some fixed value at every
    // step and might never be left: it is refused (addAction has said why)
    // and, as it was handed over, destroyed.
    if (!addAction()) {
        delete action;
        return;
    }
    registeredActions.push_back(action);
    ACTIONS++;
}

const bool ActionValueFunction::addAction() { return true; }

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

const AbstractAction* ActionValueFunction::getActiveAction() const {
    const AbstractAction* action = getAction(activeActionIndex);
    // getAction has reported an index outside the registry; an empty slot
    // inside it is what a program that forgot setAction meets.
    if (action == nullptr && activeActionIndex >= 0 &&
        static_cast<std::size_t>(activeActionIndex) < registeredActions.size()) {
        TEMBRA_ERROR(tembra_text::unboundAction(activeActionIndex));
    }
    return action;
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
    return tembra_envelope::save(
        fileName, statePtr, [this](FILE* file, const ReportTo& fail) { return writeActionCount(file, ACTIONS, fail); },
        [this](FILE* file) { return save(file) == 0; }, {report, __func__, __LINE__});
}

const int ActionValueFunction::load(const std::string& fileName) {
    const auto readActions = [this](FILE* file, const ReportTo& fail) {
        // The registry is emptied before the count is read: a file that
        // ends here leaves no actions behind.
        destroyActions();
        ACTIONS = 0;
        const int actions = readActionCount(file, fail);
        if (actions < 0) return false;
        ACTIONS = actions;
        registeredActions.assign(static_cast<std::size_t>(ACTIONS), nullptr);
        return true;
    };
    return tembra_envelope::load(fileName, statePtr, readActions, [this](FILE* file) { return load(file) == 0; },
                                 {report, __func__, __LINE__});
}
