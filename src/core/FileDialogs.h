#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace vocalith {

// A save dialog on screen. It does not block: the window stays live while it is
// open, and its owner may rename the proposed file meanwhile.
class SaveDialog {
public:
    virtual ~SaveDialog() = default;
    virtual void setProposedName(const QString& fileName) = 0;
};

struct SaveDialogRequest {
    QString message;
    QString proposedName;
    // Where the dialog opens, e.g. beside the source file; empty for the dialog's choice.
    QString directory;
    // The items of the format choice, e.g. "Plain Text (.txt)".
    QStringList formats;
    // A second choice beside the format, for subtitles' line layout; none when empty.
    QStringList layouts;
    // The format selected at first.
    int selectedFormat = 0;
    // Offers, for SRT, the speakers' names before the cues: transcripts with speakers.
    bool offersSpeakerNames = false;
};

// The line layouts offered for subtitles, in popup order.
inline QStringList subtitleLayouts() {
    return {QStringLiteral("Lines: As recognised"), QStringLiteral("Lines: Broadcast (2 × 42)")};
}

struct SaveDialogChoice {
    QString path;
    int formatIndex = 0;
    int layoutIndex = 0;
    // SRT cues begin with "Name: ".
    bool speakerNames = false;
};

// The file dialogs controllers need, kept behind an interface so controllers stay
// free of widgets and tests can answer them.
class FileDialogs {
public:
    virtual ~FileDialogs() = default;

    // A modal dialog choosing one existing file; absent when cancelled.
    // nameFilters use QFileDialog's form, e.g. "MP3 Audio (*.mp3)".
    virtual std::optional<QUrl> chooseFileToOpen(const QString& message,
                                                 const QStringList& nameFilters) = 0;

    // A modal dialog choosing one or more existing files; empty when cancelled.
    virtual QList<QUrl> chooseFilesToOpen(const QString& message, const QStringList& nameFilters) {
        const std::optional<QUrl> url = chooseFileToOpen(message, nameFilters);
        return url ? QList<QUrl>{*url} : QList<QUrl>{};
    }

    // A modal dialog choosing a folder with the request's format and layout choices,
    // for writing many transcripts at once; the choice's path is the folder.
    virtual std::optional<SaveDialogChoice> chooseSaveFolder(const SaveDialogRequest& request) {
        Q_UNUSED(request);
        return std::nullopt;
    }

    // A modal dialog choosing an existing folder; absent when cancelled.
    virtual std::optional<QString> chooseFolder(const QString& message) {
        Q_UNUSED(message);
        return std::nullopt;
    }

    // Opens a save dialog and returns at once. formatChanged is called with the
    // index of each format the user picks; finished once, with the choice or with
    // nothing when the user cancels.
    virtual std::shared_ptr<SaveDialog>
    beginSave(const SaveDialogRequest& request, std::function<void(int)> formatChanged,
              std::function<void(const std::optional<SaveDialogChoice>&)> finished) = 0;

    // Asks whether an existing file the user did not pick by name may be replaced.
    virtual bool confirmReplace(const QString& path) = 0;
};

} // namespace vocalith
