// CsvSweep: a sweep file of an instrument or a simulator read into a Sweep, in the dialect it is
// written in: the separator (',', ';' or tab) and the decimal mark ('.' or ',') found from the data
// unless given, an instrument's header block before the row of column names skipped, the usual
// missing-value markers read as missing cells, Fortran exponents (1.0D-03) and trailing separators
// read. A unit in brackets stays with the column name as its SI unit, the values scaled to it
// ("Id [mA]" becomes "Id [A]"). The file is streamed: what the dialect is comes from its first block
// (CsvReader), and only the cells are kept, numbers as doubles. Stateless; any thread.
#ifndef DBIF_TOOLS_CSVSWEEP_H
#define DBIF_TOOLS_CSVSWEEP_H

#include <QByteArray>
#include <QChar>
#include <QString>

#include "InputFile.h"
#include "Sweep.h"

class CsvSweep {
public:
    // What the command line sets; a null character or a negative count is found from the file.
    struct Dialect {
        QChar delimiter;
        QChar decimal;
        int skip = -1;  // lines before the column names
    };

    // The sweep of the file opened from path. Throws ToolError "file:line: message" for
    // a malformed file, and for a text cell of more than mostTextCharacters characters (0: no limit).
    // skippedLines is set to the number of lines before the column names.
    static Sweep read(const QString& path, InputFile& file, const Dialect& dialect, int& skippedLines,
                      qsizetype mostTextCharacters = 0, const Sweep::Progress& progress = {});
    // The dialect options' values as given ("tab" or "\t" for a tab); throws ToolError (usage) otherwise.
    static Dialect parse(const QString& delimiter, const QString& decimal, const QString& skip);
};

#endif
