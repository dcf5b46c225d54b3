#include "link/CommandRelay.h"

#include "link/Connection.h"

CommandRelay::CommandRelay(Connection *connection_) : connection(connection_) {}

void CommandRelay::sendMessage(QByteArray message, int answerLength)
{
    connection->sendMessage(message, answerLength);
    connection->commandHandled();
}
