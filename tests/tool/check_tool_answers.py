#!/usr/bin/env python3
"""End-to-end tests of the dbif tool's answers on small crafted files: exact ids in --where, the
latest measurement per device, re-measurements,
CSV dialects, units, the texts of numbers and the one-line failure reports. Runs on a SQLite file
and, when the DBIF_TEST_MYSQL_* variables name a server, on a fresh MariaDB database.
    check_tool_answers.py DBIF_PROGRAM
"""
import csv
import os
import sys

from tool_harness import check, run_on_both_drivers
import tool_harness

PROGRAM = sys.argv[1]
SWEEP = "Vd [V],Id [A]\n0,1e-3\n0.5,2e-3\n"


def dbif(db, *arguments):
    return tool_harness.dbif(PROGRAM, db, *arguments)


def rows_of(db, *arguments):
    return tool_harness.rows_of(PROGRAM, db, *arguments)


def write(work, name, text, mode="w"):
    path = os.path.join(work, name)
    with open(path, mode) as f:
        f.write(text)
    return path


def place(lot, device="d1", *more):
    return ["--lot", lot, "--wafer", "W1", "--die", "D1", "--device", device, "--temperature", "25", "--quiet",
            *more]


def ids(db, *wheres):
    return [int(m["id"]) for m in rows_of(db, "ls", "measurements", *[a for w in wheres for a in ("--where", w)])]


def check_where(db, work, label):
    """Ids and positions are compared exactly; numbers the database cannot hold are refused."""
    for i in range(5):
        write(work, f"w{i}.csv", SWEEP.replace("2e-3", f"{i + 2}e-3"))
        status, out, err = dbif(db, "import", "csv", os.path.join(work, f"w{i}.csv"), *place("IDS", f"w{i}"))
        check(status == 0, f"{label}: import w{i} ({err.strip()})")
    every = ids(db, "die.lot=IDS")
    check(len(every) == 5, f"{label}: five measurements, got {every}")
    check(ids(db, f"measurement.id={every[2]}") == [every[2]], f"{label}: measurement.id={every[2]}")
    check(ids(db, "die.id=1e3") == [], f"{label}: die.id=1e3 is die 1000")
    check(ids(db, f"measurement.id>={every[3]}", "die.lot=IDS") == every[3:], f"{label}: measurement.id>=")
    for expression, needle in [("measurement.id=3.5", "whole number"),
                               ("measurement.temperature=1e309", "beyond the range"),
                               ("Id<-1e400", "beyond the range"),
                               ("measurement.temperature=nan", "not a finite number")]:
        status, out, err = dbif(db, "ls", "measurements", "--where", expression)
        check(status == 2 and needle in err and err.count("\n") == 1, f"{label}: {expression} gave {err!r}")
    status, out, err = tool_harness.dbif(PROGRAM, db)
    check(status == 2 and out == "" and err.startswith("usage: dbif"), f"{label}: bare dbif: {out!r} {err!r}")


def check_latest_per_device(db, work, label):
    """Two devices of one type on one die keep a latest measurement each; --subsite and --position
    place devices explicitly, and a re-measurement, however soon, is a measurement of its own."""
    first, second = write(work, "l1.csv", SWEEP), write(work, "l2.csv", SWEEP.replace("2e-3", "2.5e-3"))
    for device in ["nA", "nB"]:
        status, out, err = dbif(db, "import", "csv", first, *place("LAT", device, "--type", "nmos"))
        check(status == 0, f"{label}: import {device} ({err.strip()})")
    latest = rows_of(db, "ls", "measurements", "--latest", "--where", "die.lot=LAT")
    check(sorted(m["device"] for m in latest) == ["nA", "nB"], f"{label}: latest of two devices: {latest}")
    check(len(rows_of(db, "ls", "measurements", "--latest", "--where", "device.name=nA")) == 1,
          f"{label}: --latest --where device.name of the first device")
    devices = {d["name"]: (d["subsite"], d["position"]) for d in rows_of(db, "ls", "devices", "--where",
                                                                         "device.name~n_")}
    check(devices == {"nA": ("nA", "0"), "nB": ("nB", "0")}, f"{label}: places {devices}")
    # Re-measurements at once: the second file of one invocation, and the next invocation.
    status, out, err = dbif(db, "import", "csv", first, second, *place("LAT", "nA", "--type", "nmos"))
    check(status == 0 and "1 already stored" in out, f"{label}: re-measurement in one run: {out} {err}")
    status, out, err = dbif(db, "import", "csv", write(work, "l3.csv", SWEEP.replace("2e-3", "3e-3")),
                            *place("LAT", "nA", "--type", "nmos"))
    check(status == 0 and "stored 1 files" in out, f"{label}: re-measurement in the next run: {out} {err}")
    latest = rows_of(db, "ls", "measurements", "--latest", "--where", "device.name=nA")
    every = rows_of(db, "ls", "measurements", "--where", "device.name=nA")
    check(len(every) == 3 and [m["id"] for m in latest] == [every[-1]["id"]],
          f"{label}: three measurements of nA, the last one latest: {every} {latest}")
    # Explicit places: two positions of one subsite are two devices; one place is one device.
    for device, position in [("p1", "1"), ("p2", "2")]:
        dbif(db, "import", "csv", first, *place("POS", device, "--subsite", "S7", "--position", position))
    check(len(rows_of(db, "ls", "measurements", "--latest", "--where", "die.lot=POS")) == 2,
          f"{label}: two positions of one subsite")
    check(len(rows_of(db, "ls", "devices", "--where", "device.subsite=S7", "--where", "device.position=2")) == 1,
          f"{label}: device.position")
    status, out, err = dbif(db, "import", "csv", first, *place("POS", "p3", "--position", "x"))
    check(status == 1 and "position 'x'" in err, f"{label}: a position that is no number: {err!r}")


# (file name, text, the line a refusal names or None when the file is read, rows stored)
def check_export_texts(db, work, label):
    """CSV export writes each number in the shortest text that reads back as the stored double."""
    values = ["0.1", "-43.985", "1e-15", "123456789012345680", "2.5", "0.30000000000000004"]
    path = write(work, "texts.csv", "x,y\n" + "".join(f"{i},{v}\n" for i, v in enumerate(values)))
    status, out, err = dbif(db, "import", "csv", path, *place("TXT", "t1", "--temperature", "-40.1"))
    exported = os.path.join(work, "texts-out.csv")
    status, out, err = dbif(db, "export", "csv", "--where", "die.lot=TXT", "-o", exported)
    with open(exported) as f:
        lines = f.read().splitlines()
    check([line.split(",")[-1] for line in lines[1:]] == ["0.1", "-43.985", "1e-15", "123456789012345680", "2.5",
                                                          "0.30000000000000004"] and
          all(line.split(",")[7] == "-40.1" for line in lines[1:]), f"{label}: export texts {lines}")


def check_failure_lines(db, work, label):
    """A refused file is one line naming the file, its line and what is wrong; a database's refusal
    is one line too, and --verbose adds the library's report. A run that stored nothing has no id."""
    path = write(work, "inf.csv", "Vd,Id\n0,1\n1,inf\n")
    status, out, err = dbif(db, "import", "csv", path, *place("ERR", "e1"))
    check(status == 1 and err == f"{path}:3: column Id: 'inf' is not a finite number\n", f"{label}: inf cell {err!r}")
    check(out == "stored 0 files (0 rows), 0 already stored, 1 failed\n", f"{label}: summary {out!r}")
    # A text longer than MySQL's text column is refused at its line before anything of the file is
    # stored; SQLite keeps it. Characters count, not bytes.
    for index, (note, refused) in enumerate([("\u00e9" * 200, False), ("x" * 201, label == "MariaDB")]):
        path = write(work, f"note{index}.csv", f"Vd,Note\n0,short\n1,{note}\n")
        status, out, err = dbif(db, "import", "csv", path, *place("ERR", f"note{index}"))
        expected = f"{path}:3: column Note: a text of {len(note)} characters; the database holds at most 200\n"
        stored = rows_of(db, "ls", "measurements", "--where", f"device.name=note{index}")
        check((status, err, len(stored)) == ((1, expected, 0) if refused else (0, "", 1)),
              f"{label}: a text of {len(note)} characters: {status} {err!r}, stored {stored}")
    if label == "MariaDB":  # names that this database takes for one, refused by the library
        path = write(work, "accents.csv", "U\u00e9,U\u00c9\n1,2\n")
        for verbose in [[], ["--verbose"]]:
            status, out, err = dbif(db, "import", "csv", path, *place("ERR", "e2", *verbose))
            first = err.splitlines()[0] if err else ""
            check(status == 1 and first.startswith(f"{path}: not stored: ") and "differ only in case" in first and
                  "INSERT" not in first and ("Query: INSERT" in err) == bool(verbose) and
                  (err.count("\n") == 1) != bool(verbose), f"{label}: {verbose} database refusal {err!r}")


# (bytes of the file, options, the columns with their exported cells, lines skipped before the names)
CSV_DIALECTS = [
    (b"Vd;Id\n0,5;1,5E-3\n1,0;2,5E-3\n", [], {"Vd": ["0.5", "1"], "Id": ["0.0015", "0.0025"]}, 0),
    (b"Vd\tId\n0.5\t1e-3\n1\t2e-3\n", [], {"Vd": ["0.5", "1"], "Id": ["0.001", "0.002"]}, 0),
    (b"Instrument,B1500\nDate,2024-05-01\nAveraging,16\n\nVd,Id\n0.5,1e-3\n1,2e-3\n", [],
     {"Vd": ["0.5", "1"], "Id": ["0.001", "0.002"]}, 4),
    (b"Vd,Id\n0,N/A\n1,NaN\n2,-\n3,4e-3\n", [], {"Vd": ["0", "1", "2", "3"], "Id": ["", "", "", "0.004"]}, 0),
    (b"Vd,Note,E\n0,N/A,-\n1,x,\n", [], {"Vd": ["0", "1"], "Note": ["N/A", "x"], "E": ["-", ""]}, 0),
    (b"Vd,Note\n0,25\xb0C\n", [], {"Vd": ["0"], "Note": ["25\u00b0C"]}, 0),
    (b'Vd,Note\n0,5" probe\n', [], {"Vd": ["0"], "Note": ['5" probe']}, 0),
    (b"Vd,Id,\n0,1e-3,\n1,2e-3,\n", [], {"Vd": ["0", "1"], "Id": ["0.001", "0.002"]}, 0),
    (b"Vd,Id\n0,1.0D-03\n1,2.5d-3\n", [], {"Vd": ["0", "1"], "Id": ["0.001", "0.0025"]}, 0),
    (b"a;b,c\n1;2,3\n", ["--delimiter", ","], {"a;b": ["1;2"], "c": ["3"]}, 0),
    (b"Vd;Id\n1;2\n3;4\n", ["--skip", "1", "--decimal", ","], {"1": ["3"], "2": ["4"]}, 1),
    # Longer than the start of a file that the dialect is found from: its last rows read as the first.
    (b"Vd;Note\n" + b"".join(b"%d,5;ok\n" % i for i in range(40000)) + b'40000,5;"au lait; caf\xe9"\n', [],
     {"Vd": [f"{i}.5" for i in range(40001)], "Note": ["ok"] * 40000 + ["au lait; caf\u00e9"]}, 0),
]


def check_csv_dialects(db, work, label):
    """Separators, decimal commas, header blocks, missing markers, Latin-1, stray quotes, trailing
    separators, Fortran exponents and the options that override what is found."""
    for index, (data, options, columns, skipped) in enumerate(CSV_DIALECTS):
        path = write(work, f"dialect{index}.csv", data, "wb")
        device = f"c{index}"
        status, out, err = dbif(db, "import", "csv", path, *place("CSV", device, *options))
        said = f"{path}: skipped {skipped} lines before the column names" in out
        check(status == 0 and said == (skipped > 0), f"{label}: {data!r} {options}: {out!r} {err!r}")
        exported = os.path.join(work, f"dialect{index}-out.csv")
        dbif(db, "export", "csv", "--where", f"device.name={device}", "-o", exported)
        with open(exported, newline="", encoding="utf-8") as f:
            rows = list(csv.DictReader(f))
        got = {name: [row[name] for row in rows] for name in columns if rows and name in rows[0]}
        check(got == columns and len(rows[0]) == 9 + len(columns) if rows else False,
              f"{label}: {data!r} {options}: {got}")


def check_units(db, work, label):
    """A column keeps its unit as the SI unit, values scaled to it: Ix in mA, uA and A is one column
    Ix [A] that --where compares alike, shown in ls, the export header and the plot's axes."""
    for index, (unit, value) in enumerate([("mA", "1.5"), ("\u00b5A", "1500"), ("A", "0.0015"), ("V/dec", "60")]):
        name = "S" if unit == "V/dec" else "Ix"
        path = write(work, f"unit{index}.csv", f"Vd [V],{name} [{unit}]\n0,0\n1,{value}\n")
        status, out, err = dbif(db, "import", "csv", path, *place("UNIT", f"u{index}"))
        check(status == 0, f"{label}: {unit} ({err.strip()})")
    found = rows_of(db, "ls", "measurements", "--where", "Ix>1e-3", "--where", "die.lot=UNIT")
    check([m["columns"] for m in found] == ["Vd [V] Ix [A]"] * 3, f"{label}: Ix>1e-3 in three units: {found}")
    check(len(rows_of(db, "ls", "measurements", "--where", "Ix [A]>1.4999e-3", "--where", "die.lot=UNIT")) == 3,
          f"{label}: the whole column name")
    exported = os.path.join(work, "units-out.csv")
    dbif(db, "export", "csv", "--where", "die.lot=UNIT", "-o", exported)
    with open(exported, encoding="utf-8") as f:
        rows = list(csv.DictReader(f))
    check(list(rows[0])[9:] == ["Vd [V]", "Ix [A]", "S [V/dec]"] and
          [r["Ix [A]"] for r in rows if r["Vd [V]"] == "1"] == ["0.0015"] * 3 + [""], f"{label}: export {rows}")
    svg = os.path.join(work, "units.svg")
    status, out, err = dbif(db, "plot", "--where", "die.lot=UNIT", "--x", "Vd", "--y", "Ix", "-o", svg)
    with open(svg, encoding="utf-8") as f:
        drawn = f.read()
    check(status == 0 and "Ix [mA]" in drawn and "Vd [V]" in drawn, f"{label}: plot axes ({err.strip()})")


def run(db, work, label):
    check_where(db, work, label)
    check_latest_per_device(db, work, label)
    check_export_texts(db, work, label)
    check_failure_lines(db, work, label)
    check_csv_dialects(db, work, label)
    check_units(db, work, label)


if __name__ == "__main__":
    sys.exit(run_on_both_drivers(run))
