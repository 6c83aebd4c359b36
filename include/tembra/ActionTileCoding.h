#ifndef TEMBRA_ACTIONTILECODING_H
#define TEMBRA_ACTIONTILECODING_H

#include <string>

#include "ActionTilings.h"
#include "ActionValueFunction.h"
#include "TileCoding.h"

// The tile-coded Q(s, a): the sum over all registered ActionTilings groups
// of action a's weights on their active tiles. Every trace, stored-index
// and episode operation concerns the active action. All actions are
// registered before the groups, whose weights are laid out for the
// actions registered at that time; or everything is read from a Q file.
class TEMBRA_API ActionTileCoding : public ActionValueFunction, public TileCoding {
public:
    // Resets the class-wide initial weight to 0.0 and the initial-weight
    // function to getValue, as StateTileCoding does.
    explicit ActionTileCoding(State* aStatePtr);
    // Reads a Q file (its State and number of actions included).
    explicit ActionTileCoding(const std::string& fileName);
    virtual ~ActionTileCoding();

    using ActionValueFunction::load;
    using ActionValueFunction::save;

    virtual void initWeights(const double (*initFunctionPtr)());
    virtual void initEligibilityTraces();
    virtual void updateWeights(const double ALPHA, const double DELTA);
    virtual void updateEligibilityTraces(const double GAMMA, const double LAMBDA);
    virtual void accumulatingTraces(const double VALUE);
    virtual void replacingTraces(const double VALUE);
    // Clamps the weights, but only when a limit was set.
    virtual void checkWeightLimit();
    virtual const double getMinWeight() const;
    virtual const double getAvgWeight(const bool abs) const;
    virtual const double getMaxWeight() const;
    virtual void setState();
    virtual void storeState();
    virtual void initEpisodeStateHistory();
    virtual void valueEpisode(const double value);
    // Q of the present state; 0.0 (reported) for an index outside [0, ACTIONS).
    virtual const double getActionValue(int actionIndex) const;
    // Creates the group on this value function's State for the actions
    // registered now, initialises its weights and takes it over. A group
    // whose geometry is refused is reported and deleted.
    virtual void registerTiling(ActionTilings* actionTilingPtr);
    // Every weight of the action in every group.
    virtual void setActionValue(int actionIndex, const double value);

protected:
    virtual const int save(FILE* file) const;
    // Replaces every group by those of a container body laid out for the
    // envelope's ACTIONS; on failure no group is left.
    virtual const int load(FILE* file);
    virtual void removeAction(int actionIndex);

    // Reports the active action when it is not a registered index.
    const bool checkActiveAction(const char* function, const int line) const;
};

#endif
