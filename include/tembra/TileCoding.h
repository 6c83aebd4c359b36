#ifndef TEMBRA_TILECODING_H
#define TEMBRA_TILECODING_H

#include <cstdio>
#include <list>

#include "Export.h"
#include "Tilings.h"
#include "Types.h"

// Second base of the tile-coded value functions: an ordered list of owned
// tilings groups and the value-function operations that are the same for
// state and action values, applied to each group in list order. The
// step size is shared out over all tilings of all groups, so that a state
// whose every tiling has an active tile with trace 1 moves by ALPHA * DELTA.
class TEMBRA_API TileCoding {
public:
    TileCoding();
    virtual ~TileCoding();

    TileCoding(const TileCoding&) = delete;
    TileCoding& operator=(const TileCoding&) = delete;

    virtual void initWeights(const double (*initFunctionPtr)());
    virtual void initEligibilityTraces();
    // Each group gets ALPHA / numberOfTilings.
    virtual void updateWeights(const double ALPHA, const double DELTA);
    virtual void updateEligibilityTraces(const double GAMMA, const double LAMBDA);
    // For the groups registered so far; allocates and clears nothing.
    virtual void setTraceStorage(const Types::TRACE_STORAGE newTraceStorage);
    virtual void accumulatingTraces(const double VALUE) = 0;
    virtual void replacingTraces(const double VALUE) = 0;
    virtual const double getMinWeight() const;
    // The mean over every weight of every group; NaN without weights.
    virtual const double getAvgWeight(const bool abs) const;
    virtual const double getMaxWeight() const;
    virtual void setState();
    virtual void initEpisodeStateHistory();
    virtual void valueEpisode(const double value);

    const int getNumberOfTilings() const { return numberOfTilings; }
    const int getNumberOfGroups() const { return static_cast<int>(tilingPtrList.size()); }

protected:
    // The container body: listSize (uint32), then the group bodies.
    virtual const int save(FILE* file) const;
    virtual const int load(FILE* file) = 0;
    // Deletes every group.
    virtual void freeMemory();

    // Takes over a group that has weights (created or read); a group
    // without them is deleted and false returned. The caller reports.
    const bool appendTiling(Tilings* tilingPtr);
    const bool isRegistered(const Tilings* tilingPtr) const;
    // Reads listSize and checks it against the rest of the file: the number
    // of groups to read, or -1 (reported).
    static const long long readListSize(FILE* file, const char* function, const int line);
    // Whether a body may be read onto this State: groups tile DOUBLE
    // variables, so a State of INT variables (a lookup table's file) is
    // refused (reported).
    static const bool stateTileable(const State* state, const char* function, const int line);
    // Whether the body read so far was the whole rest of the file; bytes
    // after it are reported.
    static const bool bodyEnds(FILE* file, const char* function, const int line);

    std::list<Tilings*> tilingPtrList;
    int numberOfTilings;
};

#endif
