#ifndef TEMBRA_PYTHON_VALUEFUNCTIONS_H
#define TEMBRA_PYTHON_VALUEFUNCTIONS_H

// What the value-function bindings share across parts: the groups of a tile
// coding, and the guard around operations that replace weight arrays.

#include <cstdio>
#include <list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <tembra/State.h>
#include <tembra/TileCoding.h>
#include <tembra/Tilings.h>

#include "Support.h"

namespace tembra_python {

struct TileCodingAccess : TileCoding {
    using TileCoding::tilingPtrList;
};

inline const std::list<Tilings*>& tileGroups(const TileCoding& tileCoding) {
    return tileCoding.*(&TileCodingAccess::tilingPtrList);
}

// The wrappers Python has for a tile coding's groups, with their objects.
using GroupWrappers = std::vector<std::pair<py::object, const Tilings*>>;

// Before an operation of the value function self replaces or reallocates
// weight arrays: raises BufferError while numpy views show them (of the
// value function, or of one of its groups), and returns the wrappers of the
// groups for afterReplacingWeights.
GroupWrappers beforeReplacingWeights(py::handle self, const char* operation);

// Detaches the wrappers of groups that the operation deleted.
void afterReplacingWeights(py::handle self, const GroupWrappers& groups);

// Detaches the wrapper of a group the library deleted: its methods raise
// ValueError from then on.
void detachGroup(py::handle wrapper);

// The Python object being initialised by an __init__ that receives vh.
inline py::handle selfOf(py::detail::value_and_holder& vh) { return reinterpret_cast<PyObject*>(vh.inst); }

// __init__ of a value function on a State: the State must still belong to
// Python, which hands it over (the value function deletes it). make builds
// the object on the State.
template <class Make>
void initOnState(py::detail::value_and_holder& vh, py::handle state, Make make) {
    if (!py::isinstance<State>(state)) {
        throw py::type_error("expected a State or a file name, not " + std::string(Py_TYPE(state.ptr())->tp_name));
    }
    if (!ownedByPython(state)) throw py::value_error("the State belongs to another value function already");
    vh.value_ptr() = make(state.cast<State*>());
    adopt(state, selfOf(vh), "the State");
}

[[noreturn]] void raiseOSError(const std::string& message);

// __init__ of a value function of class T from a file written by that
// class. A file that cannot be opened raises the OSError of open(); one the
// library cannot read (reported on stderr) raises OSError, as does one that
// leaves the object unusable by usable's measure.
template <class T, class Usable>
void initFromFile(py::detail::value_and_holder& vh, py::handle path, const char* className, Usable usable) {
    const std::string name = pathOf(path);
    std::FILE* file = std::fopen(name.c_str(), "rb");
    if (file == nullptr) {
        PyErr_SetFromErrnoWithFilename(PyExc_OSError, name.c_str());
        throw py::error_already_set();
    }
    std::fclose(file);
    std::unique_ptr<T> object(new T(name));
    if (!usable(*object)) raiseOSError(name + " holds no " + className + " (the report is on stderr)");
    vh.value_ptr() = object.release();
}

}  // namespace tembra_python

#endif
