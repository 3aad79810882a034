#include "python/system_exchange.hpp"

#include <unordered_map>

#include <fmt/format.h>

#include "core/geometry.hpp"
#include "core/unicode_case.hpp"
#include "python/errors.hpp"
#include "python/rdkit_template.hpp"
#include "python/trajectory.hpp"

namespace py = pybind11;

namespace zelt::py_api {
namespace {

// "CL" and "cl" give "Cl"; only an ASCII first letter is raised.
std::string ase_symbol(const std::string& element) {
    std::string s = text::unicode_lower(element);
    if (!s.empty() && s[0] >= 'a' && s[0] <= 'z') s[0] = static_cast<char>(s[0] - 'a' + 'A');
    return s;
}

py::list xyz(const Vec3& v) {
    py::list out;
    for (const double c : v) out.append(c);
    return out;
}

py::object to_ase(PySystem& self) {
    SharedBorrow borrow(self.borrow);
    const py::object atoms_type = py::module_::import("ase").attr("Atoms");
    py::list symbols, positions, cell;
    for (const Atom& a : self.atoms) {
        symbols.append(ase_symbol(a.element));
        positions.append(xyz(a.position));
    }
    for (const auto& row : self.cell) cell.append(xyz(row));
    py::dict kwargs;
    kwargs["symbols"] = symbols;
    kwargs["positions"] = positions;
    kwargs["cell"] = cell;
    kwargs["pbc"] = true;
    return atoms_type(**kwargs);
}

py::object to_rdkit(PySystem& self) {
    SharedBorrow borrow(self.borrow);

    // Bonds name atoms by their index fields; each must name an atom.
    std::unordered_map<std::uint64_t, std::size_t> position_of;
    for (std::size_t k = 0; k < self.atoms.size(); ++k) position_of[self.atoms[k].index] = k;
    for (const Bond& b : self.bonds)
        for (const std::uint64_t idx : {b.i, b.j})
            if (!position_of.contains(idx))
                throw ValueError(fmt::format("Bond ({}, {}) refers to atom index {}, which no atom of the system has",
                                             b.i, b.j, idx));

    const py::module_ chem = py::module_::import("rdkit.Chem");
    py::object mol = chem.attr("RWMol")();

    // Bonded molecules whole, so that the conformer shows them unbroken.
    System unwrapped = self.to_core(true);
    if (const Status st = unwrap(unwrapped); !st) throw CoreError(st.error().message);

    std::unordered_map<std::uint64_t, py::object> rdkit_index;
    const py::object atom_type = chem.attr("Atom");
    for (const Atom& a : self.atoms) {
        py::object idx = mol.attr("AddAtom")(atom_type(a.element));
        if (!PyLong_Check(idx.ptr()))
            throw py::type_error(fmt::format("AddAtom() must return an int, got '{}'",
                                             py::str(py::type::handle_of(idx).attr("__name__")).cast<std::string>()));
        rdkit_index[a.index] = std::move(idx);
    }

    const py::object bond_types = chem.attr("BondType");
    const py::object single = bond_types.attr("SINGLE"), aromatic = bond_types.attr("AROMATIC"),
                     double_ = bond_types.attr("DOUBLE"), triple = bond_types.attr("TRIPLE");
    for (const Bond& b : self.bonds) {
        const py::object& type = b.order == 1.5   ? aromatic
                                 : b.order == 2.0 ? double_
                                 : b.order == 3.0 ? triple
                                                  : single;
        mol.attr("AddBond")(rdkit_index.at(b.i), rdkit_index.at(b.j), type);
    }

    py::object conformer = chem.attr("Conformer")(self.atoms.size());
    const py::object point = py::module_::import("rdkit.Geometry").attr("Point3D");
    for (std::size_t k = 0; k < unwrapped.atoms.size(); ++k) {
        const Vec3& p = unwrapped.atoms[k].position;
        conformer.attr("SetAtomPosition")(k, point(p[0], p[1], p[2]));
    }
    mol.attr("AddConformer")(conformer, true);
    return mol;
}

PySystem from_ase(py::object atoms) {
    const TrajectoryData data = extract_traj_data(atoms);
    if (data.n_frames == 0) throw ValueError("Empty ASE object");
    if (data.atoms.size() < data.n_atoms)
        throw ValueError(fmt::format("The ASE object has {} chemical symbols for {} positions", data.atoms.size(),
                                     data.n_atoms));
    PySystem out;
    out.cell = cell_from_values(data.cells[0]);
    out.atoms.resize(data.n_atoms);
    for (std::size_t k = 0; k < data.n_atoms; ++k) {
        Atom& a = out.atoms[k];
        a.residue_name = data.atoms[k].resname;
        a.element = data.atoms[k].element;
        a.atom_type = data.atoms[k].element;
        a.index = k;
        a.residue_id = 0;
        a.position = {data.positions[3 * k], data.positions[3 * k + 1], data.positions[3 * k + 2]};
        a.charge = 0.0;
        a.component_id = 0;
    }
    out.n_atoms = out.atoms.size();
    return out;
}

PySystem from_rdkit(py::object mol) {
    MoleculeTemplate t = extract_rdkit_template(mol, "MOL");
    PySystem out;
    out.atoms = std::move(t.atoms);
    out.bonds = std::move(t.bonds);
    out.n_atoms = out.atoms.size();
    out.cell = cubic_cell(20.0);
    return out;
}

}  // namespace

void bind_system_exchange(py::class_<PySystem>& cls) {
    cls.def("to_ase", &to_ase, "to_ase(self)\n--\n\n");
    cls.def("to_rdkit", &to_rdkit, "to_rdkit(self)\n--\n\n");
}

void bind_exchange_functions(py::module_& m) {
    m.def("from_ase", &from_ase, py::arg("atoms"),
          "from_ase(atoms)\n--\n\nCreate a System object from an ASE Atoms object.");
    m.def("from_rdkit", &from_rdkit, py::arg("mol"),
          "from_rdkit(mol)\n--\n\nCreate a System object from an RDKit Mol object.");
}

}  // namespace zelt::py_api
