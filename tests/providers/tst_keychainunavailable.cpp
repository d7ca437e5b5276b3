#include "providers/KeychainHelper.h"

#include <QDirIterator>
#include <QFile>
#include <QTest>

using namespace vocalith;

// Started with a session bus address that leads nowhere.
class TestKeychainUnavailable : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void failsSilentlyWithoutPlainTextFallback() {
        KeychainHelper& keys = KeychainHelper::shared();
        const QString account = u"0F8FAD5B-D9CB-469F-A165-70867728950E"_qs;
        const QString secret = u"sk-never-on-disk-4711"_qs;

        keys.saveKey(secret, account);
        QCOMPARE(keys.loadKey(account), std::nullopt);
        keys.deleteKey(account);

        // The key must not have gone anywhere on disk either.
        const QStringList roots{qEnvironmentVariable("HOME"), qEnvironmentVariable("XDG_DATA_HOME"),
                                qEnvironmentVariable("XDG_CONFIG_HOME")};
        for (const QString& root : roots) {
            if (!root.startsWith(QDir::tempPath())) // only the test script's own homes
                continue;
            QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
            while (it.hasNext()) {
                QFile file(it.next());
                if (file.size() < 10'000'000 && file.open(QIODevice::ReadOnly))
                    QVERIFY2(!file.readAll().contains(secret.toUtf8()),
                             qPrintable(file.fileName()));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestKeychainUnavailable)
#include "tst_keychainunavailable.moc"
