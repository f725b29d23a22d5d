// DBIF_SetupColumn: a data column of instrument setups, one row of setup_column. Whether the
// column is an input of the setup is part of its key: the same name as input and as output gives
// two columns. Handles share their records; the kind's cache holds one per row and connection.
// Not thread-safe: one thread at a time.
#ifndef DBIF_SETUPCOLUMN_H
#define DBIF_SETUPCOLUMN_H

#include <QString>

#include "dbif/DBIF_AttributedColumnKind.h"
#include "dbif/DBIF_Export.h"
#include "dbif/DBIF_ObjectCache.h"
#include "dbif/DBIF_TableSet.h"

class DBIF_SetupColumn;
extern template class DBIF_EXPORT DBIF_DynamicTableColumnKind<DBIF_SetupColumn>;
extern template class DBIF_EXPORT DBIF_AttributedColumnKind<DBIF_SetupColumn, bool>;
extern template DBIF_EXPORT DBIF_ObjectCache<DBIF_SetupColumn>& getObjectCache<DBIF_SetupColumn>();

class DBIF_EXPORT DBIF_SetupColumn : public DBIF_AttributedColumnKind<DBIF_SetupColumn, bool> {
public:
    using DBIF_AttributedColumnKind::DBIF_AttributedColumnKind;

    // "<name>_<case mask>_<I or O>_<data type>", upper-cased: an input Vd of type "TX" is VD_2_I_TX.
    static QString computeKey(const QString& name, const QString& dataType, bool isInput);
    // Master setup, catalog setup_column, data setup_data, association setup_association.
    static const DBIF_TableSet& tableSet();

    // Stored as "1" or "0".
    bool getIsInput() const { return attribute(); }

private:
    friend class DBIF_DynamicTableColumnKind<DBIF_SetupColumn>;
    static QString extraColumnName() { return QStringLiteral("is_input"); }
};

template <>
struct DBIF_ObjectCacheTraits<DBIF_SetupColumn> : DBIF_DynamicTableColumnCacheTraits<DBIF_SetupColumn> {};

extern template class DBIF_EXPORT DBIF_ObjectCache<DBIF_SetupColumn>;

#endif
