import inspect
import math

import pytest

import zelt
from conftest import requires, write_text

WATER_MASS = 15.999 + 2 * 1.008


def _connected_components(n, bonds):
    parent = list(range(n))

    def find(x):
        while parent[x] != x:
            parent[x] = parent[parent[x]]
            x = parent[x]
        return x

    for i, j, _ in bonds:
        parent[find(i)] = find(j)
    return len({find(i) for i in range(n)})


def test_signatures():
    assert str(inspect.signature(zelt.Builder)) == "(box_size=None, density=None)"
    expected = {
        "set_cell": "(self, box_size)",
        "set_density": "(self, density)",
        "add_molecule": "(self, molecule, count)",
        "add_molecule_smiles": "(self, name, count, smiles=None)",
        "add_polymer": "(self, name, count, degree, smiles=None, head=None, tail=None, h_leaving=None, t_leaving=None)",
        "add_rdkit_mol": "(self, name, mol)",
        "add_template": "(self, name, positions, elements, bonds)",
        "load_recipe": "(self, path)",
        "build": "(self)",
        "get_system": "(self)",
        "relax": "(self, steps=None, threshold=None, verbose=True, num_threads=0, cutoff=6.0, history_size=10)",
    }
    for name, text in expected.items():
        assert str(inspect.signature(getattr(zelt.Builder, name))) == text, name
    b = zelt.Builder()
    assert str(inspect.signature(b.add_molecule)) == "(molecule, count)"
    assert zelt.build_system.__doc__.strip() == "Build a system from a recipe YAML file."
    assert str(inspect.signature(zelt.build_system)) == "(recipe_path)"


def test_box_argument_rules():
    with pytest.raises(ValueError, match="^Box size must be a list of 3 floats$"):
        zelt.Builder(box_size=[10.0, 10.0])
    with pytest.raises(ValueError, match="^Box size must be a list of 3 floats$"):
        zelt.Builder().set_cell([1, 2, 3, 4])
    with pytest.raises(TypeError):
        zelt.Builder(box_size="abc")
    with pytest.raises(TypeError):
        zelt.Builder().add_molecule_smiles("w", -1, "O")


@pytest.mark.parametrize(
    "setup, message",
    [
        (lambda b: None, "Build failed: No recipe"),
        (lambda b: (b.set_cell([20, 20, 20]), b.add_molecule_smiles("x", 1)), "Build failed: No template"),
        (lambda b: (b.set_density(1.0), b.add_molecule_smiles("x", 1)), "Build failed: No template for x"),
        (lambda b: (b.set_cell([20, 20, 20]), b.add_molecule_smiles("x", 1, "C1CC")),
         "Failed to parse SMILES for x: Failed to build graph: "),
        (lambda b: (b.set_cell([30, 30, 30]), b.add_polymer("p", 1, 3, "CC", head=5)),
         "Failed to resolve polymer indices for p: Head/Tail index out of bounds. Found 2 heavy atoms."),
    ],
)
def test_build_failures(setup, message):
    b = zelt.Builder()
    setup(b)
    with pytest.raises(RuntimeError) as info:
        b.build()
    assert str(info.value).startswith(message)


def test_nothing_built_yet():
    b = zelt.Builder()
    for call in (b.get_system, b.relax):
        with pytest.raises(RuntimeError, match="^System not built yet$"):
            call()


def test_cell_wins_over_density_and_repeated_builds_differ():
    np = requires("numpy")
    b = zelt.Builder(box_size=[30.0, 30.0, 30.0], density=0.8)
    b.add_molecule_smiles("water", 10, "O")
    first = b.build()
    assert first.n_atoms == 30
    assert first.get_volume() == pytest.approx(27000.0)
    pos = first.get_positions()
    assert (pos >= 0).all() and (pos < 30.0).all()
    second = b.build()
    assert second.get_bonds() == first.get_bonds()
    assert second.get_volume() == pytest.approx(27000.0)
    assert not np.allclose(second.get_positions(), pos)


def test_density_driven_cube():
    b = zelt.Builder(density=0.5)
    b.add_molecule_smiles("water", 20, "O")
    s = b.build()
    edge = (20 * WATER_MASS / (0.5 * 0.602214076)) ** (1.0 / 3.0)
    assert s.get_volume() == pytest.approx(edge**3, rel=1e-12)
    assert s.get_density() == pytest.approx(0.5, rel=1e-12)
    # The computed box is kept: a new density changes nothing until a cell is set.
    b.set_density(2.0)
    assert b.build().get_volume() == pytest.approx(edge**3, rel=1e-12)
    b.set_cell([10, 11, 12])
    assert b.build().get_volume() == pytest.approx(1320.0)


def test_empty_default_box():
    b = zelt.Builder()
    b.set_density(0.0)
    s = b.build()
    assert s.n_atoms == 0
    assert s.get_volume() == pytest.approx(8000.0)


def test_template_then_smiles_component_reuses_it():
    np = requires("numpy")
    b = zelt.Builder(box_size=[25, 25, 25])
    pos = np.array([[0.0, 0.0, 0.0, 9.0], [1.2, 0.0, 0.0, 9.0]])
    b.add_template("co", pos, ["C", "O"], [(0, 1, 3.0)])
    b.add_molecule_smiles("co", 5)
    s = b.build()
    assert s.n_atoms == 10
    assert s.get_bonds() == [(2 * k, 2 * k + 1, 3.0) for k in range(5)]


@pytest.mark.parametrize(
    "positions, elements, bonds",
    [
        ("list", ["C"], []),
        ("int", ["C", "C"], []),
        ("2cols", ["C", "C"], []),
        ("3d", ["C", "C"], []),
        ("ok", ["C"], []),
        ("ok", ["C", "C"], [(0, 2, 1.0)]),
    ],
)
def test_add_template_refusals_store_nothing(positions, elements, bonds):
    np = requires("numpy")
    arrays = {
        "list": [[0.0, 0.0, 0.0]],
        "int": np.zeros((2, 3), dtype=np.int32),
        "2cols": np.zeros((2, 2)),
        "3d": np.zeros((2, 3, 1)),
        "ok": np.zeros((2, 3)),
    }
    b = zelt.Builder(box_size=[20, 20, 20])
    with pytest.raises(ValueError):
        b.add_template("t", arrays[positions], elements, bonds)
    b.add_molecule_smiles("t", 1)
    with pytest.raises(RuntimeError, match="^Build failed: No template$"):
        b.build()


def test_polymer_chains_are_connected_and_capped():
    b = zelt.Builder(box_size=[60, 60, 60])
    b.add_polymer("pe", 3, 10, "*CC*")
    s = b.build()
    per_chain = 6 * 10 + 2
    assert s.n_atoms == 3 * per_chain
    bonds = s.get_bonds()
    assert len(bonds) == 3 * (per_chain - 1)
    assert _connected_components(s.n_atoms, bonds) == 3
    for i, j, _ in bonds:
        assert i // per_chain == j // per_chain


def test_get_system_hands_out_copies():
    b = zelt.Builder(box_size=[20, 20, 20])
    b.add_molecule_smiles("m", 2, "CC")
    built = b.build()
    got = b.get_system()
    got.stack(built, 0)
    assert got.n_atoms == 32
    assert b.get_system().n_atoms == 16


def test_relax_in_place_and_unwrapped(capsys):
    np = requires("numpy")
    b = zelt.Builder(box_size=[12, 12, 12])
    b.add_molecule_smiles("eth", 4, "CCO")
    b.build()
    before = b.get_system().get_positions()
    b.relax(steps=30, verbose=False)
    assert capsys.readouterr().out == ""
    after = b.get_system()
    assert not np.allclose(after.get_positions(), before)
    # Unwrapped: every bond is short, although molecules may cross the faces.
    pos = after.get_positions()
    for i, j, _ in after.get_bonds():
        assert np.linalg.norm(pos[i] - pos[j]) < 2.0
    with pytest.raises(ValueError):
        b.relax(cutoff=0.0)


def test_add_molecule_copies_the_template():
    b = zelt.Builder(box_size=[20, 20, 20])
    m = zelt.Molecule.from_smiles("C#N", name="hcn")
    b.add_molecule(m, 3)
    s = b.build()
    assert s.n_atoms == 9
    assert s.get_bonds()[0][2] == 3.0
    with pytest.raises(TypeError):
        b.add_molecule("not a molecule", 1)


def test_load_recipe_keeps_templates(tmp_path):
    recipe = write_text(
        tmp_path / "r.yaml",
        "system: {density: 0.0, cell_shape: [20, 20, 20]}\n"
        "components:\n"
        "  - {name: ne, role: ion, count: 4, input: {}}\n",
    )
    b = zelt.Builder()
    b.add_molecule(zelt.Molecule.from_smiles("[Ne]", name="ne"), 1)
    b.load_recipe(recipe)
    assert b.build().n_atoms == 4


def test_build_system_and_recipe_errors(tmp_path):
    missing = str(tmp_path / "missing.yaml")
    with pytest.raises(RuntimeError) as info:
        zelt.build_system(missing)
    assert str(info.value) == 'Failed to load recipe: Failed to read recipe file: "' + missing + '"'
    bad = write_text(tmp_path / "bad.yaml", "system: {cell_shape: [1, 2, 3]}\ncomponents: []\n")
    with pytest.raises(RuntimeError) as info:
        zelt.build_system(bad)
    assert str(info.value) == (
        'Failed to load recipe: Failed to parse YAML in recipe: "' + bad + '"\n'
        "Please check if all required fields (system, components, role, input) are present."
    )
    good = write_text(
        tmp_path / "good.yaml",
        "system:\n  density: 0.9\n"
        "components:\n"
        "  - {name: water, role: molecule, count: 8, input: {smiles: O}}\n"
        "  - {name: pe, role: polymer, input: {smiles: '*CC*'}, polymer_params: {degree: 4, n_chains: 2}}\n",
    )
    s = zelt.build_system(good)
    assert s.n_atoms == 8 * 3 + 2 * (6 * 4 + 2)
    assert s.get_density() == pytest.approx(0.9, rel=1e-9)
    no_template = write_text(
        tmp_path / "nt.yaml", "system: {density: 1.0}\ncomponents:\n  - {name: a, role: molecule, input: {file: a.mol2}}\n"
    )
    with pytest.raises(RuntimeError, match="^Build failed: No template for a$"):
        zelt.build_system(no_template)


def test_add_rdkit_mol():
    Chem = requires("rdkit.Chem")
    from rdkit.Chem import AllChem

    mol = Chem.AddHs(Chem.MolFromSmiles("O"))
    AllChem.EmbedMolecule(mol, randomSeed=3)
    b = zelt.Builder(box_size=[15, 15, 15])
    b.add_rdkit_mol("w", mol)
    b.add_molecule_smiles("w", 7)
    assert b.build().n_atoms == 21
    with pytest.raises(ValueError):
        b.add_rdkit_mol("bad", Chem.MolFromSmiles("O"))  # no conformer: RDKit's own error
