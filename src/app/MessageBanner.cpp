#include "MessageBanner.h"

#include "app/Icons.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace vocalith {

MessageBanner::MessageBanner(Kind kind, bool offersCopy, QWidget* parent)
    : QFrame(parent)
    , m_text(new QLabel(this)) {
    const bool error = kind == Kind::error;
    const QColor tint = error ? QColor(220, 38, 38) : QColor(22, 163, 74);
    setObjectName(error ? QStringLiteral("errorBox") : QStringLiteral("successBanner"));
    setStyleSheet(QStringLiteral("#%1 { background: rgba(%2, %3, %4, 26); border-radius: 8px; }")
                      .arg(objectName())
                      .arg(tint.red())
                      .arg(tint.green())
                      .arg(tint.blue()));

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(8);
    auto* icon = new QLabel(this);
    icon->setPixmap(Icons::get(error ? QStringLiteral("exclamationmark.triangle.fill")
                                     : QStringLiteral("checkmark.circle.fill"))
                        .pixmap(18, 18));
    layout->addWidget(icon);

    m_text->setWordWrap(true);
    if (error) // long errors stay within four lines; the copy button has the whole text
        m_text->setMaximumHeight(m_text->fontMetrics().lineSpacing() * 4);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_text->setStyleSheet(
        QStringLiteral("color: %1;%2")
            .arg(tint.name(), error ? QString() : QStringLiteral(" font-weight: 500;")));
    m_text->setAccessibleName(error ? QStringLiteral("Error message")
                                    : QStringLiteral("Success message"));
    layout->addWidget(m_text, 1);

    if (offersCopy) {
        auto* copy = new QPushButton(Icons::get(QStringLiteral("doc.on.doc")),
                                     QStringLiteral("Copy Error"), this);
        copy->setFlat(true);
        copy->setAccessibleName(copy->text());
        connect(copy, &QPushButton::clicked, this, &MessageBanner::copyRequested);
        layout->addWidget(copy);
    }
    auto* close = new QPushButton(Icons::get(QStringLiteral("xmark.circle.fill")), QString(), this);
    close->setFlat(true);
    close->setAccessibleName(error ? QStringLiteral("Close error")
                                   : QStringLiteral("Close banner"));
    close->setToolTip(QStringLiteral("Close"));
    connect(close, &QPushButton::clicked, this, &MessageBanner::closeRequested);
    layout->addWidget(close);
}

void MessageBanner::setText(const QString& text) {
    m_text->setText(text);
}

QString MessageBanner::text() const {
    return m_text->text();
}

} // namespace vocalith
