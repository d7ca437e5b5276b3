#include "FileDrop.h"

#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QWidget>

namespace vocalith {

namespace {

class DropFilter final : public QObject {
public:
    DropFilter(QWidget* target, std::function<void(const QMimeData*)> onDrop)
        : QObject(target)
        , m_onDrop(std::move(onDrop)) {}

    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            // Other drags (dragged text) stay with the widget.
            auto* drag = static_cast<QDragMoveEvent*>(event);
            if (!drag->mimeData()->hasUrls())
                return false;
            drag->acceptProposedAction();
            return true;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            if (!drop->mimeData()->hasUrls())
                return false;
            drop->acceptProposedAction();
            m_onDrop(drop->mimeData());
            return true;
        }
        default:
            return false;
        }
    }

private:
    std::function<void(const QMimeData*)> m_onDrop;
};

} // namespace

std::optional<QUrl> droppedFile(const QMimeData* data, const QStringList& extensions) {
    if (!data || !data->hasUrls() || data->urls().isEmpty())
        return std::nullopt;
    const QUrl url = data->urls().first();
    if (!url.isLocalFile())
        return std::nullopt;
    const QFileInfo info(url.toLocalFile());
    if (info.isDir() || !extensions.contains(info.suffix().toLower()))
        return std::nullopt;
    return url;
}

QStringList droppedPaths(const QMimeData* data, const QStringList& extensions) {
    QStringList paths;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    }
    if (paths.size() == 1) {
        const QFileInfo info(paths.first());
        if (!info.isDir() && !extensions.contains(info.suffix().toLower()))
            return {};
    }
    return paths;
}

void acceptDrops(QWidget* target, std::function<void(const QMimeData*)> onDrop) {
    target->setAcceptDrops(true);
    target->installEventFilter(new DropFilter(target, std::move(onDrop)));
}

void acceptFileDrops(QWidget* target, const QStringList& extensions,
                     std::function<void(const QUrl&)> onDrop) {
    acceptDrops(target, [extensions, onDrop = std::move(onDrop)](const QMimeData* data) {
        if (const std::optional<QUrl> url = droppedFile(data, extensions))
            onDrop(*url);
    });
}

} // namespace vocalith
