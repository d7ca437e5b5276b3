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

char32_t codePointAt(QStringView text, qsizetype at) {
    if (text[at].isHighSurrogate() && at + 1 < text.size() && text[at + 1].isLowSurrogate())
        return QChar::surrogateToUcs4(text[at], text[at + 1]);
    return text[at].unicode();
}

char32_t codePointBefore(QStringView text, qsizetype at) {
    if (text[at - 1].isLowSurrogate() && at >= 2 && text[at - 2].isHighSurrogate())
        return QChar::surrogateToUcs4(text[at - 2], text[at - 1]);
    return text[at - 1].unicode();
}

// A letter of a script written without spaces between its words.
bool isUnspacedLetter(char32_t c) {
    switch (QChar::script(c)) {
    case QChar::Script_Han:
    case QChar::Script_Hiragana:
    case QChar::Script_Katakana:
    case QChar::Script_Bopomofo:
    case QChar::Script_Thai:
    case QChar::Script_Lao:
    case QChar::Script_Khmer:
    case QChar::Script_Myanmar:
        return true;
    default:
        return false;
    }
}

// Such a letter, or the punctuation written with them (CJK symbols, full-width forms).
bool isUnspaced(char32_t c) {
    return isUnspacedLetter(c) || (c >= 0x3000 && c <= 0x303F) || (c >= 0xFF00 && c <= 0xFFEF);
}

// Chinese and Japanese, whose lines join with nothing between them; Thai and its
// neighbours put a space between phrases, where their lines break.
bool isUnspacedAndUnbroken(char32_t c) {
    switch (QChar::script(c)) {
    case QChar::Script_Thai:
    case QChar::Script_Lao:
    case QChar::Script_Khmer:
    case QChar::Script_Myanmar:
        return false;
    default:
        return isUnspaced(c);
    }
}

bool hasUnspaced(QStringView text) {
    return std::any_of(text.begin(), text.end(),
                       [](QChar c) { return c.isSurrogate() || isUnspaced(c.unicode()); });
}

// A line may break here, inside a word: where the Unicode line-breaking rules allow it
// beside a character written without spaces. Other words (English "well-known") never
// break inside.
bool isLineBreak(QTextBoundaryFinder& finder, QStringView text, qsizetype at) {
    if (!isUnspaced(codePointBefore(text, at)) && !isUnspaced(codePointAt(text, at)))
        return false;
    finder.setPosition(at);
    return finder.isAtBoundary();
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
    // joiner, anywhere else, after an article, inside a word); then the balance.
    using Key = std::tuple<qsizetype, int, qsizetype>;
    std::optional<Key> bestKey;
    qsizetype bestAt = 0;
    const bool unspaced = hasUnspaced(line);
    QTextBoundaryFinder lineBreaks(QTextBoundaryFinder::Line, unspaced ? line : QString());
    for (qsizetype k = 1; k < total; ++k) {
        const qsizetype at = clusters[k];
        const bool space = line[at] == QLatin1Char(' ');
        // Without a break the rules allow, a line too long may still break between two
        // letters written without spaces (Thai, where Qt finds no word breaks).
        bool insideWord = false;
        if (!space && (!unspaced || !isLineBreak(lineBreaks, line, at))) {
            if (!unspaced || !isUnspacedLetter(codePointBefore(line, at)) ||
                !isUnspacedLetter(codePointAt(line, at)))
                continue;
            insideWord = true;
        }
        const QStringView first = QStringView(line).left(at);
        const QStringView second = QStringView(line).mid(space ? at + 1 : at);
        if (first.isEmpty() || second.isEmpty() || first.back() == QLatin1Char(' '))
            continue;
        const int kind = insideWord                                  ? 4
                         : isPunctuation(first.back())               ? 0
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

QStringList pieces(const QString& word, qsizetype maxChars) {
    if (!hasUnspaced(word))
        return {word};
    QStringList found;
    qsizetype from = 0;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Line, word);
    for (qsizetype at = finder.toNextBoundary(); at > 0 && at < word.size();
         at = finder.toNextBoundary()) {
        if (isUnspaced(codePointBefore(word, at)) || isUnspaced(codePointAt(word, at))) {
            found.append(word.mid(from, at - from));
            from = at;
        }
    }
    found.append(word.mid(from));
    // A piece longer than a line (Thai without word breaks) is cut between its letters.
    QStringList result;
    for (const QString& piece : std::as_const(found)) {
        if (graphemeCount(piece) <= maxChars) {
            result.append(piece);
            continue;
        }
        QTextBoundaryFinder clusters(QTextBoundaryFinder::Grapheme, piece);
        qsizetype start = 0;
        for (qsizetype at = clusters.toNextBoundary(); at > 0 && at < piece.size();
             at = clusters.toNextBoundary()) {
            if (isUnspacedLetter(codePointBefore(piece, at)) &&
                isUnspacedLetter(codePointAt(piece, at))) {
                result.append(piece.mid(start, at - start));
                start = at;
            }
        }
        result.append(piece.mid(start));
    }
    return result;
}

QString joinLines(const QStringList& lines) {
    QString text;
    for (const QString& line : lines) {
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty())
            continue;
        if (!text.isEmpty() && !(isUnspacedAndUnbroken(codePointBefore(text, text.size())) &&
                                 isUnspacedAndUnbroken(codePointAt(trimmed, 0))))
            text += QLatin1Char(' ');
        text += trimmed;
    }
    return text;
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
