"""The cmd forms of the registry tool's examples that docs/hadrok-windows.md
gives, run as typed in cmd under Wine: each line is looked up in the page, so
the page and this test can't drift apart, and run in a batch file of its own
in a folder holding a registry.

    cmd_examples.py WINE HADROK_EXE PAGE
"""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from registry_records import image, password_hash, record  # noqa: E402

WINE, HADROK_EXE, PAGE = sys.argv[1:4]

# Each: the lines as the page has them (a table's "\|" is a "|"), then a
# check of what they did.
EXAMPLES = [
    (["echo n3w-secret| hadrok.exe teams passwd 1234 --password-stdin"], "passwd"),
    (["hadrok.exe teams check --max-owned 1", "echo %ERRORLEVEL%"], "status"),
    # findstr is left out: Wine's prints nothing, whatever it is given.
    (["hadrok.exe teams import backup.json -o NUL"], "device"),
    (["hadrok.exe teams export --format csv --delimiter semicolon -o teams.csv"], "csv"),
]


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run_in_cmd(folder, lines):
    batch = os.path.join(folder, "example.bat")
    with open(batch, "wb") as f:
        f.write(b"@echo off\r\n")
        f.write(("set PATH=%s;%%PATH%%\r\n" % windows_path(os.path.dirname(HADROK_EXE)))
                .encode())
        for line in lines:
            f.write(line.encode() + b"\r\n")
    result = subprocess.run([WINE, "cmd", "/c", "example.bat"], cwd=folder,
                            capture_output=True, timeout=120)
    os.remove(batch)
    return result


def main():
    with open(PAGE, encoding="utf-8") as f:
        page = f.read().replace("\\|", "|")
    failed = 0
    with tempfile.TemporaryDirectory(prefix="hadrok-cmd-") as folder:
        def path(name):
            return os.path.join(folder, name)
        with open(path("Zandrel.teams"), "wb") as f:
            f.write(image(record(1234, b"Alice", hash=1), record(1500, b"Alice", hash=2)))
        exported = subprocess.run([WINE, HADROK_EXE, "teams", "export", "-o", "backup.json"],
                                  cwd=folder, capture_output=True, timeout=120)
        assert exported.returncode == 0, exported.stderr
        for lines, what in EXAMPLES:
            for line in lines:
                if line not in page:
                    print(f"FAIL: {PAGE} no longer shows: {line}")
                    failed = 1
            result = run_in_cmd(folder, lines)
            out = result.stdout.replace(b"\r\n", b"\n")
            err = result.stderr.replace(b"\r\n", b"\n")
            ok = True
            if what == "passwd":
                with open(path("Zandrel.teams"), "rb") as f:
                    ok = result.returncode == 0 and f.read()[:284] == \
                        image(record(1234, b"Alice", hash=password_hash(b"n3w-secret")))
            elif what == "status":
                ok = out.splitlines()[-1:] == [b"1"] and b"2 freqs (1234, 1500), more than 1" in out
            elif what == "device":
                ok = result.returncode == 2 and b"never replaced" in err
            elif what == "csv":
                with open(path("teams.csv"), "rb") as f:
                    ok = result.returncode == 0 and f.read().startswith(b"freq;owner;welcome;")
            if not ok or b"not expected" in err:
                print(f"FAIL: {' & '.join(lines)}: status {result.returncode}\n"
                      f"stdout: {out!r}\nstderr: {err!r}")
                failed = 1
            else:
                print(f"ok: {' & '.join(lines)}")
    return failed


if __name__ == "__main__":
    sys.exit(main())
