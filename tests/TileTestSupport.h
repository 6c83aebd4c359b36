#ifndef TEMBRA_TESTS_TILETESTSUPPORT_H
#define TEMBRA_TESTS_TILETESTSUPPORT_H

// Helpers shared by the tile-coding tests: probes that expose a group's
// protected arrays, variable lists, States and weight initialisers.

#include <cstddef>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "ActionTilings.h"
#include "State.h"
#include "StateTilings.h"
#include "Types.h"

namespace tile_test {

using VarList = std::list<Types::TILINGS_VAR_STRUCT>;

inline Types::TILINGS_VAR_STRUCT tiledVar(int id, double resolution, int tileType) {
    Types::TILINGS_VAR_STRUCT var;
    var.id = id;
    var.resolution = resolution;
    var.tileType = static_cast<Types::TILE_TYPE>(tileType);
    return var;
}

// A group whose protected state the tests can read.
template <class Group>
class Probe : public Group {
public:
    using Group::Group;
    int active(int t) const { return this->activeTiles[t]; }
    int tileCount(int d) const { return this->tiles[d]; }
    double width(int d) const { return this->tileWidth[d]; }
    double resolution(int d) const { return this->vars[d].resolution; }
    double offset(int t, int d) const { return this->tileOffset[t][d]; }
    int stride(int d) const { return this->indexOffset[d]; }
    int arraySize() const { return this->ARRAY_SIZE; }
    const int* stored() const { return this->storedActiveIndices; }
    const std::map<int, double>& traceMap() const { return this->eTracesMap; }
    const std::set<int>& visited() const { return this->episodeIndexHistorySet; }
    using Group::addTrace;
    using Group::clearTraceMap;
    using Group::dropTrace;
    using Group::setTrace;
    std::map<int, double>::iterator traceMapEntry(int index) { return this->eTracesMap.find(index); }
    std::vector<int> activeList() const {
        std::vector<int> list;
        for (int t = 0; t < this->TILINGS; ++t) list.push_back(this->activeTiles[t]);
        return list;
    }
    std::vector<double> weightList() const {
        return std::vector<double>(this->weights, this->weights + this->ARRAY_SIZE);
    }
};

using StateProbe = Probe<StateTilings>;
using ActionProbe = Probe<ActionTilings>;

// A State of floating-point variables with the given bounds, ids 0, 1, ...
inline State* doubleState(const std::vector<std::pair<double, double>>& bounds) {
    State* state = new State();
    int i = 0;
    for (const auto& b : bounds) state->registerVariable("v" + std::to_string(i++), b.first, b.second);
    return state;
}

// Weight initialisers: a given sequence (then zeros), a count from a start.
struct Sequence {
    std::vector<double> values;
    std::size_t position = 0;
};
inline Sequence& sequence() {
    static Sequence s;
    return s;
}
inline const double fromSequence() {
    Sequence& s = sequence();
    return s.position < s.values.size() ? s.values[s.position++] : 0.0;
}
inline void setSequence(const std::vector<double>& values) { sequence() = Sequence{values, 0}; }
inline void countFrom(double start, std::size_t n) {
    std::vector<double> values;
    for (std::size_t i = 0; i < n; ++i) values.push_back(start + static_cast<double>(i));
    setSequence(values);
}
inline const double zero() { return 0.0; }

}  // namespace tile_test

#endif
