#!/usr/bin/env python3
"""Builds the release package of a build directory with CPack, opens it and
checks that its README exists and that every relative link in it (and in the
documents it links to) names a file inside the package.

    package_links.py CPACK BUILD_DIR
"""
import posixpath
import re
import subprocess
import sys
import tarfile
import tempfile
import zipfile
from pathlib import Path

# [text](target) and [text](target "title"); images too.
LINK = re.compile(r"\[[^\]]*\]\(\s*<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\s*\)")


def members(package):
    if package.suffix == ".zip":
        with zipfile.ZipFile(package) as archive:
            return {name: archive.read(name) for name in archive.namelist()
                    if not name.endswith("/")}
    with tarfile.open(package) as archive:
        return {m.name: archive.extractfile(m).read() for m in archive.getmembers() if m.isfile()}


def broken_links(files):
    """(document, link) pairs that don't resolve, following linked documents."""
    tops = {name.split("/", 1)[0] for name in files}
    if len(tops) != 1:
        return [("(package)", "not one top directory: " + ", ".join(sorted(tops)))]
    top = tops.pop()
    readme = top + "/README.md"
    if readme not in files:
        return [("(package)", "no README.md at the top")]
    broken, seen, queue = [], {readme}, [readme]
    while queue:
        document = queue.pop()
        text = files[document].decode("utf-8")
        for target in LINK.findall(text):
            if re.match(r"^[a-z][a-z0-9+.-]*:", target, re.I) or target.startswith("#"):
                continue  # a web address or a place in the same document
            path = target.split("#", 1)[0]
            resolved = posixpath.normpath(posixpath.join(posixpath.dirname(document), path))
            if not resolved.startswith(top + "/") or resolved not in files:
                broken.append((document, target))
            elif resolved.endswith(".md") and resolved not in seen:
                seen.add(resolved)
                queue.append(resolved)
    return broken


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    cpack, build = sys.argv[1], Path(sys.argv[2])
    with tempfile.TemporaryDirectory() as out:
        run = subprocess.run([cpack, "--config", str(build / "CPackConfig.cmake"), "-B", out],
                             cwd=build, capture_output=True, text=True)
        packages = sorted(p for p in Path(out).iterdir()
                          if p.name.endswith((".zip", ".tar.gz")))
        if run.returncode != 0 or len(packages) != 1:
            print(run.stdout, run.stderr, sep="\n")
            print(f"FAIL: cpack made {[p.name for p in packages]}")
            return 1
        files = members(packages[0])
        broken = broken_links(files)
        for document, target in broken:
            print(f"FAIL: {packages[0].name}: {document} links to {target}, not in the package")
        if not broken:
            print(f"{packages[0].name}: every relative link of its README resolves inside it")
        return 1 if broken else 0


if __name__ == "__main__":
    sys.exit(main())
