// Touchstone: version-1 Touchstone files (.s1p to .s4p) read into a sweep and a stored measurement
// written back. The sweep has a DB column Freq in Hz, a CM column named after the network parameter
// (S, or Y, Z, H, G) with the N x N matrix per frequency, and in its first row the reference
// impedance (DB column Z0) and the file's option line (TX column Options), which export follows
// again. The per-point port impedances that simulators write as "! Port Impedance" comments (a
// complex value per port) become the CM column PortImpedance (1 x N) and are written back the same
// way; the comment lines before the data (which name the program that wrote the file) become the TX
// column Comments, a line (or a 200-character piece of one) a row as far as there are rows, and are
// written back too. Two-port noise data after the network data is checked but not kept. Stateless;
// any thread.
#ifndef DBIF_TOOLS_TOUCHSTONE_H
#define DBIF_TOOLS_TOUCHSTONE_H

#include <QByteArray>
#include <QString>

#include "Sweep.h"
#include "dbif/DBIF_Measurement.h"

class Touchstone {
public:
    static const QString PORT_IMPEDANCE_COLUMN;
    static const QString COMMENTS_COLUMN;

    // The sweep of a file's text, already read from path (whose extension gives the port count).
    // Throws ToolError "file:line: message" for a malformed file: every data line has the numbers of
    // its place in a frequency point, frequencies rise, and noise data follows the network data.
    static Sweep read(const QString& path, const QByteArray& text);
    // Writes the measurement in the unit and data format of its option line, with every number at
    // full precision; a failure leaves no file. Throws ToolError when the measurement holds no
    // Touchstone network or the file cannot be written.
    static void write(const DBIF_Measurement& measurement, const QString& path);
};

#endif
