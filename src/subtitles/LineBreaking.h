#pragma once

#include <QString>
#include <QStringList>

namespace vocalith {

// Where a subtitle's text is broken into lines, as subtitle editors do: after
// punctuation, else before a conjunction or preposition of the language, else where the
// two lines balance best; never between an article and its noun. Lengths are counted in
// grapheme clusters; text without spaces (Chinese, Japanese) may break between any two
// of its characters.
namespace LineBreaking {

// The text on one line when it fits, else on two; a word longer than a line stands on
// a line of its own.
QStringList breakLines(const QString& text, qsizetype maxChars, const QString& languageCode);

// Whether the text fits on maxLines lines of maxChars.
bool fits(const QString& text, qsizetype maxChars, qsizetype maxLines, const QString& languageCode);

// "de" for "German", "zh" for "Chinese (Simplified)": the Translate tab's names.
QString codeForLanguageName(const QString& name);

} // namespace LineBreaking

} // namespace vocalith
