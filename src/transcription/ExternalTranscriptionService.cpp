#include "ExternalTranscriptionService.h"

#include "core/UuidText.h"
#include "providers/ProviderHttp.h"
#include "transcription/ExternalError.h"
#include "transcription/VerboseResponse.h"

#include <QFileInfo>

namespace vocalith {

namespace {

constexpr QByteArrayView crlf("\r\n");

void reportFailure(const TranscriptionEventHandler& onEvent, const ExternalError& error) {
    onEvent(TranscriptionEvent::failure(error.toEngineError()));
}

// A quote or line break in a file name would end the header early or start a new
// one; they are percent-encoded the way browsers encode form data.
QByteArray headerSafeFileName(const QString& fileName) {
    QByteArray name = fileName.toUtf8();
    name.replace('"', "%22").replace('\r', "%0D").replace('\n', "%0A");
    return name;
}

void appendField(QByteArray& body, const QByteArray& boundary, QByteArrayView name,
                 const QString& value) {
    body.append("--").append(boundary).append(crlf);
    body.append("Content-Disposition: form-data; name=\"").append(name).append("\"");
    body.append(crlf).append(crlf);
    body.append(value.toUtf8()).append(crlf);
}

// Upload progress between 0.2 and 0.8, one event per whole percent.
class UploadProgress {
public:
    UploadProgress(TranscriptionEventHandler onEvent, QString status)
        : m_onEvent(std::move(onEvent))
        , m_status(std::move(status)) {}

    void operator()(qint64 sent, qint64 total) {
        if (total <= 0)
            return;
        const int percent = int(20 + 60 * sent / total);
        if (percent <= m_percent)
            return;
        m_percent = percent;
        m_onEvent(TranscriptionEvent::progress(percent / 100.0, m_status));
    }

private:
    TranscriptionEventHandler m_onEvent;
    QString m_status;
    int m_percent = 20;
};

} // namespace

ExternalTranscriptionService::ExternalTranscriptionService(std::chrono::milliseconds timeout)
    : m_timeout(timeout) {
}

void ExternalTranscriptionService::cancel() {
    m_http.cancelAll();
}

void ExternalTranscriptionService::transcribe(const QString& audioFilePath,
                                              const CustomProvider& provider, const QString& apiKey,
                                              TranscriptionLanguage language,
                                              TranscriptionEventHandler onEvent) {
    onEvent(TranscriptionEvent::progress(0.05, QStringLiteral("Preparing upload to ") +
                                                   provider.name + QStringLiteral("...")));

    const std::optional<QUrl> url =
        ProviderHttp::endpoint(provider.baseURL, QStringLiteral("/audio/transcriptions"));
    if (!url)
        return reportFailure(onEvent, ExternalError::invalidURL());
    if (!ProviderHttp::isUsableApiKey(apiKey))
        return reportFailure(onEvent, ExternalError::unusableApiKey());

    const QFileInfo file(audioFilePath);
    if (!file.isFile() || !file.isReadable())
        return reportFailure(onEvent, ExternalError::cannotReadFile());

    const QByteArray boundary = "Boundary-" + uuidText().toLatin1();
    HttpRequest request;
    request.url = *url;
    request.headers = {{"Authorization", "Bearer " + apiKey.toUtf8()},
                       {"Content-Type", "multipart/form-data; boundary=" + boundary}};
    request.body = {BodyPart::data(multipartHead(boundary, provider.model, languageCode(language),
                                                 file.fileName())),
                    BodyPart::file(audioFilePath), BodyPart::data(multipartTail(boundary))};
    request.idleTimeout = m_timeout;

    const QString status =
        QStringLiteral("Uploading & transcribing via ") + provider.name + QStringLiteral("...");
    onEvent(TranscriptionEvent::progress(0.2, status));
    m_http.post(request, UploadProgress(onEvent, status),
                [onEvent](const HttpAnswer& answer) { handleAnswer(answer, onEvent); });
}

QByteArray ExternalTranscriptionService::multipartHead(const QByteArray& boundary,
                                                       const QString& model,
                                                       const std::optional<QString>& languageCode,
                                                       const QString& fileName) {
    QByteArray head;
    appendField(head, boundary, "model", model);
    appendField(head, boundary, "response_format", QStringLiteral("verbose_json"));
    if (languageCode)
        appendField(head, boundary, "language", *languageCode);

    head.append("--").append(boundary).append(crlf);
    head.append("Content-Disposition: form-data; name=\"file\"; filename=\"")
        .append(headerSafeFileName(fileName))
        .append("\"")
        .append(crlf);
    head.append("Content-Type: audio/mpeg").append(crlf).append(crlf);
    return head;
}

QByteArray ExternalTranscriptionService::multipartTail(const QByteArray& boundary) {
    return crlf.toByteArray() + "--" + boundary + "--" + crlf.toByteArray();
}

void ExternalTranscriptionService::handleAnswer(const HttpAnswer& answer,
                                                const TranscriptionEventHandler& onEvent) {
    if (answer.cancelled)
        return reportFailure(onEvent, ExternalError::cancelled());
    if (answer.bodyUnreadable)
        return reportFailure(onEvent, ExternalError::cannotReadFile());
    if (answer.transportError)
        return reportFailure(onEvent, ExternalError::network(*answer.transportError));
    if (!answer.isSuccessStatus())
        return reportFailure(
            onEvent, ExternalError::apiError(answer.status, ProviderHttp::bodyText(answer.body)));

    onEvent(TranscriptionEvent::progress(0.9, QStringLiteral("Parsing transcription...")));
    QString decodeError;
    const std::optional<VerboseResponse> response =
        VerboseResponse::decode(answer.body, decodeError);
    if (!response)
        return reportFailure(onEvent, ExternalError::parseError(decodeError));

    const QList<TranscriptSegment> segments = response->transcriptSegments();
    if (segments.isEmpty())
        return reportFailure(onEvent, ExternalError::noSegments());
    onEvent(TranscriptionEvent::progress(1.0, QStringLiteral("Complete")));
    onEvent(TranscriptionEvent::success(segments));
}

} // namespace vocalith
