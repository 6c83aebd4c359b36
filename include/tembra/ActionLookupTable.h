#ifndef TEMBRA_ACTIONLOOKUPTABLE_H
#define TEMBRA_ACTIONLOOKUPTABLE_H

#include <string>

#include "ActionValueFunction.h"
#include "LookupTable.h"

// The tabular Q(s, a): for every combination of values of the State's
// integer variables a block of ACTIONS consecutive weights, one per
// registered action. activeIndex is the first weight of the present
// state's block; the weights of action a lie at a, a + ACTIONS, ...
// Build it in this order: construct on a State, register every action,
// create(); an action registered later adds its weight to every block.
// Its file is the Q file: State block, ACTIONS, lookup-table body.
class TEMBRA_API ActionLookupTable : public ActionValueFunction, public LookupTable {
public:
    // A value function on aStatePtr (owned from here on) without a table.
    explicit ActionLookupTable(State* aStatePtr);
    // An empty table filled from a Q file, with ACTIONS empty registry
    // entries for setAction; if loading fails the table has no weights and
    // says so when used.
    explicit ActionLookupTable(const std::string& fileName);
    ~ActionLookupTable() override;

    using ActionValueFunction::load;
    using ActionValueFunction::save;
    using LookupTable::checkWeightLimit;

    // One body for both bases: these forward to LookupTable.
    void initWeights(const double (*initFunctionPtr)()) override;
    void initEligibilityTraces() override;
    void updateWeights(const double ALPHA, const double DELTA) override;
    void updateEligibilityTraces(const double GAMMA, const double LAMBDA) override;
    const double getMinWeight() const override;
    const double getAvgWeight(const bool abs) const override;
    const double getMaxWeight() const override;
    void setState() override;
    void initEpisodeStateHistory() override;
    void valueEpisode(const double value) override;

    // The trace of the active action in the present state: set to VALUE,
    // clearing the other actions of that state / VALUE added.
    void accumulatingTraces(const double VALUE) override;
    void replacingTraces(const double VALUE) override;
    void checkWeightLimit() override;
    // storeActiveIndex(activeActionIndex), then storeEpisodeState(activeActionIndex).
    void storeState() override;

    // Q of the present state and an action: the largest double without a
    // table or without a present state, 0.0 (reported) for an index outside
    // the actions.
    const double getActionValue(const int actionIndex) const override;

    // Builds (or rebuilds) the table for the actions registered so far.
    virtual void create();
    virtual void storeActiveIndex(const int actionIndex);
    virtual void storeEpisodeState(const int actionIndex);
    // The action's weight in every state / in the present state.
    virtual void setActionValue(const int actionIndex, const double value);
    virtual void setActiveActionValue(const int actionIndex, const double value);

protected:
    const int save(FILE* file) const override;
    const int load(FILE* file) override;
    // Drops one action's weight from every block; ACTIONS still counts it.
    void removeAction(const int actionIndex) override;
    // A table that has weights gets one more weight per block, at the
    // initial value, for an action registered after create().
    const bool addAction() override;
    const int weightsPerState() const override;

    // Weights per state of the table as built (0 without a table). It is
    // ACTIONS unless a subclass changed ACTIONS by hand.
    const int tableActions() const {
        if (weights == nullptr) return 0;
        if (indexOffsetSize > 0 && indexOffset != nullptr) return indexOffset[indexOffsetSize - 1];
        return ARRAY_SIZE;
    }
    // Reports an index outside the registered actions or the table's
    // blocks. Called at every step, so the test is inline and only the
    // report is not.
    const bool checkActionIndex(const int actionIndex, const char* function, const int line) const {
        if (actionIndex >= 0 && actionIndex < ACTIONS && actionIndex < tableActions()) return true;
        reportActionIndex(actionIndex, function, line);
        return false;
    }
    void reportActionIndex(const int actionIndex, const char* function, const int line) const;
    // A present state whose block lies inside the table.
    const bool hasPresentState() const { return activeIndex >= 0 && activeIndex <= ARRAY_SIZE - tableActions(); }

private:
    // True when the action can be removed from the table; otherwise
    // reported on behalf of function.
    bool actionRemovable(const int actionIndex, const char* function) const;
};

#endif
