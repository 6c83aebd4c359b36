// The extension module tembra._tembra, which the package tembra re-exports:
// the library's classes under their C++ names, one binding source per part
// of the library.

#include "Support.h"

PYBIND11_MODULE(_tembra, m) {
    m.doc() =
        "libtembra: TD, Sarsa and Watkins' Q(lambda) learners with lookup tables, tile coding and a neural network";
    tembra_python::bindCore(m);
    tembra_python::bindState(m);
    tembra_python::bindValueFunctions(m);
    tembra_python::bindTables(m);
    tembra_python::bindTiles(m);
    tembra_python::bindNetwork(m);
    tembra_python::bindLearners(m);
}
