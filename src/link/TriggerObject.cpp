#include "link/TriggerObject.h"

#include "link/Connection.h"

TriggerObject::TriggerObject(Connection *connection_) : connection(connection_) {}

void TriggerObject::sendMessage(QByteArray message, int answerLength)
{
    connection->sendMessage(message, answerLength);
    connection->commandHandled();
}
