// DBIF_ClearAllCaches.cpp: one call that empties every cache read whole on first use.
#include "dbif/DBIF_ClearAllCaches.h"

#include "dbif/DBIF_CatalogEntryColumn.h"
#include "dbif/DBIF_DeviceColumn.h"
#include "dbif/DBIF_Die.h"
#include "dbif/DBIF_MeasurementColumn.h"
#include "dbif/DBIF_MeasurementConditionColumn.h"
#include "dbif/DBIF_Routine.h"
#include "dbif/DBIF_SetupColumn.h"

void dbifClearAllCaches() {
    DBIF_DynamicTableColumn::clearCache<DBIF_CatalogEntryColumn>();
    DBIF_DynamicTableColumn::clearCache<DBIF_DeviceColumn>();
    DBIF_DynamicTableColumn::clearCache<DBIF_MeasurementColumn>();
    DBIF_DynamicTableColumn::clearCache<DBIF_MeasurementConditionColumn>();
    DBIF_DynamicTableColumn::clearCache<DBIF_SetupColumn>();
    DBIF_Die::clearCache();
    DBIF_Routine::clearCache();
}
