#!/usr/bin/env python3
"""Mutation check: do the tests notice one-line changes to the program?

Makes one-line mutants of the product sources with a fixed set of operators
(delete a statement; negate a condition; swap < and <=, > and >=, == and !=,
&& and ||; an integer constant c made c+1, c-1 or 0; a returned expression
made 0, 1 or nullptr), builds each in a copy of the source tree, and runs the
tests of the mutated file's folder. A mutant is killed when a test fails,
crashes or runs out of time, survives when every test passes, and is not
counted when it does not compile.

The worktree is never edited: the sources are copied to build/mutants/src and
mutated there, with the original put back after every mutant. Code that
builds on the host is checked in build/mutants/host (under the sanitizers);
the Windows-only code (ui/, the DIB part of image/, the TLS file, the
program's main) in build/mutants/windows, its tests under Wine. Where the
kernel cannot start 32-bit programs, that code is checked as a 64-bit build
in build/mutants/windows64, under Wine's 64-bit loader, as scripts/test.sh
runs it there.

Mutants the tests cannot observe because the behaviour is the same are listed
in tests/mutants-equivalent.txt as "file:line: original -> mutant  # reason";
they are matched by file, original and mutant text, the line only guiding.

  python3 scripts/mutants.py [FOLDER...] [--sample N --seed S] [--quick]
"""

import argparse
import fcntl
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
WORK = ROOT / "build" / "mutants"
COPY = WORK / "src"
FOLDERS = ["app", "core", "file", "http", "net", "image", "ui"]
# Only the host build uses these: never mutated.
EXCLUDED_DIRS = {"tests", "fuzz", "bench", "platform"}
EQUIVALENTS = ROOT / "tests" / "mutants-equivalent.txt"
# A fixed small sample of host-built code, a few minutes in all.
QUICK = {"folders": ["core", "file", "http"], "sample": 3, "seed": 16, "host_only": True}

# --- Mutant generation -------------------------------------------------------


def code_mask(text):
    """For each character: True where it is code, not a comment or literal."""
    mask = [True] * len(text)
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            mask[i:j] = [False] * (j - i)
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            mask[i:j] = [False] * (j - i)
            i = j
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            j = min(j + 1, n)
            mask[i:j] = [False] * (j - i)
            i = j
        else:
            i += 1
    return mask


SWAPS = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "==", "&&": "||", "||": "&&"}
RELATION = re.compile(r"(?<= )(<=|>=|==|!=|&&|\|\||<|>)(?= )")
CONSTANT = re.compile(r"(?<![\w.'])(0[xX][0-9a-fA-F]+|\d+)([uUlL]*)(?![\w.'])")
CONDITION = re.compile(r"\b(if|while) \(")
RETURN = re.compile(r"^(\s*return )(.+);(\s*)$")
DECLARATION = re.compile(
    r"^(?:(?:const|static|constexpr|unsigned|signed|volatile|inline|thread_local|struct|enum)\s+)*"
    r"[A-Za-z_][\w:]*(?:<[^;]*>)?[\s*&]+[A-Za-z_]\w*\s*(?:[=;\[{(,]|$)"
)
NOT_STATEMENTS = ("case ", "default:", "using ", "typedef ", "namespace ", "template",
                  "friend ", "static_assert", "extern ", "public:", "private:", "}", "{", "#")
ZERO, ONE = {"0", "false", "nullptr", "NULL"}, {"1", "true"}


def balanced(s):
    return all(s.count(a) == s.count(b) for a, b in ("()", "[]", "{}"))


def matching_paren(line, mask, start):
    depth = 0
    for k in range(start, len(line)):
        if not mask[k]:
            continue
        if line[k] == "(":
            depth += 1
        elif line[k] == ")":
            depth -= 1
            if depth == 0:
                return k
    return -1


def line_mutants(line, mask, previous_code):
    """The mutants of one line: (operator, mutated line) pairs."""
    out = []
    stripped = line.strip()
    if not stripped or stripped.startswith("#"):
        return out
    code = "".join(ch if m else " " for ch, m in zip(line, mask))
    for m in RELATION.finditer(code):
        op = m.group(1)
        out.append(("swap", line[: m.start()] + SWAPS[op] + line[m.end():]))
    for m in CONDITION.finditer(code):
        open_at = m.end() - 1
        close = matching_paren(line, mask, open_at)
        if close > 0:
            cond = line[open_at + 1: close]
            out.append(("negate", line[: open_at + 1] + "!(" + cond + ")" + line[close:]))
    for m in CONSTANT.finditer(code):
        digits, suffix = m.group(1), m.group(2)
        value = int(digits, 0)
        hexa = digits.lower().startswith("0x")
        replacements = []
        for v in (value + 1, value - 1, 0):
            if v < 0 or v == value or v in replacements:
                continue
            replacements.append(v)
        for v in replacements:
            text = (hex(v) if hexa else str(v)) + suffix
            out.append(("constant", line[: m.start()] + text + line[m.end():]))
    code_stripped = code.strip()
    r = RETURN.match(line)
    if r and code_stripped.endswith(";") and balanced(code_stripped):
        expr = r.group(2).strip()
        for v in ("0", "1", "nullptr"):
            if (expr in ZERO and v in ZERO) or (expr in ONE and v in ONE):
                continue
            out.append(("return", r.group(1) + v + ";" + r.group(3)))
    elif (code_stripped.endswith(";") and balanced(code_stripped)
          and not code_stripped.startswith(NOT_STATEMENTS)
          and not code_stripped.startswith("return")
          and not DECLARATION.match(code_stripped)
          and (previous_code == "" or previous_code[-1] in ";{})" or previous_code.endswith("else")
               or previous_code.endswith(":"))):
        indent = line[: len(line) - len(line.lstrip())]
        out.append(("delete", indent + ";"))
    return out


def file_mutants(rel, text):
    lines = text.split("\n")
    mask = code_mask(text)
    result, offset, previous_code = [], 0, ""
    for number, line in enumerate(lines, 1):
        lmask = mask[offset: offset + len(line)]
        offset += len(line) + 1
        for op, mutated in line_mutants(line, lmask, previous_code):
            if mutated != line:
                result.append({"file": rel, "line": number, "op": op,
                               "original": line, "mutant": mutated})
        code = "".join(ch for ch, m in zip(line, lmask) if m).strip()
        if code:
            previous_code = code
    return result


def product_files(folder):
    return sorted(p.relative_to(ROOT).as_posix() for p in (ROOT / folder).rglob("*.cpp")
                  if p.relative_to(ROOT).parts[0] not in EXCLUDED_DIRS)


def read_equivalents():
    entries = []
    if not EQUIVALENTS.exists():
        return entries
    for raw in EQUIVALENTS.read_text().splitlines():
        if not raw.strip() or raw.lstrip().startswith("#"):
            continue
        body, _, reason = raw.rpartition("  # ")
        m = re.match(r"^(\S+?):(\d+): (.*) -> (.*)$", body)
        if not m or not reason.strip():
            sys.exit(f"{EQUIVALENTS.name}: not 'file:line: original -> mutant  # reason': {raw}")
        entries.append((m.group(1), m.group(3).strip(), m.group(4).strip()))
    return entries


def mutant_key(mutant):
    return (mutant["file"], mutant["original"].strip(), mutant["mutant"].strip())


def is_equivalent(mutant, entries):
    return mutant_key(mutant) in entries


def read_mutant_list(path):
    """Mutants named as the survivors are printed: "file:line: original -> mutant"."""
    keys = set()
    for raw in Path(path).read_text().splitlines():
        m = re.match(r"^\s*(\S+?):(\d+): (.*) -> (.*)$", raw)
        if m:
            keys.add((m.group(1), m.group(3).strip(), m.group(4).strip()))
    return keys


# --- Build trees ---------------------------------------------------------------


def run(cmd, **kw):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **kw)


def sync_copy():
    """Brings the copy up to the worktree; unchanged files keep their times."""
    COPY.mkdir(parents=True, exist_ok=True)
    cache = COPY / ".cache"
    if not cache.exists() and (ROOT / ".cache").exists():
        cache.symlink_to(ROOT / ".cache")
    for dirpath, dirnames, filenames in os.walk(ROOT):
        here = Path(dirpath)
        rel_dir = here.relative_to(ROOT)
        if rel_dir == Path("."):
            dirnames[:] = [d for d in dirnames if d not in (".git", "build", ".cache")]
        dirnames[:] = [d for d in dirnames if d != "__pycache__"]
        (COPY / rel_dir).mkdir(parents=True, exist_ok=True)
        for name in filenames:
            src, dst = here / name, COPY / rel_dir / name
            data = src.read_bytes()
            if not dst.exists() or dst.read_bytes() != data:
                dst.write_bytes(data)
                shutil.copymode(src, dst)


def preset_settings(tree):
    presets = json.loads((ROOT / "CMakePresets.json").read_text())
    for p in presets["configurePresets"]:
        if p["name"] == tree:
            return p
    sys.exit(f"no configure preset {tree}")


def testdata_dir():
    for up in (ROOT.parent, ROOT.parent.parent):
        if (up / "shared" / "testdata").is_dir():
            return up / "shared" / "testdata"
    return ROOT.parent / "shared" / "testdata"


def configure(tree):
    build = WORK / tree
    if (build / "build.ninja").exists():
        return build
    p = preset_settings(tree)
    cmd = ["cmake", "-S", str(COPY), "-B", str(build), "-DCMAKE_EXPORT_COMPILE_COMMANDS=ON",
           f"-DKESTRIN_TESTDATA={testdata_dir()}"]
    cmd += ["-G", "Ninja"]
    if "toolchainFile" in p:
        cmd.append("-DCMAKE_TOOLCHAIN_FILE=" + p["toolchainFile"].replace("${sourceDir}", str(COPY)))
    for k, v in p.get("cacheVariables", {}).items():
        cmd.append(f"-D{k}={v}")
    r = run(cmd)
    if r.returncode:
        print(r.stdout)
        sys.exit(f"configuring {build} failed")
    return build


def compiled_files(build):
    entries = json.loads((build / "compile_commands.json").read_text())
    out = set()
    for e in entries:
        f = Path(e["file"])
        if not f.is_absolute():
            f = Path(e["directory"]) / f
        try:
            out.add(f.resolve().relative_to(COPY.resolve()).as_posix())
        except ValueError:
            pass
    return out


def build_outputs(build):
    r = run(["ninja", "-C", str(build), "-t", "targets", "all"])
    return {line.split(":")[0] for line in r.stdout.splitlines() if ":" in line}


def folder_tests(build, folder):
    """The tests declared under tests/FOLDER, with the build outputs they run."""
    known = build_outputs(build)
    r = run(["ctest", "--show-only=json-v1"], cwd=build)
    info = json.loads(r.stdout)
    graph = info["backtraceGraph"]
    want = (COPY / "tests" / folder / "CMakeLists.txt").resolve().as_posix()
    tests = []
    for t in info["tests"]:
        node, files = t.get("backtrace"), set()
        while node is not None:
            files.add(graph["files"][graph["nodes"][node]["file"]])
            node = graph["nodes"][node].get("parent")
        if want not in {Path(f).resolve().as_posix() for f in files}:
            continue
        outputs = []
        for arg in t.get("command", []):
            a = Path(arg)
            if a.is_absolute() and str(a).startswith(str(build) + "/"):
                rel = a.relative_to(build).as_posix()
                if rel in known:
                    outputs.append(rel)
        if not t.get("command"):
            # Not built yet: CTest names no command; the test is its target.
            target = re.sub(r"_utf8$", "", t["name"])
            outputs = [target] if target in known else []
        tests.append({"name": t["name"], "outputs": outputs})
    return tests


def build_targets(build, targets, timeout=1800):
    cmd = ["cmake", "--build", str(build), "-j1", "--target"] + sorted(set(targets))
    try:
        r = run(["nice", "-n", "10"] + cmd, timeout=timeout)
    except subprocess.TimeoutExpired:
        return False, "build timed out"
    return r.returncode == 0, r.stdout


def run_tests(build, names, timeout, env):
    """True when every test passes within the time-out."""
    # One failure decides: the rest of a test program need not run.
    env = dict(env, GTEST_FAIL_FAST="1")
    regex = "^(" + "|".join(re.escape(n) for n in names) + ")$"
    cmd = ["nice", "-n", "10", "ctest", "--test-dir", str(build), "-R", regex, "--stop-on-failure"]
    # Output to a file: a Windows test's wineserver could hold a pipe open.
    with tempfile.TemporaryFile("w+") as out:
        p = subprocess.Popen(cmd, stdout=out, stderr=subprocess.STDOUT, text=True,
                             start_new_session=True, env=env)
        try:
            p.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(p.pid, signal.SIGKILL)
            p.wait()
            return False, "timed out"
        out.seek(0)
        return p.returncode == 0, out.read()


# --- Wine ----------------------------------------------------------------------


def windows_tree():
    """The Windows tree whose tests Wine can run on this machine."""
    r = subprocess.run(["bash", str(ROOT / "scripts" / "wine-kind.sh")], capture_output=True,
                       text=True)
    return "windows64" if r.stdout.strip() == "win64" else "windows"


class Wine:
    """The display and wineserver the Windows tests need, ended afterwards."""

    def __init__(self, tree):
        self.xvfb = None
        self.env = dict(os.environ)
        self.wine = "wine"
        if tree == "windows64":
            self.wine = "/usr/lib/wine/wine64"
            self.env.update(KESTRIN_WINEARCH="win64", WINEARCH="win64", WINELOADER=self.wine)
        self.env["KESTRIN_WINEPREFIX"] = str(WORK / ("wineprefix" + tree[len("windows"):]))

    def start(self):
        script = ("source scripts/wine-env.sh; kestrin_wine_prefix >/dev/null 2>&1; "
                  "if [ -z \"${DISPLAY:-}\" ] || [ -n \"${CI:-}\" ]; then "
                  "kestrin_private_display; echo \"XVFB=$kestrin_xvfb_pid\"; fi; "
                  "echo \"DISPLAY=$DISPLAY\"; echo \"WINEPREFIX=$WINEPREFIX\"")
        with tempfile.TemporaryFile("w+") as out:
            subprocess.run(["bash", "-c", script], cwd=ROOT, env=self.env, stdout=out,
                           stderr=subprocess.DEVNULL)
            out.seek(0)
            lines = out.read().splitlines()
        for line in lines:
            k, _, v = line.strip().partition("=")
            if k == "XVFB" and v:
                self.xvfb = int(v)
            elif k in ("DISPLAY", "WINEPREFIX"):
                self.env[k] = v
        self.env.setdefault("WINEARCH", "win32")
        self.env.setdefault("WINEDEBUG", "-all")
        self.env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml,winemenubuilder.exe=")
        # Output away from pipes: the wineserver and Wine's services outlive
        # the command that starts them and would hold a pipe open.
        quiet = {"stdin": subprocess.DEVNULL, "stdout": subprocess.DEVNULL,
                 "stderr": subprocess.DEVNULL, "env": self.env}
        subprocess.run(["wineserver", "-p"], **quiet)
        subprocess.run([self.wine, "cmd", "/c", "exit"], **quiet)

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        if self.xvfb:
            try:
                os.kill(self.xvfb, signal.SIGTERM)
            except ProcessLookupError:
                pass


# --- The check -------------------------------------------------------------------


def newest_time(build, outputs):
    times = [(build / o).stat().st_mtime for o in outputs if (build / o).exists()]
    return max(times) if times else 0.0


def check(args):
    equivalents = read_equivalents()
    sync_copy()
    windows = windows_tree()
    trees = ["host"] if args.host_only else ["host", windows]
    builds = {t: configure(t) for t in trees}
    # The compile database exists once something was generated.
    built_by = {}
    for t in reversed(trees):  # the host tree wins where both build a file
        for f in compiled_files(builds[t]):
            built_by[f] = t

    wine = Wine(windows)
    wine_started = False
    results = {}
    survivors = []
    rng_seed = args.seed
    started = time.time()
    try:
        for folder in args.folders:
            mutants = []
            for rel in product_files(folder):
                if rel in built_by and (not args.files or rel in args.files):
                    text = (COPY / rel).read_text(encoding="latin-1")
                    mutants += file_mutants(rel, text)
            if args.only is not None:
                mutants = [m for m in mutants if mutant_key(m) in args.only]
            if args.sample and len(mutants) > args.sample:
                mutants = random.Random(f"{rng_seed}:{folder}").sample(mutants, args.sample)
                mutants.sort(key=lambda m: (m["file"], m["line"], m["mutant"]))
            row = {"mutants": len(mutants), "killed": 0, "survived": 0, "equivalent": 0,
                   "not built": 0}
            results[folder] = row
            needed = sorted({built_by[m["file"]] for m in mutants})
            baseline = {}
            for t in needed:
                if t == windows and not wine_started:
                    wine.start()
                    wine_started = True
                tests = [x for x in folder_tests(builds[t], folder)
                         if not (args.skip_tests and re.search(args.skip_tests, x["name"]))]
                if not tests:
                    print(f"{folder} ({t}): no tests")
                    continue
                outputs = [o for test in tests for o in test["outputs"]]
                ok, log = build_targets(builds[t], outputs)
                if not ok:
                    print(log[-3000:])
                    sys.exit(f"{folder} ({t}): the unchanged tree does not build")
                tests = [x for x in folder_tests(builds[t], folder)
                         if not (args.skip_tests and re.search(args.skip_tests, x["name"]))]
                outputs = [o for test in tests for o in test["outputs"]]
                t0 = time.time()
                ok, log = run_tests(builds[t], [x["name"] for x in tests], 1800, wine.env)
                if not ok:
                    print(log[-3000:])
                    sys.exit(f"{folder} ({t}): the tests fail on the unchanged tree")
                baseline[t] = (tests, outputs, time.time() - t0)
                print(f"{folder} ({t}): {len(tests)} tests pass in {time.time() - t0:.0f} s; "
                      f"{len(mutants)} mutants", flush=True)
            for i, m in enumerate(mutants, 1):
                if is_equivalent(m, equivalents):
                    row["equivalent"] += 1
                    continue
                t = built_by[m["file"]]
                if t not in baseline:
                    row["mutants"] -= 1
                    continue
                tests, outputs, seconds = baseline[t]
                verdict = try_mutant(m, builds[t], tests, outputs, seconds, wine.env)
                row[verdict] += 1
                where = f"{m['file']}:{m['line']}: {m['original'].strip()} -> {m['mutant'].strip()}"
                if verdict == "survived":
                    survivors.append(where)
                if args.verbose:
                    print(f"  [{i}/{len(mutants)}] {verdict}: {where}", flush=True)
    finally:
        if wine_started:
            wine.stop()

    print_report(results, survivors, args, time.time() - started)
    (WORK / "survivors.txt").write_text("".join(s + "\n" for s in survivors))


def try_mutant(m, build, tests, outputs, seconds, env):
    path = COPY / m["file"]
    original = path.read_bytes()
    lines = original.decode("latin-1").split("\n")
    lines[m["line"] - 1] = m["mutant"]
    try:
        before = newest_time(build, outputs)
        path.write_bytes("\n".join(lines).encode("latin-1"))
        ok, _ = build_targets(build, outputs, timeout=600)
        if not ok:
            return "not built"
        # Only tests whose programs were made again can see the change.
        names = [t["name"] for t in tests if newest_time(build, t["outputs"]) > before]
        if not names:
            return "survived"
        passed, _ = run_tests(build, names, 3 * seconds + 30, env)
        return "survived" if passed else "killed"
    finally:
        path.write_bytes(original)


def print_report(results, survivors, args, seconds):
    print()
    print(f"{'folder':8} {'mutants':>8} {'killed':>7} {'survived':>9} {'equivalent':>11} "
          f"{'not built':>10} {'score':>7}")
    total_k = total_s = 0
    for folder, r in results.items():
        counted = r["killed"] + r["survived"]
        score = f"{100 * r['killed'] / counted:.0f} %" if counted else "-"
        print(f"{folder:8} {r['mutants']:8} {r['killed']:7} {r['survived']:9} {r['equivalent']:11} "
              f"{r['not built']:10} {score:>7}")
        total_k += r["killed"]
        total_s += r["survived"]
    if survivors:
        print("\nSurvivors:")
        for s in survivors:
            print("  " + s)
    counted = total_k + total_s
    score = f"{100 * total_k / counted:.0f} %" if counted else "-"
    sample = f"sample {args.sample} per folder, seed {args.seed}" if args.sample else "all mutants"
    if args.skip_tests:
        sample += f"; tests matching {args.skip_tests} left out"
    print(f"\nMutation score: {total_k} of {counted} killed ({score}); {sample}; "
          f"{seconds:.0f} s")


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("folders", nargs="*",
                    help="product folders, or single files in them (all folders by default)")
    ap.add_argument("--sample", type=int, default=0, help="mutants per folder, drawn at random")
    ap.add_argument("--seed", type=int, default=1, help="seed of the sample")
    ap.add_argument("--quick", action="store_true", help="a fixed small sample of host-built code")
    ap.add_argument("--host-only", action="store_true", help="only the code that builds on the host")
    ap.add_argument("--skip-tests", metavar="REGEX",
                    help="leave out the tests whose names match (say so with the figures)")
    ap.add_argument("--list", action="store_true", help="list the mutants without building them")
    ap.add_argument("--only", metavar="FILE",
                    help="only the mutants FILE names, one per line as survivors are printed "
                         "(the last run's are in build/mutants/survivors.txt)")
    ap.add_argument("-v", "--verbose", action="store_true", help="print each mutant's verdict")
    args = ap.parse_args()
    args.only = read_mutant_list(args.only) if args.only else None
    args.files = {f for f in args.folders if f.endswith(".cpp")}
    args.folders = list(dict.fromkeys(f.split("/")[0] if f.endswith(".cpp") else f
                                      for f in args.folders))
    if args.quick:
        args.folders = args.folders or QUICK["folders"]
        args.sample, args.seed, args.host_only = QUICK["sample"], QUICK["seed"], True
    args.folders = args.folders or FOLDERS
    for f in args.folders:
        if f not in FOLDERS:
            sys.exit(f"not a product folder: {f}")
    if args.list:
        for f in args.folders:
            for rel in product_files(f):
                if args.files and rel not in args.files:
                    continue
                for m in file_mutants(rel, (ROOT / rel).read_text(encoding="latin-1")):
                    print(f"{m['file']}:{m['line']}: [{m['op']}] {m['original'].strip()} -> "
                          f"{m['mutant'].strip()}")
        return
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("stopped"))
    # One check at a time: they share the source copy and the trees.
    WORK.mkdir(parents=True, exist_ok=True)
    with open(WORK / ".lock", "w") as lock:
        try:
            fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except OSError:
            sys.exit("another mutation check is running in build/mutants")
        check(args)


if __name__ == "__main__":
    main()
