// Writes the hostile seeds of every file reader: a small valid file of each
// kind as the library writes it, cut short at the boundaries of its fields,
// and with each of its counts replaced by an absurd one. The tests show
// that such files are refused with a report and leave nothing usable; the
// fuzzers start from them to look for crashes, hangs and huge allocations
// in the corners of those refusals.
//
//   build-fuzz/fuzz/seeds_damaged fuzz/corpus
//
// writes <dir>/<harness>/damaged-*.bin next to the valid seeds.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "ActionLookupTable.h"
#include "ActionTileCoding.h"
#include "NeuralNetwork.h"
#include "StateLookupTable.h"
#include "StateTileCoding.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes readAll(const std::string& path) {
    Bytes bytes;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return bytes;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) bytes.push_back(static_cast<unsigned char>(c));
    std::fclose(file);
    return bytes;
}

bool writeAll(const std::string& path, const Bytes& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

State* intState() {
    State* state = new State();
    state->registerVariable("a", 0, 2);
    state->registerVariable("bb", -1, 1);
    return state;
}

State* doubleState() {
    State* state = new State();
    state->registerVariable("x", 0.0, 8.0);
    state->registerVariable("yy", -1.0, 2.0);
    return state;
}

Types::TILINGS_VAR_STRUCT var(int id, double resolution, Types::TILE_TYPE type) {
    Types::TILINGS_VAR_STRUCT v;
    v.id = id;
    v.resolution = resolution;
    v.tileType = type;
    return v;
}

// Both States' blocks are 8 bytes of count and kind, then per variable a
// name length, the name and two bounds (4-byte bounds for INT, 8-byte for
// DOUBLE): "a" and "bb".
const long INT_BLOCK = 8 + (4 + 1 + 8) + (4 + 2 + 8);
const long DOUBLE_BLOCK = 8 + (4 + 1 + 16) + (4 + 2 + 16);

// One kind of file: its harness, how the library writes it, the offsets of
// its 32-bit counts and the offsets at which a field ends.
struct Kind {
    const char* harness;
    std::function<int(const std::string&)> save;
    std::vector<long> counts;
    std::vector<long> cuts;
};

std::vector<Kind> kinds() {
    // One group of 2 tilings over both variables: header 12, per variable 16
    // + 8 + 4 + 4 bytes, then 8 per tiling and variable of offsets.
    const long group = 12 + 2 * 32 + 2 * 2 * 8;
    return {
        {"fuzz_lookup_v",
         [](const std::string& path) {
             StateLookupTable table(intState());
             return table.save(path);
         },
         {0, 8, INT_BLOCK + 4 + 8},
         {4, 8, 12, INT_BLOCK, INT_BLOCK + 4, INT_BLOCK + 12, INT_BLOCK + 16, INT_BLOCK + 16 + 8 * 5}},
        {"fuzz_lookup_q",
         [](const std::string& path) {
             ActionLookupTable table(intState());
             table.registerAction(new AbstractAction());
             table.registerAction(new AbstractAction());
             table.create();
             return table.save(path);
         },
         {0, 8, INT_BLOCK, INT_BLOCK + 4 + 4 + 8},
         {4, INT_BLOCK, INT_BLOCK + 4, INT_BLOCK + 8, INT_BLOCK + 16, INT_BLOCK + 20, INT_BLOCK + 20 + 8 * 9}},
        {"fuzz_tiles_v",
         [](const std::string& path) {
             StateTileCoding tiles(doubleState());
             tiles.registerTiling(new StateTilings(2, {var(0, 1.0, Types::CLIP), var(1, 0.5, Types::WRAP)}));
             return tiles.save(path);
         },
         {0, 8, DOUBLE_BLOCK, DOUBLE_BLOCK + 4, DOUBLE_BLOCK + 8, DOUBLE_BLOCK + 4 + group},
         {4, DOUBLE_BLOCK, DOUBLE_BLOCK + 4, DOUBLE_BLOCK + 16, DOUBLE_BLOCK + 4 + 44, DOUBLE_BLOCK + 4 + group,
          DOUBLE_BLOCK + 4 + group + 4}},
        {"fuzz_tiles_q",
         [](const std::string& path) {
             ActionTileCoding tiles(doubleState());
             tiles.registerAction(new AbstractAction());
             tiles.registerAction(new AbstractAction());
             tiles.registerTiling(new ActionTilings(2, {var(0, 1.0, Types::CIRCLE), var(1, 0.5, Types::CLIP)}));
             return tiles.save(path);
         },
         {0, 8, DOUBLE_BLOCK, DOUBLE_BLOCK + 4, DOUBLE_BLOCK + 8, DOUBLE_BLOCK + 12, DOUBLE_BLOCK + 8 + group},
         {4, DOUBLE_BLOCK, DOUBLE_BLOCK + 4, DOUBLE_BLOCK + 8, DOUBLE_BLOCK + 20, DOUBLE_BLOCK + 8 + group,
          DOUBLE_BLOCK + 8 + group + 4}},
        {"fuzz_network",
         [](const std::string& path) {
             NeuralNetwork network(doubleState(), 2);
             return network.save(path);
         },
         {0, 8, DOUBLE_BLOCK, DOUBLE_BLOCK + 4, DOUBLE_BLOCK + 8},
         {4, DOUBLE_BLOCK, DOUBLE_BLOCK + 4, DOUBLE_BLOCK + 12, DOUBLE_BLOCK + 12 + 8 * 9, DOUBLE_BLOCK + 12 + 8 * 12}},
    };
}

// Counts no file of a few hundred bytes can justify, and the edges of
// plausible ones.
const uint32_t ABSURD[] = {0xFFFFFFFFu, 0x7FFFFFFFu, 0x40000000u, 0u};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus directory>\n", argv[0]);
        return 2;
    }
    const std::string corpus = argv[1];
    int failures = 0;
    for (const Kind& kind : kinds()) {
        const std::string dir = corpus + "/" + kind.harness;
        const std::string valid = dir + "/damaged-whole.bin";
        if (kind.save(valid) != 0) {
            std::fprintf(stderr, "%s: the library did not save its file\n", kind.harness);
            ++failures;
            continue;
        }
        const Bytes whole = readAll(valid);
        std::remove(valid.c_str());
        for (const long cut : kind.cuts) {
            if (cut >= static_cast<long>(whole.size())) continue;
            failures += !writeAll(dir + "/damaged-cut-" + std::to_string(cut) + ".bin",
                                  Bytes(whole.begin(), whole.begin() + cut));
        }
        for (const long at : kind.counts) {
            for (const uint32_t count : ABSURD) {
                if (at + 4 > static_cast<long>(whole.size())) continue;
                Bytes damaged = whole;
                for (int i = 0; i < 4; ++i) damaged[static_cast<std::size_t>(at + i)] = (count >> (8 * i)) & 0xFF;
                if (damaged == whole) continue;
                char name[64];
                std::snprintf(name, sizeof name, "/damaged-count-%ld-%08x.bin", at, count);
                failures += !writeAll(dir + name, damaged);
            }
        }
    }
    return failures == 0 ? 0 : 1;
}
