// The tables part: StateLookupTable and ActionLookupTable over integer
// variables, with the lookup-table operations and the weights as a numpy
// view (flat, in the table's order: row-major over the variables, the
// actions of a state consecutive).

#include <tembra/ActionLookupTable.h>
#include <tembra/StateLookupTable.h>

#include "Support.h"
#include "ValueFunctions.h"

namespace tembra_python {

namespace {

struct LookupTableAccess : LookupTable {
    using LookupTable::ARRAY_SIZE;
    using LookupTable::weights;
};

bool hasTable(const LookupTable& table) { return table.*(&LookupTableAccess::weights) != nullptr; }

// What both tables add to their value-function base.
template <class Table, class Base>
void defineLookupTable(py::class_<Table, Base>& cls) {
    // Through lambdas, not pointers to the members of LookupTable: for a
    // member of the second base GCC's vptr sanitizer reports a false "member
    // call on ... base class subobject".
    cls.def(
           "setTraceStorage", [](Table& table, Types::TRACE_STORAGE s) { table.setTraceStorage(s); },
           py::arg("storage"))
        .def(
            "checkWeightLimit",
            [](Table& table, double minWeight, double maxWeight) { table.checkWeightLimit(minWeight, maxWeight); },
            py::arg("MIN_WEIGHT"), py::arg("MAX_WEIGHT"))
        .def("checkWeightLimit", [](Table& table) { table.checkWeightLimit(); })
        .def("calculateActiveIndex", [](Table& table) { table.calculateActiveIndex(); })
        .def_property_readonly(
            "weights",
            [](py::handle self) {
                LookupTable& table = self.cast<Table&>();
                return weightView(self, table.*(&LookupTableAccess::weights), {table.*(&LookupTableAccess::ARRAY_SIZE)},
                                  "the table has no weights (not created, refused or not loaded)");
            },
            "The weights as a writable numpy view (no copy), which keeps the table alive");
}

int checkedAction(const ActionLookupTable& table, long long index) {
    return checkedIndex(index, table.getNumberOfActions(), "action index");
}

}  // namespace

void bindTables(py::module_& m) {
    py::class_<StateLookupTable, StateValueFunction> state(m, "StateLookupTable", py::dynamic_attr(),
                                                           "Tabular V(s) over integer variables");
    state
        .def(
            "__init__",
            [](py::detail::value_and_holder& vh, py::handle source) {
                if (py::isinstance<State>(source)) {
                    initOnState(vh, source, [](State* s) { return new StateLookupTable(s); });
                } else {
                    initFromFile<StateLookupTable>(vh, source, "StateLookupTable", hasTable);
                }
            },
            py::detail::is_new_style_constructor(), py::arg("source"),
            "A table on a State (which it takes over), or one read from a V file")
        .def("storeActiveIndex", &StateLookupTable::storeActiveIndex)
        .def("storeEpisodeState", &StateLookupTable::storeEpisodeState);
    defineLookupTable(state);

    py::class_<ActionLookupTable, ActionValueFunction> action(m, "ActionLookupTable", py::dynamic_attr(),
                                                              "Tabular Q(s, a) over integer variables");
    action
        .def(
            "__init__",
            [](py::detail::value_and_holder& vh, py::handle source) {
                if (py::isinstance<State>(source)) {
                    initOnState(vh, source, [](State* s) { return new ActionLookupTable(s); });
                } else {
                    initFromFile<ActionLookupTable>(vh, source, "ActionLookupTable", hasTable);
                }
            },
            py::detail::is_new_style_constructor(), py::arg("source"),
            "A table on a State (which it takes over), or one read from a Q file")
        .def(
            "create",
            [](py::handle self) {
                (void)beforeReplacingWeights(self, "create");
                self.cast<ActionLookupTable&>().create();
            },
            "Builds the table for the actions registered so far")
        .def(
            "storeActiveIndex", [](ActionLookupTable& t, long long a) { t.storeActiveIndex(checkedAction(t, a)); },
            py::arg("actionIndex"))
        .def(
            "storeEpisodeState", [](ActionLookupTable& t, long long a) { t.storeEpisodeState(checkedAction(t, a)); },
            py::arg("actionIndex"))
        .def(
            "setActionValue",
            [](ActionLookupTable& t, long long a, double v) { t.setActionValue(checkedAction(t, a), v); },
            py::arg("actionIndex"), py::arg("value"))
        .def(
            "setActiveActionValue",
            [](ActionLookupTable& t, long long a, double v) { t.setActiveActionValue(checkedAction(t, a), v); },
            py::arg("actionIndex"), py::arg("value"));
    defineLookupTable(action);
}

}  // namespace tembra_python
