"""The package as a user installs it: a new virtual environment of the
machine's python3, `pip install ./python` with pip's defaults and no index,
then `import quendra` with no environment variable. Also the wheel that
`pip wheel` writes for other machines, and the sdist of the build backend.

The first build compiles the library (the build tree stays in
python/build/native, so later builds only relink).
"""

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

PYTHON = shutil.which("python3") or sys.executable
ONE_LINER = "import quendra; print(quendra.shrink('[1,2,3,4,5,6,7,8,9]', max_chars=10).text)"


def user_env():
    """The environment of a user's shell: none of the test run's settings."""
    return {k: v for k, v in os.environ.items()
            if not k.startswith("QUENDRA_") and k not in ("PYTHONPATH", "VIRTUAL_ENV")}


def run(command, cwd=support.ROOT):
    done = subprocess.run([str(c) for c in command], cwd=cwd, env=user_env(),
                          capture_output=True, text=True, timeout=1200)
    if done.returncode != 0:
        raise AssertionError(f"{command} failed:\n{done.stdout}\n{done.stderr}")
    return done.stdout


class PipInstallTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = Path(tempfile.mkdtemp(prefix="quendra-pip-"))
        cls.venv = cls.tmp / "venv"
        run([PYTHON, "-m", "venv", cls.venv])

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def test_install_then_import_with_no_setting(self):
        run([self.venv / "bin" / "pip", "install", "./python"])
        python = self.venv / "bin" / "python"
        self.assertEqual(run([python, "-c", ONE_LINER]), '[\n  "…[9 items omitted]"\n]\n')
        loaded = run([python, "-c", "import quendra; print(quendra._library().path, "
                      "quendra.__version__ == quendra.library_version())"], cwd=self.tmp)
        site = run([python, "-c", "import sysconfig; print(sysconfig.get_path('platlib'))"])
        self.assertEqual(loaded.split(), [str(Path(site.strip()) / "quendra" / "libquendra.so"),
                                          "True"])

    def test_wheel_for_other_machines(self):
        dist = self.tmp / "dist"
        run([self.venv / "bin" / "pip", "wheel", "./python", "-w", dist])
        wheels = list(dist.glob("*.whl"))
        self.assertEqual([w.name for w in wheels],
                         [f"quendra-{quendra.__version__}-py3-none-linux_x86_64.whl"])
        with zipfile.ZipFile(wheels[0]) as wheel:
            names = wheel.namelist()
            info = f"quendra-{quendra.__version__}.dist-info"
            self.assertTrue({"quendra/__init__.py", "quendra/py.typed", "quendra/libquendra.so",
                             f"{info}/METADATA", f"{info}/WHEEL", f"{info}/RECORD"} <= set(names))
            record = wheel.read(f"{info}/RECORD").decode().splitlines()
            self.assertEqual(sorted(line.split(",")[0] for line in record), sorted(names))
            for line in record:
                name, digest, size = line.split(",")
                if name.endswith("RECORD"):
                    continue
                data = wheel.read(name)
                want = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=")
                self.assertEqual((digest, size), ("sha256=" + want.decode(), str(len(data))))
            self.assertIn("Root-Is-Purelib: false", wheel.read(f"{info}/WHEEL").decode())
            self.assertTrue(wheel.read("quendra/libquendra.so").startswith(b"\x7fELF"))


class SdistTest(unittest.TestCase):
    def test_sdist_holds_the_library_sources(self):
        with tempfile.TemporaryDirectory() as tmp:
            name = run([PYTHON, "-c", f"import quendra_build; print(quendra_build.build_sdist({tmp!r}))"],
                       cwd=support.ROOT / "python").strip()
            base = f"quendra-{quendra.__version__}"
            self.assertEqual(name, base + ".tar.gz")
            with tarfile.open(Path(tmp) / name) as sdist:
                names = set(sdist.getnames())
                sdist.extractall(tmp)
            sources = {f"{base}/native/src/{p.name}" for p in (support.ROOT / "src").iterdir()}
            self.assertTrue(sources <= names)
            self.assertTrue({f"{base}/PKG-INFO", f"{base}/pyproject.toml",
                             f"{base}/quendra_build.py", f"{base}/quendra/__init__.py",
                             f"{base}/native/CMakeLists.txt"} <= names)
            found = run([PYTHON, "-c", "import quendra_build; print(quendra_build._native_source())"],
                        cwd=Path(tmp) / base)
            self.assertEqual(found.strip(), str(Path(tmp).resolve() / base / "native"))


if __name__ == "__main__":
    unittest.main()
