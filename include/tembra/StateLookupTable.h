#ifndef TEMBRA_STATELOOKUPTABLE_H
#define TEMBRA_STATELOOKUPTABLE_H

#include <string>

#include "LookupTable.h"
#include "StateValueFunction.h"

// The tabular V(s): one weight for every combination of values of the
// State's integer variables. The table takes the index computation, the
// weights, traces, episode history and body from LookupTable and adds the
// sizing from the variables' bounds, the value of the present state and
// the marking of its trace. Its file is the V file: State block, then the
// lookup-table body.
class TEMBRA_API StateLookupTable : public StateValueFunction, public LookupTable {
public:
    // Builds the table for aStatePtr (owned from here on), all weights
    // given by the initial-weight function (0.0). A State whose table an
    // int cannot index, or that has an empty range, gets no table.
    explicit StateLookupTable(State* aStatePtr);
    // An empty table filled from a V file; if loading fails the table has
    // no weights and says so when used.
    explicit StateLookupTable(const std::string& fileName);
    ~StateLookupTable() override;

    // The file-name forms of StateValueFunction and the clamp with explicit
    // limits of LookupTable stay reachable beside the overrides below.
    using LookupTable::checkWeightLimit;
    using StateValueFunction::load;
    using StateValueFunction::save;

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

    // Sets the present state's trace to VALUE / adds VALUE to it.
    void accumulatingTraces(const double VALUE) override;
    void replacingTraces(const double VALUE) override;
    // Clamps with the value function's limits.
    void checkWeightLimit() override;
    // storeActiveIndex, then storeEpisodeState.
    void storeState() override;

    // V of the present state: 0.0 without one, the largest double (reported)
    // without a table.
    const double getStateValue() const override;

    virtual void storeActiveIndex();
    virtual void storeEpisodeState();

protected:
    const int save(FILE* file) const override;
    const int load(FILE* file) override;
};

#endif
