// DBIF_DynamicTableColumn: a data column defined at run time for an entity kind with a data table,
// one row of that kind's column catalog. A value handle over an explicitly shared record, so the
// handle that the kind's object cache holds and every other handle see the same flags, id and dirty
// state. The five column kinds build on it through DBIF_DynamicTableColumnKind; this class holds what
// every kind's record has and writes the catalog rows. Not thread-safe: one thread at a time.
#ifndef DBIF_DYNAMICTABLECOLUMN_H
#define DBIF_DYNAMICTABLECOLUMN_H

#include <QExplicitlySharedDataPointer>
#include <QSharedData>
#include <QSqlRecord>
#include <QString>
#include <QStringList>
#include <ostream>

#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_Export.h"
#include "dbif/DBIF_ObjectCache.h"
#include "dbif/DBIF_SingleColumnCondition.h"
#include "dbif/DBIF_TableSet.h"
#include "dbif/DBIF_WeakConnection.h"

class DBIF_EXPORT DBIF_DynamicTableColumn {
public:
    // The flag bits the library sets: where the column's cells live. A column that the sparse-table
    // engine created may later get the multi-table bit too.
    static constexpr int SPARSE_TABLE_FLAG = 1;
    static constexpr int MULTI_TABLE_FLAG = 2;

    struct DBIF_EXPORT SharedData : public QSharedData {
        // The data column format follows from the data type; an unknown type is reported and leaves
        // it empty. A record without id (-1) starts dirty.
        SharedData(const DBIF_Connection& connection, const QString& name, const QString& dataType,
                   const QString& key, int flags, int id);
        virtual ~SharedData();

        DBIF_WeakConnection connection;
        QString name;  // as the host gave it, case preserved
        QString dataType;
        QString dataColumnFormat;  // SQL type of the column in data tables
        QString key;               // cache key and SQL column name in data tables
        int flags;
        int id;  // catalog row id, -1 until inserted
        bool dirty;
        bool currentlyInSave = false;
    };

    DBIF_DynamicTableColumn(const DBIF_DynamicTableColumn& other);
    DBIF_DynamicTableColumn& operator=(const DBIF_DynamicTableColumn& other);
    ~DBIF_DynamicTableColumn();

    // Columns never reread their row: name, data type and key are fixed, and the flags change only
    // through this process.
    virtual void reload(const QSqlRecord& record);
    virtual void loadSubordinates();
    virtual const DBIF_TableSet& getTableSet() const = 0;
    void unloadSubordinates() {}

    // On a handle without record (a failed look-up) every accessor reports once and returns an empty
    // value (empty texts, id -1, flags 0, a connection of no database); setters report and do nothing.
    bool isNull() const { return !d; }
    QString getName() const { return field(&SharedData::name, "getName"); }
    QString getDataType() const { return field(&SharedData::dataType, "getDataType"); }
    QString getDataColumnFormat() const {
        return field(&SharedData::dataColumnFormat, "getDataColumnFormat");
    }
    QString getKey() const { return field(&SharedData::key, "getKey"); }
    int getFlags() const { return field(&SharedData::flags, "getFlags"); }
    int getId() const { return field(&SharedData::id, "getId", -1); }
    DBIF_Connection getConnection() const;
    bool isNew() const { return getId() == -1; }
    bool isDirty() const { return hasRecord("isDirty") && (d->dirty || d->id == -1); }
    void setDirty(bool dirty);
    // Replaces the flags; the catalog row is rewritten at the next save.
    void setFlags(int flags);
    bool isCurrentlyInSave() const { return field(&SharedData::currentlyInSave, "isCurrentlyInSave"); }
    // The guard belongs to the shared record, so it can be set through any handle.
    void setCurrentlyInSave(bool inSave) const;
    // False for a handle without record (not reported).
    bool isSparseTableColumn() const { return d && (d->flags & SPARSE_TABLE_FLAG) != 0; }

    // Holds where this column's cell is not null, on the kind's base data table.
    DBIF_SingleColumnCondition notNull() const;

    // Empties the object cache of column kind K. Handles held elsewhere keep their records.
    template <typename K>
    static void clearCache() {
        DBIF_ObjectCache<K>::emptyCache();
    }

    // Identity: the same shared record.
    bool operator==(const DBIF_DynamicTableColumn& other) const { return d == other.d; }
    bool operator!=(const DBIF_DynamicTableColumn& other) const { return d != other.d; }

protected:
    DBIF_DynamicTableColumn();
    DBIF_DynamicTableColumn(const DBIF_Connection& connection, const QString& name, const QString& dataType,
                            const QString& key, int flags, int id);

    void setId(int id);
    bool hasRecord(const char* operation) const;
    template <typename F>
    F field(F SharedData::*member, const char* operation, F fallback = F()) const {
        return hasRecord(operation) ? (*d).*member : fallback;
    }
    bool isTextColumn() const;
    bool isDoubleColumn() const;

    // caseSensitize(name) and the qualifiers joined by "_", upper-cased as a whole: the case mask
    // keeps names that differ only in case apart.
    static QString composeKey(const QString& name, const QStringList& qualifiers);

    // The catalog select of a kind whose catalog is table and whose extra attribute is stored in
    // extraColumn (empty: the kind has none). It lists the columns in the order the kinds' row
    // constructors read them: name, data_type, [extra], flags, id.
    static QString catalogSelectStatement(const QString& table, const QString& extraColumn);
    // Inserts a new column (taking the database's id) or rewrites a dirty one; returns at once when
    // re-entered. A failing statement throws DBIF_Exception and leaves id and dirty flag as they
    // were, so a later save repeats it.
    void saveCatalogRow(const QString& table, const QString& extraColumn, const QString& extraText);

private:
    // The values of the catalog row, in catalogColumns' order.
    QVariantList catalogValues(const QString& extraText, bool hasExtra) const;

    QExplicitlySharedDataPointer<SharedData> d;
};

// "Column::name: <name> key: <key> data type: <type> flags: <flags>" and an end of line.
DBIF_EXPORT std::ostream& operator<<(std::ostream& stream, const DBIF_DynamicTableColumn& column);

#endif
