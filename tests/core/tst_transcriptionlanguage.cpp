#include "core/TranscriptionLanguage.h"

#include <QSet>
#include <QTest>

using namespace vocalith;

class TestTranscriptionLanguage : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void casesInPickerOrder() {
        const auto& all = allTranscriptionLanguages();
        QCOMPARE(all.size(), size_t(19));
        QCOMPARE(all.front(), TranscriptionLanguage::autoDetect);
        QCOMPARE(all.back(), TranscriptionLanguage::italian);

        QSet<QString> raws;
        for (TranscriptionLanguage language : all) {
            raws.insert(rawValue(language));
            // Every raw value leads back to its own case.
            QCOMPARE(transcriptionLanguageFromRawValue(rawValue(language)), language);
        }
        QCOMPARE(raws.size(), 19);
    }

    // Names in their own scripts survive the source encoding; regional variants share
    // the provider's language code.
    void namesAndCodes() {
        QCOMPARE(displayName(TranscriptionLanguage::chineseCantonese), u"中文 (Cantonese)"_qs);
        QCOMPARE(displayName(TranscriptionLanguage::arabic), u"العربية"_qs);
        QCOMPARE(rawValue(TranscriptionLanguage::chineseCantonese), u"zh-HK"_qs);
        QCOMPARE(languageCode(TranscriptionLanguage::chineseCantonese), u"zh"_qs);
        QCOMPARE(languageCode(TranscriptionLanguage::autoDetect), std::nullopt);
        for (const QString& raw : {u"en-us"_qs, u"en"_qs, QString()})
            QCOMPARE(transcriptionLanguageFromRawValue(raw), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestTranscriptionLanguage)
#include "tst_transcriptionlanguage.moc"
