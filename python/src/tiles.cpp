// The tiles part: the tilings groups (StateTilings, ActionTilings) and the
// tile-coded value functions that own them (StateTileCoding,
// ActionTileCoding). A group's weights are a numpy view of the group.
//
// A group handed to registerTiling belongs to the tile coding from then on;
// one the tile coding refuses is deleted by the library, and its wrapper is
// detached (its methods then raise ValueError) before registerTiling raises
// ValueError. A tile coding's load replaces its groups: wrappers of the old
// ones are detached the same way.

#include <list>
#include <string>

#include <tembra/ActionTileCoding.h>
#include <tembra/ActionTilings.h>
#include <tembra/StateTileCoding.h>
#include <tembra/StateTilings.h>

#include "Support.h"
#include "ValueFunctions.h"

namespace tembra_python {

namespace {

struct TilingsAccess : Tilings {
    using Tilings::ARRAY_SIZE;
    using Tilings::weights;
};

// The variable records of a group: TILINGS_VAR_STRUCT objects or (id,
// resolution, tileType) sequences.
std::list<Types::TILINGS_VAR_STRUCT> variableList(py::iterable vars) {
    std::list<Types::TILINGS_VAR_STRUCT> list;
    for (py::handle item : vars) {
        if (py::isinstance<Types::TILINGS_VAR_STRUCT>(item)) {
            list.push_back(item.cast<Types::TILINGS_VAR_STRUCT>());
            continue;
        }
        py::tuple fields = py::tuple(py::reinterpret_borrow<py::object>(item));
        if (fields.size() != 3) throw py::value_error("a tiled variable is (id, resolution, tileType)");
        try {
            list.push_back({fields[0].cast<int>(), fields[1].cast<double>(), fields[2].cast<Types::TILE_TYPE>()});
        } catch (const py::cast_error&) {
            throw py::type_error("a tiled variable is (id: int, resolution: float, tileType: Types.TILE_TYPE), not " +
                                 py::repr(item).cast<std::string>());
        }
    }
    return list;
}

constexpr const char* DELETED = "_tembra_deleted";

// The group behind a wrapper, unless the library deleted it.
template <class Group>
Group& group(py::handle self) {
    if (py::getattr(self, DELETED, py::none()).is(py::bool_(true))) {
        throw py::value_error("this tilings group was refused or replaced, and the library deleted it");
    }
    return self.cast<Group&>();
}

template <class Group>
void defineGroup(py::class_<Group, Tilings>& cls) {
    cls.def(
        py::init([](int numberOfTilings, py::iterable vars) { return new Group(numberOfTilings, variableList(vars)); }),
        py::arg("numberOfTilings"), py::arg("varList"),
        "A group of numberOfTilings tilings over the variables (id, resolution, tileType)");
}

void bindGroups(py::module_& m) {
    py::class_<Tilings>(m, "Tilings", py::dynamic_attr(), "A group of overlapping tilings and its weights")
        .def("getNumberOfTilings", [](py::handle self) { return group<Tilings>(self).getNumberOfTilings(); })
        .def(
            "setTraceStorage", [](py::handle self, Types::TRACE_STORAGE s) { group<Tilings>(self).setTraceStorage(s); },
            py::arg("storage"))
        .def("hasWeights", [](py::handle self) { return group<Tilings>(self).hasWeights(); })
        .def_property_readonly(
            "weights",
            [](py::handle self) {
                Tilings& g = group<Tilings>(self);
                return weightView(self, g.*(&TilingsAccess::weights), {g.*(&TilingsAccess::ARRAY_SIZE)},
                                  "the group has no weights (not registered with a tile coding, or refused)");
            },
            "The group's weights as a writable numpy view (no copy), which keeps the group alive");
    py::class_<StateTilings, Tilings> state(m, "StateTilings", py::dynamic_attr(), "A tilings group of V(s)");
    defineGroup(state);
    py::class_<ActionTilings, Tilings> action(m, "ActionTilings", py::dynamic_attr(), "A tilings group of Q(s, a)");
    defineGroup(action);
    action.def("getNumberOfActions", [](py::handle self) { return group<ActionTilings>(self).getNumberOfActions(); });
}

// registerTiling: the group goes over to the tile coding, or, refused, is
// deleted by the library.
template <class Coding, class Group>
void registerTiling(py::handle self, py::handle wrapper) {
    if (!py::isinstance<Group>(wrapper)) {
        throw py::type_error(std::string("expected a ") +
                             py::type::of<Group>().attr("__name__").template cast<std::string>() + ", not " +
                             Py_TYPE(wrapper.ptr())->tp_name);
    }
    Group* g = &group<Group>(wrapper);
    Coding& coding = self.cast<Coding&>();
    adopt(wrapper, self, "the tilings group");
    coding.registerTiling(g);
    for (const Tilings* registered : tileGroups(coding)) {
        if (registered == g) return;
    }
    detachGroup(wrapper);
    throw py::value_error("the tile coding refused the group and deleted it (the report is on stderr)");
}

bool hasGroups(const TileCoding& coding) { return coding.getNumberOfGroups() > 0; }

template <class Coding, class Group, class Base>
void defineTileCoding(py::class_<Coding, Base>& cls, const char* className) {
    cls.def(
           "__init__",
           [className](py::detail::value_and_holder& vh, py::handle source) {
               if (py::isinstance<State>(source)) {
                   initOnState(vh, source, [](State* s) { return new Coding(s); });
               } else {
                   initFromFile<Coding>(vh, source, className, hasGroups);
               }
           },
           py::detail::is_new_style_constructor(), py::arg("source"),
           "A tile coding on a State (which it takes over), or one read from a file")
        .def("registerTiling", &registerTiling<Coding, Group>, py::arg("tilings"),
             "Creates the group on the State and takes it over; ValueError when the geometry is refused")
        // Through lambdas, not pointers to the members of TileCoding: a
        // pointer to a member of the second base makes GCC's vptr sanitizer
        // report a false "member call on ... base class subobject".
        .def(
            "setTraceStorage", [](Coding& coding, Types::TRACE_STORAGE s) { coding.setTraceStorage(s); },
            py::arg("storage"))
        .def("getNumberOfTilings", [](const Coding& coding) { return coding.getNumberOfTilings(); })
        .def("getNumberOfGroups", [](const Coding& coding) { return coding.getNumberOfGroups(); })
        .def_property_readonly(
            "groups",
            [](py::handle self) {
                py::list groups;
                for (Tilings* g : tileGroups(self.cast<Coding&>())) groups.append(borrow(static_cast<Group*>(g), self));
                return groups;
            },
            "The registered groups, in order (they stay the tile coding's)");
}

}  // namespace

void detachGroup(py::handle wrapper) {
    // Never deleted, so that a detached wrapper always shows a valid (empty)
    // object; its methods raise before they reach it anyway.
    static StateTilings* const stateGroup = new StateTilings(0, std::list<Types::TILINGS_VAR_STRUCT>());
    static ActionTilings* const actionGroup = new ActionTilings(0, std::list<Types::TILINGS_VAR_STRUCT>());
    reseat(wrapper,
           py::isinstance<ActionTilings>(wrapper) ? static_cast<void*>(actionGroup) : static_cast<void*>(stateGroup));
    py::setattr(wrapper, DELETED, py::bool_(true));
}

void bindTiles(py::module_& m) {
    bindGroups(m);
    py::class_<StateTileCoding, StateValueFunction> state(m, "StateTileCoding", py::dynamic_attr(),
                                                          "Tile-coded V(s) over floating-point variables");
    defineTileCoding<StateTileCoding, StateTilings>(state, "StateTileCoding");
    py::class_<ActionTileCoding, ActionValueFunction> action(m, "ActionTileCoding", py::dynamic_attr(),
                                                             "Tile-coded Q(s, a) over floating-point variables");
    defineTileCoding<ActionTileCoding, ActionTilings>(action, "ActionTileCoding");
    action.def(
        "setActionValue",
        [](ActionTileCoding& coding, long long index, double value) {
            coding.setActionValue(checkedIndex(index, coding.getNumberOfActions(), "action index"), value);
        },
        py::arg("actionIndex"), py::arg("value"));
}

}  // namespace tembra_python
