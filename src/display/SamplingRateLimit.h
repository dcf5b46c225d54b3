#pragma once

class MainToolBar;

// The limits of the tool bar's sampling-rate and update-rate boxes: the
// highest rate the connected links allow, and the lock to 1000 Hz while
// every displayed controller runs on an external trigger (the rate the user
// had chosen comes back when the lock ends).
class SamplingRateLimit
{
public:
    explicit SamplingRateLimit(MainToolBar *tools);

    int maximum() const { return maxRate; }
    bool locked() const { return triggerLock; }
    // A new limit of the links: both boxes follow (a higher value is lowered);
    // while locked the sampling rate keeps 1000 Hz and gets the limit later.
    void setMaximum(int max);
    // Once per display tick: lock or release the sampling rate.
    void follow(bool allTriggered, bool running);

private:
    MainToolBar *tools;
    int maxRate;
    bool triggerLock = false;
    int savedRate = 100;
    int savedMaximum = 430;
};
