// A host that knows the library only through its installed package: it opens an in-memory SQLite
// database, runs one statement and reports the answer through its exit status.
#include <dbif/DBIF_Connection.h>

int main() {
    DBIF_Connection connection("QSQLITE", "", ":memory:", "", "", 0);
    if (!connection.isValid()) return 2;
    return connection.queryInt("SELECT 6 * 7", DBIF_QUERY_TIMING, __FILE__, __LINE__) == 42 ? 0 : 1;
}
