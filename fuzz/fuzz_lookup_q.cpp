// Feeds arbitrary bytes to the Q-file reader of the action lookup table,
// through the file-name constructor and through load() into a created
// table with registered actions, traces and a present state, then uses the
// result: selections, single action values, trace marking and removal of
// an action. A file that loads must save to the very same bytes and load again.

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "ActionLookupTable.h"
#include "FuzzSupport.h"

namespace {

void exercise(ActionLookupTable& table, const uint8_t* data, std::size_t size) {
    State* state = table.getStatePtr();
    if (state != nullptr && state->getType() == State::INT) {
        for (unsigned int v = 0; v < state->getNumberOfVariables(); ++v) {
            const int offset = size > 0 ? static_cast<int8_t>(data[v % size]) : 0;
            state->setValueInt(v, static_cast<int>(static_cast<int64_t>(state->getMinValueInt(v)) + offset));
        }
    }
    const int actions = table.getNumberOfActions();
    for (const Types::TRACE_STORAGE storage :
         {Types::MAP, Types::ARRAY, Types::SPARSE, static_cast<Types::TRACE_STORAGE>(5)}) {
        table.setTraceStorage(storage);
        table.initEligibilityTraces();
        table.initEpisodeStateHistory();
        table.setState();
        for (int a = -1; a <= std::min(actions, 4); ++a) (void)table.getActionValue(a);
        if (actions > 0) {
            (void)table.setGreedyActionIndex();
            table.replacingTraces(1.0);
            (void)table.setSoftMaxActionIndex(0.5);
            table.accumulatingTraces(0.5);
            (void)table.setRandomActionIndex();
            table.storeState();
        }
        table.updateEligibilityTraces(0.9, 0.8);
        table.updateWeights(0.1, 1.0);
        table.valueEpisode(0.25);
        table.setActionValue(actions - 1, 2.0);
        table.setActiveActionValue(0, 3.0);
        table.setActionValue(actions, 2.0);
    }
    (void)table.getMinWeight();
    (void)table.getMaxWeight();
    (void)table.getAvgWeight(false);
    table.checkWeightLimit();
    if (actions > 1) {
        const int removed = size % static_cast<std::size_t>(actions) == 0 ? actions - 1 : 0;
        // The removed action is handed back to its owner, which is us.
        const AbstractAction* action = table.getAction(removed);
        table.unregisterAction(removed);
        delete action;
        table.setState();
        (void)table.getActionValue(0);
        table.initEligibilityTraces();
        table.replacingTraces(1.0);
        table.updateWeights(0.5, 0.5);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_support::silenceReports();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (!fuzz_support::writeInput(data, size)) return 0;
    const std::string& input = fuzz_support::inputPath();

    {
        ActionLookupTable fromFile(input);
        exercise(fromFile, data, size);
        (void)fromFile.save(fuzz_support::outputPath());
    }

    State* state = new State();
    state->registerVariable("a", 0, 3);
    state->registerVariable("b", -1, 1);
    ActionLookupTable table(state);
    for (int a = 0; a < 3; ++a) table.registerAction(new AbstractAction());
    table.create();
    table.setTraceStorage(Types::ARRAY);
    table.initEligibilityTraces();
    state->setValueInt(0, 3);
    state->setValueInt(1, 1);
    table.setState();
    (void)table.setGreedyActionIndex();
    table.replacingTraces(1.0);
    table.storeState();
    const int result = table.load(input);
    if (result == 0) {
        fuzz_support::require(table.save(fuzz_support::outputPath()) == 0, "a loaded table saves");
        const std::vector<unsigned char> saved = fuzz_support::readFile(fuzz_support::outputPath());
        // A load reads the whole file: saving gives it all back.
        fuzz_support::require(saved.size() == size && std::equal(saved.begin(), saved.end(), data),
                              "saving a loaded table writes the file read");
        ActionLookupTable again(fuzz_support::outputPath());
        fuzz_support::require(again.save(fuzz_support::secondOutputPath()) == 0, "a reloaded table saves");
        fuzz_support::require(fuzz_support::readFile(fuzz_support::secondOutputPath()) == saved,
                              "a reloaded table writes the same bytes");
    }
    exercise(table, data, size);
    (void)table.save(fuzz_support::outputPath());
    return 0;
}
