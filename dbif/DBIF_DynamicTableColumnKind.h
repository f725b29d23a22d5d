// DBIF_DynamicTableColumnKind<K>: what the five column kinds share, written once over the kind K:
// lookups through K's object cache, find-or-create with the flag merge, the catalog statements,
// save() and the cache traits. K supplies tableSet(), its ParameterBlock, its row and block
// constructors and, when it has one, its extra catalog attribute (extraColumnName(), extraText()).
// Instantiated explicitly in each kind's source file. Not thread-safe: one thread per kind's cache.
#ifndef DBIF_DYNAMICTABLECOLUMNKIND_H
#define DBIF_DYNAMICTABLECOLUMNKIND_H

#include <QString>

#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_DynamicTableColumn.h"
#include "dbif/DBIF_ObjectCache.h"
#include "dbif/DBIF_ObjectCacheTraits.h"
#include "dbif/DBIF_TableSet.h"

// The process-wide object cache of column kind K. The cache object holds no data; its maps are
// the exported statics of DBIF_ObjectCache<K>.
template <typename K>
DBIF_ObjectCache<K>& getObjectCache() {
    static DBIF_ObjectCache<K> cache;
    return cache;
}

template <typename K>
class DBIF_DynamicTableColumnKind : public DBIF_DynamicTableColumn {
public:
    using DBIF_DynamicTableColumn::isSparseTableColumn;

    static DBIF_ObjectCache<K>& getObjectCache() { return ::getObjectCache<K>(); }

    // The cached column with this catalog id, or a null handle (reported) when there is no such row.
    static K get(const DBIF_Connection& connection, int id) {
        return DBIF_ObjectCache<K>::get(connection, id);
    }
    // The cached column with this key, or a null handle (reported).
    static K get(const DBIF_Connection& connection, const QString& key) {
        return DBIF_ObjectCache<K>::get(connection, key);
    }
    static bool hasColumn(const DBIF_Connection& connection, const QString& key) {
        return getObjectCache().contains(connection, key);
    }
    // False, after the report of a failed lookup, for a key that is not cached.
    static bool isSparseTableColumn(const DBIF_Connection& connection, const QString& key) {
        return get(connection, key).isSparseTableColumn();
    }

    // The statement that reads the kind's whole catalog for the cache.
    static QString selectStatement() {
        return catalogSelectStatement(K::tableSet().columnTableName, K::extraColumnName());
    }

    const DBIF_TableSet& getTableSet() const override { return K::tableSet(); }

    // Inserts the catalog row of a new column, rewrites a dirty one, and otherwise sends nothing.
    // Throws DBIF_Exception when the statement fails.
    void save() {
        saveCatalogRow(K::tableSet().columnTableName, K::extraColumnName(),
                       static_cast<const K*>(this)->extraText());
    }

protected:
    DBIF_DynamicTableColumnKind() = default;
    DBIF_DynamicTableColumnKind(const DBIF_Connection& connection, const QString& name,
                                const QString& dataType, const QString& key, int flags, int id)
        : DBIF_DynamicTableColumn(connection, name, dataType, key, flags, id) {}

    // The column for the block: the cached one, or a new unsaved one that the cache now holds. When
    // its flags share no bit with the block's, the block's bits join them; a stored column is
    // rewritten at once, a new one is written by whoever saves it. A column holding bit 1 asked for
    // with bits 1 and 2 is therefore returned unchanged; flags 0 always rewrites a stored column.
    template <typename Block>
    static K findOrCreate(const DBIF_Connection& connection, const Block& block) {
        K column = DBIF_ObjectCache<K>::get(connection, block);
        if ((column.getFlags() & block.flags) == 0) {
            column.setFlags(column.getFlags() | block.flags);
            if (!column.isNew())
                column.save();
        }
        return column;
    }

    // Kinds without an extra catalog attribute; the others hide both.
    static QString extraColumnName() { return QString(); }
    QString extraText() const { return QString(); }
};

// The cache traits every column kind shares: catalogs are small and read whole on first use.
template <typename K>
struct DBIF_DynamicTableColumnCacheTraits : DBIF_ObjectCacheTraitsBase {
    static bool shouldCacheAll() { return true; }
    static QString cacheSelectStatement() { return K::selectStatement(); }
};

#endif
