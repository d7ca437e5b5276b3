#include "ReviewTextDelegate.h"

#include "review/ReviewModel.h"

#include <QApplication>
#include <QPainter>
#include <QTableView>
#include <QTextLayout>

namespace vocalith {

ReviewTextDelegate::ReviewTextDelegate(const ReviewModel& model, QObject* parent)
    : QStyledItemDelegate(parent)
    , m_model(model) {
}

QPointF ReviewTextDelegate::layOut(QTextLayout& layout, const QStyleOptionViewItem& option) const {
    const QWidget* widget = option.widget;
    const QStyle* style = widget ? widget->style() : QApplication::style();
    // The margin the style keeps round an item's text.
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    const QRect area = style->subElementRect(QStyle::SE_ItemViewItemText, &option, widget)
                           .adjusted(margin, 0, -margin, 0);
    layout.setText(option.text);
    layout.setFont(option.font);
    QTextOption textOption(option.displayAlignment);
    textOption.setWrapMode(option.features & QStyleOptionViewItem::WrapText
                               ? QTextOption::WrapAtWordBoundaryOrAnywhere
                               : QTextOption::ManualWrap);
    textOption.setTextDirection(option.direction);
    layout.setTextOption(textOption);
    qreal height = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(area.width());
        line.setPosition({0, height});
        height += line.height();
    }
    layout.endLayout();
    const qreal top = option.displayAlignment & Qt::AlignTop      ? area.top()
                      : option.displayAlignment & Qt::AlignBottom ? area.bottom() - height
                                                                  : area.center().y() - height / 2;
    return {qreal(area.left()), top};
}

void ReviewTextDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    QTextLayout layout;
    QList<QTextLayout::FormatRange> underlined;
    for (const auto& [start, length] : m_model.doubtfulSpans(index.row())) {
        QTextLayout::FormatRange range{int(start), int(length), {}};
        range.format.setFontUnderline(true);
        underlined.append(range);
    }
    layout.setFormats(underlined);
    const QPointF origin = layOut(layout, item);

    // The cell as the style draws it, but for the text.
    item.text.clear();
    const QWidget* widget = item.widget;
    const QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);
    const QPalette::ColorGroup group = !(item.state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : item.state & QStyle::State_Active   ? QPalette::Normal
                                                                             : QPalette::Inactive;
    painter->save();
    painter->setPen(item.palette.color(
        group, item.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text));
    painter->setClipRect(item.rect);
    layout.draw(painter, origin);
    painter->restore();
}

int ReviewTextDelegate::characterAt(const QTableView& table, const QModelIndex& index,
                                    QPoint point) const {
    // The options the table paints the cell with.
    QStyleOptionViewItem item;
    item.initFrom(table.viewport());
    item.widget = &table;
    item.rect = table.visualRect(index);
    item.font = table.font();
    item.displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    if (table.wordWrap())
        item.features |= QStyleOptionViewItem::WrapText;
    initStyleOption(&item, index);
    if (!item.rect.contains(point))
        return -1;
    QTextLayout layout;
    const QPointF at = QPointF(point) - layOut(layout, item);
    for (int i = 0; i < layout.lineCount(); ++i) {
        const QTextLine line = layout.lineAt(i);
        if (at.y() < line.y() + line.height() || i + 1 == layout.lineCount())
            return line.xToCursor(at.x(), QTextLine::CursorOnCharacter);
    }
    return -1;
}

} // namespace vocalith
