#include "python/molecule.hpp"

#include <pybind11/stl.h>

#include "io/mol.hpp"
#include "io/mol2.hpp"
#include "python/relax_options.hpp"
#include "smiles/embed.hpp"
#include "python/errors.hpp"
#include "python/files.hpp"
#include "python/numpy_arrays.hpp"
#include "python/rdkit_template.hpp"

namespace py = pybind11;

namespace zelt::py_api {
namespace {

const char* const default_name = "MOL";

PyMolecule from_smiles(const std::string& smiles, const std::optional<std::string>& name) {
    return PyMolecule{unwrap_or_raise(parse_smiles(smiles), "Failed to parse SMILES: "), name.value_or(default_name), {}};
}

PyMolecule from_rdkit(py::handle mol, const std::optional<std::string>& name) {
    const std::string n = name.value_or(default_name);
    return PyMolecule{extract_rdkit_template(mol, n), n, {}};
}

PyMolecule from_file(const std::string& path, const std::optional<std::string>& name,
                     const std::optional<std::string>& format) {
    const std::string n = name.value_or(default_name);
    const std::string text = read_text_file(path);
    const std::string fmt = file_format(path, format);
    if (fmt == "mol2") return PyMolecule{unwrap_or_raise(parse_mol2(text), "Failed to parse MOL2: "), n, {}};
    if (fmt == "mol") return PyMolecule{unwrap_or_raise(parse_mol(text), "Failed to parse MOL: "), n, {}};
    throw ValueError("Unsupported file format: " + fmt);
}

void to_file(PyMolecule& self, const std::string& path) {
    SharedBorrow b(self.borrow);
    if (file_format(path) != "mol2") throw ValueError("Only .mol2 is supported for to_file currently");
    System s = System::from_cell(cubic_cell(20.0));
    s.atoms = self.tmpl.atoms;
    s.bonds = self.tmpl.bonds;
    write_text_file(path, write_mol2(s));
}

void relax(PyMolecule& self, const RelaxOptions& options) {
    ExclusiveBorrow b(self.borrow);
    const auto settings = relax_settings(options);
    if (settings.verbose) flush_python_stdout();
    if (auto st = relax_molecule_template(self.tmpl, settings); !st) raise_core("", st.error());
}

}  // namespace

void bind_molecule(py::module_& m) {
    py::class_<PyMolecule> cls(m, "Molecule");
    cls.def_static("from_smiles", &from_smiles, py::arg("smiles"), py::arg("name") = py::none(),
                   "from_smiles(smiles, name=None)\n--\n\n");
    cls.def_static("from_rdkit", &from_rdkit, py::arg("mol"), py::arg("name") = py::none(),
                   "from_rdkit(mol, name=None)\n--\n\n");
    cls.def_static("from_file", &from_file, py::arg("path"), py::arg("name") = py::none(),
                   py::arg("format") = py::none(), "from_file(path, name=None, format=None)\n--\n\n");
    cls.def("to_file", &to_file, py::arg("path"), "to_file(self, path)\n--\n\n");
    def_relax(cls, &relax);
    cls.def(
        "get_positions",
        [](PyMolecule& self) {
            SharedBorrow b(self.borrow);
            return positions_array(self.tmpl.atoms);
        },
        "get_positions(self)\n--\n\n");
    cls.def_property_readonly("name", [](PyMolecule& self) {
        SharedBorrow b(self.borrow);
        return self.name;
    });
    cls.def_property_readonly("n_atoms", [](PyMolecule& self) {
        SharedBorrow b(self.borrow);
        return self.tmpl.atoms.size();
    });
}

}  // namespace zelt::py_api
