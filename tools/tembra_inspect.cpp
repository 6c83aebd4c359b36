// tembra-inspect FILE [--kind KIND] [--weights]
//
// Says what a saved value function holds: its state description, its
// representation, its actions and its weights.
//
// A value-function file names neither itself nor its representation: after
// the State block comes a body that only the class that wrote it can read.
// So every reader of the library tries the file, and the one that reads it
// exactly to its end wins. The proof of an exact read needs no knowledge of
// the formats: they are deterministic, so saving what was read gives the
// very same bytes again, and anything else (a read that stopped early,
// bytes left over, a body that only looked plausible) does not.

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ActionLookupTable.h"
#include "NeuralNetwork.h"
#include "State.h"
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

namespace {

const char* const PROGRAM = "tembra-inspect";

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

// ---------------------------------------------------------------------------
// One inspector per kind of value function: it owns the value function read
// from the file and knows how to describe its representation.

class Inspector {
public:
    virtual ~Inspector() = default;
    virtual ValueFunction& valueFunction() = 0;
    // Number of actions of a Q function; -1 for a V function.
    virtual int actions() { return -1; }
    virtual long long weightCount() = 0;
    virtual void describeRepresentation(std::ostream& out) = 0;
    // Every weight as CSV rows, header first.
    virtual void writeWeights(std::ostream& out) = 0;

    State& state() { return *valueFunction().getStatePtr(); }
    // Saves what was read; the library's own writer.
    bool saveTo(const std::string& file) {
        return valueFunction().getStatePtr() != nullptr && valueFunction().save(file) == 0;
    }
};

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

struct Reader {
    const char* kind;
    const char* what;
    std::unique_ptr<Inspector> (*open)(const std::string& file);
};

const Reader READERS[] = {
    {"lookup-v", "state lookup table, V file (StateLookupTable)", openWith<StateLookupInspector>},
    {"lookup-q", "action lookup table, Q file (ActionLookupTable)", openWith<ActionLookupInspector>},
#if TEMBRA_INSPECT_TILES
    {"tiles-v", "state tile coding, V file (StateTileCoding)", openWith<StateTileInspector>},
    {"tiles-q", "action tile coding, Q file (ActionTileCoding)", openWith<ActionTileInspector>},
#endif
    {"network", "neural network, V file (NeuralNetwork)", openWith<NetworkInspector>},
};

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

// ---------------------------------------------------------------------------
// Probing

// A directory of our own for the round trips and the captured reports.
class ScratchDir {
public:
    ScratchDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/tembra-inspect-XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (mkdtemp(buffer.data()) != nullptr) path_ = buffer.data();
    }
    ~ScratchDir() {
        if (path_.empty()) return;
        for (const char* name : {"roundtrip", "reports"}) unlink(file(name).c_str());
        rmdir(path_.c_str());
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    bool ok() const { return !path_.empty(); }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

enum class Match { SAME, LONGER, DIFFERENT };

// Compares the input with what the reader wrote back. LONGER: the round
// trip is a proper prefix of the input (extra holds the surplus bytes).
Match compareFiles(const std::string& input, const std::string& roundTrip, long long& extra) {
    extra = 0;
    FILE* a = std::fopen(input.c_str(), "rb");
    FILE* b = std::fopen(roundTrip.c_str(), "rb");
    Match result = Match::DIFFERENT;
    if (a != nullptr && b != nullptr) {
        char bufferA[65536];
        char bufferB[65536];
        for (;;) {
            const std::size_t na = std::fread(bufferA, 1, sizeof bufferA, a);
            const std::size_t nb = std::fread(bufferB, 1, sizeof bufferB, b);
            const std::size_t common = std::min(na, nb);
            if (std::memcmp(bufferA, bufferB, common) != 0) break;
            if (na == nb) {
                if (na == 0) {
                    result = Match::SAME;
                    break;
                }
                continue;
            }
            if (nb < na && std::feof(b)) {
                extra = static_cast<long long>(na - nb);
                while (true) {
                    const std::size_t more = std::fread(bufferA, 1, sizeof bufferA, a);
                    if (more == 0) break;
                    extra += static_cast<long long>(more);
                }
                result = Match::LONGER;
            }
            break;
        }
    }
    if (a != nullptr) std::fclose(a);
    if (b != nullptr) std::fclose(b);
    return result;
}

struct Probe {
    const Reader* reader = nullptr;
    std::unique_ptr<Inspector> inspector;  // kept only for an exact read
    Match match = Match::DIFFERENT;
    long long extra = 0;
    long long weights = 0;  // of what was read, when it could be saved
    std::string reason;     // the library's first report, when the read failed
};

Probe probe(const Reader& reader, const std::string& file, const ScratchDir& scratch) {
    Probe result;
    result.reader = &reader;
    const std::string roundTrip = scratch.file("roundtrip");
    const std::string reports = scratch.file("reports");
    unlink(roundTrip.c_str());
    bool saved = false;
    {
        tembra_tools::QuietOutput quiet(reports);
        result.inspector = reader.open(file);
        saved = result.inspector->saveTo(roundTrip);
    }
    result.reason = tembra_tools::firstErrorMessage(reports);
    if (saved) {
        result.match = compareFiles(file, roundTrip, result.extra);
        result.weights = result.inspector->weightCount();
    }
    if (result.match != Match::SAME) result.inspector.reset();
    unlink(roundTrip.c_str());
    return result;
}

// ---------------------------------------------------------------------------

void describe(const std::string& file, const Probe& chosen, const std::vector<std::string>& alsoReadableAs) {
    Inspector& inspector = *chosen.inspector;
    std::ostream& out = std::cout;
    out << "file         " << printable(file) << '\n';
    out << "kind         " << chosen.reader->kind << ": " << chosen.reader->what << '\n';
    if (!alsoReadableAs.empty()) {
        out << "             also readable as";
        for (std::size_t i = 0; i < alsoReadableAs.size(); ++i) out << (i == 0 ? " " : ", ") << alsoReadableAs[i];
        out << '\n';
    }
    describeState(inspector.state(), out);
    inspector.describeRepresentation(out);
    if (inspector.actions() >= 0) out << "ACTIONS      " << inspector.actions() << '\n';
    ValueFunction& vf = inspector.valueFunction();
    const long long count = inspector.weightCount();
    out << "weights      " << count;
    if (count > 0) {
        out << ": min " << brief(vf.getMinWeight()) << ", mean " << brief(vf.getAvgWeight(false)) << ", max "
            << brief(vf.getMaxWeight());
    }
    out << '\n';
}

int usage(std::ostream& out, const int status) {
    out << "usage: " << PROGRAM << " FILE [--kind KIND] [--weights]\n"
        << "  Describes a value-function file written by libtembra: the state variables,\n"
        << "  the representation, the actions and the weights' minimum, mean and maximum.\n"
        << "  --kind KIND  read the file as KIND only (" << kindList("|") << ");\n"
        << "               without it every kind is tried and the one that reads the\n"
        << "               file exactly to its end is taken\n"
        << "  --weights    print every weight as CSV instead of the description\n"
        << "Exit status: 0 described, 1 the file cannot be read as a value function,\n"
        << "2 a usage error.\n";
    return status;
}

int fail(const std::string& file, const std::string& reason) {
    std::cerr << PROGRAM << ": " << printable(file) << ": " << reason << std::endl;
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string file;
    std::string kind;
    bool weights = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") return usage(std::cout, 0);
        if (arg == "--weights") {
            weights = true;
        } else if (arg == "--kind" || arg.compare(0, 7, "--kind=") == 0) {
            if (arg == "--kind") {
                if (i + 1 >= argc) return usage(std::cerr, 2);
                kind = argv[++i];
            } else {
                kind = arg.substr(7);
            }
            if (findReader(kind) == nullptr) {
                std::cerr << PROGRAM << ": unknown kind '" << printable(kind) << "' (known: " << kindList(", ") << ")"
                          << std::endl;
                return 2;
            }
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
            std::cerr << PROGRAM << ": unknown option " << printable(arg) << std::endl;
            return usage(std::cerr, 2);
        } else if (file.empty()) {
            file = arg;
        } else {
            std::cerr << PROGRAM << ": one file at a time" << std::endl;
            return usage(std::cerr, 2);
        }
    }
    if (file.empty()) return usage(std::cerr, 2);

    // What the readers would only report in their own words.
    struct stat info;
    if (stat(file.c_str(), &info) != 0) return fail(file, std::strerror(errno));
    if (S_ISDIR(info.st_mode)) return fail(file, "is a directory");
    if (!S_ISREG(info.st_mode)) return fail(file, "not a regular file");
    if (access(file.c_str(), R_OK) != 0) return fail(file, std::strerror(errno));
    if (info.st_size == 0) return fail(file, "empty file");

    ScratchDir scratch;
    if (!scratch.ok()) return fail(file, std::string("cannot make a temporary directory: ") + std::strerror(errno));

    std::vector<Probe> probes;
    for (const Reader& reader : READERS) {
        if (kind.empty() || kind == reader.kind) probes.push_back(probe(reader, file, scratch));
    }

    Probe* chosen = nullptr;
    std::vector<std::string> alsoReadableAs;
    for (Probe& p : probes) {
        if (p.match != Match::SAME) continue;
        if (chosen == nullptr) {
            chosen = &p;
        } else {
            alsoReadableAs.push_back(p.reader->kind);
        }
    }

    if (chosen == nullptr) {
        // A value function without weights (a tile coding of no groups) is
        // no evidence: a few bytes of anything can read as one.
        for (const Probe& p : probes) {
            if (p.match == Match::LONGER && p.weights > 0) {
                return fail(file, std::string("a complete ") + p.reader->kind + " value function followed by " +
                                      std::to_string(p.extra) + (p.extra == 1 ? " stray byte" : " stray bytes"));
            }
        }
        if (!kind.empty()) {
            const Probe& p = probes.front();
            std::string reason = p.reason.empty() ? "the file does not read back as it was written" : p.reason;
            return fail(file, "not readable as " + kind + ": " + printable(reason));
        }
        return fail(file, "no reader reads it exactly to its end (tried " + kindList(", ") +
                              "): damaged, truncated or not a value function");
    }

    if (weights) {
        chosen->inspector->writeWeights(std::cout);
    } else {
        describe(file, *chosen, alsoReadableAs);
    }
    std::cout.flush();
    if (!std::cout) {
        std::cerr << PROGRAM << ": cannot write the output" << std::endl;
        return 1;
    }
    return 0;
}
