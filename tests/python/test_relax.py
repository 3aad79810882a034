import inspect
import math
import os
import pathlib
import random
import re
import subprocess
import sys

import pytest

import zelt
from conftest import requires

DASHES = "-" * 80


def rest_length(r1i, chii, r1j, chij):
    """UFF rest length of a single bond (no bond-order correction)."""
    r_en = r1i * r1j * (math.sqrt(chii) - math.sqrt(chij)) ** 2 / (chii * r1i + chij * r1j)
    return r1i + r1j - r_en


OH_REST = rest_length(0.658, 8.741, 0.354, 4.528)  # O_3–H_
CCL_REST = rest_length(0.757, 5.343, 1.044, 8.564)  # C_3 with the "Cl" row


def write_mol2(path, atoms, bonds, edge):
    """atoms: (element, (x, y, z)); bonds: 0-based pairs; a cubic cell of `edge`."""
    lines = ["@<TRIPOS>MOLECULE", "box", f"{len(atoms)} {len(bonds)} 1 0 0", "SMALL", "NO_CHARGES", "",
             "@<TRIPOS>ATOM"]
    for k, (e, p) in enumerate(atoms):
        lines.append(f"{k + 1} {e}{k + 1} {p[0]!r} {p[1]!r} {p[2]!r} {e} 1 WAT 0.0")
    lines.append("@<TRIPOS>BOND")
    for k, (i, j) in enumerate(bonds):
        lines.append(f"{k + 1} {i + 1} {j + 1} 1")
    lines += ["@<TRIPOS>CRYSIN", f"{edge!r} {edge!r} {edge!r} 90.0 90.0 90.0 1 1", ""]
    path.write_text("\n".join(lines))
    return zelt.System.from_file(str(path))


def water_atoms(per_axis, edge, rng, stretch=0.0, split=False):
    """Water molecules on a jittered lattice, randomly oriented; O–H bonds
    stretched by `stretch`; with `split`, every molecule near the upper x face
    has its hydrogens moved one box length back (wrapped)."""
    atoms, bonds = [], []
    step = edge / per_axis
    half = math.radians(104.5) / 2
    r = 0.96 + stretch
    for i in range(per_axis):
        for j in range(per_axis):
            for k in range(per_axis):
                o = [(i + 0.5) * step + rng.uniform(-0.2, 0.2), (j + 0.5) * step + rng.uniform(-0.2, 0.2),
                     (k + 0.5) * step + rng.uniform(-0.2, 0.2)]
                if split and i == per_axis - 1:
                    o[0] = edge - 0.3
                a, b = rng.uniform(0, 2 * math.pi), rng.uniform(0, 2 * math.pi)
                hs = []
                for sign in (1, -1):
                    local = (r * math.sin(half) * sign, r * math.cos(half), 0.0)
                    x, y, z = local
                    x, y = x * math.cos(a) - y * math.sin(a), x * math.sin(a) + y * math.cos(a)
                    y, z = y * math.cos(b) - z * math.sin(b), y * math.sin(b) + z * math.cos(b)
                    h = [o[0] + x, o[1] + y, o[2] + z]
                    if split and i == per_axis - 1 and h[0] > edge:
                        h[0] -= edge
                    hs.append(h)
                n = len(atoms)
                atoms += [("O", tuple(o)), ("H", tuple(hs[0])), ("H", tuple(hs[1]))]
                bonds += [(n, n + 1), (n, n + 2)]
    return atoms, bonds


def positions_of(system, tmp_path):
    """Positions as written to MOL2 (4 decimals); needs no NumPy."""
    path = tmp_path / f"out_{random.getrandbits(40):x}.mol2"
    system.to_file(str(path))
    section, out, cell = None, [], None
    for line in path.read_text().splitlines():
        if line.startswith("@<TRIPOS>"):
            section = line[9:]
        elif section == "ATOM" and line.strip():
            out.append(tuple(float(t) for t in line.split()[2:5]))
        elif section == "CRYSIN" and line.strip():
            cell = tuple(float(t) for t in line.split()[:6])
    return out, cell


def header(atoms, bonds, cutoff=6.0, threshold=1.0, steps=1000, threads="Auto"):
    def pair(a, b, c, d):
        return f"{a:<10} {b:<10} | {c:<10} {d:<10}"

    return ("\n" + " kessa v1.0.0 ".center(80, "=") + "\n"
            + pair("Atoms:", atoms, "Bonds:", bonds) + "\n"
            + pair("Cutoff:", f"{cutoff:.1f}", "Threshold:", f"{threshold:.4f}") + " kcal/mol/Å\n"
            + pair("Max Iter:", steps, "Threads:", threads) + "\n"
            + DASHES + "\n"
            + f"{'':<6} | {'Fmax':<14} | {'FRMS':<14} | {'Total E':<16} | {'':<10}\n"
            + f"{'Iter':<6} | {'(kcal/mol/Å)':<14} | {'(kcal/mol/Å)':<14} | {'(kcal/mol)':<16} | {'Status':<10}\n"
            + DASHES + "\n")


def row(t, fmax, frms, e, status=""):
    return f"{t:>6} | {fmax:>14.4f} | {frms:>14.4f} | {e:>16.4f} | {status:<10}\n"


TIME_LINE = re.compile(r"Total Time: (\d+\.\d{3}(?:s|ms|µs|ns)) *\(Avg: (\d+\.\d{3}(?:s|ms|µs|ns)) / step\)\n")


def mask_time(text):
    m = TIME_LINE.search(text)
    assert m, text
    total = m.group(1)
    assert text[m.start() + len("Total Time: "):].startswith(f"{total:<10} (Avg:")
    return text[:m.start()] + "Total Time: <masked>\n" + text[m.end():], m


def summary(reason, energy, fmax, frms):
    return (DASHES + "\n=== Optimization Finished ===\n" + f"Reason: {reason:<20}\n" + "Total Time: <masked>\n"
            + f"Final Energy: {energy:<15.4f} kcal/mol\n" + f"Final Fmax:   {fmax:<15.4f} kcal/mol/Å\n"
            + f"Final FRMS:   {frms:<15.4f} kcal/mol/Å\n" + DASHES + "\n\n")


def report_numbers(text):
    """(rows as (t, fmax, frms, e, status), final energy)."""
    rows = []
    for line in text.splitlines():
        m = re.fullmatch(r" *(\d+) \| +(\S+) \| +(\S+) \| +(\S+) \| (.*)", line)
        if m:
            rows.append((int(m.group(1)), float(m.group(2)), float(m.group(3)), float(m.group(4)),
                         m.group(5).strip()))
    final = float(re.search(r"Final Energy: (\S+)", text).group(1))
    return rows, final


def test_signature():
    assert str(inspect.signature(zelt.System.relax)) == \
        "(self, steps=None, threshold=None, verbose=True, num_threads=0, cutoff=6.0, history_size=10)"


def test_relaxes_a_periodic_water_box(tmp_path, capfd):
    rng = random.Random(5)
    atoms, bonds = water_atoms(4, 12.4, rng, stretch=0.15, split=True)
    s = write_mol2(tmp_path / "water.mol2", atoms, bonds, 12.4)
    bonds_before = s.get_bonds()
    _, cell_before = positions_of(s, tmp_path)
    capfd.readouterr()
    assert s.relax(steps=300) is None
    out = capfd.readouterr().out
    rows, final = report_numbers(out)
    assert rows[0][0] == 0
    assert final < rows[0][3] - 50.0  # the energy went down
    assert "Threads:   Auto" in out
    after, cell_after = positions_of(s, tmp_path)
    assert cell_after == cell_before
    assert s.get_bonds() == bonds_before
    assert s.n_atoms == len(atoms)
    # Every bond near its rest length as plain Cartesian distance: the
    # molecules that crossed the x face came back whole.
    for i, j in bonds:
        assert math.dist(after[i], after[j]) == pytest.approx(OH_REST, abs=0.03)


def test_positions_come_back_unwrapped_as_arrays(tmp_path):
    np = requires("numpy")
    atoms, bonds = water_atoms(3, 9.3, random.Random(2), split=True)
    s = write_mol2(tmp_path / "w.mol2", atoms, bonds, 9.3)
    s.relax(steps=50, verbose=False)
    p = s.get_positions()
    assert p.shape == (len(atoms), 3)
    d = np.linalg.norm(p[[i for i, _ in bonds]] - p[[j for _, j in bonds]], axis=1)
    assert d.max() < 1.2


def test_no_steps_report_and_no_move(tmp_path, capfd):
    atoms, bonds = water_atoms(2, 8.0, random.Random(1))
    s = write_mol2(tmp_path / "w.mol2", atoms, bonds, 8.0)
    before, _ = positions_of(s, tmp_path)
    capfd.readouterr()
    s.relax(steps=0)
    out, m = mask_time(capfd.readouterr().out)
    assert m.group(1) == m.group(2)  # the average of no iteration is the total
    energy = float(re.search(r"Final Energy: (\S+)", out).group(1))
    assert out == header(len(atoms), len(bonds), steps=0) + summary("Max-Iter", energy, 0.0, 0.0)
    assert positions_of(s, tmp_path)[0] == before


def test_converged_and_max_iter_reports(tmp_path, capfd):
    # Two argon atoms 10 Å apart feel nothing: Fmax-Conv when the window of
    # ten is full, rows for iterations 0 and 9.
    s = write_mol2(tmp_path / "ar.mol2", [("Ar", (1.0, 1.0, 1.0)), ("Ar", (11.0, 1.0, 1.0))], [], 25.0)
    capfd.readouterr()
    s.relax(threshold=1.0, history_size=10, num_threads=3)
    out, _ = mask_time(capfd.readouterr().out)
    assert out == (header(2, 0, threads=3) + row(0, 0, 0, 0) + row(9, 0, 0, 0, "Fmax-Conv")
                   + summary("Fmax-Conv", 0, 0, 0))

    # A distorted box that cannot converge in 25 steps: rows for 0, 10, 20.
    atoms, bonds = water_atoms(2, 8.0, random.Random(3), stretch=0.3)
    w = write_mol2(tmp_path / "w.mol2", atoms, bonds, 8.0)
    w.relax(steps=25, threshold=1e-3, cutoff=3.5)
    out, _ = mask_time(capfd.readouterr().out)
    rows, final = report_numbers(out)
    assert [r[0] for r in rows] == [0, 10, 20]
    assert all(r[4] == "" for r in rows)
    assert out.startswith(header(len(atoms), len(bonds), cutoff=3.5, threshold=0.001, steps=25))
    assert "Reason: Max-Iter            \n" in out
    body = "".join(row(*r) for r in rows)
    assert header(len(atoms), len(bonds), cutoff=3.5, threshold=0.001, steps=25) + body + DASHES in out


def test_verbose_off_prints_nothing(tmp_path, capfd):
    atoms, bonds = water_atoms(2, 8.0, random.Random(4), stretch=0.2)
    s = write_mol2(tmp_path / "w.mol2", atoms, bonds, 8.0)
    before, _ = positions_of(s, tmp_path)
    capfd.readouterr()
    s.relax(steps=20, verbose=False)
    captured = capfd.readouterr()
    assert captured.out == "" and captured.err == ""
    assert positions_of(s, tmp_path)[0] != before


def test_report_interleaves_with_python_output(tmp_path):
    path = tmp_path / "ar.mol2"
    write_mol2(path, [("Ar", (1.0, 1.0, 1.0))], [], 20.0)
    script = (
        "import zelt\n"
        f"s = zelt.System.from_file({str(path)!r})\n"
        "print('before')\n"
        "s.relax(steps=0)\n"
        "print('between')\n"
        "s.relax(steps=0, verbose=False)\n"
        "print('after')\n"
    )
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, env=env,
                         check=True).stdout
    assert out.startswith("before\n\n" + "=" * 33)
    assert out.endswith(DASHES + "\n\nbetween\nafter\n")
    assert out.count("kessa v1.0.0") == 1


@pytest.mark.parametrize("kwargs", [
    {"num_threads": None}, {"verbose": None}, {"steps": -1}, {"history_size": -1}, {"num_threads": -2},
    {"cutoff": "6"}, {"steps": 1.5}, {"threshold": "x"}, {"verbose": 1}, {"bogus": 1},
])
def test_argument_conversion(small_system, kwargs, capfd):
    with pytest.raises(TypeError):
        small_system.relax(**kwargs)
    assert capfd.readouterr().out == ""


@pytest.mark.parametrize("cutoff", [0.0, -6.0, float("nan"), float("inf"), 0])
def test_cutoff_must_be_positive_and_finite(tmp_path, cutoff, capfd):
    atoms, bonds = water_atoms(2, 8.0, random.Random(6), stretch=0.2)
    s = write_mol2(tmp_path / "w.mol2", atoms, bonds, 8.0)
    before, _ = positions_of(s, tmp_path)
    capfd.readouterr()
    with pytest.raises(ValueError, match="cutoff"):
        s.relax(cutoff=cutoff)
    assert capfd.readouterr().out == ""
    assert positions_of(s, tmp_path)[0] == before


def test_defaults_and_edge_options(tmp_path, capfd):
    atoms, bonds = water_atoms(2, 8.0, random.Random(7), stretch=0.2)
    a = write_mol2(tmp_path / "a.mol2", atoms, bonds, 8.0)
    b = write_mol2(tmp_path / "b.mol2", atoms, bonds, 8.0)
    a.relax(steps=None, threshold=None, verbose=False)
    b.relax(verbose=False)
    assert positions_of(a, tmp_path)[0] == positions_of(b, tmp_path)[0]
    capfd.readouterr()
    # A threshold of 0 and a window of 0: no force test can pass.
    a.relax(steps=30, threshold=0.0, history_size=0, cutoff=4)
    out = capfd.readouterr().out
    assert re.search(r"Reason: (Max-Iter|E-Stalled) ", out)
    assert "Threshold: 0.0000" in out and "Cutoff:    4.0" in out


def test_thread_counts_agree(tmp_path):
    atoms, bonds = water_atoms(8, 24.8, random.Random(8), stretch=0.1)
    assert len(atoms) >= 1000  # the automatic setting goes parallel
    results = []
    for n in (0, 1, 2, 3):
        s = write_mol2(tmp_path / f"t{n}.mol2", atoms, bonds, 24.8)
        s.relax(steps=5, verbose=False, num_threads=n)
        results.append(positions_of(s, tmp_path)[0])
    for other in results[1:]:
        for p, q in zip(results[0], other):
            assert math.dist(p, q) < 2e-4  # MOL2 keeps 4 decimals


def test_chlorine_takes_part(tmp_path):
    # Chloromethane with a stretched C–Cl bond: the chlorine has parameters
    # (the "Cl" row), so the bond relaxes to its rest length.
    atoms = [("C", (5.0, 5.0, 5.0)), ("Cl", (7.3, 5.0, 5.0))]
    bonds = [(0, 1)]
    for k in range(3):
        a = 2 * math.pi * k / 3
        atoms.append(("H", (4.64, 5.0 + 1.03 * math.cos(a), 5.0 + 1.03 * math.sin(a))))
        bonds.append((0, k + 2))
    s = write_mol2(tmp_path / "cm.mol2", atoms, bonds, 20.0)
    s.relax(steps=2000, threshold=0.05, verbose=False)
    p, _ = positions_of(s, tmp_path)
    assert math.dist(p[0], p[1]) == pytest.approx(CCL_REST, abs=0.02)


@pytest.mark.parametrize("value, expected", [("+8", 8), ("8 ", 4), ("-1", 4), ("eight", 4), ("0", None)])
def test_thread_count_variable(tmp_path, value, expected):
    atoms, bonds = water_atoms(7, 21.7, random.Random(9))
    atoms.append(("Ar", (10.0, 10.0, 10.0)))
    path = tmp_path / "big.mol2"
    write_mol2(path, atoms, bonds, 21.7)
    assert len(atoms) == 1030
    script = (
        "import os, zelt\n"
        f"s = zelt.System.from_file({str(path)!r})\n"
        "s.relax(steps=1, verbose=False)\n"
        "cpus = len(os.sched_getaffinity(0)) if hasattr(os, 'sched_getaffinity') else os.cpu_count()\n"
        "print(zelt._pool_threads(), cpus)\n"
    )
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path), ZELT_NUM_THREADS=value)
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, env=env, check=True).stdout
    threads, processors = map(int, out.split())
    assert threads == (processors if expected is None else expected)


def test_empty_system_and_unbuildable_pool(tmp_path, capfd):
    empty = write_mol2(tmp_path / "e.mol2", [], [], 10.0)
    assert empty.n_atoms == 0
    capfd.readouterr()
    assert empty.relax() is None
    assert capfd.readouterr().out == ""
    # A pool that cannot be built fails before anything runs or prints, and
    # leaves the system as it was; a huge window costs nothing up front.
    atoms, bonds = water_atoms(2, 8.0, random.Random(10), stretch=0.2)
    s = write_mol2(tmp_path / "w.mol2", atoms, bonds, 8.0)
    before, _ = positions_of(s, tmp_path)
    with pytest.raises(RuntimeError, match="worker pool"):
        s.relax(num_threads=10 ** 6)
    assert capfd.readouterr().out == ""
    assert positions_of(s, tmp_path)[0] == before
    s.relax(steps=5, history_size=10 ** 15, verbose=False)
    assert positions_of(s, tmp_path)[0] != before


def test_relaxed_bonds_match_rdkit_uff_rest_lengths(tmp_path):
    """Relaxed ethanol and chloromethane bonds sit at the UFF rest lengths
    that RDKit's own UFF parameters give for the same atom types."""
    Chem = requires("rdkit.Chem")
    helpers = requires("rdkit.Chem.rdForceFieldHelpers")
    ethanol = str(pathlib.Path(__file__).resolve().parents[2] / "examples" / "data" / "ethanol.mol2")
    s = zelt.System.from_file(ethanol)
    s.relax(steps=3000, threshold=0.01, verbose=False)
    p = s.get_positions()
    ref = Chem.MolFromMol2File(ethanol, removeHs=False)
    for i, j, _ in s.get_bonds():
        _, r0 = helpers.GetUFFBondStretchParams(ref, int(i), int(j))
        assert math.dist(p[i], p[j]) == pytest.approx(r0, abs=0.02), (i, j)

    cm = Chem.AddHs(Chem.MolFromSmiles("ClC"))
    _, r0 = helpers.GetUFFBondStretchParams(cm, 0, 1)
    assert CCL_REST == pytest.approx(r0, abs=1e-6)
