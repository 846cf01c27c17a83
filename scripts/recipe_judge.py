#!/usr/bin/env python3
"""Judges every healing recipe over the occt-misc models and damaged variants of them.

Each model (the occt-misc STEP, IGES and BREP samples; --max-bytes caps the damaged runs,
--max-clean-bytes the undamaged ones) is converted to STEP by the driver with every recipe
(`xvelm convert IN OUT --heal NAME`, NAME one of step, iges, proe, v4, v5, ug, vda, ps,
ideas, inventor, standard): the model as it is, and the damage the peer program
(scripts/damage_peer.cpp, as scripts/damage_judge.py uses it) makes of it: vertices moved off
their curves, loose faces, inflated tolerances, faces turned inside out. Open CASCADE reads
each result back without healing and measures it (valid, solids, faces, volume, area)
against the undamaged model.

A run is a fault when the driver crashes or runs out of time; when it reports success with a
result Open CASCADE finds invalid; when a closed model loses a solid or any face it had; or
when area or volume move by more than 1e-4 (1e-6 for models of lines, circles and analytic
surfaces only is reported beside it) without a warning on the error stream. A damaged file
that Open CASCADE itself reads with other measures than the undamaged model (a vertex moved
off its curves trims the edges there anew) is also measured as given: a result within the
bound of that is counted "as-given" (the recipe kept what it was handed; it cannot know what
the damage took) and is no fault; so is a result within the bound of the undamaged model
as the peer wrote it to STEP (a model the format cannot carry whole, or whose loose faces
read back as no solid). Loose faces of solids that touch along edges sew into one
closed shell: fewer solids with every face and the volume kept are counted "solids-joined",
no fault. A refusal ("failed") of an input Open CASCADE reads valid (the model itself when
undamaged, the damaged file as given otherwise) is also counted and marked "false-refusal";
one of an input it reads invalid is marked "input-invalid". Prints one table per recipe (damage by damage) and the
faults, model by model.

Usage: python3 scripts/recipe_judge.py [--build build] [--jobs 2] [--recipes step,ug]
       [--damages clean,vertex-1e-4] [--models screw,face1] [--max-bytes 400000]
       [--max-clean-bytes 4000000] [--min-bytes 0] [--frames identity] [--timeout 300] [--work DIR]
       [--no-build]
"""
import argparse
import collections
import concurrent.futures
import os
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import damage_judge  # noqa: E402  (the model list, runs and JSON lines are shared)

RECIPES = ["step", "iges", "proe", "v4", "v5", "ug", "vda", "ps", "ideas", "inventor", "standard"]
DAMAGES = ["clean", "vertex-1e-4", "vertex-1e-3", "loose-faces", "tolerances", "tol-x100", "faces-reversed"]
BOUND = 1e-4
EXACT_BOUND = 1e-6


def convert(xvelm, peer, src, out, recipe, timeout):
    if os.path.exists(out):
        os.remove(out)
    status, stdout, stderr = damage_judge.run([xvelm, "convert", src, out, "--heal", recipe], timeout)
    if status != "timeout" and status < 0:
        status = "signal %d" % -status
    measures = None
    if status == 0 and os.path.exists(out):
        code, judged, _ = damage_judge.run([peer, "judge", out], timeout)
        measures = (damage_judge.last_json(judged) or {}).get("measures") if code == 0 else None
    if os.path.exists(out):
        os.remove(out)
    warnings = [l for l in stderr.splitlines() if "warning" in l.lower()]
    message = stderr.strip().splitlines()[-1] if status != 0 and stderr.strip() else ""
    # The driver's line names the input and the output; what went wrong follows them.
    message = message.split(" failed: ", 1)[-1].replace(out + ": ", "")
    return {"status": status, "measures": measures, "warnings": warnings, "message": message}


def measure_error(ref, m, closed):
    worst = damage_judge.error(m["area"], ref["area"])
    if closed and m["solids"] >= ref["solids"]:
        worst = max(worst, damage_judge.error(m["volume"], ref["volume"]))
    return worst


def refusal_kind(input_measures):
    """What a refusal refused, as Open CASCADE reads the input: "false-refusal" when it reads it
    valid, "input-invalid" when it reads it but not valid, "input-unread" when it cannot read it."""
    if not input_measures or not input_measures.get("read"):
        return "input-unread"
    return "false-refusal" if input_measures.get("valid") else "input-invalid"


def faults(ref, r, given=None, source=None):
    """The kinds of fault of one run (empty: sound), and whether it stays within 1e-6.
    `given`: Open CASCADE's measures of the input file, and of the undamaged model as
    written to the same format, when they are not the model's. `source`: Open CASCADE's
    measures of the input file itself (a refusal of an input it reads valid is a false refusal)."""
    status, m = r["status"], r["measures"]
    if status == "timeout":
        return ["timeout"], False
    if isinstance(status, str):
        return ["crash"], False
    if status != 0:
        return ["failed", refusal_kind(source)], False
    if m is None or not m.get("read"):
        return ["unreadable"], False
    kinds = []
    if not m["valid"]:
        kinds.append("invalid")
    closed = ref["solids"] > 0
    # Solids that touch along edges, handed over as loose faces, are sewn
    # into one closed shell: every face and the whole volume kept is no loss.
    joined = (closed and 0 < m["solids"] < ref["solids"] and m["faces"] >= ref["faces"]
              and damage_judge.error(m["volume"], ref["volume"]) <= BOUND)
    if joined:
        kinds.append("solids-joined")
    elif closed and m["solids"] < ref["solids"]:
        kinds.append("solid-lost")
    if m["faces"] < ref["faces"]:
        kinds.append("face-lost")
    worst = measure_error(ref, m, closed)
    if joined:
        worst = max(worst, damage_judge.error(m["volume"], ref["volume"]))
    if worst > BOUND and any(g and g.get("read") and measure_error(g, m, closed) <= BOUND for g in given or []):
        kinds.append("as-given")
    elif worst > BOUND:
        kinds.append("measure" + ("(warned)" if r["warnings"] else ""))
    return kinds, worst <= EXACT_BOUND


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(damage_judge.ROOT, "build"))
    parser.add_argument("--max-bytes", type=int, default=400000)
    parser.add_argument("--max-clean-bytes", type=int, default=4000000)
    parser.add_argument("--min-bytes", type=int, default=0)
    parser.add_argument("--models", default="")
    parser.add_argument("--recipes", default=",".join(RECIPES))
    parser.add_argument("--damages", default=",".join(DAMAGES))
    parser.add_argument("--frames", default="identity")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--timeout", type=int, default=300)
    parser.add_argument("--work", default="", help="the folder of the damaged files and results (made afresh); "
                        "two runs at once need one each (default: BUILD/recipe-judge)")
    parser.add_argument("--no-build", action="store_true",
                        help="use the programs as built: a second run beside one already going from the same "
                        "build folder must not relink the library under it")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    xvelm, peer = damage_judge.programs(build, "recipe_judge", args.jobs, make=not args.no_build)
    work = os.path.abspath(args.work) if args.work else os.path.join(build, "recipe-judge")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    recipes = args.recipes.split(",")
    damages = args.damages.split(",")
    frames = args.frames.split(",")
    models = damage_judge.sample_files(args.max_clean_bytes)
    models = [p for p in models if os.path.getsize(p) >= args.min_bytes]
    models.sort(key=os.path.getsize)
    if args.models:
        wanted = args.models.split(",")
        # A name with its extension (hammer.iges) picks that file alone.
        models = [p for p in models
                  if os.path.splitext(os.path.basename(p))[0] in wanted or os.path.basename(p) in wanted]

    # table[recipe][damage] = Counter of outcomes; found = the faults, listed
    table = {r: collections.defaultdict(collections.Counter) for r in recipes}
    by_model = {r: collections.defaultdict(collections.Counter) for r in recipes}
    found = []
    models_done = 0
    try:
        for model in models:
            name = os.path.splitext(os.path.basename(model))[0]
            kind = os.path.splitext(model)[1][1:].lower()
            folder = os.path.join(work, name + "-" + kind)
            os.makedirs(folder, exist_ok=True)
            damaged = os.path.getsize(model) <= args.max_bytes and damages != ["clean"]
            code, out, _ = damage_judge.run([peer, "damage" if damaged else "place", model]
                                            + ([folder] if damaged else ["identity", "-"]), args.timeout * 4)
            lines = [damage_judge.json.loads(l) for l in out.splitlines() if l.startswith("{")]
            if code != 0 or not lines:
                print("%s: the peer could not read it (%s)" % (name, code))
                continue
            ref = lines[0]["original"]["measures"] if damaged else lines[0].get("measures", lines[0])
            cases = []
            if "clean" in damages:
                cases.append(("clean", "identity", model))
            if damaged:
                for c in lines[1:]:
                    if c["damage"] in damages and c["damage"] != "clean" and c["frame"] in frames and c.get("step"):
                        cases.append((c["damage"], c["frame"], c["case"] + ".step"))
            # Open CASCADE's own reading of each damaged file.
            # The undamaged model as the peer wrote it: what the file format
            # itself carries of it (a writer may lose what the model held).
            given = {}
            carried = {}
            for frame in frames:
                written = os.path.join(folder, "clean-%s.step" % frame)
                if damaged and os.path.exists(written):
                    code, judged, _ = damage_judge.run([peer, "judge", written], args.timeout)
                    carried[frame] = (damage_judge.last_json(judged) or {}).get("measures") if code == 0 else None
            for (d, f, src) in cases:
                if d != "clean":
                    code, judged, _ = damage_judge.run([peer, "judge", src], args.timeout)
                    given[src] = [(damage_judge.last_json(judged) or {}).get("measures") if code == 0 else None,
                                  carried.get(f)]
            jobs = [(d, f, src, r) for (d, f, src) in cases for r in recipes]
            with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, args.jobs)) as pool:
                results = list(pool.map(
                    lambda j: convert(xvelm, peer, j[2],
                                      os.path.join(folder, "%s-%s-%s.step" % (j[0], j[1], j[3])), j[3], args.timeout),
                    jobs))
            print("== %s.%s (%d bytes): %d solids, %d faces, volume %.6g, area %.6g"
                  % (name, kind, os.path.getsize(model), ref["solids"], ref["faces"], ref["volume"], ref["area"]))
            for (d, f, src, r), res in zip(jobs, results):
                # Open CASCADE's reading of the input: the model's own measures when undamaged.
                source = ref if d == "clean" else (given.get(src) or [None])[0]
                kinds, exact = faults(ref, res, given.get(src), source)
                for cell in (table[r][d], by_model[r][name + "." + kind]):
                    cell["runs"] += 1
                    cell["exact"] += 1 if exact else 0
                    for k in kinds:
                        cell[k.split("(")[0]] += 1
                        if k == "measure(warned)":
                            cell["warned"] += 1
                if [k for k in kinds if k not in ("measure(warned)", "as-given", "solids-joined", "input-invalid",
                                                  "input-unread", "false-refusal")]:
                    m = res["measures"]
                    what = ",".join(kinds)
                    if m and m.get("read"):
                        what += " (%s %d/%d faces %d/%d dV %.1e dA %.1e)" % (
                            "valid" if m["valid"] else "INVALID", m["solids"], ref["solids"], m["faces"], ref["faces"],
                            damage_judge.error(m["volume"], ref["volume"]), damage_judge.error(m["area"], ref["area"]))
                    elif res["message"]:
                        what += " (" + res["message"][:120] + ")"
                    found.append((r, name + "." + kind, d, f, what))
                    print("  %-9s %-15s %-8s %s" % (r, d, f, what))
                sys.stdout.flush()
            models_done += 1
    except KeyboardInterrupt:
        # Interrupted (SIGINT): the tables of the models judged so far.
        print("\n== interrupted: %d of %d models judged" % (models_done, len(models)))

    columns = ["runs", "exact", "crash", "timeout", "failed", "false-refusal", "unreadable", "invalid", "solid-lost", "face-lost",
               "measure", "warned", "as-given", "solids-joined"]
    for r in recipes:
        print("\n== recipe %s" % r)
        print("%-15s " % "damage" + " ".join("%*s" % (max(10, len(c)), c) for c in columns))
        total = collections.Counter()
        for d in damages:
            cell = table[r][d]
            total.update(cell)
            print("%-15s " % d + " ".join("%*d" % (max(10, len(c)), cell[c]) for c in columns))
        print("%-15s " % "all" + " ".join("%*d" % (max(10, len(c)), total[c]) for c in columns))
        print("%-32s " % "model" + " ".join("%*s" % (max(10, len(c)), c) for c in columns))
        for model in by_model[r]:
            print("%-32s " % model + " ".join("%*d" % (max(10, len(c)), by_model[r][model][c]) for c in columns))
    print("\n== %d faults, %d of them refusals of an input Open CASCADE reads valid"
          % (len(found), sum(1 for f in found if "false-refusal" in f[4])))


if __name__ == "__main__":
    main()
