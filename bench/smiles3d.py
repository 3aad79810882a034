"""SMILES to 3D over the corpus (tests/data/smiles_corpus.txt): geometry
quality of zelt's Molecule.from_smiles and its speed against RDKit.

Geometry: the share of molecules whose every bond lies within 0.15 Å of its
ideal length (covalent radii times the bond-order factor) and that have no
two atoms closer than 1.0 Å that are neither bonded nor share a neighbour;
then the mean absolute deviation of zelt's bond lengths and bond angles from
RDKit's geometry of the same molecule (ETKDGv3 embedding, UFF with 500
iterations). Atoms are matched by graph: heavy atoms in SMILES order, and
hydrogens by the heavy atom that carries them. The lengths (angles) that
differ only in which hydrogen of an atom they name are compared sorted, so
the numbering of hydrogens does not matter.

Timing: the whole corpus through Molecule.from_smiles against RDKit's
MolFromSmiles + AddHs + EmbedMolecule (ETKDGv3) + UFFOptimizeMolecule
(maxIters=500), both on one thread of the calling process (zelt's force field
may use its worker pool). The corpus pass is repeated (--repeats, default 5)
with zelt and RDKit alternating; the median total and the spread are printed.

Run: PYTHONPATH=<build>/python /usr/bin/python3 bench/smiles3d.py [--repeats N]
"""
import argparse
import math
import pathlib
import statistics
import tempfile
import time
from collections import defaultdict

from rdkit import Chem, RDLogger
from rdkit.Chem import AllChem

import zelt

CORPUS_PATH = pathlib.Path(__file__).resolve().parents[1] / "tests" / "data" / "smiles_corpus.txt"
RDKIT_SEED = 0xF00D

RADII = {"H": 31, "HE": 28, "LI": 128, "BE": 96, "B": 84, "C": 76, "N": 71, "O": 66, "F": 57,
         "SI": 111, "P": 107, "S": 105, "CL": 102, "BR": 120, "SN": 140, "I": 139, "PB": 146}
MOL2_ORDERS = {"1": 1.0, "2": 2.0, "3": 3.0, "ar": 1.5, "am": 1.5}


def read_corpus():
    entries = []
    for line in CORPUS_PATH.read_text().splitlines():
        if line.strip() and not line.startswith("#"):
            name, smiles = line.split("\t")
            entries.append((name, smiles.strip()))
    return entries


def ideal_length(a, b, order):
    factor = 0.82 if order >= 3.0 else 0.88 if order >= 2.0 else 0.92 if order >= 1.5 else 1.0
    return (RADII.get(a.upper(), 150) + RADII.get(b.upper(), 150)) / 100.0 * factor


def read_mol2(text):
    section = None
    elements, positions, bonds = [], [], []
    for line in text.splitlines():
        if line.startswith("@<TRIPOS>"):
            section = line[len("@<TRIPOS>"):].strip()
            continue
        tok = line.split()
        if not tok:
            continue
        if section == "ATOM":
            elements.append(tok[1])
            positions.append(tuple(float(x) for x in tok[2:5]))
        elif section == "BOND":
            bonds.append((int(tok[1]) - 1, int(tok[2]) - 1, MOL2_ORDERS[tok[3]]))
    return elements, bonds, positions


def passes_checks(elements, bonds, positions):
    neighbours = [set() for _ in elements]
    for i, j, order in bonds:
        neighbours[i].add(j)
        neighbours[j].add(i)
        if not abs(math.dist(positions[i], positions[j]) - ideal_length(elements[i], elements[j], order)) <= 0.15:
            return False
    for i in range(len(elements)):
        near = set(neighbours[i])
        for k in neighbours[i]:
            near |= neighbours[k]
        for j in range(i + 1, len(elements)):
            if j not in near and math.dist(positions[i], positions[j]) < 1.0:
                return False
    return True


def labelled(neighbours, heavy_count):
    """Atom labels that ignore hydrogen numbering: ('a', k) for heavy atom k,
    ('h', k) for a hydrogen on heavy atom k."""
    labels = []
    for k, nb in enumerate(neighbours):
        if k < heavy_count:
            labels.append(("a", k))
        else:
            parent = [x for x in nb if x < heavy_count]
            labels.append(("h", parent[0] if parent else -1))
    return labels


def internal_coordinates(neighbours, positions, heavy_count):
    """{bond key: sorted lengths}, {angle key: sorted angles in degrees}."""
    labels = labelled(neighbours, heavy_count)
    lengths, angles = defaultdict(list), defaultdict(list)
    for i, nb in enumerate(neighbours):
        for j in nb:
            if i < j:
                key = tuple(sorted((labels[i], labels[j])))
                lengths[key].append(math.dist(positions[i], positions[j]))
        nb = sorted(nb)
        for x in range(len(nb)):
            for y in range(x + 1, len(nb)):
                a, b = nb[x], nb[y]
                u = [positions[a][t] - positions[i][t] for t in range(3)]
                v = [positions[b][t] - positions[i][t] for t in range(3)]
                c = sum(p * q for p, q in zip(u, v)) / (math.hypot(*u) * math.hypot(*v))
                ends = tuple(sorted((labels[a], labels[b])))
                angles[(ends[0], labels[i], ends[1])].append(math.degrees(math.acos(max(-1.0, min(1.0, c)))))
    return ({k: sorted(v) for k, v in lengths.items()}, {k: sorted(v) for k, v in angles.items()})


def rdkit_molecule(smiles):
    mol = Chem.AddHs(Chem.MolFromSmiles(smiles))
    params = AllChem.ETKDGv3()
    params.randomSeed = RDKIT_SEED
    if AllChem.EmbedMolecule(mol, params) != 0:
        return None
    AllChem.UFFOptimizeMolecule(mol, maxIters=500)
    return mol


def zelt_graph(smiles, folder, k):
    path = folder / f"m{k}.mol2"
    zelt.Molecule.from_smiles(smiles).to_file(str(path))
    elements, bonds, positions = read_mol2(path.read_text())
    neighbours = [set() for _ in elements]
    for i, j, _ in bonds:
        neighbours[i].add(j)
        neighbours[j].add(i)
    return elements, bonds, positions, neighbours


def geometry(corpus):
    passing, failures = 0, []
    length_dev, angle_dev = [], []
    unmatched = []
    with tempfile.TemporaryDirectory() as tmp:
        folder = pathlib.Path(tmp)
        for k, (name, smiles) in enumerate(corpus):
            elements, bonds, positions, neighbours = zelt_graph(smiles, folder, k)
            if passes_checks(elements, bonds, positions):
                passing += 1
            else:
                failures.append(name)
            mol = rdkit_molecule(smiles)
            heavy = sum(1 for e in elements if e != "H")
            if mol is None:
                unmatched.append(f"{name} (RDKit embedding failed)")
                continue
            rd_positions = [tuple(p) for p in mol.GetConformer().GetPositions()]
            rd_neighbours = [{n.GetIdx() for n in a.GetNeighbors()} for a in mol.GetAtoms()]
            z_len, z_ang = internal_coordinates(neighbours, positions, heavy)
            r_len, r_ang = internal_coordinates(rd_neighbours, rd_positions, heavy)
            same = ({k: len(v) for k, v in z_len.items()} == {k: len(v) for k, v in r_len.items()}
                    and {k: len(v) for k, v in z_ang.items()} == {k: len(v) for k, v in r_ang.items()})
            if not same:
                unmatched.append(f"{name} (graphs differ)")
                continue
            for key, values in z_len.items():
                length_dev += [abs(a - b) for a, b in zip(values, r_len[key])]
            for key, values in z_ang.items():
                angle_dev += [abs(a - b) for a, b in zip(values, r_ang[key])]
    return passing, failures, length_dev, angle_dev, unmatched


def time_zelt(corpus):
    per = []
    for _, smiles in corpus:
        t = time.perf_counter()
        zelt.Molecule.from_smiles(smiles)
        per.append(time.perf_counter() - t)
    return per


def time_rdkit(corpus):
    per = []
    for _, smiles in corpus:
        t = time.perf_counter()
        mol = Chem.AddHs(Chem.MolFromSmiles(smiles))
        params = AllChem.ETKDGv3()
        params.randomSeed = RDKIT_SEED
        AllChem.EmbedMolecule(mol, params)
        AllChem.UFFOptimizeMolecule(mol, maxIters=500)
        per.append(time.perf_counter() - t)
    return per


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeats", type=int, default=5)
    args = parser.parse_args()
    RDLogger.DisableLog("rdApp.*")
    corpus = read_corpus()

    passing, failures, length_dev, angle_dev, unmatched = geometry(corpus)
    print(f"SMILES to 3D over {len(corpus)} corpus molecules")
    print(f"geometry checks passed: {passing}/{len(corpus)} ({100.0 * passing / len(corpus):.1f} %)"
          + (f"; failing: {', '.join(failures)}" if failures else ""))
    print(f"against RDKit ETKDGv3 + UFF: mean |bond length deviation| {statistics.fmean(length_dev):.4f} Å "
          f"over {len(length_dev)} bonds, mean |angle deviation| {statistics.fmean(angle_dev):.2f}° "
          f"over {len(angle_dev)} angles")
    if unmatched:
        print(f"not compared: {', '.join(unmatched)}")

    # Warm-up, so that imports and first-use set-up are not timed.
    time_zelt(corpus[:5])
    time_rdkit(corpus[:5])
    zelt_totals, rdkit_totals = [], []
    zelt_per = defaultdict(list)
    rdkit_per = defaultdict(list)
    for _ in range(args.repeats):
        z = time_zelt(corpus)
        r = time_rdkit(corpus)
        zelt_totals.append(sum(z))
        rdkit_totals.append(sum(r))
        for (name, _), a, b in zip(corpus, z, r):
            zelt_per[name].append(a)
            rdkit_per[name].append(b)
    zm, rm = statistics.median(zelt_totals), statistics.median(rdkit_totals)
    print(f"timing over {args.repeats} passes (median total, min-max):")
    print(f"  zelt  Molecule.from_smiles: {zm * 1e3:8.1f} ms ({min(zelt_totals) * 1e3:.1f}-"
          f"{max(zelt_totals) * 1e3:.1f}), {zm / len(corpus) * 1e3:.2f} ms per molecule")
    print(f"  RDKit ETKDGv3 + UFF(500):   {rm * 1e3:8.1f} ms ({min(rdkit_totals) * 1e3:.1f}-"
          f"{max(rdkit_totals) * 1e3:.1f}), {rm / len(corpus) * 1e3:.2f} ms per molecule")
    ratios = [r / z for z, r in zip(zelt_totals, rdkit_totals)]
    print(f"  ratio RDKit / zelt: {rm / zm:.2f} (per pass {min(ratios):.2f}-{max(ratios):.2f})")
    slow = sorted(corpus, key=lambda e: -statistics.median(zelt_per[e[0]]))[:5]
    print("  slowest for zelt: " + ", ".join(
        f"{name} {statistics.median(zelt_per[name]) * 1e3:.1f} ms (RDKit {statistics.median(rdkit_per[name]) * 1e3:.1f})"
        for name, _ in slow))


if __name__ == "__main__":
    main()
