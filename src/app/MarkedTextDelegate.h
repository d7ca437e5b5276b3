#pragma once

#include <QStyledItemDelegate>

namespace vocalith {

// Draws a cell's text with the ranges under a role (start and length pairs) in bold
// on the highlight colour: the words a search matched, among those around them.
class MarkedTextDelegate final : public QStyledItemDelegate {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MarkedTextDelegate)

public:
    MarkedTextDelegate(int marksRole, QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

private:
    int m_marksRole;
};

} // namespace vocalith
