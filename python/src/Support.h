#ifndef TEMBRA_PYTHON_SUPPORT_H
#define TEMBRA_PYTHON_SUPPORT_H

// What the bindings of every part share: how ownership passes between
// Python and the library, the numpy views of weight arrays, file names,
// index checks, and the action objects a value function holds for Python.
//
// Ownership. The library owns by raw pointer: a value function its State
// and actions, a tile coding its tilings groups, a learner its value
// function. A Python wrapper that hands its object over is "adopted": it
// stops owning the object (the library deletes it) and keeps its new owner
// alive through the attribute _tembra_owner, so that the object cannot be
// deleted while Python still reaches it. The reference sits in the
// wrapper's __dict__, where the cycle collector sees it (an agent that keeps
// its value function in an attribute forms a cycle that is collected like
// any other). Wrappers made for objects the library created (the State of a
// value function read from a file, the groups of a tile coding) keep their
// owner alive the same way.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include <tembra/AbstractAction.h>

namespace py = pybind11;

namespace tembra_python {

// The attribute in which a wrapper keeps the owner of its object alive.
constexpr const char* OWNER = "_tembra_owner";

// Binding functions, one per part of the library.
void bindCore(py::module_& m);
void bindState(py::module_& m);
void bindValueFunctions(py::module_& m);
void bindTables(py::module_& m);
void bindTiles(py::module_& m);
void bindNetwork(py::module_& m);
void bindLearners(py::module_& m);

// True while Python owns the object behind the wrapper (it deletes it when
// the wrapper goes).
bool ownedByPython(py::handle wrapper);

// Hands the object behind the wrapper over to the library: Python stops
// owning it, and the wrapper keeps owner alive. what names the object in
// the ValueError raised when the library owns it already.
void adopt(py::handle wrapper, py::handle owner, const char* what);

// A wrapper (the existing one, or a new one that does not own) for an
// object the library owns through owner; None for a null pointer.
template <class T>
py::object borrow(T* object, py::handle owner) {
    if (object == nullptr) return py::none();
    py::object wrapper = py::cast(object, py::return_value_policy::reference);
    if (!ownedByPython(wrapper) && !py::hasattr(wrapper, OWNER)) py::setattr(wrapper, OWNER, owner);
    return wrapper;
}

// The wrapper Python has for an object of a bound polymorphic class, or a
// null handle.
template <class T>
py::handle existingWrapper(const T* object) {
    if (object == nullptr) return py::handle();
    const py::detail::type_info* type = py::detail::get_type_info(typeid(*object));
    if (type == nullptr) return py::handle();
    return py::detail::get_object_handle(dynamic_cast<const void*>(object), type);
}

// Points a wrapper at another object, which it does not own, and takes it
// out of the registry that maps objects to their wrappers: for a wrapper
// whose object the library has deleted. (A null object would not do:
// pybind11 gives a method called on one fresh uninitialised memory.) The
// wrapper no longer keeps an owner alive.
void reseat(py::handle wrapper, void* object);

// A writable numpy view of count doubles at data with the given shape,
// which keeps owner (the wrapper whose object holds the array) alive. A null
// array raises ValueError with the text of missing.
py::array weightView(py::handle owner, double* data, const std::vector<py::ssize_t>& shape, const char* missing);

// Raises BufferError when views made by weightView on owner are still
// alive: operation is about to replace the arrays they show.
void checkNoViews(py::handle owner, const char* operation);

// A file name from str, bytes or any os.PathLike.
std::string pathOf(py::handle path);

// Raises IndexError unless 0 <= index < size; returns the index as int.
int checkedIndex(long long index, long long size, const char* what);

// The action object a value function holds for Python: the library owns
// and deletes this, which releases the Python object (the using program's
// AbstractAction), so neither side ever points at something the other freed.
class PythonAction : public AbstractAction {
public:
    explicit PythonAction(py::object object) : object(std::move(object)) {}
    // Writes what the Python object's addInformation() returns.
    void addInformation(std::ostream& os) const override;

    py::object object;
};

// The Python object of a registered action; None for an empty index.
inline py::object actionObject(const AbstractAction* action) {
    if (action == nullptr) return py::none();
    return static_cast<const PythonAction*>(action)->object;
}

// Keeps SIGINT blocked in this thread while it lives and then restores the
// thread's previous state of SIGINT. The learners block their four control
// signals when they are built and poll them between steps; Python wants
// SIGINT for KeyboardInterrupt. So SIGINT is left to Python outside
// controlLoop and blocked inside, where the learner takes it after the step.
class SigintBlocked {
public:
    SigintBlocked();
    ~SigintBlocked();
    SigintBlocked(const SigintBlocked&) = delete;
    SigintBlocked& operator=(const SigintBlocked&) = delete;

    // Whether SIGINT is blocked in the calling thread now.
    static bool blockedNow();
    // Unblocks SIGINT in the calling thread.
    static void unblock();

private:
    bool wasBlocked;
};

}  // namespace tembra_python

#endif
