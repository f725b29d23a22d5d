// DBIF_SingleColumnCondition: rendering of one column comparison in its plain, collated and
// tolerance forms, and its table and column reports.
#include "dbif/DBIF_SingleColumnCondition.h"

#include <QDateTime>
#include <QMetaType>
#include <QRegularExpression>
#include <cmath>

#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_UniqueStringList.h"
#include "dbif/DBIF_Utilities.h"

namespace {

struct ComparatorForm {
    const char* sql;
    bool caseInsensitive;
    // The null tests have no %3: the value is not part of their text.
    bool takesValue;
};

// Indexed by Comparator.
const ComparatorForm COMPARATOR_FORMS[] = {
    {"(%1%2 = %3)", false, true},         {"(%1%2 <> %3)", false, true},    {"(%1%2 < %3)", false, true},
    {"(%1%2 <= %3)", false, true},        {"(%1%2 > %3)", false, true},     {"(%1%2 >= %3)", false, true},
    {"(%1%2 IS NOT NULL)", false, false}, {"(%1%2 IS NULL)", false, false}, {"(%1%2 IN (%3))", false, true},
    {"(%1%2 NOT IN (%3))", false, true},  {"(%1%2 LIKE %3)", false, true},  {"(%1%2 = %3)", true, true},
    {"(%1%2 <> %3)", true, true},         {"(%1%2 < %3)", true, true},      {"(%1%2 <= %3)", true, true},
    {"(%1%2 > %3)", true, true},          {"(%1%2 >= %3)", true, true},     {"(%1%2 IN (%3))", true, true},
    {"(%1%2 NOT IN (%3))", true, true},   {"(%1%2 LIKE %3)", true, true},
};
const int COMPARATOR_COUNT = int(sizeof(COMPARATOR_FORMS) / sizeof(COMPARATOR_FORMS[0]));

// The two tolerance forms of one comparison: relative (%1 column, %2 value, %3 tolerance, %4 the value
// as a real divisor) for a non-zero value, absolute (%1 column, %3 tolerance) for zero.
struct ToleranceForm {
    const char* relative;
    const char* absolute;
};

const ToleranceForm TOLERANCE_EQUAL = {"(ABS((%1-(%2))/%4)<%3)", "(ABS(%1)<%3)"};
const ToleranceForm TOLERANCE_NOT_EQUAL = {"(ABS((%1-(%2))/%4)>=%3)", "(ABS(%1)>=%3)"};
const ToleranceForm TOLERANCE_LESS_OR_EQUAL = {"((%1 < %2) OR (ABS((%1-(%2))/%4)<%3))", "(%1 < %3)"};
const ToleranceForm TOLERANCE_GREATER_OR_EQUAL = {"((%1 > %2) OR (ABS((%1-(%2))/%4)<%3))", "(%1 > -(%3))"};

// The value's text as a real literal: SQLite divides an integer by an integer literal in integers,
// which would make (3-1)/3 zero and so "equal within tolerance"; "3" becomes "3.0". A text with a
// point or an exponent is a real literal already.
QString realLiteral(const QString& number) {
    for (const QChar c : number) {
        if (c == QLatin1Char('.') || c == QLatin1Char('e') || c == QLatin1Char('E'))
            return number;
    }
    return number + QStringLiteral(".0");
}

const ToleranceForm* toleranceFormOf(Comparator comparator) {
    switch (comparator) {
        case Equal:
        case EqualNoCase:
            return &TOLERANCE_EQUAL;
        case NotEqual:
        case NotEqualNoCase:
            return &TOLERANCE_NOT_EQUAL;
        case LessOrEqual:
        case LessOrEqualNoCase:
            return &TOLERANCE_LESS_OR_EQUAL;
        case GreaterOrEqual:
        case GreaterOrEqualNoCase:
            return &TOLERANCE_GREATER_OR_EQUAL;
        default:
            return nullptr;
    }
}

// As QString::arg(double) writes it: 'g' with six significant digits.
QString toleranceText(double tolerance) {
    return QString::number(std::fabs(tolerance), 'g', 6);
}

// Date-times as the Conventions write them everywhere: "yyyy-MM-dd hh:mm:ss".
const QString DATE_TIME_FORMAT = QStringLiteral("yyyy-MM-dd hh:mm:ss");

}  // namespace

DBIF_SingleColumnCondition::DBIF_SingleColumnCondition(const QString& table, const QString& column,
                                                       Comparator comparator, const QVariant& value,
                                                       bool useCollation, bool useTolerance,
                                                       double relativeTolerance, double absoluteTolerance)
    : d(new SharedData) {
    d->table = table;
    d->column = column;
    d->comparator = comparator;
    d->value = value;
    d->useCollation = useCollation;
    d->useTolerance = useTolerance;
    d->relativeTolerance = relativeTolerance;
    d->absoluteTolerance = absoluteTolerance;
}

DBIF_SingleColumnCondition::DBIF_SingleColumnCondition(const QString& table, const QString& column,
                                                       Comparator comparator, int value, bool useCollation,
                                                       bool useTolerance, double relativeTolerance,
                                                       double absoluteTolerance)
    : DBIF_SingleColumnCondition(table, column, comparator, QVariant(value), useCollation, useTolerance,
                                 relativeTolerance, absoluteTolerance) {}

DBIF_SingleColumnCondition::DBIF_SingleColumnCondition(const QString& table, const QString& column,
                                                       Comparator comparator, double value, bool useCollation,
                                                       bool useTolerance, double relativeTolerance,
                                                       double absoluteTolerance)
    : DBIF_SingleColumnCondition(table, column, comparator, QVariant(value), useCollation, useTolerance,
                                 relativeTolerance, absoluteTolerance) {}

DBIF_SingleColumnCondition::DBIF_SingleColumnCondition(const QString& table, const QString& column,
                                                       Comparator comparator, const QString& value,
                                                       bool useCollation, bool useTolerance,
                                                       double relativeTolerance, double absoluteTolerance)
    : DBIF_SingleColumnCondition(table, column, comparator, QVariant(value), useCollation, useTolerance,
                                 relativeTolerance, absoluteTolerance) {}

DBIF_SingleColumnCondition::DBIF_SingleColumnCondition(const QString& table, const QString& column,
                                                       Comparator comparator, const char* value,
                                                       bool useCollation, bool useTolerance,
                                                       double relativeTolerance, double absoluteTolerance)
    : DBIF_SingleColumnCondition(table, column, comparator, QVariant(QString::fromUtf8(value)), useCollation,
                                 useTolerance, relativeTolerance, absoluteTolerance) {}

DBIF_SingleColumnCondition::DBIF_SingleColumnCondition(const QString& table, const QString& column,
                                                       Comparator comparator, const QList<int>& ids,
                                                       bool useCollation, bool useTolerance,
                                                       double relativeTolerance, double absoluteTolerance)
    : DBIF_SingleColumnCondition(table, column, comparator,
                                 QVariant(toStringList(ids).join(QStringLiteral(", "))), useCollation,
                                 useTolerance, relativeTolerance, absoluteTolerance) {
    d->listValue = true;
}

DBIF_SingleColumnCondition::~DBIF_SingleColumnCondition() = default;

void DBIF_SingleColumnCondition::setValue(const QVariant& value) {
    d->value = value;
    d->listValue = false;
}

QString DBIF_SingleColumnCondition::columnReference() const {
    return QStringLiteral("%1.%2").arg(d->table, sqlIdentifier(d->column));
}

QString DBIF_SingleColumnCondition::toleranceForm(const QString& column) const {
    const ToleranceForm* form = toleranceFormOf(d->comparator);
    if (form == nullptr)
        return QString();
    const QString valueText = d->value.toString();
    // NaN and the infinities take the plain form, with NULL as their value: they match nothing.
    if (!std::isfinite(d->value.toDouble()) || !std::isfinite(valueText.toDouble()))
        return QString();
    // A value whose text does not read as a non-zero number compares with zero, so that the
    // value's text only ever enters the statement as a number.
    if (d->value.toDouble() != 0.0 && valueText.toDouble() != 0.0) {
        return QString::fromLatin1(form->relative)
            .arg(column, valueText, toleranceText(d->relativeTolerance), realLiteral(valueText));
    }
    return QString::fromLatin1(form->absolute).arg(column, toleranceText(d->absoluteTolerance));
}

QString DBIF_SingleColumnCondition::generateSelectionCriteria(const DBIF_Connection& connection) const {
    const QString column = columnReference();
    if (d->useTolerance) {
        const QString tolerant = toleranceForm(column);
        if (!tolerant.isEmpty())
            return tolerant;
    }
    if (d->comparator < 0 || d->comparator >= COMPARATOR_COUNT)
        return QString();
    const ComparatorForm& form = COMPARATOR_FORMS[d->comparator];
    QString suffix;
    if (d->useCollation)
        suffix = form.caseInsensitive ? connection.getCaseInsensitiveSuffix()
                                      : connection.getCaseSensitiveSuffix();
    const QString sql = QString::fromLatin1(form.sql);
    if (!form.takesValue)
        return sql.arg(column, suffix);
    return sql.arg(column, suffix, valueText(connection));
}

QString DBIF_SingleColumnCondition::valueText(const DBIF_Connection& connection) const {
    if (d->listValue)
        return d->value.toString();
    switch (d->value.typeId()) {
        case QMetaType::QString:
            return connection.quoteText(d->value.toString());
        // Raw bytes could end the literal early; they are quoted and escaped like a text.
        case QMetaType::QByteArray:
            return connection.quoteText(QString::fromUtf8(d->value.toByteArray()));
        case QMetaType::QDateTime:
            return connection.quoteText(d->value.toDateTime().toString(DATE_TIME_FORMAT));
        case QMetaType::QDate:
            return connection.quoteText(d->value.toDate().toString(QStringLiteral("yyyy-MM-dd")));
        case QMetaType::Bool:
            return d->value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Short:
        case QMetaType::UShort:
            return d->value.toString();
        case QMetaType::Double:
        case QMetaType::Float:
            // NaN and the infinities have no SQL literal: NULL, which no comparison matches.
            return std::isfinite(d->value.toDouble()) ? d->value.toString() : QStringLiteral("NULL");
        default:
            // Any other value (a complex number, a time, a type of the host's) compares as its text.
            return connection.quoteText(d->value.toString());
    }
}

DBIF_SingleColumnCondition* DBIF_SingleColumnCondition::clone() const {
    return new DBIF_SingleColumnCondition(*this);
}

void DBIF_SingleColumnCondition::addTableToSet(QSet<QString>& tables) const {
    tables.insert(d->table);
}

void DBIF_SingleColumnCondition::columnSetFor(const QString& table, DBIF_UniqueStringList& columns) const {
    if (d->table == table)
        columns << d->column;
}
