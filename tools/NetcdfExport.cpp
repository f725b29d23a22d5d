// NetcdfExport.cpp: the variables of the measurements' columns, their names, and the file.
#include "NetcdfExport.h"

#include <netcdf.h>

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QTemporaryFile>
#include <algorithm>
#include <cstdio>
#include <limits>
#include <optional>
#include <vector>

#include "Listing.h"
#include "TidyExport.h"
#include "ToolError.h"
#include "dbif/DBIF_ComplexMatrix.h"
#include "dbif/DBIF_ComplexNumber.h"

namespace {

const double MISSING = std::numeric_limits<double>::quiet_NaN();
// Rows a chunk: 128 KiB of doubles. A chunk wholly past a measurement's end, or of a column the
// measurement lacks, is never written and takes no room in the file: short measurements beside a long
// one cost little more than their own rows.
const size_t CHUNK_ROWS = 16384;

// The coordinates along `measurement` besides the ids, in the order Listing shows them.
const QStringList COORDINATES = {"lot",       "wafer",       "die", "device", "device_type",
                                 "condition", "temperature", "run", "rows"};

// One data variable: a whole cell of a column, or the real or imaginary part of a complex cell (of
// one element of a matrix).
struct Variable {
    enum Kind { NUMBER, TEXT, REAL, IMAGINARY };
    QString key;     // the column's key
    QString column;  // the column's stored name
    QString suffix;  // after the name: "_re", "21_im"; empty for a whole cell
    Kind kind = NUMBER;
    unsigned elementRow = 0, elementColumn = 0;  // of a matrix column
    QByteArray missingText{};                    // of a text column: what its missing cells hold
    int id = -1;                                 // the netCDF variable
};

// The netCDF file being written, closed when the export ends, also on a failure. Each call's status
// becomes a ToolError naming the file the user asked for (not the temporary one written).
class File {
public:
    explicit File(const QString& path) : path(path) {}
    ~File() {
        if (open)
            nc_close(ncid);
    }
    void check(int status) const {
        if (status != NC_NOERR)
            throw ToolError(QStringLiteral("%1: %2").arg(path, QString::fromUtf8(nc_strerror(status))));
    }
    void create(const QString& file) {
        check(nc_create(QFile::encodeName(file).constData(), NC_NETCDF4 | NC_CLOBBER, &ncid));
        open = true;
    }
    void close() {
        open = false;
        check(nc_close(ncid));
    }
    void text(int variable, const char* name, const QString& value) const {
        const QByteArray bytes = value.toUtf8();
        check(nc_put_att_text(ncid, variable, name, bytes.size(), bytes.constData()));
    }
    int define(const QString& name, nc_type type, const std::vector<int>& dimensions) const {
        int id = -1;
        check(nc_def_var(ncid, name.toUtf8().constData(), type, int(dimensions.size()), dimensions.data(),
                         &id));
        return id;
    }
    void strings(int variable, const size_t* start, const size_t* count,
                 const QList<QByteArray>& values) const {
        std::vector<const char*> pointers;
        for (const QByteArray& value : values)
            pointers.push_back(value.constData());
        check(nc_put_vara_string(ncid, variable, start, count, pointers.data()));
    }

    int ncid = -1;

private:
    QString path;
    bool open = false;
};

// The variables of one measurement's columns, in the order of its columns. A matrix column's elements
// are those of its first matrix, as in the CSV export.
QList<Variable> variablesOf(const DBIF_Measurement& m) {
    QList<Variable> variables;
    for (const DBIF_MeasurementColumn& column : m.getColumns()) {
        const QString type = column.getDataType();
        Variable whole{column.getKey(), column.getName(), QString(), Variable::NUMBER};
        if (type == QLatin1String("CN")) {
            variables << Variable{whole.key, whole.column, QStringLiteral("_re"), Variable::REAL}
                      << Variable{whole.key, whole.column, QStringLiteral("_im"), Variable::IMAGINARY};
        } else if (type == QLatin1String("CM")) {
            for (unsigned row = 0; row < m.rowCount(); ++row) {
                const QVariant cell = m.getData(whole.key, row);
                if (cell.isNull())
                    continue;
                const DBIF_ComplexMatrix shape = cell.value<DBIF_ComplexMatrix>();
                for (const auto& element : TidyExport::matrixElements(shape.rows(), shape.columns())) {
                    for (const auto kind : {Variable::REAL, Variable::IMAGINARY}) {
                        variables << Variable{
                            whole.key, whole.column, element.name + (kind == Variable::REAL ? "_re" : "_im"),
                            kind,      element.row,  element.column};
                    }
                }
                break;
            }
        } else {
            whole.kind = type == QLatin1String("DB") ? Variable::NUMBER : Variable::TEXT;
            variables << whole;
        }
    }
    return variables;
}

// A name netCDF takes: no '/' or control character, no trailing blank, a first character that is a
// letter, a digit, '_' or beyond ASCII; in the normal form netCDF keeps names in.
QString netcdfName(QString name) {
    name = name.normalized(QString::NormalizationForm_C);
    for (QChar& c : name) {
        if (c == QLatin1Char('/') || c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QLatin1Char('_');
    }
    while (name.endsWith(QLatin1Char(' ')))
        name.chop(1);
    if (name.isEmpty() || (name[0].unicode() < 0x80 && !name[0].isLetterOrNumber() && name[0] != '_'))
        name.prepend(QLatin1Char('_'));
    return name;
}

// Each variable's name: the column's name without its unit and the part's suffix ("Id", "S21_re").
// Where two columns would share that name (the same name in two units, or as a number and a text), or
// it is that of a coordinate, the whole column name is taken ("Id [A]"); a name still taken gets a
// number ("_2").
QStringList namesOf(const QList<Variable>& variables) {
    QHash<QString, QSet<QString>> keysOf;  // short name -> the columns that want it
    for (const Variable& v : variables)
        keysOf[netcdfName(Listing::nameAndUnit(v.column).first + v.suffix)].insert(v.key);
    QSet<QString> taken(COORDINATES.begin(), COORDINATES.end());
    taken << QStringLiteral("measurement") << QStringLiteral("row");
    QStringList names;
    for (const Variable& v : variables) {
        QString name = netcdfName(Listing::nameAndUnit(v.column).first + v.suffix);
        if (keysOf.value(name).size() > 1 || taken.contains(name))
            name = netcdfName(v.column + v.suffix);
        const QString base = name;
        for (int n = 2; taken.contains(name); ++n)
            name = base + QStringLiteral("_%1").arg(n);
        taken << name;
        names << name;
    }
    return names;
}

// The coordinates along `measurement`: the ids' variable first, then those of COORDINATES.
std::vector<int> defineCoordinates(const File& file, int dimension) {
    std::vector<int> variables{file.define(QStringLiteral("measurement"), NC_INT64, {dimension})};
    file.text(variables[0], "long_name", QStringLiteral("measurement id"));
    for (const QString& name : COORDINATES) {
        const bool number = name == QLatin1String("temperature");
        const bool whole = name == QLatin1String("run") || name == QLatin1String("rows");
        variables.push_back(file.define(name,
                                        number  ? NC_DOUBLE
                                        : whole ? NC_INT64
                                                : NC_STRING,
                                        {dimension}));
    }
    file.text(variables[1 + size_t(COORDINATES.indexOf("temperature"))], "units", QStringLiteral("degC"));
    file.text(variables[1 + size_t(COORDINATES.indexOf("run"))], "long_name",
              QStringLiteral("run (catalog entry) id"));
    file.text(variables[1 + size_t(COORDINATES.indexOf("rows"))], "long_name",
              QStringLiteral("rows of the measurement; later rows along `row` are NaN"));
    return variables;
}

void writeCoordinates(const File& file, const std::vector<int>& variables,
                      const QList<DBIF_Measurement>& measurements, const std::vector<size_t>& rows) {
    for (int index = 0; index < measurements.size(); ++index) {
        const DBIF_Measurement& m = measurements[index];
        const size_t at[] = {size_t(index)}, one[] = {1};
        const long long id = m.getId(), run = m.getCatalogEntry()->getId(), count = rows[size_t(index)];
        const double temperature = m.getTemperature();
        file.check(nc_put_vara_longlong(file.ncid, variables[0], at, one, &id));
        // Listing's fields after the id are in COORDINATES' order; only the texts are taken from it.
        const QStringList fields = Listing::measurementFields(m).mid(1);
        for (int c = 0; c < COORDINATES.size(); ++c) {
            const int variable = variables[1 + size_t(c)];
            if (COORDINATES[c] == QLatin1String("temperature"))
                file.check(nc_put_vara_double(file.ncid, variable, at, one, &temperature));
            else if (COORDINATES[c] == QLatin1String("run"))
                file.check(nc_put_vara_longlong(file.ncid, variable, at, one, &run));
            else if (COORDINATES[c] == QLatin1String("rows"))
                file.check(nc_put_vara_longlong(file.ncid, variable, at, one, &count));
            else
                file.strings(variable, at, one, {fields.value(c).toUtf8()});
        }
    }
}

void defineData(const File& file, const std::vector<int>& dimensions, size_t rows,
                QList<Variable>& variables) {
    const QStringList names = namesOf(variables);
    const QString coordinates = COORDINATES.join(QLatin1Char(' '));
    for (int index = 0; index < variables.size(); ++index) {
        Variable& v = variables[index];
        const bool text = v.kind == Variable::TEXT;
        v.id = file.define(names[index], text ? NC_STRING : NC_DOUBLE, dimensions);
        const auto [name, unit] = Listing::nameAndUnit(v.column);
        file.text(v.id, "long_name", name + v.suffix);
        if (!unit.isEmpty())
            file.text(v.id, "units", unit);
        file.text(v.id, "column", v.column);
        if (v.kind == Variable::REAL || v.kind == Variable::IMAGINARY)
            file.text(v.id, "part", v.kind == Variable::REAL ? "real" : "imaginary");
        file.text(v.id, "coordinates", coordinates);
        if (text) {
            const char* missing = v.missingText.constData();
            file.check(nc_def_var_fill(file.ncid, v.id, 0, &missing));
            continue;
        }
        file.check(nc_def_var_fill(file.ncid, v.id, 0, &MISSING));
        if (rows > 0) {
            const size_t chunk[] = {1, std::min(rows, CHUNK_ROWS)};
            file.check(nc_def_var_chunking(file.ncid, v.id, NC_CHUNKED, chunk));
            file.check(nc_def_var_deflate(file.ncid, v.id, 1, 1, 1));
        }
    }
}

// A text cell as UTF-8, or nothing when it holds no value.
std::optional<QByteArray> textCell(const DBIF_Measurement& m, const QString& key, unsigned row) {
    if (m.getData(key, row).isNull())
        return std::nullopt;
    return TidyExport::cellText(m, key, row).toUtf8();
}

// The measurement's cells of one variable. A number column is read whole as doubles; complex and
// text cells one at a time.
void writeData(const File& file, const DBIF_Measurement& m, size_t index, size_t rows, const Variable& v) {
    const size_t start[] = {index, 0}, count[] = {1, rows};
    if (v.kind == Variable::TEXT) {
        QList<QByteArray> cells;
        for (unsigned row = 0; row < rows; ++row)
            cells << textCell(m, v.key, row).value_or(v.missingText);
        file.strings(v.id, start, count, cells);
        return;
    }
    std::vector<double> values;
    if (v.kind == Variable::NUMBER) {
        std::vector<bool> present;
        if (!m.getColumn(m.columnFor(v.key), values, present))
            throw ToolError(
                QStringLiteral("measurement %1: column %2 could not be read").arg(m.getId()).arg(v.column));
        for (size_t row = 0; row < values.size(); ++row) {
            if (!present[row])
                values[row] = MISSING;
        }
        values.resize(rows, MISSING);
    } else {
        values.assign(rows, MISSING);
        const bool isMatrix = DBIF_MeasurementColumn::get(m.getConnection(), v.key).getDataType() == "CM";
        for (unsigned row = 0; row < rows; ++row) {
            const QVariant cell = m.getData(v.key, row);
            if (cell.isNull())
                continue;
            DBIF_ComplexNumber number;
            if (!isMatrix) {
                number = cell.value<DBIF_ComplexNumber>();
            } else {
                const DBIF_ComplexMatrix matrix = cell.value<DBIF_ComplexMatrix>();
                if (v.elementRow >= matrix.rows() || v.elementColumn >= matrix.columns())
                    continue;
                number = matrix(v.elementRow, v.elementColumn);
            }
            values[row] = v.kind == Variable::REAL ? number.real() : number.imaginary();
        }
    }
    file.check(nc_put_vara_double(file.ncid, v.id, start, count, values.data()));
}

}  // namespace

NetcdfExport::Summary NetcdfExport::write(const QList<DBIF_Measurement>& measurements, const QString& path) {
    // The union of the measurements' variables, each once, in the order they first come.
    // A measurement writes only its own: a matrix's element (0, 0) is S11 of a 2-port and S1 of a 1-port.
    QList<Variable> variables;
    QHash<QString, int> indexOf;  // key and suffix -> position in variables
    std::vector<size_t> rows;
    std::vector<std::vector<int>> ownVariables;  // per measurement: positions in variables
    Summary summary;
    for (const DBIF_Measurement& m : measurements) {
        rows.push_back(m.rowCount());
        summary.rows += m.rowCount();
        ownVariables.emplace_back();
        for (const Variable& v : variablesOf(m)) {
            const QString id = v.key + QLatin1Char('\n') + v.suffix;
            if (!indexOf.contains(id)) {
                indexOf.insert(id, variables.size());
                variables << v;
            }
            ownVariables.back().push_back(indexOf.value(id));
        }
    }
    const size_t longest = rows.empty() ? 0 : *std::max_element(rows.begin(), rows.end());
    // A text column's missing cells (and rows past a measurement's end) hold its _FillValue, which
    // xarray reads as NaN: a text that none of the column's stored cells is, so that neither an empty
    // text nor any other is taken for a missing one. Unit separators, which texts hardly hold.
    QHash<int, QSet<QByteArray>> texts;  // text variable -> its stored cells
    for (size_t index = 0; index < rows.size(); ++index) {
        for (const int v : ownVariables[index]) {
            for (unsigned row = 0; variables[v].kind == Variable::TEXT && row < rows[index]; ++row) {
                if (const auto cell = textCell(measurements[int(index)], variables[v].key, row))
                    texts[v].insert(*cell);
            }
        }
    }
    for (int v = 0; v < variables.size(); ++v) {
        for (variables[v].missingText = "\x1f"; texts.value(v).contains(variables[v].missingText);)
            variables[v].missingText += '\x1f';
    }

    // A temporary name in the target's folder, so that the rename at the end replaces the file at once.
    QTemporaryFile temporary(QFileInfo(path).absolutePath() + QStringLiteral("/.") +
                             QFileInfo(path).fileName() + QStringLiteral(".XXXXXX"));
    if (!temporary.open())
        throw ToolError(QStringLiteral("%1: %2").arg(path, temporary.errorString()));
    temporary.close();
    File file(path);
    file.create(temporary.fileName());
    int measurementDimension = -1, rowDimension = -1;
    file.check(nc_def_dim(file.ncid, "measurement", size_t(measurements.size()), &measurementDimension));
    file.check(nc_def_dim(file.ncid, "row", longest, &rowDimension));
    file.text(NC_GLOBAL, "title", QStringLiteral("measurements exported by dbif"));
    file.text(NC_GLOBAL, "source", QStringLiteral("dbif " DBIF_VERSION));
    file.text(NC_GLOBAL, "comment",
              QStringLiteral("One measurement along `measurement`, its rows along `row`. NaN is a cell "
                             "without a value or a row past the measurement's `rows`. A complex column is "
                             "a pair of variables, _re and _im."));
    const std::vector<int> coordinates = defineCoordinates(file, measurementDimension);
    // Also here, not only on each data variable, so that an export without data keeps them coordinates.
    file.text(NC_GLOBAL, "coordinates", COORDINATES.join(QLatin1Char(' ')));
    defineData(file, {measurementDimension, rowDimension}, longest, variables);
    file.check(nc_enddef(file.ncid));
    writeCoordinates(file, coordinates, measurements, rows);
    for (size_t index = 0; index < rows.size(); ++index) {
        for (const int v : ownVariables[index]) {
            if (rows[index] > 0)
                writeData(file, measurements[int(index)], index, rows[index], variables[v]);
        }
    }
    file.close();
    if (std::rename(QFile::encodeName(temporary.fileName()).constData(),
                    QFile::encodeName(path).constData()) != 0)
        throw ToolError(QStringLiteral("%1: cannot be written").arg(path));
    temporary.setAutoRemove(false);
    summary.variables = variables.size();
    return summary;
}
