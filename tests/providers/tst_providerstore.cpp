#include "providers/CustomProvider.h"
#include "providers/KeychainHelper.h"
#include "providers/ProviderStore.h"
#include "support/TestDoubles.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

using namespace vocalith;
using test::json;
using test::readFile;
using test::settingsIn;
using test::writeFile;

namespace {

QByteArray storedValue(const QTemporaryDir& dir,
                       const QString& key = ProviderStore::defaultsKey()) {
    return settingsIn(dir)->value(key).toByteArray();
}

} // namespace

// Settings in a temporary file; keys in the real keyring the test script starts.
class TestProviderStore : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void restartKeepsProvidersInOrder() {
        QTemporaryDir dir;
        QList<CustomProvider> added;
        {
            ProviderStore store(KeychainHelper::shared(), settingsIn(dir));
            QVERIFY(store.providers().isEmpty());
            QVERIFY(!settingsIn(dir)->contains(ProviderStore::defaultsKey()));
            // Every change is announced before it happens, and after.
            QList<qsizetype> sizesSeenBefore;
            connect(&store, &ProviderStore::providersAboutToChange, this,
                    [&] { sizesSeenBefore.append(store.providers().size()); });
            QSignalSpy changed(&store, &ProviderStore::providersChanged);
            store.addProvider(u"A"_qs, u"u"_qs, u"m"_qs, u"k"_qs);
            store.deleteProvider(store.providers().first());
            QCOMPARE(sizesSeenBefore, (QList<qsizetype>{0, 1}));
            QCOMPARE(changed.count(), 2);
            store.addProvider(u"Groq"_qs, u"https://api.groq.com/openai/v1"_qs,
                              u"whisper-large-v3"_qs, u"gsk_1"_qs);
            store.addProvider(u"OpenAI"_qs, u"https://api.openai.com/v1"_qs, u"whisper-1"_qs,
                              u"sk-2"_qs);
            store.addProvider(u"Groq"_qs, u"https://api.groq.com/openai/v1"_qs,
                              u"whisper-large-v3"_qs, QString());
            added = store.providers();
        }
        QCOMPARE(added.size(), 3);
        QVERIFY(added[0].id != added[2].id); // same fields, two records
        QCOMPARE(storedValue(dir), CustomProvider::encodeList(added));
        QVERIFY(!storedValue(dir).contains("gsk_1"));

        ProviderStore reopened(KeychainHelper::shared(), settingsIn(dir));
        QCOMPARE(reopened.providers(), added);
        QCOMPARE(KeychainHelper::shared().loadKey(added[0].idText()), u"gsk_1"_qs);
        QCOMPARE(KeychainHelper::shared().loadKey(added[2].idText()), QString(u""_qs));
        for (const CustomProvider& provider : added)
            reopened.deleteProvider(provider);
        QVERIFY(reopened.providers().isEmpty());
        QCOMPARE(storedValue(dir), QByteArray("[]"));
        QCOMPARE(KeychainHelper::shared().loadKey(added[0].idText()), std::nullopt);
    }

    void updateKeepsOrReplacesKey() {
        QTemporaryDir dir;
        ProviderStore store(KeychainHelper::shared(), settingsIn(dir));
        store.addProvider(u"A"_qs, u"u"_qs, u"m"_qs, u"first"_qs);
        CustomProvider edited = store.providers().first();
        const QString account = edited.idText();
        edited.name = u"A renamed"_qs;

        store.updateProvider(edited, std::nullopt);
        QCOMPARE(store.providers(), QList{edited});
        QCOMPARE(KeychainHelper::shared().loadKey(account), u"first"_qs);
        store.updateProvider(edited, QString());
        QCOMPARE(KeychainHelper::shared().loadKey(account), u"first"_qs);
        store.updateProvider(edited, u"second"_qs);
        QCOMPARE(KeychainHelper::shared().loadKey(account), u"second"_qs);
        QCOMPARE(storedValue(dir), CustomProvider::encodeList({edited}));
        store.deleteProvider(edited);
    }

    // Whatever a hand edit left in the file survives the first save byte for byte.
    void handEditedValueSurvivesTheFirstSave_data() {
        QTest::addColumn<QByteArray>("line");
        const QByteArray record =
            R"({"id":"0F8FAD5B-D9CB-469F-A165-70867728950E","name":"M\xE9","baseURL":"u","model":"m"})";
        QTest::newRow("missing member") << QByteArray(
            R"(@ByteArray([{"id":"0F8FAD5B-D9CB-469F-A165-70867728950E","name":"Mine","baseURL":"u"}]))");
        QTest::newRow("unquoted list")
            << "[" + QByteArray(record).replace("\\xE9", "e") + "," +
                   QByteArray(record).replace("\\xE9", "e").replace("0F8F", "1F8F") + "]";
        QTest::newRow("raw non-UTF-8 byte")
            << "@ByteArray([" + QByteArray(record).replace("\\xE9", "\xE9") + "])";
        QTest::newRow("a number") << QByteArray("12");
    }
    void handEditedValueSurvivesTheFirstSave() {
        QFETCH(QByteArray, line);
        QTemporaryDir dir;
        const QString path = settingsIn(dir)->fileName();
        const QByteArray original = "[General]\ncom.vocalith.customProviders=" + line + "\n";
        writeFile(path, original);

        ProviderStore store(KeychainHelper::shared(), settingsIn(dir));
        QVERIFY(store.providers().isEmpty());
        store.addProvider(u"New"_qs, u"u"_qs, u"m"_qs, u"k"_qs);
        store.addProvider(u"Newer"_qs, u"u"_qs, u"m"_qs, u"k"_qs);
        QCOMPARE(storedValue(dir), CustomProvider::encodeList(store.providers()));
        const QStringList copies =
            QDir(dir.path())
                .entryList({QFileInfo(path).fileName() + u".unreadable-*"_qs}, QDir::Files,
                           QDir::Name);
        QCOMPARE(copies.size(), 1); // one copy, made before the first save only
        QCOMPARE(readFile(QDir(dir.path()).filePath(copies.first())), original);
        for (const CustomProvider& provider : QList(store.providers()))
            store.deleteProvider(provider);
    }

    void storedFormIsExact() {
        const CustomProvider provider{QUuid::fromString(u"0f8fad5b-d9cb-469f-a165-70867728950e"_qs),
                                      u"Groq ü/x"_qs, u"https://api.groq.com/openai/v1"_qs,
                                      u"whisper-large-v3"_qs};
        const QByteArray expected =
            json("{'id':'0F8FAD5B-D9CB-469F-A165-70867728950E','name':'Groq "
                 "ü\\/x','baseURL':'https:\\/\\/api.groq.com\\/openai\\/"
                 "v1','model':'whisper-large-v3'}");
        QCOMPARE(provider.toJson(), expected);
        QCOMPARE(CustomProvider::encodeList({provider, provider}),
                 '[' + expected + ',' + expected + ']');
        QCOMPARE(CustomProvider::encodeList({}), QByteArray("[]"));

        // What was written reads back equal, and so does the unescaped form.
        QCOMPARE(CustomProvider::decodeList('[' + expected + ']'), QList{provider});
        QCOMPARE(CustomProvider::decodeList(
                     json("[{'model':'whisper-large-v3','baseURL':'https://api.groq.com/openai/"
                          "v1','name':'Groq ü\\/x','id':'0f8fad5b-d9cb-469f-a165-70867728950e'}]")),
                 QList{provider});

        // Asking for speakers adds one member; lists without it read as not asking.
        CustomProvider speakers = provider;
        speakers.identifySpeakers = true;
        const QByteArray withSpeakers = expected.chopped(1) + ",\"identifySpeakers\":true}";
        QCOMPARE(speakers.toJson(), withSpeakers);
        QCOMPARE(CustomProvider::decodeList('[' + withSpeakers + ',' + expected + ']'),
                 (QList{speakers, provider}));
    }

    void malformedListsFailWhole_data() {
        QTest::addColumn<QByteArray>("json");
        const QByteArray good = json(
            "{'id':'0F8FAD5B-D9CB-469F-A165-70867728950E','name':'n','baseURL':'u','model':'m'}");
        QTest::newRow("truncated") << QByteArray(json("[{'id':'0F8FAD5B"));
        QTest::newRow("not an array") << good;
        QTest::newRow("bad uuid") << QByteArray(
            json("[{'id':'not-a-uuid','name':'n','baseURL':'u','model':'m'}]"));
        QTest::newRow("number name") << QByteArray(json(
            "[{'id':'0F8FAD5B-D9CB-469F-A165-70867728950E','name':1,'baseURL':'u','model':'m'}]"));
        QTest::newRow("speakers not a bool")
            << "[" + good.chopped(1) + json(",'identifySpeakers':'yes'}]");
    }
    void malformedListsFailWhole() {
        QFETCH(QByteArray, json);
        QCOMPARE(CustomProvider::decodeList(json), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestProviderStore)
#include "tst_providerstore.moc"
