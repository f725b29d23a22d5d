#!/usr/bin/python3
"""The dbif tool's Touchstone round trip against files no one here wrote: example networks that
Debian's python3-scikit-rf ships (1 to 4 ports; RI, MA and DB data; Hz, MHz and GHz; a two-port with
noise data) are imported, exported again, and every frequency, parameter and reference impedance is
compared with what scikit-rf reads from the original (relative 1e-12). Runs on both drivers.
    check_touchstone.py DBIF_PROGRAM
"""
import os
import sys

import numpy
import skrf

from tool_harness import check, dbif, rows_of, run_on_both_drivers

PROGRAM = sys.argv[1]
SKRF = os.path.dirname(skrf.__file__)
FILES = [
    "data/tee.s3p",
    "data/ring slot measured.s1p",
    "tests/ntwk_noise.s2p",
    "media/tests/qucs_prj/coaxial.s2p",
    "tests/designer_wilkinson_splitter.s3p",
    "tests/designer_variable_coupler_ideal_20deg.s4p",
    "tests/Agilent_E5071B.s4p",
    "tests/cst_example_4ports.s4p",
]


def close(a, b):
    return numpy.allclose(a, b, rtol=1e-12, atol=0) and numpy.shape(a) == numpy.shape(b)


def run(db, work, label):
    for index, name in enumerate(FILES):
        original = os.path.join(SKRF, name)
        device = f"net{index}"
        status, out, err = dbif(PROGRAM, db, "import", "touchstone", original, "--lot", "RF", "--wafer", "W1",
                                "--die", "D1", "--device", device, "--temperature", "25", "--quiet")
        check(status == 0, f"{label}: import {name} ({err.strip()})")
        found = rows_of(PROGRAM, db, "ls", "measurements", "--where", f"device.name={device}")
        check(len(found) == 1, f"{label}: {name} stored once")
        if len(found) != 1:
            continue
        exported = os.path.join(work, f"{device}{os.path.splitext(name)[1]}")
        status, out, err = dbif(PROGRAM, db, "export", "touchstone", found[0]["id"], "-o", exported)
        check(status == 0, f"{label}: export {name} ({err.strip()})")
        theirs, ours = skrf.Network(original), skrf.Network(exported)
        check(close(theirs.f, ours.f), f"{label}: {name} frequencies")
        check(close(theirs.s, ours.s), f"{label}: {name} parameters")
        check(close(theirs.z0, ours.z0), f"{label}: {name} reference impedance")
    # A version-2 keyword line is refused with its place.
    version2 = os.path.join(work, "v2.s1p")
    with open(version2, "w") as f:
        f.write("[Version] 2.0\n# GHz S RI R 50\n1 0.5 0.5\n")
    status, out, err = dbif(PROGRAM, db, "import", "touchstone", version2, "--lot", "RF", "--wafer", "W1",
                            "--die", "D1", "--device", "v2", "--temperature", "25", "--quiet")
    check(status == 1 and f"{version2}:1:" in err, f"{label}: version 2 refused, got {err!r}")


if __name__ == "__main__":
    sys.exit(run_on_both_drivers(run))
