import inspect
import math
import random

import pytest

import zelt

ONE_CARBON_DENSITY = 12.011 / (1000.0 * 0.602214076)


def make_system(tmp_path, positions, cell=(10.0, 10.0, 10.0, 90.0, 90.0, 90.0), bonds=(), elements=None, name="g"):
    """A System read from a MOL2 file with the given atoms (full precision),
    bonds (0-based pairs) and cell parameters (a, b, c, alpha, beta, gamma)."""
    elements = elements or ["C"] * len(positions)
    lines = ["@<TRIPOS>MOLECULE", name, f"{len(positions)} {len(bonds)} 1 0 0", "SMALL", "NO_CHARGES", "",
             "@<TRIPOS>ATOM"]
    for k, (p, e) in enumerate(zip(positions, elements)):
        lines.append(f"{k + 1} {e}{k + 1} {p[0]!r} {p[1]!r} {p[2]!r} {e} 1 RES 0.0")
    lines.append("@<TRIPOS>BOND")
    for k, (i, j) in enumerate(bonds):
        lines.append(f"{k + 1} {i + 1} {j + 1} 1")
    lines.append("@<TRIPOS>CRYSIN")
    lines.append(" ".join(repr(float(v)) for v in cell) + " 1 1")
    path = tmp_path / f"{name}_{random.getrandbits(48):x}.mol2"
    path.write_text("\n".join(lines) + "\n")
    return zelt.System.from_file(str(path))


def written(system, tmp_path):
    """(positions, cell parameters) as the MOL2 writer prints them (4 decimals);
    needs no NumPy."""
    path = tmp_path / f"out_{random.getrandbits(48):x}.mol2"
    system.to_file(str(path))
    section, positions, cell = None, [], None
    for line in path.read_text().splitlines():
        if line.startswith("@<TRIPOS>"):
            section = line[9:]
        elif section == "ATOM" and line.strip():
            positions.append(tuple(float(t) for t in line.split()[2:5]))
        elif section == "CRYSIN" and line.strip():
            cell = tuple(float(t) for t in line.split()[:6])
    return positions, cell


def cell_matrix(a, b, c, alpha, beta, gamma):
    """Rows a, b, c with a along x and b in the xy plane."""
    ca, cb = math.cos(math.radians(alpha)), math.cos(math.radians(beta))
    cg, sg = math.cos(math.radians(gamma)), math.sin(math.radians(gamma))
    cx = c * cb
    cy = c * (ca - cb * cg) / sg
    return [[a, 0.0, 0.0], [b * cg, b * sg, 0.0], [cx, cy, math.sqrt(c * c - cx * cx - cy * cy)]]


def random_positions(rng, cell, n, lo=-0.5, hi=1.5):
    """Random points at fractional coordinates in [lo, hi): partly outside the
    cell, as unwrapped coordinates are."""
    out = []
    for _ in range(n):
        f = [rng.uniform(lo, hi) for _ in range(3)]
        out.append(tuple(sum(f[r] * cell[r][c] for r in range(3)) for c in range(3)))
    return out


def min_height(cell):
    def cross(u, v):
        return [u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]]

    a, b, c = cell
    volume = abs(sum(x * y for x, y in zip(a, cross(b, c))))
    return min(volume / math.dist((0, 0, 0), cross(u, v)) for u, v in ((b, c), (c, a), (a, b)))


# ---- signatures --------------------------------------------------------------

@pytest.mark.parametrize("name, signature", [
    ("get_all_distances", "(self, mic=False)"),
    ("get_center_of_mass", "(self)"),
    ("get_angles", "(self, indices, mic=False)"),
    ("get_dihedrals", "(self, indices, mic=False)"),
    ("wrap", "(self)"),
    ("unwrap", "(self)"),
    ("get_neighbor_list", "(self, cutoff)"),
    ("get_volume", "(self)"),
    ("get_total_mass", "(self)"),
    ("get_density", "(self)"),
    ("stack", "(self, other, axis)"),
])
def test_text_signatures(name, signature):
    assert str(inspect.signature(getattr(zelt.System, name))) == signature


# ---- distances -----------------------------------------------------------------

def test_distance_matrix_layout_and_minimum_image(tmp_path):
    np = pytest.importorskip("numpy")
    s = make_system(tmp_path, [(0.5, 1.0, 1.0), (9.5, 1.0, 1.0), (0.5, 4.0, 5.0)])
    plain = s.get_all_distances()
    mic = s.get_all_distances(mic=True)
    for m in (plain, mic):
        assert m.dtype == np.float64 and m.shape == (3, 3) and m.flags["C_CONTIGUOUS"] and m.flags["WRITEABLE"]
        assert m.diagonal().tolist() == [0.0, 0.0, 0.0]
    assert plain[0, 1] == 9.0
    assert mic[0, 1] == pytest.approx(1.0, abs=1e-12)
    assert mic[1, 2] == pytest.approx(math.sqrt(1 + 9 + 16), abs=1e-12)
    assert np.array_equal(s.get_all_distances(True), mic)
    # A new array each call: changing one changes nothing else.
    mic[0, 1] = 42.0
    assert s.get_all_distances(mic=True)[0, 1] == pytest.approx(1.0)


def test_distance_matrix_of_an_empty_system(tmp_path):
    np = pytest.importorskip("numpy")
    s = make_system(tmp_path, [])
    for mic in (False, True):
        m = s.get_all_distances(mic)
        assert m.shape == (0, 0) and m.dtype == np.float64


@pytest.mark.parametrize("cellpar", [(15.0, 15.0, 15.0, 90.0, 90.0, 90.0), (14.0, 15.0, 16.0, 82.0, 97.0, 104.0)],
                         ids=["cubic", "triclinic"])
def test_distances_against_ase(tmp_path, cellpar):
    np = pytest.importorskip("numpy")
    ase = pytest.importorskip("ase")
    rng = random.Random(hash(cellpar) & 0xFFFF)
    cell = cell_matrix(*cellpar)
    positions = random_positions(rng, cell, 250)
    s = make_system(tmp_path, positions, cellpar)
    atoms = ase.Atoms("C250", positions=positions, cell=cell, pbc=True)
    ours = s.get_all_distances(mic=True)
    theirs = atoms.get_all_distances(mic=True)
    # Rounding fractional coordinates gives the shortest image for every
    # displacement shorter than half the thinnest cell height; otherwise it
    # may give a longer one, never a shorter one.
    short = ours < min_height(cell) / 2 - 1e-9
    if cellpar[3:] == (90.0, 90.0, 90.0):
        np.testing.assert_allclose(ours, theirs, rtol=0, atol=1e-9)
    else:
        assert short.mean() > 0.3
        np.testing.assert_allclose(ours[short], theirs[short], rtol=0, atol=1e-9)
        assert (ours >= theirs - 1e-9).all()
    np.testing.assert_allclose(s.get_all_distances(), atoms.get_all_distances(), rtol=0, atol=1e-9)


# ---- neighbour list ----------------------------------------------------------------

def test_neighbor_list_is_strict_ordered_and_typed(tmp_path):
    # 0-1 exactly 2 Å apart; 0-2 1.5 Å through the z face; 0-3 1.5 Å.
    s = make_system(tmp_path, [(1.0, 1.0, 1.0), (3.0, 1.0, 1.0), (1.0, 1.0, 9.5), (1.0, 2.5, 1.0)])
    assert s.get_neighbor_list(2.0) == [(0, 2, pytest.approx(1.5)), (0, 3, pytest.approx(1.5))]
    wider = s.get_neighbor_list(cutoff=2.0000001)
    assert [(i, j) for i, j, _ in wider] == [(0, 1), (0, 2), (0, 3)]
    assert wider[0][2] == pytest.approx(2.0)
    for i, j, d in s.get_neighbor_list(3):
        assert type(i) is int and type(j) is int and type(d) is float and i < j
    pairs = s.get_neighbor_list(3.0)
    assert pairs == sorted(pairs) and len(pairs) == 6
    assert make_system(tmp_path, []).get_neighbor_list(3.0) == []


@pytest.mark.parametrize("cellpar", [(30.0, 30.0, 30.0, 90.0, 90.0, 90.0), (28.0, 30.0, 32.0, 80.0, 96.0, 105.0)],
                         ids=["cubic", "triclinic"])
def test_neighbor_list_against_ase(tmp_path, cellpar):
    np = pytest.importorskip("numpy")
    ase = pytest.importorskip("ase")
    neighborlist = pytest.importorskip("ase.neighborlist")
    rng = random.Random(sum(map(int, cellpar)))
    cell = cell_matrix(*cellpar)
    n = 2500  # enough for the grid search to be used
    positions = random_positions(rng, cell, n)
    s = make_system(tmp_path, positions, cellpar)
    atoms = ase.Atoms(f"C{n}", positions=positions, cell=cell, pbc=True)
    for cutoff in (2.0, 4.5):
        i, j, d = neighborlist.neighbor_list("ijd", atoms, cutoff)
        keep = i < j
        theirs = sorted(zip(i[keep].tolist(), j[keep].tolist(), d[keep].tolist()))
        ours = s.get_neighbor_list(cutoff)
        assert len(ours) > n // 10
        assert [(a, b) for a, b, _ in ours] == [(a, b) for a, b, _ in theirs]
        np.testing.assert_allclose([x[2] for x in ours], [x[2] for x in theirs], rtol=0, atol=1e-9)


def test_neighbor_list_matches_the_distance_matrix(tmp_path):
    np = pytest.importorskip("numpy")
    cellpar = (12.0, 13.0, 14.0, 75.0, 100.0, 110.0)
    positions = random_positions(random.Random(5), cell_matrix(*cellpar), 600)
    s = make_system(tmp_path, positions, cellpar)
    matrix = s.get_all_distances(mic=True)
    for cutoff in (2.5, 6.0):  # the second is too long for the grid: every pair is tested
        iu, ju = np.triu_indices(len(positions), 1)
        inside = matrix[iu, ju] < cutoff
        want = list(zip(iu[inside].tolist(), ju[inside].tolist(), matrix[iu, ju][inside].tolist()))
        assert s.get_neighbor_list(cutoff) == want


# ---- angles and dihedrals ----------------------------------------------------------

ANGLE_ATOMS = [(1.0, 0.0, 0.0), (0.0, 0.0, 0.0), (0.0, 1.0, 0.0), (9.5, 0.0, 0.0)]


def test_angles(tmp_path):
    s = make_system(tmp_path, ANGLE_ATOMS)
    assert s.get_angles([[0, 1, 2]]) == [pytest.approx(90.0, abs=1e-12)]
    assert s.get_angles([]) == []
    assert s.get_angles(()) == []
    result = s.get_angles(((0, 1, 2), [2, 1, 0], range(3)))
    assert type(result) is list and len(result) == 3 and all(type(x) is float for x in result)
    [nan] = s.get_angles([(1, 1, 2)])  # the first atom sits on the vertex
    assert math.isnan(nan)
    assert s.get_angles([(3, 1, 0)], mic=True) == [pytest.approx(180.0, abs=1e-12)]
    assert s.get_angles([(3, 1, 0)]) == [pytest.approx(0.0, abs=1e-6)]


@pytest.mark.parametrize("l, want", [((1, 1, 0), 0.0), ((-1, 1, 0), 180.0), ((0, 1, 1), 90.0), ((0, 1, -1), -90.0)])
def test_dihedral_sign_convention(tmp_path, l, want):
    s = make_system(tmp_path, [(1.0, 0.0, 0.0), (0.0, 0.0, 0.0), (0.0, 1.0, 0.0), l])
    for mic in (False, True):
        [got] = s.get_dihedrals([[0, 1, 2, 3]], mic)
        assert got == pytest.approx(want, abs=1e-12)


def test_angle_indices_from_numpy(tmp_path):
    np = pytest.importorskip("numpy")
    s = make_system(tmp_path, ANGLE_ATOMS)
    assert s.get_angles(np.array([[0, 1, 2]], dtype=np.uint32)) == s.get_angles([[0, 1, 2]])
    assert s.get_dihedrals(np.array([[0, 1, 2, 3]])) == s.get_dihedrals([[0, 1, 2, 3]])


@pytest.mark.parametrize("method, indices, pattern", [
    ("get_angles", "012", "indices.*sequence of sequences.*str"),
    ("get_angles", 5, "indices.*sequence of sequences.*int"),
    ("get_angles", ["012"], "indices.*item 0.*str"),
    ("get_angles", [(0, 1, 2), (0, 1)], "indices.*item 1.*length 3.*length 2"),
    ("get_dihedrals", [(0, 1, 2)], "indices.*item 0.*length 4.*length 3"),
    ("get_angles", [(0, 1, 2.0)], "indices.*item 0.*ints.*float"),
    ("get_angles", [(0, 1, -1)], "indices.*item 0.*-1"),
    ("get_angles", [(0, 1, 2 ** 64)], "indices.*item 0.*18446744073709551616"),
])
def test_index_conversion_errors(tmp_path, method, indices, pattern):
    s = make_system(tmp_path, ANGLE_ATOMS)
    with pytest.raises(TypeError, match=pattern):
        getattr(s, method)(indices)


def test_indices_out_of_bounds(tmp_path):
    s = make_system(tmp_path, ANGLE_ATOMS)
    with pytest.raises(ValueError, match=r"^Index 4 is out of bounds for system with 4 atoms$"):
        s.get_angles([(0, 1, 2), (4, 1, 2)])
    with pytest.raises(ValueError, match=r"^Index 9 is out of bounds for system with 4 atoms$"):
        s.get_dihedrals([(0, 1, 2, 9)])


def test_flags_and_cutoff_types(tmp_path):
    s = make_system(tmp_path, ANGLE_ATOMS)
    with pytest.raises(TypeError):
        s.get_angles([(0, 1, 2)], mic="yes")
    with pytest.raises(TypeError):
        s.get_neighbor_list("3")
    with pytest.raises(TypeError):
        s.get_neighbor_list()
    with pytest.raises(TypeError):
        s.get_angles(indices=[(0, 1, 2)], indices2=[])


# ---- wrap, unwrap, stack ------------------------------------------------------------

def test_wrap_into_the_cell(tmp_path):
    # A cell read from CRYSIN angles of 90 degrees is a cube only to within
    # rounding (cos 90° is not exactly 0 in floating point), so no coordinate
    # here sits exactly on a face.
    s = make_system(tmp_path, [(10.5, -1.0, 25.0), (-1.0, 3.0, 9.999), (25.0, 0.5, -10.25)])
    assert s.wrap() is None
    positions, _ = written(s, tmp_path)
    assert positions == [(0.5, 9.0, 5.0), (9.0, 3.0, 9.999), (5.0, 0.5, 9.75)]


def test_unwrap_along_a_chain(tmp_path):
    # Bonds 0-1 and 1-2: atom 2 is placed next to the new position of atom 1.
    s = make_system(tmp_path, [(9.0, 0.0, 0.0), (1.0, 0.0, 0.0), (3.0, 0.0, 0.0), (7.0, 7.0, 7.0)],
                    bonds=[(0, 1), (1, 2)])
    assert s.unwrap() is None
    positions, _ = written(s, tmp_path)
    assert positions == [(9.0, 0.0, 0.0), (11.0, 0.0, 0.0), (13.0, 0.0, 0.0), (7.0, 7.0, 7.0)]
    assert s.get_bonds() == [(0, 1, 1.0), (1, 2, 1.0)]


def test_stack_offsets_and_cell(tmp_path):
    s = make_system(tmp_path, [(1.0, 2.0, 3.0), (4.0, 5.0, 6.0), (7.0, 8.0, 9.0)], cell=(10.0, 12.0, 14.0, 90, 90, 90),
                    bonds=[(0, 1), (1, 2)])
    other = make_system(tmp_path, [(0.5, 0.5, 0.5), (1.5, 1.5, 1.5)], cell=(10.0, 12.0, 6.0, 90, 90, 90),
                        bonds=[(0, 1)], elements=["O", "H"])
    other_before = written(other, tmp_path)
    assert s.stack(other, 2) is None
    assert s.n_atoms == 5
    assert other.n_atoms == 2 and written(other, tmp_path) == other_before
    positions, cell = written(s, tmp_path)
    assert positions[3:] == [(0.5, 0.5, 14.5), (1.5, 1.5, 15.5)]
    assert cell == (10.0, 12.0, 20.0, 90.0, 90.0, 90.0)
    assert s.get_bonds() == [(0, 1, 1.0), (1, 2, 1.0), (3, 4, 1.0)]
    assert s.get_volume() == pytest.approx(10 * 12 * 20)
    assert s.get_total_mass() == pytest.approx(3 * 12.011 + 15.999 + 1.008)

    s.stack(other=other, axis=0)
    assert s.n_atoms == 7
    positions, cell = written(s, tmp_path)
    assert positions[5:] == [(10.5, 0.5, 0.5), (11.5, 1.5, 1.5)]
    assert cell[:3] == (20.0, 12.0, 20.0)


def test_stack_with_a_copy_of_itself(tmp_path):
    atoms = [(1.0, 2.0, 3.0), (4.0, 5.0, 6.0), (7.0, 8.0, 9.0)]
    s = make_system(tmp_path, atoms, bonds=[(0, 1), (1, 2)])
    s.stack(make_system(tmp_path, atoms, bonds=[(0, 1), (1, 2)]), 2)
    positions, cell = written(s, tmp_path)
    assert positions == atoms + [(x, y, z + 10.0) for x, y, z in atoms]
    assert s.get_bonds()[2:] == [(3, 4, 1.0), (4, 5, 1.0)]
    assert cell[:3] == (10.0, 10.0, 20.0)


def test_stack_failures_change_nothing(tmp_path):
    s = make_system(tmp_path, [(1.0, 2.0, 3.0)])
    other = make_system(tmp_path, [(0.0, 0.0, 0.0)])
    before = written(s, tmp_path)
    with pytest.raises(RuntimeError, match="^Invalid axis$"):
        s.stack(other, 3)
    with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
        s.stack(s, 2)
    with pytest.raises(TypeError):
        s.stack(other, -1)
    with pytest.raises(TypeError):
        s.stack(None, 0)
    assert s.n_atoms == 1 and written(s, tmp_path) == before
    # The borrows are released after every failure.
    s.stack(other, 0)
    assert s.n_atoms == 2


# ---- volume, mass, density, centre of mass ------------------------------------------

def test_volume_mass_density(tmp_path):
    s = make_system(tmp_path, [(1.0, 2.0, 3.0)])
    assert s.get_volume() == pytest.approx(1000.0)
    assert s.get_total_mass() == 12.011
    assert s.get_density() == pytest.approx(ONE_CARBON_DENSITY, rel=1e-12)
    tri = make_system(tmp_path, [], cell=(10.0, 11.0, 12.0, 80.0, 95.0, 105.0))
    m = cell_matrix(10.0, 11.0, 12.0, 80.0, 95.0, 105.0)
    assert tri.get_volume() == pytest.approx(m[0][0] * m[1][1] * m[2][2], rel=1e-12)
    assert tri.get_total_mass() == 0.0 and tri.get_density() == 0.0
    assert tri.get_center_of_mass() == [0.0, 0.0, 0.0]


def test_center_of_mass(tmp_path):
    s = make_system(tmp_path, [(0.0, 0.0, 0.0), (1.0, 0.0, 0.0), (0.0, 1.0, 0.0), (50.0, 50.0, 50.0)],
                    elements=["O", "H", "H", "Xx"])
    com = s.get_center_of_mass()
    m = 15.999 + 2 * 1.008
    assert type(com) is list and len(com) == 3
    assert com == [pytest.approx(1.008 / m), pytest.approx(1.008 / m), pytest.approx(0.0)]
    unknown = make_system(tmp_path, [(1.0, 2.0, 3.0)], elements=["Xx"])
    assert unknown.get_center_of_mass() == [0.0, 0.0, 0.0] and unknown.get_total_mass() == 0.0
