#include "setup/ConnectionWidget.h"

#include "ui_connectionwidget.h"

#include <QRegularExpressionValidator>

// The trash can icon lives in this library's resources; a static library
// must register them itself.
static void initSetupResources()
{
    Q_INIT_RESOURCE(setup_images);
}

namespace {
const int maximumLabelLength = 25;
}

ConnectionWidget::ConnectionWidget(const QString &controllerId, const QString &label, const QString &address,
                                   QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::ConnectionWidget>()),
      m_controllerId(controllerId), m_label(label), m_address(address)
{
    initSetupResources();
    ui->setupUi(this);
    ui->numberFill->setText(controllerId);
    ui->info->setText(address);
    ui->lineEdit->setMaxLength(maximumLabelLength);
    ui->lineEdit->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[A-Za-z0-9_]+")), ui->lineEdit));
    ui->lineEdit->setText(label);
    ui->Button->setText(QStringLiteral("Reconnect"));
    ui->deleteButton->setIcon(QIcon(QStringLiteral(":/images/TrashCan.png")));
    ui->deleteButton->setAccessibleName(QStringLiteral("Delete connection ") + address);
    ui->Button->setAccessibleName(QStringLiteral("Reconnect ") + address);
    connect(ui->checkBoxAutoConnect, &QCheckBox::toggled, this, &ConnectionWidget::checkBoxAutoConnectChanged);
    ui->numberFill->setAccessibleName(QStringLiteral("Controller ID ") + controllerId);
    ui->info->setAccessibleName(QStringLiteral("Address ") + address);
    describe();
}

// The row's accessible name says which controller it is and how it is.
void ConnectionWidget::describe()
{
    QString text = QStringLiteral("Controller %1 %2 at %3, %4")
                       .arg(m_controllerId, m_label, m_address,
                            m_connected ? QStringLiteral("connected") : QStringLiteral("not connected"));
    if (!m_alert.isEmpty())
        text += QStringLiteral(", ") + m_alert;
    setAccessibleName(text);
}

void ConnectionWidget::setAlert(const QString &text)
{
    if (text == m_alert)
        return;
    m_alert = text;
    ui->info->setStyleSheet(text.isEmpty() ? QString()
                                           : QStringLiteral("QLabel { color: white; background-color: rgb(190, 30, 20); }"));
    ui->info->setToolTip(text);
    ui->info->setAccessibleName(text.isEmpty() ? QStringLiteral("Address ") + m_address : text);
    describe();
}

ConnectionWidget::~ConnectionWidget() = default;

void ConnectionWidget::setConnected(bool connected)
{
    if (connected == m_connected)
        return;
    m_connected = connected;
    const QString text = connected ? QStringLiteral("Disconnect") : QStringLiteral("Reconnect");
    ui->Button->setText(text);
    ui->Button->setAccessibleName(text + ' ' + m_address);
    describe();
}

void ConnectionWidget::setAutoConnect(bool on)
{
    ui->checkBoxAutoConnect->setChecked(on);
}

bool ConnectionWidget::autoConnect() const
{
    return ui->checkBoxAutoConnect->isChecked();
}

void ConnectionWidget::on_Button_clicked()
{
    if (m_connected)
        emit disconnectRequested(m_address);
    else
        emit reconnectRequested(m_address);
}

void ConnectionWidget::on_deleteButton_clicked()
{
    emit deleteConnection(m_address);
}

void ConnectionWidget::on_lineEdit_textEdited(const QString &text)
{
    m_label = text;
    describe();
    emit labelChanged(m_address, m_label);
}

void ConnectionWidget::checkBoxAutoConnectChanged(bool checked)
{
    emit autoConnectChanged(checked);
}
