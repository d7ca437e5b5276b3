#pragma once

#include "queue/TranscriptionQueue.h"

#include <QObject>
#include <QStringList>

#include <atomic>
#include <memory>
#include <optional>

namespace vocalith {

class FileDialogs;
class FolderWatcher;
class SerialQueue;
class TranscriptionViewModel;

// Decides where files opened on the Transcribe tab go: one file onto the tab as
// always, more into the queue; runs the queue with the tab's choices, opens a row's
// result on the tab and writes every result into one folder.
class QueueController final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QueueController)

public:
    QueueController(TranscriptionViewModel& viewModel, TranscriptionQueue& queue,
                    FileDialogs& dialogs, QObject* parent = nullptr);
    ~QueueController() override;

    TranscriptionQueue& queue() const { return m_queue; }
    // The queue is on the tab: it holds a file.
    bool isShown() const;
    int waitingCount() const;
    bool hasResults() const;

    // Files and folders, folders read for their media files away from the window; of
    // several files, those that are not audio or video are left out with a notice.
    void open(const QStringList& paths);
    void start();
    // The row's transcript becomes the tab's, ready for Review..., Save... and Copy.
    bool openResult(int index);
    // Asks once for a folder, a format and the lines, then writes one file per done
    // recording; names that clash are refused before anything is written.
    void saveAll();
    // Where each done recording would be written, or why not.
    struct Plan {
        QList<int> rows;
        QStringList targets;
        QString problem;
    };
    Plan planSave(const QString& folder, int format) const;

    // File → Watch Folder...: asks for a folder and watches it.
    void chooseFolderToWatch();
    // Each new media file in the folder joins the queue once it stopped growing, and
    // runs with the tab's engine and language.
    bool watch(const QString& folder);
    void stopWatching();
    // The watched folder, empty when none.
    QString watchedFolder() const;

Q_SIGNALS:
    void watchingChanged();

private:
    void take(const QList<TranscriptionQueue::Source>& files, int leftOut);

    TranscriptionViewModel& m_vm;
    TranscriptionQueue& m_queue;
    FileDialogs& m_dialogs;
    std::shared_ptr<SerialQueue> m_folders;
    // Set when going: a long look through folders stops at the next file.
    std::shared_ptr<std::atomic<bool>> m_closing = std::make_shared<std::atomic<bool>>(false);
    FolderWatcher* m_watcher;
    QString m_saveError; // the last one Save All showed
    int m_looking = 0;   // open() calls whose files are being looked at
};

} // namespace vocalith
