// TidyExport.cpp: the column union and the rows.
#include "TidyExport.h"

#include <QMap>
#include <QSaveFile>
#include <QTextStream>

#include "CsvReader.h"
#include "Listing.h"
#include "ToolError.h"
#include "dbif/DBIF_ComplexMatrix.h"
#include "dbif/DBIF_ComplexNumber.h"

QString TidyExport::cellText(const DBIF_Measurement& measurement, const QString& key, unsigned row) {
    const QVariant value = measurement.getData(key, row);
    if (value.isNull())
        return QString();
    const QString type = DBIF_MeasurementColumn::get(measurement.getConnection(), key).getDataType();
    if (type == QLatin1String("DB"))
        return DBIF_ComplexNumber::exactNumber(value.toDouble());
    if (type == QLatin1String("TX"))
        return value.toString();
    if (type == QLatin1String("CN"))
        return value.value<DBIF_ComplexNumber>().toExactString();
    if (type == QLatin1String("CM"))
        return value.value<DBIF_ComplexMatrix>().toExactString();
    return value.toString();
}

long long TidyExport::write(const DBIF_Connection& connection, const QList<DBIF_Measurement>& measurements,
                            const QString& path) {
    QStringList names;
    for (const DBIF_Measurement& m : measurements) {
        for (const QString& key : m.getColumnKeys()) {
            const QString name = Listing::columnName(connection, key);
            if (!names.contains(name))
                names << name;
        }
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw ToolError(QStringLiteral("%1: %2").arg(path, file.errorString()));
    QTextStream out(&file);
    QStringList header = Listing::measurementHeader();
    header[0] = QStringLiteral("measurement_id");
    for (const QString& name : names)
        header << CsvReader::quote(name);
    out << header.join(QLatin1Char(',')) << '\n';
    long long rows = 0;
    for (const DBIF_Measurement& m : measurements) {
        QStringList fields;
        for (const QString& field : Listing::measurementFields(m))
            fields << CsvReader::quote(field);
        QMap<int, QString> keyAt;  // position in names -> this measurement's key
        for (const QString& key : m.getColumnKeys())
            keyAt.insert(names.indexOf(Listing::columnName(connection, key)), key);
        for (unsigned row = 0; row < m.rowCount(); ++row) {
            QStringList line = fields;
            for (int c = 0; c < names.size(); ++c)
                line << (keyAt.contains(c) ? CsvReader::quote(cellText(m, keyAt[c], row)) : QString());
            out << line.join(QLatin1Char(',')) << '\n';
            ++rows;
        }
    }
    out.flush();
    if (!file.commit())
        throw ToolError(QStringLiteral("%1: %2").arg(path, file.errorString()));
    return rows;
}
