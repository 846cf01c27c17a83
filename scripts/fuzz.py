#!/usr/bin/env python3
"""Fuzzes the driver's readers with damaged files (not run by CI).

Takes seed files (the sample models of Debian's occt-misc up to a size, our
STEP example, small kernel save files from examples/ and the tests' builders,
the samples converted into save files, and neutral documents `xvelm export`
writes of every save file), mutates them (bytes flipped, cut short, lines or
records repeated, dropped or swapped, numbers made huge, negative, NaN or
infinite, references sent out of range or to their own record, counts
inflated; one parameter of a STEP instance or IGES entity given a value of
another type, an absent value, a reference elsewhere or a non-finite number,
or dropped or doubled; a neutral document's reference sent to a missing
record, one of another table or its own, or shared by two owners), and
runs the build's `xvelm` on each (`info`, `roundtrip`, `export`, `import`,
`convert` to every kind) with a time limit and a memory limit.

A run passes when it ends either with exit status 1, exactly one "xvelm: "
line naming the input as the last line of stderr, saying where the input is
damaged (a line, byte, record, field, entity or instance, a directory entry,
a document path, a face or edge by number; or the whole file, as empty or
too large) in the driver's own words (no class name or message of the peer
library), nothing on stdout and no file left beside the input; or with
status 0 and an output the peer finds
valid (Open CASCADE's reading and check for STEP, IGES and BREP, the
framework's reader for a neutral document, `xvelm info` for a save file); a
round trip may also end with status 1 and its differences on stdout (a report,
no failure line, nothing written).
Anything else (a signal, a sanitizer report, a time-out, the memory limit, a
message that says "out of memory" on a small file, a wrong status or output)
is kept under OUT/faults/<kind>-<hash>/ with the command, what it printed and
the input reduced to a small reproducer that fails the same way. At the end
a table of counts (runs, crashes, hangs, sanitizer reports, accepted files the
checker refuses, refusals naming no place) per kind of input is printed and
kept as OUT/counts.md.

Under the sanitizer build the memory limit is the sanitizer's (its shadow
memory takes terabytes of address space, which `ulimit -v` would refuse):
allocations past the limit fail and the resident size is capped; a plain
build runs under `ulimit -v`.

  python3 scripts/fuzz.py                       # 10 minutes over build-asan
  python3 scripts/fuzz.py --minutes 90 --jobs 2 --build build-asan
  python3 scripts/fuzz.py --replay FILE...      # judge given inputs once
"""

import argparse
import concurrent.futures
import hashlib
import json
import math
import os
import random
import re
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SAMPLES = "/usr/share/opencascade/data"
CAD_KINDS = (".step", ".stp", ".iges", ".igs", ".brep")


def kind_of(path):
    ext = os.path.splitext(path)[1].lower()
    if ext in (".stp",):
        return ".step"
    if ext in (".igs",):
        return ".iges"
    return ext


# ---------------------------------------------------------------------------
# Runs of the driver.

class Runner:
    def __init__(self, args):
        self.build = os.path.abspath(args.build)
        self.xvelm = os.path.join(self.build, "tools", "xvelm", "xvelm")
        self.peer = os.path.join(self.build, "tests", "fuzz_peer")
        self.timeout = args.timeout
        self.memory_mb = args.memory_mb
        self.work = args.work
        self.sanitized = self._sanitized()
        self.env = dict(os.environ)
        self.env["UBSAN_OPTIONS"] = "print_stacktrace=1:halt_on_error=1"
        if self.sanitized:
            self.env["ASAN_OPTIONS"] = ("allocator_may_return_null=1:max_allocation_size_mb=%d:"
                                        "hard_rss_limit_mb=%d:detect_leaks=1:abort_on_error=0"
                                        % (self.memory_mb, self.memory_mb))
        self.env.pop("XVELM_JOBS", None)

    def _sanitized(self):
        try:
            out = subprocess.run(["ldd", self.xvelm], capture_output=True, text=True).stdout
        except OSError:
            return False
        return "libasan" in out

    def _limits(self):
        os.setsid()
        if not self.sanitized:
            limit = self.memory_mb * 1024 * 1024
            resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
        resource.setrlimit(resource.RLIMIT_CORE, (0, 0))

    def run(self, argv, cwd, timeout=None, full_stacks=False):
        """(status or None on time-out, stdout, stderr, seconds). With full_stacks every
        allocation records its whole stack (slow), so that the leak suppressions see the
        Open CASCADE library an allocation came through."""
        start = time.monotonic()
        env = self.env
        if full_stacks:
            env = dict(self.env)
            env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":fast_unwind_on_malloc=0"
        for attempt in range(60):
            try:
                proc = subprocess.Popen(argv, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, preexec_fn=self._limits)
                break
            except OSError:  # the build relinking the driver under a long run: wait for it
                if attempt == 59:
                    raise
                time.sleep(5)
        try:
            out, err = proc.communicate(timeout=timeout or self.timeout)
            status = proc.returncode
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            out, err = proc.communicate()
            status = None
        return status, out.decode("utf-8", "replace"), err.decode("utf-8", "replace"), time.monotonic() - start

    def peer_judges(self, path, cwd):
        """None when the written file is valid, else why not."""
        kind = kind_of(path)
        if kind == ".vlt":
            argv = [self.xvelm, "info", path]
        elif os.path.exists(self.peer):
            argv = [self.peer, path]
        else:
            return None
        status, out, err, _ = self.run(argv, cwd, timeout=max(120, self.timeout))
        if status == 0:
            return None
        return "peer: status %s: %s" % (status, (out + err).strip()[-300:])


# The verbs a kind of input is given, with the kind of output each writes.
def verbs_for(kind):
    if kind == ".vlt":
        return [("info", None), ("roundtrip", None), ("export", ".json"), ("convert", ".step"),
                ("convert", ".brep"), ("convert", ".iges"), ("convert", ".vlt"), ("convert", ".json")]
    if kind == ".json":
        return [("import", ".vlt"), ("convert", ".step"), ("convert", ".brep"), ("convert", ".vlt"),
                ("convert", ".iges")]
    return [("convert", ".vlt"), ("convert", ".json"), ("convert", ".step"), ("convert", ".brep"),
            ("convert", ".iges")]


SANITIZER_MARKS = ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:", "ERROR: UndefinedBehavior",
                   "AddressSanitizer:DEADLYSIGNAL", "SUMMARY: AddressSanitizer", "==ERROR")


def first_own_frame(err):
    """The first stack frame in the project's sources, for a fault's signature."""
    for line in err.splitlines():
        m = re.search(r"#\d+ 0x[0-9a-f]+ in (.+?) (/\S+)", line)
        # Any checkout's sources (a shared compiler cache may name another's).
        if m and re.search(r"/(platform|xvelm2k|tools/xvelm)/", m.group(2)):
            return "%s %s" % (re.sub(r"\(.*", "", m.group(1))[:80], os.path.basename(m.group(2)))
    m = re.search(r"runtime error: (.*)", err)
    if m:
        return m.group(1)[:80]
    # Else the first frame outside the sanitizer's own (an Open CASCADE leak, say), so that faults
    # of different places are kept apart.
    for line in err.splitlines():
        m = re.search(r"#\d+ 0x[0-9a-f]+ in (.+?) \(?(/\S+?)[)+]", line)
        if m and "libsanitizer" not in m.group(2) and "asan" not in os.path.basename(m.group(2)):
            return "%s %s" % (re.sub(r"\(.*", "", m.group(1))[:80], os.path.basename(m.group(2)))
    return ""


def normalised(message):
    message = re.sub(r"\"[^\"]*\"", "Q", message)
    message = re.sub(r"[-+]?\d[\d.eE+-]*", "N", message)
    return message[:70]


# What a refusal names its place by: a line, column, byte, record, field or
# entity by number (STEP "#12", IGES "D7" or "P3"), a neutral document's path
# ("/faces/2/uDomain"), a save file's header, or a topological entity of the
# model by number. A refusal of the whole file (empty, too large, a directory)
# needs none.
PLACE = re.compile(r"\b(?i:lines?|columns?|bytes?|records?|fields?|entity|entities|instances?|entry|entries|body|bodies|"
                   r"faces?|edges?|coedges?|loops?|vertex|vertices|shells?|lumps?|wires?|curves?|surfaces?|points?)"
                   r" #?[A-Z]?\d+|#\d+|\b[DPGS]\d+\b|(^|[\s(])/[A-Za-z]|\bheader\b|\bsection\b")
WHOLE_FILE = re.compile(r"^(is empty|is a directory|cannot be opened|larger than the |No such file|no shape in the file|"
                        r"no faces, edges or points in the file|nothing in the file|\d+ bodies are placed by assemblies)")


# The peer library's own words, which a refusal never passes on (it says what
# was wrong, and where, in the driver's words).
PEER_TEXT = re.compile(r"Standard_|NCollection_|TopoDS_|Geom2?d?_|BRep\w*_|Undefined Parsing|Incorrect syntax|"
                       r"Unresolved Reference|SEVERAL TIMES|Syntax error in IGES|Count of Parameters")


def names_a_place(message):
    # A verb's failure line says what failed first ("importing IN failed: ",
    # "round trip of IN failed: ").
    said = re.sub(r"^xvelm: (?:\w+ )+?\S+ failed: ", "", message)
    return bool((PLACE.search(said) or WHOLE_FILE.search(said)) and not PEER_TEXT.search(said))


def judge(runner, verb, in_name, out_name, cwd, result):
    """None when the run ended well, else (kind, signature, why)."""
    status, out, err, _ = result
    lines = [l for l in err.splitlines() if l.strip()]
    # Warnings ("xvelm: warning: IN: ...") come before the one line a failure ends with.
    driver = [l for l in lines if (l.startswith("xvelm: ") or l.startswith("xvelm " + verb + ":")) and
              not l.startswith("xvelm: warning: ")]
    left = sorted(set(os.listdir(cwd)) - {in_name})
    if status is None:
        return "hang", verb, "no end within the time limit"
    if any(mark in err for mark in SANITIZER_MARKS):
        kind = "leak" if "LeakSanitizer" in err else "memory" if ("rss-limit" in err or "RSS limit" in err or
                                                                 "out-of-memory" in err or
                                                                 "allocation-size-too-big" in err) else "sanitizer"
        return kind, first_own_frame(err), next((l for l in lines if "ERROR" in l or "runtime error" in l), "")
    if status < 0 or status > 2:
        return "crash", "%s status %d" % (verb, status), (lines[-1] if lines else "")
    # A round trip that came back different ends with status 1 and its
    # differences on stdout ("N differences"), no failure line: a report.
    if verb == "roundtrip" and status == 1 and not driver:
        if left:
            return "pairing", verb + " reported differences but left files", " ".join(left)
        if not re.search(r"^\d+ differences$", out.strip().splitlines()[-1] if out.strip() else ""):
            return "pairing", verb + " status 1 without a failure line or differences", out.strip()[-200:]
        return None
    if status == 1:
        if len(driver) != 1 or not lines or lines[-1] != driver[0]:
            return "pairing", "%s %d driver lines" % (verb, len(driver)), " | ".join(lines[-3:])
        if "out of memory" in driver[0]:
            return "memory", verb + " out of memory", driver[0]
        if in_name not in driver[0]:
            return "pairing", "%s message does not name the input: %s" % (verb, normalised(driver[0])), driver[0]
        if out.strip():
            return "pairing", verb + " failed but printed a summary", out.strip()[:200]
        if left:
            return "pairing", verb + " failed but left files", " ".join(left)
        said = driver[0].split(in_name + ": ", 1)[-1]
        if not names_a_place(said):
            return "noplace", "%s %s" % (verb, normalised(said)), driver[0]
        return None
    if status == 2:
        return "pairing", verb + " status 2", " | ".join(lines[-2:])
    # Status 0.
    if verb in ("info", "roundtrip"):
        if not out.strip():
            return "pairing", verb + " printed nothing", ""
        if left:
            return "pairing", verb + " wrote files", " ".join(left)
        return None
    if left != [out_name]:
        return "pairing", verb + " succeeded but wrote " + (" ".join(left) or "nothing"), ""
    why = runner.peer_judges(os.path.join(cwd, out_name), cwd)
    if why:
        return "invalid-output", "%s %s" % (verb, kind_of(out_name)), why
    return None


RELINKING = re.compile(r"error while loading shared libraries|cannot be handled \(.*(file too short|invalid ELF header)")


def run_case(runner, data, in_kind, verb, out_kind):
    """Writes `data` as the input in a fresh folder, runs the verb, judges it."""
    cwd = tempfile.mkdtemp(prefix="run-", dir=runner.work)
    try:
        in_name = "input" + in_kind
        out_name = ("output" + out_kind) if out_kind else None
        with open(os.path.join(cwd, in_name), "wb") as f:
            f.write(data)
        argv = [runner.xvelm, verb, in_name] + ([out_name] if out_name else [])
        def once(full_stacks=False):
            for _ in range(30):
                result = runner.run(argv, cwd, full_stacks=full_stacks)
                # A library the build is relinking under a long run: wait and run again.
                if not RELINKING.search(result[2]):
                    break
                time.sleep(10)
                for name in set(os.listdir(cwd)) - {in_name}:
                    os.remove(os.path.join(cwd, name))
            return judge(runner, verb, in_name, out_name, cwd, result), result
        fault, result = once()
        # A leak whose stacks hold no frame of ours: the fast unwinder stops inside Open
        # CASCADE's libraries, short of the exchange library a suppression names. Judged
        # again with whole stacks (after clearing what the first run wrote).
        if fault and fault[0] == "leak" and not re.search(r"/(platform|xvelm2k|tools/xvelm)/", result[2]):
            for name in set(os.listdir(cwd)) - {in_name}:
                os.remove(os.path.join(cwd, name))
            fault, result = once(full_stacks=True)
        return fault, result
    finally:
        shutil.rmtree(cwd, ignore_errors=True)


# ---------------------------------------------------------------------------
# Mutations.

HUGE_INTEGERS = [b"2147483647", b"2147483648", b"-2147483648", b"4294967297", b"9223372036854775807",
                 b"99999999999999999999", b"-1", b"0", b"1000000000", b"65536", b"-7"]
ODD_REALS = [b"1e308", b"-1e308", b"1e-320", b"nan", b"NaN", b"inf", b"-inf", b"1e999", b"-0", b"0.0",
             b"123456789.5", b"-1e-300"]
NUMBER = re.compile(rb"(?<![A-Za-z_#$@\d.\"])[-+]?(?:\d+\.?\d*(?:[eE][-+]?\d+)?|\.\d+(?:[eE][-+]?\d+)?)(?![A-Za-z_\d])")


def odd_number(rng, original=b""):
    if b"." in original or b"e" in original.lower():
        return rng.choice(ODD_REALS + HUGE_INTEGERS[:3])
    return rng.choice(HUGE_INTEGERS + ODD_REALS[:4])


def pick(rng, matches):
    return rng.choice(matches) if matches else None


def lines_of(data):
    return data.splitlines(keepends=True)


def flip_bytes(data, rng):
    b = bytearray(data)
    for _ in range(rng.randint(1, 4)):
        at = rng.randrange(len(b))
        b[at] = rng.choice([b[at] ^ (1 << rng.randrange(8)), rng.randrange(256), ord(rng.choice("0-.#$,;()@\n "))])
    return bytes(b)


def truncate(data, rng):
    return data[:rng.randrange(len(data))]


def repeat_lines(data, rng):
    ls = lines_of(data)
    a = rng.randrange(len(ls))
    block = ls[a:a + rng.choice([1, 1, 2, 5])]
    to = rng.randrange(len(ls) + 1) if rng.random() < 0.5 else a
    return b"".join(ls[:to] + block + ls[to:])


def drop_lines(data, rng):
    ls = lines_of(data)
    a = rng.randrange(len(ls))
    return b"".join(ls[:a] + ls[a + rng.choice([1, 1, 2, 4]):])


def swap_lines(data, rng):
    ls = lines_of(data)
    a, b = rng.randrange(len(ls)), rng.randrange(len(ls))
    ls[a], ls[b] = ls[b], ls[a]
    return b"".join(ls)


def odd_numbers(data, rng):
    matches = list(NUMBER.finditer(data))
    for _ in range(rng.randint(1, 3)):
        m = pick(rng, matches)
        if not m:
            break
        value = odd_number(rng, m.group(0))
        data = data[:m.start()] + value + data[m.end():]
        matches = list(NUMBER.finditer(data))
    return data


def keep_width_iges(line, rng):
    """An IGES line with one of its numbers replaced, padded back to 80 columns."""
    body, tail = line[:72], line[72:]
    matches = list(NUMBER.finditer(body))
    m = pick(rng, matches)
    if not m:
        return line
    value = odd_number(rng, m.group(0))
    if tail[:1] == b"D":  # fixed fields of 8 columns
        start = (m.start() // 8) * 8
        field = value[-8:].rjust(8)
        body = body[:start] + field + body[start + 8:]
    else:
        body = (body[:m.start()] + value + body[m.end():])
        body = body[:64].ljust(64) + body[64:72] if len(body) > 72 else body.ljust(72)
    return body[:72] + tail


def iges_numbers(data, rng):
    ls = lines_of(data)
    candidates = [i for i, l in enumerate(ls) if len(l) >= 73 and l[72:73] in (b"D", b"P", b"G")]
    for _ in range(rng.randint(1, 3)):
        if not candidates:
            break
        i = rng.choice(candidates)
        ls[i] = keep_width_iges(ls[i], rng)
    return b"".join(ls)


def references(data, rng, kind):
    """A reference sent out of range, to its own record or to another."""
    if kind == ".vlt":
        links = list(re.finditer(rb"\$(-?\d+)", data))
        m = pick(rng, links)
        if not m:
            return data
        header = re.match(rb"VELM-TEXT \d+ (\d+)", data)
        count = int(header.group(1)) if header else 100
        start = data.rfind(b"\n-", 0, m.start())
        own = re.match(rb"\n-(\d+)", data[start:]) if start >= 0 else None
        value = rng.choice([-2, count, count + 1, 2147483647, 0, rng.randrange(max(count, 1)),
                            int(own.group(1)) if own else 0])
        return data[:m.start()] + b"$%d" % value + data[m.end():]
    if kind == ".step":
        refs = [m for m in re.finditer(rb"#(\d+)", data) if data.rfind(b"=", 0, m.start()) > data.rfind(b";", 0, m.start())]
        m = pick(rng, refs)
        if not m:
            return data
        start = data.rfind(b"\n", 0, m.start()) + 1
        own = re.match(rb"#(\d+)", data[start:])
        ids = [int(x) for x in re.findall(rb"^#(\d+)", data, re.M)] or [1]
        value = rng.choice([0, max(ids) + 1, 999999999, int(own.group(1)) if own else 1, rng.choice(ids)])
        return data[:m.start()] + b"#%d" % value + data[m.end():]
    if kind == ".brep":
        # Shape references (+N / -N followed by a location) and the indices of geometry.
        refs = list(re.finditer(rb"(?<=\s)[+-](\d+)(?= \d)", data))
        m = pick(rng, refs)
        if not m:
            return odd_numbers(data, rng)
        value = rng.choice([0, 1, 999999, 2147483647, int(m.group(1)) + 1, 1 << 40])
        return data[:m.start()] + m.group(0)[:1] + b"%d" % value + data[m.end():]
    if kind == ".iges":
        ls = lines_of(data)
        ps = [i for i, l in enumerate(ls) if len(l) >= 73 and l[72:73] == b"P"]
        if not ps:
            return data
        i = rng.choice(ps)
        line = ls[i]
        nums = list(re.finditer(rb"(?<=,)\d+(?=[,;])", line[:64]))
        m = pick(rng, nums)
        if not m:
            return data
        de_lines = sum(1 for l in ls if len(l) >= 73 and l[72:73] == b"D")
        own = line[64:72].strip() or b"1"
        value = rng.choice([b"0", b"%d" % (de_lines + 1), b"%d" % (de_lines + 3), own, b"-1", b"2", b"99999999"])
        body = line[:m.start()] + value + line[m.end():64]
        ls[i] = body[:64].ljust(64) + line[64:]
        return b"".join(ls)
    return odd_numbers(data, rng)


def inflate_counts(data, rng, kind):
    """A count the reader sizes something by made much larger (or smaller)."""
    factor = rng.choice([10, 1000, 1 << 20, -1, 0])
    if kind == ".vlt":
        m = re.match(rb"(VELM-TEXT \d+ )(\d+) +(\d+)", data)
        if m and rng.random() < 0.5:
            count, top = int(m.group(2)), int(m.group(3))
            which = rng.choice([(count * abs(factor) or count + 1, top), (count, count + 1), (count, 0),
                                (count - 1, top), (2147483647, top)])
            return data[:m.start()] + m.group(1) + b"%d %d" % which + data[m.end():]
        return odd_numbers(data, rng)
    if kind == ".brep":
        heads = list(re.finditer(rb"^(Locations|Curve2ds|Curves|Polygon3D|PolygonOnTriangulations|Surfaces|"
                                 rb"Triangulations|TShapes|Polygon2D) (\d+)", data, re.M))
        m = pick(rng, heads)
        if not m:
            return odd_numbers(data, rng)
        n = int(m.group(2))
        value = rng.choice([n * 1000, n + 1, max(n - 1, 0), 2147483647, 1 << 40, -1])
        return data[:m.start(2)] + b"%d" % value + data[m.end(2):]
    if kind == ".step":
        # An element of a list repeated many times, or a degree or multiplicity made huge.
        lists = list(re.finditer(rb"\((#\d+)(,#\d+)*\)", data))
        m = pick(rng, lists)
        if m and rng.random() < 0.6:
            first = m.group(1)
            repeated = b"(" + b",".join([first] * rng.choice([2, 50, 5000])) + m.group(0)[len(first) + 1:]
            return data[:m.start()] + repeated + data[m.end():]
        return odd_numbers(data, rng)
    if kind == ".iges":
        return iges_numbers(data, rng)
    return odd_numbers(data, rng)


# The neutral document, taken apart and damaged as JSON.
def json_paths(node, path=()):
    yield path, node
    if isinstance(node, dict):
        for k, v in node.items():
            yield from json_paths(v, path + (k,))
    elif isinstance(node, list):
        for i, v in enumerate(node):
            yield from json_paths(v, path + (i,))


def json_structure(data, rng):
    try:
        doc = json.loads(data)
    except ValueError:
        return odd_numbers(data, rng)
    for _ in range(rng.randint(1, 3)):
        # The paths again each round: the round before may have cut a list or dropped a key.
        path, node = rng.choice(list(json_paths(doc)))
        if not path:
            continue
        parent = doc
        for k in path[:-1]:
            parent = parent[k]
        key = path[-1]
        owner_id = parent.get("id") if isinstance(parent, dict) and isinstance(parent.get("id"), int) else 1
        if isinstance(node, bool):
            value = rng.choice([not node, None, 0])
        elif isinstance(node, int):
            value = rng.choice([-1, 0, node + 1, node * 1000, 2 ** 31 - 1, 2 ** 63, owner_id, -node, 10 ** 30])
        elif isinstance(node, float):
            value = rng.choice([math.nan, math.inf, -math.inf, 1e308, -1e308, 0.0, -node, node * 1e10, 5e-324])
        elif isinstance(node, list):
            op = rng.randrange(4)
            if op == 0 and node:
                value = node + node[:1] * rng.choice([1, 5, 200])
            elif op == 1 and node:
                value = node[:rng.randrange(len(node))]
            elif op == 2:
                value = []
            else:
                value = [None] if rng.random() < 0.5 else node[::-1]
        elif isinstance(node, dict):
            if node and rng.random() < 0.7:
                value = dict(node)
                value.pop(rng.choice(list(node)))
            else:
                value = {}
        else:
            value = rng.choice([None, 7, "x", [], {}])
        if isinstance(parent, list) and rng.random() < 0.2:
            parent.insert(key, parent[key])  # an element repeated (a duplicate id)
        else:
            parent[key] = value
    return json.dumps(doc, separators=(",", ":"), allow_nan=True).replace("},{", "},\n{").encode()


# Entity parameters: one parameter of a STEP instance or an IGES entity
# replaced by a value of another type, an absent or derived value, a
# reference elsewhere, a huge or non-finite number, or dropped or doubled.
STEP_GEOMETRY = re.compile(rb"B_SPLINE|CARTESIAN_POINT|DIRECTION|AXIS2_PLACEMENT|EDGE_CURVE|ORIENTED_EDGE|"
                           rb"FACE_BOUND|FACE_OUTER_BOUND|ADVANCED_FACE|VERTEX_POINT|EDGE_LOOP|CIRCLE|LINE|VECTOR|"
                           rb"PLANE|CYLINDRICAL|CONICAL|SPHERICAL|TOROIDAL|SHELL|BREP|PCURVE|SURFACE_CURVE|"
                           rb"DEFINITIONAL|ELLIPSE|TRIMMED|STYLED|PRESENTATION|ITEM_DEFINED|MAPPED_ITEM")


def step_parameters(text):
    """The spans (start, end) of the top-level parameters of "(...)" text, which starts at its "(";
    None when the text ends before its ")"."""
    spans, depth, start, quoted = [], 0, 1, False
    for i in range(len(text)):
        c = text[i:i + 1]
        if quoted:
            quoted = c != b"'"
        elif c == b"'":
            quoted = True
        elif c == b"(":
            depth += 1
        elif c == b")":
            depth -= 1
            if depth == 0:
                spans.append((start, i))
                return spans
        elif c == b"," and depth == 1:
            spans.append((start, i))
            start = i + 1
    return None


def step_entity_parameters(data, rng):
    heads = list(re.finditer(rb"#(\d+)\s*=\s*([A-Z_0-9]+)\s*\(", data))
    if not heads:
        return odd_numbers(data, rng)
    ids = [int(m.group(1)) for m in heads]
    for _ in range(rng.randint(1, 2)):
        heads = list(re.finditer(rb"#(\d+)\s*=\s*([A-Z_0-9]+)\s*\(", data))
        geometric = [m for m in heads if STEP_GEOMETRY.search(m.group(2))]
        m = rng.choice(geometric if geometric and rng.random() < 0.7 else heads)
        open_at = m.end() - 1
        spans = step_parameters(data[open_at:open_at + 200000])
        if not spans:
            continue
        a, b = spans[rng.randrange(len(spans))]
        a, b = open_at + a, open_at + b
        value = data[a:b].strip()
        other = rng.choice(ids)
        choices = [b"$", b"*", b"()", b"#0", b"#%d" % other, b"#%d" % (max(ids) + 7), b"#" + m.group(1), b"'x'",
                   b".U.", b".T.", b"-1", b"0", b"2147483647", b"1.E308", b"-1.E308", b"1.E-320", b"1.E999"]
        if value.startswith(b"("):
            inner = value[1:-1].split(b",")
            choices += [b"(" + b",".join(inner[:1] * rng.choice([3, 300, 30000])) + b")", b"(" + value + b")",
                        b"(" + b",".join(inner[:-1]) + b")", b"($)",
                        b"(" + b",".join(inner[:-1] + [rng.choice(ODD_REALS + HUGE_INTEGERS[:3])]) + b")"]
        op = rng.random()
        if op < 0.1:  # dropped
            cut_from = a - 1 if data[a - 1:a] == b"," else a
            cut_to = b + 1 if cut_from == a and data[b:b + 1] == b"," else b
            data = data[:cut_from] + data[cut_to:]
        elif op < 0.2:  # one more
            data = data[:b] + b"," + rng.choice(choices) + data[b:]
        else:
            data = data[:a] + rng.choice(choices) + data[b:]
    return data


IGES_COUNTED = (b"102", b"106", b"112", b"114", b"126", b"128", b"141", b"142", b"143", b"144", b"186", b"402",
                b"502", b"504", b"508", b"510", b"514")


def iges_entity_parameters(data, rng):
    """A field of a parameter line replaced by another kind of value, within the line's 64 columns."""
    ls = lines_of(data)
    ps = [i for i, l in enumerate(ls) if len(l) >= 73 and l[72:73] == b"P"]
    if not ps:
        return iges_numbers(data, rng)
    de_lines = sum(1 for l in ls if len(l) >= 73 and l[72:73] == b"D")
    counted = [i for i in ps if ls[i][:64].split(b",")[0].strip() in IGES_COUNTED]
    for _ in range(rng.randint(1, 2)):
        first = counted and rng.random() < 0.5
        i = rng.choice(counted if first else ps)
        line = ls[i]
        body = line[:64].rstrip()
        fields = re.split(rb"([,;])", body)
        values = list(range(0, len(fields), 2))
        # The counts and degrees right after an entity's type number, or any field.
        at = rng.choice(values[1:4] if first and len(values) > 1 else values)
        choices = [b"", b"-1", b"0", b"99999999", b"2147483647", b"-2147483648", b"1.0D300", b"1.E999", b"-1.E-320",
                   b"1Hx", b"3Hab", b"%d" % (2 * de_lines + 1), b"-%d" % rng.randrange(1, 2 * de_lines + 2, 2),
                   b"%d" % rng.randrange(1, 2 * de_lines + 2, 2), b"2"]
        op = rng.random()
        if op < 0.1 and at + 1 < len(fields):
            del fields[at:at + 2]
        elif op < 0.2:
            fields[at:at] = [rng.choice(choices), b","]
        else:
            fields[at] = rng.choice(choices)
        new = b"".join(fields)
        if len(new) <= 64:
            ls[i] = new.ljust(64) + line[64:]
    return b"".join(ls)


# Neutral documents: a reference (a field naming another record by its id)
# sent to a record that is not there, to one of another table, to its own
# record, or shared by two owners.
JSON_REFERENCE_KEYS = {"lumps", "volumes", "shells", "shells2D", "faces", "wires", "pointWires", "loops",
                       "coedges", "edge", "edges", "curve", "surface", "pcurve", "start", "end", "vertex", "vertices",
                       "face", "loop", "shell", "body", "entity", "profile", "base", "basis", "partner"}


def json_references(data, rng):
    try:
        doc = json.loads(data)
    except ValueError:
        return odd_numbers(data, rng)
    refs, ids = [], []
    for path, node in json_paths(doc):
        if path and path[-1] == "id" and isinstance(node, int):
            ids.append(node)
        if len(path) >= 1 and path[-1] in JSON_REFERENCE_KEYS and (
                isinstance(node, int) or (isinstance(node, list) and all(isinstance(x, int) for x in node))):
            parent = doc
            for k in path[:-1]:
                parent = parent[k]
            refs.append((parent, path[-1]))
    if not refs:
        return json_structure(data, rng)
    ids = ids or [1]
    for _ in range(rng.randint(1, 3)):
        parent, key = rng.choice(refs)
        own = parent.get("id", 1) if isinstance(parent.get("id"), int) else 1
        value = rng.choice([max(ids) + 1, 0, -1, rng.choice(ids), own, 2 ** 31, rng.choice(ids) + 1])
        node = parent[key]
        if isinstance(node, list):
            if node and rng.random() < 0.7:
                node[rng.randrange(len(node))] = value
            else:
                node.append(value if rng.random() < 0.5 or not node else node[0])
        else:
            parent[key] = value
    return json.dumps(doc, separators=(",", ":"), allow_nan=True).replace("},{", "},\n{").encode()


def entity_parameters(data, rng, kind):
    if kind == ".step":
        return step_entity_parameters(data, rng)
    if kind == ".iges":
        return iges_entity_parameters(data, rng)
    if kind == ".json":
        return json_references(data, rng)
    return odd_numbers(data, rng)


# ---------------------------------------------------------------------------
# Structural mutations: whole records (a save file's records, STEP instances,
# IGES entities, BREP shapes, a neutral document's table rows) swapped,
# copied over one another, deleted, duplicated; two files of one kind spliced
# at a record; a file cut at a record boundary (its count or trailer kept or
# mended); references made into cycles or sent to a record of another kind.

EDGE_INTEGERS = [b"0", b"-0", b"-1", b"-2", b"1", b"2147483647", b"-2147483648", b"2147483648", b"4294967295",
                 b"4294967296", b"9223372036854775807", b"-9223372036854775808", b"18446744073709551616",
                 b"1000000000", b"65535", b"65536"]
EDGE_REALS = [b"0", b"-0", b"0.0", b"-0.0", b"4.9406564584124654e-324", b"-4.9406564584124654e-324",
              b"2.2250738585072014e-308", b"2.225073858507201e-308", b"1e-320", b"-1e-320", b"1e-310",
              b"1.7976931348623157e308", b"-1.7976931348623157e308", b"1e-300", b"2147483647.0"]


def edge_number(rng, original=b""):
    real = b"." in original or b"e" in original.lower()
    return rng.choice(EDGE_REALS if real or rng.random() < 0.3 else EDGE_INTEGERS)


# Save files: "VELM-TEXT <version> <records> <top level>", a line of file
# facts, then one record a line, "-<n> <class chain> <fields> #", whose links
# are "$<n>" ($-1: none).
VLT_RECORD = re.compile(rb"^-(\d+) ", re.M)
VLT_HEAD = re.compile(rb"VELM-TEXT (\d+) (-?\d+) (-?\d+)")
VLT_LINK = re.compile(rb"\$(-?\d+)")


def vlt_split(data):
    starts = [m.start() for m in VLT_RECORD.finditer(data)]
    if not starts:
        return None
    return data[:starts[0]], [data[a:b] for a, b in zip(starts, starts[1:] + [len(data)])]


def vlt_body(record):
    return record[record.index(b" ") + 1:]


def vlt_class(record):
    return vlt_body(record).split(b" ", 1)[0]


def vlt_number(record, n):
    return b"-%d " % n + vlt_body(record)


def vlt_relink(record, fn):
    head = record[:record.index(b" ") + 1]
    return head + VLT_LINK.sub(lambda m: b"$%d" % fn(int(m.group(1))), vlt_body(record))


def vlt_counts(head, count=None, top_delta=0, top=None):
    m = VLT_HEAD.search(head)
    if not m:
        return head
    old_count, old_top = int(m.group(2)), int(m.group(3))
    count = old_count if count is None else count
    top = old_top + top_delta if top is None else top
    return head[:m.start(2)] + b"%d %d" % (count, top) + head[m.end(3):]


def vlt_links(record):
    return [int(x) for x in VLT_LINK.findall(vlt_body(record)) if int(x) >= 0]


def vlt_replace_link(record, rng, value):
    body_at = record.index(b" ") + 1
    links = list(VLT_LINK.finditer(record, body_at))
    if not links:
        return record
    m = rng.choice(links)
    return record[:m.start()] + b"$%d" % value + record[m.end():]


def vlt_structure(data, rng, other):
    split = vlt_split(data)
    if not split or len(split[1]) < 2:
        return odd_numbers(data, rng)
    head, recs = split
    n = len(recs)
    m = VLT_HEAD.search(head)
    top = int(m.group(3)) if m else 0
    op = rng.choice(["swap", "copy", "delete", "insert", "cycle", "kind", "splice", "cut", "numbers"])
    a, b = rng.randrange(n), rng.randrange(n)
    if op == "swap":  # two records' contents, each keeping its number
        recs[a], recs[b] = vlt_number(recs[b], a), vlt_number(recs[a], b)
    elif op == "copy":
        recs[b] = vlt_number(recs[a], b)
    elif op == "delete":  # the rest renumbered, links to it made none
        recs = [vlt_relink(vlt_number(r, i - (i > a)), lambda j: -1 if j == a else j - (j > a))
                for i, r in enumerate(recs) if i != a]
        head = vlt_counts(head, n - 1, top_delta=-(a < top))
    elif op == "insert":  # a copy of b placed at a, the rest renumbered
        shift = (lambda j: j + (j >= a))
        recs = [vlt_relink(vlt_number(r, i + (i >= a)), shift) for i, r in enumerate(recs)]
        recs.insert(a, vlt_number(vlt_relink(split[1][b], shift), a))
        head = vlt_counts(head, n + 1, top_delta=(a < top))
    elif op == "cycle":  # a record it links to linked back to it
        links = [j for j in vlt_links(recs[a]) if 0 <= j < n and j != a]
        if links:
            j = rng.choice(links)
            recs[j] = vlt_replace_link(recs[j], rng, a)
        else:
            recs[a] = vlt_replace_link(recs[a], rng, a)
    elif op == "kind":  # a link sent to a record of another class
        links = [j for j in vlt_links(recs[a]) if 0 <= j < n]
        if links:
            want = vlt_class(recs[rng.choice(links)])
            others = [i for i in range(n) if vlt_class(recs[i]) != want]
            if others:
                recs[a] = vlt_replace_link(recs[a], rng, rng.choice(others))
    elif op == "splice" and other:
        other_split = vlt_split(other)
        if other_split:
            k = rng.randrange(min(n, len(other_split[1])) + 1)
            recs = recs[:k] + other_split[1][k:]
            head = other_split[0] if rng.random() < 0.5 else vlt_counts(head, len(recs))
    elif op == "cut":  # ends at a record boundary, its count said or mended
        k = rng.randrange(n)
        recs = recs[:k]
        if rng.random() < 0.5:
            head = vlt_counts(head, k, top=min(top, k))
    else:  # a field of one record (not its number) at an edge value
        fields = list(NUMBER.finditer(recs[a], recs[a].index(b" ") + 1))
        if fields:
            f = rng.choice(fields)
            recs[a] = recs[a][:f.start()] + edge_number(rng, f.group(0)) + recs[a][f.end():]
    return head + b"".join(recs)


# STEP: the instances of the DATA section, "#<n>=<body>;".
STEP_INSTANCE_REF = re.compile(rb"#(\d+)")


def step_split(data):
    """(prefix, [instances], suffix), each instance with the space after it, or None."""
    start = data.find(b"DATA;")
    if start < 0:
        return None
    start += 5
    while start < len(data) and data[start:start + 1] in b" \r\n\t":
        start += 1
    recs, at, quoted = [], start, False
    i = start
    while i < len(data):
        c = data[i:i + 1]
        if quoted:
            quoted = c != b"'"
        elif c == b"'":
            quoted = True
        elif c == b";":
            j = i + 1
            while j < len(data) and data[j:j + 1] in b" \r\n\t":
                j += 1
            piece = data[at:j]
            if piece.lstrip().startswith(b"ENDSEC"):
                return data[:start], recs, data[at:]
            recs.append(piece)
            at, i = j, j
            continue
        i += 1
    return data[:start], recs, data[at:]


def step_id(record):
    m = re.match(rb"\s*#(\d+)", record)
    return int(m.group(1)) if m else None


def step_body(record):
    return record[record.find(b"=") + 1:]


def step_type(record):
    m = re.match(rb"\s*([A-Z_0-9]*)", step_body(record))
    return m.group(1) if m else b""


def step_refs(record):
    return [int(x) for x in STEP_INSTANCE_REF.findall(step_body(record))]


def step_replace_ref(record, rng, value):
    at = record.find(b"=") + 1
    refs = list(STEP_INSTANCE_REF.finditer(record, at))
    if not refs:
        return record
    m = rng.choice(refs)
    return record[:m.start()] + b"#%d" % value + record[m.end():]


def step_structure(data, rng, other):
    split = step_split(data)
    if not split or len(split[1]) < 2:
        return step_entity_parameters(data, rng)
    prefix, recs, suffix = split
    n = len(recs)
    ids = [step_id(r) for r in recs]
    by_id = {i: k for k, i in enumerate(ids) if i is not None}
    op = rng.choice(["swap", "copy", "delete", "again", "same-id", "cycle", "kind", "splice", "cut", "numbers"])
    a, b = rng.randrange(n), rng.randrange(n)
    head = lambda k: recs[k][:recs[k].find(b"=") + 1]
    if op == "swap":
        recs[a], recs[b] = head(a) + step_body(recs[b]), head(b) + step_body(recs[a])
    elif op == "copy":
        recs[b] = head(b) + step_body(recs[a])
    elif op == "delete":
        del recs[a]
    elif op == "again":  # a copy under a new number, which nothing names
        recs.insert(b, b"#%d=" % (max(i for i in ids if i is not None) + 1) + step_body(recs[a]))
    elif op == "same-id":  # two instances of one number
        recs.insert(b, head(a) + step_body(recs[b]))
    elif op == "cycle":
        refs = [r for r in step_refs(recs[a]) if r in by_id and by_id[r] != a]
        if refs and ids[a] is not None:
            k = by_id[rng.choice(refs)]
            recs[k] = step_replace_ref(recs[k], rng, ids[a])
    elif op == "kind":
        refs = [r for r in step_refs(recs[a]) if r in by_id]
        if refs:
            want = step_type(recs[by_id[rng.choice(refs)]])
            others = [i for k, i in enumerate(ids) if i is not None and step_type(recs[k]) != want]
            if others:
                recs[a] = step_replace_ref(recs[a], rng, rng.choice(others))
    elif op == "splice" and other:
        other_split = step_split(other)
        if other_split and other_split[1]:
            recs = recs[:rng.randrange(n + 1)] + other_split[1][rng.randrange(len(other_split[1])):]
            suffix = other_split[2]
    elif op == "cut":
        recs = recs[:rng.randrange(n)]
        suffix = suffix if rng.random() < 0.7 else b""
    else:
        fields = list(NUMBER.finditer(recs[a], recs[a].find(b"=") + 1))
        if fields:
            f = rng.choice(fields)
            recs[a] = recs[a][:f.start()] + edge_number(rng, f.group(0)) + recs[a][f.end():]
    return prefix + b"".join(recs) + suffix


# IGES: entities as directory entry pairs (D lines) and their parameter lines.
def iges_sections(data):
    ls = lines_of(data)
    sections = {}
    for i, l in enumerate(ls):
        if len(l) >= 73:
            sections.setdefault(l[72:73], []).append(i)
    return ls, sections


def iges_seq(section, n):
    return section + b"%7d" % n


def iges_structure(data, rng, other):
    ls, sec = iges_sections(data)
    ds, ps = sec.get(b"D", []), sec.get(b"P", [])
    if len(ds) < 4 or not ps:
        return iges_entity_parameters(data, rng)
    pairs = [(ds[i], ds[i + 1]) for i in range(0, len(ds) - 1, 2)]
    types = [ls[p[0]][:8].strip() for p in pairs]
    n = len(pairs)
    op = rng.choice(["swap", "copy", "null", "cycle", "kind", "splice", "cut", "numbers"])
    a, b = rng.randrange(n), rng.randrange(n)
    # P lines by the entity they belong to (columns 65-72: its D line's number).
    owner = lambda line: int(line[64:72]) if line[64:72].strip().isdigit() else 0
    own_p = lambda k: [i for i in ps if owner(ls[i]) == 2 * k + 1]

    def pointer_fields(k):
        """(line, start, end, value) of the fields of entity k's parameters that could name a D entry."""
        out = []
        for i in own_p(k):
            body = ls[i][:64]
            for m in re.finditer(rb"(?<=[,;])\s*(\d+)\s*(?=[,;])", body):
                v = int(m.group(1))
                if v % 2 == 1 and v <= 2 * n:
                    out.append((i, m.start(1), m.end(1), v))
        return out

    def set_field(field, value):
        i, s, e, _ = field
        line = ls[i]
        body = line[:s] + b"%d" % value + line[e:64]
        if len(body.rstrip()) <= 64:
            ls[i] = body[:64].ljust(64) + line[64:]

    if op == "swap":  # two entries' fields, each keeping its sequence number
        (a0, a1), (b0, b1) = pairs[a], pairs[b]
        for x, y in ((a0, b0), (a1, b1)):
            ls[x], ls[y] = ls[y][:72] + ls[x][72:], ls[x][:72] + ls[y][72:]
    elif op == "copy":
        for x, y in zip(pairs[a], pairs[b]):
            ls[y] = ls[x][:72] + ls[y][72:]
    elif op == "null":  # type 0, the null entity
        for x in pairs[a]:
            ls[x] = b"%8d" % 0 + ls[x][8:]
    elif op == "cycle":
        fields = pointer_fields(a)
        if fields:
            k = (rng.choice(fields)[3] - 1) // 2
            back = pointer_fields(k)
            if back:
                set_field(rng.choice(back), 2 * a + 1)
            else:
                set_field(rng.choice(fields), 2 * a + 1)
    elif op == "kind":
        fields = pointer_fields(a)
        if fields:
            f = rng.choice(fields)
            want = types[(f[3] - 1) // 2] if (f[3] - 1) // 2 < n else b""
            others = [k for k in range(n) if types[k] != want]
            if others:
                set_field(f, 2 * rng.choice(others) + 1)
    elif op == "splice" and other:  # this file's entries over the other's parameters
        ols, osec = iges_sections(other)
        if osec.get(b"P"):
            keep = [l for i, l in enumerate(ls) if l[72:73] in (b"S", b"G", b"D")]
            return b"".join(keep + [ols[i] for i in osec[b"P"]] + [ols[i] for i in osec.get(b"T", [])])
    elif op == "cut":  # ends after an entry or a parameter line, with or without its trailer
        at = rng.choice([pairs[rng.randrange(n)][1], rng.choice(ps)])
        tail = [ls[i] for i in sec.get(b"T", [])] if rng.random() < 0.5 else []
        return b"".join(ls[:at + 1] + tail)
    else:
        line_at = rng.choice(own_p(a) or ps)
        line = ls[line_at]
        fields = list(NUMBER.finditer(line[:64]))
        if fields:
            f = rng.choice(fields)
            body = line[:f.start()] + edge_number(rng, f.group(0)) + line[f.end():64]
            if len(body.rstrip()) <= 64:
                ls[line_at] = body[:64].ljust(64) + line[64:]
    return b"".join(ls)


# BREP: the TShapes table, records from a two-letter kind line to the "*"
# that ends their list of sub-shapes; shape n is the table's (count - n + 1)th.
BREP_KIND = re.compile(rb"^(Ve|Ed|Wi|Fa|Sh|So|CS|Co)\s*$", re.M)
BREP_SUB = re.compile(rb"(?<![\w.])([-+])(\d+) (\d+)(?= )")


def brep_split(data):
    table = re.search(rb"^TShapes (\d+)\s*\n", data, re.M)
    if not table:
        return None
    recs, at = [], table.end()
    for m in re.finditer(rb"\*[ \t]*\r?\n", data[at:]):
        piece = data[at:table.end() + m.end()]
        if not BREP_KIND.match(piece.lstrip(b"\n")):
            break
        recs.append(piece)
        at = table.end() + m.end()
    return data[:table.start()], int(table.group(1)), recs, data[at:]


def brep_subs_at(record):
    """The sub-shape references: from the record's last line before its "*"."""
    last = record.rstrip().rfind(b"\n") + 1
    return [m for m in BREP_SUB.finditer(record, last)]


def brep_structure(data, rng, other):
    split = brep_split(data)
    if not split or len(split[2]) < 2:
        return references(data, rng, ".brep")
    prefix, count, recs, suffix = split
    n = len(recs)
    number = lambda k: n - k
    kind = lambda k: BREP_KIND.search(recs[k]).group(1)
    op = rng.choice(["swap", "copy", "delete", "cycle", "kind", "splice", "cut", "numbers"])
    a, b = rng.randrange(n), rng.randrange(n)

    def set_sub(k, value):
        subs = brep_subs_at(recs[k])
        if subs:
            m = rng.choice(subs)
            recs[k] = recs[k][:m.start(2)] + b"%d" % value + recs[k][m.end(2):]
            return True
        return False

    if op == "swap":
        recs[a], recs[b] = recs[b], recs[a]
    elif op == "copy":
        recs[b] = recs[a]
    elif op == "delete":
        del recs[a]
        count -= 1 if rng.random() < 0.7 else 0
    elif op == "cycle":  # a sub-shape that is the shape itself or one written after it
        set_sub(a, number(rng.randrange(a + 1)))
    elif op == "kind":
        subs = brep_subs_at(recs[a])
        if subs:
            was = n - int(rng.choice(subs).group(2))
            want = kind(was) if 0 <= was < n else b""
            others = [k for k in range(a + 1, n) if kind(k) != want] or [k for k in range(n) if kind(k) != want]
            if others:
                set_sub(a, number(rng.choice(others)))
    elif op == "splice" and other:  # this file's geometry under the other's shapes
        other_split = brep_split(other)
        if other_split:
            _, ocount, orecs, osuffix = other_split
            return prefix + b"TShapes %d\n" % ocount + b"".join(orecs) + osuffix
    elif op == "cut":
        recs = recs[:rng.randrange(1, n)]
        if rng.random() < 0.5:
            count = len(recs)
    else:
        fields = list(NUMBER.finditer(recs[a]))
        if fields:
            f = rng.choice(fields)
            recs[a] = recs[a][:f.start()] + edge_number(rng, f.group(0)) + recs[a][f.end():]
    return prefix + b"TShapes %d\n" % count + b"".join(recs) + suffix


# Neutral documents: the rows of its tables.
JSON_TABLE_OF = {"lumps": "lumps", "volumes": "volumes", "shells": "shells", "faces": "faces", "face": "faces",
                 "loops": "loops", "loop": "loops", "coedges": "coedges", "edge": "edges", "edges": "edges",
                 "vertex": "vertices", "vertices": "vertices", "start": "vertices", "end": "vertices",
                 "curve": "curves", "surface": "surfaces", "pcurve": "pcurves", "point": "points",
                 "wires": "wires", "shells2D": "shells"}


def json_rows(doc):
    return {k: v for k, v in doc.items() if isinstance(v, list) and v and all(isinstance(x, dict) for x in v)}


def json_structure_rows(data, rng, other):
    try:
        doc = json.loads(data)
    except ValueError:
        return odd_numbers(data, rng)
    if not isinstance(doc, dict):
        return odd_numbers(data, rng)
    tables = json_rows(doc)
    if not tables:
        return json_structure(data, rng)
    name = rng.choice(sorted(tables))
    rows = tables[name]
    n = len(rows)
    a, b = rng.randrange(n), rng.randrange(n)
    op = rng.choice(["swap", "copy", "delete", "again", "cycle", "kind", "splice", "cut", "numbers", "entity"])
    keep_id = lambda row, rid: dict(row, id=rid) if "id" in row else dict(row)
    if op == "swap":
        rows[a], rows[b] = keep_id(rows[b], rows[a].get("id")), keep_id(rows[a], rows[b].get("id"))
    elif op == "copy":
        rows[b] = keep_id(rows[a], rows[b].get("id"))
    elif op == "delete":
        del rows[a]
    elif op == "again":  # one id twice
        rows.insert(b, dict(rows[a]))
    elif op == "cycle":  # a row's reference and another row's of the same table exchanged
        refs = [k for k in rows[a] if k in JSON_TABLE_OF and k in rows[b]]
        if refs:
            k = rng.choice(refs)
            rows[a][k], rows[b][k] = rows[b][k], rows[a][k]
    elif op == "kind":  # a reference given the id of a row of another table only
        refs = [k for k in rows[a] if k in JSON_TABLE_OF]
        if refs:
            k = rng.choice(refs)
            table = JSON_TABLE_OF[k]
            have = {r.get("id") for r in doc.get(table, []) if isinstance(r, dict)}
            elsewhere = [r.get("id") for t, v in tables.items() if t != table for r in v
                         if isinstance(r.get("id"), int) and r.get("id") not in have]
            value = rng.choice(elsewhere) if elsewhere else max([x for x in have if isinstance(x, int)] or [0]) + 1
            if isinstance(rows[a][k], list):
                rows[a][k] = (rows[a][k] or [0])[:]
                rows[a][k][rng.randrange(len(rows[a][k]))] = value
            else:
                rows[a][k] = value
    elif op == "splice" and other:
        try:
            odoc = json.loads(other)
        except ValueError:
            odoc = None
        if isinstance(odoc, dict):
            for t in rng.sample(sorted(tables), rng.randint(1, len(tables))):
                if t in odoc:
                    doc[t] = odoc[t]
    elif op == "cut":  # a table (or every one after it) cut short at a row
        k = rng.randrange(n)
        if rng.random() < 0.5:
            doc[name] = rows[:k]
        else:
            cut = False
            for t in list(doc):
                if t == name:
                    cut = True
                    doc[t] = rows[:k]
                elif cut and isinstance(doc[t], list):
                    doc[t] = []
    elif op == "entity":  # an attribute's entity of another kind under the same id
        owned = [r for r in doc.get("attributes", []) if isinstance(r, dict) and isinstance(r.get("entity"), dict)]
        if owned:
            r = rng.choice(owned)
            r["entity"]["kind"] = rng.choice(["body", "lump", "shell", "face", "loop", "coedge", "edge", "vertex",
                                              "wire", "attribute", "group", "layer", "x"])
    else:  # a number of one row at an edge value
        leaves = [(p, v) for p, v in json_paths(rows[a]) if p and isinstance(v, (int, float)) and
                  not isinstance(v, bool)]
        if leaves:
            path, v = rng.choice(leaves)
            parent = rows[a]
            for k in path[:-1]:
                parent = parent[k]
            if isinstance(v, float):
                parent[path[-1]] = rng.choice([0.0, -0.0, 5e-324, -5e-324, 1e-320, 2.2250738585072014e-308,
                                               1.7976931348623157e308, -1.7976931348623157e308])
            else:
                parent[path[-1]] = rng.choice([0, -1, -2, 2 ** 31 - 1, -2 ** 31, 2 ** 31, 2 ** 32, 2 ** 63 - 1,
                                               -2 ** 63, 2 ** 64])
    return json.dumps(doc, separators=(",", ":"), allow_nan=True).replace("},{", "},\n{").encode()


def structure(data, rng, kind, other=None):
    if kind == ".vlt":
        return vlt_structure(data, rng, other)
    if kind == ".step":
        return step_structure(data, rng, other)
    if kind == ".iges":
        return iges_structure(data, rng, other)
    if kind == ".brep":
        return brep_structure(data, rng, other)
    if kind == ".json":
        return json_structure_rows(data, rng, other)
    return odd_numbers(data, rng)


def record_boundaries(data, kind):
    """Where a file of this kind may be cut between records (the cut files, each ending at one)."""
    if kind == ".vlt":
        split = vlt_split(data)
        if not split:
            return []
        head, recs = split
        out, at = [], len(head)
        for r in recs:
            out.append(at)
            at += len(r)
        return out
    if kind == ".step":
        split = step_split(data)
        if not split:
            return []
        out, at = [], len(split[0])
        for r in split[1]:
            out.append(at)
            at += len(r)
        return out
    if kind == ".brep":
        split = brep_split(data)
        if not split:
            return []
        out, at = [], data.find(split[2][0]) if split[2] else -1
        for r in split[2]:
            out.append(at)
            at += len(r)
        return [o for o in out if o > 0]
    if kind == ".iges":
        ls, sec = iges_sections(data)
        starts, at = [], 0
        for l in ls:
            starts.append(at)
            at += len(l)
        ds = sec.get(b"D", [])
        return [starts[i] for i in ds[::2]] + [starts[i] for i in sec.get(b"P", [])]
    if kind == ".json":
        return [m.start() + 2 for m in re.finditer(rb"\},\n\{", data)]
    return []


def edge_numbers(data, rng, kind):
    """One to three numbers at the edges: zeros of either sign, denormals, the largest reals, counts of
    INT_MAX and beyond, negative counts (IGES fields kept within their columns)."""
    if kind == ".iges":
        ls = lines_of(data)
        candidates = [i for i, l in enumerate(ls) if len(l) >= 73 and l[72:73] in (b"D", b"P")]
        for _ in range(rng.randint(1, 3)):
            if not candidates:
                break
            i = rng.choice(candidates)
            line = ls[i]
            fields = list(NUMBER.finditer(line[:64] if line[72:73] == b"P" else line[:72]))
            if not fields:
                continue
            f = rng.choice(fields)
            value = edge_number(rng, f.group(0))
            if line[72:73] == b"D":
                start = (f.start() // 8) * 8
                ls[i] = line[:start] + value[-8:].rjust(8) + line[start + 8:]
            else:
                body = line[:f.start()] + value + line[f.end():64]
                if len(body.rstrip()) <= 64:
                    ls[i] = body[:64].ljust(64) + line[64:]
        return b"".join(ls)
    matches = list(NUMBER.finditer(data))
    for _ in range(rng.randint(1, 3)):
        m = pick(rng, matches)
        if not m:
            break
        data = data[:m.start()] + edge_number(rng, m.group(0)) + data[m.end():]
        matches = list(NUMBER.finditer(data))
    return data


MUTATORS = {
    "flip": lambda d, r, k: flip_bytes(d, r),
    "truncate": lambda d, r, k: truncate(d, r),
    "repeat": lambda d, r, k: repeat_lines(d, r),
    "drop": lambda d, r, k: drop_lines(d, r),
    "swap": lambda d, r, k: swap_lines(d, r),
    "numbers": lambda d, r, k: iges_numbers(d, r) if k == ".iges" else odd_numbers(d, r),
    "references": references,
    "counts": inflate_counts,
    "parameters": entity_parameters,
    "edges": edge_numbers,
}


def mutate(data, kind, rng, others=()):
    """`data` damaged by one to three mutations; `others`, files of the same kind, for splicing."""
    names = list(MUTATORS) + ["structure"]
    if kind == ".json":
        names += ["json"] * 3
    if kind in (".step", ".iges", ".json"):
        names += ["parameters"] * 2
    # The structural and edge-number mutations, the newest, drawn most often.
    names += ["structure"] * 6 + ["edges"] * 2
    applied = []
    for _ in range(rng.choice([1, 1, 1, 2, 3])):
        name = rng.choice(names)
        applied.append(name)
        if name == "json":
            data = json_structure(data, rng)
        elif name == "structure":
            data = structure(data, rng, kind, rng.choice(others) if others else None)
        else:
            data = MUTATORS[name](data, rng, kind)
        if not data:
            data = b"x"
    return data, "+".join(applied)


def boundary_cases(seeds, per_seed):
    """(name, kind, data, how) of each seed cut at up to `per_seed` of its record boundaries, spread
    evenly; a save file's cuts alternately with the header's count mended, a STEP file's with its
    trailer."""
    for name, kind, data in seeds:
        cuts = record_boundaries(data, kind)
        if not cuts or per_seed <= 0:
            continue
        step = max(1, len(cuts) // per_seed)
        for n, at in enumerate(cuts[::step][:per_seed]):
            cut = data[:at]
            if n % 2 and kind == ".vlt":
                split = vlt_split(cut)
                if split:
                    cut = vlt_counts(split[0], len(split[1]),
                                     top=min(int((VLT_HEAD.search(split[0]) or [0, 0, 0, 0])[3]), len(split[1]))
                                     ) + b"".join(split[1])
            elif n % 2 and kind == ".step":
                cut += b"ENDSEC;\nEND-ISO-10303-21;\n"
            yield name, kind, cut, "cut at record boundary %d of %d" % (n * step, len(cuts))


# ---------------------------------------------------------------------------
# Reduction: pieces of the input dropped while it fails the same way.

def reduce_input(data, still_fails, budget):
    runs = 0

    def attempt(candidate):
        nonlocal runs
        runs += 1
        return candidate and still_fails(candidate)

    for unit in ("lines", "bytes"):
        if unit == "lines":
            parts = lines_of(data)
        else:
            if len(data) > 4096:
                break
            parts = [data[i:i + 1] for i in range(len(data))]
        chunk = max(1, len(parts) // 2)
        while chunk >= 1 and runs < budget:
            i, changed = 0, False
            while i < len(parts) and runs < budget:
                candidate = parts[:i] + parts[i + chunk:]
                if attempt(b"".join(candidate)):
                    parts, changed = candidate, True
                else:
                    i += chunk
            if not changed:
                chunk //= 2
        data = b"".join(parts)
    return data, runs


# ---------------------------------------------------------------------------
# Seeds.

# Placements of a whole BREP file's shape: a turn about a tilted axis with a
# shift, and a mirror in a tilted plane (rows of a 3x4 matrix).
PLACEMENTS = [
    ("turned", [[0.36, 0.48, -0.8, 7.0], [-0.8, 0.6, 0.0, -3.0], [0.48, 0.64, 0.6, 2.5]]),
    ("mirrored", [[0.5392, -0.576, -0.6144, 1.0], [-0.576, 0.28, -0.768, 2.0], [-0.6144, -0.768, 0.1808, -4.0]]),
]


def placed_brep(data, rows):
    """The BREP text with its top shape placed by one more location, or None."""
    head = re.search(rb"^Locations (\d+)\s*$", data, re.M)
    tail = re.search(rb"\n([-+])(\d+) (\d+) *\n[^\n]*\s*$", data)
    table_end = re.search(rb"^Curve2ds ", data, re.M)
    if not head or not tail or not table_end:
        return None
    count = int(head.group(1)) + 1
    entry = b"1\n" + b"".join(b" ".join(b"%.17g" % v for v in row) + b"\n" for row in rows)
    if tail.group(3) != b"0":  # already placed: the new placement after the old one
        entry += b"2  %d 1 %d 1 0\n" % (count, int(tail.group(3)))
        count += 1
    data = (data[:tail.start()] + b"\n%s%s %d \n" % (tail.group(1), tail.group(2), count) +
            data[tail.end(3):].lstrip(b" ").split(b"\n", 1)[1])
    data = data[:table_end.start()] + entry + data[table_end.start():]
    return data[:head.start(1)] + b"%d" % count + data[head.end(1):]


def gather_seeds(runner, args):
    folder = args.seeds
    os.makedirs(folder, exist_ok=True)
    seeds = []

    def add(path):
        with open(path, "rb") as f:
            seeds.append((os.path.basename(path), kind_of(path), f.read()))

    cad = []
    for base, _, files in os.walk(SAMPLES):
        for name in files:
            path = os.path.join(base, name)
            if kind_of(path) in (".step", ".iges", ".brep") and os.path.getsize(path) <= args.max_seed_bytes:
                cad.append(path)
    cad.sort(key=os.path.getsize)
    # The smallest BREP samples placed by a turn and by a mirror: their
    # conversions (save files, documents, STEP and IGES files) carry the
    # placement into everything made of them.
    for path in [c for c in cad if kind_of(c) == ".brep"][:args.placed_seeds]:
        with open(path, "rb") as f:
            data = f.read()
        for name, rows in PLACEMENTS:
            target = os.path.join(folder, "%s-%s" % (name, os.path.basename(path)))
            placed = placed_brep(data, rows)
            if placed:
                with open(target, "wb") as f:
                    f.write(placed)
                cad.insert(0, target)
    cad.insert(0, os.path.join(ROOT, "examples", "bracket.step"))
    # STEP, IGES and BREP files as the driver writes them, of the smallest
    # samples (the samples' own STEP and IGES models are large).
    for path in cad[:args.converted_seeds]:
        for kind in (".step", ".iges", ".brep"):
            target = os.path.join(folder, "written-" + os.path.splitext(os.path.basename(path))[0] + kind)
            if kind_of(path) != kind and not os.path.exists(target):
                runner.run([runner.xvelm, "convert", path, target], folder, timeout=600)
            if os.path.exists(target):
                cad.append(target)
    for path in cad:
        add(path)
    vlts = [os.path.join(ROOT, "examples", n) for n in sorted(os.listdir(os.path.join(ROOT, "examples")))
            if n.endswith(".vlt")]
    # The tests' builders: a save file holding every persistent class.
    tests = os.path.join(runner.build, "tests", "test_persist")
    if os.path.exists(tests):
        env = dict(runner.env, XVELM_FUZZ_SEEDS=folder)
        subprocess.run([tests, "--gtest_filter=DamagedFiles.EveryClassFileRestores"], env=env,
                       capture_output=True, cwd=folder)
        vlts += sorted(os.path.join(folder, n) for n in os.listdir(folder)
                       if n.endswith(".vlt") and n.startswith("test-"))
    # The smallest samples as the kernel holds them after an import.
    for path in cad[:args.converted_seeds]:
        target = os.path.join(folder, "converted-" + os.path.splitext(os.path.basename(path))[0] + ".vlt")
        if not os.path.exists(target):
            runner.run([runner.xvelm, "convert", path, target], folder, timeout=600)
        if os.path.exists(target):
            vlts.append(target)
    # The save files' bodies as the driver writes them into each other kind.
    for path in vlts[:args.converted_seeds]:
        for kind in (".step", ".iges", ".brep"):
            target = os.path.join(folder, "written-" + os.path.splitext(os.path.basename(path))[0] + kind)
            if not os.path.exists(target):
                runner.run([runner.xvelm, "convert", path, target], folder, timeout=600)
            if os.path.exists(target):
                add(target)
    for path in vlts:
        add(path)
        doc = os.path.join(folder, "exported-" + os.path.splitext(os.path.basename(path))[0] + ".json")
        if not os.path.exists(doc):
            runner.run([runner.xvelm, "export", path, doc], folder, timeout=600)
        if os.path.exists(doc):
            add(doc)
    return seeds


# ---------------------------------------------------------------------------

class Faults:
    def __init__(self, folder, runner, args):
        self.folder = folder
        self.runner = runner
        self.args = args
        self.seen = {}
        self.lock = threading.Lock()

    def keep(self, data, in_kind, verb, out_kind, fault, how, result):
        kind, signature, why = fault
        key = hashlib.sha1(("%s|%s|%s" % (kind, signature, in_kind)).encode()).hexdigest()[:10]
        with self.lock:
            self.seen[key] = self.seen.get(key, 0) + 1
            if self.seen[key] > 1:
                return False
        case = os.path.join(self.folder, "%s-%s" % (kind, key))
        os.makedirs(case, exist_ok=True)
        with open(os.path.join(case, "input" + in_kind), "wb") as f:
            f.write(data)
        reduced, runs = data, 0
        if self.args.reduce_runs > 0 and kind != "hang":
            def same(candidate):
                again, _ = run_case(self.runner, candidate, in_kind, verb, out_kind)
                return again is not None and again[0] == kind and again[1] == signature
            reduced, runs = reduce_input(data, same, self.args.reduce_runs)
        with open(os.path.join(case, "reduced" + in_kind), "wb") as f:
            f.write(reduced)
        with open(os.path.join(case, "report.txt"), "w") as f:
            f.write("kind: %s\nsignature: %s\nwhy: %s\nmutation: %s\ncommand: xvelm %s input%s %s\n"
                    "status: %s\ninput: %d bytes, reduced to %d in %d runs\n\n--- stdout\n%s\n--- stderr\n%s\n"
                    % (kind, signature, why, how, verb, in_kind, ("output" + out_kind) if out_kind else "",
                       result[0], len(data), len(reduced), runs, result[1][-4000:], result[2][-20000:]))
        return True


# The columns of the counts table, by kind of fault.
COLUMN_OF = {"crash": "crashes", "hang": "hangs", "sanitizer": "sanitizer reports", "leak": "sanitizer reports",
             "memory": "memory limit", "invalid-output": "accepted, checker refuses", "noplace": "refusals naming no place",
             "pairing": "other"}
COLUMNS = ["runs", "crashes", "hangs", "sanitizer reports", "memory limit", "accepted, checker refuses",
           "refusals naming no place", "other"]


def counts_table(table):
    """The counts as a Markdown table, a row per input kind and a total."""
    rows = sorted(table.items())
    total = {c: sum(r.get(c, 0) for _, r in rows) for c in COLUMNS}
    lines = ["| input | verbs | " + " | ".join(COLUMNS) + " |", "|" + "---|" * (len(COLUMNS) + 2)]
    for kind, r in rows + [("all", total)]:
        verbs = ", ".join(sorted(r.get("verbs", ()))) if kind != "all" else ""
        lines.append("| %s | %s | %s |" % (kind, verbs, " | ".join(str(r.get(c, 0)) for c in COLUMNS)))
    return "\n".join(lines) + "\n"


def replay(runner, paths):
    failed = 0
    for path in paths:
        with open(path, "rb") as f:
            data = f.read()
        kind = kind_of(path)
        for verb, out_kind in verbs_for(kind):
            fault, result = run_case(runner, data, kind, verb, out_kind)
            tag = "FAULT %s: %s: %s" % fault if fault else "ok (status %s)" % result[0]
            print("%s: %s%s: %s" % (path, verb, " -> " + out_kind if out_kind else "", tag), flush=True)
            failed += fault is not None
    return 1 if failed else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build-asan"), help="build folder (default build-asan)")
    parser.add_argument("--minutes", type=float, default=10.0, help="how long to fuzz")
    parser.add_argument("--runs", type=int, default=0, help="stop after this many runs (0: by time)")
    parser.add_argument("--jobs", type=int, default=1, help="runs at once (1-2 on a shared machine)")
    parser.add_argument("--timeout", type=float, default=60.0, help="seconds a run may take")
    parser.add_argument("--memory-mb", type=int, default=3072, help="memory a run may take")
    parser.add_argument("--max-seed-bytes", type=int, default=60000, help="largest sample model taken as a seed")
    parser.add_argument("--converted-seeds", type=int, default=40,
                        help="samples converted into save-file, STEP, IGES and BREP seeds")
    parser.add_argument("--placed-seeds", type=int, default=4,
                        help="BREP samples also taken turned and mirrored (into every kind)")
    parser.add_argument("--reduce-runs", type=int, default=60, help="runs spent reducing each new fault")
    parser.add_argument("--boundary-cuts", type=int, default=12,
                        help="cuts at record boundaries run of each seed (0: none)")
    parser.add_argument("--boundary-share", type=float, default=0.3,
                        help="share of the runs spent on those cuts until they are all run")
    parser.add_argument("--seed", type=int, default=None, help="random seed (default: from the clock)")
    parser.add_argument("--kinds", default=".vlt,.json,.step,.iges,.brep", help="input kinds to fuzz")
    parser.add_argument("--outputs", default=None,
                        help="output kinds to write (e.g. .iges; 'none' for info; default every kind)")
    parser.add_argument("--out", default=None, help="where faults are kept (default BUILD/fuzz)")
    parser.add_argument("--replay", nargs="+", metavar="FILE", help="judge these inputs under every verb and stop")
    args = parser.parse_args()

    out = os.path.abspath(args.out or os.path.join(args.build, "fuzz"))
    os.makedirs(out, exist_ok=True)
    args.work = tempfile.mkdtemp(prefix="work-", dir=out)
    args.seeds = os.path.join(out, "seeds")  # kept: converting the samples takes a while
    runner = Runner(args)
    if not os.path.exists(runner.xvelm):
        sys.exit("fuzz.py: no driver at %s (build first: XVELM_SANITIZE=1 bash scripts/build.sh)" % runner.xvelm)
    if not os.path.exists(runner.peer):
        subprocess.run(["cmake", "--build", runner.build, "--target", "fuzz_peer"], capture_output=True)
    try:
        if args.replay:
            return replay(runner, args.replay)
        seed = args.seed if args.seed is not None else int(time.time())
        rng = random.Random(seed)
        kinds = args.kinds.split(",")
        seeds = [s for s in gather_seeds(runner, args) if s[1] in kinds]
        by_kind = {}
        for s in seeds:
            by_kind.setdefault(s[1], []).append(s)
        print("fuzz.py: random seed %d, %d seed files (%s), driver %s%s" % (
            seed, len(seeds), ", ".join("%d %s" % (len(v), k) for k, v in sorted(by_kind.items())), runner.xvelm,
            " (sanitizers)" if runner.sanitized else ""), flush=True)
        outputs = set(args.outputs.split(",")) if args.outputs else None

        def verbs_of(kind):
            chosen = [v for v in verbs_for(kind) if outputs is None or (v[1] or "none") in outputs]
            return chosen or verbs_for(kind)

        faults = Faults(os.path.join(out, "faults"), runner, args)
        started = time.monotonic()
        deadline = started + args.minutes * 60
        counts = {"runs": 0, "passed": 0, "refused": 0, "faults": 0}
        by_input = {}
        refusals = {}
        # The counts table: per input kind, the runs and each kind of fault.
        table = {}
        lock = threading.Lock()

        # Every seed cut at record boundaries (up to --boundary-cuts a seed), a share of the runs
        # until all are cut, the rest random damage.
        sweep = boundary_cases(seeds, args.boundary_cuts)
        sweep_lock = threading.Lock()

        def one(job_rng):
            cut = None
            if job_rng.random() < args.boundary_share:
                with sweep_lock:
                    cut = next(sweep, None)
            if cut:
                name, kind, mutated, how = cut
            else:
                kind = job_rng.choice(sorted(by_kind))
                name, _, data = job_rng.choice(by_kind[kind])
                mutated, how = mutate(data, kind, job_rng, [s[2] for s in by_kind[kind] if s[0] != name])
            verb, out_kind = job_rng.choice(verbs_of(kind))
            fault, result = run_case(runner, mutated, kind, verb, out_kind)
            with lock:
                counts["runs"] += 1
                by_input[kind] = by_input.get(kind, 0) + 1
                if counts["runs"] % 500 == 0:
                    print("fuzz.py: %d runs, %d faulty, %.0f minutes" % (counts["runs"], counts["faults"],
                                                                       (time.monotonic() - started) / 60), flush=True)
                row = table.setdefault(kind, {"runs": 0})
                row["runs"] += 1
                row.setdefault("verbs", set()).add(verb + (" " + out_kind if out_kind else ""))
                if fault:
                    row[COLUMN_OF.get(fault[0], "other")] = row.get(COLUMN_OF.get(fault[0], "other"), 0) + 1
                    counts["faults"] += 1
                else:
                    counts["passed" if result[0] == 0 else "refused"] += 1
                    if result[0] == 1:
                        # What refusals said, by kind: a damaged save file should be refused by the
                        # restore's damage error, not by what a later step made of it.
                        last = [l for l in result[2].splitlines() if l.startswith("xvelm: ")][-1:]
                        key = "%s %s: %s" % (kind, verb, normalised(re.sub(r"^xvelm: [^:]*: ", "", last[0]))
                                             if last else "")
                        refusals[key] = refusals.get(key, 0) + 1
            if fault and faults.keep(mutated, kind, verb, out_kind, fault, "%s of %s" % (how, name), result):
                print("fuzz.py: %s (%s) from %s of %s, %s %s: %s" % (fault[0], fault[1], how, name, verb,
                                                                      out_kind or "", fault[2][:160]), flush=True)

        with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, args.jobs)) as pool:
            pending = set()
            while True:
                stop = time.monotonic() > deadline or (args.runs and counts["runs"] + len(pending) >= args.runs)
                while not stop and len(pending) < max(1, args.jobs):
                    pending.add(pool.submit(one, random.Random(rng.getrandbits(64))))
                    stop = args.runs and counts["runs"] + len(pending) >= args.runs
                if not pending:
                    break
                done, pending = concurrent.futures.wait(pending, return_when=concurrent.futures.FIRST_COMPLETED)
                for d in done:
                    d.result()
        print("fuzz.py: %d runs (%s): %d converted or described, %d refused cleanly, %d faulty "
              "(%d distinct, kept under %s)" % (counts["runs"], ", ".join("%d %s" % (v, k) for k, v in
                                                                         sorted(by_input.items())),
                                                counts["passed"], counts["refused"], counts["faults"],
                                                len(faults.seen), faults.folder), flush=True)
        text = counts_table(table)
        print(text, flush=True)
        with open(os.path.join(out, "counts.md"), "w") as f:
            f.write(text)
        with open(os.path.join(out, "refusals.txt"), "w") as f:
            for key, n in sorted(refusals.items(), key=lambda kv: -kv[1]):
                f.write("%6d %s\n" % (n, key))
        return 1 if faults.seen else 0
    finally:
        shutil.rmtree(args.work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
