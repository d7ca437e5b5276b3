#include "WrittenForm.h"

#include <QSet>
#include <QSettings>

#include <algorithm>
#include <limits>
#include <vector>

namespace vocalith {

namespace {

QString withCapital(QString word) {
    if (!word.isEmpty())
        word[0] = word[0].toUpper();
    return word;
}

} // namespace

QString WrittenForm::settingKey() {
    return QStringLiteral("com.vocalith.writtenForm");
}

bool WrittenForm::isEnabled() {
    return QSettings().value(settingKey(), true).toBool();
}

WrittenForm::WrittenForm(std::shared_ptr<const WordList> words)
    : m_words(std::move(words)) {
}

bool WrittenForm::isTitle(const QString& word) {
    static const QSet<QString> titles{QStringLiteral("mr"), QStringLiteral("mrs"),
                                      QStringLiteral("ms"), QStringLiteral("dr"),
                                      QStringLiteral("st")};
    return titles.contains(word);
}

QString WrittenForm::writtenWord(const QString& word, bool beforeAnother, bool afterTitle) const {
    if (word == u"i" || word.startsWith(u"i'"))
        return withCapital(word);
    if (beforeAnother && isTitle(word))
        return withCapital(word) + QLatin1Char('.');
    // Only a word the list holds with a capital and never without one is a name; after
    // a title, one it holds with a capital at all ("Mr. Smith", "St. Mark").
    if (!afterTitle && m_words->contains(word))
        return word;
    const QString capitalised = withCapital(word);
    return m_words->contains(capitalised) ? capitalised : word;
}

void WrittenForm::rewriteUtterance(std::span<TranscriptSegment> segments, double pauseAfter) {
    if (!m_words)
        return;
    std::vector<TranscriptWord*> words;
    for (TranscriptSegment& segment : segments) {
        for (TranscriptWord& word : segment.words)
            words.push_back(&word);
    }
    for (std::size_t i = 0; i < words.size(); ++i) {
        QString text = writtenWord(words[i]->text, i + 1 < words.size(),
                                   i > 0 && words[i - 1]->text.endsWith(QLatin1Char('.')));
        if (!m_inSentence)
            text = withCapital(text);
        m_inSentence = true;
        words[i]->text = text;
    }
    if (!words.empty() && pauseAfter >= sentencePause) {
        words.back()->text += QLatin1Char('.');
        m_inSentence = false;
    }
    for (TranscriptSegment& segment : segments) {
        if (segment.words.isEmpty())
            continue;
        QStringList texts;
        for (const TranscriptWord& word : segment.words)
            texts.append(word.text);
        segment.text = texts.join(QLatin1Char(' '));
    }
}

void WrittenForm::rewriteTranscript(QList<TranscriptSegment>& segments,
                                    QList<qsizetype> utteranceEnds) {
    if (!segments.isEmpty())
        utteranceEnds.append(segments.size() - 1); // the recording's end ends a sentence
    std::sort(utteranceEnds.begin(), utteranceEnds.end());
    qsizetype begin = 0;
    for (const qsizetype end : utteranceEnds) {
        if (end < begin || end >= segments.size())
            continue;
        const double pause = end + 1 < segments.size()
                                 ? segments[end + 1].startTime - segments[end].endTime
                                 : std::numeric_limits<double>::infinity();
        rewriteUtterance(std::span(segments.data(), size_t(segments.size()))
                             .subspan(size_t(begin), size_t(end + 1 - begin)),
                         pause);
        begin = end + 1;
    }
}

} // namespace vocalith
