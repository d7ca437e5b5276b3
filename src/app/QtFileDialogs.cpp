#include "QtFileDialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QRegularExpression>

namespace vocalith {

namespace {

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
    QStringList filters;
    for (const QString& filter : nameFilters)
        filters.append(withUpperCasePatterns(filter));
    const QUrl url =
        QFileDialog::getOpenFileUrl(m_parent, message, QUrl(), filters.join(QStringLiteral(";;")));
    if (url.isEmpty())
        return std::nullopt;
    return url;
}

std::shared_ptr<SaveDialog>
QtFileDialogs::beginSave(const SaveDialogRequest& request, std::function<void(int)> formatChanged,
                         std::function<void(const std::optional<SaveDialogChoice>&)> finished) {
    auto* dialog = new QFileDialog(m_parent, request.message);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    QStringList filters;
    for (const QString& format : request.formats)
        filters.append(nameFilter(format));
    dialog->setNameFilters(filters);
    dialog->selectFile(request.proposedName);

    QObject::connect(dialog, &QFileDialog::filterSelected, dialog,
                     [filters, formatChanged](const QString& filter) {
                         formatChanged(int(filters.indexOf(filter)));
                     });
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog, filters, finished](int result) {
        const QStringList files = dialog->selectedFiles();
        if (result != QDialog::Accepted || files.isEmpty())
            return finished(std::nullopt);
        finished(
            SaveDialogChoice{files.first(), int(filters.indexOf(dialog->selectedNameFilter()))});
    });
    dialog->open();
    return std::make_shared<QtSaveDialog>(dialog);
}

bool QtFileDialogs::confirmReplace(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    return QMessageBox::question(
               m_parent, QStringLiteral("Replace File"),
               QStringLiteral("“%1” already exists. Do you want to replace it?").arg(name),
               QMessageBox::Yes | QMessageBox::Cancel, QMessageBox::Cancel) == QMessageBox::Yes;
}

} // namespace vocalith
