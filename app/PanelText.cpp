#include "PanelText.h"

#include "RunTimeError.h"

#include <QLocale>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <string>

namespace panel {

double LeadingNumber(const QString& text) {
    std::string s;
    for (QChar c : text)
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r')
            s += c.unicode() < 128 ? static_cast<char>(c.unicode()) : '?';
    size_t i = 0;
    std::string number;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) number += s[i++];
    bool digits = false;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) number += s[i++], digits = true;
    if (i < s.size() && s[i] == '.') {
        number += s[i++];
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) number += s[i++], digits = true;
    }
    if (!digits) return 0;
    // An exponent counts only when digits follow it ("1e" is 1).
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
        size_t j = i + 1;
        std::string exponent = "e";
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) exponent += s[j++];
        bool expDigits = false;
        while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) exponent += s[j++], expDigits = true;
        if (expDigits) number += exponent;
    }
    return std::strtod(number.c_str(), nullptr);
}

double UserNumber(const QString& text, vb::SourceLocation where) {
    bool ok = false;
    const double value = QLocale().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(value)) throw vb::RunTimeError(vb::errTypeMismatch, {}, {}, where);
    return value;
}

int32_t RoundToLong(double value, vb::SourceLocation where) {
    const double r = std::nearbyint(value);  // the default rounding mode: half to even
    if (!(r >= -2147483648.0 && r <= 2147483647.0)) throw vb::RunTimeError(vb::errOverflow, {}, {}, where);
    return static_cast<int32_t>(r);
}

QString TempoText(int32_t milli) {
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(milli / 1000.0, 'g', 15);
}

}  // namespace panel
