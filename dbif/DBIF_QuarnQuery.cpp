// DBIF_QuarnQuery.cpp: latest-only preprocessing, the expansion of base data tables into the physical
// tables of the multi-table layout, and the data-loading statement of the storage engines.
// The base statement is cut once at every table reference to a base data table; each union part is
// then the pieces with one table per slot, so a thousand physical tables cost a thousand joins of
// short texts, not a thousand searches through the statement.
#include "dbif/DBIF_QuarnQuery.h"

#include <QSet>
#include <QStringView>
#include <algorithm>

#include "dbif/DBAL_MultiTable.h"
#include "dbif/DBIF_CatalogEntry.h"
#include "dbif/DBIF_CatalogEntryColumn.h"
#include "dbif/DBIF_Device.h"
#include "dbif/DBIF_DeviceColumn.h"
#include "dbif/DBIF_Measurement.h"
#include "dbif/DBIF_MeasurementColumn.h"
#include "dbif/DBIF_MeasurementCondition.h"
#include "dbif/DBIF_MeasurementConditionColumn.h"
#include "dbif/DBIF_QuarnJoinAlgorithm.h"
#include "dbif/DBIF_Setup.h"
#include "dbif/DBIF_SetupColumn.h"
#include "dbif/DBIF_SingleColumnCondition.h"

namespace {

const QString LATEST_MEASUREMENT = QStringLiteral("latest_measurement");
const QString LATEST_SETUP = QStringLiteral("latest_setup");

// The kinds' base data tables in the order the union parts nest them (the last varies fastest).
const QStringList& baseDataTables() {
    static const QStringList names{DBIF_CatalogEntry::DATA_TABLE_NAME, DBIF_Device::DATA_TABLE_NAME,
                                   DBIF_Measurement::DATA_TABLE_NAME,
                                   DBIF_MeasurementCondition::DATA_TABLE_NAME, DBIF_Setup::DATA_TABLE_NAME};
    return names;
}

bool isIdentifierCharacter(QChar c) {
    // Non-ASCII characters count too, so that a base name is never matched inside a longer word.
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
           (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('_') || c.unicode() > 127;
}

// The position after the quoted text that opens at start: a text literal ('...', with '' inside and,
// on MySQL, backslash escapes) or a quoted identifier ("...", with "" inside). An unclosed one runs
// to the end.
qsizetype endOfQuoted(const QString& sql, qsizetype start, bool backslashEscapes) {
    const QChar quote = sql.at(start);
    for (qsizetype i = start + 1; i < sql.size(); ++i) {
        const QChar c = sql.at(i);
        if (backslashEscapes && c == QLatin1Char('\\')) {
            ++i;
        } else if (c == quote) {
            if (i + 1 < sql.size() && sql.at(i + 1) == quote)
                ++i;
            else
                return i + 1;
        }
    }
    return sql.size();
}

// A statement cut at the table references to base data tables: pieces.size() == slotKinds.size() + 1,
// and slot i (an index into baseDataTables()) stands between pieces i and i + 1.
struct CutStatement {
    QStringList pieces;
    QList<int> slotKinds;
};

// Only a whole identifier that is a base data table's name is a table reference, and not when it is
// quoted (a text value or a quoted column name), follows a "." (a column name) or follows AS (a column
// alias). So measurement_data_3 and the alias measurement_data_v stay as they are, and every union
// part keeps the aliases that the caller's columns have.
CutStatement cutAtBaseDataTables(const QString& sql, bool backslashEscapes) {
    CutStatement cut;
    qsizetype pieceStart = 0;
    QStringView previousWord;
    qsizetype i = 0;
    while (i < sql.size()) {
        const QChar c = sql.at(i);
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            i = endOfQuoted(sql, i, backslashEscapes && c == QLatin1Char('\''));
            previousWord = QStringView();
            continue;
        }
        if (!isIdentifierCharacter(c)) {
            if (!c.isSpace())
                previousWord = QStringView();
            ++i;
            continue;
        }
        qsizetype end = i + 1;
        while (end < sql.size() && isIdentifierCharacter(sql.at(end)))
            ++end;
        const QStringView word = QStringView(sql).mid(i, end - i);
        const bool alias = previousWord == QLatin1String("AS");
        const bool columnName = i > 0 && sql.at(i - 1) == QLatin1Char('.');
        if (!alias && !columnName) {
            const qsizetype kind = baseDataTables().indexOf(word);
            if (kind >= 0) {
                cut.pieces.append(sql.mid(pieceStart, i - pieceStart));
                cut.slotKinds.append(int(kind));
                pieceStart = end;
            }
        }
        previousWord = word;
        i = end;
    }
    cut.pieces.append(sql.mid(pieceStart));
    return cut;
}

// One part per combination of one table of every kind, the first kind varying slowest; none when a
// kind has no table.
QStringList expandCombinations(const CutStatement& cut, const QList<QStringList>& tables) {
    QStringList parts;
    for (const QStringList& kindTables : tables) {
        if (kindTables.isEmpty())
            return parts;
    }
    qsizetype fixedLength = 0;
    for (const QString& piece : cut.pieces)
        fixedLength += piece.size();
    QList<qsizetype> chosen(tables.size(), 0);
    while (true) {
        QString part;
        part.reserve(fixedLength + cut.slotKinds.size() * 32);
        part += cut.pieces.first();
        for (qsizetype s = 0; s < cut.slotKinds.size(); ++s) {
            const int kind = cut.slotKinds.at(s);
            part += tables.at(kind).at(chosen.at(kind));
            part += cut.pieces.at(s + 1);
        }
        parts.append(part);
        qsizetype k = tables.size() - 1;
        while (k >= 0 && ++chosen[k] == tables.at(k).size()) {
            chosen[k] = 0;
            --k;
        }
        if (k < 0)
            return parts;
    }
}

// The base table first, then the numbered tables by number: every name of one kind is the base name
// or the base name, "_" and a number, so shorter sorts first and equal lengths sort as text.
QStringList inTableOrder(const QSet<QString>& names) {
    QStringList sorted(names.cbegin(), names.cend());
    std::sort(sorted.begin(), sorted.end(), [](const QString& a, const QString& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    return sorted;
}

}  // namespace

DBIF_QuarnQuery::DBIF_QuarnQuery() = default;

DBIF_QuarnQuery::DBIF_QuarnQuery(const DBIF_Connection& connection)
    : DBIF_Query(connection), joinAlgorithm(std::make_shared<DBIF_QuarnJoinAlgorithm>()) {
    setJoinAlgorithm(joinAlgorithm.get());
}

DBIF_QuarnQuery::DBIF_QuarnQuery(const DBIF_QuarnQuery& other) = default;

DBIF_QuarnQuery& DBIF_QuarnQuery::operator=(const DBIF_QuarnQuery& other) = default;

DBIF_QuarnQuery::~DBIF_QuarnQuery() = default;

void DBIF_QuarnQuery::preprocessQuery() {
    collectTables();
    if (isMarkedLatestOnly()) {
        const QSet<QString> tables = getTables();
        if (tables.contains(DBIF_Setup::MASTER_TABLE_NAME) || tables.contains(DBIF_Setup::DATA_TABLE_NAME) ||
            tables.contains(DBIF_Setup::COLUMN_TABLE_NAME)) {
            addTable(DBIF_Setup::MASTER_TABLE_NAME);
            addTable(LATEST_SETUP);
        } else {
            addTable(DBIF_Measurement::MASTER_TABLE_NAME);
            addTable(LATEST_MEASUREMENT);
        }
    }
    getJoinAlgorithm()->computeJoins(*this);
}

template <typename E, typename C>
QStringList DBIF_QuarnQuery::collectRelevantTables() const {
    using MultiTable = DBAL_MultiTable<E, C>;
    const DBIF_Connection connection = getConnection();
    const DBIF_UniqueStringList columns = columnSetFor(E::DATA_TABLE_NAME);
    QSet<QString> tables = MultiTable::tablesContainingColumns(connection, columns);
    // Without data columns this holds, so a kind the query does not read keeps its base name.
    if (sparseTableContainsColumns<C>(connection, MultiTable::removeFixedColumns(columns)))
        tables.insert(E::DATA_TABLE_NAME);
    return inTableOrder(tables);
}

QString DBIF_QuarnQuery::generateSql(bool withOrder) {
    // Order and limit belong to the whole union, never to its parts.
    const int limit = getLimit();
    setLimit(0);
    const QString base = DBIF_Query::generateSql(false);
    setLimit(limit);

    const DBIF_Connection connection = getConnection();
    const bool mysql = connection.getDatabaseDriverName() == QLatin1String("QMYSQL");
    const CutStatement cut = cutAtBaseDataTables(connection.wrapQueryForUnion(base), mysql);
    const QList<QStringList> tables{
        collectRelevantTables<DBIF_CatalogEntry, DBIF_CatalogEntryColumn>(),
        collectRelevantTables<DBIF_Device, DBIF_DeviceColumn>(),
        collectRelevantTables<DBIF_Measurement, DBIF_MeasurementColumn>(),
        collectRelevantTables<DBIF_MeasurementCondition, DBIF_MeasurementConditionColumn>(),
        collectRelevantTables<DBIF_Setup, DBIF_SetupColumn>()};
    const bool distinct = markedDistinct();
    QString text =
        expandCombinations(cut, tables)
            .join(distinct ? QStringLiteral("\n\nUNION\n\n") : QStringLiteral("\n\nUNION ALL\n\n"));
    if (text.trimmed().isEmpty())
        return text;

    // Every template is filled in one step, so a "%" and a digit inside the statement stay text.
    if (withOrder && !orders().isEmpty())
        text = QStringLiteral("%1 %2").arg(text, generateOrder());
    if (limit > 0)
        text = QStringLiteral("%1 LIMIT %2").arg(text, QString::number(limit));
    // The aliases need no restoring: they were never taken for table references. (Turning every
    // "AS x_<digits>_" back into "AS x_" would also cut the digits out of data column keys such as
    // VD_2_DB, and the outer DISTINCT below would then name an alias that no part has.)
    const QStringList real = realColumns();
    if (distinct && !real.isEmpty())
        text = QStringLiteral("SELECT DISTINCT %1 FROM (\n%2) x").arg(real.join(QStringLiteral(", ")), text);
    return text;
}

QString DBIF_QuarnQuery::generateDataSql(DBIF_StorageEngineType, const QString& kindPrefix,
                                         const QString& table, const QStringList& columns, int id) const {
    DBIF_QuarnQuery data(getConnection());
    data.setCondition(DBIF_SingleColumnCondition(table, QStringLiteral("%1_id").arg(kindPrefix), Equal, id));
    // The columns go first, so that they hold positions 0 to n-1 of every row (the loader reads them
    // by position) whatever columns the data orders add.
    for (const QString& column : columns)
        data.addColumn(table, column);
    data.addOrders(dataOrders());
    return data.generateSql(true);
}
