// Tests of transactions, statement statistics and the diagnostic dumps, on both drivers.
#include <gtest/gtest.h>

#include <sstream>

#include "DatabaseTest.h"
#include "dbif/DBIF_Connection.h"

namespace {

class TransactionTest : public DatabaseTest {
protected:
    void SetUp() override {
        DatabaseTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        exec(QStringLiteral("CREATE TABLE items (name VARCHAR(20))"));
        connection().endTransaction();
    }
    static int count(DBIF_Connection& db) {
        return db.queryInt("SELECT COUNT(*) FROM items", DBIF_QUERY_TIMING, __FILE__, __LINE__);
    }
};

TEST_P(TransactionTest, WritesBecomeVisibleToAnotherConnectionAtCommit) {
    DBIF_Connection& writer = connection();
    DBIF_Connection reader = openSecondConnection();
    writer.beginTransaction();
    EXPECT_TRUE(writer.isInTransaction());
    writer.query(QStringLiteral("INSERT INTO items (name) VALUES ('a')"), DBIF_INSERT_TIMING, __FILE__,
                 __LINE__);
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
    db.query(QStringLiteral("INSERT INTO items (name) VALUES ('a')"), DBIF_INSERT_TIMING, __FILE__, __LINE__);
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
        writer.query(QStringLiteral("INSERT INTO items (name) VALUES ('kept')"), DBIF_INSERT_TIMING, __FILE__,
                     __LINE__);
    }
    connection().beginTransaction();
    EXPECT_EQ(count(connection()), 1);
    connection().endTransaction();
}

TEST_P(TransactionTest, TracesAndDumps) {
    DBIF_Connection& db = connection();
    const std::string name = db.getQtDatabaseKey().toStdString();
    db.setShowSql(true);
    testing::internal::CaptureStdout();
    db.beginTransaction();
    db.endTransaction();
    const std::string trace = testing::internal::GetCapturedStdout();
    db.setShowSql(false);
    EXPECT_EQ(
        trace.rfind("\n  Beginning Transaction: " + name + "\n\n  Committing Transaction: " + name + " (", 0),
        0u)
        << trace;
    EXPECT_EQ(trace.substr(trace.size() - 5), " ms)\n");

    for (int i = 0; i < 3; ++i)
        count(db);
    testing::internal::CaptureStdout();
    db.dumpTimes();
    const std::string dump = testing::internal::GetCapturedStdout();
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

    testing::internal::CaptureStdout();
    DBIF_Connection::ManagedConnection::dumpOpenConnections();
    const std::string open = testing::internal::GetCapturedStdout();
    EXPECT_EQ(open.rfind("\nOpen connections: \n", 0), 0u) << open;
    EXPECT_NE(open.find("\n" + name + ": \n"), std::string::npos) << open;

    db.startLogging();
    count(db);
    EXPECT_EQ(db.stopLogging(), QString());
}

DBIF_DATABASE_TEST_SUITE(TransactionTest);

TEST(Transactions, DumpWithoutConnections) {
    ASSERT_TRUE(DBIF_Connection::ManagedConnection::openConnections.isEmpty());
    testing::internal::CaptureStdout();
    DBIF_Connection::ManagedConnection::dumpOpenConnections();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nNO Open Connections\n");
}

}  // namespace
