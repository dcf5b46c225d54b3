#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class RescaleTimeAxisDlg;
}

// Small tool window that sets the range of a stage's time axis (axis 3 or 4)
// in whole seconds, entered as hhh:mm:ss. "OK" emits axisRescaled; an upper
// limit not above the lower one becomes lower + 1 s, and a field left blank
// counts as 0.
class RescaleTimeAxisDialog : public QDialog
{
    Q_OBJECT
public:
    explicit RescaleTimeAxisDialog(QWidget *parent = nullptr);
    ~RescaleTimeAxisDialog() override;

    int axis() const { return axisId; }
    void setAxis(int id) { axisId = id; }
    void setLower(int seconds);
    void setUpper(int seconds);

    // hhh:mm:ss of a number of seconds (hours always three digits), and back;
    // minutes or seconds above 59 count as they stand, blanks as 0.
    static QString formatSeconds(int seconds);
    static int parseSeconds(const QString &text);

signals:
    void axisRescaled(int axis, int lower, int upper, bool bothStages);

private slots:
    void acceptNewValues();

private:
    std::unique_ptr<Ui::RescaleTimeAxisDlg> ui;
    int axisId = 0;
};
