# SPDX-License-Identifier: BSD-3-Clause
"""Builds the scanpilot extension with the project's own CMake (setuptools
backend, see pyproject.toml). The four libraries are installed into the
package beside the extension, which finds them through its $ORIGIN rpath, so
an installed package or a wheel needs nothing else at run time.

CMAKE_BUILD_PARALLEL_LEVEL sets the build's jobs (default 2)."""
import os
import re
import shutil
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


def project_version():
    """The release version, from the top-level project() of CMakeLists.txt (its one home)."""
    text = (ROOT / "CMakeLists.txt").read_text()
    match = re.search(r"^project\(scanpilot VERSION ([0-9]+\.[0-9]+\.[0-9]+)", text, re.M)
    if match is None:
        raise RuntimeError("scanpilot: no version in CMakeLists.txt's project()")
    return match.group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        cmake = shutil.which("cmake")
        if cmake is None:
            raise RuntimeError("scanpilot: cmake not found (Debian: cmake)")
        temp = Path(self.build_temp).resolve()
        build, stage = temp / "cmake", temp / "stage"
        self.spawn([cmake, "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                    # A venv's interpreter by its real file: venvs of one Python share a build.
                    "-DPython3_EXECUTABLE=" + os.path.realpath(sys.executable), "-DSCANPILOT_BUILD_TESTS=OFF",
                    "-DSCANPILOT_BUILD_EXAMPLES=OFF", "-DSCANPILOT_BUILD_BENCH=OFF",
                    "-DSCANPILOT_PYTHON_REQUIRED=ON", "-DSCANPILOT_PYTHON_BUNDLE=ON",
                    "-DSCANPILOT_PYTHON_INSTALL_DIR=."])
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        self.spawn([cmake, "--build", str(build), "-j", jobs, "--target", "_scanpilot"])
        shutil.rmtree(stage, ignore_errors=True)
        self.spawn([cmake, "--install", str(build), "--component", "python", "--prefix", str(stage)])
        dest = Path(self.get_ext_fullpath(ext.name)).parent
        dest.mkdir(parents=True, exist_ok=True)
        # A wheel keeps no symlinks: each library once, under its SONAME
        # (the name the loader looks for), the versioned file left out.
        staged = stage / "scanpilot"
        # A library left by an earlier build under another ABI number is not this build's.
        for p in dest.glob("lib*.so.*"):
            if not (staged / p.name).exists():
                p.unlink()
        link_targets = {os.readlink(p) for p in staged.iterdir() if p.is_symlink()}
        for p in staged.iterdir():
            if p.suffix in (".py", ".pyi", ".typed") or p.name in link_targets:
                continue
            shutil.copyfile(p, dest / p.name)  # follows the SONAME link


setup(
    version=project_version(),
    ext_modules=[Extension("scanpilot._scanpilot", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    options={"build": {"build_base": "build-python"}, "egg_info": {"egg_base": "build-python"}},
)
