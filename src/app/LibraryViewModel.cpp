#include "LibraryViewModel.h"

#include "core/FileDialogs.h"
#include "core/SerialQueue.h"
#include "core/TextFiles.h"
#include "library/TranscriptLibrary.h"
#include "subtitles/SubtitleChecker.h"
#include "transcription/LibraryWriter.h"
#include "transcription/TranscriptFormats.h"
#include "transcription/TranscriptionViewModel.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QSemaphore>
#include <QStandardPaths>

namespace vocalith {

namespace {

constexpr int hitLimit = 200;
// Playback starts a little before the words, so they are heard in their sentence.
constexpr double leadIn = 2.0;

} // namespace

LibraryViewModel::LibraryViewModel(std::shared_ptr<TranscriptLibrary> library,
                                   TranscriptionViewModel& transcription, FileDialogs& dialogs,
                                   QObject* parent)
    : QObject(parent)
    , m_library(std::move(library))
    , m_transcription(transcription)
    , m_dialogs(dialogs)
    , m_queue(SerialQueue::create(QStringLiteral("com.vocalith.library.window")))
    , m_latest(std::make_shared<std::atomic<quint64>>(0)) {
    Q_ASSERT(m_library);
    if (!m_library->notice().isEmpty())
        m_noticeMessage = m_library->notice();
    // What the tab keeps shows up here as soon as it is stored.
    if (LibraryWriter* writer = m_transcription.libraryWriter()) {
        connect(writer, &LibraryWriter::stored, this, [this](qint64 id) {
            m_tabTranscript = id;
            reload();
        });
    }
    reload();
}

LibraryViewModel::~LibraryViewModel() {
    // A delete the user confirmed is finished; searches nobody waits for are skipped.
    m_latest->store(0);
    QSemaphore drained;
    if (m_queue->post([&drained] { drained.release(); }))
        drained.acquire();
    m_queue->close();
}

QString LibraryViewModel::timeText(double seconds) {
    const auto whole = qint64(std::max(0.0, seconds));
    return QStringLiteral("%1:%2:%3")
        .arg(whole / 3600)
        .arg(whole / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(whole % 60, 2, 10, QLatin1Char('0'));
}

template <typename Result>
void LibraryViewModel::post(std::function<Result(TranscriptLibrary&)> work,
                            std::function<void(Result)> done) {
    const QPointer<LibraryViewModel> self(this);
    m_queue->post([self, library = m_library, work = std::move(work), done = std::move(done)] {
        Result result = work(*library);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, done, result = std::move(result)]() mutable {
                if (self)
                    done(std::move(result));
            },
            Qt::QueuedConnection);
    });
}

void LibraryViewModel::setQuery(const QString& query) {
    if (query == m_query)
        return;
    m_query = query;
    Q_EMIT queryChanged();
    search();
}

void LibraryViewModel::search() {
    const quint64 asked = ++m_asked;
    m_latest->store(asked);
    if (m_query.trimmed().isEmpty()) {
        m_answered = asked;
        m_hits.clear();
        Q_EMIT hitsChanged();
        return;
    }
    using Hits = std::optional<QList<SearchHit>>;
    post<Hits>(
        [latest = m_latest, asked, query = m_query](TranscriptLibrary& library) -> Hits {
            // Typing on: a newer query is already waiting behind this one.
            if (latest->load() != asked)
                return std::nullopt;
            return library.search(query, hitLimit);
        },
        [this, asked](Hits hits) {
            if (!hits || asked != m_asked)
                return;
            m_answered = asked;
            m_hits = std::move(*hits);
            Q_EMIT hitsChanged();
        });
}

void LibraryViewModel::reload() {
    post<QList<StoredTranscript>>([](TranscriptLibrary& library) { return library.transcripts(); },
                                  [this](QList<StoredTranscript> transcripts) {
                                      m_transcripts = std::move(transcripts);
                                      m_hasRead = true;
                                      Q_EMIT transcriptsChanged();
                                      const bool kept =
                                          std::any_of(m_transcripts.cbegin(), m_transcripts.cend(),
                                                      [this](const StoredTranscript& transcript) {
                                                          return transcript.id == m_selectedId;
                                                      });
                                      if (!kept)
                                          select(0);
                                  });
    if (!m_query.trimmed().isEmpty())
        search();
}

void LibraryViewModel::select(qint64 id) {
    if (id == m_selectedId)
        return;
    m_selectedId = id;
    Q_EMIT selectedIdChanged();
}

void LibraryViewModel::setErrorMessage(const std::optional<QString>& message) {
    if (message == m_errorMessage)
        return;
    m_errorMessage = message;
    Q_EMIT errorMessageChanged();
}

void LibraryViewModel::setNoticeMessage(const std::optional<QString>& message) {
    if (message == m_noticeMessage)
        return;
    m_noticeMessage = message;
    Q_EMIT noticeMessageChanged();
}

QString LibraryViewModel::nameOf(qint64 id) const {
    for (const StoredTranscript& transcript : m_transcripts) {
        if (transcript.id == id)
            return transcript.recordingName();
    }
    for (const SearchHit& hit : m_hits) {
        if (hit.transcriptId == id)
            return QFileInfo(hit.recordingPath).fileName();
    }
    return {};
}

void LibraryViewModel::withTranscript(qint64 id, std::function<void(StoredTranscript)> then) {
    using Read = std::pair<std::optional<StoredTranscript>, QString>;
    post<Read>(
        [id](TranscriptLibrary& library) {
            std::optional<StoredTranscript> transcript = library.transcript(id);
            return Read{transcript, transcript ? QString() : library.lastError()};
        },
        [this, then = std::move(then)](Read read) {
            if (!read.first)
                return setErrorMessage(QStringLiteral("The transcript could not be read: ") +
                                       read.second);
            then(std::move(*read.first));
        });
}

void LibraryViewModel::openHit(int row) {
    if (row < 0 || row >= m_hits.size())
        return;
    const SearchHit& hit = m_hits.at(row);
    withTranscript(hit.transcriptId, [this, from = hit.time](StoredTranscript transcript) {
        open(std::move(transcript), std::max(0.0, from - leadIn));
    });
}

void LibraryViewModel::review(qint64 id) {
    withTranscript(id, [this](StoredTranscript transcript) { open(std::move(transcript), -1.0); });
}

void LibraryViewModel::open(StoredTranscript transcript, double from) {
    if (m_transcription.isTranscribing())
        return setNoticeMessage(
            QStringLiteral("Transcripts can be opened once the transcription ends."));
    if (!QFileInfo(transcript.recordingPath).isFile()) {
        const QString patterns =
            QStringLiteral("*.") +
            TranscriptionViewModel::mediaExtensions().join(QStringLiteral(" *."));
        const std::optional<QUrl> found = m_dialogs.chooseFileToOpen(
            QStringLiteral("Where is %1?").arg(transcript.recordingName()),
            {QStringLiteral("Audio and video files (") + patterns + QLatin1Char(')')});
        if (!found || found->isEmpty())
            return;
        // Remembered, so it is asked for once.
        const qint64 id = transcript.id;
        const QString path = found->toLocalFile();
        transcript.recordingPath = path;
        for (StoredTranscript& kept : m_transcripts) {
            if (kept.id == id)
                kept.recordingPath = path;
        }
        for (SearchHit& hit : m_hits) {
            if (hit.transcriptId == id)
                hit.recordingPath = path;
        }
        post<QString>(
            [id, path](TranscriptLibrary& library) {
                return library.setRecordingPath(id, path) ? QString() : library.lastError();
            },
            [this](const QString& error) {
                if (!error.isEmpty())
                    setErrorMessage(
                        QStringLiteral("Where the recording is could not be remembered: ") + error);
            });
    }
    if (!m_transcription.openStoredTranscript(transcript))
        return;
    m_tabTranscript = transcript.id;
    Q_EMIT reviewRequested(from);
}

void LibraryViewModel::save(qint64 id) {
    withTranscript(id, [this](StoredTranscript transcript) {
        SaveDialogRequest request;
        request.message = QStringLiteral("Save transcription — choose a format");
        const QFileInfo recording(transcript.recordingPath);
        const QString documents =
            QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        request.directory = recording.dir().exists() ? recording.absolutePath() : documents;
        request.proposedName =
            TranscriptionViewModel::proposedFileName(transcript.recordingPath, 0);
        request.formats = TranscriptFormats::titles();
        request.layouts = subtitleLayouts();
        request.offersSpeakerNames = std::any_of(
            transcript.segments.cbegin(), transcript.segments.cend(),
            [](const TranscriptSegment& segment) { return !segment.speaker.isEmpty(); });
        const QPointer<LibraryViewModel> guard(this);
        m_savePanel = m_dialogs.beginSave(
            request,
            [guard, path = transcript.recordingPath](int index) {
                if (guard && guard->m_savePanel)
                    guard->m_savePanel->setProposedName(
                        TranscriptionViewModel::proposedFileName(path, index));
            },
            [guard, transcript](const std::optional<SaveDialogChoice>& choice) {
                if (guard)
                    guard->finishSave(transcript, choice);
            });
    });
}

void LibraryViewModel::finishSave(const StoredTranscript& transcript,
                                  const std::optional<SaveDialogChoice>& choice) {
    m_savePanel.reset();
    if (!choice || choice->path.isEmpty())
        return;
    const auto [format, broadcast, target] = TranscriptFormats::target(*choice);
    const QString content =
        TranscriptFormats::render(transcript, format, broadcast, choice->speakerNames);
    // The dialog asked about the name the user typed, not about the repaired one.
    if (target != choice->path && QFileInfo::exists(target) && !m_dialogs.confirmReplace(target))
        return;
    if (const std::optional<QString> failure = TextFiles::save(target, content))
        return setErrorMessage(*failure);
    if (broadcast)
        setNoticeMessage(SubtitleChecker::savedNotice(content));
}

void LibraryViewModel::remove(qint64 id) {
    const QString name = nameOf(id);
    if (id <= 0 || (m_confirm && !m_confirm(QStringLiteral("Delete Transcript"),
                                            QStringLiteral("Delete the transcript of %1 from the "
                                                           "library? This cannot be undone.")
                                                .arg(name))))
        return;
    // The tab's transcript, if it was this one, no longer takes its review edits here;
    // one stored before this window opened is known by its recording.
    const auto kept = std::find_if(m_transcripts.cbegin(), m_transcripts.cend(),
                                   [id](const StoredTranscript& t) { return t.id == id; });
    const bool onTab =
        id == m_tabTranscript || (m_tabTranscript == 0 && kept != m_transcripts.cend() &&
                                  kept->recordingPath == m_transcription.jobSourcePath());
    if (onTab && m_transcription.libraryWriter())
        m_transcription.libraryWriter()->forget();
    // Gone from the window at once; the file follows on the library's thread.
    m_transcripts.removeIf([id](const StoredTranscript& t) { return t.id == id; });
    m_hits.removeIf([id](const SearchHit& hit) { return hit.transcriptId == id; });
    runDelete([id](TranscriptLibrary& library) { return library.remove(id); },
              QStringLiteral("The transcript could not be deleted: "));
}

void LibraryViewModel::removeAll() {
    if (m_confirm &&
        !m_confirm(QStringLiteral("Delete All Transcripts"),
                   QStringLiteral("Delete all %1 transcripts from the library? This cannot be "
                                  "undone.")
                       .arg(m_transcripts.size())))
        return;
    m_transcripts.clear();
    m_hits.clear();
    if (m_transcription.libraryWriter())
        m_transcription.libraryWriter()->forget();
    runDelete([](TranscriptLibrary& library) { return library.removeAll(); },
              QStringLiteral("The transcripts could not be deleted: "));
}

void LibraryViewModel::runDelete(std::function<bool(TranscriptLibrary&)> work,
                                 const QString& failure) {
    select(0);
    Q_EMIT transcriptsChanged();
    Q_EMIT hitsChanged();
    if (m_busy++ == 0)
        Q_EMIT isBusyChanged();
    post<QString>(
        [work = std::move(work)](TranscriptLibrary& library) {
            return work(library) ? QString() : library.lastError();
        },
        [this, failure](const QString& error) {
            if (!error.isEmpty())
                setErrorMessage(failure + error);
            if (--m_busy == 0)
                Q_EMIT isBusyChanged();
            reload(); // what the file holds now, and the query's hits in it
        });
}

} // namespace vocalith
