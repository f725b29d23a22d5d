// DBIF_Exception: the one exception every failing statement throws. It carries the statement, the
// database's error and the calling source file and line, and reports them in a fixed layout. It also
// says whether the failure can be retried: a deadlock or a lost certification (a Galera cluster's
// conflict between two nodes' transactions), or a lock wait that timed out.
// Thrown and copied by value; the text returned by what() lives until the next what() on the object.
#ifndef DBIF_EXCEPTION_H
#define DBIF_EXCEPTION_H

#include <QByteArray>
#include <QSqlError>
#include <QString>
#include <exception>

#include "dbif/DBIF_Export.h"

class DBIF_EXPORT DBIF_Exception : public std::exception {
public:
    DBIF_Exception(const QString& query, const QSqlError& error, const QString& file, int line);
    ~DBIF_Exception() noexcept override;

    // "==> Error reported by database in file: <file> line: <line>\n  Query: <statement>\n
    //   Error reported: <error>\n", formatted anew on each call.
    const char* what() const noexcept override;

    // True when the database refused the work because another transaction held or took what it needed
    // (MySQL 1213 deadlock or lost certification, 1205 lock wait timeout): nothing of the failed save or
    // transaction is stored, and running the whole of it again may succeed. Derived from the error's
    // native code; the report (what()) does not change.
    bool isRetryable() const { return retryable; }

    const QString& getQuery() const { return query; }
    const QSqlError& getError() const { return error; }
    const QString& getFile() const { return file; }
    int getLine() const { return line; }

private:
    QString query;
    QSqlError error;
    QString file;
    int line;
    bool retryable;
    mutable QByteArray message;
};

#endif
