// DBIF_Connection: value handle on one shared database connection record. Every statement of the
// library runs through it: it turns database errors into DBIF_Exception, traces statements on
// request, times them per category, groups writes into transactions and sets up a missing schema.
// Copies share one ManagedConnection. The host's handles keep the database connection open: when the
// last of them goes, an open transaction is committed, the connection is closed and every cache
// forgets the connection's entities. Records that caches hold (entities, columns, child lists) keep a
// DBIF_WeakConnection instead, so that a cache never keeps a connection open that the host dropped.
// Threads: a Qt database connection belongs to the thread that opened it, so the record keeps one
// Qt connection name per thread; a second thread calls calculateDatabaseQtKey() and open() before
// its first statement. The record's flags and statistics take no lock: one thread at a time.
#ifndef DBIF_CONNECTION_H
#define DBIF_CONNECTION_H

#include <QDateTime>
#include <QExplicitlySharedDataPointer>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QSharedData>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QThreadStorage>
#include <QVariant>
#include <functional>
#include <map>
#include <vector>

#include "dbif/DBIF_ConnectionMismatchException.h"
#include "dbif/DBIF_Exception.h"
#include "dbif/DBIF_Export.h"
#include "dbif/DBIF_PreparedStatements.h"
// A chief header: a host that includes only this one also gets the assertion functions, their
// switches and the text helpers.
#include "dbif/DBIF_Utilities.h"

// Timing categories: the statistics slot a statement's time and count go to.
enum DBIF_TimingCategory {
    DBIF_QUERY_TIMING = 0,
    DBIF_INSERT_TIMING = 1,
    DBIF_UPDATE_TIMING = 2,
    DBIF_ALTER_TIMING = 3,
    DBIF_INDEX_TIMING = 4,
    DBIF_COMMIT_TIMING = 5
};

// SQLite's connection handle, which the library's own statements on SQLite use (see insertBoundRows).
struct sqlite3;

class DBIF_EXPORT DBIF_Connection {
public:
    // Appends the values of one row (the text between the parentheses of VALUES) to `out`.
    using RowWriter = std::function<void(QString& out, int row)>;
    // The bytes the values of one row take as sent (UTF-8), without making their text.
    using RowMeasure = std::function<qint64(int row)>;

    // Takes the values of one row of a bound INSERT, one call per column in column order (see
    // insertBoundRows). Each value goes to the database in its own type: a double bit for bit, a
    // text without quoting.
    class CellSink {
    public:
        virtual void null() = 0;
        virtual void integer(qint64 value) = 0;
        virtual void number(double value) = 0;
        virtual void text(const QString& value) = 0;

    protected:
        ~CellSink() = default;
    };
    // Hands the values of row `row` to the sink.
    using RowBinder = std::function<void(int row, CellSink& sink)>;

    // One row of a result that readRows hands over, each cell in the type the database holds it in.
    class CellSource {
    public:
        // Whether the cell holds a real number; if so, `value` receives it exactly as stored.
        virtual bool number(int column, double& value) const = 0;
        // The cell as Qt's driver would give it: a null variant for NULL, an integer as a qint64,
        // text as text.
        virtual QVariant value(int column) const = 0;

    protected:
        ~CellSource() = default;
    };
    // Takes one row of a result, first to last.
    using RowReader = std::function<void(const CellSource& row)>;

    class DBIF_EXPORT ManagedConnection : public QSharedData {
    public:
        static const int TIMING_SLOTS = 10;

        // Process-wide state of all records (plain data, one thread at a time).
        static int nextDatabaseId;
        static bool ALWAYS_SHOW_SQL;
        // MySQL: the connect, read and write timeout of connections opened from now on (seconds).
        static int networkTimeoutSeconds;
        static QStringList openConnections;
        static const QStringList DRIVER_NAMES;
        // Per thread: record identity -> the Qt connection name this thread uses for it.
        static QThreadStorage<QHash<const ManagedConnection*, QString>> qtDatabaseKeys;
        // Called with a connection's object cache key when it closes for good: each cache that keys
        // its content by connection registers one, on first use, to drop that connection's content.
        using ForgetConnection = void (*)(const QString& objectCacheKey);
        static void onConnectionDropped(ForgetConnection forget);

        ManagedConnection(const char* driver, const char* host, const char* database, const char* user,
                          const char* password, int port);
        // A record of no database: never opened or registered; every statement on it throws.
        ManagedConnection();
        ~ManagedConnection();
        ManagedConnection(const ManagedConnection&) = delete;
        ManagedConnection& operator=(const ManagedConnection&) = delete;

        void open();
        void close();
        // Counting of the host's handles (DBIF_Connection, not DBIF_WeakConnection); the last one's
        // release closes the connection for good (see dropped).
        void acquireHostHandle();
        void releaseHostHandle();
        bool isValid() const { return valid; }
        QSqlError lastError() const { return lastOpenError; }
        void getInfo(QString& driverName, QString& hostName, QString& databaseName, QString& userName,
                     QString& password, int& port) const;
        QString getDatabaseDriverName() const { return driver; }
        QString getObjectCacheKey() const { return objectCacheKey; }
        QString getQtDatabaseKey() const;
        void calculateQtDatabaseKey();
        QString getCaseInsensitiveSuffix() const { return caseInsensitiveSuffix; }
        QString getCaseSensitiveSuffix() const { return caseSensitiveSuffix; }
        QString wrapQueryForUnion(const QString& sql) const;
        void setShowSql(bool show) { showSql = show; }
        bool isShowingSql() const { return showSql || ALWAYS_SHOW_SQL; }
        int getLastId() const { return lastId; }
        int getPacketLimit() const { return packetLimit; }
        bool usesSingleRowInserts() const { return singleRowInserts; }
        QString quoteText(const QString& text) const;
        QString exactTextMatch(const QString& column, const QString& text) const;
        QString columnNameIdentity(const QString& name) const;

        QSqlQuery query(const QString& sql, int category, const char* file, int line,
                        bool forwardOnly = false);
        QSqlQuery preparedQuery(const QString& sql, int category, const QString& value, const char* file,
                                int line);
        QSqlQuery boundQuery(const QString& sql, int category, const QVariantList& values, const char* file,
                             int line);
        int queryInt(const QString& sql, int category, const char* file, int line);
        QString queryString(const QString& sql, int category, const char* file, int line);
        QDateTime queryDateTime(const QString& sql, int category, const char* file, int line);
        void insertSet(const QString& table, const QString& columns, const QStringList& rows,
                       const char* file, int line);
        void insertRows(const QString& table, const QString& columns, int rowCount, const RowWriter& writeRow,
                        const RowMeasure& measureRow, const char* file, int line);
        void updateSet(const QString& table, const QString& columns, const QStringList& rows,
                       const char* file, int line);
        void insertBoundRows(const QString& table, const QStringList& columns, int rowCount,
                             const RowBinder& bindRow, const char* file, int line);
        void executeBound(const QString& sql, int category, const QVariantList& values, const char* file,
                          int line);
        void readRows(const QString& sql, int category, const RowReader& read, const char* file, int line);

        void beginTransaction();
        void endTransaction();
        void rollbackTransaction();
        void setLockTimeout(int seconds);
        bool isInTransaction() const { return inTransaction; }
        void dumpTimes() const;
        static void dumpOpenConnections();
        QList<long> getTimes() const { return times; }
        QList<int> getCounts() const { return counts; }

        // Units of work (see DBIF_UnitOfWork): only the outermost unit talks to the database, and
        // only once it writes.
        void beginUnit();
        void commitUnit();
        void rollbackUnit();
        bool isInUnit() const { return unitDepth > 0; }
        void onRollback(std::function<void()> undo);
        // Prepares the open unit for a change of shared schema that other processes may make at once:
        // on SQLite it takes the write lock at once. On MySQL, with byName, a named lock of the
        // database is taken (true), held until releaseSchemaLock; a Galera cluster grants it on each
        // node alone, so only a single server is serialised by it. Otherwise the unit becomes a
        // transaction of its own, committed at its end, after what the connection wrote before is
        // committed (as the schema change that follows would commit it): a conflict at a unique key,
        // which a cluster certifies, then loses nothing else. Throws DBIF_Exception (for the named lock
        // when the lock timeout passes first).
        bool takeSchemaLock(bool byName);
        void releaseSchemaLock();

        // The names of the table's columns as the database reports them; empty for a missing table.
        QStringList columnNames(const QString& table);

        bool hasIndex(const QString& table, const QString& index);
        void initializeSchemaIfMissing();
        void createMultiTable(const QString& table, const QString& owner);

    private:
        void record(int category, long milliseconds);
        void throwIfFailed(const QSqlQuery& query, const QString& sql, const char* file, int line);
        [[noreturn]] void throwFailure(const QSqlError& error, const QString& reported, const char* file,
                                       int line);
        void insertBoundRowsSqlite(const QString& table, const QStringList& columns, int rowCount,
                                   const RowBinder& bindRow, const char* file, int line);
        void insertBoundRowsMysql(const QString& table, const QStringList& columns, int rowCount,
                                  const RowBinder& bindRow, const char* file, int line);
        // The statements this thread's session keeps prepared (see DBIF_PreparedStatements), and their
        // end before the session closes or after it was lost.
        DBIF_PreparedStatements& sessionStatements(const QString& name);
        void forgetSessionStatements(const QString& name, bool closing);
        // Bound statements on the driver's own handle (defined with insertBoundRows).
        class SqliteSink;
        class MysqlSink;
        sqlite3_stmt* preparedSqlite(const QString& name, sqlite3* handle, const QString& sql,
                                     const QString& driverText, const char* file, int line);
        st_mysql* mysqlSession(const QString& name, const QString& sql, const char* file, int line);
        st_mysql_stmt* preparedMysql(const QString& name, st_mysql* handle, const QString& sql,
                                     const char* file, int line);
        [[noreturn]] void throwSqliteFailure(const QString& name, sqlite3* handle, const QString& sql,
                                             const QString& driverText, const char* file, int line);
        [[noreturn]] void throwMysqlFailure(const QString& name, st_mysql_stmt* statement, const QString& sql,
                                            const char* file, int line);
        void refuseOverPacket(const QString& sql, qint64 bytes, int row, const char* file, int line) const;
        void readRowsSqlite(const QString& sql, int category, const RowReader& read, const char* file,
                            int line);
        sqlite3* sqliteSession(const QString& name, const QString& sql, const QString& driverText,
                               const char* file, int line);
        bool databaseInTransaction() const;
        static QSqlError wholeTransactionGone(const QSqlError& error, const QString& cause);
        bool wholeTransactionRolledBack(const QSqlError& error) const;
        bool sessionLost(const QSqlError& error);
        void drop();
        void refuseDropped(const QString& sql, const char* file, int line) const;
        // What every statement passes before it is sent: an open connection, text the database holds.
        void refuseUnsendable(const QString& sql, const char* file, int line) const {
            refuseDropped(sql, file, line);
            refuseUnstorableText(sql, sql, file, line);
        }
        QSqlDatabase sessionDatabase(const QString& name);
        // Returns what the scan of the text found (its UTF-8 bytes, for one).
        DBIF_TextScan refuseUnstorableText(const QString& text, const QString& sql, const char* file,
                                           int line) const;
        void refuseUnstorableNumber(double value, const QString& sql, const char* file, int line) const;
        void traceStatement(const QString& name, long elapsed, const QString& sql) const;
        QSqlError notOpen(const QString& driverText) const;
        void traceBound(const QString& name, long elapsed, const QString& sql, int rows) const;
        void schemaChanged();
        void applyLockTimeout();
        void runUnitStatement(const QString& sql);
        void startUnitBefore(const QString& sql);
        void startUnit();
        QString schemaLockName() const;
        QStringList existingTables();
        QString readSchemaFile(QStringList& errors);
        void ensureLatestIndexes(QStringList& errors);
        void ensureExactLatestTables(QStringList& errors);

        QString driver;
        QString objectCacheKey;
        QString host;
        QString database;
        QString user;
        QString password;
        int port;
        bool inTransaction = false;
        bool openingSession = false;
        bool showSql = false;
        int lastId = -1;
        int packetLimit = 2000000000;
        qint64 maxPacketBytes = 0;  // the server's max_allowed_packet (MySQL); 0 for no limit
        bool singleRowInserts = false;
        QString caseInsensitiveSuffix;
        QString caseSensitiveSuffix;
        bool valid = false;
        QSqlError lastOpenError;
        int threadKeyCounter = 0;
        QList<long> times;
        QList<int> counts;
        // Per session (Qt connection name): only the owning thread uses its statements; the mutex
        // guards the map itself.
        std::map<QString, DBIF_PreparedStatements> preparedStatements;
        QMutex preparedStatementsMutex;
        bool registered = false;     // opened and listed in openConnections
        int hostHandles = 0;         // DBIF_Connection handles of a registered record
        bool dropped = false;        // closed for good when the host's last handle went
        int lockTimeoutSeconds = 0;  // set at construction: 5 on SQLite, 30 on MySQL
        // Open units of work; the outermost one opened a transaction of its own (SQLite outside a
        // host transaction) or a savepoint. undoActions restore in-memory state on rollback.
        int unitDepth = 0;
        bool unitStarted = false;           // the outermost unit has written (its savepoint is open)
        bool runningUnitStatement = false;  // a unit's own statement: it opens no unit itself
        bool unitOwnsTransaction = false;
        std::vector<std::function<void()>> undoActions;
    };

    // Builds the record from the six parameters, names it for the calling thread and opens it.
    // A failed open throws nothing: isValid() is false and lastError() says why.
    DBIF_Connection(const char* driver, const char* host, const char* database, const char* user,
                    const char* password, int port);
    // A copy is a host handle (also one made from a DBIF_WeakConnection): it keeps the connection open.
    DBIF_Connection(const DBIF_Connection& other);
    DBIF_Connection& operator=(const DBIF_Connection& other);
    ~DBIF_Connection();

    // A connection that belongs to no database, handed out by null entity and column handles:
    // every statement on it throws DBIF_Exception, and it equals no real connection.
    static DBIF_Connection nullConnection();

    bool operator==(const DBIF_Connection& other) const { return d == other.d; }
    bool operator!=(const DBIF_Connection& other) const { return d != other.d; }

    void open() { d->open(); }
    void close() { d->close(); }
    bool isValid() const { return d->isValid(); }
    QSqlError lastError() const { return d->lastError(); }
    void getInfo(QString& driverName, QString& hostName, QString& databaseName, QString& userName,
                 QString& password, int& port) const {
        d->getInfo(driverName, hostName, databaseName, userName, password, port);
    }
    QString getDatabaseDriverName() const { return d->getDatabaseDriverName(); }
    // The drivers of DRIVER_NAMES that Qt has loaded.
    static QStringList driverNames();
    QString getObjectCacheKey() const { return d->getObjectCacheKey(); }
    QString getQtDatabaseKey() const { return d->getQtDatabaseKey(); }
    void calculateDatabaseQtKey() { d->calculateQtDatabaseKey(); }
    QString getCaseInsensitiveSuffix() const { return d->getCaseInsensitiveSuffix(); }
    QString getCaseSensitiveSuffix() const { return d->getCaseSensitiveSuffix(); }
    QString wrapQueryForUnion(const QString& sql) const { return d->wrapQueryForUnion(sql); }
    void setShowSql(bool show) { d->setShowSql(show); }
    bool isShowingSql() const { return d->isShowingSql(); }
    int getLastId() const { return d->getLastId(); }
    // Upper bound in characters of one multi-row INSERT (95% of the server's packet on MySQL).
    int getPacketLimit() const { return d->getPacketLimit(); }
    // The text as a single-quoted SQL literal that no value can end early (see quoteSqlText).
    QString quoteText(const QString& text) const { return d->quoteText(text); }
    // "column = 'text'" in a form that holds only for exactly that text on both drivers: case, accents
    // and trailing blanks count (MySQL's own comparison of the latin1 tables ignores case and trailing
    // blanks). Every look-up that decides whether a stored row is the same object uses it.
    QString exactTextMatch(const QString& column, const QString& text) const {
        return d->exactTextMatch(column, text);
    }
    // What the database compares when it compares two column names: the same text for names it takes
    // for one column. MySQL ignores case and accents ("é" and "É" are one column), SQLite ASCII case.
    QString columnNameIdentity(const QString& name) const { return d->columnNameIdentity(name); }
    // The names of the table's columns as the database reports them; empty for a missing table.
    QStringList columnNames(const QString& table) const { return d->columnNames(table); }

    // Every statement call names its timing category and the caller's file and line, which serve
    // only the error report. A failing statement throws DBIF_Exception.
    QSqlQuery query(const QString& sql, int category, const char* file, int line) const {
        return d->query(sql, category, file, line);
    }
    // The same for a result read once, first row to last: Qt keeps no copy of the rows already read,
    // so a large result costs no second copy of itself. The result can only go forward.
    QSqlQuery queryForwardOnly(const QString& sql, int category, const char* file, int line) const {
        return d->query(sql, category, file, line, true);
    }
    // The statement's single placeholder is bound to the value, so the value needs no quoting.
    QSqlQuery preparedQuery(const QString& sql, int category, const QString& value, const char* file,
                            int line) const {
        return d->preparedQuery(sql, category, value, file, line);
    }
    // The statement's placeholders "?" are bound to the values in order, each in its own type: a
    // double goes in bit for bit, a text needs no quoting.
    QSqlQuery boundQuery(const QString& sql, int category, const QVariantList& values, const char* file,
                         int line) const {
        return d->boundQuery(sql, category, values, file, line);
    }
    // Column 0 of the first row; 0, empty or invalid when there is no row.
    int queryInt(const QString& sql, int category, const char* file, int line) const {
        return d->queryInt(sql, category, file, line);
    }
    QString queryString(const QString& sql, int category, const char* file, int line) const {
        return d->queryString(sql, category, file, line);
    }
    QDateTime queryDateTime(const QString& sql, int category, const char* file, int line) const {
        return d->queryDateTime(sql, category, file, line);
    }
    // Column 0 of every row, in row order.
    template <typename T>
    QList<T> queryScalarList(const QString& sql, int category, const char* file, int line) const {
        QSqlQuery result = d->query(sql, category, file, line);
        QList<T> values;
        while (result.next())
            values.append(result.value(0).value<T>());
        return values;
    }
    // Inserts rows (each the comma-separated, quoted values of one row): one statement per row on
    // SQLite, multi-row statements below the packet limit otherwise.
    void insertSet(const QString& table, const QString& columns, const QStringList& rows, const char* file,
                   int line) const {
        d->insertSet(table, columns, rows, file, line);
    }
    // The same statements as insertSet of the rows that writeRow(out, row) appends to `out`, for rows 0
    // to rowCount - 1, made as they are sent: a table's rows never exist as texts all at once. When
    // the rows are too large for one packet, the batches are sized with measureRow(row), which must
    // give the bytes of what writeRow writes; the rows of the first packet are then written twice.
    void insertRows(const QString& table, const QString& columns, int rowCount, const RowWriter& writeRow,
                    const RowMeasure& measureRow, const char* file, int line) const {
        d->insertRows(table, columns, rowCount, writeRow, measureRow, file, line);
    }
    // Inserts rows whose values bindRow hands over, bound instead of printed into the statement:
    // multi-row statements prepared once and re-bound per batch, on SQLite on the driver's own handle
    // (256 rows a statement), on MySQL through the client library's binary protocol (250), each below the
    // database's packet and placeholder limits. Columns are SQL identifiers as they go into the column list.
    // Texts are checked as every statement's are; NaN and infinities are refused. Traced once, with
    // one row's placeholders and the number of rows bound (on MySQL once per statement).
    void insertBoundRows(const QString& table, const QStringList& columns, int rowCount,
                         const RowBinder& bindRow, const char* file, int line) const {
        d->insertBoundRows(table, columns, rowCount, bindRow, file, line);
    }
    // Runs a SELECT and hands its rows to `read` one at a time, first to last, with no copy of the
    // result kept: on SQLite straight from the driver's own handle, numbers as the doubles stored; on
    // MySQL through Qt's text protocol, whose number texts the server writes and Qt reads back exactly
    // (Qt's binary-protocol results hand doubles over as rounded texts, so they are not used). Traced
    // and timed as query() is; a failure throws DBIF_Exception.
    // One INSERT or UPDATE with a "?" for each value, the values bound in their own types (see
    // CellSink): a double as a double, a null variant as NULL, an integer as an integer, anything
    // else as its text. Prepared once per session and kept; traced once with its values.
    void executeBound(const QString& sql, int category, const QVariantList& values, const char* file,
                      int line) const {
        d->executeBound(sql, category, values, file, line);
    }
    // One row of a kind's own table, its values bound as executeBound binds them: "INSERT INTO table
    // (columns) VALUES (?, ...)"; the new row's id is getLastId() after it.
    void insertRow(const QString& table, const QStringList& columns, const QVariantList& values, int category,
                   const char* file, int line) const;
    // "UPDATE table SET column = ?, ... WHERE id = <id>", the values bound.
    void updateRow(const QString& table, const QStringList& columns, const QVariantList& values, int id,
                   int category, const char* file, int line) const;
    void readRows(const QString& sql, int category, const RowReader& read, const char* file, int line) const {
        d->readRows(sql, category, read, file, line);
    }
    // Writes rows that carry their primary key: one "REPLACE INTO" statement per row, timed as Update.
    void updateSet(const QString& table, const QString& columns, const QStringList& rows, const char* file,
                   int line) const {
        d->updateSet(table, columns, rows, file, line);
    }

    // Transactions do not nest: a second begin commits the first. On SQLite a transaction takes the
    // write lock at once (BEGIN IMMEDIATE). A commit that the database refuses throws DBIF_Exception
    // and leaves the transaction open.
    // The library's transaction state follows the database's: a transaction that the database rolled
    // back (SQLite does after a full disk, for one) or that a ROLLBACK of the host's own ended is
    // over; endTransaction() then throws DBIF_Exception saying that nothing of it is stored, and the
    // next beginTransaction() starts afresh. A save outside a transaction commits on its own.
    void beginTransaction() { d->beginTransaction(); }
    void endTransaction() { d->endTransaction(); }
    // Undoes everything since beginTransaction() (on MySQL also what was written outside one and not
    // committed yet). Entities saved in it keep the ids they took: empty the caches or reload them.
    void rollbackTransaction() { d->rollbackTransaction(); }
    // How long a statement waits for another connection's lock before it fails with DBIF_Exception:
    // SQLite's busy timeout (default 5 s), MySQL's lock_wait_timeout and innodb_lock_wait_timeout
    // (default 30 s; a schema change waits for readers' metadata locks at most this long).
    void setLockTimeout(int seconds) { d->setLockTimeout(seconds); }
    // MySQL connections opened from now on (constructed, or opened again) wait at most this long for
    // the server to connect, to answer a statement or to take its bytes (default 60 s, at least 1 s):
    // a frozen or unreachable server then ends the statement with DBIF_Exception instead of blocking
    // the host for as long as it is frozen. Keep it above the lock timeout, or a statement that
    // waits for another session's lock is cut off as if the server were frozen. A connection whose
    // session was lost (a timeout, a server restart) reconnects, with its session set-up, at its next
    // statement; its open transaction is gone, and the failing statement's DBIF_Exception says so.
    static void setNetworkTimeout(int seconds);
    static int networkTimeout() { return ManagedConnection::networkTimeoutSeconds; }
    bool isInTransaction() const { return d->isInTransaction(); }
    // True while a save's unit of work is open (see DBIF_UnitOfWork).
    bool isInUnit() const { return d->isInUnit(); }
    void dumpTimes() const { d->dumpTimes(); }
    QList<long> getTimes() const { return d->getTimes(); }
    QList<int> getCounts() const { return d->getCounts(); }
    // Statement logging is not collected: startLogging has no effect, stopLogging returns "".
    void startLogging() {}
    QString stopLogging() { return QString(); }

    // False also when the question itself fails.
    bool hasIndex(const QString& table, const QString& index) const { return d->hasIndex(table, index); }
    // Runs the schema file named by QUARN_<driver>_SCHEMA_FILE on a database without the setup
    // tables, or makes sure the latest-measurement/-setup indexes exist on one that has them.
    // Throws one DBIF_Exception with every failure collected.
    void initializeSchemaIfMissing() { d->initializeSchemaIfMissing(); }
    // Creates a data table of the multi-table layout with its id (the primary key), <owner>_id and
    // index; on MySQL only when it is missing (another process may have just made it).
    void createMultiTable(const QString& table, const QString& owner) { d->createMultiTable(table, owner); }

protected:
    // A handle that shares the record without keeping the connection open (DBIF_WeakConnection).
    struct Weak {};
    DBIF_Connection(const DBIF_Connection& other, Weak) : d(other.d), counted(false) {}

private:
    friend class DBIF_UnitOfWork;
    explicit DBIF_Connection(ManagedConnection* record);

    QExplicitlySharedDataPointer<ManagedConnection> d;
    bool counted = true;  // a host handle, counted by the record
};

// Throws DBIF_ConnectionMismatchException when the item belongs to another connection.
template <typename Item>
void checkConnection(const QString& where, const DBIF_Connection& owner, const Item& item) {
    const DBIF_Connection itemConnection = item.getConnection();
    if (owner != itemConnection) {
        throw DBIF_ConnectionMismatchException(where, owner.getObjectCacheKey(),
                                               itemConnection.getObjectCacheKey());
    }
}

template <typename Owner, typename Item>
void checkConnection(const QString& where, const Owner* owner, const Item& item) {
    checkConnection(where, owner->getConnection(), item);
}

#endif
