#include "inspect/Inspectors.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "ActionLookupTable.h"
#include "NeuralNetwork.h"
#include "StateLookupTable.h"
#include "ToolSupport.h"

#if __has_include("StateTileCoding.h") && __has_include("ActionTileCoding.h")
#include "ActionTileCoding.h"
#include "StateTileCoding.h"
#define TEMBRA_INSPECT_TILES 1
#else
#define TEMBRA_INSPECT_TILES 0
#endif

using tembra_tools::csvField;
using tembra_tools::printable;

namespace tembra_inspect {

namespace {

// ---------------------------------------------------------------------------
// Formatting

// The shortest decimal form that reads back as the same double.
std::string num(const double value) {
    char buffer[64];
    for (int precision = 6; precision <= 17; ++precision) {
        std::snprintf(buffer, sizeof buffer, "%.*g", precision, value);
        if (std::strtod(buffer, nullptr) == value || std::isnan(value)) break;
    }
    return buffer;
}

// Six significant digits: enough for a person reading statistics.
std::string brief(const double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.6g", value);
    return buffer;
}

const char* storageName(const Types::TRACE_STORAGE storage) {
    switch (storage) {
        case Types::MAP: return "MAP";
        case Types::ARRAY: return "ARRAY";
        case Types::SPARSE: return "SPARSE";
    }
    return "unknown";
}

std::string storageText(const Types::TRACE_STORAGE storage) {
    const std::string name = storageName(storage);
    return name == "unknown" ? "unknown (" + std::to_string(static_cast<int>(storage)) + ")" : name;
}

// The State's variables are its own: the tool reads their names through a
// subclass that is never instantiated, by a pointer to the protected member.
struct StateAccess : State {
    static const std::vector<VarValues*>& variables(const State& state) { return state.*(&StateAccess::vars); }
};

std::string variableName(const State& state, const unsigned int id) {
    const std::vector<VarValues*>& vars = StateAccess::variables(state);
    if (id >= vars.size() || vars[id] == nullptr) return "#" + std::to_string(id);
    return vars[id]->getName();
}

void describeState(State& state, std::ostream& out) {
    const unsigned int n = state.getNumberOfVariables();
    const char* kind = state.getType() == State::INT ? "INT" : state.getType() == State::DOUBLE ? "DOUBLE" : "UNDEF";
    out << "state        " << n << ' ' << kind << (n == 1 ? " variable" : " variables") << '\n';
    std::size_t width = 4;
    for (unsigned int v = 0; v < n; ++v) width = std::max(width, printable(variableName(state, v)).size());
    for (unsigned int v = 0; v < n; ++v) {
        const std::string name = printable(variableName(state, v));
        out << "  " << v << "  " << name << std::string(width - name.size(), ' ') << "  [";
        if (state.getType() == State::INT) {
            out << state.getMinValueInt(v) << ", " << state.getMaxValueInt(v) << "]\n";
        } else {
            out << num(state.getMinValueDbl(v)) << ", " << num(state.getMaxValueDbl(v)) << "]\n";
        }
    }
}

// --- lookup tables -----------------------------------------------------------

template <class Table>
struct LookupAccess : Table {
    using Table::Table;
    int arraySize() const { return this->ARRAY_SIZE; }
    const int* strides() const { return this->indexOffset; }
    const double* weightArray() const { return this->weights; }
    Types::TRACE_STORAGE storage() const { return this->traceStorage; }
};

template <class Table>
class LookupInspector : public Inspector {
public:
    explicit LookupInspector(const std::string& file) : table_(new LookupAccess<Table>(file)) {}
    ValueFunction& valueFunction() override { return *table_; }
    long long weightCount() override { return table_->arraySize(); }

    void describeRepresentation(std::ostream& out) override {
        out << "table        strides";
        const int* strides = table_->strides();
        for (unsigned int v = 0; strides != nullptr && v < state().getNumberOfVariables(); ++v)
            out << ' ' << strides[v];
        out << ", ARRAY_SIZE " << table_->arraySize() << ", traces " << storageText(table_->storage()) << '\n';
    }

    // index, [state,] one column per variable, [action,] weight: the index
    // decomposed by the strides into the variables' values (and the action,
    // which varies fastest within a state's block).
    void writeWeights(std::ostream& out) override {
        const int block = actions() > 0 ? actions() : 1;
        const unsigned int n = state().getNumberOfVariables();
        out << "index";
        if (actions() >= 0) out << ",state";
        for (unsigned int v = 0; v < n; ++v) out << ',' << csvField(variableName(state(), v));
        if (actions() >= 0) out << ",action";
        out << ",weight\n";
        const int* strides = table_->strides();
        const double* weights = table_->weightArray();
        if (weights == nullptr) return;
        for (int i = 0; i < table_->arraySize(); ++i) {
            out << i;
            if (actions() >= 0) out << ',' << i / block;
            int rest = i;
            for (unsigned int v = 0; v < n; ++v) {
                const int stride = strides != nullptr && strides[v] > 0 ? strides[v] : 1;
                out << ',' << static_cast<long long>(state().getMinValueInt(v)) + rest / stride;
                rest %= stride;
            }
            if (actions() >= 0) out << ',' << rest;
            out << ',' << num(weights[i]) << '\n';
        }
    }

protected:
    std::unique_ptr<LookupAccess<Table>> table_;
};

class StateLookupInspector : public LookupInspector<StateLookupTable> {
public:
    using LookupInspector::LookupInspector;
};

class ActionLookupInspector : public LookupInspector<ActionLookupTable> {
public:
    using LookupInspector::LookupInspector;
    int actions() override { return table_->getNumberOfActions(); }
};

// --- neural network ------------------------------------------------------------

struct NetworkAccess : NeuralNetwork {
    using NeuralNetwork::NeuralNetwork;
    int inputs() const { return INPUT_LAYER_NEURONS; }
    int hidden() const { return HIDDEN_LAYER_NEURONS; }
    int outputs() const { return OUTPUT_LAYER_NEURONS; }
    const double* inputHidden() const { return inputHiddenWeights; }
    const double* hiddenOutput() const { return hiddenOutputWeights; }
    const double* scales() const { return scaleFactor; }
};

class NetworkInspector : public Inspector {
public:
    explicit NetworkInspector(const std::string& file) : network_(new NetworkAccess(file)) {}
    ValueFunction& valueFunction() override { return *network_; }
    long long weightCount() override {
        const long long I = network_->inputs(), H = network_->hidden(), O = network_->outputs();
        return I * H + H * O;
    }

    void describeRepresentation(std::ostream& out) override {
        out << "network      layers " << network_->inputs() << " (inputs, bias included), " << network_->hidden()
            << " (hidden, extra neuron included), " << network_->outputs() << " (output)\n";
        out << "             scale factors";
        const double* scales = network_->scales();
        for (int i = 0; scales != nullptr && i < network_->inputs() - 1; ++i) out << ' ' << num(scales[i]);
        out << '\n';
    }

    // index, layer, from, to, weight: input-hidden weights first (from an
    // input to a hidden neuron), then hidden-output weights.
    void writeWeights(std::ostream& out) override {
        out << "index,layer,from,to,weight\n";
        const int I = network_->inputs(), H = network_->hidden(), O = network_->outputs();
        long long index = 0;
        if (network_->inputHidden() != nullptr) {
            for (int i = 0; i < I; ++i) {
                for (int h = 0; h < H; ++h) {
                    out << index++ << ",input-hidden," << i << ',' << h << ','
                        << num(network_->inputHidden()[static_cast<long long>(i) * H + h]) << '\n';
                }
            }
        }
        if (network_->hiddenOutput() != nullptr) {
            for (int h = 0; h < H; ++h) {
                for (int o = 0; o < O; ++o) {
                    out << index++ << ",hidden-output," << h << ',' << o << ','
                        << num(network_->hiddenOutput()[static_cast<long long>(h) * O + o]) << '\n';
                }
            }
        }
    }

private:
    std::unique_ptr<NetworkAccess> network_;
};

// --- tile coding ------------------------------------------------------------------

#if TEMBRA_INSPECT_TILES

// A group's geometry is protected; this subclass is never instantiated and
// only names the members, by pointers to them.
struct GroupAccess : Tilings {
    static int tilings(const Tilings& g) { return g.*(&GroupAccess::TILINGS); }
    static int dimensions(const Tilings& g) { return g.*(&GroupAccess::DIMENSIONS); }
    static Types::TRACE_STORAGE storage(const Tilings& g) { return g.*(&GroupAccess::traceStorage); }
    static const Types::TILINGS_VAR_STRUCT* variables(const Tilings& g) { return g.*(&GroupAccess::vars); }
    static const int* tileCounts(const Tilings& g) { return g.*(&GroupAccess::tiles); }
    static const double* widths(const Tilings& g) { return g.*(&GroupAccess::tileWidth); }
    static const int* strides(const Tilings& g) { return g.*(&GroupAccess::indexOffset); }
    static int arraySize(const Tilings& g) { return g.*(&GroupAccess::ARRAY_SIZE); }
    static const double* weightArray(const Tilings& g) { return g.*(&GroupAccess::weights); }
};

const char* tileTypeName(const Types::TILE_TYPE type) {
    switch (type) {
        case Types::CIRCLE: return "CIRCLE";
        case Types::CLIP: return "CLIP";
        case Types::WRAP: return "WRAP";
    }
    return "unknown";
}

template <class Coding>
struct CodingAccess : Coding {
    using Coding::Coding;
    std::vector<const Tilings*> groups() const {
        std::vector<const Tilings*> result;
        for (const Tilings* group : this->tilingPtrList) result.push_back(group);
        return result;
    }
};

template <class Coding>
class TileInspector : public Inspector {
public:
    explicit TileInspector(const std::string& file) : coding_(new CodingAccess<Coding>(file)) {}
    ValueFunction& valueFunction() override { return *coding_; }
    long long weightCount() override {
        long long count = 0;
        for (const Tilings* group : coding_->groups()) count += GroupAccess::arraySize(*group);
        return count;
    }

    void describeRepresentation(std::ostream& out) override {
        const std::vector<const Tilings*> groups = coding_->groups();
        int tilings = 0;
        for (const Tilings* group : groups) tilings += GroupAccess::tilings(*group);
        out << "tile coding  " << groups.size() << (groups.size() == 1 ? " group, " : " groups, ") << tilings
            << " tilings in all\n";
        for (std::size_t g = 0; g < groups.size(); ++g) {
            const Tilings& group = *groups[g];
            out << "  group " << g << "    " << GroupAccess::tilings(group) << " tilings, ARRAY_SIZE "
                << GroupAccess::arraySize(group) << ", traces " << storageText(GroupAccess::storage(group)) << '\n';
            const Types::TILINGS_VAR_STRUCT* vars = GroupAccess::variables(group);
            const int* tiles = GroupAccess::tileCounts(group);
            const double* width = GroupAccess::widths(group);
            for (int d = 0;
                 vars != nullptr && tiles != nullptr && width != nullptr && d < GroupAccess::dimensions(group); ++d) {
                const Types::TILE_TYPE type = vars[d].tileType;
                const std::string typeName = tileTypeName(type) == std::string("unknown")
                                                 ? "tile type " + std::to_string(static_cast<int>(type))
                                                 : tileTypeName(type);
                out << "             " << printable(variableName(state(), static_cast<unsigned int>(vars[d].id)))
                    << ": " << typeName << ", " << tiles[d] << " tiles of width " << num(width[d]) << ", resolution "
                    << num(vars[d].resolution) << '\n';
            }
        }
    }

    // group, index, tiling, tile (the tile numbers along the group's
    // variables, joined by ':'), [action,] weight.
    void writeWeights(std::ostream& out) override {
        const int actionCount = actions();
        out << "group,index,tiling,tile" << (actionCount >= 0 ? ",action" : "") << ",weight\n";
        const std::vector<const Tilings*> groups = coding_->groups();
        for (std::size_t g = 0; g < groups.size(); ++g) {
            const Tilings& group = *groups[g];
            const int T = GroupAccess::tilings(group);
            const int D = GroupAccess::dimensions(group);
            const int* strides = GroupAccess::strides(group);
            const int* tiles = GroupAccess::tileCounts(group);
            const double* weights = GroupAccess::weightArray(group);
            if (weights == nullptr || strides == nullptr || tiles == nullptr || T <= 0) continue;
            const int block = actionCount > 0 ? actionCount : 1;
            for (int i = 0; i < GroupAccess::arraySize(group); ++i) {
                out << g << ',' << i << ',' << i % T << ',';
                for (int d = 0; d < D; ++d) {
                    const int stride = strides[d] > 0 ? strides[d] : 1;
                    const int count = tiles[d] > 0 ? tiles[d] : 1;
                    out << (d > 0 ? ":" : "") << (i / stride) % count;
                }
                if (actionCount >= 0) out << ',' << (i / T) % block;
                out << ',' << num(weights[i]) << '\n';
            }
        }
    }

protected:
    std::unique_ptr<CodingAccess<Coding>> coding_;
};

class StateTileInspector : public TileInspector<StateTileCoding> {
public:
    using TileInspector::TileInspector;
};

class ActionTileInspector : public TileInspector<ActionTileCoding> {
public:
    using TileInspector::TileInspector;
    int actions() override { return coding_->getNumberOfActions(); }
};

#endif

// ---------------------------------------------------------------------------
// The readers, in the order they are tried. A new kind of value function is
// one line here and an inspector above.

template <class I>
std::unique_ptr<Inspector> openWith(const std::string& file) {
    return std::unique_ptr<Inspector>(new I(file));
}

const std::vector<Reader> READERS = {
    {"lookup-v", "state lookup table, V file (StateLookupTable)", openWith<StateLookupInspector>},
    {"lookup-q", "action lookup table, Q file (ActionLookupTable)", openWith<ActionLookupInspector>},
#if TEMBRA_INSPECT_TILES
    {"tiles-v", "state tile coding, V file (StateTileCoding)", openWith<StateTileInspector>},
    {"tiles-q", "action tile coding, Q file (ActionTileCoding)", openWith<ActionTileInspector>},
#endif
    {"network", "neural network, V file (NeuralNetwork)", openWith<NetworkInspector>},
};

}  // namespace

std::string kindList(const char* separator) {
    std::string list;
    for (const Reader& reader : READERS) list += (list.empty() ? "" : separator) + std::string(reader.kind);
    return list;
}

const Reader* findReader(const std::string& kind) {
    for (const Reader& reader : READERS) {
        if (kind == reader.kind) return &reader;
    }
    return nullptr;
}
const std::vector<Reader>& readers() { return READERS; }

void Inspector::describe(std::ostream& out) {
    describeState(state(), out);
    describeRepresentation(out);
    if (actions() >= 0) out << "ACTIONS      " << actions() << '\n';
    ValueFunction& vf = valueFunction();
    const long long count = weightCount();
    out << "weights      " << count;
    if (count > 0) {
        out << ": min " << brief(vf.getMinWeight()) << ", mean " << brief(vf.getAvgWeight(false)) << ", max "
            << brief(vf.getMaxWeight());
    }
    out << '\n';
}

}  // namespace tembra_inspect
