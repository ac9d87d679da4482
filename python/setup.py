"""Builds tarvok._core: the pybind11 bindings plus the engine's core.

The core and the export writers are compiled into the module itself, so the
package never loads the shared library. Which folders they are and the flags
they are compiled with come from core-sources.txt at the repository's root,
the list every build of the engine reads: its numbers must be the bits every
other build gives (no fused multiply-adds, no value-changing floating-point
optimisation). The version is the repository's VERSION.

In a checkout the sources are read from the repository around this folder;
a source distribution carries a copy of them (and of the list and VERSION)
in engine/, made when the sdist is made, and builds from that.
"""
import shlex
import shutil
from pathlib import Path

from pybind11.setup_helpers import ParallelCompile, Pybind11Extension, build_ext
from setuptools import setup
from setuptools.command.sdist import sdist

HERE = Path(__file__).resolve().parent
BUNDLED = "engine"  # the copy in a source distribution, relative to this folder
LIST = "core-sources.txt"


def engine_root():
    """Where the engine's sources are, relative to this folder (setuptools wants relative paths)."""
    for root in (BUNDLED, ".."):
        if (HERE / root / LIST).is_file() and (HERE / root / "VERSION").is_file():
            return root
    raise SystemExit(f"tarvok: the engine's sources are neither in {HERE / BUNDLED} nor around {HERE}; "
                     "build from a checkout of the repository or from a source distribution made there")


ROOT = engine_root()


def listed(key):
    """The words of `key:` in the source list."""
    for line in (HERE / ROOT / LIST).read_text(encoding="utf-8").splitlines():
        if line.startswith(key + ":"):
            return shlex.split(line[len(key) + 1:])
    raise SystemExit(f"tarvok: {ROOT}/{LIST} has no '{key}:' line")


FOLDERS = listed("core") + listed("exports")
FLAGS = listed("flags")
VERSION = (HERE / ROOT / "VERSION").read_text(encoding="utf-8").split()[0]


def core_files(pattern):
    """The core's files matching pattern, relative to this folder."""
    return sorted(f"{ROOT}/{folder}/{path.name}" for folder in FOLDERS
                  for path in (HERE / ROOT / folder).glob(pattern))


class SelfContainedSdist(sdist):
    """An sdist that builds without the repository: the engine's sources go in."""

    def make_release_tree(self, base_dir, files):
        # The engine's files are laid out anew under engine/, whether they
        # came from the repository (outside this folder) or from an sdist.
        super().make_release_tree(base_dir, [f for f in files if not f.startswith(("..", BUNDLED + "/"))])
        target = Path(base_dir) / BUNDLED
        target.mkdir(exist_ok=True)
        for name in (LIST, "VERSION"):
            self.copy_file(str(HERE / ROOT / name), str(target / name))
        for folder in FOLDERS:
            for path in sorted((HERE / ROOT / folder).iterdir()):
                if path.suffix in (".cpp", ".h") and path.is_file() and not path.is_symlink():
                    (target / folder).mkdir(parents=True, exist_ok=True)
                    shutil.copyfile(path, target / folder / path.name, follow_symlinks=False)


# Several compilers at once only when asked (TARVOK_BUILD_JOBS=N).
ParallelCompile("TARVOK_BUILD_JOBS", default=1).install()

setup(
    version=VERSION,
    ext_modules=[
        Pybind11Extension(
            "tarvok._core",
            ["src/tarvok/_core.cpp", *core_files("*.cpp")],
            include_dirs=[str(HERE / ROOT)],
            depends=core_files("*.h"),  # a changed header rebuilds the module
            cxx_std=17,
            define_macros=[("TARVOK_VERSION", f'"{VERSION}"')],
            extra_compile_args=FLAGS,
            extra_link_args=["-pthread"],
        )
    ],
    cmdclass={"build_ext": build_ext, "sdist": SelfContainedSdist},
)
