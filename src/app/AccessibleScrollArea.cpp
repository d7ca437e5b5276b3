#include "AccessibleScrollArea.h"

#include <QAbstractScrollArea>
#include <QAccessibleWidget>
#include <QScrollBar>

namespace vocalith {

namespace {

class AccessibleScrollArea final : public QAccessibleWidget {
public:
    explicit AccessibleScrollArea(QAbstractScrollArea* area)
        : QAccessibleWidget(area, QAccessible::Client) {}

    int childCount() const override { return int(parts().size()); }

    QAccessibleInterface* child(int index) const override {
        const QWidgetList list = parts();
        return index >= 0 && index < list.size()
                   ? QAccessible::queryAccessibleInterface(list[index])
                   : nullptr;
    }

    int indexOfChild(const QAccessibleInterface* child) const override {
        if (!child || !child->object() || !child->object()->isWidgetType())
            return -1;
        return int(parts().indexOf(static_cast<QWidget*>(child->object())));
    }

private:
    // What a screen reader sees of a scroll area, as Qt shows it: the viewport, the
    // scroll bars that are shown, and the corner widget.
    QWidgetList parts() const {
        const auto* area = static_cast<const QAbstractScrollArea*>(widget());
        QWidgetList list;
        if (QWidget* viewport = area->viewport())
            list.append(viewport);
        for (const QScrollBar* bar : {area->horizontalScrollBar(), area->verticalScrollBar()}) {
            if (bar && bar->isVisible())
                list.append(bar->parentWidget());
        }
        if (QWidget* corner = area->cornerWidget(); corner && corner->isVisible())
            list.append(corner);
        return list;
    }
};

QAccessibleInterface* scrollAreaInterface(const QString& className, QObject* object) {
    // Only the classes Qt itself answers with its scroll area interface; text edits and
    // item views have interfaces of their own.
    if (className != QLatin1String("QScrollArea") &&
        className != QLatin1String("QAbstractScrollArea"))
        return nullptr;
    auto* area = qobject_cast<QAbstractScrollArea*>(object);
    return area ? new AccessibleScrollArea(area) : nullptr;
}

} // namespace

void installAccessibleScrollAreas() {
    QAccessible::installFactory(scrollAreaInterface);
}

} // namespace vocalith
