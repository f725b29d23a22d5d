// SweepImporter.cpp: parsing a CSV sweep, the already-stored test and the save of a measurement.
#include "SweepImporter.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QVariant>
#include <algorithm>
#include <cmath>
#include <iostream>
#include <memory>
#include <vector>

#include "CsvReader.h"
#include "CsvSweep.h"
#include "ProgressLine.h"
#include "Sweep.h"
#include "ToolError.h"
#include "Touchstone.h"
#include "dbif/DBIF_ComplexMatrix.h"
#include "dbif/DBIF_CompoundQueryCondition.h"
#include "dbif/DBIF_Exception.h"
#include "dbif/DBIF_Measurement.h"
#include "dbif/DBIF_QuarnQuery.h"
#include "dbif/DBIF_Routine.h"

const QStringList SweepImporter::FILE_OPTIONS{
    QStringLiteral("lot"),      QStringLiteral("wafer"),       QStringLiteral("die"),
    QStringLiteral("block"),    QStringLiteral("device"),      QStringLiteral("subsite"),
    QStringLiteral("position"), QStringLiteral("type"),        QStringLiteral("condition"),
    QStringLiteral("routine"),  QStringLiteral("temperature"), QStringLiteral("engine")};

namespace {

// The shares of a row's work, as the progress line counts them: reading it, putting it into the
// measurement, and (the rest) storing it. Measured on a sweep of five numeric columns; the rows per
// second correct the time left for files that differ.
const double READ_SHARE = 0.3;
const double FILL_SHARE = 0.2;
const int PROGRESS_ROWS = 1024;

// In the order of the columns that loadStoredIdentities reads.
const QStringList IDENTITY_OPTIONS{
    QStringLiteral("lot"),      QStringLiteral("wafer"),  QStringLiteral("die"),
    QStringLiteral("block"),    QStringLiteral("device"), QStringLiteral("subsite"),
    QStringLiteral("position"), QStringLiteral("type"),   QStringLiteral("condition")};

const QMap<QString, QString>& defaults() {
    static const QMap<QString, QString> values{{QStringLiteral("block"), QStringLiteral("B1")},
                                               {QStringLiteral("position"), QStringLiteral("0")},
                                               {QStringLiteral("type"), QStringLiteral("device")},
                                               {QStringLiteral("condition"), QStringLiteral("default")},
                                               {QStringLiteral("routine"), QStringLiteral("csv-import")},
                                               {QStringLiteral("engine"), QStringLiteral("multi")}};
    return values;
}

// Cells compared exactly, by their type.
bool sameCell(const QVariant& cell, const QVariant& value, const QString& dataType) {
    if (cell.isNull() || value.isNull())
        return cell.isNull() == value.isNull();
    if (dataType == QLatin1String("CM"))
        return cell.value<DBIF_ComplexMatrix>() == value.value<DBIF_ComplexMatrix>();
    return cell.toString() == value.toString();
}

// True when the stored measurement holds exactly the file's columns and cells: numbers compared as
// whole columns, bit for bit but for the sign of zero.
bool holds(const DBIF_Measurement& stored, const Sweep& sweep) {
    if (stored.rowCount() != static_cast<unsigned long long>(sweep.rowCount) ||
        stored.columnCount() != static_cast<unsigned>(sweep.columns.size()))
        return false;
    const QList<DBIF_MeasurementColumn> storedColumns = stored.getColumns();
    std::vector<double> numbers;
    std::vector<bool> present;
    for (const Sweep::Column& column : sweep.columns) {
        const QString key = DBIF_MeasurementColumn::computeKey(column.name, column.dataType);
        const auto found =
            std::find_if(storedColumns.begin(), storedColumns.end(),
                         [&key](const DBIF_MeasurementColumn& c) { return c.getKey() == key; });
        if (found == storedColumns.end())
            return false;
        if (column.dataType == QLatin1String("DB")) {
            if (!stored.getColumn(*found, numbers, present) || present != column.present)
                return false;
            for (long long r = 0; r < sweep.rowCount; ++r) {
                if (present[r] && !(numbers[r] == column.numbers[r]))
                    return false;
            }
            continue;
        }
        for (long long r = 0; r < sweep.rowCount; ++r) {
            if (!sameCell(column.cells[r], stored.getData(key, r), column.dataType))
                return false;
        }
    }
    return true;
}

// What a stored measurement and a file are compared on first: the IDENTITY_OPTIONS and the
// temperature (six digits, so equal temperatures always give equal texts).
QString identity(const QStringList& names, double temperature) {
    return (QStringList(names) << DBIF_Measurement::temperatureText(temperature)).join(QLatin1Char('|'));
}

QString userName() {
    const QString user = qEnvironmentVariable("USER");
    return user.isEmpty() ? QStringLiteral("dbif") : user;
}

}  // namespace

QList<SweepImporter::Job> SweepImporter::jobsFrom(const CommandLine& commandLine) {
    QMap<QString, QString> given = defaults();
    for (const QString& option : FILE_OPTIONS) {
        if (commandLine.has(option))
            given[option] = commandLine.value(option);
    }
    QList<Job> jobs;
    if (commandLine.has(QStringLiteral("manifest"))) {
        const QString manifest = commandLine.value(QStringLiteral("manifest"));
        const QVector<CsvReader::TextRecord> records = CsvReader::readAll(manifest);
        if (records.isEmpty())
            throw ToolError(QStringLiteral("%1:1: no header line").arg(manifest));
        const QStringList header = records[0].fields;
        for (const QString& name : header) {
            if (name != QLatin1String("file") && !FILE_OPTIONS.contains(name)) {
                throw ToolError(QStringLiteral("%1:%2: unknown column %3; columns are file, %4")
                                    .arg(manifest)
                                    .arg(records[0].line)
                                    .arg(name, FILE_OPTIONS.join(QStringLiteral(", "))));
            }
        }
        if (!header.contains(QStringLiteral("file")))
            throw ToolError(QStringLiteral("%1:%2: no column file").arg(manifest).arg(records[0].line));
        const QDir base = QFileInfo(manifest).dir();
        const bool allowOutside = commandLine.has(QStringLiteral("allow-outside"));
        for (int r = 1; r < records.size(); ++r) {
            if (records[r].fields.size() != header.size()) {
                throw ToolError(QStringLiteral("%1:%2: %3 fields, the header has %4")
                                    .arg(manifest)
                                    .arg(records[r].line)
                                    .arg(records[r].fields.size())
                                    .arg(header.size()));
            }
            Job job{QString(), given, {manifest, records[r].line, QString(), allowOutside}};
            for (int c = 0; c < header.size(); ++c) {
                const QString& value = records[r].fields[c];
                if (header[c] == QLatin1String("file")) {
                    job.path = QDir::cleanPath(base.filePath(value));
                    job.listedAt.written = value;
                } else if (!value.isEmpty()) {
                    job.options[header[c]] = value;
                }
            }
            jobs.append(job);
        }
    }
    for (const QString& path : commandLine.positional())
        jobs.append({path, given, {}});
    if (jobs.isEmpty())
        throw ToolError(QStringLiteral("import csv: no files given"), ToolError::USAGE);
    return jobs;
}

SweepImporter::SweepImporter(const DBIF_Connection& connection, Format format,
                             const CsvSweep::Dialect& dialect, const QString& runType, bool stopOnError,
                             bool quiet, bool verbose)
    : connection(connection),
      format(format),
      dialect(dialect),
      runType(runType),
      stopOnError(stopOnError),
      quiet(quiet),
      verbose(verbose) {}

SweepImporter::Summary SweepImporter::run(const QList<Job>& jobs) {
    Summary summary;
    QList<qint64> sizes;
    for (const Job& job : jobs)
        sizes << QFileInfo(job.path).size();
    ProgressLine progress(sizes, quiet);
    // The milliseconds keep this run's key apart from a run stored earlier in the same second (stored
    // times have whole seconds), whose entry the already-stored test may read into the cache.
    const QDateTime start = QDateTime::currentDateTime();
    runEntry = DBIF_CatalogEntry::get(connection, QStringLiteral("dbif"), QStringLiteral(DBIF_VERSION),
                                      runType, start, start, userName(), DBIF_MULTI_TABLE_STORAGE);
    loadStoredIdentities();
    connection.beginTransaction();
    for (int index = 0; index < jobs.size(); ++index) {
        const Job& job = jobs[index];
        progress.startFile(index);
        try {
            const long long rows = importFile(job, progress);
            if (rows < 0) {
                ++summary.skipped;
            } else {
                ++summary.stored;
                summary.rows += rows;
            }
        } catch (const ToolError& e) {
            ++summary.failed;
            progress.interrupt();
            std::cerr << e.what() << std::endl;
        } catch (const DBIF_Exception& e) {
            ++summary.failed;
            progress.interrupt();
            std::cerr << job.path.toStdString() << ": not stored: " << ToolError::reasonOf(e).toStdString()
                      << std::endl;
            if (verbose)
                std::cerr << e.what();
        }
        progress.finishFile();
        if (summary.failed > 0 && stopOnError)
            break;
    }
    connection.endTransaction();
    return summary;
}

long long SweepImporter::importFile(const Job& job, ProgressLine& progress) {
    QMap<QString, QString> options = job.options;
    for (const char* required : {"lot", "wafer", "die", "device", "temperature"}) {
        if (options.value(QString::fromLatin1(required)).isEmpty())
            throw ToolError(
                QStringLiteral("%1: no %2 (give --%2 or a manifest column)").arg(job.path, required));
    }
    bool ok = false;
    const double temperature = options.value(QStringLiteral("temperature")).toDouble(&ok);
    if (!ok || !std::isfinite(temperature)) {
        throw ToolError(QStringLiteral("%1: temperature '%2' is not a finite number")
                            .arg(job.path, options.value(QStringLiteral("temperature"))));
    }
    // Each device has its own place on the die, so that the latest measurement is kept per device:
    // by default the device name is its subsite.
    if (options.value(QStringLiteral("subsite")).isEmpty())
        options[QStringLiteral("subsite")] = options.value(QStringLiteral("device"));
    const int position = options.value(QStringLiteral("position")).toInt(&ok);
    if (!ok) {
        throw ToolError(QStringLiteral("%1: position '%2' is not a whole number")
                            .arg(job.path, options.value(QStringLiteral("position"))));
    }
    options[QStringLiteral("position")] = QString::number(position);
    const QString engineName = options.value(QStringLiteral("engine"));
    if (engineName != QLatin1String("sparse") && engineName != QLatin1String("multi"))
        throw ToolError(
            QStringLiteral("%1: engine '%2': expected sparse or multi").arg(job.path, engineName));
    const DBIF_StorageEngineType engine =
        engineName == QLatin1String("sparse") ? DBIF_SPARSE_TABLE_STORAGE : DBIF_MULTI_TABLE_STORAGE;

    // MySQL refuses a text longer than its column; SQLite keeps any.
    const QString driver = connection.getDatabaseDriverName();
    const qsizetype mostText = driver == QLatin1String("QMYSQL") || driver == QLatin1String("QMARIADB")
                                   ? Sweep::MOST_TEXT_CHARACTERS
                                   : 0;
    const auto reading = [&progress](double done, long long rows) {
        progress.advance(READ_SHARE * done * rows, rows);
    };
    int skipped = 0;
    Sweep sweep;
    {
        InputFile file =
            job.listedAt.manifest.isEmpty() ? InputFile(job.path) : InputFile(job.path, job.listedAt);
        sweep = format == CSV ? CsvSweep::read(job.path, file, dialect, skipped, mostText, reading)
                              : Touchstone::read(job.path, file.readAll());
    }
    sweep.byColumn();
    const long long rowCount = sweep.rowCount;
    progress.advance(READ_SHARE * rowCount, rowCount);
    if (skipped > 0) {
        std::cout << job.path.toStdString() << ": skipped " << skipped << " lines before the column names"
                  << std::endl;
    }

    // The same data for the same device at the same place, condition and temperature is stored
    // once. Only a file whose identity is stored already costs a query and a comparison of the data.
    QStringList names;
    for (const QString& option : IDENTITY_OPTIONS)
        names << options.value(option);
    const QString key = identity(names, temperature);
    if (storedIdentities.contains(key) && isStored(job.path, options, sweep, temperature))
        return -1;
    const QString user = userName();
    const QString block = options.value(QStringLiteral("block"));
    const DBIF_Die die = DBIF_Die::get(connection, options.value(QStringLiteral("lot")),
                                       options.value(QStringLiteral("wafer")),
                                       options.value(QStringLiteral("die")), block, user);
    const DBIF_Routine routine = DBIF_Routine::get(connection, options.value(QStringLiteral("routine")),
                                                   QStringLiteral("dbif import csv"), user);
    const DBIF_MeasurementCondition condition = DBIF_MeasurementCondition::get(
        connection, options.value(QStringLiteral("condition")), &runEntry, routine, engine);
    const DBIF_Device device = DBIF_Device::get(
        connection, options.value(QStringLiteral("device")), options.value(QStringLiteral("type")),
        options.value(QStringLiteral("subsite")), position, &runEntry, engine);
    DBIF_Measurement measurement =
        DBIF_Measurement::get(connection, die, &runEntry, device, condition, temperature, engine);
    // A re-measurement (another file of this run with the same key, or a stored measurement that the
    // already-stored test read) is a measurement of its own: the cached one makes way for a new one.
    if (measurement.getId() != -1 || measurement.rowCount() != 0) {
        DBIF_Measurement::getObjectCache().removeFromCache(connection, measurement);
        measurement =
            DBIF_Measurement::get(connection, die, &runEntry, device, condition, temperature, engine);
    }
    QList<DBIF_MeasurementColumn> columns;
    for (const Sweep::Column& column : std::as_const(sweep.columns))
        columns.append(measurement.addColumn(column.name, column.dataType));
    // Cells that are not numbers go one by one, a row at a time; without them the numbers' columns
    // add the rows.
    QList<int> others;
    for (int c = 0; c < columns.size(); ++c) {
        if (sweep.columns[c].dataType != QLatin1String("DB"))
            others << c;
    }
    for (long long r = 0; r < rowCount && !others.isEmpty(); ++r) {
        if (r > 0 && r % PROGRESS_ROWS == 0)
            progress.advance((READ_SHARE + FILL_SHARE * r / rowCount) * rowCount, rowCount);
        measurement.addRow();
        for (const int c : std::as_const(others)) {
            const QVariant& cell = sweep.columns[c].cells[r];
            if (!cell.isNull())
                measurement.set(columns[c], cell);
        }
    }
    // Each column of numbers is handed over whole and its copy here let go, so that the file's numbers
    // are in memory about once.
    std::unique_ptr<bool[]> mask;
    for (int c = 0; c < columns.size(); ++c) {
        Sweep::Column& column = sweep.columns[c];
        if (column.dataType != QLatin1String("DB"))
            continue;
        const bool complete =
            std::all_of(column.present.begin(), column.present.end(), [](bool p) { return p; });
        if (!complete && !mask)
            mask.reset(new bool[rowCount]);
        if (!complete)
            std::copy(column.present.begin(), column.present.end(), mask.get());
        measurement.setColumn(columns[c], column.numbers.data(), static_cast<int>(rowCount),
                              complete ? nullptr : mask.get());
        column.numbers = std::vector<double>();
        column.present = std::vector<bool>();
    }
    // One save is one unit of work: the file's rows and everything they need, or nothing. The line
    // stands still while it runs.
    progress.advance((READ_SHARE + FILL_SHARE) * rowCount, rowCount);
    measurement.save();
    storedIdentities.insert(key);
    return rowCount;
}

bool SweepImporter::isStored(const QString& path, const QMap<QString, QString>& options, const Sweep& sweep,
                             double temperature) {
    const auto text = [&options](const QString& table, const char* column, const char* option) {
        return DBIF_SingleColumnCondition(table, QString::fromLatin1(column), Equal,
                                          options.value(QString::fromLatin1(option)));
    };
    const DBIF_CompoundQueryCondition same =
        text(DBIF_Die::MASTER_TABLE_NAME, "lot", "lot") &&
        text(DBIF_Die::MASTER_TABLE_NAME, "wafer", "wafer") &&
        text(DBIF_Die::MASTER_TABLE_NAME, "die", "die") &&
        text(DBIF_Die::MASTER_TABLE_NAME, "block", "block") &&
        text(DBIF_Device::MASTER_TABLE_NAME, "name", "device") &&
        text(DBIF_Device::MASTER_TABLE_NAME, "parent_subsite_name", "subsite") &&
        DBIF_SingleColumnCondition(DBIF_Device::MASTER_TABLE_NAME, QStringLiteral("position_within_subsite"),
                                   Equal, options.value(QStringLiteral("position")).toInt()) &&
        text(DBIF_Device::MASTER_TABLE_NAME, "device_type", "type") &&
        text(DBIF_MeasurementCondition::MASTER_TABLE_NAME, "name", "condition") &&
        DBIF_SingleColumnCondition(DBIF_Measurement::MASTER_TABLE_NAME,
                                   DBIF_Measurement::TEMPERATURE.getColumnName(), Equal, temperature, false,
                                   true);
    for (const DBIF_Measurement& stored : DBIF_Measurement::query(connection, same, false)) {
        if (holds(stored, sweep)) {
            std::cout << path.toStdString() << ": already stored as measurement " << stored.getId()
                      << ", not stored again" << std::endl;
            return true;
        }
    }

    return false;
}

void SweepImporter::loadStoredIdentities() {
    DBIF_QuarnQuery query(connection);
    const QList<QPair<QString, QString>> columns{
        {DBIF_Die::MASTER_TABLE_NAME, QStringLiteral("lot")},
        {DBIF_Die::MASTER_TABLE_NAME, QStringLiteral("wafer")},
        {DBIF_Die::MASTER_TABLE_NAME, QStringLiteral("die")},
        {DBIF_Die::MASTER_TABLE_NAME, QStringLiteral("block")},
        {DBIF_Device::MASTER_TABLE_NAME, QStringLiteral("name")},
        {DBIF_Device::MASTER_TABLE_NAME, QStringLiteral("parent_subsite_name")},
        {DBIF_Device::MASTER_TABLE_NAME, QStringLiteral("position_within_subsite")},
        {DBIF_Device::MASTER_TABLE_NAME, QStringLiteral("device_type")},
        {DBIF_MeasurementCondition::MASTER_TABLE_NAME, QStringLiteral("name")},
        {DBIF_Measurement::MASTER_TABLE_NAME, QStringLiteral("temperature")}};
    for (const auto& column : columns)
        query.addColumn(column.first, column.second);
    query.setCondition(DBIF_SingleColumnCondition(DBIF_Measurement::MASTER_TABLE_NAME, QStringLiteral("id"),
                                                  IsNotNull, QVariant()));
    query.markDistinct(true);
    QSqlQuery rows = connection.query(query.generateSql(false), DBIF_QUERY_TIMING, __FILE__, __LINE__);
    while (rows.next()) {
        QStringList names;
        for (int c = 0; c + 1 < columns.size(); ++c)
            names << rows.value(c).toString();
        storedIdentities.insert(identity(names, rows.value(columns.size() - 1).toDouble()));
    }
}
