#include "FileDrop.h"

#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QWidget>

namespace vocalith {

namespace {

class DropFilter final : public QObject {
public:
    DropFilter(QWidget* target, const QStringList& extensions,
               std::function<void(const QUrl&)> onDrop)
        : QObject(target)
        , m_extensions(extensions)
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
            if (const std::optional<QUrl> url = droppedFile(drop->mimeData(), m_extensions))
                m_onDrop(*url);
            return true;
        }
        default:
            return false;
        }
    }

private:
    QStringList m_extensions;
    std::function<void(const QUrl&)> m_onDrop;
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

void acceptFileDrops(QWidget* target, const QStringList& extensions,
                     std::function<void(const QUrl&)> onDrop) {
    target->setAcceptDrops(true);
    target->installEventFilter(new DropFilter(target, extensions, std::move(onDrop)));
}

} // namespace vocalith
