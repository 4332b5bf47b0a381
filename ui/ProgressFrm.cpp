#include "ui/ProgressFrm.h"

#include <stdexcept>

#include "ui/Artwork.h"
#include "ui/WindowLook.h"
#include "ui_ProgressFrm.h"

namespace ui {

bool ProgressCancelled = false;
TProgressForm* ProgressForm = nullptr;

TProgressForm::TProgressForm(QWidget* parent) : QDialog(parent), m_ui(std::make_unique<Ui::TProgressForm>()) {
    m_ui->setupUi(this);
    ApplyWindowLook(this);
    setModal(false);
    m_ui->imgBanner->setPixmap(artwork::Banner(m_ui->imgBanner->size()));
    m_ui->imgSide->setPixmap(artwork::SideImage(m_ui->imgSide->width()));
    for (int i = 1; i <= artwork::kCopyAnimationFrames; ++i)
        m_frames.push_back(artwork::CopyAnimationFrame(i, m_ui->Animate1->size()));
    m_ui->Animate1->setPixmap(m_frames.front());
    m_animation.setInterval(kFrameMilliseconds);
    connect(&m_animation, &QTimer::timeout, this, &TProgressForm::NextFrame);
    connect(m_ui->btnCancel, &QPushButton::clicked, this, [] { ProgressCancelled = true; });
}

TProgressForm::~TProgressForm() = default;

void TProgressForm::BeginProgress(int maximum) {
    if (maximum < 0) throw std::invalid_argument("Progress maximum must not be negative.");
    // A bar from 0 to 0 would show Qt's busy indicator; 0 to 1 looks as an empty bar should.
    m_maximum = maximum;
    m_ui->ProgressBar1->setMaximum(qMax(maximum, 1));
    m_ui->ProgressBar1->setValue(0);
    ProgressCancelled = false;
    m_ui->lblProgress->setText(QStringLiteral("Progress"));
    CentreOnDesktop(this);
    ShowInFront();
    m_frame = 1;
    m_ui->Animate1->setPixmap(m_frames[0]);
    m_animation.start();
}

void TProgressForm::SetProgress(int position, const std::string& text) {
    QProgressBar* bar = m_ui->ProgressBar1;
    bar->setValue(m_maximum == 0 ? (position > 0 ? 1 : 0) : qBound(0, position, m_maximum));
    m_ui->lblProgress->setText(ToQ(text));
    ShowInFront();
}

int TProgressForm::Position() const { return m_maximum == 0 ? 0 : m_ui->ProgressBar1->value(); }

QString TProgressForm::Text() const { return m_ui->lblProgress->text(); }

void TProgressForm::ShowInFront() {
    show();
    raise();
    activateWindow();
}

void TProgressForm::NextFrame() {
    if (m_frame >= artwork::kCopyAnimationFrames) {
        m_animation.stop();
        return;
    }
    ++m_frame;
    m_ui->Animate1->setPixmap(m_frames[std::size_t(m_frame - 1)]);
    if (m_frame == artwork::kCopyAnimationFrames) m_animation.stop();
}

}  // namespace ui
