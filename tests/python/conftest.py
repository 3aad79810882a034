import pathlib
import sys

import pytest

import zelt

ON_PYPY = sys.implementation.name == "pypy"


def requires(module):
    """Imports `module` or skips the test; NumPy, ASE, RDKit and MDAnalysis
    exist only for CPython here."""
    try:
        return __import__(module, fromlist=["_"])
    except ImportError:
        where = "PyPy" if ON_PYPY else sys.implementation.name
        pytest.skip(f"{module} is not available under {where}")

# A small MOL2 text: ethanol-like chain C-C-O with one double bond, in a
# 10 x 12 x 14 Å orthorhombic cell.
SMALL_MOL2 = """@<TRIPOS>MOLECULE
small
3 2 1 0 0
SMALL
USER_CHARGES

@<TRIPOS>ATOM
      1 C1          0.0000     0.0000     0.0000 C.3          1 RES         -0.1000
      2 C2          1.5000     0.0000     0.0000 C.2          1 RES          0.2000
      3 O1          2.2000     1.1000     0.0000 O.2          1 RES         -0.3000
@<TRIPOS>BOND
     1      1      2   1
     2      2      3   2
@<TRIPOS>CRYSIN
   10.0000    12.0000    14.0000    90.0000    90.0000    90.0000 1 1
"""


def write_text(path, text):
    pathlib.Path(path).write_text(text)
    return str(path)


@pytest.fixture
def small_mol2(tmp_path):
    return write_text(tmp_path / "small.mol2", SMALL_MOL2)


@pytest.fixture
def small_system(small_mol2):
    return zelt.System.from_file(small_mol2)
