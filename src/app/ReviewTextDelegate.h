#pragma once

#include <QStyledItemDelegate>

class QTableView;
class QTextLayout;

namespace vocalith {

class ReviewModel;

// The review table's Text cells: the words the recogniser was unsure of underlined, and
// which character of a cell's text a point of the table falls on, so a click can play
// from the word under it.
class ReviewTextDelegate final : public QStyledItemDelegate {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ReviewTextDelegate)

public:
    explicit ReviewTextDelegate(const ReviewModel& model, QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    // The character of the cell's text under a point of the table's viewport, or -1.
    int characterAt(const QTableView& table, const QModelIndex& index, QPoint point) const;

private:
    // The cell's text laid out as it is drawn; where its first line starts.
    QPointF layOut(QTextLayout& layout, const QStyleOptionViewItem& option) const;

    const ReviewModel& m_model;
};

} // namespace vocalith
