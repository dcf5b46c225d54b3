#pragma once

#include <QByteArray>
#include <QList>

// Reply lengths of the controller commands: the number of bytes a good
// reply to each three-letter code has. The senders of Connection, the
// command-line tool and the tests all take them from here.
namespace CommandSet {

// Answer length for a command given by its code (or by the whole command,
// only its first three bytes count). Unknown codes get 2, the length of a
// refusal.
int answerLength(const QByteArray &command);

// True when the code is one the controller knows.
bool isKnown(const QByteArray &command);

// Every known code, in the order of the command table.
QList<QByteArray> codes();

} // namespace CommandSet
