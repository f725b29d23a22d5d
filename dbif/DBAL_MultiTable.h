// DBAL_MultiTable<E, C>: one physical data table of the multi-table layout (the data rows of entity kind E
// for exactly one set of column keys of E's column kind C), and the per-connection registry of them all.
// The registry learns other connections' tables from multi_table/multi_table_column at most once per
// delayInSeconds, reading only tables it has not seen, so a burst of saves or queries costs one query.
// Handles share their record; the registry holds one. Process-wide and unguarded: one thread at a time.
#ifndef DBAL_MULTITABLE_H
#define DBAL_MULTITABLE_H

#include <QCryptographicHash>
#include <QDateTime>
#include <QExplicitlySharedDataPointer>
#include <QHash>
#include <QList>
#include <QMap>
#include <QSet>
#include <QSharedData>
#include <QSqlQuery>
#include <QString>
#include <QStringList>

#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_Export.h"
#include "dbif/DBIF_QuarnJoinAlgorithm.h"
#include "dbif/DBIF_UniqueStringList.h"
#include "dbif/DBIF_UnitOfWork.h"
#include "dbif/DBIF_Utilities.h"

// Minimum number of seconds between two refreshes of a registry from the database (initially 1). One
// switch for every kind and connection; the host may change it at any time.
DBIF_EXPORT extern int delayInSeconds;

template <typename E, typename C>
class DBAL_MultiTable {
public:
    struct SharedData : public QSharedData {
        SharedData(const QString& columnTableName, const QString& dataTablePrefix,
                   const DBIF_UniqueStringList& columns, int id)
            : columnTableName(columnTableName), dataTablePrefix(dataTablePrefix), columns(columns), id(id) {}

        QString columnTableName;  // multi_table.column_table_name, e.g. measurement_column
        QString dataTablePrefix;  // multi_table.data_table_prefix, the kind's base data table
        DBIF_UniqueStringList columns;
        QString key;        // registry key, see computeKey
        QString tableName;  // "<prefix>_<id>", or tableNameBeforeSave() while id is -1
        int id;             // multi_table row id, -1 until saved
    };

    // A handle without record; only the registry's maps need it.
    DBAL_MultiTable();
    // A table without columns yet (a loaded table gets them through addColumn).
    DBAL_MultiTable(const QString& columnTableName, const QString& dataTablePrefix, int id);
    // Duplicate keys are dropped. With id -1 the table is not saved and its name is the placeholder.
    DBAL_MultiTable(const QString& columnTableName, const QString& dataTablePrefix,
                    const QStringList& columnKeys, int id);
    DBAL_MultiTable(const DBAL_MultiTable& other);
    DBAL_MultiTable& operator=(const DBAL_MultiTable& other);
    ~DBAL_MultiTable();

    // The registry's table for this set of column keys (in any order), refreshing the registry first when
    // due or forced. A set never seen gets a new unsaved table (id -1) that the registry now holds.
    // Throws DBIF_Exception when the refresh fails (e.g. a database without the multi_table tables).
    static DBAL_MultiTable get(const DBIF_Connection& connection, const QString& columnTableName,
                               const QString& dataTablePrefix, const QStringList& columnKeys,
                               bool forceReload);

    // Creates the physical table with its bookkeeping rows, once: a table with an id is left alone.
    // The bookkeeping row comes first, in a transaction of its own, and holds the set's identity under
    // a unique key (multi_table.column_set): of two connections registering one set at once, even
    // through two nodes of a Galera cluster, one wins and the other adopts its row and table; a table
    // left half made (a process that ended between the two) is completed by the next save of the set.
    // A database without the key serialises the registration with a named lock instead (single server).
    // REQUIRES: every column key is in C's cache (otherwise reported, and nothing is written).
    // Throws DBIF_Exception, with the record unsaved again, when a statement fails.
    void save(const DBIF_Connection& connection);

    // Names of the saved tables of this kind whose columns include all of the given columns, fixed
    // columns of E ignored; empty when only fixed columns (or none) are given.
    static QSet<QString> tablesContainingColumns(const DBIF_Connection& connection,
                                                 const DBIF_UniqueStringList& columns);
    // The list without the names of E's fixed master-table columns.
    static DBIF_UniqueStringList removeFixedColumns(const DBIF_UniqueStringList& columns);
    // True when every given column that is not a fixed column of E is one of this table's columns.
    bool hasColumns(const DBIF_UniqueStringList& columns) const;

    // "<column table>|<prefix>|<keys sorted case-sensitively, joined by |>".
    static QString computeKey(const QString& columnTableName, const QString& dataTablePrefix,
                              const QStringList& columnKeys);
    // The name a table has until it is saved; data tables of that name hold no rows.
    static QString tableNameBeforeSave() {
        return QStringLiteral("attempting_to_get_multitable_name_before_save");
    }

    // REQUIRES for every accessor below except isNull: a record.
    bool isNull() const { return !d; }
    int getId() const { return d->id; }
    QString getTableName() const { return d->tableName; }
    QString getKey() const { return d->key; }
    QString getColumnTableName() const { return d->columnTableName; }
    QString getDataTablePrefix() const { return d->dataTablePrefix; }
    DBIF_UniqueStringList getColumns() const { return d->columns; }

private:
    // Registry key -> table, for one connection. Entries are never removed.
    using Registry = QMap<QString, DBAL_MultiTable>;

    // Connection object cache key -> that connection's registry.
    static QMap<QString, Registry>& allMultiTables();
    // Connection object cache key -> time of that registry's last refresh.
    static QHash<QString, QDateTime>& refreshTimes();
    // A connection closed for good: its registry goes.
    static void forgetConnection(const QString& connectionKey) {
        allMultiTables().remove(connectionKey);
        refreshTimes().remove(connectionKey);
    }
    static Registry& globalTables(const DBIF_Connection& connection, bool forceReload);
    // The table of that multi_table row with its columns, or a null handle (reported) without the row.
    static DBAL_MultiTable loadOne(const DBIF_Connection& connection, int id);
    // One round of the registration, in a unit of its own: adopts the set's table or row when another
    // connection registered it, registers it otherwise. True when the table is still to be made or
    // completed (MySQL with the unique key); otherwise that is done inside the unit.
    bool registerColumnSet(const DBIF_Connection& connection, const QList<C>& columns, bool identified);
    // Creates the physical table, or adds the columns it lacks.
    void createTable(const DBIF_Connection& connection, const QList<C>& columns);
    // multi_table.column_set: the SHA-256 of the registry key in hexadecimal, unique in the table.
    QString columnSetIdentity() const;
    static bool isDuplicateKey(const DBIF_Exception& e);
    // MySQL commits before and after every schema change; SQLite keeps it in the transaction.
    static bool schemaChangeCommits(const DBIF_Connection& connection);
    void computeTableName();
    void addColumn(const DBIF_Connection& connection, int columnId);

    QExplicitlySharedDataPointer<SharedData> d;
};

// Member definitions stay out of the class body so that the explicit instantiation declarations below
// keep hosts from instantiating them: the registry's statics must exist once, in the library.

template <typename E, typename C>
DBAL_MultiTable<E, C>::DBAL_MultiTable() = default;

template <typename E, typename C>
DBAL_MultiTable<E, C>::DBAL_MultiTable(const QString& columnTableName, const QString& dataTablePrefix, int id)
    : DBAL_MultiTable(columnTableName, dataTablePrefix, QStringList(), id) {}

template <typename E, typename C>
DBAL_MultiTable<E, C>::DBAL_MultiTable(const QString& columnTableName, const QString& dataTablePrefix,
                                       const QStringList& columnKeys, int id)
    : d(new SharedData(columnTableName, dataTablePrefix, DBIF_UniqueStringList(columnKeys), id)) {
    d->key = computeKey(columnTableName, dataTablePrefix, d->columns);
    computeTableName();
}

template <typename E, typename C>
DBAL_MultiTable<E, C>::DBAL_MultiTable(const DBAL_MultiTable& other) = default;

template <typename E, typename C>
DBAL_MultiTable<E, C>& DBAL_MultiTable<E, C>::operator=(const DBAL_MultiTable& other) = default;

template <typename E, typename C>
DBAL_MultiTable<E, C>::~DBAL_MultiTable() = default;

template <typename E, typename C>
DBAL_MultiTable<E, C> DBAL_MultiTable<E, C>::get(const DBIF_Connection& connection,
                                                 const QString& columnTableName,
                                                 const QString& dataTablePrefix,
                                                 const QStringList& columnKeys, bool forceReload) {
    Registry& registry = globalTables(connection, forceReload);
    const DBIF_UniqueStringList columns(columnKeys);
    const QString key = computeKey(columnTableName, dataTablePrefix, columns);
    const auto found = registry.constFind(key);
    if (found != registry.constEnd())
        return found.value();
    const DBAL_MultiTable table(columnTableName, dataTablePrefix, columns, -1);
    registry.insert(key, table);
    return table;
}

template <typename E, typename C>
void DBAL_MultiTable<E, C>::save(const DBIF_Connection& connection) {
    if (d->id != -1)
        return;
    // Looked up before anything is written, so that an unknown key leaves no half-made table behind.
    QList<C> columns;
    for (const QString& key : d->columns) {
        const C column = C::get(connection, key);  // reports an unknown key
        if (column.isNull())
            return;
        columns.append(column);
    }
    // A database made before multi_table had its column_set key settles a race with the named lock
    // instead, which only a single server honours.
    const bool identified = connection.columnNames(QStringLiteral("multi_table"))
                                .contains(QStringLiteral("column_set"), Qt::CaseInsensitive);
    // The registration conflicts with another connection's of the same set only at its unique key, which
    // a cluster certifies: the loser's statement or commit fails, and the next round adopts the winner's
    // row. A bounded number of rounds: each one either wins or finds a committed row.
    constexpr int REGISTRATION_ROUNDS = 5;
    const bool hostTransaction = connection.isInTransaction();
    bool makeTable = false;
    for (int round = 1;; ++round) {
        try {
            makeTable = registerColumnSet(connection, columns, identified);
            break;
        } catch (const DBIF_Exception& e) {
            // A host transaction that the failure took with it (its work, committed first, lost
            // certification) is the host's to repeat.
            if (!identified || round == REGISTRATION_ROUNDS || !(e.isRetryable() || isDuplicateKey(e)) ||
                hostTransaction != connection.isInTransaction())
                throw;
        }
    }
    if (!makeTable)
        return;
    try {
        createTable(connection, columns);
    } catch (const DBIF_Exception&) {
        // The registered row stays and its table may be half made: the next save of the set adopts the
        // row again and completes the table.
        d->id = -1;
        d->tableName = tableNameBeforeSave();
        throw;
    }
}

template <typename E, typename C>
bool DBAL_MultiTable<E, C>::registerColumnSet(const DBIF_Connection& connection, const QList<C>& columns,
                                              bool identified) {
    // SQLite: the write lock, which also keeps the table's creation in this transaction. MySQL: a
    // transaction of the registration's own, or the named lock of a database without the unique key.
    DBIF_UnitOfWork unit(connection);
    unit.lockSchema(!identified);
    globalTables(connection, true);  // adopts a complete table another connection made meanwhile
    if (d->id != -1) {
        unit.commit();
        return false;
    }
    const QExplicitlySharedDataPointer<SharedData> record(d);
    DBIF_UnitOfWork::onRollback(connection, [record] {
        record->id = -1;
        record->tableName = tableNameBeforeSave();
    });
    // A row another connection registered whose table is not complete yet (being made, or left half
    // made by a process that ended) is this set's: its table is completed rather than made twice.
    if (identified) {
        d->id = connection.queryInt(QStringLiteral("SELECT id FROM multi_table WHERE column_set = %1")
                                        .arg(connection.quoteText(columnSetIdentity())),
                                    DBIF_QUERY_TIMING, __FILE__, __LINE__);
        if (d->id == 0)
            d->id = -1;
    }
    if (d->id == -1) {
        const QString identity = identified ? QStringLiteral(", column_set") : QString();
        const QString identityValue =
            identified ? QStringLiteral(", ") + connection.quoteText(columnSetIdentity()) : QString();
        connection.query(
            QStringLiteral("INSERT INTO multi_table(column_table_name, data_table_prefix%1) VALUES(%2, %3%4)")
                .arg(identity, connection.quoteText(d->columnTableName),
                     connection.quoteText(d->dataTablePrefix), identityValue),
            DBIF_INSERT_TIMING, __FILE__, __LINE__);
        d->id = connection.getLastId();
        for (C column : columns) {
            column.save();
            connection.query(
                QStringLiteral("INSERT INTO multi_table_column(multi_table_id, column_id) VALUES(%1, %2)")
                    .arg(QString::number(d->id), QString::number(column.getId())),
                DBIF_INSERT_TIMING, __FILE__, __LINE__);
        }
    }
    computeTableName();
    DBIF_QuarnJoinAlgorithm::addDynamicJoinData(d->dataTablePrefix, d->tableName);
    // SQLite keeps schema changes in the transaction: the table comes and goes with its registration.
    // Under the named lock the table is made before the lock goes, or another process would not see it.
    const bool madeHere = !schemaChangeCommits(connection) || !identified;
    if (madeHere)
        createTable(connection, columns);
    unit.commit();
    return !madeHere;
}

template <typename E, typename C>
void DBAL_MultiTable<E, C>::createTable(const DBIF_Connection& connection, const QList<C>& columns) {
    // Only what is missing: another connection may be completing the same table (on MySQL every
    // statement is idempotent as well, for one that comes between this look and the statement).
    const QStringList present = connection.columnNames(d->tableName);
    if (present.isEmpty())
        DBIF_Connection(connection).createMultiTable(d->tableName, E::MASTER_TABLE_NAME);
    const QString ifMissing = schemaChangeCommits(connection) ? QStringLiteral("IF NOT EXISTS ") : QString();
    for (const C& column : columns) {
        if (present.contains(column.getKey(), Qt::CaseInsensitive))
            continue;
        connection.query(QStringLiteral("ALTER TABLE %1 ADD COLUMN %2%3 %4")
                             .arg(d->tableName, ifMissing, quoteSqlIdentifier(column.getKey()),
                                  column.getDataColumnFormat()),
                         DBIF_ALTER_TIMING, __FILE__, __LINE__);
    }
}

template <typename E, typename C>
QString DBAL_MultiTable<E, C>::columnSetIdentity() const {
    return QString::fromLatin1(QCryptographicHash::hash(d->key.toUtf8(), QCryptographicHash::Sha256).toHex());
}

template <typename E, typename C>
bool DBAL_MultiTable<E, C>::isDuplicateKey(const DBIF_Exception& e) {
    return e.getError().nativeErrorCode() == QLatin1String("1062");
}

template <typename E, typename C>
bool DBAL_MultiTable<E, C>::schemaChangeCommits(const DBIF_Connection& connection) {
    return connection.getDatabaseDriverName() == QLatin1String("QMYSQL");
}

template <typename E, typename C>
QSet<QString> DBAL_MultiTable<E, C>::tablesContainingColumns(const DBIF_Connection& connection,
                                                             const DBIF_UniqueStringList& columns) {
    QSet<QString> tables;
    const DBIF_UniqueStringList remaining = removeFixedColumns(columns);
    if (remaining.isEmpty())
        return tables;
    const Registry& registry = globalTables(connection, false);
    for (const DBAL_MultiTable& table : registry) {
        // A table not saved yet has no rows to read, and its placeholder name no table behind it.
        // remaining holds no fixed column any more, so hasColumns reduces to containsAll.
        if (table.d->id != -1 && table.d->columns.containsAll(remaining))
            tables.insert(table.d->tableName);
    }
    return tables;
}

template <typename E, typename C>
DBIF_UniqueStringList DBAL_MultiTable<E, C>::removeFixedColumns(const DBIF_UniqueStringList& columns) {
    DBIF_UniqueStringList remaining = columns;
    for (const auto& fixed : E::fixedColumns())
        remaining.removeAll(fixed.getColumnName());
    return remaining;
}

template <typename E, typename C>
bool DBAL_MultiTable<E, C>::hasColumns(const DBIF_UniqueStringList& columns) const {
    return d->columns.containsAll(removeFixedColumns(columns));
}

template <typename E, typename C>
QString DBAL_MultiTable<E, C>::computeKey(const QString& columnTableName, const QString& dataTablePrefix,
                                          const QStringList& columnKeys) {
    QStringList sorted;
    for (const QString& key : columnKeys)
        sorted.append(escapeKeyField(key));  // {"A|B"} and {"A", "B"} are different sets
    sorted.sort(Qt::CaseSensitive);
    return QStringLiteral("%1|%2|%3").arg(columnTableName, dataTablePrefix, sorted.join(QLatin1Char('|')));
}

template <typename E, typename C>
QMap<QString, typename DBAL_MultiTable<E, C>::Registry>& DBAL_MultiTable<E, C>::allMultiTables() {
    // Never destroyed, like refreshTimes(): a host's static connection may close after these would go.
    static auto* registries = new QMap<QString, Registry>();
    static const bool forgets =
        (DBIF_Connection::ManagedConnection::onConnectionDropped(&forgetConnection), true);
    (void)forgets;
    return *registries;
}

template <typename E, typename C>
QHash<QString, QDateTime>& DBAL_MultiTable<E, C>::refreshTimes() {
    static auto* times = new QHash<QString, QDateTime>();
    return *times;
}

template <typename E, typename C>
typename DBAL_MultiTable<E, C>::Registry& DBAL_MultiTable<E, C>::globalTables(
    const DBIF_Connection& connection, bool forceReload) {
    QHash<QString, QDateTime>& lastRefresh = refreshTimes();
    const QString connectionKey = connection.getObjectCacheKey();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    auto last = lastRefresh.find(connectionKey);
    if (last == lastRefresh.end())
        last = lastRefresh.insert(connectionKey, now.addYears(-10));
    Registry& registry = allMultiTables()[connectionKey];
    if (!forceReload && now < last.value().addSecs(delayInSeconds))
        return registry;
    last.value() = now;

    const QList<int> ids = connection.queryScalarList<int>(
        QStringLiteral("SELECT id FROM multi_table WHERE data_table_prefix = %1")
            .arg(connection.quoteText(E::DATA_TABLE_NAME)),
        DBIF_QUERY_TIMING, __FILE__, __LINE__);
    QSet<int> known;
    for (const DBAL_MultiTable& table : registry)
        known.insert(table.d->id);
    for (const int id : ids) {
        if (known.contains(id))
            continue;
        const DBAL_MultiTable loaded = loadOne(connection, id);
        if (loaded.isNull())
            continue;
        const auto existing = registry.find(loaded.d->key);
        if (existing == registry.end()) {
            registry.insert(loaded.d->key, loaded);
        } else if (existing.value().d->id == -1) {
            // Another connection saved this column set first: adopt its table instead of making a second
            // one, in the record that every handle of the unsaved table shares.
            existing.value().d->id = loaded.d->id;
            existing.value().d->tableName = loaded.d->tableName;
        }
    }
    return registry;
}

template <typename E, typename C>
DBAL_MultiTable<E, C> DBAL_MultiTable<E, C>::loadOne(const DBIF_Connection& connection, int id) {
    const QString sql =
        QStringLiteral("SELECT column_table_name, data_table_prefix FROM multi_table WHERE id = %1").arg(id);
    QSqlQuery result = connection.query(sql, DBIF_QUERY_TIMING, __FILE__, __LINE__);
    if (!assert1(result.next(), __FILE__, __LINE__,
                 QStringLiteral("DBAL_MultiTable::loadOne the multi-table row was not found:\n  %1"), sql)) {
        return DBAL_MultiTable();
    }
    DBAL_MultiTable table(result.value(0).toString(), result.value(1).toString(), id);
    const QList<int> columnIds = connection.queryScalarList<int>(
        QStringLiteral("SELECT column_id FROM multi_table_column WHERE multi_table_id = %1").arg(id),
        DBIF_QUERY_TIMING, __FILE__, __LINE__);
    for (const int columnId : columnIds)
        table.addColumn(connection, columnId);
    table.d->key = computeKey(table.d->columnTableName, table.d->dataTablePrefix, table.d->columns);
    table.computeTableName();
    // On MySQL another process's table shows before its columns are all added (every schema change
    // commits): such a table is left for a later refresh.
    if (connection.getDatabaseDriverName() == QLatin1String("QMYSQL")) {
        const QStringList present = connection.columnNames(table.d->tableName);
        for (const QString& key : table.d->columns) {
            if (!present.contains(key))
                return DBAL_MultiTable();
        }
    }
    DBIF_QuarnJoinAlgorithm::addDynamicJoinData(table.d->dataTablePrefix, table.d->tableName);
    return table;
}

template <typename E, typename C>
void DBAL_MultiTable<E, C>::computeTableName() {
    d->tableName = d->id == -1 ? tableNameBeforeSave()
                               : QStringLiteral("%1_%2").arg(d->dataTablePrefix, QString::number(d->id));
}

template <typename E, typename C>
void DBAL_MultiTable<E, C>::addColumn(const DBIF_Connection& connection, int columnId) {
    const C column = C::get(connection, columnId);
    if (assert3(!column.isNull(), __FILE__, __LINE__,
                QStringLiteral("DBAL_MultiTable::addColumn column %1 of multi-table %2 is not in %3"),
                QString::number(columnId), QString::number(d->id), d->columnTableName)) {
        d->columns.append(column.getKey());
    }
}

// The five instances live in the library (DBAL_MultiTable.cpp).
class DBIF_CatalogEntry;
class DBIF_CatalogEntryColumn;
class DBIF_Device;
class DBIF_DeviceColumn;
class DBIF_MeasurementCondition;
class DBIF_MeasurementConditionColumn;
class DBIF_Measurement;
class DBIF_MeasurementColumn;
class DBIF_Setup;
class DBIF_SetupColumn;
extern template class DBIF_EXPORT DBAL_MultiTable<DBIF_CatalogEntry, DBIF_CatalogEntryColumn>;
extern template class DBIF_EXPORT DBAL_MultiTable<DBIF_Device, DBIF_DeviceColumn>;
extern template class DBIF_EXPORT DBAL_MultiTable<DBIF_MeasurementCondition, DBIF_MeasurementConditionColumn>;
extern template class DBIF_EXPORT DBAL_MultiTable<DBIF_Measurement, DBIF_MeasurementColumn>;
extern template class DBIF_EXPORT DBAL_MultiTable<DBIF_Setup, DBIF_SetupColumn>;

#endif
