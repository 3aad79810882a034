"""Times zelt's force field against RDKit's UFF on periodic boxes of water.

For boxes of 1,500 and 12,000 atoms at liquid density: one energy-and-force
evaluation (through the small C++ program bench_forcefield_eval built next to
the module, since the Python surface has no such call) and a 200-step
System.relax, each with the pool default (num_threads=0) and num_threads=1.
RDKit's UFF gets the same water molecules as one non-periodic molecule, with
the interactions between fragments included (ignoreInterfragInteractions=
False): CalcEnergy + CalcGrad per evaluation and UFFOptimizeMolecule with 200
iterations. RDKit runs on the 1,500-atom box only: its non-bonded list keeps
pairs out to ten times the pair distance, which at 12,000 atoms is tens of
millions of terms.

Run: PYTHONPATH=<build>/python /usr/bin/python3 bench/forcefield.py
"""
import math
import os
import pathlib
import random
import subprocess
import tempfile
import time

import zelt

MOLECULES_PER_A3 = 0.0334  # liquid water
SIZES = (500, 4000)  # molecules: 1,500 and 12,000 atoms
RELAX_STEPS = 200


def water_box(molecules, seed):
    """Whole, randomly oriented water molecules on a jittered cubic lattice."""
    rng = random.Random(seed)
    per_axis = math.ceil(molecules ** (1 / 3))
    edge = (molecules / MOLECULES_PER_A3) ** (1 / 3)
    step = edge / per_axis
    sites = [(i, j, k) for i in range(per_axis) for j in range(per_axis) for k in range(per_axis)]
    rng.shuffle(sites)
    half = math.radians(104.52) / 2
    atoms, bonds = [], []
    for i, j, k in sites[:molecules]:
        o = [(i + 0.5) * step + rng.uniform(-0.2, 0.2), (j + 0.5) * step + rng.uniform(-0.2, 0.2),
             (k + 0.5) * step + rng.uniform(-0.2, 0.2)]
        a, b = rng.uniform(0, 2 * math.pi), rng.uniform(0, 2 * math.pi)
        n = len(atoms)
        atoms.append(("O", tuple(o)))
        for sign in (1, -1):
            x, y, z = 0.9572 * math.sin(half) * sign, 0.9572 * math.cos(half), 0.0
            x, y = x * math.cos(a) - y * math.sin(a), x * math.sin(a) + y * math.cos(a)
            y, z = y * math.cos(b) - z * math.sin(b), y * math.sin(b) + z * math.cos(b)
            atoms.append(("H", (o[0] + x, o[1] + y, o[2] + z)))
        bonds += [(n, n + 1), (n, n + 2)]
    return atoms, bonds, edge


def write_mol2(path, atoms, bonds, edge):
    lines = ["@<TRIPOS>MOLECULE", "water", f"{len(atoms)} {len(bonds)} 1 0 0", "SMALL", "NO_CHARGES", "",
             "@<TRIPOS>ATOM"]
    for k, (e, p) in enumerate(atoms):
        lines.append(f"{k + 1} {e}{k + 1} {p[0]!r} {p[1]!r} {p[2]!r} {e} {k // 3 + 1} WAT 0.0")
    lines.append("@<TRIPOS>BOND")
    for k, (i, j) in enumerate(bonds):
        lines.append(f"{k + 1} {i + 1} {j + 1} 1")
    lines += ["@<TRIPOS>CRYSIN", f"{edge!r} {edge!r} {edge!r} 90.0 90.0 90.0 1 1", ""]
    pathlib.Path(path).write_text("\n".join(lines))


def eval_program():
    build = pathlib.Path(zelt.__file__).resolve().parent.parent
    program = build / "bench_forcefield_eval"
    return program if program.exists() else None


def zelt_evaluation(program, path, threads, repeats):
    out = subprocess.run([str(program), str(path), str(repeats), str(threads)], capture_output=True, text=True,
                         check=True).stdout.split()
    return float(out[1])


def zelt_relax(path, threads):
    system = zelt.System.from_file(str(path))
    t0 = time.perf_counter()
    system.relax(steps=RELAX_STEPS, threshold=1e-12, verbose=False, num_threads=threads)
    return time.perf_counter() - t0


def rdkit_molecule(atoms, bonds):
    from rdkit import Chem
    from rdkit.Geometry import Point3D

    mol = Chem.RWMol()
    for element, _ in atoms:
        mol.AddAtom(Chem.Atom(element))
    for i, j in bonds:
        mol.AddBond(i, j, Chem.BondType.SINGLE)
    mol = mol.GetMol()
    Chem.SanitizeMol(mol)
    conf = Chem.Conformer(len(atoms))
    for k, (_, p) in enumerate(atoms):
        conf.SetAtomPosition(k, Point3D(*p))
    mol.AddConformer(conf, assignId=True)
    return mol


def rdkit_times(atoms, bonds, repeats):
    from rdkit.Chem import AllChem

    mol = rdkit_molecule(atoms, bonds)
    t0 = time.perf_counter()
    ff = AllChem.UFFGetMoleculeForceField(mol, ignoreInterfragInteractions=False)
    setup = time.perf_counter() - t0
    ff.CalcEnergy()
    ff.CalcGrad()
    best = math.inf
    for _ in range(repeats):
        t0 = time.perf_counter()
        ff.CalcEnergy()
        ff.CalcGrad()
        best = min(best, time.perf_counter() - t0)
    fresh = rdkit_molecule(atoms, bonds)
    t0 = time.perf_counter()
    AllChem.UFFOptimizeMolecule(fresh, maxIters=RELAX_STEPS, ignoreInterfragInteractions=False)
    optimize = time.perf_counter() - t0
    return setup, best, optimize


def main():
    program = eval_program()
    if program is None:
        print("bench_forcefield_eval not found next to the module: single evaluations are not timed")
    results = {}
    with tempfile.TemporaryDirectory() as tmp:
        for molecules in SIZES:
            atoms, bonds, edge = water_box(molecules, seed=molecules)
            path = pathlib.Path(tmp) / f"water_{len(atoms)}.mol2"
            write_mol2(path, atoms, bonds, edge)
            n = len(atoms)
            print(f"== {n} atoms ({molecules} water molecules, {edge:.2f} Å box, cutoff 6 Å)")
            for threads, label in ((0, "pool default"), (1, "num_threads=1")):
                if program:
                    per_eval = zelt_evaluation(program, path, threads, repeats=20)
                    results[(n, threads)] = per_eval
                    print(f"  zelt {label:<14} evaluation {per_eval * 1e3:9.3f} ms  "
                          f"({per_eval / n * 1e6:.3f} µs/atom)")
                relax = zelt_relax(path, threads)
                print(f"  zelt {label:<14} {RELAX_STEPS}-step relax {relax:9.3f} s")
            if molecules == SIZES[0]:
                try:
                    setup, per_eval, optimize = rdkit_times(atoms, bonds, repeats=5)
                except ImportError:
                    print("  RDKit is not installed: no comparison")
                    continue
                results[(n, "rdkit")] = per_eval
                print(f"  RDKit UFF setup {setup:.3f} s, evaluation {per_eval * 1e3:9.3f} ms "
                      f"({per_eval / n * 1e6:.3f} µs/atom), {RELAX_STEPS}-iteration optimize {optimize:.3f} s")
    small, large = 3 * SIZES[0], 3 * SIZES[1]
    if (small, "rdkit") in results and (small, 0) in results:
        for threads, label in ((0, "pool default"), (1, "num_threads=1")):
            print(f"RDKit / zelt per evaluation at {small} atoms ({label}): "
                  f"{results[(small, 'rdkit')] / results[(small, threads)]:.1f}x")
    if (small, 1) in results and (large, 1) in results:
        for threads, label in ((0, "pool default"), (1, "num_threads=1")):
            ratio = (results[(large, threads)] / large) / (results[(small, threads)] / small)
            print(f"per-atom cost {large} / {small} atoms ({label}): {ratio:.2f}")


if __name__ == "__main__":
    main()
