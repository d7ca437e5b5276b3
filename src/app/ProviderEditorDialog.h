#pragma once

#include "providers/CustomProvider.h"

#include <QDialog>

#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vocalith {

class ProviderStore;

// "Add Provider" or "Edit Provider": name, base URL, model, API key and whether to ask
// for speakers, with presets.
class ProviderEditorDialog final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ProviderEditorDialog)

public:
    ProviderEditorDialog(ProviderStore& store, const std::optional<CustomProvider>& provider,
                         QWidget* parent = nullptr);

    QLineEdit* nameField() const { return m_name; }
    QLineEdit* baseURLField() const { return m_baseURL; }
    QLineEdit* modelField() const { return m_model; }
    QLineEdit* apiKeyField() const { return m_apiKey; }
    QCheckBox* speakersBox() const { return m_speakers; }
    QPushButton* confirmButton() const { return m_confirm; }

private:
    void updateConfirm();
    void confirm();

    ProviderStore& m_store;
    std::optional<CustomProvider> m_provider;
    QLineEdit* m_name;
    QLineEdit* m_baseURL;
    QLineEdit* m_model;
    QLineEdit* m_apiKey;
    QLabel* m_keyNote;
    QCheckBox* m_speakers;
    QPushButton* m_confirm;
};

} // namespace vocalith
