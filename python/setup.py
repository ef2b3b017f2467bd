"""Builds the molstamp module: the binding and the tool's core sources (all of
src/ but main.cpp), against Debian's pybind11-dev, python3-dev, libinchi-dev,
libisal-dev, libzstd-dev, libbz2-dev, liblzma-dev and liblz4-dev. Meant for an in-tree build from a checkout:

    pip install --no-build-isolation --no-index ./python
"""
import os
import re

from setuptools import Extension, setup

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def project_version():
    """The version in CMakeLists.txt's project(), the tool's own."""
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as f:
        found = re.search(r"project\(\s*molstamp\s+VERSION\s+([0-9.]+)", f.read())
    if not found:
        raise RuntimeError("no project(molstamp VERSION ...) in CMakeLists.txt")
    return found.group(1)


def core_sources():
    """The core library's sources, relative to this file as setuptools wants."""
    src = os.path.join(ROOT, "src")
    names = sorted(os.path.relpath(os.path.join(d, n), src)
                   for d, _, files in os.walk(src) for n in files
                   if n.endswith(".cpp") and n != "main.cpp")
    return [os.path.join("..", "src", n) for n in names]


VERSION = project_version()

setup(
    name="molstamp",
    version=VERSION,
    description="InChIKeys of InChI strings by the InChI library, many at once",
    packages=["molstamp"],
    package_data={"molstamp": ["__init__.pyi", "py.typed"]},
    python_requires=">=3.9",
    ext_modules=[
        Extension(
            "molstamp._molstamp",
            sources=["binding.cpp"] + core_sources(),
            include_dirs=[os.path.join("..", "src")],
            define_macros=[("MOLSTAMP_VERSION", f'"{VERSION}"')],
            # libinchi uses libm without linking it: m comes after it.
            libraries=["inchi", "m", "isal", "zstd", "bz2", "lzma", "lz4"],
            extra_compile_args=["-std=c++17", "-fvisibility=hidden", "-g0"],
            extra_link_args=["-pthread"],
            language="c++",
        )
    ],
    # Both processors' worth of compilers at once.
    options={"build_ext": {"parallel": os.cpu_count() or 1}},
    zip_safe=False,
)
