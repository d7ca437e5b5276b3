#include "BroadcastLayout.h"

#include "core/TranscriptRendering.h"
#include "subtitles/LineBreaking.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace vocalith::BroadcastLayout {

namespace {

// A word, or a piece of one written without spaces (Chinese, Japanese, Thai), that a
// subtitle may start with.
struct Word {
    TranscriptSegment timed;
    bool glued = false; // to the word before it, with no space between
};

// Each word with its own times: a segment's recognised words keep theirs while they
// still spell its text; otherwise its time is shared out by characters, as nothing
// better is known.
QList<Word> wordsOf(const QList<TranscriptSegment>& segments, qsizetype maxChars) {
    QList<TranscriptSegment> stretches;
    for (const TranscriptSegment& segment : segments) {
        QStringList texts;
        for (const TranscriptWord& word : segment.words)
            texts.append(word.text);
        if (texts.isEmpty() || texts.join(QLatin1Char(' ')) != segment.text.simplified())
            stretches.append(segment);
        else
            for (const TranscriptWord& word : segment.words)
                stretches.append({word.text, word.startTime, word.endTime});
    }
    QList<Word> words;
    for (const TranscriptSegment& segment : stretches) {
        QList<std::pair<QString, bool>> parts;
        for (const QString& word :
             segment.text.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const QStringList pieces = LineBreaking::pieces(word, maxChars);
            for (qsizetype p = 0; p < pieces.size(); ++p)
                parts.append({pieces[p], p > 0});
        }
        qsizetype total = 0;
        for (const auto& part : parts)
            total += part.first.size();
        const double duration = std::max(0.0, segment.endTime - segment.startTime);
        qsizetype before = 0;
        for (const auto& [part, glued] : parts) {
            const double start = segment.startTime + duration * double(before) / double(total);
            before += part.size();
            const double end = segment.startTime + duration * double(before) / double(total);
            words.append({{part, start, end}, glued});
        }
    }
    return words;
}

bool endsSentence(const QString& word) {
    static const QString marks = QStringLiteral(".!?…。！？");
    // A title's full stop ends no sentence: "Mr." stays with the name after it.
    static const QStringList titles{QStringLiteral("Mr."), QStringLiteral("Mrs."),
                                    QStringLiteral("Ms."), QStringLiteral("Dr."),
                                    QStringLiteral("St.")};
    return !word.isEmpty() && marks.contains(word.back()) && !titles.contains(word);
}

} // namespace

QList<TranscriptSegment> layout(const QList<TranscriptSegment>& segments,
                                const QString& languageCode, const SubtitleRules& rules) {
    const QList<Word> words = wordsOf(segments, rules.maxChars);
    // Words grouped: a new subtitle after a pause, a sentence's end, or where the text or
    // the time would no longer fit.
    constexpr double pause = 0.5;
    QList<TranscriptSegment> cues;
    QString lastWord;
    for (const auto& [word, glued] : words) {
        if (!cues.isEmpty()) {
            TranscriptSegment& cue = cues.last();
            const QString longer = cue.text + (glued ? QString() : QStringLiteral(" ")) + word.text;
            const bool split =
                word.startTime - cue.endTime >= pause ||
                (endsSentence(lastWord) && cue.endTime - cue.startTime >= rules.minDuration) ||
                word.endTime - cue.startTime > rules.maxDuration ||
                !LineBreaking::fits(longer, rules.maxChars, rules.maxLines, languageCode);
            if (!split) {
                cue.text = longer;
                cue.endTime = word.endTime;
                lastWord = word.text;
                continue;
            }
        }
        cues.append(word);
        lastWord = word.text;
    }
    // Times, in whole milliseconds as the files hold them: long enough to read, within
    // the pause that follows, apart from the next by the gap.
    const auto ms = [](double seconds) { return qint64(std::llround(seconds * 1000)); };
    const qint64 minGap = ms(rules.minGap);
    for (qsizetype c = 0; c < cues.size(); ++c) {
        TranscriptSegment& cue = cues[c];
        const qint64 start = ms(cue.startTime);
        qint64 end = ms(cue.endTime);
        const qint64 limit = c + 1 < cues.size() ? ms(cues[c + 1].startTime) - minGap
                                                 : start + ms(rules.maxDuration);
        const qint64 readable =
            qint64(std::ceil(double(graphemeCount(cue.text)) * 1000.0 / rules.maxCharsPerSecond));
        const qint64 wanted = std::min(start + std::max(ms(rules.minDuration), readable),
                                       start + ms(rules.maxDuration));
        if (end < wanted)
            end = std::max(end, std::min(wanted, limit));
        end = std::max(start, std::min(end, limit));
        // A quarter of a millisecond in, so the written time is this one whether the
        // writer truncates or rounds.
        cue.startTime = (double(start) + 0.25) / 1000.0;
        cue.endTime = (double(end) + 0.25) / 1000.0;
        cue.text = LineBreaking::breakLines(cue.text, rules.maxChars, languageCode)
                       .join(QLatin1Char('\n'));
    }
    return cues;
}

QString rewrapSrt(const QString& srt, const QString& languageCode, const SubtitleRules& rules) {
    static const QRegularExpression blankLines(QStringLiteral("\\n{2,}"));
    QStringList blocks;
    for (const QString& block :
         QString(srt).remove(QLatin1Char('\r')).split(blankLines, Qt::SkipEmptyParts)) {
        QStringList lines = block.split(QLatin1Char('\n'));
        const qsizetype head = lines.size() > 1 && lines[1].contains(QLatin1String("-->")) ? 2 : 1;
        const QString text = LineBreaking::joinLines(lines.mid(head));
        lines = lines.mid(0, head);
        if (!text.isEmpty())
            lines += LineBreaking::breakLines(text, rules.maxChars, languageCode);
        blocks.append(lines.join(QLatin1Char('\n')));
    }
    return blocks.join(QLatin1String("\n\n"));
}

} // namespace vocalith::BroadcastLayout
