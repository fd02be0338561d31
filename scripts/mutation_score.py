#!/usr/bin/env python3
"""Measures what the tests catch: makes small faults in the product code, one at
a time, rebuilds what they touch, runs the tests that cover that code and
counts the faults that a test catches (a failure, a crash or a hang).

Run it through scripts/mutation-score.sh, which starts the Wine test
environment first. It works in the build folder it is given, edits the
sources in place and always puts them back.

Faults (one per source line and kind, picked in a fixed pseudo-random order
so that two runs over the same code make the same faults):
  cmp      a comparison negated          (a < b  ->  a >= b, == -> !=)
  logic    && and || swapped, a ! dropped
  const    an integer constant one higher
  call     a call statement dropped
  return   an early return of an error or result removed
  swap     the two arguments of a call swapped
  bool     true and false swapped

A fault that does not compile is not counted. Nor is one that changes
nothing observable, recognised in two ways:
  - after stripping debug information its object files are byte for byte
    those of the unchanged source (code the compiler folds away, a branch
    for the other word size, a constant nobody reads);
  - it is listed in scripts/mutation-equivalent.jsonl, faults that reading
    the code shows no user or caller can see, each with the reason. They
    are recorded as "equivalent" and not built.
"""
import argparse
import hashlib
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# The tests that cover each folder, cheapest first: a gtest executable by
# name (all its enabled cases, in one process) or a ctest test by name.
SETS = {
    "corvane/engine": ["engine_tests", "server_object_tests", "server_embedding_tests",
                       "realmedia_conversion_tests", "realmedia_conversion_cp936",
                       "realmedia_output_check", "output_safety_tests"],
    "corvane/server": ["corvane_register", "server_registrar_tests", "server_object_tests",
                       "server_registration_tests", "server_typelib_tests",
                       "server_embedding_tests", "server_script_host_cp1252",
                       "server_script_host_cp936"],
    "filters": ["filter_pack_registration_tests", "realmedia_core_tests", "realmedia_filter_tests",
                "filter_pack_tests", "filter_pack_outputs_ffprobe", "output_safety_tests",
                "fuzz_realmedia_regression", "realmedia_conversion_tests",
                "realmedia_conversion_cp936", "realmedia_output_check"],
    "vellumo": ["program_unit_tests", "program_window_tests", "program_batch_tests",
                "program_batch_output_check", "program_gui_tests"],
}
# Folders whose outputs a check reads: emptied before each fault's tests.
OUTPUT_DIRS = ["test-output/realmedia", "test-output/batch", "bin/filter-outputs"]
SHIPPED = ["bin/corvane.dll", "bin/vellumo_filters.dll", "bin/vellumo.exe"]

OPS = ["cmp", "logic", "const", "call", "return", "swap", "bool"]
CMP = {"==": "!=", "!=": "==", "<": ">=", ">=": "<", ">": "<=", "<=": ">"}
# Calls whose two arguments may be swapped without changing anything.
SYMMETRIC = {"IsEqualIID", "IsEqualGUID", "IsEqualCLSID", "InlineIsEqualGUID", "min", "max"}
KEYWORDS = {"return", "delete", "throw", "case", "else", "if", "for", "while", "switch", "do",
            "sizeof", "static_assert", "goto", "new", "co_return", "using", "typedef"}


def masked(line):
    """The line with string/char literals and comments blanked, same length."""
    out, i, n = [], 0, len(line)
    while i < n:
        c = line[i]
        if line.startswith("//", i):
            out.append(" " * (n - i))
            break
        if c in "\"'":
            j = i + 1
            while j < n and line[j] != c:
                j += 2 if line[j] == "\\" else 1
            j = min(j + 1, n)
            out.append(c + " " * (j - i - 2) + (c if j - i >= 2 else ""))
            i = j
            continue
        out.append(c)
        i += 1
    return "".join(out)[:n]


def sites_of_line(line, prev=""):
    """(op, start, end, replacement) for each fault the line allows."""
    code = masked(line)
    s = code.strip()
    if not s or s.startswith("#include") or s.startswith("#pragma") or s.startswith("*") \
            or s.startswith("/*") or s.startswith("static_assert") or s.startswith("extern \"C\""):
        return []
    found = []
    for m in re.finditer(r"(?<=\s)(==|!=|<=|>=|<|>)(?=\s)", code):
        found.append(("cmp", m.start(), m.end(), CMP[m.group(1)]))
    for m in re.finditer(r"(?<=\s)(&&|\|\|)(?=\s)", code):
        found.append(("logic", m.start(), m.end(), "||" if m.group(1) == "&&" else "&&"))
    for m in re.finditer(r"\((!)(?!=)", code):
        found.append(("logic", m.start(1), m.end(1), ""))
    if not s.startswith("#"):
        for m in re.finditer(r"(?<![\w.])(\d+)(?![\w.'])", code):
            if s.startswith("case ") or "[" in code[max(0, m.start() - 1):m.start()]:
                continue
            found.append(("const", m.start(), m.end(), str(int(m.group(1)) + 1)))
    m = re.match(r"^(\s*)((?:\w+(?:::|->|\.))*(\w+)\(.*\);)\s*$", code)
    if m and m.group(3) not in KEYWORDS and not re.match(r"^\s*[\w:<>]+\s+[\w:]+\(", code) \
            and not s.startswith("return") and code.count("(") == code.count(")"):
        found.append(("call", m.start(2), len(code.rstrip()), ";"))
    # An early return: "if (...) return X;", or an error returned alone
    # inside an if block (never a function's last statement).
    m = re.search(r"\breturn\s+([^;]+);\s*$", code)
    if m and re.match(r"^\s*(\} else )?if\s*\(", code):
        found.append(("return", m.start(), m.end(), ";"))
    elif m and s.startswith("return") and re.match(r"(E_|VFW_E_|false|FALSE|S_FALSE|nullptr|HRESULT_FROM_WIN32)", m.group(1)) \
            and re.match(r"^\s*(\} else )?if\s*\(.*\{\s*$", masked(prev)):
        found.append(("return", m.start(), m.end(), ";"))
    for m in re.finditer(r"\b\w+\(\s*([\w.>\-&*]+)\s*,\s*([\w.>\-&*]+)\s*\)", code):
        a, b = m.group(1), m.group(2)
        callee = code[m.start():m.start(1) - 1].strip()
        if a != b and callee not in SYMMETRIC:
            found.append(("swap", m.start(1), m.end(2), b + code[m.end(1):m.start(2)] + a))
    for m in re.finditer(r"\b(true|false|TRUE|FALSE)\b", code):
        flip = {"true": "false", "false": "true", "TRUE": "FALSE", "FALSE": "TRUE"}[m.group(1)]
        found.append(("bool", m.start(), m.end(), flip))
    return found


def sources(folder):
    out = []
    for root, _, files in os.walk(os.path.join(REPO, folder)):
        for f in files:
            if f.endswith((".cpp", ".c")):
                out.append(os.path.relpath(os.path.join(root, f), REPO))
    return sorted(out)


def candidates(folder, seed):
    """Every possible fault of a folder, in the order they are tried. Keyed by
    the line's text (not its file or number), so moving code between files
    keeps the same faults."""
    seen, cands = {}, []
    for path in sources(folder):
        with open(os.path.join(REPO, path), encoding="utf-8") as f:
            lines = f.read().split("\n")
        for no, line in enumerate(lines):
            for op, a, b, repl in sites_of_line(line, lines[no - 1] if no else ""):
                key = "%s|%s|%s|%d|%s" % (folder, op, line.strip(), a - (len(line) - len(line.lstrip())), repl)
                seen[key] = seen.get(key, 0) + 1
                key += "|%d" % seen[key]
                h = hashlib.sha1((seed + key).encode()).hexdigest()
                cands.append({"id": h[:12], "op": op, "file": path, "line": no + 1,
                              "start": a, "end": b, "repl": repl, "text": line.strip(), "rank": h})
    by_op = {op: sorted([c for c in cands if c["op"] == op], key=lambda c: c["rank"]) for op in OPS}
    ordered, i = [], 0
    while any(by_op.values()):
        op = OPS[i % len(OPS)]
        if by_op[op]:
            ordered.append(by_op[op].pop(0))
        i += 1
    return ordered


class Build:
    def __init__(self, build):
        self.dir = build
        self.pristine = {}
        self.read_ninja()

    def read_ninja(self):
        self.objects = {}
        rule = re.compile(r"^build (\S+\.obj): C(?:XX)?_COMPILER__\S+ (\S+)")
        with open(os.path.join(self.dir, "build.ninja")) as f:
            for line in f:
                m = rule.match(line)
                if m:
                    src = os.path.relpath(m.group(2), REPO)
                    self.objects.setdefault(src, []).append(m.group(1))

    def ninja(self, targets):
        r = subprocess.run(["ninja", "-C", self.dir, "-j2"] + targets,
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        return r.returncode == 0, r.stdout

    def stripped(self, obj):
        out = os.path.join(self.dir, "mutation", "strip.tmp")
        os.makedirs(os.path.dirname(out), exist_ok=True)
        subprocess.run(["x86_64-w64-mingw32-objcopy", "--strip-debug", os.path.join(self.dir, obj), out], check=True)
        with open(out, "rb") as f:
            return f.read()

    def remember(self, src):
        if src not in self.pristine:
            self.pristine[src] = [self.stripped(o) for o in self.objects.get(src, [])]


class Runs:
    """The tests, as ctest knows them, grouped into runs: one process per
    gtest executable (its enabled cases joined into one filter)."""

    def __init__(self, build):
        js = subprocess.run(["ctest", "--show-only=json-v1"], cwd=build, stdout=subprocess.PIPE, text=True, check=True)
        self.runs, self.setup, self.cleanup = {}, [], []
        for t in json.loads(js.stdout)["tests"]:
            cmd = t.get("command") or []
            props = {p["name"]: p["value"] for p in t.get("properties", [])}
            if props.get("DISABLED") or not cmd:
                continue
            env = dict(e.split("=", 1) for e in props.get("ENVIRONMENT", []))
            wd = props.get("WORKING_DIRECTORY", build)
            timeout = props.get("TIMEOUT", 300)
            filt = [a for a in cmd if a.startswith("--gtest_filter=")]
            exe = next((os.path.basename(a)[:-4] for a in cmd if a.endswith(".exe")), None)
            if filt and exe and "with_pack_registered" not in " ".join(cmd):
                key = exe if self.runs.get(exe, {"env": env})["env"] == env else t["name"]
                run = self.runs.setdefault(key, {"cmd": [a for a in cmd if not a.startswith("--gtest_")],
                                                 "filters": [], "env": env, "cwd": wd, "timeout": 0, "exe": exe})
                run["filters"].append(filt[0][len("--gtest_filter="):])
                run["timeout"] += timeout
            else:
                self.runs[t["name"]] = {"cmd": cmd, "filters": None, "env": env, "cwd": wd, "timeout": timeout,
                                        "exe": exe}
                if t["name"] == "corvane_register" or props.get("FIXTURES_SETUP") and cmd[0].endswith("/sh"):
                    self.setup.append(t["name"])
                if props.get("FIXTURES_CLEANUP"):
                    self.cleanup.append(t["name"])

    def command(self, name):
        r = self.runs[name]
        cmd = list(r["cmd"])
        if r["filters"] is not None:
            cmd.append("--gtest_filter=" + ":".join(r["filters"]))
        return cmd

    def run(self, name, timeout=None):
        """pass, fail or hang; a hang's whole process group is killed."""
        r = self.runs[name]
        t0 = time.time()
        p = subprocess.Popen(self.command(name), cwd=r["cwd"], env=dict(os.environ, **r["env"]),
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, start_new_session=True)
        try:
            out, _ = p.communicate(timeout=timeout or r["timeout"])
            return ("pass" if p.returncode == 0 else "fail"), time.time() - t0, out[-3000:]
        except subprocess.TimeoutExpired:
            os.killpg(p.pid, signal.SIGKILL)
            out, _ = p.communicate()
            return "hang", time.time() - t0, out[-3000:]


# The filter pack's registration takes over entries of the platform's own
# filters and gives them back: a fault there can leave the prefix without
# them, and every later fault would fail the tests that need them. They are
# registered afresh after each fault in that folder.
PLATFORM_FILTERS = {"filters": ["quartz.dll", "qcap.dll"]}


def restore_platform(folder):
    for dll in PLATFORM_FILTERS.get(folder, []):
        subprocess.run([os.path.join(REPO, "scripts", "wine-run.sh"), "regsvr32", "/s", dll],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)


def write(c, text):
    with open(os.path.join(REPO, c["file"]), "w", encoding="utf-8") as f:
        f.write(text)


def apply(c):
    """Puts the fault into its file; returns the file's text as it was."""
    with open(os.path.join(REPO, c["file"]), encoding="utf-8") as f:
        text = f.read()
    lines = text.split("\n")
    line = lines[c["line"] - 1]
    lines[c["line"] - 1] = line[:c["start"]] + c["repl"] + line[c["end"]:]
    write(c, "\n".join(lines))
    return text


def equivalents():
    path = os.path.join(REPO, "scripts", "mutation-equivalent.jsonl")
    rows = [json.loads(line) for line in open(path) if line.strip()] if os.path.exists(path) else []
    return {(r["file"], r["op"], r["text"], r["repl"]): r["why"] for r in rows}


def relocate(r, current):
    """The fault of an earlier results file as it stands in today's sources
    (the same line text, kind and replacement; code may have moved since)."""
    same = [c for c in current if (c["op"], c["text"], c["repl"]) == (r["op"], r["text"], r["repl"])]
    same.sort(key=lambda c: (c["start"] != r["start"], c["file"] != r["file"], abs(c["line"] - r["line"])))
    return same[0] if same else None


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default=os.path.join(REPO, "build"))
    ap.add_argument("--folders", nargs="*", default=list(SETS))
    ap.add_argument("--count", type=int, default=40, help="faults that compile and change code, per folder")
    ap.add_argument("--shard", default="0/1", help="i/n: this process takes every n-th fault from the i-th")
    ap.add_argument("--seed", default="vellumo")
    ap.add_argument("--results", default=None, help="JSON lines, one per fault tried; reused to resume")
    ap.add_argument("--retry", default=None, help="a results file: its missed faults again, against these tests")
    ap.add_argument("--retry-outcome", default="missed", choices=("missed", "caught"),
                    help="with --retry: which of its faults (caught: does a trimmed suite still catch them?)")
    args = ap.parse_args()
    shard, shards = (int(x) for x in args.shard.split("/"))
    results_path = args.results or os.path.join(args.build, "mutation", "results.jsonl")
    os.makedirs(os.path.dirname(results_path), exist_ok=True)
    done = {}
    if os.path.exists(results_path):
        with open(results_path) as f:
            for line in f:
                r = json.loads(line)
                done[r["id"]] = r

    build = Build(args.build)
    ok, out = build.ninja([])
    if not ok:
        sys.exit("the unchanged tree does not build:\n" + out[-3000:])
    runs = Runs(args.build)
    for name in runs.setup:
        runs.run(name)
    # Every run passes on the unchanged code, and its time sets the time a
    # fault may take before it counts as a hang.
    needed = list(dict.fromkeys(n for f in args.folders for n in SETS[f]))
    saved = results_path + ".baseline"
    budget = json.load(open(saved)) if os.path.exists(saved) else {}
    for name in needed:
        if name not in runs.runs:
            sys.exit("no test run named %s" % name)
        if name in budget:
            continue
        status, secs, out = runs.run(name)
        if status != "pass":
            sys.exit("%s fails on the unchanged code:\n%s" % (name, out.decode(errors="replace")))
        budget[name] = max(60, 3 * secs + 30)
        print("baseline %-34s %6.1f s" % (name, secs), flush=True)
        json.dump(budget, open(saved, "w"))

    try:
        measure(args, build, runs, budget, done, results_path)
    finally:
        build.ninja([])
        for name in runs.cleanup:
            runs.run(name)
    report(results_path)


def try_fault(c, folder, args, build, runs, budget, targets):
    """Puts the fault in, rebuilds, runs the folder's tests and puts the
    source back: its outcome and the run that caught it."""
    build.remember(c["file"])
    original = apply(c)
    try:
        objs = build.objects.get(c["file"], [])
        ok, _ = build.ninja(objs)
        if not ok:
            return "not compiled", None
        if [build.stripped(o) for o in objs] == build.pristine[c["file"]]:
            return "same code", None
        ok, _ = build.ninja(targets)
        if not ok:
            return "not compiled", None
        for d in OUTPUT_DIRS:
            shutil.rmtree(os.path.join(args.build, d), ignore_errors=True)
        for name in SETS[folder]:
            status, _, _ = runs.run(name, budget[name])
            if status != "pass":
                return "caught", "%s (%s)" % (name, status)
        return "missed", None
    finally:
        write(c, original)
        restore_platform(folder)


def measure(args, build, runs, budget, done, results_path):
    shard, shards = (int(x) for x in args.shard.split("/"))
    stop = []
    signal.signal(signal.SIGTERM, lambda *_: stop.append(1))
    with open(results_path, "a") as results:
        for folder in args.folders:
            want = -(-args.count // shards)
            valid = sum(1 for r in done.values() if r["folder"] == folder and r["shard"] == args.shard
                        and r["outcome"] in ("caught", "missed"))
            targets = sorted({"bin/%s.exe" % runs.runs[n]["exe"] for n in SETS[folder] if runs.runs[n]["exe"]}
                             | set(SHIPPED))
            build.read_ninja()
            tries = candidates(folder, args.seed)
            if args.retry:
                old = [r for r in map(json.loads, open(args.retry)) if r["folder"] == folder and r["outcome"] == args.retry_outcome]
                tries = [c for c in (relocate(r, tries) for r in old) if c]
                if len(tries) < len(old):
                    print("%s: %d of the %d faults are on lines that are gone" % (folder, len(old) - len(tries), len(old)))
                want = len(tries)
            same = equivalents()
            for i, c in enumerate(tries):
                if valid >= want or stop:
                    break
                if i % shards != shard or c["id"] in done:
                    continue
                t0 = time.time()
                why = same.get((c["file"], c["op"], c["text"], c["repl"]))
                if why:
                    outcome, by = "equivalent", why
                else:
                    outcome, by = try_fault(c, folder, args, build, runs, budget, targets)
                rec = dict(c, folder=folder, shard=args.shard, outcome=outcome, by=by,
                           secs=round(time.time() - t0, 1))
                rec.pop("rank", None)
                results.write(json.dumps(rec, ensure_ascii=False) + "\n")
                results.flush()
                if outcome in ("caught", "missed"):
                    valid += 1
                print("%-14s %-8s %-7s %s:%d  %s  ->  %r%s" % (folder, outcome, c["op"], c["file"], c["line"],
                      c["text"][:70], c["repl"], "  [%s]" % by if by else ""), flush=True)


def report(path):
    rows = [json.loads(l) for l in open(path)]
    print("\nfolder           caught  missed  caught%   (not compiled, same code, equivalent: not counted)")
    for folder in SETS:
        r = [x for x in rows if x["folder"] == folder]
        if not r:
            continue
        caught = sum(x["outcome"] == "caught" for x in r)
        missed = sum(x["outcome"] == "missed" for x in r)
        skip = len(r) - caught - missed
        ops = " ".join("%s %d/%d" % (op, sum(x["op"] == op and x["outcome"] == "caught" for x in r),
                                     sum(x["op"] == op and x["outcome"] in ("caught", "missed") for x in r)) for op in OPS)
        print("%-16s %6d  %6d  %6.1f%%   (%d skipped)  %s" % (folder, caught, missed,
              100.0 * caught / max(1, caught + missed), skip, ops))
    for x in rows:
        if x["outcome"] in ("missed", "equivalent"):
            print("  %-10s %-6s %s:%d  %s  ->  %r" % (x["outcome"], x["op"], x["file"], x["line"], x["text"][:80], x["repl"]))


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1] == "--report":
        report(sys.argv[2])
    else:
        main()
