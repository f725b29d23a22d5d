// dbifClearAllCaches: empties the caches of the kinds that are cached whole (the five column
// kinds, dies, routines) for every connection, e.g. after another process changed their tables.
// The caches of the data-table entities keep their objects. Handles held by callers stay valid; later
// lookups build new records. Not thread-safe: no other thread may use those caches meanwhile.
#ifndef DBIF_CLEARALLCACHES_H
#define DBIF_CLEARALLCACHES_H

#include "dbif/DBIF_Export.h"

DBIF_EXPORT void dbifClearAllCaches();

#endif
