#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <chrono>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;
struct QJsonParseError;

namespace vocalith {

// What every exchange with an OpenAI-compatible provider shares: the endpoint
// rule, the authorised request and the reading of the answer.
namespace ProviderHttp {

// The one network access manager of the process; lives on the main thread.
QNetworkAccessManager& sharedNetworkAccessManager();

// baseURL trimmed, one trailing slash dropped, then path appended; absent when
// the result is not an absolute http(s) URL with a host.
std::optional<QUrl> endpoint(const QString& baseURL, const QString& path);

// A key that fits in a header line: no line breaks or other control characters,
// which would otherwise split the Authorization header.
bool isUsableApiKey(const QString& apiKey);

// POST request with the bearer token and content type, a transfer time-out and no
// redirect following (a redirect is an answer of its own).
QNetworkRequest request(const QUrl& url, const QString& apiKey, const QByteArray& contentType,
                        std::chrono::milliseconds transferTimeout);

// A finished exchange: either a transport failure, or an HTTP status with its body.
struct Answer {
    std::optional<QString> transportError;
    int status = 0;
    QByteArray body;

    bool isSuccessStatus() const { return status >= 200 && status <= 299; }
};
Answer readAnswer(QNetworkReply& reply);

// The texts both provider engines show for the failures they share.
QString networkErrorText(const QString& message);
QString apiErrorText(int statusCode, const QString& body);
QString emptyResponseText();
QString unusableApiKeyText();

// Why a body is not JSON, for a parse error message.
QString jsonErrorText(const QJsonParseError& error);

// The body as text for an error message, or "Unknown error" when it is not UTF-8.
QString bodyText(const QByteArray& body);

} // namespace ProviderHttp

} // namespace vocalith
