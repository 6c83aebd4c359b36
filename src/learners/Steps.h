#ifndef TEMBRA_STEPS_H
#define TEMBRA_STEPS_H

#include <string>

#include "ActionValueFunction.h"
#include "core/ReportTexts.h"
#include "Tembra.h"
#include "ValueFunction.h"

// What the three learners do alike at the start of an episode and in each
// step, whatever their value function (internal: not installed).
namespace tembra_steps {

// Reports of the learners, each written once.
inline constexpr char UNKNOWN_TRACE_TYPE[] = "Unknown Tracetype!";
inline constexpr char UNKNOWN_ACTION_SELECTION[] = "Unknown ACTION_SELECTION ";

// A new episode starts without traces and, when the value function keeps
// one, without a record of visited states.
inline void clearEpisodeRecords(ValueFunction& valueFunction, const Tembra::TRACE_TYPE traces) {
    if (traces != Tembra::NONE) valueFunction.initEligibilityTraces();
    if (valueFunction.getEpisodeStateHistory()) valueFunction.initEpisodeStateHistory();
}

// Marks the present state (with the active action) for the coming update:
// stored, for learning without traces, or its trace replaced or
// accumulated by value. False, marking nothing, for a trace type it does
// not know; the learner reports that.
inline bool markPresentState(ValueFunction& valueFunction, const Tembra::TRACE_TYPE traces, const double value) {
    switch (traces) {
        case Tembra::NONE: valueFunction.storeState(); return true;
        case Tembra::REPLACING: valueFunction.replacingTraces(value); return true;
        case Tembra::ACCUMULATING: valueFunction.accumulatingTraces(value); return true;
    }
    return false;
}

// The first action index whose slot holds no action object, or -1 when
// every action is bound. A Q function loaded from a file has only empty
// slots until the program binds its actions with setAction; the action
// learners do not start before it has.
inline int firstUnboundAction(const ActionValueFunction& valueFunction) {
    for (int a = 0; a < valueFunction.getNumberOfActions(); ++a) {
        if (valueFunction.getAction(a) == nullptr) return a;
    }
    return -1;
}

// Why the action learners cannot start on this value function (no actions
// at all, or a slot without its action), or nothing when they can. Every
// step would otherwise report, and the program's takeAction would get no
// action to carry out.
inline std::string whyActionsUnusable(const ActionValueFunction* valueFunction) {
    if (valueFunction == nullptr) return "";
    if (valueFunction->getNumberOfActions() == 0) return tembra_text::NO_ACTIONS;
    const int unbound = firstUnboundAction(*valueFunction);
    return unbound >= 0 ? tembra_text::unboundAction(unbound) : "";
}

}  // namespace tembra_steps

#endif
