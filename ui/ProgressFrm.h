#pragma once
// The progress window of a copy run: the file-copy animation, a text, a bar and the
// "&Cancel" button whose flag the copy run polls.
#include <QDialog>
#include <QPixmap>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

namespace Ui {
class TProgressForm;
}

namespace ui {

// Set by "&Cancel", cleared by BeginProgress; nothing else changes it.
extern bool ProgressCancelled;

class TProgressForm : public QDialog {
    Q_OBJECT
public:
    // Time between two frames of the animation.
    static constexpr int kFrameMilliseconds = 40;

    explicit TProgressForm(QWidget* parent = nullptr);
    ~TProgressForm() override;

    // Bar maximum := maximum, position 0, the cancel flag cleared, text "Progress", the
    // window shown (not modal) in front, the animation played once. Throws
    // std::invalid_argument for a negative maximum.
    void BeginProgress(int maximum);
    // Bar position (beyond the maximum: a full bar), the text, and the window shown again.
    void SetProgress(int position, const std::string& text);

    // The animation's state, for the window's users and tests: the frame shown (1 to 34)
    // and whether it is still running.
    int Maximum() const { return m_maximum; }
    int Position() const;
    QString Text() const;
    int AnimationFrame() const { return m_frame; }
    bool AnimationRunning() const { return m_animation.isActive(); }

private:
    void ShowInFront();
    void NextFrame();

    std::unique_ptr<Ui::TProgressForm> m_ui;
    std::vector<QPixmap> m_frames;
    QTimer m_animation;
    int m_frame = 1;
    int m_maximum = 100;
};

// The one progress window, created at start-up after the message window.
extern TProgressForm* ProgressForm;

}  // namespace ui
