// dbif_test_writer: a second process for the concurrency tests. It opens the database named by its
// arguments and saves, in a loop of single-save transactions, dies and sparse catalog entries with
// one data row each, then exits 0; a DBIF_Exception ends it with status 1 and the report on stderr.
//   dbif_test_writer DRIVER HOST DATABASE USER PASSWORD PORT TAG COUNT [multi]
// With "multi" the entries use the multi-table engine, so both processes need one column set's table.
//   dbif_test_writer DRIVER HOST DATABASE USER PASSWORD PORT TAG COUNT sets START_MS
// With "sets" entry i (multi-table, saved outside a transaction) has a column set of its own, {Vd, Si},
// and is saved at START_MS + 250 * i ms since the epoch, so that two writers need each new set's
// table at the same moment. A save that fails with a retryable DBIF_Exception is repeated (at most
// ten times); standard output ends with "retried N", the number of repeats.
#include <QCoreApplication>
#include <QDateTime>
#include <QThread>
#include <algorithm>
#include <iostream>

#include "dbif/DBIF_CatalogEntry.h"
#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_Die.h"

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QStringList args = application.arguments();
    const bool sets = args.size() == 11 && args[9] == QLatin1String("sets");
    if (args.size() != 9 && args.size() != 10 && !sets) {
        std::cerr << "usage: dbif_test_writer DRIVER HOST DATABASE USER PASSWORD PORT TAG COUNT "
                     "[multi | sets START_MS]\n";
        return 2;
    }
    abortOnAssert = true;
    try {
        DBIF_Connection db(args[1].toLocal8Bit().constData(), args[2].toLocal8Bit().constData(),
                           args[3].toLocal8Bit().constData(), args[4].toLocal8Bit().constData(),
                           args[5].toLocal8Bit().constData(), args[6].toInt());
        const QString tag = args[7];
        const DBIF_StorageEngineType engine =
            args.size() >= 10 ? DBIF_MULTI_TABLE_STORAGE : DBIF_SPARSE_TABLE_STORAGE;
        const QDateTime start = QDateTime::currentDateTime();
        int retried = 0;
        for (int i = 0; i < args[8].toInt(); ++i) {
            if (sets) {
                QThread::msleep(static_cast<unsigned long>(std::max<qint64>(
                    0, args[10].toLongLong() + 250 * i - QDateTime::currentMSecsSinceEpoch())));
                DBIF_CatalogEntry entry = DBIF_CatalogEntry::get(db, tag, QString::number(i), "run", start,
                                                                 start, "writer", engine);
                const DBIF_CatalogEntryColumn vd = entry.addColumn("Vd", "DB");
                const DBIF_CatalogEntryColumn own = entry.addColumn(QStringLiteral("S%1").arg(i), "DB");
                entry.addRow();
                entry.set(vd, QVariant(i * 0.5));
                entry.set(own, QVariant(i));
                for (int attempt = 1;; ++attempt) {
                    try {
                        entry.save();
                        break;
                    } catch (const DBIF_Exception& e) {
                        if (!e.isRetryable() || attempt == 10)
                            throw;
                        ++retried;
                    }
                }
                continue;
            }
            db.beginTransaction();
            DBIF_Die::get(db, tag, QString::number(i), "D", "B", "writer").save();
            DBIF_CatalogEntry entry =
                DBIF_CatalogEntry::get(db, tag, QString::number(i), "run", start, start, "writer", engine);
            const DBIF_CatalogEntryColumn vd = entry.addColumn("Vd", "DB");
            entry.addRow();
            entry.set(vd, QVariant(i * 0.5));
            entry.save();
            db.endTransaction();
        }
        std::cout << "retried " << retried << std::endl;
    } catch (const DBIF_Exception& e) {
        std::cerr << e.what();
        return 1;
    }
    return 0;
}
