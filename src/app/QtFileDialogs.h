#pragma once

#include "core/FileDialogs.h"

#include <QFileDialog>

class QWidget;

namespace vocalith {

// The file dialogs of the application, on QFileDialog. Save dialogs are Qt's own
// so that picking a format can rename the proposed file while the dialog is open.
class QtFileDialogs final : public FileDialogs {
public:
    explicit QtFileDialogs(QWidget* parent = nullptr);
    void setParent(QWidget* parent) { m_parent = parent; }

    std::optional<QUrl> chooseFileToOpen(const QString& message,
                                         const QStringList& nameFilters) override;
    std::shared_ptr<SaveDialog>
    beginSave(const SaveDialogRequest& request, std::function<void(int)> formatChanged,
              std::function<void(const std::optional<SaveDialogChoice>&)> finished) override;
    bool confirmReplace(const QString& path) override;
    QList<QUrl> chooseFilesToOpen(const QString& message, const QStringList& nameFilters) override;
    std::optional<SaveDialogChoice> chooseSaveFolder(const SaveDialogRequest& request) override;
    std::optional<QString> chooseFolder(const QString& message) override;

    // File names are matched with case on Linux: "MP3 Audio (*.mp3)" also gets "*.MP3".
    static QString withUpperCasePatterns(const QString& filter);
    // "Plain Text (.txt)" as a name filter: "Plain Text (*.txt)".
    static QString nameFilter(const QString& format);

private:
    // An open dialog on Qt's own widgets, its filters matching names in capitals too, in
    // the folder the user last opened from.
    static void prepareToOpen(QFileDialog& dialog, const QStringList& nameFilters,
                              QFileDialog::FileMode mode);

    QWidget* m_parent;
};

} // namespace vocalith
