#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class RescaleDialog;
}

// Small tool window that sets the range of a value axis: the position axis
// of a stage's time plot (axis 1 or 2) or its intensity axis (5 or 6). The
// limit labels carry the unit the stage shows. "OK" emits axisRescaled with
// the lower limit below the upper one (swapped if given the other way round,
// at least 0.001 apart); a limit field whose text is not a number within its
// range is marked red and nothing is applied.
class RescaleDialog : public QDialog
{
    Q_OBJECT
public:
    // Unit kinds of a position axis.
    enum UnitKind { Volt = 0, Micrometre = 1, Millimetre = 2 };
    static constexpr double minimumSpan = 0.001;

    explicit RescaleDialog(QWidget *parent = nullptr);
    ~RescaleDialog() override;

    int axis() const { return axisId; }
    void setAxis(int id);
    void setUnitKind(int kind, int stage);
    void setLimits(double upperMax, double upperMin, double lowerMax, double lowerMin);
    void setUpper(double value);
    void setLower(double value);

signals:
    void axisRescaled(int axis, double lower, double upper, bool bothStages);

private slots:
    void acceptNewValues();

private:
    void showUnit();

    std::unique_ptr<Ui::RescaleDialog> ui;
    int axisId = 0;
    int unitKind1 = Volt;
    int unitKind2 = Volt;
};
