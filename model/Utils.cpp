#include "model/Utils.h"

#include "model/Errors.h"

#include <QLocale>

#include <cmath>

double RoundHalfEven(double x) {
    // nearbyint follows the current rounding mode, which is round-to-nearest-even unless a
    // caller changed it; do it explicitly so no global state matters.
    const double f = std::floor(x);
    const double diff = x - f;
    if (diff < 0.5)
        return f;
    if (diff > 0.5)
        return f + 1.0;
    return std::fmod(f, 2.0) == 0.0 ? f : f + 1.0;
}

int RoundToByte(double x) {
    if (std::isnan(x))
        return 0;
    const double r = RoundHalfEven(x);
    if (r < 0.0)
        return 0;
    if (r > 255.0)
        return 255;
    return int(r);
}

QString FloatToStr(double x) {
    if (x == 0.0)
        return QStringLiteral("0"); // also for -0
    if (std::isnan(x))
        return QStringLiteral("NAN");
    if (std::isinf(x))
        return x > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
    const double mag = std::fabs(x);
    // Rounded to 15 digits, the largest numbers would read back beyond the largest double: they
    // take the largest 15-digit text that still reads.
    if (mag > 1.79769313486231E308)
        return x > 0 ? QStringLiteral("1.79769313486231E308") : QStringLiteral("-1.79769313486231E308");
    if (mag >= 1e-4 && mag < 1e15)
        return QString::number(x, 'g', 15); // positional in this range, no trailing zeros
    // Exponent form: mantissa with up to 15 significant digits, "E", signed exponent without
    // leading zeros and without a plus sign.
    QString s = QString::number(x, 'e', 14);
    const int e = s.indexOf(QLatin1Char('e'));
    QString mant = s.left(e);
    const int exponent = s.mid(e + 1).toInt();
    if (mant.contains(QLatin1Char('.'))) {
        while (mant.endsWith(QLatin1Char('0')))
            mant.chop(1);
        if (mant.endsWith(QLatin1Char('.')))
            mant.chop(1);
    }
    return mant + QLatin1Char('E') + QString::number(exponent);
}

static bool IsBlank(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\r') ||
           c == QLatin1Char('\n');
}

double StrToFloat(const QString& text) {
    const QString t = text;
    int i = 0;
    const int n = t.size();
    while (i < n && IsBlank(t[i]))
        ++i;
    int end = n;
    while (end > i && IsBlank(t[end - 1]))
        --end;
    const QString core = t.mid(i, end - i);
    // Only the plain decimal grammar: sign, digits, ".", digits, optional exponent.
    bool shapeOk = !core.isEmpty();
    int p = 0;
    const int m = core.size();
    if (p < m && (core[p] == QLatin1Char('-') || core[p] == QLatin1Char('+')))
        ++p;
    int digits = 0;
    while (p < m && core[p].isDigit() && core[p].unicode() < 128) {
        ++p;
        ++digits;
    }
    if (p < m && core[p] == QLatin1Char('.')) {
        ++p;
        while (p < m && core[p].isDigit() && core[p].unicode() < 128) {
            ++p;
            ++digits;
        }
    }
    if (digits == 0)
        shapeOk = false;
    if (p < m && (core[p] == QLatin1Char('E') || core[p] == QLatin1Char('e'))) {
        ++p;
        if (p < m && (core[p] == QLatin1Char('-') || core[p] == QLatin1Char('+')))
            ++p;
        int expDigits = 0;
        while (p < m && core[p].isDigit() && core[p].unicode() < 128) {
            ++p;
            ++expDigits;
        }
        if (expDigits == 0)
            shapeOk = false;
    }
    if (p != m)
        shapeOk = false;
    bool ok = false;
    double value = 0;
    if (shapeOk)
        value = QLocale::c().toDouble(core, &ok);
    if (!ok || !std::isfinite(value))
        throw EConvertError(QStringLiteral("'%1' is not a valid floating point value").arg(text));
    return value;
}

int StrToInt(const QString& text) {
    const QString core = text.trimmed();
    bool ok = !core.isEmpty();
    for (int i = 0; ok && i < core.size(); ++i) {
        const QChar c = core[i];
        const bool sign = i == 0 && (c == QLatin1Char('-') || c == QLatin1Char('+')) && core.size() > 1;
        if (!sign && !(c.unicode() >= '0' && c.unicode() <= '9'))
            ok = false;
    }
    int value = 0;
    if (ok)
        value = core.toInt(&ok, 10);
    if (!ok)
        throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(text));
    return value;
}

std::optional<bool> TryTextToBool(const QString& text) {
    // An integer of any length: its sign and whether any digit is non-zero decide.
    const QString t = text;
    int i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == QLatin1Char('-') || t[i] == QLatin1Char('+'))) {
        negative = t[i] == QLatin1Char('-');
        ++i;
    }
    bool isInteger = i < t.size();
    bool nonZero = false;
    for (int k = i; k < t.size(); ++k) {
        const ushort c = t[k].unicode();
        if (c < '0' || c > '9') {
            isInteger = false;
            break;
        }
        if (c != '0')
            nonZero = true;
    }
    if (isInteger)
        return nonZero && !negative;
    const QString upper = t.toUpper();
    if (upper == QLatin1String("TRUE"))
        return true;
    if (upper == QLatin1String("FALSE"))
        return false;
    return std::nullopt;
}

bool TextToBool(const QString& text) {
    if (const std::optional<bool> value = TryTextToBool(text))
        return *value;
    throw EConvertError(
        QStringLiteral("String->Boolean conversion error! '%1' is not a valid boolean value!").arg(text));
}

QString BoolToText(bool value) {
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

QString UpperCaseLetters(QString text) {
    for (QChar& c : text)
        if (c.unicode() >= 'a' && c.unicode() <= 'z')
            c = QChar(ushort(c.unicode() - 'a' + 'A'));
    return text;
}

QString WithoutTrailingBlanks(const QString& text) {
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1) == QLatin1Char(' '))
        --end;
    return text.left(end);
}
