#include "TextTrimming.h"

namespace vocalith {

namespace {

bool isWhiteSpace(QChar c) {
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

bool isLineBreak(QChar c) {
    return (c >= u'\n' && c <= u'\r') || c == u'\u0085' || c == u'\u2028' || c == u'\u2029';
}

template <typename Predicate> QString trimmed(const QString& text, Predicate drop) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && drop(text[begin]))
        ++begin;
    while (end > begin && drop(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

} // namespace

QString trimmedWhiteSpace(const QString& text) {
    return trimmed(text, isWhiteSpace);
}

QString trimmedWhiteSpaceAndLineBreaks(const QString& text) {
    return trimmed(text, [](QChar c) { return isWhiteSpace(c) || isLineBreak(c); });
}

QString foldedLineBreaks(const QString& text) {
    QString folded;
    folded.reserve(text.size());
    for (qsizetype i = 0; i < text.size();) {
        qsizetype end = i;
        bool lineBreak = false;
        while (end < text.size() && (isWhiteSpace(text[end]) || isLineBreak(text[end])))
            lineBreak = isLineBreak(text[end++]) || lineBreak;
        if (lineBreak) {
            folded.append(QLatin1Char(' '));
            i = end;
        } else if (end > i) {
            folded.append(QStringView(text).mid(i, end - i));
            i = end;
        } else {
            folded.append(text[i++]);
        }
    }
    return folded;
}

QString printableText(const QString& text) {
    QString printable = text;
    for (QChar& c : printable) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != u'\n' && u != u'\t') || (u >= 0x7f && u < 0xa0))
            c = QChar::ReplacementCharacter;
    }
    return printable;
}

} // namespace vocalith
