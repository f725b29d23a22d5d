// dbif: the command-line tool over a campaign database. It takes a prober's sweep files into the
// database, lists what is stored, exports it as one long CSV or a netCDF file for xarray and plots
// it, and copies runs from one database into another (a prober's file to the server), through the
// library's public API only. Every failure is one line on standard error (--verbose
// adds the library's report of a database failure) and a non-zero exit status.
#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "CampaignDatabase.h"
#include "CommandLine.h"
#include "Listing.h"
#include "NetcdfExport.h"
#include "ProgressLine.h"
#include "SvgPlot.h"
#include "SweepImporter.h"
#include "TidyExport.h"
#include "ToolError.h"
#include "Touchstone.h"
#include "WhereExpression.h"
#include "dbif/DBIF_Exception.h"
#include "dbif/DBIF_RunCopy.h"

namespace {

const char* const USAGE =
    "usage: dbif [--db DATABASE] COMMAND ...\n"
    "  import csv|touchstone FILE... [--manifest FILE [--allow-outside]] [--lot L] [--wafer W] [--die D]\n"
    "             [--block B] [--device NAME] [--subsite S] [--position N] [--type T] [--condition C]\n"
    "             [--routine R] [--temperature T] [--run-type R] [--engine sparse|multi]\n"
    "             [--delimiter ,|;|tab] [--decimal .|,] [--skip LINES] [--stop-on-error] [--quiet]\n"
    "  ls runs|dies|devices|measurements [--where EXPR]... [--latest] [--csv]\n"
    "  export csv [--where EXPR]... [--latest] [--format ri|ma|db] -o FILE\n"
    "  export netcdf [--where EXPR]... [--latest] -o FILE.nc\n"
    "  export touchstone ID -o FILE.sNp|FILE.ts\n"
    "  copy --from DATABASE --to DATABASE [--where EXPR]... [--engine sparse|multi] [--dry-run] [--quiet]\n"
    "  plot --where EXPR... --x COLUMN --y COLUMN [--log-y] [--abs] [--group FIELD] [--style FIELD]\n"
    "       [--curve-by COLUMN] [--xlim LOW,HIGH] [--ylim LOW,HIGH] [--title TEXT] [--latest]\n"
    "       [--db-mag|--phase|--smith] -o FILE.svg|FILE.png\n"
    "DATABASE is a SQLite file (default ./campaign.db) or mysql://user@host:port/database with the\n"
    "password in DBIF_PASSWORD. EXPR is FIELD OP VALUE, OP one of = != < <= > >= ~ (like).\n"
    "--verbose adds the library's report to a database failure.\n"
    "A manifest's files are read only when they are regular files inside the manifest's folder;\n"
    "--allow-outside lets them lie elsewhere. No -o FILE may be the database file.\n";

bool verbose = false;

// "1 file", "2 files", "0 files": the count and the noun as a summary line says them.
std::string counted(long long count, const char* noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

QStringList withCommon(QStringList options) {
    return options << QStringLiteral("db");
}

// "-o FILE" is the one short option; it becomes "--output FILE".
QStringList expandShortOptions(QStringList arguments) {
    for (QString& argument : arguments) {
        if (argument == QLatin1String("-o"))
            argument = QStringLiteral("--output");
    }
    return arguments;
}

QString databaseLocation(const CommandLine& commandLine) {
    return commandLine.value(QStringLiteral("db"), QString::fromLatin1(CampaignDatabase::DEFAULT_LOCATION));
}

// Every command that writes a file takes its name here, before the database is opened (which would
// create a missing SQLite file) and before anything is written.
QString requiredOutput(const CommandLine& commandLine) {
    if (!commandLine.has(QStringLiteral("output")))
        throw ToolError(QStringLiteral("missing -o FILE"), ToolError::USAGE);
    const QString output = commandLine.value(QStringLiteral("output"));
    if (CampaignDatabase::holdsDatabase(databaseLocation(commandLine), output)) {
        throw ToolError(QStringLiteral("-o %1: that is the database %2; not overwritten")
                            .arg(output, databaseLocation(commandLine)),
                        ToolError::USAGE);
    }
    return output;
}

DBIF_Connection openDatabase(const CommandLine& commandLine) {
    return CampaignDatabase::open(databaseLocation(commandLine));
}

// The measurements an export or a plot takes: those of the --where conditions, with --latest the
// latest of each combination.
QList<DBIF_Measurement> selectedMeasurements(const CommandLine& commandLine,
                                             const DBIF_Connection& connection) {
    const std::unique_ptr<DBIF_QueryCondition> condition =
        WhereExpression::parseAll(connection, commandLine.values(QStringLiteral("where")));
    return Listing::measurements(connection, condition.get(), commandLine.has(QStringLiteral("latest")));
}

int importFiles(SweepImporter::Format format, const QStringList& arguments) {
    QStringList valueOptions = SweepImporter::FILE_OPTIONS;
    valueOptions << QStringLiteral("manifest") << QStringLiteral("run-type") << QStringLiteral("delimiter")
                 << QStringLiteral("decimal") << QStringLiteral("skip");
    const CommandLine commandLine(
        arguments, withCommon(valueOptions),
        {QStringLiteral("stop-on-error"), QStringLiteral("quiet"), QStringLiteral("allow-outside")});
    const QList<SweepImporter::Job> jobs = SweepImporter::jobsFrom(commandLine);
    const CsvSweep::Dialect dialect = CsvSweep::parse(commandLine.value(QStringLiteral("delimiter")),
                                                      commandLine.value(QStringLiteral("decimal")),
                                                      commandLine.value(QStringLiteral("skip")));
    DBIF_Connection connection = openDatabase(commandLine);
    SweepImporter importer(
        connection, format, dialect, commandLine.value(QStringLiteral("run-type"), QStringLiteral("import")),
        commandLine.has(QStringLiteral("stop-on-error")), commandLine.has(QStringLiteral("quiet")), verbose);
    const SweepImporter::Summary summary = importer.run(jobs);
    std::cout << "stored " << counted(summary.stored, "file") << " (" << counted(summary.rows, "row") << ")";
    if (importer.runId() != -1)
        std::cout << " in run " << importer.runId();
    std::cout << ", " << summary.skipped << " already stored, " << summary.failed << " failed" << std::endl;
    return summary.failed > 0 ? ToolError::FAILURE : 0;
}

int list(const QStringList& arguments) {
    const CommandLine commandLine(arguments, withCommon({QStringLiteral("where")}),
                                  {QStringLiteral("latest"), QStringLiteral("csv")});
    if (commandLine.positional().size() != 1)
        throw ToolError(QStringLiteral("ls: name one of runs, dies, devices, measurements"),
                        ToolError::USAGE);
    DBIF_Connection connection = openDatabase(commandLine);
    const std::unique_ptr<DBIF_QueryCondition> condition =
        WhereExpression::parseAll(connection, commandLine.values(QStringLiteral("where")));
    const Listing::Table table = Listing::list(connection, commandLine.positional().first(), condition.get(),
                                               commandLine.has(QStringLiteral("latest")));
    Listing::print(std::cout, table, commandLine.has(QStringLiteral("csv")));
    return 0;
}

int exportCsv(const QStringList& arguments) {
    const CommandLine commandLine(
        arguments, withCommon({QStringLiteral("where"), QStringLiteral("output"), QStringLiteral("format")}),
        {QStringLiteral("latest")});
    if (!commandLine.positional().isEmpty())
        throw ToolError(
            QStringLiteral("export csv: unexpected argument %1").arg(commandLine.positional().first()),
            ToolError::USAGE);
    const int format =
        TidyExport::complexFormats().indexOf(commandLine.value(QStringLiteral("format"), "ri"));
    if (format < 0) {
        throw ToolError(QStringLiteral("--format %1: expected one of %2")
                            .arg(commandLine.value(QStringLiteral("format")),
                                 TidyExport::complexFormats().join(QStringLiteral(", "))),
                        ToolError::USAGE);
    }
    const QString output = requiredOutput(commandLine);
    DBIF_Connection connection = openDatabase(commandLine);
    const QList<DBIF_Measurement> measurements = selectedMeasurements(commandLine, connection);
    const long long rows =
        TidyExport::write(connection, measurements, TidyExport::ComplexFormat(format), output);
    std::cout << "wrote " << rows << " rows of " << measurements.size() << " measurements to "
              << output.toStdString() << std::endl;
    return 0;
}

int exportNetcdf(const QStringList& arguments) {
    const CommandLine commandLine(arguments, withCommon({QStringLiteral("where"), QStringLiteral("output")}),
                                  {QStringLiteral("latest")});
    if (!commandLine.positional().isEmpty())
        throw ToolError(
            QStringLiteral("export netcdf: unexpected argument %1").arg(commandLine.positional().first()),
            ToolError::USAGE);
    const QString output = requiredOutput(commandLine);
    DBIF_Connection connection = openDatabase(commandLine);
    const QList<DBIF_Measurement> measurements = selectedMeasurements(commandLine, connection);
    const NetcdfExport::Summary summary = NetcdfExport::write(measurements, output);
    std::cout << "wrote " << counted(summary.rows, "row") << " of "
              << counted(measurements.size(), "measurement") << " (" << counted(summary.variables, "variable")
              << ") to " << output.toStdString() << std::endl;
    return 0;
}

int exportTouchstone(const QStringList& arguments) {
    const CommandLine commandLine(arguments, withCommon({QStringLiteral("output")}), {});
    bool ok = false;
    const int id = commandLine.positional().value(0).toInt(&ok);
    if (commandLine.positional().size() != 1 || !ok)
        throw ToolError(QStringLiteral("export touchstone: give one measurement id"), ToolError::USAGE);
    const QString output = requiredOutput(commandLine);
    DBIF_Connection connection = openDatabase(commandLine);
    const DBIF_SingleColumnCondition byId(DBIF_Measurement::MASTER_TABLE_NAME,
                                          DBIF_Measurement::ID.getColumnName(), Equal, id);
    const QList<DBIF_Measurement> found = DBIF_Measurement::query(connection, byId);
    if (found.isEmpty())
        throw ToolError(QStringLiteral("export touchstone: no measurement %1").arg(id));
    Touchstone::write(found.first(), output);
    std::cout << "wrote measurement " << id << " to " << output.toStdString() << std::endl;
    return 0;
}

// "copied 3 runs (12 measurements, 12000 rows), 1 already on the target"; with --dry-run what would be.
std::string copySummary(const DBIF_RunCopy::Summary& summary, bool dryRun) {
    if (summary.copied.isEmpty()) {
        return summary.present.isEmpty()
                   ? std::string("nothing to copy: no run selected")
                   : "nothing to copy: " + counted(summary.present.size(), "run") + " already on the target";
    }
    std::string line =
        std::string(dryRun ? "would copy " : "copied ") + counted(summary.copied.size(), "run") + " (" +
        counted(summary.measurements, "measurement") + ", " + counted(summary.rows, "row") + ")";
    if (!summary.present.isEmpty())
        line += ", " + std::to_string(summary.present.size()) + " already on the target";
    return line;
}

int copyRuns(const QStringList& arguments) {
    const CommandLine commandLine(arguments,
                                  withCommon({QStringLiteral("from"), QStringLiteral("to"),
                                              QStringLiteral("where"), QStringLiteral("engine")}),
                                  {QStringLiteral("dry-run"), QStringLiteral("quiet")});
    if (!commandLine.positional().isEmpty())
        throw ToolError(QStringLiteral("copy: unexpected argument %1").arg(commandLine.positional().first()),
                        ToolError::USAGE);
    const QString from = commandLine.value(QStringLiteral("from")),
                  to = commandLine.value(QStringLiteral("to"));
    if (from.isEmpty() || to.isEmpty())
        throw ToolError(QStringLiteral("copy: give --from DATABASE and --to DATABASE"), ToolError::USAGE);
    if (from == to || CampaignDatabase::holdsDatabase(from, to))
        throw ToolError(QStringLiteral("copy: --from and --to name one database"), ToolError::USAGE);
    const QString engineName = commandLine.value(QStringLiteral("engine"));
    if (!engineName.isEmpty() && engineName != QLatin1String("sparse") &&
        engineName != QLatin1String("multi"))
        throw ToolError(QStringLiteral("--engine %1: expected sparse or multi").arg(engineName),
                        ToolError::USAGE);
    const bool dryRun = commandLine.has(QStringLiteral("dry-run"));
    DBIF_Connection source = CampaignDatabase::open(from);
    // A dry run writes nothing, not even a new SQLite file: a target file that does not exist yet holds
    // no run, as an empty database in a temporary folder does.
    QTemporaryDir empty;
    const bool newFile = dryRun && !to.contains(QLatin1String("://")) &&
                         !to.startsWith(QLatin1String("mysql:")) && !QFileInfo::exists(to);
    DBIF_Connection target =
        CampaignDatabase::open(newFile ? empty.filePath(QStringLiteral("target.db")) : to);
    const std::unique_ptr<DBIF_QueryCondition> condition =
        WhereExpression::parseAll(source, commandLine.values(QStringLiteral("where")));
    const DBIF_SingleColumnCondition every(DBIF_CatalogEntry::MASTER_TABLE_NAME, QStringLiteral("id"),
                                           IsNotNull, QVariant());
    QList<DBIF_CatalogEntry> runs = DBIF_CatalogEntry::query(source, condition ? condition.get() : &every);
    std::sort(runs.begin(), runs.end(),
              [](const DBIF_CatalogEntry& a, const DBIF_CatalogEntry& b) { return a.getId() < b.getId(); });
    DBIF_RunCopy copy(source, target);
    if (!engineName.isEmpty())
        copy.setStorageEngine(engineName == QLatin1String("sparse") ? DBIF_SPARSE_TABLE_STORAGE
                                                                    : DBIF_MULTI_TABLE_STORAGE);
    DBIF_RunCopy::Summary summary = copy.plan(runs);
    if (!dryRun && !summary.copied.isEmpty()) {
        // Each run is a "file" of the progress line, its rows its size, so the time left counts rows.
        ProgressLine line(summary.runRows, commandLine.has(QStringLiteral("quiet")), QStringLiteral("run"));
        int current = -1;
        copy.setProgressCallback([&](const DBIF_RunCopy::Progress& progress) {
            if (progress.runsDone != current) {
                if (current >= 0)
                    line.finishFile();
                current = progress.runsDone;
                if (current == progress.runs)
                    return;
                line.startFile(current);
            }
            line.advance(static_cast<double>(progress.runRowsDone), progress.runRows);
        });
        summary = copy.copy(runs);
    }
    for (const QString& refused : std::as_const(summary.refused))
        std::cerr << "dbif: copy: " << refused.toStdString() << std::endl;
    std::cout << copySummary(summary, dryRun) << std::endl;
    return summary.refused.isEmpty() ? 0 : ToolError::FAILURE;
}

// "LOW,HIGH" of --xlim and --ylim.
std::optional<std::pair<double, double>> limits(const CommandLine& commandLine, const QString& option) {
    if (!commandLine.has(option))
        return std::nullopt;
    const QStringList parts = commandLine.value(option).split(QLatin1Char(','));
    bool lowOk = false, highOk = false;
    const double low = parts.value(0).toDouble(&lowOk), high = parts.value(1).toDouble(&highOk);
    if (parts.size() != 2 || !lowOk || !highOk || !std::isfinite(low) || !std::isfinite(high) ||
        low >= high) {
        throw ToolError(QStringLiteral("--%1 %2: expected LOW,HIGH, two finite numbers, LOW below HIGH")
                            .arg(option, commandLine.value(option)),
                        ToolError::USAGE);
    }
    return std::make_pair(low, high);
}

int plot(const QStringList& arguments) {
    const CommandLine commandLine(
        arguments,
        withCommon({QStringLiteral("where"), QStringLiteral("x"), QStringLiteral("y"),
                    QStringLiteral("group"), QStringLiteral("style"), QStringLiteral("curve-by"),
                    QStringLiteral("xlim"), QStringLiteral("ylim"), QStringLiteral("title"),
                    QStringLiteral("output")}),
        {QStringLiteral("log-y"), QStringLiteral("latest"), QStringLiteral("abs"), QStringLiteral("db-mag"),
         QStringLiteral("phase"), QStringLiteral("smith")});
    if (!commandLine.positional().isEmpty())
        throw ToolError(QStringLiteral("plot: unexpected argument %1").arg(commandLine.positional().first()),
                        ToolError::USAGE);
    const bool smith = commandLine.has(QStringLiteral("smith"));
    if ((!commandLine.has(QStringLiteral("x")) && !smith) || !commandLine.has(QStringLiteral("y")))
        throw ToolError(QStringLiteral("plot: give --x COLUMN and --y COLUMN"), ToolError::USAGE);
    const QString output = requiredOutput(commandLine);
    SvgPlot::Request request;
    request.x = commandLine.value(QStringLiteral("x"));
    request.y = commandLine.value(QStringLiteral("y"));
    request.logY = commandLine.has(QStringLiteral("log-y"));
    request.absolute = commandLine.has(QStringLiteral("abs"));
    request.group = commandLine.value(QStringLiteral("group"), QStringLiteral("temperature"));
    request.style = commandLine.value(QStringLiteral("style"));
    request.curveBy = commandLine.value(QStringLiteral("curve-by"));
    request.xLimits = limits(commandLine, QStringLiteral("xlim"));
    request.yLimits = limits(commandLine, QStringLiteral("ylim"));
    request.title = commandLine.value(QStringLiteral("title"));
    const int views =
        commandLine.has(QStringLiteral("db-mag")) + commandLine.has(QStringLiteral("phase")) + smith;
    if (views > 1)
        throw ToolError(QStringLiteral("plot: give one of --db-mag, --phase and --smith"), ToolError::USAGE);
    request.element = commandLine.has(QStringLiteral("db-mag"))  ? SvgPlot::DB_MAGNITUDE
                      : commandLine.has(QStringLiteral("phase")) ? SvgPlot::PHASE
                      : smith                                    ? SvgPlot::SMITH
                                                                 : SvgPlot::MAGNITUDE;
    for (const QString& field : {request.group, request.style}) {
        if (!field.isEmpty() && !SvgPlot::groupFields().contains(field)) {
            throw ToolError(QStringLiteral("--%1 %2: expected one of %3")
                                .arg(field == request.group ? "group" : "style", field,
                                     SvgPlot::groupFields().join(QStringLiteral(", "))),
                            ToolError::USAGE);
        }
    }
    DBIF_Connection connection = openDatabase(commandLine);
    const QList<DBIF_Measurement> measurements = selectedMeasurements(commandLine, connection);
    const SvgPlot::Result result = SvgPlot::write(measurements, request, output);
    for (const QString& line : result.leftOut)
        std::cerr << "dbif: plot: " << line.toStdString() << std::endl;
    std::cout << "wrote " << counted(result.curves, "curve") << " to " << output.toStdString() << std::endl;
    return 0;
}

int dispatch(QStringList arguments) {
    // --verbose may stand anywhere: a database failure is then followed by the library's report.
    verbose = arguments.removeAll(QStringLiteral("--verbose")) > 0;
    // --db may come before the command as well.
    QStringList common;
    while (!arguments.isEmpty() && arguments.first().startsWith(QLatin1String("--db"))) {
        common << arguments.takeFirst();
        if (!common.last().contains(QLatin1Char('=')) && !arguments.isEmpty())
            common << arguments.takeFirst();
    }
    // Asked for, the usage is the output; without a command it explains a usage error.
    if (arguments.isEmpty()) {
        std::cerr << USAGE;
        return ToolError::USAGE;
    }
    if (arguments.first() == QLatin1String("--help") || arguments.first() == QLatin1String("help")) {
        std::cout << USAGE;
        return 0;
    }
    const QString command = arguments.takeFirst();
    const QString object = arguments.isEmpty() ? QString() : arguments.first();
    arguments = expandShortOptions(arguments) + common;
    if (command == QLatin1String("import") && object == QLatin1String("csv"))
        return importFiles(SweepImporter::CSV, arguments.mid(1));
    if (command == QLatin1String("import") && object == QLatin1String("touchstone"))
        return importFiles(SweepImporter::TOUCHSTONE, arguments.mid(1));
    if (command == QLatin1String("export") && object == QLatin1String("touchstone"))
        return exportTouchstone(arguments.mid(1));
    if (command == QLatin1String("ls"))
        return list(arguments);
    if (command == QLatin1String("export") && object == QLatin1String("csv"))
        return exportCsv(arguments.mid(1));
    if (command == QLatin1String("export") && object == QLatin1String("netcdf"))
        return exportNetcdf(arguments.mid(1));
    if (command == QLatin1String("plot"))
        return plot(arguments);
    if (command == QLatin1String("copy"))
        return copyRuns(arguments);
    throw ToolError(QStringLiteral("unknown command '%1'; try dbif --help")
                        .arg((command + QLatin1Char(' ') + object).trimmed()),
                    ToolError::USAGE);
}

// Qt's own warnings (a missing runtime folder for the off-screen platform, say) are not the user's
// business; only critical messages are passed on, each as one line.
void messageHandler(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::cerr << "dbif: " << message.simplified().toStdString() << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
    // Only plot draws text, which needs the GUI module's fonts; it renders off screen.
    qInstallMessageHandler(messageHandler);
    // Qt sees only the program's name: options such as --style are the tool's, and the GUI
    // application would take them for its own.
    static int qtArgc = 1;
    std::unique_ptr<QCoreApplication> application;
    if (std::find(argv + 1, argv + argc, std::string("plot")) != argv + argc) {
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        application = std::make_unique<QGuiApplication>(qtArgc, argv);
    } else {
        application = std::make_unique<QCoreApplication>(qtArgc, argv);
    }
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    try {
        return dispatch(arguments);
    } catch (const ToolError& e) {
        std::cerr << "dbif: " << e.what() << std::endl;
        return e.exitStatus();
    } catch (const DBIF_Exception& e) {
        std::cerr << "dbif: database error: " << ToolError::reasonOf(e).toStdString() << std::endl;
        if (verbose)
            std::cerr << e.what();
        return ToolError::FAILURE;
    } catch (const std::exception& e) {
        std::cerr << "dbif: " << e.what() << std::endl;
        return ToolError::FAILURE;
    }
}
