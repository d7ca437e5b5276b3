#pragma once

#include <QString>
#include <QStringList>

namespace vocalith {

// Where a subtitle's text is broken into lines, as subtitle editors do: after
// punctuation, else before a conjunction or preposition of the language, else where the
// two lines balance best; never between an article and its noun. Lengths are counted in
// grapheme clusters, as the subtitle checker counts them. Text written without spaces
// (Chinese, Japanese, Thai) breaks where the Unicode line-breaking rules allow, and
// between two of its letters only when no such break fits.
namespace LineBreaking {

// The text on one line when it fits, else on two; a word longer than a line stands on
// a line of its own.
QStringList breakLines(const QString& text, qsizetype maxChars, const QString& languageCode);

// Whether the text fits on maxLines lines of maxChars.
bool fits(const QString& text, qsizetype maxChars, qsizetype maxLines, const QString& languageCode);

// A word (text without spaces) cut where a line may break inside it, beside characters
// written without spaces; a piece still longer than maxChars is cut between its
// letters. Other words come back whole.
QStringList pieces(const QString& word, qsizetype maxChars);

// A subtitle's lines as one text: joined with a space, but with nothing between
// Chinese or Japanese characters.
QString joinLines(const QStringList& lines);

// "de" for "German", "zh" for "Chinese (Simplified)": the Translate tab's names.
QString codeForLanguageName(const QString& name);

} // namespace LineBreaking

} // namespace vocalith
