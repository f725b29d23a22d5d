// DBIF_ListSlicer.cpp: the free slice functions, each a slicer over its argument.
#include "dbif/DBIF_ListSlicer.h"

namespace {

template <typename T, typename V>
QList<V> sliceField(const QList<T>& list, V (T::*getter)() const) {
    return DBIF_ListSlicer<T, V>(list).slice(getter);
}

template <typename T, typename C>
QList<DBIF_DataType*> sliceColumn(const QList<T>& list, const C* column) {
    return DBIF_ListSlicer<T, DBIF_DataType*>(list).slice(column);
}

}  // namespace

QList<QDateTime> sliceCatalogEntryStartTimes(const QList<DBIF_CatalogEntry>& entries) {
    return sliceField(entries, &DBIF_CatalogEntry::getStartTime);
}
QList<QDateTime> sliceCatalogEntryEndTimes(const QList<DBIF_CatalogEntry>& entries) {
    return sliceField(entries, &DBIF_CatalogEntry::getEndTime);
}
QStringList sliceCatalogEntryRunTypes(const QList<DBIF_CatalogEntry>& entries) {
    return sliceField(entries, &DBIF_CatalogEntry::getRunType);
}
QStringList sliceCatalogEntryApplications(const QList<DBIF_CatalogEntry>& entries) {
    return sliceField(entries, &DBIF_CatalogEntry::getApplication);
}
QStringList sliceCatalogEntryApplicationVersions(const QList<DBIF_CatalogEntry>& entries) {
    return sliceField(entries, &DBIF_CatalogEntry::getApplicationVersion);
}
QStringList sliceDieWafers(const QList<DBIF_Die>& dies) {
    return sliceField(dies, &DBIF_Die::getWafer);
}
QStringList sliceDieLots(const QList<DBIF_Die>& dies) {
    return sliceField(dies, &DBIF_Die::getLot);
}
QStringList sliceDieDies(const QList<DBIF_Die>& dies) {
    return sliceField(dies, &DBIF_Die::getDie);
}
QStringList sliceDieBlocks(const QList<DBIF_Die>& dies) {
    return sliceField(dies, &DBIF_Die::getBlock);
}
QStringList sliceRoutineNames(const QList<DBIF_Routine>& routines) {
    return sliceField(routines, &DBIF_Routine::getName);
}

QList<DBIF_DataType*> sliceDynamicColumn(const QList<DBIF_Device>& devices, const DBIF_DeviceColumn* column) {
    return sliceColumn(devices, column);
}
QList<DBIF_DataType*> sliceDynamicColumn(const QList<DBIF_MeasurementCondition>& conditions,
                                         const DBIF_MeasurementConditionColumn* column) {
    return sliceColumn(conditions, column);
}
QList<DBIF_DataType*> sliceDynamicColumn(const QList<DBIF_Measurement>& measurements,
                                         const DBIF_MeasurementColumn* column) {
    return sliceColumn(measurements, column);
}
QList<DBIF_DataType*> sliceDynamicColumn(const QList<DBIF_Setup>& setups, const DBIF_SetupColumn* column) {
    return sliceColumn(setups, column);
}
