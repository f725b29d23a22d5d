// DBIF_SetupColumn.cpp: the setup column kind and its template instances.
#include "dbif/DBIF_SetupColumn.h"

template class DBIF_DynamicTableColumnKind<DBIF_SetupColumn>;
template class DBIF_AttributedColumnKind<DBIF_SetupColumn, bool>;
template DBIF_ObjectCache<DBIF_SetupColumn>& getObjectCache<DBIF_SetupColumn>();
template class DBIF_ObjectCache<DBIF_SetupColumn>;

QString DBIF_SetupColumn::computeKey(const QString& name, const QString& dataType, bool isInput) {
    return composeKey(name, {isInput ? QStringLiteral("I") : QStringLiteral("O"), dataType});
}

const DBIF_TableSet& DBIF_SetupColumn::tableSet() {
    static const DBIF_TableSet tables = DBIF_TableSet::forMasterTable(QStringLiteral("setup"));
    return tables;
}
