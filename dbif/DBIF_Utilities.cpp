// DBIF_Utilities.cpp: assertion reporting and the shared text helpers.
#include "dbif/DBIF_Utilities.h"

#include <QRegularExpression>
#include <algorithm>
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

QString entityKey(const QString& kindWord, std::initializer_list<DBIF_KeyPart> parts) {
    QString key = QLatin1Char('<') + kindWord + QStringLiteral(": ");
    bool first = true;
    for (const DBIF_KeyPart& part : parts) {
        if (!first)
            key += QLatin1Char('|');
        key += part.text;
        first = false;
    }
    return key + QLatin1Char('>');
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

namespace {

// The shortest round-trip digits of a finite, non-zero value as "[-]d[.ddd]e(+|-)dd[d]" (already the
// scientific text wanted), and what the fixed layout of the same digits takes.
struct ShortestDigits {
    char scientific[EXACT_NUMBER_CAPACITY];
    int length;       // of `scientific`
    int sign;         // 1 for a negative value
    int exponent;     // decimal
    int count;        // significant digits; digit i is first()[0] for i = 0, else first()[i + 1]
    int fixedLength;  // without the sign

    explicit ShortestDigits(double value) {
        const char* end =
            std::to_chars(scientific, scientific + sizeof scientific, value, std::chars_format::scientific)
                .ptr;
        length = static_cast<int>(end - scientific);
        sign = value < 0 ? 1 : 0;
        const char* e = end[-4] == 'e' ? end - 4 : end - 5;  // two or three exponent digits
        int magnitude = 0;
        for (const char* p = e + 2; p != end; ++p)
            magnitude = magnitude * 10 + (*p - '0');
        exponent = e[1] == '-' ? -magnitude : magnitude;
        const int mantissa = static_cast<int>(e - first());
        count = mantissa > 1 ? mantissa - 1 : 1;
        fixedLength =
            exponent >= 0 ? (count <= exponent + 1 ? exponent + 1 : count + 1) : 1 - exponent + count;
    }
    const char* first() const { return scientific + sign; }
    // Scientific only when strictly shorter, as Qt decides.
    bool isScientific() const { return length - sign < fixedLength; }
};

}  // namespace

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
    const ShortestDigits digits(value);
    if (digits.isScientific()) {
        std::memcpy(out, digits.scientific, static_cast<size_t>(digits.length));
        return digits.length;
    }
    char* o = out;
    if (digits.sign)
        *o++ = '-';
    const auto put = [&o](const char* from, int n) {
        std::memcpy(o, from, static_cast<size_t>(n));
        o += n;
    };
    const auto zeros = [&o](int n) {
        std::memset(o, '0', static_cast<size_t>(n));
        o += n;
    };
    const char* first = digits.first();
    const int exponent = digits.exponent;
    const int count = digits.count;
    if (exponent < 0) {
        put("0.", 2);
        zeros(-exponent - 1);
        *o++ = first[0];
        put(first + 2, count - 1);
    } else if (count <= exponent + 1) {
        *o++ = first[0];
        put(first + 2, count - 1);
        zeros(exponent + 1 - count);
    } else {
        *o++ = first[0];
        put(first + 2, exponent);
        *o++ = '.';
        put(first + 2 + exponent, count - exponent - 1);
    }
    return static_cast<int>(o - out);
}

int exactNumberLength(double value) {
    if (!std::isfinite(value) || value == 0) {  // a fixed word or "0"
        char text[EXACT_NUMBER_CAPACITY];
        return writeExactNumber(value, text);
    }
    const ShortestDigits digits(value);
    return digits.sign + std::min(digits.length - digits.sign, digits.fixedLength);
}

DBIF_TextScan scanText(QStringView text) {
    DBIF_TextScan scan;
    const char16_t* chars = text.utf16();
    const qsizetype size = text.size();
    scan.utf8Bytes = size;
    bool wide = false;
    bool c1 = false;
    bool lone = false;
    // Only characters above ASCII need a look. Statements run to a packet's length and are mostly
    // ASCII: four characters are passed over at once when none has a bit above 0x7F.
    const auto look = [&](qsizetype i) {
        const char16_t c = chars[i];
        scan.utf8Bytes += (c > 0x7F) + (c > 0x7FF);
        wide |= c > 0xFF;
        c1 |= c >= 0x80 && c <= 0x9F;
        if (c >= 0xD800 && c <= 0xDBFF)
            lone |= i + 1 >= size || chars[i + 1] < 0xDC00 || chars[i + 1] > 0xDFFF;
        else if (c >= 0xDC00 && c <= 0xDFFF)
            lone |= i == 0 || chars[i - 1] < 0xD800 || chars[i - 1] > 0xDBFF;
    };
    qsizetype i = 0;
    for (; i + 4 <= size; i += 4) {
        quint64 four;
        std::memcpy(&four, chars + i, sizeof four);
        if (four & 0xFF80FF80FF80FF80ULL) {
            for (int j = 0; j < 4; ++j)
                look(i + j);
        }
    }
    for (; i < size; ++i)
        look(i);
    scan.latin1 = !wide;
    scan.c1Control = c1;
    scan.loneSurrogate = lone;
    return scan;
}

// The same pass as scanText: statements are mostly ASCII, which it passes over four at a time.
qint64 utf8Bytes(QStringView text, bool* latin1) {
    const DBIF_TextScan scan = scanText(text);
    if (latin1)
        *latin1 = scan.latin1;
    return scan.utf8Bytes;
}
