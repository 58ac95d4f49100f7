#!/usr/bin/env python3
"""The commands the README and docs/*.md quote must be ones the project has.

    docs_commands.py SOURCE_DIR PKGTREE

Every `make` target and every `pkgtree` verb and option quoted in a fenced
block or between backticks must exist (the Makefile's rules; pkgtree's own
--help), every relative link must lead to a file (and heading), and each block fenced as
```sh run runs in a scratch folder, PKGTREE's folder first on PATH, and must
end with status 0. Each fault is one line naming the page and its line."""
import os
import re
import shlex
import subprocess
import sys
import tempfile

SEPARATORS = {"|", "||", "&&", ";", "&", ")", "(", "<", ">", "2>", ">>"}


def pages(root):
    docs = os.path.join(root, "docs")
    found = [os.path.join(root, "README.md")]
    found += sorted(os.path.join(docs, n) for n in os.listdir(docs) if n.endswith(".md"))
    return found


def quoted(text):
    """(line number, code) for every code block line (continuations joined)
    and every backtick span of the prose; and the runnable blocks as (line, text)."""
    code, runnable, prose = [], [], []
    lines = text.split("\n")

    def spans():  # backticks pair within a paragraph, which may break a span across lines
        for m in re.finditer(r"`([^`]+)`", "\n".join(t for _, t in prose)):
            before = "\n".join(t for _, t in prose)[:m.start()]
            code.append((prose[0][0] + before.count("\n"), m.group(1).replace("\n", " ")))
        prose.clear()

    i = 0
    while i < len(lines):
        fence = re.match(r"^\s*```(.*)$", lines[i])
        if fence:
            spans()
            start, info, block = i + 1, fence.group(1).split(), []
            i += 1
            while i < len(lines) and not re.match(r"^\s*```\s*$", lines[i]):
                block.append(lines[i])
                i += 1
            i += 1
            if info[:2] == ["sh", "run"]:
                runnable.append((start, "\n".join(block) + "\n"))
            code += joined(start + 1, block)
            continue
        if re.match(r"^ {4,}\S", lines[i]) and (i == 0 or not lines[i - 1].strip()):
            spans()
            start, block = i + 1, []
            while i < len(lines) and (lines[i].startswith("    ") or not lines[i].strip()):
                block.append(lines[i])
                i += 1
            code += joined(start, block)
            continue
        if lines[i].strip():
            prose.append((i + 1, lines[i]))
        else:
            spans()
        i += 1
    spans()
    return code, runnable


def anchors(page):
    """The anchors of a page's headings, as the project's host makes them."""
    found = set()
    for line in open(page, encoding="utf-8"):
        m = re.match(r"^#+ (.*)$", line)
        if m:
            found.add(re.sub(r"[^a-z0-9 _-]", "", m.group(1).lower()).replace(" ", "-"))
    return found


def joined(first, block):
    out, pending, at = [], "", first
    for n, line in enumerate(block):
        if not pending:
            at = first + n
        if line.rstrip().endswith("\\"):
            pending += line.rstrip()[:-1] + " "
            continue
        out.append((at, pending + line))
        pending = ""
    if pending:
        out.append((at, pending))
    return out


def words(code):
    try:
        lex = shlex.shlex(code, posix=True, punctuation_chars=True)
        lex.whitespace_split = True
        return list(lex)
    except ValueError:  # an unclosed quote: a fragment of prose, taken as plain words
        return code.split()


PREFIXES = {"nice", "sudo", "env", "time", "exec", "then", "do", "else"}


def commands(code, name):
    """The words after each `name` (or a path ending in it) that starts a
    command, up to a separator: "download or make it again" is no command."""
    ws = words(code)
    for k, w in enumerate(ws):
        before = ws[k - 1] if k else None
        starts = (before is None or before in SEPARATORS or before in PREFIXES
                  or re.fullmatch(r"-.*|\d+|\w+=.*", before))
        if starts and re.fullmatch(r"(.*/)?" + re.escape(name), w):
            rest = []
            for x in ws[k + 1:]:
                if x in SEPARATORS or x.startswith("#"):
                    break
                rest.append(x)
            yield rest


def make_targets(root):
    targets = set()
    with open(os.path.join(root, "Makefile")) as f:
        for line in f:
            m = re.match(r"^([A-Za-z0-9_.\- ]+?)\s*:(?![=:])", line)
            if m and not line.startswith("\t"):
                targets.update(m.group(1).split())
    targets.discard(".PHONY")
    return targets


def pkgtree_interface(pkgtree):
    text = subprocess.run([pkgtree, "--help"], capture_output=True, text=True, check=True).stdout
    options = set(re.findall(r"(?<![\w-])(--?[a-z][a-z-]*)", text))
    with_argument = set(re.findall(r"(?<![\w-])(--?[a-z][a-z-]*) [A-Z]{1,}\b", text))
    verbs = set()
    for line in text.splitlines():
        if line.lstrip().startswith(("usage:", "pkgtree")):
            body = line.split("pkgtree", 1)[1]
            body = re.sub(r"\[[^\]]*\]", " ", body)
            for w in body.split():
                verbs.update(v for v in w.split("|") if re.fullmatch(r"[a-z]+", v))
        m = re.match(r"^  ([a-z]+) ", line)
        if m:
            verbs.add(m.group(1))
    return verbs, options, with_argument


def main():
    root, pkgtree = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    targets = make_targets(root)
    try:
        verbs, options, with_argument = pkgtree_interface(pkgtree)
    except (OSError, subprocess.CalledProcessError) as why:
        print(f"docs: {pkgtree} --help did not run: {why}")
        return 1
    faults, seen = [], {"make": 0, "pkgtree": 0, "run": 0}
    for page in pages(root):
        where = os.path.relpath(page, root)
        text = open(page, encoding="utf-8").read()
        code, runnable = quoted(text)
        for line, snippet in code:
            for rest in commands(snippet, "make"):
                for w in rest:
                    if w.startswith("-") or "=" in w:
                        continue
                    if not re.fullmatch(r"[a-z0-9][a-z0-9_.-]*", w):
                        break  # a placeholder or prose: the command's targets end here
                    seen["make"] += 1
                    if w not in targets:
                        faults.append(f"{where}:{line}: make {w}: the Makefile has no such target")
            for name in ("pkgtree", "pkgtree.exe"):
                for rest in commands(snippet, name):
                    verb_seen, skip = False, False
                    for w in rest:
                        if skip:
                            skip = False
                            continue
                        for part in re.sub(r"[\[\]]", "", w).split("|"):
                            if re.fullmatch(r"--?[a-z][a-z-]*", part):
                                seen["pkgtree"] += 1
                                if part not in options:
                                    faults.append(f"{where}:{line}: {name} {part}: pkgtree --help names no such option")
                                skip = part in with_argument and w == part
                            elif not verb_seen and re.fullmatch(r"[a-z]+", part):
                                verb_seen = True
                                seen["pkgtree"] += 1
                                if part not in verbs:
                                    faults.append(f"{where}:{line}: {name} {part}: pkgtree --help names no such verb")
                            elif part and not part.startswith("-"):
                                verb_seen = True
        for m in re.finditer(r"\]\(([^)\s]+)\)", text):
            target, _, anchor = m.group(1).partition("#")
            if re.match(r"^[a-z]+:", target):
                continue
            path = os.path.join(os.path.dirname(page), target) if target else page
            line = text.count("\n", 0, m.start()) + 1
            if not os.path.exists(path):
                faults.append(f"{where}:{line}: the link {m.group(1)} leads to no file")
            elif anchor and path.endswith(".md") and anchor not in anchors(path):
                faults.append(f"{where}:{line}: the link {m.group(1)} leads to no heading")
        for line, script in runnable:
            seen["run"] += 1
            with tempfile.TemporaryDirectory() as scratch:
                env = dict(os.environ, PATH=os.path.dirname(pkgtree) + os.pathsep + os.environ["PATH"])
                done = subprocess.run(["bash", "-euo", "pipefail", "-c", script], cwd=scratch, env=env,
                                      capture_output=True, text=True)
                if done.returncode != 0:
                    said = (done.stderr or done.stdout).strip().splitlines()[-1:] or ["(nothing)"]
                    faults.append(f"{where}:{line}: the block ended with status {done.returncode}: {said[0]}")
    for fault in faults:
        print(fault)
    print(f"docs: {seen['make']} make targets, {seen['pkgtree']} pkgtree verbs and options, "
          f"{seen['run']} blocks run; {len(faults)} faults")
    return 1 if faults or not seen["make"] or not seen["pkgtree"] or not seen["run"] else 0


if __name__ == "__main__":
    sys.exit(main())
