// No learning step allocates once warmed up. Every learner runs on every
// value function it can drive, with every trace kind and storage, with and
// without the episode record, and with every selection rule.
//
// The first episode makes what is made once (the trace array or the sparse
// list's slot table, the softmax scratch array, the greedy candidate list,
// the stored tile indices, the network's traces). After it, a step may
// allocate only when a trace map or list or an episode record comes to hold
// more entries than it ever held: their entries are kept for reuse when
// they are dropped, so only one that grows beyond its largest size needs
// memory. The environment revisits the same few states in every episode,
// so they soon stop growing (though an exploratory run of actions never
// taken together before can still make one grow late).

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <list>
#include <string>
#include <type_traits>
#include <utility>

#include "ActionLookupTable.h"
#include "ActionTileCoding.h"
#include "ActionTilings.h"
#include "AllocationCounter.h"
#include "LearnerAgent.h"
#include "NeuralNetwork.h"
#include "Sarsa.h"
#include "StateLookupTable.h"
#include "StateTileCoding.h"
#include "StateTilings.h"
#include "TestSupport.h"
#include "Watkins.h"
#include "valuefunction/TraceStore.h"

namespace {

const int POSITIONS = 6, LENGTH = 40, ACTIONS = 3, EPISODES = 60;
const char* const TRACE_WORDS[] = {"NONE", "REPLACING", "ACCUMULATING"};
const char* const SELECTION_WORDS[] = {"GREEDY", "EPSILON_GREEDY", "SOFTMAX"};
const char* const STORAGE_WORDS[] = {"MAP", "ARRAY", "SPARSE"};

enum class Representation { TABLE, TILES, NETWORK };

struct Setup {
    Representation representation;
    Types::TRACE_STORAGE storage;
    bool history;
    int traces;
    int selection;
};

using Sizes = std::pair<std::size_t, std::size_t>;

// A table or tilings group that tells how many entries its trace map or
// list and its episode record hold.
template <class Base>
class Probe : public Base {
public:
    using Base::Base;
    Sizes sizes() const {
        return {this->traceStorage == Types::SPARSE ? this->traceStore->sparseCount() : this->eTracesMap.size(),
                this->episodeIndexHistorySet.size()};
    }
};

// A table over one integer position, or a tile coding (with the sizes of
// its group) or a network over two floating-point variables.
template <class Coding, class Group, class Table>
ValueFunction* make(const Setup& setup, std::function<Sizes()>& sizes) {
    constexpr bool actions = std::is_base_of<ActionValueFunction, Table>::value;
    State* state = new State();
    if (setup.representation == Representation::TABLE) {
        state->registerVariable("position", 0, POSITIONS - 1);
    } else {
        state->registerVariable("position", 0.0, 1.0);
        state->registerVariable("parity", 0.0, 1.0);
    }
    ValueFunction* values = nullptr;
    if (setup.representation == Representation::NETWORK) {
        values = new NeuralNetwork(state, 4);
    } else if (setup.representation == Representation::TABLE) {
        Probe<Table>* table = new Probe<Table>(state);
        if constexpr (actions) {
            for (int a = 0; a < ACTIONS; ++a) table->registerAction(new AbstractAction());
            table->create();
        }
        table->setTraceStorage(setup.storage);
        sizes = [table] { return table->sizes(); };
        values = table;
    } else {
        Coding* tiles = new Coding(state);
        if constexpr (actions) {
            for (int a = 0; a < ACTIONS; ++a) tiles->registerAction(new AbstractAction());
        }
        Probe<Group>* group = new Probe<Group>(4, std::list<Types::TILINGS_VAR_STRUCT>{{0, 0.05, Types::CLIP},
                                                                                      {1, 0.25, Types::WRAP}});
        tiles->registerTiling(group);
        tiles->setTraceStorage(setup.storage);
        sizes = [group] { return group->sizes(); };
        values = tiles;
    }
    values->setEpisodeStateHistory(setup.history);
    return values;
}

// Learns on a ring of positions: every episode starts at 0 and lasts
// LENGTH steps; action a moves 1 + a places on (TD's agent always moves
// one); reaching the last position gains 1, every other step costs 0.1.
// After the first episode every step is checked against the rule above.
template <class Learner>
void expectNoAllocation(const Setup& setup) {
    test_support::TempDir dir;
    test_support::writeText(dir.file("conf"), std::string("ALPHA 0.1\nLAMBDA 0.8\nEPSILON 0.3\nTRACES ") +
                                                  TRACE_WORDS[setup.traces] + "\nACTION_SELECTION " +
                                                  SELECTION_WORDS[setup.selection] + "\n");
    std::function<Sizes()> sizes = [] { return Sizes(); };
    ValueFunction* values = isTD<Learner> ? make<StateTileCoding, StateTilings, StateLookupTable>(setup, sizes)
                                          : make<ActionTileCoding, ActionTilings, ActionLookupTable>(setup, sizes);
    Agent<Learner> agent(dir.file("conf"), dynamic_cast<typename Agent<Learner>::Values*>(values));
    agent.maxSteps = LENGTH;
    agent.episodesToRun = EPISODES;
    agent.reward = [](int, const int at) { return at == POSITIONS - 1 ? 1.0 : -0.1; };
    agent.move = [](const int at, const int action) { return (at + 1 + action) % POSITIONS; };
    if (setup.representation != Representation::TABLE) {
        agent.publish = [](State& state, const int at) {
            state.setValueDbl(0, static_cast<double>(at) / (POSITIONS - 1));
            state.setValueDbl(1, (at % 2) * 0.5);
        };
    }
    agent.actionsTaken.reserve(EPISODES * LENGTH);  // the test's own record must not count
    Sizes most;
    long seen = 0, onGrowth = 0, unexplained = 0;
    std::string firstUnexplained;
    agent.afterStep = [&] {
        if (agent.episodes == 1 && agent.steps == LENGTH) allocation_count::counting = true;
        if (!allocation_count::counting) return;
        const long fresh = allocation_count::allocations - seen;
        seen = allocation_count::allocations;
        const Sizes now = sizes();
        const bool grew = now.first > most.first || now.second > most.second;
        most = {std::max(most.first, now.first), std::max(most.second, now.second)};
        (grew ? onGrowth : unexplained) += fresh;
        if (fresh > 0 && !grew && firstUnexplained.empty()) {
            firstUnexplained = "episode " + std::to_string(agent.episodes) + " step " + std::to_string(agent.steps);
        }
    };
    allocation_count::allocations = 0;
    agent.controlLoop();
    allocation_count::counting = false;
    EXPECT_EQ(agent.actionsTaken.size(), static_cast<std::size_t>(EPISODES * LENGTH));
    EXPECT_EQ(unexplained, 0) << "first at " << firstUnexplained;
    // What growth may cost: a node, and at times room among the spare
    // nodes, per entry of the largest map and record; not per step.
    EXPECT_LE(onGrowth, 2 * static_cast<long>(most.first + most.second));
}

// Every setup the learner can run: all three representations for TD (the
// selection rule does not matter to it), tables and tiles for the others.
template <class Learner>
void expectNoAllocationInAnySetup() {
    for (const Representation r : {Representation::TABLE, Representation::TILES, Representation::NETWORK}) {
        for (const bool history : {false, true}) {
            for (const Types::TRACE_STORAGE storage : {Types::MAP, Types::ARRAY, Types::SPARSE}) {
                for (int traces = 0; traces < 3; ++traces) {
                    for (int selection = 0; selection < (isTD<Learner> ? 1 : 3); ++selection) {
                        const bool network = r == Representation::NETWORK;
                        if (network && (!isTD<Learner> || history || storage != Types::MAP)) continue;
                        SCOPED_TRACE(std::string(network ? "network" : r == Representation::TABLE ? "table" : "tiles") +
                                     ", " + TRACE_WORDS[traces] + ", " + SELECTION_WORDS[selection] + ", " +
                                     STORAGE_WORDS[storage] + (history ? ", history" : ""));
                        expectNoAllocation<Learner>({r, storage, history, traces, selection});
                    }
                }
            }
        }
    }
}

}  // namespace

// The counter sees the library's allocations (it replaces operator new for
// the library too), so a zero below means something.
TEST(Allocations, TheCounterSeesTheLibraryAllocate) {
    State* state = new State();
    state->registerVariable("position", 0, POSITIONS - 1);
    const long n = allocation_count::during([&] {
        StateLookupTable table(state);
        table.setTraceStorage(Types::ARRAY);
        table.initEligibilityTraces();
    });
    EXPECT_GE(n, 3);  // the table object's arrays: strides, weights, traces
}

TEST(Allocations, TDStepsAllocateOnlyWhenATraceStoreOutgrowsItsLargestSize) { expectNoAllocationInAnySetup<TD>(); }

TEST(Allocations, SarsaStepsAllocateOnlyWhenATraceStoreOutgrowsItsLargestSize) {
    expectNoAllocationInAnySetup<Sarsa>();
}

// Watkins cuts its traces after exploratory actions: the entries go back to
// the spare nodes in the middle of an episode.
TEST(Allocations, WatkinsStepsAllocateOnlyWhenATraceStoreOutgrowsItsLargestSize) {
    expectNoAllocationInAnySetup<Watkins>();
}
