// DBIF_PreparedStatements: the statements one database session has prepared on the driver's own
// handle (SQLite's sqlite3_stmt, the MySQL client library's MYSQL_STMT), kept by their text so that a
// statement sent again is only bound and run: on MySQL a prepare is a round trip of its own, which a
// save of one row would otherwise pay for every statement it sends.
//
// Ownership: finalizes (closes) every statement it holds when cleared or destroyed. The connection
// record clears a session's statements before that session is closed (SQLite refuses to close a handle
// with statements still open) and when a MySQL session is lost. A statement handed out stays valid
// until the next call on the same object. Not thread-safe: one object per session, and a session
// belongs to one thread.
#ifndef DBIF_PREPAREDSTATEMENTS_H
#define DBIF_PREPAREDSTATEMENTS_H

#include <QHash>
#include <QString>

#include "dbif/DBIF_Export.h"

struct sqlite3;
struct sqlite3_stmt;
struct st_mysql;
struct st_mysql_stmt;

class DBIF_EXPORT DBIF_PreparedStatements {
public:
    DBIF_PreparedStatements() = default;
    DBIF_PreparedStatements(const DBIF_PreparedStatements&) = delete;
    DBIF_PreparedStatements& operator=(const DBIF_PreparedStatements&) = delete;
    ~DBIF_PreparedStatements() { clear(); }

    // The statement of `sql` on `handle`, prepared at its first use; null when the database refused
    // it (the handle tells why: sqlite3_errmsg, or mysql_error for a statement the client library
    // could not make). A different handle than before means a new session: the old statements go.
    sqlite3_stmt* sqlite(sqlite3* handle, const QString& sql);
    // As above; a statement the server refused to prepare is closed and null is returned, with the
    // server's report in `error`/`errorCode`.
    st_mysql_stmt* mysql(st_mysql* handle, const QString& sql, QString& error, unsigned& errorCode);

    // A statement of one's own, not kept (the caller finalizes or closes it); null as above.
    static sqlite3_stmt* prepareSqlite(sqlite3* handle, const QString& sql);
    static st_mysql_stmt* prepareMysql(st_mysql* handle, const QString& sql, QString& error,
                                       unsigned& errorCode);

    // Drops the statement of `sql`, after it failed: the next use prepares it anew.
    void forget(const QString& sql);
    void clear();
    int size() const { return static_cast<int>(statements.size()); }

    // How many statements a session keeps; the least recently used goes first beyond that. A save
    // sends a few dozen distinct texts; the multi-table engine one more per column set.
    static constexpr int CAPACITY = 128;

private:
    struct Entry {
        sqlite3_stmt* sqlite = nullptr;
        st_mysql_stmt* mysql = nullptr;
        quint64 lastUse = 0;
    };
    static void release(Entry& entry);
    Entry* find(const void* handle, const QString& sql);
    void makeRoom();
    void keep(const QString& sql, sqlite3_stmt* sqliteStatement, st_mysql_stmt* mysqlStatement);

    QHash<QString, Entry> statements;
    const void* handle = nullptr;
    quint64 clock = 0;
};

#endif
