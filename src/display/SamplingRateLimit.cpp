#include "display/SamplingRateLimit.h"

#include "controller/ControllerRegistry.h"
#include "display/LinkedSpinBox.h"
#include "display/MainToolBar.h"

SamplingRateLimit::SamplingRateLimit(MainToolBar *tools)
    : tools(tools)
    , maxRate(ControllerRegistry::slowSerialMaxRate)
{
}

void SamplingRateLimit::setMaximum(int max)
{
    maxRate = max;
    for (LinkedSpinBox *box : {tools->samplingRate(), tools->updateRate()}) {
        if (triggerLock && box == tools->samplingRate()) {
            savedMaximum = maxRate;
            continue;
        }
        box->setMaximum(maxRate); // lowers a higher value with it
    }
}

void SamplingRateLimit::follow(bool allTriggered, bool running)
{
    LinkedSpinBox *rate = tools->samplingRate();
    if (!triggerLock) {
        savedRate = rate->value();
        savedMaximum = rate->maximum();
    }
    if (allTriggered) {
        if (!triggerLock) {
            triggerLock = true;
            rate->setMaximum(1000);
            rate->setValue(1000);
            rate->setEnabled(false);
        }
        return;
    }
    rate->setEnabled(!running);
    if (triggerLock) {
        if (savedMaximum >= 1 && savedMaximum <= 1000)
            rate->setMaximum(savedMaximum);
        rate->setValue(savedRate);
        triggerLock = false;
    }
}
