#!/usr/bin/env python3
"""Builds the release package of a build directory with CPack, opens it and
checks that its README exists, that every relative link in it (and in the
documents it links to) names a file inside the package, and that the README
names no file the package lacks: a path into the package's folder or into a
folder of the source tree, a document, a program or library. In the Windows
package the README and the Windows guides use Windows commands only.

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


SOURCE_FOLDERS = {p.name for p in Path(__file__).resolve().parents[1].iterdir() if p.is_dir()}
# A run of characters that may make up a path with at least one separator.
PATH_TOKEN = re.compile(r"[\w.@%~:…*<>-]*[/\\][\w.@%~:…*<>/\\-]*")
# A bare name of a file that only the package can provide.
PACKAGE_FILE = re.compile(r"(?<![\w.-])[\w-]+\.(?:md|dll|exe|so|ini)(?![\w.])")
# What a Windows operator never types.
NOT_WINDOWS = re.compile(r"(?<![\w-])(?:cp|grep)(?![\w-])|\$\?")


def missing_names(files):
    """Names in the README of files that the package does not hold."""
    top = next(iter(files)).split("/", 1)[0]
    readme = files[top + "/README.md"].decode("utf-8")
    folders = {name.rsplit("/", 1)[0] for name in files}

    def present(path):
        path = path.strip("/").split("#", 1)[0]
        whole = posixpath.normpath(top + "/" + path) if path else top
        return whole in files or whole in folders

    problems = []
    if "@" + "HADROK" in readme or "@PROJECT" in readme:
        problems.append("a placeholder left unfilled")
    for token in PATH_TOKEN.findall(readme):
        token = token.rstrip(".,;:)")
        if "://" in token or any(c in token for c in "…*<>%"):
            continue
        path = token.replace("\\", "/")
        path = re.sub(r"^(?:[A-Za-z]:|~)?/", "", path) if re.match(r"^(?:[A-Za-z]:|~)?/", path) \
            else path
        absolute = path != token.replace("\\", "/")
        first = path.split("/", 1)[0]
        if re.match(r"hadrok-[0-9]", first):
            if first != top:
                problems.append(f"{token} (the package unpacks to {top})")
            elif not present(path.split("/", 1)[1] if "/" in path else ""):
                problems.append(token)
        elif not absolute and (first in SOURCE_FOLDERS or PACKAGE_FILE.fullmatch(
                path.rsplit("/", 1)[-1])):
            if not present(path):
                problems.append(token)
    for name in PACKAGE_FILE.findall(readme):
        if not any(member.rsplit("/", 1)[-1] == name for member in files):
            problems.append(name)
    return sorted(set(problems))


def commands_shown(text):
    """What a document tells the operator to type: a table row's first cell
    may name the Linux form that the next cells give for cmd."""
    for line in text.splitlines():
        if line.startswith("| "):
            line = re.sub(r"^\|(?:\\\||[^|])*\|", "", line)
        yield line


def unix_words_for_windows(files):
    """(document, word) pairs of Linux commands in the Windows operator's texts."""
    found = []
    for name, data in files.items():
        if name.endswith("/README.md") and name.count("/") == 1 or name.endswith("-windows.md"):
            for line in commands_shown(data.decode("utf-8")):
                for word in NOT_WINDOWS.findall(line):
                    found.append((name, word))
    return found


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
        name = packages[0].name
        # The checks must see what they are for: the developer's README, put
        # in the package's place, names files no package holds.
        top = next(iter(files)).split("/", 1)[0]
        developers = dict(files)
        developers[top + "/README.md"] = (Path(__file__).resolve().parents[1] /
                                          "README.md").read_bytes()
        if not missing_names(developers) or not unix_words_for_windows(developers):
            print("FAIL: the checks find nothing wrong with the developer's README")
            return 1
        broken = broken_links(files)
        for document, target in broken:
            print(f"FAIL: {name}: {document} links to {target}, not in the package")
        if broken:
            return 1
        print(f"{name}: every relative link of its README resolves inside it")
        missing = missing_names(files)
        for file in missing:
            print(f"FAIL: {name}: its README names {file}, which the package does not hold")
        unix = unix_words_for_windows(files) if name.endswith(".zip") else []
        for document, word in unix:
            print(f"FAIL: {name}: {document} says {word!r}, which a Windows prompt does not know")
        if not missing and not unix:
            print(f"{name}: its README names only files that the package holds")
        return 1 if missing or unix else 0


if __name__ == "__main__":
    sys.exit(main())
