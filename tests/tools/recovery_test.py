#!/usr/bin/env python3
"""The tools beside a running host, on damaged files and on files of the wrong
kind, run as the real program; the helpers are those of teams_test.py.

Usage: recovery_test.py PATH/TO/hadrok [TestClass ...]
"""
import contextlib
import os
import re
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import teams_test  # noqa: E402
from teams_test import (REGISTRY, UNDER_WINE, Workdir, as_on_linux, doc,  # noqa: E402
                        good)
from registry_records import RECORD_SIZE, image, record  # noqa: E402

DAMAGED = image(record(1000, b"Alice"), record(1001, b"Bob"))[:RECORD_SIZE + 132]  # 416 bytes
TOOL_LINE = re.compile(r'\d{4}-\d\d-\d\d \d\d:\d\d:\d\d tool="hadrok teams" user="[^"]+" '
                       r"(\S+): (.*)$")


@contextlib.contextmanager
def running_host(folder):
    """The simulator with the plug-in loaded in folder: it holds the registry's
    lock, as a real host does, and writes its own lines to hadrok.log."""
    host = subprocess.Popen([teams_test.HADROK, "run", "--frozen-clock", "--in-this-folder"],
                            cwd=folder, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, env=dict(os.environ, TZ="UTC"))
    try:
        host.stdin.write(b"connect 1\n")
        host.stdin.flush()
        for _ in range(2):  # the connection's echo: the plug-in is loaded
            assert host.stdout.readline()
        yield host
    finally:
        host.stdin.close()
        host.wait(timeout=60)
        host.stdout.close()


def tool_lines(workdir):
    if not os.path.exists(workdir.path("hadrok.log")):
        return []
    return [m.groups() for m in map(TOOL_LINE.match,
                                    workdir.read("hadrok.log").decode().splitlines()) if m]


class BesideHost(Workdir):
    def test_recovery_writes_new_files_while_the_host_runs(self):
        """The damaged notice's steps, in the host's folder while it holds the
        lock: each new file is written without the lock, and logged in the
        host's own hadrok.log."""
        self.write("Zandrel.teams", REGISTRY)
        self.write("Zandrel.teams.damaged", DAMAGED)
        self.write("meanwhile.json", doc(good(freq=700)).encode())
        with running_host(self.dir):
            self.teams("salvage", "Zandrel.teams.damaged", "-o", "salvaged.teams")
            self.teams("export", "salvaged.teams", "-o", "salvaged.json")
            self.teams("import", "meanwhile.json", "-o", "merged.teams")
            # The registry itself, and a file that exists, still want the lock.
            for args in (["salvage", "Zandrel.teams.damaged", "-o", "Zandrel.teams", "--force"],
                         ["salvage", "Zandrel.teams.damaged", "-o", "salvaged.teams", "--force"],
                         ["import", "meanwhile.json", "-o", "Zandrel.teams"]):
                with self.subTest(args):
                    result = self.teams(*args, status=2)
                    self.assertIn(b"(Zandrel.teams.lock is locked): stop the host first",
                                  result.stderr)
        self.assertEqual(self.read("salvaged.teams"), DAMAGED[:RECORD_SIZE])
        self.assertEqual(len(self.read("merged.teams")), RECORD_SIZE)
        self.assertEqual(self.read("Zandrel.teams"), REGISTRY)
        self.assertEqual(tool_lines(self), [
            ("salvage", 'wrote "salvaged.teams": 1 whole record from "Zandrel.teams.damaged", '
                        "132 trailing bytes dropped"),
            ("import", 'wrote "merged.teams": 1 record, from "meanwhile.json"')])
        self.assertNoTemporaries()

    def test_a_new_file_elsewhere_is_logged_beside_what_was_read(self):
        os.mkdir(self.path("host"))
        os.mkdir(self.path("work"))
        self.write("host/Zandrel.teams.damaged", DAMAGED)
        self.teams("salvage", "host/Zandrel.teams.damaged", "-o", "work/salvaged.teams")
        self.assertEqual(sorted(os.listdir(self.path("work"))), ["salvaged.teams"])
        self.assertEqual(sorted(os.listdir(self.path("host"))),
                         ["Zandrel.teams.damaged", "hadrok.log"])

    def test_list_says_a_running_host_may_hold_newer_changes(self):
        self.write("Zandrel.teams", REGISTRY)
        self.write("copy.teams", REGISTRY)
        quiet = self.teams("list")
        with running_host(self.dir):
            beside = self.teams("list")
            other = self.teams("list", "copy.teams")
        self.assertEqual(beside.stdout, quiet.stdout)
        self.assertEqual(quiet.stderr, b"")
        self.assertIn(b"hadrok teams list: note: a host holds this folder's lock: this is the "
                      b"registry as it last saved it", beside.stderr)
        self.assertEqual(other.stderr, b"")


class DamagedDiff(Workdir):
    def test_whole_records_are_compared_and_the_rest_named(self):
        # A registry cut short: two whole records and 132 bytes more.
        self.write("Zandrel.teams",
                   image(record(1000, b"Alice"), record(1001, b"Bob")) + b"\x55" * 132)
        self.write("side.teams", image(record(1000, b"Alice"), record(1002, b"Eve")))
        out = self.teams("diff", "Zandrel.teams", "side.teams", status=1).stdout.decode()
        self.assertEqual(out.splitlines(), [
            "Zandrel.teams is damaged: its 2 whole records from the start are compared, the 132 "
            'bytes after them are not (the plug-in loads nothing from it; "hadrok teams '
            'salvage" recovers the whole records)',
            'removed freq 1001 (record 1): owner "Bob", lastUsed 1.01.1970 0:00:00',
            'added freq 1002 (record 1): owner "Eve", lastUsed 1.01.1970 0:00:00',
            "Zandrel.teams -> side.teams: 1 removed, 1 added, 0 changed, 1 unchanged"])
        # Damaged but the same whole records: no difference, and said so.
        self.write("side.teams", image(record(1000, b"Alice"), record(1001, b"Bob")))
        out = self.teams("diff", "side.teams", "Zandrel.teams", status=0).stdout.decode()
        self.assertIn("no differences, 2 records", out)


# name, file bytes, options, finding lines
CHECK_CASES = [
    ("a 20-character owner, stored without a zero, is normal",
     image(record(200, b"O" * 20), record(201, b"P" * 19)), [], []),
    ("other fields without a zero still are found",
     image(record(202, b"O" * 20, b"W" * 200)), [],
     ["record 0 (freq 202): welcome has no terminating zero"]),
    ("a freq no arena has", image(record(9999, b"a"), record(10000, b"a"), record(45542, b"a")),
     [], ["record 1 (freq 10000): freq above 9999, higher than any arena's freqs, so nobody can "
          "use it",
          "record 2 (freq 45542): freq above 9999, higher than any arena's freqs, so nobody can "
          "use it"]),
    ("the arena's own limit, when given, instead", image(record(500, b"a"), record(45542, b"a")),
     ["--freq-limit", "500"], ["record 0 (freq 500): freq at or above the limit 500",
                               "record 1 (freq 45542): freq at or above the limit 500"]),
]


class CheckFindings(Workdir):
    def test_findings(self):
        for name, data, options, findings in CHECK_CASES:
            with self.subTest(name):
                self.write("x.teams", data)
                out = self.teams("check", "x.teams", *options,
                                 status=1 if findings else 0).stdout.decode()
                self.assertEqual(out.splitlines()[:-1], findings)

    @unittest.skipIf(UNDER_WINE or os.geteuid() != 0, "needs root and POSIX modes")
    def test_as_root_what_the_hosts_user_could_not_read(self):
        nobody = 65534
        os.mkdir(self.path("host"))
        os.chown(self.path("host"), nobody, nobody)
        self.write("host/Zandrel.teams", REGISTRY)
        target = self.path("host/Zandrel.teams")
        # mode, owner: whether the folder's owner could read it
        for mode, owner, readable in [(0o600, nobody, True), (0o000, nobody, False),
                                      (0o600, 0, False), (0o644, 0, True)]:
            with self.subTest(mode=oct(mode), owner=owner):
                os.chown(target, owner, 0)
                os.chmod(target, mode)
                result = self.teams("check", "host/Zandrel.teams", status=0 if readable else 1)
                lines = result.stdout.decode().splitlines()
                if readable:
                    self.assertEqual(lines, ["host/Zandrel.teams: 2 records, no findings"])
                else:
                    self.assertEqual(len(lines), 2, lines)
                    self.assertRegex(lines[0], r"^warning: host/Zandrel.teams is read here as "
                                     r"root, but user \S+, who owns its folder .* could not read "
                                     r"it \(owner \S+, mode %03o\); a host run as that user could "
                                     r"not load it" % mode)


class RestoreExpiry(Workdir):
    def test_freqs_that_would_expire_again_are_named(self):
        now = int(time.time())
        snapshot = image(record(1000, b"Alice", last_used=now - 40 * 86400),
                         record(1001, b"Bob", last_used=now),
                         record(1002, b"Eve", last_used=now - 31 * 86400))
        # ExpireUnusedDays, whether a warning names 1000 and 1002
        for setting, warned in [(b"30", True), (b"0", False), (b"45", False), (None, False)]:
            with self.subTest(setting=setting):
                self.refill({"Zandrel.teams": b"",
                             "Zandrel.teams.before-expiry-20261210-120000": snapshot})
                if setting is not None:
                    self.write("freqs.ini", b"[Config]\nExpireUnusedDays=" + setting + b"\n")
                result = self.teams("restore", "Zandrel.teams.before-expiry-20261210-120000")
                self.assertEqual(self.read("Zandrel.teams"), snapshot)
                if warned:
                    self.assertEqual(result.stderr.decode(),
                                     "hadrok teams restore: warning: 2 restored freqs (1000, 1002) "
                                     "are unused for more than 30 days, so ExpireUnusedDays=30 in "
                                     "freqs.ini expires them again when the host next loads the "
                                     "registry; raise ExpireUnusedDays in freqs.ini (or set it to "
                                     "0) before starting the host\n")
                else:
                    self.assertEqual(result.stderr, b"")


LOG = b'2026-01-01 00:00:00 bot=1 player="Alice" level=0 !freg freq=100: registered\n'
SETTINGS = b"[Config]\nMaxOwnedFreqs=3\n"
CSV = b"freq,owner,welcome,allowedSquad,freqName,passwordHash,lastUsed,lastUsedLocal,padding\n"
# name, files, arguments, the line on standard error
WRONG_KIND = [
    ("list of settings", {"freqs.ini": SETTINGS}, ["list", "freqs.ini"],
     'freqs.ini is a settings file (like freqs.ini), not a registry file: "hadrok config check '
     'freqs.ini" reads it'),
    ("restore of the log", {"Zandrel.teams": REGISTRY, "hadrok.log": LOG * 4},
     ["restore", "hadrok.log"],
     "hadrok.log is an audit log (like hadrok.log), not a registry file: read it with a text "
     "viewer; it holds no records; nothing written"),
    ("restore of a log of whole records' size", {"Zandrel.teams": REGISTRY,
                                                  "hadrok.log": (LOG * 8)[:568]},
     ["restore", "hadrok.log"],
     "hadrok.log is an audit log (like hadrok.log), not a registry file: read it with a text "
     "viewer; it holds no records; nothing written"),
    ("import of the registry", {"Zandrel.teams": REGISTRY}, ["import", "Zandrel.teams", "-o",
                                                            "new.teams"],
     'Zandrel.teams is a registry file, not a JSON or CSV export: "hadrok teams list '
     'Zandrel.teams" '
     'shows its records; nothing written'),
    ("restore of CSV", {"Zandrel.teams": REGISTRY, "x.csv": CSV}, ["restore", "x.csv"],
     'x.csv is a CSV export, not a registry file: "hadrok teams import x.csv -o merged.teams" '
     "turns it into a registry file; nothing written"),
    ("diff with a lock file", {"Zandrel.teams": REGISTRY, "Zandrel.teams.lock": b""},
     ["diff", "Zandrel.teams.lock"],
     'Zandrel.teams.lock is the host\'s lock file, not a registry file: it holds no records; '
     '"hadrok status" tells whether a host holds it'),
    ("salvage of the settings", {"freqs.ini": SETTINGS * 3}, ["salvage", "freqs.ini", "-o",
                                                              "s.teams"],
     'freqs.ini is a settings file (like freqs.ini), not a registry file: "hadrok config check '
     'freqs.ini" reads it; nothing written'),
]


class FileKinds(Workdir):
    def test_a_file_of_another_kind_gets_the_command_that_fits(self):
        for name, files, args, err in WRONG_KIND:
            with self.subTest(name):
                self.refill(files)
                result = self.teams(*args, status=2)
                self.assertEqual(result.stderr.decode(), f"hadrok teams {args[0]}: {err}\n")
                self.assertEqual(sorted(os.listdir(self.dir)), sorted(files))
                self.assertEqual(result.stdout, b"")

    def test_check_names_the_kind_instead_of_records(self):
        for name, data, line in [
                ("the log", LOG * 10, "hadrok.log is an audit log (like hadrok.log), not a "
                 "registry file: read it with a text viewer; it holds no records"),
                ("an export of whole records' size", b"[\n]\n" + b" " * 280,
                 "hadrok.log looks like JSON, not a registry file; import reads it: hadrok teams "
                 "import hadrok.log -o Zandrel.teams"),
                ("settings", b"[Config]\r\nBackups=3\r\n",
                 'hadrok.log is a settings file (like freqs.ini), not a registry file: "hadrok '
                 'config check hadrok.log" reads it')]:
            with self.subTest(name):
                self.write("hadrok.log", data)
                out = self.teams("check", "hadrok.log", status=1).stdout.decode().splitlines()
                self.assertEqual(out[0], line)
                self.assertEqual(len(out), 2)


class Words(Workdir):
    def test_refusals_say_what_to_give(self):
        self.write("Zandrel.teams", REGISTRY)
        self.write("in.json", doc(good(freq=700)).encode())
        for args, err in [
                (["import", "in.json"],
                 "hadrok teams import: name the registry file to write with -o: -o merged.teams "
                 "writes a new file (the host may run), -o Zandrel.teams replaces the registry "
                 "(the host stopped); nothing written"),
                (["diff"], "hadrok teams diff: name the two files to compare, the earlier first: "
                 "hadrok teams diff OLD [NEW] (NEW is Zandrel.teams when left out)"),
                (["restore", "Zandrel.teams"],
                 "hadrok teams restore: Zandrel.teams is the registry itself: name the backup or "
                 "snapshot to put back in its place, such as Zandrel.teams.2026-12-10 or "
                 "Zandrel.teams.before-remove-20261210-120000 (\"hadrok status\" lists them); "
                 "nothing written"),
                (["passwd", "abc"], "hadrok teams passwd: freq: abc is not a freq number (a "
                 "whole number from 0 to 65535)")]:
            with self.subTest(args):
                result = self.teams(*args, status=2)
                self.assertEqual(result.stderr.decode(), err + "\n")
        self.assertEqual(self.read("Zandrel.teams"), REGISTRY)

    def test_counts_read_in_the_singular(self):
        self.write("one.teams", image(record(1000, b"a")) + b"x")
        out = self.teams("check", "one.teams", status=1).stdout.decode()
        self.assertIn("(1 whole record and 1 byte more)", out)

    def test_a_dry_run_that_finds_nothing_says_so(self):
        self.write("Zandrel.teams", image(record(1000, b"a", last_used=int(time.time()))))
        out = self.teams("prune", "--unused-days", "30", "--dry-run").stdout.decode()
        self.assertEqual(out, "no freq in Zandrel.teams is unused for more than 30 days: nothing "
                              "would be removed (dry run)\n")

    def test_an_import_over_the_registry_names_the_freqs(self):
        self.write("Zandrel.teams", image(record(1000, b"a"), record(1001, b"b"),
                                          record(1002, b"c")))
        self.write("in.json", doc(good(freq=700), good(freq=701)).encode())
        self.teams("import", "in.json", "-o", "Zandrel.teams")
        (command, change), = tool_lines(self)
        self.assertEqual(command, "import")
        self.assertRegex(change, r'^2 records \(freqs 700, 701\) replaced 3 \(freqs 1000, 1001, '
                                 r'1002\), from "in.json"; snapshot Zandrel\.teams\.before-import-')


class CommandLine(Workdir):
    def hadrok(self, *args):
        return as_on_linux(subprocess.run([teams_test.HADROK, *args], cwd=self.dir,
                                          capture_output=True, stdin=subprocess.DEVNULL,
                                          timeout=60))

    def test_run_help_says_where_a_piped_run_ends(self):
        out = self.hadrok("run", "--help").stdout.decode()
        self.assertIn("a script file, or lines piped in, stop at the first bad line", out)
        # And so it does.
        result = subprocess.run([teams_test.HADROK, "run", "--frozen-clock"], cwd=self.dir,
                                input=b"connect 1\nnonsense\nconnect 2\n", capture_output=True,
                                timeout=60)
        self.assertEqual(result.returncode, 2)
        self.assertNotIn(b"connect 2", result.stdout)

    def test_slash_question_mark_is_help(self):
        self.assertEqual(self.hadrok("/?").stdout, self.hadrok("--help").stdout)
        self.assertEqual(self.hadrok("teams", "/?").stdout,
                         self.hadrok("teams", "--help").stdout)

    @unittest.skipUnless(UNDER_WINE, "a folder quoted with a trailing backslash is Windows's")
    def test_a_stray_quote_after_a_folder_is_dropped(self):
        os.mkdir(self.path("Zandrel Host"))
        self.write("Zandrel Host/Zandrel.teams", REGISTRY[:RECORD_SIZE])
        result = self.hadrok("status", 'Zandrel Host"')
        self.assertIn(b"registry: 1 record, 284 bytes", result.stdout)


if __name__ == "__main__":
    teams_test.HADROK = os.path.abspath(sys.argv[1])
    unittest.main(argv=[sys.argv[0], *sys.argv[2:]], verbosity=1)
