#ifndef TEMBRA_ACTIONTILINGS_H
#define TEMBRA_ACTIONTILINGS_H

#include "Tilings.h"

// The tilings group of a tile-coded Q(s, a): every tile holds one weight
// per action. activeTiles[t] is the index of action 0 on tiling t's active
// tile and action a's weight lies TILINGS * a further on: for every
// combination of tile numbers there is one block of TILINGS * ACTIONS
// weights, ordered by action and, within an action, by tiling.
class TEMBRA_API ActionTilings : public Tilings {
public:
    ActionTilings(int numberOfTilings, const std::list<Types::TILINGS_VAR_STRUCT>& varList);
    // A group read from a body laid out for numberOfActions actions (the
    // number is not in the body; the owner knows it).
    ActionTilings(State* aStatePtr, int numberOfActions, FILE* file);
    ~ActionTilings() override;

    // The geometry on the State for numberOfActions actions and an
    // uninitialised weight array; refused (reported, no weights) when no
    // sound layout exists.
    virtual void create(State* aStatePtr, int numberOfActions);
    virtual void accumulatingTraces(const double VALUE, int actionIndex);
    // Only actionIndex stays eligible on the active tiles: the other
    // actions' traces there are cleared.
    virtual void replacingTraces(const double VALUE, int actionIndex);
    virtual void storeActiveTiles(int actionIndex);
    virtual const double getActionValue(int actionIndex) const;
    virtual void storeEpisodeState(int actionIndex);
    // Every weight of the action, in every tile of every tiling.
    virtual void setActionValue(int actionIndex, const double value);
    // The action's weights on the active tiles.
    virtual void setActiveActionValue(int actionIndex, const double value);
    // Drops the action's weights (later actions move down by one) and the
    // traces, stored and visited indices of the old layout. False, with
    // nothing changed, for the last action or an unknown index.
    virtual const bool removeAction(int actionIndex);
    // One more action: a run of TILINGS weights appended to every block,
    // each from one call of initFunctionPtr in index order, and the traces,
    // stored and visited indices of the old layout dropped. False, with a
    // report and nothing changed, without weights, without an initial-value
    // function or when the weights would not fit an int.
    virtual const bool addAction(const double (*initFunctionPtr)());

    const int getNumberOfActions() const { return ACTIONS; }

protected:
    const int layoutActions() const override { return ACTIONS; }
    // Reports an index outside [0, ACTIONS). Called at every step, so the
    // test is inline and only the report is not.
    const bool checkActionIndex(const int actionIndex, const char* function, const int line) const {
        if (actionIndex >= 0 && actionIndex < ACTIONS) return true;
        reportActionIndex(actionIndex, function, line);
        return false;
    }
    void reportActionIndex(const int actionIndex, const char* function, const int line) const;

    int ACTIONS;

private:
    // The strides for a layout of actions actions per tile (the tile counts
    // and offsets do not depend on it).
    void restride(const int actions);
};

#endif
