// DBAL_StorageEngine<E, C>: writes a data-table entity of kind E (column kind C) to the database and reads
// it back, as the listener of the entity's events: master row, column catalog rows, one association row
// per column and one data row per in-memory row. The concrete engines differ only in where data rows go
// (DBAL_SparseTableStorageEngine, DBAL_MultiTableStorageEngine); what is particular to a kind (its master
// row statements, precedents, subordinates, how a loaded column is added) comes from the kind's
// specialisation of DBAL_StorageEngineTraits. Engines are process-wide singletons owned by their factory
// and keep no per-entity state. No locks: one thread at a time per connection and kind.
#ifndef DBAL_STORAGEENGINE_H
#define DBAL_STORAGEENGINE_H

#include <QList>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <sstream>
#include <tuple>
#include <type_traits>
#include <utility>

#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_DataType.h"
#include "dbif/DBIF_DynamicTableColumn.h"
#include "dbif/DBIF_EntityQuery.h"
#include "dbif/DBIF_QuarnQuery.h"
#include "dbif/DBIF_Query.h"
#include "dbif/DBIF_StorageEngineType.h"

// What the engine needs that is particular to entity kind E; specialised next to each kind. A
// specialisation provides:
//   static bool insertMasterRow(E& entity, const QString& masterTable);  // true: store associations, data
//   static bool updateMasterRow(E& entity, const QString& masterTable);  // false: stop the update
//   static void savePrecedents(E& entity);     // records the entity refers to, saved before its row
//   static void saveSubordinates(E& entity);   // what the entity owns, saved after its row on save()
//   static void processAssociation(DBIF_DynamicTableColumn* column, E& entity, const QSqlQuery& row);
// and, through DBAL_StorageEngineTraitsBase unless the kind states its own, the association columns
// beyond the two ids (associationFields) with an entity's values for one column key (associationValues).
template <typename E>
struct DBAL_StorageEngineTraits;

struct DBAL_StorageEngineTraitsBase {
    static QStringList associationFields() { return QStringList(); }
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

    // The entity's save event: save() sends true, saveSelf() false.
    virtual void saveHandler(E entity, bool saveSubordinates) { save(entity, saveSubordinates); }
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
    // "<master>_id, <column table>_id" and "<entity id>, '<column id>'", each followed by the kind's
    // own association columns and their quoted values.
    virtual QString getAssociationFieldList();
    virtual QString getAssocationFieldValues(E entity, QString key);
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
    // Columns, precedents, own row with associations and data, subordinates. Returns at once when the
    // entity is already being saved further up the stack. The in-save flag is released also when a
    // statement throws; the statements already run stay (transactions are the caller's).
    void save(E entity, bool saveSubordinates);
    void insert(E entity);
    void update(E entity);
    void storeColumnAssociations(E entity);
    void storeData(E entity, const QList<typename E::Row>& rows);
    void loadColumns(E entity);
    void getRowCount(E entity);

private:
    DBIF_StorageEngineType engineType;
};

template <typename E, typename C>
void DBAL_StorageEngine<E, C>::attach(E entity) {
    entity.addAddColumnEventListener(this, &DBAL_StorageEngine::addColumnHandler);
    entity.addSaveEventListener(this, &DBAL_StorageEngine::saveHandler);
    entity.addLoadEventListener(this, &DBAL_StorageEngine::loadHandler);
    entity.addLoadDataEventListener(this, &DBAL_StorageEngine::loadDataHandler);
    entity.addReloadEventListener(this, &DBAL_StorageEngine::reloadHandler);
}

template <typename E, typename C>
void DBAL_StorageEngine<E, C>::save(E entity, bool saveSubordinates) {
    if (entity.isCurrentlyInSave())
        return;
    entity.setCurrentlyInSave(true);
    struct Release {
        E& entity;
        ~Release() { entity.setCurrentlyInSave(false); }
    } release{entity};

    for (C column : entity.getColumns())
        column.save();
    Traits::savePrecedents(entity);
    if (entity.getId() == -1)
        insert(entity);
    else if (entity.isDirty())
        update(entity);
    entity.setDirty(false);
    if (saveSubordinates)
        Traits::saveSubordinates(entity);
}

template <typename E, typename C>
void DBAL_StorageEngine<E, C>::insert(E entity) {
    if (!insertMasterRow(entity))
        return;
    storeColumnAssociations(entity);
    storeData(entity, entity.getAllData());
}

template <typename E, typename C>
void DBAL_StorageEngine<E, C>::update(E entity) {
    if (!updateMasterRow(entity) || entity.getColumnKeys().isEmpty())
        return;
    // Read the stored rows before deleting them: data that was never loaded is rewritten as it was.
    const QList<typename E::Row> rows = entity.getAllData();
    const DBIF_Connection connection = entity.getConnection();
    const QString master = masterTableName();
    const QString id = QString::number(entity.getId());
    const QString statement = QStringLiteral("DELETE FROM %1 WHERE %2_id = %3");
    // Association rows go even when the entity has no rows, or they would pile up with every update.
    connection.query(statement.arg(associationTableName(), master, id), DBIF_UPDATE_TIMING, __FILE__,
                     __LINE__);
    if (entity.rowCount() != 0)
        connection.query(statement.arg(dataTableName(connection, entity.getColumnKeys(), false), master, id),
                         DBIF_UPDATE_TIMING, __FILE__, __LINE__);
    storeColumnAssociations(entity);
    storeData(entity, rows);
}

template <typename E, typename C>
QString DBAL_StorageEngine<E, C>::getAssociationFieldList() {
    QString fields = QStringLiteral("%1_id, %2_id").arg(masterTableName(), columnTableName());
    for (const QString& field : Traits::associationFields())
        fields += QStringLiteral(", ") + field;
    return fields;
}

template <typename E, typename C>
QString DBAL_StorageEngine<E, C>::getAssocationFieldValues(E entity, QString key) {
    const DBIF_Connection connection = entity.getConnection();
    QString values =
        QStringLiteral("%1, '%2'")
            .arg(QString::number(entity.getId()), QString::number(C::get(connection, key).getId()));
    for (const QString& value : Traits::associationValues(entity, key))
        values += QStringLiteral(", ") + connection.quoteText(value);
    return values;
}

template <typename E, typename C>
void DBAL_StorageEngine<E, C>::storeColumnAssociations(E entity) {
    QStringList rows;
    for (const QString& key : entity.getColumnKeys())
        rows.append(getAssocationFieldValues(entity, key));
    if (!rows.isEmpty())
        entity.getConnection().insertSet(associationTableName(), getAssociationFieldList(), rows, __FILE__,
                                         __LINE__);
}

template <typename E, typename C>
void DBAL_StorageEngine<E, C>::storeData(E entity, const QList<typename E::Row>& rows) {
    const QStringList keys = entity.getColumnKeys();
    if (rows.isEmpty() || keys.isEmpty())
        return;
    const DBIF_Connection connection = entity.getConnection();
    const QString id = QString::number(entity.getId());
    QStringList rowTexts;
    for (const typename E::Row& row : rows) {
        QString text = id;
        for (const QString& key : keys) {
            // The variant's stream form; every value is quoted, whatever its data type.
            std::ostringstream value;
            value << row.value(key);
            text += QStringLiteral(", ") + connection.quoteText(QString::fromStdString(value.str()));
        }
        rowTexts.append(text);
    }
    QString columns = masterTableName() + QStringLiteral("_id");
    for (const QString& key : keys)
        columns += QStringLiteral(", \"%1\"").arg(key);
    connection.insertSet(dataTableName(connection, keys, false), columns, rowTexts, __FILE__, __LINE__);
}

template <typename E, typename C>
void DBAL_StorageEngine<E, C>::loadHandler(E entity) {
    if (entity.getStorageEngineType() != engineType)
        return;
    loadColumns(entity);
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
        C column = C::get(connection, result.value(0).toInt());
        processAssociation(&column, entity, result);
    }
}

template <typename E, typename C>
void DBAL_StorageEngine<E, C>::getRowCount(E entity) {
    const DBIF_Connection connection = entity.getConnection();
    const QString table = dataTableName(connection, entity.getColumnKeys(), false);
    int count = 0;
    if (table != tableNameBeforeSave())
        count = connection.queryInt(QStringLiteral("SELECT COUNT(*) FROM %1 WHERE %2_id = %3")
                                        .arg(table, masterTableName(), QString::number(entity.getId())),
                                    DBIF_QUERY_TIMING, __FILE__, __LINE__);
    entity.setRowCount(count);
}

template <typename E, typename C>
void DBAL_StorageEngine<E, C>::loadDataHandler(E entity, DBIF_Query* query) {
    if (entity.getStorageEngineType() != engineType)
        return;
    const QStringList keys = entity.getColumnKeys();
    const QList<C> columns = entity.getColumns();
    if (keys.isEmpty())
        return;
    const DBIF_Connection connection = entity.getConnection();
    if (engineType == DBIF_SPARSE_TABLE_STORAGE &&
        !DBIF_QuarnQuery::sparseTableContainsColumns<C>(connection, DBIF_UniqueStringList(keys)))
        return;
    const QString table = dataTableName(connection, keys, false);
    if (table != tableNameBeforeSave()) {
        DBIF_QuarnQuery* quarnQuery = dynamic_cast<DBIF_QuarnQuery*>(query);
        const QString sql =
            quarnQuery
                ? quarnQuery->generateDataSql(engineType, masterTableName(), table, keys, entity.getId())
                : DBIF_QuarnQuery(connection)
                      .generateDataSql(engineType, masterTableName(), table, keys, entity.getId());
        QSqlQuery result = connection.query(sql, DBIF_QUERY_TIMING, __FILE__, __LINE__);
        while (result.next()) {
            entity.addRow();
            for (int i = 0; i < columns.size(); ++i)
                entity.set(columns[i], convertVariant(columns[i].getDataType(), result.value(i)));
        }
    }
    // The loaded cells went in through set(), which marks the table dirty.
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
