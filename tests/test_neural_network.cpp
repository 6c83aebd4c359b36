#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "NeuralNetwork.h"
#include "TestSupport.h"
#include "Utility.h"

using namespace test_support;

namespace {

using Messages = std::vector<std::string>;

// Opens the network's arrays to the tests, as a using program's subclass
// may.
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
    std::vector<double> allWeights() {
        std::vector<double> w;
        for (int k = 0; k < weights(); ++k) w.push_back(weight(k));
        return w;
    }
    std::vector<double> allTraces() const {
        std::vector<double> t;
        for (int k = 0; k < weights(); ++k) t.push_back(trace(k));
        return t;
    }
    // d output / d weight k by central differences, weights restored.
    double numericalGradient(int k) {
        const double eps = 1e-5, w = weight(k);
        weight(k) = w + eps;
        const double up = getStateValue();
        weight(k) = w - eps;
        const double down = getStateValue();
        weight(k) = w;
        getStateValue();
        return (up - down) / (2 * eps);
    }
    std::vector<double> gradient() {
        std::vector<double> g;
        for (int k = 0; k < weights(); ++k) g.push_back(numericalGradient(k));
        return g;
    }
};

const double zeroWeight() { return 0.0; }
const double minusQuarter() { return -0.25; }

int nextWeightIndex = 0;
// Distinct, recognisable weights: -0.3, -0.27, ... in call order.
const double countingWeight() { return -0.3 + 0.03 * nextWeightIndex++; }

// Three DOUBLE variables with bounds [-1, 1].
State* threeVariables(double x0 = 0.3, double x1 = -0.7, double x2 = 0.9) {
    State* s = new State();
    s->registerVariable("x0", -1.0, 1.0);
    s->registerVariable("x1", -1.0, 1.0);
    s->registerVariable("x2", -1.0, 1.0);
    s->setValueDbl(0, x0);
    s->setValueDbl(1, x1);
    s->setValueDbl(2, x2);
    return s;
}

// The State block of threeVariables() as laid out in a V file.
Bytes threeVariablesBlock() {
    Bytes b;
    putU32(b, 3);
    putI32(b, 2);
    putDoubleVar(b, "x0", -1.0, 1.0);
    putDoubleVar(b, "x1", -1.0, 1.0);
    putDoubleVar(b, "x2", -1.0, 1.0);
    return b;
}

// A network with random weights, its forward pass done.
struct Net {
    Probe net;
    Net(unsigned int seed, int hidden) : net((setSeed(seed), threeVariables()), hidden) {
        net.setState();
        net.getStateValue();
    }
};

// What every operation of a network without arrays must do: report, not
// touch memory.
void expectReportsOnUse(Probe& net) {
    EXPECT_FALSE(net.hasWeights());
    double v = -1.0;
    EXPECT_FALSE(stderrReports([&] { v = net.getStateValue(); }).empty());
    EXPECT_EQ(v, 0.0);
    const Messages m = stderrReports([&] {
        net.setState();
        net.initEligibilityTraces();
        net.storeState();
        net.updateEligibilityTraces(0.9, 0.9);
        net.updateWeights(0.1, 1.0);
        net.checkWeightLimit();
        net.initWeights(&zeroWeight);
        net.setScaleFactor(0, 2.0);
        EXPECT_EQ(net.getAvgWeight(false), 0.0);
    });
    EXPECT_TRUE(someReportContains(m, "inputHiddenWeights == 0 --> This should never happen!"));
    EXPECT_FALSE(net.hasTraces());
}

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
    for (int k = 0; k < 30; ++k) {
        // 24 input-hidden weights, then 6 hidden-output weights, one draw each.
        EXPECT_EQ(net.weight(k), -0.5 + (draws[k] * (1.0 / 2147483648.0)) * 1.0) << k;
    }
    for (int i = 0; i < 3; ++i) EXPECT_EQ(net.scale(i), 1.0);
    EXPECT_FALSE(net.hasTraces());
    net.initEligibilityTraces();
    ASSERT_TRUE(net.hasTraces());
    EXPECT_EQ(net.allTraces(), std::vector<double>(30, 0.0));
}

TEST(NeuralNetwork, ForwardPassMatchesAHandComputation) {
    // One variable, one requested hidden neuron: I = 2, H = 2.
    State* s = new State();
    s->registerVariable("x", -2.0, 2.0);
    s->setValueDbl(0, 0.5);
    Probe net(s, 1);
    nextWeightIndex = 0;
    net.initWeights(&countingWeight);  // w(i,h): -0.3 -0.27 -0.24 -0.21; v(h): -0.18 -0.15
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
    const std::vector<double> first = net.allTraces();
    const std::vector<double> firstGradient = net.gradient();
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
    const std::vector<double> traces = net.allTraces();
    net.replacingTraces(1.0);
    net.accumulatingTraces(1.0);
    EXPECT_EQ(net.allTraces(), traces);

    // Each weight moves by alpha delta times its trace.
    const std::vector<double> before = net.allWeights();
    net.updateWeights(0.1, 0.5);
    for (int k = 0; k < net.weights(); ++k) EXPECT_EQ(net.weight(k), before[k] + 0.5 * 0.1 * traces[k]) << k;
}

TEST(NeuralNetwork, LearningWithoutTracesFollowsThePresentGradient) {
    Net n(12, 3);
    Probe& net = n.net;
    const std::vector<double> gradient = net.gradient();
    EXPECT_TRUE(stderrReports([&] { net.storeState(); }).empty());
    ASSERT_TRUE(net.hasTraces());
    net.storeState();  // the same state again replaces, never accumulates
    for (int k = 0; k < net.weights(); ++k) EXPECT_NEAR(net.trace(k), gradient[k], 1e-9) << k;

    // The next state's forward pass must not change what is updated.
    const std::vector<double> traces = net.allTraces();
    net.getStatePtr()->setValueDbl(1, 0.6);
    net.setState();
    net.getStateValue();
    const std::vector<double> before = net.allWeights();
    net.updateWeights(0.2, 0.3);
    for (int k = 0; k < net.weights(); ++k) EXPECT_EQ(net.weight(k), before[k] + 0.3 * 0.2 * traces[k]) << k;

    // Without any traces nothing moves at all.
    Probe fresh(threeVariables(), 3);
    const std::vector<double> untouched = fresh.allWeights();
    const Messages m = stderrReports([&] {
        fresh.updateWeights(0.1, 1.0);
        fresh.updateEligibilityTraces(0.9, 0.9);
    });
    EXPECT_TRUE(someReportContains(m, "hiddenOutputTraces == 0"));
    EXPECT_TRUE(someReportContains(m, "inputHiddenOutputTraces == 0"));
    EXPECT_EQ(fresh.allWeights(), untouched);
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
        for (double w : net.allWeights()) {
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

    const std::vector<double> before = net.allWeights();
    EXPECT_EQ(stderrReports([&] {
                  net.initEpisodeStateHistory();
                  net.valueEpisode(1.0);
              }),
              Messages{"Not implemented for NeuralNetwork!"});
    EXPECT_EQ(net.allWeights(), before);
}

TEST(NeuralNetwork, VFileIsLaidOutFieldByFieldAndRoundTripsBitExact) {
    TempDir dir;
    Probe net(threeVariables(), 5);
    nextWeightIndex = 0;
    net.initWeights(&countingWeight);
    net.setScaleFactor(1, 0.125);
    ASSERT_EQ(net.save(dir.file("net.v")), 0);
    Bytes expected = threeVariablesBlock();
    putI32(expected, 4);
    putI32(expected, 6);
    putI32(expected, 1);
    for (int k = 0; k < 30; ++k) putF64(expected, -0.3 + 0.03 * k);
    for (double scale : {1.0, 0.125, 1.0}) putF64(expected, scale);
    EXPECT_EQ(readFile(dir.file("net.v")), expected);

    // Weights that are not plain draws, odd scale factors.
    Net n(9, 4);
    Probe& original = n.net;
    original.setScaleFactor(0, 0.37);
    original.setScaleFactor(2, -3.5);
    original.storeState();
    original.updateWeights(0.3, 0.7);
    ASSERT_EQ(original.save(dir.file("a.v")), 0);
    Probe copy(dir.file("a.v"));
    Probe other(threeVariables(), 9);  // other sizes, rebuilt to the file's
    other.initEligibilityTraces();
    ASSERT_EQ(other.load(dir.file("a.v")), 0);
    for (Probe* p : {&copy, &other}) {
        ASSERT_TRUE(p->hasWeights());
        EXPECT_EQ(p->H(), 5);
        EXPECT_FALSE(p->hasTraces());
        for (int k = 0; k < original.weights(); ++k) EXPECT_TRUE(sameBits(p->weight(k), original.weight(k))) << k;
        for (int i = 0; i < 3; ++i) EXPECT_TRUE(sameBits(p->scale(i), original.scale(i)));
    }
    // The loaded State starts at the midpoints; give both the same values.
    for (const auto& x : {std::vector<double>{0.1, 0.2, 0.3}, std::vector<double>{1.0, -1.0, 0.5}}) {
        for (unsigned int v = 0; v < 3; ++v) {
            original.getStatePtr()->setValueDbl(v, x[v]);
            copy.getStatePtr()->setValueDbl(v, x[v]);
        }
        original.setState();
        copy.setState();
        EXPECT_TRUE(sameBits(copy.getStateValue(), original.getStateValue()));
    }
    ASSERT_EQ(copy.save(dir.file("b.v")), 0);
    EXPECT_EQ(readFile(dir.file("b.v")), readFile(dir.file("a.v")));
}

TEST(NeuralNetwork, MalformedBodiesAreRefusedBeforeAllocating) {
    TempDir dir;
    struct Case {
        const char* what;
        int32_t I, H, O;
        int weights;  // doubles that follow the sizes
        const char* message;
    };
    const Case cases[] = {
        {"I not variables + 1", 5, 2, 1, 5 * 2 + 2 + 4, "so I must be 4"},
        {"I zero", 0, 2, 1, 10, "so I must be 4"},
        {"I negative", -4, 2, 1, 10, "so I must be 4"},
        {"H zero", 4, 0, 1, 10, "H = 0 --> must be at least 1"},
        {"H negative", 4, -2, 1, 10, "H = -2 --> must be at least 1"},
        {"O two", 4, 2, 2, 20, "O = 2 --> must be 1"},
        {"O zero", 4, 2, 0, 10, "O = 0 --> must be 1"},
        {"H beyond the file", 4, 1000, 1, 10, "more weights than the rest of the file can hold"},
        {"I * H overflows", 4, INT_MAX, 1, 10, "network too large"},
        {"one weight short", 4, 2, 1, 4 * 2 + 2 + 3 - 1, "more weights than the rest of the file can hold"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes file = threeVariablesBlock();
        putI32(file, c.I);
        putI32(file, c.H);
        putI32(file, c.O);
        for (int k = 0; k < c.weights; ++k) putF64(file, 0.01 * k);
        writeFile(dir.file("bad.v"), file);

        std::unique_ptr<Probe> fromFile;
        Messages m = stderrReports([&] { fromFile.reset(new Probe(dir.file("bad.v"))); });
        EXPECT_TRUE(someReportContains(m, c.message));
        EXPECT_TRUE(someReportContains(m, "loading valuefunction failed"));
        expectReportsOnUse(*fromFile);
        Probe existing(threeVariables(), 2);
        m = stderrReports([&] { EXPECT_EQ(existing.load(dir.file("bad.v")), -1); });
        EXPECT_TRUE(someReportContains(m, c.message));
        expectReportsOnUse(existing);
    }
}

TEST(NeuralNetwork, FileCutAtAnyByteFailsAndLeavesNoNetwork) {
    TempDir dir;
    Probe net(threeVariables(), 2);
    ASSERT_EQ(net.save(dir.file("full.v")), 0);
    const Bytes full = readFile(dir.file("full.v"));
    const std::size_t blockSize = threeVariablesBlock().size();
    ASSERT_EQ(full.size(), blockSize + 12 + (4 * 3 + 3) * 8 + 3 * 8);

    for (std::size_t cut = 0; cut < full.size(); ++cut) {
        SCOPED_TRACE(cut);
        writeFile(dir.file("cut.v"), Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut)));
        std::unique_ptr<Probe> fromFile;
        Probe existing(threeVariables(), 2);
        const Messages m = stderrReports([&] {
            fromFile.reset(new Probe(dir.file("cut.v")));
            EXPECT_EQ(existing.load(dir.file("cut.v")), -1);
        });
        EXPECT_FALSE(m.empty());
        // A cut inside the sizes is a short read: the file ended, no errno.
        if (cut >= blockSize && cut < blockSize + 12) {
            EXPECT_TRUE(someReportContains(m, "the file ends early"));
            EXPECT_FALSE(someReportContains(m, "errno = "));
        }
        expectReportsOnUse(*fromFile);
        expectReportsOnUse(existing);
    }

    // A missing file leaves the network as it was.
    const std::vector<double> before = net.allWeights();
    const Messages m = stderrReports([&] { EXPECT_EQ(net.load(dir.file("none.v")), -1); });
    EXPECT_TRUE(someReportContains(m, "errno = "));
    ASSERT_TRUE(net.hasWeights());
    EXPECT_EQ(net.allWeights(), before);
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
        {new State(), 3, ""},
        {threeVariables(), INT_MAX, "network too large"},
        {threeVariables(), INT_MAX / 2, "network too large"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        std::unique_ptr<Probe> net;
        const Messages m = stderrReports([&] { net.reset(new Probe(c.state, c.hidden)); });
        EXPECT_FALSE(m.empty());
        EXPECT_TRUE(someReportContains(m, c.message));
        expectReportsOnUse(*net);
    }

    // No hidden neurons requested: the extra neuron alone is a network.
    Probe smallest(threeVariables(), 0);
    EXPECT_EQ(smallest.H(), 1);
    smallest.setState();
    EXPECT_GT(smallest.getStateValue(), 0.0);
}

TEST(NeuralNetwork, LearnsTwoStateValuesWithAndWithoutTraces) {
    // TD(0) on two one-step episodes whose values are 0.2 and 0.8, driven
    // as the TD learner drives a value function.
    const double x[2] = {0.0, 1.0}, target[2] = {0.2, 0.8};
    for (bool withTraces : {false, true}) {
        SCOPED_TRACE(withTraces);
        setSeed(1);
        State* s = new State();
        s->registerVariable("x", 0.0, 1.0);
        Probe net(s, 4);
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
