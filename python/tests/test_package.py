"""The package as users get it: `pip install ./python` (pip's defaults, no index) into a new
virtual environment of the machine's python3, the wheel of `pip wheel`, the backend's sdist."""

import base64
import hashlib
import os
import shutil
import subprocess
import sys
import tarfile
import tempfile
import unittest
import zipfile
from pathlib import Path

import support
import quendra

BASE = f"quendra-{quendra.__version__}"


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

    def test_install_then_import_with_no_setting(self):
        run(self.tmp / "venv/bin/pip", "install", "./python")
        said = run(self.tmp / "venv/bin/python", "-c", "import quendra, sysconfig; print("
                   "quendra.shrink('[1,2,3,4,5,6,7,8,9]', max_chars=10).text, "
                   "quendra.__version__ == quendra.library_version(), quendra._library().path, "
                   "sysconfig.get_path('platlib'), sep='\\n')", cwd=self.tmp).splitlines()
        self.assertEqual(said[:5], ["[", '  "…[9 items omitted]"', "]", "True",
                                    str(Path(said[-1]) / "quendra" / "libquendra.so")])

    def test_wheel_holds_the_library_and_a_true_record(self):
        run(self.tmp / "venv/bin/pip", "wheel", "./python", "-w", self.tmp / "dist")
        with zipfile.ZipFile(self.tmp / "dist" / f"{BASE}-py3-none-linux_x86_64.whl") as wheel:
            info = f"{BASE}.dist-info/"
            self.assertIn("Root-Is-Purelib: false", wheel.read(info + "WHEEL").decode())
            self.assertTrue(wheel.read("quendra/libquendra.so").startswith(b"\x7fELF"))
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
            self.assertTrue({f"{BASE}/native/src/{p.name}" for p in (support.ROOT / "src").iterdir()}
                            | {f"{BASE}/{p}" for p in ("PKG-INFO", "pyproject.toml",
                                                       "quendra/__init__.py", "native/CMakeLists.txt")}
                            <= set(sdist.getnames()))
            sdist.extractall(self.tmp)
        found = run(sys.executable, "-c", "import quendra_build; print(quendra_build._native_source())",
                    cwd=self.tmp / BASE)
        self.assertEqual(found.strip(), str(self.tmp.resolve() / BASE / "native"))
