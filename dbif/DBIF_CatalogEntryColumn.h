// DBIF_CatalogEntryColumn: a data column of catalog entries, one row of catalog_entry_column, told apart from
// the kind's other columns by name and data type alone. Handles share their records; the kind's
// cache holds one per row and connection. Not thread-safe: one thread at a time.
#ifndef DBIF_CATALOGENTRYCOLUMN_H
#define DBIF_CATALOGENTRYCOLUMN_H

#include "dbif/DBIF_Export.h"
#include "dbif/DBIF_ObjectCache.h"
#include "dbif/DBIF_PlainColumnKind.h"
#include "dbif/DBIF_TableSet.h"

class DBIF_CatalogEntryColumn;
extern template class DBIF_EXPORT DBIF_DynamicTableColumnKind<DBIF_CatalogEntryColumn>;
extern template class DBIF_EXPORT DBIF_PlainColumnKind<DBIF_CatalogEntryColumn>;
extern template DBIF_EXPORT DBIF_ObjectCache<DBIF_CatalogEntryColumn>&
getObjectCache<DBIF_CatalogEntryColumn>();

class DBIF_EXPORT DBIF_CatalogEntryColumn : public DBIF_PlainColumnKind<DBIF_CatalogEntryColumn> {
public:
    using DBIF_PlainColumnKind::DBIF_PlainColumnKind;

    // Master catalog_entry, catalog catalog_entry_column, data catalog_entry_data,
    // association catalog_entry_association.
    static const DBIF_TableSet& tableSet();
};

template <>
struct DBIF_ObjectCacheTraits<DBIF_CatalogEntryColumn>
    : DBIF_DynamicTableColumnCacheTraits<DBIF_CatalogEntryColumn> {};

extern template class DBIF_EXPORT DBIF_ObjectCache<DBIF_CatalogEntryColumn>;

#endif
