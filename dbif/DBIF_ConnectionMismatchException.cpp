// DBIF_ConnectionMismatchException.cpp: the report of a link between two connections.
#include "dbif/DBIF_ConnectionMismatchException.h"

DBIF_ConnectionMismatchException::DBIF_ConnectionMismatchException(const QString& where,
                                                                   const QString& ownerKey,
                                                                   const QString& addingKey)
    : where(where), ownerKey(ownerKey), addingKey(addingKey) {}

DBIF_ConnectionMismatchException::~DBIF_ConnectionMismatchException() noexcept = default;

const char* DBIF_ConnectionMismatchException::what() const noexcept {
    message = (QStringLiteral("Connection mismatch in ") + where + QStringLiteral(". owner connection: '") +
               ownerKey + QStringLiteral("' adding connection: '") + addingKey + QStringLiteral("'"))
                  .toLocal8Bit();
    return message.constData();
}
