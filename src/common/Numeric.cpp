#include "common/Numeric.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace Numeric {

long long roundHalfEven(double value) {
    if (!std::isfinite(value))
        throw FloatingPointError("cannot round a value that is not a finite number");
    if (value >= 9.2233720368547758e18 || value < -9.2233720368547758e18)
        throw OverflowError();
    const double floor = std::floor(value);
    const double diff = value - floor;
    auto result = static_cast<long long>(floor);
    if (diff > 0.5 || (diff == 0.5 && (result % 2 != 0)))
        ++result;
    return result;
}

namespace {

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

int digitValue(QChar c) {
    if (c >= u'0' && c <= u'9')
        return c.unicode() - u'0';
    const QChar lower = c.toLower();
    if (lower >= u'a' && lower <= u'f')
        return lower.unicode() - u'a' + 10;
    return -1;
}

} // namespace

double numericValue(const QString& text) {
    QString s;
    s.reserve(text.size());
    for (QChar c : text)
        if (!isBlank(c))
            s.append(c);

    if (s.size() >= 2 && s[0] == u'&') {
        const QChar kind = s[1].toUpper();
        const int base = kind == u'H' ? 16 : kind == u'O' ? 8 : 0;
        if (base != 0) {
            long long value = 0;
            for (qsizetype i = 2; i < s.size() && value < (1LL << 40); ++i) {
                const int digit = digitValue(s[i]);
                if (digit < 0 || digit >= base)
                    break;
                value = value * base + digit;
            }
            return static_cast<double>(value);
        }
    }

    // Longest prefix that forms a decimal number: [sign] digits [. digits] [(e|d) [sign] digits].
    std::string number;
    qsizetype i = 0;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-'))
        number += static_cast<char>(s[i++].toLatin1());
    bool digits = false;
    while (i < s.size() && s[i].isDigit() && s[i].unicode() < 128) {
        number += static_cast<char>(s[i++].toLatin1());
        digits = true;
    }
    if (i < s.size() && s[i] == u'.') {
        number += '.';
        ++i;
        while (i < s.size() && s[i].isDigit() && s[i].unicode() < 128) {
            number += static_cast<char>(s[i++].toLatin1());
            digits = true;
        }
    }
    if (!digits)
        return 0.0;
    if (i < s.size() && (s[i].toLower() == u'e' || s[i].toLower() == u'd')) {
        std::string exponent = "e";
        qsizetype j = i + 1;
        if (j < s.size() && (s[j] == u'+' || s[j] == u'-'))
            exponent += static_cast<char>(s[j++].toLatin1());
        bool expDigits = false;
        while (j < s.size() && s[j].isDigit() && s[j].unicode() < 128) {
            exponent += static_cast<char>(s[j++].toLatin1());
            expDigits = true;
        }
        if (expDigits)
            number += exponent;
    }
    // The point is the decimal mark whatever the desktop's language: from_chars reads no locale.
    const char* first = number.data();
    const char* last = number.data() + number.size();
    const bool negative = *first == '-';
    if (*first == '+' || *first == '-')
        ++first;
    double value = 0.0;
    const auto [end, error] = std::from_chars(first, last, value);
    if (error == std::errc::result_out_of_range) {
        // Too large is no usable number; too small is zero.
        const auto at = number.find_first_of("eE");
        const bool tooLarge = at == std::string::npos || number[at + 1] != '-';
        return tooLarge ? 0.0 : (negative ? -0.0 : 0.0);
    }
    if (error != std::errc() || end != last || !std::isfinite(value))
        return 0.0;
    return negative ? -value : value;
}

QString clockText(const QTime& time) {
    const int hour = time.hour();
    const int hour12 = hour % 12 == 0 ? 12 : hour % 12;
    return QStringLiteral("%1:%2:%3 %4")
        .arg(hour12)
        .arg(time.minute(), 2, 10, QLatin1Char('0'))
        .arg(time.second(), 2, 10, QLatin1Char('0'))
        .arg(hour < 12 ? QStringLiteral("am") : QStringLiteral("pm"));
}

} // namespace Numeric
