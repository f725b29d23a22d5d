// DBIF_Utilities.cpp: assertion reporting and the shared text helpers.
#include "dbif/DBIF_Utilities.h"

#include <QRegularExpression>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <locale>

bool printOnAssert = true;
bool abortOnAssert = false;

namespace {

bool report(const char* file, int line, const QString& message) {
    if (printOnAssert) {
        std::cerr << "ASSERTION failed (" << file << ": line " << line << ") "
                  << "  => " << message.toLocal8Bit().constData() << std::endl;
    }
    if (abortOnAssert) {
        if (printOnAssert)
            std::cerr << "  ==> ABORTING after assertion!" << std::endl;
        std::exit(-1);
    }
    return false;
}

// The mask of a text longer than 64 characters, every character's bit kept: lower-case hexadecimal
// without leading zeros, the last character in the lowest bit.
QString longCaseMask(const QString& text) {
    QString hex;
    int nibble = 0;
    int bit = 0;
    for (auto c = text.crbegin(); c != text.crend(); ++c) {
        if (*c >= QLatin1Char('A') && *c <= QLatin1Char('Z'))
            nibble |= 1 << bit;
        if (++bit == 4) {
            hex.prepend(QString::number(nibble, 16));
            nibble = 0;
            bit = 0;
        }
    }
    if (bit > 0)
        hex.prepend(QString::number(nibble, 16));
    while (hex.size() > 1 && hex.startsWith(QLatin1Char('0')))
        hex.remove(0, 1);
    return hex;
}

}  // namespace

bool assert0(bool condition, const char* file, int line, const QString& message) {
    return condition || report(file, line, message);
}

bool assert1(bool condition, const char* file, int line, const QString& format, const QString& a1) {
    return condition || report(file, line, format.arg(a1));
}

bool assert2(bool condition, const char* file, int line, const QString& format, const QString& a1,
             const QString& a2) {
    return condition || report(file, line, format.arg(a1, a2));
}

bool assert3(bool condition, const char* file, int line, const QString& format, const QString& a1,
             const QString& a2, const QString& a3) {
    return condition || report(file, line, format.arg(a1, a2, a3));
}

bool checkHandle(bool hasRecord, const char* file, int line, const char* operation) {
    return hasRecord ||
           report(file, line,
                  QStringLiteral("%1 called on a null handle (default-constructed or from a failed look-up)")
                      .arg(QString::fromLatin1(operation)));
}

QString caseSensitize(const QString& text) {
    if (text.size() > 64)
        return QStringLiteral("%1_%2").arg(text, longCaseMask(text));
    std::uint64_t mask = 0;
    for (const QChar c : text) {
        mask <<= 1;
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            mask |= 1;
    }
    // The mask prints as a signed number: a set top bit gives "-" and the magnitude.
    const auto signedMask = static_cast<std::int64_t>(mask);
    const QString hex =
        signedMask < 0 ? QStringLiteral("-") + QString::number(0 - mask, 16) : QString::number(mask, 16);
    return QStringLiteral("%1_%2").arg(text, hex);
}

QString upperCaseAscii(const QString& text) {
    QString result = text;
    for (QChar& c : result) {
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            c = QChar(c.unicode() - 'a' + 'A');
    }
    return result;
}

QString escapeKeyField(const QString& field) {
    QString escaped = field;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    escaped.replace(QLatin1Char('|'), QStringLiteral("\\|"));
    return escaped;
}

long hash(const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    const auto& collate = std::use_facet<std::collate<char>>(std::locale());
    return collate.hash(bytes.constData(), bytes.constData() + bytes.size());
}

QDateTime now() {
    return QDateTime::currentDateTime();
}

QStringList toStringList(const QSet<QString>& set) {
    QStringList result;
    result.reserve(set.size());
    for (const QString& member : set)
        result.append(member);
    return result;
}

bool stringContains(const std::string& haystack, const std::string& needle) {
    return haystack.find(needle) != std::string::npos;
}

std::ostream& operator<<(std::ostream& stream, const QString& text) {
    return stream << text.toLocal8Bit().constData();
}

std::ostream& operator<<(std::ostream& stream, const QStringList& list) {
    return stream << "\n  " << list.join(QStringLiteral("\n  "));
}

QString quoteSqlText(const QString& text) {
    QString escaped = text;
    escaped.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QLatin1Char('\'') + escaped + QLatin1Char('\'');
}

QString quoteSqlIdentifier(const QString& name) {
    QString escaped = name;
    escaped.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

QString sqlIdentifier(const QString& name) {
    static const QRegularExpression plain(
        QRegularExpression::anchoredPattern(QStringLiteral("[a-zA-Z_][a-zA-Z0-9_]*")));
    return plain.match(name).hasMatch() ? name : quoteSqlIdentifier(name);
}

int writeExactNumber(double value, char* out) {
    if (std::isnan(value)) {
        std::memcpy(out, "nan", 3);
        return 3;
    }
    if (std::isinf(value)) {
        std::memcpy(out, value < 0 ? "-inf" : "inf", value < 0 ? 4 : 3);
        return value < 0 ? 4 : 3;
    }
    if (value == 0) {
        *out = '0';
        return 1;
    }
    // The shortest round-trip digits as "[-]d[.ddd]e(+|-)dd[d]": already the scientific form wanted.
    char scientific[EXACT_NUMBER_CAPACITY];
    const char* end =
        std::to_chars(scientific, scientific + sizeof scientific, value, std::chars_format::scientific).ptr;
    const int length = static_cast<int>(end - scientific);
    const int sign = value < 0 ? 1 : 0;
    const char* e = end[-4] == 'e' ? end - 4 : end - 5;  // two or three exponent digits
    int magnitude = 0;
    for (const char* p = e + 2; p != end; ++p)
        magnitude = magnitude * 10 + (*p - '0');
    const int exponent = e[1] == '-' ? -magnitude : magnitude;
    // Digit i is first[0] for i = 0, else first[i + 1] (past the point).
    const char* first = scientific + sign;
    const int count = static_cast<int>(e - first) > 1 ? static_cast<int>(e - first) - 1 : 1;

    const int scientificLength = length - sign;
    const int fixedLength =
        exponent >= 0 ? (count <= exponent + 1 ? exponent + 1 : count + 1) : 1 - exponent + count;
    if (scientificLength < fixedLength) {
        std::memcpy(out, scientific, static_cast<size_t>(length));
        return length;
    }
    char* o = out;
    if (sign)
        *o++ = '-';
    const auto put = [&o](const char* from, int n) {
        std::memcpy(o, from, static_cast<size_t>(n));
        o += n;
    };
    if (exponent < 0) {
        *o++ = '0';
        *o++ = '.';
        std::memset(o, '0', static_cast<size_t>(-exponent - 1));
        o += -exponent - 1;
        *o++ = first[0];
        put(first + 2, count - 1);
    } else if (count <= exponent + 1) {
        *o++ = first[0];
        put(first + 2, count - 1);
        std::memset(o, '0', static_cast<size_t>(exponent + 1 - count));
        o += exponent + 1 - count;
    } else {
        *o++ = first[0];
        put(first + 2, exponent);
        *o++ = '.';
        put(first + 2 + exponent, count - exponent - 1);
    }
    return static_cast<int>(o - out);
}
