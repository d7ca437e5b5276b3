#pragma once

#include <QString>

#include <optional>

namespace vocalith {

// Where API keys live, one per account (a provider's id text). Failures are
// silent by design: a key that cannot be stored is simply absent later.
class KeyStore {
public:
    virtual ~KeyStore() = default;

    virtual void saveKey(const QString& key, const QString& account) = 0;
    virtual std::optional<QString> loadKey(const QString& account) const = 0;
    virtual void deleteKey(const QString& account) = 0;
};

} // namespace vocalith
