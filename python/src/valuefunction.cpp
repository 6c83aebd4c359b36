// The value-function part: the interfaces every representation implements.
// ValueFunction carries the operations the learners drive, the limits and
// the files; StateValueFunction gives V(s); ActionValueFunction keeps the
// actions (PythonAction objects holding the using program's actions) and
// chooses among them.

#include <Python.h>

#include <string>
#include <vector>

#include <tembra/ActionValueFunction.h>
#include <tembra/StateValueFunction.h>
#include <tembra/TileCoding.h>
#include <tembra/Tilings.h>
#include <tembra/ValueFunction.h>

#include "Support.h"
#include "ValueFunctions.h"

namespace tembra_python {

namespace {

// initWeights takes a plain function: the Python callable (or constant) of
// the call in progress is reached through these.
thread_local PyObject* initialWeightSource = nullptr;

const double initialWeightFromPython() {
    PyObject* result = PyFloat_Check(initialWeightSource) ? (Py_INCREF(initialWeightSource), initialWeightSource)
                                                          : PyObject_CallNoArgs(initialWeightSource);
    if (result == nullptr) throw py::error_already_set();
    const double value = PyFloat_AsDouble(result);
    Py_DECREF(result);
    if (value == -1.0 && PyErr_Occurred()) throw py::error_already_set();
    return value;
}

void initWeights(ValueFunction& vf, py::object source) {
    if (!PyCallable_Check(source.ptr())) source = py::float_(source);
    PyObject* previous = initialWeightSource;
    initialWeightSource = source.ptr();
    try {
        vf.initWeights(&initialWeightFromPython);
    } catch (...) {
        initialWeightSource = previous;
        throw;
    }
    initialWeightSource = previous;
}

void save(const ValueFunction& vf, py::handle path) {
    const std::string name = pathOf(path);
    if (vf.save(name) != 0) raiseOSError("saving " + name + " failed (the report is on stderr)");
}

void load(py::handle self, py::handle path) {
    const std::string name = pathOf(path);
    ValueFunction& vf = self.cast<ValueFunction&>();
    const GroupWrappers groups = beforeReplacingWeights(self, "load");
    const int result = vf.load(name);
    afterReplacingWeights(self, groups);
    if (result != 0) raiseOSError("loading " + name + " failed (the report is on stderr)");
}

const AbstractAction* requireAction(py::handle action) {
    if (!py::isinstance<AbstractAction>(action)) {
        throw py::type_error("an action must be an AbstractAction, not " + std::string(Py_TYPE(action.ptr())->tp_name));
    }
    return new PythonAction(py::reinterpret_borrow<py::object>(action));
}

int actionIndex(const ActionValueFunction& avf, py::handle action) {
    if (PyLong_Check(action.ptr()) && !PyBool_Check(action.ptr())) {
        return checkedIndex(action.cast<long long>(), avf.getNumberOfActions(), "action index");
    }
    for (int i = 0; i < avf.getNumberOfActions(); ++i) {
        const AbstractAction* registered = avf.getAction(i);
        if (registered != nullptr && actionObject(registered).is(action)) return i;
    }
    throw py::value_error("the action is not registered with this value function");
}

void unregisterAction(py::handle self, py::handle action) {
    ActionValueFunction& avf = self.cast<ActionValueFunction&>();
    const int index = actionIndex(avf, action);
    if (avf.getNumberOfActions() == 1) throw py::value_error("the last action of a value function cannot be removed");
    (void)beforeReplacingWeights(self, "unregisterAction");
    const AbstractAction* removed = avf.getAction(index);
    avf.unregisterAction(index);
    // The library hands the action back; Python's reference goes with it.
    delete removed;
}

void requireActions(const ActionValueFunction& avf) {
    if (avf.getNumberOfActions() < 1) throw py::value_error("no actions registered: register actions first");
}

void bindValueFunction(py::module_& m) {
    py::class_<ValueFunction>(m, "ValueFunction", py::dynamic_attr(), "Base of every value function; owns its State")
        .def("initWeights", &initWeights, py::arg("initFunction"),
             "Every weight from one call of initFunction() (or the number given instead)")
        .def("initEligibilityTraces", &ValueFunction::initEligibilityTraces)
        .def("updateWeights", &ValueFunction::updateWeights, py::arg("ALPHA"), py::arg("DELTA"))
        .def("updateEligibilityTraces", &ValueFunction::updateEligibilityTraces, py::arg("GAMMA"), py::arg("LAMBDA"))
        .def("accumulatingTraces", &ValueFunction::accumulatingTraces, py::arg("VALUE"))
        .def("replacingTraces", &ValueFunction::replacingTraces, py::arg("VALUE"))
        .def("checkWeightLimit", py::overload_cast<>(&ValueFunction::checkWeightLimit))
        .def("getMinWeight", &ValueFunction::getMinWeight)
        .def("getAvgWeight", &ValueFunction::getAvgWeight, py::arg("abs"))
        .def("getMaxWeight", &ValueFunction::getMaxWeight)
        .def("setState", &ValueFunction::setState)
        .def("storeState", &ValueFunction::storeState)
        .def("initEpisodeStateHistory", &ValueFunction::initEpisodeStateHistory)
        .def("valueEpisode", &ValueFunction::valueEpisode, py::arg("value"))
        .def("save", &save, py::arg("fileName"), "Writes the value function's file; OSError on failure")
        .def("load", &load, py::arg("fileName"), "Reads a file written by this class; OSError on failure")
        .def(
            "getStatePtr", [](py::handle self) { return borrow(self.cast<ValueFunction&>().getStatePtr(), self); },
            "The State the value function owns")
        .def("setMinWeightLimit", &ValueFunction::setMinWeightLimit, py::arg("limit"))
        .def("setMaxWeightLimit", &ValueFunction::setMaxWeightLimit, py::arg("limit"))
        .def("setEpisodeStateHistory", &ValueFunction::setEpisodeStateHistory, py::arg("history"))
        .def("getEpisodeStateHistory", &ValueFunction::getEpisodeStateHistory)
        .def_static("setValue", &ValueFunction::setValue, py::arg("value"),
                    "The class-wide constant initial weight of weights created afterwards")
        .def_static("setRandomValueBoundaries", &ValueFunction::setRandomValueBoundaries, py::arg("min"),
                    py::arg("max"));
}

void bindActionValueFunction(py::module_& m) {
    py::class_<ActionValueFunction, ValueFunction>(m, "ActionValueFunction", py::dynamic_attr(),
                                                   "Q(s, a): the actions, their selection and the Q file")
        .def(
            "registerAction",
            [](ActionValueFunction& avf, py::handle action) { avf.registerAction(requireAction(action)); },
            py::arg("action"), "Appends an action; its index is the number of actions before")
        .def("unregisterAction", &unregisterAction, py::arg("action"),
             "Removes an action (given as object or index) and its weights; later actions move down")
        .def(
            "setAction",
            [](ActionValueFunction& avf, long long index, py::handle action) {
                const int i = checkedIndex(index, avf.getNumberOfActions(), "action index");
                avf.setAction(i, action.is_none() ? nullptr : requireAction(action));
            },
            py::arg("actionIndex"), py::arg("action"), "Stores an action at an index (after load)")
        .def("setGreedyActionIndex",
             [](ActionValueFunction& avf) {
                 requireActions(avf);
                 return avf.setGreedyActionIndex();
             })
        .def("setRandomActionIndex",
             [](ActionValueFunction& avf) {
                 requireActions(avf);
                 return avf.setRandomActionIndex();
             })
        .def(
            "setSoftMaxActionIndex",
            [](ActionValueFunction& avf, double temperature) {
                requireActions(avf);
                return avf.setSoftMaxActionIndex(temperature);
            },
            py::arg("TEMPERATURE"))
        .def(
            "getActionValue",
            [](const ActionValueFunction& avf, long long index) {
                return avf.getActionValue(checkedIndex(index, avf.getNumberOfActions(), "action index"));
            },
            py::arg("actionIndex"))
        .def("getActiveActionIndex", &ActionValueFunction::getActiveActionIndex)
        .def(
            "getAction",
            [](const ActionValueFunction& avf, long long index) {
                return actionObject(avf.getAction(checkedIndex(index, avf.getNumberOfActions(), "action index")));
            },
            py::arg("actionIndex"), "The action at an index; None where none is bound")
        .def(
            "getActiveAction",
            [](const ActionValueFunction& avf) {
                const int index = avf.getActiveActionIndex();
                if (index < 0 || index >= avf.getNumberOfActions()) return py::object(py::none());
                return actionObject(avf.getAction(index));
            },
            "The action chosen for the present state; None before the first choice")
        .def("getNumberOfActions", &ActionValueFunction::getNumberOfActions);
}

}  // namespace

void raiseOSError(const std::string& message) {
    PyErr_SetString(PyExc_OSError, message.c_str());
    throw py::error_already_set();
}

GroupWrappers beforeReplacingWeights(py::handle self, const char* operation) {
    checkNoViews(self, operation);
    GroupWrappers groups;
    const TileCoding* tileCoding = dynamic_cast<const TileCoding*>(&self.cast<ValueFunction&>());
    if (tileCoding == nullptr) return groups;
    for (const Tilings* group : tileGroups(*tileCoding)) {
        py::handle wrapper = existingWrapper(group);
        if (!wrapper) continue;
        checkNoViews(wrapper, operation);
        groups.emplace_back(py::reinterpret_borrow<py::object>(wrapper), group);
    }
    return groups;
}

void afterReplacingWeights(py::handle self, const GroupWrappers& groups) {
    if (groups.empty()) return;
    const std::list<Tilings*>& now = tileGroups(dynamic_cast<const TileCoding&>(self.cast<ValueFunction&>()));
    for (const auto& [wrapper, group] : groups) {
        bool kept = false;
        for (const Tilings* current : now) kept = kept || current == group;
        // A group now at the same address is one of the same kind that the
        // tile coding owns: the wrapper may go on showing it.
        if (!kept) detachGroup(wrapper);
    }
}

void bindValueFunctions(py::module_& m) {
    bindValueFunction(m);
    py::class_<StateValueFunction, ValueFunction>(m, "StateValueFunction", py::dynamic_attr(), "V(s) and the V file")
        .def("getStateValue", &StateValueFunction::getStateValue);
    bindActionValueFunction(m);
}

}  // namespace tembra_python
