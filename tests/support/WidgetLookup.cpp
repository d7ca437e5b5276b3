#include "WidgetLookup.h"

#include <QApplication>
#include <QDropEvent>

namespace vocalith::test {

void dropFiles(QWidget* target, const QList<QUrl>& urls) {
    // What file managers send: the list of URLs, and the same URLs as plain text.
    QMimeData data;
    data.setUrls(urls);
    QStringList text;
    for (const QUrl& url : urls)
        text.append(url.toString());
    data.setText(text.join(u'\n'));
    const QPointF at(target->width() / 2.0, target->height() / 2.0);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
}

} // namespace vocalith::test
