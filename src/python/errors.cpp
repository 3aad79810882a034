#include "python/errors.hpp"

#include <pybind11/pybind11.h>

namespace py = pybind11;

namespace zelt::py_api {

void register_exception_translators() {
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const FileError& e) {
            PyErr_SetString(PyExc_OSError, e.what());
        } catch (const ValueError& e) {
            PyErr_SetString(PyExc_ValueError, e.what());
        } catch (const CoreError& e) {
            PyErr_SetString(PyExc_RuntimeError, e.what());
        }
    });
}

}  // namespace zelt::py_api
