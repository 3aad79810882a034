import os

import pytest

import zelt
from conftest import SMALL_MOL2, requires, write_text


def test_from_file_reads_atoms_bonds_cell(small_system):
    s = small_system
    assert s.n_atoms == 3
    bonds = s.get_bonds()
    assert bonds == [(0, 1, 1.0), (1, 2, 2.0)]
    assert all(isinstance(b[2], float) for b in bonds)


def test_get_positions_is_a_copy(small_system):
    np = requires("numpy")
    p = small_system.get_positions()
    assert p.dtype == np.float64 and p.shape == (3, 3) and p.flags["C_CONTIGUOUS"]
    assert p[2].tolist() == [2.2, 1.1, 0.0]
    p[0, 0] = 99.0
    assert small_system.get_positions()[0, 0] == 0.0


def test_empty_system_positions(tmp_path):
    np = requires("numpy")
    s = zelt.System.from_file(write_text(tmp_path / "e.mol2", "nothing\n"))
    assert s.n_atoms == 0
    assert s.get_positions().shape == (0, 3)
    assert s.get_bonds() == []


def test_round_trip_through_to_file(small_system, tmp_path):
    out = str(tmp_path / "out.MOL2")
    assert small_system.to_file(out) is None
    text = open(out).read()
    assert text.startswith("@<TRIPOS>MOLECULE\nZELT_System\n    3     2     1     0     0\n")
    assert "   10.0000    12.0000    14.0000    90.0000    90.0000    90.0000 1 1\n" in text
    back = zelt.System.from_file(out)
    assert back.n_atoms == 3
    assert back.get_bonds() == small_system.get_bonds()
    # Writing the re-read system gives the same text again.
    again = str(tmp_path / "again.mol2")
    back.to_file(again)
    assert open(again).read() == text


@pytest.mark.parametrize("name, fmt", [("x.MOL2", None), ("x.txt", "mol2"), ("x.txt", "MoL2"), ("noext", "mol2")])
def test_format_from_extension_or_argument(tmp_path, name, fmt):
    path = write_text(tmp_path / name, SMALL_MOL2)
    s = zelt.System.from_file(path, fmt) if fmt else zelt.System.from_file(path)
    assert s.n_atoms == 3
    assert zelt.System.from_file(path=path, format="mol2").n_atoms == 3


def test_unsupported_format(tmp_path):
    path = write_text(tmp_path / "x.pdb", SMALL_MOL2)
    with pytest.raises(ValueError, match="^Only .mol2 is supported for System.from_file currently$"):
        zelt.System.from_file(path)
    with pytest.raises(ValueError):
        zelt.System.from_file(write_text(tmp_path / ".mol2", SMALL_MOL2))


def test_missing_file_is_reported_before_the_format(tmp_path):
    with pytest.raises(OSError, match="^Failed to read file: No such file or directory"):
        zelt.System.from_file(str(tmp_path / "missing.pdb"))


def test_non_utf8_file(tmp_path):
    path = tmp_path / "bad.mol2"
    path.write_bytes(SMALL_MOL2.encode() + b"\xff\xfe\n")
    with pytest.raises(OSError, match="^Failed to read file: "):
        zelt.System.from_file(str(path))


def test_directory_is_a_read_failure(tmp_path):
    with pytest.raises(OSError, match="^Failed to read file: "):
        zelt.System.from_file(str(tmp_path))


@pytest.mark.parametrize(
    "body, message",
    [
        ("@<TRIPOS>ATOM\nx C 0 0 0 C\n", "invalid digit found in string"),
        ("@<TRIPOS>ATOM\n1 C 0 zero 0 C\n", "invalid float literal"),
        ("@<TRIPOS>ATOM\n1 C 0 0 0 C\n@<TRIPOS>BOND\n1 1 5 1\n",
         "bond on line 4 ('1 1 5 1') refers to atom 5, but the file has 1 atoms"),
        ("@<TRIPOS>ATOM\n99999999999999999999 C 0 0 0 C\n", "number too large to fit in target type"),
    ],
)
def test_parse_failures_are_runtime_errors(tmp_path, body, message):
    path = write_text(tmp_path / "bad.mol2", body)
    with pytest.raises(RuntimeError) as info:
        zelt.System.from_file(path)
    assert str(info.value) == "Failed to parse MOL2 as system: " + message


def test_to_file_refuses_other_formats(small_system, tmp_path):
    out = tmp_path / "out.xyz"
    with pytest.raises(ValueError, match="^Only .mol2 is supported for to_file currently$"):
        small_system.to_file(str(out))
    assert not out.exists()


def test_to_file_write_failure(small_system, tmp_path):
    with pytest.raises(OSError, match="^Failed to write file: "):
        small_system.to_file(str(tmp_path / "no" / "such" / "dir.mol2"))


def test_argument_conversion_errors(small_system):
    with pytest.raises(TypeError):
        zelt.System.from_file(42)
    with pytest.raises(TypeError):
        zelt.System.from_file("x.mol2", format=3)
    with pytest.raises(TypeError):
        small_system.to_file()
    with pytest.raises(TypeError):
        zelt.System.from_file("a.mol2", path="b.mol2")
