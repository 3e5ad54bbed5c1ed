#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Measures Vantrel at registry scale; see bench/run."""

import argparse
import csv
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

SIZES = [10_000, 100_000, 1_000_000]
LARGEST = 10_000_000  # with --ten-million: its demo takes about a minute to make
PROCESS_RUNS = 9   # whole processes per measurement; the median is reported
EDITOR_RUNS = 201  # in-process loads and saves per size
TYPEAHEAD_RUNS = 201  # type-ahead searches per size, of 1 to 3 keys each
FLOOR_QUERY = 'SELECT "User" FROM Servers ORDER BY "User"'
IMPORT_RUNS = 5  # imports of each side per size: one of 1,000,000 accounts takes seconds


def timed(command, env=None):
    """Runs a command to its end; gives its wall time in ms and its peak memory in MB.

    GNU time reports the peak of the command alone: a child forked from this interpreter would
    carry the interpreter's own memory into the figure. Its small cost falls on every command."""
    with tempfile.NamedTemporaryFile("r") as report:
        start = time.perf_counter()
        result = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name] + command,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
        elapsed = (time.perf_counter() - start) * 1000
        if result.returncode != 0:
            sys.exit(f"{' '.join(command)} failed with status {result.returncode}")
        return elapsed, int(report.read().split()[-1]) / 1024


def median_of_runs(command, env=None):
    timed(command, env)  # warms the file cache; not counted
    runs = [timed(command, env) for _ in range(PROCESS_RUNS)]
    return statistics.median(r[0] for r in runs), statistics.median(r[1] for r in runs)


def medians_side_by_side(first, second, env=None, count=PROCESS_RUNS):
    """Runs two commands in turn, so that both meet the machine in the same state; gives the
    median time and peak memory of each."""
    timed(first, env)  # warms the file cache; not counted
    timed(second, env)
    runs = [(timed(first, env), timed(second, env)) for _ in range(count)]
    return [(statistics.median(r[i][0] for r in runs), statistics.median(r[i][1] for r in runs)) for i in (0, 1)]


def make_registry(tool, folder, accounts):
    """Makes a demo registry of `accounts` accounts; gives its path and the seconds `demo` took."""
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    path = os.path.join(folder, "zarn.dat")
    start = time.perf_counter()
    if accounts:
        subprocess.run([tool, "demo", path, "--accounts", str(accounts), "--seed", "1"], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    else:
        subprocess.run([tool, "init", path], check=True)
    return path, time.perf_counter() - start


# 15 characters of three UTF-8 bytes each, different for every account, in index order so that
# sqlite3 makes the file quickly.
WIDE_NAME = ("char(0x540D, 0x5B57, 0x7528, 0x6237, 0x8D26, 0x53F7, 0x7BA1, 0x7406, 0x5458, 0x670D, "
             "0x4E00 + ((i >> 20) & 31), 0x4E00 + ((i >> 15) & 31), 0x4E00 + ((i >> 10) & 31), "
             "0x4E00 + ((i >> 5) & 31), 0x4E00 + (i & 31))")


def make_wide_registry(tool, folder, accounts):
    """A registry of `accounts` user names of 15 wide characters; gives its path and the names'
    UTF-8 bytes."""
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    path = os.path.join(folder, "zarn.dat")
    subprocess.run([tool, "init", path], check=True)
    subprocess.run(["sqlite3", path], check=True, text=True, input=(
        "PRAGMA cache_size = -262144;\n"
        f"INSERT INTO Servers (User) WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n "
        f"WHERE i < {accounts - 1}) SELECT {WIDE_NAME} FROM n;\n"))
    names = subprocess.run(["sqlite3", path, "SELECT sum(length(CAST(User AS BLOB))) FROM Servers"], check=True,
                           capture_output=True, text=True).stdout
    return path, int(names)


def import_beside_sqlite(tool, registry, folder):
    """Exports `registry` as CSV and imports it, in turn, with `vantrel-registry import` and with
    the sqlite3 shell's `.import`, each into a fresh copy of an empty registry (the same table
    and index "User"); gives the median seconds of each."""
    text = os.path.join(folder, "accounts.csv")
    with open(text, "wb") as out:
        subprocess.run([tool, "export", registry], check=True, stdout=out)
    empty = os.path.join(folder, "empty.dat")
    subprocess.run([tool, "init", empty], check=True, stdout=subprocess.DEVNULL)
    target = os.path.join(folder, "imported.dat")
    # Each run starts from the empty registry, copied afresh: the copy is the same for both.
    ours = ["sh", "-c", 'cp "$0" "$1" && exec "$2" import "$1" "$3"', empty, target, tool, text]
    shell = ["sh", "-c", 'cp "$0" "$1" && exec sqlite3 "$1" ".mode csv" ".import --skip 1 \'$2\' Servers"', empty,
             target, text]
    (import_ms, _), (sqlite_ms, _) = medians_side_by_side(ours, shell, count=IMPORT_RUNS)
    for name in (text, empty, target):
        os.remove(name)
    return import_ms / 1000, sqlite_ms / 1000


def write_chart(rows, path):
    """Draws the cost curve with gnuplot as an SVG: start-up time beside the floor, and peak memory,
    over the number of accounts on a log axis."""
    with tempfile.NamedTemporaryFile("w", suffix=".dat") as data:
        for row in rows:
            if row["accounts"]:
                data.write(f"{row['accounts']} {row['list_ms']} {row['floor_ms']} {row['list_peak_mb']}\n")
        data.flush()
        script = f"""
set terminal svg size 720,420 dynamic font "DejaVu Sans,12" background "white"
set output "{path}"
set title "Vantrel's start-up cost by registry size"
set logscale x 10
set logscale y 10
set format x "%.0s%c"
set xlabel "accounts"
set ylabel "time to the painted list (ms)"
set y2label "peak memory (MB)"
set y2tics
set logscale y2 10
set ytics nomirror
set grid xtics ytics
set key below
plot "{data.name}" using 1:2 with linespoints lw 2 pt 7 title "Vantrel: start to list painted", \\
     "{data.name}" using 1:3 with linespoints lw 2 pt 5 title "floor: sqlite3 reads the names", \\
     "{data.name}" using 1:4 axes x1y2 with linespoints lw 2 pt 9 title "Vantrel: peak memory (right axis)"
"""
        subprocess.run(["gnuplot"], input=script, text=True, check=True)


def middle_user(path, accounts):
    result = subprocess.run(["sqlite3", path, f"{FLOOR_QUERY} LIMIT 1 OFFSET {accounts // 2}"], check=True,
                            capture_output=True, text=True)
    return result.stdout.rstrip("\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", default="build-bench")
    parser.add_argument("--csv", help="also write the table to this CSV file")
    parser.add_argument("--chart", default="bench/cost.svg", help="where to draw the cost curve (SVG)")
    parser.add_argument("--ten-million", action="store_true", help="also measure 10,000,000 accounts")
    args = parser.parse_args()
    sizes = SIZES + ([LARGEST] if args.ten_million else [])

    tool = os.path.join(args.build, "cli", "vantrel-registry")
    startup = os.path.join(args.build, "bench", "vantrel-startup-probe")
    editor = os.path.join(args.build, "bench", "vantrel-editor-probe")
    typeahead = os.path.join(args.build, "bench", "vantrel-typeahead-probe")
    data = os.path.join(args.build, "registries")
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")

    rows = []
    empty = os.path.dirname(make_registry(tool, os.path.join(data, "empty"), 0)[0])
    empty_ms, empty_mb = median_of_runs([startup, empty], env)
    rows.append({"accounts": 0, "list_ms": empty_ms, "list_peak_mb": empty_mb})

    for accounts in sizes:
        print(f"measuring {accounts:,} accounts...", file=sys.stderr)
        path, demo_s = make_registry(tool, os.path.join(data, str(accounts)), accounts)
        (list_ms, list_mb), (floor_ms, floor_mb) = medians_side_by_side(
            [startup, os.path.dirname(path)], ["sqlite3", path, FLOOR_QUERY], env)
        out = subprocess.run([editor, os.path.dirname(path), middle_user(path, accounts), str(EDITOR_RUNS)],
                             check=True, capture_output=True, text=True, env=env).stdout
        editor_times = dict(item.split("=") for item in out.split())
        out = subprocess.run([typeahead, os.path.dirname(path), str(TYPEAHEAD_RUNS)], check=True, capture_output=True,
                             text=True, env=env).stdout
        typeahead_times = dict(item.split("=") for item in out.split())
        import_s, sqlite_import_s = import_beside_sqlite(tool, path, data)
        rows.append({"accounts": accounts, "demo_s": demo_s, "list_ms": list_ms, "list_peak_mb": list_mb, "floor_ms": floor_ms,
                     "floor_peak_mb": floor_mb, "list_to_floor": list_ms / floor_ms,
                     "editor_load_ms": float(editor_times["load_ms"]), "editor_edit_ms": float(editor_times["edit_ms"]),
                     "typeahead_ms": float(typeahead_times["typeahead_max_ms"]), "import_s": import_s,
                     "sqlite_import_s": sqlite_import_s, "import_to_sqlite": import_s / sqlite_import_s})

        if accounts != sizes[-1]:
            shutil.rmtree(os.path.dirname(path))  # the disk holds one large registry at a time

    # The widest names a person types, at the largest size: the peak beside the names' own bytes.
    largest = sizes[-1]
    print(f"measuring {largest:,} wide names...", file=sys.stderr)
    wide_path, wide_bytes = make_wide_registry(tool, os.path.join(data, "wide"), largest)
    _, wide_mb = median_of_runs([startup, os.path.dirname(wide_path)], env)
    wide_limit_mb = (wide_bytes + 4 * largest) / 2**20 + 60
    shutil.rmtree(os.path.dirname(wide_path))

    smallest = rows[1]
    for row in rows[1:]:
        row["load_to_10k"] = row["editor_load_ms"] / smallest["editor_load_ms"]
        row["edit_to_10k"] = row["editor_edit_ms"] / smallest["editor_edit_ms"]

    columns = ["accounts", "demo_s", "list_ms", "floor_ms", "list_to_floor", "list_peak_mb", "floor_peak_mb",
               "editor_load_ms", "load_to_10k", "editor_edit_ms", "edit_to_10k", "typeahead_ms", "import_s",
               "sqlite_import_s", "import_to_sqlite"]
    print(f"Vantrel at scale, {time.strftime('%Y-%m-%d')}, {platform.machine()}, {os.cpu_count()} cores, "
          f"medians of {PROCESS_RUNS} processes, {EDITOR_RUNS} editor runs and {IMPORT_RUNS} imports")
    print("| " + " | ".join(columns) + " |")
    print("|" + "---|" * len(columns))
    for row in rows:
        cells = []
        for column in columns:
            value = row.get(column)
            cells.append("" if value is None else f"{value:,}" if column == "accounts" else f"{value:.2f}")
        print("| " + " | ".join(cells) + " |")

    print(f"{largest:,} names of 15 wide characters ({wide_bytes / 2**20:.1f} MB of UTF-8): "
          f"peak {wide_mb:.2f} MB, limit {wide_limit_mb:.2f} MB (names, 4 bytes an account, 60 MB)")

    top = rows[-1]
    at = f"{largest:,}"
    # The targets for 10,000,000 accounts, and the earlier ones for 1,000,000 when it is the largest.
    floor_ratio, peak_mb = (1.5, 250) if largest >= LARGEST else (2, 80)
    targets = [
        (f"list painted within {floor_ratio}x the floor at {at}", top["list_to_floor"] <= floor_ratio),
        (f"peak memory at most {peak_mb} MB at {at} (demo names)", top["list_peak_mb"] <= peak_mb),
        (f"peak memory at most names + 4 bytes an account + 60 MB at {at} (wide names)", wide_mb <= wide_limit_mb),
        (f"editor load under 5 ms at {at}", top["editor_load_ms"] < 5),
        (f"editor Edit under 5 ms at {at}", top["editor_edit_ms"] < 5),
        ("editor load at most 2x its 10,000 time", top["load_to_10k"] <= 2),
        ("editor Edit at most 2x its 10,000 time", top["edit_to_10k"] <= 2),
        (f"demo of {at} accounts within 60 s", top["demo_s"] <= 60),
        ("start-up with an empty registry under 100 ms", rows[0]["list_ms"] < 100),
        (f"type-ahead at most 2 ms per keystroke at {at}", top["typeahead_ms"] <= 2),
        (f"import within 1.3x the sqlite3 shell's .import at {at}", top["import_to_sqlite"] <= 1.3),
    ]
    for name, met in targets:
        print(f"{'met   ' if met else 'MISSED'} {name}")

    write_chart(rows, args.chart)
    print(f"chart: {args.chart}")

    if args.csv:
        with open(args.csv, "w", newline="") as out:
            writer = csv.DictWriter(out, fieldnames=columns)
            writer.writeheader()
            for row in rows:
                writer.writerow({c: row.get(c, "") for c in columns})


if __name__ == "__main__":
    main()
