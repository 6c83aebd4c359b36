#include "TraceStore.h"

#include <new>

#include "Report.h"
#include "core/ReportTexts.h"

void TraceStore::clear(const char* function, const int line) {
    switch (storage_) {
        case Types::ARRAY:
            if (weights_ == nullptr) {
                TEMBRA_ERROR_AT(function, line, tembra_text::NO_WEIGHTS);
                return;
            }
            // The owner made the array; a failed allocation was reported there.
            if (array_ == nullptr) return;
            for (int i = 0; i < size_; ++i) array_[i] = 0.0;
            return;
        case Types::MAP: tembra_nodes::clear(map_, spare_); return;
        case Types::SPARSE:
            if (slots_.size() != static_cast<std::size_t>(size_)) {
                // Entries of another table: their indices mean nothing here.
                indices_.clear();
                traces_.clear();
                if (weights_ != nullptr) (void)makeSlots();
                return;
            }
            clearSparse();
            return;
    }
    reportUnknown(function, line);
}

void TraceStore::forget() {
    map_.clear();
    if (slots_.size() == static_cast<std::size_t>(size_)) {
        clearSparse();
    } else {
        indices_.clear();
        traces_.clear();
    }
    // The next table may have another size: the slots are made for it then.
    std::vector<int>().swap(slots_);
}

bool TraceStore::makeSlots() {
    indices_.clear();
    traces_.clear();
    if (size_ < 0) return false;
    try {
        slots_.assign(static_cast<std::size_t>(size_), -1);
    } catch (const std::bad_alloc&) {
        std::vector<int>().swap(slots_);
        TEMBRA_ERROR("cannot allocate " << size_ << " trace slots --> traces not marked");
        return false;
    }
    return true;
}

bool TraceStore::arrayMarkable(const char* function, const int line) const {
    if (storage_ != Types::ARRAY) {
        reportUnknown(function, line);
        return false;
    }
    if (array_ == nullptr) {
        TEMBRA_ERROR_AT(function, line, tembra_text::NO_TRACE_ARRAY);
        return false;
    }
    return true;
}

// With stride 1 the indices are neighbours in the map: one walk from the
// first removes every other entry among them and finds the chosen one's,
// which the walk's position then places.
void TraceStore::replaceInMap(const int first, const int stride, const int count, const int chosen,
                              const double value) {
    if (stride != 1) {
        for (int b = 0; b < count; ++b) {
            const int index = first + stride * b;
            if (b == chosen) {
                tembra_nodes::set(map_, spare_, index, value);
            } else {
                const Map::iterator entry = map_.find(index);
                if (entry != map_.end()) tembra_nodes::drop(map_, spare_, entry);
            }
        }
        return;
    }
    const int end = first + count;
    const int index = first + chosen;
    bool marked = false;
    Map::iterator it = map_.lower_bound(first);
    while (it != map_.end() && it->first < end) {
        if (it->first == index) {
            it->second = value;
            marked = true;
            ++it;
        } else {
            it = tembra_nodes::drop(map_, spare_, it);
        }
    }
    if (!marked) tembra_nodes::put(map_, spare_, it, index, value);
}

void TraceStore::reportNothingToUpdate(const char* stored, const char* function, const int line) const {
    switch (storage_) {
        case Types::ARRAY:
            TEMBRA_ERROR_AT(function, line,
                            "traceStorage == ARRAY and eTraces == 0 and "
                                << stored << " --> Set traceStorage to MAP"
                                << " or call initEligibilityTraces or storeState before calling updateWeights!");
            return;
        case Types::MAP:
            TEMBRA_ERROR_AT(function, line,
                            "traceStorage == MAP and eTracesMap == empty and "
                                << stored << " --> Set traceStorage to ARRAY"
                                << " or call initEligibilityTraces or storeState before calling updateWeights!");
            return;
        case Types::SPARSE:
            TEMBRA_ERROR_AT(function, line,
                            "traceStorage == SPARSE and no sparse traces and "
                                << stored << " --> Set traceStorage to ARRAY"
                                << " or call initEligibilityTraces or storeState before calling updateWeights!");
            return;
    }
    reportUnknown(function, line);
}

void TraceStore::reportNoDecay(const char* function, const int line) const {
    if (storage_ == Types::ARRAY) {
        TEMBRA_ERROR_AT(function, line, tembra_text::NO_TRACE_ARRAY_TO_DECAY);
    } else {
        reportUnknown(function, line);
    }
}

void TraceStore::reportUnknown(const char* function, const int line) const {
    TEMBRA_ERROR_AT(function, line, tembra_text::UNKNOWN_TRACE_STORAGE << static_cast<int>(storage_));
}
