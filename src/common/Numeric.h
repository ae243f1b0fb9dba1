#pragma once
// The small numeric rules the console relies on: integer arithmetic that raises an overflow error
// instead of wrapping, rounding half to even, the numeric value at the start of a text, and the
// wall clock's text.
#include <cstdint>
#include <limits>
#include <QString>
#include <QTime>

#include "common/Errors.h"

namespace Numeric {

// The value as a T, or an OverflowError when it does not fit.
template <class T>
T checkedNarrow(long long value) {
    if (value < std::numeric_limits<T>::min() || value > std::numeric_limits<T>::max())
        throw OverflowError();
    return static_cast<T>(value);
}

template <class T>
T checkedAdd(T a, T b) {
    return checkedNarrow<T>(static_cast<long long>(a) + b);
}
template <class T>
T checkedSub(T a, T b) {
    return checkedNarrow<T>(static_cast<long long>(a) - b);
}
template <class T>
T checkedMul(T a, T b) {
    return checkedNarrow<T>(static_cast<long long>(a) * b);
}

// Nearest integer, a half going to the even neighbour (2.5 -> 2, 3.5 -> 4, -2.5 -> -2).
// Throws FloatingPointError for a value that is not finite, OverflowError past 64 bits.
long long roundHalfEven(double value);

// The number at the start of a text: blanks are ignored, an optional sign, digits with an optional
// decimal point and exponent, or &H / &O for hexadecimal and octal. 0 when the text does not start
// with a number ("", "abc", ".").
double numericValue(const QString& text);

// The time of day as "h:nn:ss am/pm": 12-hour clock without a leading zero (midnight and noon are
// 12), lower-case am before noon and pm from noon on.
QString clockText(const QTime& time);

} // namespace Numeric
