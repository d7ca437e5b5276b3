#include "providers/CustomProvider.h"
#include "providers/TranscriptionEngine.h"
#include "support/TestDoubles.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace vocalith;

using test::json;

class TestCustomProvider : public QObject {
    Q_OBJECT

private Q_SLOTS:
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
    }

    void freshRecordsRoundTrip() {
        const CustomProvider provider =
            CustomProvider::create(u"\"Quoted\"\\ \t\n"_qs, u" x "_qs, QString());
        QCOMPARE(provider.idText().size(), 36);
        QCOMPARE(provider.idText(), provider.idText().toUpper());
        QCOMPARE(CustomProvider::decodeList(CustomProvider::encodeList({provider})),
                 QList{provider});
        QVERIFY(CustomProvider::create(provider.name, u" x "_qs, QString()) != provider);
    }

    void malformedListsFailWhole_data() {
        QTest::addColumn<QByteArray>("json");
        const QByteArray good = json(
            "{'id':'0F8FAD5B-D9CB-469F-A165-70867728950E','name':'n','baseURL':'u','model':'m'}");
        QTest::newRow("truncated") << QByteArray(json("[{'id':'0F8FAD5B"));
        QTest::newRow("not an array") << good;
        QTest::newRow("missing model")
            << "[" + good +
                   json(",{'id':'1F8FAD5B-D9CB-469F-A165-70867728950E','name':'n','baseURL':'u'}]");
        QTest::newRow("bad uuid") << QByteArray(
            json("[{'id':'not-a-uuid','name':'n','baseURL':'u','model':'m'}]"));
        QTest::newRow("number name") << QByteArray(json(
            "[{'id':'0F8FAD5B-D9CB-469F-A165-70867728950E','name':1,'baseURL':'u','model':'m'}]"));
        QTest::newRow("element not object") << QByteArray("[1]");
        QTest::newRow("empty") << QByteArray();
    }
    void malformedListsFailWhole() {
        QFETCH(QByteArray, json);
        QCOMPARE(CustomProvider::decodeList(json), std::nullopt);
    }

    void unknownMembersAreDropped() {
        const auto decoded =
            CustomProvider::decodeList(json("[{'id':'0F8FAD5B-D9CB-469F-A165-70867728950E','extra':"
                                            "[1],'name':'n','baseURL':'u','model':'m'}]"));
        QVERIFY(decoded);
        QVERIFY(!CustomProvider::encodeList(*decoded).contains("extra"));
    }

    void engineIdentityAndEquality() {
        const CustomProvider provider = CustomProvider::create(u"Groq"_qs, u"u"_qs, u"m"_qs);
        CustomProvider renamed = provider;
        renamed.name = u"Groq 2"_qs;

        QCOMPARE(TranscriptionEngine::custom(provider).id(), provider.idText());
        QCOMPARE(TranscriptionEngine::custom(provider).label(), u"Groq"_qs);

        // An edited copy is another engine, though the id is the same.
        QVERIFY(TranscriptionEngine::custom(renamed) != TranscriptionEngine::custom(provider));
        QVERIFY(TranscriptionEngine::custom(provider) != TranscriptionEngine::onDevice());
    }
};

QTEST_GUILESS_MAIN(TestCustomProvider)
#include "tst_customprovider.moc"
