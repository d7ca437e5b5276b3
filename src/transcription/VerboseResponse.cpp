#include "VerboseResponse.h"

#include "core/TextTrimming.h"
#include "providers/ProviderHttp.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace vocalith {

std::optional<VerboseResponse> VerboseResponse::decode(const QByteArray& body, QString& error) {
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        error = ProviderHttp::jsonErrorText(parseError);
        return std::nullopt;
    }
    if (!document.isObject()) {
        error = QStringLiteral("Expected a JSON object.");
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    VerboseResponse response;

    const QJsonValue text = object.value(QLatin1String("text"));
    if (text.isString()) {
        response.text = text.toString();
    } else if (!text.isUndefined() && !text.isNull()) {
        error = QStringLiteral("\"text\" is not a string.");
        return std::nullopt;
    }

    const QJsonValue segments = object.value(QLatin1String("segments"));
    if (segments.isArray()) {
        QList<Segment> decoded;
        const QJsonArray array = segments.toArray();
        for (qsizetype i = 0; i < array.size(); ++i) {
            const QJsonObject element = array.at(i).toObject();
            const QJsonValue start = element.value(QLatin1String("start"));
            const QJsonValue end = element.value(QLatin1String("end"));
            const QJsonValue segmentText = element.value(QLatin1String("text"));
            if (!array.at(i).isObject() || !start.isDouble() || !end.isDouble() ||
                !segmentText.isString()) {
                error = QStringLiteral("Segment ") + QString::number(i + 1) +
                        QStringLiteral(" needs a numeric \"start\" and \"end\" and a \"text\".");
                return std::nullopt;
            }
            Segment segment{start.toDouble(), end.toDouble(), segmentText.toString(), {}, {}, {}};
            if (const QJsonValue score = element.value(QLatin1String("avg_logprob"));
                score.isDouble())
                segment.averageLogProbability = score.toDouble();
            if (const QJsonValue score = element.value(QLatin1String("no_speech_prob"));
                score.isDouble())
                segment.noSpeechProbability = score.toDouble();
            // OpenAI and diarizing Whisper servers say "speaker", Mistral "speaker_id".
            for (const QLatin1String key :
                 {QLatin1String("speaker"), QLatin1String("speaker_id")}) {
                const QJsonValue label = element.value(key);
                if (segment.speaker.isEmpty() && label.isString())
                    segment.speaker = label.toString().trimmed();
                else if (segment.speaker.isEmpty() && label.isDouble())
                    segment.speaker = QString::number(label.toDouble());
            }
            decoded.append(segment);
        }
        response.segments = decoded;
    } else if (!segments.isUndefined() && !segments.isNull()) {
        error = QStringLiteral("\"segments\" is not an array.");
        return std::nullopt;
    }
    return response;
}

QList<TranscriptSegment> VerboseResponse::transcriptSegments() const {
    QList<TranscriptSegment> result;
    if (segments && !segments->isEmpty()) {
        for (const Segment& segment : *segments) {
            // Whisper's own thresholds for a doubtful segment.
            const bool doubtful = segment.averageLogProbability.value_or(0.0) < -1.0 ||
                                  segment.noSpeechProbability.value_or(0.0) > 0.6;
            TranscriptSegment read{trimmedWhiteSpace(foldedLineBreaks(segment.text)), segment.start,
                                   segment.end, doubtful ? 0.0 : 1.0};
            read.speaker = segment.speaker;
            result.append(read);
        }
    } else if (text && !text->isEmpty()) {
        result.append({foldedLineBreaks(*text), 0.0, 0.0});
    }
    return result;
}

} // namespace vocalith
