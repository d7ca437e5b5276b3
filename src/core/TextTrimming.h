#pragma once

#include <QString>

namespace vocalith {

// Removes space separators and tabs from both ends; line breaks stay.
QString trimmedWhiteSpace(const QString& text);
// Removes space separators, tabs and line breaks (U+000A to U+000D, U+0085,
// U+2028, U+2029) from both ends.
QString trimmedWhiteSpaceAndLineBreaks(const QString& text);
// Each run of white space that holds a line break becomes one space, so text from a
// server can never end a subtitle cue early or start one of its own.
QString foldedLineBreaks(const QString& text);
// Control characters other than line feed and tab replaced by U+FFFD: text from a
// server or a file name must not move a terminal's cursor or rewrite its screen.
QString printableText(const QString& text);

} // namespace vocalith
