#include "CustomProvider.h"

#include "core/UuidText.h"

#include <QHashFunctions>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace vocalith {

namespace {

// QJsonDocument sorts members, so records are written by hand; Qt still does the
// string escaping. Slashes are escaped as well, matching the stored files.
QByteArray jsonString(const QString& text) {
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    QByteArray quoted = array.mid(1, array.size() - 2);
    return quoted.replace("/", "\\/");
}

bool isUuidText(const QString& text) {
    static const QRegularExpression pattern(QStringLiteral(
        "^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}$"));
    return pattern.match(text).hasMatch();
}

} // namespace

CustomProvider CustomProvider::create(const QString& name, const QString& baseURL,
                                      const QString& model, bool identifySpeakers) {
    return {QUuid::createUuid(), name, baseURL, model, identifySpeakers};
}

QString CustomProvider::idText() const {
    return uuidText(id);
}

QByteArray CustomProvider::toJson() const {
    return "{\"id\":" + jsonString(idText()) + ",\"name\":" + jsonString(name) +
           ",\"baseURL\":" + jsonString(baseURL) + ",\"model\":" + jsonString(model) +
           (identifySpeakers ? ",\"identifySpeakers\":true}" : "}");
}

std::optional<CustomProvider> CustomProvider::fromJson(const QJsonObject& object) {
    const QJsonValue id = object.value(QLatin1String("id"));
    const QJsonValue name = object.value(QLatin1String("name"));
    const QJsonValue baseURL = object.value(QLatin1String("baseURL"));
    const QJsonValue model = object.value(QLatin1String("model"));
    const QJsonValue speakers = object.value(QLatin1String("identifySpeakers"));
    if (!id.isString() || !name.isString() || !baseURL.isString() || !model.isString() ||
        !(speakers.isUndefined() || speakers.isBool()))
        return std::nullopt;
    if (!isUuidText(id.toString()))
        return std::nullopt;
    return CustomProvider{QUuid::fromString(id.toString()), name.toString(), baseURL.toString(),
                          model.toString(), speakers.toBool()};
}

QByteArray CustomProvider::encodeList(const QList<CustomProvider>& providers) {
    QByteArray json = "[";
    for (qsizetype i = 0; i < providers.size(); ++i) {
        if (i > 0)
            json += ',';
        json += providers[i].toJson();
    }
    return json + ']';
}

std::optional<QList<CustomProvider>> CustomProvider::decodeList(const QByteArray& json) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    QList<CustomProvider> providers;
    for (const QJsonValue& element : document.array()) {
        if (!element.isObject())
            return std::nullopt;
        const std::optional<CustomProvider> provider = fromJson(element.toObject());
        if (!provider)
            return std::nullopt;
        providers.append(*provider);
    }
    return providers;
}

size_t qHash(const CustomProvider& provider, size_t seed) {
    return qHashMulti(seed, provider.id, provider.name, provider.baseURL, provider.model,
                      provider.identifySpeakers);
}

} // namespace vocalith
