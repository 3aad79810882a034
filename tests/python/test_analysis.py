import inspect
import math
import sys

import pytest

import zelt
from conftest import write_text

ON_PYPY = sys.implementation.name == "pypy"


def mol2_text(atoms, cell=(20.0, 20.0, 20.0)):
    """MOL2 text for (element, residue name, x, y, z) tuples, no bonds."""
    lines = ["@<TRIPOS>MOLECULE", "test", f"{len(atoms)} 0 1 0 0", "SMALL", "NO_CHARGES", "", "@<TRIPOS>ATOM"]
    for k, (element, resname, x, y, z) in enumerate(atoms, start=1):
        lines.append(f"{k:7d} {element}{k:<5d} {x:10.4f} {y:10.4f} {z:10.4f} {element:<5s} 1 {resname:<8s} 0.0000")
    lines += ["@<TRIPOS>CRYSIN", f"{cell[0]:10.4f} {cell[1]:10.4f} {cell[2]:10.4f} 90.0000 90.0000 90.0000 1 1", ""]
    return "\n".join(lines)


@pytest.fixture
def ten_atoms(tmp_path):
    # Three waters and an ion in a 20 Å box.
    atoms = []
    for w in range(3):
        atoms += [("O", "SOL", 2.0 + 5 * w, 2.0, 2.0), ("H", "SOL", 2.9 + 5 * w, 2.0, 2.0),
                  ("H", "SOL", 2.0 + 5 * w, 2.9, 2.0)]
    atoms.append(("Na", "ION", 10.0, 10.0, 10.0))
    return zelt.System.from_file(write_text(tmp_path / "ten.mol2", mol2_text(atoms)))


def test_docstrings():
    assert zelt.compute_rdf.__doc__.splitlines()[-1] == "Compute RDF with smart query."
    assert zelt.compute_msd.__doc__.splitlines()[-1] == "Compute MSD with smart query."
    if not ON_PYPY:
        assert str(inspect.signature(zelt.compute_rdf)) == "(input, query, r_max=10.0, n_bins=200)"
        assert str(inspect.signature(zelt.compute_msd)) == "(input, query, max_lag=0, dt=1.0)"


# Refusals that come before any result array is made (so they hold under
# PyPy too): query failures and indices beyond the atoms.
@pytest.mark.parametrize(
    "call, message",
    [
        (lambda s: zelt.compute_rdf(s, "element"), "^Missing element name$"),
        (lambda s: zelt.compute_rdf(s, "element O with type x"), "^invalid digit found in string$"),
        (lambda s: zelt.compute_msd(s, "resname"), "^Missing residue name$"),
        (lambda s: zelt.compute_rdf(s, "index 0 to 99"), "^Index 10 is out of bounds for system with 10 atoms$"),
        (lambda s: zelt.compute_rdf(s, "element O with index 3 12"),
         "^Index 12 is out of bounds for system with 10 atoms$"),
        (lambda s: zelt.compute_msd(s, "index 9 10"), "^Index 10 is out of bounds for system with 10 atoms$"),
    ],
)
def test_refusals_on_a_system(ten_atoms, call, message):
    with pytest.raises(ValueError, match=message):
        call(ten_atoms)


def test_argument_conversion(ten_atoms):
    with pytest.raises(TypeError):
        zelt.compute_rdf(ten_atoms, "O", n_bins=-1)
    with pytest.raises(TypeError):
        zelt.compute_msd(ten_atoms, "O", max_lag=-1)
    with pytest.raises(TypeError):
        zelt.compute_rdf(ten_atoms, 5)


def test_system_is_one_frame(ten_atoms):
    np = pytest.importorskip("numpy")
    res = zelt.compute_msd(ten_atoms, "element O")
    assert set(res) == {"time", "msd"}
    assert res["time"].dtype == np.float64 and res["time"].tolist() == [0.0]
    assert res["msd"].tolist() == [0.0]
    r, g = zelt.compute_rdf(ten_atoms, "element O with element H", r_max=5.0, n_bins=10)
    assert r.dtype == np.float64 and g.dtype == np.float64 and r.shape == g.shape == (10,)
    # O-H distances: 0.9 Å twice per water (bin 1), and 4.1 / 4.19 Å to the
    # hydrogens of the neighbouring water (bin 8).
    shell = 4 / 3 * math.pi * (1.0 ** 3 - 0.5 ** 3)
    assert g[1] == pytest.approx(6 / ((6 / 8000.0) * shell * 3))
    assert np.count_nonzero(g) == 2


def atoms_list(ase, np, frames, symbols, box, seed=0, step=0.0):
    rng = np.random.default_rng(seed)
    n = len(symbols)
    pos = rng.random((n, 3)) * box
    out = []
    for _ in range(frames):
        out.append(ase.Atoms(symbols=symbols, positions=pos % box, cell=box, pbc=True))
        pos = pos + rng.normal(0.0, step, (n, 3))
    return out


def test_list_of_atoms_lag_times():
    np = pytest.importorskip("numpy")
    ase = pytest.importorskip("ase")
    frames = atoms_list(ase, np, 10, "OH2" * 4, [9.0, 9.0, 9.0], step=0.3)
    res = zelt.compute_msd(frames, "element O", max_lag=5, dt=2.0)
    assert res["time"].tolist() == [0.0, 2.0, 4.0, 6.0, 8.0, 10.0]
    assert len(res["msd"]) == 6 and res["msd"][0] == 0.0 and res["msd"][5] > 0


def test_descriptions_come_from_the_first_frame():
    np = pytest.importorskip("numpy")
    ase = pytest.importorskip("ase")
    a = ase.Atoms("OH", positions=[[1, 1, 1], [5, 1, 1]], cell=[10, 10, 10], pbc=True)
    b = ase.Atoms("HO", positions=[[2, 1, 1], [5, 1, 1]], cell=[10, 10, 10], pbc=True)
    res = zelt.compute_msd([a, b], "element O")
    assert res["msd"].tolist() == [0.0, 1.0]  # atom 0 moved 1 Å although b calls it H
    # ASE input: resname UNK selects every atom.
    r, g = zelt.compute_rdf(a, "resname UNK", r_max=5.0, n_bins=5)
    assert np.count_nonzero(g) == 1 and g[4] > 0


def test_three_value_cell_is_orthorhombic():
    np = pytest.importorskip("numpy")
    ase = pytest.importorskip("ase")
    # Two atoms 8 Å apart along x in a 9 Å box are 1 Å apart through it.
    box = ase.Atoms("OO", positions=[[0.5, 1, 1], [8.5, 1, 1]], cell=[9, 20, 20], pbc=True)
    assert len(box.get_cell().flatten()) == 9

    class Three:
        def __init__(self, atoms):
            self.atoms = atoms

        def get_positions(self):
            return self.atoms.get_positions()

        def get_cell(self):
            return np.array([9.0, 20.0, 20.0])  # flatten() gives 3 values

        def get_chemical_symbols(self):
            return self.atoms.get_chemical_symbols()

    r, g_nine = zelt.compute_rdf([box], "O", r_max=4.0, n_bins=4)
    r, g_three = zelt.compute_rdf([Three(box)], "O", r_max=4.0, n_bins=4)
    assert g_three[1] > 0 and g_three.tolist() == g_nine.tolist()


class Frame:
    """Any object with the three methods serves as a list item."""

    def __init__(self, positions, cell=(10.0, 10.0, 10.0), symbols=None):
        self.positions, self.cell = positions, list(cell)
        self.symbols = symbols if symbols is not None else ["O"] * len(positions)

    def get_positions(self):
        return self.positions

    def get_cell(self):
        return self

    def flatten(self):
        return self.cell

    def get_chemical_symbols(self):
        return self.symbols


def test_input_refusals():
    pytest.importorskip("ase")
    with pytest.raises(TypeError, match="^Input must be a System, ASE Atoms, or List\\[Atoms\\]$"):
        zelt.compute_rdf((Frame([[0, 0, 0]]),), "O")
    with pytest.raises(TypeError, match="^Input must be a System, ASE Atoms, or List\\[Atoms\\]$"):
        zelt.compute_msd("not a trajectory", "O")
    with pytest.raises(ValueError, match="no frames"):
        zelt.compute_rdf([], "O")
    with pytest.raises(ValueError, match="no frames"):
        zelt.compute_msd([], "O")
    # Fewer than 3 coordinates, in the first or a later frame.
    with pytest.raises(ValueError, match="^Atom 1 of frame 0 has 2 coordinates"):
        zelt.compute_msd([Frame([[0, 0, 0], [1, 2]])], "O")
    with pytest.raises(ValueError, match="^Atom 0 of frame 1 has 0 coordinates"):
        zelt.compute_msd([Frame([[0, 0, 0]]), Frame([[]])], "O")
    # A later frame with fewer atoms than the first.
    with pytest.raises(ValueError, match="^Frame 2 has 1 atoms, fewer than the 2 atoms of the first frame$"):
        zelt.compute_msd([Frame([[0, 0, 0], [1, 1, 1]])] * 2 + [Frame([[0, 0, 0]])], "O")
    # Text where a sequence is expected is a TypeError.
    with pytest.raises(TypeError, match="sequence"):
        zelt.compute_msd([Frame("xyz")], "O")
    with pytest.raises(TypeError, match="sequence"):
        zelt.compute_msd([Frame(["123"])], "O")
    with pytest.raises(TypeError, match="str"):
        zelt.compute_msd([Frame([[0, 0, 0]], symbols=[1])], "O")
    with pytest.raises(TypeError):
        zelt.compute_msd([Frame([["a", 0, 0]])], "O")
    with pytest.raises(TypeError):
        zelt.compute_msd([Frame([[0, 0, 0]], symbols="O")], "O")

    # Errors raised by the objects' own methods pass through unchanged.
    class Broken(Frame):
        def get_positions(self):
            raise KeyError("broken frame")

    with pytest.raises(KeyError, match="broken frame"):
        zelt.compute_msd([Frame([[0, 0, 0]]), Broken([])], "O")


def test_sequences_and_arrays_read_alike():
    np = pytest.importorskip("numpy")
    pytest.importorskip("ase")
    rng = np.random.default_rng(4)
    frames = [rng.random((6, 3)) * 10 for _ in range(4)]
    kinds = {
        "float64 array": lambda p: p,
        "Fortran-order float64": lambda p: np.asfortranarray(p),
        "strided float64 view": lambda p: np.repeat(p, 2, axis=1)[:, ::2],
        "extra columns": lambda p: np.hstack([p, np.full((len(p), 2), 7.0)]),
        "float32 array": lambda p: p.astype(np.float32),
        "nested lists": lambda p: p.tolist(),
        "tuples": lambda p: tuple(tuple(row) for row in p),
    }
    results = {}
    for name, kind in kinds.items():
        data = [Frame(kind(p)) for p in frames]
        results[name] = zelt.compute_msd(data, "O")["msd"]
    reference = results["float64 array"]
    for name, msd in results.items():
        if name == "float32 array":
            assert np.allclose(msd, reference, rtol=1e-5), name
        else:
            assert msd.tolist() == reference.tolist(), name
    # Frames with more atoms than the first are read up to its count.
    longer = [Frame(frames[0])] + [Frame(np.vstack([p, p])) for p in frames[1:]]
    assert zelt.compute_msd(longer, "O")["msd"].tolist() == reference.tolist()


def test_msd_matches_numpy_reference_with_unwrapping():
    np = pytest.importorskip("numpy")
    ase = pytest.importorskip("ase")
    rng = np.random.default_rng(11)
    box = np.array([12.0, 13.0, 14.0])
    n, n_frames = 40, 150
    true = np.cumsum(rng.normal(0.0, 0.6, (n_frames, n, 3)), axis=0) + rng.random((n, 3)) * box
    symbols = ["O" if k % 2 == 0 else "H" for k in range(n)]
    frames = [ase.Atoms(symbols=symbols, positions=p % box, cell=box, pbc=True) for p in true]
    res = zelt.compute_msd(frames, "element O", max_lag=100, dt=0.25)

    # Reference: unwrap by minimum-image steps, then every origin of every lag.
    wrapped = np.array([f.get_positions() for f in frames])[:, 0::2]
    steps = np.diff(wrapped, axis=0)
    steps -= box * np.round(steps / box)
    unwrapped = np.concatenate([wrapped[:1], wrapped[:1] + np.cumsum(steps, axis=0)])
    # The reference recovers the true walk (up to the wrap of frame 0).
    assert np.allclose(unwrapped - unwrapped[0], true[:, 0::2] - true[0, 0::2])
    expected = [0.0] + [np.mean(np.sum((unwrapped[t:] - unwrapped[:-t]) ** 2, axis=2)) for t in range(1, 101)]
    assert res["time"].tolist() == [0.25 * t for t in range(101)]
    assert np.allclose(res["msd"], expected, rtol=1e-12, atol=0)


def test_rdf_matches_mdanalysis_interrdf():
    np = pytest.importorskip("numpy")
    ase = pytest.importorskip("ase")
    pytest.importorskip("MDAnalysis")
    import warnings

    from MDAnalysis import Universe
    from MDAnalysis.analysis.rdf import InterRDF
    from MDAnalysis.coordinates.memory import MemoryReader

    # A random orthorhombic trajectory whose box changes from frame to frame;
    # coordinates are float32 values, as MDAnalysis stores them.
    rng = np.random.default_rng(5)
    n_frames, n_o, n_h = 12, 150, 300
    boxes = np.array([[22.5, 25.0, 28.25], [23.0, 24.5, 28.0], [22.75, 25.25, 27.5]] * 4)
    pos = (rng.random((n_frames, n_o + n_h, 3)) * boxes[:, None, :]).astype(np.float32)
    symbols = ["O"] * n_o + ["H"] * n_h
    frames = [ase.Atoms(symbols=symbols, positions=p.astype(np.float64), cell=b, pbc=True)
              for p, b in zip(pos, boxes)]
    dims = np.hstack([boxes, np.full((n_frames, 3), 90.0)]).astype(np.float32)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        u = Universe.empty(n_o + n_h, trajectory=True)
        u.load_new(pos, format=MemoryReader, order="fac", dimensions=dims)
    oxygens, hydrogens = u.atoms[:n_o], u.atoms[n_o:]
    n_bins, r_max = 100, 10.0
    volume = np.mean(np.prod(boxes, axis=1))
    edges = np.linspace(0.0, r_max, n_bins + 1)
    shells = 4.0 / 3.0 * np.pi * np.diff(edges ** 3)

    # MDAnalysis: count / (F · shell · N / V) with N the number of pairs its
    # groups form (n_A · n_B, less n_A when exclusion_block=(1, 1) removes
    # each atom's pair with itself). zelt: count / ((n_B / V) · shell · n_A · F),
    # with no correction for an atom in both groups. With equal counts:
    # g_zelt = g_mda · N_mda / (n_A · n_B).
    cases = [
        ("element O with element H", oxygens, hydrogens, None, n_o * n_h, 1.0),
        ("element O", oxygens, oxygens, (1, 1), n_o * n_o, (n_o - 1) / n_o),
    ]
    for query, g1, g2, block, pairs, factor in cases:
        r, g = zelt.compute_rdf(frames, query, r_max=r_max, n_bins=n_bins)
        assert np.allclose(r, 0.5 * (edges[1:] + edges[:-1]), rtol=0, atol=1e-12)
        ref = InterRDF(g1, g2, nbins=n_bins, range=(0.0, r_max), exclusion_block=block).run()
        count_mda = ref.results.count
        count_zelt = g * (len(g2) / volume) * shells * len(g1) * n_frames
        assert np.allclose(count_zelt, np.round(count_zelt), atol=1e-6)
        count_zelt = np.round(count_zelt)
        # float32 distances put a few pairs on the other side of a bin edge.
        assert count_zelt.sum() > 50000
        assert np.abs(count_zelt - count_mda).sum() <= 1e-3 * count_mda.sum()
        same = count_zelt == count_mda
        assert same.mean() > 0.8
        assert np.allclose(g[same], ref.results.rdf[same] * factor, rtol=1e-9, atol=0)
        assert abs(np.mean(g[50:]) - factor) < 0.02
