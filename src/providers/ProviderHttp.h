#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <chrono>
#include <optional>

struct QJsonParseError;

namespace vocalith {

// What every exchange with an OpenAI-compatible provider shares: the endpoint rule,
// the key check and the texts both engines show.
namespace ProviderHttp {

// baseURL trimmed, one trailing slash dropped, then path appended; absent when
// the result is not an absolute http(s) URL with a host.
std::optional<QUrl> endpoint(const QString& baseURL, const QString& path);

// A server on this computer or the user's own network (loopback, localhost, private
// IPv4 ranges, unique local IPv6, a .local name): such a server may need no API key.
bool isLocalServer(const QString& baseURL);

// The preference for the idle time-out of provider exchanges, in seconds; unparsable or
// under 10 s means the engine's own default, given here.
QString timeoutKey();
std::chrono::milliseconds timeoutSetting(std::chrono::milliseconds defaultTimeout);

// A key that fits in a header line: no line breaks or other control characters,
// which would otherwise split the Authorization header.
bool isUsableApiKey(const QString& apiKey);

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
