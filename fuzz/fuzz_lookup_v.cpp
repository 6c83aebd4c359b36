// Feeds arbitrary bytes to the V-file reader of the state lookup table,
// through the file-name constructor and through load() into a table that
// already holds weights, traces and a present state, then uses the result.
// A file that loads must save to the very same bytes and load again.

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "StateLookupTable.h"

namespace {

void exercise(StateLookupTable& table, const uint8_t* data, std::size_t size) {
    State* state = table.getStatePtr();
    if (state != nullptr && state->getType() == State::INT) {
        // Values in and a little beyond the bounds, taken from the input.
        for (unsigned int v = 0; v < state->getNumberOfVariables(); ++v) {
            const int offset = size > 0 ? static_cast<int8_t>(data[v % size]) : 0;
            state->setValueInt(v, static_cast<int>(static_cast<int64_t>(state->getMinValueInt(v)) + offset));
        }
    }
    for (const Types::TRACE_STORAGE storage :
         {Types::MAP, Types::ARRAY, Types::SPARSE, static_cast<Types::TRACE_STORAGE>(5)}) {
        table.setTraceStorage(storage);
        table.initEligibilityTraces();
        table.initEpisodeStateHistory();
        table.setState();
        (void)table.getStateValue();
        table.replacingTraces(1.0);
        table.accumulatingTraces(0.5);
        table.updateEligibilityTraces(0.9, 0.8);
        table.updateWeights(0.1, 1.0);
        table.storeState();
        table.updateWeights(0.1, -1.0);
        table.valueEpisode(0.25);
    }
    (void)table.getMinWeight();
    (void)table.getMaxWeight();
    (void)table.getAvgWeight(true);
    table.setMinWeightLimit(-10.0);
    table.setMaxWeightLimit(10.0);
    table.checkWeightLimit();
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
        StateLookupTable fromFile(input);
        exercise(fromFile, data, size);
        (void)fromFile.save(fuzz_support::outputPath());
    }

    State* state = new State();
    state->registerVariable("a", 0, 3);
    state->registerVariable("b", -1, 1);
    StateLookupTable table(state);
    table.setTraceStorage(Types::ARRAY);
    table.initEligibilityTraces();
    state->setValueInt(0, 3);
    state->setValueInt(1, 1);
    table.setState();
    table.replacingTraces(1.0);
    table.storeState();
    const int result = table.load(input);
    if (result == 0) {
        // Saved before use, the table must give back the bytes it read.
        fuzz_support::require(table.save(fuzz_support::outputPath()) == 0, "a loaded table saves");
        const std::vector<unsigned char> saved = fuzz_support::readFile(fuzz_support::outputPath());
        // A load reads the whole file: saving gives it all back.
        fuzz_support::require(saved.size() == size && std::equal(saved.begin(), saved.end(), data),
                              "saving a loaded table writes the file read");
        StateLookupTable again(fuzz_support::outputPath());
        fuzz_support::require(again.save(fuzz_support::secondOutputPath()) == 0, "a reloaded table saves");
        fuzz_support::require(fuzz_support::readFile(fuzz_support::secondOutputPath()) == saved,
                              "a reloaded table writes the same bytes");
    }
    exercise(table, data, size);
    (void)table.save(fuzz_support::outputPath());
    return 0;
}
