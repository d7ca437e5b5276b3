#include "Icons.h"

#include <QApplication>
#include <QHash>
#include <QStyle>

// Resources of a static library must be registered by hand.
static void registerResources() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(resources);
        return true;
    }();
    Q_UNUSED(registered);
}

namespace vocalith::Icons {

namespace {

struct IconSource {
    const char* themeName;
    const char* bundled; // resource path, or nullptr
    QStyle::StandardPixmap standard;
};

const QHash<QString, IconSource>& sources() {
    static const QHash<QString, IconSource> table{
        {QStringLiteral("waveform"), {"audio-x-generic", ":/waveform.svg", QStyle::SP_MediaVolume}},
        {QStringLiteral("globe"),
         {"applications-internet", ":/globe.svg", QStyle::SP_DriveNetIcon}},
        {QStringLiteral("slider.horizontal.3"),
         {"preferences-system", ":/sliders.svg", QStyle::SP_FileDialogDetailedView}},
        {QStringLiteral("music.note.list"),
         {"audio-x-generic", ":/waveform.svg", QStyle::SP_MediaVolume}},
        // Bundled: the style's black cross vanishes on a dark background.
        {QStringLiteral("xmark.circle.fill"),
         {nullptr, ":/xmark.svg", QStyle::SP_DialogCloseButton}},
        {QStringLiteral("mic.fill"), {"audio-input-microphone", nullptr, QStyle::SP_MediaPlay}},
        {QStringLiteral("hourglass"), {"appointment-soon", nullptr, QStyle::SP_BrowserReload}},
        {QStringLiteral("exclamationmark.triangle.fill"),
         {"dialog-warning", nullptr, QStyle::SP_MessageBoxWarning}},
        {QStringLiteral("info.circle"),
         {"dialog-information", nullptr, QStyle::SP_MessageBoxInformation}},
        {QStringLiteral("checkmark.circle.fill"),
         {"emblem-default", nullptr, QStyle::SP_DialogApplyButton}},
        {QStringLiteral("doc.on.doc"), {"edit-copy", nullptr, QStyle::SP_FileDialogContentsView}},
        {QStringLiteral("arrow.clockwise"), {"view-refresh", nullptr, QStyle::SP_BrowserReload}},
        {QStringLiteral("text.bubble.fill"),
         {"format-justify-left", nullptr, QStyle::SP_FileDialogInfoView}},
        {QStringLiteral("doc.text"), {"text-x-generic", nullptr, QStyle::SP_FileIcon}},
        {QStringLiteral("arrow.down.doc"), {"document-import", nullptr, QStyle::SP_ArrowDown}},
        {QStringLiteral("plus"), {"list-add", ":/plus.svg", QStyle::SP_FileDialogNewFolder}},
        // Bundled only: the empty state needs it at 40 px, larger than most themes draw it.
        {QStringLiteral("cloud"), {nullptr, ":/cloud.svg", QStyle::SP_DriveNetIcon}},
        {QStringLiteral("cloud.fill"), {"network-server", nullptr, QStyle::SP_DriveNetIcon}},
        {QStringLiteral("pencil"),
         {"document-edit", ":/pencil.svg", QStyle::SP_FileDialogDetailedView}},
        {QStringLiteral("trash"), {"edit-delete", nullptr, QStyle::SP_TrashIcon}},
    };
    return table;
}

} // namespace

QIcon get(const QString& name) {
    registerResources();
    const auto it = sources().constFind(name);
    if (it == sources().cend())
        return {};
    const QIcon fallback = it->bundled ? QIcon(QString::fromLatin1(it->bundled))
                                       : QApplication::style()->standardIcon(it->standard);
    if (!it->themeName)
        return fallback;
    return QIcon::fromTheme(QString::fromLatin1(it->themeName), fallback);
}

QIcon logo() {
    registerResources();
    return QIcon(QStringLiteral(":/logo.svg"));
}

} // namespace vocalith::Icons
