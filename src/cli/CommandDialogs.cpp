#include "CommandDialogs.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace vocalith {

namespace {

// Remembers the name the controller proposes, renamed with the format as a dialog's is.
class ProposedName final : public SaveDialog {
public:
    explicit ProposedName(const QString& name)
        : name(name) {}
    void setProposedName(const QString& fileName) override { name = fileName; }
    QString name;
};

} // namespace

void CommandDialogs::setTarget(const QString& output, int formatIndex, int layoutIndex,
                               bool speakerNames) {
    m_output = output;
    m_formatIndex = formatIndex;
    m_layoutIndex = layoutIndex;
    m_speakerNames = speakerNames;
    m_chosenPath.clear();
}

std::shared_ptr<SaveDialog>
CommandDialogs::beginSave(const SaveDialogRequest& request, std::function<void(int)> formatChanged,
                          std::function<void(const std::optional<SaveDialogChoice>&)> finished) {
    auto proposed = std::make_shared<ProposedName>(request.proposedName);
    m_answering = true;
    // Answered from the event loop, as a dialog is: after beginSave has returned.
    QMetaObject::invokeMethod(
        qApp,
        [this, proposed, request, formatChanged, finished] {
            if (m_formatIndex > 0)
                formatChanged(m_formatIndex);
            const QString directory =
                !m_output.isEmpty() && QFileInfo(m_output).isDir() ? m_output : request.directory;
            m_chosenPath = !m_output.isEmpty() && !QFileInfo(m_output).isDir()
                               ? m_output
                               : QDir(directory.isEmpty() ? QDir::currentPath() : directory)
                                     .filePath(proposed->name);
            finished(SaveDialogChoice{m_chosenPath, m_formatIndex, m_layoutIndex, m_speakerNames});
            m_answering = false;
        },
        Qt::QueuedConnection);
    return proposed;
}

} // namespace vocalith
