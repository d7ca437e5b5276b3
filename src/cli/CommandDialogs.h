#pragma once

#include "core/FileDialogs.h"

#include <QString>

namespace vocalith {

// The controllers' save dialog answered from the command line: the output path, a
// directory, or beside the input under the name the controller proposes.
class CommandDialogs final : public FileDialogs {
public:
    // output: a file, an existing directory, or empty for the controller's proposal.
    void setTarget(const QString& output, int formatIndex, int layoutIndex = 0,
                   bool speakerNames = false);
    // The path last chosen, once the controller has been answered.
    QString chosenPath() const { return m_chosenPath; }
    bool isAnswering() const { return m_answering; }

    std::optional<QUrl> chooseFileToOpen(const QString&, const QStringList&) override {
        return std::nullopt;
    }
    std::shared_ptr<SaveDialog>
    beginSave(const SaveDialogRequest& request, std::function<void(int)> formatChanged,
              std::function<void(const std::optional<SaveDialogChoice>&)> finished) override;
    // A command line replaces its outputs, as compilers and converters do.
    bool confirmReplace(const QString&) override { return true; }

private:
    QString m_output;
    int m_formatIndex = 0;
    int m_layoutIndex = 0;
    bool m_speakerNames = false;
    QString m_chosenPath;
    bool m_answering = false;
};

} // namespace vocalith
