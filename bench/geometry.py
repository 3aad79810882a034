"""Times zelt's neighbour list and minimum-image distance matrix against ASE
and MDAnalysis on the same random periodic systems at liquid density
(0.1 atoms/Å³), and prints the times and ratios.

Run: PYTHONPATH=<build>/python /usr/bin/python3 bench/geometry.py
(BENCH_MATRIX_ATOMS sets the size of the distance-matrix system; ASE takes
a few minutes at the default 5,000.) Contenders take turns within each round and
the best time of each is reported, which keeps a busy machine from favouring
whoever runs last.
"""
import os
import sys
import tempfile
import time
import warnings

import numpy as np

import zelt

warnings.filterwarnings("ignore", category=DeprecationWarning)

DENSITY = 0.1  # atoms per Å³
NEIGHBOR_ATOMS = 20_000
NEIGHBOR_CUTOFF = 3.0
MATRIX_ATOMS = int(os.environ.get("BENCH_MATRIX_ATOMS", 5_000))


def random_box(n, seed):
    edge = (n / DENSITY) ** (1.0 / 3.0)
    rng = np.random.default_rng(seed)
    return rng.uniform(0.0, edge, size=(n, 3)), edge


def zelt_system(positions, edge, directory):
    lines = ["@<TRIPOS>MOLECULE", "bench", f"{len(positions)} 0 1 0 0", "SMALL", "NO_CHARGES", "", "@<TRIPOS>ATOM"]
    for k, (x, y, z) in enumerate(positions.tolist()):
        lines.append(f"{k + 1} C {x!r} {y!r} {z!r} C 1 RES 0.0")
    lines += ["@<TRIPOS>CRYSIN", f"{edge!r} {edge!r} {edge!r} 90.0 90.0 90.0 1 1", ""]
    path = os.path.join(directory, "bench.mol2")
    with open(path, "w") as f:
        f.write("\n".join(lines))
    return zelt.System.from_file(path)


def race(contenders, rounds):
    """Best wall time of each callable over `rounds` rounds, the callables
    taking turns within a round so that a busy machine slows them alike.
    Returns {name: (seconds, last result)}; a contender given a round count
    of its own as (fn, rounds) runs only in that many first rounds."""
    best = {name: (float("inf"), None) for name in contenders}
    for r in range(rounds):
        for name, entry in contenders.items():
            fn, limit = entry if isinstance(entry, tuple) else (entry, rounds)
            if r >= limit:
                continue
            t0 = time.perf_counter()
            result = fn()
            elapsed = time.perf_counter() - t0
            best[name] = (min(best[name][0], elapsed), result)
            del result
    return best


def report(title, rows):
    """rows: (label, seconds) with zelt first."""
    print(title)
    ours = rows[0][1]
    for label, seconds in rows:
        ratio = "" if label.startswith("zelt") else f"   zelt is {seconds / ours:7.1f}x faster"
        print(f"  {label:<44} {seconds * 1e3:10.1f} ms{ratio}")


def fastns_pairs(coords32, box):
    """MDAnalysis's grid search with its pairs and distances taken out, the
    two things that zelt's list holds."""
    from MDAnalysis.lib.nsgrid import FastNS

    found = FastNS(NEIGHBOR_CUTOFF, coords32, box=box, pbc=True).self_search()
    return found.get_pairs(), found.get_pair_distances()


def bench_neighbor_list(directory):
    import ase
    from ase.neighborlist import neighbor_list
    from MDAnalysis.lib.distances import self_capped_distance
    from MDAnalysis.lib.nsgrid import FastNS

    positions, edge = random_box(NEIGHBOR_ATOMS, 1)
    system = zelt_system(positions, edge, directory)
    atoms = ase.Atoms(f"C{NEIGHBOR_ATOMS}", positions=positions, cell=[edge] * 3, pbc=True)
    box = np.array([edge, edge, edge, 90.0, 90.0, 90.0], dtype=np.float32)
    coords32 = positions.astype(np.float32)

    times = race({
        "zelt": lambda: system.get_neighbor_list(NEIGHBOR_CUTOFF),
        "ase": (lambda: neighbor_list("ij", atoms, NEIGHBOR_CUTOFF), 2),
        "capped": lambda: self_capped_distance(positions, NEIGHBOR_CUTOFF, box=box),
        "fastns": lambda: fastns_pairs(coords32, box),
        "fastns_search": lambda: FastNS(NEIGHBOR_CUTOFF, coords32, box=box, pbc=True).self_search(),
    }, 7)
    (t_zelt, ours), (t_ase, (i, j)) = times["zelt"], times["ase"]
    (t_capped, (pairs_capped, _)), (t_fastns, (fastns_found, _)) = times["capped"], times["fastns"]
    t_search = times["fastns_search"][0]

    # Same input, same answer: the pair counts agree (up to pairs within
    # float32 rounding of the cutoff for the MDAnalysis grid).
    n_ase = int((i < j).sum())
    print(f"neighbour pairs: zelt {len(ours)}, ASE {n_ase}, self_capped_distance {len(pairs_capped)}, "
          f"FastNS {len(fastns_found)}")
    if len(ours) != n_ase:
        sys.exit("zelt and ASE disagree on the neighbour pairs")
    report(f"Neighbour list, {NEIGHBOR_ATOMS} atoms, cutoff {NEIGHBOR_CUTOFF} Å, box {edge:.2f} Å "
           f"(zelt includes building the Python list of tuples):",
           [("zelt System.get_neighbor_list", t_zelt),
            ("ASE neighborlist.neighbor_list", t_ase),
            ("MDAnalysis self_capped_distance", t_capped),
            ("MDAnalysis nsgrid.FastNS (pairs, distances)", t_fastns),
            ("MDAnalysis nsgrid.FastNS (search only)", t_search)])


def ase_matrix_in_blocks(positions, cell, ours, rows=100):
    """ASE's minimum-image distances for the whole matrix, computed as
    Atoms.get_all_distances(mic=True) computes them (ase.geometry.get_distances
    of the positions against themselves) but a block of rows at a time: for
    every pair it tries the 27 neighbouring images, and the full matrix at
    once would need tens of GB. Returns the summed time and the largest
    difference from `ours`."""
    from ase.geometry import get_distances

    seconds, worst = 0.0, 0.0
    for first in range(0, len(positions), rows):
        t0 = time.perf_counter()
        _, block = get_distances(positions[first:first + rows], positions, cell=cell, pbc=True)
        seconds += time.perf_counter() - t0
        worst = max(worst, float(np.abs(block - ours[first:first + rows]).max()))
    return seconds, worst


def bench_distance_matrix(directory):
    from MDAnalysis.lib.distances import distance_array, self_distance_array

    positions, edge = random_box(MATRIX_ATOMS, 2)
    system = zelt_system(positions, edge, directory)
    box = np.array([edge, edge, edge, 90.0, 90.0, 90.0])

    times = race({
        "zelt": lambda: system.get_all_distances(mic=True),
        "self": lambda: self_distance_array(positions, box=box),
        "serial": lambda: distance_array(positions, positions, box=box),
        "omp": lambda: distance_array(positions, positions, box=box, backend="OpenMP"),
    }, 5)
    (t_zelt, ours), (t_omp, mda) = times["zelt"], times["omp"]
    t_self, t_serial = times["self"][0], times["serial"][0]
    print(f"distance matrix: largest difference from MDAnalysis {float(np.abs(ours - mda).max()):.2e} Å")
    del mda, times
    t_ase, worst = ase_matrix_in_blocks(positions, np.diag([edge] * 3), ours)
    print(f"distance matrix: largest difference from ASE {worst:.2e} Å")
    report(f"Minimum-image distance matrix, {MATRIX_ATOMS} atoms ({MATRIX_ATOMS}x{MATRIX_ATOMS} entries):",
           [("zelt System.get_all_distances(mic=True)", t_zelt),
            ("ASE get_distances(mic), in row blocks", t_ase),
            ("MDAnalysis self_distance_array (half)", t_self),
            ("MDAnalysis distance_array serial", t_serial),
            ("MDAnalysis distance_array OpenMP", t_omp)])


def main():
    print(f"zelt pool threads: {zelt._pool_threads()}, processors: {os.cpu_count()}")
    with tempfile.TemporaryDirectory() as directory:
        bench_neighbor_list(directory)
        bench_distance_matrix(directory)


if __name__ == "__main__":
    main()
