#include "ProviderStore.h"

#include "providers/KeyStore.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
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
    // A hand-edited file may hold a list, a number, or text that is not quite UTF-8.
    const bool text =
        stored.typeId() == QMetaType::QByteArray || stored.typeId() == QMetaType::QString;
    const QByteArray bytes = text ? stored.toByteArray() : QByteArray();
    std::optional<QList<CustomProvider>> decoded =
        text ? CustomProvider::decodeList(bytes) : std::nullopt;
    if (!decoded || CustomProvider::encodeList(*decoded) != bytes) {
        QFile file(m_settings->fileName());
        if (!m_originalSettings && file.open(QIODevice::ReadOnly))
            m_originalSettings = file.readAll();
    }
    setProviders(decoded ? std::move(*decoded) : QList<CustomProvider>{});
}

void ProviderStore::save() {
    if (!keepOriginalSettings())
        return; // rather unsaved than the user's original lost
    m_settings->setValue(defaultsKey(), CustomProvider::encodeList(m_providers));
    m_settings->sync();
}

void ProviderStore::addProvider(const QString& name, const QString& baseURL, const QString& model,
                                const QString& apiKey, bool identifySpeakers) {
    const CustomProvider provider = CustomProvider::create(name, baseURL, model, identifySpeakers);
    QList<CustomProvider> providers = m_providers;
    providers.append(provider);
    setProviders(std::move(providers));
    m_keys.saveKey(apiKey, provider.idText());
    save();
}

void ProviderStore::updateProvider(const CustomProvider& record,
                                   const std::optional<QString>& apiKey) {
    const CustomProvider provider = record; // the caller may hand in an element of our list
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

void ProviderStore::deleteProvider(const CustomProvider& record) {
    const CustomProvider provider = record; // the caller may hand in an element of our list
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

bool ProviderStore::keepOriginalSettings() {
    if (!m_originalSettings)
        return true;
    const QString base = m_settings->fileName() + QStringLiteral(".unreadable-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString path = base;
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = base + QLatin1Char('-') + QString::number(n);
    QSaveFile copy(path);
    if (!copy.open(QIODevice::WriteOnly) || copy.write(*m_originalSettings) < 0 || !copy.commit())
        return false;
    m_originalSettings.reset();
    return true;
}

} // namespace vocalith
