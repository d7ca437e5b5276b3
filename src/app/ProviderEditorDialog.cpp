#include "ProviderEditorDialog.h"

#include "providers/ProviderHttp.h"
#include "providers/ProviderPresets.h"
#include "providers/ProviderStore.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vocalith {

ProviderEditorDialog::ProviderEditorDialog(ProviderStore& store,
                                           const std::optional<CustomProvider>& provider,
                                           QWidget* parent)
    : QDialog(parent)
    , m_store(store)
    , m_provider(provider)
    , m_name(new QLineEdit(this))
    , m_baseURL(new QLineEdit(this))
    , m_model(new QLineEdit(this))
    , m_apiKey(new QLineEdit(this))
    , m_keyNote(
          new QLabel(QStringLiteral("Not needed for a server on this computer or network"), this))
    , m_speakers(new QCheckBox(QStringLiteral("Identify speakers"), this))
    , m_confirm(new QPushButton(provider ? QStringLiteral("Save") : QStringLiteral("Add"), this)) {
    const QString heading =
        provider ? QStringLiteral("Edit Provider") : QStringLiteral("Add Provider");
    setWindowTitle(heading);
    setFixedSize(460, 460);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(16);
    auto* title = new QLabel(heading, this);
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.4);
    titleFont.setBold(true);
    title->setFont(titleFont);
    layout->addWidget(title);

    const ProviderPreset groq = ProviderPreset::groqWhisper();
    auto* fields = new QVBoxLayout;
    fields->setSpacing(12);
    const auto addField = [&](const QString& label, QLineEdit* edit, const QString& placeholder) {
        auto* field = new QVBoxLayout;
        field->setSpacing(4);
        auto* caption = new QLabel(label, this);
        caption->setForegroundRole(QPalette::PlaceholderText);
        caption->setBuddy(edit);
        field->addWidget(caption);
        edit->setPlaceholderText(placeholder);
        edit->setAccessibleName(label);
        field->addWidget(edit);
        fields->addLayout(field);
    };
    addField(QStringLiteral("Name"), m_name, QStringLiteral("Groq Whisper"));
    addField(QStringLiteral("Base URL"), m_baseURL, groq.baseURL);
    addField(QStringLiteral("Model"), m_model, QStringLiteral("whisper-large-v3"));
    addField(QStringLiteral("API Key"), m_apiKey,
             provider ? QStringLiteral("Leave blank to keep existing key")
                      : QStringLiteral("sk-..."));
    m_apiKey->setEchoMode(QLineEdit::Password);
    m_keyNote->setForegroundRole(QPalette::PlaceholderText);
    m_keyNote->setWordWrap(true);
    fields->addWidget(m_keyNote);
    m_speakers->setAccessibleName(m_speakers->text());
    m_speakers->setToolTip(
        QStringLiteral("Ask the server who spoke each segment, for servers that tell speakers "
                       "apart (models named \"diarize\", Mistral, diarizing Whisper servers)"));
    fields->addWidget(m_speakers);
    layout->addLayout(fields);

    auto* presets = new QVBoxLayout;
    presets->setSpacing(6);
    auto* presetsLabel = new QLabel(QStringLiteral("Quick presets:"), this);
    presetsLabel->setForegroundRole(QPalette::PlaceholderText);
    presets->addWidget(presetsLabel);
    auto* presetRow = new QHBoxLayout;
    for (const ProviderPreset& preset : {groq, ProviderPreset::openAIWhisper()}) {
        auto* button = new QPushButton(preset.name, this);
        button->setAccessibleName(preset.name);
        button->setAutoDefault(false);
        // A preset fills three fields and leaves the key alone.
        connect(button, &QPushButton::clicked, this, [this, preset] {
            m_name->setText(preset.name);
            m_baseURL->setText(preset.baseURL);
            m_model->setText(preset.model);
        });
        presetRow->addWidget(button);
    }
    presetRow->addStretch();
    presets->addLayout(presetRow);
    layout->addLayout(presets);
    layout->addStretch();

    auto* buttons = new QHBoxLayout;
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setAutoDefault(false);
    cancel->setAccessibleName(cancel->text());
    buttons->addWidget(cancel);
    buttons->addStretch();
    m_confirm->setDefault(true);
    m_confirm->setAccessibleName(m_confirm->text());
    buttons->addWidget(m_confirm);
    layout->addLayout(buttons);

    if (provider) {
        m_name->setText(provider->name);
        m_baseURL->setText(provider->baseURL);
        m_model->setText(provider->model);
        m_speakers->setChecked(provider->identifySpeakers);
    }
    for (QLineEdit* edit : {m_name, m_baseURL, m_model, m_apiKey})
        connect(edit, &QLineEdit::textChanged, this, &ProviderEditorDialog::updateConfirm);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_confirm, &QPushButton::clicked, this, &ProviderEditorDialog::confirm);
    updateConfirm();
}

void ProviderEditorDialog::updateConfirm() {
    // A server on the user's own machine or network may take requests without a key.
    const bool local = ProviderHttp::isLocalServer(m_baseURL->text());
    m_keyNote->setVisible(local);
    // Blanks count as filled: only truly empty fields keep the button off.
    m_confirm->setEnabled(!m_name->text().isEmpty() && !m_baseURL->text().isEmpty() &&
                          !m_model->text().isEmpty() &&
                          (m_provider || local || !m_apiKey->text().isEmpty()));
}

void ProviderEditorDialog::confirm() {
    if (!m_confirm->isEnabled())
        return;
    if (m_provider) {
        CustomProvider edited = *m_provider;
        edited.name = m_name->text();
        edited.baseURL = m_baseURL->text();
        edited.model = m_model->text();
        edited.identifySpeakers = m_speakers->isChecked();
        m_store.updateProvider(edited, m_apiKey->text().isEmpty()
                                           ? std::nullopt
                                           : std::optional<QString>(m_apiKey->text()));
    } else {
        m_store.addProvider(m_name->text(), m_baseURL->text(), m_model->text(), m_apiKey->text(),
                            m_speakers->isChecked());
    }
    accept();
}

} // namespace vocalith
