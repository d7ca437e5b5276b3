#include "ProviderManagerDialog.h"

#include "app/Icons.h"
#include "app/ProviderEditorDialog.h"
#include "providers/ProviderStore.h"
#include "transcription/TranscriptionViewModel.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace vocalith {

namespace {

QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QLabel* secondaryLabel(const QString& text, double scale, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText); // names and URLs are the user's text
    label->setForegroundRole(QPalette::PlaceholderText);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * scale);
    label->setFont(font);
    return label;
}

} // namespace

ProviderManagerDialog::ProviderManagerDialog(TranscriptionViewModel& viewModel, QWidget* parent)
    : QDialog(parent)
    , m_vm(viewModel)
    , m_content(new QStackedWidget(this)) {
    setWindowTitle(QStringLiteral("Manage Providers"));
    setFixedSize(560, 440);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(16, 12, 16, 12);
    auto* title = new QLabel(QStringLiteral("Manage Providers"), this);
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.4);
    titleFont.setBold(true);
    title->setFont(titleFont);
    header->addWidget(title);
    header->addStretch();
    auto* add =
        new QPushButton(Icons::get(QStringLiteral("plus")), QStringLiteral("Add Provider"), this);
    add->setAccessibleName(add->text());
    connect(add, &QPushButton::clicked, this, [this] { openEditor(std::nullopt); });
    header->addWidget(add);
    layout->addLayout(header);
    layout->addWidget(divider(this));

    auto* empty = new QWidget(m_content);
    auto* emptyLayout = new QVBoxLayout(empty);
    emptyLayout->setSpacing(12);
    emptyLayout->addStretch();
    auto* cloud = new QLabel(empty);
    cloud->setPixmap(Icons::get(QStringLiteral("cloud")).pixmap(40, 40));
    cloud->setAlignment(Qt::AlignCenter);
    emptyLayout->addWidget(cloud);
    auto* none = secondaryLabel(QStringLiteral("No custom providers yet"), 1.0, empty);
    none->setAlignment(Qt::AlignCenter);
    emptyLayout->addWidget(none);
    auto* explain = secondaryLabel(
        QStringLiteral("Add an OpenAI-compatible provider like Groq (Whisper) or OpenAI."), 0.85,
        empty);
    explain->setAlignment(Qt::AlignCenter);
    explain->setWordWrap(true);
    // A wrapped label placed with an alignment gets no height for its width; margins
    // keep it narrow instead.
    emptyLayout->setContentsMargins(80, 12, 80, 12);
    emptyLayout->addWidget(explain);
    emptyLayout->addStretch();
    m_content->addWidget(empty);

    auto* scroll = new QScrollArea(m_content);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* list = new QWidget(scroll);
    m_rows = new QVBoxLayout(list);
    m_rows->setSpacing(8);
    scroll->setWidget(list);
    m_content->addWidget(scroll);
    layout->addWidget(m_content, 1);
    layout->addWidget(divider(this));

    auto* footer = new QHBoxLayout;
    footer->setContentsMargins(16, 12, 16, 12);
    footer->addStretch();
    auto* done = new QPushButton(QStringLiteral("Done"), this);
    done->setDefault(true);
    done->setAccessibleName(done->text());
    connect(done, &QPushButton::clicked, this, &QDialog::accept);
    footer->addWidget(done);
    layout->addLayout(footer);

    connect(&m_vm.providerStore(), &ProviderStore::providersChanged, this,
            &ProviderManagerDialog::rebuildRows);
    rebuildRows();
}

void ProviderManagerDialog::rebuildRows() {
    while (QLayoutItem* item = m_rows->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const QList<CustomProvider>& providers = m_vm.providerStore().providers();
    m_content->setCurrentIndex(providers.isEmpty() ? 0 : 1);
    for (const CustomProvider& provider : providers) {
        auto* row = new QFrame;
        row->setAutoFillBackground(true);
        row->setBackgroundRole(QPalette::Base);
        row->setAccessibleName(provider.name);
        auto* rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(12, 12, 12, 12);
        rowLayout->setSpacing(12);
        auto* icon = new QLabel(row);
        icon->setPixmap(Icons::get(QStringLiteral("cloud.fill")).pixmap(20, 20));
        rowLayout->addWidget(icon);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(2);
        auto* name = new QLabel(provider.name, row);
        name->setTextFormat(Qt::PlainText);
        QFont bold = name->font();
        bold.setBold(true);
        name->setFont(bold);
        texts->addWidget(name);
        texts->addWidget(secondaryLabel(provider.model, 0.85, row));
        texts->addWidget(secondaryLabel(provider.baseURL, 0.75, row));
        rowLayout->addLayout(texts, 1);
        auto* edit = new QPushButton(Icons::get(QStringLiteral("pencil")), QString(), row);
        edit->setFlat(true);
        edit->setAccessibleName(QStringLiteral("Edit ") + provider.name);
        edit->setToolTip(QStringLiteral("Edit"));
        connect(edit, &QPushButton::clicked, this, [this, provider] { openEditor(provider); });
        rowLayout->addWidget(edit);
        auto* remove = new QPushButton(Icons::get(QStringLiteral("trash")), QString(), row);
        remove->setFlat(true);
        remove->setAccessibleName(QStringLiteral("Delete ") + provider.name);
        remove->setToolTip(QStringLiteral("Delete"));
        // Queued: the row that holds the button goes away with the list.
        connect(remove, &QPushButton::clicked, this, [this, provider] {
            QMetaObject::invokeMethod(
                this, [this, provider] { deleteProvider(provider); }, Qt::QueuedConnection);
        });
        rowLayout->addWidget(remove);
        m_rows->addWidget(row);
    }
    m_rows->addStretch();
}

void ProviderManagerDialog::deleteProvider(const CustomProvider& provider) {
    m_vm.deleteProvider(provider);
}

void ProviderManagerDialog::openEditor(const std::optional<CustomProvider>& provider) {
    auto* editor = new ProviderEditorDialog(m_vm.providerStore(), provider, this);
    editor->setAttribute(Qt::WA_DeleteOnClose);
    editor->open();
}

} // namespace vocalith
