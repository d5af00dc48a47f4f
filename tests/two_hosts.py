"""Two host processes in one folder, each the simulator with the plug-in
loaded: the first holds the registry's lock, so the second is told at its
connection that its changes are not saved, and writes nothing (its audit
log included); the first saves and logs as usual. Run with the path of
hadrok (or of hadrok-wine, the Windows build under Wine)."""
import os
import subprocess
import sys
import tempfile

from registry_records import freqs_in

LOCK_NOTICE = (b"Another host process uses the registry in this directory "
               b"(Zandrel.teams.lock is locked); changes made in this one are not saved.")


def main():
    hadrok = os.path.abspath(sys.argv[1])
    env = dict(os.environ, TZ="UTC")
    with tempfile.TemporaryDirectory(prefix="hadrok-two-hosts-") as folder:
        with open(os.path.join(folder, "freqs.ini"), "w") as f:
            f.write("[Config]\nAutoSaveDelay=1\n")
        first = subprocess.Popen([hadrok, "run", "--frozen-clock"], cwd=folder, env=env,
                                 stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL)
        try:
            first.stdin.write(b"connect 1\n")
            first.stdin.flush()
            # Its connection's echo: the plug-in is loaded and holds the lock.
            seen = [first.stdout.readline() for _ in range(2)]
            assert b"DLL plugin connected." in seen[1], seen

            script = (b"connect 1\nenter\nplayer Bob\nBob: !freg 100:pw\ntick 2\n"
                      b"unload\nload\nconnect 1\n")
            second = subprocess.run([hadrok, "run", "--frozen-clock"], cwd=folder, env=env,
                                    input=script, capture_output=True, timeout=120)
            out = second.stdout
            assert second.returncode == 0, (second.returncode, out, second.stderr)
            # Told at each connection, and its autosaves and unload wrote nothing.
            assert out.count(LOCK_NOTICE) == 2, out
            assert b"AutoSave..." in out, out
            assert not os.path.exists(os.path.join(folder, "Zandrel.teams")), out
            # Nor a log, whose lines would pass for the first host's.
            assert not os.path.exists(os.path.join(folder, "hadrok.log")), out

            first.stdin.write(b"enter\nplayer Ann\nAnn: !freg 200:pw\ntick\n")
        finally:
            first.stdin.close()
            first.wait(timeout=120)
            first.stdout.close()
        saved = freqs_in(os.path.join(folder, "Zandrel.teams"))
        assert saved == [200], saved
        with open(os.path.join(folder, "hadrok.log"), "rb") as f:
            log = f.read()
        assert b"!freg freq=200: registered" in log and b"freq=100" not in log, log
    print("two hosts: the second was told and wrote nothing; the first saved freq 200")


if __name__ == "__main__":
    main()
