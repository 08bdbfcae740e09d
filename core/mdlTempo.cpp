// SPDX-License-Identifier: MIT
// Number texts and the tempo and semitone formulas.
//
// Texts follow the user's notation (QLocale's default) for the decimal separator only:
// digits are ASCII and digit grouping is never accepted, because the program never writes
// it and a "1,5" typed in a "." locale would otherwise silently become 15.
// Floating faults are found by explicit checks rather than the floating-point environment,
// which the compiler is free to reorder around.
#include "mdlMain.h"

#include <QLocale>

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace metronel {

namespace {

bool IsAsciiDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// Matches token at pos, advancing pos on success.
bool Take(QStringView text, qsizetype& pos, QStringView token) {
    if (token.isEmpty() || !text.sliced(pos).startsWith(token))
        return false;
    pos += token.size();
    return true;
}

qsizetype TakeDigits(QStringView text, qsizetype& pos, std::string& out) {
    qsizetype start = pos;
    while (pos < text.size() && IsAsciiDigit(text[pos]))
        out += static_cast<char>(text[pos++].unicode());
    return pos - start;
}

// Takes an optional sign; returns whether it was a minus.
bool TakeSign(QStringView text, qsizetype& pos, const QLocale& locale) {
    if (Take(text, pos, u"-") || Take(text, pos, locale.negativeSign()))
        return true;
    if (!Take(text, pos, u"+"))
        Take(text, pos, locale.positiveSign());
    return false;
}

// Parses text into value; false when it is not a number or lies beyond the double range.
bool Parse(const QString& text, double& value) {
    const QLocale locale;
    QStringView view = QStringView(text).trimmed();
    qsizetype pos = 0;
    std::string ascii;
    if (TakeSign(view, pos, locale))
        ascii += '-';
    qsizetype digits = TakeDigits(view, pos, ascii);
    if (Take(view, pos, locale.decimalPoint())) {
        ascii += '.';
        digits += TakeDigits(view, pos, ascii);
    }
    if (digits == 0)
        return false;
    if (Take(view, pos, u"e") || Take(view, pos, u"E") ||
        (locale.exponential().compare(u"e", Qt::CaseInsensitive) != 0 &&
         Take(view, pos, locale.exponential()))) {
        ascii += 'e';
        if (TakeSign(view, pos, locale))
            ascii += '-';
        if (TakeDigits(view, pos, ascii) == 0)
            return false;
    }
    if (pos != view.size())
        return false;
    // from_chars ignores the C library's locale, which Qt sets from the environment.
    double parsed = 0.0;
    auto [end, ec] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), parsed);
    if (ec != std::errc() || end != ascii.data() + ascii.size() || !std::isfinite(parsed))
        return false;
    value = parsed;
    return true;
}

[[noreturn]] void Fail(const char* what) {
    throw CalcError(what);
}

// Rounds to float32; raises CalcError when the value leaves the float32 range.
float Narrow(double value) {
    if (!std::isfinite(value))
        Fail("invalid operation");
    if (std::fabs(value) > static_cast<double>(std::numeric_limits<float>::max()))
        Fail("overflow");
    return static_cast<float>(value);
}

double Divide(double dividend, double divisor) {
    if (divisor == 0.0)
        Fail("division by zero");
    double quotient = dividend / divisor;
    if (!std::isfinite(quotient))
        Fail("overflow");
    return quotient;
}

double Multiply(double a, double b) {
    double product = a * b;
    if (!std::isfinite(product))
        Fail("overflow");
    return product;
}

void RequireFinite(double value) {
    if (!std::isfinite(value))
        Fail("invalid operation");
}

} // namespace

bool IsNumber(const QString& text) {
    double value = 0.0;
    return Parse(text, value);
}

double ToDouble(const QString& text) {
    double value = 0.0;
    if (!Parse(text, value))
        Fail("not a number");
    return value;
}

float ToSingle(const QString& text) {
    return Narrow(ToDouble(text));
}

std::int32_t ToInt32(const QString& text) {
    return RoundToInt32(ToDouble(text));
}

double RoundHalfEven(double value) {
    double whole = std::floor(value);
    const double fraction = value - whole; // exact for every double
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0))
        whole += 1.0;
    return whole;
}

std::int32_t RoundToInt32(double value) {
    if (!std::isfinite(value))
        Fail("invalid operation");
    const double whole = RoundHalfEven(value);
    if (whole < -2147483648.0 || whole > 2147483647.0)
        Fail("out of range");
    return static_cast<std::int32_t>(whole);
}

QString DoubleText(double value) {
    if (!std::isfinite(value))
        Fail("invalid operation");
    if (value == 0.0)
        return QStringLiteral("0"); // also for -0
    char buffer[64];
    auto written =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    std::string text(buffer, written.ptr);
    auto e = text.find('e');
    if (e != std::string::npos && text[e + 1] == '-') {
        // A "-" in the exponent would be stripped from a field and change the value, so
        // small magnitudes are written out in full.
        written =
            std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 14);
        std::string sci(buffer, written.ptr);
        bool negative = sci[0] == '-';
        std::string digits;
        auto exponentAt = sci.find('e');
        for (std::size_t i = negative ? 1 : 0; i < exponentAt; ++i)
            if (sci[i] != '.')
                digits += sci[i];
        int exponent = std::stoi(sci.substr(exponentAt + 1));
        while (digits.size() > 1 && digits.back() == '0')
            digits.pop_back();
        text = std::string(negative ? "-" : "") + "0." +
               std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
    }
    QString result = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    const QString point = QLocale().decimalPoint();
    if (point != u".")
        result.replace(u'.', point);
    return result;
}

QString Int32Text(std::int32_t value) {
    return QString::number(value);
}

double BpmFromSamples(std::int32_t samples, std::int32_t rate, float bars, float beats) {
    RequireFinite(bars);
    RequireFinite(beats);
    double t = Divide(static_cast<double>(samples), static_cast<double>(rate));
    double p = static_cast<double>(bars) * static_cast<double>(beats);
    t = Divide(t, p);
    t = Divide(1.0, t);
    float s = Narrow(t);
    s = Narrow(static_cast<double>(s) * 60.0);
    return static_cast<double>(s);
}

std::int32_t SamplesFromBpm(double bpm, std::int32_t rate, float bars, float beats) {
    RequireFinite(bars);
    RequireFinite(beats);
    RequireFinite(bpm);
    double y = Multiply(static_cast<double>(bars) * static_cast<double>(beats), 60.0);
    y = Multiply(y, static_cast<double>(rate));
    y = Divide(y, bpm);
    return RoundToInt32(static_cast<double>(Narrow(y)));
}

QString StripOperatorChars(const QString& text) {
    QString result = text;
    result.removeIf([](QChar c) {
        return c == u'*' || c == u'/' || c == u'\\' || c == u'+' || c == u'-' || c == u'#' ||
               c == u'\'';
    });
    return result;
}

std::int32_t ShiftBySemitones(std::int32_t samples, std::int32_t semitones) {
    double e = static_cast<double>(semitones) / 12.0;
    double f = std::pow(2.0, e);
    if (!std::isfinite(f))
        Fail("overflow");
    return RoundToInt32(Divide(static_cast<double>(samples), f));
}

} // namespace metronel
