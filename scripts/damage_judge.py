#!/usr/bin/env python3
"""Judges the driver's conversion of damaged real models beside Open CASCADE's own healing.

Each model (the occt-misc samples up to --max-bytes, and the repository's examples) is
damaged by the peer program (scripts/damage_peer.cpp, built on request): vertices moved off
their curves by 1e-5, 1e-4, 1e-3 and 1e-2 of the model's size, the shells exploded into loose
faces, tolerances inflated to 1e-2..1e-1 of the size ("tolerances") or multiplied by 10, 100 and
1000 ("tol-x10"...), and the model as it was ("clean"), each damage made once and placed under
the identity, a rotated and a mirrored placement (the same damage in every frame), written as
STEP and as IGES. The driver
converts each file to STEP (`xvelm convert`, the source format picking the healing recipe);
the peer heals the same file its own way (its reader, sewing where faces are loose, solids of
closed shells, ShapeFix_Shape) and writes STEP too. Both results are read back by Open
CASCADE without healing and judged: readable, valid (BRepCheck_Analyzer), solids, shells,
faces, and volume and area against the undamaged original.

A case is lost when the driver reports success with a result that is not valid, when the
peer's result is valid and closed (the original's solids) and ours is not (or the driver
failed), when we keep fewer faces than the peer, or when our volume or area is off by more
than 1e-3 where the peer's is not. Prints a table per model and a summary of the losses.

Usage: python3 scripts/damage_judge.py [--build build] [--max-bytes 60000] [--models a,b]
       [--damages clean,vertex-1e-3,...] [--frames identity,...] [--formats step,iges]
       [--jobs 1] [--timeout 300]
"""
import argparse
import collections
import concurrent.futures
import json
import os
import shutil
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SAMPLES = "/usr/share/opencascade/data"
CAD_EXTENSIONS = (".step", ".stp", ".iges", ".igs", ".brep")
TOLERANCE = 1e-3


def programs(build, who, jobs=None, make=True):
    """The driver and the peer of a build folder, built first (they are built on request only)
    unless `make` is false: a build relinks the library under any run already going from that folder."""
    xvelm = os.path.join(build, "tools", "xvelm", "xvelm")
    peer = os.path.join(build, "tests", "damage_peer")
    command = ["cmake", "--build", build, "--target", "xvelm", "damage_peer"]
    if make:
        subprocess.run(command + (["-j", str(jobs)] if jobs else []), capture_output=True)
    for program in (xvelm, peer):
        if not os.path.exists(program):
            sys.exit("%s: %s is not built" % (who, program))
    return xvelm, peer


def run(args, timeout):
    try:
        p = subprocess.run(args, capture_output=True, text=True, timeout=timeout)
        return p.returncode, p.stdout, p.stderr
    except subprocess.TimeoutExpired:
        return "timeout", "", ""


def last_json(text):
    for line in reversed(text.splitlines()):
        line = line.strip()
        if line.startswith("{"):
            try:
                return json.loads(line)
            except ValueError:
                return None
    return None


def sample_files(max_bytes):
    """The sample models of CAD formats up to max_bytes."""
    found = []
    for folder, _, files in os.walk(SAMPLES):
        for name in files:
            path = os.path.join(folder, name)
            if name.lower().endswith(CAD_EXTENSIONS) and os.path.getsize(path) <= max_bytes:
                found.append(path)
    return found


def models(args, work, xvelm):
    found = sample_files(args.max_bytes)
    examples = os.path.join(ROOT, "examples")
    for name in sorted(os.listdir(examples)):
        path = os.path.join(examples, name)
        if name.lower().endswith(CAD_EXTENSIONS):
            found.append(path)
        elif name.endswith(".vlt"):
            # A save file comes to the peer as a BREP file of what the kernel holds.
            brep = os.path.join(work, "examples", name[:-4] + ".brep")
            os.makedirs(os.path.dirname(brep), exist_ok=True)
            if run([xvelm, "convert", path, brep], args.timeout)[0] == 0:
                found.append(brep)
    found.sort(key=os.path.getsize)
    if args.models:
        wanted = args.models.split(",")
        found = [p for p in found if os.path.splitext(os.path.basename(p))[0] in wanted]
    return found


def error(value, reference):
    if reference == 0:
        return abs(value)
    return abs(value - reference) / abs(reference)


def verdict(ref, status, ours, peer):
    """The kinds of loss of one case (empty: not lost)."""
    losses = []
    ours_ok = status == 0 and ours is not None and ours["read"]
    peer_ok = peer is not None and peer["read"] and peer["valid"]
    if status == 0 and not (ours_ok and ours["valid"]):
        losses.append("success-invalid" + ("" if peer_ok else "(peer-too)"))
    closed = ref["solids"] > 0
    peer_closed = peer_ok and closed and peer["solids"] >= ref["solids"]
    ours_closed = ours_ok and ours["valid"] and ours["solids"] >= ref["solids"]
    if peer_closed and not ours_closed:
        losses.append("not-closed" if status == 0 else "failed")
    elif peer_ok and status != 0:
        losses.append("failed")
    if ours_ok and peer_ok and ours["faces"] < peer["faces"] and ours["faces"] < ref["faces"]:
        losses.append("lost-faces")
    if ours_ok and peer_ok:
        for key in ("volume", "area"):
            if key == "volume" and not (closed and ours_closed):
                continue
            if error(ours[key], ref[key]) > TOLERANCE and error(peer[key], ref[key]) <= TOLERANCE:
                losses.append(key)
    return losses


def judge_case(args, xvelm, peer, case, fmt):
    src = case["case"] + (".step" if fmt == "step" else ".igs")
    ours_out = case["case"] + "-" + fmt + "-ours.step"
    peer_out = case["case"] + "-" + fmt + "-peer.step"
    for stale in (ours_out, peer_out):
        if os.path.exists(stale):
            os.remove(stale)
    status, _, err = run([xvelm, "convert", src, ours_out], args.timeout)
    ours = None
    if os.path.exists(ours_out):
        code, out, _ = run([peer, "judge", ours_out], args.timeout)
        ours = (last_json(out) or {}).get("measures") if code == 0 else None
    code, out, _ = run([peer, "heal", src, peer_out], args.timeout)
    healed = last_json(out) if code == 0 else None
    return {"status": status, "message": err.strip().splitlines()[-1] if err.strip() else "",
            "ours": ours, "peer": healed.get("measures") if healed else None}


def cell(status, m, ref):
    if m is None or not m["read"]:
        return "%-8s %-5s %-9s %-8s %-8s" % ("exit " + str(status), "-", "-", "-", "-")
    dv = "%.0e" % error(m["volume"], ref["volume"]) if ref["solids"] > 0 else "-"
    return "%-8s %-5s %-9s %-8s %-8s" % ("exit " + str(status), "yes" if m["valid"] else "NO",
                                       "%d/%d/%d" % (m["solids"], m["shells"], m["faces"]), dv,
                                       "%.0e" % error(m["area"], ref["area"]))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--max-bytes", type=int, default=60000)
    parser.add_argument("--models", default="", help="model names (file name without extension)")
    parser.add_argument("--damages", default="")
    parser.add_argument("--frames", default="")
    parser.add_argument("--formats", default="step,iges")
    parser.add_argument("--jobs", type=int, default=1)
    parser.add_argument("--timeout", type=int, default=300)
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    xvelm, peer = programs(build, "damage_judge")
    work = os.path.join(build, "damage")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    damages = set(args.damages.split(",")) if args.damages else None
    frames = set(args.frames.split(",")) if args.frames else None
    formats = args.formats.split(",")
    summary = collections.Counter()
    by_damage = collections.Counter()
    cases_run = 0
    for model in models(args, work, xvelm):
        name = os.path.splitext(os.path.basename(model))[0]
        folder = os.path.join(work, name)
        os.makedirs(folder, exist_ok=True)
        code, out, _ = run([peer, "damage", model, folder], args.timeout * 4)
        lines = [json.loads(l) for l in out.splitlines() if l.startswith("{")]
        if code != 0 or not lines or "original" not in lines[0]:
            print("%s: the peer could not damage it (%s)" % (name, code))
            continue
        ref = lines[0]["original"]["measures"]
        cases = [c for c in lines[1:] if (damages is None or c["damage"] in damages)
                 and (frames is None or c["frame"] in frames)]
        print("\n== %s (%d bytes): %s, %d solids, %d shells, %d faces, volume %.6g, area %.6g"
              % (name, os.path.getsize(model), "valid" if ref["valid"] else "INVALID", ref["solids"],
                 ref["shells"], ref["faces"], ref["volume"], ref["area"]))
        print("%-12s %-8s %-4s | %-8s %-5s %-9s %-8s %-8s | %-8s %-5s %-9s %-8s %-8s | %s"
              % ("damage", "frame", "fmt", "ours", "valid", "so/sh/fa", "dV", "dA", "peer", "valid",
                 "so/sh/fa", "dV", "dA", "lost"))
        jobs = [(c, f) for c in cases for f in formats if c.get(f)]
        with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, args.jobs)) as pool:
            results = list(pool.map(lambda job: judge_case(args, xvelm, peer, *job), jobs))
        for (case, fmt), r in zip(jobs, results):
            losses = verdict(ref, r["status"], r["ours"], r["peer"])
            cases_run += 1
            for loss in losses:
                summary[loss] += 1
            if losses:
                by_damage[case["damage"]] += 1
            print("%-12s %-8s %-4s | %s | %s | %s%s"
                  % (case["damage"], case["frame"], fmt, cell(r["status"], r["ours"], ref),
                     cell(0, r["peer"], ref), ",".join(losses) or "-",
                     ("  (" + r["message"][:100] + ")") if r["status"] != 0 and r["message"] else ""))
            sys.stdout.flush()
    lost = sum(by_damage.values())
    print("\n== summary: %d cases, %d lost" % (cases_run, lost))
    for kind, count in sorted(summary.items()):
        print("  %-16s %d" % (kind, count))
    for damage, count in sorted(by_damage.items()):
        print("  lost under %-12s %d" % (damage, count))


if __name__ == "__main__":
    main()
