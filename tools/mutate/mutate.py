#!/usr/bin/env python3
"""How many small faults the test suite catches.

Makes mutants of the sources (a comparison flipped, true and false swapped, a constant moved
by one, && and || swapped, a call statement removed), one at a time: applies it, rebuilds,
runs ctest, and puts the file back. A mutant the suite fails on is killed; one that does not
compile is stillborn and not counted. The chosen mutants are written to a list so that a
later run (after the tests change) judges exactly the same ones:

    tools/mutate/mutate.py --pick 40 --save mutants.json      # choose, then judge
    tools/mutate/mutate.py --load mutants.json                # the same mutants again
"""
import argparse
import json
import pathlib
import random
import re
import signal
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]

# (name, pattern, replacement); patterns see code with strings and comments blanked out.
OPERATORS = [
    ("== to !=", re.compile(r"(?<=[\s)\w])==(?=[\s(\w!-])"), "!="),
    ("!= to ==", re.compile(r"(?<=[\s)\w])!=(?=[\s(\w!-])"), "=="),
    ("<= to <", re.compile(r"(?<=\s)<=(?=\s)"), "<"),
    (">= to >", re.compile(r"(?<=\s)>=(?=\s)"), ">"),
    ("< to <=", re.compile(r"(?<=\s)<(?=\s)"), "<="),
    ("> to >=", re.compile(r"(?<=\s)>(?=\s)"), ">="),
    ("&& to ||", re.compile(r"(?<=\s)&&(?=\s)"), "||"),
    ("|| to &&", re.compile(r"(?<=\s)\|\|(?=\s)"), "&&"),
    ("true to false", re.compile(r"\btrue\b"), "false"),
    ("false to true", re.compile(r"\bfalse\b"), "true"),
    ("constant plus one", re.compile(r"(?<![\w.])([1-9]\d{0,5})(?![\w.'])"), None),
]
# A statement that is only a call: `name(...);`, `a.b(...);`, `a->b(...);`.
CALL_STATEMENT = re.compile(r"^\s*[A-Za-z_][\w:]*(?:(?:\.|->)[A-Za-z_]\w*)*\(.*\);\s*$")


def blank_strings_and_comments(line):
    """The line with string and character literals and // comments turned into blanks."""
    out, quote, i = [], None, 0
    while i < len(line):
        c = line[i]
        if quote:
            if c == "\\":
                out.append("  ")
                i += 2
                continue
            out.append(" ")
            if c == quote:
                quote = None
        elif c in "\"'":
            quote = c
            out.append(" ")
        elif line.startswith("//", i):
            out.append(" " * (len(line) - i))
            break
        else:
            out.append(c)
        i += 1
    return "".join(out)[: len(line)]


def candidates(path):
    rel = str(path.relative_to(ROOT))
    for number, line in enumerate(path.read_text().splitlines(), start=1):
        code = blank_strings_and_comments(line)
        stripped = code.strip()
        if not stripped or stripped.startswith(("#", "*", "/*", "static_assert")):
            continue
        for name, pattern, replacement in OPERATORS:
            for m in pattern.finditer(code):
                new = replacement if replacement else str(int(m.group(1)) + 1)
                mutated = line[: m.start()] + new + line[m.end() :]
                yield {"file": rel, "line": number, "what": name, "before": line, "after": mutated}
        if CALL_STATEMENT.match(code) and not stripped.startswith(("return", "throw")):
            yield {"file": rel, "line": number, "what": "call removed", "before": line,
                   "after": line[: len(line) - len(line.lstrip())] + ";"}


def run(cmd, timeout):
    try:
        return subprocess.run(cmd, cwd=ROOT, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=timeout).returncode
    except subprocess.TimeoutExpired:
        return -1


def judge(mutant, args):
    path = ROOT / mutant["file"]
    original = path.read_text()
    lines = original.split("\n")
    at = mutant["line"] - 1
    if at >= len(lines) or lines[at] != mutant["before"]:
        # Edits above it shift a line; it is the same mutant while its text is there once.
        found = [i for i, line in enumerate(lines) if line == mutant["before"]]
        if len(found) != 1:
            return "moved"
        at = found[0]
    lines[at] = mutant["after"]
    try:
        path.write_text("\n".join(lines))
        if run(["cmake", "--build", args.build, f"-j{args.jobs}"], args.build_timeout) != 0:
            return "stillborn"
        test = ["ctest", "--test-dir", args.build, f"-j{args.jobs}", "--stop-on-failure",
                "--timeout", str(args.test_timeout)] + (["-E", args.exclude] if args.exclude else [])
        return "survived" if run(test, args.suite_timeout) == 0 else "killed"
    finally:
        path.write_text(original)


def main():
    # A stopped run must still put the mutated file back: turn SIGTERM into an exit, so the
    # judge's finally runs.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--pick", type=int, help="choose this many mutants at random")
    p.add_argument("--seed", type=int, default=9)
    p.add_argument("--sources", default="src/**/*.cpp", help="glob under the repository root")
    p.add_argument("--skip-sources", help="regex: source files to leave alone")
    p.add_argument("--save", help="write the chosen mutants to this file")
    p.add_argument("--load", help="judge the mutants listed in this file")
    p.add_argument("--build", default="build")
    p.add_argument("--jobs", type=int, default=2)
    p.add_argument("--exclude", help="ctest -E regex: tests to leave out (slow end-to-end ones)")
    p.add_argument("--test-timeout", type=int, default=120)
    p.add_argument("--build-timeout", type=int, default=900)
    p.add_argument("--suite-timeout", type=int, default=1200)
    args = p.parse_args()

    if args.load:
        mutants = json.loads(pathlib.Path(args.load).read_text())
    else:
        files = [f for f in sorted(ROOT.glob(args.sources))
                 if not (args.skip_sources and re.search(args.skip_sources, str(f)))]
        pool = [m for f in files for m in candidates(f)]
        random.Random(args.seed).shuffle(pool)
        mutants = pool[: args.pick or 40]
    if args.save:
        pathlib.Path(args.save).write_text(json.dumps(mutants, indent=1) + "\n")

    tally = {}
    for i, m in enumerate(mutants, start=1):
        verdict = judge(m, args)
        tally[verdict] = tally.get(verdict, 0) + 1
        print(f"[{i}/{len(mutants)}] {verdict:9} {m['file']}:{m['line']} {m['what']}", flush=True)
        if verdict == "survived":
            print(f"    - {m['before'].strip()}\n    + {m['after'].strip()}", flush=True)
    run(["cmake", "--build", args.build, f"-j{args.jobs}"], args.build_timeout)
    judged = tally.get("killed", 0) + tally.get("survived", 0)
    rate = 100.0 * tally.get("killed", 0) / judged if judged else 0.0
    print(f"killed {tally.get('killed', 0)} of {judged} ({rate:.1f} %); "
          f"stillborn {tally.get('stillborn', 0)}, moved {tally.get('moved', 0)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
