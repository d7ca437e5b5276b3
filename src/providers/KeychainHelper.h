#pragma once

#include "providers/KeyStore.h"

namespace vocalith {

// API keys in the desktop keyring through the Secret Service (libsecret).
// Never falls back to plain text: without a reachable keyring keys are not kept.
class KeychainHelper final : public KeyStore {
public:
    static KeychainHelper& shared();

    static QString service();

    void saveKey(const QString& key, const QString& account) override;
    std::optional<QString> loadKey(const QString& account) const override;
    void deleteKey(const QString& account) override;

private:
    KeychainHelper() = default;
};

} // namespace vocalith
