#!/usr/bin/env python3
"""Plants faults in one folder's sources, one at a time, and counts how many the tests notice.

    python3 scripts/mutate.py FOLDER [--build-dir DIR] [--only ID,ID] [--list]

The faults for FOLDER sit in scripts/mutations/FOLDER.txt:

    tests: test_geometry test_export       programs whose failure kills a mutant
    target: xvelm2ka                       the build target the following files belong to
    file: xvelm2k/geometry/curve_view.cpp  the file the following lines mutate
    g01 what the fault is :: old text ==> new text

The old text must occur exactly once in the file (add context until it does); `\\n` in either
text stands for a line break and an empty new text deletes the old one. A list may name
another target before the files of another library (the test programs load it too). Each mutant
is built (its file's target; the test programs too when the file is a header, whose code they
inline; otherwise they load the rebuilt shared library) and the programs run
with a time limit; a test that fails, crashes or runs out of time kills the mutant.
XVELM_MUTATE_FILTER=PATTERN hands the programs a --gtest_filter (say, "-Suite.NewCase" to
measure the rate the tests had before a case was written). The file is
always put back, on Ctrl-C too, and a copy of the original waits beside it until then, so a run
that was killed outright is repaired by the next one. Not part of CI.
"""
import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BACKUP_SUFFIX = ".mutate-orig"


class Mutant:
    def __init__(self, ident, note, path, old, new, line, target):
        self.ident, self.note, self.path, self.target = ident, note, path, target
        self.old, self.new, self.line = old, new, line


def unescape(text):
    return text.replace("\\n", "\n")


def read_list(folder):
    path = os.path.join(ROOT, "scripts", "mutations", folder + ".txt")
    tests, target, current, mutants = [], "xvelm2ka", None, []
    with open(path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            line = raw.rstrip("\n")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            if line.startswith("tests:"):
                tests = line[len("tests:"):].split()
            elif line.startswith("target:"):
                target = line[len("target:"):].strip()
            elif line.startswith("file:"):
                current = line[len("file:"):].strip()
            else:
                m = re.match(r"(\S+)\s+(.*?)\s::\s(.*?)\s==>(?:\s(.*))?$", line)
                if not m or current is None:
                    sys.exit(f"{path}:{number}: cannot read this line")
                ident, note, old, new = m.group(1), m.group(2), m.group(3), m.group(4) or ""
                mutants.append(Mutant(ident, note, current, unescape(old), unescape(new), number, target))
    if not tests:
        sys.exit(f"{path}: no 'tests:' line")
    return tests, mutants


def restore_leftovers(mutants):
    for path in {m.path for m in mutants}:
        full = os.path.join(ROOT, path)
        if os.path.exists(full + BACKUP_SUFFIX):
            shutil.move(full + BACKUP_SUFFIX, full)
            os.utime(full, None)
            print(f"restored {path} from a run that did not finish")


def build(build_dir, targets, log):
    proc = subprocess.run(["cmake", "--build", build_dir, "--target", *targets, "-j",
                           os.environ.get("XVELM_JOBS", "2")],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if proc.returncode != 0:
        log.write(proc.stdout[-4000:])
    return proc.returncode == 0


def run_tests(build_dir, tests, timeout, log):
    """Returns None when every program passes, else the reason the first one failed."""
    for name in tests:
        exe = os.path.join(build_dir, "tests", name)
        try:
            argv = [exe, "--gtest_fail_fast", "--gtest_brief=1"]
            if os.environ.get("XVELM_MUTATE_FILTER"):
                argv.append("--gtest_filter=" + os.environ["XVELM_MUTATE_FILTER"])
            proc = subprocess.run(argv,
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                  text=True, errors="replace", timeout=timeout,
                                  start_new_session=True)
        except subprocess.TimeoutExpired:
            return f"{name}: timed out"
        if proc.returncode != 0:
            failed = re.findall(r"\[  FAILED  \] (\S+)", proc.stdout)
            log.write(proc.stdout[-3000:])
            what = failed[0] if failed else f"exit {proc.returncode}"
            return f"{name}: {what}"
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("folder")
    parser.add_argument("--build-dir", default=os.path.join(ROOT, "build-mut"))
    parser.add_argument("--only", help="comma-separated mutant ids")
    parser.add_argument("--timeout", type=int, default=300, help="seconds per test program")
    parser.add_argument("--list", action="store_true", help="check and print the list only")
    args = parser.parse_args()

    tests, mutants = read_list(args.folder)
    restore_leftovers(mutants)
    for m in mutants:
        with open(os.path.join(ROOT, m.path), encoding="utf-8") as f:
            count = f.read().count(m.old)
        if count != 1:
            sys.exit(f"{m.ident}: old text occurs {count} times in {m.path}")
    if args.only:
        wanted = set(args.only.split(","))
        mutants = [m for m in mutants if m.ident in wanted]
    if args.list:
        for m in mutants:
            print(f"{m.ident:6} {m.path}: {m.note}")
        return 0

    # Ctrl-C and termination unwind through the finally below, which puts the file back.
    def stop(signum, frame):
        raise KeyboardInterrupt
    signal.signal(signal.SIGTERM, stop)

    log_path = os.path.join(args.build_dir, f"mutate-{args.folder}.log")
    killed, survived, stillborn = [], [], []
    # The test programs are built too: a mutated header reaches code they inline.
    targets = list(dict.fromkeys(m.target for m in mutants)) + tests
    if not build(args.build_dir, targets, sys.stdout):
        sys.exit("the unmutated tree does not build")
    with open(log_path, "w", encoding="utf-8") as log:
        reason = run_tests(args.build_dir, tests, args.timeout, log)
        if reason:
            sys.exit(f"the unmutated tree fails its tests ({reason}); see {log_path}")
        try:
            for k, m in enumerate(mutants):
                full = os.path.join(ROOT, m.path)
                with open(full, encoding="utf-8") as f:
                    original = f.read()
                shutil.copy2(full, full + BACKUP_SUFFIX)
                started = time.time()
                needed = [m.target]
                try:
                    with open(full, "w", encoding="utf-8") as f:
                        f.write(original.replace(m.old, m.new, 1))
                    log.write(f"\n=== {m.ident} {m.path}: {m.note}\n")
                    # Only a header reaches the test programs' own code.
                    needed = targets if m.path.endswith((".hxx", ".h", ".hpp")) else [m.target]
                    if not build(args.build_dir, needed, log):
                        outcome = "does not build"
                        stillborn.append(m)
                    else:
                        reason = run_tests(args.build_dir, tests, args.timeout, log)
                        if reason:
                            outcome = "killed by " + reason
                            killed.append(m)
                        else:
                            outcome = "SURVIVED"
                            survived.append(m)
                finally:
                    # A fresh time stamp, so the next build compiles the original again.
                    shutil.move(full + BACKUP_SUFFIX, full)
                    os.utime(full, None)
                    # Test programs built with a mutated header are built again now:
                    # the next mutant may rebuild only its library.
                    if needed is targets:
                        build(args.build_dir, targets, log)
                    # A library the next mutant does not build would keep this
                    # mutant in it: built again from the file put back.
                    elif k + 1 < len(mutants) and mutants[k + 1].target != m.target:
                        build(args.build_dir, [m.target], log)
                log.flush()
                print(f"{m.ident:6} {time.time() - started:5.0f}s {outcome:50.50} {m.note}",
                      flush=True)
        except KeyboardInterrupt:
            print("\nstopped; the file is back as it was")
        finally:
            build(args.build_dir, targets, log)

    valid = len(killed) + len(survived)
    rate = 100.0 * len(killed) / valid if valid else 0.0
    print(f"\n{args.folder}: {len(killed)} of {valid} mutants killed ({rate:.0f}%)"
          + (f", {len(stillborn)} did not build" if stillborn else ""))
    for m in survived:
        print(f"  survived {m.ident}: {m.path}: {m.note}")
    for m in stillborn:
        print(f"  did not build {m.ident}: {m.path}: {m.note}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
