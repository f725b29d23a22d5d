// WhereExpression.cpp: the field table and the expression parser.
#include "WhereExpression.h"

#include <QRegularExpression>
#include <cmath>
#include <limits>

#include "Listing.h"
#include "ToolError.h"
#include "dbif/DBIF_CatalogEntry.h"
#include "dbif/DBIF_Device.h"
#include "dbif/DBIF_Die.h"
#include "dbif/DBIF_Measurement.h"
#include "dbif/DBIF_MeasurementColumn.h"
#include "dbif/DBIF_MeasurementCondition.h"
#include "dbif/DBIF_Routine.h"

namespace {

// What a field holds: text, a measured number (compared within the library's tolerance), or a
// whole number such as an id (compared exactly).
enum Holds { TEXT, NUMBER, WHOLE };

struct Field {
    const char* name;
    const QString& table;
    const char* column;
    Holds holds;
};

const QList<Field>& fields() {
    static const QList<Field> all{
        {"die.id", DBIF_Die::MASTER_TABLE_NAME, "id", WHOLE},
        {"die.lot", DBIF_Die::MASTER_TABLE_NAME, "lot", TEXT},
        {"die.wafer", DBIF_Die::MASTER_TABLE_NAME, "wafer", TEXT},
        {"die.die", DBIF_Die::MASTER_TABLE_NAME, "die", TEXT},
        {"die.block", DBIF_Die::MASTER_TABLE_NAME, "block", TEXT},
        {"device.id", DBIF_Device::MASTER_TABLE_NAME, "id", WHOLE},
        {"device.name", DBIF_Device::MASTER_TABLE_NAME, "name", TEXT},
        {"device.type", DBIF_Device::MASTER_TABLE_NAME, "device_type", TEXT},
        {"device.subsite", DBIF_Device::MASTER_TABLE_NAME, "parent_subsite_name", TEXT},
        {"device.position", DBIF_Device::MASTER_TABLE_NAME, "position_within_subsite", WHOLE},
        {"measurement_condition.id", DBIF_MeasurementCondition::MASTER_TABLE_NAME, "id", WHOLE},
        {"measurement_condition.name", DBIF_MeasurementCondition::MASTER_TABLE_NAME, "name", TEXT},
        {"routine.name", DBIF_Routine::MASTER_TABLE_NAME, "name", TEXT},
        {"measurement.id", DBIF_Measurement::MASTER_TABLE_NAME, "id", WHOLE},
        {"measurement.temperature", DBIF_Measurement::MASTER_TABLE_NAME, "temperature", NUMBER},
        {"measurement.user", DBIF_Measurement::MASTER_TABLE_NAME, "user", TEXT},
        {"catalog_entry.id", DBIF_CatalogEntry::MASTER_TABLE_NAME, "id", WHOLE},
        {"catalog_entry.application", DBIF_CatalogEntry::MASTER_TABLE_NAME, "application", TEXT},
        {"catalog_entry.application_version", DBIF_CatalogEntry::MASTER_TABLE_NAME, "application_version",
         TEXT},
        {"catalog_entry.run_type", DBIF_CatalogEntry::MASTER_TABLE_NAME, "run_type", TEXT},
        {"catalog_entry.start_time", DBIF_CatalogEntry::MASTER_TABLE_NAME, "start_time", TEXT},
        {"catalog_entry.user", DBIF_CatalogEntry::MASTER_TABLE_NAME, "user", TEXT},
    };
    return all;
}

Comparator comparatorOf(const QString& op) {
    if (op == QLatin1String("="))
        return Equal;
    if (op == QLatin1String("!="))
        return NotEqual;
    if (op == QLatin1String("<"))
        return Less;
    if (op == QLatin1String("<="))
        return LessOrEqual;
    if (op == QLatin1String(">"))
        return Greater;
    if (op == QLatin1String(">="))
        return GreaterOrEqual;
    return Like;
}

bool columnExists(const DBIF_Connection& connection, const QString& key) {
    return DBIF_MeasurementColumn::hasColumn(connection, key);
}

}  // namespace

QStringList WhereExpression::fieldNames() {
    QStringList names;
    for (const Field& field : fields())
        names << QString::fromLatin1(field.name);
    return names;
}

DBIF_SingleColumnCondition WhereExpression::parse(const DBIF_Connection& connection,
                                                  const QString& expression) {
    static const QRegularExpression grammar(QStringLiteral(
        "^\\s*([A-Za-z_][A-Za-z0-9_.]*(?:\\s*\\[[^\\]]*\\])?)\\s*(<=|>=|!=|=|<|>|~)\\s*(.*?)\\s*$"));
    const QRegularExpressionMatch match = grammar.match(expression);
    if (!match.hasMatch() || match.captured(3).isEmpty()) {
        throw ToolError(QStringLiteral("--where '%1': expected FIELD OP VALUE, OP one of = != < <= > >= ~")
                            .arg(expression),
                        ToolError::USAGE);
    }
    const QString name = match.captured(1);
    const Comparator comparator = comparatorOf(match.captured(2));
    QString text = match.captured(3);
    if (text.size() >= 2 && (text.startsWith(QLatin1Char('\'')) || text.startsWith(QLatin1Char('"'))) &&
        text.endsWith(text[0]))
        text = text.mid(1, text.size() - 2);
    bool isNumber = false;
    const double number = text.toDouble(&isNumber);
    // Numbers are compared within a tolerance of their size, which infinity and NaN do not have: such
    // a comparison would find nothing, silently. A text column may still hold the word. A number
    // written beyond the range of a double (1e309) is no number the database holds either.
    static const QRegularExpression numeral(QStringLiteral("^[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?$"));
    const bool outOfRange = !isNumber && numeral.match(text).hasMatch();
    const QString notFinite =
        outOfRange
            ? QStringLiteral("--where '%1': '%2' is beyond the range of a number").arg(expression, text)
            : QStringLiteral("--where '%1': '%2' is not a finite number").arg(expression, text);
    const bool finite = isNumber && std::isfinite(number);

    for (const Field& field : fields()) {
        if (name != QLatin1String(field.name))
            continue;
        const QString column = QString::fromLatin1(field.column);
        if (field.holds == TEXT || comparator == Like)
            return DBIF_SingleColumnCondition(field.table, column, comparator, text);
        if ((isNumber && !finite) || outOfRange)
            throw ToolError(notFinite, ToolError::USAGE);
        if (!isNumber) {
            throw ToolError(
                QStringLiteral("--where '%1': %2 is a number, not '%3'").arg(expression, name, text),
                ToolError::USAGE);
        }
        if (field.holds == NUMBER)
            return DBIF_SingleColumnCondition(field.table, column, comparator, number, false, true);
        // Ids and positions are whole numbers, compared exactly: 3 is not 3.0000000001, nor is 1e3
        // anything but 1000.
        if (number != std::floor(number) || std::abs(number) > std::numeric_limits<int>::max()) {
            throw ToolError(
                QStringLiteral("--where '%1': %2 is a whole number, not '%3'").arg(expression, name, text),
                ToolError::USAGE);
        }
        return DBIF_SingleColumnCondition(field.table, column, comparator, static_cast<int>(number));
    }
    // A data column: numeric when a number is compared and the column of numbers exists.
    const QString numberName = Listing::resolveColumn(connection, name, QStringLiteral("DB"));
    const QString textName = Listing::resolveColumn(connection, name, QStringLiteral("TX"));
    const QString numberKey =
        DBIF_MeasurementColumn::computeKey(numberName.isEmpty() ? name : numberName, QStringLiteral("DB"));
    const QString textKey =
        DBIF_MeasurementColumn::computeKey(textName.isEmpty() ? name : textName, QStringLiteral("TX"));
    if (finite && comparator != Like && columnExists(connection, numberKey)) {
        return DBIF_SingleColumnCondition(DBIF_Measurement::DATA_TABLE_NAME, numberKey, comparator, number,
                                          false, true);
    }
    if (columnExists(connection, textKey))
        return DBIF_SingleColumnCondition(DBIF_Measurement::DATA_TABLE_NAME, textKey, comparator, text);
    if (columnExists(connection, numberKey)) {
        if (((isNumber && !finite) || outOfRange) && comparator != Like)
            throw ToolError(notFinite, ToolError::USAGE);
        throw ToolError(
            QStringLiteral("--where '%1': %2 holds numbers, not '%3'").arg(expression, name, text),
            ToolError::USAGE);
    }
    throw ToolError(
        QStringLiteral("--where '%1': unknown field %2; fields are %3, or a measurement data column")
            .arg(expression, name, fieldNames().join(QStringLiteral(", "))),
        ToolError::USAGE);
}

std::unique_ptr<DBIF_QueryCondition> WhereExpression::parseAll(const DBIF_Connection& connection,
                                                               const QStringList& expressions) {
    std::unique_ptr<DBIF_QueryCondition> all;
    for (const QString& expression : expressions) {
        const DBIF_SingleColumnCondition next = parse(connection, expression);
        if (all)
            all = std::make_unique<DBIF_CompoundQueryCondition>(all.get(), And, &next);
        else
            all.reset(next.clone());
    }
    return all;
}
