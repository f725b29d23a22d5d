// SweepImporter: `dbif import csv` and `dbif import touchstone`. Each file becomes one measurement of
// the run (one catalog entry per invocation) and is stored whole or not at all; a file whose data is already
// stored for the same die, device, condition and temperature is skipped. All files go through one transaction
// of the connection, committed at the end, so a failed file leaves only itself out.
// Used from one thread, on a connection it does not own.
#ifndef DBIF_TOOLS_SWEEPIMPORTER_H
#define DBIF_TOOLS_SWEEPIMPORTER_H

#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include "CommandLine.h"
#include "CsvSweep.h"
#include "InputFile.h"
#include "ProgressLine.h"
#include "Sweep.h"
#include "dbif/DBIF_CatalogEntry.h"
#include "dbif/DBIF_Connection.h"

class SweepImporter {
public:
    // The options a file takes its identity from, by name (lot, wafer, die, ...).
    static const QStringList FILE_OPTIONS;

    struct Job {
        QString path;
        QMap<QString, QString> options;
        // The manifest row that names the file; no manifest for a file of the command line.
        InputFile::ManifestRow listedAt;
    };
    struct Summary {
        int stored = 0;
        int skipped = 0;
        int failed = 0;
        long long rows = 0;
    };

    // The files of the command line and of the --manifest file, each with its options (the manifest's
    // columns, the command line's options where a column is missing or empty). A manifest's files are
    // read as InputFile allows them (--allow-outside). Throws ToolError for an unreadable manifest or
    // one with unknown columns.
    static QList<Job> jobsFrom(const CommandLine& commandLine);

    enum Format { CSV, TOUCHSTONE };

    // verbose: a file the database refuses is reported with the library's whole report as well.
    SweepImporter(const DBIF_Connection& connection, Format format, const CsvSweep::Dialect& dialect,
                  const QString& runType, bool stopOnError, bool quiet, bool verbose);
    // Imports the files in order; a failing file is reported as one line "file:line: message" (or
    // "file: not stored: reason" when the database refuses it) on standard error.
    Summary run(const QList<Job>& jobs);
    // The id of this invocation's run, -1 while it stored nothing.
    int runId() const { return runEntry.getId(); }

private:
    // Stores one file, telling progress how far it has come; returns its row count, or -1 when it was
    // already stored. Throws ToolError.
    long long importFile(const Job& job, ProgressLine& progress);

    // True (and says so on standard output) when a stored measurement of the file's identity holds
    // exactly its columns and cells.
    bool isStored(const QString& path, const QMap<QString, QString>& options, const Sweep& sweep,
                  double temperature);
    // The identities of every stored measurement, read in one query.
    void loadStoredIdentities();

    DBIF_Connection connection;
    Format format;
    CsvSweep::Dialect dialect;
    QSet<QString> storedIdentities;
    DBIF_CatalogEntry runEntry;  // the run of this invocation, made by run()
    QString runType;
    bool stopOnError;
    bool quiet;
    bool verbose;
};

#endif
