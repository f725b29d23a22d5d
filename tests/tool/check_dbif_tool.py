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


SVG = "{http://www.w3.org/2000/svg}"
AREA = (100, 50, 640, 490)  # the plot area's left, top, right and bottom in the drawing


def drawing(path):
    """The curves (their <path> elements), the texts and the raw text of a plot."""
    with open(path, encoding="utf-8") as f:
        raw = f.read()
    tree = ElementTree.fromstring(raw)
    groups = {p: g for g in tree.iter(SVG + "g") for p in g.iter(SVG + "path")}
    curves = [(groups[p].get("stroke"), groups[p].get("stroke-dasharray"), p.get("d"))
              for p in tree.iter(SVG + "path")]
    return curves, [(t.text or "").strip() for t in tree.iter(SVG + "text")], raw


def check_plots(db, work, label):
    """Plots as they go into a report: one path per curve, a measurement's inner sweep split into
    curves named by the stepped value, axes in units with a grid and minor decades, what a log axis
    leaves out said on standard error, limits that cut the curves, a legend that names every entry in
    colours and line styles no two entries share, and a PNG rendering of the same drawing."""
    family = "Vg [V],Vd [V],Id [mA]\n" + "".join(f"{vg},{vd / 10},{vg * vd / 10}\n"
                                                    for vg in (0.5, 1, 1.5) for vd in range(11))
    with open(os.path.join(work, "family.csv"), "w") as f:
        f.write(family)
    dbif(db, "import", "csv", os.path.join(work, "family.csv"), "--lot", "FAM", "--wafer", "W1", "--die", "D1",
         "--device", "n1", "--temperature", "25", "--quiet")
    names = [f"a-device-with-a-rather-long-name-{i:02d}" for i in range(30)]
    for i, name in enumerate(names):
        with open(os.path.join(work, f"{name}.csv"), "w") as f:
            f.write(f"Vd [V],Id [A]\n0,0\n1,{i + 1}e-3\n")
    manifest = os.path.join(work, "many.csv")
    with open(manifest, "w") as f:
        f.write("file,device\n" + "".join(f"{name}.csv,{name}\n" for name in names))
    dbif(db, "import", "csv", "--manifest", manifest, "--lot", "MANY", "--wafer", "W1", "--die", "D1",
         "--temperature", "25", "--quiet")
    with open(os.path.join(work, "updown.csv"), "w") as f:
        f.write("Vd [V],Id [A]\n0,0\n0.5,1e-3\n1,2e-3\n0.5,1.1e-3\n0,0\n")
    dbif(db, "import", "csv", os.path.join(work, "updown.csv"), "--lot", "UPDOWN", "--wafer", "W1", "--die", "D1",
         "--device", "n1", "--temperature", "25", "--quiet")
    sample = ["--where", "die.lot=LOT-4711", "--where", "die.die=X1Y1", "--x", "Vd", "--y", "Id"]
    fam = ["--where", "die.lot=FAM", "--x", "Vd", "--y", "Id"]
    # Arguments; curves drawn; texts drawn; what the SVG holds; the lines on standard error. Where the
    # curves are all entries of the legend, no two share colour and line style.
    cases = [
        (fam, 3, ["Vg [V]", "Vg = 0.5 V", "Vg = 1 V", "Vg = 1.5 V", "Id [mA]", "Vd [V]"], ['stroke="#d9d9d9"'], []),
        (fam + ["--curve-by", "Vg"], 3, ["Vg = 0.5 V", "Vg = 1.5 V"], [], []),
        (fam + ["--curve-by", "Vb"], 3, ["Vg = 0.5 V"], [],
         [r"1 measurement without a column Vb, split where x jumps back instead: measurement \d+$"]),
        # A sweep up and down again comes back step by step: one curve.
        (["--where", "die.lot=UPDOWN", "--x", "Vd", "--y", "Id"], 1, ["25 °C"], [], []),
        (sample + ["--log-y"], 3, ["10⁻³", "Id [A]", "temperature", "-40 °C", "125 °C"], ['stroke="#eeeeee"'],
         [r"left out 3 of 6 curves with no y > 0 for the log axis: measurement \d+ \(pmos, .*; --abs plots \|y\|$",
          r"left out 3 points with y <= 0 from 3 curves"]),
        (sample + ["--log-y", "--abs"], 6, ["|Id| [A]"], [], ["left out 6 points with y <= 0 from 6 curves"]),
        (fam + ["--log-y", "--ylim", "1.5e-4,3e-3"], 3, ["10⁻³", "2·10⁻³", "5·10⁻⁴", "2·10⁻⁴"], [],
         ["left out 3 points with y <= 0 from 3 curves"]),
        (sample + ["--group", "type", "--style", "temperature"], 6,
         ["type", "nmos", "pmos", "temperature", "-40 °C", "25 °C", "125 °C", "Id [mA]"], ["stroke-dasharray"], []),
        (fam + ["--xlim", "0.2,0.8", "--ylim", "0,0.001", "--title", "Zoomed in"], 3, ["Zoomed in", "0.2", "0.8"],
         [], []),
        (["--where", "die.lot=MANY", "--x", "Vd", "--y", "Id", "--group", "device"], 30, names, [], []),
    ]
    for index, (arguments, count, texts, raws, errors) in enumerate(cases):
        what = f"{label}: plot {' '.join(arguments)}"
        svg = os.path.join(work, f"plot{index}.svg")
        status, out, err = dbif(db, "plot", *arguments, "-o", svg)
        check(status == 0 and f"wrote {count} curve{'' if count == 1 else 's'} to" in out, f"{what}: {out.strip()} {err.strip()}")
        lines = err.splitlines()
        check(len(lines) == len(errors) and all(line.startswith("dbif: plot: ") and re.search(e, line)
                                                for e, line in zip(errors, lines)), f"{what}: standard error {err!r}")
        if status != 0:
            continue
        curves, drawn, raw = drawing(svg)
        check(len(curves) == count, f"{what}: {len(curves)} paths")
        check(all(t in drawn for t in texts), f"{what}: texts {[t for t in texts if t not in drawn]} missing")
        check(all(r in raw for r in raws), f"{what}: {raws}")
        check("--abs" in arguments or len({(colour, dashes) for colour, dashes, d in curves}) == len(curves),
              f"{what}: two curves share colour and line style")
        numbers = [float(v) for colour, dashes, d in curves for v in re.findall(r"-?[\d.]+(?:e-?\d+)?", d)]
        check(all(AREA[0] - 1e-6 <= x <= AREA[2] + 1e-6 and AREA[1] - 1e-6 <= y <= AREA[3] + 1e-6
                  for x, y in zip(numbers[::2], numbers[1::2])), f"{what}: curves leave the plot area")
    # The same drawing as PNG, twice the size of the SVG's view box, for slides.
    png = os.path.join(work, "family.png")
    status, out, err = dbif(db, "plot", *fam, "-o", png)
    with open(png, "rb") as f:
        head = f.read(24)
    view = re.search(r'viewBox="0 0 (\d+) (\d+)"', drawing(os.path.join(work, "plot0.svg"))[2])
    check(status == 0 and head[:8] == b"\x89PNG\r\n\x1a\n" and view and
          (int.from_bytes(head[16:20], "big"), int.from_bytes(head[20:24], "big")) ==
          (2 * int(view.group(1)), 2 * int(view.group(2))), f"{label}: PNG of the family ({err.strip()})")
    for arguments, needle in [(["--xlim", "1"], "--xlim"), (["--ylim", "2,1"], "--ylim"),
                              (["--style", "colour"], "--style colour"), (["--db-mag", "--phase"], "one of")]:
        check_one_line_error(dbif(db, "plot", *fam, *arguments, "-o", os.path.join(work, "bad.svg")), 2, needle,
                             f"{label}: plot {arguments}")


def check_copy(db, work, label):
    """dbif copy of every run into a new SQLite file: a dry run writes nothing, the copy lists and
    exports as the source does (ids aside), a second copy copies nothing."""
    target = os.path.join(work, f"copy-{label}.db")
    runs = len(rows_of(db, "ls", "runs"))
    status, out, err = dbif(db, "copy", "--from", db, "--to", target, "--dry-run")
    check(status == 0 and out.startswith(f"would copy {runs} run") and not os.path.exists(target),
          f"{label}: copy --dry-run ({out.strip()} {err.strip()})")
    status, out, err = dbif(db, "copy", "--from", db, "--to", target)
    check(status == 0 and out.startswith(f"copied {runs} run") and err == "", f"{label}: copy ({out.strip()} {err.strip()})")

    def without_ids(rows):
        return sorted(tuple(v for k, v in row.items() if k not in ("id", "run")) for row in rows)
    check(without_ids(rows_of(target, "ls", "measurements")) == without_ids(rows_of(db, "ls", "measurements")),
          f"{label}: the copy lists the source's measurements")
    exports = []
    for database in (db, target):
        path = os.path.join(work, f"copy-{label}-{len(exports)}.csv")
        check(dbif(database, "export", "csv", "-o", path)[0] == 0, f"{label}: export for the copy check")
        with open(path) as f:
            exports.append(without_ids(csv.DictReader(f)))
    check(exports[0] == exports[1], f"{label}: the copy exports every value as the source does")
    status, out, err = dbif(db, "copy", "--from", db, "--to", target)
    check(status == 0 and out.strip() == f"nothing to copy: {runs} runs already on the target",
          f"{label}: a second copy ({out.strip()})")
    check_one_line_error(dbif(db, "copy", "--from", target, "--to", target), 2, "one database", f"{label}: copy onto itself")


def run_with_url_errors(db, work, label):
    run(db, work, label)
    check_copy(db, work, label)
    check_plots(db, work, label)
    check_manifest_confinement(db, work, label)
    if label == "SQLite":
        check_output_is_not_the_database(db, work)
        check_one_line_error(dbif("mysql://nobody@127.0.0.1:1/none", "ls", "runs"), 1, "cannot open",
                             "unreachable server")
        check_one_line_error(dbif("mysql:/broken", "ls", "runs"), 2, "mysql://user@host", "bad URL")


if __name__ == "__main__":
    sys.exit(run_on_both_drivers(run_with_url_errors))
