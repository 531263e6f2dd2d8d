"""The build backend of the quendra Python package (PEP 517), which needs no other package.

build_wheel compiles libquendra.so with CMake from the C++ sources, then
writes the wheel itself: the binding's files, the library inside the package
and the dist-info files (METADATA, WHEEL, RECORD). The sources are the
checkout around this folder, or native/ inside an sdist. build_sdist packs
this folder and those sources into native/, so that the sdist builds alone.

The CMake build tree stays in build/native beside this file, so that a second
build only relinks. Config settings (``pip wheel -C KEY=VALUE``): ``build-dir``
moves it, ``cmake-args`` adds arguments to the configure step (split on
spaces). CMAKE_BUILD_PARALLEL_LEVEL sets the number of compile jobs (default:
the number of CPUs).
"""

import base64
import hashlib
import io
import json
import os
import re
import shutil
import subprocess
import sys
import sysconfig
import tarfile
import time
import zipfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
PACKAGE = "quendra"
LIBRARY = "libquendra.so"
# What the library's build needs, from the top of the source tree.
NATIVE_PARTS = ("CMakeLists.txt", "cmake", "include", "src", "tools")
NEEDS = (
    "building quendra needs CMake 3.20, a C++20 compiler (g++ 12), pkg-config, ICU and "
    "libfyaml; on Debian or Ubuntu: apt-get install cmake ninja-build g++ pkg-config "
    "libicu-dev libfyaml-dev"
)


class BuildError(Exception):
    pass


# ---------------------------------------------------------------------------
# Metadata


def _project_table():
    """The [project] table of pyproject.toml."""
    text = (HERE / "pyproject.toml").read_text(encoding="utf-8")
    try:
        import tomllib
    except ImportError:
        # Before Python 3.11: the table holds only one-line values that are
        # also JSON (strings and arrays of strings).
        table, inside = {}, False
        for line in text.splitlines():
            line = line.strip()
            if line.startswith("["):
                inside = line == "[project]"
            elif inside and "=" in line and not line.startswith("#"):
                key, value = line.split("=", 1)
                table[key.strip()] = json.loads(value.strip())
        return table
    return tomllib.loads(text)["project"]


def _version():
    text = (HERE / PACKAGE / "__init__.py").read_text(encoding="utf-8")
    match = re.search(r'^__version__ = "([^"]+)"$', text, re.M)
    if not match:
        raise BuildError(f"no __version__ in {PACKAGE}/__init__.py")
    return match.group(1)


def _metadata_text():
    project = _project_table()
    lines = [
        "Metadata-Version: 2.1",
        f"Name: {project['name']}",
        f"Version: {_version()}",
        f"Summary: {project['description']}",
        f"Requires-Python: {project['requires-python']}",
    ]
    return "\n".join(lines) + "\n"


def _tag():
    platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
    return f"py3-none-{platform}"


def _wheel_text(tag):
    return (
        "Wheel-Version: 1.0\n"
        f"Generator: quendra_build ({_version()})\n"
        "Root-Is-Purelib: false\n"
        f"Tag: {tag}\n"
    )


def _dist_info():
    return f"{PACKAGE}-{_version()}.dist-info"


# ---------------------------------------------------------------------------
# Compiling the library


def _native_source():
    for candidate in (HERE / "native", HERE.parent):
        cmake_lists = candidate / "CMakeLists.txt"
        if cmake_lists.is_file() and "project(quendra " in cmake_lists.read_text(encoding="utf-8"):
            return candidate
    raise BuildError(
        f"the C++ sources of quendra are not beside {HERE}: build the package from a "
        "checkout of the repository (pip install ./python) or from its sdist"
    )


def _run(command, cwd=None):
    print("+ " + " ".join(str(part) for part in command), flush=True)
    try:
        done = subprocess.run([str(part) for part in command], cwd=cwd)
    except FileNotFoundError as error:
        raise BuildError(f"{error}; {NEEDS}") from None
    if done.returncode != 0:
        raise BuildError(f"{command[0]} failed with exit status {done.returncode}; {NEEDS}")


def _cached_source(build_dir):
    """The source directory that an existing CMake build tree was made for, or None."""
    cache = build_dir / "CMakeCache.txt"
    if not cache.is_file():
        return None
    match = re.search(r"^CMAKE_HOME_DIRECTORY:INTERNAL=(.*)$", cache.read_text(errors="replace"), re.M)
    return Path(match.group(1)) if match else None


def _build_library(config_settings):
    """Compiles the shared library and returns the path of the real file."""
    settings = config_settings or {}
    cmake = shutil.which("cmake")
    if cmake is None:
        raise BuildError(f"cmake was not found; {NEEDS}")
    source = _native_source().resolve()
    build_dir = Path(settings.get("build-dir") or HERE / "build" / "native").resolve()
    cached = _cached_source(build_dir)
    if cached is not None and cached.resolve() != source:
        shutil.rmtree(build_dir)
        cached = None
    configure = [cmake, "-S", source, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
                 "-DQUENDRA_TESTS=OFF", "-DQUENDRA_BENCH=OFF"]
    if cached is None and shutil.which("ninja"):
        configure += ["-G", "Ninja"]
    configure += str(settings.get("cmake-args", "")).split()
    _run(configure)
    jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
    _run([cmake, "--build", build_dir, "--target", "quendra", "--parallel", jobs])
    built = build_dir / LIBRARY
    if not built.exists():
        raise BuildError(f"the build made no {built}")
    return built.resolve()


# ---------------------------------------------------------------------------
# Archives


def _timestamp():
    """SOURCE_DATE_EPOCH when set, so that archives can be built reproducibly."""
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    return max(int(epoch), 315532800) if epoch else int(time.time())


def _package_files():
    """(archive name, path) of every file of the Python package, sorted."""
    root = HERE / PACKAGE
    found = []
    for path in sorted(root.rglob("*")):
        relative = path.relative_to(HERE)
        if path.is_dir() or "__pycache__" in relative.parts or path.suffix in (".pyc", ".so"):
            continue
        found.append((relative.as_posix(), path))
    return found


class _Wheel:
    """A wheel being written: each file is recorded with its hash for RECORD."""

    def __init__(self, path, timestamp):
        self.zip = zipfile.ZipFile(path, "w", compression=zipfile.ZIP_DEFLATED)
        self.date = time.gmtime(timestamp)[:6]
        self.record = []

    def add(self, name, data, executable=False):
        info = zipfile.ZipInfo(name, date_time=self.date)
        info.external_attr = (0o100755 if executable else 0o100644) << 16
        info.compress_type = zipfile.ZIP_DEFLATED
        self.zip.writestr(info, data)
        digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
        self.record.append(f"{name},sha256={digest},{len(data)}")

    def close(self, record_name):
        lines = self.record + [f"{record_name},,"]
        info = zipfile.ZipInfo(record_name, date_time=self.date)
        info.external_attr = 0o100644 << 16
        self.zip.writestr(info, "\n".join(lines) + "\n", compress_type=zipfile.ZIP_DEFLATED)
        self.zip.close()


# ---------------------------------------------------------------------------
# The PEP 517 hooks


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    target = Path(metadata_directory) / _dist_info()
    target.mkdir(parents=True, exist_ok=True)
    (target / "METADATA").write_text(_metadata_text(), encoding="utf-8")
    (target / "WHEEL").write_text(_wheel_text(_tag()), encoding="utf-8")
    return target.name


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    try:
        library = _build_library(config_settings)
    except BuildError as error:
        print(f"error: {error}", file=sys.stderr)
        raise
    tag = _tag()
    name = f"{PACKAGE}-{_version()}-{tag}.whl"
    dist_info = _dist_info()
    partial = Path(wheel_directory) / (name + ".part")
    wheel = _Wheel(partial, _timestamp())
    try:
        for archive_name, path in _package_files():
            wheel.add(archive_name, path.read_bytes())
        wheel.add(f"{PACKAGE}/{LIBRARY}", library.read_bytes(), executable=True)
        wheel.add(f"{dist_info}/METADATA", _metadata_text().encode())
        wheel.add(f"{dist_info}/WHEEL", _wheel_text(tag).encode())
        wheel.add(f"{dist_info}/top_level.txt", f"{PACKAGE}\n".encode())
        wheel.close(f"{dist_info}/RECORD")
        partial.replace(Path(wheel_directory) / name)
    finally:
        if partial.exists():
            partial.unlink()
    return name


def build_sdist(sdist_directory, config_settings=None):
    base = f"{PACKAGE}-{_version()}"
    name = f"{base}.tar.gz"
    mtime = _timestamp()
    native = _native_source()

    def add(archive, arcname, data, mode=0o644):
        info = tarfile.TarInfo(f"{base}/{arcname}")
        info.size, info.mtime, info.mode = len(data), mtime, mode
        archive.addfile(info, io.BytesIO(data))

    partial = Path(sdist_directory) / (name + ".part")
    try:
        with tarfile.open(partial, "w:gz", format=tarfile.PAX_FORMAT) as archive:
            add(archive, "PKG-INFO", _metadata_text().encode())
            for own in ("pyproject.toml", Path(__file__).name):
                add(archive, own, (HERE / own).read_bytes())
            for arcname, path in _package_files():
                add(archive, arcname, path.read_bytes())
            for part in NATIVE_PARTS:
                top = native / part
                paths = [top] if top.is_file() else sorted(p for p in top.rglob("*") if p.is_file())
                for path in paths:
                    arcname = "native/" + path.relative_to(native).as_posix()
                    add(archive, arcname, path.read_bytes())
        partial.replace(Path(sdist_directory) / name)
    finally:
        if partial.exists():
            partial.unlink()
    return name
