#pragma once

#include <QString>
#include <QStringList>

namespace vocalith {

// What a person types into a search field, made into a full-text query that cannot
// be a syntax error: "quoted phrases", prefix*, and every other word as itself
// (AND, OR, NEAR and stray quotes or stars included).
class SearchQuery final {
public:
    explicit SearchQuery(const QString& typed);

    bool isEmpty() const { return m_terms.isEmpty(); }
    // The FTS5 MATCH expression.
    QString expression() const;

    struct Term {
        QStringList words; // folded, as the index compares them
        bool prefix = false;
    };
    const QList<Term>& terms() const { return m_terms; }

    // How often each term occurs in folded words, as the index finds it: its words in a
    // row, the last one only as the start of a word when starred.
    QList<int> occurrences(const QStringList& words) const;
    // Where the first term first occurs in folded words; -1 when nowhere.
    qsizetype firstOccurrence(const QStringList& words) const;

    // Lower case without accents, split into the words the index sees.
    static QStringList foldedWords(const QString& text);

private:
    QList<Term> m_terms;
};

} // namespace vocalith
