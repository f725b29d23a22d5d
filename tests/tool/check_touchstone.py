#!/usr/bin/python3
"""The dbif tool's Touchstone paths. Every Touchstone file that Debian's python3-scikit-rf ships (found
with dpkg at run time, never copied here) is imported and exported again, and every frequency, parameter
and reference impedance is compared with what scikit-rf reads from the original; a file the tool does
not take must be refused with one line naming it. Small files written here pin what those do not
show: version-2 keywords and matrix formats, per-port references, wrapped rows, malformations with
their line, the CSV export of matrix elements and their plots. Runs on both drivers.
    check_touchstone.py DBIF_PROGRAM
"""
import csv
import math
import os
import re
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

import numpy
import skrf

from tool_harness import check, dbif, rows_of, run_on_both_drivers

# scikit-rf 0.15 still names numpy.complex, which numpy 1.24 removed; its reading is the reference here.
if not hasattr(numpy, "complex"):
    numpy.complex = complex

PROGRAM = sys.argv[1]
# Within two units in the last place of a double: MA and DB texts go through a power, a sine and a
# cosine, which scikit-rf computes in its own order.
RTOL = 1e-15
IMPORT = ["--lot", "RF", "--wafer", "W1", "--die", "D1", "--temperature", "25", "--quiet"]


def shipped_files():
    try:
        listing = subprocess.run(["dpkg", "-L", "python3-scikit-rf"], capture_output=True, text=True).stdout
    except OSError:
        return []
    return sorted(line for line in listing.splitlines() if re.search(r"\.(s\d+p|ts)$", line, re.I))


def network(path):
    """scikit-rf's reading of a file, with the per-port references of its Touchstone reader (the
    network's z0 takes the option line's, or a simulator's port impedances). scikit-rf 0.15 takes a
    version-2 keyword it does not know for data: [Two-Port Data Order] 21_12 is the order it assumes, so
    it reads a copy without that line."""
    with open(path, errors="replace") as f:
        text = f.read()
    if "[Two-Port Data Order] 21_12\n" in text:
        path = path + ".plain" + os.path.splitext(path)[1]
        with open(path, "w") as f:
            f.write(text.replace("[Two-Port Data Order] 21_12\n", ""))
    read = skrf.Network(path)
    read.references = numpy.array([complex(r) for r in skrf.io.touchstone.Touchstone(path).reference])
    return read


def close(a, b):
    return numpy.shape(a) == numpy.shape(b) and numpy.allclose(a, b, rtol=RTOL, atol=0)


def same_network(theirs, ours, what):
    check(close(theirs.f, ours.f), f"{what}: frequencies")
    check(close(theirs.s, ours.s), f"{what}: parameters (largest difference "
          f"{numpy.max(numpy.abs(theirs.s - ours.s)) if theirs.s.shape == ours.s.shape else 'shape'})")
    check(close(theirs.z0, ours.z0) and close(theirs.references, ours.references), f"{what}: reference impedances")


def import_manifest(db, work, files, prefix):
    """Imports the files in one invocation, device prefix+index each; returns {index: error line}."""
    manifest = os.path.join(work, f"{prefix}manifest.csv")
    with open(manifest, "w", newline="") as f:
        writer = csv.writer(f)
        writer.writerow(["file", "device"])
        for index, path in enumerate(files):
            writer.writerow([path, f"{prefix}{index}"])
    status, out, err = dbif(PROGRAM, db, "import", "touchstone", "--manifest", manifest, "--allow-outside",
                            *IMPORT)
    errors = {}
    for line in err.splitlines():
        owner = [i for i, path in enumerate(files) if line.startswith(f"{path}:")]
        check(len(owner) == 1, f"{prefix}: an error line that names one file: {line!r}")
        if len(owner) == 1:
            check(owner[0] not in errors, f"{files[owner[0]]}: refused in one line, got a second {line!r}")
            errors[owner[0]] = line[len(f"{files[owner[0]]}:"):].strip()
    check(status == (1 if errors else 0), f"{prefix}: import status {status} with {len(errors)} refused")
    ids = {row["device"]: row["id"] for row in rows_of(PROGRAM, db, "ls", "measurements")}
    return errors, ids


def export(db, work, measurement, name):
    path = os.path.join(work, name)
    status, out, err = dbif(PROGRAM, db, "export", "touchstone", measurement, "-o", path)
    check(status == 0, f"export {name} ({err.strip()})")
    return path


def check_shipped(db, work, label):
    files = shipped_files()
    if not files:
        print("-- shipped files: skipped (python3-scikit-rf not installed through dpkg)")
        return
    errors, ids = import_manifest(db, work, files, "shipped")
    tally = {"round trip": 0}
    for index, original in enumerate(files):
        device = f"shipped{index}"
        if index in errors:
            check(device not in ids, f"{label}: {original} refused and yet stored")
            reason = re.sub(r"^\d+: ", "", errors[index])
            tally[reason] = tally.get(reason, 0) + 1
            continue
        check(device in ids, f"{label}: {original} neither stored nor refused")
        if device not in ids:
            continue
        theirs = network(original)
        extension = os.path.splitext(original)[1]
        names = [f"{device}{extension}"]
        # The version-2 writer on real data: a file that was version 2 or has more ports than four.
        if "[Version]" in open(original, errors="replace").read() or theirs.nports > 4:
            names.append(f"{device}.ts")
        for name in names:
            same_network(theirs, network(export(db, work, ids[device], name)), f"{label}: {original} as {name}")
        tally["round trip"] += 1
    print(f"-- {len(files)} shipped files: " + ", ".join(f"{count} {what}" for what, count in tally.items()))


# Crafted files: name, text, and either the 0-based matrices and reference impedances scikit-rf must
# read from the exported file (frequencies 1 and 2 GHz unless given), or the "line: message" of the
# refusal.
V2 = "[Version] 2.0\n# GHz S RI R 50\n"
CRAFTED = [
    ("upper.s3p", V2 + "[Number of Ports] 3\n[Number of Frequencies] 1\n[Matrix Format] Upper\n"
     "[Network Data]\n1 1 0 2 0 3 0\n4 0 5 0\n6 0\n[End]\n",
     {"s": [[[1, 2, 3], [2, 4, 5], [3, 5, 6]]], "f": [1e9], "z0": [50, 50, 50]}),
    ("lower.ts", V2 + "[Number of Ports] 3\n[Number of Frequencies] 1\n[Reference] 50 75\n10\n"
     "[Matrix Format] Lower\n[Network Data]\n1 1 0\n2 0 4 0\n3 0 5 0 6 0\n[End]\n",
     {"s": [[[1, 2, 3], [2, 4, 5], [3, 5, 6]]], "f": [1e9], "z0": [50, 75, 10]}),
    ("order.s2p", V2 + "[Number of Ports] 2\n[Two-Port Data Order] 12_21\n[Number of Frequencies] 2\n"
     "[Reference]\n25 25\n[Network Data]\n1 1 0 12 0 21 0 4 0\n2 1 1 12 1 21 1 4 1\n"
     "[Noise Data]\n1 1 0 0.5 0.1\n[End]\n",
     {"s": [[[1, 12], [21, 4]], [[1 + 1j, 12 + 1j], [21 + 1j, 4 + 1j]]], "z0": [25, 25]}),
    ("wrapped.s5p", "# GHz S RI R 50\n" + "".join(
        f"{f} " + "\n".join(" ".join(f"{r}{c} 0" for c in range(1, 5)) + f"\n{r}5 0" for r in range(1, 6)) + "\n"
        for f in (1, 2)),
     {"s": [[[10 * r + c for c in range(1, 6)] for r in range(1, 6)]] * 2, "z0": [50] * 5}),
    ("unknown.ts", V2 + "[Number of Ports] 1\n[Frobnicate] 1\n", "4: unknown keyword [Frobnicate]"),
    ("mixed.ts", V2 + "[Number of Ports] 2\n[Mixed-Mode Order] D2,1 C2,1\n", "4: mixed-mode data is not read"),
    ("noorder.s2p", V2 + "[Number of Ports] 2\n[Network Data]\n1 1 0 0 0 0 0 1 0\n",
     "4: a 2-port version-2 file without [Two-Port Data Order]"),
    ("keyword.s1p", "# GHz S RI R 50\n[Number of Ports] 1\n1 0.5 0.5\n",
     "2: [Number of Ports] without [Version] 2.0 at the start"),
    ("ports.s3p", V2 + "[Number of Ports] 2\n", "3: [Number of Ports] 2 in a file named for 3"),
    ("count.ts", V2 + "[Number of Ports] 1\n[Number of Frequencies] 3\n[Network Data]\n1 0 0\n2 0 0\n",
     "7: 2 frequency points; [Number of Frequencies] says 3"),
    ("many.ts", V2 + "[Number of Ports] 1\n[Reference] 50 60\n",
     "4: 2 reference impedances, more than the 1 of [Number of Ports]"),
    ("ragged.s5p", "# GHz S RI R 50\n1" + " 0 0" * 25 + "\n2" + " 0 0" * 24 + "\n3" + " 0 0" * 25 + "\n",
     "3: 49 numbers where the frequency points of this file have 51"),
    ("impedance.s5p", "! exported from HFSS\n# GHz S RI R 50\n1" + " 0 0" * 25 + "\n! Port Impedance"
     + " 50 0" * 4 + "\n!" + " 1 2" + "\n",
     {"s": [numpy.zeros((5, 5))], "f": [1e9], "z0": [50, 50, 50, 50, 1 + 2j]}),
    ("late.s1p", V2 + "[Number of Ports] 1\n1 0 0\n", "4: data before [Network Data]"),
    # scikit-rf writes a complex reference impedance as Python prints it; version 2 cannot hold one.
    ("complex.s1p", "# GHz S RI R (50-25.5j)\n1 0.5 0\n2 0.25 0\n", {"s": [[[0.5]], [[0.25]]], "z0": [50 - 25.5j],
                                                                   "lines": ["# GHz S RI R (50-25.5j)"],
                                                                   "ts refused": "complex reference impedances"}),
    ("negative.s1p", "# GHz S RI R (-50+1j)\n1 0.5 0\n",
     "1: the reference impedance '(-50+1j)' of the option line has no positive real part"),
    ("noisecount.ts", V2 + "[Number of Ports] 2\n[Two-Port Data Order] 21_12\n[Number of Noise Frequencies] 2\n"
     "[Network Data]\n1 0 0 0 0 0 0 0 0\n[Noise Data]\n1 1 0 0.5 0.1\n",
     "9: 1 noise frequencies; [Number of Noise Frequencies] says 2"),
    ("short2.s2p", "# GHz S RI R 50\n1 .1 0 .2 0 .3 0 .4 0\n2 .1 0 .2 0 .3 0 .4\n3 .1 0 .2 0 .3 0 .4 0\n",
     "3: 8 numbers; a 2-port frequency point has 9 on its line"),
    ("falling.s1p", "# MHz S MA R 50\n3 .5 10\n2 .5 20\n1 .5 30\n", "3: frequency 2 is below 3 of line 2"),
    ("short1.s1p", "! one\n# Hz S DB R 50\n1 -3 10\n2 -3\n3 -3 30\n",
     "4: 2 numbers; a 1-port frequency point has 3 on its line"),
    ("nan.s1p", "# Hz S RI R 50\n1 0.5 nan\n", "2: 'nan' is not a finite number"),
    # Noise data may start at the last network frequency.
    ("noise.s2p", "# GHz S RI R 50\n1 .1 0 .2 0 .3 0 .4 0\n2 .1 0 .2 0 .3 0 .4 0\n2 1.5 .5 30 .2\n3 1.6 .5 40 .2\n",
     {"s": [[[.1, .3], [.2, .4]]] * 2, "z0": [50, 50]}),
    ("noise-short.s2p", "# GHz S RI R 50\n1 .1 0 .2 0 .3 0 .4 0\n2 .1 0 .2 0 .3 0 .4 0\n1 1.5 .5 30\n",
     "4: frequency 1 is below 2 of line 3"),
    ("three.s3p", "# GHz S RI R 50\n1 1 0 2 0 3 0\n 4 0 5 0 6 0\n 7 0 8 0 9 0\n2 1 0 2 0 3 0\n 4 0 5 0\n"
     " 7 0 8 0 9 0\n", "6: 4 numbers where the frequency points of this file have 6"),
    ("ports.s2p", "# GHz S MA\n1 .1 0 .2 0 .3 0 .4 0\n! Port Impedance 272.8 0 272.8\n",
     "3: a port impedance comment with 3 numbers; 2 ports need 4"),
    # A simulator's header, its port impedances and the file's own number texts come back.
    ("hfss.s2p", "! Exported from HFSS 2017.1.0\n# GHZ S DB\n"
     "0.9 -4.398500E+001 -58.8 -2.45 50.86 -2.45 50.86 -12.16 151.6\n! Gamma ! 0 43.49 0 43.49\n"
     "! Port Impedance272.8 0 272.8 -0.5\n1.1 -43.9 -58.9 -2.4 50.8 -2.4 50.8 -12.1 151.5\n"
     "! Port Impedance 272.9 0 273 -0.25\n",
     {"f": [0.9e9, 1.1e9], "z0": [272.8, 272.8 - 0.5j], "lines": [
         "! Exported from HFSS 2017.1.0", "# GHZ S DB", "0.9 -43.985 -58.8 -2.45 50.86 -2.45 50.86 -12.16 151.6",
         "! Port Impedance 272.8 0 272.8 -0.5", "! Port Impedance 272.9 0 273 -0.25"]}),
]


def check_crafted(db, work, label):
    files = []
    for name, text, expected in CRAFTED:
        path = os.path.join(work, name)
        with open(path, "w") as f:
            f.write(text)
        files.append(path)
    errors, ids = import_manifest(db, work, files, "crafted")
    for index, (name, text, expected) in enumerate(CRAFTED):
        if isinstance(expected, str):
            check(errors.get(index) == expected, f"{label}: {name} refused with {expected!r}, got {errors.get(index)!r}")
            continue
        check(index not in errors and f"crafted{index}" in ids, f"{label}: {name} stored ({errors.get(index)})")
        if f"crafted{index}" not in ids:
            continue
        if "ts refused" in expected:
            status, out, err = dbif(PROGRAM, db, "export", "touchstone", ids[f"crafted{index}"], "-o",
                                    os.path.join(work, f"crafted{index}.ts"))
            check(status == 1 and err.count("\n") == 1 and expected["ts refused"] in err,
                  f"{label}: {name} as version 2 refused: {err!r}")
        for suffix in [f".s{len(expected['z0'])}p"] + ([] if "ts refused" in expected else [".ts"]):
            path = export(db, work, ids[f"crafted{index}"], f"crafted{index}{suffix}")
            ours = network(path)
            if "s" in expected:
                check(close(ours.s, numpy.array(expected["s"], dtype=complex)), f"{label}: {name} as {suffix}: parameters")
            with open(path) as f:
                lines = f.read().splitlines()
            check(all(line in lines for line in expected.get("lines", [])), f"{label}: {name} as {suffix}: {lines}")
            check(close(ours.f, expected.get("f", [1e9, 2e9])), f"{label}: {name} as {suffix}: frequencies")
            check(close(ours.z0[0], numpy.array(expected["z0"], dtype=complex)) or
                  close(ours.references, numpy.array(expected["z0"])),
                  f"{label}: {name} as {suffix}: reference impedances {ours.z0[0]} {ours.references}")
    # Differing references cannot be version 1: the .s3p is version 2 as well.
    lower = open(os.path.join(work, f"crafted1.s3p")).read() if os.path.exists(os.path.join(work, "crafted1.s3p")) else ""
    uniform = open(os.path.join(work, "crafted2.s2p")).read() if os.path.exists(os.path.join(work, "crafted2.s2p")) else ""
    check("[Version] 2.0" in lower and "[Version]" not in uniform and "R 25" in uniform,
          f"{label}: version 2 only for differing references")
    if "crafted2" in ids:
        check_csv_export(db, work, label, ids["crafted2"])
        check_plots(db, work, label, ids["crafted2"])


def check_csv_export(db, work, label, measurement):
    """The 2-port of order.s2p as element columns, in each of the three formats."""
    expected = {"ri": {"S21_re": 21, "S21_im": 0, "S12_re": 12}, "ma": {"S21_mag": 21, "S22_deg": 0},
                "db": {"S21_db": 20 * math.log10(21), "S11_deg": 0}}
    for form, values in expected.items():
        path = os.path.join(work, f"s-{form}.csv")
        status, out, err = dbif(PROGRAM, db, "export", "csv", "--where", f"measurement.id={measurement}",
                                "--format", form, "-o", path)
        check(status == 0, f"{label}: export csv --format {form} ({err.strip()})")
        if status != 0:
            continue
        with open(path) as f:
            rows = list(csv.DictReader(f))
        header = list(rows[0].keys())
        first = {"ri": "re", "ma": "mag", "db": "db"}[form]
        second = "im" if form == "ri" else "deg"
        elements = [f"S{e}_{part}" for e in ("11", "21", "12", "22") for part in (first, second)]
        check(header[header.index("Freq"):header.index("Freq") + 9] == ["Freq"] + elements,
              f"{label}: --format {form} columns {header}")
        for column, value in values.items():
            check(math.isclose(float(rows[0][column]), value, rel_tol=1e-15, abs_tol=1e-300),
                  f"{label}: --format {form} {column} = {rows[0][column]}, expected {value}")
    status, out, err = dbif(PROGRAM, db, "export", "csv", "--format", "polar", "-o", os.path.join(work, "x.csv"))
    check(status == 2 and "--format polar" in err, f"{label}: --format polar refused, got {err!r}")


def check_plots(db, work, label, measurement):
    """A network's matrix elements over frequency, and S11 on a Smith chart: one path per curve and
    the element in the axis label."""
    svg_ns = "{http://www.w3.org/2000/svg}"
    for view, texts in [([], ["|S21|", "Freq [GHz]"]), (["--db-mag"], ["|S21| [dB]"]), (["--phase"], ["arg S21 [°]"]),
                        (["--smith"], ["S11 on a Smith chart"])]:
        path = os.path.join(work, "s.svg")
        element = "S11" if view == ["--smith"] else "S21"
        status, out, err = dbif(PROGRAM, db, "plot", "--where", f"measurement.id={measurement}", "--x", "Freq",
                                "--y", element, *view, "-o", path)
        check(status == 0 and not err, f"{label}: plot {element} {view} ({err.strip()})")
        if status != 0:
            continue
        tree = ElementTree.parse(path)
        drawn = [(t.text or "").strip() for t in tree.iter(svg_ns + "text")]
        title = tree.find(svg_ns + "title").text
        check(len(list(tree.iter(svg_ns + "path"))) == 1 and all(t in drawn or t in title for t in texts),
              f"{label}: plot {element} {view}: {drawn}")
    status, out, err = dbif(PROGRAM, db, "plot", "--where", f"measurement.id={measurement}", "--x", "Freq", "--y", "S",
                            "-o", os.path.join(work, "s.svg"))
    check(status == 2 and "S21" in err, f"{label}: plot of a whole matrix refused: {err!r}")


def run(db, work, label):
    check_shipped(db, work, label)
    check_crafted(db, work, label)


if __name__ == "__main__":
    sys.exit(run_on_both_drivers(run))
