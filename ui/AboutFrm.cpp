#include "ui/AboutFrm.h"

#include <QDesktopServices>
#include <QFile>
#include <QMouseEvent>
#include <QUrl>

#include "app/Version.h"
#include "ui/Artwork.h"
#include "ui/WindowLook.h"
#include "ui_AboutFrm.h"

// The resources of the static library must be registered by name, outside any namespace.
static void InitTallomirResources() { Q_INIT_RESOURCE(Tallomir); }

namespace ui {

TAboutForm* AboutForm = nullptr;

const char* const TAboutForm::kWebAddress = "https://tallomir.example.org";
const char* const TAboutForm::kNotice =
    "Copyright (C) 2026 the Tallomir developers. Licensed under the agreement below.";

TAboutForm::TAboutForm(QWidget* parent) : QDialog(parent), m_ui(std::make_unique<Ui::TAboutForm>()) {
    m_ui->setupUi(this);
    ApplyWindowLook(this);
    // Only the close box in the title bar.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    m_ui->imgPicture->setPixmap(artwork::AboutPicture(m_ui->imgPicture->size()));
    m_ui->imgSide->setPixmap(artwork::Logo(m_ui->imgSide->width()));
    m_ui->lblNotice->setText(QString::fromUtf8(kNotice));
    m_ui->lblUrl->setText(QString::fromUtf8(kWebAddress));
    m_ui->lblVersion->setText(QStringLiteral("Version %1 [%2]").arg(app::kVersion, app::kBuildNumber));
    m_ui->pgcAbout->setStyleSheet(QStringLiteral("QTabBar::tab { width: 150px; }"));
    m_ui->sbHelpContents->setAutoFillBackground(true);
    m_ui->sbHelpContents->setPalette(palette());

    InitTallomirResources();
    QFile license(QStringLiteral(":/tallomir/License.txt"));
    if (license.open(QIODevice::ReadOnly)) m_ui->memLicense->setPlainText(QString::fromUtf8(license.readAll()));

    openUrl = [](const QString& address) { QDesktopServices::openUrl(QUrl(address)); };
    m_ui->lblUrl->installEventFilter(this);
    connect(m_ui->btnClose, &QPushButton::clicked, this, &QDialog::close);
    CentreOnDesktop(this);
}

TAboutForm::~TAboutForm() = default;

void TAboutForm::SetCloseEnabled(bool enabled) { m_ui->btnClose->setEnabled(enabled); }

bool TAboutForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_ui->lblUrl && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (openUrl) openUrl(m_ui->lblUrl->text());
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace ui
