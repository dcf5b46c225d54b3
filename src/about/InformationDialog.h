#pragma once

#include <QDialog>

class QLabel;

// "About this software": program version, build, build date, the Qt and Qwt
// versions in use and a QR code pointing at the project's README. Not modal.
class InformationDialog : public QDialog
{
    Q_OBJECT
public:
    explicit InformationDialog(QWidget *parent = nullptr);

    // The text shown beside the QR code.
    static QString aboutText();
};
