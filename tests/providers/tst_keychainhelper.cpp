#include "core/UuidText.h"
#include "providers/KeychainHelper.h"

#include <QTest>
#include <QUuid>

#include <libsecret/secret.h>

using namespace vocalith;

namespace {

SecretSchema schemaNamed(const char* name) {
    SecretSchema s{};
    s.name = name;
    s.flags = SECRET_SCHEMA_NONE;
    s.attributes[0] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
    return s;
}

QString freshAccount() {
    return uuidText();
}

} // namespace

// Runs against the real Secret Service that the test script starts.
class TestKeychainHelper : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        const QString probe = freshAccount();
        KeychainHelper::shared().saveKey(u"probe"_qs, probe);
        if (KeychainHelper::shared().loadKey(probe) != u"probe"_qs)
            QFAIL("No working Secret Service: run the tests through scripts/test.sh");
        KeychainHelper::shared().deleteKey(probe);
    }

    void storeReplaceDelete() {
        KeychainHelper& keys = KeychainHelper::shared();
        const QString account = freshAccount();

        QCOMPARE(keys.loadKey(account), std::nullopt);
        keys.saveKey(u"gsk_ключ_密钥_🔑"_qs, account);
        QCOMPARE(keys.loadKey(account), u"gsk_ключ_密钥_🔑"_qs);

        keys.saveKey(u"second"_qs, account);
        QCOMPARE(keys.loadKey(account), u"second"_qs);

        keys.deleteKey(account);
        QCOMPARE(keys.loadKey(account), std::nullopt);
        keys.deleteKey(account); // nothing there: harmless
        QCOMPARE(keys.loadKey(account), std::nullopt);
    }

    void otherServicesAreLeftAlone() {
        static const SecretSchema otherSchema = schemaNamed("org.example.other");
        const QString account = freshAccount();
        const QByteArray accountUtf8 = account.toUtf8();
        QVERIFY(secret_password_store_sync(&otherSchema, SECRET_COLLECTION_DEFAULT, "other",
                                           "other-secret", nullptr, nullptr, "account",
                                           accountUtf8.constData(), nullptr));

        QCOMPARE(KeychainHelper::shared().loadKey(account), std::nullopt);
        KeychainHelper::shared().saveKey(u"mine"_qs, account);
        KeychainHelper::shared().deleteKey(account);

        gchar* other = secret_password_lookup_sync(&otherSchema, nullptr, nullptr, "account",
                                                   accountUtf8.constData(), nullptr);
        QCOMPARE(QByteArray(other), QByteArray("other-secret"));
        secret_password_free(other);
        secret_password_clear_sync(&otherSchema, nullptr, nullptr, "account",
                                   accountUtf8.constData(), nullptr);
    }
};

QTEST_GUILESS_MAIN(TestKeychainHelper)
#include "tst_keychainhelper.moc"
