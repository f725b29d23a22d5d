// DBIF_Exception.cpp: the uniform report of a failing statement.
#include "dbif/DBIF_Exception.h"

namespace {

// MySQL's deadlock (also a lost certification on a Galera cluster) and lock wait timeout. No SQLite
// result code, extended ones included, takes these values.
bool isRetryableError(const QSqlError& error) {
    const QString code = error.nativeErrorCode();
    return code == QLatin1String("1213") || code == QLatin1String("1205");
}

}  // namespace

DBIF_Exception::DBIF_Exception(const QString& query, const QSqlError& error, const QString& file, int line)
    : query(query), error(error), file(file), line(line), retryable(isRetryableError(error)) {}

DBIF_Exception::~DBIF_Exception() noexcept = default;

const char* DBIF_Exception::what() const noexcept {
    message = QStringLiteral(
                  "==> Error reported by database in file: %1 line: %2\n  Query: %3\n  Error reported: %4\n")
                  .arg(file, QString::number(line), query, error.text())
                  .toLocal8Bit();
    return message.constData();
}
