// DBIF_ConnectionMismatchException: thrown before anything is written when an entity of one
// connection is linked to an entity of another. Carries where it happened and both connections'
// object cache keys. Thrown and copied by value.
#ifndef DBIF_CONNECTIONMISMATCHEXCEPTION_H
#define DBIF_CONNECTIONMISMATCHEXCEPTION_H

#include <QByteArray>
#include <QString>
#include <exception>

#include "dbif/DBIF_Export.h"

class DBIF_EXPORT DBIF_ConnectionMismatchException : public std::exception {
public:
    DBIF_ConnectionMismatchException(const QString& where, const QString& ownerKey, const QString& addingKey);
    ~DBIF_ConnectionMismatchException() noexcept override;

    // "Connection mismatch in <where>. owner connection: '<owner>' adding connection: '<adding>'"
    const char* what() const noexcept override;

    const QString& getWhere() const { return where; }
    const QString& getOwnerKey() const { return ownerKey; }
    const QString& getAddingKey() const { return addingKey; }

private:
    QString where;
    QString ownerKey;
    QString addingKey;
    mutable QByteArray message;
};

#endif
