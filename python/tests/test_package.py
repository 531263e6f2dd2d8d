"""The package as users get it: the wheel of `pip wheel ./python` (its manylinux tag, the
libraries it carries, its licence, a true RECORD) installed with `pip install --no-index` into a
new virtual environment of the machine's python3, `pip install ./python` there too, the backend's
sdist, and the backend's refusal of tags that would not hold."""

import base64
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tarfile
import tempfile
import unittest
import zipfile
from pathlib import Path
from types import SimpleNamespace

import support
import quendra
import quendra_build

BASE = f"quendra-{quendra.__version__}"
# The C and C++ runtime, which the shipped binaries may need from the system.
RUNTIME = {"libc.so.6", "libm.so.6", "libgcc_s.so.1", "ld-linux-x86-64.so.2"}
# Prints the result of a shrink, where the library and the libfyaml it uses were loaded from, and
# the package's directory.
PROBE = ("import quendra, os; print(quendra.shrink('[1,2,3,4,5,6,7,8,9]', max_chars=10).text, "
         "quendra.__version__ == quendra.library_version(), quendra._library().path, "
         "[l.split()[-1] for l in open('/proc/self/maps') if 'libfyaml' in l][0], "
         "os.path.dirname(quendra.__file__), sep='\\n')")


def run(*command, cwd=support.ROOT):
    """Runs a command as a user's shell would: none of the test run's settings."""
    env = {k: v for k, v in os.environ.items()
           if not k.startswith("QUENDRA_") and k not in ("PYTHONPATH", "VIRTUAL_ENV")}
    done = subprocess.run(command, cwd=cwd, env=env, capture_output=True, text=True, timeout=1200)
    if done.returncode != 0:
        raise AssertionError(f"{command} failed:\n{done.stdout}\n{done.stderr}")
    return done.stdout


class PackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = Path(tempfile.mkdtemp(prefix="quendra-pip-"))
        cls.addClassCleanup(shutil.rmtree, cls.tmp, ignore_errors=True)
        run(shutil.which("python3") or sys.executable, "-m", "venv", cls.tmp / "venv")
        run(cls.tmp / "venv/bin/pip", "wheel", "--no-index", "./python", "-w", cls.tmp / "dist")
        cls.wheel, = (cls.tmp / "dist").glob("*.whl")

    def assert_self_contained(self, said):
        lines = said.splitlines()
        self.assertEqual(lines[:4], ["[", '  "…[9 items omitted]"', "]", "True"])
        package = Path(lines[-1])
        self.assertEqual([Path(line) for line in lines[4:6]],
                         [package / "libquendra.so", package / "libfyaml.so.0"])

    def test_wheel_installs_offline_into_a_new_venv(self):
        venv = self.tmp / "wheel-venv"
        run(shutil.which("python3") or sys.executable, "-m", "venv", venv)
        run(venv / "bin/pip", "install", "--no-index", self.wheel)
        self.assert_self_contained(run(venv / "bin/python", "-c", PROBE, cwd=self.tmp))

    def test_install_from_the_checkout(self):
        run(self.tmp / "venv/bin/pip", "install", "--no-index", "./python")
        self.assert_self_contained(run(self.tmp / "venv/bin/python", "-c", PROBE, cwd=self.tmp))

    def test_wheel_tag_holds_for_what_its_binaries_need(self):
        tag = re.fullmatch(rf"{BASE}-py3-none-manylinux_(\d+)_(\d+)_x86_64\.whl", self.wheel.name)
        self.assertIsNotNone(tag, self.wheel.name)
        unpacked = self.tmp / "unpacked"
        with zipfile.ZipFile(self.wheel) as wheel:
            wheel.extractall(unpacked)
        binaries = sorted((unpacked / "quendra").glob("lib*.so*"))
        self.assertEqual([b.name for b in binaries], ["libfyaml.so.0", "libquendra.so"])
        versions = set()
        for binary in binaries:
            dynamic = run("readelf", "-d", "-W", binary)
            needed = set(re.findall(r"\(NEEDED\).*\[(.+)\]", dynamic))
            self.assertLessEqual(needed, RUNTIME | {b.name for b in binaries}, binary.name)
            if "libfyaml.so.0" in needed:
                self.assertRegex(dynamic, r"\(RUNPATH\).*\[\$ORIGIN\]")
            versions |= set(re.findall(r"Name: (\S+)", run("readelf", "-V", "-W", binary)
                                       .partition("Version needs section")[2]))
        self.assertFalse({v for v in versions if v.startswith(("GLIBCXX_", "CXXABI_"))})
        newest = max(tuple(map(int, v[6:].split("."))) for v in versions if v.startswith("GLIBC_2"))
        self.assertEqual(newest[:2], (int(tag[1]), int(tag[2])))

    def test_wheel_holds_the_licence_and_a_true_record(self):
        with zipfile.ZipFile(self.wheel) as wheel:
            info = f"{BASE}.dist-info/"
            self.assertIn("Root-Is-Purelib: false", wheel.read(info + "WHEEL").decode())
            self.assertIn("License: Apache-2.0", wheel.read(info + "METADATA").decode())
            self.assertEqual(wheel.read(info + "licenses/LICENSE"), (support.ROOT / "LICENSE").read_bytes())
            self.assertIn(b"libfyaml", wheel.read(info + "licenses/THIRD-PARTY-NOTICES"))
            record = [line.split(",") for line in wheel.read(info + "RECORD").decode().split()]
            self.assertEqual(sorted(name for name, _, _ in record), sorted(wheel.namelist()))
            self.assertTrue({"quendra/__init__.py", "quendra/py.typed", info + "METADATA"}
                            <= set(wheel.namelist()))
            for name, digest, size in record:
                if name != info + "RECORD":
                    sha = base64.urlsafe_b64encode(hashlib.sha256(wheel.read(name)).digest())
                    self.assertEqual((digest, size), ("sha256=" + sha.decode().rstrip("="),
                                                      str(len(wheel.read(name)))))

    def test_sdist_builds_from_its_own_sources(self):
        name = run(sys.executable, "-c", f"import quendra_build; print(quendra_build.build_sdist("
                   f"{str(self.tmp)!r}))", cwd=support.ROOT / "python").strip()
        with tarfile.open(self.tmp / name) as sdist:
            src = support.ROOT / "src"
            self.assertTrue({f"{BASE}/native/src/{p.relative_to(src).as_posix()}"
                             for p in src.rglob("*") if p.is_file()}
                            | {f"{BASE}/{p}" for p in ("PKG-INFO", "pyproject.toml", "LICENSE",
                                                       "THIRD-PARTY-NOTICES", "quendra/__init__.py",
                                                       "native/CMakeLists.txt",
                                                       "native/src/unicode/gen_tables.cc")}
                            <= set(sdist.getnames()))
            sdist.extractall(self.tmp)
        found = run(sys.executable, "-c", "import quendra_build; print(quendra_build._native_source(), "
                    "[name for name, _ in quendra_build._license_files()])", cwd=self.tmp / BASE)
        self.assertEqual(found.strip(), f"{self.tmp.resolve() / BASE / 'native'} "
                                        "['LICENSE', 'THIRD-PARTY-NOTICES']")


def elf(needed=("libc.so.6",), soname=None, runpath=None, **versions):
    """A stand-in for quendra_build.Elf; `versions` maps a library's short name to its versions."""
    names = {"libc": "libc.so.6", "libstdcxx": "libstdc++.so.6", "libgcc_s": "libgcc_s.so.1"}
    return SimpleNamespace(needed=list(needed), soname=soname, runpath=runpath,
                           versions={names[short]: set(v) for short, v in versions.items()})


class PlatformTagTest(unittest.TestCase):
    """The tag is the newest glibc that any symbol version needs, C++ runtime versions counting
    as the first baseline whose distributions have them; no tag where none would hold."""

    def test_tags(self):
        fyaml = elf(soname="libfyaml.so.0", libc={"GLIBC_2.2.5", "GLIBC_2.33"})
        cases = [
            ({"a.so": elf(libc={"GLIBC_2.2.5", "GLIBC_2.32"})}, "manylinux_2_32_x86_64"),
            ({"a.so": elf(needed=["libc.so.6", "libfyaml.so.0"], runpath="$ORIGIN",
                          libc={"GLIBC_2.14"}), "libfyaml.so.0": fyaml}, "manylinux_2_33_x86_64"),
            ({"a.so": elf(needed=["libc.so.6", "libstdc++.so.6"], libc={"GLIBC_2.17"},
                          libstdcxx={"GLIBCXX_3.4.21", "CXXABI_1.3.9"})}, "manylinux_2_24_x86_64"),
            ({"a.so": elf(needed=["libgcc_s.so.1"], libgcc_s={"GCC_7.0.0", "GCC_3.0"})},
             "manylinux_2_28_x86_64"),
            ({"a.so": elf(needed=["libstdc++.so.6"], libstdcxx={"GLIBCXX_3.4.30"})},
             "manylinux_2_35_x86_64"),
            ({"a.so": elf(libc={"GLIBC_2.3.4"})}, "manylinux_2_5_x86_64"),
        ]
        for binaries, tag in cases:
            with self.subTest(tag=tag):
                self.assertEqual(quendra_build.platform_tag(binaries, "x86_64"), tag)

    def test_refusals(self):
        cases = [
            ("x86_64", {"a.so": elf(needed=["libc.so.6", "libicuuc.so.72"])}, "libicuuc.so.72"),
            ("x86_64", {"a.so": elf(needed=["libfyaml.so.0"]),
                        "libfyaml.so.0": elf(soname="libfyaml.so.0")}, "RUNPATH"),
            ("x86_64", {"a.so": elf(libc={"GLIBC_PRIVATE"})}, "GLIBC_PRIVATE"),
            ("x86_64", {"a.so": elf(needed=["libstdc++.so.6"], libstdcxx={"GLIBCXX_3.4.32"})},
             "GLIBCXX_3.4.32"),
            ("aarch64", {"a.so": elf(needed=["libstdc++.so.6"], libstdcxx={"CXXABI_1.3.9"})},
             "aarch64"),
        ]
        for machine, binaries, said in cases:
            with self.subTest(said=said):
                with self.assertRaisesRegex(quendra_build.BuildError, re.escape(said)):
                    quendra_build.platform_tag(binaries, machine)
