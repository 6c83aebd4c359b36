#include "Support.h"

#include <signal.h>

#include <cerrno>
#include <cstring>
#include <sstream>

namespace tembra_python {

namespace {

// The one value-and-holder of a wrapper of a bound class (the bound
// classes use single inheritance on the Python side).
py::detail::value_and_holder valueAndHolder(py::handle wrapper) {
    const py::detail::type_info* type = py::detail::get_type_info(Py_TYPE(wrapper.ptr()));
    if (type == nullptr) throw py::type_error("not an object of the library");
    return reinterpret_cast<py::detail::instance*>(wrapper.ptr())->get_value_and_holder(type);
}

constexpr const char* VIEWS = "_tembra_views";

}  // namespace

bool ownedByPython(py::handle wrapper) {
    auto* instance = reinterpret_cast<py::detail::instance*>(wrapper.ptr());
    return instance->owned && valueAndHolder(wrapper).holder_constructed();
}

void adopt(py::handle wrapper, py::handle owner, const char* what) {
    if (!ownedByPython(wrapper)) {
        throw py::value_error(std::string(what) + " belongs to another object already (the library owns it)");
    }
    // Without its holder the wrapper deletes nothing when it goes; the
    // library deletes the object with its new owner.
    py::detail::value_and_holder vh = valueAndHolder(wrapper);
    vh.set_holder_constructed(false);
    reinterpret_cast<py::detail::instance*>(wrapper.ptr())->owned = false;
    py::setattr(wrapper, OWNER, owner);
}

void reseat(py::handle wrapper, void* object) {
    py::detail::value_and_holder vh = valueAndHolder(wrapper);
    if (vh.value_ptr() != nullptr && vh.instance_registered()) {
        py::detail::deregister_instance(vh.inst, vh.value_ptr(), vh.type);
        vh.set_instance_registered(false);
    }
    vh.set_holder_constructed(false);
    vh.inst->owned = false;
    vh.value_ptr() = object;
    if (py::hasattr(wrapper, OWNER)) py::delattr(wrapper, OWNER);
}

py::array weightView(py::handle owner, double* data, const std::vector<py::ssize_t>& shape, const char* missing) {
    if (data == nullptr) throw py::value_error(missing);
    std::vector<py::ssize_t> strides(shape.size());
    py::ssize_t stride = sizeof(double);
    for (std::size_t d = shape.size(); d-- > 0;) {
        strides[d] = stride;
        stride *= shape[d];
    }
    py::array view(py::dtype::of<double>(), shape, strides, data, owner);
    // Remembered weakly, so that an operation that replaces the array can
    // tell whether someone still looks at the old one.
    py::object views = py::getattr(owner, VIEWS, py::none());
    if (views.is_none()) {
        views = py::list();
        py::setattr(owner, VIEWS, views);
    }
    views.cast<py::list>().append(py::weakref(view));
    return view;
}

void checkNoViews(py::handle owner, const char* operation) {
    if (!owner) return;
    py::object views = py::getattr(owner, VIEWS, py::none());
    if (views.is_none()) return;
    py::list alive;
    for (py::handle ref : views) {
        if (!ref().is_none()) alive.append(ref);
    }
    py::setattr(owner, VIEWS, alive);
    if (py::len(alive) != 0) {
        throw py::buffer_error(std::string(operation) + " would replace weight arrays that " +
                               std::to_string(py::len(alive)) +
                               " numpy view(s) still show: delete the views (and arrays made from them) first");
    }
}

std::string pathOf(py::handle path) {
    // os.fspath gives str or bytes; both convert to the bytes of the name.
    return py::module_::import("os").attr("fspath")(path).cast<std::string>();
}

int checkedIndex(const long long index, const long long size, const char* what) {
    if (index < 0 || index >= size) {
        throw py::index_error(std::string(what) + " " + std::to_string(index) + " out of range [0, " +
                              std::to_string(size) + ")");
    }
    return static_cast<int>(index);
}

void PythonAction::addInformation(std::ostream& os) const {
    py::gil_scoped_acquire gil;
    os << py::str(object.attr("addInformation")()).cast<std::string>();
}

SigintBlocked::SigintBlocked() : wasBlocked(blockedNow()) {
    if (wasBlocked) return;
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

SigintBlocked::~SigintBlocked() {
    if (!wasBlocked) unblock();
}

bool SigintBlocked::blockedNow() {
    sigset_t current;
    sigemptyset(&current);
    pthread_sigmask(SIG_BLOCK, nullptr, &current);
    return sigismember(&current, SIGINT) == 1;
}

void SigintBlocked::unblock() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

}  // namespace tembra_python
