// NetcdfExport: `dbif export netcdf`, the selected measurements as one netCDF-4 file that
// xarray.open_dataset opens as it is. One dataset: a `measurement` dimension whose coordinate is the
// measurement id, with lot, wafer, die, device, device_type, condition, temperature, run and rows as
// coordinates along it, and a `row` dimension as long as the longest measurement. Each data column is
// a variable over (measurement, row) with its unit as `units`; a complex column is a pair of variables
// of its real and imaginary parts, a matrix column such a pair per element. A number cell that holds
// no value, and every row past a measurement's own, is NaN (the variables' _FillValue), which no
// stored number can be; a text one holds its variable's _FillValue, a text none of its cells is. Written
// through the netCDF C library into a temporary file renamed at the end, so a failure leaves no partial file.
// Stateless; one thread at a time (the netCDF library is not thread-safe).
#ifndef DBIF_TOOLS_NETCDFEXPORT_H
#define DBIF_TOOLS_NETCDFEXPORT_H

#include <QList>
#include <QString>

#include "dbif/DBIF_Measurement.h"

class NetcdfExport {
public:
    struct Summary {
        long long rows = 0;  // data rows of all measurements
        int variables = 0;   // data variables, the coordinates not counted
    };

    // Writes the file whole over any file of that name. Throws ToolError when it cannot be written.
    static Summary write(const QList<DBIF_Measurement>& measurements, const QString& path);
};

#endif
