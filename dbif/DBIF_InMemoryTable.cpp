// DBIF_InMemoryTable.cpp: the one instance of the in-memory table per column kind, which the
// data-table entities derive from.
#include "dbif/DBIF_InMemoryTable.h"

template class DBIF_InMemoryTable<DBIF_CatalogEntryColumn>;
template class DBIF_InMemoryTable<DBIF_DeviceColumn>;
template class DBIF_InMemoryTable<DBIF_MeasurementConditionColumn>;
template class DBIF_InMemoryTable<DBIF_MeasurementColumn>;
template class DBIF_InMemoryTable<DBIF_SetupColumn>;
