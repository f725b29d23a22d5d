// TidyExport: `dbif export csv`, one long CSV with one line per data row: the measurement's
// identifying fields (Listing::measurementHeader) and then every data column of the exported
// measurements by name, empty where a measurement has no such column. A complex matrix column becomes
// two columns per element (S11_re, S11_im, S21_re, ... in the order of a Touchstone file), so that
// network data reads into a spreadsheet or a data frame as numbers. Stateless; one thread.
#ifndef DBIF_TOOLS_TIDYEXPORT_H
#define DBIF_TOOLS_TIDYEXPORT_H

#include <QList>
#include <QString>
#include <QStringList>

#include "dbif/DBIF_Measurement.h"

class TidyExport {
public:
    // How the elements of a network parameter matrix (S, Y, Z, H, G) are written: real and imaginary
    // parts (_re, _im), magnitude and angle in degrees (_mag, _deg), or magnitude in dB and angle
    // (_db, _deg). Other matrices (port impedances) are always written as real and imaginary parts.
    enum ComplexFormat { RI, MA, DB };
    // The names --format takes, in the order of ComplexFormat.
    static QStringList complexFormats();

    // An element of a matrix column and its name after the column's: 21 (S21) for a square matrix,
    // 10_11 beyond nine ports, 2 (PortImpedance2) for a single row. In the order a Touchstone file lists
    // them: 11 21 12 22 for two ports, row by row otherwise.
    struct MatrixElement {
        QString name;
        unsigned row;
        unsigned column;
    };
    static QList<MatrixElement> matrixElements(unsigned rows, unsigned columns);

    // Writes the file whole (a temporary renamed at the end), so a failure leaves no partial file.
    // Returns the number of data rows. Throws ToolError when the file cannot be written.
    static long long write(const DBIF_Connection& connection, const QList<DBIF_Measurement>& measurements,
                           ComplexFormat format, const QString& path);
    // The cell as text: numbers and complex values in their shortest exact form.
    static QString cellText(const DBIF_Measurement& measurement, const QString& key, unsigned row);
};

#endif
