#include "TranscriptRendering.h"

#include <QStringList>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <cmath>

namespace vocalith {

namespace {

constexpr double maxPause = 0.4;
constexpr qsizetype maxCueCharacters = 80;
constexpr double maxCueDuration = 6.0;

} // namespace

QList<TranscriptSegment> groupIntoCues(const QList<TranscriptSegment>& segments) {
    QList<TranscriptSegment> cues;
    if (segments.isEmpty())
        return cues;

    QStringList pending;
    TranscriptSegment cue;
    double previousEnd = segments.first().startTime;
    const auto closePending = [&] {
        cue.text = pending.join(QLatin1Char(' '));
        cue.endTime = previousEnd;
        cues.append(std::move(cue));
        cue = {};
        pending.clear();
    };

    for (const TranscriptSegment& segment : segments) {
        if (!pending.isEmpty()) {
            const bool pause = segment.startTime - previousEnd > maxPause;
            const bool tooLong =
                !pause && graphemeCount(pending.join(QLatin1Char(' ')) + QLatin1Char(' ') +
                                        segment.text) > maxCueCharacters;
            const bool tooSlow =
                !pause && !tooLong && segment.endTime - cue.startTime > maxCueDuration;
            if (pause || tooLong || tooSlow || segment.speaker != cue.speaker)
                closePending();
        }
        if (pending.isEmpty()) {
            cue.startTime = segment.startTime;
            cue.speaker = segment.speaker;
            cue.confidence = segment.confidence;
        }
        pending.append(segment.text);
        cue.confidence = std::min(cue.confidence, segment.confidence);
        cue.words.append(segment.words);
        previousEnd = segment.endTime;
    }
    closePending();
    return cues;
}

qsizetype graphemeCount(const QString& text) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
}

QString plainTextRendering(const QList<TranscriptSegment>& segments) {
    const bool speakers =
        std::any_of(segments.begin(), segments.end(),
                    [](const TranscriptSegment& s) { return !s.speaker.isEmpty(); });
    QStringList texts;
    texts.reserve(segments.size());
    if (!speakers) {
        for (const TranscriptSegment& segment : segments)
            texts.append(segment.text);
        return texts.join(QLatin1Char(' '));
    }
    for (qsizetype i = 0; i < segments.size(); ++i) {
        const QString& speaker = segments[i].speaker;
        if (i == 0 || speaker != segments[i - 1].speaker)
            texts.append(speaker.isEmpty() ? segments[i].text
                                           : speaker + QLatin1String(": ") + segments[i].text);
        else
            texts.last() += QLatin1Char(' ') + segments[i].text;
    }
    return texts.join(QLatin1String("\n\n"));
}

QString srtRendering(const QList<TranscriptSegment>& segments) {
    return srtFromCues(groupIntoCues(segments));
}

QString vttRendering(const QList<TranscriptSegment>& segments) {
    return vttFromCues(groupIntoCues(segments));
}

QString srtFromCues(const QList<TranscriptSegment>& cues) {
    QString srt;
    for (qsizetype i = 0; i < cues.size(); ++i) {
        const TranscriptSegment& cue = cues[i];
        srt += QString::number(i + 1) + QLatin1Char('\n') + srtTimestamp(cue.startTime) +
               QLatin1String(" --> ") + srtTimestamp(cue.endTime) + QLatin1Char('\n') + cue.text +
               QLatin1String("\n\n");
    }
    return srt;
}

QString vttFromCues(const QList<TranscriptSegment>& cues) {
    QString vtt = QStringLiteral("WEBVTT\n\n");
    for (const TranscriptSegment& cue : cues) {
        const auto escaped = [](QString text) {
            return text.replace(QLatin1Char('&'), QLatin1String("&amp;"))
                .replace(QLatin1Char('<'), QLatin1String("&lt;"))
                .replace(QLatin1Char('>'), QLatin1String("&gt;"));
        };
        QString text = escaped(cue.text);
        if (!cue.speaker.isEmpty())
            text = QLatin1String("<v ") + escaped(cue.speaker) + QLatin1Char('>') + text +
                   QLatin1String("</v>");
        vtt += srtTimestamp(cue.startTime).replace(QLatin1Char(','), QLatin1Char('.')) +
               QLatin1String(" --> ") +
               srtTimestamp(cue.endTime).replace(QLatin1Char(','), QLatin1Char('.')) +
               QLatin1Char('\n') + text + QLatin1String("\n\n");
    }
    return vtt;
}

QList<TranscriptSegment> withSpeakerNames(QList<TranscriptSegment> cues) {
    for (TranscriptSegment& cue : cues) {
        if (!cue.speaker.isEmpty())
            cue.text = cue.speaker + QLatin1String(": ") + cue.text;
    }
    return cues;
}

QString srtTimestamp(double seconds) {
    // Engines never deliver such times, but a player must still accept the file:
    // anything negative, not a number or beyond a 64-bit millisecond count shows as zero.
    if (!std::isfinite(seconds) || seconds < 0.0 || seconds >= 9.2e15)
        seconds = 0.0;
    // Rounded once, then split: 2.4 s is held as 2.39999... and must still print 02,400.
    const qint64 total = std::llround(seconds * 1000.0);
    return QString::asprintf("%02lld:%02lld:%02lld,%03lld", total / 3'600'000, total / 60'000 % 60,
                             total / 1000 % 60, total % 1000);
}

} // namespace vocalith
