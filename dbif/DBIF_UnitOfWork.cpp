// DBIF_UnitOfWork.cpp: the scope of a unit of work; the statements live in the connection record.
#include "dbif/DBIF_UnitOfWork.h"

DBIF_UnitOfWork::DBIF_UnitOfWork(const DBIF_Connection& connection) : connection(connection) {
    this->connection.d->beginUnit();
}

DBIF_UnitOfWork::~DBIF_UnitOfWork() {
    if (!done)
        connection.d->rollbackUnit();
    if (schemaLocked)
        connection.d->releaseSchemaLock();
}

void DBIF_UnitOfWork::commit() {
    done = true;
    connection.d->commitUnit();
}

void DBIF_UnitOfWork::lockSchema(bool byName) {
    if (!schemaLocked)
        schemaLocked = connection.d->takeSchemaLock(byName);
}

void DBIF_UnitOfWork::onRollback(const DBIF_Connection& connection, std::function<void()> undo) {
    connection.d->onRollback(std::move(undo));
}
