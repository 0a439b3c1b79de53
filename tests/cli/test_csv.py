#!/usr/bin/env python3
"""--usage --csv read back by Python's csv module: per table, as many rows
as --json lists, with the same sums. The store is made by the program
itself (a start saves at once), then given a history of its own."""
import csv, io, json, os, signal, sqlite3, subprocess, sys, tempfile, time

program = sys.argv[1]
home = tempfile.mkdtemp()
env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=home, XDG_DATA_HOME=home,
           XDG_RUNTIME_DIR=home, QT_QPA_PLATFORM="offscreen")
store = os.path.join(home, "ZarnDev", "Zarn Bandwidth", "usage.sqlite")
run = subprocess.Popen([program, "-startup"], env=env)
for _ in range(200):
    if os.path.exists(store):
        break
    time.sleep(0.05)
time.sleep(0.5)
run.send_signal(signal.SIGTERM)
run.wait(20)

now = int(time.time())
db = sqlite3.connect(store)
rows = [(3600, now - now % 3600 - 3600 * h, h * 1000 + 7, h) for h in range(60)]
rows += [(86400, now - now % 86400 - 86400 * d, 10**12 + d, 5) for d in range(450, 800, 3)]
rows += [(300, now - now % 300, 2**53 + 1, 1)]  # beyond a double's whole numbers
db.executemany("INSERT INTO periods VALUES(?, ?, CAST('csv0' AS BLOB), ?, ?)", rows)
db.commit()
db.close()

def usage(*options):
    return subprocess.run([program, "--usage", "csv0", *options], env=env, check=True,
                          capture_output=True, text=True).stdout

report = json.loads(usage("--json"))
failed = 0
for option, key in (("", "days"), ("--hours", "hours"), ("--months", "months"),
                    ("--top", "top"), ("--years", "years")):
    table = list(csv.DictReader(io.StringIO(usage("--csv", *filter(None, [option])))))
    listed = report[key]
    for direction in ("received", "sent"):
        got = sum(int(r[direction] or 0) for r in table)
        want = sum(e[direction] or 0 for e in listed)
        if len(table) != len(listed) or got != want or got == 0:
            print(f"{key} {direction}: {len(table)} rows, sum {got}; JSON {len(listed)}, {want}")
            failed = 1
sys.exit(failed)
