"""Times zelt's trajectory analyses against their peers on the same inputs,
in one run, and prints the times and ratios:

- g(r) O-O (r_max 10 Å, 200 bins) of 100 random frames of 9,000 atoms
  (3,000 O, 6,000 H) in a 31 Å box: zelt.compute_rdf on a list of ASE Atoms
  (input conversion included), MDAnalysis InterRDF and MDTraj compute_rdf;
  the conversion time of that list on its own;
- MSD of 1,000 atoms over 1,000 frames: zelt.compute_msd against MDAnalysis
  EinsteinMSD(fft=False) and a direct NumPy sum over every lag.

Results are checked against each other: g(r) through the normalisation
relation between the tools, the MSD directly.

Run: PYTHONPATH=<build>/python /usr/bin/python3 bench/analysis.py
"""
import time
import warnings

import numpy as np

warnings.filterwarnings("ignore")

import ase  # noqa: E402

import zelt  # noqa: E402

RDF_FRAMES, RDF_WATERS, RDF_BOX = 100, 3_000, 31.0
R_MAX, N_BINS = 10.0, 200
MSD_FRAMES, MSD_ATOMS, MSD_BOX = 1_000, 1_000, 100.0


def timed(fn):
    t0 = time.perf_counter()
    result = fn()
    return time.perf_counter() - t0, result


def report(title, rows):
    """rows: (label, seconds) with zelt first."""
    print(title)
    ours = rows[0][1]
    for label, seconds in rows:
        ratio = "" if label.startswith("zelt") else f"   zelt is {seconds / ours:6.1f}x faster"
        print(f"  {label:<46} {seconds:8.2f} s{ratio}")


def universe(positions, box):
    from MDAnalysis import Universe
    from MDAnalysis.coordinates.memory import MemoryReader

    n_frames, n_atoms = positions.shape[:2]
    u = Universe.empty(n_atoms, trajectory=True)
    dims = np.tile(np.array([box, box, box, 90.0, 90.0, 90.0], dtype=np.float32), (n_frames, 1))
    u.load_new(positions.astype(np.float32), format=MemoryReader, order="fac", dimensions=dims)
    return u


def rdf_bench():
    rng = np.random.default_rng(1)
    n_atoms = 3 * RDF_WATERS
    # float32 values, so that every tool starts from the same coordinates.
    positions = (rng.random((RDF_FRAMES, n_atoms, 3)) * RDF_BOX).astype(np.float32)
    symbols = ["O", "H", "H"] * RDF_WATERS
    frames = [ase.Atoms(symbols=symbols, positions=p.astype(np.float64), cell=[RDF_BOX] * 3, pbc=True)
              for p in positions]
    print(f"RDF: {RDF_FRAMES} frames of {n_atoms} atoms ({RDF_WATERS} O) in a {RDF_BOX} Å box, "
          f"r_max {R_MAX} Å, {N_BINS} bins; {zelt._pool_threads()} pool threads")

    t_convert, _ = timed(lambda: zelt.compute_rdf(frames, "element Xx", r_max=R_MAX, n_bins=N_BINS))
    t_zelt, (r, g) = timed(lambda: zelt.compute_rdf(frames, "element O", r_max=R_MAX, n_bins=N_BINS))
    rows = [("zelt compute_rdf (list of ASE Atoms)", t_zelt)]
    n = RDF_WATERS
    checks = []

    try:
        from MDAnalysis.analysis.rdf import InterRDF

        u = universe(positions, RDF_BOX)
        oxygens = u.atoms[0::3]
        t_mda, ref = timed(lambda: InterRDF(oxygens, oxygens, nbins=N_BINS, range=(0.0, R_MAX),
                                            exclusion_block=(1, 1)).run())
        rows.append(("MDAnalysis InterRDF", t_mda))
        # InterRDF divides by n(n-1) pairs, zelt by n^2.
        checks.append(("MDAnalysis g * (n-1)/n", ref.results.rdf * (n - 1) / n))
    except ImportError as e:
        print(f"  (MDAnalysis not available: {e})")

    try:
        import mdtraj

        top = mdtraj.Topology()
        chain = top.add_chain()
        for _ in range(RDF_WATERS):
            res = top.add_residue("HOH", chain)
            top.add_atom("O", mdtraj.element.oxygen, res)
            top.add_atom("H1", mdtraj.element.hydrogen, res)
            top.add_atom("H2", mdtraj.element.hydrogen, res)
        traj = mdtraj.Trajectory(positions / 10.0, top,
                                 unitcell_lengths=np.full((RDF_FRAMES, 3), RDF_BOX / 10.0, dtype=np.float32),
                                 unitcell_angles=np.full((RDF_FRAMES, 3), 90.0, dtype=np.float32))
        pairs = top.select_pairs("name O", "name O")
        t_mdtraj, (_, g_mdtraj) = timed(lambda: mdtraj.compute_rdf(traj, pairs, r_range=(0.0, R_MAX / 10.0),
                                                                   n_bins=N_BINS))
        rows.append(("MDTraj compute_rdf (pair selection excluded)", t_mdtraj))
        # MDTraj counts each unordered pair once and divides by n(n-1)/2 of them.
        checks.append(("MDTraj g * (n-1)/n", g_mdtraj * (n - 1) / n))
        del traj
    except ImportError as e:
        print(f"  (MDTraj not available: {e})")

    report("", rows)
    print(f"  {'zelt input conversion alone':<46} {t_convert:8.2f} s   ({100 * t_convert / t_zelt:.0f}% of the call)")
    for label, other in checks:
        print(f"  agreement with {label}: max |difference| {np.max(np.abs(g - other)):.2e} "
              f"(g near 1 at large r: zelt {g[150:].mean():.4f})")


def msd_bench():
    rng = np.random.default_rng(2)
    # An unwrapped random walk far from the box faces: no tool has to unwrap.
    walk = np.cumsum(rng.normal(0.0, 0.05, (MSD_FRAMES, MSD_ATOMS, 3)), axis=0) + MSD_BOX / 2
    walk = walk.astype(np.float32).astype(np.float64)
    frames = [ase.Atoms(symbols=["Ar"] * MSD_ATOMS, positions=p, cell=[MSD_BOX] * 3, pbc=True) for p in walk]
    print(f"\nMSD: {MSD_ATOMS} atoms over {MSD_FRAMES} frames, every lag")

    t_zelt, res = timed(lambda: zelt.compute_msd(frames, "element Ar"))
    rows = [("zelt compute_msd (list of ASE Atoms)", t_zelt)]

    def numpy_direct():
        out = np.zeros(MSD_FRAMES)
        for lag in range(1, MSD_FRAMES):
            d = walk[lag:] - walk[:-lag]
            out[lag] = np.mean(np.sum(d * d, axis=2))
        return out

    t_np, direct = timed(numpy_direct)
    rows.append(("NumPy direct sum", t_np))
    try:
        from MDAnalysis.analysis.msd import EinsteinMSD

        u = universe(walk, MSD_BOX)
        t_mda, ref = timed(lambda: EinsteinMSD(u, select="all", msd_type="xyz", fft=False).run())
        rows.append(("MDAnalysis EinsteinMSD(fft=False)", t_mda))
        mda_msd = ref.results.timeseries
    except ImportError as e:
        print(f"  (MDAnalysis not available: {e})")
        mda_msd = None
    report("", rows)
    rel = np.max(np.abs(res["msd"][1:] - direct[1:]) / direct[1:])
    print(f"  agreement with NumPy: max relative difference {rel:.1e}")
    if mda_msd is not None:
        rel = np.max(np.abs(res["msd"][1:] - mda_msd[1:]) / mda_msd[1:])
        print(f"  agreement with MDAnalysis (float32 coordinates): max relative difference {rel:.1e}")


if __name__ == "__main__":
    rdf_bench()
    msd_bench()
