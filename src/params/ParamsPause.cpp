#include "params/ParamsPause.h"

#include "params/ParamsDialog.h"

ParamsPause::ParamsPause(Connection *connection, ParamsDialog *dialog)
    : pause(connection)
    , owner(dialog)
{
}

ParamsPause::~ParamsPause()
{
    resume();
}

void ParamsPause::resume()
{
    if (done)
        return;
    done = true;
    if (!pause.resume())
        emit owner->errorStream();
}
