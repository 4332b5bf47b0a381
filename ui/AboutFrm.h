#pragma once
// The About window: the start-up screen while MapInfo is being reached, and the About box
// of the wizard's "&About Tallomir" button.
#include <QDialog>
#include <functional>
#include <memory>

namespace Ui {
class TAboutForm;
}

namespace ui {

class TAboutForm : public QDialog {
    Q_OBJECT
public:
    static const char* const kWebAddress;
    static const char* const kNotice;

    explicit TAboutForm(QWidget* parent = nullptr);
    ~TAboutForm() override;

    // "&OK" is disabled while the start-up screen waits for MapInfo.
    void SetCloseEnabled(bool enabled);

    // Hands the web address to the desktop's default handler; the outcome is ignored.
    // Replaceable, so tests need not start a browser.
    std::function<void(const QString&)> openUrl;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::unique_ptr<Ui::TAboutForm> m_ui;
};

// The one About window, created first at start-up; it lives for the whole run.
extern TAboutForm* AboutForm;

}  // namespace ui
