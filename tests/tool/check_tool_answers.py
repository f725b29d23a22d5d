#!/usr/bin/env python3
"""End-to-end tests of the dbif tool's answers on small crafted files: exact ids in --where, the
latest measurement per device, re-measurements,
CSV dialects, units, the texts of numbers, the one-line failure reports and the netCDF export as
xarray reads it. Runs on a SQLite file
and, when the DBIF_TEST_MYSQL_* variables name a server, on a fresh MariaDB database.
    check_tool_answers.py DBIF_PROGRAM
"""
import csv
import json
import os
import subprocess
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
    check(status == 0 and "stored 1 file (" in out, f"{label}: re-measurement in the next run: {out} {err}")
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


# The netCDF export as Debian's xarray reads it (engine netcdf4), every number as float.hex so that a
# comparison is one of bits; NaN, a missing cell of numbers or of texts, as None. Run by /usr/bin/python3, where Debian's
# python3-xarray lives, whichever Python runs this script.
READ_NETCDF = """
import json, math, sys, xarray
def cell(value):
    if isinstance(value, str):
        return value
    if isinstance(value, float):
        return None if math.isnan(value) else value.hex()
    return int(value)
ds = xarray.open_dataset(sys.argv[1], engine="netcdf4")
print(json.dumps({
    "sizes": dict(ds.sizes),
    "coords": {name: [cell(v) for v in ds[name].values.tolist()] for name in ds.coords},
    "vars": {name: {"dims": list(ds[name].dims), "dtype": str(ds[name].dtype),
                    "attrs": {k: str(v) for k, v in ds[name].attrs.items()},
                    "values": [[cell(v) for v in row] for row in ds[name].values.tolist()]}
             for name in ds.data_vars},
}))
"""


def xarray_missing():
    """Why Debian's Python cannot read netCDF with xarray, or None when it can."""
    result = subprocess.run(["/usr/bin/python3", "-c", "import xarray, netCDF4"], capture_output=True, text=True)
    return result.stderr.strip().splitlines()[-1] if result.returncode else None


def number(text):
    return None if text is None else float(text).hex()


# The measurements of the netCDF export: (file name, its text, die, temperature, the variables it
# gives: name -> (units, stored column, the cells; None for a missing one)). Names taken by two
# columns ("Id [A]" and the unitless "Id") are the whole column names; matrix elements are pairs of
# real and imaginary parts; a 1-port's elements differ from a 2-port's.
NETCDF_FILES = [
    ("n1.csv", "Vd [V],Id [A],Note\n0,0.1,first\n0.5,N/A,\n1,2.2250738585072014e-308,x y\n", "X1", "25",
     {"Vd": ("V", "Vd [V]", ["0", "0.5", "1"]),
      "Id [A]": ("A", "Id [A]", ["0.1", None, "2.2250738585072014e-308"]),
      "Note": (None, "Note", ["first", None, "x y"])}),
    ("n2.csv", "Vd [V],Id,Ig [A]\n0,1e-15,-1.7976931348623157e308\n1,0.30000000000000004,NaN\n"
     "2,3,4\n3,5,6\n4,7,8\n", "X2", "-40.1",
     {"Vd": ("V", "Vd [V]", ["0", "1", "2", "3", "4"]),
      "Id": (None, "Id", ["1e-15", "0.30000000000000004", "3", "5", "7"]),
      "Ig": ("A", "Ig [A]", ["-1.7976931348623157e308", None, "4", "6", "8"])}),
    ("n3.s2p", "# Hz S RI R 50\n1e9 0.1 -0.2 0.3 1e-300 0.5 0.6 0.7 0.8\n2.5e9 -1 2 3 4 5 6 7 8\n", "X3", "125",
     {"Freq": (None, "Freq", ["1e9", "2.5e9"]),
      **{f"S{e}_{p}": (None, "S", cells) for e, parts in
         [("11", (["0.1", "-1"], ["-0.2", "2"])), ("21", (["0.3", "3"], ["1e-300", "4"])),
          ("12", (["0.5", "5"], ["0.6", "6"])), ("22", (["0.7", "7"], ["0.8", "8"]))]
         for p, cells in zip(["re", "im"], parts)},
      "Z0": (None, "Z0", ["50", None]),
      "Options": (None, "Options", ["# Hz S RI R 50", None])}),
    ("n4.s1p", "# Hz S RI R 50\n1e9 0.5 -0.25\n", "X3", "125",
     {"Freq": (None, "Freq", ["1e9"]), "S1_re": (None, "S", ["0.5"]), "S1_im": (None, "S", ["-0.25"]),
      "Z0": (None, "Z0", ["50"]), "Options": (None, "Options", ["# Hz S RI R 50"])}),
]

NETCDF_TEXTS = {"Note", "Options"}


def check_netcdf_export(db, work, label):
    """The selected measurements as one netCDF file that xarray opens as it is: a variable a data column
    (a real and an imaginary one a complex part) over (measurement, row) with its unit, the
    measurements' fields as coordinates along `measurement`, every number bit for bit, NaN for a
    missing cell and for the rows past a measurement's end, also in a column of texts."""
    missing = xarray_missing()
    if missing:
        # CI installs python3-xarray (scripts/install-deps); there its absence is a failure.
        check(not os.environ.get("CI"), f"{label}: netCDF export: /usr/bin/python3 has no xarray ({missing})")
        print(f"-- netCDF export: skipped (/usr/bin/python3: {missing})")
        return
    for name, text, die, temperature, _ in NETCDF_FILES:
        kind = "csv" if name.endswith(".csv") else "touchstone"
        status, out, err = dbif(db, "import", kind, write(work, name, text), "--lot", "NC", "--wafer", "W1",
                                "--die", die, "--device", name.split(".")[0], "--temperature", temperature,
                                "--quiet")
        check(status == 0, f"{label}: import {name} ({err.strip()})")
    listed = rows_of(db, "ls", "measurements", "--where", "die.lot=NC")
    path = os.path.join(work, "export.nc")
    status, out, err = dbif(db, "export", "netcdf", "--where", "die.lot=NC", "-o", path)
    check(status == 0 and out == f"wrote 11 rows of 4 measurements (18 variables) to {path}\n",
          f"{label}: export netcdf: {out!r} {err!r}")
    result = subprocess.run(["/usr/bin/python3", "-c", READ_NETCDF, path], capture_output=True, text=True)
    check(result.returncode == 0, f"{label}: xarray opens the export ({result.stderr.strip()})")
    if result.returncode:
        return
    read = json.loads(result.stdout)
    longest = max(len(next(iter(columns.values()))[2]) for *_, columns in NETCDF_FILES)
    check(read["sizes"] == {"measurement": 4, "row": longest}, f"{label}: netCDF sizes {read['sizes']}")
    # Coordinates: what ls shows of each measurement, the temperature as the double given, the rows.
    expected = {"measurement": [int(m["id"]) for m in listed], "temperature": [number(f[3]) for f in NETCDF_FILES],
                "run": [int(m["run"]) for m in listed],
                "rows": [len(next(iter(f[4].values()))[2]) for f in NETCDF_FILES],
                **{field: [m[field] for m in listed] for field in
                   ["lot", "wafer", "die", "device", "device_type", "condition"]}}
    check(read["coords"] == expected, f"{label}: netCDF coordinates {read['coords']} != {expected}")
    names = list(dict.fromkeys(name for *_, columns in NETCDF_FILES for name in columns))
    check(sorted(read["vars"]) == sorted(names), f"{label}: netCDF variables {sorted(read['vars'])}")
    for name in names:
        variable = read["vars"].get(name, {})
        units, column = next(columns[name][:2] for *_, columns in NETCDF_FILES if name in columns)
        text = name in NETCDF_TEXTS
        attrs = {k: v for k, v in variable.get("attrs", {}).items() if k in ("units", "column")}
        check(attrs == ({"column": column} | ({"units": units} if units else {})) and
              variable.get("dims") == ["measurement", "row"] and
              variable.get("dtype") == ("object" if text else "float64"),
              f"{label}: netCDF {name}: {attrs} {variable.get('dims')} {variable.get('dtype')}")
        cells = []
        for *_, columns in NETCDF_FILES:
            given = columns.get(name, (None, None, []))[2]
            cells.append([v if text else number(v) for v in given] + [None] * (longest - len(given)))
        check(variable.get("values") == cells, f"{label}: netCDF {name}: {variable.get('values')} != {cells}")


def run(db, work, label):
    check_where(db, work, label)
    check_latest_per_device(db, work, label)
    check_export_texts(db, work, label)
    check_failure_lines(db, work, label)
    check_csv_dialects(db, work, label)
    check_units(db, work, label)
    check_netcdf_export(db, work, label)


if __name__ == "__main__":
    sys.exit(run_on_both_drivers(run))
