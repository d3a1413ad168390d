#!/usr/bin/env python3
"""Runs a host of docs/HOSTS.md exactly as the README and that note show it.

  documented_hosts.py <source dir> <build dir> <c | python | csharp | vb>

The blocks are taken from the docs themselves, so they cannot drift:

- every fenced block of docs/HOSTS.md tagged `file=NAME` is written to NAME
  in a fresh directory;
- the README's `console test=install` transcript installs the build into a
  fresh prefix, and `tarvex terminal` from that prefix puts the demo
  terminals on a pseudo-terminal;
- then every `console test=<host>` transcript of docs/HOSTS.md runs, in
  order. A transcript is `$ command` lines, each followed by what it prints:
  a command shown with output must print exactly that (its exit status is
  not looked at: a host that reports a failure exits non-zero); one shown
  without must succeed. `export NAME=VALUE` sets NAME for what follows.

Three names stand for what differs here: /opt/tarvex (the prefix),
build/tool (the build under test) and /dev/ttyUSB0 (the terminal's device).
Commands run in the C locale with no LD_LIBRARY_PATH or PKG_CONFIG_PATH of
their own, so a transcript works only if it says all it needs.

Each language other than C ships a file of declarations (bindings/):
tarvex.cs, tarvex.py and tarvex.bas. Every entry point of the header must be
declared there with the header's argument count, the one thing a 32-bit
__stdcall host gets wrong without noticing, and so must any declaration in
that language's blocks of docs/HOSTS.md; nothing else may be declared. `vb`
has no transcript (no VB runs here): its declarations are all it checks.

Exit status 0 when every step passed, 1 otherwise, 77 (skipped) for the C#
host when mcs or mono is missing.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

FENCE = re.compile(r"^```(\S*)([^\n]*)\n(.*?)^```[ \t]*$", re.M | re.S)
SKIPPED = 77


def blocks(markdown):
    """(language, tags, text) of every fenced block, tags from `key=value` words."""
    for match in FENCE.finditer(markdown.read_text(encoding="utf-8")):
        tags = dict(word.split("=", 1) for word in match.group(2).split() if "=" in word)
        yield match.group(1), tags, match.group(3)


def transcript(text):
    """[(command, expected output lines)] of a console block."""
    steps = []
    for line in text.splitlines():
        if line.startswith("$ "):
            steps.append((line[2:], []))
        elif steps:
            steps[-1][1].append(line)
    return steps


def run_transcripts(markdown, host, work, env, names):
    """Runs every `console test=<host>` block of `markdown`; the failures (a
    host with no step at all is one)."""
    failures = steps = 0
    for language, tags, text in blocks(markdown):
        if language != "console" or tags.get("test") != host:
            continue
        for command, expected in transcript(text):
            steps += 1
            for name, value in names.items():
                command = command.replace(name, value)
            exported = re.fullmatch(r"export (\w+)=(\S+)", command)
            if exported:
                env[exported.group(1)] = exported.group(2)
                continue
            done = subprocess.run(["bash", "-c", command], cwd=work, env=env, timeout=300,
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
            printed = done.stdout.splitlines()
            passed = printed == expected if expected else done.returncode == 0
            print(f"{'ok  ' if passed else 'FAIL'} $ {command}")
            if not passed:
                failures += 1
                print(f"  exit {done.returncode}; expected:", *expected, sep="\n    ")
                print("  printed:", *printed, sep="\n    ")
    return failures + (steps == 0)


# Each language's file of declarations (its blocks in the docs carry the
# host's name as their tag), and how one declaration reads in that language:
# (entry point, parameter list).
DECLARATIONS = {
    "csharp": ("bindings/tarvex.cs", r"static extern \w+ (\w+)\(([^)]*)\)"),
    "python": ("bindings/tarvex.py", r'"(\w+)": \(\w+, \[([^\]]*)\]\)'),
    "vb": ("bindings/tarvex.bas", r'Declare Function (\w+) Lib "tarvex.dll" \(([^)]*)\)'),
}


def parameter_count(params):
    params = re.sub(r"\[[^\]]*\]", "", params)  # C# attributes: [In, Out]
    return 0 if params.strip() in ("", "void") else params.count(",") + 1


def declarations(source, host):
    """The language's declarations against the header's prototypes: the
    shipped file must declare every entry point, and a doc block may declare
    some; the failures."""
    path, pattern = DECLARATIONS[host]
    header = (source / "include/tarvex.h").read_text(encoding="utf-8")
    prototypes = {name: parameter_count(params)
                  for name, params in re.findall(r"TARVEX_CALL (\w+)\(([^)]*)\)", header)}
    places = [(path, (source / path).read_text(encoding="utf-8"), prototypes)]
    places += [("docs/HOSTS.md", text, {}) for language, _, text in blocks(source / "docs/HOSTS.md")
               if language == host]
    failures = 0
    for place, text, required in places:
        text = text.replace("\r\n", "\n").replace(" _\n", " ")
        declared = {name: parameter_count(params) for name, params in re.findall(pattern, text)}
        wrong = [name for name in sorted(declared.keys() | required.keys())
                 if declared.get(name, "no declaration") != prototypes.get(name)]
        for name in wrong:
            print(f"FAIL {place}: {name}: {declared.get(name, 'no declaration')} arguments, "
                  f"the header {prototypes.get(name, 'has no such entry point')}")
        if declared and not wrong:
            print(f"ok   {place}: {len(declared)} declarations as in the header")
        failures += len(wrong)
    return failures + (not prototypes)


def main():
    source, build, host = Path(sys.argv[1]).resolve(), Path(sys.argv[2]).resolve(), sys.argv[3]
    if host in DECLARATIONS and declarations(source, host):
        return 1
    if host == "vb":
        return 0
    if host == "csharp" and not (shutil.which("mcs") and shutil.which("mono")):
        print("skipped: no C# compiler here (mcs and mono: Debian's mono-mcs, scripts/setup.sh)")
        return SKIPPED

    with tempfile.TemporaryDirectory() as temporary:
        work = Path(temporary) / "host"
        prefix = Path(temporary) / "prefix"
        work.mkdir()
        for _, tags, text in blocks(source / "docs/HOSTS.md"):
            if "file" in tags:
                (work / tags["file"]).write_text(text, encoding="utf-8")
        env = {key: value for key, value in os.environ.items()
               if key not in ("LD_LIBRARY_PATH", "PKG_CONFIG_PATH")}
        env["LC_ALL"] = "C"
        names = {"/opt/tarvex": str(prefix), "build/tool": str(build)}
        failures = run_transcripts(source / "README.md", "install", work, env, names)
        if failures:
            return 1

        # The demo terminals, from the installed tool, logging to a file (its
        # first line is the device); the safety limit only matters if this
        # script dies before it stops them.
        log = Path(temporary) / "terminal.log"
        with open(log, "w", encoding="utf-8") as out:
            terminal = subprocess.Popen([prefix / "bin/tarvex", "terminal", "--seconds", "600"],
                                        stdout=out, stderr=subprocess.STDOUT)
        failures = 1
        try:
            deadline = time.monotonic() + 10
            while "\n" not in log.read_text() and time.monotonic() < deadline:
                time.sleep(0.05)
            names["/dev/ttyUSB0"] = log.read_text().split("\n")[0]
            failures = run_transcripts(source / "docs/HOSTS.md", host, work, env, names)
        finally:
            terminal.terminate()
            terminal.wait()
            if failures:
                print("tarvex terminal heard:", log.read_text(), sep="\n")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
