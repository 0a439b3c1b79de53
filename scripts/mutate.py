#!/usr/bin/python3
"""Mutation testing of src/ against the test suite: how much of src/ the tests guard.

Small compilable changes are made to src/ one at a time; each is rebuilt and the
fast tests run until one fails. A mutant no test notices is a survivor. The mutant
list (scripts/mutants.tsv) is written once and reused, so that the same mutants can
be measured again after the suite changes; results are appended to a TSV in the
build folder, so an interrupted run picks up where it stopped. See docs/mutation.md.
"""
import argparse, fcntl, hashlib, json, os, random, re, signal, subprocess, sys, threading, time
from pathlib import Path

FOLDERS = ["ui", "app", "settings", "adapters", "monitor", "tray", "usage", "usagewindow",
           "platform/linux", "platform/qt", "platform/windows"]
NOT_BUILT_HERE = {"platform/windows"}  # only a Windows build folder compiles it
SEED, TOTAL, MINIMUM = "zarn-mutants-1", 150, 6
COLUMNS = ["id", "folder", "rank", "file", "line", "text", "occurrence", "op", "k", "before", "after"]
RESULT_COLUMNS = ["id", "file", "line", "op", "before", "after", "status", "test", "seconds"]
SKIP_LINE = re.compile(r"\b(qDebug|qInfo|qWarning|qCritical|qFatal|printf|fprintf|std::cerr|std::cout|"
                       r"static_assert|template|Q_OBJECT|Q_PROPERTY|Q_ENUM|Q_DECLARE_\w+|operator)\b")
# clang-format puts spaces around binary operators, which tells a comparison from a template.
OPS = {
    "cmp": (re.compile(r"(?<=\s)(<=|>=|==|!=|<|>)(?=\s)"),
            {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "=="}.get),
    "andor": (re.compile(r"(?<=\s)(&&|\|\|)(?=\s)"), {"&&": "||", "||": "&&"}.get),
    "int+1": (re.compile(r"(?<![\w.'])\d+(?![\w.'])"), lambda s: str(int(s) + 1)),
    "int-1": (re.compile(r"(?<![\w.'])[1-9]\d*(?![\w.'])"), lambda s: str(int(s) - 1)),
    "bool": (re.compile(r"\b(true|false)\b"), {"true": "false", "false": "true"}.get),
    "if-true": (re.compile(r"(?<=\bif \()(.+)(?=\)( \{)?\s*$)"), lambda s: "true"),
    "if-false": (re.compile(r"(?<=\bif \()(.+)(?=\)( \{)?\s*$)"), lambda s: "false"),
}
# An expression statement or assignment: a name, member or call, then a call or an
# assignment operator. A declaration starts with two words (`Type name`) and never matches.
STATEMENT = re.compile(r"^(\+\+|--)?\*?[A-Za-z_][\w:]*((\.|->)\w+|\[[^\]]*\]|\(\))*\s*"
                       r"(\(|=(?!=)|[-+*/%|&^]=|<<=|>>=|\+\+|--)")
CONSTANT = re.compile(r"^(std::nullopt|nullptr|true|false|-?\d+|\{\}|[A-Z]\w*::k?[A-Z]\w*|Q\w*\(\))$")


def mask(text):
    """The file with comments and string and character literals blanked, columns kept."""
    out, i, n = list(text), 0, len(text)
    def blank(a, b):
        for j in range(a, min(b, n)):
            if out[j] != "\n":
                out[j] = " "
    while i < n:
        c, two = text[i], text[i:i + 2]
        if two == "//":
            j = text.find("\n", i); j = n if j < 0 else j; blank(i, j); i = j
        elif two == "/*":
            j = text.find("*/", i + 2); j = n if j < 0 else j + 2; blank(i, j); i = j
        elif c == "R" and text.startswith('R"', i) and (i == 0 or not text[i - 1].isalnum()):
            d = text[i + 2:text.find("(", i)]
            j = text.find(")" + d + '"', i) + len(d) + 2; blank(i, j); i = j
        elif c == '"' or (c == "'" and not text[i - 1].isdigit()):
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == "\\" else 1
            blank(i, j + 1); i = j + 1
        else:
            i += 1
    return "".join(out)


def code_lines(path):
    """(line number, raw line, masked line) for every line worth mutating."""
    raw = path.read_text().split("\n")
    masked, cont = mask("\n".join(raw)).split("\n"), False
    for no, (r, m) in enumerate(zip(raw, masked), 1):
        preprocessor = cont or m.lstrip().startswith("#")
        cont = preprocessor and r.rstrip().endswith("\\")
        if not preprocessor and m.strip() and not SKIP_LINE.search(m):
            yield no, r, m


def line_mutants(path, no, raw, m, returns):
    """Every (op, k, start, end, before, after) for one line; k counts matches per op."""
    found = []
    for op, (rx, change) in OPS.items():
        for k, hit in enumerate(rx.finditer(m)):
            if op.startswith("if-") and (";" in hit.group(1) or re.search(r"[^=!<>]=[^=]", hit.group(1))):
                continue  # a declaration or init statement in the condition
            found.append((op, k, hit.start(), hit.end(), raw[hit.start():hit.end()], change(hit.group(0))))
    body, indent = m.strip(), len(m) - len(m.lstrip())
    if path.suffix == ".cpp" and indent >= 4 and body.endswith(";") and STATEMENT.match(body) \
            and body.count("(") == body.count(")") and not body.startswith(("return", "case")):
        found.append(("drop", 0, indent, indent + len(body), raw[indent:indent + len(body)], "{}"))
    hit = re.match(r"^(\s*return )(.+);$", m)
    if hit and not CONSTANT.match(hit.group(2).strip()):  # a constant is the other kinds' job
        start, end = hit.end(1), len(m.rstrip()) - 1
        for other in sorted(set(returns) - {raw[start:end]}):
            found.append(("return", 0, start, end, raw[start:end], other))
            break  # one neighbouring constant per return
    return found


def sources(repo, folder):
    return [p for p in sorted((repo / "src" / folder).glob("*")) if p.suffix in (".cpp", ".h")]


def generate(repo):
    """All candidates per folder, each keyed by file, line text, its occurrence and position."""
    per_folder = {f: [] for f in FOLDERS}
    for folder in FOLDERS:
        for path in sources(repo, folder):
            lines, text, rel = list(code_lines(path)), path.read_text().split("\n"), str(path.relative_to(repo))
            # Lines between two closing braces in column 0 belong to one function.
            block = [sum(1 for t in text[:i] if t.startswith("}")) for i in range(len(text))]
            constant = {no: r.strip()[7:-1] for no, r, _ in lines
                        if re.match(r"\s*return .+;$", r) and CONSTANT.match(r.strip()[7:-1])}
            for no, raw, m in lines:
                key = raw.strip()
                occ = sum(1 for t in text[:no - 1] if t.strip() == key)
                near = [c for n, c in constant.items() if block[n - 1] == block[no - 1] and abs(n - no) < 40]
                for op, k, _, _, before, after in line_mutants(path, no, raw, m, near):
                    ident = "m" + hashlib.sha1(f"{rel}\t{key}\t{occ}\t{op}\t{k}".encode()).hexdigest()[:8]
                    per_folder[folder].append(dict(id=ident, folder=folder, file=rel, line=no, text=key,
                                                   occurrence=occ, op=op, k=k, before=before, after=after))
    return per_folder


def quotas(repo):
    """A minimum per folder, the rest in proportion to the folder's non-blank lines."""
    size = {f: sum(1 for p in sources(repo, f) for line in p.read_text().split("\n") if line.strip())
            for f in FOLDERS}
    run = [f for f in FOLDERS if f not in NOT_BUILT_HERE]
    extra, whole = TOTAL - MINIMUM * len(run), sum(size[f] for f in run)
    share = {f: extra * size[f] / whole for f in FOLDERS}
    quota = {f: MINIMUM + int(share[f]) for f in FOLDERS}
    for f in sorted(run, key=lambda f: int(share[f]) - share[f])[:TOTAL - sum(quota[f] for f in run)]:
        quota[f] += 1
    return quota


def write_list(repo, path):
    rows, quota = [], quotas(repo)
    for folder, cands in generate(repo).items():
        # Round robin over the kinds of change, so that layout constants, which are many,
        # do not crowd out the comparisons and guards.
        rng, kinds = random.Random(f"{SEED}:{folder}"), {}
        for c in cands:
            kinds.setdefault(re.sub(r"[-+].*", "", c["op"]), []).append(c)
        for kind in kinds.values():
            rng.shuffle(kind)
        order = sorted(kinds)
        rng.shuffle(order)
        cands = [kinds[k][i] for i in range(max(map(len, kinds.values()))) for k in order if i < len(kinds[k])]
        for rank, c in enumerate(cands[:2 * quota[folder] + 5]):  # the rest replace uncompilable ones
            rows.append({**c, "rank": rank})
    with open(path, "w") as out:
        out.write("# quota " + " ".join(f"{f}={q}" for f, q in quota.items()) + "\n")
        out.write("\t".join(COLUMNS) + "\n")
        for r in rows:
            out.write("\t".join(str(r[c]).replace("\t", " ") for c in COLUMNS) + "\n")


def read_tsv(path):
    with open(path) as f:
        lines = [line.rstrip("\n") for line in f if not line.startswith("#")]
    head = lines[0].split("\t")
    return [dict(zip(head, line.split("\t"))) for line in lines[1:] if line]


def apply(repo, mut):
    """The mutated file's text, or None when the line is no longer there."""
    path = repo / mut["file"]
    text = path.read_text()
    raw, masked = text.split("\n"), mask(text).split("\n")
    hits = [i for i, r in enumerate(raw) if r.strip() == mut["text"]]
    if len(hits) <= int(mut["occurrence"]):
        return None
    i = hits[int(mut["occurrence"])]
    for op, k, start, end, before, _ in line_mutants(path, i + 1, raw[i], masked[i], [mut["after"]]):
        if op == mut["op"] and k == int(mut["k"]) and before == mut["before"]:
            raw[i] = raw[i][:start] + mut["after"] + raw[i][end:]
            mut["line"] = i + 1
            return "\n".join(raw)
    return None


def sh(cmd, cwd, timeout=None, env=None):
    """Runs cmd in a process group of its own, so that a timeout kills all of it."""
    p = subprocess.Popen(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env={**os.environ, **(env or {})},
                         text=True, errors="replace", start_new_session=True, **({"shell": True} if isinstance(cmd, str) else {}))
    try:
        return p.communicate(timeout=timeout)[0], p.returncode
    except BaseException:
        try:
            os.killpg(p.pid, signal.SIGKILL)
        except ProcessLookupError:  # it ended by itself meanwhile
            pass
        p.wait()
        raise


def tests(build, exclude):
    """The tests to run, from CTest's own description, fastest first once timed."""
    out, _ = sh(["ctest", "--show-only=json-v1", "-LE", exclude], build)
    found = []
    for t in json.loads(out)["tests"]:
        props = {p["name"]: p["value"] for p in t.get("properties", [])}
        found.append(dict(name=t["name"], cmd=t["command"], cwd=props.get("WORKING_DIRECTORY", str(build)),
                          env=dict(e.split("=", 1) for e in props.get("ENVIRONMENT", [])),
                          skip=props.get("SKIP_RETURN_CODE")))
    return found


def run_tests(build, suite, times, all_killers, jobs=2):
    """The names of the failing tests; two at a time, stopping at the first failure."""
    queue, killers, lock = sorted(suite, key=lambda t: times.get(t["name"], 1e9)), [], threading.Lock()

    def worker():
        while True:
            with lock:
                if not queue or killers and not all_killers:
                    return
                t = queue.pop(0)
            start = time.time()
            try:
                _, rc = sh(t["cmd"], t["cwd"], max(30, 4 * times.get(t["name"], 300)), t["env"])
                ok = rc == 0 or rc == t["skip"]
            except subprocess.TimeoutExpired:
                ok = False  # a hang: sh() has killed its process group
            with lock:
                times.setdefault(t["name"], time.time() - start)
                if not ok:
                    killers.append(t["name"])

    threads = [threading.Thread(target=worker, daemon=True) for _ in range(jobs)]
    for th in threads:
        th.start()
    for th in threads:
        th.join()
    return killers


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--mutants", type=Path, help="mutant list (default: scripts/mutants.tsv)")
    ap.add_argument("--regenerate", action="store_true", help="write a new mutant list")
    ap.add_argument("--build", default="build-mutate", help="build folder inside the worktree")
    ap.add_argument("--tests-from", type=Path, help="worktree whose src/ and tests/ to use (default: this one)")
    ap.add_argument("--windows-build", type=Path, help="a configured Windows build folder for platform/windows")
    ap.add_argument("--folder", action="append", help="only these folders of src/")
    ap.add_argument("--limit", type=int, help="run at most this many mutants now")
    ap.add_argument("--fresh", action="store_true", help="forget earlier results")
    ap.add_argument("--all-killers", action="store_true", help="run every test, record all that fail")
    ap.add_argument("--summary", action="store_true", help="only print the summary")
    a = ap.parse_args()
    here = Path(__file__).resolve().parent.parent
    repo = (a.tests_from or Path(sh(["git", "rev-parse", "--show-toplevel"], Path.cwd())[0].strip())).resolve()
    mutants = a.mutants or (repo / "scripts/mutants.tsv" if (repo / "scripts/mutants.tsv").exists()
                            else here / "scripts/mutants.tsv")
    if a.regenerate or not mutants.exists():
        write_list(repo, mutants)
        print(f"wrote {mutants}")
    quota = dict(q.split("=") for q in open(mutants).readline().split()[2:])
    rows, build = read_tsv(mutants), repo / a.build
    build.mkdir(exist_ok=True)
    results_path, pending = build / "mutation-results.tsv", build / "mutation-pending"
    if a.fresh and results_path.exists():
        results_path.unlink()
    done = {r["id"]: r for r in read_tsv(results_path)} if results_path.exists() else {}
    if not a.summary:
        run_all(a, repo, build, rows, quota, done, results_path, pending)
    summary(rows, quota, done)


def run_all(a, repo, build, rows, quota, done, results_path, pending):
    lock = open(build / "mutation.lock", "w")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except BlockingIOError:
        sys.exit(f"another run is using {build}")
    if pending.exists():  # a run killed hard left a file mutated
        f, text = pending.read_text().split("\n", 1)
        (repo / f).write_text(text); pending.unlink()
    if sh(["git", "diff", "--quiet", "src"], repo)[1]:
        sys.exit("src/ has uncommitted changes: commit or stash them first")
    os.environ.setdefault("CCACHE_BASEDIR", str(repo.parent))
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("terminated"))
    if not (build / "CMakeCache.txt").exists():
        linker = ["-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=mold"] if sh("command -v mold", repo)[1] == 0 else []
        sh(["cmake", "-S", ".", "-B", str(build), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Debug",
            "-DCMAKE_CXX_FLAGS_DEBUG=-O0 -g0", "-DZARN_BUILD_BENCH=OFF", "-DZARN_SANITIZE=OFF"] + linker, repo)
    if not results_path.exists():
        results_path.write_text("\t".join(RESULT_COLUMNS) + "\n")
    suites, targets, times = {}, {}, {}
    timing = build / "mutation-times.json"
    out, rc = sh(["cmake", "--build", ".", "-j2"], build)
    if rc:
        sys.exit("the unmutated tree does not build:\n" + out[-3000:])
    for kind, exclude in (("fast", "desktop|kernel|soak"), ("linux", "desktop|soak")):
        suites[kind] = tests(build, exclude)
        targets[kind] = sorted({Path(c).name for t in suites[kind] for c in t["cmd"]
                                if c.startswith(str(build)) and Path(c).is_file()})
    if timing.exists():
        times = json.loads(timing.read_text())
    else:
        failing = run_tests(build, suites["linux"], times, True, jobs=1)  # undisturbed timings
        if failing:
            sys.exit(f"the unmutated tree fails {failing}: fix that first")
        timing.write_text(json.dumps(times, indent=1))
    # Folders take turns in proportion to their quotas, so that a run cut short still
    # covers all of src/; a header rebuilds most of the tree, so its mutants come last.
    # Replacements for uncompilable mutants come after all the others, in rank order.
    wanted = [r for r in rows if (not a.folder or r["folder"] in a.folder)
              and (r["folder"] not in NOT_BUILT_HERE or a.windows_build)]
    ran = 0
    def order(r):
        share = int(r["rank"]) / int(quota[r["folder"]])
        return share >= 1, share < 1 and r["file"].endswith(".h"), share

    for mut in sorted(wanted, key=order):
        folder = mut["folder"]
        counted = sum(1 for r in rows if r["folder"] == folder and done.get(r["id"], {}).get(
            "status") in ("killed", "survived"))
        if a.limit is not None and ran >= a.limit:
            break
        if mut["id"] in done or counted >= int(quota[folder]):
            continue
        target_build = a.windows_build if folder in NOT_BUILT_HERE else build
        kind = "linux" if folder == "platform/linux" else "fast"
        path, start = repo / mut["file"], time.time()
        original, mutated = path.read_text(), apply(repo, mut)
        killers, status = [], "missing"
        if mutated is not None:
            try:
                pending.write_text(mut["file"] + "\n" + original)
                path.write_text(mutated)
                bt = targets[kind] if target_build == build else ["all"]
                out, rc = sh(["cmake", "--build", str(target_build), "-j2", "--target"] + bt, repo)
                if rc:
                    status = "uncompilable"
                else:
                    suite = suites[kind] if target_build == build else tests(target_build, "desktop")
                    killers = run_tests(target_build, suite, times, a.all_killers)
                    status = "killed" if killers else "survived"
            finally:
                path.write_text(original)
                pending.unlink()
        res = dict(id=mut["id"], file=mut["file"], line=mut["line"], op=mut["op"], before=mut["before"],
                   after=mut["after"], status=status, test=",".join(killers), seconds=f"{time.time() - start:.1f}")
        with open(results_path, "a") as out:
            out.write("\t".join(str(res[c]) for c in RESULT_COLUMNS) + "\n")
        done[mut["id"]], ran = res, ran + 1
        print(f"{res['status']:12} {res['seconds']:>6}s {mut['file']}:{mut['line']} {mut['op']} "
              f"{mut['before']!r} -> {mut['after']!r} {res['test']}", flush=True)
    if sh(["git", "diff", "--quiet", "src"], repo)[1]:
        sys.exit("src/ differs from git after the run: look at `git diff src`")


def summary(rows, quota, done):
    print(f"\n{'folder':16} {'quota':>5} {'killed':>6} {'surv.':>5} {'uncomp.':>7} {'score':>6}")
    total = [0, 0]
    for folder in FOLDERS:
        res = [done[r["id"]] for r in rows if r["folder"] == folder and r["id"] in done]
        k = sum(r["status"] == "killed" for r in res)
        s = sum(r["status"] == "survived" for r in res)
        u = sum(r["status"] in ("uncompilable", "missing") for r in res)
        total[0] += k; total[1] += s
        score = f"{100 * k / (k + s):5.1f}%" if k + s else ("not run" if not res else "-")
        print(f"{folder:16} {quota[folder]:>5} {k:>6} {s:>5} {u:>7} {score:>6}")
    k, s = total
    print(f"{'overall':16} {'':>5} {k:>6} {s:>5} {'':>7} {100 * k / max(1, k + s):5.1f}%")
    print("\nsurvivors:")
    for r in done.values():
        if r["status"] == "survived":
            print(f"  {r['id']} {r['file']}:{r['line']} {r['op']} {r['before']!r} -> {r['after']!r}")
    kills = {}
    for r in done.values():
        for t in filter(None, r["test"].split(",")):
            kills[t] = kills.get(t, 0) + 1
    print("\nkills per test:", ", ".join(f"{t} {n}" for t, n in sorted(kills.items(), key=lambda x: -x[1])))


if __name__ == "__main__":
    main()
