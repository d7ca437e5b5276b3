#include "TranscriptJson.h"

#include "core/TranscriptRendering.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace vocalith {

namespace {

// An on-device transcript holds a segment per word: as phrases it reads like any other.
QList<TranscriptSegment> phrases(const QList<TranscriptSegment>& segments) {
    const bool wordByWord =
        !segments.isEmpty() &&
        std::all_of(segments.begin(), segments.end(),
                    [](const TranscriptSegment& segment) { return segment.words.size() == 1; });
    if (!wordByWord)
        return segments;
    // Never join across a change of speaker.
    QList<TranscriptSegment> joined;
    qsizetype runStart = 0;
    for (qsizetype i = 1; i <= segments.size(); ++i) {
        if (i < segments.size() && segments[i].speaker == segments[runStart].speaker)
            continue;
        for (TranscriptSegment cue : groupIntoCues(segments.mid(runStart, i - runStart))) {
            cue.speaker = segments[runStart].speaker;
            joined.append(cue);
        }
        runStart = i;
    }
    return joined;
}

} // namespace

QByteArray TranscriptJson::document(const StoredTranscript& transcript) {
    QJsonArray segments;
    for (const TranscriptSegment& segment : phrases(transcript.segments)) {
        QJsonObject object{{QStringLiteral("start"), segment.startTime},
                           {QStringLiteral("end"), segment.endTime},
                           {QStringLiteral("text"), segment.text}};
        if (!segment.speaker.isEmpty())
            object.insert(QStringLiteral("speaker"), segment.speaker);
        if (!segment.words.isEmpty()) {
            QJsonArray words;
            for (const TranscriptWord& word : segment.words)
                words.append(QJsonObject{{QStringLiteral("word"), word.text},
                                         {QStringLiteral("start"), word.startTime},
                                         {QStringLiteral("end"), word.endTime},
                                         {QStringLiteral("probability"), word.confidence}});
            object.insert(QStringLiteral("words"), words);
        }
        segments.append(object);
    }
    const QJsonObject root{{QStringLiteral("recording"), transcript.recordingPath},
                           {QStringLiteral("engine"), transcript.engine},
                           {QStringLiteral("model"), transcript.model},
                           {QStringLiteral("language"), transcript.language},
                           {QStringLiteral("duration"), transcript.duration},
                           {QStringLiteral("segments"), segments}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

} // namespace vocalith
