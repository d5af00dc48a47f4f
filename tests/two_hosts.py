"""Two host processes in one folder, each the simulator with the plug-in
loaded: the first holds the registry's lock, so the second is told at its
connection (naming the first by its process number) and at each autosave
that its changes go to a side file, writes neither the registry nor the log,
and keeps what it holds in a side file of its own run's, never over
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
                         rb"\(Zandrel.teams.lock is locked\), so this one does not write "
                         rb"Zandrel.teams: its changes go to a side file of its own at each "
                         rb"autosave, for hadrok(.exe)? teams recover to merge once the host is "
                         rb"stopped.")
SIDE_NOTICE = re.compile(rb"(\d) side files? Zandrel.teams.unsaved.\* waits? beside the registry "
                         rb"with changes that were never saved to it; stop the host and run: "
                         rb"hadrok(.exe)? teams recover")
NOT_SAVED = (b"Not saved to Zandrel.teams: this process does not hold Zandrel.teams.lock, so "
             b"it does not write over it.")


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
        # Its lines end as the system's editors expect: CR LF on Windows.
        end = b"\r\n" if hadrok.endswith("hadrok-wine") else b"\n"
        assert log.endswith(end) and log.count(b"\n") == log.count(end) > 0, log

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


def read_until(process, wanted):
    """The host's output up to the first line that holds wanted (a timeout
    only stops a hang)."""
    import select
    fd = process.stdout.fileno()
    seen = getattr(process, "seen", b"")
    while wanted not in seen or not seen[seen.index(wanted):].count(b"\n"):
        ready, _, _ = select.select([fd], [], [], 60)
        assert ready, (wanted, seen)
        more = os.read(fd, 4096)
        assert more, (wanted, seen)
        seen += more
    end = seen.index(b"\n", seen.index(wanted)) + 1
    process.seen = seen[end:]
    return seen[:end].splitlines(keepends=True)


def status(hadrok, folder, env):
    result = subprocess.run([hadrok, "status"], cwd=folder, env=env, capture_output=True,
                            timeout=120)
    return result.returncode, result.stdout.decode().splitlines()


def takeover():
    """A second host, started while the first held the lock, registers freq
    300. Status sees its side file; once the first stops, status says no
    process holds the lock (never that no host runs), and the second takes
    the lock at its next autosave, the registry being as it loaded it, and
    saves freq 300 into it."""
    hadrok = os.path.abspath(sys.argv[1])
    env = dict(os.environ, TZ="UTC")
    start = [hadrok, "run", "--frozen-clock", "--in-this-folder"]
    pipes = dict(stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    with tempfile.TemporaryDirectory(prefix="hadrok-takeover-") as folder:
        with open(os.path.join(folder, "freqs.ini"), "w") as f:
            f.write("[Config]\nAutoSaveDelay=1\nBackups=0\n")
        first = subprocess.Popen(start, cwd=folder, env=env, **pipes)
        second = None
        try:
            first.stdin.write(b"connect 1\ntick\n")
            first.stdin.flush()
            read_until(first, b"AutoSave...")
            second = subprocess.Popen(start, cwd=folder, env=env, **pipes)
            second.stdin.write(b"connect 1\nenter\nplayer Bob\nBob: !freg 300:pw\ntick\n")
            second.stdin.flush()
            read_until(second, NOT_SAVED)
            code, lines = status(hadrok, folder, env)
            assert code == 1 and lines[1].startswith("lock: held by a host process"), lines
            assert any(l.startswith("! side file Zandrel.teams.unsaved.") for l in lines), lines

            first.stdin.close()
            assert first.wait(timeout=120) == 0
            code, lines = status(hadrok, folder, env)
            assert code == 1, lines
            assert lines[1] == ("lock: not held: no process holds Zandrel.teams.lock now (a host "
                                "started while another held it runs without it, and keeps its "
                                "changes in a side file, which would be listed below)"), lines

            second.stdin.write(b"tick\n")
            second.stdin.flush()
            said = b"".join(read_until(second, b"its changes are saved to it from now on."))
            assert (b"This process now holds Zandrel.teams.lock (its holder has ended), and "
                    b"Zandrel.teams is still as this one loaded it") in said, said
            second.stdin.write(b"connect 1\n")  # no dead holder named after it
            second.stdin.flush()
            said = b"".join(read_until(second, b"DLL plugin connected."))
            assert b"holds the registry" not in said, said
            second.stdin.close()
            assert second.wait(timeout=120) == 0
        finally:
            for host in (first, second):
                if host and host.poll() is None:
                    host.kill()
                    host.wait(timeout=120)
        assert freqs_in(os.path.join(folder, "Zandrel.teams")) == [300]
        assert not [n for n in os.listdir(folder) if ".unsaved." in n], os.listdir(folder)
        code, lines = status(hadrok, folder, env)
        assert code == 0, lines
    print("takeover: status saw the second host's side file and never said no host ran; the "
          "second took the lock once the first stopped and saved freq 300")


if __name__ == "__main__":
    main()
    takeover()
