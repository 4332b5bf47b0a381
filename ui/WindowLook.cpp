#include "ui/WindowLook.h"

#include <QApplication>
#include <QDialog>
#include <QFont>
#include <QMessageBox>
#include <QPalette>
#include <QScreen>
#include <QWidget>

#include "app/WizardRules.h"

namespace ui {
using namespace app;  // the wizard's text rules

void ApplyWindowLook(QWidget* form) {
    QFont font("Arial");
    font.setPointSize(8);
    form->setFont(font);
    QPalette palette = form->palette();
    palette.setColor(QPalette::Window, Qt::white);
    form->setPalette(palette);
    form->setAutoFillBackground(true);
    form->setFixedSize(form->size());
    form->setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    form->setWindowFlag(Qt::MSWindowsFixedSizeDialogHint, true);
}

void CentreOnDesktop(QWidget* window) {
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

QString DisplayText(const std::string& text) { return ToQ(WithNewlines(text)); }

void ShowErrorReport(const QString& text) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Tallomir"), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setObjectName(QStringLiteral("ErrorReport"));
    box.exec();
}

}  // namespace ui
