#!/usr/bin/env python3
"""End-to-end tests of the dbif tool: runs the built program on a SQLite file and, when the
DBIF_TEST_MYSQL_* variables name a server, on a fresh MariaDB database, and checks what it stores,
lists, exports and plots, and how it refuses bad input.
    check_dbif_tool.py DBIF_PROGRAM SAMPLE_DIR
"""
import contextlib
import csv
import itertools
import os
import re
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

from tool_harness import check, run_on_both_drivers
import tool_harness

PROGRAM, SAMPLES = sys.argv[1], sys.argv[2]


def dbif(db, *arguments):
    return tool_harness.dbif(PROGRAM, db, *arguments)


def rows_of(db, *arguments):
    return tool_harness.rows_of(PROGRAM, db, *arguments)


def check_one_line_error(result, status, needle, what):
    code, out, err = result
    check(code == status, f"{what}: exit status {code}, expected {status}")
    check(err.count("\n") == 1 and needle in err, f"{what}: one line naming '{needle}', got {err!r}")


def read_sweep(path):
    with open(path) as f:
        lines = f.read().split("\n")[1:]
    return [[float(v) for v in line.split(",")] for line in lines if line]


def check_manifest_confinement(db, work, label):
    """A manifest reads regular files in its own folder; --allow-outside lets them lie elsewhere, and
    devices, FIFOs and folders are refused either way. A refused row stores nothing, not even its device."""
    root = os.path.join(work, f"confined-{label}")
    inner = os.path.join(root, "inner")
    os.makedirs(os.path.join(inner, "sub"))
    good = "Vd [V],Id [A]\n0,1e-3\n0.5,2e-3\n"
    for path in [os.path.join(inner, "ok.csv"), os.path.join(inner, "sub", "deep.csv"),
                 os.path.join(root, "secret.csv")]:
        with open(path, "w") as f:
            f.write(good)
    os.symlink("sub/deep.csv", os.path.join(inner, "link.csv"))
    os.symlink("../secret.csv", os.path.join(inner, "escape.csv"))
    os.mkfifo(os.path.join(inner, "fifo"))
    # (the file cell, stored without --allow-outside, stored with it, the reason when refused)
    rows = [("ok.csv", True, True, None),
            ("link.csv", True, True, None),
            ("../secret.csv", False, True, "outside the manifest's folder"),
            ("sub/../../secret.csv", False, True, "outside the manifest's folder"),
            ("escape.csv", False, True, "outside the manifest's folder"),
            (os.path.join(root, "secret.csv"), False, True, "outside the manifest's folder"),
            ("/dev/zero", False, False, "not a regular file"),
            ("fifo", False, False, "not a regular file"),
            ("sub", False, False, "not a regular file")]
    manifest = os.path.join(inner, "rows.csv")
    with open(manifest, "w") as f:
        f.write("file,device\n" + "".join(f"{cell},m{i}\n" for i, (cell, *_) in enumerate(rows)))
    for lot, allow in [("L3", []), ("L4", ["--allow-outside"])]:
        status, out, err = dbif(db, "import", "csv", "--manifest", manifest, "--lot", lot, "--wafer", "W1",
                                "--die", "D1", "--temperature", "25", "--quiet", *allow)
        check(status == 1, f"{label}: {allow} refused rows give exit status 1, got {status}")
        for i, (cell, stored_within, stored_outside, reason) in enumerate(rows):
            refused = not (stored_outside if allow else stored_within)
            said = [line for line in err.splitlines() if line.startswith(f"{manifest}:{i + 2}: file {cell}: ")]
            check(len(said) == refused and all(reason in line for line in said),
                  f"{label}: {allow} {cell} refused {refused} ({reason}), got {err!r}")
        stored = {m["device"] for m in rows_of(db, "ls", "measurements", "--where", f"die.lot={lot}")}
        expected = {f"m{i}" for i, row in enumerate(rows) if row[2 if allow else 1]}
        check(stored == expected, f"{label}: {allow} stored {sorted(stored)}, expected {sorted(expected)}")
    devices = {d["name"] for d in rows_of(db, "ls", "devices", "--where", "device.name~m%")}
    check(devices == {f"m{i}" for i, row in enumerate(rows) if row[2]}, f"{label}: devices {sorted(devices)}")


def check_output_is_not_the_database(db, work):
    """No command writes its -o file over the SQLite database, however the two are spelled, nor over a
    database it would create first; the refusal comes before anything is written."""
    with open(db, "rb") as f:
        original = f.read()
    link = os.path.join(work, "db-link")
    os.symlink(db, link)
    hard = os.path.join(work, "db-hard")
    os.link(db, hard)
    relative = os.path.relpath(db)
    new = os.path.join(work, "new.db")  # a database the command would create
    dangling = os.path.join(work, "new-link")
    os.symlink(new, dangling)
    # (the --db text, the -o text)
    pairs = [(db, db), (db, relative), (relative, db), (db, "./" + relative),
             (db, os.path.join(work, "..", os.path.basename(work), os.path.basename(db))),
             (db, link), (link, db), (db, hard), (db, db + "-wal"),
             (new, new), (new, "./" + os.path.relpath(new)), (new, dangling)]
    commands = [["export", "csv"], ["export", "touchstone", "1"], ["plot", "--x", "Vd", "--y", "Id"]]
    files = sorted(os.listdir(work))
    for (database, output), command in itertools.product(pairs, commands):
        what = f"SQLite: {' '.join(command)} --db {database} -o {output}"
        check_one_line_error(tool_harness.dbif(PROGRAM, database, *command, "-o", output), 2, "is the database",
                             what)
        with open(db, "rb") as f:
            check(f.read() == original, f"{what}: the database changed")
        check(sorted(os.listdir(work)) == files, f"{what}: files made or removed")


def run(db, work, label):
    manifest = os.path.join(SAMPLES, "manifest.csv")
    with open(manifest) as f:
        entries = list(csv.DictReader(f))

    # A whole wafer from the manifest (no progress line off a terminal), then the counts read back.
    status, out, err = dbif(db, "import", "csv", "--manifest", manifest)
    check(status == 0 and err == "", f"{label}: manifest import ({err.strip()})")
    measurements = rows_of(db, "ls", "measurements")
    check(len(measurements) == len(entries), f"{label}: {len(measurements)} measurements, {len(entries)} files")
    check(len(rows_of(db, "ls", "dies")) == len({e["die"] for e in entries}), f"{label}: die count")
    check(len(rows_of(db, "ls", "runs")) == 1, f"{label}: one run")
    check({m["rows"] for m in measurements} == {"25"}, f"{label}: 25 rows per measurement")

    # On a terminal the import draws its progress line on standard error; --quiet draws none. A file
    # of a few thousand rows moves the line while it is read (its first drawing comes at once) and
    # the time left is counted from rows.
    rows = 5000
    sweep = os.path.join(work, "long-sweep.csv")
    with open(sweep, "w") as f:
        f.write("Vd [V],Id [A]\n" + "".join(f"{i / rows},{i * 1e-9}\n" for i in range(rows)))
    long_sweep = [sweep, "--lot", "LONG", "--wafer", "W1", "--die", "D1", "--device", "long", "--temperature", "25"]
    for arguments, quiet, expected in [(["--manifest", manifest], [], f"{len(entries)}/{len(entries)} files"),
                                       (["--manifest", manifest], ["--quiet"], None),
                                       (long_sweep, [], "1/1 files, 5000 rows")]:
        terminal, program_side = os.openpty()
        subprocess.run([PROGRAM, "--db", db, "import", "csv", *arguments, *quiet],
                       stdout=subprocess.DEVNULL, stderr=program_side, timeout=300)
        os.close(program_side)
        drawn = b""
        with contextlib.suppress(OSError):
            while chunk := os.read(terminal, 4096):
                drawn += chunk
        os.close(terminal)
        lines = drawn.decode().replace("\x1b[K", "").replace("\r\n", "\r").split("\r")
        what = f"{label}: progress line of {arguments[0]} {quiet}, got {lines[-4:]!r}"
        if expected is None:
            check(drawn == b"", what)
            continue
        check(any(line.startswith(expected) and "rows/s" in line and " s left" in line for line in lines), what)
        if arguments is long_sweep:
            within = [int(m.group(1)) for m in map(re.compile(r"^file 1/1: (\d+)/5000 rows, ").match, lines) if m]
            check(within and 0 < within[0] < rows, f"{label}: rows within the file: {lines[:3]!r}")

    # Importing the same files again stores nothing new.
    status, out, err = dbif(db, "import", "csv", "--manifest", manifest, "--quiet")
    check(status == 0 and out.count("already stored as measurement") == len(entries), f"{label}: re-import")
    check(len(rows_of(db, "ls", "measurements", "--where", "die.lot!=LONG")) == len(entries),
          f"{label}: re-import stored rows twice")

    # A malformed file leaves nothing of itself; the files around it are stored.
    good = "Vd [V],Id [A]\n0,1e-3\n0.5,2e-3\n"
    paths = []
    for name, text in [("a.csv", good), ("bad.csv", good + "1.0\n1.2,4e-3\n"), ("c.csv", good),
                       ("nan.csv", good + "1.0,many\n")]:
        paths.append(os.path.join(work, name))
        with open(paths[-1], "w") as f:
            f.write(text)
    small = os.path.join(work, "small.csv")
    with open(small, "w") as f:
        f.write("file,device\n" + "".join(f"{os.path.basename(p)},d{i}\n" for i, p in enumerate(paths)))
    options = ["--lot", "L2", "--wafer", "W9", "--die", "D1", "--temperature", "25", "--quiet"]
    status, out, err = dbif(db, "import", "csv", "--manifest", small, *options)
    check(status == 1, f"{label}: a failed file gives exit status 1")
    check(f"{paths[1]}:4: 1 fields, the header has 2" in err, f"{label}: ragged line reported, got {err!r}")
    check(f"{paths[3]}:4: column Id [A]: 'many' is not a number" in err, f"{label}: bad number, got {err!r}")
    lot = rows_of(db, "ls", "measurements", "--where", "die.lot=L2")
    check(sorted(m["device"] for m in lot) == ["d0", "d2"], f"{label}: stored {[m['device'] for m in lot]}")
    check(len(rows_of(db, "ls", "devices", "--where", "device.name=d1")) == 0, f"{label}: bad file's device")

    # Tidy export: the latest nmos sweeps, every value as the files hold it.
    out_csv = os.path.join(work, "nmos.csv")
    status, out, err = dbif(db, "export", "csv", "--where", "device.type=nmos", "--where", "die.lot=LOT-4711",
                            "--latest", "-o", out_csv)
    check(status == 0, f"{label}: export ({err.strip()})")
    with open(out_csv) as f:
        exported = list(csv.DictReader(f))
    nmos = [e for e in entries if e["type"] == "nmos"]
    check(len(exported) == 25 * len(nmos), f"{label}: {len(exported)} exported rows")
    for entry in nmos:
        mine = [r for r in exported if r["die"] == entry["die"] and float(r["temperature"]) == float(entry["temperature"])]
        sweep = read_sweep(os.path.join(SAMPLES, entry["file"]))
        check([[float(r["Vd [V]"]), float(r["Id [A]"])] for r in mine] == sweep, f"{label}: values of {entry['file']}")
        check({(r["lot"], r["wafer"], r["device"], r["device_type"], r["condition"]) for r in mine} ==
              {(entry["lot"], entry["wafer"], entry["device"], "nmos", entry["condition"])}, f"{label}: fields")

    # A plot of one device on one die at three temperatures: one curve each.
    svg = os.path.join(work, "idvd.svg")
    status, out, err = dbif(db, "plot", "--where", "die.die=X2Y1", "--where", "device.type=nmos",
                            "--where", "die.lot=LOT-4711", "--x", "Vd", "--y", "Id", "-o", svg)
    check(status == 0, f"{label}: plot ({err.strip()})")
    tree = ElementTree.parse(svg)
    paths_drawn = [p for p in tree.iter("{http://www.w3.org/2000/svg}path")]
    check(len(paths_drawn) == 3, f"{label}: {len(paths_drawn)} curves, expected 3")
    texts = "".join(t.text or "" for t in tree.iter("{http://www.w3.org/2000/svg}text"))
    check(all(t in texts for t in ["-40", "25", "125", "Vd", "Id"]), f"{label}: legend and labels")

    # Bad input: one line, non-zero status, nothing written.
    check_one_line_error(dbif(db, "ls", "measurements", "--where", "die.colour=red"), 2, "die.lot",
                         f"{label}: unknown field lists the fields")
    check_one_line_error(dbif(db, "ls", "measurements", "--where", "die.lot"), 2, "FIELD OP VALUE",
                         f"{label}: malformed expression")
    check_one_line_error(dbif(db, "ls", "measurements", "--where", "measurement.temperature<warm"), 2,
                         "is a number", f"{label}: text for a number")
    check_one_line_error(dbif(db, "ls", "wafers"), 2, "wafers", f"{label}: unknown kind")
    check_one_line_error(dbif(db, "frobnicate"), 2, "frobnicate", f"{label}: unknown command")
    check_one_line_error(dbif(db, "ls", "runs", "--colour"), 2, "--colour", f"{label}: unknown option")
    check_one_line_error(dbif(db, "import", "csv", os.path.join(work, "missing.csv"), *options,
                              "--device", "x"), 1, "missing.csv", f"{label}: unreadable file")
    for expression in ["Id<inf", "Id>NaN", "measurement.id>-inf", "measurement.temperature=nan",
                       "die.id!=+INF"]:
        check_one_line_error(dbif(db, "ls", "measurements", "--where", expression), 2, "not a finite number",
                             f"{label}: --where {expression}")
    check(len(rows_of(db, "ls", "measurements", "--where", "die.lot=x' OR '1'='1")) == 0,
          f"{label}: a quote in a value stays a value")
    check(len(rows_of(db, "ls", "measurements", "--where", "Id>2.5e-3", "--where", "die.lot=L2")) == 0 and
          len(rows_of(db, "ls", "measurements", "--where", "Id>1.5e-3", "--where", "die.lot=L2")) == 2,
          f"{label}: a data column in --where")


def run_with_url_errors(db, work, label):
    run(db, work, label)
    check_manifest_confinement(db, work, label)
    if label == "SQLite":
        check_output_is_not_the_database(db, work)
        check_one_line_error(dbif("mysql://nobody@127.0.0.1:1/none", "ls", "runs"), 1, "cannot open",
                             "unreachable server")
        check_one_line_error(dbif("mysql:/broken", "ls", "runs"), 2, "mysql://user@host", "bad URL")


if __name__ == "__main__":
    sys.exit(run_on_both_drivers(run_with_url_errors))
