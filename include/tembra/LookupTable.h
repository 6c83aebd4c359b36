#ifndef TEMBRA_LOOKUPTABLE_H
#define TEMBRA_LOOKUPTABLE_H

#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <vector>

#include "Export.h"
#include "State.h"
#include "Types.h"

class TraceStore;

// The tabular representation shared by StateLookupTable and
// ActionLookupTable: the present state's integer variables select one
// index of a flat array of weights (row-major, variable 0 most
// significant, the last variable fastest). It keeps one eligibility trace
// per weight (densely in an array, sparsely in an ordered map or in a flat
// list with an index-to-slot table), moves the
// weights along the traces, remembers the indices visited in an episode,
// and reads and writes the lookup-table body:
//   traceStorage int32, indexOffset[N] int32, ARRAY_SIZE int32,
//   weights[ARRAY_SIZE] float64 (N comes from the State block before it).
//
// A concrete table derives first from a value-function base and second
// from this class; the operations both declare are overridden once in the
// table, so a call through either base reaches the same body.
class TEMBRA_API LookupTable {
public:
    // An empty table on aStatePtr (not owned): no weights, MAP traces.
    explicit LookupTable(State* aStatePtr);
    virtual ~LookupTable();

    LookupTable(const LookupTable&) = delete;
    LookupTable& operator=(const LookupTable&) = delete;

    // Each weight, in ascending index order, from one call of initFunctionPtr.
    virtual void initWeights(const double (*initFunctionPtr)());
    // All traces zero: the trace array (made on first use), an empty map or
    // an empty list (its slot table made on first use).
    virtual void initEligibilityTraces();
    // Every weight moved by ALPHA * DELTA * its trace; without any trace the
    // weight stored by storeState is moved by ALPHA * DELTA.
    virtual void updateWeights(const double ALPHA, const double DELTA);
    // Every trace multiplied by GAMMA * LAMBDA. Map and list entries are never pruned.
    virtual void updateEligibilityTraces(const double GAMMA, const double LAMBDA);
    // Every weight clamped into [MIN_WEIGHT, MAX_WEIGHT] (a NaN becomes MIN_WEIGHT).
    virtual void checkWeightLimit(const double MIN_WEIGHT, const double MAX_WEIGHT);
    virtual const double getMinWeight() const;
    virtual const double getAvgWeight(const bool abs) const;
    virtual const double getMaxWeight() const;
    // The present state's index from the present variable values.
    virtual void setState();
    virtual void calculateActiveIndex();
    virtual void initEpisodeStateHistory();
    // value added once to the weight of every index visited in the episode.
    virtual void valueEpisode(const double value);

    // Traces held in the other stores stay as they are and are ignored.
    void setTraceStorage(const Types::TRACE_STORAGE storage) { traceStorage = storage; }

protected:
    // The lookup-table body: 0 on success, -1 on failure (reported). A
    // failed load leaves no table behind.
    virtual const int save(FILE* file) const;
    virtual const int load(FILE* file);
    // indexOffset for the State's present number of variables.
    virtual void allocateMemory();
    // A new array of ARRAY_SIZE doubles, stored nowhere; null (reported)
    // when it cannot be had.
    virtual double* allocateMemoryWeights();
    // Releases the strides, the weights and the trace array.
    virtual void freeMemory();
    // Weights per state of a table the body must describe: 1 here, the
    // number of actions in the action table. Used to check a body on load.
    virtual const int weightsPerState() const;

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
    void setStatePtr(State* aStatePtr) { statePtr = aStatePtr; }

    // Builds the strides and ARRAY_SIZE for BLOCK weights per state from
    // the State's bounds (ranges taken in 64 bits), allocates the weights
    // and forgets everything that indexed the previous table. Returns
    // false, with a report naming function and leaving no table, when a
    // range is empty or the table would not be addressable by an int.
    const bool buildTable(const long long BLOCK, const char* function, const int line);
    // Walks the geometry that the State's bounds give for BLOCK weights per
    // state, from the last variable up. With compare false it writes the
    // strides to indexOffset; with compare true it checks indexOffset
    // against them. Returns the number of weights, or -1 (reported).
    const long long geometry(const long long BLOCK, const bool compare, const char* function, const int line) const;
    // No present state, no stored index, no traces, no history: what an
    // index of a previous table must not survive.
    void forgetIndices();

    Types::TRACE_STORAGE traceStorage;
    int ARRAY_SIZE;
    double* weights;
    double* eTraces;
    std::map<int, double> eTracesMap;
    // Nodes that left eTracesMap, kept for its next entries.
    std::vector<std::map<int, double>::node_type> spareTraceNodes;
    int* indexOffset;
    int activeIndex;
    int storedActiveIndex;
    std::set<int> episodeIndexHistorySet;
    // Nodes that left episodeIndexHistorySet, kept for its next entries.
    std::vector<std::set<int>::node_type> spareVisitNodes;
    State* statePtr;
    // Number of entries of indexOffset: a State that gained or lost
    // variables since the strides were made is refused, not overrun.
    unsigned int indexOffsetSize;
    // The trace logic for every storage, working on traceStorage, eTraces,
    // eTracesMap and the weights above (owned; internal).
    TraceStore* traceStore;

private:
    // A State, a block size and strides for the State's variables: what
    // geometry needs (otherwise reported on behalf of function).
    bool geometryUsable(const long long BLOCK, const char* function, const int line) const;
    // The present state's index from the State's values and the strides
    // of its N variables, saturated in 64 bits.
    inline int64_t stateIndex(const unsigned int N) const;
    // Without traces, the weight of the state stored last moves by value
    // (an index outside the weights is reported on behalf of function).
    inline void addToStoredIndex(const double value, const char* function);
    // The parts of load, each reporting on behalf of function: traceStorage,
    // the strides and ARRAY_SIZE as the body gives them (size), then the
    // weights once the strides and size are checked against the State.
    bool readLayout(FILE* file, int32_t& size, const char* function);
    bool readWeights(FILE* file, const int32_t size, const char* function);
};

#endif
