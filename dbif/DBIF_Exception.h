// DBIF_Exception: the one exception every failing statement throws. It carries the statement, the
// database's error and the calling source file and line, and reports them in a fixed layout.
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

    const QString& getQuery() const { return query; }
    const QSqlError& getError() const { return error; }
    const QString& getFile() const { return file; }
    int getLine() const { return line; }

private:
    QString query;
    QSqlError error;
    QString file;
    int line;
    mutable QByteArray message;
};

#endif
