// No learning step allocates. The global operator new is replaced by one
// that counts its calls; every learner runs on every value function it can
// drive, with every trace kind, every trace storage, with and without the
// episode record, and with every selection rule.
//
// The first episode makes what is made once (the trace array or the sparse
// list's slot table, the softmax scratch array, the greedy candidate list,
// the stored tile indices, the network's traces). After it, a step may
// allocate only when a trace map or list or an episode record comes to hold
// more entries than it ever held: their entries are kept for reuse when
// they are dropped, so only one that grows beyond its largest size needs
// memory. The environment revisits the same few states in every episode,
// so they soon stop growing (though an exploratory run of actions never
// taken together before can still make one grow late); the tests check
// every step after the first episode against that rule, and that growth
// costs at most two allocations per entry of the largest map and record.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <list>
#include <map>
#include <new>
#include <set>
#include <string>
#include <type_traits>

#include "AbstractAction.h"
#include "ActionLookupTable.h"
#include "ActionTileCoding.h"
#include "ActionTilings.h"
#include "NeuralNetwork.h"
#include "Sarsa.h"
#include "State.h"
#include "StateLookupTable.h"
#include "StateTileCoding.h"
#include "StateTilings.h"
#include "TD.h"
#include "TileCoding.h"
#include "LookupTable.h"
#include "TestSupport.h"
#include "Watkins.h"
#include "valuefunction/TraceStore.h"

namespace {

bool counting = false;
long long allocations = 0;

void* allocate(const std::size_t size) {
    if (counting) ++allocations;
    return std::malloc(size == 0 ? 1 : size);
}

// Out of line, so that the compiler does not see free() meet the result of
// a new expression (which it would take for a mismatch).
[[gnu::noinline]] void release(void* p) { std::free(p); }

// Counts the allocations of whatever runs inside.
template <class F>
long long allocationsOf(F&& f) {
    allocations = 0;
    counting = true;
    f();
    counting = false;
    return allocations;
}

}  // namespace

void* operator new(std::size_t size) {
    void* p = allocate(size);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
void* operator new[](std::size_t size) {
    void* p = allocate(size);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { release(p); }

namespace {

const int POSITIONS = 6;
const int LENGTH = 40;
const int ACTIONS = 3;
const int EPISODES = 60;

class Move : public AbstractAction {};

// What is learnt on, and how.
enum class Representation { TABLE, TILES, NETWORK };

struct Setup {
    Representation representation = Representation::TABLE;
    Types::TRACE_STORAGE storage = Types::MAP;
    bool history = false;
};

// The sizes of the trace map and the episode record of a table or group.
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
};

std::list<Types::TILINGS_VAR_STRUCT> tiledVariables() {
    return {{0, 0.05, Types::CLIP}, {1, 0.25, Types::WRAP}};
}

// A State for the representation: one integer position for the tables,
// two floating-point variables for tiles and network.
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

StateValueFunction* makeStateValues(const Setup& setup, Entries*& entries) {
    State* state = makeState(setup.representation);
    StateValueFunction* v = nullptr;
    entries = nullptr;
    switch (setup.representation) {
        case Representation::TABLE: {
            Probe<StateLookupTable>* table = new Probe<StateLookupTable>(state);
            table->setTraceStorage(setup.storage);
            entries = table;
            v = table;
            break;
        }
        case Representation::TILES: {
            StateTileCoding* tiles = new StateTileCoding(state);
            Probe<StateTilings>* group = new Probe<StateTilings>(4, tiledVariables());
            tiles->registerTiling(group);
            tiles->setTraceStorage(setup.storage);
            entries = group;
            v = tiles;
            break;
        }
        case Representation::NETWORK:
            v = new NeuralNetwork(state, 4);
            break;
    }
    v->setEpisodeStateHistory(setup.history);
    return v;
}

ActionValueFunction* makeActionValues(const Setup& setup, Entries*& entries) {
    State* state = makeState(setup.representation);
    ActionValueFunction* q = nullptr;
    if (setup.representation == Representation::TABLE) {
        Probe<ActionLookupTable>* table = new Probe<ActionLookupTable>(state);
        for (int a = 0; a < ACTIONS; ++a) table->registerAction(new Move());
        table->create();
        table->setTraceStorage(setup.storage);
        entries = table;
        q = table;
    } else {
        ActionTileCoding* tiles = new ActionTileCoding(state);
        for (int a = 0; a < ACTIONS; ++a) tiles->registerAction(new Move());
        Probe<ActionTilings>* group = new Probe<ActionTilings>(4, tiledVariables());
        tiles->registerTiling(group);
        tiles->setTraceStorage(setup.storage);
        entries = group;
        q = tiles;
    }
    q->setEpisodeStateHistory(setup.history);
    return q;
}

// A ring of positions: every episode starts at 0 and lasts LENGTH steps;
// action a moves 1 + a places on (TD's agent always moves one). After the
// first episode every step is checked: an allocation must come with a trace
// map or episode record larger than ever before.
template <class Learner>
class Agent : public Learner {
public:
    Agent(const std::string& conf, const Setup& setup) : Learner(conf), setup_(setup) {
        if constexpr (std::is_same<Learner, TD>::value) {
            this->svfPtr = makeStateValues(setup, entries_);
            state_ = this->svfPtr->getStatePtr();
        } else {
            this->avfPtr = makeActionValues(setup, entries_);
            state_ = this->avfPtr->getStatePtr();
        }
    }

    // The value function's file, written as if its traces were kept in a
    // map (the storage kind is part of the file).
    test_support::Bytes savedAsMap(const std::string& path) {
        ValueFunction* values = nullptr;
        if constexpr (std::is_same<Learner, TD>::value) values = this->svfPtr;
        else values = this->avfPtr;
        if (LookupTable* table = dynamic_cast<LookupTable*>(values)) table->setTraceStorage(Types::MAP);
        if (TileCoding* tiles = dynamic_cast<TileCoding*>(values)) tiles->setTraceStorage(Types::MAP);
        return values->save(path) == 0 ? test_support::readFile(path) : test_support::Bytes();
    }

    void runEpisodes(const int n) {
        stopAfter_ = this->episodes + n;
        this->continueLearning = true;
        this->controlLoop();
    }

    long long stepsTaken = 0;
    // Allocations after the first episode, those that came with a larger
    // map or record than ever, and those that did not.
    long long allocationsSeen = 0;
    long long allocationsOnGrowth = 0;
    long long unexplained = 0;
    std::string firstUnexplained;
    std::size_t mostTraces() const { return mostTraces_; }
    std::size_t mostVisits() const { return mostVisits_; }

protected:
    void finishEpisode() override {
        if (this->episodes == 1) {
            // From here on every allocation is accounted for.
            allocations = 0;
            counting = true;
        }
        if (this->episodes >= stopAfter_) this->continueLearning = false;
    }
    // Runs after every step: the place to see what the step allocated.
    void checkPendingSignals() override {
        Learner::checkPendingSignals();
        if (!counting) return;
        const long long fresh = allocations - allocationsSeen;
        allocationsSeen = allocations;
        bool grew = false;
        if (entries_ != nullptr) {
            const std::size_t traces = entries_->traceEntries();
            const std::size_t visits = entries_->visitEntries();
            grew = traces > mostTraces_ || visits > mostVisits_;
            mostTraces_ = std::max(mostTraces_, traces);
            mostVisits_ = std::max(mostVisits_, visits);
        }
        if (fresh == 0) return;
        if (grew) {
            allocationsOnGrowth += fresh;
        } else {
            unexplained += fresh;
            if (firstUnexplained.empty()) {
                counting = false;
                firstUnexplained = "episode " + std::to_string(this->episodes) + " step " + std::to_string(Learner::steps);
                counting = true;
            }
        }
    }
    void setInitialState() override {
        position_ = 0;
        step_ = 0;
        write();
    }
    void takeAction() override {
        int move = 1;
        if constexpr (!std::is_same<Learner, TD>::value) move += this->avfPtr->getActiveActionIndex();
        position_ = (position_ + move) % POSITIONS;
        ++step_;
        ++stepsTaken;
    }
    const bool observeState() override {
        write();
        return step_ < LENGTH;
    }
    const double calculateReward() override { return position_ == POSITIONS - 1 ? 1.0 : -0.1; }

private:
    void write() {
        if (setup_.representation == Representation::TABLE) {
            state_->setValueInt(0, position_);
        } else {
            state_->setValueDbl(0, static_cast<double>(position_) / (POSITIONS - 1));
            state_->setValueDbl(1, (position_ % 2) * 0.5);
        }
    }

    Setup setup_;
    Entries* entries_ = nullptr;
    State* state_ = nullptr;
    std::size_t mostTraces_ = 0;
    std::size_t mostVisits_ = 0;
    int position_ = 0;
    int step_ = 0;
    int stopAfter_ = 0;
};

const char* const TRACE_WORDS[] = {"NONE", "REPLACING", "ACCUMULATING"};
const char* const SELECTION_WORDS[] = {"GREEDY", "EPSILON_GREEDY", "SOFTMAX"};

void writeConf(const std::string& path, const int traces, const int selection) {
    test_support::writeText(path, std::string("ALPHA 0.1\nLAMBDA 0.8\nGAMMA 0.9\nEPSILON 0.3\nTEMPERATURE 0.5\n") +
                                      "TRACE_VALUE 1\nTRACES " + TRACE_WORDS[traces] + "\nACTION_SELECTION " +
                                      SELECTION_WORDS[selection] + "\n");
}

template <class Learner>
void expectNoAllocation(const Setup& setup, const int traces, const int selection) {
    SCOPED_TRACE(std::string("traces ") + TRACE_WORDS[traces] + ", selection " + SELECTION_WORDS[selection] +
                 (setup.storage == Types::ARRAY ? ", ARRAY" : setup.storage == Types::MAP ? ", MAP" : ", SPARSE") + (setup.history ? ", history" : ""));
    test_support::TempDir dir;
    writeConf(dir.file("conf"), traces, selection);
    Agent<Learner> agent(dir.file("conf"), setup);
    agent.runEpisodes(EPISODES);
    counting = false;
    EXPECT_EQ(agent.stepsTaken, EPISODES * LENGTH);
    EXPECT_EQ(agent.unexplained, 0) << "first at " << agent.firstUnexplained;
    // What growth costs is bounded by the largest sizes (a node, and at
    // times room among the spare nodes), not by the number of steps.
    EXPECT_LE(agent.allocationsOnGrowth, 2 * static_cast<long long>(agent.mostTraces() + agent.mostVisits()));
}

template <class Learner>
void everyActionConfiguration(const Representation r) {
    for (const bool history : {false, true}) {
        for (const Types::TRACE_STORAGE storage : {Types::MAP, Types::ARRAY, Types::SPARSE}) {
            for (int traces = 0; traces < 3; ++traces) {
                for (int selection = 0; selection < 3; ++selection) {
                    Setup setup;
                    setup.representation = r;
                    setup.storage = storage;
                    setup.history = history;
                    expectNoAllocation<Learner>(setup, traces, selection);
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
    const long long n = allocationsOf([&] {
        StateLookupTable table(state);
        table.setTraceStorage(Types::ARRAY);
        table.initEligibilityTraces();
    });
    EXPECT_GE(n, 3);  // the table object's arrays: strides, weights, traces
}

TEST(Allocations, TDStepsOnALookupTableAllocateNothing) {
    for (const bool history : {false, true}) {
        for (const Types::TRACE_STORAGE storage : {Types::MAP, Types::ARRAY, Types::SPARSE}) {
            for (int traces = 0; traces < 3; ++traces) {
                expectNoAllocation<TD>({Representation::TABLE, storage, history}, traces, 0);
            }
        }
    }
}

TEST(Allocations, TDStepsOnTileCodingAllocateNothing) {
    for (const bool history : {false, true}) {
        for (const Types::TRACE_STORAGE storage : {Types::MAP, Types::ARRAY, Types::SPARSE}) {
            for (int traces = 0; traces < 3; ++traces) {
                expectNoAllocation<TD>({Representation::TILES, storage, history}, traces, 0);
            }
        }
    }
}

TEST(Allocations, TDStepsOnTheNetworkAllocateNothing) {
    for (int traces = 0; traces < 3; ++traces) expectNoAllocation<TD>({Representation::NETWORK}, traces, 0);
}

TEST(Allocations, SarsaStepsOnALookupTableAllocateNothing) { everyActionConfiguration<Sarsa>(Representation::TABLE); }

TEST(Allocations, SarsaStepsOnTileCodingAllocateNothing) { everyActionConfiguration<Sarsa>(Representation::TILES); }

// Watkins cuts its traces after exploratory actions: the map's entries go
// back to its spare nodes in the middle of an episode.
TEST(Allocations, WatkinsStepsOnALookupTableAllocateNothing) {
    everyActionConfiguration<Watkins>(Representation::TABLE);
}

TEST(Allocations, WatkinsStepsOnTileCodingAllocateNothing) {
    everyActionConfiguration<Watkins>(Representation::TILES);
}

// ---------------------------------------------------------------------------
// SPARSE traces hold the entries MAP traces hold and never prune them, so
// every weight receives the same products: the same learning runs end in
// the same bytes, whatever order the list's walks take.

namespace {

template <class Learner>
test_support::Bytes learnt(const Representation r, const Types::TRACE_STORAGE storage, const int traces) {
    test_support::TempDir dir;
    writeConf(dir.file("conf"), traces, 1);  // epsilon-greedy: Watkins cuts its traces
    Agent<Learner> agent(dir.file("conf"), {r, storage, false});
    agent.runEpisodes(20);
    counting = false;
    return agent.savedAsMap(dir.file("values"));
}

template <class Learner>
void expectSparseLearnsAsMap(const char* learner) {
    for (const Representation r : {Representation::TABLE, Representation::TILES}) {
        for (const int traces : {1, 2}) {
            SCOPED_TRACE(std::string(learner) + (r == Representation::TABLE ? ", table, " : ", tiles, ") +
                         TRACE_WORDS[traces]);
            const test_support::Bytes map = learnt<Learner>(r, Types::MAP, traces);
            ASSERT_FALSE(map.empty());
            EXPECT_EQ(learnt<Learner>(r, Types::SPARSE, traces), map);
        }
    }
}

}  // namespace

TEST(TraceStorage, SparseAndMapLearnTheSameBytes) {
    expectSparseLearnsAsMap<TD>("TD");
    expectSparseLearnsAsMap<Sarsa>("Sarsa");
    expectSparseLearnsAsMap<Watkins>("Watkins");
}

// ---------------------------------------------------------------------------
// Reused nodes must carry nothing over from their previous entries.

namespace {

class ProbeTable : public ActionLookupTable {
public:
    using ActionLookupTable::ActionLookupTable;
    using ActionLookupTable::activeActionIndex;
    const std::map<int, double>& traces() const { return eTracesMap; }
    const std::set<int>& visits() const { return episodeIndexHistorySet; }
    const double* weightData() const { return weights; }
};

class ProbeGroup : public ActionTilings {
public:
    using ActionTilings::ActionTilings;
    const std::map<int, double>& traces() const { return eTracesMap; }
    const std::set<int>& visits() const { return episodeIndexHistorySet; }
};

}  // namespace

TEST(Allocations, ReusedTraceEntriesStartFromTheirNewValue) {
    State* state = makeState(Representation::TABLE);
    ProbeTable q(state);
    for (int a = 0; a < ACTIONS; ++a) q.registerAction(new Move());
    q.create();
    state->setValueInt(0, 2);
    q.setState();
    q.activeActionIndex = 1;
    q.accumulatingTraces(1.0);
    q.accumulatingTraces(1.5);
    state->setValueInt(0, 4);
    q.setState();
    q.accumulatingTraces(0.25);
    EXPECT_EQ(q.traces(), (std::map<int, double>{{7, 2.5}, {13, 0.25}}));

    // A cut keeps the nodes; what is marked next must not inherit 2.5 or 0.25.
    q.initEligibilityTraces();
    EXPECT_TRUE(q.traces().empty());
    q.accumulatingTraces(0.5);
    state->setValueInt(0, 0);
    q.setState();
    q.activeActionIndex = 2;
    q.replacingTraces(1.0);
    EXPECT_EQ(q.traces(), (std::map<int, double>{{2, 1.0}, {13, 0.5}}));

    // Replacing in a state whose other actions carry traces drops them
    // (their nodes are kept), whatever order the block's entries are in.
    q.activeActionIndex = 0;
    q.accumulatingTraces(0.75);
    q.activeActionIndex = 1;
    q.replacingTraces(2.0);
    EXPECT_EQ(q.traces(), (std::map<int, double>{{1, 2.0}, {13, 0.5}}));
    q.activeActionIndex = 2;
    q.accumulatingTraces(0.125);
    EXPECT_EQ(q.traces(), (std::map<int, double>{{1, 2.0}, {2, 0.125}, {13, 0.5}}));
    q.updateWeights(1.0, 1.0);
    EXPECT_EQ(q.weightData()[1], 2.0);
    EXPECT_EQ(q.weightData()[2], 0.125);
    EXPECT_EQ(q.weightData()[13], 0.5);
    EXPECT_EQ(q.weightData()[7], 0.0);
}

TEST(Allocations, ReusedEpisodeRecordsHoldOnlyTheNewEpisode) {
    State* state = makeState(Representation::TABLE);
    ProbeTable q(state);
    for (int a = 0; a < ACTIONS; ++a) q.registerAction(new Move());
    q.create();
    for (const int position : {1, 3, 5}) {
        state->setValueInt(0, position);
        q.setState();
        q.activeActionIndex = 0;
        q.storeState();
    }
    EXPECT_EQ(q.visits(), (std::set<int>{3, 9, 15}));
    q.initEpisodeStateHistory();
    state->setValueInt(0, 4);
    q.setState();
    q.activeActionIndex = 2;
    q.storeState();
    q.storeState();
    EXPECT_EQ(q.visits(), (std::set<int>{14}));
    q.valueEpisode(1.0);
    EXPECT_EQ(q.weightData()[14], 1.0);
    EXPECT_EQ(q.weightData()[3], 0.0);
}

TEST(Allocations, ReusedTileTracesStartFromTheirNewValue) {
    State* state = makeState(Representation::TILES);
    ActionTileCoding q(state);
    for (int a = 0; a < ACTIONS; ++a) q.registerAction(new Move());
    ProbeGroup* group = new ProbeGroup(2, std::list<Types::TILINGS_VAR_STRUCT>{{0, 0.25, Types::CLIP}});
    q.registerTiling(group);
    state->setValueDbl(0, 0.6);
    q.setState();
    q.setGreedyActionIndex();
    const int a = q.getActiveActionIndex();
    q.accumulatingTraces(1.0);
    q.accumulatingTraces(1.0);
    ASSERT_EQ(group->traces().size(), 2u);
    for (const std::pair<const int, double>& t : group->traces()) EXPECT_EQ(t.second, 2.0);

    q.initEligibilityTraces();
    EXPECT_TRUE(group->traces().empty());
    q.replacingTraces(0.5);
    ASSERT_EQ(group->traces().size(), 2u);
    for (const std::pair<const int, double>& t : group->traces()) {
        EXPECT_EQ(t.second, 0.5);
        EXPECT_EQ((t.first / 2) % ACTIONS, a);  // tiling varies fastest, then the action
    }
}
