#include "python/signatures.hpp"

#include <pybind11/eval.h>

namespace py = pybind11;

namespace zelt::py_api {

// Methods are stored in the class as instance-method wrappers around the
// builtin function that carries the text signature. CPython's wrapper hands
// out that function when looked up on the class, so inspect finds
// "(self, ...)"; PyPy's wrapper is opaque to inspect. There, each wrapper is
// replaced by a small descriptor with the same binding behaviour: the
// function itself from the class, a bound method from an instance.
void expose_method_signatures(py::module_& m) {
    const py::object sys = py::module_::import("sys");
    if (sys.attr("implementation").attr("name").cast<std::string>() != "pypy") return;

    py::dict scope;
    scope["__builtins__"] = py::module_::import("builtins");
    py::exec(R"(
import types

class _Method:
    __slots__ = ("__func__",)

    def __init__(self, func):
        self.__func__ = func

    def __get__(self, obj, cls=None):
        if obj is None:
            return self.__func__
        return types.MethodType(self.__func__, obj)

    def __call__(self, *args, **kwargs):
        return self.__func__(*args, **kwargs)

def fix(module):
    for cls in list(vars(module).values()):
        if not isinstance(cls, type):
            continue
        for name, attr in list(vars(cls).items()):
            if type(attr).__name__ == "cinstancemethod":
                setattr(cls, name, _Method(attr.__func__))
)",
             scope);
    scope["fix"](m);
}

}  // namespace zelt::py_api
