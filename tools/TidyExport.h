// TidyExport: `dbif export csv`, one long CSV with one line per data row: the measurement's
// identifying fields (Listing::measurementHeader) and then every data column of the exported
// measurements by name, empty where a measurement has no such column. Stateless; one thread.
#ifndef DBIF_TOOLS_TIDYEXPORT_H
#define DBIF_TOOLS_TIDYEXPORT_H

#include <QList>
#include <QString>

#include "dbif/DBIF_Measurement.h"

class TidyExport {
public:
    // Writes the file whole (a temporary renamed at the end), so a failure leaves no partial file.
    // Returns the number of data rows. Throws ToolError when the file cannot be written.
    static long long write(const DBIF_Connection& connection, const QList<DBIF_Measurement>& measurements,
                           const QString& path);
    // The cell as text: numbers and complex values in their shortest exact form.
    static QString cellText(const DBIF_Measurement& measurement, const QString& key, unsigned row);
};

#endif
