#include "TranslationView.h"

#include "app/CancelButton.h"
#include "app/DashedFrame.h"
#include "app/ElidedLabel.h"
#include "app/FileDrop.h"
#include "app/Icons.h"
#include "app/MessageBanner.h"
#include "app/ProgressLine.h"
#include "app/ScrollingPage.h"
#include "core/TextTrimming.h"
#include "providers/ProviderStore.h"
#include "transcription/TranscriptionViewModel.h"
#include "translation/TranslationViewModel.h"

#include <QClipboard>
#include <QComboBox>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vocalith {

namespace {

QLabel* secondaryLabel(const QString& text, QWidget* parent, QWidget* buddy = nullptr) {
    auto* label = new QLabel(text, parent);
    label->setForegroundRole(QPalette::PlaceholderText);
    label->setBuddy(buddy); // a screen reader names the control after its label
    return label;
}

QLabel* headline(const QString& iconName, const QString& text, QWidget* parent, QHBoxLayout* row) {
    auto* icon = new QLabel(parent);
    icon->setPixmap(Icons::get(iconName).pixmap(16, 16));
    row->addWidget(icon);
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    row->addWidget(label);
    return label;
}

} // namespace

TranslationView::TranslationView(TranscriptionViewModel& transcribeVM, KeyStore& keyStore,
                                 FileDialogs& dialogs, QWidget* parent)
    : QWidget(parent)
    , m_transcribeVM(transcribeVM)
    , m_vm(std::make_unique<TranslationViewModel>(keyStore, dialogs))
    , m_providers(new QComboBox(this))
    , m_languages(new QComboBox(this))
    , m_error(new MessageBanner(MessageBanner::Kind::error, true, this))
    , m_banner(new MessageBanner(MessageBanner::Kind::success, false, this))
    , m_notice(new MessageBanner(MessageBanner::Kind::notice, false, this))
    , m_progress(new ProgressLine(this))
    , m_output(new QWidget(this))
    , m_outputText(new QPlainTextEdit(this)) {
    const QStringList extensions{QStringLiteral("txt"), QStringLiteral("srt")};
    const auto load = [this](const QUrl& url) { m_vm->loadFile(url); };
    acceptFileDrops(this, extensions, load);
    QVBoxLayout* layout = scrollingPage(this);

    auto* selection = new QHBoxLayout;
    selection->addWidget(secondaryLabel(QStringLiteral("Provider:"), this, m_providers));
    m_providers->setFixedWidth(180);
    m_providers->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_providers->setAccessibleName(QStringLiteral("Provider"));
    selection->addWidget(m_providers);
    auto* separator = new QFrame(this);
    separator->setFrameShape(QFrame::VLine);
    separator->setFixedHeight(22);
    selection->addWidget(separator);
    selection->addWidget(secondaryLabel(QStringLiteral("Translate to:"), this, m_languages));
    m_languages->setFixedWidth(180);
    m_languages->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_languages->setAccessibleName(QStringLiteral("Target language"));
    m_languages->addItems(TranslationViewModel::targetLanguages());
    selection->addWidget(m_languages);
    selection->addStretch();
    layout->addLayout(selection);
    m_speechModelHint = secondaryLabel(
        QStringLiteral("This provider's model transcribes speech. To translate, add a provider "
                       "with a chat model (for example llama-3.3-70b-versatile on Groq, "
                       "gpt-4o-mini on OpenAI)."),
        this);
    m_speechModelHint->setWordWrap(true);
    m_speechModelHint->setTextFormat(Qt::PlainText);
    m_speechModelHint->setObjectName(QStringLiteral("speechModelHint"));
    layout->addWidget(m_speechModelHint);

    auto* inputHeader = new QHBoxLayout;
    headline(QStringLiteral("doc.text"), QStringLiteral("Input"), this, inputHeader);
    m_fileName = new ElidedLabel(this);
    m_fileName->setForegroundRole(QPalette::PlaceholderText);
    m_fileName->setObjectName(QStringLiteral("inputFile"));
    m_fileName->setAccessibleDescription(QStringLiteral("Input file"));
    inputHeader->addWidget(m_fileName);
    m_badge = new QLabel(this);
    m_badge->setStyleSheet(QStringLiteral("QLabel { color: palette(highlight); font-weight: 600; "
                                          "padding: 2px 6px; border-radius: 8px; "
                                          "background: rgba(59, 111, 216, 38); }"));
    m_badge->setAccessibleName(QStringLiteral("Input format"));
    inputHeader->addWidget(m_badge);
    m_clear = new QPushButton(Icons::get(QStringLiteral("xmark.circle.fill")), QString(), this);
    m_clear->setFlat(true);
    m_clear->setAccessibleName(QStringLiteral("Clear input"));
    m_clear->setToolTip(QStringLiteral("Clear input"));
    inputHeader->addWidget(m_clear);
    inputHeader->addStretch();
    m_open = new QPushButton(QStringLiteral("Open File…"), this);
    m_open->setAccessibleName(m_open->text());
    inputHeader->addWidget(m_open);
    layout->addLayout(inputHeader);

    auto* hint = new DashedFrame(10, this);
    hint->setMinimumHeight(80);
    auto* hintLayout = new QVBoxLayout(hint);
    hintLayout->setSpacing(10);
    auto* hintIcon = new QLabel(hint);
    hintIcon->setPixmap(Icons::get(QStringLiteral("arrow.down.doc")).pixmap(36, 36));
    hintIcon->setAlignment(Qt::AlignCenter);
    hintLayout->addWidget(hintIcon);
    for (const QString& text : {QStringLiteral("Drag & drop a .txt or .srt file here"),
                                QStringLiteral("or paste text directly below")}) {
        auto* label = secondaryLabel(text, hint);
        label->setAlignment(Qt::AlignCenter);
        hintLayout->addWidget(label);
    }
    m_dropHint = hint;
    layout->addWidget(hint);

    m_input = new QPlainTextEdit(this);
    m_input->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_input->setMinimumHeight(120);
    m_input->setMaximumHeight(200);
    m_input->setAccessibleName(QStringLiteral("Input text"));
    m_input->setTabChangesFocus(true);
    // The editor would paste a dropped file's address; the file is loaded instead.
    acceptFileDrops(m_input->viewport(), extensions, load);
    layout->addWidget(m_input);

    auto* instructionsRow = new QHBoxLayout;
    m_instructions = new QLineEdit(this);
    instructionsRow->addWidget(
        secondaryLabel(QStringLiteral("Instructions:"), this, m_instructions));
    m_instructions->setPlaceholderText(QStringLiteral("Names, terms, tone — optional"));
    m_instructions->setAccessibleName(QStringLiteral("Instructions"));
    instructionsRow->addWidget(m_instructions, 1);
    layout->addLayout(instructionsRow);

    auto* translateRow = new QHBoxLayout;
    m_translate = new QPushButton(this);
    m_translate->setMinimumHeight(m_translate->sizeHint().height() + 12);
    m_translate->setDefault(true);
    translateRow->addWidget(m_translate, 1);
    m_cancel = cancelButton(m_translate->minimumHeight(), this);
    translateRow->addWidget(m_cancel);
    layout->addLayout(translateRow);

    layout->addWidget(m_error);
    layout->addWidget(m_banner);
    m_banner->setText(QStringLiteral("Translation complete!"));
    layout->addWidget(m_notice);
    layout->addWidget(m_progress);

    auto* outputLayout = new QVBoxLayout(m_output);
    outputLayout->setContentsMargins(0, 0, 0, 0);
    auto* outputHeader = new QHBoxLayout;
    headline(QStringLiteral("text.bubble.fill"), QStringLiteral("Translation"), m_output,
             outputHeader);
    outputHeader->addStretch();
    auto* save = new QPushButton(QStringLiteral("Save…"), m_output);
    auto* copy = new QPushButton(QStringLiteral("Copy"), m_output);
    save->setAccessibleName(save->text());
    copy->setAccessibleName(copy->text());
    outputHeader->addWidget(save);
    outputHeader->addWidget(copy);
    outputLayout->addLayout(outputHeader);
    m_outputText->setReadOnly(true);
    m_outputText->setMaximumHeight(260);
    m_outputText->setAccessibleName(QStringLiteral("Translated text"));
    outputLayout->addWidget(m_outputText);
    layout->addWidget(m_output);
    layout->addStretch();

    TranslationViewModel& vm = *m_vm;
    connect(m_providers, &QComboBox::activated, this, [this](int index) {
        const QList<CustomProvider>& providers = m_transcribeVM.providerStore().providers();
        m_vm->setSelectedProvider(index > 0 && index <= providers.size()
                                      ? std::optional(providers[index - 1])
                                      : std::nullopt);
    });
    connect(m_languages, &QComboBox::activated, this, [this](int index) {
        m_vm->setTargetLanguage(TranslationViewModel::targetLanguages().value(index));
    });
    // Only the user's edits go back: the editor's own copy turns no-break spaces,
    // U+2028 and CR into other characters, and the loaded text must be sent as it is.
    connect(m_input, &QPlainTextEdit::textChanged, this, [this] {
        m_shownInput = m_input->toPlainText();
        m_vm->setInputText(m_shownInput);
    });
    connect(m_instructions, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_vm->setInstructions(text); });
    connect(m_open, &QPushButton::clicked, this, [&vm] { vm.openFilePanel(); });
    connect(m_clear, &QPushButton::clicked, this, [&vm] { vm.clearInput(); });
    connect(m_translate, &QPushButton::clicked, this, [&vm] { vm.startTranslation(); });
    connect(m_cancel, &QPushButton::clicked, this, [&vm] { vm.cancelTranslation(); });
    connect(m_notice, &MessageBanner::closeRequested, this,
            [&vm] { vm.setNoticeMessage(std::nullopt); });
    connect(m_error, &MessageBanner::closeRequested, this,
            [&vm] { vm.setErrorMessage(std::nullopt); });
    connect(m_error, &MessageBanner::retryRequested, this, [&vm] { vm.retryTranslation(); });
    connect(m_error, &MessageBanner::copyRequested, this, [&vm] {
        QGuiApplication::clipboard()->setText(vm.errorMessage().value_or(QString()));
    });
    connect(m_banner, &MessageBanner::closeRequested, this,
            [&vm] { vm.setShowSuccessBanner(false); });
    connect(save, &QPushButton::clicked, this, [&vm] { vm.saveTranslation(); });
    connect(copy, &QPushButton::clicked, this,
            [&vm] { QGuiApplication::clipboard()->setText(vm.outputText()); });

    for (auto signal :
         {&TranslationViewModel::inputTextChanged, &TranslationViewModel::inputFileURLChanged,
          &TranslationViewModel::detectedFormatChanged,
          &TranslationViewModel::targetLanguageChanged,
          &TranslationViewModel::selectedProviderChanged, &TranslationViewModel::outputTextChanged,
          &TranslationViewModel::isTranslatingChanged, &TranslationViewModel::progressChanged,
          &TranslationViewModel::statusMessageChanged, &TranslationViewModel::errorMessageChanged,
          &TranslationViewModel::canRetryChanged, &TranslationViewModel::showSuccessBannerChanged,
          &TranslationViewModel::noticeMessageChanged})
        connect(m_vm.get(), signal, this, &TranslationView::refresh);
    connect(&m_transcribeVM, &TranscriptionViewModel::availableEnginesChanged, this, [this] {
        keepSelectionValid();
        buildProviders();
    });
    // Tab follows what the eye reads, top to bottom.
    const QList<QWidget*> order{m_providers,    m_languages, m_clear,  m_open,      m_input,
                                m_instructions, m_translate, m_cancel, m_error,     m_banner,
                                m_notice,       save,        copy,     m_outputText};
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
    buildProviders();
}

TranslationView::~TranslationView() = default;

void TranslationView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    m_vm->setProviderStore(&m_transcribeVM.providerStore());
    const QList<CustomProvider>& providers = m_transcribeVM.providerStore().providers();
    if (!m_vm->selectedProvider() && !providers.isEmpty())
        m_vm->setSelectedProvider(providers.first());
}

void TranslationView::keepSelectionValid() {
    const std::optional<CustomProvider> selected = m_vm->selectedProvider();
    if (!selected)
        return;
    const QList<CustomProvider>& providers = m_transcribeVM.providerStore().providers();
    const bool stillThere =
        std::any_of(providers.cbegin(), providers.cend(),
                    [&](const CustomProvider& p) { return p.id == selected->id; });
    if (!stillThere)
        m_vm->setSelectedProvider(providers.isEmpty() ? std::nullopt
                                                      : std::optional(providers.first()));
}

void TranslationView::buildProviders() {
    m_providers->clear();
    m_providers->addItem(QStringLiteral("None"));
    for (const CustomProvider& provider : m_transcribeVM.providerStore().providers())
        m_providers->addItem(provider.name);
    refresh();
}

void TranslationView::refresh() {
    const TranslationViewModel& vm = *m_vm;
    const bool busy = vm.isTranslating();
    int selected = 0;
    if (vm.selectedProvider()) {
        const QList<CustomProvider>& providers = m_transcribeVM.providerStore().providers();
        for (qsizetype i = 0; i < providers.size() && selected == 0; ++i)
            selected = providers[i].id == vm.selectedProvider()->id ? int(i) + 1 : 0;
    }
    m_providers->setCurrentIndex(selected);
    m_providers->setEnabled(!busy);
    m_speechModelHint->setVisible(vm.selectedProviderTranscribesSpeech());
    m_languages->setCurrentIndex(
        int(TranslationViewModel::targetLanguages().indexOf(vm.targetLanguage())));
    m_languages->setEnabled(!busy);

    const bool hasFile = !vm.inputFileURL().isEmpty();
    const bool srt = vm.detectedFormat() == TranslationService::InputFormat::srt;
    m_fileName->setVisible(hasFile);
    m_fileName->setFullText(QLatin1Char('(') + vm.inputFileURL().fileName() + QLatin1Char(')'));
    m_badge->setVisible(hasFile);
    m_badge->setText(srt ? QStringLiteral("SRT") : QStringLiteral("TXT"));
    m_clear->setVisible(hasFile);
    m_open->setVisible(!hasFile);
    m_dropHint->setVisible(!hasFile && vm.inputText().isEmpty());
    if (m_shownInput != vm.inputText()) {
        const QSignalBlocker quiet(m_input);
        m_input->setPlainText(vm.inputText());
        m_shownInput = vm.inputText();
    }
    m_input->setEnabled(!busy);

    m_translate->setText(busy ? QStringLiteral("Translating…") : QStringLiteral("Translate"));
    m_translate->setIcon(Icons::get(busy ? QStringLiteral("hourglass") : QStringLiteral("globe")));
    m_translate->setAccessibleName(m_translate->text());
    m_translate->setEnabled(!busy && !trimmedWhiteSpaceAndLineBreaks(vm.inputText()).isEmpty() &&
                            vm.selectedProvider().has_value());

    m_error->setVisible(vm.errorMessage().has_value());
    m_error->setText(vm.errorMessage().value_or(QString()));
    m_error->setRetryVisible(vm.canRetry());
    m_banner->setVisible(vm.showSuccessBanner());
    m_notice->setVisible(vm.noticeMessage().has_value());
    m_notice->setText(vm.noticeMessage().value_or(QString()));
    m_cancel->setVisible(busy);
    m_progress->setVisible(busy || vm.progress() > 0.0);
    m_progress->setProgress(vm.progress(), vm.statusMessage());
    m_output->setVisible(!vm.outputText().isEmpty());
    m_outputText->setFont(srt ? QFontDatabase::systemFont(QFontDatabase::FixedFont)
                              : QFontDatabase::systemFont(QFontDatabase::GeneralFont));
    if (m_outputText->toPlainText() != vm.outputText())
        m_outputText->setPlainText(vm.outputText());
}

} // namespace vocalith
