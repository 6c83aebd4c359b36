#ifndef TEMBRA_TRACESTORE_H
#define TEMBRA_TRACESTORE_H

#include <cstddef>
#include <map>
#include <vector>

#include "Types.h"
#include "core/NodeRecycling.h"
#include "core/TraceSteps.h"

// The eligibility traces of a lookup table or a tilings group, one trace
// per weight index, in the storage its owner has chosen:
//   ARRAY   a dense array parallel to the weights (the owner's eTraces);
//   MAP     an ordered map index -> trace (the owner's eTracesMap), whose
//           nodes are recycled through the owner's spare list;
//   SPARSE  the traced indices and their traces in two flat lists, with the
//           slot of every weight index in a table beside them, so that
//           decay and update run over contiguous memory and marking or
//           dropping an index takes one look-up.
// MAP and SPARSE hold the same entries after the same operations (an entry
// is made by marking and removed only by dropping or clearing, never
// pruned), and every weight receives the products of its own trace only,
// so the two give the same weights bit for bit whatever order their walks
// take.
//
// The owner keeps the storage kind, the array, the map and the weights as
// members of its own (its subclasses read them); the store works on them
// through references. Internal: not installed.
class TraceStore {
public:
    typedef std::map<int, double> Map;
    typedef std::vector<Map::node_type> SpareNodes;

    TraceStore(Types::TRACE_STORAGE& storage, double*& array, Map& map, SpareNodes& spare, double*& weights, int& size)
        : storage_(storage), array_(array), map_(map), spare_(spare), weights_(weights), size_(size) {}

    TraceStore(const TraceStore&) = delete;
    TraceStore& operator=(const TraceStore&) = delete;

    // Every trace zero: the array (which the owner has made) zeroed, the
    // map or the lists emptied. Reports on behalf of function.
    void clear(const char* function, const int line);
    // Every entry of the map and the lists dropped, and the slot table made
    // anew when it is next needed: the weights they indexed are gone.
    void forget();

    // True when marking may go on: an ARRAY store without its array, or an
    // unknown storage, is reported on behalf of function. A SPARSE store
    // gets its slot table for the present weights here (made once per table).
    bool markable(const char* function, const int line) {
        if (storage_ == Types::MAP) return true;
        if (storage_ == Types::SPARSE) return slots_.size() == static_cast<std::size_t>(size_) || makeSlots();
        return arrayMarkable(function, line);
    }

    // The trace of index set to value (replacing) / value added to it
    // (accumulating); an entry is made when there is none. Only after
    // markable, with index inside the weights.
    void set(const int index, const double value) {
        switch (storage_) {
            case Types::ARRAY: array_[index] = value; return;
            case Types::MAP: tembra_nodes::set(map_, spare_, index, value); return;
            case Types::SPARSE: setSparse(index, value); return;
        }
    }
    void add(const int index, const double value) {
        switch (storage_) {
            case Types::ARRAY: array_[index] = array_[index] + value; return;
            case Types::MAP: tembra_nodes::add(map_, spare_, index, value); return;
            case Types::SPARSE: addSparse(index, value); return;
        }
    }
    // Of the count indices first, first + stride, ..., the one numbered
    // chosen gets the trace value, the others lose theirs (0.0 in an
    // array, no entry in the map or the lists). Only after markable.
    void replaceAmong(const int first, const int stride, const int count, const int chosen, const double value) {
        switch (storage_) {
            case Types::ARRAY:
                for (int b = 0; b < count; ++b) array_[first + stride * b] = (b == chosen) ? value : 0.0;
                return;
            case Types::MAP: replaceInMap(first, stride, count, chosen, value); return;
            case Types::SPARSE:
                for (int b = 0; b < count; ++b) {
                    if (b == chosen) setSparse(first + stride * b, value);
                    else dropSparse(first + stride * b);
                }
                return;
        }
    }

    // The two operations of every step take the owner's storage kind,
    // array, map and size from the owner itself: reached through the
    // store's references instead, each costs two more dependent loads
    // before the walk, which slowed a MAP step by some 7 %.

    // Every trace times factor (GAMMA * LAMBDA); reported on behalf of
    // function when there is nothing to decay.
    void decay(const Types::TRACE_STORAGE storage, double* array, Map& map, const int size, const double factor,
               const char* function, const int line) {
        switch (storage) {
            case Types::SPARSE: tembra_traces::decay(traces_.data(), static_cast<int>(traces_.size()), factor); return;
            case Types::MAP: tembra_traces::decay(map, factor); return;
            case Types::ARRAY:
                if (array != nullptr) {
                    tembra_traces::decay(array, size, factor);
                    return;
                }
                break;
        }
        reportNoDecay(function, line);
    }

    // weights += factor * trace for every trace. False when the store
    // holds no traces at all (the owner then moves its stored indices);
    // true when it updated, or reported an unknown storage.
    bool updateAlong(const Types::TRACE_STORAGE storage, double* weights, const double* array, const Map& map,
                     const int size, const double factor, const char* function, const int line) {
        switch (storage) {
            case Types::SPARSE:
                if (indices_.empty()) return false;
                tembra_traces::addAlong(weights, indices_.data(), traces_.data(), static_cast<int>(indices_.size()),
                                        factor);
                return true;
            case Types::MAP:
                if (map.empty()) return false;
                tembra_traces::addAlong(weights, size, map, factor);
                return true;
            case Types::ARRAY:
                if (array == nullptr) return false;
                tembra_traces::addAlong(weights, array, size, factor);
                return true;
        }
        reportUnknown(function, line);
        return true;
    }
    // The report of an update that found neither traces nor stored indices
    // (stored says what was missing, e.g. "storedActiveIndex == -1").
    void reportNothingToUpdate(const char* stored, const char* function, const int line) const;

    // The sparse entries, in list order (for inspection).
    std::size_t sparseCount() const { return indices_.size(); }
    int sparseIndex(const std::size_t k) const { return indices_[k]; }
    double sparseTrace(const std::size_t k) const { return traces_[k]; }

private:
    bool arrayMarkable(const char* function, const int line) const;
    bool makeSlots();
    void replaceInMap(const int first, const int stride, const int count, const int chosen, const double value);
    void reportNoDecay(const char* function, const int line) const;
    void reportUnknown(const char* function, const int line) const;

    void setSparse(const int index, const double value) {
        int& slot = slots_[static_cast<std::size_t>(index)];
        if (slot < 0) {
            slot = static_cast<int>(indices_.size());
            indices_.push_back(index);
            traces_.push_back(value);
        } else {
            traces_[static_cast<std::size_t>(slot)] = value;
        }
    }
    void addSparse(const int index, const double value) {
        int& slot = slots_[static_cast<std::size_t>(index)];
        if (slot < 0) {
            slot = static_cast<int>(indices_.size());
            indices_.push_back(index);
            traces_.push_back(value);
        } else {
            double& trace = traces_[static_cast<std::size_t>(slot)];
            trace = trace + value;
        }
    }
    // The last entry moves into the dropped one's slot.
    void dropSparse(const int index) {
        int& slot = slots_[static_cast<std::size_t>(index)];
        if (slot < 0) return;
        const std::size_t to = static_cast<std::size_t>(slot);
        const int lastIndex = indices_.back();
        indices_[to] = lastIndex;
        traces_[to] = traces_.back();
        slots_[static_cast<std::size_t>(lastIndex)] = slot;
        indices_.pop_back();
        traces_.pop_back();
        slot = -1;
    }
    void clearSparse() {
        for (const int index : indices_) slots_[static_cast<std::size_t>(index)] = -1;
        indices_.clear();
        traces_.clear();
    }

    Types::TRACE_STORAGE& storage_;
    double*& array_;
    Map& map_;
    SpareNodes& spare_;
    double*& weights_;
    int& size_;
    // SPARSE: the traced indices and their traces (entry k is
    // (indices_[k], traces_[k])), and for every weight index its entry's
    // slot or -1. The lists keep their capacity when emptied.
    std::vector<int> indices_;
    std::vector<double> traces_;
    std::vector<int> slots_;
};

#endif
