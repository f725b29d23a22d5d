// DBIF_Die: one probed chip position of a wafer (lot, wafer, die, block), one row of table die.
// A value handle over an explicitly shared record: every handle of a row, including the one the
// per-connection die cache holds, sees the same fields. Dies are cached whole per connection.
// Not thread-safe: the die cache and a connection serve one thread at a time.
#ifndef DBIF_DIE_H
#define DBIF_DIE_H

#include <QDateTime>
#include <QExplicitlySharedDataPointer>
#include <QSqlRecord>
#include <QString>

#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_Entity.h"
#include "dbif/DBIF_EntityRecord.h"
#include "dbif/DBIF_Export.h"
#include "dbif/DBIF_FixedColumn.h"
#include "dbif/DBIF_ObjectCache.h"

// The die's shared record (DBIF_Die::SharedData).
struct DBIF_DieRecord : public DBIF_EntityRecord {
    DBIF_DieRecord(const DBIF_Connection& connection, const QString& lot, const QString& wafer,
                   const QString& die, const QString& block, const QDateTime& modifiedTime,
                   const QString& user, int id);
    QString lot, wafer, die, block;
};

class DBIF_EXPORT DBIF_Die : public DBIF_Entity<DBIF_Die, DBIF_DieRecord> {
public:
    using SharedData = DBIF_DieRecord;
    using DBIF_Entity::get;

    class DBIF_EXPORT ParameterBlock {
    public:
        ParameterBlock(const QString& lot, const QString& wafer, const QString& die, const QString& block,
                       const QString& user);
        // "<die: lot|wafer|die|block>"; the user does not distinguish rows.
        QString computeKey() const;

        QString lot, wafer, die, block, user;
    };

    static const QString MASTER_TABLE_NAME;
    static const QString COLUMN_TABLE_NAME;
    static const QString DATA_TABLE_NAME;
    static const QString ASSOCIATION_TABLE_NAME;

    static const DBIF_FixedColumn<DBIF_Die> LOT;
    static const DBIF_FixedColumn<DBIF_Die> WAFER;
    static const DBIF_FixedColumn<DBIF_Die> DIE;
    static const DBIF_FixedColumn<DBIF_Die> BLOCK;
    static const DBIF_FixedColumn<DBIF_Die> USER;
    static const DBIF_FixedColumn<DBIF_Die> MODIFIED_TIME;
    static const DBIF_FixedColumn<DBIF_Die> ID;

    DBIF_Die();  // null handle
    DBIF_Die(const DBIF_Connection& connection, const QString& lot, const QString& wafer, const QString& die,
             const QString& block, const QString& user, int id);
    DBIF_Die(const DBIF_Connection& connection, const QString& lot, const QString& wafer, const QString& die,
             const QString& block, const QDateTime& modifiedTime, const QString& user, int id);
    DBIF_Die(const DBIF_Connection& connection, const ParameterBlock& block, int id = -1);
    // From a row of "SELECT lot, wafer, die, block, modified_time, user, id FROM die".
    DBIF_Die(const DBIF_Connection& connection, const QSqlRecord& record);
    DBIF_Die(const DBIF_Die& other);
    DBIF_Die& operator=(const DBIF_Die& other);
    virtual ~DBIF_Die();
    virtual void loadSubordinates() {}
    void unloadSubordinates() {}

    // The cached die with these names, or a new unsaved one (id -1) that the cache now holds.
    static DBIF_Die get(const DBIF_Connection& connection, const QString& lot, const QString& wafer,
                        const QString& die, const QString& block, const QString& user);
    static QString computeKey(const QString& lot, const QString& wafer, const QString& die,
                              const QString& block, const QString& user = QString());

    QString getLot() const { return field(&SharedData::lot, "getLot"); }
    QString getWafer() const { return field(&SharedData::wafer, "getWafer"); }
    QString getDie() const { return field(&SharedData::die, "getDie"); }
    QString getBlock() const { return field(&SharedData::block, "getBlock"); }

    // Inserts a new die once, then rewrites the row only while it is marked modified.
    // Names are escaped, so any text is stored as it is (on MySQL: Latin-1 only, see the README).
    void save();
    void saveSelf() { save(); }
    using DBIF_Entity::reload;
    // Takes lot, wafer, die and block from positions 0-3 and recomputes the key.
    void reload(const QSqlRecord& record);
};

template <>
struct DBIF_ObjectCacheTraits<DBIF_Die> : DBIF_ObjectCacheTraitsBase {
    static bool shouldCacheAll() { return true; }
    static QString cacheSelectStatement() {
        return QStringLiteral("SELECT lot, wafer, die, block, modified_time, user, id FROM die");
    }
};

extern template class DBIF_EXPORT DBIF_ObjectCache<DBIF_Die>;

#endif
