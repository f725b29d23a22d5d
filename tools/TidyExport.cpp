// TidyExport.cpp: the column union, the matrix elements, and the rows.
#include "TidyExport.h"

#include <QMap>
#include <QSaveFile>
#include <QTextStream>
#include <cmath>
#include <complex>

#include "CsvReader.h"
#include "Listing.h"
#include "ToolError.h"
#include "Touchstone.h"
#include "dbif/DBIF_ComplexMatrix.h"
#include "dbif/DBIF_ComplexNumber.h"

namespace {

// One CSV column of a measurement: a whole cell, or one part of a matrix element.
struct Part {
    QString key;
    int row = -1;  // -1: the whole cell
    int column = -1;
    int component = 0;  // 0 the first of the pair (re, mag, db), 1 the second (im, deg)
    TidyExport::ComplexFormat format = TidyExport::RI;
};

// The parts of a matrix column, named after it and the element (see matrixElements).
void matrixParts(const QString& name, const QString& key, const DBIF_ComplexMatrix& shape,
                 TidyExport::ComplexFormat format, QList<QPair<QString, Part>>& parts) {
    static const QStringList suffixes[] = {{"_re", "_im"}, {"_mag", "_deg"}, {"_db", "_deg"}};
    for (const TidyExport::MatrixElement& element :
         TidyExport::matrixElements(shape.rows(), shape.columns())) {
        for (int component = 0; component < 2; ++component) {
            parts.append({name + element.name + suffixes[format][component],
                          {key, int(element.row), int(element.column), component, format}});
        }
    }
}

QList<QPair<QString, Part>> partsOf(const DBIF_Connection& connection, const DBIF_Measurement& m,
                                    TidyExport::ComplexFormat format) {
    QList<QPair<QString, Part>> parts;
    for (const QString& key : m.getColumnKeys()) {
        const QString name = Listing::columnName(connection, key);
        if (DBIF_MeasurementColumn::get(connection, key).getDataType() != QLatin1String("CM")) {
            parts.append({name, {key}});
            continue;
        }
        // The first matrix of the column gives its shape.
        for (unsigned row = 0; row < m.rowCount(); ++row) {
            const QVariant cell = m.getData(key, row);
            if (cell.isNull())
                continue;
            matrixParts(name, key, cell.value<DBIF_ComplexMatrix>(),
                        Touchstone::isNetworkParameter(name) ? format : TidyExport::RI, parts);
            break;
        }
    }
    return parts;
}

QString partText(const DBIF_Measurement& m, const Part& part, unsigned row) {
    if (part.row < 0)
        return TidyExport::cellText(m, part.key, row);
    const QVariant cell = m.getData(part.key, row);
    if (cell.isNull())
        return QString();
    const DBIF_ComplexMatrix matrix = cell.value<DBIF_ComplexMatrix>();
    if (unsigned(part.row) >= matrix.rows() || unsigned(part.column) >= matrix.columns())
        return QString();
    const DBIF_ComplexNumber element = matrix(part.row, part.column);
    const std::complex<double> value(element.real(), element.imaginary());
    double number = 0;
    if (part.format == TidyExport::RI)
        number = part.component == 0 ? value.real() : value.imag();
    else if (part.component == 1)
        number = std::arg(value) * 180 / M_PI;
    else
        number = part.format == TidyExport::MA ? std::abs(value) : 20 * std::log10(std::abs(value));
    return DBIF_ComplexNumber::exactNumber(number);
}

}  // namespace

QList<TidyExport::MatrixElement> TidyExport::matrixElements(unsigned rows, unsigned columns) {
    QList<MatrixElement> elements;
    const bool wide = rows > 9 || columns > 9;
    for (unsigned k = 0; k < rows * columns; ++k) {
        const unsigned i = rows == 2 && columns == 2 ? k % 2 : k / columns;
        const unsigned j = rows == 2 && columns == 2 ? k / 2 : k % columns;
        elements.append({rows == 1 ? QString::number(j + 1)
                                   : QString::number(i + 1) + (wide ? "_" : "") + QString::number(j + 1),
                         i, j});
    }
    return elements;
}

QStringList TidyExport::complexFormats() {
    return {QStringLiteral("ri"), QStringLiteral("ma"), QStringLiteral("db")};
}

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
                            ComplexFormat format, const QString& path) {
    QStringList names;
    QList<QMap<int, Part>> partAt;  // per measurement: position in names -> its part
    for (const DBIF_Measurement& m : measurements) {
        partAt.append(QMap<int, Part>());
        for (const QPair<QString, Part>& part : partsOf(connection, m, format)) {
            if (!names.contains(part.first))
                names << part.first;
            partAt.last().insert(names.indexOf(part.first), part.second);
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
    for (int index = 0; index < measurements.size(); ++index) {
        const DBIF_Measurement& m = measurements[index];
        QStringList fields;
        for (const QString& field : Listing::measurementFields(m))
            fields << CsvReader::quote(field);
        for (unsigned row = 0; row < m.rowCount(); ++row) {
            QStringList line = fields;
            for (int c = 0; c < names.size(); ++c) {
                const auto part = partAt[index].constFind(c);
                line << (part != partAt[index].constEnd() ? CsvReader::quote(partText(m, *part, row))
                                                          : QString());
            }
            out << line.join(QLatin1Char(',')) << '\n';
            ++rows;
        }
    }
    out.flush();
    if (!file.commit())
        throw ToolError(QStringLiteral("%1: %2").arg(path, file.errorString()));
    return rows;
}
