// Listing.cpp: one table per entity kind, printed aligned or as CSV.
#include "Listing.h"

#include <QRegularExpression>
#include <algorithm>
#include <iomanip>

#include "CsvReader.h"
#include "ToolError.h"
#include "dbif/DBIF_ComplexNumber.h"
#include "dbif/DBIF_Die.h"

namespace {

QString timeText(const QDateTime& time) {
    return time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

// The kind's entities that satisfy the condition, by id; without a condition all of them (a query
// needs one, so it asks for every row with an id).
template <typename T>
QList<T> queryById(const DBIF_Connection& connection, const DBIF_QueryCondition* condition,
                   bool latestOnly = false) {
    const DBIF_SingleColumnCondition every(T::MASTER_TABLE_NAME, QStringLiteral("id"), IsNotNull, QVariant());
    QList<T> entities = T::query(connection, condition ? condition : &every, latestOnly);
    std::sort(entities.begin(), entities.end(), [](const T& a, const T& b) { return a.getId() < b.getId(); });
    return entities;
}

}  // namespace

QStringList Listing::measurementHeader() {
    return {QStringLiteral("id"),        QStringLiteral("lot"),         QStringLiteral("wafer"),
            QStringLiteral("die"),       QStringLiteral("device"),      QStringLiteral("device_type"),
            QStringLiteral("condition"), QStringLiteral("temperature"), QStringLiteral("run")};
}

QStringList Listing::measurementFields(const DBIF_Measurement& m) {
    const DBIF_Die die = m.getDie();
    const DBIF_Device device = m.getDevice();
    return {QString::number(m.getId()),
            die.getLot(),
            die.getWafer(),
            die.getDie(),
            device.getName(),
            device.getDeviceType(),
            m.getMeasurementCondition().getName(),
            DBIF_ComplexNumber::exactNumber(m.getTemperature()),
            QString::number(m.getCatalogEntry()->getId())};
}

QList<DBIF_Measurement> Listing::measurements(const DBIF_Connection& connection,
                                              const DBIF_QueryCondition* condition, bool latestOnly) {
    return queryById<DBIF_Measurement>(connection, condition, latestOnly);
}

QString Listing::columnName(const DBIF_Connection& connection, const QString& key) {
    return DBIF_MeasurementColumn::get(connection, key).getName();
}

bool Listing::namesColumn(const QString& columnName, const QString& name) {
    return columnName == name ||
           (columnName.startsWith(name + QStringLiteral(" [")) && columnName.endsWith(QLatin1Char(']')) &&
            !columnName.mid(name.size() + 2).contains(QLatin1Char('[')));
}

std::pair<QString, QString> Listing::nameAndUnit(const QString& columnName) {
    static const QRegularExpression unit(QStringLiteral("^(.*\\S)\\s*\\[(.*)\\]$"));
    const QRegularExpressionMatch match = unit.match(columnName);
    return match.hasMatch() ? std::make_pair(match.captured(1), match.captured(2))
                            : std::make_pair(columnName, QString());
}

QString Listing::resolveColumn(const DBIF_Connection& connection, const QString& name,
                               const QString& dataType) {
    if (DBIF_MeasurementColumn::hasColumn(connection, DBIF_MeasurementColumn::computeKey(name, dataType)))
        return name;
    // The column catalog is read whole into its cache by hasColumn.
    QStringList found;
    const auto columns = DBIF_ObjectCache<DBIF_MeasurementColumn>::connectionToKeyToObjectMap.value(
        connection.getObjectCacheKey());
    for (const DBIF_MeasurementColumn& column : columns) {
        if (column.getDataType() == dataType && namesColumn(column.getName(), name) &&
            !found.contains(column.getName()))
            found << column.getName();
    }
    if (found.size() > 1) {
        throw ToolError(QStringLiteral("%1 names columns in several units: %2; give one of them whole")
                            .arg(name, found.join(QStringLiteral(", "))),
                        ToolError::USAGE);
    }
    return found.value(0);
}

Listing::Table Listing::list(const DBIF_Connection& connection, const QString& kind,
                             const DBIF_QueryCondition* condition, bool latestOnly) {
    Table table;
    if (kind == QLatin1String("runs")) {
        table << QStringList{"id", "application", "version", "run_type", "start_time", "user"};
        for (const DBIF_CatalogEntry& e : queryById<DBIF_CatalogEntry>(connection, condition)) {
            table << QStringList{QString::number(e.getId()), e.getApplication(),
                                 e.getApplicationVersion(),  e.getRunType(),
                                 timeText(e.getStartTime()), e.getUser()};
        }
    } else if (kind == QLatin1String("dies")) {
        table << QStringList{"id", "lot", "wafer", "die", "block"};
        for (const DBIF_Die& d : queryById<DBIF_Die>(connection, condition))
            table << QStringList{QString::number(d.getId()), d.getLot(), d.getWafer(), d.getDie(),
                                 d.getBlock()};
    } else if (kind == QLatin1String("devices")) {
        table << QStringList{"id", "name", "type", "subsite", "position", "run"};
        for (const DBIF_Device& d : queryById<DBIF_Device>(connection, condition)) {
            table << QStringList{QString::number(d.getId()),
                                 d.getName(),
                                 d.getDeviceType(),
                                 d.getParentSubsiteName(),
                                 QString::number(d.getPositionWithinSubsite()),
                                 QString::number(d.getCatalogEntry()->getId())};
        }
    } else if (kind == QLatin1String("measurements")) {
        table << (measurementHeader() << QStringLiteral("rows") << QStringLiteral("columns"));
        for (const DBIF_Measurement& m : measurements(connection, condition, latestOnly)) {
            QStringList names;
            for (const QString& key : m.getColumnKeys())
                names << columnName(connection, key);
            table << (measurementFields(m) << QString::number(m.rowCount()) << names.join(QLatin1Char(' ')));
        }
    } else {
        throw ToolError(
            QStringLiteral("ls: unknown kind '%1'; kinds are runs, dies, devices, measurements").arg(kind),
            ToolError::USAGE);
    }
    return table;
}

void Listing::print(std::ostream& out, const Table& table, bool csv) {
    if (csv) {
        for (const QStringList& row : table) {
            QStringList quoted;
            for (const QString& field : row)
                quoted << CsvReader::quote(field);
            out << quoted.join(QLatin1Char(',')).toStdString() << '\n';
        }
        return;
    }
    QList<int> widths;
    for (const QStringList& row : table) {
        while (widths.size() < row.size())
            widths << 0;
        for (int c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], static_cast<int>(row[c].size()));
    }
    for (int r = 0; r < table.size(); ++r) {
        QString line;
        for (int c = 0; c < table[r].size(); ++c)
            line += (c ? QStringLiteral("  ") : QString()) + table[r][c].leftJustified(widths[c]);
        out << line.trimmed().toStdString() << '\n';
        if (r == 0) {
            QStringList rules;
            for (const int width : widths)
                rules << QString(width, QLatin1Char('-'));
            out << rules.join(QStringLiteral("  ")).toStdString() << '\n';
        }
    }
}
