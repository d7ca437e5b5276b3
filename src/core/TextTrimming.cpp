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

} // namespace vocalith
