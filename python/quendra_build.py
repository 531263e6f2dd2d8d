"""The build backend of the quendra Python package (PEP 517), which needs no other package.

build_wheel compiles libquendra.so with CMake from the C++ sources (with
QUENDRA_PORTABLE: libstdc++ linked in, $ORIGIN first on its search path),
then writes the wheel itself: the binding's files, the library inside the
package with the libraries it needs that are not part of the C and C++
runtime (libfyaml.so.0, copied from where the system's loader finds it), the
licences, and the dist-info files (METADATA, WHEEL, RECORD). The wheel's
platform tag is computed from what those binaries need (see `platform_tag`):
a manylinux tag that the build refuses to write when it would not hold. The
sources are the checkout around this folder, or native/ inside an sdist.
build_sdist packs this folder, the licences and those sources into native/,
so that the sdist builds alone.

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
import struct
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
NATIVE_PARTS = ("CMakeLists.txt", "cmake", "include", "src", "third_party", "tools")
# The licence and the notices of what the binaries carry, at the top of the
# source tree (of the sdist too).
LICENSE_FILES = ("LICENSE", "THIRD-PARTY-NOTICES")
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
        f"License: {project['license']}",
        "Classifier: License :: OSI Approved :: Apache Software License",
        f"Requires-Python: {project['requires-python']}",
    ]
    return "\n".join(lines) + "\n"


def _license_files():
    """(name, path) of the licence files, from the top of the source tree."""
    for top in (HERE, HERE.parent):
        paths = [top / name for name in LICENSE_FILES]
        if all(path.is_file() for path in paths):
            return list(zip(LICENSE_FILES, paths))
    raise BuildError(f"{' and '.join(LICENSE_FILES)} are not in {HERE} or {HERE.parent}")


def _machine():
    """The machine part of the platform tag, as the running Python names it."""
    return sysconfig.get_platform().split("-", 1)[-1].replace("-", "_").replace(".", "_")


def _tag(platform=None):
    """The wheel's tag; the manylinux platform is known only once the library
    is built, so prepared metadata names the plain linux platform."""
    return f"py3-none-{platform or 'linux_' + _machine()}"


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
                 "-DQUENDRA_TESTS=OFF", "-DQUENDRA_BENCH=OFF", "-DQUENDRA_PORTABLE=ON"]
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
# What the shipped binaries need, and the platform tag that says so


class Elf:
    """The dynamic-linking facts of an ELF shared object: the libraries it
    names (DT_NEEDED), its SONAME, its RUNPATH, and the symbol versions it
    needs from each library (the .gnu.version_r section)."""

    def __init__(self, path):
        self.path = Path(path)
        data = self.path.read_bytes()
        if data[:4] != b"\x7fELF" or data[4] != 2 or data[5] != 1:
            raise BuildError(f"{self.path} is not a 64-bit little-endian ELF file")
        shoff, = struct.unpack_from("<Q", data, 0x28)
        shentsize, shnum = struct.unpack_from("<HH", data, 0x3A)
        sections = [struct.unpack_from("<IIQQQQIIQQ", data, shoff + i * shentsize)
                    for i in range(shnum)]

        def string(section_index, offset):
            start = sections[section_index][4] + offset
            return data[start:data.index(b"\0", start)].decode()

        self.needed, self.soname, self.runpath, self.versions = [], None, None, {}
        for _, kind, _, _, offset, size, link, info, _, _ in sections:
            if kind == 6:  # SHT_DYNAMIC
                for at in range(offset, offset + size, 16):
                    tag, value = struct.unpack_from("<qQ", data, at)
                    if tag == 1:
                        self.needed.append(string(link, value))
                    elif tag == 14:
                        self.soname = string(link, value)
                    elif tag in (15, 29):
                        self.runpath = string(link, value)
            elif kind == 0x6FFFFFFE:  # SHT_GNU_verneed: `info` entries
                at = offset
                for _ in range(info):
                    _, count, file, aux, following = struct.unpack_from("<HHIII", data, at)
                    names, entry = self.versions.setdefault(string(link, file), set()), at + aux
                    for _ in range(count):
                        _, _, _, name, step = struct.unpack_from("<IHHII", data, entry)
                        names.add(string(link, name))
                        entry += step
                    at += following


# The libraries of the C and C++ runtime, which every glibc system has: any
# other library a shipped binary needs must be carried in the wheel.
RUNTIME_LIBRARIES = frozenset({
    "libc.so.6", "libm.so.6", "libdl.so.2", "librt.so.1", "libpthread.so.0",
    "ld-linux-x86-64.so.2", "ld-linux-aarch64.so.1", "libgcc_s.so.1", "libstdc++.so.6",
})

# The newest C++ runtime symbol versions that the distributions of a
# manylinux glibc baseline all have on x86_64 (the manylinux policies of
# PEP 600): (glibc, GLIBCXX, CXXABI, GCC), oldest baseline first.
CXX_RUNTIME_BASELINES = (
    ((2, 17), (3, 4, 19), (1, 3, 7), (4, 8, 0)),
    ((2, 24), (3, 4, 22), (1, 3, 10), (4, 8, 0)),
    ((2, 28), (3, 4, 24), (1, 3, 11), (7, 0, 0)),
    ((2, 34), (3, 4, 29), (1, 3, 13), (7, 0, 0)),
    ((2, 35), (3, 4, 30), (1, 3, 13), (12, 0, 0)),
)
# Symbol versions that are not numbers, and the first baseline that has them.
NAMED_VERSIONS = {"GLIBC_ABI_DT_RELR": (2, 36), "CXXABI_TM_1": (2, 17), "CXXABI_FLOAT128": (2, 24)}


def _glibc_needed(version):
    """The oldest glibc (major, minor) whose systems provide the symbol
    version `version`, such as GLIBC_2.34 or GLIBCXX_3.4.29."""
    if version in NAMED_VERSIONS:
        return NAMED_VERSIONS[version]
    family, _, number = version.partition("_")
    if not re.fullmatch(r"\d+(\.\d+)*", number):
        raise BuildError(f"the symbol version {version} is not one a manylinux tag can promise")
    number = tuple(int(part) for part in number.split("."))
    if family == "GLIBC":
        return number[:2]
    column = {"GLIBCXX": 1, "CXXABI": 2, "GCC": 3}.get(family)
    if column is None:
        raise BuildError(f"the symbol version {version} is not one a manylinux tag can promise")
    for baseline in CXX_RUNTIME_BASELINES:
        if number <= baseline[column]:
            return baseline[0]
    raise BuildError(f"no manylinux baseline provides {version}: link libstdc++ in statically")


def platform_tag(binaries, machine):
    """The manylinux platform tag that the shipped `binaries` ({file name in
    the package: Elf}) earn on `machine` (x86_64, aarch64, ...): the newest
    glibc any of their symbol versions needs. Raises BuildError where no tag
    would hold: a library that is neither part of the C and C++ runtime nor
    carried beside them (or carried where the binary does not look), a
    private or unknown symbol version, or C++ runtime versions on a machine
    whose baselines are not known here."""
    carried = {elf.soname or name for name, elf in binaries.items()}
    glibc = (2, 5)
    for name, elf in sorted(binaries.items()):
        missing = [lib for lib in elf.needed if lib not in RUNTIME_LIBRARIES | carried]
        if missing:
            raise BuildError(f"{name} needs {', '.join(missing)}, which the wheel does not carry")
        if set(elf.needed) & carried and "$ORIGIN" not in (elf.runpath or "").split(":"):
            raise BuildError(f"{name} needs libraries carried beside it but does not look "
                             "there (no $ORIGIN in its RUNPATH)")
        for library, versions in sorted(elf.versions.items()):
            if library in carried:
                continue
            for version in sorted(versions):
                if not version.startswith("GLIBC_") and machine != "x86_64":
                    raise BuildError(f"{name} needs {version} from {library}: no known "
                                     f"manylinux baseline for it on {machine}")
                glibc = max(glibc, _glibc_needed(version))
    return f"manylinux_{glibc[0]}_{glibc[1]}_{machine}"


def _loader_path(library, soname):
    """Where the system's dynamic loader finds `soname` for `library` (ldd)."""
    try:
        said = subprocess.run(["ldd", str(library)], capture_output=True, text=True, check=True).stdout
    except (OSError, subprocess.CalledProcessError) as error:
        raise BuildError(f"ldd {library} failed: {error}") from None
    match = re.search(rf"^\s*{re.escape(soname)} => (/\S+)", said, re.M)
    if not match:
        raise BuildError(f"the loader does not find {soname}, which {library.name} needs")
    return Path(match.group(1)).resolve()


def _shipped_binaries(library):
    """{file name in the package: path} of the library and of every library it
    needs, directly or not, outside the C and C++ runtime (named by SONAME,
    as the library's $ORIGIN search looks for it)."""
    shipped, pending = {LIBRARY: library}, [library]
    while pending:
        path = pending.pop()
        for soname in Elf(path).needed:
            if soname not in RUNTIME_LIBRARIES and soname not in shipped:
                shipped[soname] = _loader_path(path, soname)
                pending.append(shipped[soname])
    return shipped


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
        shipped = _shipped_binaries(library)
        tag = _tag(platform_tag({name: Elf(path) for name, path in shipped.items()}, _machine()))
    except BuildError as error:
        print(f"error: {error}", file=sys.stderr)
        raise
    print(f"quendra_build: {', '.join(shipped)}: {tag}", flush=True)
    name = f"{PACKAGE}-{_version()}-{tag}.whl"
    dist_info = _dist_info()
    partial = Path(wheel_directory) / (name + ".part")
    wheel = _Wheel(partial, _timestamp())
    try:
        for archive_name, path in _package_files():
            wheel.add(archive_name, path.read_bytes())
        for file_name, path in shipped.items():
            wheel.add(f"{PACKAGE}/{file_name}", path.read_bytes(), executable=True)
        for file_name, path in _license_files():
            wheel.add(f"{dist_info}/licenses/{file_name}", path.read_bytes())
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
            for arcname, path in _license_files():
                add(archive, arcname, path.read_bytes())
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
