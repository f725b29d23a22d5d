// StatementTrace.h: the statements a piece of library work sends, read back from the connection's SQL
// trace, and their replay straight through Qt; what the benchmarks put beside the library to measure
// what it adds to the cost of its own statements. For one thread.
#ifndef DBIF_BENCH_STATEMENTTRACE_H
#define DBIF_BENCH_STATEMENTTRACE_H

#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <vector>

#include <mysql.h>
#include <sqlite3.h>

#include "dbif/DBIF_Connection.h"

// One statement the library sent; a prepared one carries its single bound value. A statement of bound
// rows ("... VALUES (?, ?) -- 100 rows bound") keeps its one-row text and the number of rows: the trace
// has no values, so the replay binds numbers of its own, the same count of the same types as data rows.
// A statement of one row's values ("... -- bound: 3, 'x', 2.5, NULL") keeps them in their types.
struct Statement {
    QString sql;
    bool prepared = false;
    QString value;
    int boundRows = 0;
    bool boundValues = false;
    QVariantList values;
};

// The values of a " -- bound: " trace: NULL, integers, doubles (a point or an exponent in each), texts
// in SQL quotes.
inline QVariantList parseBoundValues(const QString& shown) {
    QVariantList values;
    qsizetype i = 0;
    while (i < shown.size()) {
        if (shown[i] == QLatin1Char('\'')) {
            QString text;
            for (++i; i < shown.size(); ++i) {
                if (shown[i] == QLatin1Char('\'')) {
                    if (i + 1 < shown.size() && shown[i + 1] == QLatin1Char('\'')) {
                        text += QLatin1Char('\'');
                        ++i;
                        continue;
                    }
                    ++i;
                    break;
                }
                text += shown[i];
            }
            values.append(text);
        } else {
            qsizetype end = shown.indexOf(QStringLiteral(", "), i);
            if (end < 0)
                end = shown.size();
            const QString token = shown.mid(i, end - i);
            if (token == QLatin1String("NULL"))
                values.append(QVariant());
            else if (token.contains(QLatin1Char('.')) || token.contains(QLatin1Char('e')))
                values.append(token.toDouble());
            else
                values.append(token.toLongLong());
            i = end;
        }
        if (shown.mid(i, 2) == QLatin1String(", "))
            i += 2;
    }
    return values;
}

// The statements `work` sends on `db`, in order, with their texts exactly as sent (an INSERT keeps its
// closing line end, which costs Qt a copy of the text). Each starts after a "<connection>: (<n> ms) "
// line (a prepared statement's text ends in " => [<bound values>]") and ends with the line end the
// trace adds; a header or transaction message then opens with one more.
template <typename Work>
QList<Statement> recordStatements(DBIF_Connection& db, Work work) {
    std::ostringstream trace;
    std::streambuf* original = std::cout.rdbuf(trace.rdbuf());
    db.setShowSql(true);
    work();
    db.setShowSql(false);
    std::cout.rdbuf(original);

    const QString key = db.getQtDatabaseKey();
    QList<Statement> statements;
    QStringList current;
    bool inStatement = false;
    // `traceEnds` is how many of the trailing empty lines the trace itself wrote.
    const auto finish = [&](int traceEnds) {
        for (; traceEnds > 0 && !current.isEmpty() && current.last().isEmpty(); --traceEnds)
            current.removeLast();
        if (inStatement && !current.isEmpty()) {
            static const QRegularExpression bound(QStringLiteral(" -- (\\d+) rows? bound$"));
            Statement statement;
            statement.sql = current.join('\n');
            const QRegularExpressionMatch rows = bound.match(statement.sql);
            const qsizetype arrow = statement.sql.lastIndexOf(" => [");
            const qsizetype boundAt = statement.sql.indexOf(" -- bound: ");
            if (boundAt >= 0) {
                statement.boundValues = true;
                statement.values = parseBoundValues(statement.sql.mid(boundAt + 11));
                statement.sql.truncate(boundAt);
            } else if (rows.hasMatch()) {
                statement.boundRows = rows.captured(1).toInt();
                statement.sql.truncate(rows.capturedStart());
            } else if (arrow >= 0 && statement.sql.endsWith(QLatin1Char(']'))) {
                statement.prepared = true;
                statement.value = statement.sql.mid(arrow + 5, statement.sql.size() - arrow - 6);
                statement.sql.truncate(arrow);
            }
            statements.append(statement);
        }
        current.clear();
        inStatement = false;
    };
    for (const QString& line : QString::fromStdString(trace.str()).split('\n')) {
        if (line.startsWith(key + ": (") && line.endsWith(" ms) ")) {
            finish(1);
            inStatement = true;
        } else if (line.startsWith("  Beginning Transaction") ||
                   line.startsWith("  Committing Transaction")) {
            finish(1);
        } else if (line.startsWith("Int query returned") || line.startsWith("String query returned") ||
                   line.startsWith("DateTime query returned")) {
            finish(0);
        } else if (inStatement) {
            current.append(line);
        }
    }
    finish(1);
    return statements;
}

// The driver's own connection handle (sqlite3 or MYSQL) of an open Qt connection.
template <typename Handle>
Handle* driverHandle(const QSqlDatabase& qt) {
    return *static_cast<Handle* const*>(qt.driver()->handle().constData());
}

// The statements a replay prepared on the driver's own handle, kept by their text for the whole
// replay, as the library keeps them for its session.
class NativeStatements {
public:
    NativeStatements() = default;
    NativeStatements(const NativeStatements&) = delete;
    NativeStatements& operator=(const NativeStatements&) = delete;
    ~NativeStatements() {
        for (auto& kept : sqlite)
            sqlite3_finalize(kept.second);
        for (auto& kept : mysql)
            mysql_stmt_close(kept.second);
    }
    // The statement of `sql`, or null with the database's report in `failure`.
    sqlite3_stmt* onSqlite(sqlite3* handle, const QString& sql, QString& failure) {
        auto known = sqlite.find(sql);
        if (known != sqlite.end())
            return known->second;
        sqlite3_stmt* step = nullptr;
        const QByteArray text = sql.toUtf8();
        if (sqlite3_prepare_v2(handle, text.constData(), static_cast<int>(text.size()), &step, nullptr) !=
            SQLITE_OK) {
            failure = QString::fromUtf8(sqlite3_errmsg(handle)) + "\n" + sql.left(300);
            sqlite3_finalize(step);
            return nullptr;
        }
        return sqlite.emplace(sql, step).first->second;
    }
    MYSQL_STMT* onMysql(MYSQL* handle, const QString& sql, QString& failure) {
        auto known = mysql.find(sql);
        if (known != mysql.end())
            return known->second;
        MYSQL_STMT* statement = mysql_stmt_init(handle);
        const QByteArray text = sql.toUtf8();
        if (mysql_stmt_prepare(statement, text.constData(), static_cast<unsigned long>(text.size()))) {
            failure = QString::fromUtf8(mysql_stmt_error(statement)) + "\n" + sql.left(300);
            mysql_stmt_close(statement);
            return nullptr;
        }
        return mysql.emplace(sql, statement).first->second;
    }

private:
    std::map<QString, sqlite3_stmt*> sqlite;
    std::map<QString, MYSQL_STMT*> mysql;
};

// Rows of doubles (the first column an integer id) into the statement of one row's placeholders, the
// fastest way each driver takes them: SQLite's own prepare/bind/step loop; on MySQL one multi-row
// prepared statement of as many rows as the library put into it, through the client library's own
// calls on Qt's connection; each statement prepared once for the replay (`prepared`).
inline QString replayBoundRows(QSqlDatabase& qt, const Statement& statement, NativeStatements& prepared) {
    const int columns = static_cast<int>(statement.sql.count(QLatin1Char('?')));
    QString failure;
    if (qt.driverName() == QLatin1String("QSQLITE")) {
        sqlite3* handle = driverHandle<sqlite3>(qt);
        sqlite3_stmt* step = prepared.onSqlite(handle, statement.sql, failure);
        bool ok = step != nullptr;
        for (int row = 0; ok && row < statement.boundRows; ++row) {
            sqlite3_bind_int64(step, 1, 1);
            for (int column = 2; column <= columns; ++column)
                sqlite3_bind_double(step, column, row * 0.25 + column);
            ok = sqlite3_step(step) == SQLITE_DONE;
            sqlite3_reset(step);
        }
        if (step && !ok)
            failure = QString::fromUtf8(sqlite3_errmsg(handle)) + "\n" + statement.sql;
        return failure;
    }
    const qsizetype values = statement.sql.indexOf(QStringLiteral(" VALUES ")) + 8;
    QString sql = statement.sql;
    for (int row = 1; row < statement.boundRows; ++row)
        sql += QStringLiteral(", ") + statement.sql.mid(values);
    MYSQL_STMT* reused = prepared.onMysql(driverHandle<MYSQL>(qt), sql, failure);
    if (reused == nullptr)
        return failure;
    const int count = statement.boundRows * columns;
    std::vector<MYSQL_BIND> binds(static_cast<size_t>(count));
    std::vector<double> numbers(static_cast<size_t>(count));
    long long id = 1;
    std::memset(binds.data(), 0, sizeof(MYSQL_BIND) * binds.size());
    for (int row = 0; row < statement.boundRows; ++row) {
        binds[row * columns].buffer_type = MYSQL_TYPE_LONGLONG;
        binds[row * columns].buffer = &id;
        for (int column = 1; column < columns; ++column) {
            const int i = row * columns + column;
            numbers[i] = row * 0.25 + column;
            binds[i].buffer_type = MYSQL_TYPE_DOUBLE;
            binds[i].buffer = &numbers[i];
        }
    }
    if (mysql_stmt_bind_param(reused, binds.data()) || mysql_stmt_execute(reused))
        return QString::fromUtf8(mysql_stmt_error(reused)) + "\n" + sql.left(300);
    return QString();
}

// One row's values, in their types, into the statement kept for its text.
inline QString replayBoundValues(QSqlDatabase& qt, const Statement& statement, NativeStatements& prepared) {
    QString failure;
    if (qt.driverName() == QLatin1String("QSQLITE")) {
        sqlite3* handle = driverHandle<sqlite3>(qt);
        sqlite3_stmt* step = prepared.onSqlite(handle, statement.sql, failure);
        if (step == nullptr)
            return failure;
        std::vector<QByteArray> texts;
        texts.reserve(statement.values.size());
        for (int i = 0; i < statement.values.size(); ++i) {
            const QVariant& value = statement.values[i];
            if (value.isNull())
                sqlite3_bind_null(step, i + 1);
            else if (value.typeId() == QMetaType::Double)
                sqlite3_bind_double(step, i + 1, value.toDouble());
            else if (value.typeId() == QMetaType::LongLong)
                sqlite3_bind_int64(step, i + 1, value.toLongLong());
            else {
                texts.push_back(value.toString().toUtf8());
                sqlite3_bind_text(step, i + 1, texts.back().constData(),
                                  static_cast<int>(texts.back().size()), SQLITE_STATIC);
            }
        }
        const bool ok = sqlite3_step(step) == SQLITE_DONE;
        sqlite3_reset(step);
        return ok ? QString() : QString::fromUtf8(sqlite3_errmsg(handle)) + "\n" + statement.sql;
    }
    MYSQL_STMT* reused = prepared.onMysql(driverHandle<MYSQL>(qt), statement.sql, failure);
    if (reused == nullptr)
        return failure;
    const size_t count = static_cast<size_t>(statement.values.size());
    std::vector<MYSQL_BIND> binds(count);
    std::vector<double> numbers(count);
    std::vector<long long> integers(count);
    std::vector<QByteArray> texts(count);
    std::memset(binds.data(), 0, sizeof(MYSQL_BIND) * count);
    for (size_t i = 0; i < count; ++i) {
        const QVariant& value = statement.values[static_cast<int>(i)];
        if (value.isNull()) {
            binds[i].buffer_type = MYSQL_TYPE_NULL;
        } else if (value.typeId() == QMetaType::Double) {
            numbers[i] = value.toDouble();
            binds[i].buffer_type = MYSQL_TYPE_DOUBLE;
            binds[i].buffer = &numbers[i];
        } else if (value.typeId() == QMetaType::LongLong) {
            integers[i] = value.toLongLong();
            binds[i].buffer_type = MYSQL_TYPE_LONGLONG;
            binds[i].buffer = &integers[i];
        } else {
            texts[i] = value.toString().toUtf8();
            binds[i].buffer_type = MYSQL_TYPE_STRING;
            binds[i].buffer = texts[i].data();
            binds[i].buffer_length = static_cast<unsigned long>(texts[i].size());
        }
    }
    if (mysql_stmt_bind_param(reused, binds.data()) || mysql_stmt_execute(reused))
        return QString::fromUtf8(mysql_stmt_error(reused)) + "\n" + statement.sql.left(300);
    return QString();
}

// The same rows as printed INSERT texts, the way values went before they were bound: on MySQL a
// thousand rows a statement, on SQLite one statement a row; each number printed with 17 digits.
inline QString replayRowsAsText(QSqlDatabase& qt, const Statement& statement) {
    const int columns = static_cast<int>(statement.sql.count(QLatin1Char('?')));
    const QString head = statement.sql.left(statement.sql.indexOf(QStringLiteral(" VALUES ")) + 8);
    const int perStatement = qt.driverName() == QLatin1String("QSQLITE") ? 1 : 1000;
    QSqlQuery query(qt);
    for (int first = 0; first < statement.boundRows; first += perStatement) {
        QString sql = head;
        const int last = std::min(statement.boundRows, first + perStatement);
        for (int row = first; row < last; ++row) {
            sql += row == first ? QStringLiteral("(1") : QStringLiteral(", (1");
            for (int column = 2; column <= columns; ++column)
                sql += QStringLiteral(", ") + QString::number(row * 0.25 + column, 'g', 17);
            sql += QLatin1Char(')');
        }
        if (!query.exec(sql))
            return query.lastError().text() + "\n" + sql.left(300);
    }
    return QString();
}

// A SELECT read through SQLite's own step loop, every value of every row as a double into *sum.
inline QString readNatively(QSqlDatabase& qt, const QString& sql, double* sum) {
    sqlite3* handle = driverHandle<sqlite3>(qt);
    sqlite3_stmt* prepared = nullptr;
    const QByteArray text = sql.toUtf8();
    if (sqlite3_prepare_v2(handle, text.constData(), static_cast<int>(text.size()), &prepared, nullptr) !=
        SQLITE_OK)
        return QString::fromUtf8(sqlite3_errmsg(handle)) + "\n" + sql;
    const int columns = sqlite3_column_count(prepared);
    double total = 0;
    int step;
    while ((step = sqlite3_step(prepared)) == SQLITE_ROW) {
        for (int i = 0; i < columns; ++i)
            total += sqlite3_column_double(prepared, i);
    }
    sqlite3_finalize(prepared);
    if (sum)
        *sum += total;
    return step == SQLITE_DONE ? QString() : QString::fromUtf8(sqlite3_errmsg(handle)) + "\n" + sql;
}

// How the replay sends what the library sent. Fastest: bound rows as replayBoundRows sends them, and
// on SQLite every SELECT read through its own step loop; Texts: bound rows printed (replayRowsAsText).
enum class Replay { Fastest, Texts };

// Sends the statements in order through QSqlQuery on `qt`, reading every value of every result row
// (as a double, the way a host reads numbers) into *sum. Returns the first failure, or an empty text.
inline QString replay(QSqlDatabase& qt, const QList<Statement>& statements, double* sum = nullptr,
                      Replay how = Replay::Fastest) {
    const bool sqlite = qt.driverName() == QLatin1String("QSQLITE");
    NativeStatements prepared;
    for (const Statement& statement : statements) {
        if (statement.boundValues) {
            const QString failure = replayBoundValues(qt, statement, prepared);
            if (!failure.isEmpty())
                return failure;
            continue;
        }
        if (statement.boundRows > 0) {
            const QString failure = how == Replay::Texts ? replayRowsAsText(qt, statement)
                                                         : replayBoundRows(qt, statement, prepared);
            if (!failure.isEmpty())
                return failure;
            continue;
        }
        if (sqlite && how == Replay::Fastest && !statement.prepared &&
            statement.sql.startsWith(QLatin1String("SELECT"), Qt::CaseInsensitive)) {
            const QString failure = readNatively(qt, statement.sql, sum);
            if (!failure.isEmpty())
                return failure;
            continue;
        }
        QSqlQuery query(qt);
        bool ok;
        if (statement.prepared) {
            ok = query.prepare(statement.sql);
            query.addBindValue(statement.value);
            ok = ok && query.exec();
        } else {
            ok = query.exec(statement.sql);
        }
        // The library asks for the columns of a table that may not exist yet and takes a failure for none.
        if (!ok && !statement.sql.startsWith(QLatin1String("SHOW COLUMNS FROM ")))
            return query.lastError().text() + "\n" + statement.sql.left(300);
        const int columns = query.record().count();
        double total = 0;
        while (query.next()) {
            for (int i = 0; i < columns; ++i)
                total += query.value(i).toDouble();
        }
        if (sum)
            *sum += total;
    }
    return QString();
}

#endif
