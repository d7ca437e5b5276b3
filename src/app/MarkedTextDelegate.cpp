#include "MarkedTextDelegate.h"

#include <QApplication>
#include <QPainter>
#include <QTextLayout>

namespace vocalith {

MarkedTextDelegate::MarkedTextDelegate(int marksRole, QObject* parent)
    : QStyledItemDelegate(parent)
    , m_marksRole(marksRole) {
}

void MarkedTextDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    const QString text = item.text;
    item.text.clear();
    QStyle* style = item.widget ? item.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &item, painter, item.widget);

    const bool selected = item.state & QStyle::State_Selected;
    QList<QTextLayout::FormatRange> formats;
    for (const auto& [start, length] :
         index.data(m_marksRole).value<QList<std::pair<int, int>>>()) {
        QTextCharFormat format;
        format.setFontWeight(QFont::Bold);
        // On a selected row the highlight is the row's own colour; the bold carries it.
        if (!selected) {
            format.setBackground(item.palette.brush(QPalette::Highlight));
            format.setForeground(item.palette.brush(QPalette::HighlightedText));
        }
        formats.append({start, length, format});
    }
    QTextLayout layout(text, item.font);
    layout.setFormats(formats);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    layout.endLayout();
    if (!line.isValid())
        return;
    const QRect area = style->subElementRect(QStyle::SE_ItemViewItemText, &item, item.widget)
                           .adjusted(2, 0, -2, 0);
    painter->save();
    painter->setClipRect(area);
    painter->setPen(item.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    layout.draw(painter, QPointF(area.left(), area.center().y() - line.height() / 2.0 + 1));
    painter->restore();
}

} // namespace vocalith
