#!/usr/bin/env python3
"""The roads of every occt-misc sample through the kernel, judged by Open CASCADE.

Per sample (STEP, IGES, BREP) and placement (identity, rotated, mirrored):
- neutral: the peer writes the sample as a neutral document with nothing of ours
  (neutral_peer write), `xvelm import` takes it into a save file, `xvelm export`
  writes that as a neutral document, and the peer rebuilds and judges it
  (neutral_peer judge);
- step>X: the peer writes the placed sample as STEP (damage_peer place), `xvelm
  convert` takes it through the kernel into STEP, IGES and BREP, and the peer reads
  each strictly (damage_peer judge).
With --drop-faces N, each sample of two to N faces is also written as a neutral document
in the identity placement with one face left out at a time (road "neutral-drop"), and
imported: a document of which something could be built must not be refused whole (a
refusal must name the item it could not build).
Each result is counted as valid with the source's solids (largest relative area and
volume gaps beside), a source of loose faces made whole (the solids Open CASCADE's own
sewing makes of the placed source, within 1e-4 of its area and volume), refused naming
the item (exit 1 with a message naming a body, face, edge, product or entity), refused
otherwise, or a fault (written invalid, other solids, a crash or the time limit). A source
Open CASCADE finds invalid (the neutral road takes it as it is) given back with the peer refusing
to rebuild a face the source has invalid counts as refused naming the item.

Usage: python3 scripts/road_table.py [--driver build-bench/tools/xvelm/xvelm]
       [--peers build/tests] [--min-bytes N] [--max-bytes N] [--only NAME...] [--timeout 300] [--json FILE]
       [--drop-faces N]
"""
import argparse
import json
import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from damage_judge import last_json  # noqa: E402

SAMPLES = "/usr/share/opencascade/data"
FRAMES = ("identity", "rotated", "mirrored")
# How near the peer's own sewing of a source of loose faces a road's solids must come to be
# that source made whole.
WHOLE_GAP = 1e-4
NAMING = re.compile(r"\b(body|face|edge|vertex|loop|coedge|product|entity|shell|lump)\b \S")


def run(argv, timeout):
    try:
        p = subprocess.run(argv, capture_output=True, text=True, timeout=timeout)
        return p.returncode, p.stdout, p.stderr
    except subprocess.TimeoutExpired:
        return None, "", "time limit"


def gap(a, b):
    return abs(a - b) / max(abs(b), 1e-300) if b else abs(a)


def measures(j):
    """A peer's measures: damage_peer wraps them in "measures", neutral_peer does not."""
    return j.get("measures", j) if j else j


def judge(source, out, why="", sewn=None):
    """'valid' with the gaps, 'whole' with the gaps where a source of loose faces comes back as
    Open CASCADE's own sewing makes it whole (`sewn`: the peer's measures of that), or 'fault'
    and why (`why`: the peer's own word when it measured nothing)."""
    out = measures(out)
    if out is None:
        return "fault", "not measured" + (": " + why if why else "")
    if not out.get("valid"):
        return "fault", "written invalid"
    if out.get("solids") != source.get("solids"):
        if sewn and sewn.get("valid") and out.get("solids") == sewn.get("solids"):
            gaps = (gap(out.get("area", 0.0), sewn.get("area", 0.0)),
                    gap(out.get("volume", 0.0), sewn.get("volume", 0.0)))
            if max(gaps) <= WHOLE_GAP:
                return "whole", gaps
        return "fault", "%s solids where the source has %s" % (out.get("solids"), source.get("solids"))
    return "valid", (gap(out.get("area", 0.0), source.get("area", 0.0)),
                     gap(out.get("volume", 0.0), source.get("volume", 0.0)))


def refused(code, err):
    if code is None or code >= 2 or code < 0:
        return "fault", err.strip().splitlines()[-1:] or ["status %s" % code]
    line = err.strip().splitlines()[-1] if err.strip() else ""
    return ("refused-named" if NAMING.search(line) else "refused"), line


def judged(code, err, peer, written, source, timeout, sewn=None):
    """The peer's verdict on what the driver wrote (exit `code`), or the driver's refusal."""
    if code != 0:
        return refused(code, err)
    code, out, err = run([peer, "judge", written], timeout)
    lines = err.strip().splitlines()
    if code != 0 and lines and given_back_invalid(source, lines[-1]):
        return "refused-named", "as invalid as the source there: " + lines[-1]
    return judge(source, last_json(out), "peer status %s%s" % (code, ", " + lines[-1] if lines else ""), sewn)


def given_back_invalid(source, refusal):
    """Whether the peer's refusal to rebuild what a road wrote names a face the source itself
    has invalid (the peer lists them numbered from 1 as Open CASCADE's explorer meets them; the
    writers name a body's faces in that order from 0: "body 0: face 3 is not valid"): the road
    gave back what it took, and the refusal names the place."""
    named = re.search(r"\bbody \d+: face (\d+) is not valid", refusal)
    return bool(named) and not source.get("valid", True) and int(named.group(1)) + 1 in source.get("invalid_faces", [])


def dropped(args, neutral_peer, path, k, tmp):
    """The import of the sample less its face `k`: 'imported', a refusal, or a fault (a whole
    refusal where something could be built, a crash, the time limit)."""
    doc, vlt = os.path.join(tmp, "drop.json"), os.path.join(tmp, "drop.vlt")
    code, out, err = run([neutral_peer, "write", path, "identity", doc, str(k)], args.timeout)
    if code != 0:
        return "fault", "the peer wrote nothing: %s" % (err.strip().splitlines()[-1:] or [code])
    code, _, err = run([args.driver, "import", doc, vlt], args.timeout)
    if code == 0:
        return "imported", (0.0, 0.0)
    verdict = refused(code, err)
    if "nothing in it could be imported" in err:
        return "fault", "refused whole: " + verdict[1]
    return verdict


def row(sample, frame, road, verdict):
    return {"sample": sample, "frame": frame, "road": road, "verdict": verdict[0], "detail": verdict[1]}


def samples(max_bytes, min_bytes=0, only=()):
    for sub in ("step", "iges", "occ"):
        d = os.path.join(SAMPLES, sub)
        for name in sorted(os.listdir(d)):
            path = os.path.join(d, name)
            if os.path.splitext(name)[1] in (".step", ".stp", ".iges", ".igs", ".brep") and \
                    min_bytes < os.path.getsize(path) <= max_bytes and (not only or name in only):
                yield path


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--driver", default="build-bench/tools/xvelm/xvelm")
    ap.add_argument("--peers", default="build/tests")
    ap.add_argument("--max-bytes", type=int, default=1 << 40)
    ap.add_argument("--min-bytes", type=int, default=0, help="only samples larger than this")
    ap.add_argument("--only", nargs="*", default=(), help="only the samples of these file names")
    ap.add_argument("--timeout", type=int, default=300)
    ap.add_argument("--json")
    ap.add_argument("--drop-faces", type=int, default=0,
                    help="samples of at most this many faces are also imported with each face left out in turn")
    args = ap.parse_args()
    neutral_peer = os.path.join(args.peers, "neutral_peer")
    damage_peer = os.path.join(args.peers, "damage_peer")
    rows = []
    with tempfile.TemporaryDirectory(prefix="road_table_") as tmp:
        for path in samples(args.max_bytes, args.min_bytes, args.only):
            name = os.path.basename(path)
            for frame in FRAMES:
                doc = os.path.join(tmp, "doc.json")
                code, out, err = run([neutral_peer, "write", path, frame, doc], args.timeout)
                source = last_json(out)
                if code == 0 and source and source.get("faces", 0) > 0:
                    vlt, back = os.path.join(tmp, "in.vlt"), os.path.join(tmp, "back.json")
                    code, _, err = run([args.driver, "import", doc, vlt], args.timeout)
                    if code == 0:
                        code, _, err = run([args.driver, "export", vlt, back], args.timeout)
                    verdict = judged(code, err, neutral_peer, back, source, args.timeout)
                    rows.append(row(name, frame, "neutral", verdict))
                if frame == "identity" and source and 1 < source.get("faces", 0) <= args.drop_faces:
                    for k in range(source["faces"]):
                        rows.append(row(name, "less face %d" % k, "neutral-drop",
                                        dropped(args, neutral_peer, path, k, tmp)))
                step = os.path.join(tmp, "src.step")
                code, out, _ = run([damage_peer, "place", path, frame, step], args.timeout)
                placed = last_json(out)
                source, sewn = measures(placed), (placed or {}).get("sewn")
                if code != 0 or not source or source.get("faces", 0) == 0 or not source.get("valid"):
                    continue
                for ext in (".step", ".igs", ".brep"):
                    target = os.path.join(tmp, "out" + ext)
                    code, _, err = run([args.driver, "convert", step, target], args.timeout)
                    verdict = judged(code, err, damage_peer, target, source, args.timeout, sewn)
                    rows.append(row(name, frame, "step>" + ext[1:], verdict))
                    if os.path.exists(target):
                        os.remove(target)
                print("%s %s done" % (name, frame), file=sys.stderr, flush=True)
    if args.json:
        with open(args.json, "w") as f:
            json.dump(rows, f, indent=1)
    roads = sorted({r["road"] for r in rows})
    print("| road | runs | valid, same solids | loose faces made whole | largest area gap | largest volume gap "
          "| refused naming the item | refused | faults |")
    print("|---|---|---|---|---|---|---|---|---|")
    for road in roads:
        mine = [r for r in rows if r["road"] == road]
        valid = [r for r in mine if r["verdict"] in ("valid", "whole", "imported")]
        count = lambda v: sum(1 for r in mine if r["verdict"] == v)
        print("| %s | %d | %d | %d | %.2g | %.2g | %d | %d | %d |" % (
            road, len(mine), count("valid") + count("imported"), count("whole"), max([r["detail"][0] for r in valid] or [0.0]),
            max([r["detail"][1] for r in valid] or [0.0]), count("refused-named"), count("refused"), count("fault")))
    # Each source of loose faces a road made whole, against the peer's own sewing of it.
    for r in rows:
        if r["verdict"] == "whole":
            print("%s %s %s: loose faces made whole as the peer sews them (area gap %.2g, volume gap %.2g)" % (
                r["sample"], r["frame"], r["road"], r["detail"][0], r["detail"][1]))
    for r in rows:
        if r["verdict"] not in ("valid", "whole", "imported"):
            print("%s %s %s: %s: %s" % (r["sample"], r["frame"], r["road"], r["verdict"], r["detail"]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
