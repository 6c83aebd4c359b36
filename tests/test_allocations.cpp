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
#include <list>
#include <set>
#include <string>
#include <type_traits>

#include "AbstractAction.h"
#include "ActionLookupTable.h"
#include "ActionTileCoding.h"
#include "ActionTilings.h"
#include "AllocationCounter.h"
#include "NeuralNetwork.h"
#include "Sarsa.h"
#include "State.h"
#include "StateLookupTable.h"
#include "StateTileCoding.h"
#include "StateTilings.h"
#include "TD.h"
#include "TestSupport.h"
#include "TileCoding.h"
#include "Watkins.h"
#include "valuefunction/TraceStore.h"

namespace {

const int POSITIONS = 6, LENGTH = 40, ACTIONS = 3, EPISODES = 60;
const char* const TRACE_WORDS[] = {"NONE", "REPLACING", "ACCUMULATING"};
const char* const SELECTION_WORDS[] = {"GREEDY", "EPSILON_GREEDY", "SOFTMAX"};
const char* const STORAGE_WORDS[] = {"ARRAY", "MAP", "SPARSE"};

class Move : public AbstractAction {};

enum class Representation { TABLE, TILES, NETWORK };

struct Setup {
    Representation representation;
    Types::TRACE_STORAGE storage;
    bool history;
    int traces;
    int selection;
};

// The sizes of the trace map or list and of the episode record of a table
// or a tilings group.
class Entries {
public:
    virtual ~Entries() = default;
    virtual std::size_t traceEntries() const = 0;
    virtual std::size_t visitEntries() const = 0;
};

template <class Base>
class Probe : public Base, public Entries {
public:
    using Base::Base;
    std::size_t traceEntries() const override {
        return this->traceStorage == Types::SPARSE ? this->traceStore->sparseCount() : this->eTracesMap.size();
    }
    std::size_t visitEntries() const override { return this->episodeIndexHistorySet.size(); }
    const std::set<int>& visits() const { return this->episodeIndexHistorySet; }
    const double* weightData() const { return this->weights; }
};

// One integer position for the tables, two floating-point variables for
// tiles and network.
State* makeState(const Representation r) {
    State* state = new State();
    if (r == Representation::TABLE) {
        state->registerVariable("position", 0, POSITIONS - 1);
    } else {
        state->registerVariable("position", 0.0, 1.0);
        state->registerVariable("parity", 0.0, 1.0);
    }
    return state;
}

// A table or a tile coding (with its group as the Entries), or a network.
template <class Coding, class Group, class Table>
ValueFunction* makeValues(const Setup& setup, Entries*& entries) {
    constexpr bool actions = std::is_base_of<ActionValueFunction, Table>::value;
    State* state = makeState(setup.representation);
    ValueFunction* values = nullptr;
    if (setup.representation == Representation::NETWORK) {
        values = new NeuralNetwork(state, 4);
    } else if (setup.representation == Representation::TABLE) {
        Probe<Table>* table = new Probe<Table>(state);
        if constexpr (actions) {
            for (int a = 0; a < ACTIONS; ++a) table->registerAction(new Move());
            table->create();
        }
        table->setTraceStorage(setup.storage);
        entries = table;
        values = table;
    } else {
        Coding* tiles = new Coding(state);
        if constexpr (actions) {
            for (int a = 0; a < ACTIONS; ++a) tiles->registerAction(new Move());
        }
        Probe<Group>* group = new Probe<Group>(4, std::list<Types::TILINGS_VAR_STRUCT>{{0, 0.05, Types::CLIP},
                                                                                      {1, 0.25, Types::WRAP}});
        tiles->registerTiling(group);
        tiles->setTraceStorage(setup.storage);
        entries = group;
        values = tiles;
    }
    values->setEpisodeStateHistory(setup.history);
    return values;
}

// A ring of positions: every episode starts at 0 and lasts LENGTH steps;
// action a moves 1 + a places on (TD's agent always moves one). After the
// first episode every step is checked against the rule above.
template <class Learner>
class Agent : public Learner {
public:
    static constexpr bool td = std::is_same<Learner, TD>::value;
    Agent(const std::string& conf, const Setup& setup) : Learner(conf), representation(setup.representation) {
        if constexpr (td) {
            this->svfPtr = static_cast<StateValueFunction*>(
                makeValues<StateTileCoding, StateTilings, StateLookupTable>(setup, entries));
            state = this->svfPtr->getStatePtr();
        } else {
            this->avfPtr = dynamic_cast<ActionValueFunction*>(
                makeValues<ActionTileCoding, ActionTilings, ActionLookupTable>(setup, entries));
            state = this->avfPtr->getStatePtr();
        }
    }

    // The value function's file, written as if its traces were kept in a
    // map (the storage kind is part of the file).
    test_support::Bytes savedAsMap(const std::string& path) {
        ValueFunction* values = nullptr;
        if constexpr (td) {
            values = this->svfPtr;
        } else {
            values = this->avfPtr;
        }
        if (LookupTable* table = dynamic_cast<LookupTable*>(values)) table->setTraceStorage(Types::MAP);
        if (TileCoding* tiles = dynamic_cast<TileCoding*>(values)) tiles->setTraceStorage(Types::MAP);
        return values->save(path) == 0 ? test_support::readFile(path) : test_support::Bytes();
    }
    void runEpisodes(const int n) {
        stopAfter = this->episodes + n;
        this->controlLoop();
        allocation_count::counting = false;
    }

    long long stepsTaken = 0, unexplained = 0, onGrowth = 0;
    std::string firstUnexplained;
    // What growth may cost: a node, and at times room among the spare
    // nodes, per entry of the largest map and record; not per step.
    long long growthAllowance() const { return 2 * static_cast<long long>(mostTraces + mostVisits); }

protected:
    void finishEpisode() override {
        if (this->episodes == 1) {
            // From here on every allocation is accounted for.
            allocation_count::allocations = 0;
            allocation_count::counting = true;
        }
        if (this->episodes >= stopAfter) this->continueLearning = false;
    }
    // Runs after every step: the place to see what the step allocated.
    void checkPendingSignals() override {
        Learner::checkPendingSignals();
        if (!allocation_count::counting) return;
        const long fresh = allocation_count::allocations - seen;
        seen = allocation_count::allocations;
        bool grew = false;
        if (entries != nullptr) {
            grew = entries->traceEntries() > mostTraces || entries->visitEntries() > mostVisits;
            mostTraces = std::max(mostTraces, entries->traceEntries());
            mostVisits = std::max(mostVisits, entries->visitEntries());
        }
        if (fresh == 0) return;
        if (grew) {
            onGrowth += fresh;
            return;
        }
        unexplained += fresh;
        if (firstUnexplained.empty()) {
            allocation_count::counting = false;
            firstUnexplained = "episode " + std::to_string(this->episodes) + " step " + std::to_string(this->steps);
            allocation_count::counting = true;
        }
    }
    void setInitialState() override {
        position = step = 0;
        write();
    }
    void takeAction() override {
        int move = 1;
        if constexpr (!td) move += this->avfPtr->getActiveActionIndex();
        position = (position + move) % POSITIONS;
        ++step;
        ++stepsTaken;
    }
    const bool observeState() override {
        write();
        return step < LENGTH;
    }
    const double calculateReward() override { return position == POSITIONS - 1 ? 1.0 : -0.1; }

private:
    void write() {
        if (representation == Representation::TABLE) {
            state->setValueInt(0, position);
        } else {
            state->setValueDbl(0, static_cast<double>(position) / (POSITIONS - 1));
            state->setValueDbl(1, (position % 2) * 0.5);
        }
    }

    Representation representation;
    Entries* entries = nullptr;
    State* state = nullptr;
    std::size_t mostTraces = 0, mostVisits = 0;
    long seen = 0;
    int position = 0, step = 0, stopAfter = 0;
};

void writeConf(const std::string& path, const Setup& setup) {
    test_support::writeText(path, std::string("ALPHA 0.1\nLAMBDA 0.8\nGAMMA 0.9\nEPSILON 0.3\nTEMPERATURE 0.5\n") +
                                      "TRACE_VALUE 1\nTRACES " + TRACE_WORDS[setup.traces] + "\nACTION_SELECTION " +
                                      SELECTION_WORDS[setup.selection] + "\n");
}

// Every setup the learner can run: all three representations for TD (the
// selection rule does not matter to it), tables and tiles for the others.
template <class Learner>
void expectNoAllocationInAnySetup() {
    const bool td = std::is_same<Learner, TD>::value;
    for (const Representation r : {Representation::TABLE, Representation::TILES, Representation::NETWORK}) {
        for (const bool history : {false, true}) {
            for (const Types::TRACE_STORAGE storage : {Types::MAP, Types::ARRAY, Types::SPARSE}) {
                for (int traces = 0; traces < 3; ++traces) {
                    for (int selection = 0; selection < (td ? 1 : 3); ++selection) {
                        const bool network = r == Representation::NETWORK;
                        if (network && (!td || history || storage != Types::MAP)) continue;
                        SCOPED_TRACE(std::string(network ? "network" : r == Representation::TABLE ? "table" : "tiles") +
                                     ", " + TRACE_WORDS[traces] + ", " + SELECTION_WORDS[selection] + ", " +
                                     STORAGE_WORDS[storage] + (history ? ", history" : ""));
                        const Setup setup = {r, storage, history, traces, selection};
                        test_support::TempDir dir;
                        writeConf(dir.file("conf"), setup);
                        Agent<Learner> agent(dir.file("conf"), setup);
                        agent.runEpisodes(EPISODES);
                        EXPECT_EQ(agent.stepsTaken, EPISODES * LENGTH);
                        EXPECT_EQ(agent.unexplained, 0) << "first at " << agent.firstUnexplained;
                        EXPECT_LE(agent.onGrowth, agent.growthAllowance());
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
    State* state = makeState(Representation::TABLE);
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

// SPARSE traces hold the entries MAP traces hold and never prune them, so
// every weight receives the same products: the same learning runs end in
// the same bytes, whatever order the list's walks take. Epsilon-greedy
// Watkins cuts its traces, so map nodes are reused with new values.
template <class Learner>
test_support::Bytes learnt(const Representation r, const Types::TRACE_STORAGE storage, const int traces) {
    test_support::TempDir dir;
    const Setup setup = {r, storage, false, traces, 1};
    writeConf(dir.file("conf"), setup);
    Agent<Learner> agent(dir.file("conf"), setup);
    agent.runEpisodes(20);
    return agent.savedAsMap(dir.file("values"));
}

TEST(TraceStorage, SparseAndMapLearnTheSameBytes) {
    for (const Representation r : {Representation::TABLE, Representation::TILES}) {
        for (const int traces : {1, 2}) {
            SCOPED_TRACE(std::string(r == Representation::TABLE ? "table, " : "tiles, ") + TRACE_WORDS[traces]);
            const test_support::Bytes td = learnt<TD>(r, Types::MAP, traces);
            const test_support::Bytes sarsa = learnt<Sarsa>(r, Types::MAP, traces);
            const test_support::Bytes watkins = learnt<Watkins>(r, Types::MAP, traces);
            ASSERT_FALSE(td.empty() || sarsa.empty() || watkins.empty());
            EXPECT_EQ(learnt<TD>(r, Types::SPARSE, traces), td);
            EXPECT_EQ(learnt<Sarsa>(r, Types::SPARSE, traces), sarsa);
            EXPECT_EQ(learnt<Watkins>(r, Types::SPARSE, traces), watkins);
        }
    }
}

// A reused node of the episode record must carry nothing over.
TEST(Allocations, ReusedEpisodeRecordsHoldOnlyTheNewEpisode) {
    State* state = makeState(Representation::TABLE);
    Probe<ActionLookupTable> q(state);
    for (int a = 0; a < ACTIONS; ++a) q.registerAction(new Move());
    q.create();
    for (const int position : {1, 3, 5, 4}) {
        if (position == 4) q.initEpisodeStateHistory();
        state->setValueInt(0, position);
        q.setState();
        q.setGreedyActionIndex();
        q.storeState();
        q.storeState();
    }
    const int index = 4 * ACTIONS + q.getActiveActionIndex();
    EXPECT_EQ(q.visits(), std::set<int>{index});
    q.valueEpisode(1.0);
    for (int i = 0; i < POSITIONS * ACTIONS; ++i) EXPECT_EQ(q.weightData()[i], i == index ? 1.0 : 0.0) << i;
}
