// DBIF_MeasurementConditionColumn: a data column of measurement conditions, one row of
// measurement_condition_column. It carries a description that is not part of its key, so a column
// keeps the description of its first definition. Handles share their records; the kind's cache holds
// one per row and connection. Not thread-safe: one thread at a time.
#ifndef DBIF_MEASUREMENTCONDITIONCOLUMN_H
#define DBIF_MEASUREMENTCONDITIONCOLUMN_H

#include <QString>

#include "dbif/DBIF_AttributedColumnKind.h"
#include "dbif/DBIF_Export.h"
#include "dbif/DBIF_ObjectCache.h"
#include "dbif/DBIF_TableSet.h"

class DBIF_MeasurementConditionColumn;
extern template class DBIF_EXPORT DBIF_DynamicTableColumnKind<DBIF_MeasurementConditionColumn>;
extern template class DBIF_EXPORT DBIF_AttributedColumnKind<DBIF_MeasurementConditionColumn, QString>;
extern template DBIF_EXPORT DBIF_ObjectCache<DBIF_MeasurementConditionColumn>&
getObjectCache<DBIF_MeasurementConditionColumn>();

class DBIF_EXPORT DBIF_MeasurementConditionColumn
    : public DBIF_AttributedColumnKind<DBIF_MeasurementConditionColumn, QString> {
public:
    using DBIF_AttributedColumnKind::DBIF_AttributedColumnKind;

    // "<name>_<case mask>_<data type>", upper-cased; the description does not enter the key.
    static QString computeKey(const QString& name, const QString& dataType, const QString& description);
    // Master measurement_condition, catalog measurement_condition_column, data
    // measurement_condition_data, association measurement_condition_association.
    static const DBIF_TableSet& tableSet();

    QString getDescription() const { return attribute(); }

private:
    friend class DBIF_DynamicTableColumnKind<DBIF_MeasurementConditionColumn>;
    static QString extraColumnName() { return QStringLiteral("description"); }
};

template <>
struct DBIF_ObjectCacheTraits<DBIF_MeasurementConditionColumn>
    : DBIF_DynamicTableColumnCacheTraits<DBIF_MeasurementConditionColumn> {};

extern template class DBIF_EXPORT DBIF_ObjectCache<DBIF_MeasurementConditionColumn>;

#endif
