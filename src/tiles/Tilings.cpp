#include "Tilings.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <new>
#include <vector>

#include "core/FileIO.h"
#include "core/NodeRecycling.h"
#include "core/ReportTexts.h"
#include "Report.h"
#include "Utility.h"
#include "valuefunction/TraceStore.h"

// The public name of the text, for users of the groups, is the shared one.
static_assert(tembra_text::sameText(Tilings::NO_WEIGHTS, tembra_text::NO_WEIGHTS), "one text for missing weights");

namespace {

// An index as the activation computed it: exact while it is an integer of
// reasonable size, otherwise the double itself (a NaN or a huge tile number
// from values far outside the bounds).
struct IndexText {
    double index;
};

std::ostream& operator<<(std::ostream& os, const IndexText& text) {
    if (std::floor(text.index) == text.index && std::fabs(text.index) < 9.0e15) {
        return os << static_cast<long long>(text.index);
    }
    return os << text.index;
}

// Where a value falls along one variable of one tiling.
enum class TileFound { TILE, NONE, OUTSIDE, UNKNOWN };

struct TileNumber {
    double number;
    TileFound found;
};

inline bool isTileNumber(const double n, const int tiles) { return n >= 0.0 && n < tiles; }

// The tile number n of the value x of a variable with bounds [min, max]
// in a tiling shifted by offset whose tiles, tiles of them, are w wide:
//   CLIP    n = floor((x - min - offset) / w), clamped into [0, tiles - 1];
//           no tile below the tiling's first (x - offset < min) nor for NaN
//   WRAP    n = floor((x - min + offset) / w)
//   CIRCLE  n = floor((x' - min) / w), x' = x - offset wrapped around into
//           [min, max], the tile of max being tile 0 again
// A WRAP or CIRCLE number outside [0, tiles) is OUTSIDE.
inline TileNumber tileNumber(const Types::TILE_TYPE type, const double x, const double min, const double max,
                             const double offset, const double w, const int tiles) {
    switch (type) {
        case Types::CLIP: {
            if (!(x - offset >= min)) return {0.0, TileFound::NONE};
            const double n = std::floor((x - min - offset) / w);
            if (std::isnan(n)) return {n, TileFound::NONE};
            return {minMax<double>(n, 0.0, tiles - 1), TileFound::TILE};
        }
        case Types::WRAP: {
            const double n = std::floor((x - min + offset) / w);
            return {n, isTileNumber(n, tiles) ? TileFound::TILE : TileFound::OUTSIDE};
        }
        case Types::CIRCLE: {
            const double wrapped = normalize<double>(x - offset, min, max);
            double n = std::floor((wrapped - min) / w);
            if (n == tiles) n = 0.0;
            return {n, isTileNumber(n, tiles) ? TileFound::TILE : TileFound::OUTSIDE};
        }
    }
    return {0.0, TileFound::UNKNOWN};
}

}  // namespace

Tilings::Tilings(int numberOfTilings, const std::list<Types::TILINGS_VAR_STRUCT>& varList)
    : TILINGS(numberOfTilings),
      DIMENSIONS(static_cast<int>(varList.size())),
      traceStorage(Types::MAP),
      statePtr(nullptr),
      traceStore(new TraceStore(traceStorage, eTraces, eTracesMap, spareTraceNodes, weights, ARRAY_SIZE)) {
    initPointers();
    allocateMemory();
    if (vars != nullptr) {
        int d = 0;
        for (const Types::TILINGS_VAR_STRUCT& var : varList) vars[d++] = var;
    }
}

Tilings::Tilings(State* aStatePtr, FILE* file) : Tilings(aStatePtr) { (void)load(file); }

Tilings::Tilings(State* aStatePtr)
    : TILINGS(0),
      DIMENSIONS(0),
      traceStorage(Types::MAP),
      statePtr(aStatePtr),
      traceStore(new TraceStore(traceStorage, eTraces, eTracesMap, spareTraceNodes, weights, ARRAY_SIZE)) {
    initPointers();
}

Tilings::~Tilings() {
    freeMemory();
    delete traceStore;
}

void Tilings::initPointers() {
    vars = nullptr;
    tiles = nullptr;
    tileWidth = nullptr;
    indexOffset = nullptr;
    activeTiles = nullptr;
    storedActiveIndices = nullptr;
    tileOffset = nullptr;
    ARRAY_SIZE = 0;
    weights = nullptr;
    eTraces = nullptr;
    varValueCache = nullptr;
}

double* Tilings::newDoubles(const long long count) {
    if (count < 1) return nullptr;
    if (static_cast<unsigned long long>(count) > PTRDIFF_MAX / sizeof(double)) {
        TEMBRA_ERROR("cannot allocate " << count << " doubles --> more than the address space holds");
        return nullptr;
    }
    double* array = new (std::nothrow) double[static_cast<std::size_t>(count)];
    if (array == nullptr) TEMBRA_ERROR("cannot allocate " << count << " doubles --> out of memory");
    return array;
}

void Tilings::allocateMemory() {
    // A group built with no tilings or no variables keeps no arrays; create
    // refuses it and every operation finds nothing to do.
    if (DIMENSIONS < 1 || TILINGS < 1) return;
    const std::size_t D = static_cast<std::size_t>(DIMENSIONS);
    const std::size_t T = static_cast<std::size_t>(TILINGS);
    vars = new Types::TILINGS_VAR_STRUCT[D]();
    tiles = new int[D]();
    tileWidth = new double[D]();
    indexOffset = new int[D]();
    varValueCache = new double[3 * D]();
    activeTiles = new int[T];
    for (std::size_t t = 0; t < T; ++t) activeTiles[t] = -1;
    tileOffset = new double*[T];
    for (std::size_t t = 0; t < T; ++t) tileOffset[t] = new double[D]();
}

double* Tilings::allocateMemoryWeights() { return newDoubles(ARRAY_SIZE); }

void Tilings::freeMemory() {
    delete[] vars;
    delete[] tileWidth;
    delete[] tiles;
    delete[] indexOffset;
    delete[] activeTiles;
    delete[] varValueCache;
    if (tileOffset != nullptr) {
        for (int t = 0; t < TILINGS; ++t) delete[] tileOffset[t];
        delete[] tileOffset;
    }
    delete[] weights;
    delete[] eTraces;
    delete[] storedActiveIndices;
    traceStore->forget();
    initPointers();
}

void Tilings::releaseLearningData() {
    delete[] weights;
    delete[] eTraces;
    delete[] storedActiveIndices;
    weights = nullptr;
    eTraces = nullptr;
    storedActiveIndices = nullptr;
    ARRAY_SIZE = 0;
    traceStore->forget();
    episodeIndexHistorySet.clear();
    if (activeTiles != nullptr) {
        for (int t = 0; t < TILINGS; ++t) activeTiles[t] = -1;
    }
}

const bool Tilings::createGeometry(State* aStatePtr, const int actions) {
    releaseLearningData();
    statePtr = aStatePtr;
    if (!canLayOut(actions, __func__)) return false;

    // Everything is checked, and the tile counts and their product are
    // computed in double and 64 bits, before anything of the group changes.
    std::vector<double> range(static_cast<std::size_t>(DIMENSIONS));
    std::vector<int> newTiles(static_cast<std::size_t>(DIMENSIONS));
    long long product = static_cast<long long>(TILINGS) * actions;
    if (product > INT_MAX) {
        TEMBRA_ERROR("TILINGS * ACTIONS = " << product << " --> ARRAY_SIZE would exceed " << INT_MAX);
        return false;
    }
    for (int d = 0; d < DIMENSIONS; ++d) {
        const std::size_t i = static_cast<std::size_t>(d);
        const long long count = tileCount(vars[d], product, range[i], __func__);
        if (count < 0) return false;
        product = product * count;
        newTiles[i] = static_cast<int>(count);
    }
    layOut(newTiles.data(), range.data(), actions);
    ARRAY_SIZE = static_cast<int>(product);
    weights = allocateMemoryWeights();
    return weights != nullptr;
}

bool Tilings::canLayOut(const int actions, const char* function) const {
    if (TILINGS < 1 || DIMENSIONS < 1 || vars == nullptr) {
        TEMBRA_ERROR_AT(function, __LINE__,
                        "TILINGS = " << TILINGS << ", DIMENSIONS = " << DIMENSIONS
                                     << " --> a group needs at least one tiling and one variable");
        return false;
    }
    if (actions < 1) {
        TEMBRA_ERROR_AT(function, __LINE__, "ACTIONS[" << actions << "] <= 0");
        return false;
    }
    if (statePtr == nullptr) {
        TEMBRA_ERROR_AT(function, __LINE__, "statePtr == 0");
        return false;
    }
    if (statePtr->getType() != State::DOUBLE) {
        TEMBRA_ERROR_AT(function, __LINE__, "Not a Double-State! --> tile coding needs floating-point variables");
        return false;
    }
    return true;
}

long long Tilings::tileCount(const Types::TILINGS_VAR_STRUCT& var, const long long product, double& range,
                             const char* function) const {
    if (var.id < 0 || static_cast<unsigned int>(var.id) >= statePtr->getNumberOfVariables()) {
        TEMBRA_ERROR_AT(function, __LINE__, "Variable id = " << var.id << " --> the State has no such variable");
        return -1;
    }
    const double minValue = statePtr->getMinValueDbl(static_cast<unsigned int>(var.id));
    const double maxValue = statePtr->getMaxValueDbl(static_cast<unsigned int>(var.id));
    const double R = maxValue - minValue;
    if (!std::isfinite(minValue) || !std::isfinite(maxValue) || !(maxValue > minValue) || !std::isfinite(R)) {
        TEMBRA_ERROR_AT(function, __LINE__,
                        "Variable with id = " << var.id << " has bounds [" << minValue << ", " << maxValue
                                              << "] --> max must be greater than min, both finite");
        return -1;
    }
    if (!std::isfinite(var.resolution) || !(var.resolution > 0.0)) {
        TEMBRA_ERROR_AT(function, __LINE__,
                        "resolution = " << var.resolution << " for Variable with id = " << var.id
                                        << " --> must be positive and finite");
        return -1;
    }
    double count = std::ceil(R / (TILINGS * var.resolution));
    if (!(count >= 1.0)) {
        TEMBRA_ERROR_AT(
            function, __LINE__,
            "resolution = " << var.resolution << " for Variable with id = " << var.id << " --> gives no tile");
        return -1;
    }
    // A wrapped variable gets one tile more: the tilings' offsets push the
    // top of the range into it.
    if (var.tileType == Types::WRAP) count = count + 1.0;
    if (!(count <= INT_MAX) || product * static_cast<long long>(count) > INT_MAX) {
        TEMBRA_ERROR_AT(function, __LINE__,
                        "resolution = " << var.resolution << " for Variable with id = " << var.id
                                        << " --> ARRAY_SIZE would exceed " << INT_MAX);
        return -1;
    }
    range = R;
    return static_cast<long long>(count);
}

void Tilings::layOut(const int* newTiles, const double* range, const int actions) {
    // The resolution becomes the one the whole tiles give: the offset step
    // between tilings, a tile width divided by TILINGS.
    for (int d = 0; d < DIMENSIONS; ++d) {
        const double R = range[d];
        tiles[d] = newTiles[d];
        if (vars[d].tileType == Types::WRAP) {
            vars[d].resolution = R / static_cast<double>((tiles[d] - 1) * TILINGS);
            tileWidth[d] = R / (tiles[d] - 1);
        } else {
            vars[d].resolution = R / static_cast<double>(tiles[d] * TILINGS);
            tileWidth[d] = R / tiles[d];
        }
    }
    indexOffset[DIMENSIONS - 1] = TILINGS * actions;
    for (int d = DIMENSIONS - 2; d >= 0; --d) indexOffset[d] = indexOffset[d + 1] * tiles[d + 1];
    for (int t = 0; t < TILINGS; ++t) {
        for (int d = 0; d < DIMENSIONS; ++d) tileOffset[t][d] = t * vars[d].resolution;
    }
}

void Tilings::initWeights(const double (*initFunctionPtr)()) {
    if (weights == nullptr) {
        TEMBRA_ERROR(tembra_text::NO_WEIGHTS);
        return;
    }
    if (initFunctionPtr == nullptr) {
        TEMBRA_ERROR("initFunctionPtr == 0 --> weights left as they are");
        return;
    }
    for (int w = 0; w < ARRAY_SIZE; ++w) weights[w] = initFunctionPtr();
}

void Tilings::initEligibilityTraces() {
    // The trace array is made once, then reused until the layout changes.
    if (traceStorage == Types::ARRAY && eTraces == nullptr && weights != nullptr) eTraces = allocateMemoryWeights();
    traceStore->clear(__func__, __LINE__);
}

void Tilings::updateEligibilityTraces(const double GAMMA, const double LAMBDA) {
    traceStore->decay(traceStorage, eTraces, eTracesMap, ARRAY_SIZE, GAMMA * LAMBDA, __func__, __LINE__);
}

void Tilings::addToStoredIndices(const double value) {
    for (int t = 0; t < TILINGS; ++t) {
        const int s = storedActiveIndices[t];
        if (isWeightIndex(s)) weights[s] += value;
    }
}

void Tilings::updateWeights(const double ALPHA, const double DELTA) {
    if (weights == nullptr) {
        TEMBRA_ERROR(tembra_text::NO_WEIGHTS);
        return;
    }
    const double FACTOR = ALPHA * DELTA;
    if (traceStore->updateAlong(traceStorage, weights, eTraces, eTracesMap, ARRAY_SIZE, FACTOR, __func__, __LINE__))
        return;
    if (storedActiveIndices != nullptr) {
        addToStoredIndices(FACTOR);
    } else {
        traceStore->reportNothingToUpdate("storedActiveIndices == 0", __func__, __LINE__);
    }
}

void Tilings::checkWeightLimit(const double MIN_WEIGHT, const double MAX_WEIGHT) {
    if (weights == nullptr) {
        TEMBRA_ERROR(tembra_text::NO_WEIGHTS);
        return;
    }
    for (int i = 0; i < ARRAY_SIZE; ++i) weights[i] = minMax<double>(weights[i], MIN_WEIGHT, MAX_WEIGHT);
}

const double Tilings::getMinWeight() const {
    double minWeight = DBL_MAX;
    if (weights == nullptr) {
        TEMBRA_ERROR(tembra_text::NO_WEIGHTS);
        return minWeight;
    }
    for (int i = 0; i < ARRAY_SIZE; ++i) {
        if (weights[i] < minWeight) minWeight = weights[i];
    }
    return minWeight;
}

const double Tilings::getWeightSum(const bool abs, int& weightCount) const {
    double sum = 0.0;
    if (weights == nullptr) {
        TEMBRA_ERROR(tembra_text::NO_WEIGHTS);
        return sum;
    }
    for (int i = 0; i < ARRAY_SIZE; ++i) sum += abs ? std::fabs(weights[i]) : weights[i];
    weightCount += ARRAY_SIZE;
    return sum;
}

const double Tilings::getMaxWeight() const {
    double maxWeight = -DBL_MAX;
    if (weights == nullptr) {
        TEMBRA_ERROR(tembra_text::NO_WEIGHTS);
        return maxWeight;
    }
    for (int i = 0; i < ARRAY_SIZE; ++i) {
        if (weights[i] > maxWeight) maxWeight = weights[i];
    }
    return maxWeight;
}

void Tilings::activateTiles() {
    if (statePtr == nullptr || weights == nullptr) {
        if (statePtr == nullptr) {
            TEMBRA_ERROR("statePtr == 0");
        } else {
            TEMBRA_ERROR(tembra_text::NO_WEIGHTS);
        }
        if (activeTiles != nullptr) {
            for (int t = 0; t < TILINGS; ++t) activeTiles[t] = -1;
        }
        return;
    }
    cacheValues();
    const int LIMIT = activeIndexLimit();
    for (int t = 0; t < TILINGS; ++t) {
        double index = 0.0;
        bool outside = false;
        if (!tilingIndex(t, index, outside, __func__)) {
            activeTiles[t] = -1;
        } else if (outside || !(index >= 0.0 && index < LIMIT)) {
            TEMBRA_ERROR("index out ouf bounds --> " << IndexText{index});
            activeTiles[t] = -1;
        } else {
            activeTiles[t] = static_cast<int>(index);
        }
    }
}

void Tilings::cacheValues() {
    for (int d = 0; d < DIMENSIONS; ++d) {
        const unsigned int id = static_cast<unsigned int>(vars[d].id);
        varValueCache[3 * d] = statePtr->getValueDbl(id);
        varValueCache[3 * d + 1] = statePtr->getMinValueDbl(id);
        varValueCache[3 * d + 2] = statePtr->getMaxValueDbl(id);
    }
}

// index = t + sum over d of n_d * indexOffset[d], summed in double: a tile
// number from a value far outside its bounds must not overflow before it
// is recognised.
bool Tilings::tilingIndex(const int t, double& index, bool& outside, const char* function) const {
    index = t;
    for (int d = 0; d < DIMENSIONS; ++d) {
        const TileNumber tile = tileNumber(vars[d].tileType, varValueCache[3 * d], varValueCache[3 * d + 1],
                                           varValueCache[3 * d + 2], tileOffset[t][d], tileWidth[d], tiles[d]);
        switch (tile.found) {
            case TileFound::TILE: break;
            case TileFound::NONE: return false;
            case TileFound::OUTSIDE: outside = true; break;
            case TileFound::UNKNOWN:
                TEMBRA_ERROR_AT(function, __LINE__,
                                "Unknown Tiletype[" << static_cast<int>(vars[d].tileType)
                                                    << "] for Variable with id = " << vars[d].id);
                continue;
        }
        index += tile.number * indexOffset[d];
    }
    return true;
}

void Tilings::initEpisodeStateHistory() { clearVisits(); }

void Tilings::valueEpisode(const double value) {
    if (episodeIndexHistorySet.empty()) {
        TEMBRA_ERROR(tembra_text::NO_EPISODE_HISTORY);
        return;
    }
    if (weights == nullptr) {
        TEMBRA_ERROR(tembra_text::NO_WEIGHTS);
        return;
    }
    for (std::set<int>::const_iterator it = episodeIndexHistorySet.begin(); it != episodeIndexHistorySet.end(); ++it) {
        if (isWeightIndex(*it)) weights[*it] += value;
    }
}

const int Tilings::save(FILE* file) const {
    // Without tilings or variables there is no body to write at all.
    if (TILINGS < 1 || DIMENSIONS < 1 || vars == nullptr) {
        TEMBRA_ERROR(tembra_text::NO_WEIGHTS);
        return -1;
    }
    const std::size_t D = static_cast<std::size_t>(DIMENSIONS);
    bool ok = tembra_io::writeInt32(file, TILINGS) && tembra_io::writeInt32(file, DIMENSIONS) &&
              tembra_io::writeInt32(file, traceStorage);
    for (std::size_t d = 0; ok && d < D; ++d) {
        ok = tembra_io::writeInt32(file, vars[d].id) && tembra_io::writeDouble(file, vars[d].resolution) &&
             tembra_io::writeInt32(file, vars[d].tileType);
    }
    ok = ok && tembra_io::writeDoubleArray(file, tileWidth, D) && tembra_io::writeInt32Array(file, tiles, D) &&
         tembra_io::writeInt32Array(file, indexOffset, D);
    for (int t = 0; ok && t < TILINGS; ++t) ok = tembra_io::writeDoubleArray(file, tileOffset[t], D);
    ok = ok && tembra_io::writeInt32(file, ARRAY_SIZE);
    if (!ok) {
        TEMBRA_ERROR(TEMBRA_ERRNO_WIDE);
        return -1;
    }
    if (weights == nullptr) {
        TEMBRA_ERROR(tembra_text::NO_WEIGHTS);
        return -1;
    }
    if (!tembra_io::writeDoubleArray(file, weights, static_cast<std::size_t>(ARRAY_SIZE))) {
        TEMBRA_ERROR(TEMBRA_ERRNO_WIDE);
        return -1;
    }
    return 0;
}

const int Tilings::load(FILE* file) {
    const int result = readBody(file);
    if (result != 0) {
        // Half a group is worse than none: it would look usable.
        freeMemory();
        TILINGS = 0;
        DIMENSIONS = 0;
    }
    if (activeTiles != nullptr) {
        for (int t = 0; t < TILINGS; ++t) activeTiles[t] = -1;
    }
    return result;
}

// The body is read part by part; every part reports on behalf of readBody
// and leaves the group to load, which discards it on failure.
const int Tilings::readBody(FILE* file) {
    freeMemory();
    TILINGS = 0;
    DIMENSIONS = 0;
    long long size = 0;
    if (!readCounts(file, __func__) || !readVariables(file, __func__) || !readLayout(file, __func__) ||
        !checkLayout(size, __func__) || !readWeights(file, size, __func__)) {
        return -1;
    }
    return 0;
}

bool Tilings::readCounts(FILE* file, const char* function) {
    int32_t readTilings = 0;
    int32_t readDimensions = 0;
    int32_t readStorage = 0;
    if (!tembra_io::readInt32(file, readTilings) || !tembra_io::readInt32(file, readDimensions) ||
        !tembra_io::readInt32(file, readStorage)) {
        TEMBRA_ERROR_AT(function, __LINE__, TEMBRA_ERRNO_WIDE);
        return false;
    }
    const int ACTIONS_PER_TILE = layoutActions();
    if (ACTIONS_PER_TILE < 1) {
        TEMBRA_ERROR_AT(function, __LINE__, "ACTIONS[" << ACTIONS_PER_TILE << "] <= 0 --> no weights can be laid out");
        return false;
    }
    if (readTilings < 1 || readDimensions < 1) {
        TEMBRA_ERROR_AT(function, __LINE__,
                        "TILINGS = " << readTilings << ", DIMENSIONS = " << readDimensions
                                     << " --> a group needs at least one tiling and one variable");
        return false;
    }
    if (readStorage != Types::MAP && readStorage != Types::ARRAY && readStorage != Types::SPARSE) {
        TEMBRA_ERROR_AT(function, __LINE__, tembra_text::UNKNOWN_TRACE_STORAGE << readStorage);
        return false;
    }
    // vars, widths, tile counts and strides take 32 bytes per variable, the
    // offsets 8 per variable and tiling.
    if (!tembra_io::fits(file, readDimensions, 32 + 8) || !tembra_io::fits(file, readTilings, 8LL * readDimensions)) {
        TEMBRA_ERROR_AT(function, __LINE__,
                        "TILINGS = " << readTilings << ", DIMENSIONS = " << readDimensions
                                     << " --> more than the rest of the file can hold");
        return false;
    }
    TILINGS = readTilings;
    DIMENSIONS = readDimensions;
    traceStorage = static_cast<Types::TRACE_STORAGE>(readStorage);
    allocateMemory();
    return true;
}

bool Tilings::readVariables(FILE* file, const char* function) {
    for (int d = 0; d < DIMENSIONS; ++d) {
        int32_t id = 0;
        double resolution = 0.0;
        int32_t tileType = 0;
        if (!tembra_io::readInt32(file, id) || !tembra_io::readDouble(file, resolution) ||
            !tembra_io::readInt32(file, tileType)) {
            TEMBRA_ERROR_AT(function, __LINE__, TEMBRA_ERRNO_WIDE);
            return false;
        }
        if (tileType != Types::CIRCLE && tileType != Types::CLIP && tileType != Types::WRAP) {
            TEMBRA_ERROR_AT(function, __LINE__, "Unknown Tiletype[" << tileType << "] for Variable with id = " << id);
            return false;
        }
        if (statePtr != nullptr && (id < 0 || static_cast<unsigned int>(id) >= statePtr->getNumberOfVariables() ||
                                    statePtr->getType() != State::DOUBLE)) {
            TEMBRA_ERROR_AT(function, __LINE__,
                            "Variable id = " << id << " --> the State has no such floating-point variable");
            return false;
        }
        vars[d].id = id;
        vars[d].resolution = resolution;
        vars[d].tileType = static_cast<Types::TILE_TYPE>(tileType);
    }
    return true;
}

bool Tilings::readLayout(FILE* file, const char* function) {
    const std::size_t D = static_cast<std::size_t>(DIMENSIONS);
    bool ok = tembra_io::readDoubleArray(file, tileWidth, D) && tembra_io::readInt32Array(file, tiles, D) &&
              tembra_io::readInt32Array(file, indexOffset, D);
    for (int t = 0; ok && t < TILINGS; ++t) ok = tembra_io::readDoubleArray(file, tileOffset[t], D);
    if (!ok) TEMBRA_ERROR_AT(function, __LINE__, TEMBRA_ERRNO_WIDE);
    return ok;
}

// The layout must be the one the geometry implies: strides TILINGS *
// ACTIONS times the tile counts of the later variables, ARRAY_SIZE the
// product of all. Anything else would index outside the weights.
bool Tilings::checkLayout(long long& size, const char* function) const {
    const int ACTIONS_PER_TILE = layoutActions();
    long long stride = static_cast<long long>(TILINGS) * ACTIONS_PER_TILE;
    for (int d = DIMENSIONS - 1; d >= 0; --d) {
        if (tiles[d] < 1 || !(std::isfinite(tileWidth[d]) && tileWidth[d] > 0.0)) {
            TEMBRA_ERROR_AT(function, __LINE__,
                            "tiles[" << d << "] = " << tiles[d] << ", tileWidth[" << d << "] = " << tileWidth[d]
                                     << " --> not a tiling");
            return false;
        }
        if (stride > INT_MAX || indexOffset[d] != stride) {
            TEMBRA_ERROR_AT(function, __LINE__,
                            "indexOffset[" << d << "] = " << indexOffset[d] << " --> expected " << stride
                                           << " for TILINGS = " << TILINGS << ", ACTIONS = " << ACTIONS_PER_TILE
                                           << " and the tile counts");
            return false;
        }
        stride = stride * tiles[d];
    }
    for (int t = 0; t < TILINGS; ++t) {
        for (int d = 0; d < DIMENSIONS; ++d) {
            if (!std::isfinite(tileOffset[t][d])) {
                TEMBRA_ERROR_AT(function, __LINE__,
                                "tileOffset[" << t << "][" << d << "] = " << tileOffset[t][d] << " --> not finite");
                return false;
            }
        }
    }
    size = stride;
    return true;
}

bool Tilings::readWeights(FILE* file, const long long size, const char* function) {
    int32_t readArraySize = 0;
    if (!tembra_io::readInt32(file, readArraySize)) {
        TEMBRA_ERROR_AT(function, __LINE__, TEMBRA_ERRNO_WIDE);
        return false;
    }
    if (size > INT_MAX || readArraySize != size) {
        TEMBRA_ERROR_AT(function, __LINE__, "ARRAY_SIZE = " << readArraySize << " --> the geometry gives " << size);
        return false;
    }
    if (!tembra_io::fits(file, readArraySize, 8)) {
        TEMBRA_ERROR_AT(function, __LINE__,
                        "ARRAY_SIZE = " << readArraySize << " --> more weights than the rest of the file can hold");
        return false;
    }
    ARRAY_SIZE = readArraySize;
    weights = allocateMemoryWeights();
    if (weights == nullptr) return false;
    if (!tembra_io::readDoubleArray(file, weights, static_cast<std::size_t>(ARRAY_SIZE))) {
        TEMBRA_ERROR_AT(function, __LINE__, TEMBRA_ERRNO_WIDE);
        return false;
    }
    return true;
}

void Tilings::setTrace(const int index, const double value) {
    tembra_nodes::set(eTracesMap, spareTraceNodes, index, value);
}

void Tilings::addTrace(const int index, const double value) {
    tembra_nodes::add(eTracesMap, spareTraceNodes, index, value);
}

std::map<int, double>::iterator Tilings::putTrace(std::map<int, double>::const_iterator hint, const int index,
                                                  const double value) {
    return tembra_nodes::put(eTracesMap, spareTraceNodes, hint, index, value);
}

std::map<int, double>::iterator Tilings::dropTrace(const std::map<int, double>::iterator entry) {
    return tembra_nodes::drop(eTracesMap, spareTraceNodes, entry);
}

void Tilings::clearTraceMap() { tembra_nodes::clear(eTracesMap, spareTraceNodes); }

void Tilings::recordVisit(const int index) { tembra_nodes::insert(episodeIndexHistorySet, spareVisitNodes, index); }

void Tilings::clearVisits() { tembra_nodes::clear(episodeIndexHistorySet, spareVisitNodes); }
