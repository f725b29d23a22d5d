// DBIF_Connection.cpp: the shared connection record: naming, opening, statement execution with the
// uniform error report, insert batching, transactions, statistics and schema set-up.
#include "dbif/DBIF_Connection.h"

#include <QElapsedTimer>
#include <QFile>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlRecord>
#include <QTextStream>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <iostream>
#include <memory>

#include <mysql.h>
#include <sqlite3.h>

#include "dbif/DBIF_HostSupport.h"
#include "dbif/DBIF_Utilities.h"

namespace {

// The SQLite library's own handle of an open Qt SQLite connection (the system library, which Qt's
// driver uses too); null for another driver or a closed connection.
sqlite3* sqliteHandle(const QSqlDatabase& db) {
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3* const*>(handle.constData());
}

// A statement prepared on SQLite's own handle, finalized when it goes.
using SqliteStatement = std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)>;

// SQLite's report of its last failure on the handle, as Qt's driver words it (`driverText`).
QSqlError sqliteError(sqlite3* handle, const QString& driverText) {
    return QSqlError(driverText, QString::fromUtf8(sqlite3_errmsg(handle)), QSqlError::StatementError,
                     QString::number(sqlite3_extended_errcode(handle)));
}

// The statement prepared on the handle; a null one when SQLite refused it (sqliteError says why).
SqliteStatement prepareOnSqlite(sqlite3* handle, const QString& sql) {
    return SqliteStatement(DBIF_PreparedStatements::prepareSqlite(handle, sql), sqlite3_finalize);
}

// The MySQL client library's own handle of an open Qt MySQL connection; null for another driver or
// a closed connection.
MYSQL* mysqlHandle(const QSqlDatabase& db) {
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    // Qt 6 names the type after the struct behind the typedef.
    if (!handle.isValid() ||
        (qstrcmp(handle.typeName(), "MYSQL*") != 0 && qstrcmp(handle.typeName(), "st_mysql*") != 0))
        return nullptr;
    return *static_cast<MYSQL* const*>(handle.constData());
}

// Statements that only read: they need no unit of work around them.
bool isReadOnly(const QString& sql) {
    static const QRegularExpression read(QStringLiteral("^\\s*\\(*\\s*(SELECT|SHOW)\\b"),
                                         QRegularExpression::CaseInsensitiveOption);
    return read.match(sql).hasMatch();
}

// A statement the library will not send, with the reason, as every failing statement is reported.
[[noreturn]] void refuseStatement(const QString& sql, const QString& why, const char* file, int line,
                                  QSqlError::ErrorType type = QSqlError::StatementError) {
    throw DBIF_Exception(sql, QSqlError(why, QString(), type), QString::fromLocal8Bit(file), line);
}

}  // namespace

int DBIF_Connection::ManagedConnection::nextDatabaseId = 0;
bool DBIF_Connection::ManagedConnection::ALWAYS_SHOW_SQL = false;
int DBIF_Connection::ManagedConnection::networkTimeoutSeconds = 60;
QStringList DBIF_Connection::ManagedConnection::openConnections;
const QStringList DBIF_Connection::ManagedConnection::DRIVER_NAMES =
    QStringLiteral("QMYSQL QSQLITE").split(QLatin1Char(' '));
QThreadStorage<QHash<const DBIF_Connection::ManagedConnection*, QString>>
    DBIF_Connection::ManagedConnection::qtDatabaseKeys;

namespace {

const QString MYSQL_DRIVER = QStringLiteral("QMYSQL");
const QString SQLITE = QStringLiteral("QSQLITE");

// An index statement whose columns each stand on the indent, as the hosts' own schema tools write it.
QString spreadIndex(const QString& head, const QString& columns, int indent) {
    QStringList parts = columns.split(QLatin1Char(','));
    for (QString& part : parts)
        part.prepend(QString(indent, QLatin1Char(' ')));
    return head + parts.join(QLatin1Char(',')) + QString(indent - 2, QLatin1Char(' ')) + QLatin1Char(')');
}

const QString LATEST_MEASUREMENT_COLUMNS = QStringLiteral(
    "die_id,device_type,device_parent_subsite_name,device_position_within_subsite,measurement_condition_name,"
    "measurement_temperature,routine_name,data_origin,mode");

const QString SQLITE_LATEST_INDEXES[] = {
    QStringLiteral("CREATE INDEX latest_measurement_measurement_id ON latest_measurement(measurement_id)"),
    spreadIndex(QStringLiteral(" CREATE INDEX latest_measurement_all ON latest_measurement("),
                LATEST_MEASUREMENT_COLUMNS, 27),
    QStringLiteral("CREATE INDEX latest_setup_setup_id ON latest_setup(setup_id)"),
    spreadIndex(QStringLiteral("CREATE INDEX latest_setup_all ON latest_setup("),
                QStringLiteral("path,") + LATEST_MEASUREMENT_COLUMNS, 26),
};

const QString MYSQL_LATEST_SETUP_INDEX = QStringLiteral(
    "CREATE UNIQUE INDEX latest_setup_all on latest_setup(path,die_id,device_type,device_parent_subsite_name,"
    "device_position_within_subsite,measurement_condition_name,measurement_temperature,routine_name,"
    "data_origin,mode)");

const QStringList SETUP_TABLES = {QStringLiteral("setup_data"), QStringLiteral("setup"),
                                  QStringLiteral("setup_column"), QStringLiteral("setup_association")};

}  // namespace

DBIF_Connection::DBIF_Connection(const char* driver, const char* host, const char* database, const char* user,
                                 const char* password, int port)
    : DBIF_Connection(new ManagedConnection(driver, host, database, user, password, port)) {}

DBIF_Connection::DBIF_Connection(ManagedConnection* record) : d(record) {
    d->acquireHostHandle();
}

DBIF_Connection::DBIF_Connection(const DBIF_Connection& other) : d(other.d) {
    d->acquireHostHandle();
}

DBIF_Connection& DBIF_Connection::operator=(const DBIF_Connection& other) {
    if (d == other.d)
        return *this;
    // The new record first: releasing the old one may close it, and with it free `other`'s record
    // when `other` lives in an entity of the old connection's caches.
    const QExplicitlySharedDataPointer<ManagedConnection> previous = d;
    d = other.d;
    if (counted) {
        d->acquireHostHandle();
        previous->releaseHostHandle();
    }
    return *this;
}

DBIF_Connection::~DBIF_Connection() {
    if (counted)
        d->releaseHostHandle();
}

QStringList DBIF_Connection::driverNames() {
    QStringList result;
    const QStringList loaded = QSqlDatabase::drivers();
    for (const QString& name : ManagedConnection::DRIVER_NAMES) {
        if (loaded.contains(name))
            result.append(name);
    }
    return result;
}

DBIF_Connection::ManagedConnection::ManagedConnection(const char* driver, const char* host,
                                                      const char* database, const char* user,
                                                      const char* password, int port)
    : driver(QString::fromLocal8Bit(driver)),
      host(QString::fromLocal8Bit(host)),
      database(QString::fromLocal8Bit(database)),
      user(QString::fromLocal8Bit(user)),
      password(QString::fromLocal8Bit(password)),
      port(port) {
    lockTimeoutSeconds = this->driver == MYSQL_DRIVER ? 30 : 5;
    objectCacheKey =
        QStringLiteral("%1|%2|%3").arg(this->driver, this->database, QString::number(nextDatabaseId));
    ++nextDatabaseId;
    calculateQtDatabaseKey();
    for (int i = 0; i < TIMING_SLOTS; ++i) {
        times.append(0);
        counts.append(0);
    }
    open();
    openConnections.append(getQtDatabaseKey());
    registered = true;
}

DBIF_Connection::ManagedConnection::ManagedConnection() : objectCacheKey(QStringLiteral("none")), port(0) {
    for (int i = 0; i < TIMING_SLOTS; ++i) {
        times.append(0);
        counts.append(0);
    }
}

DBIF_Connection DBIF_Connection::nullConnection() {
    static const DBIF_Connection none(new ManagedConnection());
    return none;
}

DBIF_Connection::ManagedConnection::~ManagedConnection() {
    drop();
}

namespace {

// Never destroyed: a connection that a host keeps in a static of its own closes during static
// destruction, possibly after a static made at the first use of a cache.
std::vector<DBIF_Connection::ManagedConnection::ForgetConnection>& forgetters() {
    static auto* all = new std::vector<DBIF_Connection::ManagedConnection::ForgetConnection>();
    return *all;
}

}  // namespace

void DBIF_Connection::ManagedConnection::onConnectionDropped(ForgetConnection forget) {
    forgetters().push_back(forget);
}

void DBIF_Connection::ManagedConnection::acquireHostHandle() {
    if (registered)
        ++hostHandles;
}

void DBIF_Connection::ManagedConnection::releaseHostHandle() {
    if (registered && --hostHandles == 0)
        drop();
}

// The host let the connection go: what it began is committed, as a closing connection always did, the
// database connection is closed, and the caches drop the connection's entities (handles the host
// still holds keep their records; whatever they would send is refused, see refuseDropped).
void DBIF_Connection::ManagedConnection::drop() {
    if (!registered)
        return;
    registered = false;
    dropped = true;
    if (inTransaction) {
        QElapsedTimer timer;
        timer.start();
        QSqlDatabase::database(getQtDatabaseKey(), false).commit();
        inTransaction = false;
        record(DBIF_COMMIT_TIMING, timer.elapsed());
    }
    close();
    const QString name = getQtDatabaseKey();
    if (qtDatabaseKeys.hasLocalData())
        qtDatabaseKeys.localData().remove(this);
    openConnections.removeOne(name);
    // The caller's handle keeps this record alive while the caches let go of their weak ones.
    for (const ForgetConnection forget : forgetters())
        forget(objectCacheKey);
}

void DBIF_Connection::ManagedConnection::refuseDropped(const QString& sql, const char* file, int line) const {
    if (!dropped)
        return;
    refuseStatement(sql,
                    QStringLiteral("The connection was closed when the host let go of its last "
                                   "DBIF_Connection handle; nothing was sent"),
                    file, line, QSqlError::ConnectionError);
}

QString DBIF_Connection::ManagedConnection::getQtDatabaseKey() const {
    if (!qtDatabaseKeys.hasLocalData())
        return QString();
    return qtDatabaseKeys.localData().value(this);
}

void DBIF_Connection::ManagedConnection::calculateQtDatabaseKey() {
    const QString name = QStringLiteral("%1|%2").arg(objectCacheKey, QString::number(threadKeyCounter));
    ++threadKeyCounter;
    qtDatabaseKeys.localData().insert(this, name);
}

// Qt would open a closed connection silently on its first statement, without the session set-up
// (on MySQL: autocommit on, backslashes escaping again): a closed one is opened here, with it. One
// that still cannot be opened stays closed, and the statement fails with the open's error.
QSqlDatabase DBIF_Connection::ManagedConnection::sessionDatabase(const QString& name) {
    QSqlDatabase db = QSqlDatabase::database(name, false);
    if (!db.isOpen() && QSqlDatabase::contains(name) && !openingSession) {
        openingSession = true;
        struct Release {
            bool& flag;
            ~Release() { flag = false; }
        } release{openingSession};
        open();
        db = QSqlDatabase::database(name, false);
    }
    return db;
}

void DBIF_Connection::ManagedConnection::open() {
    const QString name = getQtDatabaseKey();
    QSqlDatabase db = QSqlDatabase::contains(name) ? QSqlDatabase::database(name, false)
                                                   : QSqlDatabase::addDatabase(driver, name);
    db.setHostName(host);
    db.setDatabaseName(database);
    db.setUserName(user);
    db.setPassword(password);
    db.setPort(port);
    if (driver == SQLITE)
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(lockTimeoutSeconds * 1000));
    else if (driver == MYSQL_DRIVER)
        db.setConnectOptions(
            QStringLiteral(
                "MYSQL_OPT_CONNECT_TIMEOUT=%1;MYSQL_OPT_READ_TIMEOUT=%1;MYSQL_OPT_WRITE_TIMEOUT=%1")
                .arg(networkTimeoutSeconds));
    valid = db.open();
    lastOpenError = db.lastError();
    if (!valid)
        return;
    if (driver == MYSQL_DRIVER) {
        query(QStringLiteral("SET autocommit = 0"), DBIF_QUERY_TIMING, __FILE__, __LINE__);
        // Strict, so that the server refuses what it cannot store instead of changing it; no
        // backslash escapes, so that a backslash in a value is a backslash.
        query(QStringLiteral("SET SQL_MODE='ANSI_QUOTES,NO_BACKSLASH_ESCAPES,STRICT_ALL_TABLES'"),
              DBIF_QUERY_TIMING, __FILE__, __LINE__);
        // Readers see what others committed without ending their own transactions, and a schema
        // change or row lock that another session holds is given up after a bounded wait.
        query(QStringLiteral("SET SESSION TRANSACTION ISOLATION LEVEL READ COMMITTED"), DBIF_QUERY_TIMING,
              __FILE__, __LINE__);
        applyLockTimeout();
        // A node of a Galera cluster answers a read only after applying what the cluster committed
        // before it, so that a commit through one node is read through any other right after it.
        QSqlQuery wsrep =
            query(QStringLiteral("SHOW VARIABLES LIKE 'wsrep_on'"), DBIF_QUERY_TIMING, __FILE__, __LINE__);
        if (wsrep.next() && wsrep.value(1).toString() == QLatin1String("ON"))
            query(QStringLiteral("SET SESSION wsrep_sync_wait = 1"), DBIF_QUERY_TIMING, __FILE__, __LINE__);
        QSqlQuery packet = query(QStringLiteral("SHOW GLOBAL VARIABLES LIKE 'max_allowed_packet';"),
                                 DBIF_QUERY_TIMING, __FILE__, __LINE__);
        packet.next();
        maxPacketBytes = packet.value(1).toLongLong();
        packetLimit = (packet.value(1).toInt() / 100) * 95;
        singleRowInserts = false;
        caseInsensitiveSuffix.clear();
        caseSensitiveSuffix = QStringLiteral(" COLLATE latin1_bin");
    } else if (driver == SQLITE) {
        singleRowInserts = true;
        caseSensitiveSuffix.clear();
        caseInsensitiveSuffix = QStringLiteral(" COLLATE NOCASE");
    }
}

void DBIF_Connection::ManagedConnection::close() {
    const QString name = getQtDatabaseKey();
    forgetSessionStatements(name, true);
    {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

void DBIF_Connection::ManagedConnection::getInfo(QString& driverName, QString& hostName,
                                                 QString& databaseName, QString& userName,
                                                 QString& passwordText, int& portNumber) const {
    const QSqlDatabase db = QSqlDatabase::database(getQtDatabaseKey(), false);
    driverName = db.driverName();
    hostName = db.hostName();
    databaseName = db.databaseName();
    userName = db.userName();
    passwordText = db.password();
    portNumber = db.port();
}

QString DBIF_Connection::ManagedConnection::wrapQueryForUnion(const QString& sql) const {
    return driver == MYSQL_DRIVER ? QStringLiteral("(%1)").arg(sql) : sql;
}

QString DBIF_Connection::ManagedConnection::quoteText(const QString& text) const {
    return quoteSqlText(text);
}

QString DBIF_Connection::ManagedConnection::columnNameIdentity(const QString& name) const {
    if (driver != MYSQL_DRIVER)
        return upperCaseAscii(name);
    // Accents off (decomposed, marks dropped), then case folded: as the server's general collation
    // of identifiers compares them.
    QString bare;
    const QString decomposed = name.normalized(QString::NormalizationForm_D);
    bare.reserve(decomposed.size());
    for (const QChar c : decomposed) {
        if (c.category() != QChar::Mark_NonSpacing)
            bare.append(c);
    }
    return bare.toCaseFolded();
}

QString DBIF_Connection::ManagedConnection::exactTextMatch(const QString& column, const QString& text) const {
    // SQLite's default comparison is already byte for byte.
    if (driver != MYSQL_DRIVER)
        return QStringLiteral("%1 = %2").arg(column, quoteSqlText(text));
    return QStringLiteral("%1 COLLATE latin1_nopad_bin = %2").arg(column, quoteSqlText(text));
}

void DBIF_Connection::ManagedConnection::record(int category, long milliseconds) {
    times[category] += milliseconds;
    counts[category] += 1;
}

void DBIF_Connection::ManagedConnection::throwIfFailed(const QSqlQuery& result, const QString& sql,
                                                       const char* file, int line) {
    const QSqlError error = result.lastError();
    if (!error.isValid())
        return;
    const QString reported = result.lastQuery() == sql
                                 ? sql
                                 : QStringLiteral("%1 (reported by db as '%2')").arg(sql, result.lastQuery());
    throwFailure(error, reported, file, line);
}

void DBIF_Connection::ManagedConnection::throwFailure(const QSqlError& error, const QString& reported,
                                                      const char* file, int line) {
    // SQLite rolls the whole transaction back on some errors (a full disk, for one): the host's earlier
    // work in it is gone too, which the host must hear of.
    if (driver == SQLITE && inTransaction && !databaseInTransaction()) {
        inTransaction = false;
        throw DBIF_Exception(reported, wholeTransactionGone(error, QStringLiteral("the database")),
                             QString::fromLocal8Bit(file), line);
    }
    // MySQL rolls back the whole transaction of a deadlock's victim, and so does a Galera cluster that
    // refuses a transaction at certification (reported as a deadlock): not just this statement. The
    // host's is gone unless the failing one was a unit's own (see takeSchemaLock).
    if (wholeTransactionRolledBack(error) && inTransaction && !(unitStarted && unitOwnsTransaction)) {
        inTransaction = false;
        throw DBIF_Exception(reported, wholeTransactionGone(error, QStringLiteral("the database")),
                             QString::fromLocal8Bit(file), line);
    }
    if (sessionLost(error)) {
        const bool hadTransaction = inTransaction;
        inTransaction = false;
        if (hadTransaction) {
            throw DBIF_Exception(reported,
                                 wholeTransactionGone(error, QStringLiteral("the connection to the server "
                                                                            "was lost and the server")),
                                 QString::fromLocal8Bit(file), line);
        }
    }
    throw DBIF_Exception(reported, error, QString::fromLocal8Bit(file), line);
}

// MySQL's deadlock error, which a Galera cluster also reports for a transaction it refused at
// certification: the server rolled back the whole transaction, not just the statement.
bool DBIF_Connection::ManagedConnection::wholeTransactionRolledBack(const QSqlError& error) const {
    return driver == MYSQL_DRIVER && error.nativeErrorCode() == QLatin1String("1213");
}

// The database's error with what it means for the host: the transaction ended, not just the
// statement.
QSqlError DBIF_Connection::ManagedConnection::wholeTransactionGone(const QSqlError& error,
                                                                   const QString& cause) {
    return QSqlError(error.driverText(),
                     error.databaseText() + QStringLiteral(" -- %1 rolled back the whole transaction: "
                                                           "nothing saved since beginTransaction() is stored")
                                                .arg(cause),
                     error.type(), error.nativeErrorCode());
}

// MySQL's client gave up on the session (the network timeout passed, or the server went away): the
// server rolls back what the session had not committed. The Qt connection is closed, so that the
// next statement connects again with the session set-up, and the open unit has nothing left to roll
// back in the database.
bool DBIF_Connection::ManagedConnection::sessionLost(const QSqlError& error) {
    static const QStringList lostCodes{QStringLiteral("2006"), QStringLiteral("2013")};
    if (driver != MYSQL_DRIVER || !lostCodes.contains(error.nativeErrorCode()))
        return false;
    forgetSessionStatements(getQtDatabaseKey(), false);
    QSqlDatabase::database(getQtDatabaseKey(), false).close();
    unitStarted = false;
    return true;
}

// SQLite tells through its handle; a MySQL session always has one open (autocommit is off).
bool DBIF_Connection::ManagedConnection::databaseInTransaction() const {
    if (driver != SQLITE)
        return inTransaction;
    sqlite3* db = sqliteHandle(QSqlDatabase::database(getQtDatabaseKey(), false));
    return db == nullptr ? inTransaction : sqlite3_get_autocommit(db) == 0;
}

// Text that is not Unicode (a lone surrogate) never reaches a statement: SQLite would read the
// surrogate's partner out of the statement itself, a closing quote included. On MySQL the tables are
// Latin-1 (case-sensitive comparisons need latin1_bin): text the server would turn into "?" or refuse
// is refused before it is sent. So is a statement longer in bytes than the server's packet, which
// would make the server drop the connection.
DBIF_TextScan DBIF_Connection::ManagedConnection::refuseUnstorableText(const QString& text,
                                                                       const QString& sql, const char* file,
                                                                       int line) const {
    const auto refuse = [&](const QString& why) { refuseStatement(sql, why, file, line); };
    const DBIF_TextScan scan = scanText(text);
    if (scan.loneSurrogate) {
        refuse(
            QStringLiteral("Text holding a lone UTF-16 surrogate is not valid Unicode and cannot be "
                           "stored; nothing was sent"));
    }
    if (driver != MYSQL_DRIVER)
        return scan;
    if (!scan.latin1)
        refuse(QStringLiteral("Text outside Latin-1 cannot be stored in this MySQL database"));
    if (scan.c1Control) {
        refuse(
            QStringLiteral("Text holding a control character U+0080 to U+009F cannot be stored in this "
                           "MySQL database (its latin1 columns have no such character)"));
    }
    const qint64 bytes = scan.utf8Bytes;
    if (maxPacketBytes > 0 && bytes >= maxPacketBytes) {
        refuse(QStringLiteral("The statement's %1 bytes exceed the server's max_allowed_packet of %2")
                   .arg(bytes)
                   .arg(maxPacketBytes));
    }
    return scan;
}

QSqlQuery DBIF_Connection::ManagedConnection::query(const QString& sql, int category, const char* file,
                                                    int line, bool forwardOnly) {
    refuseUnsendable(sql, file, line);
    startUnitBefore(sql);
    QElapsedTimer timer;
    timer.start();
    const QString name = getQtDatabaseKey();
    QSqlQuery result(sessionDatabase(name));
    result.setForwardOnly(forwardOnly);
    result.exec(sql);
    lastId = result.lastInsertId().toInt();
    const long elapsed = timer.elapsed();
    record(category, elapsed);
    traceStatement(name, elapsed, sql);
    throwIfFailed(result, sql, file, line);
    if (category == DBIF_ALTER_TIMING)
        schemaChanged();
    return result;
}

QSqlQuery DBIF_Connection::ManagedConnection::preparedQuery(const QString& sql, int category,
                                                            const QString& value, const char* file,
                                                            int line) {
    return boundQuery(sql, category, QVariantList{value}, file, line);
}

QSqlQuery DBIF_Connection::ManagedConnection::boundQuery(const QString& sql, int category,
                                                         const QVariantList& values, const char* file,
                                                         int line) {
    refuseUnsendable(sql, file, line);
    for (const QVariant& value : values) {
        if (value.typeId() == QMetaType::QString)
            refuseUnstorableText(value.toString(), sql, file, line);
    }
    startUnitBefore(sql);
    QElapsedTimer timer;
    timer.start();
    const QString name = getQtDatabaseKey();
    QSqlQuery result(sessionDatabase(name));
    if (result.prepare(sql)) {
        for (const QVariant& value : values)
            result.addBindValue(value);
        result.exec();
    }
    lastId = result.lastInsertId().toInt();
    const long elapsed = timer.elapsed();
    record(category, elapsed);
    if (isShowingSql()) {
        QStringList shown;
        for (const QVariant& value : values)
            shown.append(value.toString());
        std::cout << "\n"
                  << name << ": (" << elapsed << " ms) "
                  << "\n"
                  << sql << " => [" << shown.join(QStringLiteral("], [")) << "]" << std::endl;
    }
    throwIfFailed(result, sql, file, line);
    return result;
}

int DBIF_Connection::ManagedConnection::queryInt(const QString& sql, int category, const char* file,
                                                 int line) {
    QSqlQuery result = query(sql, category, file, line);
    // A missing row gives the default value (0, empty text, invalid date-time).
    const int value = result.next() ? result.value(0).toInt() : 0;
    if (showSql)
        std::cout << "Int query returned: " << value << std::endl;
    return value;
}

QString DBIF_Connection::ManagedConnection::queryString(const QString& sql, int category, const char* file,
                                                        int line) {
    QSqlQuery result = query(sql, category, file, line);
    const QString value = result.next() ? result.value(0).toString() : QString();
    if (showSql)
        std::cout << "String query returned: " << value << std::endl;
    return value;
}

QDateTime DBIF_Connection::ManagedConnection::queryDateTime(const QString& sql, int category,
                                                            const char* file, int line) {
    QSqlQuery result = query(sql, category, file, line);
    const QDateTime value = result.next() ? result.value(0).toDateTime() : QDateTime();
    if (showSql)
        std::cout << "DateTime query returned: " << value.toString() << std::endl;
    return value;
}

void DBIF_Connection::ManagedConnection::insertSet(const QString& table, const QString& columns,
                                                   const QStringList& rows, const char* file, int line) {
    insertRows(
        table, columns, static_cast<int>(rows.size()), [&rows](QString& out, int row) { out += rows[row]; },
        [&rows](int row) { return utf8Bytes(rows[row]); }, file, line);
}

// One statement per row, or the rows joined into multi-row statements below the packet limit. The
// limit is the server's packet, which counts bytes as they are sent (a Latin-1 letter beyond ASCII
// takes two). Each statement is built once, in one buffer, and sent before the next is made.
void DBIF_Connection::ManagedConnection::insertRows(const QString& table, const QString& columns,
                                                    int rowCount, const RowWriter& writeRow,
                                                    const RowMeasure& measureRow, const char* file,
                                                    int line) {
    if (rowCount <= 0)
        return;
    const QString head = QStringLiteral("INSERT INTO %1 (%2) VALUES (").arg(table, columns);
    const QLatin1String tail(");\n");
    const auto send = [&](const QString& statement) { query(statement, DBIF_INSERT_TIMING, file, line); };
    QString statement = head;
    if (singleRowInserts) {
        for (int row = 0; row < rowCount; ++row) {
            statement.truncate(head.size());  // keeps the buffer once the last statement let go of it
            writeRow(statement, row);
            statement += tail;
            send(statement);
        }
        return;
    }

    const QLatin1String joint("),\n  (");
    constexpr int SIZING_ROWS = 64;
    qint64 bytes = 0;  // of the rows joined by `joint`
    int row = 0;
    for (; row < rowCount && bytes < packetLimit; ++row) {
        if (row > 0) {
            statement += joint;
            bytes += joint.size();
        }
        const qsizetype start = statement.size();
        writeRow(statement, row);
        const qsizetype rowLength = statement.size() - start;
        bytes += utf8Bytes(QStringView(statement).mid(start));
        // Once a few rows show their length, the buffer is sized for the whole statement (at most a
        // packet), so that it is not moved again and again while it grows, nor left at up to twice its
        // need as growing by doubling would; an estimate that falls short is made again from more rows.
        if (row + 1 >= SIZING_ROWS &&
            statement.capacity() - statement.size() < 2 * (rowLength + joint.size())) {
            const qint64 perRow = (statement.size() - head.size()) / (row + 1) + joint.size();
            const qint64 expected =
                std::min<qint64>(perRow * rowCount * 11 / 10, packetLimit + 2 * rowLength);
            statement.reserve(std::max<qint64>(head.size() + tail.size() + expected,
                                               statement.size() + statement.size() / 4));
        }
    }
    if (bytes < packetLimit) {
        statement += tail;
        send(statement);
        return;
    }
    // Too large for one packet: the whole size decides the batches, so the rest is measured first.
    for (; row < rowCount; ++row)
        bytes += joint.size() + measureRow(row);
    const qint64 batches = bytes / packetLimit + 2;
    // Rows longer than about half the limit leave fewer rows than batches: send them one by one.
    const int batchSize = static_cast<int>(std::max<qint64>(1, rowCount / batches));
    // Batches of even row counts assume rows of even length. A batch of rows much longer than the
    // rest could exceed the packet, which the server would refuse: such a batch goes in as many
    // statements as it needs, each closed before the row that would take it over the limit.
    const QLatin1String batchJoint(")\n, (");
    for (int first = 0; first < rowCount; first += batchSize) {
        statement.truncate(head.size());  // the statement's buffer serves every batch
        int statementFirst = first;
        qint64 statementBytes = 0;
        for (row = first; row < std::min(rowCount, first + batchSize); ++row) {
            const qsizetype before = statement.size();
            if (row > statementFirst)
                statement += batchJoint;
            const qsizetype start = statement.size();
            writeRow(statement, row);
            const qint64 rowBytes = utf8Bytes(QStringView(statement).mid(start));
            if (row > statementFirst && statementBytes + batchJoint.size() + rowBytes >= packetLimit) {
                statement.truncate(before);
                statement += tail;
                send(statement);
                statement.truncate(head.size());
                writeRow(statement, row);
                statementFirst = row;
                statementBytes = rowBytes;
            } else {
                statementBytes += (row > statementFirst ? batchJoint.size() : 0) + rowBytes;
            }
        }
        statement += tail;
        send(statement);
    }
}

namespace {

// "INSERT INTO table (a, b) VALUES (?, ?), (?, ?)" for that many rows.
QString boundInsert(const QString& table, const QStringList& columns, int rows) {
    QString placeholders = QStringLiteral("(?");
    for (int column = 1; column < columns.size(); ++column)
        placeholders += QStringLiteral(", ?");
    placeholders += QLatin1Char(')');
    QString sql =
        QStringLiteral("INSERT INTO %1 (%2) VALUES ").arg(table, columns.join(QStringLiteral(", ")));
    sql.reserve(sql.size() + rows * (placeholders.size() + 2));
    for (int row = 0; row < rows; ++row) {
        if (row > 0)
            sql += QStringLiteral(", ");
        sql += placeholders;
    }
    return sql;
}

// MySQL takes at most this many placeholders in one prepared statement.
constexpr int MYSQL_MAX_PLACEHOLDERS = 65535;
// What an execute packet holds besides the bound values (the statement text went with the prepare).
constexpr qint64 MYSQL_EXECUTE_HEADER_BYTES = 1024;

}  // namespace

void DBIF_Connection::insertRow(const QString& table, const QStringList& columns, const QVariantList& values,
                                int category, const char* file, int line) const {
    d->executeBound(boundInsert(table, columns, 1), category, values, file, line);
}

void DBIF_Connection::updateRow(const QString& table, const QStringList& columns, const QVariantList& values,
                                int id, int category, const char* file, int line) const {
    d->executeBound(QStringLiteral("UPDATE %1 SET %2 = ? WHERE id = %3")
                        .arg(table, columns.join(QStringLiteral(" = ?, ")), QString::number(id)),
                    category, values, file, line);
}

void DBIF_Connection::ManagedConnection::insertBoundRows(const QString& table, const QStringList& columns,
                                                         int rowCount, const RowBinder& bindRow,
                                                         const char* file, int line) {
    if (rowCount <= 0 || columns.isEmpty())
        return;
    if (driver == SQLITE)
        insertBoundRowsSqlite(table, columns, rowCount, bindRow, file, line);
    else
        insertBoundRowsMysql(table, columns, rowCount, bindRow, file, line);
}

// Every bound value passes the checks a printed one would: text the database cannot hold never goes,
// nor a number SQL has no value for (SQLite would store NULL in its place).
void DBIF_Connection::ManagedConnection::refuseUnstorableNumber(double value, const QString& sql,
                                                                const char* file, int line) const {
    if (std::isfinite(value))
        return;
    refuseStatement(sql,
                    QStringLiteral("A value is NaN or an infinity, which a database column cannot store; "
                                   "nothing was sent"),
                    file, line);
}

void DBIF_Connection::ManagedConnection::traceStatement(const QString& name, long elapsed,
                                                        const QString& sql) const {
    if (isShowingSql())
        std::cout << "\n" << name << ": (" << elapsed << " ms) \n" << sql << std::endl;
}

void DBIF_Connection::ManagedConnection::traceBound(const QString& name, long elapsed, const QString& sql,
                                                    int rows) const {
    if (isShowingSql())
        traceStatement(
            name, elapsed,
            QStringLiteral("%1 -- %2 %3 bound").arg(sql).arg(rows).arg(rows == 1 ? "row" : "rows"));
}

// Why a statement could not be sent on a connection that is not open, worded as the driver's failure
// (`driverText`).
QSqlError DBIF_Connection::ManagedConnection::notOpen(const QString& driverText) const {
    return QSqlError(
        driverText,
        lastOpenError.text().isEmpty() ? QStringLiteral("The connection is not open") : lastOpenError.text(),
        QSqlError::StatementError);
}

// SQLite's own handle of this thread's session, or the failure of `sql` (worded `driverText`) when the
// connection is not open.
sqlite3* DBIF_Connection::ManagedConnection::sqliteSession(const QString& name, const QString& sql,
                                                           const QString& driverText, const char* file,
                                                           int line) {
    sqlite3* handle = sqliteHandle(sessionDatabase(name));
    if (handle == nullptr)
        throwFailure(notOpen(driverText), sql, file, line);
    return handle;
}

// Binds values into a statement prepared on SQLite's own handle, each checked as a printed one would
// be.
class DBIF_Connection::ManagedConnection::SqliteSink final : public CellSink {
public:
    SqliteSink(ManagedConnection& connection, const QString& sql, const char* file, int line)
        : connection(connection), sql(sql), file(file), line(line) {}
    void null() override { sqlite3_bind_null(statement, ++index); }
    void integer(qint64 value) override { sqlite3_bind_int64(statement, ++index, value); }
    void number(double value) override {
        connection.refuseUnstorableNumber(value, sql, file, line);
        sqlite3_bind_double(statement, ++index, value);
    }
    void text(const QString& value) override {
        connection.refuseUnstorableText(value, sql, file, line);
        const QByteArray bytes = value.toUtf8();
        sqlite3_bind_text(statement, ++index, bytes.constData(), static_cast<int>(bytes.size()),
                          SQLITE_TRANSIENT);
    }
    // Runs the statement once with what was bound; false when SQLite failed (its handle says why).
    bool run() {
        const bool done = sqlite3_step(statement) == SQLITE_DONE;
        // A reset statement holds no lock; on failure the handle keeps the step's message.
        if (done)
            sqlite3_reset(statement);
        index = 0;
        return done;
    }
    sqlite3_stmt* statement = nullptr;
    int index = 0;

private:
    ManagedConnection& connection;
    const QString& sql;
    const char* file;
    int line;
};

// The values of the rows not yet sent on MySQL, each where its bind entry points: numbers in place,
// texts in a byte array of their own; `bytes` counts what the binary protocol takes for them.
class DBIF_Connection::ManagedConnection::MysqlSink final : public CellSink {
public:
    MysqlSink(ManagedConnection& connection, const QString& sql, const char* file, int line, int capacity)
        : connection(connection),
          sql(sql),
          file(file),
          line(line),
          binds(capacity),
          cells(capacity),
          texts(capacity) {}
    // A binary-protocol value: its bytes and its type's two.
    void null() override {
        next().buffer_type = MYSQL_TYPE_NULL;
        bytes += 2;
    }
    void integer(qint64 value) override {
        MYSQL_BIND& bind = next();
        cells[count - 1].integer = value;
        bind.buffer_type = MYSQL_TYPE_LONGLONG;
        bind.buffer = &cells[count - 1].integer;
        bytes += 10;
    }
    void number(double value) override {
        connection.refuseUnstorableNumber(value, sql, file, line);
        MYSQL_BIND& bind = next();
        cells[count - 1].number = value;
        bind.buffer_type = MYSQL_TYPE_DOUBLE;
        bind.buffer = &cells[count - 1].number;
        bytes += 10;
    }
    void text(const QString& value) override {
        const DBIF_TextScan scan = connection.refuseUnstorableText(value, sql, file, line);
        MYSQL_BIND& bind = next();
        QByteArray& bytesOfText = texts[count - 1];
        bytesOfText = value.toUtf8();
        bind.buffer_type = MYSQL_TYPE_STRING;
        bind.buffer = bytesOfText.data();
        bind.buffer_length = static_cast<unsigned long>(bytesOfText.size());
        bytes += 11 + scan.utf8Bytes;
    }
    // Moves the values after the first `values` (which were sent) to the front.
    void dropSent(int values) {
        for (int i = values; i < count; ++i) {
            binds[i - values] = binds[i];
            cells[i - values] = cells[i];
            texts[i - values] = std::move(texts[i]);
            MYSQL_BIND& bind = binds[i - values];
            if (bind.buffer_type == MYSQL_TYPE_STRING)
                bind.buffer = texts[i - values].data();
            else if (bind.buffer_type != MYSQL_TYPE_NULL)
                bind.buffer = &cells[i - values];
        }
        count -= values;
    }
    // Binds what the sink holds to `statement` and runs it; false when the server failed.
    bool run(MYSQL_STMT* statement) {
        return !mysql_stmt_bind_param(statement, binds.data()) && !mysql_stmt_execute(statement);
    }
    qint64 bytes = 0;

private:
    MYSQL_BIND& next() {
        MYSQL_BIND& bind = binds[count++];
        std::memset(&bind, 0, sizeof bind);
        return bind;
    }
    union Cell {
        double number;
        long long integer;
    };
    ManagedConnection& connection;
    const QString& sql;
    const char* file;
    int line;
    std::vector<MYSQL_BIND> binds;
    std::vector<Cell> cells;
    std::vector<QByteArray> texts;
    int count = 0;
};

namespace {

// How executeBound binds and traces a value: a null variant as NULL, a double as a double, an
// integer as an integer, anything else as its text.
enum class BoundKind { Null, Number, Integer, Text };

BoundKind boundKind(const QVariant& value) {
    if (!value.isValid() || value.isNull())
        return BoundKind::Null;
    switch (value.typeId()) {
        case QMetaType::Double:
            return BoundKind::Number;
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::UInt:
        case QMetaType::Bool:
            return BoundKind::Integer;
        default:
            return BoundKind::Text;
    }
}

void bindValue(const QVariant& value, DBIF_Connection::CellSink& sink) {
    switch (boundKind(value)) {
        case BoundKind::Null:
            sink.null();
            break;
        case BoundKind::Number:
            sink.number(value.toDouble());
            break;
        case BoundKind::Integer:
            sink.integer(value.toLongLong());
            break;
        case BoundKind::Text:
            sink.text(value.toString());
    }
}

// The values as the trace shows them: NULL, integers, doubles with all 17 digits (always with a point
// or an exponent), texts in SQL quotes.
QString shownValues(const QVariantList& values) {
    QStringList shown;
    for (const QVariant& value : values) {
        switch (boundKind(value)) {
            case BoundKind::Null:
                shown.append(QStringLiteral("NULL"));
                break;
            case BoundKind::Number: {
                QString number = QString::number(value.toDouble(), 'g', 17);
                if (!number.contains(QLatin1Char('.')) && !number.contains(QLatin1Char('e')))
                    number += QStringLiteral(".0");
                shown.append(number);
                break;
            }
            case BoundKind::Integer:
                shown.append(QString::number(value.toLongLong()));
                break;
            case BoundKind::Text:
                shown.append(quoteSqlText(value.toString()));
        }
    }
    return shown.join(QStringLiteral(", "));
}

}  // namespace

DBIF_PreparedStatements& DBIF_Connection::ManagedConnection::sessionStatements(const QString& name) {
    const QMutexLocker lock(&preparedStatementsMutex);
    return preparedStatements[name];
}

// Before a session closes (SQLite will not close a handle with statements open) or once it was lost.
void DBIF_Connection::ManagedConnection::forgetSessionStatements(const QString& name, bool closing) {
    const QMutexLocker lock(&preparedStatementsMutex);
    const auto session = preparedStatements.find(name);
    if (session == preparedStatements.end())
        return;
    session->second.clear();
    if (closing)
        preparedStatements.erase(session);
}

sqlite3_stmt* DBIF_Connection::ManagedConnection::preparedSqlite(const QString& name, sqlite3* handle,
                                                                 const QString& sql,
                                                                 const QString& driverText, const char* file,
                                                                 int line) {
    sqlite3_stmt* statement = sessionStatements(name).sqlite(handle, sql);
    if (statement == nullptr)
        throwFailure(sqliteError(handle, driverText), sql, file, line);
    return statement;
}

MYSQL* DBIF_Connection::ManagedConnection::mysqlSession(const QString& name, const QString& sql,
                                                        const char* file, int line) {
    MYSQL* handle = mysqlHandle(sessionDatabase(name));
    if (handle == nullptr)
        throwFailure(notOpen(QStringLiteral("QMYSQL: Unable to execute statement")), sql, file, line);
    return handle;
}

MYSQL_STMT* DBIF_Connection::ManagedConnection::preparedMysql(const QString& name, MYSQL* handle,
                                                              const QString& sql, const char* file,
                                                              int line) {
    QString error;
    unsigned code = 0;
    MYSQL_STMT* statement = sessionStatements(name).mysql(handle, sql, error, code);
    if (statement == nullptr)
        throwFailure(QSqlError(QStringLiteral("QMYSQL: Unable to execute statement"), error,
                               QSqlError::StatementError, QString::number(code)),
                     sql, file, line);
    return statement;
}

// A kept statement that failed is prepared anew at its next use: whatever state the failure left it
// in goes with it.
void DBIF_Connection::ManagedConnection::throwSqliteFailure(const QString& name, sqlite3* handle,
                                                            const QString& sql, const QString& driverText,
                                                            const char* file, int line) {
    const QSqlError error = sqliteError(handle, driverText);
    sessionStatements(name).forget(sql);
    throwFailure(error, sql, file, line);
}

void DBIF_Connection::ManagedConnection::throwMysqlFailure(const QString& name, MYSQL_STMT* statement,
                                                           const QString& sql, const char* file, int line) {
    const QSqlError error(QStringLiteral("QMYSQL: Unable to execute statement"),
                          QString::fromUtf8(mysql_stmt_error(statement)), QSqlError::StatementError,
                          QString::number(mysql_stmt_errno(statement)));
    sessionStatements(name).forget(sql);
    throwFailure(error, sql, file, line);
}

void DBIF_Connection::ManagedConnection::executeBound(const QString& sql, int category,
                                                      const QVariantList& values, const char* file,
                                                      int line) {
    refuseUnsendable(sql, file, line);
    // A result would have to be read before the session's next statement.
    if (isReadOnly(sql))
        refuseStatement(sql, QStringLiteral("executeBound sends statements that write, not queries"), file,
                        line);
    const QString name = getQtDatabaseKey();
    QElapsedTimer timer;
    if (driver == SQLITE) {
        const QString failed = QStringLiteral("Unable to execute statement");
        sqlite3* handle = sqliteSession(name, sql, failed, file, line);
        SqliteSink sink(*this, sql, file, line);
        sink.statement = preparedSqlite(name, handle, sql, failed, file, line);
        for (const QVariant& value : values)
            bindValue(value, sink);
        startUnitBefore(sql);
        timer.start();
        if (!sink.run())
            throwSqliteFailure(name, handle, sql, failed, file, line);
        lastId = static_cast<int>(sqlite3_last_insert_rowid(handle));
    } else {
        MYSQL* handle = mysqlSession(name, sql, file, line);
        MysqlSink sink(*this, sql, file, line, static_cast<int>(values.size()));
        for (const QVariant& value : values)
            bindValue(value, sink);
        refuseOverPacket(sql, sink.bytes, -1, file, line);
        startUnitBefore(sql);
        timer.start();
        MYSQL_STMT* statement = preparedMysql(name, handle, sql, file, line);
        if (!sink.run(statement))
            throwMysqlFailure(name, statement, sql, file, line);
        lastId = static_cast<int>(mysql_stmt_insert_id(statement));
    }
    const long elapsed = timer.elapsed();
    record(category, elapsed);
    if (isShowingSql())
        traceStatement(name, elapsed, QStringLiteral("%1 -- bound: %2").arg(sql, shownValues(values)));
}

// The execute packet holds the values and a header.
void DBIF_Connection::ManagedConnection::refuseOverPacket(const QString& sql, qint64 bytes, int row,
                                                          const char* file, int line) const {
    if (bytes + MYSQL_EXECUTE_HEADER_BYTES < packetLimit)
        return;
    const QString limit =
        QStringLiteral("bytes exceed the server's max_allowed_packet of %1").arg(maxPacketBytes);
    refuseStatement(sql,
                    row < 0 ? QStringLiteral("The values' %1 %2").arg(bytes).arg(limit)
                            : QStringLiteral("Row %1's %2 %3").arg(row).arg(bytes).arg(limit),
                    file, line);
}

// Statements of a few hundred rows' placeholders, prepared once a session on the driver's own handle
// and re-bound for every batch (the last, shorter batch has a statement of its own, not kept): Qt's
// per-row overhead would cost more than SQLite's own work, and each statement run also pays for the
// table's AUTOINCREMENT counter and its indexes' cursors, which one row a statement would pay for
// every row.
void DBIF_Connection::ManagedConnection::insertBoundRowsSqlite(const QString& table,
                                                               const QStringList& columns, int rowCount,
                                                               const RowBinder& bindRow, const char* file,
                                                               int line) {
    const QString oneRow = boundInsert(table, columns, 1);
    refuseUnsendable(oneRow, file, line);
    startUnitBefore(oneRow);
    QElapsedTimer timer;
    timer.start();
    const QString name = getQtDatabaseKey();
    const QString failed = QStringLiteral("Unable to execute statement");
    sqlite3* handle = sqliteSession(name, oneRow, failed, file, line);
    SqliteSink sink(*this, oneRow, file, line);

    // Beyond a few hundred rows a statement gains nothing more; SQLite's own limit on placeholders
    // (32,766 by default) caps wide rows.
    constexpr int ROWS_PER_STATEMENT = 256;
    const int placeholderLimit = sqlite3_limit(handle, SQLITE_LIMIT_VARIABLE_NUMBER, -1);
    const int fullRows = std::max(
        1, std::min({rowCount, ROWS_PER_STATEMENT, placeholderLimit / static_cast<int>(columns.size())}));
    for (int first = 0; first < rowCount; first += fullRows) {
        const int rows = std::min(fullRows, rowCount - first);
        const QString sql = boundInsert(table, columns, rows);
        SqliteStatement last(nullptr, sqlite3_finalize);
        if (rows == fullRows) {
            sink.statement = preparedSqlite(name, handle, sql, failed, file, line);
        } else {
            last = prepareOnSqlite(handle, sql);
            if (!last)
                throwFailure(sqliteError(handle, failed), sql, file, line);
            sink.statement = last.get();
        }
        for (int row = first; row < first + rows; ++row)
            bindRow(row, sink);
        if (!sink.run())
            throwSqliteFailure(name, handle, sql, failed, file, line);
    }
    lastId = static_cast<int>(sqlite3_last_insert_rowid(handle));
    const long elapsed = timer.elapsed();
    record(DBIF_INSERT_TIMING, elapsed);
    traceBound(name, elapsed, oneRow, rowCount);
}

// Multi-row prepared statements (MySQL's binary protocol) on the driver's own handle: as many rows as
// the placeholder limit allows, fewer when their bytes would pass the server's packet. The statement of
// a full batch is kept for the session (see DBIF_PreparedStatements) and executed again for every full
// batch. The client library's own calls take the values where they lie; Qt's would make several copies
// of each (variants, byte arrays, its own bind array) and cost more than the server's work.
void DBIF_Connection::ManagedConnection::insertBoundRowsMysql(const QString& table,
                                                              const QStringList& columns, int rowCount,
                                                              const RowBinder& bindRow, const char* file,
                                                              int line) {
    const int columnCount = columns.size();
    // Each value bound takes about 250 bytes while its statement is sent (its bind entry here and the
    // client library's copy of it): 250 rows a statement save as fast as 1,000 (measured) and keep
    // that near the table's own size for 10,000 rows, well below it for more.
    constexpr int ROWS_PER_STATEMENT = 250;
    const int fullRows =
        std::max(1, std::min({rowCount, ROWS_PER_STATEMENT, MYSQL_MAX_PLACEHOLDERS / columnCount}));
    const QString oneRow = boundInsert(table, columns, 1);
    refuseUnsendable(oneRow, file, line);
    const QString name = getQtDatabaseKey();
    MYSQL* handle = mysqlSession(name, oneRow, file, line);
    MysqlSink sink(*this, oneRow, file, line, (fullRows + 1) * columnCount);

    using Prepared = std::unique_ptr<MYSQL_STMT, my_bool (*)(MYSQL_STMT*)>;
    // Sends the first `rows` rows of the sink's values as one statement.
    const auto send = [&](int rows) {
        const QString sql = boundInsert(table, columns, rows);
        startUnitBefore(sql);
        QElapsedTimer timer;
        timer.start();
        Prepared partial(nullptr, mysql_stmt_close);
        MYSQL_STMT* statement = nullptr;
        if (rows == fullRows) {
            statement = preparedMysql(name, handle, sql, file, line);
        } else {
            QString error;
            unsigned code = 0;
            partial.reset(DBIF_PreparedStatements::prepareMysql(handle, sql, error, code));
            if (!partial)
                throwFailure(QSqlError(QStringLiteral("QMYSQL: Unable to execute statement"), error,
                                       QSqlError::StatementError, QString::number(code)),
                             sql, file, line);
            statement = partial.get();
        }
        if (!sink.run(statement))
            throwMysqlFailure(name, statement, sql, file, line);
        lastId = static_cast<int>(mysql_stmt_insert_id(statement));
        const long elapsed = timer.elapsed();
        record(DBIF_INSERT_TIMING, elapsed);
        traceBound(name, elapsed, oneRow, rows);
        sink.dropSent(rows * columnCount);
    };

    int batchRows = 0;
    qint64 batchBytes = 0;
    for (int row = 0; row < rowCount; ++row) {
        sink.bytes = 0;
        bindRow(row, sink);
        refuseOverPacket(oneRow, sink.bytes, row, file, line);
        if (batchRows > 0 && batchBytes + sink.bytes + MYSQL_EXECUTE_HEADER_BYTES >= packetLimit) {
            send(batchRows);
            batchRows = 0;
            batchBytes = 0;
        }
        ++batchRows;
        batchBytes += sink.bytes;
        if (batchRows == fullRows) {
            send(batchRows);
            batchRows = 0;
            batchBytes = 0;
        }
    }
    if (batchRows > 0)
        send(batchRows);
}

void DBIF_Connection::ManagedConnection::readRows(const QString& sql, int category, const RowReader& read,
                                                  const char* file, int line) {
    if (driver == SQLITE) {
        readRowsSqlite(sql, category, read, file, line);
        return;
    }
    class Source final : public CellSource {
    public:
        explicit Source(const QSqlQuery& result) : result(result) {}
        bool number(int column, double& value) const override {
            const QVariant cell = result.value(column);
            if (cell.typeId() != QMetaType::Double || cell.isNull())
                return false;
            value = *static_cast<const double*>(cell.constData());
            return true;
        }
        QVariant value(int column) const override { return result.value(column); }

    private:
        const QSqlQuery& result;
    };
    QSqlQuery result = query(sql, category, file, line, true);
    const Source source(result);
    while (result.next())
        read(source);
}

// A step loop on the driver's own handle: Qt would make a variant of every cell of every row first.
void DBIF_Connection::ManagedConnection::readRowsSqlite(const QString& sql, int category,
                                                        const RowReader& read, const char* file, int line) {
    refuseUnsendable(sql, file, line);
    startUnitBefore(sql);
    QElapsedTimer timer;
    timer.start();
    const QString name = getQtDatabaseKey();
    const QString failed = QStringLiteral("Unable to fetch row");
    sqlite3* handle = sqliteSession(name, sql, failed, file, line);
    const SqliteStatement prepared = prepareOnSqlite(handle, sql);
    if (!prepared)
        throwFailure(sqliteError(handle, failed), sql, file, line);
    sqlite3_stmt* statement = prepared.get();

    class Source final : public CellSource {
    public:
        explicit Source(sqlite3_stmt* statement) : statement(statement) {}
        // One call into the statement a cell: each sqlite3_column_* call takes the connection's mutex,
        // which for a table of numbers costs as much as reading it. The value it hands out is
        // unprotected, which is safe while no other thread uses the connection: a connection is used by
        // one thread at a time.
        bool number(int column, double& value) const override {
            sqlite3_value* cell = sqlite3_column_value(statement, column);
            if (sqlite3_value_type(cell) != SQLITE_FLOAT)
                return false;
            value = sqlite3_value_double(cell);
            return true;
        }
        // What Qt's SQLite driver makes of each storage class.
        QVariant value(int column) const override {
            switch (sqlite3_column_type(statement, column)) {
                case SQLITE_INTEGER:
                    return QVariant(static_cast<qint64>(sqlite3_column_int64(statement, column)));
                case SQLITE_FLOAT:
                    return QVariant(sqlite3_column_double(statement, column));
                case SQLITE_TEXT:
                    return QVariant(QString::fromUtf16(
                        static_cast<const char16_t*>(sqlite3_column_text16(statement, column)),
                        sqlite3_column_bytes16(statement, column) / 2));
                case SQLITE_BLOB:
                    return QVariant(
                        QByteArray(static_cast<const char*>(sqlite3_column_blob(statement, column)),
                                   sqlite3_column_bytes(statement, column)));
                default:
                    return QVariant();
            }
        }

    private:
        sqlite3_stmt* statement;
    } source(statement);

    int step;
    while ((step = sqlite3_step(statement)) == SQLITE_ROW)
        read(source);
    if (step != SQLITE_DONE)
        throwFailure(sqliteError(handle, failed), sql, file, line);
    const long elapsed = timer.elapsed();
    record(category, elapsed);
    traceStatement(name, elapsed, sql);
}

void DBIF_Connection::ManagedConnection::updateSet(const QString& table, const QString& columns,
                                                   const QStringList& rows, const char* file, int line) {
    for (const QString& row : rows) {
        query(QStringLiteral("REPLACE INTO %1 (%2) VALUES (%3)").arg(table, columns, row), DBIF_UPDATE_TIMING,
              file, line);
    }
}

void DBIF_Connection::setNetworkTimeout(int seconds) {
    ManagedConnection::networkTimeoutSeconds = seconds < 1 ? 1 : seconds;
}

void DBIF_Connection::ManagedConnection::setLockTimeout(int seconds) {
    lockTimeoutSeconds = seconds;
    if (valid)
        applyLockTimeout();
}

void DBIF_Connection::ManagedConnection::applyLockTimeout() {
    if (driver == MYSQL_DRIVER) {
        query(QStringLiteral("SET SESSION lock_wait_timeout = %1, innodb_lock_wait_timeout = %1")
                  .arg(lockTimeoutSeconds),
              DBIF_QUERY_TIMING, __FILE__, __LINE__);
    } else if (driver == SQLITE) {
        query(QStringLiteral("PRAGMA busy_timeout = %1").arg(lockTimeoutSeconds * 1000), DBIF_QUERY_TIMING,
              __FILE__, __LINE__);
    }
}

void DBIF_Connection::ManagedConnection::beginTransaction() {
    refuseDropped(QStringLiteral("BEGIN"), __FILE__, __LINE__);
    if (inTransaction && !databaseInTransaction())
        inTransaction = false;  // ended behind the library's back: there is nothing to commit
    if (inTransaction)
        endTransaction();
    const QString name = getQtDatabaseKey();
    QSqlDatabase db = QSqlDatabase::database(name, false);
    if (driver == SQLITE) {
        // A writer from the start: a transaction that reads before it writes would otherwise fail at
        // once ("database is locked") instead of waiting out the busy timeout.
        QSqlQuery begin(db);
        if (!begin.exec(QStringLiteral("BEGIN IMMEDIATE")))
            throw DBIF_Exception(QStringLiteral("BEGIN IMMEDIATE"), begin.lastError(),
                                 QStringLiteral(__FILE__), __LINE__);
    } else {
        db.transaction();
    }
    inTransaction = true;
    if (isShowingSql())
        std::cout << "\n  Beginning Transaction: " << name << std::endl;
}

void DBIF_Connection::ManagedConnection::endTransaction() {
    if (!inTransaction)
        return;
    if (!databaseInTransaction()) {
        inTransaction = false;
        throw DBIF_Exception(
            QStringLiteral("COMMIT"),
            QSqlError(QStringLiteral("The transaction was rolled back before this commit (by the database "
                                     "after an error, or by a ROLLBACK the library did not send): nothing "
                                     "saved since beginTransaction() is stored"),
                      QString(), QSqlError::TransactionError),
            QStringLiteral(__FILE__), __LINE__);
    }
    const QString name = getQtDatabaseKey();
    QElapsedTimer timer;
    timer.start();
    QSqlDatabase db = QSqlDatabase::database(name, false);
    const bool committed = db.commit();
    const long elapsed = timer.elapsed();
    record(DBIF_COMMIT_TIMING, elapsed);
    // A refused commit (another connection holds the database past the timeout) leaves the
    // transaction open, so that the host can end it again or let it go; one after which SQLite rolled
    // the transaction back (a full disk) says so.
    if (!committed) {
        const QSqlError error = db.lastError();
        if (sessionLost(error)) {
            inTransaction = false;
            throw DBIF_Exception(
                QStringLiteral("COMMIT"),
                QSqlError(error.driverText(),
                          error.databaseText() +
                              QStringLiteral(" -- the connection to the server was lost during the commit: "
                                             "the transaction may or may not be stored"),
                          error.type(), error.nativeErrorCode()),
                QStringLiteral(__FILE__), __LINE__);
        }
        if (databaseInTransaction() && !wholeTransactionRolledBack(error))
            throw DBIF_Exception(QStringLiteral("COMMIT"), error, QStringLiteral(__FILE__), __LINE__);
        inTransaction = false;
        throw DBIF_Exception(QStringLiteral("COMMIT"),
                             wholeTransactionGone(error, QStringLiteral("the database")),
                             QStringLiteral(__FILE__), __LINE__);
    }
    inTransaction = false;
    if (isShowingSql())
        std::cout << "\n  Committing Transaction: " << name << " (" << elapsed << " ms)" << std::endl;
}

void DBIF_Connection::ManagedConnection::rollbackTransaction() {
    if (!inTransaction && driver != MYSQL_DRIVER)
        return;
    const bool open = inTransaction ? databaseInTransaction() : true;
    inTransaction = false;
    if (!open)
        return;
    QSqlDatabase db = QSqlDatabase::database(getQtDatabaseKey(), false);
    if (!db.rollback())
        throw DBIF_Exception(QStringLiteral("ROLLBACK"), db.lastError(), QStringLiteral(__FILE__), __LINE__);
    if (isShowingSql())
        std::cout << "\n  Rolling back Transaction: " << getQtDatabaseKey() << std::endl;
}

void DBIF_Connection::ManagedConnection::dumpTimes() const {
    long total = 0;
    for (int category = DBIF_QUERY_TIMING; category <= DBIF_COMMIT_TIMING; ++category)
        total += times[category];
    std::cout << "=====> " << objectCacheKey << std::endl
              << "      Update: time: " << times[2] << " count: " << counts[2] << std::endl
              << "      Insert: time: " << times[1] << " count: " << counts[1] << std::endl
              << "      Query:  time: " << times[0] << " count: " << counts[0] << std::endl
              << "      Alter:  time: " << times[3] << " count: " << counts[3] << std::endl
              << "      Index:  time: " << times[4] << " count: " << counts[4] << std::endl
              << "      Commit: time: " << times[5] << " count: " << counts[5] << std::endl
              << "      Total time: " << total << std::endl;
}

void DBIF_Connection::ManagedConnection::dumpOpenConnections() {
    std::cout << std::endl
              << (openConnections.isEmpty() ? "NO Open Connections" : "Open connections: ") << std::endl;
    for (const QString& name : openConnections)
        std::cout << name << ": " << std::endl;
}

// A unit's own statements (BEGIN IMMEDIATE, SAVEPOINT, ...) never open a unit themselves.
void DBIF_Connection::ManagedConnection::runUnitStatement(const QString& sql) {
    runningUnitStatement = true;
    struct Release {
        bool& flag;
        ~Release() { flag = false; }
    } release{runningUnitStatement};
    query(sql, DBIF_UPDATE_TIMING, __FILE__, __LINE__);
}

namespace {

// Schema changes: on MySQL they commit, so a savepoint before one would be gone at once.
bool isSchemaChange(const QString& sql) {
    static const QRegularExpression schema(QStringLiteral("^\\s*(CREATE|ALTER|DROP)\\b"),
                                           QRegularExpression::CaseInsensitiveOption);
    return schema.match(sql).hasMatch();
}

}  // namespace

void DBIF_Connection::ManagedConnection::beginUnit() {
    if (unitDepth++ == 0) {
        unitStarted = false;
        undoActions.clear();
    }
}

// The outermost unit touches the database only at its first write, so that a save with nothing to
// write sends nothing. Outside a host transaction SQLite gets a write transaction of the unit's own,
// taken as a writer at once (BEGIN IMMEDIATE): it waits out the busy timeout instead of failing when
// a read inside it would have to become a write.
void DBIF_Connection::ManagedConnection::startUnitBefore(const QString& sql) {
    if (unitDepth == 0 || unitStarted || runningUnitStatement || isReadOnly(sql) ||
        (driver == MYSQL_DRIVER && isSchemaChange(sql)))
        return;
    startUnit();
}

// A save outside a host transaction is a transaction of its own on both drivers, and commits.
void DBIF_Connection::ManagedConnection::startUnit() {
    unitOwnsTransaction = !inTransaction;
    if (!unitOwnsTransaction)
        runUnitStatement(QStringLiteral("SAVEPOINT dbif_unit"));
    else
        runUnitStatement(driver == SQLITE ? QStringLiteral("BEGIN IMMEDIATE")
                                          : QStringLiteral("START TRANSACTION"));
    unitStarted = true;
}

bool DBIF_Connection::ManagedConnection::takeSchemaLock(bool byName) {
    if (driver == MYSQL_DRIVER && !byName) {
        runUnitStatement(QStringLiteral("COMMIT"));
        schemaChanged();
        if (unitDepth > 0) {
            runUnitStatement(QStringLiteral("START TRANSACTION"));
            unitOwnsTransaction = true;
            unitStarted = true;
        }
        return false;
    }
    if (driver == MYSQL_DRIVER) {
        const QString sql =
            QStringLiteral("SELECT GET_LOCK(%1, %2)").arg(schemaLockName()).arg(lockTimeoutSeconds);
        if (queryInt(sql, DBIF_QUERY_TIMING, __FILE__, __LINE__) != 1) {
            refuseStatement(sql, QStringLiteral("Another connection holds the schema lock"), __FILE__,
                            __LINE__);
        }
        return true;
    }
    // SQLite: the write lock of the open unit's transaction (or of the host's, which holds it already).
    if (unitDepth > 0 && !unitStarted)
        startUnit();
    return false;
}

void DBIF_Connection::ManagedConnection::releaseSchemaLock() {
    try {
        query(QStringLiteral("SELECT RELEASE_LOCK(%1)").arg(schemaLockName()), DBIF_QUERY_TIMING, __FILE__,
              __LINE__);
    } catch (const DBIF_Exception&) {
        // The session's named locks go with the session anyway.
    }
}

QString DBIF_Connection::ManagedConnection::schemaLockName() const {
    return quoteText(QStringLiteral("dbif schema %1").arg(database).left(64));
}

void DBIF_Connection::ManagedConnection::commitUnit() {
    if (unitDepth == 0 || --unitDepth > 0)
        return;
    if (unitStarted) {
        try {
            runUnitStatement(unitOwnsTransaction ? QStringLiteral("COMMIT")
                                                 : QStringLiteral("RELEASE SAVEPOINT dbif_unit"));
        } catch (...) {
            // A commit that fails (another writer holds the file) rolls the unit back.
            ++unitDepth;
            rollbackUnit();
            throw;
        }
    }
    unitStarted = false;
    undoActions.clear();
}

void DBIF_Connection::ManagedConnection::rollbackUnit() {
    if (unitDepth == 0 || --unitDepth > 0)
        return;
    if (unitStarted) {
        const QStringList statements = unitOwnsTransaction
                                           ? QStringList{QStringLiteral("ROLLBACK")}
                                           : QStringList{QStringLiteral("ROLLBACK TO SAVEPOINT dbif_unit"),
                                                         QStringLiteral("RELEASE SAVEPOINT dbif_unit")};
        for (const QString& statement : statements) {
            try {
                runUnitStatement(statement);
            } catch (const DBIF_Exception&) {
                // The error that ended the unit is the one the caller needs to see.
            }
        }
    }
    unitStarted = false;
    for (auto undo = undoActions.rbegin(); undo != undoActions.rend(); ++undo)
        (*undo)();
    undoActions.clear();
}

void DBIF_Connection::ManagedConnection::onRollback(std::function<void()> undo) {
    if (unitDepth > 0)
        undoActions.push_back(std::move(undo));
}

// MySQL commits before and after every schema change: what the unit wrote so far is stored for good,
// so it no longer needs undoing, and the unit's next write opens a new savepoint for the rest.
void DBIF_Connection::ManagedConnection::schemaChanged() {
    if (driver != MYSQL_DRIVER || unitDepth == 0)
        return;
    undoActions.clear();
    unitStarted = false;
}

QStringList DBIF_Connection::ManagedConnection::columnNames(const QString& table) {
    const QString sql = driver == MYSQL_DRIVER
                            ? QStringLiteral("SHOW COLUMNS FROM %1").arg(table)
                            : QStringLiteral("SELECT name FROM pragma_table_info('%1')").arg(table);
    QStringList names;
    try {
        QSqlQuery result = query(sql, DBIF_QUERY_TIMING, __FILE__, __LINE__);
        while (result.next())
            names.append(result.value(0).toString());
    } catch (const DBIF_Exception&) {
        // A missing table has no columns.
    }
    return names;
}

bool DBIF_Connection::ManagedConnection::hasIndex(const QString& table, const QString& index) {
    const QString sql =
        driver == MYSQL_DRIVER
            ? QStringLiteral("SHOW INDEX FROM %1 WHERE Key_name='%2'").arg(table, index)
            : QStringLiteral("SELECT * FROM SQLITE_MASTER WHERE type='index' AND tbl_name='%1' AND name='%2'")
                  .arg(table, index);
    try {
        return query(sql, DBIF_QUERY_TIMING, __FILE__, __LINE__).next();
    } catch (const DBIF_Exception&) {
        return false;
    }
}

QStringList DBIF_Connection::ManagedConnection::existingTables() {
    if (driver != MYSQL_DRIVER)
        return sessionDatabase(getQtDatabaseKey()).tables(QSql::Tables);
    QStringList names;
    try {
        QSqlQuery result = query(QStringLiteral("SHOW TABLES"), DBIF_QUERY_TIMING, __FILE__, __LINE__);
        while (result.next())
            names.append(result.value(0).toString());
    } catch (const DBIF_Exception&) {
        // Keep what was collected; the final index test reports a database that is not usable.
    }
    return names;
}

QString DBIF_Connection::ManagedConnection::readSchemaFile(QStringList& errors) {
    hostSetEnvironment("quarn");
    const QString variable = QStringLiteral("QUARN_%1_SCHEMA_FILE").arg(driver.mid(1));
    char* path = hostGetVariable(variable.toLocal8Bit().constData());
    const QString fileName = path != nullptr ? QString::fromLocal8Bit(path) : QString();
    QFile file(fileName);
    QStringList lines;
    if (path != nullptr && file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QTextStream stream(&file);
        QString line;
        while (stream.readLineInto(&line))
            lines.append(line);
    }
    // Line breaks carry no meaning; every ";" ends a statement.
    const QStringList pieces = lines.join(QLatin1Char(' ')).split(QLatin1Char(';'));
    for (const QString& piece : pieces) {
        const QString statement = piece.trimmed();
        if (statement.isEmpty())
            continue;
        try {
            query(statement, DBIF_QUERY_TIMING, __FILE__, __LINE__);
        } catch (const DBIF_Exception& e) {
            errors.append(QString::fromLocal8Bit(e.what()));
        }
    }
    hostFreeString(path);
    return fileName;
}

void DBIF_Connection::ManagedConnection::ensureLatestIndexes(QStringList& errors) {
    if (hasIndex(QStringLiteral("latest_setup"), QStringLiteral("latest_setup_all")))
        return;
    try {
        if (driver == MYSQL_DRIVER) {
            query(MYSQL_LATEST_SETUP_INDEX, DBIF_QUERY_TIMING, __FILE__, __LINE__);
        } else {
            for (const QString& statement : SQLITE_LATEST_INDEXES)
                query(statement, DBIF_QUERY_TIMING, __FILE__, __LINE__);
        }
    } catch (const DBIF_Exception& e) {
        errors.append(QString::fromLocal8Bit(e.what()));
    }
}

// The latest-record tables compare their combinations byte for byte: "nmos" and "NMOS", "S1" and
// "S1 " are other combinations. A MySQL database made before they did is converted once.
void DBIF_Connection::ManagedConnection::ensureExactLatestTables(QStringList& errors) {
    if (driver != MYSQL_DRIVER)
        return;
    try {
        const int inexact = queryInt(
            QStringLiteral(
                "SELECT COUNT(*) FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = DATABASE() AND "
                "TABLE_NAME IN ('latest_measurement', 'latest_setup') AND COLLATION_NAME IS NOT NULL "
                "AND COLLATION_NAME <> 'latin1_nopad_bin'"),
            DBIF_QUERY_TIMING, __FILE__, __LINE__);
        if (inexact == 0)
            return;
        for (const QString& table : {QStringLiteral("latest_measurement"), QStringLiteral("latest_setup")}) {
            query(QStringLiteral("ALTER TABLE %1 CONVERT TO CHARACTER SET latin1 COLLATE latin1_nopad_bin")
                      .arg(table),
                  DBIF_ALTER_TIMING, __FILE__, __LINE__);
        }
    } catch (const DBIF_Exception& e) {
        errors.append(QString::fromLocal8Bit(e.what()));
    }
}

void DBIF_Connection::ManagedConnection::initializeSchemaIfMissing() {
    const QStringList tables = existingTables();
    const bool initialised =
        std::any_of(SETUP_TABLES.begin(), SETUP_TABLES.end(),
                    [&tables](const QString& name) { return tables.contains(name, Qt::CaseInsensitive); });
    QStringList errors;
    QString report = QStringLiteral("Database query error(s) occurred");
    if (!initialised) {
        const QString path = readSchemaFile(errors);
        report +=
            QStringLiteral(", while initializing the database schema from schema file: '%1'\n").arg(path);
    } else {
        ensureLatestIndexes(errors);
        ensureExactLatestTables(errors);
        report += QStringLiteral(", while insuring schema correctness.\n");
    }
    if (errors.isEmpty() && hasIndex(QStringLiteral("latest_setup"), QStringLiteral("latest_setup_all")))
        return;
    const QSqlError error(errors.join(QStringLiteral("\n-------------------------\n")), QString(),
                          QSqlError::NoError, QStringLiteral("-1"));
    throw DBIF_Exception(report, error, QStringLiteral(__FILE__), __LINE__);
}

void DBIF_Connection::ManagedConnection::createMultiTable(const QString& table, const QString& owner) {
    if (driver == SQLITE) {
        query(QStringLiteral(
                  "CREATE TABLE %1 (\n  id integer NOT NULL PRIMARY KEY AUTOINCREMENT,\n  %2_id integer "
                  "NOT NULL\n)")
                  .arg(table, owner),
              DBIF_INSERT_TIMING, __FILE__, __LINE__);
        query(QStringLiteral("CREATE INDEX %1_%2_id ON %1 (%2_id ASC);\n").arg(table, owner),
              DBIF_INSERT_TIMING, __FILE__, __LINE__);
    } else {
        query(QStringLiteral("CREATE TABLE IF NOT EXISTS `%1` (\n  `id` int(11) NOT NULL AUTO_INCREMENT,\n  "
                             "`%2_id` int(11) NOT NULL,\n  PRIMARY KEY (`id`),\n  INDEX `%1_%2_id` (`%2_id` "
                             "ASC)\n)")
                  .arg(table, owner),
              DBIF_INSERT_TIMING, __FILE__, __LINE__);
    }
    schemaChanged();
}
