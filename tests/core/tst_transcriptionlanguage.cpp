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

    void displayNamesAreExactUtf8_data() {
        QTest::addColumn<TranscriptionLanguage>("language");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("raw");
        QTest::newRow("auto") << TranscriptionLanguage::autoDetect << u"Auto Detect"_qs
                              << u"auto"_qs;
        QTest::newRow("japanese") << TranscriptionLanguage::japanese << u"日本語"_qs << u"ja-JP"_qs;
        QTest::newRow("cantonese")
            << TranscriptionLanguage::chineseCantonese << u"中文 (Cantonese)"_qs << u"zh-HK"_qs;
        QTest::newRow("arabic") << TranscriptionLanguage::arabic << u"العربية"_qs << u"ar-SA"_qs;
        QTest::newRow("vietnamese")
            << TranscriptionLanguage::vietnamese << u"Tiếng Việt"_qs << u"vi-VN"_qs;
    }
    void displayNamesAreExactUtf8() {
        QFETCH(TranscriptionLanguage, language);
        QFETCH(QString, name);
        QFETCH(QString, raw);
        QCOMPARE(displayName(language), name);
        QCOMPARE(rawValue(language), raw);
    }

    void lookupsAndCodes() {
        for (const QString& raw : {u"en-us"_qs, u"en"_qs, QString()})
            QCOMPARE(transcriptionLanguageFromRawValue(raw), std::nullopt);
        QCOMPARE(languageCode(TranscriptionLanguage::autoDetect), std::nullopt);
        QCOMPARE(languageCode(TranscriptionLanguage::english), u"en"_qs);
        QCOMPARE(languageCode(TranscriptionLanguage::portuguese), u"pt"_qs);
        QCOMPARE(languageCode(TranscriptionLanguage::chineseMandarin), u"zh"_qs);
        QCOMPARE(languageCode(TranscriptionLanguage::chineseCantonese), u"zh"_qs);
    }
};

QTEST_GUILESS_MAIN(TestTranscriptionLanguage)
#include "tst_transcriptionlanguage.moc"
