#include "ui/GuiUserInterface.h"

#include <QApplication>
#include <QCursor>
#include <QMessageBox>

#include "ui/NoteFrm.h"
#include "ui/ProgressFrm.h"
#include "ui/WindowLook.h"

namespace ui {

TGuiUserInterface::~TGuiUserInterface() {
    if (m_hourglass) QApplication::restoreOverrideCursor();
}

void TGuiUserInterface::ShowNote(const std::string& text) {
    // A note may come while the wizard is being created, before the message window exists.
    if (!NoteForm) NoteForm = new TNoteForm();
    NoteForm->ShowNote(text);
}

void TGuiUserInterface::BeginProgress(int maximum) {
    if (!ProgressForm) ProgressForm = new TProgressForm();
    ProgressForm->BeginProgress(maximum);
}

void TGuiUserInterface::SetProgress(int position, const std::string& text) {
    if (!ProgressForm) ProgressForm = new TProgressForm();
    ProgressForm->SetProgress(position, text);
}

void TGuiUserInterface::EndProgress() {
    if (ProgressForm) ProgressForm->close();
}

bool TGuiUserInterface::ProgressCancelled() const { return ui::ProgressCancelled; }

void TGuiUserInterface::ProcessMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void TGuiUserInterface::SetHourglass(bool on) {
    if (on == m_hourglass) return;
    m_hourglass = on;
    if (on) QApplication::setOverrideCursor(Qt::WaitCursor);
    else QApplication::restoreOverrideCursor();
}

void TGuiUserInterface::Beep() { QApplication::beep(); }

void TGuiUserInterface::ShowMessage(const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Tallomir"), DisplayText(text), QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setObjectName(QStringLiteral("MessageBox"));
    box.exec();
}

void TGuiUserInterface::ReportError(const std::string& text) { ShowErrorReport(DisplayText(text)); }

}  // namespace ui
