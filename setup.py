"""Builds the extension with the project's CMake build for the running interpreter."""
import os
import pathlib
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).resolve().parent


class CMakeExtension(Extension):
    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        target = pathlib.Path(self.get_ext_fullpath(ext.name)).resolve()
        build_dir = pathlib.Path(self.build_temp).resolve() / "cmake"
        build_dir.mkdir(parents=True, exist_ok=True)
        jobs = str(os.cpu_count() or 1)
        subprocess.check_call([
            "cmake", "-S", str(ROOT), "-B", str(build_dir),
            f"-DPYTHON_EXECUTABLE={sys.executable}",
            "-DCMAKE_BUILD_TYPE=Release",
            "-DZELT_BUILD_TESTS=OFF",
        ])
        subprocess.check_call(["cmake", "--build", str(build_dir), "-j", jobs, "--target", "zelt"])
        built = next((build_dir / "python").glob("zelt*.so"))
        target.parent.mkdir(parents=True, exist_ok=True)
        self.copy_file(str(built), str(target))


setup(ext_modules=[CMakeExtension("zelt")], cmdclass={"build_ext": CMakeBuild})
