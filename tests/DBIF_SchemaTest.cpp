// Tests of the schema set-up, index checks and multi-table creation, on both drivers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryFile>
#include <string>

#include "DatabaseTest.h"
#include "dbif/DBIF_Connection.h"

namespace {

using testing::HasSubstr;

class SchemaTest : public DatabaseTest {
protected:
    QByteArray variable() const { return isMySql() ? "QUARN_MYSQL_SCHEMA_FILE" : "QUARN_SQLITE_SCHEMA_FILE"; }
    void pointAt(const QString& path) { qputenv(variable().constData(), path.toLocal8Bit()); }
    void TearDown() override {
        qunsetenv(variable().constData());
        DatabaseTest::TearDown();
    }
    int queries() { return connection().getCounts()[DBIF_QUERY_TIMING]; }
    // Runs the set-up and returns the report it threw, or an empty text.
    std::string initialize() {
        try {
            connection().initializeSchemaIfMissing();
        } catch (const DBIF_Exception& e) {
            return e.what();
        }
        return std::string();
    }
    void createLatestTables() {
        const QString columns = QStringLiteral(
            "die_id INT, device_type VARCHAR(50), device_parent_subsite_name VARCHAR(50), "
            "device_position_within_subsite INT, measurement_condition_name VARCHAR(50), "
            "measurement_temperature "
            "DOUBLE, routine_name VARCHAR(50), data_origin VARCHAR(50), mode VARCHAR(50)");
        exec(QStringLiteral("CREATE TABLE setup (id INT)"));
        exec(QStringLiteral("CREATE TABLE latest_measurement (measurement_id INT, %1)").arg(columns));
        exec(QStringLiteral("CREATE TABLE latest_setup (setup_id INT, path VARCHAR(100), %1)").arg(columns));
    }
};

TEST_P(SchemaTest, CreatesTheShippedSchemaOnceAndThenOnlyChecks) {
    pointAt(schemaFile());
    EXPECT_EQ(initialize(), "");
    for (const char* table :
         {"die", "routine", "measurement", "setup", "setup_column", "setup_data", "setup_association",
          "multi_table", "multi_table_column", "latest_measurement"}) {
        EXPECT_EQ(countRows(QString::fromLatin1(table)), 0) << table;
    }
    EXPECT_TRUE(connection().hasIndex("latest_setup", "latest_setup_all"));
    if (!isMySql()) {
        EXPECT_TRUE(connection().hasIndex("latest_measurement", "latest_measurement_all"));
        EXPECT_TRUE(connection().hasIndex("latest_setup", "latest_setup_setup_id"));
    }

    // The second call sees the setup tables and the index: no schema or index statement.
    const int before = queries();
    EXPECT_EQ(initialize(), "");
    // hasIndex twice, plus SHOW TABLES and the collation check of the latest tables on MySQL.
    EXPECT_EQ(queries() - before, isMySql() ? 4 : 2);

    // A MySQL database made before the latest tables compared exactly is converted by the check.
    if (isMySql()) {
        exec("ALTER TABLE latest_setup CONVERT TO CHARACTER SET latin1 COLLATE latin1_swedish_ci");
        EXPECT_EQ(initialize(), "");
        EXPECT_EQ(textOf("SELECT COLLATION_NAME FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = "
                         "DATABASE() AND TABLE_NAME = 'latest_setup' AND COLUMN_NAME = 'device_type'"),
                  "latin1_nopad_bin");
    }
}

TEST_P(SchemaTest, RunsEveryStatementAndReportsAllFailuresTogether) {
    QTemporaryFile file;
    ASSERT_TRUE(file.open());
    // Two statements on one line, one over three lines, one that fails, a trailing ";".
    file.write(
        "CREATE TABLE first_table (x INT); CREATE TABLE second_table (x INT);\n"
        "CREATE TABLE\n  third_table\n  (x INT);\n"
        "CREATE TABLE broken (;\n"
        "CREATE TABLE fourth_table (x INT);\n");
    file.close();
    pointAt(file.fileName());
    const int before = queries();
    const std::string report = initialize();
    // SHOW TABLES on MySQL, then the five pieces; with failures collected the index is not checked.
    EXPECT_EQ(queries() - before, (isMySql() ? 1 : 0) + 5);
    for (const char* table : {"first_table", "second_table", "third_table", "fourth_table"}) {
        EXPECT_EQ(countRows(QString::fromLatin1(table)), 0) << table;
    }
    const std::string head = "==> Error reported by database in file: ";
    ASSERT_EQ(report.rfind(head, 0), 0u) << report;
    EXPECT_THAT(report,
                HasSubstr("  Query: Database query error(s) occurred, while initializing the database "
                          "schema from schema file: '" +
                          file.fileName().toStdString() + "'\n\n"));
    // The one failure is carried whole as the error text (its own report inside).
    EXPECT_THAT(report, HasSubstr("  Error reported: ==> Error reported by database in file: "));
    EXPECT_THAT(report, HasSubstr("  Query: CREATE TABLE broken ("));
    EXPECT_EQ(report.find("-------------------------"), std::string::npos);
}

// A missing schema file throws with an empty error list; an initialised database without the latest
// tables fails the index guarantee.
TEST_P(SchemaTest, MissingSchemaFileAndFailingIndexGuaranteeAreReported) {
    qunsetenv(variable().constData());
    EXPECT_THAT(initialize(), HasSubstr("  Query: Database query error(s) occurred, while initializing the "
                                        "database schema from schema file: ''\n\n  Error reported: "));
    pointAt(QStringLiteral("/nonexistent/schema.sql"));
    EXPECT_THAT(initialize(), HasSubstr("schema file: '/nonexistent/schema.sql'"));

    exec(QStringLiteral("CREATE TABLE setup_column (id INT)"));
    EXPECT_THAT(
        initialize(),
        HasSubstr("  Query: Database query error(s) occurred, while insuring schema correctness.\n\n"));
}

// The columns of both latest records' all-column indexes (latest_setup's after its path).
const std::string LATEST_COLUMNS =
    "die_id,device_type,device_parent_subsite_name,device_position_within_subsite,measurement_condition_name,"
    "measurement_temperature,routine_name,data_origin,mode";

// A column list as the SQLite schema spreads it: each column after `indent` blanks, the closing
// parenthesis after two blanks less.
std::string spread(const std::string& columns, int indent) {
    const std::string blanks(indent, ' ');
    return "(" + blanks +
           QString::fromStdString(columns).replace(",", QString::fromStdString("," + blanks)).toStdString() +
           std::string(indent - 2, ' ') + ")";
}

TEST_P(SchemaTest, AddsTheLatestIndexesToAnInitialisedDatabase) {
    createLatestTables();
    std::string report;
    const std::string trace = traceOf([&] { report = initialize(); });
    EXPECT_EQ(report, "");
    EXPECT_TRUE(connection().hasIndex("latest_setup", "latest_setup_all"));
    if (isMySql()) {
        EXPECT_NE(trace.find("\nCREATE UNIQUE INDEX latest_setup_all on latest_setup(path," + LATEST_COLUMNS +
                             ")\n"),
                  std::string::npos)
            << trace;
        return;
    }
    const std::string statements[] = {
        "\nCREATE INDEX latest_measurement_measurement_id ON latest_measurement(measurement_id)\n",
        "\n CREATE INDEX latest_measurement_all ON latest_measurement" + spread(LATEST_COLUMNS, 27) + "\n",
        "\nCREATE INDEX latest_setup_setup_id ON latest_setup(setup_id)\n",
        "\nCREATE INDEX latest_setup_all ON latest_setup" + spread("path," + LATEST_COLUMNS, 26) + "\n",
    };
    std::size_t position = 0;
    for (const std::string& statement : statements) {
        const std::size_t found = trace.find(statement, position);
        ASSERT_NE(found, std::string::npos) << statement << "\nin\n" << trace;
        position = found + statement.size();
    }
}

TEST_P(SchemaTest, IndexesAndMultiTables) {
    EXPECT_FALSE(connection().hasIndex("no_such_table", "no_such_index"));
    connection().createMultiTable("measurement_data_7", "measurement");
    EXPECT_TRUE(connection().hasIndex("measurement_data_7", "measurement_data_7_measurement_id"));
    exec(QStringLiteral("INSERT INTO measurement_data_7 (measurement_id) VALUES (42)"));
    EXPECT_EQ(connection().getLastId(), 1);
    EXPECT_EQ(countRows("measurement_data_7", "measurement_id = 42 AND id = 1"), 1);
    EXPECT_GE(connection().getCounts()[DBIF_INSERT_TIMING], 1);
    // On MySQL a table that another process made meanwhile is left as it is; SQLite refuses to make
    // it again (its registration's transaction keeps other processes out).
    if (isMySql()) {
        connection().createMultiTable("measurement_data_7", "measurement");
        EXPECT_EQ(countRows("measurement_data_7"), 1);
    } else {
        EXPECT_THROW(connection().createMultiTable("measurement_data_7", "measurement"), DBIF_Exception);
    }
}

DBIF_DATABASE_TEST_SUITE(SchemaTest);

}  // namespace
