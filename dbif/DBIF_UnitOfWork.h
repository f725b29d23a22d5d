// DBIF_UnitOfWork: one save as one unit of work on a connection. The outermost unit opens a savepoint
// (or, on SQLite outside a host transaction, a write transaction of its own), releases it on commit()
// and rolls back to it when it goes out of scope uncommitted, so a failed save leaves nothing of itself
// while the host's earlier work stays. Records that change in memory during the unit (ids taken,
// dirty flags cleared) register how to undo that, so that a rolled-back save can simply be repeated.
// Units nest: inner ones only count. A stack object of one thread, like the connection it works on.
#ifndef DBIF_UNITOFWORK_H
#define DBIF_UNITOFWORK_H

#include <functional>

#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_Export.h"

class DBIF_EXPORT DBIF_UnitOfWork {
public:
    // Throws DBIF_Exception when the savepoint or transaction cannot be opened.
    explicit DBIF_UnitOfWork(const DBIF_Connection& connection);
    // Rolls back when commit() was not reached (an exception is on its way out).
    ~DBIF_UnitOfWork();
    DBIF_UnitOfWork(const DBIF_UnitOfWork&) = delete;
    DBIF_UnitOfWork& operator=(const DBIF_UnitOfWork&) = delete;

    // Makes the unit's work part of the host's transaction (or commits it, when the unit opened its
    // own). Throws DBIF_Exception, after rolling the unit back, when the database refuses.
    void commit();

    // Prepares the unit for a change of shared schema that other processes may make at the same time
    // (see DBIF_Connection::ManagedConnection::takeSchemaLock): on SQLite the unit takes the write lock;
    // on MySQL it becomes a transaction of its own that commit() commits, what the connection wrote
    // before being committed first, or with byName it takes a named lock of the database instead,
    // held until the unit ends (which only a single server honours). Throws DBIF_Exception.
    void lockSchema(bool byName);

    // Registers how to restore in-memory state if the open unit of the connection is rolled back;
    // does nothing when no unit is open (the change is then final at once).
    static void onRollback(const DBIF_Connection& connection, std::function<void()> undo);

private:
    DBIF_Connection connection;
    bool done = false;
    bool schemaLocked = false;
};

#endif
