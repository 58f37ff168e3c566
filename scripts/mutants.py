#!/usr/bin/env python3
"""Measures the suite's strength: plants small faults one at a time and counts those it catches.

Each fault in scripts/mutants.txt is one exact text that occurs once in one file and its
replacement. The tree (tracked files, as they stand in the working copy) is copied to a scratch
folder and built once (Release, windows included, no memcheck); then each fault is applied
alone, rebuilt, and the suite runs without memcheck: every test program whole, fastest first,
then the docs and package checks, stopping at the first failure. A fault is killed when a test fails or times out, survives when the whole suite passes.
A fault whose text is not found once, or whose tree does not build, is reported and not counted.

  scripts/mutants.py                  every fault
  scripts/mutants.py -k gcm,kdf       only faults whose name holds one of these words
  scripts/mutants.py --keep DIR       build in DIR and keep it (later runs reuse its build)
"""
import argparse
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time

REPO = pathlib.Path(__file__).resolve().parent.parent
LIST = REPO / "scripts" / "mutants.txt"


def read_mutants(path):
    """Blocks of three lines: '- file: name', the original text, the replacement."""
    lines = [l for l in path.read_text().splitlines() if l.strip() and not l.startswith("#")]
    if len(lines) % 3:
        sys.exit(f"{path}: blocks must have three lines each")
    mutants = []
    for i in range(0, len(lines), 3):
        head, old, new = lines[i], lines[i + 1].strip(), lines[i + 2].strip()
        if not head.startswith("- ") or ":" not in head:
            sys.exit(f"{path}: expected '- file: name', got {head!r}")
        file, name = head[2:].split(":", 1)
        mutants.append((file.strip(), name.strip(), old, new))
    return mutants


def run(cmd, cwd, timeout=None, env=None):
    return subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True, errors="replace", timeout=timeout, env=env)


def copy_tree(scratch):
    files = run(["git", "ls-files", "-z"], REPO).stdout.split("\0")
    for f in filter(None, files):
        src, dst = REPO / f, scratch / f
        if src.is_file():
            dst.parent.mkdir(parents=True, exist_ok=True)
            if not dst.exists() or dst.read_bytes() != src.read_bytes():
                shutil.copy(src, dst)  # a new time, so that the build sees the change


def build(scratch, jobs):
    return run(["cmake", "--build", "build", "-j", str(jobs)], scratch).returncode == 0


def test_programs(scratch):
    return sorted(p for p in (scratch / "build" / "bin").glob("*_test") if p.is_file())


def program_fails(program):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    try:
        return run([str(program), "--gtest_brief=1"], program.parent, timeout=600,
                   env=env).returncode != 0
    except subprocess.TimeoutExpired:
        return True


def scripts_fail(scratch):
    """The suite's tests that are scripts, not test programs: the formats page and the packages."""
    try:
        return run(["ctest", "-R", "^(formats_doc|package_install)$", "--timeout", "300"],
                   scratch / "build", timeout=900).returncode != 0
    except subprocess.TimeoutExpired:
        return True


def failing_test(scratch, order):
    """The first failing test's name, or None when the whole suite passes. Each test program runs
    whole in one process (much faster than ctest's process per case); `order` lists them fastest
    first, so that most faults end the run early."""
    for program in order:
        if program_fails(program):
            return program.name
    return "formats_doc or package_install" if scripts_fail(scratch) else None


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("-k", default="", help="comma-separated words a fault's name must hold")
    parser.add_argument("--keep", help="scratch folder to build in and keep")
    parser.add_argument("-j", type=int, default=os.cpu_count() or 2)
    args = parser.parse_args()

    mutants = read_mutants(LIST)
    words = [w for w in args.k.split(",") if w]
    if words:
        mutants = [m for m in mutants if any(w in f"{m[0]} {m[1]}" for w in words)]

    scratch = pathlib.Path(args.keep or tempfile.mkdtemp(prefix="mutants."))
    scratch.mkdir(parents=True, exist_ok=True)
    copy_tree(scratch)
    configure = ["cmake", "-S", ".", "-B", "build", "-DCMAKE_BUILD_TYPE=Release",
                 "-DAESSUITE_BUILD_GUI=ON", "-DAESSUITE_MEMCHECK=OFF"]
    if shutil.which("ccache"):
        configure.append("-DCMAKE_CXX_COMPILER_LAUNCHER=ccache")
    if run(configure, scratch).returncode != 0 or not build(scratch, args.j):
        sys.exit("the unchanged tree does not build")
    # The baseline run times each program, which orders the later runs fastest first.
    durations = {}
    for program in test_programs(scratch):
        start = time.time()
        if program_fails(program):
            sys.exit(f"the unchanged suite fails ({program.name}): fix it first")
        durations[program] = time.time() - start
    if scripts_fail(scratch):
        sys.exit("the unchanged suite fails (formats_doc or package_install): fix it first")
    order = sorted(durations, key=durations.get)
    print(f"baseline test programs: {sum(durations.values()):.0f} s", flush=True)

    killed = counted = 0
    survivors, invalid = [], []
    for file, name, old, new in mutants:
        path = scratch / file
        original = path.read_text() if path.exists() else ""
        if original.count(old) != 1:
            invalid.append(f"{file}: {name} (text found {original.count(old)} times)")
            print(f"SKIP     {file}: {name}: text not found exactly once", flush=True)
            continue
        path.write_text(original.replace(old, new))
        try:
            t = time.time()
            if not build(scratch, args.j):
                invalid.append(f"{file}: {name} (does not build)")
                print(f"SKIP     {file}: {name}: does not build", flush=True)
                continue
            counted += 1
            test = failing_test(scratch, order)
            verdict = "KILLED  " if test else "SURVIVED"
            print(f"{verdict} {file}: {name}  [{test or 'whole suite passed'}, "
                  f"{time.time() - t:.0f} s]", flush=True)
            if test:
                killed += 1
            else:
                survivors.append(f"{file}: {name}")
        finally:
            path.write_text(original)

    print(f"\n{killed}/{counted} killed")
    for s in survivors:
        print(f"  survived: {s}")
    for s in invalid:
        print(f"  not counted: {s}")
    if not args.keep:
        shutil.rmtree(scratch, ignore_errors=True)
    return 0 if not invalid else 1


if __name__ == "__main__":
    sys.exit(main())
