#include "MessageBanner.h"

#include "app/Contrast.h"
#include "app/Icons.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

namespace vocalith {

MessageBanner::MessageBanner(Kind kind, bool offersCopy, QWidget* parent)
    : QFrame(parent)
    , m_tint(kind == Kind::error     ? QColor(220, 38, 38)
             : kind == Kind::success ? QColor(22, 163, 74)
                                     : QColor(71, 85, 105))
    , m_text(new QLabel(this)) {
    const bool error = kind == Kind::error;
    const bool notice = kind == Kind::notice;
    setObjectName(error    ? QStringLiteral("errorBox")
                  : notice ? QStringLiteral("noticeBanner")
                           : QStringLiteral("successBanner"));

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(8);
    auto* icon = new QLabel(this);
    icon->setPixmap(Icons::get(error    ? QStringLiteral("exclamationmark.triangle.fill")
                               : notice ? QStringLiteral("info.circle")
                                        : QStringLiteral("checkmark.circle.fill"))
                        .pixmap(18, 18));
    layout->addWidget(icon, 0, Qt::AlignTop);

    // Server and file text is shown as it is, never as markup.
    m_text->setTextFormat(Qt::PlainText);
    m_text->setWordWrap(true);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_text->setAccessibleDescription(error    ? QStringLiteral("Error message")
                                     : notice ? QStringLiteral("Notice")
                                              : QStringLiteral("Success message"));
    if (kind == Kind::success) {
        QFont font = m_text->font();
        font.setWeight(QFont::Medium);
        m_text->setFont(font);
    }
    // Long errors stay within four lines; "Copy Error" and the accessible text have it all.
    if (error)
        m_text->setMaximumHeight(m_text->fontMetrics().lineSpacing() * 4);
    layout->addWidget(m_text, 1);

    if (offersCopy) {
        // Shown when the failed job was kept and can go on where it stopped.
        m_retry = new QPushButton(Icons::get(QStringLiteral("arrow.clockwise")),
                                  QStringLiteral("Retry"), this);
        m_retry->setFlat(true);
        m_retry->setAccessibleName(m_retry->text());
        m_retry->hide();
        connect(m_retry, &QPushButton::clicked, this, &MessageBanner::retryRequested);
        layout->addWidget(m_retry, 0, Qt::AlignTop);
        auto* copy = new QPushButton(Icons::get(QStringLiteral("doc.on.doc")),
                                     QStringLiteral("Copy Error"), this);
        copy->setFlat(true);
        copy->setAccessibleName(copy->text());
        connect(copy, &QPushButton::clicked, this, &MessageBanner::copyRequested);
        layout->addWidget(copy, 0, Qt::AlignTop);
    }
    auto* close = new QPushButton(Icons::get(QStringLiteral("xmark.circle.fill")), QString(), this);
    close->setFlat(true);
    close->setAccessibleName(error    ? QStringLiteral("Close error")
                             : notice ? QStringLiteral("Close notice")
                                      : QStringLiteral("Close banner"));
    close->setToolTip(QStringLiteral("Close"));
    connect(close, &QPushButton::clicked, this, &MessageBanner::closeRequested);
    layout->addWidget(close, 0, Qt::AlignTop);
    applyColors();
}

void MessageBanner::setRetryVisible(bool visible) {
    if (m_retry)
        m_retry->setVisible(visible);
}

void MessageBanner::setText(const QString& text) {
    m_text->setText(text);
    m_text->setToolTip(text.size() > 200 ? text : QString());
}

QString MessageBanner::text() const {
    return m_text->text();
}

QColor MessageBanner::textColor() const {
    return m_text->palette().color(QPalette::WindowText);
}

void MessageBanner::changeEvent(QEvent* event) {
    QFrame::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyColors();
}

void MessageBanner::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_background);
    painter.drawRoundedRect(rect(), 8, 8);
}

void MessageBanner::applyColors() {
    m_background = Contrast::wash(m_tint, palette().color(QPalette::Window));
    QPalette textPalette = m_text->palette();
    textPalette.setColor(QPalette::WindowText, Contrast::readableTint(m_tint, m_background));
    m_text->setPalette(textPalette);
    update();
}

} // namespace vocalith
