#include "ExternalTranscriptionService.h"

#include "providers/ProviderHttp.h"
#include "transcription/ExternalError.h"
#include "transcription/VerboseResponse.h"

#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QUuid>

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

bool readWholeFile(const QString& path, QByteArray& contents) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    contents = file.readAll();
    return file.error() == QFileDevice::NoError;
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

    QByteArray audio;
    if (!readWholeFile(audioFilePath, audio))
        return reportFailure(onEvent, ExternalError::cannotReadFile());

    const QByteArray boundary =
        "Boundary-" + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toLatin1();
    QByteArray body = multipartBody(boundary, provider.model, languageCode(language),
                                    QFileInfo(audioFilePath).fileName(), audio);
    audio = QByteArray(); // the body holds the only copy from here on

    const QNetworkRequest request =
        ProviderHttp::request(*url, apiKey, "multipart/form-data; boundary=" + boundary, m_timeout);

    onEvent(TranscriptionEvent::progress(0.2, QStringLiteral("Uploading & transcribing via ") +
                                                  provider.name + QStringLiteral("...")));

    QNetworkReply* reply = m_network.post(request, body);
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, onEvent] {
        handleAnswer(ProviderHttp::readAnswer(*reply), onEvent);
        reply->deleteLater();
    });
}

QByteArray ExternalTranscriptionService::multipartBody(const QByteArray& boundary,
                                                       const QString& model,
                                                       const std::optional<QString>& languageCode,
                                                       const QString& fileName,
                                                       const QByteArray& audio) {
    QByteArray body;
    body.reserve(audio.size() + 1024 + model.size() * 4 + fileName.size() * 12);
    appendField(body, boundary, "model", model);
    appendField(body, boundary, "response_format", QStringLiteral("verbose_json"));
    if (languageCode)
        appendField(body, boundary, "language", *languageCode);

    body.append("--").append(boundary).append(crlf);
    body.append("Content-Disposition: form-data; name=\"file\"; filename=\"")
        .append(headerSafeFileName(fileName))
        .append("\"")
        .append(crlf);
    body.append("Content-Type: audio/mpeg").append(crlf).append(crlf);
    body.append(audio).append(crlf);
    body.append("--").append(boundary).append("--").append(crlf);
    return body;
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
