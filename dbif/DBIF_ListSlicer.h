// DBIF_ListSlicer<T, V>: turns a list of entities of kind T into a list of one of their values: a field
// through a const getter (V a text or a date-time), or one data column over every row of every entity
// (V a DBIF_DataType pointer, each value a new object that the caller owns and deletes). The slicer keeps
// its own copy of the list. The free slice functions below are the forms hosts call. One thread at a
// time, like the entities it reads.
#ifndef DBIF_LISTSLICER_H
#define DBIF_LISTSLICER_H

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include "dbif/DBIF_CatalogEntry.h"
#include "dbif/DBIF_DataType.h"
#include "dbif/DBIF_Device.h"
#include "dbif/DBIF_Die.h"
#include "dbif/DBIF_Export.h"
#include "dbif/DBIF_Measurement.h"
#include "dbif/DBIF_MeasurementCondition.h"
#include "dbif/DBIF_Routine.h"
#include "dbif/DBIF_Setup.h"
#include "dbif/DBIF_Utilities.h"

template <typename T, typename V>
class DBIF_ListSlicer {
public:
    explicit DBIF_ListSlicer(const QList<T>& list) : list(list) {}

    // The getter's value for every element, in list order.
    QList<V> slice(V (T::*getter)() const) const {
        QList<V> values;
        values.reserve(list.size());
        for (const T& element : list)
            values.append((element.*getter)());
        return values;
    }

    // The column's data elements of rows 0 .. rowCount()-1 of every element, the elements in list order;
    // an element's data is loaded if needed. The caller owns the values.
    template <typename C>
    QList<V> slice(const C* column) const {
        QList<V> values;
        if (!assert0(column != nullptr, __FILE__, __LINE__,
                     QStringLiteral("Slicing a list by a null column")))
            return values;
        for (const T& element : list) {
            const unsigned rows = element.rowCount();
            for (unsigned row = 0; row < rows; ++row)
                values.append(element.getDataElement(*column, row));
        }
        return values;
    }

private:
    QList<T> list;
};

DBIF_EXPORT QList<QDateTime> sliceCatalogEntryStartTimes(const QList<DBIF_CatalogEntry>& entries);
DBIF_EXPORT QList<QDateTime> sliceCatalogEntryEndTimes(const QList<DBIF_CatalogEntry>& entries);
DBIF_EXPORT QStringList sliceCatalogEntryRunTypes(const QList<DBIF_CatalogEntry>& entries);
DBIF_EXPORT QStringList sliceCatalogEntryApplications(const QList<DBIF_CatalogEntry>& entries);
DBIF_EXPORT QStringList sliceCatalogEntryApplicationVersions(const QList<DBIF_CatalogEntry>& entries);
DBIF_EXPORT QStringList sliceDieWafers(const QList<DBIF_Die>& dies);
DBIF_EXPORT QStringList sliceDieLots(const QList<DBIF_Die>& dies);
DBIF_EXPORT QStringList sliceDieDies(const QList<DBIF_Die>& dies);
DBIF_EXPORT QStringList sliceDieBlocks(const QList<DBIF_Die>& dies);
DBIF_EXPORT QStringList sliceRoutineNames(const QList<DBIF_Routine>& routines);
// The column's values over all rows of all entities, in list and row order. The caller owns the values.
DBIF_EXPORT QList<DBIF_DataType*> sliceDynamicColumn(const QList<DBIF_Device>& devices,
                                                     const DBIF_DeviceColumn* column);
DBIF_EXPORT QList<DBIF_DataType*> sliceDynamicColumn(const QList<DBIF_MeasurementCondition>& conditions,
                                                     const DBIF_MeasurementConditionColumn* column);
DBIF_EXPORT QList<DBIF_DataType*> sliceDynamicColumn(const QList<DBIF_Measurement>& measurements,
                                                     const DBIF_MeasurementColumn* column);
DBIF_EXPORT QList<DBIF_DataType*> sliceDynamicColumn(const QList<DBIF_Setup>& setups,
                                                     const DBIF_SetupColumn* column);

#endif
