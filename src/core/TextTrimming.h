#pragma once

#include <QString>

namespace vocalith {

// Removes space separators and tabs from both ends; line breaks stay.
QString trimmedWhiteSpace(const QString& text);
// Removes space separators, tabs and line breaks (U+000A to U+000D, U+0085,
// U+2028, U+2029) from both ends.
QString trimmedWhiteSpaceAndLineBreaks(const QString& text);

} // namespace vocalith
