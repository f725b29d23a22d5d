// DBAL_StorageEngine<E, C>: writes a data-table entity of kind E (column kind C) to the database and reads
// it back, as the listener of the entity's events: master row, column catalog rows, one association row
// per column and one data row per in-memory row. The concrete engines differ only in where data rows go
// (DBAL_SparseTableStorageEngine, DBAL_MultiTableStorageEngine); what is particular to a kind (its master
// row statements, precedents, subordinates, how a loaded column is added) comes from the kind's
// specialisation of DBAL_StorageEngineTraits. Engines are process-wide singletons owned by their factory
// and keep no per-entity state. No locks: one thread at a time per connection and kind.
#ifndef DBAL_STORAGEENGINE_H
#define DBAL_STORAGEENGINE_H

#include <QHash>
#include <QList>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_DataType.h"
#include "dbif/DBIF_DynamicTableColumn.h"
#include "dbif/DBIF_EntityQuery.h"
#include "dbif/DBIF_InMemoryColumn.h"
#include "dbif/DBIF_QuarnQuery.h"
#include "dbif/DBIF_Query.h"
#include "dbif/DBIF_StorageEngineType.h"
#include "dbif/DBIF_UnitOfWork.h"

// What the engine needs that is particular to entity kind E; specialised next to each kind. A
// specialisation provides:
//   static bool insertMasterRow(E& entity, const QString& masterTable);  // true: store associations, data
//   static bool updateMasterRow(E& entity, const QString& masterTable);  // false: stop the update
//   static void savePrecedents(E& entity);     // records the entity refers to, saved before its row
//   static void saveSubordinates(E& entity);   // what the entity owns, saved after its row on save()
//   static void preparePrecedents(E& entity);  // prepareSave(false) of the data-table entities that
//                                              // savePrecedents saves
//   static void prepareSubordinates(E& entity);  // prepareSave(true) of those saveSubordinates saves
//   static void processAssociation(DBIF_DynamicTableColumn* column, E& entity, const QSqlQuery& row);
// and, through DBAL_StorageEngineTraitsBase unless the kind states its own, the association columns
// beyond the two ids (associationFields) with an entity's values for one column key (associationValues).
template <typename E>
struct DBAL_StorageEngineTraits;

struct DBAL_StorageEngineTraitsBase {
    // Links to an owner's subordinates name the owner's id: without one they cannot be written, which
    // is reported; the caller then saves the subordinates without linking them.
    static bool ownerIsSaved(int ownerId, const char* message) {
        return assert0(ownerId != -1, __FILE__, __LINE__, QString::fromLatin1(message));
    }
    static QStringList associationFields() { return QStringList(); }
    // Throws DBIF_Exception for a field of the entity that the database cannot store; runs before the
    // save writes anything. The kinds whose fields are all texts and ids state none.
    template <typename E>
    static void refuseUnstorableValues(const E&) {}
    template <typename E>
    static QStringList associationValues(const E&, const QString&) {
        return QStringList();
    }
};

// True when column kind C's columns take the extra catalog attributes Extra (none, a text or a flag)
// after name and data type. An engine's add-column handlers of the other arities do nothing.
template <typename C, typename Extras, typename = void>
struct DBAL_ColumnKindTakes : std::false_type {};
template <typename C, typename... Extra>
struct DBAL_ColumnKindTakes<
    C, std::tuple<Extra...>,
    std::void_t<decltype(C::computeKey(std::declval<const QString&>(), std::declval<const QString&>(),
                                       std::declval<const Extra&>()...))>> : std::true_type {};

template <typename E, typename C>
class DBAL_StorageEngine {
public:
    using Traits = DBAL_StorageEngineTraits<E>;

    // The placeholder a multi-table engine names before the table of a column set exists; it means
    // "no stored data" wherever the engine counts or loads rows.
    static QString tableNameBeforeSave() {
        return QStringLiteral("attempting_to_get_multitable_name_before_save");
    }

    explicit DBAL_StorageEngine(DBIF_StorageEngineType engineType) : engineType(engineType) {}
    DBAL_StorageEngine(const DBAL_StorageEngine&) = delete;
    DBAL_StorageEngine& operator=(const DBAL_StorageEngine&) = delete;
    virtual ~DBAL_StorageEngine() = default;

    DBIF_StorageEngineType getEngineType() const { return engineType; }

    // Registers this engine's handlers on the entity's own events: add column (the kind's arity), save,
    // load, load data, reload. Registering twice keeps one listener per handler.
    void attach(E entity);

    // The entity's save event: save() sends true, saveSelf() false. The outermost save prepares all it
    // will write before its unit opens; a save nested in another's unit was prepared by that one, and
    // checks only itself again.
    void saveHandler(E entity, bool saveSubordinates) {
        if (entity.isNull() || entity.isCurrentlyInSave())
            return;
        if (entity.getConnection().isInUnit())
            prepareSelf(entity);
        else
            prepareSaveHandler(entity, saveSubordinates);
        save(entity, saveSubordinates);
    }
    // The entity's prepare-save event (see DBIF_DataTableEntity::prepareSave): the entity itself, then
    // its precedents, then (with subordinates) what it owns. An entity met again on the walk (a run's
    // measurement names the run) is skipped.
    void prepareSaveHandler(E entity, bool withSubordinates) {
        const SaveEntry entry(entity);
        if (!entry)
            return;
        prepareSelf(entity);
        Traits::preparePrecedents(entity);
        if (withSubordinates)
            Traits::prepareSubordinates(entity);
    }
    // The entity's add-column event, one form per arity of the kinds' events; the base does nothing.
    virtual void addColumnHandler(E, QString, QString, QString) {}
    virtual void addColumnHandler(E, QString, QString, bool) {}
    virtual void addColumnHandler(E, QString, QString) {}
    // Reads the entity's columns and its stored row count; ignores entities of another engine type.
    virtual void loadHandler(E entity);
    virtual void reloadHandler(E entity) { loadHandler(entity); }
    // Fills the entity's in-memory table from its data table; the entity marks its data loaded after.
    virtual void loadDataHandler(E entity, DBIF_Query* query);
    // The kind-wide query event: result := the entities (QList<E>) whose ids the query yields.
    virtual void queryHandler(DBIF_Query* query, QVariant& result);

    virtual bool insertMasterRow(E entity) { return Traits::insertMasterRow(entity, masterTableName()); }
    virtual bool updateMasterRow(E entity) { return Traits::updateMasterRow(entity, masterTableName()); }
    // "<master>_id, <column table>_id" followed by the kind's own association columns.
    virtual QStringList getAssociationFields();
    // Columns of the association table that loadColumns reads after the column id: the kind's own.
    virtual void addAssociationFields(DBIF_Query& query) {
        for (const QString& field : Traits::associationFields())
            query.addColumn(associationTableName(), field);
    }
    virtual void processAssociation(DBIF_DynamicTableColumn* column, E entity, const QSqlQuery& row) {
        Traits::processAssociation(column, entity, row);
    }
    virtual QString masterTableName() { return E::MASTER_TABLE_NAME; }
    virtual QString associationTableName() { return E::ASSOCIATION_TABLE_NAME; }
    virtual QString columnTableName() { return E::COLUMN_TABLE_NAME; }
    // Where the data rows of this column set live (forceReload: refresh the engine's registry first).
    virtual QString dataTableName(DBIF_Connection connection, QStringList keys, bool forceReload) = 0;
    virtual QString dataTableName(E entity) = 0;

protected:
    // Holds the entity's in-save flag while it lives, unless the entity is a null handle or in a save
    // (or a prepare) further up the stack already: then it is false, and the caller returns.
    class SaveEntry {
    public:
        explicit SaveEntry(E& entity)
            : entity(entity), entered(!entity.isNull() && !entity.isCurrentlyInSave()) {
            if (entered)
                entity.setCurrentlyInSave(true);
        }
        ~SaveEntry() {
            if (entered)
                entity.setCurrentlyInSave(false);
        }
        SaveEntry(const SaveEntry&) = delete;
        SaveEntry& operator=(const SaveEntry&) = delete;
        explicit operator bool() const { return entered; }

    private:
        E& entity;
        const bool entered;
    };

    // Columns, precedents, own row with associations and data, subordinates: one unit of work, so that
    // a save that fails leaves nothing of itself in the database and the entity as it was in memory.
    // Returns at once when the entity is already being saved further up the stack.
    void save(E entity, bool saveSubordinates);
    void insert(E entity, const QStringList& keys);
    // The entity's save found its row stored already (insertMasterRow gave false, with the row's id):
    // from now on the entity is that stored one. Its stored columns and row count are read as for an
    // entity read from its row, so that nothing stored is rewritten from an empty table; what the
    // host put into it before the save follows the stored rows, as addRow would have placed it had
    // the entity been read first, and the rows are then written as a whole.
    void takeOverStoredRow(E entity);
    void update(E entity, const QStringList& keys);
    void storeColumnAssociations(E entity, const QStringList& keys);
    // The rows straight from the in-memory columns, bound: a cell never set is NULL, a real number its
    // double, every other value its exact text.
    void storeData(E entity, const QStringList& keys);
    // Refuses what the entity's rows could not hold, then makes the tables they will go into.
    void prepareSelf(const E& entity) {
        refuseUnstorable(entity);
        makeTables(entity);
    }
    // Makes the data tables the entity's save will write into, if they are missing; outside any unit
    // of work when the save is the outermost one. The sparse layout's table always exists.
    virtual void makeTables(const E&) {}
    // What the database could not hold stops a save before anything of it is written, and before the
    // multi-table engine makes a table: the kind's fields, the cells, the column names. Throws
    // DBIF_Exception.
    void refuseUnstorable(const E& entity) {
        const QStringList keys = savableKeys(entity);
        Traits::refuseUnstorableValues(entity);
        refuseUnstorableCells(entity, keys);
        refuseClashingColumns(entity, keys);
    }
    // Throws DBIF_Exception for a cell in memory that SQL cannot hold (NaN, an infinity), naming the
    // first by row, then by column. Rows not loaded came from the database and hold none.
    void refuseUnstorableCells(const E& entity, const QStringList& keys);
    // Throws DBIF_Exception for two columns of the entity whose names the database takes for one
    // (on MySQL "é" and "É"), which one data table cannot hold.
    void refuseClashingColumns(const E& entity, const QStringList& keys);
    void loadColumns(E entity);
    void getRowCount(E entity);
    // The data table of a stored entity's column set. A set the registry does not know yet was made by
    // another process since the registry was read: it is read again at once, rather than the entity
    // loading as if it had no rows.
    QString storedDataTableName(const E& entity, const QStringList& keys);
    // The entity's column keys whose catalog columns can be found; the others are reported (by the
    // cache) and left out of associations and data rather than written with a column id of -1.
    static QStringList savableKeys(const E& entity);
    static void deleteRows(const DBIF_Connection& connection, const QString& table, const QString& master,
                           int id);

private:
    DBIF_StorageEngineType engineType;
};

template <typename E, typename C>
void DBAL_StorageEngine<E, C>::attach(E entity) {
    entity.addAddColumnEventListener(this, &DBAL_StorageEngine::addColumnHandler);
    entity.addSaveEventListener(this, &DBAL_StorageEngine::saveHandler);
    entity.addPrepareSaveEventListener(this, &DBAL_StorageEngine::prepareSaveHandler);
    entity.addLoadEventListener(this, &DBAL_StorageEngine::loadHandler);
    entity.addLoadDataEventListener(this, &DBAL_StorageEngine::loadDataHandler);
    entity.addReloadEventListener(this, &DBAL_StorageEngine::reloadHandler);
}

template <typename E, typename C>
QStringList DBAL_StorageEngine<E, C>::savableKeys(const E& entity) {
    QStringList keys;
    for (const QString& key : entity.getColumnKeys()) {
        if (!entity.columnFor(key).isNull())
            keys.append(key);
    }
    return keys;
}

template <typename E, typename C>
void DBAL_StorageEngine<E, C>::save(E entity, bool saveSubordinates) {
    const SaveEntry entry(entity);
    if (!entry)
        return;

    const DBIF_Connection connection = entity.getConnection();
    const QStringList keys = savableKeys(entity);
    DBIF_UnitOfWork unit(connection);
    for (const QString& key : keys)
        entity.columnFor(key).save();
    Traits::savePrecedents(entity);
    const bool wasDirty = entity.isDirty();
    if (entity.getId() == -1)
        insert(entity, keys);
    else if (wasDirty)
        update(entity, keys);
    entity.setDirty(false);
    DBIF_UnitOfWork::onRollback(connection, [entity, wasDirty]() mutable { entity.setDirty(wasDirty); });
    if (saveSubordinates)
        Traits::saveSubordinates(entity);
    unit.commit();
}

template <typename E, typename C>
void DBAL_StorageEngine<E, C>::insert(E entity, const QStringList& keys) {
    if (!insertMasterRow(entity)) {
        takeOverStoredRow(entity);
        return;
    }
    // A rolled-back unit removes the row again: the entity is new once more.
    DBIF_UnitOfWork::onRollback(entity.getConnection(), [entity]() mutable { entity.setId(-1); });
    storeColumnAssociations(entity, keys);
    storeData(entity, keys);
}

template <typename E, typename C>
void DBAL_StorageEngine<E, C>::takeOverStoredRow(E entity) {
    const auto pending = entity.takePendingData();
    loadHandler(entity);
    bool reshaped = pending.rows > 0;
    for (const QString& key : pending.keys)
        reshaped = reshaped || !entity.hasColumn(key);
    if (!reshaped)
        return;
    if (!assert1(entity.ensureDataLoaded(), __FILE__, __LINE__,
                 QStringLiteral("Not adding to the stored rows of %1: they could not be loaded"),
                 entity.getKey()))
        return;
    entity.appendPendingData(pending);
    update(entity, savableKeys(entity));
}

template <typename E, typename C>
void DBAL_StorageEngine<E, C>::deleteRows(const DBIF_Connection& connection, const QString& table,
                                          const QString& master, int id) {
    connection.query(
        QStringLiteral("DELETE FROM %1 WHERE %2_id = %3").arg(table, master, QString::number(id)),
        DBIF_UPDATE_TIMING, __FILE__, __LINE__);
}

template <typename E, typename C>
void DBAL_StorageEngine<E, C>::update(E entity, const QStringList& keys) {
    if (!updateMasterRow(entity) || keys.isEmpty())
        return;
    // The stored rows are rewritten from memory: rows never loaded are read first, and when they
    // cannot be read the stored ones stay as they are.
    if (!assert1(entity.ensureDataLoaded(), __FILE__, __LINE__,
                 QStringLiteral("Not rewriting the data of %1: its stored rows could not be loaded"),
                 entity.getKey()))
        return;
    const DBIF_Connection connection = entity.getConnection();
    const QString master = masterTableName();
    // Association rows go even when the entity has no rows, or they would pile up with every update.
    deleteRows(connection, associationTableName(), master, entity.getId());
    const QString table = dataTableName(connection, keys, false);
    if (entity.rowCount() != 0)
        deleteRows(connection, table, master, entity.getId());
    // Rows written with another column set live in that set's table; they move to the new one.
    const QStringList storedKeys = entity.getStoredColumnKeys();
    if (!storedKeys.isEmpty()) {
        const QString storedTable = dataTableName(connection, storedKeys, false);
        if (storedTable != table && storedTable != tableNameBeforeSave())
            deleteRows(connection, storedTable, master, entity.getId());
    }
    storeColumnAssociations(entity, keys);
    storeData(entity, keys);
}

template <typename E, typename C>
QStringList DBAL_StorageEngine<E, C>::getAssociationFields() {
    return QStringList{masterTableName() + QStringLiteral("_id"), columnTableName() + QStringLiteral("_id")} +
           Traits::associationFields();
}

// One association row per column, bound: the two ids, then the kind's own values as texts.
template <typename E, typename C>
void DBAL_StorageEngine<E, C>::storeColumnAssociations(E entity, const QStringList& keys) {
    const qint64 id = entity.getId();
    entity.getConnection().insertBoundRows(
        associationTableName(), getAssociationFields(), static_cast<int>(keys.size()),
        [&](int row, DBIF_Connection::CellSink& sink) {
            const QString& key = keys[row];
            sink.integer(id);
            sink.integer(entity.columnFor(key).getId());
            for (const QString& value : Traits::associationValues(entity, key))
                sink.text(value);
        },
        __FILE__, __LINE__);
}

template <typename E, typename C>
void DBAL_StorageEngine<E, C>::storeData(E entity, const QStringList& keys) {
    const QStringList previous = entity.getStoredColumnKeys();
    entity.setStoredColumnKeys(keys);
    DBIF_UnitOfWork::onRollback(entity.getConnection(),
                                [entity, previous]() mutable { entity.setStoredColumnKeys(previous); });
    if (keys.isEmpty() || !entity.ensureDataLoaded() || entity.rowCount() == 0)
        return;
    const DBIF_Connection connection = entity.getConnection();
    const QString table = dataTableName(connection, keys, false);
    const QStringList allKeys = entity.getColumnKeys();
    QVector<const DBIF_InMemoryColumn*> cells;
    QStringList columns{masterTableName() + QStringLiteral("_id")};
    for (const QString& key : keys) {
        cells.append(&entity.cellsAt(allKeys.indexOf(key)));
        columns.append(quoteSqlIdentifier(key));
    }
    const qint64 id = entity.getId();
    connection.insertBoundRows(
        table, columns, static_cast<int>(entity.rowCount()),
        [id, &cells](int row, DBIF_Connection::CellSink& sink) {
            sink.integer(id);
            for (const DBIF_InMemoryColumn* column : cells)
                column->bind(row, sink);
        },
        __FILE__, __LINE__);
}

template <typename E, typename C>
void DBAL_StorageEngine<E, C>::refuseUnstorableCells(const E& entity, const QStringList& keys) {
    if (!entity.isDataLoaded())
        return;
    const QStringList allKeys = entity.getColumnKeys();
    int badRow = -1;
    QString badKey;
    for (const QString& key : keys) {
        const int row = entity.cellsAt(allKeys.indexOf(key)).firstUnstorableRow();
        if (row >= 0 && (badRow < 0 || row < badRow)) {
            badRow = row;
            badKey = key;
        }
    }
    if (badRow < 0)
        return;
    throw DBIF_Exception(
        QStringLiteral("INSERT INTO %1 (%2_id, %3) ...")
            .arg(E::DATA_TABLE_NAME, masterTableName(), quoteSqlIdentifier(badKey)),
        QSqlError(QStringLiteral("Row %1 of column %2 holds NaN or an infinity, which a database column "
                                 "cannot store")
                      .arg(QString::number(badRow), badKey),
                  QString(), QSqlError::StatementError),
        QStringLiteral(__FILE__), __LINE__);
}

template <typename E, typename C>
void DBAL_StorageEngine<E, C>::refuseClashingColumns(const E& entity, const QStringList& keys) {
    const DBIF_Connection connection = entity.getConnection();
    QHash<QString, QString> byIdentity;
    for (const QString& key : keys) {
        const QString identity = connection.columnNameIdentity(key);
        const QString earlier = byIdentity.value(identity);
        if (earlier.isEmpty()) {
            byIdentity.insert(identity, key);
            continue;
        }
        throw DBIF_Exception(
            QStringLiteral("INSERT INTO %1 (%2_id, %3, %4) ...")
                .arg(E::DATA_TABLE_NAME, masterTableName(), quoteSqlIdentifier(earlier),
                     quoteSqlIdentifier(key)),
            QSqlError(QStringLiteral("Columns %1 and %2 of %3 differ only in case or accents, which this "
                                     "database does not tell apart in column names")
                          .arg(earlier, key, entity.getKey()),
                      QString(), QSqlError::StatementError),
            QStringLiteral(__FILE__), __LINE__);
    }
}

template <typename E, typename C>
void DBAL_StorageEngine<E, C>::loadHandler(E entity) {
    if (entity.isNull() || entity.getStorageEngineType() != engineType)
        return;
    // The entity's own addColumn adds the loaded columns; they must not make it load its rows.
    entity.setLoading(true);
    struct Release {
        E& entity;
        ~Release() { entity.setLoading(false); }
    } release{entity};
    loadColumns(entity);
    entity.setStoredColumnKeys(entity.getColumnKeys());
    getRowCount(entity);
}

template <typename E, typename C>
void DBAL_StorageEngine<E, C>::loadColumns(E entity) {
    const DBIF_Connection connection = entity.getConnection();
    DBIF_QuarnQuery query(connection);
    query.addColumn(associationTableName(), columnTableName() + QStringLiteral("_id"));
    addAssociationFields(query);
    query.setCondition(associationTableName(), masterTableName() + QStringLiteral("_id"), Equal,
                       entity.getId());
    QSqlQuery result = connection.query(query.generateSql(true), DBIF_QUERY_TIMING, __FILE__, __LINE__);
    while (result.next()) {
        // A column id that is not in the catalog was reported by the cache; the rest still load.
        C column = C::get(connection, result.value(0).toInt());
        if (!column.isNull())
            processAssociation(&column, entity, result);
    }
}

template <typename E, typename C>
QString DBAL_StorageEngine<E, C>::storedDataTableName(const E& entity, const QStringList& keys) {
    const DBIF_Connection connection = entity.getConnection();
    const QString table = dataTableName(connection, keys, false);
    if (table != tableNameBeforeSave() || entity.getId() == -1 || keys.isEmpty())
        return table;
    return dataTableName(connection, keys, true);
}

template <typename E, typename C>
void DBAL_StorageEngine<E, C>::getRowCount(E entity) {
    const DBIF_Connection connection = entity.getConnection();
    const QString table = storedDataTableName(entity, entity.getColumnKeys());
    int count = 0;
    if (table != tableNameBeforeSave())
        count = connection.queryInt(QStringLiteral("SELECT COUNT(*) FROM %1 WHERE %2_id = %3")
                                        .arg(table, masterTableName(), QString::number(entity.getId())),
                                    DBIF_QUERY_TIMING, __FILE__, __LINE__);
    entity.setRowCount(count);
}

template <typename E, typename C>
void DBAL_StorageEngine<E, C>::loadDataHandler(E entity, DBIF_Query* query) {
    if (entity.isNull() || entity.getStorageEngineType() != engineType)
        return;
    const QStringList keys = entity.getColumnKeys();
    const QList<C> columns = entity.getColumns();
    if (keys.isEmpty())
        return;
    const DBIF_Connection connection = entity.getConnection();
    if (engineType == DBIF_SPARSE_TABLE_STORAGE &&
        !DBIF_QuarnQuery::sparseTableContainsColumns<C>(connection, DBIF_UniqueStringList(keys)))
        return;
    const QString table = storedDataTableName(entity, keys);
    if (table != tableNameBeforeSave()) {
        DBIF_QuarnQuery* quarnQuery = dynamic_cast<DBIF_QuarnQuery*>(query);
        const QString sql =
            quarnQuery
                ? quarnQuery->generateDataSql(engineType, masterTableName(), table, keys, entity.getId())
                : DBIF_QuarnQuery(connection)
                      .generateDataSql(engineType, masterTableName(), table, keys, entity.getId());
        // Each row is added through the entity (a kind may fill cells of a new row itself) and its
        // values go straight into the column storage, converted for their column's data type.
        // Columns the catalog no longer holds (reported by the cache) take no values.
        struct Target {
            int index;
            QString dataType;
            bool converted;
        };
        QVector<Target> targets;
        for (int i = 0; i < columns.size(); ++i) {
            if (columns[i].isNull())
                continue;
            const QString dataType = columns[i].getDataType();
            targets.append(
                {i, dataType, dataType == COMPLEX_NUMBER_DATATYPE || dataType == COMPLEX_MATRIX_DATATYPE});
            // Room for the stored rows at once (the count was read with the columns).
            entity.cellsToLoad(i).reserve(static_cast<int>(entity.rowCount()));
        }
        connection.readRows(
            sql, DBIF_QUERY_TIMING,
            [&](const DBIF_Connection::CellSource& stored) {
                entity.addRow();
                const int row = entity.currentRow();
                for (const Target& target : std::as_const(targets)) {
                    DBIF_InMemoryColumn& cells = entity.cellsToLoad(target.index);
                    double number;
                    if (!target.converted && stored.number(target.index, number)) {
                        cells.loadNumber(row, number);
                        continue;
                    }
                    // NULL is a cell that was never set, and stays one.
                    const QVariant value = stored.value(target.index);
                    if (!target.converted)
                        cells.load(row, value);
                    else if (!value.isNull())
                        cells.load(row, convertVariant(target.dataType, value));
                }
            },
            __FILE__, __LINE__);
    }
    // A loaded table holds what the database holds.
    entity.setDirty(false);
}

template <typename E, typename C>
void DBAL_StorageEngine<E, C>::queryHandler(DBIF_Query* query, QVariant& result) {
    result = QVariant::fromValue(queryViaCache<E>(query->getConnection(), masterTableName(), query));
}

// The three add-column handlers of an engine, written once: the form whose extra attributes the column
// kind C takes goes to Engine::addColumn(entity, name, dataType, extra...); the other forms do nothing,
// because their events never reach an engine of this kind.
template <typename Engine, typename E, typename C>
class DBAL_ColumnAddingStorageEngine : public DBAL_StorageEngine<E, C> {
public:
    using DBAL_StorageEngine<E, C>::DBAL_StorageEngine;

    void addColumnHandler(E entity, QString name, QString dataType, QString extra) override {
        forward(entity, name, dataType, extra);
    }
    void addColumnHandler(E entity, QString name, QString dataType, bool isInput) override {
        forward(entity, name, dataType, isInput);
    }
    void addColumnHandler(E entity, QString name, QString dataType) override {
        forward(entity, name, dataType);
    }

private:
    template <typename... Extra>
    void forward([[maybe_unused]] E& entity, [[maybe_unused]] const QString& name,
                 [[maybe_unused]] const QString& dataType, [[maybe_unused]] const Extra&... extra) {
        if constexpr (DBAL_ColumnKindTakes<C, std::tuple<Extra...>>::value)
            static_cast<Engine*>(this)->addColumn(entity, name, dataType, extra...);
    }
};

#endif
