#include "about/InformationDialog.h"

#include "app/StartupFlags.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

#include <qwt_global.h>

InformationDialog::InformationDialog(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("InformationDialog"));
    setWindowTitle(QStringLiteral("About this software"));
    setModal(false);

    auto *text = new QLabel(aboutText(), this);
    text->setObjectName(QStringLiteral("labelAboutText"));
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *qr = new QLabel(this);
    qr->setObjectName(QStringLiteral("labelQrCode"));
    qr->setAccessibleName(QStringLiteral("QR code of the project's README"));
    qr->setPixmap(QPixmap(QStringLiteral(":/images/qr.png")));

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);

    auto *row = new QHBoxLayout;
    row->addWidget(text, 1);
    row->addWidget(qr, 0, Qt::AlignTop);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
}

QString InformationDialog::aboutText()
{
    // Qwt has no run-time version query; its version is the one compiled in.
    return QStringLiteral("<b>ORX Beam Stabilization</b><br>"
                          "Version %1<br>Build %2<br>Build date %3<br><br>"
                          "Libraries:<br>Qt %4<br>Qwt %5")
        .arg(QLatin1String(programVersion), QLatin1String(programBuild), QStringLiteral(__DATE__),
             QLatin1String(qVersion()), QStringLiteral(QWT_VERSION_STR));
}
