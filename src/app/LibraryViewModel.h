#pragma once

#include "library/SearchHit.h"
#include "library/StoredTranscript.h"

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace vocalith {

class FileDialogs;
class SaveDialog;
struct SaveDialogChoice;
class SerialQueue;
class TranscriptLibrary;
class TranscriptionViewModel;

// The state of the Library window: every transcript, the search typed and its hits,
// the selected transcript and what can be done with it. The library is read and
// written on a thread of its own, so neither a big delete nor a slow search stalls
// the window; a transcript is opened through the Transcribe tab, which it joins.
class LibraryViewModel final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LibraryViewModel)

    Q_PROPERTY(QString query READ query WRITE setQuery NOTIFY queryChanged)
    Q_PROPERTY(bool isSearching READ isSearching NOTIFY hitsChanged)
    Q_PROPERTY(bool isBusy READ isBusy NOTIFY isBusyChanged)
    Q_PROPERTY(qint64 selectedId READ selectedId WRITE select NOTIFY selectedIdChanged)
    Q_PROPERTY(std::optional<QString> errorMessage READ errorMessage WRITE setErrorMessage NOTIFY
                   errorMessageChanged)
    Q_PROPERTY(std::optional<QString> noticeMessage READ noticeMessage WRITE setNoticeMessage NOTIFY
                   noticeMessageChanged)

public:
    // Asked before anything is deleted: a title and a question; true goes ahead.
    using Confirm = std::function<bool(const QString& title, const QString& question)>;

    LibraryViewModel(std::shared_ptr<TranscriptLibrary> library,
                     TranscriptionViewModel& transcription, FileDialogs& dialogs,
                     QObject* parent = nullptr);
    ~LibraryViewModel() override;

    // "0:12:03"
    static QString timeText(double seconds);

    // Newest first, without their segments; empty until first read.
    const QList<StoredTranscript>& transcripts() const { return m_transcripts; }
    bool hasRead() const { return m_hasRead; }
    // The hits of the query last answered, best first.
    const QList<SearchHit>& hits() const { return m_hits; }
    QString query() const { return m_query; }
    // A query was typed whose hits have not come back yet.
    bool isSearching() const { return m_answered != m_asked; }
    // Deleting.
    bool isBusy() const { return m_busy > 0; }
    qint64 selectedId() const { return m_selectedId; }
    std::optional<QString> errorMessage() const { return m_errorMessage; }
    std::optional<QString> noticeMessage() const { return m_noticeMessage; }

    // Searches as the user types; hits of an older query never replace a newer one's.
    void setQuery(const QString& query);
    void select(qint64 id);
    void setErrorMessage(const std::optional<QString>& message);
    void setNoticeMessage(const std::optional<QString>& message);
    void setConfirm(Confirm confirm) { m_confirm = std::move(confirm); }

    // Reads the list again, and the hits of the query.
    void reload();
    // The hit's transcript becomes the Transcribe tab's and its review opens there,
    // playing from two seconds before the words.
    void openHit(int row);
    // The transcript becomes the Transcribe tab's and its review opens at the start.
    void review(qint64 id);
    // Offers to save the transcript in any format.
    void save(qint64 id);
    // Both ask first.
    void remove(qint64 id);
    void removeAll();

Q_SIGNALS:
    void transcriptsChanged();
    void hitsChanged();
    void queryChanged();
    void isBusyChanged();
    void selectedIdChanged();
    void errorMessageChanged();
    void noticeMessageChanged();
    // The transcript is the Transcribe tab's now: its review should open, playing from
    // `from` seconds, or standing at the start when `from` is negative.
    void reviewRequested(double from);

private:
    // Runs work on the library's thread, then done with its result on this one.
    template <typename Result>
    void post(std::function<Result(TranscriptLibrary&)> work, std::function<void(Result)> done);
    void search();
    // Reads the whole transcript, then acts on it here.
    void withTranscript(qint64 id, std::function<void(StoredTranscript)> then);
    void open(StoredTranscript transcript, double from);
    void finishSave(const StoredTranscript& transcript,
                    const std::optional<SaveDialogChoice>& choice);
    void runDelete(std::function<bool(TranscriptLibrary&)> work, const QString& failure);
    QString nameOf(qint64 id) const;

    std::shared_ptr<TranscriptLibrary> m_library;
    TranscriptionViewModel& m_transcription;
    FileDialogs& m_dialogs;
    std::shared_ptr<SerialQueue> m_queue;
    // The query asked last, shared with the library's thread so older ones are skipped.
    std::shared_ptr<std::atomic<quint64>> m_latest;
    quint64 m_asked = 0;
    quint64 m_answered = 0;
    QList<StoredTranscript> m_transcripts;
    bool m_hasRead = false;
    QList<SearchHit> m_hits;
    QString m_query;
    int m_busy = 0;
    qint64 m_selectedId = 0;
    qint64 m_tabTranscript = 0; // the one the Transcribe tab shows, as far as known here
    std::optional<QString> m_errorMessage;
    std::optional<QString> m_noticeMessage;
    Confirm m_confirm;
    std::shared_ptr<SaveDialog> m_savePanel;
};

} // namespace vocalith
