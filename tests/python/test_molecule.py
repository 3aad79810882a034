import inspect

import pytest

import zelt
from conftest import SMALL_MOL2, requires, write_text


def test_no_constructor():
    with pytest.raises(TypeError):
        zelt.Molecule()


@pytest.mark.parametrize(
    "name, text",
    [
        ("from_smiles", "(smiles, name=None)"),
        ("from_rdkit", "(mol, name=None)"),
        ("from_file", "(path, name=None, format=None)"),
        ("to_file", "(self, path)"),
        ("get_positions", "(self)"),
        ("relax", "(self, steps=None, threshold=None, verbose=True, num_threads=0, cutoff=6.0, history_size=10)"),
    ],
)
def test_signatures(name, text):
    if not hasattr(zelt.Molecule, name):
        pytest.skip(f"Molecule.{name} is not built yet")
    assert str(inspect.signature(getattr(zelt.Molecule, name))) == text


def test_from_file_mol2_and_name(tmp_path):
    path = write_text(tmp_path / "x.MOL2", SMALL_MOL2)
    m = zelt.Molecule.from_file(path)
    assert m.n_atoms == 3 and m.name == "MOL"
    assert zelt.Molecule.from_file(path, "acetal").name == "acetal"
    txt = write_text(tmp_path / "x.txt", SMALL_MOL2)
    assert zelt.Molecule.from_file(txt, format="MOL2").n_atoms == 3


@pytest.mark.parametrize(
    "filename, fmt, message",
    [("x.xyz", None, "Unsupported file format: xyz"), ("noext", None, "Unsupported file format: "),
     ("x.mol2", "PDB", "Unsupported file format: pdb")],
)
def test_from_file_unsupported(tmp_path, filename, fmt, message):
    path = write_text(tmp_path / filename, SMALL_MOL2)
    with pytest.raises(ValueError) as info:
        zelt.Molecule.from_file(path, format=fmt)
    assert str(info.value) == message


def test_from_file_errors(tmp_path):
    with pytest.raises(OSError, match="^Failed to read file: "):
        zelt.Molecule.from_file(str(tmp_path / "missing.xyz"))
    bad = write_text(tmp_path / "bad.mol2", "@<TRIPOS>ATOM\n1 C 0 0 x C\n")
    with pytest.raises(RuntimeError, match="^Failed to parse MOL2: invalid float literal$"):
        zelt.Molecule.from_file(bad)


def test_to_file(tmp_path):
    m = zelt.Molecule.from_file(write_text(tmp_path / "m.mol2", SMALL_MOL2), "named")
    bad = tmp_path / "out.pdb"
    with pytest.raises(ValueError, match="^Only .mol2 is supported for to_file currently$"):
        m.to_file(str(bad))
    assert not bad.exists()
    out = tmp_path / "out.MOL2"
    m.to_file(str(out))
    text = out.read_text()
    assert "named" not in text
    # A molecule is written in the 20 Å cube.
    assert "   20.0000    20.0000    20.0000    90.0000    90.0000    90.0000 1 1\n" in text
    back = zelt.Molecule.from_file(str(out))
    assert back.n_atoms == 3


def test_positions_are_copies(tmp_path):
    np = requires("numpy")
    m = zelt.Molecule.from_file(write_text(tmp_path / "m.mol2", SMALL_MOL2))
    p = m.get_positions()
    assert p.dtype == np.float64 and p.shape == (3, 3)
    p[:] = 0
    assert m.get_positions()[1, 0] == 1.5


def _embedded(smiles, hydrogens=False):
    Chem = requires("rdkit.Chem")
    from rdkit.Chem import AllChem

    mol = Chem.MolFromSmiles(smiles)
    if hydrogens:
        mol = Chem.AddHs(mol)
    assert AllChem.EmbedMolecule(mol, randomSeed=42) == 0
    return mol


def test_from_rdkit_atoms_bonds_positions(tmp_path):
    np = requires("numpy")
    plain = zelt.Molecule.from_rdkit(_embedded("CCO"))
    assert plain.n_atoms == 3 and plain.name == "MOL"
    with_h = _embedded("CCO", hydrogens=True)
    m = zelt.Molecule.from_rdkit(with_h, name="ethanol")
    assert m.n_atoms == 9 and m.name == "ethanol"
    assert np.array_equal(m.get_positions(), with_h.GetConformer().GetPositions())
    out = tmp_path / "eth.mol2"
    m.to_file(str(out))
    atom_lines = out.read_text().split("@<TRIPOS>ATOM\n")[1].split("@<TRIPOS>BOND")[0].splitlines()
    # Unassigned types are written as the element.
    assert [line.split()[5] for line in atom_lines] == [a.GetSymbol() for a in with_h.GetAtoms()]
    bond_lines = out.read_text().split("@<TRIPOS>BOND\n")[1].split("@<TRIPOS>CRYSIN")[0].splitlines()
    assert len(bond_lines) == 8


def test_from_rdkit_aromatic_bonds(tmp_path):
    benzene = _embedded("c1ccccc1")
    m = zelt.Molecule.from_rdkit(benzene)
    out = tmp_path / "b.mol2"
    m.to_file(str(out))
    bond_lines = out.read_text().split("@<TRIPOS>BOND\n")[1].split("@<TRIPOS>CRYSIN")[0].splitlines()
    assert [line.split()[3] for line in bond_lines] == ["ar"] * 6


def test_from_rdkit_without_conformer_passes_rdkit_error():
    Chem = requires("rdkit.Chem")
    with pytest.raises(ValueError, match="Bad Conformer Id"):
        zelt.Molecule.from_rdkit(Chem.MolFromSmiles("CC"))


class _Atom:
    def __init__(self, symbol):
        self.symbol = symbol

    def GetSymbol(self):
        return self.symbol


class _Bond:
    def __init__(self, i, j, order):
        self.values = (i, j, order)

    def GetBeginAtomIdx(self):
        return self.values[0]

    def GetEndAtomIdx(self):
        return self.values[1]

    def GetBondTypeAsDouble(self):
        return self.values[2]


class _Conformer:
    def __init__(self, positions):
        self.positions = positions

    def GetPositions(self):
        return self.positions


class _Mol:
    """Answers the same methods as an RDKit molecule."""

    def __init__(self, positions, symbols, bonds):
        self.conformer = _Conformer(positions)
        self.atoms = [_Atom(s) for s in symbols]
        self.bonds = [_Bond(*b) for b in bonds]

    def GetConformer(self):
        return self.conformer

    def GetAtoms(self):
        return self.atoms

    def GetBonds(self):
        return self.bonds


def test_duck_typed_molecule_and_strided_positions():
    np = requires("numpy")
    big = np.arange(24, dtype=np.float64).reshape(3, 8)
    view = big[:, ::2]  # not contiguous: read through its strides
    m = zelt.Molecule.from_rdkit(_Mol(view, ["C", "Cl", "H", "extra"], [(0, 1, 1.0), (1, 2, 2)]))
    assert m.n_atoms == 3
    assert m.get_positions().tolist() == view[:, :3].tolist()
    fortran = np.asfortranarray(np.array([[1.0, 2.0, 3.0], [4.0, 5.0, 6.0]]))
    assert zelt.Molecule.from_rdkit(_Mol(fortran, ["C", "O"], [])).get_positions().tolist() == fortran.tolist()


@pytest.mark.parametrize(
    "positions, symbols, bonds, error",
    [
        ("list", ["C"], [], TypeError),              # not an array
        ("int", ["C"], [], TypeError),               # wrong dtype
        ("1d", ["C"], [], TypeError),                # wrong dimensions
        ("2cols", ["C"], [], ValueError),            # fewer than 3 columns
        ("ok", ["C"], [], ValueError),               # fewer symbols than rows
        ("ok", ["C", 6], [], TypeError),             # a symbol that is not a str
        ("ok", ["C", "C"], [(0, -1, 1.0)], OverflowError),
        ("ok", ["C", "C"], [(0, 1, "x")], TypeError),
        ("ok", ["C", "C"], [(0, 2, 1.0)], ValueError),  # bond beyond the atoms
    ],
)
def test_duck_typed_failures(positions, symbols, bonds, error):
    np = requires("numpy")
    arrays = {
        "list": [[0.0, 0.0, 0.0]],
        "int": np.zeros((2, 3), dtype=np.int64),
        "1d": np.zeros(3),
        "2cols": np.zeros((2, 2)),
        "ok": np.zeros((2, 3)),
    }
    with pytest.raises(error):
        zelt.Molecule.from_rdkit(_Mol(arrays[positions], symbols, bonds))


def test_exceptions_of_the_methods_pass_through():
    class Broken:
        def GetConformer(self):
            raise KeyError("no conformer here")

    with pytest.raises(KeyError, match="no conformer here"):
        zelt.Molecule.from_rdkit(Broken())


def test_from_smiles_counts_names_and_failures():
    m = zelt.Molecule.from_smiles("CCO")
    assert (m.n_atoms, m.name) == (9, "MOL")
    assert zelt.Molecule.from_smiles("CCO", "ethanol").name == "ethanol"
    with pytest.raises(RuntimeError) as info:
        zelt.Molecule.from_smiles("C1CC")
    assert str(info.value).startswith("Failed to parse SMILES: Failed to build graph: ")
    with pytest.raises(RuntimeError) as info:
        zelt.Molecule.from_smiles("C(C")
    assert str(info.value).startswith("Failed to parse SMILES: Failed to parse SMILES 'C(C': ")


def _atom_ids(path):
    text = open(path).read()
    return [int(line.split()[0]) for line in text.split("@<TRIPOS>ATOM\n")[1].split("@<TRIPOS>BOND")[0].splitlines()]


def test_smiles_round_trip_through_mol2(tmp_path):
    m = zelt.Molecule.from_smiles("c1ccccc1O")
    out = str(tmp_path / "phenol.mol2")
    m.to_file(out)
    back = zelt.Molecule.from_file(out)
    assert back.n_atoms == m.n_atoms == 13 and back.name == "MOL"
    text = open(out).read()
    bond_types = [line.split()[3] for line in text.split("@<TRIPOS>BOND\n")[1].split("@<TRIPOS>CRYSIN")[0].splitlines()]
    assert bond_types.count("ar") == 6


def test_relax_renumbers_and_keeps_bonds(tmp_path, capfd):
    shifted = (
        "@<TRIPOS>ATOM\n"
        "5 C 0.0 0.0 0.0 C.3\n"
        "6 C 1.9 0.0 0.0 C.3\n"
        "7 O 2.4 1.3 0.0 O.3\n"
        "@<TRIPOS>BOND\n1 1 2 1\n2 2 3 1\n"
    )
    m = zelt.Molecule.from_file(write_text(tmp_path / "s.mol2", shifted))
    before = str(tmp_path / "before.mol2")
    m.to_file(before)
    assert _atom_ids(before) == [5, 6, 7]
    capfd.readouterr()
    assert m.relax(steps=50, verbose=False) is None
    assert capfd.readouterr().out == ""
    after = str(tmp_path / "after.mol2")
    m.to_file(after)
    assert _atom_ids(after) == [1, 2, 3]
    assert open(after).read().split("@<TRIPOS>BOND")[1] == open(before).read().split("@<TRIPOS>BOND")[1]


def test_relax_report_and_argument_rules(capfd):
    m = zelt.Molecule.from_smiles("CC")
    m.relax(steps=0)
    out = capfd.readouterr().out
    assert "Reason: Max-Iter" in out
    for bad in ({"verbose": None}, {"num_threads": None}, {"steps": -1}, {"history_size": -2}):
        with pytest.raises(TypeError):
            m.relax(**bad)
    with pytest.raises(ValueError):
        m.relax(cutoff=float("nan"))


def test_relax_changes_positions():
    np = requires("numpy")
    m = zelt.Molecule.from_smiles("CCCC")
    before = m.get_positions()
    m.relax(steps=200, verbose=False, threshold=1e-6)
    after = m.get_positions()
    assert after.shape == before.shape
    # Bond lengths stay chemically sensible after the minimisation.
    assert 1.4 < np.linalg.norm(after[0] - after[1]) < 1.7


def test_from_file_mol(tmp_path):
    mol = (
        "methanol\n  test\n\n"
        "  2  1  0  0  0  0  0  0  0  0999 V2000\n"
        "    0.0000    0.0000    0.0000 C   0  0  0  0  0  0  0  0  0  0  0  0\n"
        "    1.4000    0.0000    0.0000 O   0  0  0  0  0  0  0  0  0  0  0  0\n"
        "  1  2  1  0\n"
        "M  END\n"
    )
    m = zelt.Molecule.from_file(write_text(tmp_path / "m.txt", mol), format="mol")
    assert m.n_atoms == 2 and m.name == "MOL"
    with pytest.raises(RuntimeError, match="^Failed to parse MOL: V3000 is not supported yet, please use V2000$"):
        zelt.Molecule.from_file(write_text(tmp_path / "v3.mol", "x\n\n\n  0  0  0     0  0            999 V3000\n"))
