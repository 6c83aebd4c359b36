// Arbitrary bytes as a V file of a tile-coded state value function: loaded
// through the file-name constructor and through load() over an existing
// function, then driven through a few steps and saved again.

#include <cstddef>
#include <cstdint>

#include "FuzzTileSupport.h"
#include "StateTileCoding.h"

namespace {

void drive(StateTileCoding& vf) {
    vf.initEligibilityTraces();
    vf.initEpisodeStateHistory();
    for (int p = 0; p < 5; ++p) {
        fuzz_tiles::setProbe(vf.getStatePtr(), p);
        vf.setState();
        const double value = vf.getStateValue();
        vf.updateEligibilityTraces(0.9, 0.8);
        vf.replacingTraces(1.0);
        vf.accumulatingTraces(0.5);
        vf.storeState();
        vf.updateWeights(0.1, 1.0 - value);
    }
    vf.valueEpisode(0.25);
    vf.setMaxWeightLimit(10.0);
    vf.checkWeightLimit();
    (void)vf.getAvgWeight(true);
    (void)vf.getMinWeight();
    (void)vf.getMaxWeight();
    (void)vf.save(fuzz_tiles::outputPath());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_tiles::setUp("fuzz_tiles_v");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!fuzz_tiles::writeInput(data, size)) return 0;
    {
        StateTileCoding fromFile(fuzz_tiles::inputPath());
        drive(fromFile);
    }
    {
        State* state = new State();
        state->registerVariable("x", 0.0, 1.0);
        StateTileCoding vf(state);
        vf.setEpisodeStateHistory(true);
        Types::TILINGS_VAR_STRUCT var;
        var.id = 0;
        var.resolution = 0.25;
        var.tileType = Types::CIRCLE;
        vf.registerTiling(new StateTilings(2, std::list<Types::TILINGS_VAR_STRUCT>{var}));
        (void)vf.load(fuzz_tiles::inputPath());
        // Whatever the load left must be safe to use.
        drive(vf);
    }
    return 0;
}
