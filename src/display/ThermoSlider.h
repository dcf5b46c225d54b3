#pragma once

#include <qwt_thermo.h>

// Vertical bar of a piezo actuator's range value, 0 .. 10 V.
class ThermoSlider : public QwtThermo
{
    Q_OBJECT
public:
    explicit ThermoSlider(QWidget* parent = nullptr);
};
