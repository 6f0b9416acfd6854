#include "PanelText.h"

#include "RunTimeError.h"

#include <charconv>
#include <cmath>
#include <string>
#include <system_error>

namespace panel {

namespace {
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

double LeadingNumber(const QString& text) {
    std::string s;
    for (QChar c : text)
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r')
            s += c.unicode() < 128 ? static_cast<char>(c.unicode()) : '?';
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    std::string number;
    bool digits = false;
    while (i < s.size() && IsDigit(s[i])) number += s[i++], digits = true;
    if (i < s.size() && s[i] == '.') {
        number += s[i++];
        while (i < s.size() && IsDigit(s[i])) number += s[i++], digits = true;
    }
    if (!digits) return 0;
    // An exponent counts only when digits follow it ("1e" is 1).
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
        size_t j = i + 1;
        std::string exponent = "e";
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) exponent += s[j++];
        bool expDigits = false;
        while (j < s.size() && IsDigit(s[j])) exponent += s[j++], expDigits = true;
        if (expDigits) number += exponent;
    }
    // Not strtod, which reads the decimal point of the user's locale.
    double value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error != std::errc() || end != number.data() + number.size() || !std::isfinite(value)) return 0;
    return negative ? -value : value;
}

int32_t RoundToLong(double value, vb::SourceLocation where) {
    const double r = std::nearbyint(value);  // the default rounding mode: half to even
    if (!(r >= -2147483648.0 && r <= 2147483647.0)) throw vb::RunTimeError(vb::errOverflow, {}, {}, where);
    return static_cast<int32_t>(r);
}

QString TempoText(int32_t milli) {
    // QString::number writes the C locale's form: "." whatever the user's.
    return QString::number(milli / 1000.0, 'g', 15);
}

}  // namespace panel
