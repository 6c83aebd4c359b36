#ifndef TEMBRA_STATETILINGS_H
#define TEMBRA_STATETILINGS_H

#include "Tilings.h"

// The tilings group of a tile-coded V(s): one weight per tile; the value of
// the current state is the sum of the weights of the active tiles. Every
// operation works on the tiles the last activateTiles found.
class TEMBRA_API StateTilings : public Tilings {
public:
    StateTilings(int numberOfTilings, const std::list<Types::TILINGS_VAR_STRUCT>& varList);
    StateTilings(State* aStatePtr, FILE* file);
    ~StateTilings() override;

    // The geometry on the State and an uninitialised weight array. A group
    // that cannot have a sound geometry is refused: reported, no weights.
    virtual void create(State* aStatePtr);
    virtual void accumulatingTraces(const double VALUE);
    virtual void replacingTraces(const double VALUE);
    // Copies the active tiles (-1 entries included) for the next update
    // without traces.
    virtual void storeActiveTiles();
    virtual const double getStateValue() const;
    // Records the active tiles in the episode's set of visited indices.
    virtual void storeEpisodeState();
};

#endif
