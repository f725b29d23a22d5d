// DBIF_DataTableEntity<E, C, Record>: what the five entity kinds with a data table (catalog entry,
// device, measurement condition, measurement, setup) share: the in-memory table of column kind C as
// base, the kind's own shared record (Record, derived from DBIF_DataTableEntityRecord) beside it, the
// events through which the entity hands its persistence to its storage engine, lookups through the
// kind's object cache and the static query operations. E is the kind (CRTP). The entity never writes
// SQL itself: without an attached engine its events are lost. Copies share both records; one thread
// at a time, like the kind's cache and connection.
#ifndef DBIF_DATATABLEENTITY_H
#define DBIF_DATATABLEENTITY_H

#include <QExplicitlySharedDataPointer>
#include <QList>
#include <QMetaType>
#include <QSharedData>
#include <QString>
#include <QVariant>

#include "dbif/DBAL_EventSending.h"
#include "dbif/DBAL_StorageEngineFactory.h"
#include "dbif/DBIF_CompoundQueryCondition.h"
#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_DataType.h"
#include "dbif/DBIF_EntityQuery.h"
#include "dbif/DBIF_InMemoryTable.h"
#include "dbif/DBIF_ObjectCache.h"
#include "dbif/DBIF_QuarnQuery.h"
#include "dbif/DBIF_Query.h"
#include "dbif/DBIF_QueryCondition.h"

class DBIF_CatalogEntry;
// What the catalog-entry accessor of a kind gives on a null handle: the address of a null entry handle
// (made null again at every call), so that the caller's next call reports as well instead of following
// a null pointer.
DBIF_EXPORT DBIF_CatalogEntry* nullCatalogEntryHandle();

// The direction of retrieveValues: 0 ascending, anything else descending.
enum SortOrder { DBIF_ASCENDING = 0, DBIF_DESCENDING = 1 };

// The per-entity events every data-table kind has; AddColumnEvent is the kind's add-column sender,
// whose arity depends on the kind's extra column attribute.
template <typename E, typename AddColumnEventType>
struct DBIF_DataTableEntityRecord : public QSharedData {
    using AddColumnEvent = AddColumnEventType;
    using QueryEvent = DBAL_EventSending2Params<DBIF_Query*, QVariant&>;

    virtual ~DBIF_DataTableEntityRecord() {}

    DBAL_EventSending2Params<E, bool> saveEvent;         // true: save subordinates as well
    DBAL_EventSending2Params<E, bool> prepareSaveEvent;  // true: prepare subordinates as well
    AddColumnEvent addColumnEvent;
    DBAL_EventSending1Param<E> loadEvent;
    DBAL_EventSending2Params<E, DBIF_Query*> loadDataEvent;
    DBAL_EventSending1Param<E> reloadEvent;
};

template <typename E, typename C, typename Record>
class DBIF_DataTableEntity : public DBIF_InMemoryTable<C>, public DBIF_EntityQueryOperations<E> {
    using Table = DBIF_InMemoryTable<C>;

public:
    // True when the handle has the kind's record; a default-constructed handle has none.
    bool isValid() const { return static_cast<bool>(e); }

    // Saves through the attached engine: columns, precedents, own row and data; save() then the
    // subordinates as well, saveSelf() not.
    // On a null handle these report and do nothing.
    void save() {
        if (hasEntityRecord("save"))
            e->saveEvent.notify(self(), true);
    }
    void saveSelf() {
        if (hasEntityRecord("saveSelf"))
            e->saveEvent.notify(self(), false);
    }
    // What the save of this entity (with its subordinates, or not) needs before its unit of work
    // opens: every value it will write checked, every data table it will write into made (on MySQL
    // a table's creation commits, so inside the unit it would commit half a save). The outermost save
    // calls it; a kind calls it for the precedents and subordinates that its save saves.
    void prepareSave(bool withSubordinates) {
        if (hasEntityRecord("prepareSave"))
            e->prepareSaveEvent.notify(self(), withSubordinates);
    }
    // Re-reads the master row through the cache (E::reload(QSqlRecord)), then lets the engine read the
    // columns and the row count again.
    void reload() {
        if (!hasEntityRecord("reload"))
            return;
        DBIF_ObjectCache<E>::reload(self());
        e->reloadEvent.notify(self());
    }

    // The stored entity, or a null handle (reported by the cache).
    static E get(const DBIF_Connection& connection, int id) {
        return DBIF_ObjectCache<E>::get(connection, id);
    }
    static E get(const DBIF_Connection& connection, const QString& key) {
        return DBIF_ObjectCache<E>::get(connection, key);
    }
    static DBIF_ObjectCache<E>& getObjectCache() {
        static DBIF_ObjectCache<E> cache;
        return cache;
    }

    // The non-null values of the column over all entities of the kind that satisfy the condition, sorted
    // by the column; latestOnly and distinct as in DBIF_Query. The caller owns the values.
    static QList<DBIF_DataType*> retrieveValues(const C& column, SortOrder order,
                                                const DBIF_QueryCondition* condition = nullptr,
                                                bool latestOnly = false, bool distinct = false) {
        const DBIF_Connection connection = column.getConnection();
        DBIF_QuarnQuery query(connection);
        query.addOrder(E::DATA_TABLE_NAME, column.getKey(), order == DBIF_ASCENDING);
        query.markLatestOnly(latestOnly);
        query.markDistinct(distinct);
        const DBIF_SingleColumnCondition notNull = column.notNull();
        if (condition)
            query.setCondition(DBIF_CompoundQueryCondition(&notNull, And, condition));
        else
            query.setCondition(notNull);
        return queryValues(connection, &query, column.getDataType());
    }

    // Registration of the engines' handlers (see DBAL_StorageEngine::attach); each returns the
    // listener's id and keeps one listener per object and method.
    template <class Obj>
    int addSaveEventListener(Obj* object, void (Obj::*method)(E, bool)) {
        return hasEntityRecord("addSaveEventListener") ? e->saveEvent.addListener(object, method) : -1;
    }
    template <class Obj>
    int addPrepareSaveEventListener(Obj* object, void (Obj::*method)(E, bool)) {
        return hasEntityRecord("addPrepareSaveEventListener")
                   ? e->prepareSaveEvent.addListener(object, method)
                   : -1;
    }
    // The method's signature is the kind's add-column event's; an overloaded handler resolves to it.
    template <class Obj, class R = Record>
    int addAddColumnEventListener(Obj* object,
                                  typename R::AddColumnEvent::template NotifyingMethod<Obj>::Method method) {
        return hasEntityRecord("addAddColumnEventListener") ? e->addColumnEvent.addListener(object, method)
                                                            : -1;
    }
    template <class Obj>
    int addLoadEventListener(Obj* object, void (Obj::*method)(E)) {
        return hasEntityRecord("addLoadEventListener") ? e->loadEvent.addListener(object, method) : -1;
    }
    template <class Obj>
    int addLoadDataEventListener(Obj* object, void (Obj::*method)(E, DBIF_Query*)) {
        return hasEntityRecord("addLoadDataEventListener") ? e->loadDataEvent.addListener(object, method)
                                                           : -1;
    }
    template <class Obj>
    int addReloadEventListener(Obj* object, void (Obj::*method)(E)) {
        return hasEntityRecord("addReloadEventListener") ? e->reloadEvent.addListener(object, method) : -1;
    }
    // The kind-wide query event (Record::queryEvent(), one per process and kind).
    template <class Obj>
    static int addQueryEventListener(Obj* object, void (Obj::*method)(DBIF_Query*, QVariant&)) {
        return Record::queryEvent().addListener(object, method);
    }

    bool operator==(const E& other) const { return Table::operator==(other); }
    bool operator!=(const E& other) const { return Table::operator!=(other); }

protected:
    DBIF_DataTableEntity() = default;
    // A new entity: id -1, loaded (there is nothing stored), modified now.
    DBIF_DataTableEntity(const DBIF_Connection& connection, DBIF_StorageEngineType type, Record* record)
        : Table(connection, -1, type), e(record) {
        registerListType();
    }
    // An entity read from its master row; its data stays unloaded until a cell is first touched.
    DBIF_DataTableEntity(const DBIF_Connection& connection, const QDateTime& modifiedTime,
                         const QString& user, int id, int storedEngineType, Record* record)
        : Table(connection, modifiedTime, user, id, storedEngineType), e(record) {
        registerListType();
        Table::setDataIsLoaded(false);
    }
    ~DBIF_DataTableEntity() override = default;

    // Completes a construction: the key, the kind's engine of engineType listening on the events, and
    // for an entity read from its row the load event, through which that engine reads the columns.
    void attachEngine(const QString& key, DBIF_StorageEngineType engineType, bool fromRow) {
        Table::setKey(key);
        DBAL_StorageEngineFactory<E, C>::attach(self(), engineType);
        if (fromRow)
            e->loadEvent.notify(self());
    }

    // Reached through the in-memory table when a cell is first needed: the engine fills the rows.
    void loadData() override {
        DBIF_QuarnQuery query(Table::getConnection());
        e->loadDataEvent.notify(self(), &query);
        Table::setDataIsLoaded(true);
    }

    // Records the column in the table, lets the engine define it, and returns its catalog column.
    // The entity keeps the column, so that it outlives an emptied column cache until it is saved.
    template <typename... Extra>
    C addColumnWithEvent(const QString& name, const QString& dataType, const Extra&... extra) {
        if (!hasEntityRecord("addColumn"))
            return C();
        const QString key = C::computeKey(name, dataType, extra...);
        Table::addColumn(key);
        e->addColumnEvent.notify(self(), name, dataType, extra...);
        const C column = C::get(Table::getConnection(), key);
        Table::holdColumn(column);
        return column;
    }

    // The kind's own record, or nullptr after the operation on a null handle was reported. A kind
    // reaches its record only through here and entityField, so that no accessor of any kind can
    // skip the null-handle check; the caller returns an empty value on nullptr.
    Record* record(const char* operation) const { return hasEntityRecord(operation) ? e.data() : nullptr; }
    // A field of the kind's record, or the fallback (reported) on a null handle.
    template <typename F, typename R>
    F entityField(F R::*member, const char* operation, F fallback = F()) const {
        return hasEntityRecord(operation) ? static_cast<const R&>(*e).*member : fallback;
    }
    // Sets a field of the kind's record; on a null handle it reports and does nothing.
    template <typename F, typename R>
    void setEntityField(F R::*member, const F& value, const char* operation) const {
        if (hasEntityRecord(operation))
            static_cast<R&>(*e).*member = value;
    }
    bool hasEntityRecord(const char* operation) const {
        return checkHandle(static_cast<bool>(e), __FILE__, __LINE__, operation);
    }

    // Forgets the in-memory rows so that the next cell access loads them again.
    void unloadData() {
        Table::releaseData();
        Table::setDirty(false);
    }

    const E& self() const { return static_cast<const E&>(*this); }

    // Query results carry lists of the kind in variants, under the name "QList<kind>" that hosts
    // look them up by.
    static void registerListType() {
        static const int id = qRegisterMetaType<QList<E>>();
        (void)id;
    }

private:
    QExplicitlySharedDataPointer<Record> e;
};

#endif
