// Tests of DBIF_Connection: identity and naming, statement execution and its error report,
// insert batching, transactions, statement statistics and the diagnostic dumps, on both drivers.
#include <gtest/gtest.h>

#include <QSqlQuery>
#include <QSqlRecord>
#include <QThread>
#include <atomic>
#include <sstream>

#include "CapturedStderr.h"
#include "DatabaseTest.h"
#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_Utilities.h"

namespace {

class ConnectionTest : public DatabaseTest {
protected:
    void createNumbers() {
        exec(isMySql()
                 ? QStringLiteral(
                       "CREATE TABLE numbers (id INT AUTO_INCREMENT PRIMARY KEY, label VARCHAR(200), "
                       "value DOUBLE) ENGINE=InnoDB")
                 : QStringLiteral("CREATE TABLE numbers (id INTEGER PRIMARY KEY AUTOINCREMENT, label TEXT, "
                                  "value DOUBLE)"));
    }
    static QStringList rowsOfLength(int count, int length) {
        QStringList rows;
        for (int i = 0; i < count; ++i) {
            const QString label = QStringLiteral("r%1-").arg(i);
            rows.append(QStringLiteral("'%1', %2")
                            .arg(label + QString(length - label.size(), QLatin1Char('x')))
                            .arg(i));
        }
        return rows;
    }
};

TEST_P(ConnectionTest, KeysAndIdentity) {
    DBIF_Connection& first = connection();
    DBIF_Connection second = openSecondConnection();
    const DBIF_Connection copy = first;
    EXPECT_FALSE(copy != first);
    EXPECT_TRUE(second != first);
    EXPECT_NE(first.getObjectCacheKey(), second.getObjectCacheKey());

    // driver|database|sequence; the first thread name adds |0, a fresh one |1.
    const QStringList parts = first.getObjectCacheKey().split(QLatin1Char('|'));
    ASSERT_EQ(parts.size(), 3);
    EXPECT_EQ(parts[0], driver());
    EXPECT_EQ(second.getObjectCacheKey().split(QLatin1Char('|'))[2].toInt(), parts[2].toInt() + 1);
    EXPECT_EQ(first.getQtDatabaseKey(), first.getObjectCacheKey() + QStringLiteral("|0"));
    EXPECT_TRUE(DBIF_Connection::ManagedConnection::openConnections.contains(first.getQtDatabaseKey()));

    QString driverName, host, database, user, password;
    int port = -1;
    first.getInfo(driverName, host, database, user, password, port);
    EXPECT_EQ(driverName, driver());
    EXPECT_EQ(database, parts[1]);
    EXPECT_TRUE(DBIF_Connection::driverNames().contains(driver()));

    first.calculateDatabaseQtKey();
    EXPECT_EQ(first.getQtDatabaseKey(), first.getObjectCacheKey() + QStringLiteral("|1"));
    first.open();
    EXPECT_EQ(first.queryInt(QStringLiteral("SELECT 7"), DBIF_QUERY_TIMING, __FILE__, __LINE__), 7);
}

TEST_P(ConnectionTest, DriverSettings) {
    DBIF_Connection& db = connection();
    if (isMySql()) {
        EXPECT_EQ(db.getPacketLimit(), intOf("SELECT @@global.max_allowed_packet") / 100 * 95);
        EXPECT_EQ(intOf("SELECT @@autocommit"), 0);
    } else {
        EXPECT_EQ(db.getPacketLimit(), 2000000000);
    }
    EXPECT_EQ(db.getCaseSensitiveSuffix(), isMySql() ? " COLLATE latin1_bin" : "");
    EXPECT_EQ(db.getCaseInsensitiveSuffix(), isMySql() ? "" : " COLLATE NOCASE");
    EXPECT_EQ(db.wrapQueryForUnion(QStringLiteral("SELECT 1")), isMySql() ? "(SELECT 1)" : "SELECT 1");
}

TEST_P(ConnectionTest, TypedQueriesAndLastId) {
    DBIF_Connection& db = connection();
    EXPECT_EQ(db.getLastId(), isMySql() ? 0 : -1);  // MySQL ran its settings statements at open
    createNumbers();
    exec("INSERT INTO numbers (label, value) VALUES ('a', 1.5)");
    exec("INSERT INTO numbers (label, value) VALUES ('b', 2.5)");
    EXPECT_EQ(db.getLastId(), 2);
    EXPECT_EQ(textOf("SELECT label FROM numbers WHERE id = 2"), QStringLiteral("b"));
    EXPECT_EQ(intOf("SELECT id FROM numbers WHERE id = 99"), 0);
    EXPECT_EQ(textOf("SELECT label FROM numbers WHERE id = 99"), QString());
    EXPECT_FALSE(db.queryDateTime(QStringLiteral("SELECT label FROM numbers WHERE id = 99"),
                                  DBIF_QUERY_TIMING, __FILE__, __LINE__)
                     .isValid());
    EXPECT_EQ(db.queryDateTime(QStringLiteral("SELECT '2024-03-01 12:30:00'"), DBIF_QUERY_TIMING, __FILE__,
                               __LINE__),
              QDateTime(QDate(2024, 3, 1), QTime(12, 30)));
    EXPECT_EQ(ids("SELECT id FROM numbers ORDER BY id DESC"), (QList<int>{2, 1}));

    // A bound value needs no quoting: quotes, backslashes and line breaks come back unchanged.
    const QString awkward = QStringLiteral("it's a \\ back\nslash");
    db.preparedQuery(QStringLiteral("INSERT INTO numbers (label, value) VALUES (?, 3)"), DBIF_INSERT_TIMING,
                     awkward, __FILE__, __LINE__);
    EXPECT_EQ(db.getLastId(), 3);
    EXPECT_EQ(textOf("SELECT label FROM numbers WHERE id = 3"), awkward);
    // The same text quoted for the driver matches exactly that row.
    EXPECT_EQ(countRows(QStringLiteral("numbers"), QStringLiteral("label = %1").arg(db.quoteText(awkward))),
              1);
}

// A session keeps the statements of insertRow/updateRow prepared: a kept statement must still write
// where its text says after the table was made anew with other columns, and a reopened session must
// not use the statements of the closed one.
TEST_P(ConnectionTest, KeptStatementsFollowTheSchemaAndTheSession) {
    DBIF_Connection& db = connection();
    createNumbers();
    const QStringList columns{"label", "value"};
    const auto insert = [&](const QVariantList& values) {
        db.insertRow("numbers", columns, values, DBIF_INSERT_TIMING, __FILE__, __LINE__);
        return db.getLastId();
    };
    const auto row = [&](int id) {
        QSqlQuery q = db.query(QStringLiteral("SELECT label, value FROM numbers WHERE id = %1").arg(id),
                               DBIF_QUERY_TIMING, __FILE__, __LINE__);
        return q.next() ? QVariantList{q.value(0), q.value(1)} : QVariantList();
    };
    EXPECT_EQ(insert({"a", 0.1}), 1);
    EXPECT_EQ(insert({"it's", QVariant()}), 2);
    EXPECT_EQ(row(1), (QVariantList{"a", 0.1}));
    EXPECT_TRUE(row(2).value(1).isNull());

    exec("DROP TABLE numbers");
    exec(isMySql() ? "CREATE TABLE numbers (id INT AUTO_INCREMENT PRIMARY KEY, value DOUBLE, extra INT, "
                     "label VARCHAR(200)) ENGINE=InnoDB"
                   : "CREATE TABLE numbers (id INTEGER PRIMARY KEY AUTOINCREMENT, value DOUBLE, extra INT, "
                     "label TEXT)");
    EXPECT_EQ(insert({"b", 2.5}), 1);
    EXPECT_EQ(row(1), (QVariantList{"b", 2.5}));

    commit(db);  // a MySQL session does not commit on its own
    db.close();
    db.open();
    EXPECT_EQ(insert({"c", 5e-324}), 2);
    db.updateRow("numbers", columns, {"d", 1e308}, 1, DBIF_UPDATE_TIMING, __FILE__, __LINE__);
    EXPECT_EQ(row(1), (QVariantList{"d", 1e308}));
    EXPECT_EQ(row(2), (QVariantList{"c", 5e-324}));
    // A query is not a statement to keep: its result would have to be read first.
    EXPECT_THROW(db.executeBound("SELECT ?", DBIF_QUERY_TIMING, {1}, __FILE__, __LINE__), DBIF_Exception);
}

TEST_P(ConnectionTest, FailingStatementsThrowTheUniformReport) {
    DBIF_Connection& db = connection();
    const QString sql = QStringLiteral("SELECT * FROM no_such_table");
    const int line = __LINE__ + 2;
    try {
        db.query(sql, DBIF_QUERY_TIMING, __FILE__, line);
        FAIL() << "no exception";
    } catch (const DBIF_Exception& e) {
        const std::string expected =
            QStringLiteral(
                "==> Error reported by database in file: %1 line: %2\n  Query: %3\n  Error "
                "reported: %4\n")
                .arg(QStringLiteral(__FILE__), QString::number(line), sql, e.getError().text())
                .toStdString();
        EXPECT_EQ(std::string(e.what()), expected);
        EXPECT_FALSE(e.getError().text().isEmpty());
        EXPECT_EQ(e.getQuery(), sql);
    }
    EXPECT_THROW(intOf("SELEC 1"), DBIF_Exception);
    EXPECT_THROW(db.preparedQuery(QStringLiteral("INSERT INTO nowhere VALUES (?)"), DBIF_INSERT_TIMING,
                                  QStringLiteral("x"), __FILE__, __LINE__),
                 DBIF_Exception);
    // The statistics already count the failed statements.
    EXPECT_GE(db.getCounts()[DBIF_QUERY_TIMING], 2);
    EXPECT_EQ(db.getCounts()[DBIF_INSERT_TIMING], 1);

    // After close the thread's connection is gone: statements fail with the same exception; open restores it.
    db.close();
    EXPECT_THROW(intOf("SELECT 1"), DBIF_Exception);
    db.open();
    EXPECT_TRUE(db.isValid());
    EXPECT_EQ(intOf("SELECT 1"), 1);
}

TEST_P(ConnectionTest, InsertSetStoresEveryRow) {
    DBIF_Connection& db = connection();
    createNumbers();
    db.insertSet(QStringLiteral("numbers"), QStringLiteral("label, value"), QStringList(), __FILE__,
                 __LINE__);
    EXPECT_EQ(db.getCounts()[DBIF_INSERT_TIMING], 0);

    db.insertSet(QStringLiteral("numbers"), QStringLiteral("label, value"), rowsOfLength(3, 10), __FILE__,
                 __LINE__);
    EXPECT_EQ(countRows(QStringLiteral("numbers")), 3);
    // SQLite: one statement per row; MySQL: one multi-row statement.
    EXPECT_EQ(db.getCounts()[DBIF_INSERT_TIMING], isMySql() ? 1 : 3);
    EXPECT_EQ(ids("SELECT value FROM numbers ORDER BY id"), (QList<int>{0, 1, 2}));

    db.updateSet(QStringLiteral("numbers"), QStringLiteral("id, label, value"),
                 {QStringLiteral("2, 'changed', 20"), QStringLiteral("3, 'also', 30")}, __FILE__, __LINE__);
    EXPECT_EQ(countRows(QStringLiteral("numbers")), 3);
    EXPECT_EQ(countRows(QStringLiteral("numbers"), QStringLiteral("label = 'changed' AND value = 20")), 1);
    EXPECT_EQ(db.getCounts()[DBIF_UPDATE_TIMING], 2);
}

TEST_P(ConnectionTest, InsertSetSplitsAtThePacketLimit) {
    if (!isMySql())
        GTEST_SKIP() << "SQLite sends one statement per row";
    DBIF_Connection& db = connection();
    createNumbers();
    // Rows whose joined text is 2.5 times the packet limit go out in batches of n / 4 rows.
    const int rowCount = 40;
    const int rowLength = static_cast<int>(2.5 * db.getPacketLimit() / rowCount);
    const QStringList rows = rowsOfLength(rowCount, rowLength - 8);
    const int before = db.getCounts()[DBIF_INSERT_TIMING];
    exec(QStringLiteral("ALTER TABLE numbers MODIFY label LONGTEXT"));
    db.insertSet(QStringLiteral("numbers"), QStringLiteral("label, value"), rows, __FILE__, __LINE__);
    EXPECT_EQ(db.getCounts()[DBIF_INSERT_TIMING] - before, 4);
    EXPECT_EQ(countRows(QStringLiteral("numbers")), rowCount);
    EXPECT_EQ(intOf("SELECT SUM(value) FROM numbers"), rowCount * (rowCount - 1) / 2);

    // The same size, but the last ten rows hold half of it: their batch would exceed the packet, so
    // it goes in two statements, and every row arrives.
    exec(QStringLiteral("DELETE FROM numbers"));
    QStringList skewed = rowsOfLength(30, static_cast<int>(1.25 * db.getPacketLimit() / 30) - 8);
    for (const QString& row : rowsOfLength(10, static_cast<int>(db.getPacketLimit() / 8) - 8))
        skewed.append(row.left(row.lastIndexOf(',')) + ", " + QString::number(skewed.size()));
    const int beforeSkewed = db.getCounts()[DBIF_INSERT_TIMING];
    db.insertSet(QStringLiteral("numbers"), QStringLiteral("label, value"), skewed, __FILE__, __LINE__);
    EXPECT_EQ(db.getCounts()[DBIF_INSERT_TIMING] - beforeSkewed, 5);
    EXPECT_EQ(intOf("SELECT SUM(value) FROM numbers"), rowCount * (rowCount - 1) / 2);

    // Rows each longer than half the limit: one statement per row, none lost.
    exec(QStringLiteral("DELETE FROM numbers"));
    const int huge = db.getPacketLimit() / 2 + 10;
    db.insertSet(QStringLiteral("numbers"), QStringLiteral("label, value"), rowsOfLength(2, huge), __FILE__,
                 __LINE__);
    EXPECT_EQ(countRows(QStringLiteral("numbers")), 2);
}

TEST_P(ConnectionTest, TraceWritesConnectionNameTimeAndStatement) {
    DBIF_Connection& db = connection();
    const std::string traced = traceOf([&] { intOf("SELECT 5"); });
    const std::string head = "\n" + db.getQtDatabaseKey().toStdString() + ": (";
    EXPECT_EQ(traced.rfind(head, 0), 0u) << traced;
    EXPECT_NE(traced.find(" ms) \nSELECT 5\nInt query returned: 5\n"), std::string::npos) << traced;

    // The global switch traces statements but not the typed results.
    DBIF_Connection::ManagedConnection::ALWAYS_SHOW_SQL = true;
    const std::string global = stdoutOf([&] { intOf("SELECT 6"); });
    DBIF_Connection::ManagedConnection::ALWAYS_SHOW_SQL = false;
    EXPECT_NE(global.find("SELECT 6\n"), std::string::npos);
    EXPECT_EQ(global.find("Int query returned"), std::string::npos);
}

TEST_P(ConnectionTest, SecondThreadNamesAndOpensItsOwnConnection) {
    DBIF_Connection db = connection();
    const QString mainName = db.getQtDatabaseKey();
    QString threadNameBefore, threadName;
    int answer = 0;
    std::atomic<bool> threw{false};
    QThread* worker = QThread::create([&] {
        threadNameBefore = db.getQtDatabaseKey();
        db.calculateDatabaseQtKey();
        threadName = db.getQtDatabaseKey();
        db.open();
        try {
            answer = intOf("SELECT 11");
        } catch (const DBIF_Exception&) {
            threw = true;
        }
        db.close();
    });
    worker->start();
    worker->wait();
    delete worker;
    EXPECT_TRUE(threadNameBefore.isEmpty());
    EXPECT_EQ(threadName, db.getObjectCacheKey() + QStringLiteral("|1"));
    EXPECT_FALSE(threw);
    EXPECT_EQ(answer, 11);
    // The creating thread keeps its own name and connection.
    EXPECT_EQ(db.getQtDatabaseKey(), mainName);
    EXPECT_EQ(intOf("SELECT 12"), 12);
}

DBIF_DATABASE_TEST_SUITE(ConnectionTest);

TEST(Connection, FailedOpenThrowsNothingAndLeavesDefaults) {
    DBIF_Connection db("QMYSQL", "127.0.0.1", "nowhere", "nobody", "wrong", 1);
    EXPECT_FALSE(db.isValid());
    EXPECT_TRUE(db.lastError().isValid());
    EXPECT_EQ(db.getPacketLimit(), 2000000000);
    EXPECT_EQ(db.getCaseSensitiveSuffix(), QString());
    EXPECT_EQ(db.getCaseInsensitiveSuffix(), QString());
}

TEST(Connection, DestructionUnregistersTheName) {
    QString name;
    {
        DBIF_Connection db("QSQLITE", "", ":memory:", "", "", 0);
        name = db.getQtDatabaseKey();
        EXPECT_TRUE(DBIF_Connection::ManagedConnection::openConnections.contains(name));
        EXPECT_TRUE(QSqlDatabase::contains(name));
    }
    EXPECT_FALSE(DBIF_Connection::ManagedConnection::openConnections.contains(name));
    EXPECT_FALSE(QSqlDatabase::contains(name));
}

TEST(Connection, MismatchExceptionsReportTheirOwnTexts) {
    const DBIF_ConnectionMismatchException a(QStringLiteral("addDie"), QStringLiteral("A|x|0"),
                                             QStringLiteral("B|y|1"));
    const DBIF_ConnectionMismatchException b(QStringLiteral("addSetup"), QStringLiteral("C|z|2"),
                                             QStringLiteral("D|w|3"));
    EXPECT_STREQ(a.what(),
                 "Connection mismatch in addDie. owner connection: 'A|x|0' adding connection: 'B|y|1'");
    EXPECT_STREQ(b.what(),
                 "Connection mismatch in addSetup. owner connection: 'C|z|2' adding connection: 'D|w|3'");

    struct Item {
        DBIF_Connection connection;
        DBIF_Connection getConnection() const { return connection; }
    };
    DBIF_Connection one("QSQLITE", "", ":memory:", "", "", 0);
    DBIF_Connection two("QSQLITE", "", ":memory:", "", "", 0);
    EXPECT_NO_THROW(checkConnection(QStringLiteral("link"), one, Item{one}));
    EXPECT_EQ(caught<DBIF_ConnectionMismatchException>(
                  [&] { checkConnection(QStringLiteral("link"), one, Item{two}); },
                  [](const auto& e) { return e.getOwnerKey() + " " + e.getAddingKey(); }),
              one.getObjectCacheKey() + " " + two.getObjectCacheKey());
    const Item owner{two};
    EXPECT_THROW(checkConnection(QStringLiteral("link"), &owner, Item{one}),
                 DBIF_ConnectionMismatchException);
}

class TransactionTest : public DatabaseTest {
protected:
    void fill() override {
        exec(QStringLiteral("CREATE TABLE items (name VARCHAR(20))"));
        connection().endTransaction();
    }
    static int count(DBIF_Connection& db) {
        return db.queryInt("SELECT COUNT(*) FROM items", DBIF_QUERY_TIMING, __FILE__, __LINE__);
    }
    static void insert(DBIF_Connection& db, const QString& name) {
        db.query("INSERT INTO items (name) VALUES ('" + name + "')", DBIF_INSERT_TIMING, __FILE__, __LINE__);
    }
};

TEST_P(TransactionTest, WritesBecomeVisibleToAnotherConnectionAtCommit) {
    DBIF_Connection& writer = connection();
    DBIF_Connection reader = openSecondConnection();
    writer.beginTransaction();
    EXPECT_TRUE(writer.isInTransaction());
    insert(writer, "a");
    EXPECT_EQ(count(reader), 0);
    EXPECT_EQ(count(writer), 1);

    const int commits = writer.getCounts()[DBIF_COMMIT_TIMING];
    writer.endTransaction();
    EXPECT_FALSE(writer.isInTransaction());
    EXPECT_EQ(writer.getCounts()[DBIF_COMMIT_TIMING], commits + 1);
    reader.beginTransaction();  // a new snapshot for the reader (MySQL runs with autocommit off)
    EXPECT_EQ(count(reader), 1);
    reader.endTransaction();
}

TEST_P(TransactionTest, BeginCommitsAnOpenTransactionAndEndWithoutBeginDoesNothing) {
    DBIF_Connection& db = connection();
    const QList<int> start = db.getCounts();
    db.endTransaction();
    EXPECT_EQ(db.getCounts(), start);

    db.beginTransaction();
    insert(db, "a");
    db.beginTransaction();  // commits the first
    EXPECT_TRUE(db.isInTransaction());
    EXPECT_EQ(db.getCounts()[DBIF_COMMIT_TIMING] - start[DBIF_COMMIT_TIMING], 1);

    DBIF_Connection reader = openSecondConnection();
    EXPECT_EQ(count(reader), 1);
    db.endTransaction();
    EXPECT_EQ(db.getCounts()[DBIF_COMMIT_TIMING] - start[DBIF_COMMIT_TIMING], 2);
}

TEST_P(TransactionTest, DestroyingTheLastHandleCommits) {
    {
        DBIF_Connection writer = openSecondConnection();
        writer.beginTransaction();
        insert(writer, "kept");
    }
    connection().beginTransaction();
    EXPECT_EQ(count(connection()), 1);
    connection().endTransaction();
}

TEST_P(TransactionTest, TracesAndDumps) {
    DBIF_Connection& db = connection();
    const std::string name = db.getQtDatabaseKey().toStdString();
    const std::string trace = traceOf([&] { commit(); });
    EXPECT_EQ(
        trace.rfind("\n  Beginning Transaction: " + name + "\n\n  Committing Transaction: " + name + " (", 0),
        0u)
        << trace;
    EXPECT_EQ(trace.substr(trace.size() - 5), " ms)\n");

    for (int i = 0; i < 3; ++i)
        count(db);
    const std::string dump = stdoutOf([&] { db.dumpTimes(); });
    const QList<long> t = db.getTimes();
    const QList<int> c = db.getCounts();
    std::ostringstream expected;
    expected << "=====> " << db.getObjectCacheKey().toStdString() << "\n"
             << "      Update: time: " << t[2] << " count: " << c[2] << "\n"
             << "      Insert: time: " << t[1] << " count: " << c[1] << "\n"
             << "      Query:  time: " << t[0] << " count: " << c[0] << "\n"
             << "      Alter:  time: " << t[3] << " count: " << c[3] << "\n"
             << "      Index:  time: " << t[4] << " count: " << c[4] << "\n"
             << "      Commit: time: " << t[5] << " count: " << c[5] << "\n"
             << "      Total time: " << t[0] + t[1] + t[2] + t[3] + t[4] + t[5] << "\n";
    EXPECT_EQ(dump, expected.str());
    EXPECT_GE(c[DBIF_QUERY_TIMING], 4);  // CREATE TABLE and three counts

    const std::string open = stdoutOf(DBIF_Connection::ManagedConnection::dumpOpenConnections);
    EXPECT_EQ(open.rfind("\nOpen connections: \n", 0), 0u) << open;
    EXPECT_NE(open.find("\n" + name + ": \n"), std::string::npos) << open;

    db.startLogging();
    count(db);
    EXPECT_EQ(db.stopLogging(), QString());
}

DBIF_DATABASE_TEST_SUITE(TransactionTest);

TEST(Transactions, DumpWithoutConnections) {
    ASSERT_TRUE(DBIF_Connection::ManagedConnection::openConnections.isEmpty());
    EXPECT_EQ(stdoutOf(DBIF_Connection::ManagedConnection::dumpOpenConnections), "\nNO Open Connections\n");
}

}  // namespace
