#include "python/builder.hpp"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>


#include "build/packing.hpp"
#include "python/errors.hpp"
#include "python/molecule.hpp"
#include "python/numpy_arrays.hpp"
#include "python/rdkit_template.hpp"
#include "python/relax_options.hpp"
#include "python/system.hpp"
#include "smiles/embed.hpp"
#include "smiles/polymer_indices.hpp"

namespace py = pybind11;

namespace zelt::py_api {
namespace {

struct PyBuilder {
    Builder core;
    BorrowFlag borrow;
};

void set_cell(PyBuilder& self, const std::vector<double>& box) {
    ExclusiveBorrow b(self.borrow);
    if (box.size() != 3) throw ValueError("Box size must be a list of 3 floats");
    self.core.ensure_recipe().system.cell_shape = std::array<double, 3>{box[0], box[1], box[2]};
}

void set_density(PyBuilder& self, double density) {
    ExclusiveBorrow b(self.borrow);
    self.core.ensure_recipe().system.density = density;
}

void add_molecule(PyBuilder& self, PyMolecule& molecule, std::uint64_t count) {
    ExclusiveBorrow b(self.borrow);
    SharedBorrow m(molecule.borrow);
    self.core.templates[molecule.name] = molecule.tmpl;
    ComponentConfig c;
    c.name = molecule.name;
    c.role = ComponentRole::Molecule;
    c.count = count;
    self.core.ensure_recipe().components.push_back(std::move(c));
}

void add_molecule_smiles(PyBuilder& self, const std::string& name, std::uint64_t count,
                         const std::optional<std::string>& smiles) {
    ExclusiveBorrow b(self.borrow);
    ComponentConfig c;
    c.name = name;
    c.role = ComponentRole::Molecule;
    c.count = count;
    c.input.smiles = smiles;
    self.core.ensure_recipe().components.push_back(std::move(c));
}

void add_polymer(PyBuilder& self, const std::string& name, std::uint64_t count, std::uint64_t degree,
                 const std::optional<std::string>& smiles, std::optional<std::uint64_t> head,
                 std::optional<std::uint64_t> tail, std::optional<std::uint64_t> h_leaving,
                 std::optional<std::uint64_t> t_leaving) {
    ExclusiveBorrow b(self.borrow);
    ComponentConfig c;
    c.name = name;
    c.role = ComponentRole::Polymer;
    c.input.smiles = smiles;
    PolymerParams p;
    p.degree = degree;
    p.n_chains = count;
    p.head_index = head;
    p.tail_index = tail;
    p.head_leaving_index = h_leaving;
    p.tail_leaving_index = t_leaving;
    c.polymer_params = p;
    self.core.ensure_recipe().components.push_back(std::move(c));
}

void add_rdkit_mol(PyBuilder& self, const std::string& name, py::handle mol) {
    ExclusiveBorrow b(self.borrow);
    self.core.templates[name] = extract_rdkit_template(mol, name);
}

// Positions must be a two-dimensional float64 array with at least 3 columns,
// with one element symbol per row and bonds that name existing rows: the
// template is refused whole otherwise.
void add_template(PyBuilder& self, const std::string& name, py::handle positions,
                  const std::vector<std::string>& elements,
                  const std::vector<std::tuple<std::uint64_t, std::uint64_t, double>>& bonds) {
    ExclusiveBorrow b(self.borrow);
    const auto matrix = as_float64_matrix(positions);
    if (!matrix) throw ValueError("positions must be a two-dimensional float64 NumPy array");
    const py::array& arr = *matrix;
    const auto rows = static_cast<std::size_t>(arr.shape(0));
    if (arr.shape(1) < 3)
        throw ValueError("positions must have at least 3 columns (x, y, z), got " + std::to_string(arr.shape(1)));
    if (elements.size() < rows)
        throw ValueError("elements has " + std::to_string(elements.size()) + " entries for " + std::to_string(rows) +
                         " rows of positions");
    for (const auto& [i, j, order] : bonds)
        if (i >= rows || j >= rows)
            throw ValueError("Bond (" + std::to_string(i) + ", " + std::to_string(j) + ") refers to an atom beyond the " +
                             std::to_string(rows) + " rows of positions");
    MoleculeTemplate t;
    t.atoms.resize(rows);
    for (std::size_t i = 0; i < rows; ++i) {
        Atom& a = t.atoms[i];
        a.residue_name = name;
        a.element = elements[i];
        a.atom_type = "XX";
        a.index = i;
        a.position = matrix_row_xyz(arr, i);
    }
    for (const auto& [i, j, order] : bonds) t.bonds.push_back(Bond{i, j, order});
    self.core.templates[name] = std::move(t);
}

void load_recipe(PyBuilder& self, const std::string& path) {
    ExclusiveBorrow b(self.borrow);
    auto r = Recipe::from_yaml(path);
    if (!r) raise_core("Failed to load recipe: ", r.error());
    self.core.recipe = std::move(r).value();
}

PySystem build(PyBuilder& self) {
    ExclusiveBorrow b(self.borrow);
    Builder& core = self.core;
    if (core.recipe) {
        // SMILES templates: collected before any is added, so two components
        // with the same new name are both parsed (the later one wins).
        std::vector<std::pair<std::string, std::string>> todo;
        for (const auto& c : core.recipe->components)
            if (c.input.smiles && !core.templates.count(c.name)) todo.emplace_back(c.name, *c.input.smiles);
        for (const auto& [name, smiles] : todo) {
            auto t = parse_smiles(smiles);
            if (!t) raise_core("Failed to parse SMILES for " + name + ": ", t.error());
            core.templates[name] = std::move(t).value();
        }
        // Polymer attachment points, written back into the recipe.
        for (auto& c : core.recipe->components) {
            if (c.role != ComponentRole::Polymer || !c.input.smiles || !c.polymer_params) continue;
            const auto it = core.templates.find(c.name);
            if (it == core.templates.end()) continue;
            auto& p = *c.polymer_params;
            auto idx = resolve_polymer_indices(it->second, p.head_index, p.tail_index);
            if (!idx) raise_core("Failed to resolve polymer indices for " + c.name + ": ", idx.error());
            p.head_index = idx->head;
            p.tail_index = idx->tail;
            if (!p.head_leaving_index) p.head_leaving_index = idx->h_leaving;
            if (!p.tail_leaving_index) p.tail_leaving_index = idx->t_leaving;
        }
    }
    auto st = core.build();
    if (!st) raise_core("Build failed: ", st.error());
    return PySystem::from_core(System(*core.system));
}

PySystem get_system(PyBuilder& self) {
    ExclusiveBorrow b(self.borrow);
    if (!self.core.system) throw CoreError("System not built yet");
    return PySystem::from_core(System(*self.core.system));
}

void relax(PyBuilder& self, const RelaxOptions& options) {
    ExclusiveBorrow b(self.borrow);
    if (!self.core.system) throw CoreError("System not built yet");
    const auto settings = relax_settings(options);
    if (settings.verbose) flush_python_stdout();
    if (auto st = relax_system_in_place(*self.core.system, settings); !st) raise_core("", st.error());
}

}  // namespace

void bind_builder(py::module_& m) {
    py::class_<PyBuilder> cls(m, "Builder", "Builder(box_size=None, density=None)\n--\n\n");
    cls.def(py::init([](const std::optional<std::vector<double>>& box_size, std::optional<double> density) {
                auto b = std::make_unique<PyBuilder>();
                if (box_size) set_cell(*b, *box_size);
                if (density) set_density(*b, *density);
                return b;
            }),
            py::arg("box_size") = py::none(), py::arg("density") = py::none(),
            "__init__(self, box_size=None, density=None)\n--\n\n");
    cls.def("set_cell", &set_cell, py::arg("box_size"), "set_cell(self, box_size)\n--\n\n");
    cls.def("set_density", &set_density, py::arg("density"), "set_density(self, density)\n--\n\n");
    cls.def("add_molecule", &add_molecule, py::arg("molecule"), py::arg("count"),
            "add_molecule(self, molecule, count)\n--\n\n");
    cls.def("add_molecule_smiles", &add_molecule_smiles, py::arg("name"), py::arg("count"),
            py::arg("smiles") = py::none(), "add_molecule_smiles(self, name, count, smiles=None)\n--\n\n");
    cls.def("add_polymer", &add_polymer, py::arg("name"), py::arg("count"), py::arg("degree"),
            py::arg("smiles") = py::none(), py::arg("head") = py::none(), py::arg("tail") = py::none(),
            py::arg("h_leaving") = py::none(), py::arg("t_leaving") = py::none(),
            "add_polymer(self, name, count, degree, smiles=None, head=None, tail=None, h_leaving=None, "
            "t_leaving=None)\n--\n\n");
    cls.def("add_rdkit_mol", &add_rdkit_mol, py::arg("name"), py::arg("mol"), "add_rdkit_mol(self, name, mol)\n--\n\n");
    cls.def("add_template", &add_template, py::arg("name"), py::arg("positions"), py::arg("elements"),
            py::arg("bonds"), "add_template(self, name, positions, elements, bonds)\n--\n\n");
    cls.def("load_recipe", &load_recipe, py::arg("path"), "load_recipe(self, path)\n--\n\n");
    cls.def("build", &build, "build(self)\n--\n\n");
    cls.def("get_system", &get_system, "get_system(self)\n--\n\n");
    def_relax(cls, &relax);
}

void bind_build_system(py::module_& m) {
    m.def(
        "build_system",
        [](const std::string& recipe_path) {
            PyBuilder b;
            load_recipe(b, recipe_path);
            return build(b);
        },
        py::arg("recipe_path"), "build_system(recipe_path)\n--\n\nBuild a system from a recipe YAML file.");
}

}  // namespace zelt::py_api
