#pragma once
// How the panel's text boxes are read and written. Numbers are read and
// written with "." as the decimal point whatever the user's locale, so that
// what a box shows reads back as the value used.

#include "RunTimeError.h"

#include <QString>
#include <cstdint>

namespace panel {

// The number at the start of the text, with "." as the decimal point; blanks,
// tabs and line breaks are skipped anywhere. 0 when the text starts with no
// number, or with one too large to be read.
double LeadingNumber(const QString& text);
// Rounded to the nearest integer, a half to the even neighbour; error 6
// (overflow) outside the 32-bit range. Errors carry the caller's line, so that
// a report points into the handler that read the text.
int32_t RoundToLong(double value, vb::SourceLocation where = vb::SourceLocation::current());
// Thousandths of a beat per minute as the tempo text: the shortest decimal form
// with up to 15 significant digits, with "." as the decimal point.
QString TempoText(int32_t milli);

}  // namespace panel
