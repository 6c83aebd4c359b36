// The three-layer network as V(s): its sizes, first weights and scaled
// inputs, learning without traces, the limits and refused constructions.
// Its file is tested with the other files (test_files), its statistics
// with every representation (test_value_functions), the forward pass and
// TD with traces bit for bit against a hand-written network
// (test_benchmark_equivalence), learning with and without traces by the
// random-walk examples.

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "NeuralNetwork.h"
#include "TestSupport.h"
#include "TileTestSupport.h"
#include "Utility.h"

using namespace test_support;
using tile_test::doubleState;
using Messages = std::vector<std::string>;

namespace {

// Opens the network's arrays to the tests, as a using program's subclass may.
class Probe : public NeuralNetwork {
public:
    using NeuralNetwork::NeuralNetwork;
    int I() const { return INPUT_LAYER_NEURONS; }
    int H() const { return HIDDEN_LAYER_NEURONS; }
    // All weights (or their traces) in one numbering: input-hidden first.
    std::vector<double> all(bool traces) const {
        const int IH = I() * H();
        std::vector<double> w(traces ? inputHiddenOutputTraces : inputHiddenWeights,
                              (traces ? inputHiddenOutputTraces : inputHiddenWeights) + IH);
        for (int h = 0; h < H(); ++h) w.push_back(traces ? hiddenOutputTraces[h] : hiddenOutputWeights[h]);
        return w;
    }
    bool hasArrays() const { return inputHiddenWeights != nullptr || inputHiddenOutputTraces != nullptr; }
    double input(int i) const { return inputValues[i]; }
    double scale(int i) const { return scaleFactor[i]; }
};

const double minusQuarter() { return -0.25; }

State* threeVariables(double x0 = 0.3, double x1 = -0.7, double x2 = 0.9) {
    State* s = doubleState({{-1.0, 1.0}, {-1.0, 1.0}, {-1.0, 1.0}});
    s->setValueDbl(0, x0);
    s->setValueDbl(1, x1);
    s->setValueDbl(2, x2);
    return s;
}

}  // namespace

TEST(NeuralNetwork, SizesComeFromTheStateAndWeightsAreDrawnInIndexOrder) {
    setSeed(11);
    std::vector<double> drawn;
    for (int k = 0; k < 30; ++k) drawn.push_back(-0.5 + (std::rand() * (1.0 / 2147483648.0)) * 1.0);
    setSeed(11);
    ValueFunction::setRandomValueBoundaries(-3.0, 7.0);  // the constructor resets them
    Probe net(threeVariables(), 5);
    EXPECT_EQ(net.I(), 4);
    EXPECT_EQ(net.H(), 6);
    // 24 input-hidden weights, then 6 hidden-output weights, one draw each.
    EXPECT_EQ(net.all(false), drawn);
    // Each variable is scaled by its factor, 1 until set; the bias input is
    // no variable.
    net.setScaleFactor(0, 0.25);
    for (int bad : {-1, 3, INT_MAX}) {
        EXPECT_TRUE(someReportContains(stderrReports([&] { net.setScaleFactor(bad, 5.0); }), "out of bounds"));
    }
    net.setState();
    EXPECT_EQ((std::vector<double>{net.input(0), net.input(1), net.input(2), net.input(3)}),
              (std::vector<double>{0.3 * 0.25, -0.7, 0.9, 1.0}));
}

TEST(NeuralNetwork, LearningWithoutTracesFollowsTheStoredGradient) {
    setSeed(12);
    Probe net(threeVariables(), 3);
    net.setState();
    const std::vector<double> weights = net.all(false);
    const auto valueWith = [&](const std::vector<double>& w) {
        tile_test::setSequence(w);
        net.initWeights(&tile_test::fromSequence);
        return net.getStateValue();
    };
    // d output / d weight by central differences.
    std::vector<double> gradient;
    for (std::size_t k = 0; k < weights.size(); ++k) {
        std::vector<double> up = weights, down = weights;
        up[k] += 1e-5;
        down[k] -= 1e-5;
        gradient.push_back((valueWith(up) - valueWith(down)) / 2e-5);
    }
    valueWith(weights);
    EXPECT_TRUE(stderrReports([&] { net.storeState(); }).empty());
    net.storeState();  // the same state again replaces, never accumulates
    const std::vector<double> traces = net.all(true);
    for (std::size_t k = 0; k < weights.size(); ++k) EXPECT_NEAR(traces[k], gradient[k], 1e-9) << k;
    // The next state's forward pass must not change what is updated.
    net.getStatePtr()->setValueDbl(1, 0.6);
    net.setState();
    net.getStateValue();
    net.updateWeights(0.2, 0.3);
    const std::vector<double> after = net.all(false);
    for (std::size_t k = 0; k < weights.size(); ++k) EXPECT_EQ(after[k], weights[k] + 0.3 * 0.2 * traces[k]) << k;
    // Without any traces nothing moves at all.
    Probe fresh(threeVariables(), 3);
    const std::vector<double> untouched = fresh.all(false);
    EXPECT_TRUE(reportsContain(stderrReports([&] { fresh.updateWeights(0.1, 1.0); }),
                               {"hiddenOutputTraces == 0", "inputHiddenOutputTraces == 0"}));
    EXPECT_EQ(fresh.all(false), untouched);
}

TEST(NeuralNetwork, WeightLimitsHoldAfterEveryUpdateAndEpisodeValuesAreNotImplemented) {
    // Both limits, only the lower one, only the upper one: the updates
    // below would take weights past both.
    const double limits[][2] = {{-1.0, 1.0}, {-1.0, DBL_MAX}, {-DBL_MAX, 1.0}};
    for (const auto& limit : limits) {
        SCOPED_TRACE(std::to_string(limit[0]) + ", " + std::to_string(limit[1]));
        setSeed(8);
        Probe net(threeVariables(), 3);
        net.setMinWeightLimit(limit[0]);
        net.setMaxWeightLimit(limit[1]);
        net.initEligibilityTraces();
        std::set<double> extremes;
        for (int step = 0; step < 20; ++step) {
            net.setState();
            net.getStateValue();
            net.updateEligibilityTraces(0.9, 0.9);
            net.updateWeights(50.0, step % 2 == 0 ? 1.0 : -3.0);
            const std::vector<double> w = net.all(false);
            extremes.insert({*std::min_element(w.begin(), w.end()), *std::max_element(w.begin(), w.end())});
        }
        EXPECT_EQ(std::max(*extremes.begin(), -1.0), -1.0);
        EXPECT_EQ(*extremes.begin() == -1.0, limit[0] == -1.0);
        EXPECT_EQ(std::min(*extremes.rbegin(), 1.0), 1.0);
        EXPECT_EQ(*extremes.rbegin() == 1.0, limit[1] == 1.0);
        const std::vector<double> before = net.all(false);
        EXPECT_EQ(stderrReports([&] { net.valueEpisode(1.0); }), Messages{"Not implemented for NeuralNetwork!"});
        EXPECT_EQ(net.all(false), before);
    }
}

TEST(NeuralNetwork, UnusableConstructionsAreRefusedAndReportOnUse) {
    State* ints = new State();
    ints->registerVariable("n", 0, 10);
    const struct {
        State* state;
        int hidden;
        const char* message;
    } cases[] = {
        {nullptr, 3, "statePtr == 0"},
        {threeVariables(), -1, "numberOfHiddenNeurons = -1 --> must not be negative"},
        {ints, 3, "varType = 1 --> the network needs a State of DOUBLE variables"},
        {new State(), 3, "varType = 0 --> the network needs"},
        {threeVariables(), INT_MAX / 2, "network too large"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        std::unique_ptr<Probe> net;
        EXPECT_TRUE(someReportContains(stderrReports([&] { net.reset(new Probe(c.state, c.hidden)); }), c.message));
        // Every operation reports and touches no memory.
        double v = -1.0;
        EXPECT_GE(stderrReports([&] {
                      net->setState();
                      v = net->getStateValue();
                      net->initEligibilityTraces();
                      net->storeState();
                      net->updateEligibilityTraces(0.9, 0.9);
                      net->updateWeights(0.1, 1.0);
                      net->initWeights(&minusQuarter);
                  }).size(),
                  7u);
        EXPECT_EQ(v, 0.0);
        EXPECT_FALSE(net->hasArrays());
    }
    // No hidden neurons requested: the extra neuron alone is a network.
    Probe smallest(threeVariables(), 0);
    EXPECT_EQ(smallest.H(), 1);
    smallest.setState();
    EXPECT_GT(smallest.getStateValue(), 0.0);
}

TEST(NeuralNetwork, AFileThatCannotBeOpenedLeavesTheNetworkAsItWas) {
    TempDir dir;
    Probe net(threeVariables(), 2);
    const std::vector<double> before = net.all(false);
    EXPECT_TRUE(someReportContains(stderrReports([&] { EXPECT_EQ(net.load(dir.file("none.v")), -1); }), "errno = "));
    EXPECT_EQ(net.all(false), before);
}
