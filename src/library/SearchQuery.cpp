#include "SearchQuery.h"

#include <QRegularExpression>

#include <algorithm>

namespace vocalith {

namespace {

QString folded(const QString& text) {
    const QString decomposed = text.normalized(QString::NormalizationForm_D);
    QString kept;
    kept.reserve(decomposed.size());
    for (const QChar c : decomposed) {
        if (c.category() != QChar::Mark_NonSpacing)
            kept.append(c);
    }
    // Lower case rather than case folding, which would make "ß" "ss" where the index does not.
    return kept.toLower();
}

bool isAsciiLetterOrNumber(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
}

bool occursAt(const SearchQuery::Term& term, const QStringList& words, qsizetype at) {
    const qsizetype length = term.words.size();
    if (at + length > words.size())
        return false;
    for (qsizetype i = 0; i < length; ++i) {
        const bool same = term.prefix && i == length - 1 ? words[at + i].startsWith(term.words[i])
                                                         : words[at + i] == term.words[i];
        if (!same)
            return false;
    }
    return true;
}

} // namespace

QList<int> SearchQuery::occurrences(const QStringList& words) const {
    QList<int> counts;
    counts.reserve(m_terms.size());
    for (const Term& term : m_terms) {
        int count = 0;
        for (qsizetype at = 0; at < words.size(); ++at)
            count += occursAt(term, words, at) ? 1 : 0;
        counts.append(count);
    }
    return counts;
}

qsizetype SearchQuery::firstOccurrence(const QStringList& words) const {
    for (qsizetype at = 0; !m_terms.isEmpty() && at < words.size(); ++at) {
        if (occursAt(m_terms.constFirst(), words, at))
            return at;
    }
    return -1;
}

QStringList SearchQuery::foldedWords(const QString& text) {
    // Plain ASCII, as most transcripts are, needs no normalising: ranking folds the
    // text of every passage it weighs.
    if (std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; })) {
        QStringList words;
        qsizetype start = -1;
        for (qsizetype i = 0; i <= text.size(); ++i) {
            const bool inWord = i < text.size() && isAsciiLetterOrNumber(text[i].unicode());
            if (inWord && start < 0) {
                start = i;
            } else if (!inWord && start >= 0) {
                words.append(text.mid(start, i - start).toLower());
                start = -1;
            }
        }
        return words;
    }
    // unicode61 keeps letters and digits together and splits at everything else.
    static const QRegularExpression separators(QStringLiteral("[^\\p{L}\\p{N}\\p{Co}]+"));
    return folded(text).split(separators, Qt::SkipEmptyParts);
}

SearchQuery::SearchQuery(const QString& typed) {
    // Quotes pair up from the left; an odd one out is only a character.
    const qsizetype quotes = typed.count(QLatin1Char('"'));
    const qsizetype lastPaired =
        quotes % 2 == 0 ? typed.size() : typed.lastIndexOf(QLatin1Char('"'));
    qsizetype i = 0;
    while (i < typed.size()) {
        if (typed[i].isSpace()) {
            ++i;
            continue;
        }
        qsizetype end = i;
        QString piece;
        if (typed[i] == QLatin1Char('"') && i < lastPaired) {
            end = typed.indexOf(QLatin1Char('"'), i + 1);
            piece = typed.mid(i + 1, end - i - 1);
            ++end;
        } else {
            while (end < typed.size() && !typed[end].isSpace() &&
                   !(typed[end] == QLatin1Char('"') && end < lastPaired && end > i))
                ++end;
            piece = typed.mid(i, end - i);
        }
        Term term;
        term.prefix = piece.endsWith(QLatin1Char('*'));
        term.words = foldedWords(piece);
        if (!term.words.isEmpty())
            m_terms.append(term);
        i = end;
    }
}

QString SearchQuery::expression() const {
    QStringList parts;
    for (const Term& term : m_terms) {
        // Folded words are letters and digits only, so quoting cannot be escaped.
        QString part = QLatin1Char('"') + term.words.join(QLatin1Char(' ')) + QLatin1Char('"');
        if (term.prefix)
            part += QLatin1Char('*');
        parts.append(part);
    }
    return parts.join(QLatin1Char(' '));
}

} // namespace vocalith
