// The state part: State, its named and bounded variables. Every access is
// checked here first, so that a wrong kind raises TypeError and an id out
// of range IndexError instead of a report and a 0.

#include <string>

#include <tembra/State.h>

#include "Support.h"

namespace tembra_python {

namespace {

struct StateAccess : State {
    using State::vars;
};

// The checked id of a variable of the given kind.
unsigned int variable(const State& state, const long long id, const State::TYPE kind) {
    if (state.getType() != State::UNDEF && state.getType() != kind) {
        throw py::type_error(kind == State::INT ? "not an integer variable: the State holds floating-point variables"
                                                : "not a floating-point variable: the State holds integer variables");
    }
    return static_cast<unsigned int>(checkedIndex(id, state.getNumberOfVariables(), "variable id"));
}

template <class Value>
void defineAccessors(py::class_<State>& cls, const char* suffix, const State::TYPE kind,
                     const Value (State::*get)(unsigned int) const, const Value (State::*getMin)(unsigned int) const,
                     const Value (State::*getMax)(unsigned int) const, void (State::*set)(unsigned int, Value),
                     void (State::*setMin)(unsigned int, Value), void (State::*setMax)(unsigned int, Value)) {
    const std::string name(suffix);
    const auto getter = [kind](const Value (State::*f)(unsigned int) const) {
        return [kind, f](const State& s, long long id) { return (s.*f)(variable(s, id, kind)); };
    };
    const auto setter = [kind](void (State::*f)(unsigned int, Value)) {
        return [kind, f](State& s, long long id, Value value) { (s.*f)(variable(s, id, kind), value); };
    };
    cls.def(("getValue" + name).c_str(), getter(get), py::arg("varId"))
        .def(("getMinValue" + name).c_str(), getter(getMin), py::arg("varId"))
        .def(("getMaxValue" + name).c_str(), getter(getMax), py::arg("varId"))
        .def(("setValue" + name).c_str(), setter(set), py::arg("varId"), py::arg("value"))
        .def(("setMinValue" + name).c_str(), setter(setMin), py::arg("varId"), py::arg("value"))
        .def(("setMaxValue" + name).c_str(), setter(setMax), py::arg("varId"), py::arg("value"));
}

// Registration of a variable of the given kind: a State of the other kind
// raises TypeError.
template <class Value>
unsigned int registerVariable(State& state, const std::string& name, const Value minValue, const Value maxValue,
                              const State::TYPE kind) {
    if (state.getType() != State::UNDEF && state.getType() != kind) {
        throw py::type_error(kind == State::INT
                                 ? "cannot register an integer variable: the State holds floating-point ones"
                                 : "cannot register a floating-point variable: the State holds integer ones");
    }
    return state.registerVariable(name, minValue, maxValue);
}

}  // namespace

void bindState(py::module_& m) {
    py::class_<State> cls(m, "State", py::dynamic_attr(),
                          "Named, bounded variables, all integer or all floating point; owned by the value function "
                          "built on it");
    py::enum_<State::TYPE>(cls, "TYPE")
        .value("UNDEF", State::UNDEF)
        .value("INT", State::INT)
        .value("DOUBLE", State::DOUBLE)
        .export_values();
    cls.attr("NO_ID") = static_cast<unsigned int>(State::NO_ID);
    cls.def(py::init<>())
        .def(
            "registerVariable",
            [](State& s, const std::string& name, int minValue, int maxValue) {
                return registerVariable(s, name, minValue, maxValue, State::INT);
            },
            py::arg("name"), py::arg("minValue"), py::arg("maxValue"))
        .def(
            "registerVariable",
            [](State& s, const std::string& name, double minValue, double maxValue) {
                return registerVariable(s, name, minValue, maxValue, State::DOUBLE);
            },
            py::arg("name"), py::arg("minValue"), py::arg("maxValue"))
        .def(
            "getVariableId",
            [](const State& s, const std::string& name) {
                const auto& vars = s.*(&StateAccess::vars);
                for (std::size_t id = 0; id < vars.size(); ++id) {
                    if (vars[id]->getName() == name) return static_cast<unsigned int>(id);
                }
                throw py::key_error("no variable named '" + name + "'");
            },
            py::arg("name"))
        .def("getNumberOfVariables", &State::getNumberOfVariables)
        .def("__len__", &State::getNumberOfVariables)
        .def("getType", &State::getType);
    defineAccessors<int>(cls, "Int", State::INT, &State::getValueInt, &State::getMinValueInt, &State::getMaxValueInt,
                         &State::setValueInt, &State::setMinValueInt, &State::setMaxValueInt);
    defineAccessors<double>(cls, "Dbl", State::DOUBLE, &State::getValueDbl, &State::getMinValueDbl,
                            &State::getMaxValueDbl, &State::setValueDbl, &State::setMinValueDbl,
                            &State::setMaxValueDbl);
}

}  // namespace tembra_python
