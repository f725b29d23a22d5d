// CampaignDatabase.cpp: from the --db text to an open connection on a database with the schema, and
// whether an output file would overwrite that database.
#include "CampaignDatabase.h"

#include <sys/stat.h>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include "ToolError.h"
#include "dbif/DBIF_Exception.h"

const char* const CampaignDatabase::DEFAULT_LOCATION = "./campaign.db";

QString CampaignDatabase::schemaDirectory() {
    const QString installed =
        QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QStringLiteral("../share/dbif/schema"));
    if (QFileInfo::exists(installed + QStringLiteral("/sqlite.sql")))
        return installed;
    return QStringLiteral(DBIF_SOURCE_SCHEMA_DIR);
}

namespace {

// The file path names once '..' and symbolic links are resolved. A file that does not exist yet is
// named through its resolved folder, and a dangling link by its target, which is where a write lands.
QString resolved(const QString& path) {
    QFileInfo info(QFileInfo(path).absoluteFilePath());
    for (int hops = 0; hops < 40 && info.isSymLink() && !info.exists(); ++hops)
        info = QFileInfo(info.symLinkTarget());
    if (info.exists())
        return info.canonicalFilePath();
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return folder.isEmpty() ? info.absoluteFilePath() : QDir(folder).filePath(info.fileName());
}

bool sameFile(const QString& a, const QString& b) {
    struct stat first, second;
    // Two names of one inode (a hard link too) are one file.
    if (::stat(QFile::encodeName(a).constData(), &first) == 0 &&
        ::stat(QFile::encodeName(b).constData(), &second) == 0)
        return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
    return resolved(a) == resolved(b);
}

}  // namespace

bool CampaignDatabase::onServer(const QString& location) {
    return location.contains(QLatin1String("://")) || location.startsWith(QLatin1String("mysql:"));
}

bool CampaignDatabase::holdsDatabase(const QString& location, const QString& path) {
    if (onServer(location))
        return false;
    // The files beside the database are part of it: the write-ahead log holds committed data until a
    // checkpoint, a hot journal is what restores the file after a crash.
    for (const char* companion : {"", "-journal", "-wal", "-shm"}) {
        if (sameFile(location + QLatin1String(companion), path))
            return true;
    }
    return false;
}

DBIF_Connection CampaignDatabase::open(const QString& location) {
    QString driver = QStringLiteral("QSQLITE");
    QString host, database, user, password;
    int port = 0;
    if (onServer(location)) {
        const QUrl url(location, QUrl::StrictMode);
        database = url.path().mid(1);
        if (!url.isValid() || url.scheme() != QLatin1String("mysql") || url.host().isEmpty() ||
            url.userName().isEmpty() || database.isEmpty() || database.contains(QLatin1Char('/')) ||
            !url.password().isEmpty()) {
            throw ToolError(QStringLiteral("--db %1: expected mysql://user@host:port/database (the password "
                                           "in DBIF_PASSWORD)")
                                .arg(location),
                            ToolError::USAGE);
        }
        driver = QStringLiteral("QMYSQL");
        host = url.host();
        user = url.userName();
        port = url.port(3306);
        password = qEnvironmentVariable("DBIF_PASSWORD");
    } else {
        database = QFileInfo(location).absoluteFilePath();
        if (!QFileInfo(database).dir().exists())
            throw ToolError(QStringLiteral("--db %1: no such folder").arg(location));
    }
    const QString variable = QStringLiteral("QUARN_%1_SCHEMA_FILE").arg(driver.mid(1));
    if (!qEnvironmentVariableIsSet(variable.toLatin1().constData())) {
        const QString file =
            schemaDirectory() + (driver == QLatin1String("QMYSQL") ? "/mysql.sql" : "/sqlite.sql");
        qputenv(variable.toLatin1().constData(), QFile::encodeName(file));
    }
    DBIF_Connection connection(driver.toLatin1().constData(), host.toUtf8().constData(),
                               database.toUtf8().constData(), user.toUtf8().constData(),
                               password.toUtf8().constData(), port);
    if (!connection.isValid()) {
        throw ToolError(
            QStringLiteral("cannot open %1: %2").arg(location, connection.lastError().text().simplified()));
    }
    try {
        // One transaction keeps SQLite from syncing the file after every table.
        connection.beginTransaction();
        connection.initializeSchemaIfMissing();
        connection.endTransaction();
    } catch (const DBIF_Exception& e) {
        throw ToolError(
            QStringLiteral("%1: cannot create the schema: %2").arg(location, ToolError::reasonOf(e)));
    }
    return connection;
}
