#include "TranscriptJson.h"

#include "core/TranscriptRendering.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace vocalith {

namespace {

// The on-device engine gives a segment per word: runs of those are joined into
// phrases as subtitles join them, never across a change of speaker.
QList<TranscriptSegment> phrases(const QList<TranscriptSegment>& segments) {
    QList<TranscriptSegment> joined;
    QList<TranscriptSegment> run;
    const auto endRun = [&] {
        for (TranscriptSegment cue : groupIntoCues(run)) {
            cue.speaker = run.constFirst().speaker;
            joined.append(cue);
        }
        run.clear();
    };
    for (const TranscriptSegment& segment : segments) {
        const bool oneWord = segment.words.size() == 1;
        if (!run.isEmpty() && (!oneWord || segment.speaker != run.constFirst().speaker))
            endRun();
        if (oneWord)
            run.append(segment);
        else
            joined.append(segment);
    }
    if (!run.isEmpty())
        endRun();
    return joined;
}

// Milliseconds are all a time holds; more digits are only noise of the arithmetic.
double rounded(double value, double steps = 1000.0) {
    return std::round(value * steps) / steps;
}

} // namespace

QByteArray TranscriptJson::document(const StoredTranscript& transcript) {
    QJsonArray segments;
    for (const TranscriptSegment& segment : phrases(transcript.segments)) {
        QJsonObject object{{QStringLiteral("start"), rounded(segment.startTime)},
                           {QStringLiteral("end"), rounded(segment.endTime)},
                           {QStringLiteral("text"), segment.text}};
        if (!segment.speaker.isEmpty())
            object.insert(QStringLiteral("speaker"), segment.speaker);
        if (!segment.words.isEmpty()) {
            QJsonArray words;
            for (const TranscriptWord& word : segment.words)
                words.append(QJsonObject{
                    {QStringLiteral("word"), word.text},
                    {QStringLiteral("start"), rounded(word.startTime)},
                    {QStringLiteral("end"), rounded(word.endTime)},
                    {QStringLiteral("probability"), rounded(word.confidence, 10000.0)}});
            object.insert(QStringLiteral("words"), words);
        }
        segments.append(object);
    }
    const QJsonObject root{{QStringLiteral("recording"), transcript.recordingPath},
                           {QStringLiteral("engine"), transcript.engine},
                           {QStringLiteral("model"), transcript.model},
                           {QStringLiteral("language"), transcript.language},
                           {QStringLiteral("duration"), rounded(transcript.duration)},
                           {QStringLiteral("segments"), segments}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

} // namespace vocalith
