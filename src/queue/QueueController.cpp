#include "QueueController.h"

#include "core/FileDialogs.h"
#include "core/SerialQueue.h"
#include "core/TextFiles.h"
#include "queue/FolderWatcher.h"
#include "queue/TranscriptionQueue.h"
#include "transcription/TranscriptFormats.h"
#include "transcription/TranscriptionViewModel.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QPointer>

#include <algorithm>

namespace vocalith {

namespace {

bool isMedia(const QFileInfo& info) {
    return TranscriptionViewModel::mediaExtensions().contains(info.suffix().toLower());
}

} // namespace

QueueController::QueueController(TranscriptionViewModel& viewModel, TranscriptionQueue& queue,
                                 FileDialogs& dialogs, QObject* parent)
    : QObject(parent)
    , m_vm(viewModel)
    , m_queue(queue)
    , m_dialogs(dialogs)
    , m_folders(SerialQueue::create(QStringLiteral("com.vocalith.folders")))
    , m_watcher(new FolderWatcher(this)) {
    connect(m_watcher, &FolderWatcher::fileReady, this, [this](const QString& path) {
        m_queue.add({path});
        if (!m_queue.isRunning())
            start();
    });
    connect(m_watcher, &FolderWatcher::stopped, this, [this](const QString& message) {
        m_vm.setErrorMessage(message);
        Q_EMIT watchingChanged();
    });
    m_vm.setFilesHandler([this](const QStringList& paths) { open(paths); });
}

QueueController::~QueueController() {
    *m_closing = true;
    m_folders->close();
    m_vm.setFilesHandler({});
}

bool QueueController::isShown() const {
    return !m_queue.items().isEmpty();
}

int QueueController::waitingCount() const {
    return int(
        std::count_if(m_queue.items().cbegin(), m_queue.items().cend(), [](const QueueItem& item) {
            return item.state == QueueItem::State::waiting;
        }));
}

bool QueueController::hasResults() const {
    return std::any_of(m_queue.items().cbegin(), m_queue.items().cend(),
                       [](const QueueItem& item) { return item.state == QueueItem::State::done; });
}

void QueueController::open(const QStringList& paths) {
    if (paths.isEmpty())
        return;
    // One file is the tab's at once, as it has always been, unless files opened before
    // it are still being looked at.
    if (paths.size() == 1 && m_looking == 0 && !QFileInfo(paths.first()).isDir())
        return take({TranscriptionQueue::sourceOf(paths.first())}, 0);
    // Thousands of files, or folders holding them, are looked at away from the window.
    ++m_looking;
    QPointer<QueueController> self(this);
    m_folders->post([self, closing = m_closing, paths] {
        QList<TranscriptionQueue::Source> found;
        int leftOut = 0;
        for (const QString& path : paths) {
            const QFileInfo info(path);
            if (!info.isDir()) {
                // One file is the tab's whatever it is, as it is when nothing is pending.
                if (isMedia(info) || paths.size() == 1)
                    found.append(TranscriptionQueue::sourceOf(path));
                else
                    ++leftOut;
                continue;
            }
            QStringList inFolder;
            QDirIterator it(path, QDir::Files | QDir::Readable, QDirIterator::Subdirectories);
            while (it.hasNext() && !*closing) {
                it.next();
                if (isMedia(it.fileInfo()))
                    inFolder.append(it.filePath());
            }
            inFolder.sort(Qt::CaseInsensitive);
            for (const QString& file : std::as_const(inFolder)) {
                if (*closing)
                    return;
                found.append(TranscriptionQueue::sourceOf(file));
            }
        }
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, found, leftOut] {
                if (!self)
                    return;
                --self->m_looking;
                self->take(found, leftOut);
            },
            Qt::QueuedConnection);
    });
}

void QueueController::take(const QList<TranscriptionQueue::Source>& files, int leftOut) {
    // One file with no queue on the tab is the tab's, as it has always been.
    if (!isShown() && files.size() == 1) {
        // Refused (a recording runs, say): the tab has said why, and that is what matters.
        if (!m_vm.loadFile(QUrl::fromLocalFile(files.first().path)))
            return;
    } else if (!files.isEmpty()) {
        QList<TranscriptionQueue::Source> queued;
        // A file waiting on the tab joins the queue as its first row.
        const QUrl current = m_vm.audioFileURL();
        if (!isShown() && current.isLocalFile() && !m_vm.isTranscribing() &&
            m_vm.transcribedText().isEmpty()) {
            queued.append(TranscriptionQueue::sourceOf(current.toLocalFile()));
            m_vm.removeFile();
        }
        m_queue.add(queued + files);
    }
    if (leftOut > 0)
        m_vm.setNoticeMessage(leftOut == 1
                                  ? QStringLiteral("1 file was left out: it is not audio or video.")
                                  : QStringLiteral("%1 files were left out: they are not audio or "
                                                   "video.")
                                        .arg(leftOut));
}

void QueueController::start() {
    m_vm.setErrorMessage(std::nullopt);
    m_vm.setShowSuccessBanner(false);
    m_queue.start(m_vm.selectedEngine(), m_vm.selectedLanguage());
}

bool QueueController::openResult(int index) {
    if (index < 0 || index >= m_queue.items().size() ||
        m_queue.items().at(index).state != QueueItem::State::done)
        return false;
    return m_vm.openStoredTranscript(m_queue.transcript(index));
}

QueueController::Plan QueueController::planSave(const QString& folder, int format) const {
    Plan plan;
    QHash<QString, QString> sourceFor; // target -> the recording written there
    for (int i = 0; i < m_queue.items().size(); ++i) {
        const QueueItem& item = m_queue.items().at(i);
        if (item.state != QueueItem::State::done)
            continue;
        const QString target = QDir::cleanPath(QDir(folder).absoluteFilePath(
            TranscriptionViewModel::proposedFileName(item.path, format)));
        if (const auto other = sourceFor.constFind(target); other != sourceFor.cend()) {
            plan.problem = *other + QStringLiteral(" and ") + item.path +
                           QStringLiteral(" would both be written to ") + target + QLatin1Char('.');
            return plan;
        }
        sourceFor.insert(target, item.path);
        plan.rows.append(i);
        plan.targets.append(target);
    }
    return plan;
}

void QueueController::saveAll() {
    if (!hasResults())
        return;
    SaveDialogRequest request;
    request.message = QStringLiteral("Choose a folder for the transcripts");
    request.formats = TranscriptFormats::titles();
    request.layouts = subtitleLayouts();
    request.directory = QFileInfo(m_queue.items().first().path).absolutePath();
    const std::optional<SaveDialogChoice> choice = m_dialogs.chooseSaveFolder(request);
    if (!choice)
        return;
    // What an earlier Save All said goes; other errors (the watch stopping, say) stay.
    m_vm.setNoticeMessage(std::nullopt);
    if (!m_saveError.isEmpty() && m_vm.errorMessage() == m_saveError)
        m_vm.setErrorMessage(std::nullopt);
    const auto fail = [this](const QString& message) {
        m_saveError = message;
        m_vm.setErrorMessage(message);
    };
    const int format = choice->formatIndex;
    const Plan plan = planSave(choice->path, format);
    if (!plan.problem.isEmpty())
        return fail(plan.problem);
    if (!QFileInfo(choice->path).isDir() || !QFileInfo(choice->path).isWritable())
        return fail(QStringLiteral("Cannot write in ") + choice->path);
    // Files there already are asked about once, for all of them.
    QStringList existing;
    for (const QString& target : plan.targets) {
        if (QFileInfo::exists(target))
            existing.append(target);
    }
    if (!existing.isEmpty() &&
        !m_dialogs.confirmReplace(existing.size() == 1
                                      ? existing.first()
                                      : QStringLiteral("%1 files").arg(existing.size())))
        return;
    const bool broadcast = choice->layoutIndex == 1 && TranscriptFormats::isSubtitles(format);
    for (int i = 0; i < plan.rows.size(); ++i) {
        if (const std::optional<QString> failure = TextFiles::save(
                plan.targets[i],
                TranscriptFormats::render(m_queue.transcript(plan.rows[i]), format, broadcast)))
            return fail(*failure + QStringLiteral(" (") + plan.targets[i] +
                        QStringLiteral("). %1 of %2 transcripts were written before it.")
                            .arg(i)
                            .arg(plan.rows.size()));
    }
    const QString count = plan.rows.size() == 1
                              ? QStringLiteral("1 transcript")
                              : QStringLiteral("%1 transcripts").arg(plan.rows.size());
    m_vm.setNoticeMessage(QStringLiteral("Saved ") + count + QStringLiteral(" in ") +
                          QDir::toNativeSeparators(choice->path) + QLatin1Char('.'));
}

void QueueController::chooseFolderToWatch() {
    if (const std::optional<QString> folder =
            m_dialogs.chooseFolder(QStringLiteral("Choose a folder to watch")))
        watch(*folder);
}

bool QueueController::watch(const QString& folder) {
    const bool watching = m_watcher->watch(folder);
    Q_EMIT watchingChanged();
    return watching;
}

void QueueController::stopWatching() {
    m_watcher->stop();
    Q_EMIT watchingChanged();
}

QString QueueController::watchedFolder() const {
    return m_watcher->folder();
}

} // namespace vocalith
