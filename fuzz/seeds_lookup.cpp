// Writes the seed corpus of the lookup-table harnesses: a few small, valid
// V and Q files of different shapes, trace storages and weights.
//   seeds_lookup <corpus directory>
// writes <dir>/fuzz_lookup_v/*.bin and <dir>/fuzz_lookup_q/*.bin.

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "ActionLookupTable.h"
#include "StateLookupTable.h"

namespace {

int counter = 0;
const double ramp() { return 0.25 * (counter++) - 1.0; }

State* makeState(int variables) {
    State* state = new State();
    const int bounds[][2] = {{0, 2}, {-1, 1}, {5, 6}};
    for (int v = 0; v < variables; ++v) state->registerVariable("v" + std::to_string(v), bounds[v][0], bounds[v][1]);
    return state;
}

bool saveV(const std::string& dir, const std::string& name, int variables, Types::TRACE_STORAGE storage) {
    StateLookupTable table(makeState(variables));
    table.setTraceStorage(storage);
    counter = 0;
    table.initWeights(&ramp);
    return table.save(dir + "/" + name) == 0;
}

bool saveQ(const std::string& dir, const std::string& name, int variables, int actions, Types::TRACE_STORAGE storage) {
    ActionLookupTable table(makeState(variables));
    for (int a = 0; a < actions; ++a) table.registerAction(new AbstractAction());
    table.create();
    table.setTraceStorage(storage);
    counter = 0;
    table.initWeights(&ramp);
    table.setActionValue(0, -0.0);
    return table.save(dir + "/" + name) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus directory>\n", argv[0]);
        return 2;
    }
    const std::string root = argv[1];
    const std::string v = root + "/fuzz_lookup_v";
    const std::string q = root + "/fuzz_lookup_q";
    mkdir(root.c_str(), 0755);
    mkdir(v.c_str(), 0755);
    mkdir(q.c_str(), 0755);
    bool ok = saveV(v, "empty-state.bin", 0, Types::MAP);
    ok = saveV(v, "one-variable.bin", 1, Types::ARRAY) && ok;
    ok = saveV(v, "two-variables.bin", 2, Types::MAP) && ok;
    ok = saveV(v, "three-variables.bin", 3, Types::ARRAY) && ok;
    ok = saveQ(q, "empty-state.bin", 0, 2, Types::MAP) && ok;
    ok = saveQ(q, "one-variable.bin", 1, 3, Types::ARRAY) && ok;
    ok = saveQ(q, "two-variables.bin", 2, 2, Types::MAP) && ok;
    ok = saveQ(q, "one-action.bin", 1, 1, Types::MAP) && ok;
    ok = saveV(v, "sparse.bin", 2, Types::SPARSE) && ok;
    ok = saveQ(q, "sparse.bin", 2, 3, Types::SPARSE) && ok;
    return ok ? 0 : 1;
}
