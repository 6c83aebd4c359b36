// Writes the seed files of the tile-coding harnesses with the library
// itself: small valid V and Q files over one and two variables, every tile
// type, both trace storages, one or two groups and an empty container.
//
//   build-fuzz/fuzz/seeds_tiles fuzz/corpus

#include <cstdio>
#include <list>
#include <string>

#include "ActionTileCoding.h"
#include "StateTileCoding.h"

namespace {

std::list<Types::TILINGS_VAR_STRUCT> vars(std::initializer_list<Types::TILINGS_VAR_STRUCT> list) { return list; }

Types::TILINGS_VAR_STRUCT var(int id, double resolution, Types::TILE_TYPE type) {
    Types::TILINGS_VAR_STRUCT v;
    v.id = id;
    v.resolution = resolution;
    v.tileType = type;
    return v;
}

State* twoVariables() {
    State* state = new State();
    state->registerVariable("pos", -1.2, 0.6);
    state->registerVariable("vel", -0.07, 0.07);
    return state;
}

int seedsV(const std::string& dir) {
    int failures = 0;
    {
        StateTileCoding vf(twoVariables());
        vf.registerTiling(new StateTilings(2, vars({var(0, 0.6, Types::CLIP)})));
        failures += vf.save(dir + "/one_clip_group.v") != 0;
    }
    {
        StateTileCoding vf(twoVariables());
        ValueFunction::setValue(0.5);
        vf.registerTiling(new StateTilings(3, vars({var(0, 0.3, Types::WRAP), var(1, 0.02, Types::CIRCLE)})));
        vf.setTraceStorage(Types::ARRAY);
        vf.registerTiling(new StateTilings(2, vars({var(1, 0.05, Types::CLIP)})));
        ValueFunction::setValue(0.0);
        failures += vf.save(dir + "/two_groups.v") != 0;
    }
    {
        StateTileCoding vf(twoVariables());
        failures += vf.save(dir + "/no_groups.v") != 0;
    }
    {
        StateTileCoding vf(twoVariables());
        vf.registerTiling(new StateTilings(2, vars({var(1, 0.1, Types::WRAP)})));
        vf.setTraceStorage(Types::SPARSE);
        failures += vf.save(dir + "/sparse_group.v") != 0;
    }
    return failures;
}

int seedsQ(const std::string& dir) {
    int failures = 0;
    {
        ActionTileCoding q(twoVariables());
        q.registerAction(new AbstractAction());
        q.registerAction(new AbstractAction());
        q.registerTiling(new ActionTilings(2, vars({var(1, 0.05, Types::WRAP)})));
        failures += q.save(dir + "/two_actions.q") != 0;
    }
    {
        ActionTileCoding q(twoVariables());
        for (int a = 0; a < 3; ++a) q.registerAction(new AbstractAction());
        ValueFunction::setValue(-0.25);
        q.registerTiling(new ActionTilings(2, vars({var(0, 0.6, Types::CIRCLE), var(1, 0.05, Types::CLIP)})));
        q.registerTiling(new ActionTilings(1, vars({var(0, 0.9, Types::WRAP)})));
        ValueFunction::setValue(0.0);
        q.setTraceStorage(Types::ARRAY);
        failures += q.save(dir + "/three_actions_two_groups.q") != 0;
    }
    {
        ActionTileCoding q(twoVariables());
        q.registerAction(new AbstractAction());
        failures += q.save(dir + "/no_groups.q") != 0;
    }
    {
        ActionTileCoding q(twoVariables());
        q.registerAction(new AbstractAction());
        q.registerTiling(new ActionTilings(2, vars({var(0, 0.3, Types::CLIP)})));
        q.registerAction(new AbstractAction());
        q.setTraceStorage(Types::SPARSE);
        failures += q.save(dir + "/sparse_two_actions.q") != 0;
    }
    return failures;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus directory>\n", argv[0]);
        return 2;
    }
    const std::string corpus = argv[1];
    const int failures = seedsV(corpus + "/fuzz_tiles_v") + seedsQ(corpus + "/fuzz_tiles_q");
    return failures == 0 ? 0 : 1;
}
