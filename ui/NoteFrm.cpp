#include "ui/NoteFrm.h"

#include "ui/Artwork.h"
#include "ui/WindowLook.h"
#include "ui_NoteFrm.h"

namespace ui {

TNoteForm* NoteForm = nullptr;

TNoteForm::TNoteForm(QWidget* parent) : QDialog(parent), m_ui(std::make_unique<Ui::TNoteForm>()) {
    m_ui->setupUi(this);
    ApplyWindowLook(this);
    m_ui->imgBanner->setPixmap(artwork::Banner(m_ui->imgBanner->size()));
    m_ui->imgSide->setPixmap(artwork::SideImage(m_ui->imgSide->width()));
    connect(m_ui->btnOK, &QPushButton::clicked, this, &QDialog::close);
}

TNoteForm::~TNoteForm() = default;

void TNoteForm::ShowNote(const std::string& text) {
    m_ui->memNote->setPlainText(DisplayText(text));
    CentreOnDesktop(this);
    m_ui->btnOK->setFocus();
    exec();
}

QString TNoteForm::NoteText() const { return m_ui->memNote->toPlainText(); }

}  // namespace ui
