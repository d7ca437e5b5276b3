#pragma once

#include <QLabel>

namespace vocalith {

// A one-line plain-text label that shortens a long text in the middle with "…",
// keeping the start and the extension of a file name in view. The full text is its
// tooltip and what a screen reader reads.
class ElidedLabel final : public QLabel {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ElidedLabel)

public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    void setFullText(const QString& text);
    QString fullText() const { return m_fullText; }

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void elide();

    QString m_fullText;
};

} // namespace vocalith
