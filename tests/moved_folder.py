"""A host whose folder is moved away while it runs ("mv zone zone.old"), and
perhaps another folder put in its place holding a registry of its own: the
host goes on saving in the folder it loaded from, now zone.old, and never
writes the folder at the old name. Where the system's layer goes by the
folder's path (Windows: there the folder can't be renamed while held, but a
system may let it be all the same), every save is refused with that reason
and the folder in place is still never written. Run with the path of hadrok
(or of hadrok-wine, the Windows build under Wine)."""
import os
import subprocess
import sys
import tempfile

from registry_records import freqs_in, record, write_registry

REFUSED = b"was moved or replaced while the host ran"
WRONG_REASON = b"could not be taken again"


def read_until(host, text):
    seen = []
    while True:
        line = host.stdout.readline()
        assert line, (text, seen)
        seen.append(line)
        if text in line:
            return seen


def play(hadrok, put_another, by_path):
    env = dict(os.environ, TZ="UTC")
    with tempfile.TemporaryDirectory(prefix="hadrok-moved-folder-") as base:
        zone = os.path.join(base, "zone")
        moved = os.path.join(base, "zone.old")
        os.mkdir(zone)
        with open(os.path.join(zone, "freqs.ini"), "w") as f:
            f.write("[Config]\nAutoSaveDelay=1\n")
        host = subprocess.Popen([hadrok, "run", "--frozen-clock", "--in-this-folder"],
                                cwd=zone, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)
        try:
            # The echo comes before the save; the listing after it, once
            # the tick and its save are done.
            host.stdin.write(b"connect 1\nenter\nplayer Ann\nAnn: !freg 100:pw\ntick\n"
                             b"files Zandrel.teams\n")
            host.stdin.flush()
            read_until(host, b"Zandrel.teams  (284 bytes)")
            assert freqs_in(os.path.join(zone, "Zandrel.teams")) == [100]

            os.rename(zone, moved)
            theirs = None
            if put_another:
                os.mkdir(zone)
                write_registry(os.path.join(zone, "Zandrel.teams"), record(400), record(500))
                with open(os.path.join(zone, "Zandrel.teams"), "rb") as f:
                    theirs = f.read()

            host.stdin.write(b"player Bob\nBob: !freg 200:pw\ntick\n")
            host.stdin.flush()
            after = b"".join(read_until(host, b"AutoSave..."))
        finally:
            host.stdin.close()
            rest = host.stdout.read()
            errors = host.stderr.read()
            host.wait(timeout=120)
            host.stdout.close()
            host.stderr.close()
        out = after + rest
        assert host.returncode == 0, (host.returncode, out, errors)
        assert WRONG_REASON not in out + errors, out + errors

        # The folder at the old name is exactly as it was put there.
        if put_another:
            assert os.listdir(zone) == ["Zandrel.teams"], os.listdir(zone)
            with open(os.path.join(zone, "Zandrel.teams"), "rb") as f:
                assert f.read() == theirs
        else:
            assert not os.path.exists(zone)

        kept = freqs_in(os.path.join(moved, "Zandrel.teams"))
        if by_path:
            # Refused with the true reason, told at the autosave and at unload.
            assert kept == [100], kept
            assert REFUSED in out and REFUSED in errors, (out, errors)
        else:
            assert kept == [100, 200], (kept, out, errors)
            assert REFUSED not in out + errors, out + errors
            with open(os.path.join(moved, "hadrok.log"), "rb") as f:
                log = f.read()
            assert b"!freg freq=200: registered" in log, log


def main():
    hadrok = os.path.abspath(sys.argv[1])
    # The Windows layer goes by the folder's path; under Wine this script's
    # own rename is not the system's to refuse.
    by_path = "wine" in os.path.basename(hadrok)
    for put_another in (False, True):
        play(hadrok, put_another, by_path)
    print("moved folder: renamed and replaced, the host " +
          ("refused every save with the true reason" if by_path else "saved in the folder it loaded from") +
          "; the folder put in its place was never written")


if __name__ == "__main__":
    main()
