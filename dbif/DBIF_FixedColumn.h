// DBIF_FixedColumn: a column of entity kind T's master table that queries may name, with the
// comparison settings a condition on it uses (collation suffix, tolerance and its two bounds).
// Plain value; the entity classes hold their fixed columns as static constants.
#ifndef DBIF_FIXEDCOLUMN_H
#define DBIF_FIXEDCOLUMN_H

#include <QString>
#include <limits>

// The tolerances every fixed column uses unless it compares with a tolerance of its own.
constexpr double DBIF_DEFAULT_RELATIVE_TOLERANCE = 1e-10;
constexpr double DBIF_DEFAULT_ABSOLUTE_TOLERANCE = std::numeric_limits<double>::epsilon();

template <typename T>
struct DBIF_FixedColumn {
    QString columnName;
    bool useCollation;
    bool useTolerance;
    double relativeTolerance;
    double absoluteTolerance;

    DBIF_FixedColumn(const QString& columnName, bool useCollation, bool useTolerance,
                     double relativeTolerance = DBIF_DEFAULT_RELATIVE_TOLERANCE,
                     double absoluteTolerance = DBIF_DEFAULT_ABSOLUTE_TOLERANCE)
        : columnName(columnName),
          useCollation(useCollation),
          useTolerance(useTolerance),
          relativeTolerance(relativeTolerance),
          absoluteTolerance(absoluteTolerance) {}

    const QString& getColumnName() const { return columnName; }
};

#endif
