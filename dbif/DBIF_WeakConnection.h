// DBIF_WeakConnection: the connection handle of records that caches hold (entities, catalog columns,
// a run's child lists). It works as a DBIF_Connection but does not keep the database connection open:
// once the host has let go of its last DBIF_Connection the connection is closed, and a statement sent
// through a weak handle throws DBIF_Exception. Copying one into a DBIF_Connection (getConnection())
// gives the host a handle of its own. A value handle; one thread at a time, like the connection.
#ifndef DBIF_WEAKCONNECTION_H
#define DBIF_WEAKCONNECTION_H

#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_Export.h"

class DBIF_EXPORT DBIF_WeakConnection : public DBIF_Connection {
public:
    DBIF_WeakConnection() : DBIF_WeakConnection(DBIF_Connection::nullConnection()) {}
    // Implicit, so that a record built from a connection holds it weakly without further ado.
    DBIF_WeakConnection(const DBIF_Connection& connection) : DBIF_Connection(connection, Weak()) {}
    DBIF_WeakConnection(const DBIF_WeakConnection& other) : DBIF_Connection(other, Weak()) {}
    DBIF_WeakConnection& operator=(const DBIF_WeakConnection& other) {
        DBIF_Connection::operator=(other);
        return *this;
    }
    DBIF_WeakConnection& operator=(const DBIF_Connection& other) {
        DBIF_Connection::operator=(other);
        return *this;
    }
};

#endif
