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

    // Lower case without accents, split into the words the index sees.
    static QStringList foldedWords(const QString& text);

private:
    QList<Term> m_terms;
};

} // namespace vocalith
