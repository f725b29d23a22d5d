// DBIF_DeviceColumn: a data column of devices, one row of device_column. Besides name and data
// type a device column has a category, which is part of its key: the same name in two categories
// gives two columns. Handles share their records; the device-column cache holds one per row and
// connection. Not thread-safe: one thread at a time.
#ifndef DBIF_DEVICECOLUMN_H
#define DBIF_DEVICECOLUMN_H

#include <QString>

#include "dbif/DBIF_AttributedColumnKind.h"
#include "dbif/DBIF_Export.h"
#include "dbif/DBIF_ObjectCache.h"
#include "dbif/DBIF_TableSet.h"

class DBIF_DeviceColumn;
extern template class DBIF_EXPORT DBIF_DynamicTableColumnKind<DBIF_DeviceColumn>;
extern template class DBIF_EXPORT DBIF_AttributedColumnKind<DBIF_DeviceColumn, QString>;
extern template DBIF_EXPORT DBIF_ObjectCache<DBIF_DeviceColumn>& getObjectCache<DBIF_DeviceColumn>();

class DBIF_EXPORT DBIF_DeviceColumn : public DBIF_AttributedColumnKind<DBIF_DeviceColumn, QString> {
public:
    // Categories and names that hosts use; the library itself only adds the is_measurement column
    // of category IS_MEASUREMENT to devices. The category is free text and never checked.
    static const char* const ID_CATEGORY;
    static const char* const PHYSICAL_CATEGORY;
    static const char* const CALIBRATION_CATEGORY;
    static const char* const NODE_CATEGORY;
    static const char* const TECHNOLOGY_CATEGORY;
    static const char* const IS_MEASUREMENT_CATEGORY;
    static const char* const IS_MEASUREMENT_COLUMN_NAME;

    using DBIF_AttributedColumnKind::DBIF_AttributedColumnKind;

    // "<name>_<case mask>_<data type>_<category>", upper-cased: Vd, "DB", "PHYSICAL" is VD_2_DB_PHYSICAL.
    static QString computeKey(const QString& name, const QString& dataType, const QString& category);
    // Master device, catalog device_column, data device_data, association device_association.
    static const DBIF_TableSet& tableSet();

    QString getCategory() const { return attribute(); }

private:
    friend class DBIF_DynamicTableColumnKind<DBIF_DeviceColumn>;
    static QString extraColumnName() { return QStringLiteral("category"); }
};

template <>
struct DBIF_ObjectCacheTraits<DBIF_DeviceColumn> : DBIF_DynamicTableColumnCacheTraits<DBIF_DeviceColumn> {};

extern template class DBIF_EXPORT DBIF_ObjectCache<DBIF_DeviceColumn>;

#endif
