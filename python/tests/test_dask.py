"""shrink_many under Dask: the README's cluster recipe run as written, a dask.distributed
scheduler and two worker processes on the loopback address, the README's client, its printed
output."""

import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest

import support

try:
    import distributed
except ImportError:  # pragma: no cover - depends on the machine
    distributed = None

# How long the README's client may take, cluster start included.
CLIENT_SECONDS = 120


def readme_cluster_recipe():
    """From the README: the Python block that writes events.ndjson, the commands that start
    the cluster, the client block and the text block of its output."""
    text = (support.ROOT / "README.md").read_text(encoding="utf-8")
    blocks = [(m[1], m[2]) for m in re.finditer(r"^```(\w*)\n(.*?)^```$", text, re.M | re.S)]
    at = next(i for i, (lang, body) in enumerate(blocks) if lang == "sh" and "dask scheduler" in body)
    setup = next(body for lang, body in reversed(blocks[:at])
                 if lang == "python" and 'open("events.ndjson", "w")' in body)
    commands = [shlex.split(line.rstrip("& ")) for line in blocks[at][1].splitlines()
                if line.strip() and not line.startswith("#")]
    (client_lang, client), (output_lang, output) = blocks[at + 1], blocks[at + 2]
    assert (client_lang, output_lang) == ("python", "text"), (client_lang, output_lang)
    return setup, commands, client, output


@unittest.skipIf(distributed is None,
                 "dask.distributed is not installed (Debian: python3-distributed)")
class DaskClusterTest(unittest.TestCase):
    def test_readme_recipe(self):
        setup, commands, client, output = readme_cluster_recipe()
        self.assertEqual([c[:2] for c in commands],
                         [["dask", "scheduler"], ["dask", "worker"], ["dask", "worker"]])
        self.assertTrue(all("127.0.0.1" in c and "--no-dashboard" in c for c in commands))
        scratch = tempfile.mkdtemp(prefix="quendra-dask-")
        self.addCleanup(shutil.rmtree, scratch, ignore_errors=True)
        # The workers import quendra as the client does: from the checkout, with the built library.
        env = dict(os.environ, PYTHONPATH=str(support.ROOT / "python"), LC_ALL="C.UTF-8")
        run = dict(cwd=scratch, env=env, capture_output=True, text=True, timeout=CLIENT_SECONDS)
        done = subprocess.run([sys.executable, "-c", setup], **run)
        self.assertEqual(done.returncode, 0, done.stderr)
        for number, command in enumerate(commands):
            log = open(os.path.join(scratch, f"{number}-{command[1]}.log"), "w")
            self.addCleanup(log.close)
            # Its own process group, so that stopping it stops the worker a nanny started too.
            process = subprocess.Popen([shutil.which(command[0]) or command[0], *command[1:]],
                                       cwd=scratch, env=env, stdout=log, stderr=subprocess.STDOUT,
                                       start_new_session=True)
            self.addCleanup(stop, process)
        done = subprocess.run([sys.executable, "-c", client], **run)
        self.assertEqual(done.returncode, 0, done.stderr[-3000:])
        self.assertEqual(done.stdout, output)


def stop(process):
    """Stops a process started in its own group: the group, politely, then whatever is left."""
    for sig in (signal.SIGTERM, signal.SIGKILL):
        try:
            os.killpg(process.pid, sig)
        except ProcessLookupError:
            break
        try:
            process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            pass
    process.wait()
