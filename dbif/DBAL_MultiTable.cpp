// DBAL_MultiTable.cpp: the refresh delay and the multi-table registry of each kind with a data table,
// instantiated here once so that the library and its hosts share one registry per kind.
#include "dbif/DBAL_MultiTable.h"

#include "dbif/DBIF_CatalogEntry.h"
#include "dbif/DBIF_CatalogEntryColumn.h"
#include "dbif/DBIF_Device.h"
#include "dbif/DBIF_DeviceColumn.h"
#include "dbif/DBIF_Measurement.h"
#include "dbif/DBIF_MeasurementColumn.h"
#include "dbif/DBIF_MeasurementCondition.h"
#include "dbif/DBIF_MeasurementConditionColumn.h"
#include "dbif/DBIF_Setup.h"
#include "dbif/DBIF_SetupColumn.h"

int delayInSeconds = 1;

template class DBAL_MultiTable<DBIF_CatalogEntry, DBIF_CatalogEntryColumn>;
template class DBAL_MultiTable<DBIF_Device, DBIF_DeviceColumn>;
template class DBAL_MultiTable<DBIF_MeasurementCondition, DBIF_MeasurementConditionColumn>;
template class DBAL_MultiTable<DBIF_Measurement, DBIF_MeasurementColumn>;
template class DBAL_MultiTable<DBIF_Setup, DBIF_SetupColumn>;
