// DBIF_ObjectCache: one shared record per stored row, per connection and kind.
// The key map is the authority; the id map is an index over it, cleared whenever a new (unsaved,
// id -1) object enters and rebuilt on the next lookup by id. A missing id is remembered as a null
// handle, so asking again costs no query until the index is next cleared. Kinds with small tables
// (DBIF_ObjectCacheTraits::shouldCacheAll) are read whole on first use per connection; whether a
// connection was read whole is remembered apart from the key map, because a kept handle's reload can
// put one object back into an emptied map. A row never replaces the cached record of its key and id.
// The cache never writes. The maps are process-wide and unguarded: one thread at a time per kind.
//
// A kind T provides: a null default handle; T(connection, QSqlRecord) for rows of the traits'
// select; T(connection, T::ParameterBlock) for new objects; T::ParameterBlock::computeKey();
// getKey(), getId(), getConnection(), reload(QSqlRecord), loadSubordinates(), unloadSubordinates().
// The template is instantiated explicitly in each kind's source file.
#ifndef DBIF_OBJECTCACHE_H
#define DBIF_OBJECTCACHE_H

#include <QMap>
#include <QSet>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QString>
#include <cstdlib>

#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_ObjectCacheTraits.h"
#include "dbif/DBIF_Utilities.h"

template <typename T>
class DBIF_ObjectCache {
public:
    using KeyMap = QMap<QString, T>;
    using IdMap = QMap<int, T>;
    using Traits = DBIF_ObjectCacheTraits<T>;

    // Connection object cache key -> (object key -> object), and -> (id -> object).
    static QMap<QString, KeyMap> connectionToKeyToObjectMap;
    static QMap<QString, IdMap> connectionToIdToObjectMap;
    // The object cache keys of the connections whose whole table has been read (cache-whole kinds).
    static QSet<QString> connectionsLoadedWhole;

    DBIF_ObjectCache() {}
    ~DBIF_ObjectCache() {}

    // The cached object with the block's key, or a new unsaved one (id -1) that the cache now holds.
    static T get(const DBIF_Connection& connection, const typename T::ParameterBlock& block) {
        loadAll(connection);
        const QString key = block.computeKey();
        KeyMap& keys = keyToObjectMap(connection);
        const auto found = keys.constFind(key);
        if (found != keys.constEnd())
            return found.value();
        T object(connection, block);
        keys.insert(key, object);
        // The new object has no id yet; the index is rebuilt without it on the next lookup by id.
        idToObjectMap(connection).clear();
        return object;
    }

    // The cached object with that key, or a null handle (reported). Never reads beyond loadAll.
    static T get(const DBIF_Connection& connection, const QString& key) {
        loadAll(connection);
        const KeyMap& keys = keyToObjectMap(connection);
        const auto found = keys.constFind(key);
        if (found != keys.constEnd())
            return found.value();
        assert1(false, __FILE__, __LINE__, QStringLiteral("Couldn't find object with key %1"), key);
        return T();
    }

    // The object of that row, loaded if needed, or a null handle that stays remembered for the id.
    static T get(const DBIF_Connection& connection, int id) {
        loadAll(connection);
        IdMap& ids = idToObjectMap(connection);
        if (ids.isEmpty()) {
            const KeyMap& keys = keyToObjectMap(connection);
            for (auto it = keys.constBegin(); it != keys.constEnd(); ++it) {
                if (it.value().getId() != -1)
                    ids.insert(it.value().getId(), it.value());
            }
        }
        if (!ids.contains(id))
            load(connection, id);
        return ids[id];  // creates the null entry for a missing row
    }

    // Files an object built elsewhere under its key when the connection's cache holds none (an entity's
    // column that was not saved yet when the cache was emptied); returns the cached object.
    static T adopt(const DBIF_Connection& connection, const T& object) {
        loadAll(connection);
        KeyMap& keys = keyToObjectMap(connection);
        const auto found = keys.constFind(object.getKey());
        if (found != keys.constEnd())
            return found.value();
        keys.insert(object.getKey(), object);
        if (object.getId() == -1)
            idToObjectMap(connection).clear();
        else
            idToObjectMap(connection).insert(object.getId(), object);
        return object;
    }

    bool contains(const DBIF_Connection& connection, const QString& key) {
        loadAll(connection);
        return keyToObjectMap(connection).contains(key);
    }

    // Re-reads the object's row into its shared record and files it under its (possibly new) key.
    static void reload(T object) {
        const DBIF_Connection connection = object.getConnection();
        KeyMap& keys = keyToObjectMap(connection);
        keys.remove(object.getKey());
        const QString sql = byIdStatement(object.getId());
        QSqlQuery result = connection.query(sql, DBIF_QUERY_TIMING, __FILE__, __LINE__);
        if (assert1(result.next(), __FILE__, __LINE__,
                    QStringLiteral("DBIF_ObjectCache::reload while reloading an item by id, the item was not "
                                   "found:\n  %1"),
                    sql)) {
            object.reload(result.record());
        }
        keys.insert(object.getKey(), object);
    }

    void removeFromCache(const DBIF_Connection& connection, const T& object) {
        keyToObjectMap(connection).remove(object.getKey());
        idToObjectMap(connection).remove(object.getId());
    }

    // Indexes an object under an id before it is complete (a kind that builds rows recursively).
    static void prestoreIdKey(const DBIF_Connection& connection, int id, const T& object) {
        idToObjectMap(connection).insert(id, object);
    }

    // Drops every cached object of every connection. Handles held elsewhere keep their records.
    static void emptyCache() {
        unloadSubordinates();
        connectionToKeyToObjectMap.clear();
        connectionToIdToObjectMap.clear();
        connectionsLoadedWhole.clear();
    }

    static void unloadSubordinates() {
        for (auto connection = connectionToKeyToObjectMap.begin();
             connection != connectionToKeyToObjectMap.end(); ++connection) {
            for (auto it = connection.value().begin(); it != connection.value().end(); ++it) {
                it.value().unloadSubordinates();
            }
        }
    }

private:
    static KeyMap& keyToObjectMap(const QString& connectionKey) {
        registerHandlers();
        return connectionToKeyToObjectMap[connectionKey];
    }
    static KeyMap& keyToObjectMap(const DBIF_Connection& connection) {
        return keyToObjectMap(connection.getObjectCacheKey());
    }
    static IdMap& idToObjectMap(const DBIF_Connection& connection) {
        registerHandlers();
        return connectionToIdToObjectMap[connection.getObjectCacheKey()];
    }

    // At first use: a connection that closes for good takes its objects out of the cache; and the maps
    // are emptied by a handler that runs before Qt's SQL module tears down its connection registry
    // (created earlier, so released later), as the objects' records may hold the last references to
    // connection records. Static destruction of the maps would come too late for that.
    static void registerHandlers() {
        static const bool registered = [] {
            DBIF_Connection::ManagedConnection::onConnectionDropped(&forgetConnection);
            return std::atexit([] { emptyCache(); }) == 0;
        }();
        (void)registered;
    }

    // The maps are consistent before the objects go: an object's record may release more on its way.
    static void forgetConnection(const QString& connectionKey) {
        const KeyMap objects = connectionToKeyToObjectMap.take(connectionKey);
        const IdMap ids = connectionToIdToObjectMap.take(connectionKey);
        connectionsLoadedWhole.remove(connectionKey);
        for (auto it = objects.begin(); it != objects.end(); ++it)
            T(it.value()).unloadSubordinates();
    }

    static QString byIdStatement(int id) {
        return QStringLiteral("%1 WHERE id = %2").arg(Traits::cacheSelectStatement(), QString::number(id));
    }

    static void load(const DBIF_Connection& connection, int id) {
        const QString sql = byIdStatement(id);
        QSqlQuery result = connection.query(sql, DBIF_QUERY_TIMING, __FILE__, __LINE__);
        if (result.next()) {
            loadOne(connection, result.record());
            return;
        }
        assert1(false, __FILE__, __LINE__,
                QStringLiteral(
                    "DBIF_ObjectCache::load while loading an item by id, the item was not found:\n  %1"),
                sql);
    }

    // Reads the table once per connection; objects already cached (a kept handle reloaded after the
    // cache was emptied, new ones) keep their records.
    static void loadAll(const DBIF_Connection& connection) {
        if (!Traits::shouldCacheAll() || connectionsLoadedWhole.contains(connection.getObjectCacheKey()))
            return;
        connectionsLoadedWhole.insert(connection.getObjectCacheKey());
        QSqlQuery result =
            connection.query(Traits::cacheSelectStatement(), DBIF_QUERY_TIMING, __FILE__, __LINE__);
        while (result.next())
            loadOne(connection, result.record());
    }

    // A row whose key already names the cached record of the same row (a new object saved since the id
    // index was rebuilt, a kept handle reloaded) indexes that record instead of a second one.
    static void loadOne(const DBIF_Connection& connection, const QSqlRecord& record) {
        T object(connection, record);
        KeyMap& keys = keyToObjectMap(connection);
        const auto cached = keys.constFind(object.getKey());
        if (cached != keys.constEnd() && !cached.value().isNull() &&
            cached.value().getId() == object.getId()) {
            idToObjectMap(connection).insert(object.getId(), cached.value());
            return;
        }
        keys.insert(object.getKey(), object);
        idToObjectMap(connection).insert(object.getId(), object);
        if (Traits::loadSubordinatesOnLoad())
            object.loadSubordinates();
    }
};

template <typename T>
QMap<QString, typename DBIF_ObjectCache<T>::KeyMap> DBIF_ObjectCache<T>::connectionToKeyToObjectMap;
template <typename T>
QMap<QString, typename DBIF_ObjectCache<T>::IdMap> DBIF_ObjectCache<T>::connectionToIdToObjectMap;
template <typename T>
QSet<QString> DBIF_ObjectCache<T>::connectionsLoadedWhole;

#endif
