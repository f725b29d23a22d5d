// CampaignDatabase: opens the database that --db names (a SQLite file, or mysql://user@host:port/db
// with the password from DBIF_PASSWORD) and creates the shipped schema when the database is new.
// Stateless; the returned connection belongs to the calling thread.
#ifndef DBIF_TOOLS_CAMPAIGNDATABASE_H
#define DBIF_TOOLS_CAMPAIGNDATABASE_H

#include <QString>

#include "dbif/DBIF_Connection.h"

class CampaignDatabase {
public:
    static const char* const DEFAULT_LOCATION;

    // Throws ToolError for a malformed URL, a database that cannot be opened or a schema that cannot
    // be created.
    static DBIF_Connection open(const QString& location);
    // True when writing path would overwrite the SQLite database that location names, or its journal or
    // write-ahead log: the same file however it is spelled (relative, through '..' or symbolic links,
    // a hard link), also before it exists. Always false for a server's database.
    static bool holdsDatabase(const QString& location, const QString& path);

private:
    // True for mysql://..., a database on a server rather than in a file.
    static bool onServer(const QString& location);
    // The folder of the shipped schema files: the source tree's when run from the build tree, the
    // installed one otherwise.
    static QString schemaDirectory();
};

#endif
