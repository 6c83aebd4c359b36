#ifndef TEMBRA_ACTIONVALUEFUNCTION_H
#define TEMBRA_ACTIONVALUEFUNCTION_H

#include <vector>

#include "AbstractAction.h"
#include "Report.h"
#include "ValueFunction.h"

// The value function Q(s, a): the registry of actions (owned), the active
// action chosen for the present state, the three selection rules, and the
// Q file (State block, ACTIONS as int32, then the representation's body).
// Trace and weight operations concern the present state together with the
// active action.
class TEMBRA_API ActionValueFunction : public ValueFunction {
public:
    explicit ActionValueFunction(State* aStatePtr);
    // Destroys every registered action, then (through ValueFunction) the State.
    ~ActionValueFunction() override;

    // Whole Q file: 0 on success, -1 on failure (reported). Loading empties
    // the registry into ACTIONS null entries that setAction fills.
    const int save(const std::string& fileName) const override;
    const int load(const std::string& fileName) override;

    // Appends an action (taking ownership); its index is the old ACTIONS.
    // A representation that has weights already grows by the action's
    // weights, at their initial value; one that cannot refuses the action
    // with a report and destroys it.
    virtual void registerAction(const AbstractAction* action);
    // Removes an action and its weights, handing the object back to the
    // caller; later actions move down by one index.
    virtual void unregisterAction(const AbstractAction* action);
    virtual void unregisterAction(int actionIndex);
    // Stores an action at an index (destroying the one it replaces): how a
    // loaded Q function gets its action objects.
    virtual void setAction(int actionIndex, const AbstractAction* action);

    // Make an action active for the present state and return a value: the
    // greedy selection the maximal value (ties broken uniformly at random,
    // one rand() call always), the others Q of the chosen action.
    virtual const double setGreedyActionIndex();
    virtual const double setRandomActionIndex();
    virtual const double setSoftMaxActionIndex(const double TEMPERATURE);

    // Q of the present state and an action.
    virtual const double getActionValue(int actionIndex) const = 0;

    const int getActiveActionIndex() const { return activeActionIndex; }
    // The action at an index, or null (reported) for an index outside the registry.
    const AbstractAction* getAction(const int actionIndex) const {
        if (actionIndex < 0 || actionIndex >= static_cast<int>(registeredActions.size())) {
            TEMBRA_ERROR("actionIndex " << actionIndex << " out of bounds [0, " << registeredActions.size() << ")");
            return nullptr;
        }
        return registeredActions[static_cast<std::size_t>(actionIndex)];
    }
    // The active action, or null (reported) before the first selection and
    // while its slot holds no action (after load, until setAction).
    const AbstractAction* getActiveAction() const;
    const int getNumberOfActions() const { return ACTIONS; }

protected:
    const int save(FILE* file) const override = 0;
    const int load(FILE* file) override = 0;
    // Drops one action's weights and traces; ACTIONS still holds the count
    // before the removal while it runs.
    virtual void removeAction(int actionIndex) = 0;
    // Gives an action being registered its weights in a representation that
    // has weights: one more run per block, at the initial value create()
    // gives, the traces and the present state forgotten as removeAction
    // forgets them. ACTIONS still holds the count before the registration
    // while it runs. False, with a report and nothing changed, refuses the
    // action. Here: nothing to grow.
    virtual const bool addAction();

    // Destroys every registered action and empties the registry.
    void destroyActions();
    // True for an index of a registered action.
    const bool validIndex(const int actionIndex) const;
    // Reports and returns false when no action is registered.
    const bool checkActions(const char* function, const int line) const;

    int ACTIONS;
    int activeActionIndex;
    std::vector<const AbstractAction*> registeredActions;
    // Scratch array of the softmax selection (actionValuesSize entries).
    double* actionValues;
    int actionValuesSize;
    // Candidate list of the greedy selection: one entry per action, of
    // which the last selection used the first ones. Kept so that a
    // selection allocates nothing once it has grown to the number of actions.
    std::vector<int> greedyCandidates;
};

#endif
