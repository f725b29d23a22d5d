// DBIF_Routine: a named procedure of the host application with its definition text, one row of
// table routine. The key holds a hash of the definition, so one name may have several definitions;
// the definition reaches the database only as a bound value, so it may hold any characters.
// A value handle over an explicitly shared record; routines are cached whole per connection.
// Not thread-safe: the routine cache and a connection serve one thread at a time.
#ifndef DBIF_ROUTINE_H
#define DBIF_ROUTINE_H

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

// The routine's shared record (DBIF_Routine::SharedData).
struct DBIF_RoutineRecord : public DBIF_EntityRecord {
    DBIF_RoutineRecord(const DBIF_Connection& connection, const QString& name, const QString& definition,
                       const QDateTime& modifiedTime, const QString& user, int id);
    QString name, definition;
};

class DBIF_EXPORT DBIF_Routine : public DBIF_Entity<DBIF_Routine, DBIF_RoutineRecord> {
public:
    using SharedData = DBIF_RoutineRecord;
    using DBIF_Entity::get;

    class DBIF_EXPORT ParameterBlock {
    public:
        ParameterBlock(const QString& name, const QString& definition, const QString& user);
        // "<r: name|hash of the definition>"; the user does not distinguish rows.
        QString computeKey() const;

        QString name, definition, user;
    };

    static const QString MASTER_TABLE_NAME;
    static const QString COLUMN_TABLE_NAME;
    static const QString DATA_TABLE_NAME;
    static const QString ASSOCIATION_TABLE_NAME;

    static const DBIF_FixedColumn<DBIF_Routine> ID;
    static const DBIF_FixedColumn<DBIF_Routine> NAME;
    static const DBIF_FixedColumn<DBIF_Routine> DEFINITION;
    static const DBIF_FixedColumn<DBIF_Routine> MODIFIED_TIME;
    static const DBIF_FixedColumn<DBIF_Routine> USER;

    DBIF_Routine();  // null handle
    DBIF_Routine(const DBIF_Connection& connection, const QString& name, const QString& definition,
                 const QString& user, int id);
    DBIF_Routine(const DBIF_Connection& connection, const ParameterBlock& block, int id = -1);
    // From a row of "SELECT name, definition, modified_time, user, id FROM routine".
    DBIF_Routine(const DBIF_Connection& connection, const QSqlRecord& record);
    DBIF_Routine(const DBIF_Routine& other);
    DBIF_Routine& operator=(const DBIF_Routine& other);
    virtual void loadSubordinates() {}
    virtual ~DBIF_Routine();
    void unloadSubordinates() {}

    // The cached routine with this name and definition, or a new unsaved one (id -1).
    static DBIF_Routine get(const DBIF_Connection& connection, const QString& name, const QString& definition,
                            const QString& user);
    static QString computeKey(const QString& name, const QString& definition,
                              const QString& user = QString());

    QString getName() const { return field(&SharedData::name, "getName"); }
    QString getDefinition() const { return field(&SharedData::definition, "getDefinition"); }

    // Inserts a new routine once, then rewrites the row only while it is marked modified. The name and
    // user are escaped; the definition is bound.
    void save();
    void saveSelf() { save(); }
    using DBIF_Entity::reload;
    // Takes name and definition from positions 0 and 1 and recomputes the key.
    void reload(const QSqlRecord& record);
};

template <>
struct DBIF_ObjectCacheTraits<DBIF_Routine> : DBIF_ObjectCacheTraitsBase {
    static bool shouldCacheAll() { return true; }
    static QString cacheSelectStatement() {
        return QStringLiteral("SELECT name, definition, modified_time, user, id FROM routine");
    }
};

extern template class DBIF_EXPORT DBIF_ObjectCache<DBIF_Routine>;

#endif
