// DBIF_InMemoryTable<C>: the data table of an entity kind whose columns are of column kind C, and
// the bookkeeping fields every such entity has; the base of the five data-table entities. A value
// handle over an explicitly shared record: every copy of an entity sees the same rows. The table
// never touches the database: the first read or write of a cell asks the entity to fill it through
// the virtual loadData(), and the storage engines fill it on load and read it on save.
// Cells are kept column by column (DBIF_InMemoryColumn), so that a large table of numbers costs
// little more than its doubles; the rows as maps exist only in what getAllData() returns.
// Misuse is reported through the assertion functions and leaves the table unchanged; nothing here
// throws. Not thread-safe: a table is used by one thread at a time.
#ifndef DBIF_INMEMORYTABLE_H
#define DBIF_INMEMORYTABLE_H

#include <QDateTime>
#include <QExplicitlySharedDataPointer>
#include <QHash>
#include <QList>
#include <QMap>
#include <QSharedData>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>
#include <iostream>
#include <type_traits>
#include <utility>

#include "dbif/DBIF_CatalogEntryColumn.h"
#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_DataType.h"
#include "dbif/DBIF_DeviceColumn.h"
#include "dbif/DBIF_DynamicTableColumn.h"
#include "dbif/DBIF_Export.h"
#include "dbif/DBIF_InMemoryColumn.h"
#include "dbif/DBIF_MeasurementColumn.h"
#include "dbif/DBIF_MeasurementConditionColumn.h"
#include "dbif/DBIF_ObjectCache.h"
#include "dbif/DBIF_SetupColumn.h"
#include "dbif/DBIF_StorageEngineType.h"
#include "dbif/DBIF_Utilities.h"
#include "dbif/DBIF_WeakConnection.h"

template <typename C>
class DBIF_InMemoryTable {
public:
    // One row: column key -> cell. A key is absent where the cell holds no value.
    using Row = QMap<QString, QVariant>;

    struct SharedData : public QSharedData {
        SharedData(const DBIF_Connection& connection, DBIF_StorageEngineType storageEngineType,
                   const QDateTime& modifiedTime, const QString& user, int id)
            : connection(connection),
              storageEngineType(storageEngineType),
              modifiedTime(modifiedTime),
              user(user),
              id(id) {}

        DBIF_WeakConnection connection;
        DBIF_StorageEngineType storageEngineType;
        QStringList columnKeys;           // in the order added, no duplicates
        QHash<QString, int> columnIndex;  // key -> position in columnKeys and columns
        QVector<DBIF_InMemoryColumn> columns;
        // The catalog column of each key the entity added, kept so that a column not saved yet
        // survives an emptied column cache (getColumns files it there again).
        QHash<QString, C> heldColumns;
        // The column keys the stored rows were written with (loaded, or saved last); empty for an
        // entity never stored. A change of column set moves the rows to another data table.
        QStringList storedColumnKeys;
        int rowsInMemory = 0;
        int currentRow = -1;  // the row set() writes into: the last one appended; -1 for none
        bool dirty = false;
        bool currentlyInSave = false;
        QDateTime modifiedTime;
        QString user;
        int id;
        QString key;
        int rowCount = 0;  // rows in the database, valid while the data is not loaded
        bool dataIsLoaded = true;
        bool loading = false;
    };

    DBIF_InMemoryTable() = default;  // no record
    // A table of a new entity: no rows, loaded, modified now.
    DBIF_InMemoryTable(const DBIF_Connection& connection, int id, DBIF_StorageEngineType storageEngineType)
        : d(new SharedData(connection, storageEngineType, now(), QString(), id)) {}
    // The table of an entity read from its master row, with the engine number stored there.
    DBIF_InMemoryTable(const DBIF_Connection& connection, const QDateTime& modifiedTime, const QString& user,
                       int id, int storedStorageEngineType)
        : d(new SharedData(connection, computeStorageEngineType(storedStorageEngineType), modifiedTime, user,
                           id)) {}
    DBIF_InMemoryTable(const DBIF_Connection& connection, const QDateTime& modifiedTime, const QString& user,
                       int id, DBIF_StorageEngineType storageEngineType)
        : d(new SharedData(connection, storageEngineType, modifiedTime, user, id)) {}
    DBIF_InMemoryTable(const DBIF_InMemoryTable& other) = default;
    DBIF_InMemoryTable& operator=(const DBIF_InMemoryTable& other) = default;
    virtual ~DBIF_InMemoryTable() = default;

    // Appends an empty row and makes it the current row. The stored rows of an entity are loaded
    // first, so that the new row follows them instead of being overwritten by them.
    virtual void addRow() {
        if (!hasRecord("addRow"))
            return;
        loadDataIfNeeded();
        d->currentRow = d->rowsInMemory++;
    }
    // Fills columns and rows (addColumn, addRow, set) and marks the data loaded. Entities send their
    // load-data event here; this base only reports that it cannot load. Called on first use of a
    // cell while the data is not loaded.
    virtual void loadData() { std::cout << "fail: using generic DBIF_InMemoryTable::loadData\n"; }
    virtual void loadSubordinates() {}
    virtual void unloadSubordinates() {}

    // 2 is the multi-table engine; every other stored number means the sparse table.
    static DBIF_StorageEngineType computeStorageEngineType(int stored) {
        return stored == DBIF_MULTI_TABLE_STORAGE ? DBIF_MULTI_TABLE_STORAGE : DBIF_SPARSE_TABLE_STORAGE;
    }

    // Empties the object cache of the column kind C (not of the entity kind).
    static void clearCache() { DBIF_DynamicTableColumn::clearCache<C>(); }

    // On a handle without record every accessor reports once and returns an empty value (id -1, no
    // rows or columns, a connection of no database) and every operation reports and does nothing.
    // None of the setters marks the table dirty.
    bool isNull() const { return !d; }
    DBIF_Connection getConnection() const {
        return hasRecord("getConnection") ? d->connection : DBIF_Connection::nullConnection();
    }
    DBIF_StorageEngineType getStorageEngineType() const {
        return field(&SharedData::storageEngineType, "getStorageEngineType", DBIF_SPARSE_TABLE_STORAGE);
    }
    int getId() const { return field(&SharedData::id, "getId", -1); }
    void setId(int id) { setField(&SharedData::id, id, "setId"); }
    bool isNew() const { return getId() == -1; }
    QString getKey() const { return field(&SharedData::key, "getKey"); }
    QString getUser() const { return field(&SharedData::user, "getUser"); }
    void setUser(const QString& user) { setField(&SharedData::user, user, "setUser"); }
    QDateTime getModifiedTime() const { return field(&SharedData::modifiedTime, "getModifiedTime"); }
    void setModifiedTimeToNow() { setField(&SharedData::modifiedTime, now(), "setModifiedTimeToNow"); }
    bool isDirty() const { return field(&SharedData::dirty, "isDirty"); }
    // A clean loaded table holds what the database holds (the engines clear dirty after a save and
    // after a load), so its rows become the stored row count; a new entity has none stored.
    void setDirty(bool dirty) {
        if (!hasRecord("setDirty"))
            return;
        d->dirty = dirty;
        if (!dirty && d->dataIsLoaded && d->id != -1)
            d->rowCount = d->rowsInMemory;
    }
    bool isCurrentlyInSave() const { return field(&SharedData::currentlyInSave, "isCurrentlyInSave"); }
    void setCurrentlyInSave(bool inSave) {
        setField(&SharedData::currentlyInSave, inSave, "setCurrentlyInSave");
    }
    // The number of rows stored in the database, reported by rowCount() while the data is not loaded.
    void setRowCount(int rowCount) { setField(&SharedData::rowCount, rowCount, "setRowCount"); }
    // For the storage engines: the column keys the stored rows were written with.
    QStringList getStoredColumnKeys() const {
        return field(&SharedData::storedColumnKeys, "getStoredColumnKeys");
    }
    void setStoredColumnKeys(const QStringList& keys) {
        setField(&SharedData::storedColumnKeys, keys, "setStoredColumnKeys");
    }
    // For the storage engines: while set, touching a cell does not load the data (the engine is
    // reading the entity's columns, which the load needs).
    void setLoading(bool loading) { setField(&SharedData::loading, loading, "setLoading"); }

    // Appends the key unless it is already there (keys are compared case-sensitively). On a stored
    // entity whose rows are not loaded yet a new key loads them first: the rows must be read with the
    // column set they were written with.
    void addColumn(const QString& key) {
        if (!hasRecord("addColumn") || d->columnIndex.contains(key))
            return;
        loadDataIfNeeded();
        d->columnIndex.insert(key, d->columnKeys.size());
        d->columnKeys.append(key);
        d->columns.append(DBIF_InMemoryColumn());
    }
    // Keeps the catalog column of a key the entity added (see getColumns).
    void holdColumn(const C& column) {
        if (hasRecord("holdColumn") && !column.isNull())
            d->heldColumns.insert(column.getKey(), column);
    }
    bool hasColumn(const QString& key) const {
        return hasRecord("hasColumn") && d->columnIndex.contains(key);
    }
    unsigned columnCount() const {
        return hasRecord("columnCount") ? static_cast<unsigned>(d->columnKeys.size()) : 0;
    }
    QStringList getColumnKeys() const { return field(&SharedData::columnKeys, "getColumnKeys"); }
    // The catalog column of each key, in order. A column that the column cache no longer holds (it
    // was emptied before the column was saved) is filed there again from the entity's own handle; a
    // key that is neither cached nor held gives a null handle, reported by the cache.
    QList<C> getColumns() const {
        QList<C> columns;
        if (!hasRecord("getColumns"))
            return columns;
        for (const QString& key : d->columnKeys)
            columns.append(columnFor(key));
        return columns;
    }
    // The catalog column of one key, as getColumns finds it.
    C columnFor(const QString& key) const {
        if (!hasRecord("columnFor"))
            return C();
        if (!C::hasColumn(d->connection, key)) {
            const C held = d->heldColumns.value(key);
            if (!held.isNull())
                return DBIF_ObjectCache<C>::adopt(d->connection, held);
        }
        return C::get(d->connection, key);
    }

    // Rows in memory when the data is loaded, else the stored row count. Never loads.
    unsigned rowCount() const {
        if (!hasRecord("rowCount"))
            return 0;
        return static_cast<unsigned>(d->dataIsLoaded ? d->rowsInMemory : d->rowCount);
    }
    bool isEmpty() const { return rowCount() == 0 || d->columnKeys.isEmpty(); }

    // Sets the column's cell in the current row, loading the data first if needed. The table becomes
    // dirty only when the value differs from the cell's (QVariant equality; a never-set cell reads
    // as an invalid variant). REQUIRES: addColumn of the column's key, then addRow.
    void set(const C& column, const QVariant& value) {
        if (!hasRecord("set") ||
            !assert0(!column.isNull(), __FILE__, __LINE__,
                     QStringLiteral("Attempting to set data of a null column (the result of a failed column "
                                    "look-up)")))
            return;
        const QString key = column.getKey();
        const int index = indexOf(key);
        if (!assert1(
                index >= 0, __FILE__, __LINE__,
                QStringLiteral("Attempting to set column '%1': the column has not been added to the table "
                               "yet. Call addColumn first"),
                key))
            return;
        loadDataIfNeeded();
        if (!assert0(
                d->currentRow >= 0, __FILE__, __LINE__,
                QStringLiteral("Attempting to set data before adding a row to the table. Call addRow first")))
            return;
        if (d->columns[index].set(d->currentRow, value))
            d->dirty = true;
    }
    void set(const C& column, const QString& value) { set(column, QVariant(value)); }
    // Sets the column's cells of rows 0 to count - 1 from a contiguous array in one call, with no
    // QVariant a cell: rows are added (addRow, the kind's own included) until the table has `count`,
    // and a row whose entry in `present` is false (when a mask is given) holds no value for the column.
    // The table becomes dirty when a cell changes. Returns false (reported) for a null column or one
    // not added. NaN and infinities are refused at save, as set() values are.
    bool setColumn(const C& column, const double* values, int count, const bool* present = nullptr) {
        const int index = columnIndex(column, "setColumn");
        if (index < 0)
            return false;
        loadDataIfNeeded();
        while (d->rowsInMemory < count)
            addRow();
        if (d->columns[index].assign(values, count, present))
            d->dirty = true;
        return true;
    }
    // Every row's cell of the column as a double, and whether it holds one (a cell never set, or one
    // that is not a real number, is missing and reads as NaN), loading the data first if needed.
    // Returns false (reported) for a null column, one not added, or data that could not be loaded.
    bool getColumn(const C& column, std::vector<double>& values, std::vector<bool>& present) const {
        const int index = columnIndex(column, "getColumn");
        if (index < 0)
            return false;
        loadDataIfNeeded();
        if (!assert0(d->dataIsLoaded, __FILE__, __LINE__,
                     QStringLiteral("getColumn: the data could not be loaded from the database")))
            return false;
        d->columns.at(index).read(d->rowsInMemory, values, present);
        return true;
    }
    // A string literal would otherwise be ambiguous between the two forms above.
    void set(const C& column, const char* value) { set(column, QVariant(QString::fromUtf8(value))); }

    // The cell, loading the data first if needed: an invalid variant for a cell never set, or the
    // int -9999 (reported) when the load failed, the column was not added or the row does not exist.
    QVariant getData(const QString& key, unsigned row) const {
        // Made only on failure, like the reports: this is the per-cell read of every host.
        const auto badValue = [] { return QVariant(-9999); };
        if (!hasRecord("getData"))
            return badValue();
        loadDataIfNeeded();
        if (!d->dataIsLoaded) {
            assert2(false, __FILE__, __LINE__,
                    QStringLiteral("Attempting to read data from row '%1', column '%2--but due to errors, no "
                                   "data was loaded from database."),
                    QString::number(row), key);
            return badValue();
        }
        const int index = indexOf(key);
        if (index < 0) {
            assert1(
                false, __FILE__, __LINE__,
                QStringLiteral("Attempting to read data from column '%1': the column has not been added to "
                               "the table yet. Call addColumn first"),
                key);
            return badValue();
        }
        if (row >= static_cast<unsigned>(d->rowsInMemory)) {
            assert1(false, __FILE__, __LINE__,
                    QStringLiteral("Attempting to read data from row %1--but there is no such row"),
                    QString::number(row));
            return badValue();
        }
        return d->columns.at(index).value(static_cast<int>(row));
    }
    template <typename Column,
              typename = std::enable_if_t<std::is_base_of_v<DBIF_DynamicTableColumn, Column>>>
    QVariant getData(const Column& column, unsigned row) const {
        if (!assert0(!column.isNull(), __FILE__, __LINE__,
                     QStringLiteral("Attempting to read data of a null column (the result of a failed column "
                                    "look-up)")))
            return QVariant(-9999);
        return getData(column.getKey(), row);
    }
    // The cell as a value object of the column's data type, or nullptr (reported) when it cannot be
    // made from the cell. The caller owns the result.
    DBIF_DataType* getDataElement(const C& column, unsigned row) const {
        if (!hasRecord("getDataElement") ||
            !assert0(!column.isNull(), __FILE__, __LINE__,
                     QStringLiteral("Attempting to read data of a null column (the result of a failed column "
                                    "look-up)")))
            return nullptr;
        loadDataIfNeeded();
        return DBIF_DataType::toDataType(getData(column.getKey(), row), column.getDataType());
    }
    // A copy of all rows, loading the data first if needed; a row holds the keys of its set cells.
    QList<Row> getAllData() const {
        if (!hasRecord("getAllData"))
            return QList<Row>();
        loadDataIfNeeded();
        QList<Row> rows(d->rowsInMemory);
        for (int index = 0; index < d->columns.size(); ++index) {
            const DBIF_InMemoryColumn& column = d->columns[index];
            const QString& key = d->columnKeys[index];
            for (int row = 0; row < column.size(); ++row) {
                if (column.holdsValue(row))
                    rows[row].insert(key, column.value(row));
            }
        }
        return rows;
    }
    // Drops the rows to free memory, keeping the column keys. rowCount() then gives the stored row
    // count, so rows that were never saved are not claimed. The next read or write of a cell loads
    // the data again.
    void releaseData() {
        if (!hasRecord("releaseData"))
            return;
        for (DBIF_InMemoryColumn& column : d->columns)
            column.clear();
        d->rowsInMemory = 0;
        d->currentRow = -1;
        d->dataIsLoaded = false;
    }

    // Identity: the same shared record.
    bool operator==(const DBIF_InMemoryTable& other) const { return d == other.d; }
    bool operator!=(const DBIF_InMemoryTable& other) const { return d != other.d; }

    // For the storage engines: the cells of the column at that position (REQUIRES: the data loaded).
    const DBIF_InMemoryColumn& cellsAt(int index) const { return d->columns[index]; }
    // For the storage engines while they fill the table from the database: the cells to write the
    // current row's values into (DBIF_InMemoryColumn::load), which neither compares nor marks dirty.
    DBIF_InMemoryColumn& cellsToLoad(int index) { return d->columns[index]; }
    int currentRow() const { return hasRecord("currentRow") ? d->currentRow : -1; }
    // What a new entity held in memory before its save found its row stored already.
    struct PendingData {
        QStringList keys;
        QVector<DBIF_InMemoryColumn> columns;
        int rows = 0;
    };
    // For the storage engines: hands out the columns and rows in memory and leaves the table as that of
    // an entity just read from its master row, before its columns are read: no columns, no rows known,
    // data not loaded.
    PendingData takePendingData() {
        PendingData pending;
        if (!hasRecord("takePendingData"))
            return pending;
        pending.keys = std::exchange(d->columnKeys, QStringList());
        pending.columns = std::exchange(d->columns, QVector<DBIF_InMemoryColumn>());
        pending.rows = d->rowsInMemory;
        d->columnIndex.clear();
        d->storedColumnKeys.clear();
        d->rowsInMemory = 0;
        d->currentRow = -1;
        d->rowCount = 0;
        d->dataIsLoaded = false;
        return pending;
    }
    // For the storage engines: adds the held columns the table lacks and appends the held rows after
    // the rows in memory, each through the entity's own addRow (a kind fills its own cells of an
    // appended row, as for any other) and with the held values in the cells it left empty. The table
    // becomes dirty. REQUIRES: the stored rows are loaded.
    void appendPendingData(const PendingData& pending) {
        if (!hasRecord("appendPendingData"))
            return;
        for (const QString& key : pending.keys)
            addColumn(key);
        for (int row = 0; row < pending.rows; ++row) {
            addRow();
            for (int column = 0; column < pending.keys.size(); ++column) {
                DBIF_InMemoryColumn& cells = d->columns[indexOf(pending.keys[column])];
                if (pending.columns[column].holdsValue(row) && !cells.holdsValue(d->currentRow))
                    cells.set(d->currentRow, pending.columns[column].value(row));
            }
        }
        d->dirty = true;
    }

    // Loads the data if it is not loaded yet; false when it still is not (the load failed).
    bool ensureDataLoaded() const {
        if (!hasRecord("ensureDataLoaded"))
            return false;
        loadDataIfNeeded();
        return d->dataIsLoaded;
    }

    // Whether the rows are in memory (a new entity's always are); never loads.
    bool isDataLoaded() const { return field(&SharedData::dataIsLoaded, "isDataLoaded"); }

protected:
    void setKey(const QString& key) { setField(&SharedData::key, key, "setKey"); }
    void setDataIsLoaded(bool loaded) { setField(&SharedData::dataIsLoaded, loaded, "setDataIsLoaded"); }

    Q_ALWAYS_INLINE bool hasRecord(const char* operation) const {
        return d || checkHandle(false, __FILE__, __LINE__, operation);
    }

private:
    // The position of a column key, or -1. Hosts read cells with the keys getColumnKeys() gave them,
    // which share their text with the table's own: for a table of a few columns the shared text is
    // found by address, without hashing the key for every cell. This and the other helpers of the
    // per-cell accessors are forced inline (the compiler would keep calls to them otherwise).
    // The position of an added column, or -1 (reported) for a null handle, a null column or one not added.
    int columnIndex(const C& column, const char* operation) const {
        if (!hasRecord(operation) ||
            !assert0(!column.isNull(), __FILE__, __LINE__,
                     QStringLiteral("%1 of a null column (the result of a failed column look-up)")
                         .arg(QLatin1String(operation))))
            return -1;
        const int index = indexOf(column.getKey());
        assert1(index >= 0, __FILE__, __LINE__,
                QStringLiteral("%1 of column '%2': the column has not been added to the table yet. Call "
                               "addColumn first")
                    .arg(QLatin1String(operation)),
                column.getKey());
        return index;
    }
    Q_ALWAYS_INLINE int indexOf(const QString& key) const {
        const QStringList& keys = d->columnKeys;
        if (keys.size() <= 16) {
            for (int i = 0; i < keys.size(); ++i) {
                if (keys[i].constData() == key.constData() && keys[i].size() == key.size())
                    return i;
            }
        }
        return d->columnIndex.value(key, -1);
    }

    template <typename F>
    F field(F SharedData::*member, const char* operation, F fallback = F()) const {
        return hasRecord(operation) ? (*d).*member : fallback;
    }
    template <typename F>
    void setField(F SharedData::*member, const F& value, const char* operation) {
        if (hasRecord(operation))
            (*d).*member = value;
    }

    // Loading fills the shared record, which const handles share too; hence the cast, and the guard
    // against a loadData() that reads cells itself.
    Q_ALWAYS_INLINE void loadDataIfNeeded() const {
        if (!d || d->dataIsLoaded || d->loading)
            return;
        d->loading = true;
        const_cast<DBIF_InMemoryTable*>(this)->loadData();
        d->loading = false;
    }

    QExplicitlySharedDataPointer<SharedData> d;
};

extern template class DBIF_EXPORT DBIF_InMemoryTable<DBIF_CatalogEntryColumn>;
extern template class DBIF_EXPORT DBIF_InMemoryTable<DBIF_DeviceColumn>;
extern template class DBIF_EXPORT DBIF_InMemoryTable<DBIF_MeasurementConditionColumn>;
extern template class DBIF_EXPORT DBIF_InMemoryTable<DBIF_MeasurementColumn>;
extern template class DBIF_EXPORT DBIF_InMemoryTable<DBIF_SetupColumn>;

#endif
