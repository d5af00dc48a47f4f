"""The real file layer's order of writes, flushes and renames, recorded by an
LD_PRELOAD library (recorder.cpp) while the program runs: the host's save
and side file through the simulator, and each registry tool. Whatever is put
in place by a rename was flushed first, its folder is flushed after, and
every log line written before it was flushed before it: a power cut keeps no
change without its line.

    durability_test.py HADROK RECORDER
"""
import fcntl
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HADROK = None
RECORDER = None

SCRIPT = """connect 1
enter
player Bob
Bob: !freg 100:pw
Bob: !freg 101:pw
"""


class Recorded(unittest.TestCase):
    def setUp(self):
        self.dir = os.path.realpath(tempfile.mkdtemp(prefix="hadrok-durability-"))
        self.record = os.path.join(tempfile.mkdtemp(prefix="hadrok-record-"), "events")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)
        shutil.rmtree(os.path.dirname(self.record), ignore_errors=True)

    def path(self, name):
        return os.path.join(self.dir, name)

    def run_recorded(self, *args, stdin=None):
        if os.path.exists(self.record):
            os.remove(self.record)
        env = dict(os.environ, LD_PRELOAD=RECORDER, HADROK_RECORD=self.record, TZ="UTC")
        # A sanitized build wants its runtime first; the recorder, which only
        # passes each call on, may come before it.
        env["ASAN_OPTIONS"] = ":".join(
            o for o in (os.environ.get("ASAN_OPTIONS", ""), "verify_asan_link_order=0") if o)
        result = subprocess.run([HADROK, *args], cwd=self.dir, env=env, input=stdin,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        with open(self.record) as f:
            return [line.rstrip("\n").split(" ") for line in f]

    def host_session(self):
        with open(self.path("session.txt"), "w") as f:
            f.write(SCRIPT)
        return self.run_recorded("run", "--frozen-clock", "--in-this-folder", "session.txt")

    def check_put_in_place(self, events, target, log_first=False, log_was_there=True):
        """Each rename onto `target` (a base name, or a prefix ending in '*'):
        its source flushed after its last write, the folder flushed after it,
        and every line of hadrok.log written before it flushed before it."""
        def matches(path):
            name = os.path.basename(path)
            return name.startswith(target[:-1]) if target.endswith("*") else name == target
        renames = [i for i, e in enumerate(events) if e[0] == "rename" and matches(e[2])]
        self.assertTrue(renames, f"nothing was put in place as {target}: {events}")
        folder = self.dir
        log = self.path("hadrok.log")
        for at in renames:
            source = events[at][1]
            # An empty file (all pruned) has no write of its own.
            writes = [i for i in range(at) if events[i] == ["write", source]] or [0]
            self.assertIn(["fsync", source], events[writes[-1]:at],
                          f"{source} is renamed into place unflushed")
            self.assertIn(["fsync", folder], events[at + 1:],
                          f"the folder is not flushed after {source} is put in place")
            log_writes = [i for i in range(at) if events[i] == ["write", log]]
            if log_first:
                self.assertTrue(log_writes, f"no line in hadrok.log before {target} is replaced")
            if log_writes:
                self.assertIn(["fsync", log], events[log_writes[-1]:at],
                              f"a line of hadrok.log is unflushed when {target} is replaced")
                if not log_was_there:
                    self.assertIn(["fsync", folder], events[log_writes[0]:at],
                                  "the new hadrok.log's name is unflushed when "
                                  f"{target} is replaced")


class Host(Recorded):
    def test_the_save_and_its_log_lines(self):
        events = self.host_session()
        self.check_put_in_place(events, "Zandrel.teams", log_first=True, log_was_there=False)

    def test_the_side_file_of_a_host_without_the_lock(self):
        with open(self.path("Zandrel.teams.lock"), "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            events = self.host_session()
        self.check_put_in_place(events, "Zandrel.teams.unsaved*")


class Tools(Recorded):
    def setUp(self):
        super().setUp()
        self.host_session()

    def teams(self, *args, stdin=None, log_was_there=True):
        events = self.run_recorded("teams", *args, stdin=stdin)
        self.check_put_in_place(events, "Zandrel.teams", log_first=True,
                                log_was_there=log_was_there)

    def snapshot(self):
        return next(n for n in sorted(os.listdir(self.dir)) if ".before-" in n)

    def test_each_tool_logs_and_flushes_its_line_before_it_replaces_the_registry(self):
        with open(self.path("Zandrel.teams"), "rb") as f:
            registry = f.read()
        with open(self.path("cut"), "wb") as f:
            f.write(registry + b"abc")
        cases = [
            ("remove", ["remove", "100"], None),
            ("restore", ["restore", None], None),
            ("passwd", ["passwd", "101", "--password-stdin"], b"new\n"),
            ("salvage", ["salvage", "cut", "-o", "Zandrel.teams", "--force"], None),
            ("prune", ["prune", "--unused-days", "1"], None),
        ]
        for name, args, stdin in cases:
            with self.subTest(name):
                args = [a if a is not None else self.snapshot() for a in args]
                self.teams(*args, stdin=stdin)

    def test_recover_in_a_folder_without_a_log(self):
        # The side file of a host that did not hold the lock, alone in a
        # folder of its own.
        for name in os.listdir(self.dir):
            os.remove(self.path(name))
        with open(self.path("Zandrel.teams.lock"), "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            self.host_session()
        self.assertFalse(os.path.exists(self.path("hadrok.log")))
        self.teams("recover", "--apply", log_was_there=False)


if __name__ == "__main__":
    HADROK, RECORDER = os.path.realpath(sys.argv[1]), os.path.realpath(sys.argv[2])
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:], verbosity=1)
