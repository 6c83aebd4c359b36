// The network part: NeuralNetwork, V(s) as a three-layer sigmoid network
// over floating-point variables. Its two weight matrices are numpy views:
// input-hidden (I x H, the last input the bias) and hidden-output (H x O).

#include <string>

#include <tembra/NeuralNetwork.h>

#include "Support.h"
#include "ValueFunctions.h"

namespace tembra_python {

namespace {

struct NetworkAccess : NeuralNetwork {
    using NeuralNetwork::HIDDEN_LAYER_NEURONS;
    using NeuralNetwork::hiddenOutputWeights;
    using NeuralNetwork::INPUT_LAYER_NEURONS;
    using NeuralNetwork::inputHiddenWeights;
    using NeuralNetwork::OUTPUT_LAYER_NEURONS;
};

bool hasNetwork(const NeuralNetwork& network) { return network.*(&NetworkAccess::inputHiddenWeights) != nullptr; }

}  // namespace

void bindNetwork(py::module_& m) {
    py::class_<NeuralNetwork, StateValueFunction>(m, "NeuralNetwork", py::dynamic_attr(),
                                                  "V(s) as a three-layer network of sigmoid units (values in (0, 1))")
        .def(
            "__init__",
            [](py::detail::value_and_holder& vh, py::handle state, int hiddenNeurons) {
                if (hiddenNeurons < 0) throw py::value_error("the number of hidden neurons cannot be negative");
                if (py::isinstance<State>(state) && state.cast<State&>().getType() != State::DOUBLE) {
                    throw py::type_error("a network needs a State of floating-point variables");
                }
                initOnState(vh, state, [hiddenNeurons](State* s) { return new NeuralNetwork(s, hiddenNeurons); });
            },
            py::detail::is_new_style_constructor(), py::arg("state"), py::arg("numberOfHiddenNeurons"),
            "A network on a State of floating-point variables (which it takes over), weights drawn from rand()")
        .def(
            "__init__",
            [](py::detail::value_and_holder& vh, py::handle path) {
                initFromFile<NeuralNetwork>(vh, path, "NeuralNetwork", hasNetwork);
            },
            py::detail::is_new_style_constructor(), py::arg("fileName"), "A network read from a V file")
        .def(
            "setScaleFactor",
            [](NeuralNetwork& network, long long index, double factor) {
                const int inputs = network.*(&NetworkAccess::INPUT_LAYER_NEURONS);
                network.setScaleFactor(checkedIndex(index, inputs > 0 ? inputs - 1 : 0, "variable index"), factor);
            },
            py::arg("index"), py::arg("factor"))
        .def("setBias", &NeuralNetwork::setBias, py::arg("inputBiasValue"), py::arg("hiddenBiasValue"))
        .def_property_readonly(
            "weights",
            [](py::handle self) {
                NeuralNetwork& network = self.cast<NeuralNetwork&>();
                const py::ssize_t I = network.*(&NetworkAccess::INPUT_LAYER_NEURONS);
                const py::ssize_t H = network.*(&NetworkAccess::HIDDEN_LAYER_NEURONS);
                const py::ssize_t O = network.*(&NetworkAccess::OUTPUT_LAYER_NEURONS);
                const char* missing = "the network has no weights (refused or not loaded)";
                return py::make_tuple(
                    weightView(self, network.*(&NetworkAccess::inputHiddenWeights), {I, H}, missing),
                    weightView(self, network.*(&NetworkAccess::hiddenOutputWeights), {H, O}, missing));
            },
            "(input-hidden I x H, hidden-output H x O) as writable numpy views (no copy) that keep the network "
            "alive");
}

}  // namespace tembra_python
