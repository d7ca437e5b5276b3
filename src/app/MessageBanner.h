#pragma once

#include <QFrame>

class QLabel;
class QPushButton;

namespace vocalith {

// The error box and the success banner of both tabs: an icon, a text, optional "Retry"
// and "Copy Error" buttons and a close button, on a tinted rounded background. Colours
// come from the palette, so text stays readable in light and dark themes.
class MessageBanner final : public QFrame {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MessageBanner)

public:
    enum class Kind { error, success, notice };

    MessageBanner(Kind kind, bool offersCopy, QWidget* parent = nullptr);

    void setText(const QString& text);
    // An error box can offer "Retry".
    void setRetryVisible(bool visible);
    QString text() const;

    QColor textColor() const;
    QColor backgroundColor() const { return m_background; }

Q_SIGNALS:
    void closeRequested();
    void copyRequested();
    void retryRequested();

protected:
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void applyColors();

    QColor m_tint;
    QColor m_background;
    QLabel* m_text;
    QPushButton* m_retry = nullptr;
};

} // namespace vocalith
