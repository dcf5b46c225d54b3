#pragma once

#include "display/StreamControl.h"

class Connection;
class ParamsDialog;

// Stops a streaming controller for the length of a command sequence of the
// parameters dialog and restarts it at its rate afterwards (at the latest
// when the pause goes out of scope). A failed restart is reported through
// the dialog's errorStream().
class ParamsPause
{
public:
    ParamsPause(Connection *connection, ParamsDialog *dialog);
    ~ParamsPause();
    ParamsPause(const ParamsPause &) = delete;
    ParamsPause &operator=(const ParamsPause &) = delete;

    bool wasStreaming() const { return pause.wasStreaming(); }
    void resume();

private:
    StreamControl::StreamPause pause;
    ParamsDialog *owner;
    bool done = false;
};
