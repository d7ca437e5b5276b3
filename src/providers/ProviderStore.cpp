#include "ProviderStore.h"

#include "providers/KeyStore.h"

#include <QSettings>

namespace vocalith {

QString ProviderStore::defaultsKey() {
    return QStringLiteral("com.vocalith.customProviders");
}

ProviderStore::ProviderStore(KeyStore& keys, std::unique_ptr<QSettings> settings, QObject* parent)
    : QObject(parent)
    , m_keys(keys)
    , m_settings(settings ? std::move(settings)
                          : std::make_unique<QSettings>(
                                QSettings::NativeFormat, QSettings::UserScope,
                                QStringLiteral("Vocalith"), QStringLiteral("Vocalith"))) {
    load();
}

ProviderStore::~ProviderStore() = default;

void ProviderStore::load() {
    const QVariant stored = m_settings->value(defaultsKey());
    if (!stored.isValid()) {
        setProviders({});
        return;
    }
    const QByteArray bytes = stored.toByteArray();
    std::optional<QList<CustomProvider>> decoded = CustomProvider::decodeList(bytes);
    if (!decoded) {
        m_unreadableValue = bytes;
        setProviders({});
        return;
    }
    setProviders(std::move(*decoded));
}

void ProviderStore::save() {
    keepUnreadableValue();
    m_settings->setValue(defaultsKey(), CustomProvider::encodeList(m_providers));
    m_settings->sync();
}

void ProviderStore::addProvider(const QString& name, const QString& baseURL, const QString& model,
                                const QString& apiKey) {
    const CustomProvider provider = CustomProvider::create(name, baseURL, model);
    QList<CustomProvider> providers = m_providers;
    providers.append(provider);
    setProviders(std::move(providers));
    m_keys.saveKey(apiKey, provider.idText());
    save();
}

void ProviderStore::updateProvider(const CustomProvider& provider,
                                   const std::optional<QString>& apiKey) {
    const auto it = std::find_if(m_providers.cbegin(), m_providers.cend(),
                                 [&](const CustomProvider& p) { return p.id == provider.id; });
    if (it == m_providers.cend())
        return;
    QList<CustomProvider> providers = m_providers;
    providers[it - m_providers.cbegin()] = provider;
    setProviders(std::move(providers));
    if (apiKey && !apiKey->isEmpty())
        m_keys.saveKey(*apiKey, provider.idText());
    save();
}

void ProviderStore::deleteProvider(const CustomProvider& provider) {
    QList<CustomProvider> providers = m_providers;
    providers.removeIf([&](const CustomProvider& p) { return p.id == provider.id; });
    setProviders(std::move(providers));
    m_keys.deleteKey(provider.idText());
    save();
}

void ProviderStore::setProviders(QList<CustomProvider> providers) {
    Q_EMIT providersAboutToChange();
    m_providers = std::move(providers);
    Q_EMIT providersChanged();
}

void ProviderStore::keepUnreadableValue() {
    if (!m_unreadableValue)
        return;
    // An unreadable list may still be worth recovering by hand: never let a save
    // destroy it. Earlier copies stay, each under its own key.
    QString key = defaultsKey() + QStringLiteral(".unreadable");
    for (int n = 2; m_settings->contains(key); ++n) {
        if (m_settings->value(key).toByteArray() == *m_unreadableValue)
            break;
        key = defaultsKey() + QStringLiteral(".unreadable.") + QString::number(n);
    }
    m_settings->setValue(key, *m_unreadableValue);
    m_unreadableValue.reset();
}

} // namespace vocalith
