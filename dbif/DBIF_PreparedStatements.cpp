// DBIF_PreparedStatements.cpp: prepare at first use, keep by text, finalize on clear.
#include "dbif/DBIF_PreparedStatements.h"

#include <QByteArray>

#include <mysql.h>
#include <sqlite3.h>

void DBIF_PreparedStatements::release(Entry& entry) {
    if (entry.sqlite)
        sqlite3_finalize(entry.sqlite);
    if (entry.mysql)
        mysql_stmt_close(entry.mysql);
    entry = Entry();
}

void DBIF_PreparedStatements::clear() {
    for (Entry& entry : statements)
        release(entry);
    statements.clear();
    handle = nullptr;
}

void DBIF_PreparedStatements::forget(const QString& sql) {
    const auto known = statements.find(sql);
    if (known == statements.end())
        return;
    release(*known);
    statements.erase(known);
}

DBIF_PreparedStatements::Entry* DBIF_PreparedStatements::find(const void* sessionHandle, const QString& sql) {
    if (sessionHandle != handle) {
        clear();
        handle = sessionHandle;
    }
    const auto known = statements.find(sql);
    if (known == statements.end())
        return nullptr;
    known->lastUse = ++clock;
    return &*known;
}

// The least recently used statement goes: a linear search, but only when a new text arrives at a
// full cache, which a save of a few kinds of rows never reaches.
void DBIF_PreparedStatements::makeRoom() {
    if (statements.size() < CAPACITY)
        return;
    auto oldest = statements.begin();
    for (auto it = statements.begin(); it != statements.end(); ++it) {
        if (it->lastUse < oldest->lastUse)
            oldest = it;
    }
    release(*oldest);
    statements.erase(oldest);
}

sqlite3_stmt* DBIF_PreparedStatements::prepareSqlite(sqlite3* handle, const QString& sql) {
    sqlite3_stmt* statement = nullptr;
    const QByteArray text = sql.toUtf8();
    if (sqlite3_prepare_v2(handle, text.constData(), static_cast<int>(text.size()), &statement, nullptr) !=
        SQLITE_OK) {
        sqlite3_finalize(statement);
        return nullptr;
    }
    return statement;
}

MYSQL_STMT* DBIF_PreparedStatements::prepareMysql(MYSQL* handle, const QString& sql, QString& error,
                                                  unsigned& errorCode) {
    MYSQL_STMT* statement = mysql_stmt_init(handle);
    if (statement == nullptr) {
        error = QString::fromUtf8(mysql_error(handle));
        errorCode = mysql_errno(handle);
        return nullptr;
    }
    const QByteArray text = sql.toUtf8();
    if (mysql_stmt_prepare(statement, text.constData(), static_cast<unsigned long>(text.size()))) {
        error = QString::fromUtf8(mysql_stmt_error(statement));
        errorCode = mysql_stmt_errno(statement);
        mysql_stmt_close(statement);
        return nullptr;
    }
    return statement;
}

void DBIF_PreparedStatements::keep(const QString& sql, sqlite3_stmt* sqliteStatement,
                                   MYSQL_STMT* mysqlStatement) {
    makeRoom();
    Entry entry;
    entry.sqlite = sqliteStatement;
    entry.mysql = mysqlStatement;
    entry.lastUse = ++clock;
    statements.insert(sql, entry);
}

sqlite3_stmt* DBIF_PreparedStatements::sqlite(sqlite3* sessionHandle, const QString& sql) {
    if (Entry* known = find(sessionHandle, sql))
        return known->sqlite;
    sqlite3_stmt* statement = prepareSqlite(sessionHandle, sql);
    if (statement)
        keep(sql, statement, nullptr);
    return statement;
}

MYSQL_STMT* DBIF_PreparedStatements::mysql(MYSQL* sessionHandle, const QString& sql, QString& error,
                                           unsigned& errorCode) {
    if (Entry* known = find(sessionHandle, sql))
        return known->mysql;
    MYSQL_STMT* statement = prepareMysql(sessionHandle, sql, error, errorCode);
    if (statement)
        keep(sql, nullptr, statement);
    return statement;
}
