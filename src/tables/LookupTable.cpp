#include "LookupTable.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <new>

#include "core/FileIO.h"
#include "core/NodeRecycling.h"
#include "core/ReportTexts.h"
#include "Report.h"
#include "Utility.h"
#include "valuefunction/TraceStore.h"

LookupTable::LookupTable(State* aStatePtr)
    : traceStorage(Types::MAP),
      ARRAY_SIZE(0),
      weights(nullptr),
      eTraces(nullptr),
      indexOffset(nullptr),
      activeIndex(-1),
      storedActiveIndex(-1),
      statePtr(aStatePtr),
      indexOffsetSize(0),
      traceStore(new TraceStore(traceStorage, eTraces, eTracesMap, spareTraceNodes, weights, ARRAY_SIZE)) {}

LookupTable::~LookupTable() {
    freeMemory();
    delete traceStore;
}

void LookupTable::allocateMemory() {
    const unsigned int N = statePtr != nullptr ? statePtr->getNumberOfVariables() : 0;
    indexOffset = new (std::nothrow) int[N];
    indexOffsetSize = indexOffset != nullptr ? N : 0;
    if (indexOffset == nullptr) TEMBRA_ERROR("cannot allocate " << N << " strides");
}

double* LookupTable::allocateMemoryWeights() {
    // On i386 a table that an int can index may still be more bytes than
    // the address space has.
    if (ARRAY_SIZE < 0 || static_cast<unsigned long long>(ARRAY_SIZE) > SIZE_MAX / sizeof(double)) {
        TEMBRA_ERROR("ARRAY_SIZE = " << ARRAY_SIZE << " --> more weights than this platform can address");
        return nullptr;
    }
    double* array = new (std::nothrow) double[static_cast<std::size_t>(ARRAY_SIZE)];
    if (array == nullptr) TEMBRA_ERROR("cannot allocate " << ARRAY_SIZE << " weights");
    return array;
}

void LookupTable::freeMemory() {
    delete[] indexOffset;
    indexOffset = nullptr;
    indexOffsetSize = 0;
    delete[] weights;
    weights = nullptr;
    delete[] eTraces;
    eTraces = nullptr;
}

const int LookupTable::weightsPerState() const { return 1; }

void LookupTable::forgetIndices() {
    activeIndex = -1;
    storedActiveIndex = -1;
    traceStore->forget();
    episodeIndexHistorySet.clear();
}

const long long LookupTable::geometry(const long long BLOCK, const bool compare, const char* function,
                                      const int line) const {
    if (!geometryUsable(BLOCK, function, line)) return -1;
    const unsigned int N = statePtr->getNumberOfVariables();
    // stride never exceeds INT_MAX before a multiplication by a range of
    // at most 2^32, so the 64-bit product cannot overflow.
    long long stride = BLOCK;
    for (unsigned int v = N; v-- > 0;) {
        if (compare) {
            if (indexOffset[v] != stride) {
                TEMBRA_ERROR_AT(function, line,
                                "indexOffset[" << v << "] = " << indexOffset[v] << ", but the State's bounds give "
                                               << stride << " --> the body does not belong to this State");
                return -1;
            }
        } else {
            indexOffset[v] = static_cast<int>(stride);
        }
        const long long minV = statePtr->getMinValueInt(v);
        const long long maxV = statePtr->getMaxValueInt(v);
        const long long range = maxV - minV + 1;
        if (range < 1) {
            TEMBRA_ERROR_AT(
                function, line,
                "variable " << v << " has bounds [" << minV << ", " << maxV << "] --> no table on an empty range");
            return -1;
        }
        stride = stride * range;
        if (stride > INT_MAX) {
            TEMBRA_ERROR_AT(
                function, line,
                "the table would hold more than " << INT_MAX << " weights --> not addressable by an int index");
            return -1;
        }
    }
    return stride;
}

bool LookupTable::geometryUsable(const long long BLOCK, const char* function, const int line) const {
    if (statePtr == nullptr) {
        TEMBRA_ERROR_AT(function, line, "statePtr == 0");
        return false;
    }
    if (BLOCK < 1 || BLOCK > INT_MAX) {
        TEMBRA_ERROR_AT(function, line, "weights per state = " << BLOCK << " --> must lie in [1, " << INT_MAX << "]");
        return false;
    }
    const unsigned int N = statePtr->getNumberOfVariables();
    if (N != indexOffsetSize || (N > 0 && indexOffset == nullptr)) {
        TEMBRA_ERROR_AT(function, line,
                        "the State has " << N << " variables, the table " << indexOffsetSize << " strides");
        return false;
    }
    return true;
}

const bool LookupTable::buildTable(const long long BLOCK, const char* function, const int line) {
    freeMemory();
    forgetIndices();
    ARRAY_SIZE = 0;
    if (statePtr == nullptr) {
        TEMBRA_ERROR_AT(function, line, "statePtr == 0");
        return false;
    }
    allocateMemory();
    if (indexOffset == nullptr) return false;
    const long long size = geometry(BLOCK, false, function, line);
    if (size < 0) {
        freeMemory();
        return false;
    }
    ARRAY_SIZE = static_cast<int>(size);
    weights = allocateMemoryWeights();
    if (weights == nullptr) {
        freeMemory();
        ARRAY_SIZE = 0;
        return false;
    }
    return true;
}

void LookupTable::initWeights(const double (*initFunctionPtr)()) {
    if (weights == nullptr) {
        TEMBRA_ERROR(tembra_text::NO_WEIGHTS);
        return;
    }
    if (initFunctionPtr == nullptr) {
        TEMBRA_ERROR("initFunctionPtr == 0 --> weights unchanged");
        return;
    }
    for (int i = 0; i < ARRAY_SIZE; ++i) weights[i] = initFunctionPtr();
}

void LookupTable::initEligibilityTraces() {
    // The trace array is made once, then reused until the table changes.
    if (traceStorage == Types::ARRAY && eTraces == nullptr && weights != nullptr) eTraces = allocateMemoryWeights();
    traceStore->clear(__func__, __LINE__);
}

void LookupTable::updateWeights(const double ALPHA, const double DELTA) {
    if (weights == nullptr) {
        TEMBRA_ERROR(tembra_text::NO_WEIGHTS);
        return;
    }
    const double FACTOR = ALPHA * DELTA;
    if (traceStore->updateAlong(traceStorage, weights, eTraces, eTracesMap, ARRAY_SIZE, FACTOR, __func__, __LINE__))
        return;
    if (storedActiveIndex != -1) {
        addToStoredIndex(FACTOR, __func__);
    } else {
        traceStore->reportNothingToUpdate("storedActiveIndex == -1", __func__, __LINE__);
    }
}

void LookupTable::addToStoredIndex(const double value, const char* function) {
    if (storedActiveIndex < 0 || storedActiveIndex >= ARRAY_SIZE) {
        TEMBRA_ERROR_AT(function, __LINE__,
                        "index (" << storedActiveIndex << ") out ouf bounds --> [0, " << ARRAY_SIZE << ")");
        return;
    }
    weights[storedActiveIndex] = weights[storedActiveIndex] + value;
}

void LookupTable::updateEligibilityTraces(const double GAMMA, const double LAMBDA) {
    traceStore->decay(traceStorage, eTraces, eTracesMap, ARRAY_SIZE, GAMMA * LAMBDA, __func__, __LINE__);
}

void LookupTable::checkWeightLimit(const double MIN_WEIGHT, const double MAX_WEIGHT) {
    if (weights == nullptr) {
        TEMBRA_ERROR(tembra_text::NO_WEIGHTS);
        return;
    }
    for (int i = 0; i < ARRAY_SIZE; ++i) weights[i] = minMax(weights[i], MIN_WEIGHT, MAX_WEIGHT);
}

const double LookupTable::getMinWeight() const {
    double min = DBL_MAX;
    if (weights == nullptr) {
        TEMBRA_ERROR(tembra_text::NO_WEIGHTS);
        return min;
    }
    for (int i = 0; i < ARRAY_SIZE; ++i) {
        if (weights[i] < min) min = weights[i];
    }
    return min;
}

const double LookupTable::getMaxWeight() const {
    double max = -DBL_MAX;
    if (weights == nullptr) {
        TEMBRA_ERROR(tembra_text::NO_WEIGHTS);
        return max;
    }
    for (int i = 0; i < ARRAY_SIZE; ++i) {
        if (weights[i] > max) max = weights[i];
    }
    return max;
}

const double LookupTable::getAvgWeight(const bool abs) const {
    if (weights == nullptr) {
        TEMBRA_ERROR(tembra_text::NO_WEIGHTS);
        return 0.0;
    }
    double sum = 0.0;
    for (int i = 0; i < ARRAY_SIZE; ++i) sum = sum + (abs ? std::fabs(weights[i]) : weights[i]);
    return sum / ARRAY_SIZE;
}

void LookupTable::setState() { calculateActiveIndex(); }

void LookupTable::calculateActiveIndex() {
    if (statePtr == nullptr) {
        TEMBRA_ERROR("statePtr == 0");
        activeIndex = -1;
        return;
    }
    if (weights == nullptr) {
        TEMBRA_ERROR(tembra_text::NO_WEIGHTS);
        activeIndex = -1;
        return;
    }
    const unsigned int N = statePtr->getNumberOfVariables();
    if (N != indexOffsetSize || (N > 0 && indexOffset == nullptr)) {
        TEMBRA_ERROR("the State has " << N << " variables, the table was built for " << indexOffsetSize
                                      << " --> no present state");
        activeIndex = -1;
        return;
    }
    const int64_t index = stateIndex(N);
    if (index < 0 || index >= ARRAY_SIZE) {
        TEMBRA_ERROR("index (" << index << ") out ouf bounds --> [0, " << ARRAY_SIZE << ")");
        activeIndex = -1;
        return;
    }
    activeIndex = static_cast<int>(index);
}

// Each term is a 32-bit stride times a 33-bit difference and fits in 64
// bits; only the sum can leave them, and a sum that does is far out of any
// table, so it saturates and stays out of range.
int64_t LookupTable::stateIndex(const unsigned int N) const {
    int64_t index = 0;
    for (unsigned int v = 0; v < N; ++v) {
        const int64_t difference =
            static_cast<int64_t>(statePtr->getValueInt(v)) - static_cast<int64_t>(statePtr->getMinValueInt(v));
        const int64_t term = static_cast<int64_t>(indexOffset[v]) * difference;
        int64_t sum;
        if (__builtin_add_overflow(index, term, &sum)) {
            index = term > 0 ? INT64_MAX : INT64_MIN;
            break;
        }
        index = sum;
    }
    return index;
}

void LookupTable::initEpisodeStateHistory() { clearVisits(); }

void LookupTable::valueEpisode(const double value) {
    if (episodeIndexHistorySet.empty()) {
        TEMBRA_ERROR(tembra_text::NO_EPISODE_HISTORY);
        return;
    }
    if (weights == nullptr) {
        TEMBRA_ERROR(tembra_text::NO_WEIGHTS);
        return;
    }
    for (std::set<int>::const_iterator it = episodeIndexHistorySet.begin(); it != episodeIndexHistorySet.end(); ++it) {
        if (*it < 0 || *it >= ARRAY_SIZE) continue;
        weights[*it] = weights[*it] + value;
    }
}

const int LookupTable::save(FILE* file) const {
    if (weights == nullptr) {
        TEMBRA_ERROR(tembra_text::NO_WEIGHTS);
        return -1;
    }
    // The strides are read back with the count of the State block that
    // precedes the body; a body with another count could not be read.
    const unsigned int N = statePtr != nullptr ? statePtr->getNumberOfVariables() : 0;
    if (statePtr == nullptr || N != indexOffsetSize || (N > 0 && indexOffset == nullptr)) {
        TEMBRA_ERROR("the State has " << N << " variables, the table " << indexOffsetSize
                                      << " strides --> the body would not match its State block");
        return -1;
    }
    if (!tembra_io::writeInt32(file, static_cast<int32_t>(traceStorage)) ||
        !tembra_io::writeInt32Array(file, indexOffset, N) || !tembra_io::writeInt32(file, ARRAY_SIZE) ||
        !tembra_io::writeDoubleArray(file, weights, static_cast<std::size_t>(ARRAY_SIZE))) {
        TEMBRA_ERROR(TEMBRA_ERRNO_WIDE);
        return -1;
    }
    return 0;
}

const int LookupTable::load(FILE* file) {
    // Indices into the table being replaced mean nothing in the new one:
    // a stale present state or trace entry would address memory beyond it.
    freeMemory();
    forgetIndices();
    ARRAY_SIZE = 0;
    if (statePtr == nullptr) {
        TEMBRA_ERROR("statePtr == 0");
        return -1;
    }
    // Tile codings and networks are written on floating-point variables.
    if (statePtr->getNumberOfVariables() > 0 && statePtr->getType() != State::INT) {
        TEMBRA_ERROR("varType = " << statePtr->getType() << " --> a lookup table needs a State of INT variables");
        return -1;
    }
    int32_t size = 0;
    if (!readLayout(file, size, __func__)) return -1;
    const long long left = readWeights(file, size, __func__) ? tembra_io::bytesLeft(file) : -1;
    if (left != 0) {
        if (left > 0) TEMBRA_ERROR(tembra_text::bytesAfterBody(left));
        freeMemory();
        ARRAY_SIZE = 0;
        return -1;
    }
    return 0;
}

bool LookupTable::readLayout(FILE* file, int32_t& size, const char* function) {
    int32_t storage = 0;
    if (!tembra_io::readInt32(file, storage)) {
        TEMBRA_ERROR_AT(function, __LINE__, TEMBRA_ERRNO_WIDE);
        return false;
    }
    traceStorage = static_cast<Types::TRACE_STORAGE>(storage);

    const unsigned int N = statePtr->getNumberOfVariables();
    if (!tembra_io::fits(file, N, 4)) {
        TEMBRA_ERROR_AT(function, __LINE__, "the body ends before its " << N << " strides");
        return false;
    }
    allocateMemory();
    if (indexOffset == nullptr) return false;
    if (!tembra_io::readInt32Array(file, indexOffset, N) || !tembra_io::readInt32(file, size)) {
        TEMBRA_ERROR_AT(function, __LINE__, TEMBRA_ERRNO_WIDE);
        freeMemory();
        return false;
    }
    return true;
}

bool LookupTable::readWeights(FILE* file, const int32_t size, const char* function) {
    // The strides and the size must be exactly those of a table built on
    // this State: anything else would index past the weights.
    const long long expected = geometry(weightsPerState(), true, function, __LINE__);
    if (expected < 0) return false;
    if (size != expected) {
        TEMBRA_ERROR_AT(function, __LINE__,
                        "ARRAY_SIZE = " << size << ", but the State's bounds give " << expected
                                        << " --> the body does not belong to this State");
        return false;
    }
    if (!tembra_io::fits(file, size, 8)) {
        TEMBRA_ERROR_AT(function, __LINE__,
                        "ARRAY_SIZE = " << size << " --> more weights than the rest of the file holds");
        return false;
    }
    ARRAY_SIZE = size;
    weights = allocateMemoryWeights();
    if (weights == nullptr) return false;
    if (!tembra_io::readDoubleArray(file, weights, static_cast<std::size_t>(ARRAY_SIZE))) {
        TEMBRA_ERROR_AT(function, __LINE__, TEMBRA_ERRNO_WIDE);
        return false;
    }
    return true;
}

void LookupTable::setTrace(const int index, const double value) {
    tembra_nodes::set(eTracesMap, spareTraceNodes, index, value);
}

void LookupTable::addTrace(const int index, const double value) {
    tembra_nodes::add(eTracesMap, spareTraceNodes, index, value);
}

std::map<int, double>::iterator LookupTable::putTrace(std::map<int, double>::const_iterator hint, const int index,
                                                      const double value) {
    return tembra_nodes::put(eTracesMap, spareTraceNodes, hint, index, value);
}

std::map<int, double>::iterator LookupTable::dropTrace(const std::map<int, double>::iterator entry) {
    return tembra_nodes::drop(eTracesMap, spareTraceNodes, entry);
}

void LookupTable::clearTraceMap() { tembra_nodes::clear(eTracesMap, spareTraceNodes); }

void LookupTable::recordVisit(const int index) { tembra_nodes::insert(episodeIndexHistorySet, spareVisitNodes, index); }

void LookupTable::clearVisits() { tembra_nodes::clear(episodeIndexHistorySet, spareVisitNodes); }
