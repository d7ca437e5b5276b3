#include "QtFileDialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QRegularExpression>
#include <QSettings>

namespace vocalith {

namespace {

// Qt's own dialog reads a typed name with double quotes as a list of quoted names,
// so `Entrevista "Ñandú" 3.txt` would become `Ñandú`. We open and save one file at a
// time, so a name with quotes is taken as it stands.
class SingleFileDialog final : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

    // The file the user chose, quotes and all.
    QString chosenFile() const {
        if (!m_chosen.isEmpty())
            return m_chosen;
        const QStringList files = selectedFiles();
        return files.isEmpty() ? QString() : files.first();
    }

    void accept() override {
        const auto* edit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        const QString typed = edit ? edit->text() : QString();
        if (!typed.contains(QLatin1Char('"')))
            return QFileDialog::accept();
        const QFileInfo info(directory().absoluteFilePath(typed));
        if (info.isDir()) {
            setDirectory(info.absoluteFilePath());
            return;
        }
        if (acceptMode() == AcceptOpen && !info.isFile())
            return QFileDialog::accept(); // Qt says the file was not found
        if (acceptMode() == AcceptSave && info.exists() &&
            QMessageBox::warning(
                this, windowTitle(),
                tr("%1 already exists.\nDo you want to replace it?").arg(info.fileName()),
                QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
            return;
        m_chosen = info.absoluteFilePath();
        QDialog::accept();
    }

private:
    QString m_chosen;
};

QString lastOpenFolderKey() {
    return QStringLiteral("com.vocalith.lastOpenFolder");
}

class QtSaveDialog final : public SaveDialog {
public:
    explicit QtSaveDialog(QFileDialog* dialog)
        : m_dialog(dialog) {}
    void setProposedName(const QString& fileName) override {
        if (m_dialog)
            m_dialog->selectFile(fileName);
    }

private:
    QPointer<QFileDialog> m_dialog;
};

} // namespace

void QtFileDialogs::prepareToOpen(QFileDialog& dialog, const QStringList& nameFilters,
                                  QFileDialog::FileMode mode) {
    QStringList filters;
    for (const QString& filter : nameFilters)
        filters.append(withUpperCasePatterns(filter));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(mode);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilters(filters);
    // Where the user last opened a file, as desktop dialogs remember it.
    const QString last = QSettings().value(lastOpenFolderKey()).toString();
    if (!last.isEmpty() && QFileInfo(last).isDir())
        dialog.setDirectory(last);
}

QtFileDialogs::QtFileDialogs(QWidget* parent)
    : m_parent(parent) {
}

QString QtFileDialogs::nameFilter(const QString& format) {
    static const QRegularExpression extension(QStringLiteral("\\(\\.(\\w+)\\)$"));
    QString filter = format;
    return filter.replace(extension, QStringLiteral("(*.\\1)"));
}

QString QtFileDialogs::withUpperCasePatterns(const QString& filter) {
    static const QRegularExpression patterns(QStringLiteral("\\(([^)]*)\\)$"));
    const QRegularExpressionMatch match = patterns.match(filter);
    if (!match.hasMatch())
        return filter;
    QStringList both;
    for (const QString& pattern : match.captured(1).split(QLatin1Char(' '), Qt::SkipEmptyParts))
        both << pattern << pattern.toUpper();
    both.removeDuplicates();
    return filter.left(match.capturedStart()) + QLatin1Char('(') + both.join(QLatin1Char(' ')) +
           QLatin1Char(')');
}

std::optional<QUrl> QtFileDialogs::chooseFileToOpen(const QString& message,
                                                    const QStringList& nameFilters) {
    SingleFileDialog dialog(m_parent, message);
    prepareToOpen(dialog, nameFilters, QFileDialog::ExistingFile);
    QSettings settings;
    if (dialog.exec() != QDialog::Accepted || dialog.chosenFile().isEmpty())
        return std::nullopt;
    const QString chosen = dialog.chosenFile();
    settings.setValue(lastOpenFolderKey(), QFileInfo(chosen).absolutePath());
    return QUrl::fromLocalFile(chosen);
}

std::shared_ptr<SaveDialog>
QtFileDialogs::beginSave(const SaveDialogRequest& request, std::function<void(int)> formatChanged,
                         std::function<void(const std::optional<SaveDialogChoice>&)> finished) {
    auto* dialog = new SingleFileDialog(m_parent, request.message);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    QStringList filters;
    for (const QString& format : request.formats)
        filters.append(nameFilter(format));
    dialog->setNameFilters(filters);
    if (!request.directory.isEmpty() && QFileInfo(request.directory).isDir())
        dialog->setDirectory(request.directory);
    dialog->selectNameFilter(filters.value(request.selectedFormat));
    dialog->selectFile(request.proposedName);

    // The line layout sits under the format, as a second popup in the dialog's own grid;
    // plain text has no lines to lay out.
    QComboBox* layouts = nullptr;
    if (auto* grid = qobject_cast<QGridLayout*>(dialog->layout());
        grid && !request.layouts.isEmpty()) {
        layouts = new QComboBox(dialog);
        layouts->addItems(request.layouts);
        layouts->setAccessibleName(QStringLiteral("Lines"));
        grid->addWidget(layouts, grid->rowCount(), 1);
        layouts->setEnabled(
            !filters.value(request.selectedFormat).contains(QLatin1String("*.txt")));
    }
    // Names before the cues, for SRT only: WebVTT names its speakers itself.
    QCheckBox* names = nullptr;
    if (auto* grid = qobject_cast<QGridLayout*>(dialog->layout());
        grid && request.offersSpeakerNames) {
        names = new QCheckBox(QStringLiteral("Speaker names"), dialog);
        names->setAccessibleName(names->text());
        grid->addWidget(names, grid->rowCount(), 1);
        names->setEnabled(filters.value(request.selectedFormat).contains(QLatin1String("*.srt")));
    }
    QObject::connect(dialog, &QFileDialog::filterSelected, dialog,
                     [filters, formatChanged, layouts, names](const QString& filter) {
                         if (layouts)
                             layouts->setEnabled(!filter.contains(QLatin1String("*.txt")));
                         if (names)
                             names->setEnabled(filter.contains(QLatin1String("*.srt")));
                         formatChanged(int(filters.indexOf(filter)));
                     });
    QObject::connect(
        dialog, &QDialog::finished, dialog,
        [dialog, filters, finished, layouts, names](int result) {
            const QString file = dialog->chosenFile();
            if (result != QDialog::Accepted || file.isEmpty())
                return finished(std::nullopt);
            finished(SaveDialogChoice{file, int(filters.indexOf(dialog->selectedNameFilter())),
                                      layouts && layouts->isEnabled() ? layouts->currentIndex() : 0,
                                      names && names->isEnabled() && names->isChecked()});
        });
    dialog->open();
    return std::make_shared<QtSaveDialog>(dialog);
}

QList<QUrl> QtFileDialogs::chooseFilesToOpen(const QString& message,
                                             const QStringList& nameFilters) {
    QFileDialog dialog(m_parent, message);
    prepareToOpen(dialog, nameFilters, QFileDialog::ExistingFiles);
    QSettings settings;
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    QList<QUrl> urls;
    for (const QString& file : dialog.selectedFiles())
        urls.append(QUrl::fromLocalFile(file));
    settings.setValue(lastOpenFolderKey(),
                      QFileInfo(dialog.selectedFiles().first()).absolutePath());
    return urls;
}

std::optional<SaveDialogChoice> QtFileDialogs::chooseSaveFolder(const SaveDialogRequest& request) {
    QFileDialog dialog(m_parent, request.message);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::ShowDirsOnly);
    if (!request.directory.isEmpty() && QFileInfo(request.directory).isDir())
        dialog.setDirectory(request.directory);
    // The format and the line layout sit under the folder, in the dialog's own grid.
    auto* formats = new QComboBox(&dialog);
    formats->addItems(request.formats);
    formats->setCurrentIndex(request.selectedFormat);
    formats->setAccessibleName(QStringLiteral("Format"));
    auto* layouts = new QComboBox(&dialog);
    layouts->addItems(request.layouts);
    layouts->setAccessibleName(QStringLiteral("Lines"));
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) {
        // Labelled, as the dialog's own rows are: a screen reader says a combo box's text.
        auto* label = new QLabel(QStringLiteral("Format:"), &dialog);
        label->setBuddy(formats);
        const int row = grid->rowCount();
        grid->addWidget(label, row, 0);
        grid->addWidget(formats, row, 1);
        grid->addWidget(layouts, row + 1, 1);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return SaveDialogChoice{dialog.selectedFiles().first(), formats->currentIndex(),
                            layouts->currentIndex()};
}

std::optional<QString> QtFileDialogs::chooseFolder(const QString& message) {
    QFileDialog dialog(m_parent, message);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::ShowDirsOnly);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first();
}

bool QtFileDialogs::confirmReplace(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    return QMessageBox::question(
               m_parent, QStringLiteral("Replace File"),
               QStringLiteral("“%1” already exists. Do you want to replace it?").arg(name),
               QMessageBox::Yes | QMessageBox::Cancel, QMessageBox::Cancel) == QMessageBox::Yes;
}

} // namespace vocalith
