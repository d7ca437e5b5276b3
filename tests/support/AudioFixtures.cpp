#include "AudioFixtures.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace vocalith::test::AudioFixtures {

QString librivoxDirectory() {
    return QStringLiteral("/usr/share/pocketsphinx/test/data/librivox");
}

QStringList librivoxIds() {
    QFile file(librivoxDirectory() + QStringLiteral("/fileids"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList referenceWords(const QString& id) {
    QFile file(librivoxDirectory() + QStringLiteral("/transcription"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    static const QRegularExpression line(QStringLiteral("^<s> (.*) </s> \\((.*)\\)$"));
    for (const QString& text : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch match = line.match(text.trimmed());
        if (match.hasMatch() && match.captured(2) == id)
            return match.captured(1).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    }
    return {};
}

bool ffmpeg(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("ffmpeg"),
                  QStringList{QStringLiteral("-nostdin"), QStringLiteral("-loglevel"),
                              QStringLiteral("error"), QStringLiteral("-y")} +
                      arguments);
    return process.waitForFinished(120'000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

bool encodeMp3(const QString& input, const QString& output) {
    return ffmpeg({QStringLiteral("-i"), input, QStringLiteral("-ar"), QStringLiteral("44100"),
                   QStringLiteral("-ac"), QStringLiteral("2"), QStringLiteral("-c:a"),
                   QStringLiteral("libmp3lame"), QStringLiteral("-b:a"), QStringLiteral("128k"),
                   output});
}

bool writeWave(const QString& path, int sampleRate, qint64 frames, bool tone,
               const QList<std::pair<double, double>>& silences) {
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.toUtf8().constData(), SFM_WRITE, &info);
    if (!file)
        return false;
    std::vector<short> block(4096);
    for (qint64 written = 0; written < frames;) {
        const qint64 count = std::min<qint64>(qint64(block.size()), frames - written);
        for (qint64 i = 0; i < count; ++i) {
            const double time = double(written + i) / sampleRate;
            const bool quiet = std::any_of(silences.cbegin(), silences.cend(), [&](const auto& s) {
                return time >= s.first && time < s.second;
            });
            block[size_t(i)] =
                tone && !quiet ? short(8000 * std::sin(2 * M_PI * 440 * time)) : short(0);
        }
        sf_write_short(file, block.data(), count);
        written += count;
    }
    return sf_close(file) == 0;
}

int wordErrors(const QStringList& reference, const QStringList& hypothesis) {
    std::vector<int> row(size_t(hypothesis.size()) + 1);
    for (size_t j = 0; j < row.size(); ++j)
        row[j] = int(j);
    for (qsizetype i = 1; i <= reference.size(); ++i) {
        std::vector<int> previous = row;
        row[0] = int(i);
        for (qsizetype j = 1; j <= hypothesis.size(); ++j) {
            const int substitution =
                previous[size_t(j - 1)] + (reference[i - 1] == hypothesis[j - 1] ? 0 : 1);
            row[size_t(j)] =
                std::min({previous[size_t(j)] + 1, row[size_t(j - 1)] + 1, substitution});
        }
    }
    return row.back();
}

} // namespace vocalith::test::AudioFixtures
