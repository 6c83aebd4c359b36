// The three-layer network as V(s): its sizes and first weights, the
// forward pass, the traces as decayed gradients, the updates, and a small
// learning task. Its file is tested with the other files (test_files).

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "NeuralNetwork.h"
#include "TestSupport.h"
#include "TileTestSupport.h"
#include "Utility.h"

using namespace test_support;
using tile_test::doubleState;

namespace {

using Messages = std::vector<std::string>;

// Opens the network's arrays to the tests, as a using program's subclass may.
class Probe : public NeuralNetwork {
public:
    using NeuralNetwork::NeuralNetwork;

    int I() const { return INPUT_LAYER_NEURONS; }
    int H() const { return HIDDEN_LAYER_NEURONS; }
    int weights() const { return I() * H() + H() * OUTPUT_LAYER_NEURONS; }
    // All weights in one numbering: input-hidden first, then hidden-output.
    double& weight(int k) { return k < I() * H() ? inputHiddenWeights[k] : hiddenOutputWeights[k - I() * H()]; }
    double trace(int k) const {
        return k < I() * H() ? inputHiddenOutputTraces[k] : hiddenOutputTraces[k - I() * H()];
    }
    bool hasTraces() const { return inputHiddenOutputTraces != nullptr && hiddenOutputTraces != nullptr; }
    bool hasWeights() const { return inputHiddenWeights != nullptr && hiddenOutputWeights != nullptr; }
    double input(int i) const { return inputValues[i]; }
    double hidden(int h) const { return hiddenValues[h]; }
    double scale(int i) const { return scaleFactor[i]; }
    std::vector<double> all(bool traces) {
        std::vector<double> w;
        for (int k = 0; k < weights(); ++k) w.push_back(traces ? trace(k) : weight(k));
        return w;
    }
    // d output / d weight k by central differences, weights restored.
    std::vector<double> gradient() {
        std::vector<double> g;
        for (int k = 0; k < weights(); ++k) {
            const double eps = 1e-5, w = weight(k);
            weight(k) = w + eps;
            const double up = getStateValue();
            weight(k) = w - eps;
            g.push_back((up - getStateValue()) / (2 * eps));
            weight(k) = w;
        }
        getStateValue();
        return g;
    }
};

const double minusQuarter() { return -0.25; }

State* threeVariables(double x0 = 0.3, double x1 = -0.7, double x2 = 0.9) {
    State* s = doubleState({{-1.0, 1.0}, {-1.0, 1.0}, {-1.0, 1.0}});
    s->setValueDbl(0, x0);
    s->setValueDbl(1, x1);
    s->setValueDbl(2, x2);
    return s;
}

// A network with random weights, its forward pass done.
struct Net {
    Probe net;
    Net(unsigned int seed, int hidden) : net((setSeed(seed), threeVariables()), hidden) {
        net.setState();
        net.getStateValue();
    }
};

}  // namespace

TEST(NeuralNetwork, SizesComeFromTheStateAndWeightsAreDrawnInIndexOrder) {
    setSeed(11);
    std::vector<int> draws;
    for (int k = 0; k < 30; ++k) draws.push_back(std::rand());
    setSeed(11);
    ValueFunction::setRandomValueBoundaries(-3.0, 7.0);  // the constructor resets them
    Probe net(threeVariables(), 5);
    EXPECT_EQ(net.I(), 4);
    EXPECT_EQ(net.H(), 6);
    ASSERT_EQ(net.weights(), 30);
    // 24 input-hidden weights, then 6 hidden-output weights, one draw each.
    for (int k = 0; k < 30; ++k) EXPECT_EQ(net.weight(k), -0.5 + (draws[k] * (1.0 / 2147483648.0)) * 1.0) << k;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(net.scale(i), 1.0);
    EXPECT_FALSE(net.hasTraces());
    net.initEligibilityTraces();
    ASSERT_TRUE(net.hasTraces());
    EXPECT_EQ(net.all(true), std::vector<double>(30, 0.0));
}

TEST(NeuralNetwork, ForwardPassMatchesAHandComputation) {
    // One variable, one requested hidden neuron: I = 2, H = 2.
    State* s = doubleState({{-2.0, 2.0}});
    s->setValueDbl(0, 0.5);
    Probe net(s, 1);
    tile_test::setSequence({-0.3, -0.27, -0.24, -0.21, -0.18, -0.15});  // w(i,h) by i * H + h, then v(h)
    net.initWeights(&tile_test::fromSequence);
    net.setState();
    const double h0 = 1 / (1 + reproducibleExp(-(0.0 + -0.3 * 0.5 + -0.24 * 1.0)));
    const double h1 = 1 / (1 + reproducibleExp(-(0.0 + -0.27 * 0.5 + -0.21 * 1.0)));
    EXPECT_EQ(net.getStateValue(), 1 / (1 + reproducibleExp(-(0.0 + -0.18 * h0 + -0.15 * h1))));
    EXPECT_EQ(net.hidden(1), h1);  // the extra neuron is computed like the others
}

TEST(NeuralNetwork, ScaleFactorScalesItsVariableAndRefusesOtherIndices) {
    Probe net(threeVariables(0.8, -0.7, 0.9), 2);
    net.setScaleFactor(0, 0.1);
    net.setState();
    EXPECT_EQ(net.input(0), 0.8 * 0.1);
    EXPECT_EQ(net.input(1), -0.7);
    EXPECT_EQ(net.input(3), 1.0);  // the bias input is not a variable
    for (int bad : {-1, 3, INT_MAX}) {
        const Messages m = stderrReports([&] { net.setScaleFactor(bad, 5.0); });
        EXPECT_EQ(m.size(), 1u);
        EXPECT_TRUE(someReportContains(m, "out of bounds")) << bad;
    }
    for (int i = 0; i < 3; ++i) EXPECT_EQ(net.scale(i), i == 0 ? 0.1 : 1.0);
}

TEST(NeuralNetwork, TracesAreTheGradientDecayedByGammaLambda) {
    Net n(6, 3);
    Probe& net = n.net;
    net.initEligibilityTraces();
    net.updateEligibilityTraces(1.0, 0.0);
    const std::vector<double> first = net.all(true), firstGradient = net.gradient();
    for (int k = 0; k < net.weights(); ++k) EXPECT_NEAR(first[k], firstGradient[k], 1e-9) << "weight " << k;

    net.getStatePtr()->setValueDbl(0, -0.4);
    net.getStatePtr()->setValueDbl(2, 0.1);
    net.setState();
    net.getStateValue();
    const std::vector<double> gradient = net.gradient();
    net.updateEligibilityTraces(0.9, 0.5);
    for (int k = 0; k < net.weights(); ++k) {
        EXPECT_NEAR(net.trace(k), 0.45 * first[k] + gradient[k], 1e-9) << "weight " << k;
    }
    // Marking the present state adds nothing: the gradient is the mark.
    const std::vector<double> traces = net.all(true);
    net.replacingTraces(1.0);
    net.accumulatingTraces(1.0);
    EXPECT_EQ(net.all(true), traces);
    // Each weight moves by alpha delta times its trace.
    const std::vector<double> before = net.all(false);
    net.updateWeights(0.1, 0.5);
    for (int k = 0; k < net.weights(); ++k) EXPECT_EQ(net.weight(k), before[k] + 0.5 * 0.1 * traces[k]) << k;
}

TEST(NeuralNetwork, LearningWithoutTracesFollowsTheStoredGradient) {
    Net n(12, 3);
    Probe& net = n.net;
    const std::vector<double> gradient = net.gradient();
    EXPECT_TRUE(stderrReports([&] { net.storeState(); }).empty());
    ASSERT_TRUE(net.hasTraces());
    net.storeState();  // the same state again replaces, never accumulates
    for (int k = 0; k < net.weights(); ++k) EXPECT_NEAR(net.trace(k), gradient[k], 1e-9) << k;
    // The next state's forward pass must not change what is updated.
    const std::vector<double> traces = net.all(true);
    net.getStatePtr()->setValueDbl(1, 0.6);
    net.setState();
    net.getStateValue();
    const std::vector<double> before = net.all(false);
    net.updateWeights(0.2, 0.3);
    for (int k = 0; k < net.weights(); ++k) EXPECT_EQ(net.weight(k), before[k] + 0.3 * 0.2 * traces[k]) << k;

    // Without any traces nothing moves at all.
    Probe fresh(threeVariables(), 3);
    const std::vector<double> untouched = fresh.all(false);
    const Messages m = stderrReports([&] {
        fresh.updateWeights(0.1, 1.0);
        fresh.updateEligibilityTraces(0.9, 0.9);
    });
    EXPECT_TRUE(someReportContains(m, "hiddenOutputTraces == 0"));
    EXPECT_TRUE(someReportContains(m, "inputHiddenOutputTraces == 0"));
    EXPECT_EQ(fresh.all(false), untouched);
}

TEST(NeuralNetwork, WeightLimitsHoldAfterEveryUpdate) {
    Net n(8, 3);
    Probe& net = n.net;
    net.setMinWeightLimit(-1.0);
    net.setMaxWeightLimit(1.0);
    net.initEligibilityTraces();
    bool reachedBound = false;
    for (int step = 0; step < 20; ++step) {
        net.setState();
        net.getStateValue();
        net.updateEligibilityTraces(0.9, 0.9);
        net.updateWeights(50.0, step % 2 == 0 ? 1.0 : -3.0);
        for (double w : net.all(false)) {
            ASSERT_GE(w, -1.0);
            ASSERT_LE(w, 1.0);
            reachedBound = reachedBound || w == 1.0 || w == -1.0;
        }
    }
    EXPECT_TRUE(reachedBound);
}

TEST(NeuralNetwork, WeightStatisticsCoverBothLayers) {
    Probe net(threeVariables(), 5);
    net.initWeights(&minusQuarter);
    EXPECT_EQ(net.getAvgWeight(true), 0.25);
    EXPECT_EQ(net.getAvgWeight(false), -0.25);
    net.weight(29) = 0.75;  // the last hidden-output weight
    net.weight(0) = -0.5;   // the first input-hidden weight
    EXPECT_EQ(net.getMaxWeight(), 0.75);
    EXPECT_EQ(net.getMinWeight(), -0.5);
    EXPECT_DOUBLE_EQ(net.getAvgWeight(false), (28 * -0.25 + 0.75 - 0.5) / 30);
    const std::vector<double> before = net.all(false);
    EXPECT_EQ(stderrReports([&] {
                  net.initEpisodeStateHistory();
                  net.valueEpisode(1.0);
              }),
              Messages{"Not implemented for NeuralNetwork!"});
    EXPECT_EQ(net.all(false), before);
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
        {ints, 3, "the network needs a State of DOUBLE variables"},
        {new State(), 3, "varType = 0 --> the network needs"},
        {threeVariables(), INT_MAX, "network too large"},
        {threeVariables(), INT_MAX / 2, "network too large"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        std::unique_ptr<Probe> net;
        EXPECT_TRUE(someReportContains(stderrReports([&] { net.reset(new Probe(c.state, c.hidden)); }), c.message));
        EXPECT_FALSE(net->hasWeights());
        // Every operation reports and touches no memory.
        double v = -1.0;
        const Messages m = stderrReports([&] {
            net->setState();
            v = net->getStateValue();
            net->initEligibilityTraces();
            net->storeState();
            net->updateEligibilityTraces(0.9, 0.9);
            net->updateWeights(0.1, 1.0);
            net->checkWeightLimit();
            net->initWeights(&minusQuarter);
            net->setScaleFactor(0, 2.0);
            EXPECT_EQ(net->getAvgWeight(false), 0.0);
        });
        EXPECT_EQ(v, 0.0);
        EXPECT_TRUE(someReportContains(m, "inputHiddenWeights == 0 --> This should never happen!"));
        EXPECT_FALSE(net->hasTraces());
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
    ASSERT_TRUE(net.hasWeights());
    EXPECT_EQ(net.all(false), before);
}

TEST(NeuralNetwork, LearnsTwoStateValuesWithAndWithoutTraces) {
    // TD(0) on two one-step episodes whose values are 0.2 and 0.8, driven
    // as the TD learner drives a value function.
    const double x[2] = {0.0, 1.0}, target[2] = {0.2, 0.8};
    for (bool withTraces : {false, true}) {
        SCOPED_TRACE(withTraces);
        setSeed(1);
        Probe net(doubleState({{0.0, 1.0}}), 4);
        for (int episode = 0; episode < 4001; ++episode) {
            const int i = episode % 2;
            if (withTraces) net.initEligibilityTraces();
            net.getStatePtr()->setValueDbl(0, x[i]);
            net.setState();
            const double value = net.getStateValue();
            if (episode == 0) {
                EXPECT_GT(std::fabs(value - target[i]), 0.1);
            } else if (episode >= 3999) {
                EXPECT_NEAR(value, target[i], 0.02);
            }
            if (withTraces) {
                net.updateEligibilityTraces(0.9, 0.5);
            } else {
                net.storeState();
            }
            net.updateWeights(2.0, target[i] - value);  // the step ends in the terminal state
        }
    }
}
