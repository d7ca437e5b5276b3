#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace vocalith {

// The file dialogs controllers need, kept behind an interface so controllers stay
// free of widgets and tests can answer them.
class FileDialogs {
public:
    virtual ~FileDialogs() = default;

    // A modal dialog choosing one existing file; absent when cancelled.
    // nameFilters use QFileDialog's form, e.g. "MP3 Audio (*.mp3)".
    virtual std::optional<QUrl> chooseFileToOpen(const QString& message,
                                                 const QStringList& nameFilters) = 0;
};

} // namespace vocalith
