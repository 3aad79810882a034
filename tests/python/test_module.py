import inspect
import os
import subprocess
import sys

import pytest

import zelt


def test_version():
    assert zelt.__version__ == "0.9.0"
    assert isinstance(zelt.__version__, str)


def test_system_has_no_constructor():
    with pytest.raises(TypeError):
        zelt.System()


def _pool_in_subprocess(value):
    env = dict(os.environ)
    env.pop("ZELT_NUM_THREADS", None)
    if value is not None:
        env["ZELT_NUM_THREADS"] = value
    code = "import zelt; print(zelt._pool_threads(), zelt._pool_observed_threads())"
    out = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, check=True)
    configured, observed = map(int, out.stdout.split())
    return configured, observed


@pytest.mark.parametrize(
    "value, expected",
    [(None, 4), ("2", 2), ("+8", 8), ("8 ", 4), ("-1", 4), ("eight", 4), ("", 4), ("0", os.cpu_count())],
)
def test_thread_count_rule(value, expected):
    configured, observed = _pool_in_subprocess(value)
    assert configured == expected
    # The pool really runs that many distinct threads.
    assert observed == expected


SIGNATURES = {
    "from_file": "(path, format=None)",
    "get_positions": "(self)",
    "get_bonds": "(self)",
    "to_file": "(self, path)",
}


@pytest.mark.parametrize("name, text", sorted(SIGNATURES.items()))
def test_text_signatures_unbound(name, text):
    assert str(inspect.signature(getattr(zelt.System, name))) == text


def test_text_signatures_bound(small_system):
    assert str(inspect.signature(small_system.to_file)) == "(path)"
    assert str(inspect.signature(small_system.get_positions)) == "()"
    # Binding keeps the method working as before.
    assert small_system.get_bonds() == zelt.System.get_bonds(small_system)
