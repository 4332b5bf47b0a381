#pragma once
// The message window: every message of the program after start-up, with one "&OK" button.
#include <QDialog>
#include <memory>
#include <string>

namespace Ui {
class TNoteForm;
}

namespace ui {

class TNoteForm : public QDialog {
    Q_OBJECT
public:
    explicit TNoteForm(QWidget* parent = nullptr);
    ~TNoteForm() override;

    // Replaces the whole message with `text` (lines separated by CR LF, CR or LF) and shows
    // the window modally; returns when the user has closed it.
    void ShowNote(const std::string& text);
    // The message as shown, lines separated by '\n'.
    QString NoteText() const;

private:
    std::unique_ptr<Ui::TNoteForm> m_ui;
};

// The one message window, created at start-up after the wizard window.
extern TNoteForm* NoteForm;

}  // namespace ui
