#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

class QJsonObject;

namespace vocalith {

// A user-defined OpenAI-compatible service. Its API key is never part of the
// record: it lives in the key store under idText().
struct CustomProvider {
    QUuid id;
    QString name;
    QString baseURL;
    QString model;
    // Asks the server who spoke each segment. Stored only when on, so lists written
    // before it existed, and records without it, read the same.
    bool identifySpeakers = false;

    // A new record with a fresh random id.
    static CustomProvider create(const QString& name, const QString& baseURL, const QString& model,
                                 bool identifySpeakers = false);

    // Canonical upper-case 8-4-4-4-12 text: the JSON "id" and the key-store account.
    QString idText() const;

    // Compact JSON object with members in the order id, name, baseURL, model (then
    // "identifySpeakers":true when on) and forward slashes escaped; the stored form other
    // installations read.
    QByteArray toJson() const;
    static std::optional<CustomProvider> fromJson(const QJsonObject& object);

    static QByteArray encodeList(const QList<CustomProvider>& providers);
    // Fails as a whole when any element is incomplete or malformed.
    static std::optional<QList<CustomProvider>> decodeList(const QByteArray& json);

    bool operator==(const CustomProvider&) const = default;
};

size_t qHash(const CustomProvider& provider, size_t seed = 0);

} // namespace vocalith
