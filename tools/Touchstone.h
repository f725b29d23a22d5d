// Touchstone: Touchstone files of any port count, version 1 (.sNp) and version 2 (.sNp or .ts), read
// into a sweep, and a stored measurement written back. The sweep has a DB column Freq in Hz, a CM
// column named after the network parameter (S, or Y, Z, H, G) with the full N x N matrix per frequency
// (a version-2 Upper or Lower matrix is completed from its symmetry), and in its first row the option
// line's reference impedance (DB column Z0) and the option line itself (TX column Options), which
// export follows again. A version-2 file's [Reference] impedances, one per port, become the CM column
// Reference (1 x N) in the first row, as does a complex R of the option line (scikit-rf writes
// "R (50+50j)"), which leaves Z0 empty. The per-point port impedances that simulators write
// as "! Port Impedance" comments (a complex value per port, wrapped over comment lines for many ports)
// become the CM column PortImpedance (1 x N); the comment lines before the data (which name the
// program that wrote the file) become the TX column Comments, a line (or a 200-character piece of one)
// a row as far as there are rows. Both are written back. Two-port noise data is checked but not kept.
// Export writes version 1 where it holds the network (every port at one reference impedance, a .sNp
// name) and version 2 otherwise. Stateless; any thread.
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
    static const QString REFERENCE_COLUMN;

    // True for the name of a network parameter column (S, Y, Z, H, G), whose elements are ratios that
    // read as magnitude and angle as well as real and imaginary parts.
    static bool isNetworkParameter(const QString& columnName);

    // The sweep of a file's text, already read from path (.sNp gives the port count; version 2 gives
    // it again, and a .ts file only there). Throws ToolError "file:line: message" for a malformed file:
    // every data line has the numbers of its place in a frequency point, frequencies rise, keywords are
    // those of version 2 in their order, and noise data follows the network data.
    static Sweep read(const QString& path, const QByteArray& text);
    // Writes the measurement in the unit and data format of its option line, with every number at
    // full precision; a .ts path or differing port references give version 2. A failure leaves no file.
    // Throws ToolError when the measurement holds no Touchstone network, the port count does not match
    // a .sNp name, or the file cannot be written.
    static void write(const DBIF_Measurement& measurement, const QString& path);
};

#endif
