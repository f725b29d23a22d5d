// DBIF_Utilities.h: the library's failure conventions for misuse (the assertion functions and
// their two switches) and the small text helpers that several layers share.
// The switches are plain process-wide variables: the host sets them, the library only reads them.
// Nothing here takes a lock; the assertion output goes to standard error.
#ifndef DBIF_UTILITIES_H
#define DBIF_UTILITIES_H

#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <initializer_list>
#include <ostream>
#include <string>

#include "dbif/DBIF_Export.h"

// When true (the default) a failed assertion writes its report to standard error.
DBIF_EXPORT extern bool printOnAssert;
// When true a failed assertion ends the process with exit status -1 (default false).
DBIF_EXPORT extern bool abortOnAssert;

// Each returns its condition. On false it reports the message (the format's "%1".."%3" filled
// with the text arguments in one step) and, when abortOnAssert is set, ends the process.
// Callers pass their own __FILE__ and __LINE__ and continue on their error path on false.
DBIF_EXPORT bool assert0(bool condition, const char* file, int line, const QString& message);
DBIF_EXPORT bool assert1(bool condition, const char* file, int line, const QString& format,
                         const QString& a1);
DBIF_EXPORT bool assert2(bool condition, const char* file, int line, const QString& format, const QString& a1,
                         const QString& a2);
DBIF_EXPORT bool assert3(bool condition, const char* file, int line, const QString& format, const QString& a1,
                         const QString& a2, const QString& a3);

// Returns hasRecord. On false reports that the operation was called on a null handle (one without
// record: default-constructed, or the result of a failed look-up); the caller returns an empty value.
DBIF_EXPORT bool checkHandle(bool hasRecord, const char* file, int line, const char* operation);

// The text followed by "_" and a lower-case hexadecimal mask of its ASCII capitals, so that keys
// built from it tell "Vds" (Vds_4) from "VDS" (VDS_7) even after upper-casing. Up to 64 characters
// the mask is a signed 64-bit number; a longer text keeps a bit for every character.
DBIF_EXPORT QString caseSensitize(const QString& text);

// The text with its ASCII letters upper-cased and every other character as it is: keys upper-case
// this way, because upper-casing é, ß or µ would make them equal to É, SS or Μ.
DBIF_EXPORT QString upperCaseAscii(const QString& text);

// A field of an entity key with "\" and "|" escaped by a backslash, so that the fields, joined by
// "|", always tell distinct values apart ("a|b", "c" and "a", "b|c" give different keys).
DBIF_EXPORT QString escapeKeyField(const QString& field);

// One part of an entity key. A text field is escaped (escapeKeyField); another entity's key goes in
// as it is (nested), because its own fields are escaped already and its kind fixes how many "|" it
// holds, so the whole key still tells distinct values apart.
struct DBIF_EXPORT DBIF_KeyPart {
    DBIF_KeyPart(const QString& field) : text(escapeKeyField(field)) {}  // NOLINT: implicit by design
    static DBIF_KeyPart nested(const QString& key) {
        DBIF_KeyPart part{QString()};
        part.text = key;
        return part;
    }
    QString text;
};
// The key every entity kind files its objects under: "<kind: part|part|...>". Every kind builds its
// key here, so that no kind can leave a field unescaped.
DBIF_EXPORT QString entityKey(const QString& kindWord, std::initializer_list<DBIF_KeyPart> parts);

// Hash of the text's 8-bit form. Serves only in-memory cache keys; never stored.
DBIF_EXPORT long hash(const QString& text);

// The current local date-time.
DBIF_EXPORT QDateTime now();

// The set's members in its iteration order.
DBIF_EXPORT QStringList toStringList(const QSet<QString>& set);

// Each element in decimal, in list order.
template <typename T>
QStringList toStringList(const QList<T>& list) {
    QStringList result;
    result.reserve(list.size());
    for (const T& element : list)
        result.append(QString::number(element));
    return result;
}

DBIF_EXPORT bool stringContains(const std::string& haystack, const std::string& needle);

// A text's 8-bit form; a list as "\n  " followed by its members joined with "\n  ".
DBIF_EXPORT std::ostream& operator<<(std::ostream& stream, const QString& text);
DBIF_EXPORT std::ostream& operator<<(std::ostream& stream, const QStringList& list);

// Puts a text between single quotes so that no value can end the literal early: quotes are doubled.
// Backslashes stay as they are: MySQL sessions run with NO_BACKSLASH_ESCAPES, like SQLite.
DBIF_EXPORT QString quoteSqlText(const QString& text);

// A column name as an SQL identifier: as it is when it is a plain name (a letter or "_", then letters,
// digits and "_"), otherwise between double quotes with a double quote inside doubled, so that no
// name can end the identifier early (a name starting with a digit is quoted too).
DBIF_EXPORT QString sqlIdentifier(const QString& name);
// The name between double quotes, a double quote inside doubled; the form data-table statements write.
DBIF_EXPORT QString quoteSqlIdentifier(const QString& name);

// Room writeExactNumber needs: the longest text of a double ("-2.2250738585072014e-308") and some.
constexpr int EXACT_NUMBER_CAPACITY = 32;
// Writes the shortest text that reads back as the same double, laid out as QString::number(value, 'g',
// QLocale::FloatingPointShortest) lays it out (fixed or scientific, whichever is shorter, a tie going
// to fixed; "0" for both zeros; "nan", "inf", "-inf"), into `out` (EXACT_NUMBER_CAPACITY chars, not
// terminated) and returns its length. Saves of large tables format every cell this way, without a
// QString per number.
DBIF_EXPORT int writeExactNumber(double value, char* out);
// The length of the text writeExactNumber writes for the value, without writing it.
DBIF_EXPORT int exactNumberLength(double value);

// Bytes the text takes in UTF-8, as a client sends it to a server; with `latin1`, also whether every
// character of it is Latin-1.
DBIF_EXPORT qint64 utf8Bytes(QStringView text, bool* latin1 = nullptr);

// What a statement's text holds beyond ASCII, found in one pass: its bytes in UTF-8 (a surrogate
// counted as three), whether every character is Latin-1, whether it holds a C1 control character
// (U+0080 to U+009F, which a latin1 MySQL column refuses), and whether it holds a UTF-16 surrogate
// without its partner, which is not Unicode at all (SQLite's UTF-16 reader pairs it with the next
// character, a closing quote included).
struct DBIF_TextScan {
    qint64 utf8Bytes = 0;
    bool latin1 = true;
    bool c1Control = false;
    bool loneSurrogate = false;
};
DBIF_EXPORT DBIF_TextScan scanText(QStringView text);

#endif
