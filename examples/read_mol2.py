"""The main zelt example: read a structure, inspect it, write it back.

Run with `make demo` (after the main example).
"""
import pathlib
import tempfile

import zelt

HERE = pathlib.Path(__file__).resolve().parent


def main():
    print(f"zelt {zelt.__version__}")
    system = zelt.System.from_file(str(HERE / "data" / "ethanol.mol2"))
    print(f"atoms: {system.n_atoms}")
    print("bonds (i, j, order):")
    for i, j, order in system.get_bonds():
        print(f"  {i:>3} {j:>3} {order:.1f}")
    print("positions (Å):")
    for row in system.get_positions():
        print("  " + " ".join(f"{x:>9.4f}" for x in row))

    atoms = system.to_ase()
    print("elements:", " ".join(atoms.get_chemical_symbols()))
    print("cell (Å):")
    for row in atoms.cell:
        print("  " + " ".join(f"{x:>9.4f}" for x in row))

    out = pathlib.Path(tempfile.mkdtemp()) / "ethanol_out.mol2"
    system.to_file(str(out))
    again = zelt.System.from_file(str(out))
    assert again.n_atoms == system.n_atoms and again.get_bonds() == system.get_bonds()
    print(f"written to {out} and read back: {again.n_atoms} atoms, {len(again.get_bonds())} bonds")


if __name__ == "__main__":
    main()
