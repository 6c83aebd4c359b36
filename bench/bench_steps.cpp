// Steps per second of whole learning steps driven through controlLoop, for
// every learner on every value function, against hand-written baselines of
// the same learners (bench/Workloads.h), and how the cost of a step grows.
//
// Names are Workload/variant/arguments. The variants of a workload:
//   library           the library as it runs by default (signal poll after every step)
//   library_nopoll    the same with checkPendingSignals overridden to do nothing
//   library_pollN     polling every N-th step (setSignalPollInterval: the SPARSE
//                     workloads at 64, PollAmortised_* at 4 to 256)
//   baseline          the hand-written loop, traces kept as the library keeps them
//                     (for SPARSE: a flat array of pairs with an index-to-slot table)
//   baseline_pairs    the hand-written loop with sparse traces in a flat array of pairs
//   baseline_hash     the same with an open-addressing hash from index to slot (SPARSE)
//   paired, paired_poll64  library_nopoll / library_poll64 and baseline taking turns
// At the end a summary gives, from the medians of the repetitions, the time
// per step of each library variant as a ratio to its baseline.
//
// Defaults (each can be overridden on the command line): 5 repetitions,
// 0.04 s minimum time per repetition, repetitions interleaved at random,
// aggregates only.

#include <benchmark/benchmark.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <memory>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iomanip>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "Workloads.h"

using namespace bench;

namespace {

// ---------------------------------------------------------------------------
// Configuration files live in a temporary directory of their own.

std::string configDirectory;

std::string configFile(const Params& p) {
    const std::string path = configDirectory + "/learner.conf";
    if (!writeConfig(path, p)) {
        std::cerr << "cannot write " << path << std::endl;
        std::exit(1);
    }
    return path;
}

const int WARM_EPISODES = 2;

// Runs the warm-up episodes, then whole episodes until the framework has
// enough steps; one iteration is one step.
template <class Runner>
void measure(benchmark::State& state, Runner& runner, const int length) {
    runner.runEpisodes(WARM_EPISODES);
    while (state.KeepRunningBatch(length)) runner.runEpisodes(1);
    state.SetItemsProcessed(state.iterations());
    benchmark::DoNotOptimize(runner.trajectory.hash);
}

// ---------------------------------------------------------------------------
// Paired runs: the library (poll taken out) and its baseline take turns,
// batch after batch, in one benchmark, and the ratio of each pair of
// batches is taken. Load from elsewhere on the machine then falls on both
// sides alike, which separate benchmarks cannot promise. Each side draws
// from a rand() sequence of its own (initstate/setstate), so each sees
// exactly the draws it sees alone, and their trajectories must agree.

double threadNanoseconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e9 + t.tv_nsec;
}

double medianOf(std::vector<double> values) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

// The state arrays of the two sequences: 128 bytes is the kind of
// generator that srand() and rand() use by default.
char libraryRandom[128];
char baselineRandom[128];

template <class MakeLibrary, class MakeBaseline>
void paired(benchmark::State& state, MakeLibrary makeLibrary, MakeBaseline makeBaseline, const int length) {
    char* const previous = initstate(1, libraryRandom, sizeof libraryRandom);
    {
        auto library = makeLibrary();  // its srand(1) seeds libraryRandom
        initstate(1, baselineRandom, sizeof baselineRandom);
        auto baseline = makeBaseline();  // and this one baselineRandom

        setstate(libraryRandom);
        library->runEpisodes(WARM_EPISODES);
        setstate(baselineRandom);
        baseline->runEpisodes(WARM_EPISODES);

        // Batches of at least 0.2 ms: a few coarse clock ticks do not matter then.
        setstate(libraryRandom);
        const double t0 = threadNanoseconds();
        library->runEpisodes(1);
        const double once = threadNanoseconds() - t0;
        setstate(baselineRandom);
        baseline->runEpisodes(1);
        const int batch = std::max(1, static_cast<int>(2.0e5 / std::max(once, 1.0)));

        std::vector<double> ratios;
        for (auto _ : state) {
            setstate(libraryRandom);
            const double a = threadNanoseconds();
            library->runEpisodes(batch);
            const double b = threadNanoseconds();
            setstate(baselineRandom);
            baseline->runEpisodes(batch);
            const double c = threadNanoseconds();
            if (c > b) ratios.push_back((b - a) / (c - b));
        }
        if (library->trajectory.hash != baseline->trajectory.hash ||
            library->trajectory.steps != baseline->trajectory.steps) {
            state.SkipWithError("the library and its baseline took different steps");
        }
        state.counters["ratio"] = medianOf(ratios);
        state.counters["steps_per_batch"] = static_cast<double>(batch) * length;
    }
    setstate(previous);
}

enum class Variant { LIBRARY, NOPOLL, POLL64 };

const char* variantName(const Variant v) {
    return v == Variant::LIBRARY ? "library" : v == Variant::NOPOLL ? "library_nopoll" : "library_poll64";
}

// The variants measured for a trace storage: SPARSE, the storage for speed,
// also with the poll every 64 steps.
std::vector<Variant> variantsFor(const Types::TRACE_STORAGE storage) {
    if (storage == Types::SPARSE) return {Variant::LIBRARY, Variant::NOPOLL, Variant::POLL64};
    return {Variant::LIBRARY, Variant::NOPOLL};
}

benchmark::internal::Benchmark* configure(benchmark::internal::Benchmark* b) {
    return b->Unit(benchmark::kNanosecond);
}

// ---------------------------------------------------------------------------
// Lookup tables

Params tableParams() {
    Params p;
    p.selection = Tembra::EPSILON_GREEDY;
    return p;
}

TableSetup tableSetup(const int weights, const Types::TRACE_STORAGE storage) {
    TableSetup setup;
    setup.actions = 4;
    setup.states = weights / setup.actions;
    setup.cycle = 100;
    setup.length = 100;
    setup.storage = storage;
    return setup;
}

template <class Learner>
void tableLibrary(benchmark::State& state, const Variant variant, const TableSetup setup, const Params p) {
    if (variant != Variant::NOPOLL) {
        TableAgent<Learner> agent(configFile(p), setup);
        if (variant == Variant::POLL64) agent.setSignalPollInterval(64);
        measure(state, agent, setup.length);
    } else {
        NoPoll<TableAgent<Learner>> agent(configFile(p), setup);
        measure(state, agent, setup.length);
    }
}

template <class Traces>
void tableBaseline(benchmark::State& state, const bool watkins, const TableSetup setup, const Params p) {
    TableBaseline<Traces> baseline(p, setup, watkins);
    measure(state, baseline, setup.length);
}

const char* storageName(const Types::TRACE_STORAGE s) {
    return s == Types::MAP ? "MAP" : s == Types::ARRAY ? "ARRAY" : "SPARSE";
}

const Types::TRACE_STORAGE STORAGES[] = {Types::MAP, Types::ARRAY, Types::SPARSE};

void registerTables() {
    const int sizes[] = {100, 1000, 10000, 100000, 1000000};
    for (const bool watkins : {false, true}) {
        for (const Types::TRACE_STORAGE storage : STORAGES) {
            const std::string workload = std::string(watkins ? "TableWatkins_" : "TableSarsa_") + storageName(storage);
            for (const int weights : sizes) {
                const TableSetup setup = tableSetup(weights, storage);
                const Params p = tableParams();
                const std::string suffix = "/" + std::to_string(weights);
                for (const Variant v : variantsFor(storage)) {
                    configure(benchmark::RegisterBenchmark(
                        (workload + "/" + variantName(v) + suffix).c_str(), [=](benchmark::State& state) {
                            if (watkins) tableLibrary<Watkins>(state, v, setup, p);
                            else tableLibrary<Sarsa>(state, v, setup, p);
                        }));
                }
                if (storage == Types::MAP) {
                    configure(benchmark::RegisterBenchmark((workload + "/baseline" + suffix).c_str(),
                                                          [=](benchmark::State& state) {
                                                              tableBaseline<MapTraces>(state, watkins, setup, p);
                                                          }));
                    configure(benchmark::RegisterBenchmark((workload + "/baseline_pairs" + suffix).c_str(),
                                                          [=](benchmark::State& state) {
                                                              tableBaseline<PairTraces>(state, watkins, setup, p);
                                                          }));
                } else if (storage == Types::SPARSE) {
                    configure(benchmark::RegisterBenchmark((workload + "/baseline" + suffix).c_str(),
                                                          [=](benchmark::State& state) {
                                                              tableBaseline<PairTraces>(state, watkins, setup, p);
                                                          }));
                    configure(benchmark::RegisterBenchmark((workload + "/baseline_hash" + suffix).c_str(),
                                                          [=](benchmark::State& state) {
                                                              tableBaseline<HashPairTraces>(state, watkins, setup, p);
                                                          }));
                } else {
                    configure(benchmark::RegisterBenchmark((workload + "/baseline" + suffix).c_str(),
                                                          [=](benchmark::State& state) {
                                                              tableBaseline<DenseTraces>(state, watkins, setup, p);
                                                          }));
                }
            }
        }
    }
}

// Cost per step against the distinct indices an episode traces (MAP), and
// against the table size (ARRAY).
void registerTableScaling() {
    const Params p = tableParams();
    {
        auto library = [p](benchmark::State& state) {
            TableSetup setup = tableSetup(4 * 65536, Types::MAP);
            setup.cycle = setup.length = static_cast<int>(state.range(0));
            state.SetComplexityN(state.range(0));
            NoPoll<TableAgent<Sarsa>> agent(configFile(p), setup);
            measure(state, agent, setup.length);
        };
        auto baseline = [p](benchmark::State& state) {
            TableSetup setup = tableSetup(4 * 65536, Types::MAP);
            setup.cycle = setup.length = static_cast<int>(state.range(0));
            state.SetComplexityN(state.range(0));
            TableBaseline<MapTraces> run(p, setup, false);
            measure(state, run, setup.length);
        };
        for (auto* b : {benchmark::RegisterBenchmark("ScaleMapDistinct/library_nopoll", library),
                        benchmark::RegisterBenchmark("ScaleMapDistinct/baseline", baseline)}) {
            configure(b)->ArgName("distinct")->RangeMultiplier(4)->Range(16, 4096)->Complexity(benchmark::oN);
        }
    }
    {
        auto library = [p](benchmark::State& state) {
            const TableSetup setup = tableSetup(static_cast<int>(state.range(0)), Types::ARRAY);
            state.SetComplexityN(state.range(0));
            NoPoll<TableAgent<Sarsa>> agent(configFile(p), setup);
            measure(state, agent, setup.length);
        };
        auto baseline = [p](benchmark::State& state) {
            const TableSetup setup = tableSetup(static_cast<int>(state.range(0)), Types::ARRAY);
            state.SetComplexityN(state.range(0));
            TableBaseline<DenseTraces> run(p, setup, false);
            measure(state, run, setup.length);
        };
        for (auto* b : {benchmark::RegisterBenchmark("ScaleArraySize/library_nopoll", library),
                        benchmark::RegisterBenchmark("ScaleArraySize/baseline", baseline)}) {
            configure(b)->ArgName("weights")->RangeMultiplier(4)->Range(256, 1 << 20)->Complexity(benchmark::oN);
        }
    }
}

// ---------------------------------------------------------------------------
// Tile coding

Params tileParams() {
    Params p;
    p.alpha = 0.5;
    p.lambda = 0.9;
    p.gamma = 1.0;
    p.selection = Tembra::GREEDY;
    return p;
}

template <class Env>
void tileLibrary(benchmark::State& state, const Variant variant, const Env env, const TileSetup setup,
                 const Params p) {
    if (variant != Variant::NOPOLL) {
        TileAgent<Env> agent(configFile(p), env, setup);
        if (variant == Variant::POLL64) agent.setSignalPollInterval(64);
        measure(state, agent, env.length);
    } else {
        NoPoll<TileAgent<Env>> agent(configFile(p), env, setup);
        measure(state, agent, env.length);
    }
}

void registerTiles() {
    const Params p = tileParams();
    MountainCar car;
    car.length = 200;
    // The mountain car as the example sets it up: 8 tilings of 8 x 8 tiles
    // over position and velocity, 3 actions.
    for (const Types::TRACE_STORAGE storage : STORAGES) {
        TileSetup setup;
        setup.storage = storage;
        const std::string workload = std::string("TileSarsa_") + storageName(storage);
        const std::string suffix = "/mountain_car";
        for (const Variant v : variantsFor(storage)) {
            configure(benchmark::RegisterBenchmark((workload + "/" + variantName(v) + suffix).c_str(),
                                                  [=](benchmark::State& state) { tileLibrary(state, v, car, setup, p); }));
        }
        if (storage == Types::MAP) {
            configure(benchmark::RegisterBenchmark((workload + "/baseline" + suffix).c_str(), [=](benchmark::State& state) {
                TileBaseline<MountainCar, MapTraces> run(p, car, setup);
                measure(state, run, car.length);
            }));
            configure(
                benchmark::RegisterBenchmark((workload + "/baseline_pairs" + suffix).c_str(), [=](benchmark::State& state) {
                    TileBaseline<MountainCar, PairTraces> run(p, car, setup);
                    measure(state, run, car.length);
                }));
        } else if (storage == Types::SPARSE) {
            configure(benchmark::RegisterBenchmark((workload + "/baseline" + suffix).c_str(), [=](benchmark::State& state) {
                TileBaseline<MountainCar, PairTraces> run(p, car, setup);
                measure(state, run, car.length);
            }));
            configure(
                benchmark::RegisterBenchmark((workload + "/baseline_hash" + suffix).c_str(), [=](benchmark::State& state) {
                    TileBaseline<MountainCar, HashPairTraces> run(p, car, setup);
                    measure(state, run, car.length);
                }));
        } else {
            configure(benchmark::RegisterBenchmark((workload + "/baseline" + suffix).c_str(), [=](benchmark::State& state) {
                TileBaseline<MountainCar, DenseTraces> run(p, car, setup);
                measure(state, run, car.length);
            }));
        }
    }

    // 1 to 32 tilings over 1 to 4 variables of the walker (MAP traces, the
    // default), 8 tiles per variable and tiling, 3 actions.
    auto sweepSetup = [](benchmark::State& state, Walker& walker, TileSetup& setup) {
        walker.dims = static_cast<int>(state.range(0));
        setup.tilings = static_cast<int>(state.range(1));
        walker.length = 100;
        state.SetComplexityN(state.range(0) * state.range(1));
    };
    auto sweepArgs = [](benchmark::internal::Benchmark* b) {
        configure(b)->ArgNames({"D", "T"});
        for (const int d : {1, 2, 3, 4}) {
            for (const int t : {1, 2, 4, 8, 16, 32}) b->Args({d, t});
        }
        b->Complexity(benchmark::oN);
    };
    for (const Variant v : {Variant::LIBRARY, Variant::NOPOLL}) {
        sweepArgs(benchmark::RegisterBenchmark(
            (std::string("TileSweep_MAP/") + variantName(v)).c_str(), [=](benchmark::State& state) {
                Walker walker;
                TileSetup setup;
                sweepSetup(state, walker, setup);
                tileLibrary(state, v, walker, setup, p);
            }));
    }
    sweepArgs(benchmark::RegisterBenchmark("TileSweep_MAP/baseline", [=](benchmark::State& state) {
        Walker walker;
        TileSetup setup;
        sweepSetup(state, walker, setup);
        TileBaseline<Walker, MapTraces> run(p, walker, setup);
        measure(state, run, walker.length);
    }));
}

// ---------------------------------------------------------------------------
// Neural network

Params networkParams() {
    Params p;
    p.alpha = 0.1;
    p.lambda = 0.8;
    p.gamma = 0.95;
    return p;
}

void registerNetworks() {
    const Params p = networkParams();
    const int length = 100;
    for (const int inputs : {2, 4, 8}) {
        const std::string workload = "NetworkTD_in" + std::to_string(inputs);
        std::vector<benchmark::internal::Benchmark*> families;
        for (const Variant v : {Variant::LIBRARY, Variant::NOPOLL}) {
            families.push_back(benchmark::RegisterBenchmark(
                (workload + "/" + variantName(v)).c_str(), [=](benchmark::State& state) {
                    const int hidden = static_cast<int>(state.range(0));
                    state.SetComplexityN(state.range(0));
                    if (v == Variant::LIBRARY) {
                        NetworkAgent agent(configFile(p), inputs, hidden, length);
                        measure(state, agent, length);
                    } else {
                        NoPoll<NetworkAgent> agent(configFile(p), inputs, hidden, length);
                        measure(state, agent, length);
                    }
                }));
        }
        families.push_back(benchmark::RegisterBenchmark((workload + "/baseline").c_str(), [=](benchmark::State& state) {
            state.SetComplexityN(state.range(0));
            NetworkBaseline run(p, inputs, static_cast<int>(state.range(0)), length);
            measure(state, run, length);
        }));
        for (benchmark::internal::Benchmark* b : families) {
            configure(b)->ArgName("H");
            for (const int hidden : {5, 10, 20, 50, 100}) b->Arg(hidden);
            b->Complexity(benchmark::oN);
        }
    }
}

// The library in a paired run: the poll taken out, or every 64 steps.
template <class Agent, class... Args>
std::unique_ptr<Agent> pairedAgent(const Variant v, Args&&... args) {
    std::unique_ptr<Agent> agent(v == Variant::NOPOLL ? new NoPoll<Agent>(std::forward<Args>(args)...)
                                                      : new Agent(std::forward<Args>(args)...));
    if (v == Variant::POLL64) agent->setSignalPollInterval(64);
    return agent;
}

// A table workload paired with the baseline of its storage.
template <class Learner>
void pairedTable(benchmark::State& state, const Variant v, const TableSetup setup, const Params p, const bool watkins) {
    auto library = [&] { return pairedAgent<TableAgent<Learner>>(v, configFile(p), setup); };
    auto with = [&](auto* traces) {
        using Traces = std::remove_pointer_t<decltype(traces)>;
        paired(state, library, [&] { return std::unique_ptr<TableBaseline<Traces>>(new TableBaseline<Traces>(p, setup, watkins)); },
               setup.length);
    };
    if (setup.storage == Types::MAP) with(static_cast<MapTraces*>(nullptr));
    else if (setup.storage == Types::ARRAY) with(static_cast<DenseTraces*>(nullptr));
    else with(static_cast<PairTraces*>(nullptr));
}

template <class Env>
void pairedTiles(benchmark::State& state, const Variant v, const Env env, const TileSetup setup, const Params p) {
    auto library = [&] { return pairedAgent<TileAgent<Env>>(v, configFile(p), env, setup); };
    auto with = [&](auto* traces) {
        using Traces = std::remove_pointer_t<decltype(traces)>;
        paired(state, library, [&] { return std::unique_ptr<TileBaseline<Env, Traces>>(new TileBaseline<Env, Traces>(p, env, setup)); },
               env.length);
    };
    if (setup.storage == Types::MAP) with(static_cast<MapTraces*>(nullptr));
    else if (setup.storage == Types::ARRAY) with(static_cast<DenseTraces*>(nullptr));
    else with(static_cast<PairTraces*>(nullptr));
}

// The paired ratios of every workload with a baseline (traces as the
// library keeps them; SPARSE against the flat pairs, also with the poll
// every 64 steps).
void registerPaired() {
    const int sizes[] = {100, 1000, 10000, 100000, 1000000};
    for (const bool watkins : {false, true}) {
        for (const Types::TRACE_STORAGE storage : STORAGES) {
            const std::string workload = std::string(watkins ? "TableWatkins_" : "TableSarsa_") + storageName(storage);
            for (const int weights : sizes) {
                const TableSetup setup = tableSetup(weights, storage);
                const Params p = tableParams();
                for (const Variant v : {Variant::NOPOLL, Variant::POLL64}) {
                    if (v == Variant::POLL64 && storage != Types::SPARSE) continue;
                    const std::string name = v == Variant::NOPOLL ? "/paired/" : "/paired_poll64/";
                    configure(benchmark::RegisterBenchmark(
                        (workload + name + std::to_string(weights)).c_str(), [=](benchmark::State& state) {
                            if (watkins) pairedTable<Watkins>(state, v, setup, p, true);
                            else pairedTable<Sarsa>(state, v, setup, p, false);
                        }));
                }
            }
        }
    }

    const Params tp = tileParams();
    MountainCar car;
    car.length = 200;
    for (const Types::TRACE_STORAGE storage : STORAGES) {
        TileSetup setup;
        setup.storage = storage;
        for (const Variant v : {Variant::NOPOLL, Variant::POLL64}) {
            if (v == Variant::POLL64 && storage != Types::SPARSE) continue;
            const std::string name = v == Variant::NOPOLL ? "/paired/" : "/paired_poll64/";
            configure(benchmark::RegisterBenchmark(
                (std::string("TileSarsa_") + storageName(storage) + name + "mountain_car").c_str(),
                [=](benchmark::State& state) { pairedTiles(state, v, car, setup, tp); }));
        }
    }

    const Params np = networkParams();
    const int length = 100;
    for (const int inputs : {2, 4, 8}) {
        benchmark::internal::Benchmark* b = benchmark::RegisterBenchmark(
            ("NetworkTD_in" + std::to_string(inputs) + "/paired").c_str(), [=](benchmark::State& state) {
                const int hidden = static_cast<int>(state.range(0));
                paired(
                    state,
                    [&] {
                        return std::unique_ptr<NoPoll<NetworkAgent>>(
                            new NoPoll<NetworkAgent>(configFile(np), inputs, hidden, length));
                    },
                    [&] { return std::unique_ptr<NetworkBaseline>(new NetworkBaseline(np, inputs, hidden, length)); },
                    length);
            });
        configure(b)->ArgName("H");
        for (const int hidden : {5, 10, 20, 50, 100}) b->Arg(hidden);
    }
}

// ---------------------------------------------------------------------------
// Action selection: Sarsa steps on a table of 100 states (MAP traces) with
// 2 to 64 actions.

void registerSelection() {
    const Tembra::ACTION_SELECTION_TYPE rules[] = {Tembra::GREEDY, Tembra::EPSILON_GREEDY, Tembra::SOFTMAX};
    const char* const names[] = {"GREEDY", "EPSILON_GREEDY", "SOFTMAX"};
    for (int r = 0; r < 3; ++r) {
        Params p;
        p.selection = rules[r];
        for (const Variant v : {Variant::LIBRARY, Variant::NOPOLL}) {
            benchmark::internal::Benchmark* b = benchmark::RegisterBenchmark(
                (std::string("Select_") + names[r] + "/" + variantName(v)).c_str(), [=](benchmark::State& state) {
                    TableSetup setup = tableSetup(400, Types::MAP);
                    setup.actions = static_cast<int>(state.range(0));
                    setup.states = 100;
                    state.SetComplexityN(state.range(0));
                    tableLibrary<Sarsa>(state, v, setup, p);
                });
            configure(b)->ArgName("A");
            for (const int actions : {2, 4, 8, 16, 32, 64}) b->Arg(actions);
            b->Complexity(benchmark::oN);
        }
    }
}

// ---------------------------------------------------------------------------
// The signal poll: the system call alone, the library's poll alone, and a
// learner that polls every N-th step.

// A learner that is only there to be polled.
class Pollable : public Sarsa {
public:
    explicit Pollable(const std::string& conf) : Sarsa(conf) {}
    void poll() { checkPendingSignals(); }

protected:
    void setInitialState() override {}
    void takeAction() override {}
    const bool observeState() override { return false; }
    const double calculateReward() override { return 0.0; }
};

void registerPoll() {
    configure(benchmark::RegisterBenchmark("Poll/sigpending", [](benchmark::State& state) {
        sigset_t pending;
        sigemptyset(&pending);
        for (auto _ : state) {
            sigpending(&pending);
            benchmark::DoNotOptimize(pending);
        }
        state.SetItemsProcessed(state.iterations());
    }));
    configure(benchmark::RegisterBenchmark("Poll/checkPendingSignals", [](benchmark::State& state) {
        Pollable learner(configFile(Params()));
        for (auto _ : state) learner.poll();
        state.SetItemsProcessed(state.iterations());
    }));

    const Params tp = tableParams();
    const TableSetup setup = tableSetup(1000, Types::MAP);
    const Params cp = tileParams();
    MountainCar car;
    car.length = 200;
    for (const int every : {4, 16, 64, 256}) {
        const std::string variant = "/library_poll" + std::to_string(every);
        configure(benchmark::RegisterBenchmark(("PollAmortised_TableSarsa_MAP" + variant + "/1000").c_str(),
                                              [=](benchmark::State& state) {
                                                  TableAgent<Sarsa> agent(configFile(tp), setup);
                                                  agent.setSignalPollInterval(every);
                                                  measure(state, agent, setup.length);
                                              }));
        configure(benchmark::RegisterBenchmark(("PollAmortised_TileSarsa_MAP" + variant + "/mountain_car").c_str(),
                                              [=](benchmark::State& state) {
                                                  TileAgent<MountainCar> agent(configFile(cp), car, TileSetup());
                                                  agent.setSignalPollInterval(every);
                                                  measure(state, agent, car.length);
                                              }));
    }
}

// ---------------------------------------------------------------------------
// The summary: medians per step, library against baseline.

class CollectingReporter : public benchmark::ConsoleReporter {
public:
    explicit CollectingReporter(const OutputOptions options) : ConsoleReporter(options) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) {
                failed.push_back(run.run_name.str() + ": " + run.error_message);
                continue;
            }
            const std::string name = run.run_name.str();
            const benchmark::UserCounters::const_iterator ratio = run.counters.find("ratio");
            if (run.run_type == Run::RT_Aggregate) {
                if (run.aggregate_name != "median") continue;
                medians[name] = run.GetAdjustedCPUTime();
                if (ratio != run.counters.end()) pairedRatios[name] = ratio->second.value;
            } else {
                // Without repetitions the single run stands for the median.
                singles[name] = run.GetAdjustedCPUTime();
                if (ratio != run.counters.end()) singleRatios[name] = ratio->second.value;
            }
            if (std::find(order.begin(), order.end(), name) == order.end()) order.push_back(name);
        }
        ConsoleReporter::ReportRuns(runs);
    }

    double timeOf(const std::string& name) const {
        std::map<std::string, double>::const_iterator it = medians.find(name);
        if (it != medians.end()) return it->second;
        it = singles.find(name);
        return it != singles.end() ? it->second : -1.0;
    }

    // The paired ratio of a paired benchmark (median of its repetitions).
    double ratioOf(const std::string& name) const {
        std::map<std::string, double>::const_iterator it = pairedRatios.find(name);
        if (it != pairedRatios.end()) return it->second;
        it = singleRatios.find(name);
        return it != singleRatios.end() ? it->second : -1.0;
    }

    std::map<std::string, double> medians;
    std::map<std::string, double> singles;
    std::map<std::string, double> pairedRatios;
    std::map<std::string, double> singleRatios;
    std::vector<std::string> failed;
    std::vector<std::string> order;
};

struct NameParts {
    std::string workload;
    std::string variant;
    std::string arguments;
};

NameParts split(const std::string& name) {
    NameParts parts;
    const std::size_t first = name.find('/');
    if (first == std::string::npos) return parts;
    const std::size_t second = name.find('/', first + 1);
    parts.workload = name.substr(0, first);
    parts.variant = name.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
    parts.arguments = second == std::string::npos ? "" : name.substr(second + 1);
    return parts;
}

// Workloads in the order they are registered (the framework may run them
// interleaved), then their arguments in numeric order.
const char* const WORKLOAD_ORDER[] = {"TableSarsa_MAP",      "TableSarsa_ARRAY", "TableSarsa_SPARSE", "TableWatkins_MAP",
                                      "TableWatkins_ARRAY",  "TableWatkins_SPARSE", "ScaleMapDistinct", "ScaleArraySize",
                                      "TileSarsa_MAP",       "TileSarsa_ARRAY",  "TileSarsa_SPARSE",  "TileSweep_MAP",
                                      "NetworkTD_in2",       "NetworkTD_in4",    "NetworkTD_in8"};

int workloadRank(const std::string& workload) {
    int rank = 0;
    for (const char* w : WORKLOAD_ORDER) {
        if (workload == w) return rank;
        ++rank;
    }
    return rank;
}

// Compares digit runs as numbers: "H:5" before "H:50".
bool naturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(static_cast<unsigned char>(a[i])) && std::isdigit(static_cast<unsigned char>(b[j]))) {
            std::size_t ie = i;
            std::size_t je = j;
            while (ie < a.size() && std::isdigit(static_cast<unsigned char>(a[ie]))) ++ie;
            while (je < b.size() && std::isdigit(static_cast<unsigned char>(b[je]))) ++je;
            const long long x = std::atoll(a.substr(i, ie - i).c_str());
            const long long y = std::atoll(b.substr(j, je - j).c_str());
            if (x != y) return x < y;
            i = ie;
            j = je;
        } else {
            if (a[i] != b[j]) return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

bool isTarget(const std::string& workload) {
    return workload.compare(0, 11, "TableSarsa_") == 0 || workload.compare(0, 10, "TileSarsa_") == 0 ||
           workload.compare(0, 9, "NetworkTD") == 0;
}

std::string cell(const double value, const int precision) {
    if (value < 0.0) return "-";
    std::ostringstream text;
    text << std::fixed << std::setprecision(precision) << value;
    return text.str();
}

void printSummary(const CollectingReporter& reporter) {
    const double TARGET = 1.25;
    std::vector<std::string> keys;
    std::map<std::string, std::map<std::string, double>> table;
    for (const std::string& name : reporter.order) {
        const NameParts parts = split(name);
        if (parts.workload.empty() || parts.variant.empty()) continue;
        const std::string key = parts.workload + "/" + parts.arguments;
        if (table.find(key) == table.end()) keys.push_back(key);
        table[key][parts.variant] =
            parts.variant.compare(0, 6, "paired") == 0 ? reporter.ratioOf(name) : reporter.timeOf(name);
    }

    std::sort(keys.begin(), keys.end(), [](const std::string& a, const std::string& b) {
        const std::size_t sa = a.find('/');
        const std::size_t sb = b.find('/');
        const int ra = workloadRank(a.substr(0, sa));
        const int rb = workloadRank(b.substr(0, sb));
        if (ra != rb) return ra < rb;
        if (a.substr(0, sa) != b.substr(0, sb)) return a.substr(0, sa) < b.substr(0, sb);
        return naturalLess(a.substr(sa + 1), b.substr(sb + 1));
    });

    std::cout << "\nSummary: CPU time per step, medians of the repetitions (ns)\n"
              << "ratio = library (poll taken out) / baseline, from their separate medians; paired = the same\n"
              << "ratio measured with both taking turns in one benchmark (median over the pairs, then over\n"
              << "the repetitions), which the target <= " << TARGET << " is judged on where it exists;\n"
              << "SPARSE rows: poll64 = polling every 64 steps, p64 = its paired ratio (what SPARSE is\n"
              << "judged on), hash = the baseline with a hash from index to slot instead of a table\n\n";
    std::cout << std::left << std::setw(40) << "workload/arguments" << std::right << std::setw(9) << "library"
              << std::setw(9) << "nopoll" << std::setw(9) << "poll64" << std::setw(9) << "baseline" << std::setw(7)
              << "hash" << std::setw(7) << "ratio" << std::setw(8) << "paired" << std::setw(7) << "p64" << std::setw(11)
              << "ratio+poll" << std::setw(7) << "pairs" << std::setw(12) << "ratio/pairs"
              << "  target\n";
    int missed = 0;
    for (const std::string& key : keys) {
        const std::map<std::string, double>& row = table[key];
        auto get = [&row](const char* variant) {
            std::map<std::string, double>::const_iterator it = row.find(variant);
            return it == row.end() ? -1.0 : it->second;
        };
        const double library = get("library");
        const double nopoll = get("library_nopoll");
        const double baseline = get("baseline");
        const double pairs = get("baseline_pairs");
        const double paired = get("paired");
        const double poll64 = get("library_poll64");
        const double hashed = get("baseline_hash");
        const double paired64 = get("paired_poll64");
        if (baseline < 0.0 || nopoll < 0.0) continue;
        const double ratio = nopoll / baseline;
        const double judged = paired64 > 0.0 ? paired64 : paired > 0.0 ? paired : ratio;
        const double ratioPoll = library < 0.0 ? -1.0 : library / baseline;
        const double ratioPairs = pairs < 0.0 ? -1.0 : nopoll / pairs;
        const std::string workload = key.substr(0, key.find('/'));
        std::string verdict;
        if (isTarget(workload)) {
            verdict = judged <= TARGET ? "met" : "MISSED";
            if (judged > TARGET) ++missed;
        }
        std::cout << std::left << std::setw(40) << key << std::right << std::setw(9) << cell(library, 0)
                  << std::setw(9) << cell(nopoll, 0) << std::setw(9) << cell(poll64, 0) << std::setw(9)
                  << cell(baseline, 0) << std::setw(7) << cell(hashed, 0) << std::setw(7) << cell(ratio, 2)
                  << std::setw(8) << cell(paired, 2) << std::setw(7) << cell(paired64, 2) << std::setw(11)
                  << cell(ratioPoll, 2)
                  << std::setw(7) << cell(pairs, 0) << std::setw(12) << cell(ratioPairs, 2) << "  " << verdict << "\n";
    }

    // The poll: its cost alone and what polling every N-th step saves.
    const double sigpendingTime = reporter.timeOf("Poll/sigpending");
    const double pollTime = reporter.timeOf("Poll/checkPendingSignals");
    if (sigpendingTime >= 0.0 || pollTime >= 0.0) {
        std::cout << "\nSignal poll: sigpending " << cell(sigpendingTime, 1) << " ns, checkPendingSignals "
                  << cell(pollTime, 1) << " ns per call\n";
    }
    for (const char* workload : {"TableSarsa_MAP", "TileSarsa_MAP"}) {
        const std::string arguments = std::string(workload) == "TableSarsa_MAP" ? "/1000" : "/mountain_car";
        const double every1 = reporter.timeOf(std::string(workload) + "/library" + arguments);
        const double never = reporter.timeOf(std::string(workload) + "/library_nopoll" + arguments);
        if (every1 < 0.0) continue;
        std::cout << workload << arguments << ": every step " << cell(every1, 0) << " ns";
        for (const int every : {4, 16, 64, 256}) {
            const double t = reporter.timeOf("PollAmortised_" + std::string(workload) + "/library_poll" +
                                             std::to_string(every) + arguments);
            if (t >= 0.0) std::cout << ", every " << every << ": " << cell(t, 0) << " ns";
        }
        std::cout << ", never: " << cell(never, 0) << " ns per step\n";
    }
    // The selection rules, poll taken out.
    if (reporter.timeOf("Select_GREEDY/library_nopoll/A:2") < 0.0) {
        for (const std::string& failure : reporter.failed) std::cout << "\nFAILED: " << failure << "\n";
        if (missed > 0) std::cout << "\n" << missed << " target ratio(s) missed on this run\n";
        std::cout << std::flush;
        return;
    }
    std::cout << "\nSarsa on a table of 100 states (MAP traces), ns per step without the poll\n" << std::left
              << std::setw(16) << "rule" << std::right;
    const int actionCounts[] = {2, 4, 8, 16, 32, 64};
    for (const int a : actionCounts) std::cout << std::setw(9) << ("A=" + std::to_string(a));
    std::cout << "\n";
    for (const char* rule : {"GREEDY", "EPSILON_GREEDY", "SOFTMAX"}) {
        std::cout << std::left << std::setw(16) << rule << std::right;
        for (const int a : actionCounts) {
            const double t =
                reporter.timeOf(std::string("Select_") + rule + "/library_nopoll/A:" + std::to_string(a));
            std::cout << std::setw(9) << cell(t, 0);
        }
        std::cout << "\n";
    }
    for (const std::string& failure : reporter.failed) std::cout << "\nFAILED: " << failure << "\n";
    if (missed > 0) std::cout << "\n" << missed << " target ratio(s) missed on this run\n";
    std::cout << std::flush;
}

bool hasFlag(int argc, char** argv, const char* flag) {
    const std::size_t n = std::strlen(flag);
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], flag, n) == 0) return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    char dirTemplate[] = "/tmp/tembra-bench-XXXXXX";
    if (mkdtemp(dirTemplate) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    configDirectory = dirTemplate;

    // Modest defaults, so that the whole run stays within a few minutes.
    std::vector<std::string> extra;
    if (!hasFlag(argc, argv, "--benchmark_repetitions")) extra.push_back("--benchmark_repetitions=5");
    if (!hasFlag(argc, argv, "--benchmark_min_time")) extra.push_back("--benchmark_min_time=0.04");
    // Repetitions spread over the run: a burst of load from elsewhere then
    // spoils one repetition of many benchmarks rather than all of one.
    if (!hasFlag(argc, argv, "--benchmark_enable_random_interleaving")) {
        extra.push_back("--benchmark_enable_random_interleaving=true");
    }
    if (!hasFlag(argc, argv, "--benchmark_report_aggregates_only") &&
        !hasFlag(argc, argv, "--benchmark_display_aggregates_only")) {
        extra.push_back("--benchmark_report_aggregates_only=true");
    }
    std::vector<char*> args(argv, argv + argc);
    for (std::string& flag : extra) args.push_back(&flag[0]);
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);

    registerTables();
    registerTableScaling();
    registerTiles();
    registerNetworks();
    registerPaired();
    registerSelection();
    registerPoll();

    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;

    const bool console = !hasFlag(argc, argv, "--benchmark_format") || hasFlag(argc, argv, "--benchmark_format=console");
    if (console) {
        // Colours only for a terminal (the framework decides so for its own reporter).
        CollectingReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_ColorTabular
                                                          : benchmark::ConsoleReporter::OO_Tabular);
        benchmark::RunSpecifiedBenchmarks(&reporter);
        printSummary(reporter);
    } else {
        benchmark::RunSpecifiedBenchmarks();
    }
    benchmark::Shutdown();

    std::remove((configDirectory + "/learner.conf").c_str());
    rmdir(configDirectory.c_str());
    return 0;
}
