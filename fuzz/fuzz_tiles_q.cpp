// Arbitrary bytes as a Q file of a tile-coded action value function:
// loaded through the file-name constructor and through load() over an
// existing function, then driven through a few steps (selections, traces,
// the removal of an action) and saved again.

#include <cstddef>
#include <cstdint>

#include "ActionTileCoding.h"
#include "FuzzTileSupport.h"
#include "Utility.h"

namespace {

void drive(ActionTileCoding& q) {
    setSeed(1);
    q.initEligibilityTraces();
    q.initEpisodeStateHistory();
    const int actions = q.getNumberOfActions();
    for (int p = 0; p < 5; ++p) {
        fuzz_tiles::setProbe(q.getStatePtr(), p);
        q.setState();
        for (int a = -1; a <= actions && a < 8; ++a) (void)q.getActionValue(a);
        if (actions > 0) {
            const double value = (p % 2 == 0) ? q.setGreedyActionIndex() : q.setSoftMaxActionIndex(0.5);
            q.updateEligibilityTraces(0.9, 0.8);
            q.replacingTraces(1.0);
            q.accumulatingTraces(0.5);
            q.storeState();
            q.updateWeights(0.1, 1.0 - value);
            q.setActionValue(actions - 1, 0.125);
        }
    }
    q.valueEpisode(0.25);
    q.setMinWeightLimit(-10.0);
    q.checkWeightLimit();
    (void)q.getAvgWeight(false);
    (void)q.save(fuzz_tiles::outputPath());
    if (actions > 1) {
        // Unregistering hands the action back (null in a loaded function).
        const AbstractAction* removed = q.getAction(actions / 2);
        q.unregisterAction(actions / 2);
        delete removed;
        q.setState();
        (void)q.getActionValue(0);
        (void)q.save(fuzz_tiles::outputPath());
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_tiles::setUp("fuzz_tiles_q");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!fuzz_tiles::writeInput(data, size)) return 0;
    {
        ActionTileCoding fromFile(fuzz_tiles::inputPath());
        drive(fromFile);
    }
    {
        State* state = new State();
        state->registerVariable("x", 0.0, 1.0);
        ActionTileCoding q(state);
        q.registerAction(new AbstractAction());
        q.registerAction(new AbstractAction());
        q.setEpisodeStateHistory(true);
        Types::TILINGS_VAR_STRUCT var;
        var.id = 0;
        var.resolution = 0.25;
        var.tileType = Types::WRAP;
        q.registerTiling(new ActionTilings(2, std::list<Types::TILINGS_VAR_STRUCT>{var}));
        (void)q.load(fuzz_tiles::inputPath());
        drive(q);
    }
    return 0;
}
