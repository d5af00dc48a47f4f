"""Two host processes in one folder, each the simulator with the plug-in
loaded: the first holds the registry's lock, so the second is told at its
connection (naming the first by its process number) and at each autosave
that its changes are not saved, writes neither the registry nor the log, and
at unload keeps what it holds in a side file of its own run's, never over
another run's; a run that starts with side files waiting is told so at each
connection; the first saves and logs as usual; "teams recover --apply" then
brings both runs' freqs into the registry. Run with the path of
hadrok (or of hadrok-wine, the Windows build under Wine)."""
import os
import re
import subprocess
import sys
import tempfile

from registry_records import freqs_in, side_freqs_in

# Under Wine the process number is Wine's own.
LOCK_NOTICE = re.compile(rb"A host process \(pid \d+\) holds the registry in this directory "
                         rb"\(Zandrel.teams.lock is locked\); changes made in this one are not "
                         rb"saved.")
SIDE_NOTICE = re.compile(rb"(\d) side files? Zandrel.teams.unsaved.\* waits? beside the registry "
                         rb"with changes that were never saved to it; stop the host and run: "
                         rb"hadrok(.exe)? teams recover")
NOT_SAVED = (b"Not saved: this process does not hold Zandrel.teams.lock, so it never writes "
             b"Zandrel.teams; changes are kept in memory only.")


def main():
    hadrok = os.path.abspath(sys.argv[1])
    env = dict(os.environ, TZ="UTC")
    with tempfile.TemporaryDirectory(prefix="hadrok-two-hosts-") as folder:
        with open(os.path.join(folder, "freqs.ini"), "w") as f:
            f.write("[Config]\nAutoSaveDelay=1\n")
        first = subprocess.Popen([hadrok, "run", "--frozen-clock", "--in-this-folder"],
                                 cwd=folder, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL)
        try:
            first.stdin.write(b"connect 1\n")
            first.stdin.flush()
            # Its connection's echo: the plug-in is loaded and holds the lock.
            seen = [first.stdout.readline() for _ in range(2)]
            assert b"DLL plugin connected." in seen[1], seen

            # Two runs of a second host, one after the other, each registering a
            # freq it cannot save.
            for run, freq in enumerate((100, 101)):
                script = (b"connect 1\nenter\nplayer Bob\nBob: !freg %d:pw\ntick 2\n"
                          b"unload\nload\nconnect 1\n" % freq)
                second = subprocess.run([hadrok, "run", "--frozen-clock", "--in-this-folder"],
                                        cwd=folder, env=env, input=script, capture_output=True, timeout=120)
                out = second.stdout
                assert second.returncode == 0, (second.returncode, out, second.stderr)
                # Told at each connection and at each autosave; the registry
                # and the log, whose lines would pass for the first host's,
                # are not written.
                assert len(LOCK_NOTICE.findall(out)) == 2, out
                if not hadrok.endswith("hadrok-wine"):
                    assert b"(pid %d)" % first.pid in out, (first.pid, out)
                # Side files waiting are told at each connection: after its own
                # unload this run's, and in the second run the first's too.
                told = [int(n) for n, _ in SIDE_NOTICE.findall(out)]
                assert told == ([1] if run == 0 else [1, 2]), (told, out)
                assert out.count(NOT_SAVED) == 2, out
                assert not os.path.exists(os.path.join(folder, "Zandrel.teams")), out
                assert not os.path.exists(os.path.join(folder, "hadrok.log")), out
                # At unload what it holds went to a side file of its own.
                assert b"what this process holds was written to Zandrel.teams.unsaved." in \
                    second.stderr, second.stderr
            side = sorted(n for n in os.listdir(folder) if n.startswith("Zandrel.teams.unsaved."))
            kept = sorted(side_freqs_in(os.path.join(folder, n)) for n in side)
            assert kept == [[100], [101]], (side, kept)

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

        # Both runs' side files come back into the one registry.
        recover = subprocess.run([hadrok, "teams", "recover", "--apply"], cwd=folder, env=env,
                                 capture_output=True, timeout=120)
        assert recover.returncode == 0, (recover.stdout, recover.stderr)
        saved = freqs_in(os.path.join(folder, "Zandrel.teams"))
        assert saved == [200, 100, 101], (saved, recover.stdout)
        left = sorted(n for n in os.listdir(folder) if ".unsaved" in n or ".recovered." in n)
        assert left == [n.replace("unsaved", "recovered") for n in side], left
    print("two hosts: the second was told who held the lock, kept each run's freq in its own "
          "side file and wrote nothing else; the first saved freq 200; recover brought back "
          "100 and 101")


if __name__ == "__main__":
    main()
