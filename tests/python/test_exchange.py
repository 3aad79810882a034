import sys

import pytest

import zelt
from conftest import write_text

ON_PYPY = sys.implementation.name == "pypy"


def mol2(atoms, bonds=(), cell=(10.0, 10.0, 10.0), ids=None):
    """MOL2 text: atoms as (type, x, y, z), bonds as (id_i, id_j, type) with 1-based ids."""
    ids = ids or list(range(1, len(atoms) + 1))
    lines = ["@<TRIPOS>MOLECULE", "mol", f"{len(atoms)} {len(bonds)} 1 0 0", "SMALL", "NO_CHARGES", "",
             "@<TRIPOS>ATOM"]
    for k, (atom_type, x, y, z) in zip(ids, atoms):
        lines.append(f"{k:7d} A{k:<4d} {x:10.4f} {y:10.4f} {z:10.4f} {atom_type:<6s} 1 MOL 0.0000")
    lines.append("@<TRIPOS>BOND")
    for n, (i, j, t) in enumerate(bonds, start=1):
        lines.append(f"{n:6d} {i:6d} {j:6d} {t}")
    lines += ["@<TRIPOS>CRYSIN", f"{cell[0]:10.4f} {cell[1]:10.4f} {cell[2]:10.4f} 90.0000 90.0000 90.0000 1 1", ""]
    return "\n".join(lines)


@pytest.fixture
def make_system(tmp_path):
    def make(*args, **kwargs):
        return zelt.System.from_file(write_text(tmp_path / "s.mol2", mol2(*args, **kwargs)))

    return make


def test_registered_without_importing_the_libraries():
    assert zelt.from_ase.__doc__.splitlines()[-1] == "Create a System object from an ASE Atoms object."
    assert zelt.from_rdkit.__doc__.splitlines()[-1] == "Create a System object from an RDKit Mol object."
    assert callable(zelt.System.to_ase) and callable(zelt.System.to_rdkit)
    # Importing zelt does not import ASE or RDKit.
    import subprocess

    code = "import sys, zelt; print('ase' in sys.modules, 'rdkit' in sys.modules)"
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.split() == ["False", "False"]


def test_to_ase_symbols_pbc_cell_positions(make_system):
    np = pytest.importorskip("numpy")
    pytest.importorskip("ase")
    # Elements come from the atom types: "CL", "c", "N.3" and "na".
    s = make_system([("CL", 1, 2, 3), ("c", 12.5, -1, 0), ("N.3", 0, 0, 0), ("na", 4, 4, 4)],
                    cell=(10.0, 12.0, 14.0))
    atoms = s.to_ase()
    assert atoms.get_chemical_symbols() == ["Cl", "C", "N", "Na"]
    assert atoms.pbc.tolist() == [True, True, True]
    assert np.allclose(atoms.get_cell()[:], [[10, 0, 0], [0, 12, 0], [0, 0, 14]], atol=1e-12)
    # Positions as stored: not wrapped into the cell.
    assert atoms.get_positions().tolist() == s.get_positions().tolist()


def test_from_ase_one_atoms_and_a_list():
    np = pytest.importorskip("numpy")
    ase = pytest.importorskip("ase")
    a = ase.Atoms("H2O", positions=[[0, 0, 0], [0.96, 0, 0], [-0.24, 0.93, 0]],
                  cell=[[9, 0, 0], [1, 8, 0], [0, 0, 7]], pbc=True)
    b = ase.Atoms("NaClK", positions=[[1, 1, 1], [3, 3, 3], [5, 5, 5]], cell=[20, 20, 20], pbc=True)
    for source in (a, [a, b]):
        s = zelt.from_ase(source)
        assert s.n_atoms == 3
        assert s.get_positions().tolist() == a.get_positions().tolist()
        assert s.get_bonds() == []
        back = s.to_ase()
        assert back.get_chemical_symbols() == ["H", "H", "O"]
        assert back.get_cell()[:].tolist() == a.get_cell()[:].tolist()
        # Residue name UNK for every atom.
        assert zelt.compute_rdf(s, "resname unk", r_max=2.0, n_bins=2)[1].any()
        assert not zelt.compute_rdf(s, "resname mol", r_max=2.0, n_bins=2)[1].any()
    with pytest.raises(ValueError, match="^Empty ASE object$"):
        zelt.from_ase([])
    with pytest.raises(TypeError, match="^Input must be a System, ASE Atoms, or List\\[Atoms\\]$"):
        zelt.from_ase((a,))


def test_from_ase_cells_and_short_symbol_lists():
    pytest.importorskip("ase")

    class Frame:
        def __init__(self, cell, symbols):
            self.cell, self.symbols = cell, symbols

        def get_positions(self):
            return [[0.0, 0.0, 0.0], [1.0, 2.0, 3.0]]

        def get_cell(self):
            return self

        def flatten(self):
            return self.cell

        def get_chemical_symbols(self):
            return self.symbols

    def cell_of(s):
        return [row.tolist() for row in s.to_ase().get_cell()[:]]

    assert cell_of(zelt.from_ase([Frame([5.0, 6.0, 7.0], ["O", "H"])])) == [[5, 0, 0], [0, 6, 0], [0, 0, 7]]
    assert cell_of(zelt.from_ase([Frame([1.0] * 4, ["O", "H"])])) == [[0, 0, 0], [0, 0, 0], [0, 0, 0]]
    with pytest.raises(ValueError, match="1 chemical symbols for 2 positions"):
        zelt.from_ase([Frame([5.0, 6.0, 7.0], ["O"])])


def test_from_ase_on_a_system_drops_bonds(make_system):
    pytest.importorskip("ase")
    s = make_system([("C", 1, 1, 1), ("O", 2.2, 1, 1)], bonds=[(1, 2, "2")])
    copy = zelt.from_ase(s)
    assert copy.n_atoms == 2 and copy.get_bonds() == []


def test_to_rdkit_bond_types_and_unwrapped_conformer(make_system):
    np = pytest.importorskip("numpy")
    pytest.importorskip("rdkit")
    from rdkit import Chem

    # A chain across the x boundary of a 10 Å box: C(9.6) - C(0.8) - N(2.0)
    # with a triple bond, plus an aromatic, a double and an "am" bond.
    s = make_system(
        [("C", 9.6, 5, 5), ("C", 0.8, 5, 5), ("N", 2.0, 5, 5), ("C", 5, 5, 5), ("C", 5, 6.4, 5), ("O", 5, 7.6, 5),
         ("C", 5, 2, 2)],
        bonds=[(1, 2, "1"), (2, 3, "3"), (4, 5, "ar"), (5, 6, "2"), (4, 7, "am")],
    )
    m = s.to_rdkit()
    assert isinstance(m, Chem.RWMol)
    assert [a.GetSymbol() for a in m.GetAtoms()] == ["C", "C", "N", "C", "C", "O", "C"]
    types = [(b.GetBeginAtomIdx(), b.GetEndAtomIdx(), b.GetBondType()) for b in m.GetBonds()]
    bt = Chem.BondType
    assert types == [(0, 1, bt.SINGLE), (1, 2, bt.TRIPLE), (3, 4, bt.AROMATIC), (4, 5, bt.DOUBLE),
                     (3, 6, bt.AROMATIC)]
    assert m.GetNumConformers() == 1
    pos = m.GetConformer().GetPositions()
    # Unwrapped around the first atom: the chain is whole, the system unchanged.
    assert pos[:3, 0].tolist() == pytest.approx([9.6, 10.8, 12.0])
    assert np.allclose(pos[3:], s.get_positions()[3:], rtol=0, atol=1e-12)
    assert s.get_positions()[1].tolist() == [0.8, 5, 5]


def test_to_rdkit_passes_element_text_and_rdkit_errors(make_system):
    pytest.importorskip("rdkit")
    s = make_system([("CL", 1, 1, 1)])
    with pytest.raises(RuntimeError, match="Element 'CL' not found"):
        s.to_rdkit()


def test_to_rdkit_refuses_a_bond_to_a_missing_atom(make_system):
    # Atom ids 1 and 5 (indices 0 and 4): a bond to id 2 names index 1,
    # which no atom has. Refused before RDKit is needed.
    s = make_system([("C", 1, 1, 1), ("C", 2.5, 1, 1)], bonds=[(1, 2, "1")], ids=[1, 5])
    with pytest.raises(ValueError, match="^Bond \\(0, 1\\) refers to atom index 1, which no atom of the system has$"):
        s.to_rdkit()


def test_from_rdkit_cell_and_round_trip():
    np = pytest.importorskip("numpy")
    pytest.importorskip("rdkit")
    from rdkit import Chem
    from rdkit.Chem import AllChem

    mol = Chem.AddHs(Chem.MolFromSmiles("CC#N"))
    assert AllChem.EmbedMolecule(mol, randomSeed=7) == 0
    s = zelt.from_rdkit(mol)
    assert s.n_atoms == mol.GetNumAtoms()
    assert np.allclose(s.get_positions(), mol.GetConformer().GetPositions())
    assert (1, 2, 3.0) in s.get_bonds()
    if hasattr(s, "get_volume"):
        assert s.get_volume() == pytest.approx(8000.0)
    # The 20 Å cube whatever the molecule's size, and back to RDKit with the
    # triple bond kept.
    back = s.to_rdkit()
    assert back.GetBondBetweenAtoms(1, 2).GetBondType() == Chem.BondType.TRIPLE
    assert [a.GetSymbol() for a in back.GetAtoms()] == [a.GetSymbol() for a in mol.GetAtoms()]
    ase = pytest.importorskip("ase")
    assert s.to_ase().get_cell()[:].tolist() == [[20, 0, 0], [0, 20, 0], [0, 0, 20]]
