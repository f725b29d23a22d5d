// DBIF_CatalogEntryColumn.cpp: the catalog-entry column kind and its template instances.
#include "dbif/DBIF_CatalogEntryColumn.h"

template class DBIF_DynamicTableColumnKind<DBIF_CatalogEntryColumn>;
template class DBIF_PlainColumnKind<DBIF_CatalogEntryColumn>;
template DBIF_ObjectCache<DBIF_CatalogEntryColumn>& getObjectCache<DBIF_CatalogEntryColumn>();
template class DBIF_ObjectCache<DBIF_CatalogEntryColumn>;

const DBIF_TableSet& DBIF_CatalogEntryColumn::tableSet() {
    static const DBIF_TableSet tables = DBIF_TableSet::forMasterTable(QStringLiteral("catalog_entry"));
    return tables;
}
