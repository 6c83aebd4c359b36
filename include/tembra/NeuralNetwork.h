#ifndef TEMBRA_NEURALNETWORK_H
#define TEMBRA_NEURALNETWORK_H

#include <cstdio>
#include <string>

#include "StateValueFunction.h"

// V(s) as a fully connected three-layer network of sigmoid units: the
// State's (DOUBLE) variables, each times its scale factor, plus a bias
// input feed one hidden layer plus one extra neuron, which feeds a single
// output neuron. V therefore lies strictly between 0 and 1.
//
// It learns by gradient-descent TD(lambda): the traces are the partial
// derivatives of the output with respect to each weight, decayed by
// GAMMA * LAMBDA and added to at every step, and updateWeights moves every
// weight by ALPHA * DELTA * its trace. Without traces (storeState instead
// of updateEligibilityTraces) the traces hold the present gradient alone,
// which makes updateWeights the one-step semi-gradient update.
//
// A network whose construction was refused or whose body could not be
// loaded has no arrays; every operation then reports instead of computing.
class TEMBRA_API NeuralNetwork : public StateValueFunction {
public:
    // Builds a network on a State whose DOUBLE variables are all
    // registered: I = variables + 1, H = numberOfHiddenNeurons + 1, O = 1,
    // weights drawn uniformly from [-0.5, 0.5), scale factors 1.0.
    NeuralNetwork(State* aStatePtr, const int numberOfHiddenNeurons);
    // Builds a network from a V file written by a network.
    explicit NeuralNetwork(const std::string& fileName);
    ~NeuralNetwork() override;

    using StateValueFunction::load;
    using StateValueFunction::save;

    void initWeights(const double (*initFunctionPtr)()) override;
    void initEligibilityTraces() override;
    void updateWeights(const double ALPHA, const double DELTA) override;
    void updateEligibilityTraces(const double GAMMA, const double LAMBDA) override;
    // The traces are gradients whatever the trace type says, so marking the
    // present state has nothing left to do.
    void accumulatingTraces(const double VALUE) override;
    void replacingTraces(const double VALUE) override;
    void checkWeightLimit() override;
    const double getMinWeight() const override;
    const double getAvgWeight(const bool abs) const override;
    const double getMaxWeight() const override;
    void setState() override;
    // Makes the traces the present gradient (allocating them the first
    // time), so that the next updateWeights follows it.
    void storeState() override;
    void initEpisodeStateHistory() override;
    void valueEpisode(const double value) override;
    // The envelope; a file that cannot be read completely also discards
    // the network, which no longer matches the State read from it.
    const int load(const std::string& fileName) override;
    // The forward pass: V of the present state; 0.0 (reported) without a
    // network.
    const double getStateValue() const override;

    // Scale factor of State variable index; an index outside the variables
    // is reported and changes nothing.
    void setScaleFactor(const int index, const double factor);
    void setBias(const double inputBiasValue, const double hiddenBiasValue);

protected:
    // Body: I, H, O (int32), I*H input-hidden weights, H*O hidden-output
    // weights, I-1 scale factors (float64).
    const int save(FILE* file) const override;
    const int load(FILE* file) override;

    // Allocates every array but the traces for the present sizes; on
    // failure nothing is left allocated and the sizes are 0.
    virtual void allocateMemory();
    // Releases every array, traces included.
    virtual void freeMemory();

    int INPUT_LAYER_NEURONS = 0;
    int HIDDEN_LAYER_NEURONS = 0;
    int OUTPUT_LAYER_NEURONS = 0;

    double* inputValues = nullptr;              // [I]; the last entry is the input bias
    double* hiddenValues = nullptr;             // [H]
    double* outputValues = nullptr;             // [O]
    double* inputHiddenWeights = nullptr;       // [I*H], weight (i, h) at i*H + h
    double* hiddenOutputWeights = nullptr;      // [H*O], weight (h, o) at h*O + o
    double* inputHiddenOutputTraces = nullptr;  // [I*H*O], (i, h) for output o at (i*H + h)*O + o
    double* hiddenOutputTraces = nullptr;       // [H*O]
    double* tmp = nullptr;                      // [O], out * (1 - out) of the last trace update
    double* scaleFactor = nullptr;              // [I-1]

    // Per-call sums of the forward pass, kept here so that a step
    // allocates nothing.
    double* hiddenSums = nullptr;  // [H]
    double* outputSums = nullptr;  // [O]
    // Per-step factor of every hidden-output pair in the gradient of the
    // input-hidden weights, formed once per trace update.
    double* gradientFactors = nullptr;  // [H*O]

private:
    // True when I, H and O describe a network whose arrays can be indexed
    // with int and allocated (counts of doubles that fit a size_t).
    static bool sizesAcceptable(const long long I, const long long H, const long long O);
    // True when the State can feed a network (not null, DOUBLE, at least
    // one variable); otherwise reported on behalf of function.
    bool stateUsable(const char* function, const int line) const;
    // All arrays of the forward pass present; otherwise the first missing
    // one is reported on behalf of function.
    bool networkPresent(const char* function, const int line) const;
    // All arrays the trace update reads present; otherwise the first
    // missing one is reported on behalf of function.
    bool gradientInputsPresent(const char* function) const;
    // The network is discarded: arrays released, sizes 0.
    void discard();
    // True when a body's I, H and O fit the State and the rest of the file
    // can hold their weights; otherwise reported on behalf of function.
    bool layersReadable(FILE* file, const int I, const int H, const int O, const char* function) const;
};

#endif
