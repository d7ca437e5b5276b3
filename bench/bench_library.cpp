// The transcript library at the size of a big collection, against grep measured in the
// same run: 2,000 transcripts, 1,000 hours, about 9 million words drawn from the
// system word list with a Zipf spread, each word its own segment with its own word
// time, as the on-device engine gives them. 200 queries of one to three words, quoted
// phrases taken from the stored text and prefixes, through the library with the
// window's limit, and as `grep -riF` over the same transcripts saved as .txt files.
// Then storing one-hour transcripts into that library: the time and the file's growth.
#include "core/TranscriptRendering.h"
#include "library/SqliteConnection.h"
#include "library/TranscriptLibrary.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <random>

using namespace vocalith;

namespace {

constexpr int transcriptCount = 2000;
constexpr double transcriptSeconds = 1800.0; // 2,000 half hours: 1,000 hours
constexpr int queryCount = 200;
constexpr int searchLimit = 50; // what the Library window asks for
constexpr int storeRounds = 7;

// The system word list ranked for a Zipf draw. Shorter words tend to rank higher, as
// in speech, so passages hold as many words as spoken English gives them.
class Vocabulary {
public:
    explicit Vocabulary(std::mt19937_64& random) {
        QFile file(QStringLiteral("/usr/share/dict/american-english"));
        if (!file.open(QIODevice::ReadOnly))
            return;
        static const QRegularExpression letters(QStringLiteral("^[A-Za-z]+$"));
        QList<std::pair<double, QString>> ranked;
        std::uniform_real_distribution<double> jitter(0.0, 6.0);
        for (const QByteArray& line : file.readAll().split('\n')) {
            const QString word = QString::fromUtf8(line);
            if (letters.match(word).hasMatch())
                ranked.append({double(word.size()) + jitter(random), word});
        }
        std::sort(ranked.begin(), ranked.end());
        double total = 0.0;
        for (qsizetype rank = 0; rank < ranked.size(); ++rank) {
            m_words.append(ranked[rank].second);
            total += 1.0 / double(rank + 1);
            m_cumulative.push_back(total);
        }
    }

    bool isEmpty() const { return m_words.isEmpty(); }
    qsizetype size() const { return m_words.size(); }

    const QString& draw(std::mt19937_64& random) const {
        std::uniform_real_distribution<double> share(0.0, m_cumulative.back());
        const auto at = std::upper_bound(m_cumulative.begin(), m_cumulative.end(), share(random));
        return m_words[std::min<qsizetype>(at - m_cumulative.begin(), m_words.size() - 1)];
    }

private:
    QStringList m_words;
    std::vector<double> m_cumulative;
};

// Words one segment each, about 0.4 s apart on average: a short breath between words
// and now and then a pause.
QList<TranscriptSegment> spokenWords(const Vocabulary& vocabulary, double seconds,
                                     std::mt19937_64& random) {
    std::uniform_real_distribution<double> duration(0.18, 0.38);
    std::uniform_real_distribution<double> breath(0.02, 0.08);
    std::uniform_real_distribution<double> pause(0.5, 0.9);
    std::uniform_real_distribution<double> confidence(0.3, 1.0);
    std::bernoulli_distribution pauses(0.1);
    QList<TranscriptSegment> segments;
    segments.reserve(qsizetype(seconds / 0.4) + 16);
    for (double time = 0.0; time < seconds;) {
        const QString& text = vocabulary.draw(random);
        const double end = time + duration(random);
        const TranscriptWord word{text, time, end, confidence(random)};
        segments.append({.text = text,
                         .startTime = time,
                         .endTime = end,
                         .confidence = word.confidence,
                         .words = {word}});
        time = end + (pauses(random) ? pause(random) : breath(random));
    }
    return segments;
}

StoredTranscript transcriptOf(int number, const QList<TranscriptSegment>& segments) {
    StoredTranscript transcript;
    transcript.recordingPath = QStringLiteral("/home/user/Recordings/interview-%1.mp3").arg(number);
    transcript.recordingSize = 28'800'000;
    transcript.contentHash = QStringLiteral("%1").arg(number, 64, 16, QLatin1Char('0'));
    transcript.engine = QStringLiteral("On-device (PocketSphinx)");
    transcript.model = QStringLiteral("en-us");
    transcript.language = QStringLiteral("en-US");
    transcript.duration = segments.constLast().endTime;
    transcript.createdAt = QDateTime::fromSecsSinceEpoch(1'700'000'000 + qint64(number) * 3600);
    transcript.segments = segments;
    return transcript;
}

// What people type: one to three words, "a phrase" they remember, or the start of a word.
QStringList queriesFor(const Vocabulary& vocabulary, const QList<QStringList>& samples,
                       std::mt19937_64& random) {
    QStringList queries;
    std::uniform_int_distribution<int> kind(0, 99);
    std::uniform_int_distribution<int> words(2, 3);
    while (queries.size() < queryCount) {
        const int k = kind(random);
        if (k < 40) {
            queries.append(vocabulary.draw(random));
        } else if (k < 60) {
            QStringList typed;
            for (const int n = words(random); typed.size() < n;)
                typed.append(vocabulary.draw(random));
            queries.append(typed.join(QLatin1Char(' ')));
        } else if (k < 85) {
            const QStringList& text =
                samples[std::uniform_int_distribution<qsizetype>(0, samples.size() - 1)(random)];
            const qsizetype length = std::uniform_int_distribution<qsizetype>(2, 3)(random);
            const qsizetype start =
                std::uniform_int_distribution<qsizetype>(0, text.size() - length)(random);
            queries.append(QLatin1Char('"') + text.mid(start, length).join(QLatin1Char(' ')) +
                           QLatin1Char('"'));
        } else {
            const QString& word = vocabulary.draw(random);
            if (word.size() >= 4)
                queries.append(word.left(3) + QLatin1Char('*'));
        }
    }
    return queries;
}

// The words of a query as grep is used to find a phrase: no quotes, no star.
QString grepPattern(const QString& query) {
    QString words = query;
    words.remove(QLatin1Char('"'));
    words.remove(QLatin1Char('*'));
    return words;
}

// grep reading its output, as a terminal would; -1 when it failed. Its output is read
// and dropped, never sent to /dev/null, where grep stops at the first match.
double grepSeconds(const QString& pattern, const QString& folder, qint64& lines) {
    QProcess grep;
    grep.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer clock;
    clock.start();
    grep.start(QStringLiteral("grep"),
               {QStringLiteral("-riF"), QStringLiteral("--"), pattern, folder});
    lines = 0;
    while (grep.state() != QProcess::NotRunning || grep.bytesAvailable() > 0) {
        grep.waitForReadyRead(100);
        lines += grep.readAll().count('\n');
    }
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    if (grep.exitStatus() != QProcess::NormalExit || grep.exitCode() > 1)
        return -1.0;
    return seconds;
}

double percentile(QList<double> values, double share) {
    std::sort(values.begin(), values.end());
    return values.at(qsizetype(share * double(values.size() - 1) + 0.5));
}

double sum(const QList<double>& values) {
    return std::accumulate(values.begin(), values.end(), 0.0);
}

// The library file as it stands on disk with its journal carried in.
qint64 checkpointedBytes(const QString& path) {
    SqliteConnection connection;
    if (!connection.open(path, SqliteConnection::Mode::readWrite) ||
        !connection.exec("PRAGMA wal_checkpoint(TRUNCATE)"))
        return -1;
    connection.close();
    return QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-wal")).size();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::mt19937_64 random(20261207);
    const Vocabulary vocabulary(random);
    if (vocabulary.isEmpty()) {
        std::fprintf(stderr, "no word list at /usr/share/dict/american-english (wamerican)\n");
        return 1;
    }
    QTemporaryDir dir;
    const QString texts = dir.filePath(QStringLiteral("texts"));
    const QString path = dir.filePath(QStringLiteral("library.sqlite3"));
    QDir().mkpath(texts);

    // The collection, stored one transcript after another as jobs finish, and saved as text.
    QElapsedTimer clock;
    clock.start();
    qint64 wordCount = 0;
    double spoken = 0.0;
    double storing = 0.0;
    QList<QStringList> samples;
    {
        TranscriptLibrary library(path);
        for (int number = 0; number < transcriptCount; ++number) {
            const QList<TranscriptSegment> segments =
                spokenWords(vocabulary, transcriptSeconds, random);
            wordCount += segments.size();
            spoken += segments.constLast().endTime;
            if (number % 10 == 0) {
                QStringList words;
                for (qsizetype i = 0; i < 200; ++i)
                    words.append(segments[i].text);
                samples.append(words);
            }
            QElapsedTimer store;
            store.start();
            if (!library.store(transcriptOf(number, segments))) {
                std::fprintf(stderr, "store failed: %s\n", qPrintable(library.lastError()));
                return 1;
            }
            storing += double(store.nsecsElapsed()) / 1e9;
            QFile text(QStringLiteral("%1/interview-%2.txt").arg(texts).arg(number));
            if (!text.open(QIODevice::WriteOnly) ||
                text.write(plainTextRendering(segments).toUtf8()) < 0)
                return 1;
        }
    }
    const qint64 libraryBytes = checkpointedBytes(path);
    std::printf("library: %d transcripts, %.0f hours, %lld words, %lld words in the list; "
                "built in %.1f s (storing %.1f s), %.1f MB\n",
                transcriptCount, spoken / 3600.0, static_cast<long long>(wordCount),
                static_cast<long long>(vocabulary.size()), double(clock.nsecsElapsed()) / 1e9,
                storing, double(libraryBytes) / 1e6);

    // Searching: the library opened afresh, each query once, as the window would.
    const QStringList queries = queriesFor(vocabulary, samples, random);
    QList<double> searches;
    qint64 hitCount = 0;
    {
        TranscriptLibrary library(path);
        for (const QString& query : queries) {
            QElapsedTimer search;
            search.start();
            hitCount += library.search(query, searchLimit).size();
            searches.append(double(search.nsecsElapsed()) / 1e6);
        }
    }
    QList<double> greps;
    qint64 grepLines = 0;
    for (const QString& query : queries) {
        qint64 lines = 0;
        const double seconds = grepSeconds(grepPattern(query), texts, lines);
        if (seconds < 0) {
            std::fprintf(stderr, "grep failed on %s\n", qPrintable(query));
            return 1;
        }
        greps.append(seconds * 1000.0);
        grepLines += lines;
    }
    const qsizetype slowest = std::max_element(searches.begin(), searches.end()) - searches.begin();
    std::printf("%d queries: library %.1f ms in all, median %.2f ms, p95 %.2f ms, slowest %.1f "
                "ms (%s), %lld hits; grep -riF %.1f ms in all, median %.1f ms, p95 %.1f ms, "
                "%lld lines matched\n",
                queryCount, sum(searches), percentile(searches, 0.5), percentile(searches, 0.95),
                searches[slowest], qPrintable(queries[slowest]), static_cast<long long>(hitCount),
                sum(greps), percentile(greps, 0.5), percentile(greps, 0.95),
                static_cast<long long>(grepLines));

    // Storing one-hour transcripts into that library: time and growth on disk.
    const QList<TranscriptSegment> hour = spokenWords(vocabulary, 3600.0, random);
    QList<double> stores;
    const qint64 before = checkpointedBytes(path);
    {
        TranscriptLibrary library(path);
        for (int round = 0; round < storeRounds; ++round) {
            QElapsedTimer store;
            store.start();
            if (!library.store(transcriptOf(transcriptCount + round, hour)))
                return 1;
            stores.append(double(store.nsecsElapsed()) / 1e6);
        }
    }
    const qint64 after = checkpointedBytes(path);
    const double hours = storeRounds * hour.constLast().endTime / 3600.0;
    std::printf("one hour, %lld words: stored %d times, median %.1f ms; the library grew %.0f "
                "bytes an hour; the 1000 hours take %.0f bytes an hour\n",
                static_cast<long long>(hour.size()), storeRounds, percentile(stores, 0.5),
                double(after - before) / hours, double(libraryBytes) / (spoken / 3600.0));
    std::printf("whole run: %.0f s\n", double(clock.nsecsElapsed()) / 1e9);

    std::printf("library_search_p95_ms: %.2f (target < 20)\n", percentile(searches, 0.95));
    std::printf("library_search_ratio: %.4f (target <= 0.05; total time of the %d queries "
                "against grep's)\n",
                sum(searches) / sum(greps), queryCount);
    std::printf("library_store_ms_per_hour: %.1f (target < 50)\n",
                percentile(stores, 0.5) * 3600.0 / hour.constLast().endTime);
    std::printf("library_bytes_per_hour: %.0f (target < 1500000)\n",
                double(after - before) / hours);
    return 0;
}
