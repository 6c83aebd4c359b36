#ifndef TEMBRA_ACTIONTILECODING_H
#define TEMBRA_ACTIONTILECODING_H

#include <string>

#include "ActionTilings.h"
#include "ActionValueFunction.h"
#include "TileCoding.h"

// The tile-coded Q(s, a): the sum over all registered ActionTilings groups
// of action a's weights on their active tiles. Every trace, stored-index
// and episode operation concerns the active action. The groups' weights
// are laid out for the actions registered when a group is registered; an
// action registered later adds its weights to every group. Or everything
// is read from a Q file.
class TEMBRA_API ActionTileCoding : public ActionValueFunction, public TileCoding {
public:
    // Resets the class-wide initial weight to 0.0 and the initial-weight
    // function to getValue, as StateTileCoding does.
    explicit ActionTileCoding(State* aStatePtr);
    // Reads a Q file (its State and number of actions included).
    explicit ActionTileCoding(const std::string& fileName);
    ~ActionTileCoding() override;

    using ActionValueFunction::load;
    using ActionValueFunction::save;

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
    // Q of the present state; 0.0 (reported) for an index outside [0, ACTIONS).
    const double getActionValue(int actionIndex) const override;
    // Creates the group on this value function's State for the actions
    // registered now, initialises its weights and takes it over. A group
    // whose geometry is refused is reported and deleted.
    virtual void registerTiling(ActionTilings* actionTilingPtr);
    // Every weight of the action in every group.
    virtual void setActionValue(int actionIndex, const double value);

protected:
    const int save(FILE* file) const override;
    // Replaces every group by those of a container body laid out for the
    // envelope's ACTIONS; on failure no group is left.
    const int load(FILE* file) override;
    void removeAction(int actionIndex) override;
    // Every group grows by the action's weights, at the initial value; if
    // one cannot, those that grew shrink back and the action is refused.
    const bool addAction() override;

    // Reports the active action when it is not a registered index.
    const bool checkActiveAction(const char* function, const int line) const;
};

#endif
