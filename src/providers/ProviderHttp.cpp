#include "ProviderHttp.h"

#include "core/TextTrimming.h"

#include <QHostAddress>
#include <QJsonParseError>
#include <QSettings>

#include <algorithm>

namespace vocalith::ProviderHttp {

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

bool isLocalServer(const QString& baseURL) {
    const QUrl url(trimmedWhiteSpaceAndLineBreaks(baseURL));
    const QString host = url.host().toLower();
    if (host == QLatin1String("localhost") || host.endsWith(QLatin1String(".localhost")) ||
        host.endsWith(QLatin1String(".local")))
        return true;
    const QHostAddress address(host);
    if (address.isNull())
        return false;
    if (address.isLoopback())
        return true;
    static const QList<std::pair<QHostAddress, int>> privateRanges{
        {QHostAddress(QStringLiteral("10.0.0.0")), 8},
        {QHostAddress(QStringLiteral("172.16.0.0")), 12},
        {QHostAddress(QStringLiteral("192.168.0.0")), 16},
        {QHostAddress(QStringLiteral("fc00::")), 7}};
    return std::any_of(privateRanges.cbegin(), privateRanges.cend(),
                       [&](const auto& range) { return address.isInSubnet(range); });
}

QString timeoutKey() {
    return QStringLiteral("com.vocalith.providerTimeoutSeconds");
}

std::chrono::milliseconds timeoutSetting(std::chrono::milliseconds defaultTimeout) {
    bool ok = false;
    const qint64 seconds = QSettings().value(timeoutKey()).toLongLong(&ok);
    return ok && seconds >= 10 ? std::chrono::milliseconds(seconds * 1000) : defaultTimeout;
}

bool isUsableApiKey(const QString& apiKey) {
    return std::none_of(apiKey.cbegin(), apiKey.cend(), [](QChar c) {
        return (c.unicode() < 0x20 && c != u'\t') || c.unicode() == 0x7f;
    });
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
