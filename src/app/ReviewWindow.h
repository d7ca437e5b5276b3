#pragma once

#include <QMainWindow>

#include <atomic>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QTableView;
class QThread;

namespace vocalith {

class Player;
class ReviewModel;
class ReviewTextDelegate;
class TranscriptionViewModel;
class WaveformView;

// A transcript beside its recording: the segments as a table to correct, playback from
// any row, and saving through the Transcribe tab, whose text follows every edit.
class ReviewWindow final : public QMainWindow {
    Q_OBJECT

public:
    explicit ReviewWindow(TranscriptionViewModel& viewModel, QWidget* parent = nullptr);
    ~ReviewWindow() override;

    ReviewModel& model() { return *m_model; }
    Player& player() { return *m_player; }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void togglePlay();
    void playRow();
    void playClicked(const QModelIndex& index);
    void nudge(bool end, double seconds);
    void splitRow();
    void goToDoubtful(bool backwards);
    void showSpeakerMenu(const QPoint& at);
    void showFind(bool replace);
    void findNext();
    void follow(double seconds);
    void readPeaks(const QString& recording);
    int currentRow() const;
    bool isEditing() const;

    TranscriptionViewModel& m_vm;
    ReviewModel* m_model;
    Player* m_player;
    QTableView* m_table;
    ReviewTextDelegate* m_textDelegate;
    // Where the table was last pressed, and the character of a row's text clicked last:
    // Split cuts there when no editor is open.
    QPoint m_pressedAt;
    std::pair<int, int> m_clickedCharacter{-1, -1};
    QPushButton* m_play;
    QSlider* m_position;
    QLabel* m_time;
    QComboBox* m_speed;
    QWidget* m_findBar;
    QLineEdit* m_find;
    QLineEdit* m_replace;
    QLabel* m_message;
    WaveformView* m_waveform;
    QThread* m_peaksWorker = nullptr;
    std::atomic<bool> m_stopPeaks{false};
};

} // namespace vocalith
