// DBIF_MeasurementColumn: a data column of measurements, one row of measurement_column, told apart from
// the kind's other columns by name and data type alone. Handles share their records; the kind's
// cache holds one per row and connection. Not thread-safe: one thread at a time.
#ifndef DBIF_MEASUREMENTCOLUMN_H
#define DBIF_MEASUREMENTCOLUMN_H

#include "dbif/DBIF_Export.h"
#include "dbif/DBIF_ObjectCache.h"
#include "dbif/DBIF_PlainColumnKind.h"
#include "dbif/DBIF_TableSet.h"

class DBIF_MeasurementColumn;
extern template class DBIF_EXPORT DBIF_DynamicTableColumnKind<DBIF_MeasurementColumn>;
extern template class DBIF_EXPORT DBIF_PlainColumnKind<DBIF_MeasurementColumn>;
extern template DBIF_EXPORT DBIF_ObjectCache<DBIF_MeasurementColumn>&
getObjectCache<DBIF_MeasurementColumn>();

class DBIF_EXPORT DBIF_MeasurementColumn : public DBIF_PlainColumnKind<DBIF_MeasurementColumn> {
public:
    using DBIF_PlainColumnKind::DBIF_PlainColumnKind;

    // Master measurement, catalog measurement_column, data measurement_data,
    // association measurement_association.
    static const DBIF_TableSet& tableSet();
};

template <>
struct DBIF_ObjectCacheTraits<DBIF_MeasurementColumn>
    : DBIF_DynamicTableColumnCacheTraits<DBIF_MeasurementColumn> {};

extern template class DBIF_EXPORT DBIF_ObjectCache<DBIF_MeasurementColumn>;

#endif
