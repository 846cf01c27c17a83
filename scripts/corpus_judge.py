#!/usr/bin/env python3
"""Runs every occt-misc sample, whole and clean, through every road of the driver.

Each sample (STEP, IGES, BREP) is placed by the peer (scripts/damage_peer.cpp) under the
identity (the file itself), a rotated and a mirrored placement, written in its own kind,
and taken through the driver: `xvelm convert` into STEP, IGES, BREP, a neutral document
and a kernel save file; the save file through `info`, `export` and `convert` into every
other kind; the neutral document through `import` and `convert` into every other kind.
Every run is a fresh process with a time and a memory limit.

Each output is judged as a strict reader would: a STEP, IGES or BREP file is read by Open
CASCADE (STEP without its reader's healing) and checked by its analyser; solids stay solids
with the same volume and area within 1e-3 relative (sheets the same area) and the same
count of faces; a save file is read back by `xvelm info` (its face count); a neutral
document by its face count and by the roads that go on from it. The product names of a
STEP sample are looked for in every output that carries names. A run that ends on a
signal, a sanitizer report, the time or memory limit, or exit status 1 or 2 is a failure, but
for a clean refusal (status 1, nothing written) of a source the peer finds invalid, which is
counted apart.
The cost of a road (processor time and peak resident size) is set beside the peer's own
read and write of the same file into the same kind of output.

Usage: python3 scripts/corpus_judge.py [--build build] [--models a,b] [--max-bytes N]
       [--frames identity,rotated,mirrored] [--frame-max-bytes N] [--roads ...]
       [--jobs 1] [--timeout 900] [--memory-mb 12000] [--json FILE]
`--build build-asan` judges the sanitizer build's driver (leaks and sanitizer reports fail a
run); the peer is always the plain build's.
A road is named SOURCE>OUTPUT (`src>step`, `vlt>iges`, `json>vlt`...) or by its verb on
the source's derived file (`vlt:info`, `vlt:export`, `json:import`).
"""
import argparse
import collections
import concurrent.futures
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import threading
import time

from damage_judge import TOLERANCE, error, last_json, sample_files
import fuzz
from fuzz import SANITIZER_MARKS, first_own_frame

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FRAMES = ("identity", "rotated", "mirrored")
KINDS = ("step", "iges", "brep", "json", "vlt")
PEER_EXT = {"step": ".step", "iges": ".igs", "brep": ".brep"}

# Roads in the order they run: a road from the save file or the neutral document needs
# the source's own conversion into it first.
ROADS = (["src>" + k for k in KINDS] + ["vlt:info", "vlt:export"] +
         ["vlt>" + k for k in KINDS if k != "vlt"] + ["json:import"] +
         ["json>" + k for k in KINDS if k != "json"])


def kind_of(path):
    return fuzz.kind_of(path)[1:]


class Runner(fuzz.Runner):
    """Fresh processes with the fuzzer's limits, their processor time and peak resident size."""

    def measured(self, argv, folder):
        """{status (None: time-out), out, err, cpu seconds, peak MB}."""
        out_path, err_path = os.path.join(folder, ".out"), os.path.join(folder, ".err")
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            proc = subprocess.Popen(argv, cwd=folder, env=self.env, stdin=subprocess.DEVNULL, stdout=out,
                                    stderr=err, preexec_fn=self._limits)
        timed_out = []

        def kill():
            timed_out.append(True)
            try:
                os.killpg(proc.pid, signal.SIGKILL)
            except OSError:
                pass
        timer = threading.Timer(self.timeout, kill)
        timer.start()
        _, code, usage = os.wait4(proc.pid, 0)
        timer.cancel()
        proc.returncode = code
        status = None if timed_out else os.waitstatus_to_exitcode(code)
        with open(out_path, errors="replace") as f:
            out = f.read()
        with open(err_path, errors="replace") as f:
            err = f.read()
        os.remove(out_path)
        os.remove(err_path)
        return {"status": status, "out": out, "err": err, "cpu": usage.ru_utime + usage.ru_stime,
                "mb": usage.ru_maxrss / 1024.0}


def step_names(path):
    """The product names of a STEP file."""
    names = set()
    with open(path, errors="replace") as f:
        for m in re.finditer(r"PRODUCT\s*\(\s*'((?:[^']|'')*)'", f.read()):
            if m.group(1):
                names.add(m.group(1))
    return names


def names_kept(names, path, kind, info_out):
    """The names of `names` an output has lost (a save file by its `xvelm info`)."""
    if kind == "step":
        return names - step_names(path)
    if kind == "json":
        with open(path, errors="replace") as f:
            text = f.read()
        return {n for n in names if json.dumps(n)[1:-1] not in text}
    return {n for n in names if n not in info_out}


def info_faces(out):
    """The faces `xvelm info` counts, over all bodies."""
    return sum(int(m) for m in re.findall(r"faces (\d+)", out))


def summary_faces(out):
    m = re.search(r"(\d+) faces?\b", out)
    return int(m.group(1)) if m else None


def failure(result):
    """Why a run failed, or None."""
    err = result["err"]
    if result["status"] is None:
        return "hang"
    if any(mark in err for mark in SANITIZER_MARKS):
        kind = "leak" if "LeakSanitizer" in err else "sanitizer"
        return "%s %s" % (kind, first_own_frame(err))
    if result["status"] != 0:
        lines = [l for l in err.splitlines() if l.strip()]
        if result["status"] < 0 or result["status"] > 2:
            return "crash %d %s" % (result["status"], lines[-1][:80] if lines else "")
        return "exit %d: %s" % (result["status"], lines[-1][-140:] if lines else "")
    return None


def compare(ref, m):
    """What differs between a peer measure of an output and the placed source's."""
    if m is None or not m["read"]:
        return ["unreadable"]
    bad = []
    if not m["valid"]:
        bad.append("invalid")
    if m["solids"] != ref["solids"]:
        bad.append("solids %d/%d" % (m["solids"], ref["solids"]))
    if m["faces"] != ref["faces"]:
        bad.append("faces %d/%d" % (m["faces"], ref["faces"]))
    if ref["solids"] > 0 and error(m["volume"], ref["volume"]) > TOLERANCE:
        bad.append("dV %.1e" % error(m["volume"], ref["volume"]))
    if error(m["area"], ref["area"]) > TOLERANCE:
        bad.append("dA %.1e" % error(m["area"], ref["area"]))
    return bad


class Case:
    """One sample in one frame: its placed file and the derived files its roads go on from."""

    def __init__(self, args, runner, peer, model, frame):
        self.args, self.runner, self.peer, self.model, self.frame = args, runner, peer, model, frame
        self.name = os.path.splitext(os.path.basename(model))[0]
        self.kind = kind_of(model)
        # hammer.brep and hammer.iges are two samples
        self.folder = os.path.join(args.work, os.path.basename(model), frame)
        shutil.rmtree(self.folder, ignore_errors=True)
        os.makedirs(self.folder)
        self.results = {}
        self.cost = {}

    def place(self):
        """Writes the placed source; returns its peer measures or None."""
        src = os.path.join(self.folder, "sample" + PEER_EXT[self.kind])
        if self.frame == "identity":
            shutil.copyfile(self.model, src)
        r = self.runner.measured([self.peer, "place", self.model, self.frame,
                             "-" if self.frame == "identity" else src], self.folder)
        line = last_json(r["out"])
        if r["status"] != 0 or not line or "measures" not in line:
            return None
        self.src = src
        self.ref = line["measures"]
        self.names = step_names(src) if self.kind == "step" and self.frame == "identity" else set()
        return self.ref

    def peer_cost(self, out_kind):
        """The peer's read of the source and write of `out_kind`: (cpu, mb) or None."""
        if out_kind not in PEER_EXT:
            out_kind = self.kind
        if out_kind not in self.cost:
            out = os.path.join(self.folder, "peer-copy" + PEER_EXT[out_kind])
            r = self.runner.measured([self.peer, "copy", self.src, out], self.folder)
            self.cost[out_kind] = (r["cpu"], r["mb"]) if r["status"] == 0 else None
            if os.path.exists(out):
                os.remove(out)
        return self.cost[out_kind]

    def road(self, road):
        if ":" in road:
            source, verb = road.split(":")
            out_kind = {"info": None, "export": "json", "import": "vlt"}[verb]
        else:
            source, out_kind = road.split(">")
            verb = "convert"
        infile = self.src if source == "src" else os.path.join(self.folder, "src." + source)
        if source != "src" and not self.results.get("src>" + source, {}).get("ok"):
            return {"road": road, "ok": False, "why": ["no input (src>%s failed)" % source], "skipped": True}
        # The source's own conversions keep their output, which the other roads go on from.
        out = None
        if out_kind:
            out = os.path.join(self.folder, ("src." if source == "src" else source + "-to.") + out_kind)
            if verb != "convert":
                out = os.path.join(self.folder, source + "-" + verb + "." + out_kind)
            if os.path.exists(out):
                os.remove(out)
        argv = [self.runner.xvelm, verb, infile] + ([out] if out else [])
        r = self.runner.measured(argv, self.folder)
        why = []
        fail = failure(r)
        if fail:
            why.append(fail)
        if "warning" in r["err"]:
            why.append("warned: " + "; ".join(l[:100] for l in r["err"].splitlines() if "warning" in l)[:200])
        result = {"road": road, "cpu": r["cpu"], "mb": r["mb"], "status": r["status"]}
        if not fail:
            why += self.judge_output(verb, out_kind, out, r)
        if source == "src":
            cost = self.peer_cost(out_kind)
            if cost:
                result["peer_cpu"], result["peer_mb"] = cost
        # A source the peer finds invalid may be refused by a writer: refused cleanly (exit
        # status 1, nothing written), that is its answer, not a failure.
        if (fail and not self.ref["valid"] and r["status"] == 1 and "nothing written" in r["err"]
                and not (out and os.path.exists(out))):
            result["refused"] = True
            why = ["refused (the source is not valid)"]
            fail = None
        result["why"] = why
        result["ok"] = not fail and not [w for w in why if not w.startswith("warned")]
        self.results[road] = result
        # Outputs nothing goes on from are removed, so that large samples leave little.
        if out and os.path.exists(out) and not (source == "src" and out_kind in ("vlt", "json")):
            os.remove(out)
        return result

    def judge_output(self, verb, out_kind, out, r):
        why = []
        if verb == "info":
            faces = info_faces(r["out"])
            if faces != self.ref["faces"]:
                why.append("faces %d/%d" % (faces, self.ref["faces"]))
            return why + self.check_names("vlt", None, r["out"])
        if not os.path.exists(out):
            return ["no output"]
        if out_kind in PEER_EXT:
            p = self.runner.measured([self.peer, "judge", out], self.folder)
            line = last_json(p["out"]) if p["status"] == 0 else None
            if line is None:
                return ["peer failed (%s)" % p["status"]]
            why += compare(self.ref, line["measures"])
        elif out_kind == "vlt":
            i = self.runner.measured([self.runner.xvelm, "info", out], self.folder)
            if i["status"] != 0:
                return ["info of the output: " + (failure(i) or "")]
            faces = info_faces(i["out"])
            if faces != self.ref["faces"]:
                why.append("faces %d/%d" % (faces, self.ref["faces"]))
            why += self.check_names("vlt", out, i["out"])
        else:
            faces = summary_faces(r["out"])
            if faces is not None and faces != self.ref["faces"]:
                why.append("faces %d/%d" % (faces, self.ref["faces"]))
        if out_kind in ("step", "json"):
            why += self.check_names(out_kind, out, "")
        return why

    def check_names(self, kind, path, info_out):
        lost = names_kept(self.names, path, kind, info_out) if self.names else set()
        return ["names lost: " + ",".join(sorted(lost))[:80]] if lost else []


def samples(args):
    found = sample_files(args.max_bytes)
    found.sort(key=os.path.getsize)
    if args.models:
        wanted = args.models.split(",")
        found = [p for p in found if os.path.splitext(os.path.basename(p))[0] in wanted]
    return found


def run_case(args, runner, peer, model, frame, roads):
    case = Case(args, runner, peer, model, frame)
    if case.place() is None:
        return case, None
    for road in roads:
        case.road(road)
    if not args.keep:
        shutil.rmtree(case.folder, ignore_errors=True)
    return case, case.ref


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--models", default="")
    parser.add_argument("--max-bytes", type=int, default=1 << 30)
    parser.add_argument("--frames", default=",".join(FRAMES))
    parser.add_argument("--frame-max-bytes", type=int, default=1 << 30,
                        help="samples larger than this run under the identity only")
    parser.add_argument("--roads", default=",".join(ROADS))
    parser.add_argument("--jobs", type=int, default=1)
    parser.add_argument("--timeout", type=int, default=900)
    parser.add_argument("--memory-mb", type=int, default=12000)
    parser.add_argument("--json", default="", help="writes every result to this file")
    parser.add_argument("--keep", action="store_true", help="keeps each case's folder")
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    args.work = os.path.join(args.build, "corpus")
    runner = Runner(args)
    # The peer is the plain build's, whichever build is judged (it measures, it is not measured).
    peer_build = os.path.join(ROOT, "build")
    peer = os.path.join(peer_build, "tests", "damage_peer")
    subprocess.run(["cmake", "--build", args.build, "--target", "xvelm"], capture_output=True)
    subprocess.run(["cmake", "--build", peer_build, "--target", "damage_peer"], capture_output=True)
    for program in (runner.xvelm, peer):
        if not os.path.exists(program):
            sys.exit("corpus_judge: %s is not built" % program)
    roads = [r for r in ROADS if r in args.roads.split(",")]
    jobs = [(m, f) for m in samples(args) for f in args.frames.split(",")
            if f == "identity" or os.path.getsize(m) <= args.frame_max_bytes]
    failures = collections.Counter()
    refusals = 0
    records = []
    print("%-28s %-8s | %s" % ("sample", "frame", "roads failed (why)"))
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, args.jobs)) as pool:
        for case, ref in pool.map(lambda job: run_case(args, runner, peer, *job, roads), jobs):
            if ref is None:
                print("%-28s %-8s | the peer could not place it" % (case.name, case.frame))
                continue
            bad = [r for r in case.results.values() if not r["ok"] and not r.get("skipped")]
            refusals += sum(1 for r in case.results.values() if r.get("refused"))
            for r in bad:
                failures[r["road"]] += 1
            print("%-28s %-8s | %d/%d pass %s" % (case.name, case.frame, len(case.results) - len(bad),
                                                 len(case.results), "; ".join(
                                                     "%s (%s)" % (r["road"], ", ".join(r["why"])[:160]) for r in bad)))
            sys.stdout.flush()
            records.append({"sample": case.name, "bytes": os.path.getsize(case.model), "frame": case.frame,
                            "ref": ref, "results": list(case.results.values())})
    print("\n== cost against the peer's read and write (identity; cpu ratio, peak memory ratio)")
    for rec in sorted(records, key=lambda r: -r["bytes"]):
        if rec["frame"] != "identity":
            continue
        cells = []
        for r in rec["results"]:
            if r["road"].startswith("src>") and r.get("peer_cpu") and "cpu" in r:
                cells.append("%s %.1fx/%.1fx" % (r["road"][4:], r["cpu"] / max(r["peer_cpu"], 1e-3),
                                                 r["mb"] / max(r["peer_mb"], 1e-3)))
        print("%-28s %9d B | %s" % (rec["sample"], rec["bytes"], "  ".join(cells)))
    total = sum(len(r["results"]) for r in records)
    print("\n== summary: %d runs, %d failed, %d refused where the source is not valid" %
          (total, sum(failures.values()), refusals))
    for road, count in sorted(failures.items()):
        print("  %-14s %d" % (road, count))
    if args.json:
        with open(args.json, "w") as f:
            json.dump(records, f, indent=1)


if __name__ == "__main__":
    main()
