// A host that knows the library only through its installed package and its chief headers: this file
// includes only DBIF_Connection.h (connection, exceptions, assertion functions and switches, text
// helpers), values.cpp only DBIF_DataType.h (all four value types). It opens an in-memory SQLite
// database, runs one statement and reports the answer through its exit status.
#include <dbif/DBIF_Connection.h>

bool valueTypesWork();

int main() {
    printOnAssert = false;
    abortOnAssert = false;
    if (assert0(false, __FILE__, __LINE__, "silent") || caseSensitize("Vd") != "Vd_2")
        return 3;
    DBIF_Connection connection("QSQLITE", "", ":memory:", "", "", 0);
    if (!connection.isValid())
        return 2;
    try {
        connection.query("SELECT * FROM nowhere", DBIF_QUERY_TIMING, __FILE__, __LINE__);
        return 4;
    } catch (const DBIF_Exception&) {
    }
    if (!valueTypesWork())
        return 5;
    return connection.queryInt("SELECT 6 * 7", DBIF_QUERY_TIMING, __FILE__, __LINE__) == 42 ? 0 : 1;
}
