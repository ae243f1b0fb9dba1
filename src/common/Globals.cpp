#include "common/Globals.h"

#include <cmath>

#include "common/Numeric.h"

namespace Globals {

QString StripPath(const QString& path, QChar separator) {
    std::int16_t consumed = 0;
    QString rest = path;
    for (;;) {
        const qsizetype index = rest.indexOf(separator);
        if (index < 0)
            return rest;
        const auto position = Numeric::checkedNarrow<std::int16_t>(index + 1);
        consumed = Numeric::checkedAdd<std::int16_t>(consumed, position);
        rest = path.mid(consumed);
    }
}

std::int16_t PlayerVolumeFromSlider(std::int16_t position) {
    const auto product = Numeric::checkedMul<std::int16_t>(position, 41);
    return static_cast<std::int16_t>(-static_cast<double>(product));
}

QString FormatTime(float seconds) {
    if (!std::isfinite(seconds))
        throw FloatingPointError("FormatTime was given a value that is not a finite number");
    const float whole = std::floor(seconds);
    const double minutesValue = std::floor(double(seconds) / 60.0);
    if (minutesValue < -32768.0 || minutesValue > 32767.0)
        throw OverflowError("FormatTime: minutes beyond 16 bits");
    const auto minutes = static_cast<std::int16_t>(minutesValue);
    const auto wholeSeconds = static_cast<long long>(whole) % 60;
    // The fraction of a float is exact in float; the product is rounded to 32 bits before it is
    // truncated, so 0.7 (0.69999998...) shows 7 tenths.
    const float fraction = seconds - whole;
    const float tenthsProduct = fraction * 10.0f;
    const int tenths = static_cast<int>(tenthsProduct);
    // Written digit by digit: the displays ask for three to five of these twenty times a second.
    QString text = QString::number(minutes);
    text.reserve(text.size() + 6);
    text += u':';
    if (wholeSeconds < 0)
        text += u'-';
    const auto secondsDigits = static_cast<int>(std::llabs(wholeSeconds)); // 0 to 59: two digits
    text += QChar(u'0' + secondsDigits / 10);
    text += QChar(u'0' + secondsDigits % 10);
    text += u'.';
    text += QString::number(tenths);
    return text;
}

} // namespace Globals
