#include "ProgressLine.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include <cmath>

namespace vocalith {

namespace {
constexpr int steps = 1000;
}

ProgressLine::ProgressLine(QWidget* parent)
    : QWidget(parent)
    , m_bar(new QProgressBar(this))
    , m_status(new QLabel(this))
    , m_timeLeft(new QLabel(this))
    , m_percent(new QLabel(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    m_bar->setRange(0, steps);
    m_bar->setTextVisible(false);
    m_bar->setAccessibleName(QStringLiteral("Progress"));
    layout->addWidget(m_bar);

    auto* row = new QHBoxLayout;
    for (QLabel* label : {m_status, m_timeLeft, m_percent}) {
        label->setForegroundRole(QPalette::PlaceholderText);
        QFont font = label->font();
        font.setPointSizeF(font.pointSizeF() * 0.85);
        label->setFont(font);
    }
    // A screen reader reads the text itself; the description says what it is.
    m_status->setTextFormat(Qt::PlainText);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setAccessibleDescription(QStringLiteral("Status"));
    m_timeLeft->setObjectName(QStringLiteral("timeLeft"));
    m_timeLeft->setAccessibleDescription(QStringLiteral("Time left"));
    m_timeLeft->hide();
    m_percent->setObjectName(QStringLiteral("percent"));
    m_percent->setAccessibleDescription(QStringLiteral("Percent complete"));
    row->addWidget(m_status, 1);
    row->addWidget(m_timeLeft);
    row->addWidget(m_percent);
    layout->addLayout(row);
}

void ProgressLine::setProgress(double fraction, const QString& status, const QString& timeLeft) {
    m_bar->setValue(static_cast<int>(std::clamp(fraction, 0.0, 1.0) * steps));
    m_status->setText(status);
    m_timeLeft->setText(timeLeft);
    m_timeLeft->setVisible(!timeLeft.isEmpty());
    m_percent->setText(percentText(fraction));
}

QString ProgressLine::percentText(double fraction) {
    // 0.35 * 100 is 34.999...: a small tolerance keeps the intended whole percent.
    return QString::number(static_cast<int>(fraction * 100.0 + 1e-6)) + QLatin1Char('%');
}

} // namespace vocalith
