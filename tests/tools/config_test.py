#!/usr/bin/env python3
"""hadrok config check, run as the real program on settings files written
here, and the one line that each reader of an operator's file (config check,
the simulator's scripts, teams import) gives for a file that is not UTF-8.

Usage: config_test.py PATH/TO/hadrok [TestClass ...]
"""
import os
import subprocess
import sys
import tempfile
import unittest

HADROK = None
UNDER_WINE = len(sys.argv) > 1 and os.path.basename(sys.argv[1]) == "hadrok-wine"
PROGRAM = "hadrok.exe" if UNDER_WINE else "hadrok"
SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

DEFAULTS = {
    "MaxOwnedFreqs": "MaxOwnedFreqs=3: a player may own up to 3 freqs (registered with !freg or "
                     "handed over with !fgrant)",
    "InviteExpireSeconds": "InviteExpireSeconds=30: an invitation (!fjoin, !finv) lets its player "
                           "join for 30 seconds; it ends at the first expiry pass after that, and "
                           "the plug-in makes one every fifth tick",
    "AutoSaveDelay": "AutoSaveDelay=300: the registry is saved every 300 ticks and when the "
                     "plug-in is unloaded; how long a tick is, is the host's choice",
    "AuditLog": "AuditLog=1: every change of the registry is written to hadrok.log",
    "Backups": "Backups=7: the newest 7 dated backups (Zandrel.teams.YYYY-MM-DD) are kept, and "
               "the newest 7 undo snapshots of each kind",
    "ExpireUnusedDays": "ExpireUnusedDays=0: freqs never expire for lack of use",
}
NOT_IN_FILE = " (not in the file: the default)"
CLEAN = "freqs.ini: every setting is read as written; nothing surprising"
ONE_FINDING = "freqs.ini: 1 finding (the lines starting with \"!\")"
ADVICE = "save it as UTF-8 (in Notepad: File, Save As, Encoding: UTF-8)"

# name, the file's bytes (None: no file), exit status, lines the output must
# hold. A line ending in "..." need only start so.
CASES = [
    ("no file", None, 2,
     ["! freqs.ini: the file is missing; the plug-in uses every default, shown below",
      *(line + NOT_IN_FILE for line in DEFAULTS.values()),
      "freqs.ini: missing, so the defaults above apply"]),
    ("every key as its default, CR LF", b"[Config]\r\n" + b"".join(
        line.split(":", 1)[0].encode() + b"\r\n" for line in DEFAULTS.values()), 0,
     [*DEFAULTS.values(), CLEAN]),
    ("names in any letter case, quotes, blanks", b" [ config ]\nmaxownedfreqs = \"5\"\n", 0,
     ["MaxOwnedFreqs=5: a player may own up to 5 freqs (registered with !freg or handed over "
      "with !fgrant)", CLEAN]),
    ("comments of both kinds", b"; settings\n# more\n[Config]\n;MaxOwnedFreqs=9\n#Backups=1\n",
     0, [DEFAULTS["MaxOwnedFreqs"] + NOT_IN_FILE, DEFAULTS["Backups"] + NOT_IN_FILE, CLEAN]),
    ("no [Config] section", b"MaxOwnedFreqs=5\n", 1,
     ["! line 1: \"MaxOwnedFreqs\" comes before any section; the plug-in reads only the keys of "
      "[Config]",
      "! no [Config] section: every setting has its default",
      DEFAULTS["MaxOwnedFreqs"] + NOT_IN_FILE]),
    ("a misspelt section", b"[Confg]\nMaxOwnedFreqs=5\n", 1,
     ["! line 1: [Confg] is a section the plug-in does not read (did you mean [Config]?)",
      "! no [Config] section: every setting has its default"]),
    ("another section after [Config]", b"[Config]\nBackups=2\n[Limits]\nMaxOwnedFreqs=5\n", 1,
     ["! line 3: [Limits] is a section the plug-in does not read (it reads only [Config])",
      DEFAULTS["MaxOwnedFreqs"] + NOT_IN_FILE]),
    ("a section without ']'", b"[Config\nMaxOwnedFreqs=5\n", 1,
     ["! line 1: \"[Config\" has no ']', so it opens no section and is ignored"]),
    ("a misspelt key", b"[Config]\nMaxOwnedFreq=1\n", 1,
     ["! line 2: \"MaxOwnedFreq\" is not a setting the plug-in reads (did you mean "
      "MaxOwnedFreqs?)", DEFAULTS["MaxOwnedFreqs"] + NOT_IN_FILE]),
    ("a key like none", b"[Config]\nColour=blue\n", 1,
     ["! line 2: \"Colour\" is not a setting the plug-in reads (it reads MaxOwnedFreqs, "
      "InviteExpireSeconds, AutoSaveDelay, AuditLog, Backups, ExpireUnusedDays)"]),
    ("a key given twice", b"[Config]\nBackups=2\nBackups=9\n", 1,
     ["! line 3: Backups again; the plug-in uses only line 2",
      "Backups=2: the newest 2 dated backups (Zandrel.teams.YYYY-MM-DD) are kept, and the "
      "newest 2 undo snapshots of each kind"]),
    ("a second [Config] section", b"[Config]\nBackups=2\n[CONFIG]\nMaxOwnedFreqs=5\n", 1,
     ["! line 3: a second [CONFIG] section; the plug-in reads only the first one (line 1) and "
      "nothing below this line",
      DEFAULTS["MaxOwnedFreqs"] + NOT_IN_FILE]),
    ("a key without '='", b"[Config]\nMaxOwnedFreqs\nMaxOwnedFreqs=5\n", 1,
     ["! line 2: MaxOwnedFreqs without '=': the default is used",
      "! line 3: MaxOwnedFreqs again; the plug-in uses only line 2",
      "MaxOwnedFreqs=3: a player may own up to 3 freqs (registered with !freg or handed over "
      "with !fgrant)"]),
    ("no autosave", b"[Config]\nAutoSaveDelay=0\nExpireUnusedDays=30\n", 1,
     ["! AutoSaveDelay=0: the registry is saved only when the plug-in is unloaded; a crash "
      "loses every change since the load",
      "ExpireUnusedDays=30: freqs unused for more than 30 days are unregistered, after a "
      "before-expiry snapshot, when the plug-in is loaded (with no autosave, only then)",
      "freqs.ini: 1 finding (the lines starting with \"!\")"]),
    ("a negative autosave delay", b"[Config]\nAutoSaveDelay=-1\n", 1,
     ["! AutoSaveDelay (line 2): -1 is read as the unsigned number 4294967295",
      "! AutoSaveDelay=4294967295: the first autosave comes after 4294967295 ticks, so in "
      "practice the registry is saved only when the plug-in is unloaded; a crash loses every "
      "change since the load"]),
    ("no limit of freqs", b"[Config]\nMaxOwnedFreqs=-1\n", 1,
     ["! MaxOwnedFreqs (line 2): -1 is read as the unsigned number 4294967295",
      "! MaxOwnedFreqs=4294967295: no limit; players read \"You can register a maximum of -1 "
      "freqs\""]),
    ("nobody may register", b"[Config]\nMaxOwnedFreqs=0\n", 1,
     ["! MaxOwnedFreqs=0: nobody may register a freq or be handed one; players read \"You can "
      "register a maximum of 0 freqs\""]),
    ("a number that wraps", b"[Config]\nMaxOwnedFreqs=99999999999\n", 1,
     ["! MaxOwnedFreqs (line 2): 99999999999 is more than 4294967295 and wraps to 1215752191",
      "MaxOwnedFreqs=1215752191: no limit in practice (there are fewer freq numbers)",
      "freqs.ini: 1 finding (the lines starting with \"!\")"]),
    ("a value cut to 15 characters", b"[Config]\nMaxOwnedFreqs=0000000000000005\n", 1,
     ["! MaxOwnedFreqs (line 2): only the first 15 characters of \"0000000000000005\" are "
      "read: \"000000000000000\"",
      "! MaxOwnedFreqs=0: nobody may register..."]),
    ("invitations that never end", b"[Config]\nInviteExpireSeconds=-5\n", 1,
     ["! InviteExpireSeconds (line 2): -5 is read as the unsigned number 4294967291",
      "! InviteExpireSeconds=4294967291: invitations never expire while the plug-in is loaded; "
      "players read \"You have -5 seconds to join the freq\""]),
    ("invitations longer than the tick counter counts", b"[Config]\nInviteExpireSeconds=4294968\n",
     1, ["! InviteExpireSeconds=4294968: invitations never expire while the plug-in is loaded"]),
    ("the longest invitation that ends", b"[Config]\nInviteExpireSeconds=4294967\n", 0,
     ["InviteExpireSeconds=4294967: an invitation (!fjoin, !finv) lets its player join for "
      "4294967 seconds...", CLEAN]),
    ("invitations that last until the next pass", b"[Config]\nInviteExpireSeconds=0\n", 1,
     ["! InviteExpireSeconds=0: an invitation lasts only until the next expiry pass (every fifth "
      "tick); players read \"You have 0 seconds to join the freq\""]),
    ("a comment after a value", b"[Config]\nBackups= 3 ; keep three\n", 1,
     ["! Backups (line 2): \"3 ; keep three\" is not a whole number, so 7 is used; the host's "
      "window shows \"freqs.ini error: Config:Backups must be numeric\" (a comment after a value "
      "is part of it: put comments on lines of their own)",
      DEFAULTS["Backups"]]),
    ("an empty value", b"[Config]\nAutoSaveDelay=\n", 1,
     ["! AutoSaveDelay (line 2): an empty value is not a whole number, so 300 is used; the "
      "host's window shows \"freqs.ini error: Config: must be numeric\"",
      DEFAULTS["AutoSaveDelay"]]),
    ("the log and backups off", b"[Config]\nAuditLog=0\nBackups=0\nExpireUnusedDays=1\n", 0,
     ["AuditLog=0: no audit log: changes of the registry are not written to hadrok.log",
      "Backups=0: no dated backups (those already there stay), and of each kind of undo "
      "snapshot (before-freqreset, before-freqkill, before-expiry, and the teams tools' "
      "before-<command>) only the newest is kept",
      "ExpireUnusedDays=1: freqs unused for more than 1 day are unregistered, after a "
      "before-expiry snapshot, when the plug-in is loaded and at each autosave", CLEAN]),
    # Not UTF-8 is a finding: other tools and editors may misread the file.
    ("UTF-16 with its byte order mark", "\ufeff[Config]\r\nMaxOwnedFreqs=5\r\n".encode(
        "utf-16-le"), 1,
     ["! freqs.ini is saved as UTF-16 (\"Unicode\"); " + ADVICE,
      "MaxOwnedFreqs=5: a player may own up to 5 freqs...", ONE_FINDING]),
    ("UTF-16 big endian", "\ufeff[Config]\r\nBackups=2\r\n".encode("utf-16-be"), 1,
     ["! freqs.ini is saved as UTF-16 (\"Unicode\"); " + ADVICE, ONE_FINDING]),
    ("UTF-16 without a byte order mark (zero bytes)", "[Config]\r\n".encode("utf-16-le"), 1,
     ["! freqs.ini is saved as UTF-16 (\"Unicode\"); " + ADVICE]),
    ("a legacy code page in a comment", b"; r\xe9glages\n[Config]\nBackups=2\n", 1,
     ["! freqs.ini is not UTF-8 (a legacy code page such as ANSI?); " + ADVICE, ONE_FINDING]),
]


def hadrok(*args, cwd, stdin=None):
    return subprocess.run([HADROK, *args], cwd=cwd, input=stdin, capture_output=True,
                          env=dict(os.environ, TZ="UTC"), timeout=60)


class Workdir(unittest.TestCase):
    def setUp(self):
        self._dir = tempfile.TemporaryDirectory(prefix="hadrok-config-")
        self.dir = self._dir.name

    def tearDown(self):
        self._dir.cleanup()

    def write(self, name, data):
        with open(os.path.join(self.dir, name), "wb") as f:
            f.write(data)

    def assertHolds(self, lines, wanted):
        for want in wanted:
            if want.endswith("..."):
                self.assertTrue(any(line.startswith(want[:-3]) for line in lines),
                                f"no line starts with {want[:-3]!r} in\n" + "\n".join(lines))
            else:
                self.assertIn(want, lines)


class Check(Workdir):
    def test_past_the_first_mebibyte_on_linux(self):
        if UNDER_WINE:
            self.skipTest("the system's reader on Windows reads the whole file")
        self.write("freqs.ini", b"[Config]\n" + b";" * 2**20 + b"\nBackups=2\n")
        result = hadrok("config", "check", cwd=self.dir)
        lines = result.stdout.decode("ascii").splitlines()
        self.assertEqual(result.returncode, 1)
        self.assertIn(f"! freqs.ini: {2**20 + 20} bytes; the plug-in reads only the first "
                      "1048576", lines)
        self.assertIn(DEFAULTS["Backups"] + NOT_IN_FILE, lines)

    def test_cases(self):
        for name, data, status, wanted in CASES:
            with self.subTest(name):
                path = os.path.join(self.dir, "freqs.ini")
                if os.path.exists(path):
                    os.remove(path)
                if data is not None:
                    self.write("freqs.ini", data)
                result = hadrok("config", "check", cwd=self.dir)
                self.assertEqual(result.returncode, status, result.stdout.decode("latin-1"))
                self.assertEqual(result.stderr, b"")
                lines = result.stdout.decode("ascii").splitlines()
                self.assertHolds(lines, wanted)
                # Every setting has its line, in the plug-in's order, and the
                # findings are counted right.
                keys = [line.lstrip("! ").split("=", 1)[0] for line in lines
                        if "=" in line.split(":", 1)[0]]
                self.assertEqual(keys, list(DEFAULTS), lines)
                self.assertEqual(sum(line.startswith("! ") for line in lines) > 0, status != 0)
                self.assertEqual(CLEAN in lines, status == 0)

    def test_the_sample_file_is_clean(self):
        with open(os.path.join(SOURCE, "examples", "freqs.ini"), "rb") as f:
            self.write("sample.ini", f.read())
        result = hadrok("config", "check", "sample.ini", cwd=self.dir)
        lines = result.stdout.decode("ascii").splitlines()
        self.assertEqual(result.returncode, 0, lines)
        self.assertEqual(lines, [*DEFAULTS.values(), CLEAN.replace("freqs.ini", "sample.ini")])

    def test_a_file_elsewhere_is_read_by_its_path(self):
        os.mkdir(os.path.join(self.dir, "host"))
        self.write(os.path.join("host", "freqs.ini"), b"[Config]\nBackups=4\n")
        self.write("freqs.ini", b"[Config]\nBackups=5\n")
        result = hadrok("config", "check", os.path.join("host", "freqs.ini"), cwd=self.dir)
        self.assertEqual(result.returncode, 0)
        self.assertIn(b"Backups=4: ", result.stdout)

    def test_usage_and_unreadable(self):
        os.mkdir(os.path.join(self.dir, "adir"))
        for args, first in [
            (["config", "check", "a", "b"], f"{PROGRAM} config check: The following argument "
                                            "was not expected: b"),
            (["config"], f"{PROGRAM} config: a subcommand is required: check"),
            (["config", "chek"], f"{PROGRAM} config: unknown subcommand \"chek\" (did you mean "
                                 "\"check\"?)"),
            (["config", "check", "adir"], f"{PROGRAM} config check: cannot read adir: it is a "
                                          "directory"),
        ]:
            with self.subTest(args):
                result = hadrok(*args, cwd=self.dir)
                self.assertEqual(result.returncode, 2)
                self.assertEqual(result.stdout, b"")
                self.assertTrue(result.stderr.decode().startswith(first), result.stderr)


class OtherKinds(Workdir):
    """A file another command reads is named with that command, not checked as settings."""

    def test_the_command_that_fits_is_named(self):
        record = bytes(range(1, 256)) + bytes(29)
        for name, data, line in [
            ("Zandrel.teams", record, 'Zandrel.teams is a registry file, not a settings file: '
             f'"{PROGRAM} teams list Zandrel.teams" shows its records'),
            ("Zandrel.teams.unsaved.20260101-120000-42", record,
             "Zandrel.teams.unsaved.20260101-120000-42 is a side file of changes not saved into "
             f'the registry, not a settings file: "{PROGRAM} teams recover" in its folder...'),
            ("backup.json", b'[{"freq": 100}]\n', "backup.json is a JSON export, not a settings "
             f'file: "{PROGRAM} teams import backup.json -o merged.teams"...'),
            ("hadrok.log", b"2026-01-01 10:00:00 loaded\n", "hadrok.log is an audit log..."),
            ("Zandrel.teams.lock", b"", "Zandrel.teams.lock is the host's lock file, not a "
             "settings file..."),
        ]:
            with self.subTest(name):
                self.write(name, data)
                result = hadrok("config", "check", name, cwd=self.dir)
                self.assertEqual(result.returncode, 2)
                self.assertEqual(result.stdout, b"")
                self.assertHolds([line.split(": ", 1)[1] for line in
                                  result.stderr.decode().splitlines()], [line])

    def test_settings_the_sniffer_cannot_tell_are_checked(self):
        # UTF-16 without its byte order mark has zero bytes, as records do.
        self.write("freqs.ini", "[Config]\nBackups=3\n".encode("utf-16-le"))
        result = hadrok("config", "check", cwd=self.dir)
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"Backups=", result.stdout)


class Utf8Advice(Workdir):
    """Each reader of an operator's file says in one line how to save it as UTF-8."""

    SCRIPT = "connect 1\nenter\nplayer Bob\nBob: !about\n"

    def test_a_utf16_script_stops_before_playing(self):
        for name, data in [("with its mark", ("\ufeff" + self.SCRIPT).encode("utf-16-le")),
                           ("big endian", ("\ufeff" + self.SCRIPT).encode("utf-16-be")),
                           ("without a mark", self.SCRIPT.encode("utf-16-le"))]:
            with self.subTest(name):
                self.write("first.txt", data)
                result = hadrok("run", "first.txt", cwd=self.dir)
                self.assertEqual(result.returncode, 2)
                self.assertEqual(result.stdout, b"")
                self.assertEqual(result.stderr.decode(), f"{PROGRAM}: first.txt is saved as UTF-16 "
                                 f"(\"Unicode\"); {ADVICE}\n")

    def test_a_legacy_script_is_played_after_the_line(self):
        self.write("first.txt", b"connect 1\nenter\nplayer Ren\xe9\nRen\xe9: !freqs\n")
        result = hadrok("run", "--frozen-clock", "first.txt", cwd=self.dir)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr.decode(), f"{PROGRAM}: first.txt is not UTF-8 (a legacy "
                         f"code page such as ANSI?); {ADVICE}\n")
        self.assertIn(b"to Ren\\xE9: There are no registered freqs", result.stdout)

    def test_a_utf8_script_says_nothing(self):
        self.write("first.txt", ("\ufeff" + self.SCRIPT + "player Zo\u00eb\n").encode("utf-8"))
        result = hadrok("run", "--frozen-clock", "first.txt", cwd=self.dir)
        self.assertEqual((result.returncode, result.stderr), (0, b""))

    def test_import_names_the_encoding(self):
        document = '{"records":[{"freq":900,"owner":"Zo\u00eb","passwordHash":1,"lastUsed":2}]}'
        for name, data, said in [
            ("UTF-16", ("\ufeff" + document).encode("utf-16-le"), "is saved as UTF-16 "
                                                                   "(\"Unicode\")"),
            ("a code page", document.encode("latin-1"), "is not UTF-8 (a legacy code page such "
                                                        "as ANSI?)"),
        ]:
            with self.subTest(name):
                self.write("in.json", data)
                result = hadrok("teams", "import", "in.json", "-o", "out.teams", cwd=self.dir)
                self.assertEqual(result.returncode, 2)
                self.assertEqual(result.stderr.decode(), f"{PROGRAM} teams import: in.json {said}; "
                                 f"{ADVICE}; nothing written\n")
                self.assertFalse(os.path.exists(os.path.join(self.dir, "out.teams")))


if __name__ == "__main__":
    HADROK = os.path.abspath(sys.argv[1])
    unittest.main(argv=[sys.argv[0], *sys.argv[2:]])
