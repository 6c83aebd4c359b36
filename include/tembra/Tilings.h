#ifndef TEMBRA_TILINGS_H
#define TEMBRA_TILINGS_H

#include <cstdio>
#include <list>
#include <map>
#include <set>
#include <vector>

#include "Export.h"
#include "State.h"
#include "Types.h"

class TraceStore;

// One group of TILINGS overlapping tilings over a list of floating-point
// state variables, with one weight per tile: the geometry, the weights,
// the eligibility traces (sparse map, sparse list or dense array), the active tile of
// every tiling for the current state, the indices stored for learning
// without traces and the indices visited in the current episode.
//
// The weight of tiling t on the tile with tile numbers i_0 ... i_(D-1) is
// at t + sum_d i_d * indexOffset[d]: the tiling varies fastest, then the
// last variable's tile number, the first variable's slowest. An active
// tile entry of -1 means that tiling has no tile for the current state;
// an entry outside the weights is treated the same way everywhere.
//
// The subclasses compute the geometry (create) and read values and set
// traces; StateTilings keeps one weight per tile, ActionTilings one per
// tile and action.
class TEMBRA_API Tilings {
public:
    static constexpr const char* NO_WEIGHTS = "weights == 0 --> Maybe forgot to call create?";
    // The smallest group body (one tiling, one variable, one weight): what
    // every group announced by a listSize takes at least.
    static constexpr long long MIN_BODY_BYTES = 16 + 32 + 8 + 8;

    // A group with no geometry, no weights and no State yet.
    Tilings(int numberOfTilings, const std::list<Types::TILINGS_VAR_STRUCT>& varList);
    // A group read from a body at the stream's position. A body that cannot
    // be read leaves the group without geometry and weights (reported).
    Tilings(State* aStatePtr, FILE* file);
    virtual ~Tilings();

    Tilings(const Tilings&) = delete;
    Tilings& operator=(const Tilings&) = delete;

    // weights[w] = initFunctionPtr(), one call per weight in index order.
    virtual void initWeights(const double (*initFunctionPtr)());
    // Every trace 0: the array is allocated on the first call in ARRAY mode,
    // the slot table of the sparse list on the first in SPARSE mode.
    virtual void initEligibilityTraces();
    // Adds ALPHA * DELTA * trace to the weights; without traces, ALPHA * DELTA
    // to the weights of the stored active indices.
    virtual void updateWeights(const double ALPHA, const double DELTA);
    // Every trace times GAMMA * LAMBDA; map and list entries are never pruned.
    virtual void updateEligibilityTraces(const double GAMMA, const double LAMBDA);
    virtual void checkWeightLimit(const double MIN_WEIGHT, const double MAX_WEIGHT);
    virtual const double getMinWeight() const;
    // Sum of the weights (absolute values when abs); adds ARRAY_SIZE to weightCount.
    virtual const double getWeightSum(const bool abs, int& weightCount) const;
    virtual const double getMaxWeight() const;
    // The active tile of every tiling for the State's current values.
    virtual void activateTiles();
    virtual void initEpisodeStateHistory();
    // Adds value to every weight visited in the episode, each once.
    virtual void valueEpisode(const double value);
    // The group body: 0 on success, -1 on failure (reported).
    virtual const int save(FILE* file) const;
    // Replaces the whole group by a body: 0 on success, -1 on failure, after
    // which the group has no geometry and no weights.
    virtual const int load(FILE* file);

    const int getNumberOfTilings() const { return TILINGS; }
    // Sets where traces are kept; allocates and clears nothing.
    void setTraceStorage(const Types::TRACE_STORAGE newTraceStorage) { traceStorage = newTraceStorage; }
    // False for a group that was never created, whose create refused its
    // geometry, or whose body could not be read.
    const bool hasWeights() const { return weights != nullptr; }

protected:
    // A group without anything, for subclasses that must set their own
    // layout before they read a body.
    explicit Tilings(State* aStatePtr);

    // vars, tiles, tileWidth, indexOffset, activeTiles (all -1) and the
    // tileOffset rows for the present TILINGS and DIMENSIONS.
    virtual void allocateMemory();
    // A new array of ARRAY_SIZE doubles, or null (reported) when it cannot be had.
    virtual double* allocateMemoryWeights();
    virtual void freeMemory();
    // These work on the trace map whatever the storage.
    //
    // The trace map keeps the nodes of the entries it loses in
    // spareTraceNodes and makes new entries from them, so that once it has
    // been as large as it gets in an episode, marking, replacing, cutting
    // and clearing traces allocate nothing.
    //
    // The trace of index set to value (replacing) / value added to it
    // (accumulating), the entry made when there is none.
    void setTrace(const int index, const double value);
    void addTrace(const int index, const double value);
    // A new entry for an index that has none, placed with hint as by
    // std::map::emplace_hint.
    std::map<int, double>::iterator putTrace(std::map<int, double>::const_iterator hint, const int index,
                                             const double value);
    // Removes an entry (keeping its node); the entry after it.
    std::map<int, double>::iterator dropTrace(std::map<int, double>::iterator entry);
    // Every entry removed (the nodes kept).
    void clearTraceMap();
    // The episode history recycles its nodes the same way: index recorded
    // as visited / the record emptied.
    void recordVisit(const int index);
    void clearVisits();
    // How many actions share a tile (1 for state values): the weights of a
    // tile are a block of TILINGS * layoutActions() entries.
    virtual const int layoutActions() const { return 1; }

    // The geometry for the State, with every stride and ARRAY_SIZE times
    // actions, and an uninitialised weight array. Refuses (reports, leaves
    // the group without weights, false) what would give no sound geometry.
    const bool createGeometry(State* aStatePtr, const int actions);
    // Drops weights, traces, stored and visited indices (a new layout follows).
    void releaseLearningData();
    // The exclusive upper bound of an active tile entry: every action's
    // weight of that tile lies within the array. Without weights no entry
    // is a tile (and a refused layout's counts may not even multiply).
    const int activeIndexLimit() const { return weights == nullptr ? 0 : ARRAY_SIZE - TILINGS * (layoutActions() - 1); }
    // Every weight index is in [0, ARRAY_SIZE).
    const bool isWeightIndex(const int index) const { return index >= 0 && index < ARRAY_SIZE; }
    // Adds value to the weights of the stored active indices.
    void addToStoredIndices(const double value);
    // A new array of count doubles, or null (reported) when it cannot be had.
    static double* newDoubles(const long long count);

    int TILINGS;
    int DIMENSIONS;
    Types::TRACE_STORAGE traceStorage;
    Types::TILINGS_VAR_STRUCT* vars;
    int* tiles;
    double* tileWidth;
    int* indexOffset;
    int* activeTiles;
    int* storedActiveIndices;
    double** tileOffset;
    int ARRAY_SIZE;
    double* weights;
    double* eTraces;
    std::map<int, double> eTracesMap;
    // Nodes that left eTracesMap, kept for its next entries.
    std::vector<std::map<int, double>::node_type> spareTraceNodes;
    State* statePtr;
    std::set<int> episodeIndexHistorySet;
    // Nodes that left episodeIndexHistorySet, kept for its next entries.
    std::vector<std::set<int>::node_type> spareVisitNodes;
    // Value, minimum and maximum of each variable, read once per activation
    // (they are the same for every tiling).
    double* varValueCache;
    // The trace logic for every storage, working on traceStorage, eTraces,
    // eTracesMap and the weights above (owned; internal).
    TraceStore* traceStore;

private:
    void initPointers();

    // The parts of createGeometry, each reporting on behalf of function:
    // whether the group, the actions and the State allow a layout; the tile
    // count of a variable (range set to its max - min), or -1 when it has
    // none or the weights would not fit an int together with product; and
    // the strides, widths, offsets and resolutions for those counts.
    bool canLayOut(const int actions, const char* function) const;
    long long tileCount(const Types::TILINGS_VAR_STRUCT& var, const long long product, double& range,
                        const char* function) const;
    void layOut(const int* newTiles, const double* range, const int actions);

    // The parts of activateTiles: every variable's value and bounds into
    // varValueCache, and the weight index of tiling t's tile, false when
    // the tiling has none (outside set when a tile number lies outside its
    // variable's tiles).
    inline void cacheValues();
    inline bool tilingIndex(const int t, double& index, bool& outside, const char* function) const;

    // The body, read part by part, each part reporting on behalf of function:
    // the counts and trace storage (then the arrays are allocated), the
    // variable records, the widths, tile counts, strides and offsets, their
    // check (size set to the number of weights they give), and the weights.
    const int readBody(FILE* file);
    bool readCounts(FILE* file, const char* function);
    bool readVariables(FILE* file, const char* function);
    bool readLayout(FILE* file, const char* function);
    bool checkLayout(long long& size, const char* function) const;
    bool readWeights(FILE* file, const long long size, const char* function);
};

#endif
