"""Builds the molstamp module with the project's own CMake build: the
_molstamp target of the top-level CMakeLists.txt, whose core_sources list is
the one list of the core's sources. Needs Debian's cmake, g++,
pybind11-dev, python3-dev, libinchi-dev, libisal-dev, libzstd-dev,
libbz2-dev, liblzma-dev and liblz4-dev. Meant for an in-tree build from a
checkout:

    pip install --no-build-isolation --no-index ./python
"""
import os
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def project_version():
    """The version in CMakeLists.txt's project(), the tool's own."""
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as f:
        found = re.search(r"project\(\s*molstamp\s+VERSION\s+([0-9.]+)", f.read())
    if not found:
        raise RuntimeError("no project(molstamp VERSION ...) in CMakeLists.txt")
    return found.group(1)


class CMakeExtension(Extension):
    """An extension that a CMake target builds: setuptools compiles nothing."""

    def __init__(self, name, target):
        super().__init__(name, sources=[])
        self.target = target


class CMakeBuild(build_ext):
    """Configures the project in the build directory (Release, no tests, for
    the interpreter that runs this), builds the extension's target alone and
    copies the module where setuptools packs it."""

    def build_extension(self, ext):
        build_dir = os.path.abspath(os.path.join(self.build_temp, "cmake"))
        configure = [
            "cmake", "-S", ROOT, "-B", build_dir,
            "-DCMAKE_BUILD_TYPE=Release",
            "-DMOLSTAMP_TESTS=OFF",
            "-DMOLSTAMP_PYTHON=ON",
            "-DMOLSTAMP_SQLITE=OFF",  # the module alone: the SQL extensions are not its part
            "-DMOLSTAMP_POSTGRESQL=OFF",
            f"-DPython3_EXECUTABLE={sys.executable}",
        ]
        jobs = self.parallel or os.cpu_count() or 1
        build = ["cmake", "--build", build_dir, "--target", ext.target, "--parallel", str(jobs)]
        subprocess.run(configure, check=True)
        subprocess.run(build, check=True)
        destination = self.get_ext_fullpath(ext.name)
        # python/CMakeLists.txt lays the module out as its package, under the
        # name this interpreter imports.
        built = os.path.join(build_dir, "python", "molstamp", os.path.basename(destination))
        if not os.path.isfile(built):
            raise RuntimeError(f"cmake built no {built}")
        os.makedirs(os.path.dirname(destination), exist_ok=True)
        shutil.copyfile(built, destination)


setup(
    name="molstamp",
    version=project_version(),
    description="InChIKeys of InChI strings by the InChI library, many at once",
    packages=["molstamp"],
    package_data={"molstamp": ["__init__.pyi", "py.typed"]},
    python_requires=">=3.9",
    ext_modules=[CMakeExtension("molstamp._molstamp", target="_molstamp")],
    cmdclass={"build_ext": CMakeBuild},
    zip_safe=False,
)
