#pragma once

#include "providers/CustomProvider.h"

#include <QObject>

#include <memory>

class QSettings;

namespace vocalith {

class KeyStore;

// The user's providers, kept in the settings as one JSON value, with each API key
// in the key store. Emits providersAboutToChange() before and providersChanged()
// after every change of the list. A stored value it cannot write back unchanged is
// never lost: the whole settings file is copied aside before the first save.
class ProviderStore final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ProviderStore)

public:
    static QString defaultsKey();

    // Without settings the user's own Vocalith settings are used. Loads at once.
    explicit ProviderStore(KeyStore& keys, std::unique_ptr<QSettings> settings = {},
                           QObject* parent = nullptr);
    ~ProviderStore() override;

    const QList<CustomProvider>& providers() const { return m_providers; }

    void load();
    void save();
    void addProvider(const QString& name, const QString& baseURL, const QString& model,
                     const QString& apiKey, bool identifySpeakers = false);
    void updateProvider(const CustomProvider& provider, const std::optional<QString>& apiKey);
    void deleteProvider(const CustomProvider& provider);

Q_SIGNALS:
    void providersAboutToChange();
    void providersChanged();

private:
    void setProviders(QList<CustomProvider> providers);
    bool keepOriginalSettings();

    KeyStore& m_keys;
    std::unique_ptr<QSettings> m_settings;
    QList<CustomProvider> m_providers;
    // The settings file as it was when a stored value was loaded that a save would not
    // write back as it stands; copied beside the file before the first save.
    std::optional<QByteArray> m_originalSettings;
};

} // namespace vocalith
