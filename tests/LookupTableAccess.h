#ifndef TEMBRA_TESTS_LOOKUPTABLEACCESS_H
#define TEMBRA_TESTS_LOOKUPTABLEACCESS_H

// The lookup tables with their protected members opened for inspection,
// as a using program's subclass may read them, plus small builders.

#include <string>
#include <vector>

#include "AbstractAction.h"
#include "ActionLookupTable.h"
#include "State.h"
#include "StateLookupTable.h"

namespace lookup_test {

template <class Table>
class Open : public Table {
public:
    using Table::Table;
    using Table::load;
    using Table::save;
    using LookupTable::ARRAY_SIZE;
    using LookupTable::activeIndex;
    using LookupTable::eTraces;
    using LookupTable::eTracesMap;
    using LookupTable::episodeIndexHistorySet;
    using LookupTable::indexOffset;
    using LookupTable::storedActiveIndex;
    using LookupTable::weights;

    std::vector<int> strides() const {
        return indexOffset == nullptr ? std::vector<int>()
                                      : std::vector<int>(indexOffset, indexOffset + this->indexOffsetSize);
    }
    std::vector<double> weightVector() const {
        return weights == nullptr ? std::vector<double>() : std::vector<double>(weights, weights + ARRAY_SIZE);
    }
    void setWeights(const std::vector<double>& values) {
        for (std::size_t i = 0; i < values.size() && static_cast<int>(i) < ARRAY_SIZE; ++i) weights[i] = values[i];
    }
};

class VTable : public Open<StateLookupTable> {
public:
    using Open<StateLookupTable>::Open;
};

class QTable : public Open<ActionLookupTable> {
public:
    using Open<ActionLookupTable>::Open;
    using ActionLookupTable::removeAction;
    using ActionValueFunction::ACTIONS;
    using ActionValueFunction::activeActionIndex;
    using ActionValueFunction::registeredActions;
};

// Counts its destructions, so a test sees which actions were destroyed.
class CountedAction : public AbstractAction {
public:
    explicit CountedAction(int* destroyedCounter) : counter(destroyedCounter) {}
    ~CountedAction() override {
        if (counter != nullptr) ++*counter;
    }

private:
    int* counter;
};

struct IntVar {
    std::string name;
    int lo;
    int hi;
};

inline State* makeState(const std::vector<IntVar>& vars) {
    State* state = new State();
    for (const IntVar& v : vars) state->registerVariable(v.name, v.lo, v.hi);
    return state;
}

// A table whose State has the given variables and the given actions.
inline QTable* makeQ(const std::vector<IntVar>& vars, int actions, bool create = true) {
    QTable* q = new QTable(makeState(vars));
    for (int a = 0; a < actions; ++a) q->registerAction(new CountedAction(nullptr));
    if (create) q->create();
    return q;
}

}  // namespace lookup_test

#endif
