#ifndef TEMBRA_STATETILECODING_H
#define TEMBRA_STATETILECODING_H

#include <string>

#include "StateTilings.h"
#include "StateValueFunction.h"
#include "TileCoding.h"

// The tile-coded V(s): the sum over all registered StateTilings groups of
// the weights of their active tiles. Built on a State of floating-point
// variables (all registered, with their final bounds) and given its groups
// with registerTiling; or read from a V file.
class TEMBRA_API StateTileCoding : public StateValueFunction, public TileCoding {
public:
    // Resets the class-wide initial weight to 0.0 and the initial-weight
    // function to getValue: groups registered later start at 0.0 unless the
    // using program changes either in between.
    explicit StateTileCoding(State* aStatePtr);
    // Reads a V file (its State included).
    explicit StateTileCoding(const std::string& fileName);
    ~StateTileCoding() override;

    using StateValueFunction::load;
    using StateValueFunction::save;

    void initWeights(const double (*initFunctionPtr)()) override;
    void initEligibilityTraces() override;
    void updateWeights(const double ALPHA, const double DELTA) override;
    void updateEligibilityTraces(const double GAMMA, const double LAMBDA) override;
    void accumulatingTraces(const double VALUE) override;
    void replacingTraces(const double VALUE) override;
    // Clamps the weights, but only when a limit was set.
    void checkWeightLimit() override;
    const double getMinWeight() const override;
    const double getAvgWeight(const bool abs) const override;
    const double getMaxWeight() const override;
    void setState() override;
    void storeState() override;
    void initEpisodeStateHistory() override;
    void valueEpisode(const double value) override;
    const double getStateValue() const override;
    // Creates the group on this value function's State, initialises its
    // weights and takes it over. A group whose geometry is refused is
    // reported and deleted, and adds no tilings.
    virtual void registerTiling(StateTilings* stateTilingPtr);

protected:
    const int save(FILE* file) const override;
    // Replaces every group by those of a container body; on failure no
    // group is left.
    const int load(FILE* file) override;
};

#endif
