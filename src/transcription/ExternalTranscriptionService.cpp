#include "ExternalTranscriptionService.h"

#include "core/UuidText.h"

#include "providers/ProviderHttp.h"
#include "transcription/ExternalError.h"
#include "transcription/VerboseResponse.h"

#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>

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

// Reads the whole file straight into its place between head and tail, so the
// audio is copied once, not read and then copied again into the body.
std::optional<QByteArray> bodyAroundFile(const QString& path, const QByteArray& head,
                                         const QByteArray& tail) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.isSequential())
        return std::nullopt;
    const qint64 size = file.size();
    QByteArray body(head.size() + size + tail.size(), Qt::Uninitialized);
    std::copy(head.cbegin(), head.cend(), body.begin());
    qint64 done = 0;
    while (done < size) {
        const qint64 n = file.read(body.data() + head.size() + done, size - done);
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            break; // the file shrank meanwhile: send what it holds now
        done += n;
    }
    body.resize(head.size() + done + tail.size());
    std::copy(tail.cbegin(), tail.cend(), body.begin() + head.size() + done);
    return body;
}

} // namespace

ExternalTranscriptionService::ExternalTranscriptionService(QNetworkAccessManager* network,
                                                           std::chrono::milliseconds timeout)
    : m_network(network ? *network : ProviderHttp::sharedNetworkAccessManager())
    , m_timeout(timeout) {
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

    const QByteArray boundary = "Boundary-" + uuidText().toLatin1();
    const std::optional<QByteArray> body =
        bodyAroundFile(audioFilePath,
                       multipartHead(boundary, provider.model, languageCode(language),
                                     QFileInfo(audioFilePath).fileName()),
                       multipartTail(boundary));
    if (!body)
        return reportFailure(onEvent, ExternalError::cannotReadFile());

    const QNetworkRequest request =
        ProviderHttp::request(*url, apiKey, "multipart/form-data; boundary=" + boundary, m_timeout);

    onEvent(TranscriptionEvent::progress(0.2, QStringLiteral("Uploading & transcribing via ") +
                                                  provider.name + QStringLiteral("...")));

    QNetworkReply* reply = m_network.post(request, *body);
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, onEvent] {
        handleAnswer(ProviderHttp::readAnswer(*reply), onEvent);
        reply->deleteLater();
    });
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

void ExternalTranscriptionService::handleAnswer(const ProviderHttp::Answer& answer,
                                                const TranscriptionEventHandler& onEvent) {
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
