#include "ProviderHttp.h"

#include "core/TextTrimming.h"

#include <QJsonParseError>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <algorithm>

namespace vocalith::ProviderHttp {

QNetworkAccessManager& sharedNetworkAccessManager() {
    static QNetworkAccessManager* manager = new QNetworkAccessManager;
    return *manager;
}

std::optional<QUrl> endpoint(const QString& baseURL, const QString& path) {
    QString base = trimmedWhiteSpaceAndLineBreaks(baseURL);
    if (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    const QUrl url(base + path, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return std::nullopt;
    if (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))
        return std::nullopt;
    return url;
}

bool isUsableApiKey(const QString& apiKey) {
    return std::none_of(apiKey.cbegin(), apiKey.cend(), [](QChar c) {
        return (c.unicode() < 0x20 && c != u'\t') || c.unicode() == 0x7f;
    });
}

QNetworkRequest request(const QUrl& url, const QString& apiKey, const QByteArray& contentType,
                        std::chrono::milliseconds transferTimeout) {
    QNetworkRequest request(url);
    request.setRawHeader("Authorization", "Bearer " + apiKey.toUtf8());
    request.setRawHeader("Content-Type", contentType);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(static_cast<int>(transferTimeout.count()));
    return request;
}

Answer readAnswer(QNetworkReply& reply) {
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QNetworkReply::NetworkError error = reply.error();
    // Qt reports HTTP error statuses as errors too; only failures below HTTP, or a
    // connection lost in the middle of an answer, count as transport errors.
    const bool transportFailure =
        error != QNetworkReply::NoError &&
        (!status.isValid() || error < QNetworkReply::ContentAccessDenied ||
         error == QNetworkReply::ProtocolFailure);
    if (transportFailure) {
        if (error == QNetworkReply::OperationCanceledError)
            return {QStringLiteral("The request timed out."), 0, {}};
        return {reply.errorString(), 0, {}};
    }
    if (!status.isValid())
        return {QStringLiteral("No HTTP response"), 0, {}};
    return {std::nullopt, status.toInt(), reply.readAll()};
}

QString networkErrorText(const QString& message) {
    return QStringLiteral("Network error: ") + message;
}

QString apiErrorText(int statusCode, const QString& body) {
    return QStringLiteral("API error (HTTP ") + QString::number(statusCode) +
           QStringLiteral("): ") + body;
}

QString emptyResponseText() {
    return QStringLiteral("The provider returned an empty response.");
}

QString unusableApiKeyText() {
    return QStringLiteral("The API key contains a line break or another control character. Edit "
                          "the provider and enter the key again.");
}

QString jsonErrorText(const QJsonParseError& error) {
    return QStringLiteral("The data is not valid JSON (") + error.errorString() +
           QStringLiteral(" at offset ") + QString::number(error.offset) + QStringLiteral(").");
}

QString bodyText(const QByteArray& body) {
    // A whole-buffer check: a streaming decoder would hold back a cut-off last character.
    if (!QUtf8StringView(body).isValidUtf8())
        return QStringLiteral("Unknown error");
    return QString::fromUtf8(body);
}

} // namespace vocalith::ProviderHttp
