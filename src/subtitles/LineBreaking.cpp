#include "LineBreaking.h"

#include "core/TranscriptRendering.h"

#include <QHash>
#include <QSet>
#include <QTextBoundaryFinder>

#include <algorithm>

namespace vocalith::LineBreaking {

namespace {

struct LanguageWords {
    QSet<QString> joiners;  // conjunctions and prepositions: a line may start with one
    QSet<QString> articles; // a line never ends with one
};

QSet<QString> wordSet(const char* words) {
    QSet<QString> set;
    for (const QString& word : QString::fromUtf8(words).split(QLatin1Char(' ')))
        set.insert(word);
    return set;
}

const LanguageWords& wordsOf(const QString& languageCode) {
    static const QHash<QString, LanguageWords> table{
        {QStringLiteral("en"),
         {wordSet("and but or nor so yet because that which who when while if of to in on at "
                  "for with from by about into over after before under between through"),
          wordSet("a an the")}},
        {QStringLiteral("de"),
         {wordSet("und oder aber denn dass weil wenn als mit von zu in an auf für aus bei nach "
                  "über unter"),
          wordSet("der die das den dem des ein eine einen einem einer eines")}},
        {QStringLiteral("fr"),
         {wordSet("et ou mais donc car que qui quand si de à en dans sur pour avec par sans sous"),
          wordSet("le la les un une des du")}},
        {QStringLiteral("es"),
         {wordSet("y o pero que porque cuando si de a en con por para sin sobre"),
          wordSet("el la los las un una unos unas")}},
        {QStringLiteral("pt"),
         {wordSet("e ou mas que porque quando se de em com por para sem sobre"),
          wordSet("o a os as um uma uns umas")}},
    };
    static const LanguageWords none;
    const auto it = table.constFind(languageCode.left(2).toLower());
    return it != table.cend() ? *it : none;
}

bool isUnspaced(QChar c) {
    const QChar::Script script = c.script();
    return script == QChar::Script_Han || script == QChar::Script_Hiragana ||
           script == QChar::Script_Katakana || script == QChar::Script_Thai;
}

bool isPunctuation(QChar c) {
    static const QString marks = QStringLiteral(".,;:!?…、。，！？；：");
    return marks.contains(c);
}

QString firstWord(QStringView text) {
    const qsizetype space = text.indexOf(QLatin1Char(' '));
    return (space < 0 ? text : text.left(space)).toString().toLower();
}

QString lastWord(QStringView text) {
    return text.mid(text.lastIndexOf(QLatin1Char(' ')) + 1).toString().toLower();
}

} // namespace

QStringList breakLines(const QString& text, qsizetype maxChars, const QString& languageCode) {
    const QString line = text.simplified();
    // Where each grapheme cluster starts: lengths come from positions in this list.
    QList<qsizetype> clusters;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, line);
    for (qsizetype at = 0; at >= 0 && at < line.size(); at = finder.toNextBoundary())
        clusters.append(at);
    const qsizetype total = clusters.size();
    if (total <= maxChars)
        return {line};
    const LanguageWords& words = wordsOf(languageCode);
    // Lines that fit come first; then the kind of break (after punctuation, before a
    // joiner, anywhere else, after an article); then the balance.
    using Key = std::tuple<qsizetype, int, qsizetype>;
    std::optional<Key> bestKey;
    qsizetype bestAt = 0;
    for (qsizetype k = 1; k < total; ++k) {
        const qsizetype at = clusters[k];
        const bool space = line[at] == QLatin1Char(' ');
        if (!space && !(isUnspaced(line[at - 1]) && isUnspaced(line[at])))
            continue;
        const QStringView first = QStringView(line).left(at);
        const QStringView second = QStringView(line).mid(space ? at + 1 : at);
        if (first.isEmpty() || second.isEmpty() || first.back() == QLatin1Char(' '))
            continue;
        const int kind = isPunctuation(first.back())                 ? 0
                         : words.articles.contains(lastWord(first))  ? 3
                         : words.joiners.contains(firstWord(second)) ? 1
                                                                     : 2;
        const qsizetype a = k;
        const qsizetype b = total - k - (space ? 1 : 0);
        const qsizetype longer = std::max(a, b);
        const Key key{longer > maxChars ? longer : 0, kind, std::abs(a - b)};
        if (!bestKey || key < *bestKey) {
            bestKey = key;
            bestAt = at;
        }
    }
    if (!bestKey)
        return {line};
    return {line.left(bestAt).trimmed(), line.mid(bestAt).trimmed()};
}

bool fits(const QString& text, qsizetype maxChars, qsizetype maxLines,
          const QString& languageCode) {
    // Most texts are settled by their length alone.
    const qsizetype length = text.size() <= maxChars ? text.size() : graphemeCount(text);
    if (length <= maxChars)
        return true;
    if (maxLines < 2 || length > maxChars * maxLines + maxLines - 1)
        return false;
    const QStringList lines = breakLines(text, maxChars, languageCode);
    return lines.size() <= maxLines &&
           std::all_of(lines.cbegin(), lines.cend(),
                       [&](const QString& line) { return graphemeCount(line) <= maxChars; });
}

QString codeForLanguageName(const QString& name) {
    static const QHash<QString, QString> codes{
        {QStringLiteral("Indonesian"), QStringLiteral("id")},
        {QStringLiteral("English"), QStringLiteral("en")},
        {QStringLiteral("Japanese"), QStringLiteral("ja")},
        {QStringLiteral("Korean"), QStringLiteral("ko")},
        {QStringLiteral("Chinese (Simplified)"), QStringLiteral("zh")},
        {QStringLiteral("French"), QStringLiteral("fr")},
        {QStringLiteral("German"), QStringLiteral("de")},
        {QStringLiteral("Spanish"), QStringLiteral("es")},
        {QStringLiteral("Portuguese"), QStringLiteral("pt")},
        {QStringLiteral("Arabic"), QStringLiteral("ar")},
        {QStringLiteral("Russian"), QStringLiteral("ru")},
        {QStringLiteral("Thai"), QStringLiteral("th")},
        {QStringLiteral("Vietnamese"), QStringLiteral("vi")}};
    return codes.value(name);
}

} // namespace vocalith::LineBreaking
