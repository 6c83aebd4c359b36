// The learners part: Tembra with its parameters, counters, flags,
// configuration file and control loop, and TD, Sarsa and Watkins, which a
// Python agent subclasses.
//
// The trampolines (PyLearner) call the Python methods that override the
// four environment hooks and the library's other virtual operations. While
// controlLoop runs, the overrides are looked up once, when it starts, and
// then called directly: a step then costs the library's work plus one call
// per hook. A Python exception raised in a hook unwinds through the
// library, which holds no resource across a hook, and leaves controlLoop
// as that same exception; the episode in progress is abandoned, and the
// next controlLoop starts a new one.

#include <Python.h>

#include <array>
#include <stdexcept>
#include <string>
#include <utility>

#include <tembra/Sarsa.h>
#include <tembra/TD.h>
#include <tembra/Tembra.h>
#include <tembra/Watkins.h>

#include "Support.h"

namespace tembra_python {

namespace {

// The operations an agent may override in Python. The first four, the
// environment hooks, have no implementation in the library.
enum Hook : int {
    SET_INITIAL_STATE,
    TAKE_ACTION,
    OBSERVE_STATE,
    CALCULATE_REWARD,
    INIT_EPISODE,
    STEP,
    FINISH_EPISODE,
    RANDOM_ACTION,
    SAVE_CONF,
    LOAD_CONF,
    CHECK_PENDING_SIGNALS,
    SIG_USR1,
    SIG_USR2,
    SIG_TERM,
    SIG_INT,
    HOOKS
};
constexpr int ENVIRONMENT_HOOKS = 4;
constexpr const char* HOOK_NAMES[HOOKS] = {
    "setInitialState", "takeAction",   "observeState", "calculateReward", "initEpisode",         "step",
    "finishEpisode",   "randomAction", "saveConf",     "loadConf",        "checkPendingSignals", "sigUsr1",
    "sigUsr2",         "sigTerm",      "sigInt"};

py::object invoke(PyObject* function) {
    PyObject* result = PyObject_CallNoArgs(function);
    if (result == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(result);
}

// A hook's bool result. None, what a method without return gives, is
// refused: taken as false it would end every episode after one step.
bool truth(const py::object& result, const Hook hook) {
    if (result.is_none()) {
        throw py::type_error(std::string(HOOK_NAMES[hook]) + "() returned None; it must return True or False");
    }
    const int value = PyObject_IsTrue(result.ptr());
    if (value < 0) throw py::error_already_set();
    return value != 0;
}

double number(const py::object& result, const Hook hook) {
    const double value = PyFloat_AsDouble(result.ptr());
    if (value == -1.0 && PyErr_Occurred()) {
        PyErr_Clear();
        throw py::type_error(std::string(HOOK_NAMES[hook]) + "() must return a number, not " +
                             Py_TYPE(result.ptr())->tp_name);
    }
    return value;
}

// The Python side of a learner, shared by the three trampolines.
class PythonLearner {
public:
    virtual ~PythonLearner() = default;

    bool running() const { return loopRunning; }

    // Looks up the Python overrides of the agent self for the loop about to
    // run; TypeError when an environment hook is missing.
    void startLoop(py::handle self) {
        // Collected aside: the bound methods refer to the agent, and must not
        // stay behind when a missing hook ends the start.
        std::array<py::object, HOOKS> found;
        for (int hook = 0; hook < HOOKS; ++hook) {
            py::object method = py::getattr(self, HOOK_NAMES[hook], py::none());
            const bool overridden = !method.is_none() && !py::function(method).is_cpp_function();
            if (!overridden && hook < ENVIRONMENT_HOOKS) {
                throw py::type_error(std::string(Py_TYPE(self.ptr())->tp_name) + " defines no " + HOOK_NAMES[hook] +
                                     "(): an agent implements setInitialState, takeAction, observeState and "
                                     "calculateReward");
            }
            if (overridden) found[hook] = std::move(method);
        }
        overrides = std::move(found);
        loopRunning = true;
    }

    // Drops the overrides, which refer back to the agent.
    void endLoop() {
        loopRunning = false;
        for (py::object& method : overrides) method = py::object();
    }

protected:
    // The override of hook found when the loop started; outside
    // controlLoop, the one Python has now (kept alive by keep). Null when
    // Python does not override it.
    template <class Base>
    PyObject* lookup(const Base* learner, const Hook hook, py::object& keep) const {
        if (loopRunning) return overrides[hook].ptr();
        keep = py::get_override(learner, HOOK_NAMES[hook]);
        return keep.ptr();
    }

private:
    std::array<py::object, HOOKS> overrides;
    bool loopRunning = false;
};

template <class Base>
class PyLearner : public Base, public PythonLearner {
public:
    explicit PyLearner(const std::string& fileName) : Base(fileName) {}

    // The library's versions, reached from Python by the bound methods of
    // the base class (super().step() and the like).
    void baseInitEpisode() { Base::initEpisode(); }
    void baseStep() { Base::step(); }
    void baseFinishEpisode() { Base::finishEpisode(); }
    bool baseRandomAction() const { return Base::randomAction(); }
    void baseCheckPendingSignals() { Base::checkPendingSignals(); }
    void baseSigUsr1() { Base::sigUsr1(); }
    void baseSigUsr2() { Base::sigUsr2(); }
    void baseSigTerm() { Base::sigTerm(); }
    void baseSigInt() { Base::sigInt(); }

protected:
    void setInitialState() override { (void)environment(SET_INITIAL_STATE); }
    void takeAction() override { (void)environment(TAKE_ACTION); }
    const bool observeState() override { return truth(environment(OBSERVE_STATE), OBSERVE_STATE); }
    const double calculateReward() override { return number(environment(CALCULATE_REWARD), CALCULATE_REWARD); }

    void initEpisode() override {
        if (!overridden(INIT_EPISODE)) Base::initEpisode();
    }
    void step() override {
        if (!overridden(STEP)) Base::step();
    }
    void finishEpisode() override {
        if (!overridden(FINISH_EPISODE)) Base::finishEpisode();
    }
    const bool randomAction() const override {
        py::object keep;
        PyObject* method = lookup<Base>(this, RANDOM_ACTION, keep);
        return method != nullptr ? truth(invoke(method), RANDOM_ACTION) : Base::randomAction();
    }
    void saveConf() const override {
        py::object keep;
        PyObject* method = lookup<Base>(this, SAVE_CONF, keep);
        if (method != nullptr) (void)invoke(method);
        else Base::saveConf();
    }
    void loadConf() override {
        if (!overridden(LOAD_CONF)) Base::loadConf();
    }
    void checkPendingSignals() override {
        if (!overridden(CHECK_PENDING_SIGNALS)) Base::checkPendingSignals();
    }
    void sigUsr1() override {
        if (!overridden(SIG_USR1)) Base::sigUsr1();
    }
    void sigUsr2() override {
        if (!overridden(SIG_USR2)) Base::sigUsr2();
    }
    void sigTerm() override {
        if (!overridden(SIG_TERM)) Base::sigTerm();
    }
    void sigInt() override {
        if (!overridden(SIG_INT)) Base::sigInt();
    }

private:
    // Calls an environment hook, which the agent must define.
    py::object environment(const Hook hook) const {
        py::object keep;
        PyObject* method = lookup<Base>(this, hook, keep);
        if (method == nullptr) {
            throw py::type_error(std::string("the agent defines no ") + HOOK_NAMES[hook] + "()");
        }
        return invoke(method);
    }
    // Calls the Python override of hook if there is one.
    bool overridden(const Hook hook) {
        py::object keep;
        PyObject* method = lookup<Base>(this, hook, keep);
        if (method == nullptr) return false;
        (void)invoke(method);
        return true;
    }
};

// The protected members of Tembra, reached through pointers to members.
struct TembraAccess : Tembra {
    using Tembra::ACTION_SELECTION;
    using Tembra::ALPHA;
    using Tembra::confFileName;
    using Tembra::continueEpisode;
    using Tembra::continueLearning;
    using Tembra::episodes;
    using Tembra::EPSILON;
    using Tembra::GAMMA;
    using Tembra::LAMBDA;
    using Tembra::sigIntRcvd;
    using Tembra::sigTermRcvd;
    using Tembra::steps;
    using Tembra::TEMPERATURE;
    using Tembra::TRACE_VALUE;
    using Tembra::TRACES;
    using Tembra::value;
};
struct TDAccess : TD {
    using TD::svfPtr;
};
struct SarsaAccess : Sarsa {
    using Sarsa::avfPtr;
};
struct WatkinsAccess : Watkins {
    using Watkins::avfPtr;
};

void controlLoop(py::handle self) {
    Tembra& learner = self.cast<Tembra&>();
    PythonLearner& python = dynamic_cast<PythonLearner&>(learner);
    if (python.running()) throw std::runtime_error("controlLoop is running already");
    python.startLoop(self);
    struct EndLoop {
        PythonLearner& python;
        ~EndLoop() { python.endLoop(); }
    } endLoop{python};
    const SigintBlocked sigint;
    learner.controlLoop();
}

void bindTembra(py::module_& m) {
    py::class_<Tembra> cls(m, "Tembra", "Base of the learners: parameters, control loop, configuration file, signals");
    py::enum_<Tembra::TRACE_TYPE>(cls, "TRACE_TYPE")
        .value("NONE", Tembra::NONE)
        .value("REPLACING", Tembra::REPLACING)
        .value("ACCUMULATING", Tembra::ACCUMULATING)
        .export_values();
    py::enum_<Tembra::ACTION_SELECTION_TYPE>(cls, "ACTION_SELECTION_TYPE")
        .value("GREEDY", Tembra::GREEDY)
        .value("EPSILON_GREEDY", Tembra::EPSILON_GREEDY)
        .value("SOFTMAX", Tembra::SOFTMAX)
        .export_values();
    cls.def("controlLoop", &controlLoop,
            "Runs episodes until continueLearning is cleared or SIGTERM/SIGINT arrives; an exception raised in a "
            "hook leaves it unchanged")
        .def(
            "saveConf", [](const Tembra& t) { t.Tembra::saveConf(); }, "Writes the configuration file")
        .def(
            "loadConf", [](Tembra& t) { t.Tembra::loadConf(); }, "Reads the configuration file (or writes it)")
        .def(
            "setSignalPollInterval",
            [](Tembra& t, const int steps) {
                if (steps < 1) throw py::value_error("the poll interval is a number of steps >= 1");
                t.setSignalPollInterval(steps);
            },
            py::arg("steps"),
            "Polls the control signals after every steps-th step and at the end of each episode (default 1)")
        .def("getSignalPollInterval", &Tembra::getSignalPollInterval)
        .def_readwrite("ALPHA", &TembraAccess::ALPHA)
        .def_readwrite("LAMBDA", &TembraAccess::LAMBDA)
        .def_readwrite("GAMMA", &TembraAccess::GAMMA)
        .def_readwrite("EPSILON", &TembraAccess::EPSILON)
        .def_readwrite("TRACES", &TembraAccess::TRACES)
        .def_readwrite("TRACE_VALUE", &TembraAccess::TRACE_VALUE)
        .def_readwrite("ACTION_SELECTION", &TembraAccess::ACTION_SELECTION)
        .def_readwrite("TEMPERATURE", &TembraAccess::TEMPERATURE)
        .def_readwrite("continueLearning", &TembraAccess::continueLearning)
        .def_readwrite("continueEpisode", &TembraAccess::continueEpisode)
        .def_readwrite("sigTermRcvd", &TembraAccess::sigTermRcvd)
        .def_readwrite("sigIntRcvd", &TembraAccess::sigIntRcvd)
        .def_readwrite("episodes", &TembraAccess::episodes)
        .def_readwrite("steps", &TembraAccess::steps)
        .def_readwrite("value", &TembraAccess::value)
        .def_readonly("confFileName", &TembraAccess::confFileName);
}

// A learner class: its constructor, the library's versions of the
// overridable operations, and its value function (owned once set).
template <class Base, class ValueFunctionType>
void bindLearner(py::module_& m, const char* name, const char* doc, const char* slotName,
                 ValueFunctionType* Base::*slot) {
    using Py = PyLearner<Base>;
    const auto own = [](Base& b) -> Py& { return static_cast<Py&>(b); };
    py::class_<Base, Tembra, Py> cls(m, name, doc);
    cls.def(py::init([](py::handle fileName) {
                const std::string file = pathOf(fileName);
                // The library blocks its four signals for the learner's
                // lifetime; SIGINT goes back to Python outside controlLoop.
                const bool sigintBlocked = SigintBlocked::blockedNow();
                Py* learner = new Py(file);
                if (!sigintBlocked) SigintBlocked::unblock();
                return learner;
            }),
            py::arg("fileName"), "A learner whose parameters are in the configuration file fileName")
        .def("initEpisode", [own](Base& b) { own(b).baseInitEpisode(); })
        .def("step", [own](Base& b) { own(b).baseStep(); })
        .def("finishEpisode", [own](Base& b) { own(b).baseFinishEpisode(); })
        .def("randomAction", [own](Base& b) { return own(b).baseRandomAction(); })
        .def("checkPendingSignals", [own](Base& b) { own(b).baseCheckPendingSignals(); })
        .def("sigUsr1", [own](Base& b) { own(b).baseSigUsr1(); })
        .def("sigUsr2", [own](Base& b) { own(b).baseSigUsr2(); })
        .def("sigTerm", [own](Base& b) { own(b).baseSigTerm(); })
        .def("sigInt", [own](Base& b) { own(b).baseSigInt(); })
        .def_property(
            slotName, [slot](py::handle self) { return borrow(self.cast<Base&>().*slot, self); },
            [slot, slotName](py::handle self, py::handle valueFunction) {
                Base& learner = self.cast<Base&>();
                if (learner.*slot != nullptr) {
                    throw py::value_error(std::string("the learner owns a value function already (") + slotName + ")");
                }
                if (!py::isinstance<ValueFunctionType>(valueFunction)) {
                    throw py::type_error(
                        std::string(slotName) + " takes a " +
                        py::type::of<ValueFunctionType>().attr("__name__").template cast<std::string>() + ", not " +
                        Py_TYPE(valueFunction.ptr())->tp_name);
                }
                ValueFunctionType* vf = valueFunction.cast<ValueFunctionType*>();
                adopt(valueFunction, self, "the value function");
                learner.*slot = vf;
            },
            "The value function; set once, after which the learner owns it");
}

}  // namespace

void bindLearners(py::module_& m) {
    bindTembra(m);
    bindLearner<TD, StateValueFunction>(m, "TD", "TD(lambda): the state values of the agent's own policy", "svfPtr",
                                        &TDAccess::svfPtr);
    bindLearner<Sarsa, ActionValueFunction>(m, "Sarsa", "Sarsa(lambda): on-policy action values", "avfPtr",
                                            &SarsaAccess::avfPtr);
    bindLearner<Watkins, ActionValueFunction>(m, "Watkins", "Watkins' Q(lambda): off-policy action values", "avfPtr",
                                              &WatkinsAccess::avfPtr);
}

}  // namespace tembra_python
