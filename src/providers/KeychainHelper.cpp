#include "KeychainHelper.h"

#include <libsecret/secret.h>

namespace vocalith {

namespace {

const SecretSchema* apiKeySchema() {
    // The schema name is stored with each item and matched on lookup, so items of
    // other applications with the same account are never touched.
    static const SecretSchema schema = [] {
        SecretSchema s{};
        s.name = "com.vocalith.apikeys";
        s.flags = SECRET_SCHEMA_NONE;
        s.attributes[0] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
        return s;
    }();
    return &schema;
}

} // namespace

KeychainHelper& KeychainHelper::shared() {
    static KeychainHelper instance;
    return instance;
}

QString KeychainHelper::service() {
    return QString::fromLatin1(apiKeySchema()->name);
}

void KeychainHelper::saveKey(const QString& key, const QString& account) {
    const QByteArray secret = key.toUtf8();
    const QByteArray accountUtf8 = account.toUtf8();
    const QByteArray label = "Vocalith API key " + accountUtf8;
    // Replace by delete then add, so an account never holds two items.
    deleteKey(account);
    GError* error = nullptr;
    secret_password_store_sync(apiKeySchema(), SECRET_COLLECTION_DEFAULT, label.constData(),
                               secret.constData(), nullptr, &error, "account",
                               accountUtf8.constData(), nullptr);
    g_clear_error(&error);
}

std::optional<QString> KeychainHelper::loadKey(const QString& account) const {
    const QByteArray accountUtf8 = account.toUtf8();
    GError* error = nullptr;
    gchar* secret = secret_password_lookup_sync(apiKeySchema(), nullptr, &error, "account",
                                                accountUtf8.constData(), nullptr);
    g_clear_error(&error);
    if (!secret)
        return std::nullopt;
    const QByteArray bytes(secret);
    secret_password_free(secret);
    if (!QUtf8StringView(bytes).isValidUtf8())
        return std::nullopt;
    return QString::fromUtf8(bytes);
}

void KeychainHelper::deleteKey(const QString& account) {
    const QByteArray accountUtf8 = account.toUtf8();
    GError* error = nullptr;
    secret_password_clear_sync(apiKeySchema(), nullptr, &error, "account", accountUtf8.constData(),
                               nullptr);
    g_clear_error(&error);
}

} // namespace vocalith
