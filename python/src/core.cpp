// The core part: the shared enumerations and the tiled-variable record
// (module Types), the random source, and AbstractAction.

#include <sstream>
#include <string>

#include <tembra/AbstractAction.h>
#include <tembra/Types.h>
#include <tembra/Utility.h>

#include "Support.h"

namespace tembra_python {

namespace {

void bindTypes(py::module_& m) {
    py::module_ types =
        m.def_submodule("Types", "Enumerations and the tiled-variable record shared by several classes");
    py::enum_<Types::TILE_TYPE>(types, "TILE_TYPE", "How a tiled variable behaves at its bounds")
        .value("CIRCLE", Types::CIRCLE)
        .value("CLIP", Types::CLIP)
        .value("WRAP", Types::WRAP)
        .export_values();
    py::enum_<Types::TRACE_STORAGE>(types, "TRACE_STORAGE", "Where eligibility traces are kept")
        .value("MAP", Types::MAP)
        .value("ARRAY", Types::ARRAY)
        .value("SPARSE", Types::SPARSE)
        .export_values();
    py::class_<Types::TILINGS_VAR_STRUCT>(types, "TILINGS_VAR_STRUCT", "One tiled variable of a tilings group")
        .def(py::init([](int id, double resolution, Types::TILE_TYPE tileType) {
                 return Types::TILINGS_VAR_STRUCT{id, resolution, tileType};
             }),
             py::arg("id"), py::arg("resolution"), py::arg("tileType"))
        .def_readwrite("id", &Types::TILINGS_VAR_STRUCT::id)
        .def_readwrite("resolution", &Types::TILINGS_VAR_STRUCT::resolution)
        .def_readwrite("tileType", &Types::TILINGS_VAR_STRUCT::tileType)
        .def("__repr__", [](const Types::TILINGS_VAR_STRUCT& v) {
            return "TILINGS_VAR_STRUCT(" + std::to_string(v.id) + ", " +
                   py::repr(py::float_(v.resolution)).cast<std::string>() + ", " +
                   py::repr(py::cast(v.tileType)).cast<std::string>() + ")";
        });
}

void bindRandomSource(py::module_& m) {
    m.def("setSeed", &setSeed, py::arg("seed"),
          "Seeds the process-wide rand() that every random choice of the library draws from");
    m.def("getNextDouble", &getNextDouble, "rand() * 2^-31: one draw in [0, 1)");
    m.def(
        "getRandomIndex",
        [](int n) {
            if (n < 1) throw py::value_error("getRandomIndex needs n >= 1, not " + std::to_string(n));
            return getRandomIndex(n);
        },
        py::arg("n"), "The uniform index draw over n items: one rand() call, result in [0, n - 1]");
}

}  // namespace

void bindCore(py::module_& m) {
    bindTypes(m);
    bindRandomSource(m);
    // Subclass it in Python: an action carries whatever data its class
    // gives it. A value function keeps a reference to each action registered
    // with it, so the action lives as long as either needs it.
    py::class_<AbstractAction>(m, "AbstractAction", py::dynamic_attr(),
                               "Base of the actions; registered with an action value function")
        .def(py::init<>())
        .def(
            "addInformation",
            [](const AbstractAction& action) {
                std::ostringstream text;
                action.AbstractAction::addInformation(text);
                return text.str();
            },
            "A description of the action for the using program's output (the base gives none)");
}

}  // namespace tembra_python
