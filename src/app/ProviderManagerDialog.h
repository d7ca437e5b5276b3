#pragma once

#include <QDialog>

class QStackedWidget;
class QVBoxLayout;

namespace vocalith {

struct CustomProvider;
class TranscriptionViewModel;

// "Manage Providers": the list of providers with add, edit and delete.
class ProviderManagerDialog final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ProviderManagerDialog)

public:
    explicit ProviderManagerDialog(TranscriptionViewModel& viewModel, QWidget* parent = nullptr);

    // Deletes at once, without asking; a deleted selected engine falls back to on-device.
    void deleteProvider(const CustomProvider& provider);
    // Opens a new editor: for a provider, or to add one.
    void openEditor(const std::optional<CustomProvider>& provider);

private:
    void rebuildRows();

    TranscriptionViewModel& m_vm;
    QStackedWidget* m_content;
    QVBoxLayout* m_rows;
};

} // namespace vocalith
