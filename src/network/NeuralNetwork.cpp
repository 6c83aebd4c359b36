#include "NeuralNetwork.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <new>

#include "core/FileIO.h"
#include "core/ReportTexts.h"
#include "Report.h"
#include "Utility.h"

namespace {

// The largest array the network allocates: its counts are ints, and the
// bytes of an array of doubles must fit a size_t (which bounds it on i386).
constexpr long long MAX_ARRAY =
    (static_cast<unsigned long long>(SIZE_MAX) / sizeof(double) < static_cast<unsigned long long>(INT_MAX))
        ? static_cast<long long>(SIZE_MAX / sizeof(double))
        : static_cast<long long>(INT_MAX);

// Array new that gives null instead of throwing, with every entry 0.0, so
// that activations read before the first forward pass are defined.
double* newArray(const long long count) { return new (std::nothrow) double[static_cast<std::size_t>(count)](); }

inline double sigmoid(const double x) { return 1.0 / (1.0 + reproducibleExp(-x)); }

const char* const NOT_BUILT = " == 0 --> the network was not built (construction refused or load failed)";

// The loops of a step, each in a function of its own: in the operations
// that also report, GCC keeps their scalars on the stack and reloads them
// in every iteration (the SSE registers do not survive the report calls).

// to[k] += factor * from[k]
[[gnu::noinline]] void addScaled(double* to, const double* from, const int n, const double factor) {
    for (int k = 0; k < n; ++k) to[k] += factor * from[k];
}

// sums[h] = sum over i of weights[i * H + h] * inputs[i], added in order of
// i. Each sum is formed in a register, one neuron after the other; the
// rows are read side by side, so the reads stay sequential.
[[gnu::noinline]] void weightedSums(double* sums, const double* weights, const double* inputs, const int I,
                                    const int H) {
    for (int h = 0; h < H; ++h) {
        double sum = 0.0;
        const double* column = weights + h;
        for (int i = 0; i < I; ++i, column += H) sum += *column * inputs[i];
        sums[h] = sum;
    }
}

// hidden[h] = sigmoid(sums[h]); returns the sum over h of weights[h] *
// hidden[h], added in order of h.
[[gnu::noinline]] double activateAndSum(double* hidden, const double* sums, const double* weights, const int H) {
    double sum = 0.0;
    for (int h = 0; h < H; ++h) {
        hidden[h] = sigmoid(sums[h]);
        sum += weights[h] * hidden[h];
    }
    return sum;
}

// traces[h] = decay * traces[h] + hidden[h] * derivative, or 0.0 +
// hidden[h] * derivative when forget: the traces of the hidden-output
// weights of the one output.
[[gnu::noinline]] void decayAndAddOuter(double* traces, const double* hidden, const double derivative, const int H,
                                        const double decay, const bool forget) {
    if (forget) {
        for (int h = 0; h < H; ++h) traces[h] = 0.0 + hidden[h] * derivative;
    } else {
        for (int h = 0; h < H; ++h) traces[h] = decay * traces[h] + hidden[h] * derivative;
    }
}

// factors[h] = weights[h] * derivative * hidden[h] * (1 - hidden[h])
[[gnu::noinline]] void formGradientFactors(double* factors, const double* weights, const double derivative,
                                           const double* hidden, const int H) {
    for (int h = 0; h < H; ++h) factors[h] = weights[h] * derivative * hidden[h] * (1 - hidden[h]);
}

// traces[i * n + k] = decay * traces[i * n + k] + factors[k] * inputs[i];
// forget (decay 0) makes that 0.0 + factors[k] * inputs[i].
[[gnu::noinline]] void decayAndAdd(double* traces, const double* factors, const double* inputs, const int I,
                                   const int n, const double decay, const bool forget) {
    for (int i = 0; i < I; ++i) {
        const double input = inputs[i];
        double* const row = traces + static_cast<std::ptrdiff_t>(i) * n;
        if (forget) {
            for (int k = 0; k < n; ++k) row[k] = 0.0 + factors[k] * input;
        } else {
            for (int k = 0; k < n; ++k) row[k] = decay * row[k] + factors[k] * input;
        }
    }
}

// The clamp and the weight statistics visit the two weight arrays,
// hidden-output first: visit(weights, count) for each array there is, a
// missing one reported on behalf of function.
template <class Visit>
void visitWeights(double* hiddenOutput, const int HO, double* inputHidden, const int IH, const char* function,
                  Visit visit) {
    if (hiddenOutput == nullptr) {
        TEMBRA_ERROR_AT(function, __LINE__, "hiddenOutputWeights == 0 --> This should never happen!");
    } else {
        visit(hiddenOutput, HO);
    }
    if (inputHidden == nullptr) {
        TEMBRA_ERROR_AT(function, __LINE__, "inputHiddenWeights == 0 --> This should never happen!");
    } else {
        visit(inputHidden, IH);
    }
}

}  // namespace

NeuralNetwork::NeuralNetwork(State* aStatePtr, const int numberOfHiddenNeurons) : StateValueFunction(aStatePtr) {
    if (!stateUsable(__func__, __LINE__)) return;
    if (numberOfHiddenNeurons < 0) {
        TEMBRA_ERROR("numberOfHiddenNeurons = " << numberOfHiddenNeurons << " --> must not be negative");
        return;
    }
    const long long I = static_cast<long long>(statePtr->getNumberOfVariables()) + 1;
    const long long H = static_cast<long long>(numberOfHiddenNeurons) + 1;
    if (!sizesAcceptable(I, H, 1)) {
        TEMBRA_ERROR("I = " << I << ", H = " << H << " --> network too large to index");
        return;
    }
    INPUT_LAYER_NEURONS = static_cast<int>(I);
    HIDDEN_LAYER_NEURONS = static_cast<int>(H);
    OUTPUT_LAYER_NEURONS = 1;
    allocateMemory();
    if (scaleFactor == nullptr) return;  // allocateMemory has reported
    for (int i = 0; i < INPUT_LAYER_NEURONS - 1; ++i) scaleFactor[i] = 1.0;
    setRandomValueBoundaries(-0.5, 0.5);
    initWeightsFunctionPtr = &ValueFunction::getRandomValue;
    initWeights(&ValueFunction::getRandomValue);
    setBias(1.0, 1.0);
}

NeuralNetwork::NeuralNetwork(const std::string& fileName) : StateValueFunction(nullptr) { (void)load(fileName); }

NeuralNetwork::~NeuralNetwork() { freeMemory(); }

bool NeuralNetwork::sizesAcceptable(const long long I, const long long H, const long long O) {
    if (I < 1 || H < 1 || O < 1) return false;
    if (I > MAX_ARRAY || H > MAX_ARRAY || O > MAX_ARRAY) return false;
    return I * H <= MAX_ARRAY && H * O <= MAX_ARRAY && I * H * O <= MAX_ARRAY;
}

bool NeuralNetwork::stateUsable(const char* function, const int line) const {
    if (statePtr == nullptr) {
        TEMBRA_ERROR_AT(function, line, "statePtr == 0 --> the network needs a State with its variables registered");
        return false;
    }
    if (statePtr->getType() != State::DOUBLE) {
        TEMBRA_ERROR_AT(function, line,
                        "varType = " << statePtr->getType() << " --> the network needs a State of DOUBLE variables");
        return false;
    }
    if (statePtr->getNumberOfVariables() == 0) {
        TEMBRA_ERROR_AT(function, line, "the State has no variables --> nothing to feed the network");
        return false;
    }
    return true;
}

bool NeuralNetwork::networkPresent(const char* function, const int line) const {
    const char* missing = nullptr;
    if (inputValues == nullptr) missing = "inputValues";
    else if (hiddenValues == nullptr) missing = "hiddenValues";
    else if (outputValues == nullptr) missing = "outputValues";
    else if (inputHiddenWeights == nullptr) missing = "inputHiddenWeights";
    else if (hiddenOutputWeights == nullptr) missing = "hiddenOutputWeights";
    else if (tmp == nullptr) missing = "tmp";
    else if (scaleFactor == nullptr) missing = "scaleFactor";
    else if (hiddenSums == nullptr) missing = "hiddenSums";
    else if (outputSums == nullptr) missing = "outputSums";
    else if (gradientFactors == nullptr) missing = "gradientFactors";
    if (missing == nullptr) return true;
    TEMBRA_ERROR_AT(function, line, missing << NOT_BUILT);
    return false;
}

void NeuralNetwork::allocateMemory() {
    const long long I = INPUT_LAYER_NEURONS;
    const long long H = HIDDEN_LAYER_NEURONS;
    const long long O = OUTPUT_LAYER_NEURONS;
    freeMemory();
    if (!sizesAcceptable(I, H, O)) {
        TEMBRA_ERROR("I = " << I << ", H = " << H << ", O = " << O << " --> no network of these sizes");
        discard();
        return;
    }
    inputValues = newArray(I);
    hiddenValues = newArray(H);
    outputValues = newArray(O);
    inputHiddenWeights = newArray(I * H);
    hiddenOutputWeights = newArray(H * O);
    tmp = newArray(O);
    scaleFactor = newArray(I - 1 > 0 ? I - 1 : 1);
    hiddenSums = newArray(H);
    outputSums = newArray(O);
    gradientFactors = newArray(H * O);
    if (inputValues == nullptr || hiddenValues == nullptr || outputValues == nullptr || inputHiddenWeights == nullptr ||
        hiddenOutputWeights == nullptr || tmp == nullptr || scaleFactor == nullptr || hiddenSums == nullptr ||
        outputSums == nullptr || gradientFactors == nullptr) {
        TEMBRA_ERROR("out of memory for I = " << I << ", H = " << H << ", O = " << O);
        discard();
    }
}

void NeuralNetwork::freeMemory() {
    delete[] inputValues;
    delete[] hiddenValues;
    delete[] outputValues;
    delete[] inputHiddenWeights;
    delete[] hiddenOutputWeights;
    delete[] inputHiddenOutputTraces;
    delete[] hiddenOutputTraces;
    delete[] tmp;
    delete[] scaleFactor;
    delete[] hiddenSums;
    delete[] outputSums;
    delete[] gradientFactors;
    inputValues = nullptr;
    hiddenValues = nullptr;
    outputValues = nullptr;
    inputHiddenWeights = nullptr;
    hiddenOutputWeights = nullptr;
    inputHiddenOutputTraces = nullptr;
    hiddenOutputTraces = nullptr;
    tmp = nullptr;
    scaleFactor = nullptr;
    hiddenSums = nullptr;
    outputSums = nullptr;
    gradientFactors = nullptr;
}

void NeuralNetwork::discard() {
    freeMemory();
    INPUT_LAYER_NEURONS = 0;
    HIDDEN_LAYER_NEURONS = 0;
    OUTPUT_LAYER_NEURONS = 0;
}

void NeuralNetwork::initWeights(const double (*initFunctionPtr)()) {
    bool complete = true;
    if (inputHiddenWeights == nullptr) {
        TEMBRA_ERROR("inputHiddenWeights == 0 --> This should never happen!");
        complete = false;
    }
    if (hiddenOutputWeights == nullptr) {
        TEMBRA_ERROR("hiddenOutputWeights == 0 --> This should never happen!");
        complete = false;
    }
    if (!complete) return;
    if (initFunctionPtr == nullptr) {
        TEMBRA_ERROR("initFunctionPtr == 0 --> weights left unchanged");
        return;
    }
    const int IH = INPUT_LAYER_NEURONS * HIDDEN_LAYER_NEURONS;
    const int HO = HIDDEN_LAYER_NEURONS * OUTPUT_LAYER_NEURONS;
    for (int k = 0; k < IH; ++k) inputHiddenWeights[k] = initFunctionPtr();
    for (int k = 0; k < HO; ++k) hiddenOutputWeights[k] = initFunctionPtr();
}

void NeuralNetwork::initEligibilityTraces() {
    if (!networkPresent(__func__, __LINE__)) return;
    const int IHO = INPUT_LAYER_NEURONS * HIDDEN_LAYER_NEURONS * OUTPUT_LAYER_NEURONS;
    const int HO = HIDDEN_LAYER_NEURONS * OUTPUT_LAYER_NEURONS;
    if (inputHiddenOutputTraces == nullptr) inputHiddenOutputTraces = newArray(IHO);
    if (hiddenOutputTraces == nullptr) hiddenOutputTraces = newArray(HO);
    if (inputHiddenOutputTraces == nullptr || hiddenOutputTraces == nullptr) {
        TEMBRA_ERROR("out of memory for the traces");
        delete[] inputHiddenOutputTraces;
        delete[] hiddenOutputTraces;
        inputHiddenOutputTraces = nullptr;
        hiddenOutputTraces = nullptr;
        return;
    }
    for (int k = 0; k < IHO; ++k) inputHiddenOutputTraces[k] = 0.0;
    for (int k = 0; k < HO; ++k) hiddenOutputTraces[k] = 0.0;
}

void NeuralNetwork::updateWeights(const double ALPHA, const double DELTA) {
    const double FACTOR = DELTA * ALPHA;
    const int I = INPUT_LAYER_NEURONS;
    const int H = HIDDEN_LAYER_NEURONS;
    const int O = OUTPUT_LAYER_NEURONS;

    // Without traces there is no direction to move in: adding FACTOR to
    // every weight alike would only shift the network, so nothing moves.
    if (hiddenOutputWeights == nullptr) {
        TEMBRA_ERROR("hiddenOutputWeights == 0 --> This should never happen!");
    } else if (hiddenOutputTraces == nullptr) {
        TEMBRA_ERROR(
            "hiddenOutputTraces == 0 --> weights left unchanged (call initEligibilityTraces or storeState first)");
    } else {
        addScaled(hiddenOutputWeights, hiddenOutputTraces, H * O, FACTOR);
    }

    if (inputHiddenWeights == nullptr) {
        TEMBRA_ERROR("inputHiddenWeights == 0 --> This should never happen!");
    } else if (inputHiddenOutputTraces == nullptr) {
        TEMBRA_ERROR(
            "inputHiddenOutputTraces == 0 --> weights left unchanged (call initEligibilityTraces or storeState first)");
    } else {
        addScaled(inputHiddenWeights, inputHiddenOutputTraces, I * H, FACTOR);
    }

    if (minWeightLimit > -DBL_MAX || maxWeightLimit < DBL_MAX) checkWeightLimit();
}

void NeuralNetwork::updateEligibilityTraces(const double GAMMA, const double LAMBDA) {
    const double gl = GAMMA * LAMBDA;
    const int I = INPUT_LAYER_NEURONS;
    const int H = HIDDEN_LAYER_NEURONS;
    const int O = OUTPUT_LAYER_NEURONS;
    if (!gradientInputsPresent(__func__)) return;
    for (int o = 0; o < O; ++o) tmp[o] = (1 - outputValues[o]) * outputValues[o];

    // With gl = 0 the old traces are forgotten outright rather than scaled
    // by 0, so that a trace that overflowed cannot linger as NaN.
    const bool forget = gl == 0.0;
    const double* const hidden = hiddenValues;
    if (hiddenOutputTraces == nullptr) {
        TEMBRA_ERROR("hiddenOutputTraces == 0");
    } else {
        decayAndAddOuter(hiddenOutputTraces, hidden, tmp[0], H, gl, forget);
    }

    if (inputHiddenOutputTraces == nullptr) {
        TEMBRA_ERROR("inputHiddenOutputTraces == 0");
        return;
    }
    // The gradient of weight (i, h) is the same factor of h times input i:
    // the factor is formed once per step, not once per input, with its
    // products in the order of the formula
    // w(h) * out' * hidden(h) * (1 - hidden(h)) * input(i).
    formGradientFactors(gradientFactors, hiddenOutputWeights, tmp[0], hidden, H);
    decayAndAdd(inputHiddenOutputTraces, gradientFactors, inputValues, I, H * O, gl, forget);
}

bool NeuralNetwork::gradientInputsPresent(const char* function) const {
    if (outputValues == nullptr || tmp == nullptr) {
        TEMBRA_ERROR_AT(function, __LINE__, "outputValues == 0 --> This should never happen!");
        return false;
    }
    if (inputValues == nullptr || hiddenValues == nullptr || hiddenOutputWeights == nullptr ||
        gradientFactors == nullptr) {
        TEMBRA_ERROR_AT(function, __LINE__,
                        (inputValues == nullptr           ? "inputValues"
                         : hiddenValues == nullptr        ? "hiddenValues"
                         : hiddenOutputWeights == nullptr ? "hiddenOutputWeights"
                                                          : "gradientFactors")
                            << NOT_BUILT);
        return false;
    }
    return true;
}

void NeuralNetwork::accumulatingTraces(const double) {}

void NeuralNetwork::replacingTraces(const double) {}

void NeuralNetwork::checkWeightLimit() {
    visitWeights(hiddenOutputWeights, HIDDEN_LAYER_NEURONS * OUTPUT_LAYER_NEURONS, inputHiddenWeights,
                 INPUT_LAYER_NEURONS * HIDDEN_LAYER_NEURONS, __func__, [this](double* weights, const int n) {
                     for (int k = 0; k < n; ++k) weights[k] = minMax(weights[k], minWeightLimit, maxWeightLimit);
                 });
}

const double NeuralNetwork::getMinWeight() const {
    double minWeight = maxWeightLimit;
    visitWeights(hiddenOutputWeights, HIDDEN_LAYER_NEURONS * OUTPUT_LAYER_NEURONS, inputHiddenWeights,
                 INPUT_LAYER_NEURONS * HIDDEN_LAYER_NEURONS, __func__,
                 [&minWeight](const double* weights, const int n) {
                     for (int k = 0; k < n; ++k) {
                         if (weights[k] < minWeight) minWeight = weights[k];
                     }
                 });
    return minWeight;
}

const double NeuralNetwork::getAvgWeight(const bool abs) const {
    double sum = 0.0;
    long long count = 0;
    visitWeights(hiddenOutputWeights, HIDDEN_LAYER_NEURONS * OUTPUT_LAYER_NEURONS, inputHiddenWeights,
                 INPUT_LAYER_NEURONS * HIDDEN_LAYER_NEURONS, __func__,
                 [abs, &sum, &count](const double* weights, const int n) {
                     for (int k = 0; k < n; ++k) sum += abs ? std::fabs(weights[k]) : weights[k];
                     count += n;
                 });
    // No weights at all: 0.0 rather than 0/0.
    return count > 0 ? sum / static_cast<double>(count) : 0.0;
}

const double NeuralNetwork::getMaxWeight() const {
    double maxWeight = minWeightLimit;
    visitWeights(hiddenOutputWeights, HIDDEN_LAYER_NEURONS * OUTPUT_LAYER_NEURONS, inputHiddenWeights,
                 INPUT_LAYER_NEURONS * HIDDEN_LAYER_NEURONS, __func__,
                 [&maxWeight](const double* weights, const int n) {
                     for (int k = 0; k < n; ++k) {
                         if (weights[k] > maxWeight) maxWeight = weights[k];
                     }
                 });
    return maxWeight;
}

void NeuralNetwork::setState() {
    if (inputValues == nullptr || scaleFactor == nullptr) {
        TEMBRA_ERROR((inputValues == nullptr ? "inputValues" : "scaleFactor") << NOT_BUILT);
        return;
    }
    if (statePtr == nullptr) {
        TEMBRA_ERROR("statePtr == 0 --> no State to read");
        return;
    }
    for (int i = 0; i < INPUT_LAYER_NEURONS - 1; ++i) {
        inputValues[i] = statePtr->getValueDbl(static_cast<unsigned int>(i)) * scaleFactor[i];
    }
}

void NeuralNetwork::storeState() {
    if (!networkPresent(__func__, __LINE__)) return;
    if (inputHiddenOutputTraces == nullptr || hiddenOutputTraces == nullptr) {
        initEligibilityTraces();
        if (inputHiddenOutputTraces == nullptr || hiddenOutputTraces == nullptr) return;
    }
    updateEligibilityTraces(0.0, 0.0);
}

void NeuralNetwork::initEpisodeStateHistory() {}

void NeuralNetwork::valueEpisode(const double) { TEMBRA_ERROR("Not implemented for NeuralNetwork!"); }

const int NeuralNetwork::load(const std::string& fileName) {
    const int result = StateValueFunction::load(fileName);
    // A State block that could not be read has emptied the State, which
    // then no longer describes this network's inputs. (A file that could
    // not even be opened left both untouched.)
    if (result != 0 && inputHiddenWeights != nullptr &&
        (statePtr == nullptr || statePtr->getType() != State::DOUBLE ||
         static_cast<long long>(statePtr->getNumberOfVariables()) + 1 != INPUT_LAYER_NEURONS)) {
        TEMBRA_ERROR("network discarded: it no longer matches the State");
        discard();
    }
    return result;
}

const double NeuralNetwork::getStateValue() const {
    if (!networkPresent(__func__, __LINE__)) return 0.0;
    const int H = HIDDEN_LAYER_NEURONS;
    weightedSums(hiddenSums, inputHiddenWeights, inputValues, INPUT_LAYER_NEURONS, H);
    // The one output: each activation goes into its sum as soon as it is made.
    const double sum = activateAndSum(hiddenValues, hiddenSums, hiddenOutputWeights, H);
    outputSums[0] = sum;
    outputValues[0] = sigmoid(sum);
    return outputValues[0];
}

void NeuralNetwork::setScaleFactor(const int index, const double factor) {
    if (scaleFactor == nullptr) {
        TEMBRA_ERROR("scaleFactor" << NOT_BUILT);
        return;
    }
    if (index < 0 || index >= INPUT_LAYER_NEURONS - 1) {
        TEMBRA_ERROR("index (" << index << ") out of bounds --> 0 <= index < " << INPUT_LAYER_NEURONS - 1);
        return;
    }
    scaleFactor[index] = factor;
}

void NeuralNetwork::setBias(const double inputBiasValue, const double hiddenBiasValue) {
    if (inputValues != nullptr && INPUT_LAYER_NEURONS > 0) inputValues[INPUT_LAYER_NEURONS - 1] = inputBiasValue;
    if (hiddenValues != nullptr && HIDDEN_LAYER_NEURONS > 0) hiddenValues[HIDDEN_LAYER_NEURONS - 1] = hiddenBiasValue;
}

const int NeuralNetwork::save(FILE* file) const {
    if (inputHiddenWeights == nullptr || hiddenOutputWeights == nullptr || scaleFactor == nullptr) {
        TEMBRA_ERROR((inputHiddenWeights == nullptr    ? "inputHiddenWeights"
                      : hiddenOutputWeights == nullptr ? "hiddenOutputWeights"
                                                       : "scaleFactor")
                     << NOT_BUILT);
        return -1;
    }
    const std::size_t IH = static_cast<std::size_t>(INPUT_LAYER_NEURONS) * HIDDEN_LAYER_NEURONS;
    const std::size_t HO = static_cast<std::size_t>(HIDDEN_LAYER_NEURONS) * OUTPUT_LAYER_NEURONS;
    const std::size_t SCALES = static_cast<std::size_t>(INPUT_LAYER_NEURONS - 1);
    if (!tembra_io::writeInt32(file, INPUT_LAYER_NEURONS) || !tembra_io::writeInt32(file, HIDDEN_LAYER_NEURONS) ||
        !tembra_io::writeInt32(file, OUTPUT_LAYER_NEURONS) ||
        !tembra_io::writeDoubleArray(file, inputHiddenWeights, IH) ||
        !tembra_io::writeDoubleArray(file, hiddenOutputWeights, HO) ||
        !tembra_io::writeDoubleArray(file, scaleFactor, SCALES)) {
        TEMBRA_ERROR(TEMBRA_ERRNO_WIDE);
        return -1;
    }
    return 0;
}

const int NeuralNetwork::load(FILE* file) {
    // Whatever happens below, the old network is gone: it was built for
    // the State that the envelope has just replaced.
    discard();

    int32_t I = 0;
    int32_t H = 0;
    int32_t O = 0;
    if (!tembra_io::readInt32(file, I) || !tembra_io::readInt32(file, H) || !tembra_io::readInt32(file, O)) {
        TEMBRA_ERROR(TEMBRA_ERRNO_WIDE);
        return -1;
    }
    if (!layersReadable(file, I, H, O, __func__)) return -1;
    INPUT_LAYER_NEURONS = I;
    HIDDEN_LAYER_NEURONS = H;
    OUTPUT_LAYER_NEURONS = O;
    allocateMemory();
    if (inputHiddenWeights == nullptr) return -1;  // allocateMemory has reported

    const std::size_t IH = static_cast<std::size_t>(I) * static_cast<std::size_t>(H);
    const std::size_t HO = static_cast<std::size_t>(H) * static_cast<std::size_t>(O);
    if (!tembra_io::readDoubleArray(file, inputHiddenWeights, IH) ||
        !tembra_io::readDoubleArray(file, hiddenOutputWeights, HO) ||
        !tembra_io::readDoubleArray(file, scaleFactor, static_cast<std::size_t>(I - 1))) {
        TEMBRA_ERROR(TEMBRA_ERRNO_WIDE);
        discard();
        return -1;
    }
    const long long left = tembra_io::bytesLeft(file);
    if (left != 0) {
        TEMBRA_ERROR(tembra_text::bytesAfterBody(left));
        discard();
        return -1;
    }
    setBias(1.0, 1.0);
    return 0;
}

bool NeuralNetwork::layersReadable(FILE* file, const int I, const int H, const int O, const char* function) const {
    if (!stateUsable(function, __LINE__)) return false;
    const long long variables = statePtr->getNumberOfVariables();
    if (I != variables + 1) {
        TEMBRA_ERROR_AT(
            function, __LINE__,
            "I = " << I << " --> the State has " << variables << " variables, so I must be " << variables + 1);
        return false;
    }
    if (H < 1) {
        TEMBRA_ERROR_AT(function, __LINE__, "H = " << H << " --> must be at least 1");
        return false;
    }
    if (O != 1) {
        TEMBRA_ERROR_AT(function, __LINE__, "O = " << O << " --> must be 1");
        return false;
    }
    if (!sizesAcceptable(I, H, O)) {
        TEMBRA_ERROR_AT(function, __LINE__, "I = " << I << ", H = " << H << " --> network too large to index");
        return false;
    }
    const long long weights =
        static_cast<long long>(I) * H + static_cast<long long>(H) * O + (static_cast<long long>(I) - 1);
    if (!tembra_io::fits(file, weights, 8)) {
        TEMBRA_ERROR_AT(
            function, __LINE__,
            "I = " << I << ", H = " << H << ", O = " << O << " --> more weights than the rest of the file can hold");
        return false;
    }
    return true;
}
