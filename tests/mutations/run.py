#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Puts each deliberate fault of mutations.txt into the sources, one at a time, rebuilds the test
programs of the named folders, runs them and reports which tests caught the fault.

Run by hand, not in CI, on a tree that is already built:
    tests/mutations/run.py BUILD-DIR [NAME...] [--table FILE]
Every source file is put back after each fault, also when the run is interrupted. A fault whose
text is missing or found twice stops the run: the list must follow the code.
"""
import argparse
import os
import re
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def parse(path):
    mutations, current = [], None
    for number, line in enumerate(open(path, encoding="utf-8"), 1):
        line = line.rstrip("\n")
        if line.startswith("#") or not line.strip():
            continue
        if line.startswith("== "):
            current = {"name": line[3:].strip(), "kind": "", "folders": [], "edits": []}
            mutations.append(current)
            continue
        key, _, value = line.partition(": ")
        value = value.replace("\\n", "\n")
        if current is None:
            sys.exit(f"{path}:{number}: an entry must start with '== name'")
        if key == "kind":
            current["kind"] = value
        elif key == "folders":
            current["folders"] = value.split()
        elif key == "file":
            current["edits"].append({"file": value})
        elif key in ("old", "new") and current["edits"]:
            current["edits"][-1][key] = value
        else:
            sys.exit(f"{path}:{number}: cannot read '{line}'")
    for m in mutations:
        if not m["folders"] or not m["edits"] or any("old" not in e or "new" not in e for e in m["edits"]):
            sys.exit(f"{m['name']}: needs folders and file/old/new")
    return mutations


def apply(mutation):
    """Edits the files; returns their old contents to put back."""
    originals = {}
    for edit in mutation["edits"]:
        path = os.path.join(ROOT, edit["file"])
        text = originals.get(path) or open(path, encoding="utf-8").read()
        originals.setdefault(path, text)
        current = open(path, encoding="utf-8").read()
        count = current.count(edit["old"])
        if count != 1:
            restore(originals)
            sys.exit(f"{mutation['name']}: the text to change occurs {count} times in {edit['file']}:\n{edit['old']}")
        open(path, "w", encoding="utf-8").write(current.replace(edit["old"], edit["new"]))
    return originals


def restore(originals):
    for path, text in originals.items():
        open(path, "w", encoding="utf-8").write(text)


def test_programs(build, folders):
    programs = []
    for folder in folders:
        directory = os.path.join(build, "tests", folder)
        if not os.path.isdir(directory):
            continue
        for name in sorted(os.listdir(directory)):
            path = os.path.join(directory, name)
            if os.path.isfile(path) and os.access(path, os.X_OK) and not name.endswith((".sh", ".py")):
                programs.append(path)
    return programs


def build_programs(build, programs):
    targets = [os.path.relpath(p, build) for p in programs]
    result = subprocess.run(["nice", "ninja", "-C", build, "-j2"] + targets, capture_output=True, text=True)
    return result.returncode == 0, result.stdout[-3000:] + result.stderr[-3000:]


def run_programs(build, programs, timeout):
    """Names of the failed tests; a program that crashed or hung counts as one failure of its own."""
    failed = set()
    env = dict(os.environ, VANTREL_TEST_DATA_DIR=os.path.join(build, "test-data"), QT_QPA_PLATFORM="offscreen",
               GST_DEBUG="1")
    for program in programs:
        try:
            result = subprocess.run([program, "--gtest_brief=1"], capture_output=True, text=True, timeout=timeout,
                                    env=env, cwd=build)
        except subprocess.TimeoutExpired:
            failed.add(os.path.basename(program) + " (hung)")
            continue
        names = set(re.findall(r"^\[  FAILED  \] ([\w/.]+)", result.stdout, re.M))
        failed |= names
        if result.returncode != 0 and not names:
            failed.add(os.path.basename(program) + f" (exit {result.returncode})")
    return failed


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("build")
    parser.add_argument("names", nargs="*")
    parser.add_argument("--list", default=os.path.join(ROOT, "tests", "mutations", "mutations.txt"))
    parser.add_argument("--table", help="also write the result table (Markdown) here")
    parser.add_argument("--timeout", type=int, default=600, help="seconds for one test program")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    mutations = [m for m in parse(args.list) if not args.names or m["name"] in args.names]

    # Interrupted: the finally blocks put the sources back.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(3))

    folders = sorted({f for m in mutations for f in m["folders"]})
    baseline_programs = test_programs(build, folders)
    ok, log = build_programs(build, baseline_programs)
    if not ok:
        sys.exit("the unchanged tree does not build:\n" + log)
    baseline = run_programs(build, baseline_programs, args.timeout)
    print(f"unchanged tree: {len(baseline)} failing: {sorted(baseline)}", flush=True)

    rows = []
    for m in mutations:
        started = time.time()
        originals = apply(m)
        try:
            programs = test_programs(build, m["folders"])
            ok, log = build_programs(build, programs)
            caught = run_programs(build, programs, args.timeout) - baseline if ok else set()
        finally:
            restore(originals)
        verdict = ", ".join(sorted(caught)) if caught else ("NOT CAUGHT" if ok else "DOES NOT COMPILE: fix the entry")
        rows.append((m["name"], m["kind"], len(caught), verdict))
        print(f"{m['name']}: {verdict} ({time.time() - started:.0f} s)", flush=True)

    # Put the build back to the unchanged sources.
    build_programs(build, test_programs(build, folders))
    missed = [r for r in rows if r[2] == 0]
    table = ["| fault | kind | tests that fail |", "|---|---|---|"]
    table += [f"| {name} | {kind} | {verdict} |" for name, kind, _, verdict in rows]
    table.append(f"\n{len(rows) - len(missed)} of {len(rows)} caught.")
    print("\n".join(table))
    if args.table:
        open(args.table, "w", encoding="utf-8").write("\n".join(table) + "\n")
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
