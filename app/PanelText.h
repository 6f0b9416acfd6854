#pragma once
// How the panel's text boxes are read and written.

#include "RunTimeError.h"

#include <QString>
#include <cstdint>

namespace panel {

// The number at the start of the text, with "." as the decimal point; blanks,
// tabs and line breaks are skipped anywhere. 0 when the text starts with no number.
double LeadingNumber(const QString& text);
// The whole text as a number in the user's format; run-time error 13 (type
// mismatch) when it is not one. Errors carry the caller's line, so that a report
// points into the handler that read the text.
double UserNumber(const QString& text, vb::SourceLocation where = vb::SourceLocation::current());
// Rounded to the nearest integer, a half to the even neighbour; error 6
// (overflow) outside the 32-bit range.
int32_t RoundToLong(double value, vb::SourceLocation where = vb::SourceLocation::current());
// Thousandths of a beat per minute as the tempo text: the shortest decimal form
// with up to 15 significant digits, in the user's decimal separator.
QString TempoText(int32_t milli);

}  // namespace panel
