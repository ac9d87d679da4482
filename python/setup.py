"""Builds tarvok._core: the pybind11 bindings plus the core's own sources.

The core (base/, numeric/, shaving/, core/ of the repository this folder
lives in) and the export writers (exports/) are compiled into the module itself, so the package never loads
the shared library. Its numbers must be the bits every other build gives:
no fused multiply-adds, no value-changing floating-point optimisation.
"""
from pathlib import Path

from pybind11.setup_helpers import ParallelCompile, Pybind11Extension, build_ext
from setuptools import setup

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent
CORE_FOLDERS = ("base", "numeric", "shaving", "core", "exports")

if not (ROOT / "core" / "Analysis.h").is_file():
    raise SystemExit(f"tarvok: the core's sources are not beside this folder ({ROOT}); build from a checkout")



def core_files(pattern):
    """The core's files matching pattern, relative to this folder as setuptools wants."""
    return sorted(f"../{folder}/{path.name}" for folder in CORE_FOLDERS for path in (ROOT / folder).glob(pattern))


core_sources = core_files("*.cpp")
VERSION = (ROOT / "VERSION").read_text(encoding="ascii").strip()  # the project's one version number

# Several compilers at once only when asked (TARVOK_BUILD_JOBS=N).
ParallelCompile("TARVOK_BUILD_JOBS", default=1).install()

setup(
    version=VERSION,
    ext_modules=[
        Pybind11Extension(
            "tarvok._core",
            ["src/tarvok/_core.cpp", *core_sources],
            include_dirs=[str(ROOT)],
            depends=core_files("*.h"),  # a changed header rebuilds the module
            cxx_std=17,
            define_macros=[("TARVOK_VERSION", f'"{VERSION}"')],
            extra_compile_args=["-O3", "-ffp-contract=off", "-fno-fast-math"],
            extra_link_args=["-pthread"],
        )
    ],
    cmdclass={"build_ext": build_ext},
)
