#pragma once

#include <QByteArray>

class Connection;

// Sequences of the headless front ends (the command-line tool and the Tango
// server): the value queries they print or publish, the P-factor they set
// and a raw command. Blocking like every sequence, so they run only as
// requests on a controller's worker thread.
namespace RemoteSequences {

// The reply of a value query and whether it arrived good and whole.
struct Answer
{
    QByteArray reply; // empty on a time-out or a dropped command
    bool complete = false;
};

Answer readFlags(Connection &link);                       // "GSF;"
Answer readActiveSignals(Connection &link);               // "GAS;"
Answer readIntensity(Connection &link, int stage);        // "GIN"
Answer readPFactor(Connection &link, int stage);          // "GPF"
Answer readSensitivity(Connection &link, int stage);      // "GDS"
Answer readAdjustIn(Connection &link, int stage, char axis); // "GAI"
Answer readCommonDetector(Connection &link);              // "GCA;"

// "SPF" with the controller's raw P-factor value; the reply.
QByteArray setPFactor(Connection &link, int stage, quint16 value);

// Posts a whole command as given, awaiting answerLength bytes ("CLS;" goes
// as the stop command, which the link treats apart), and returns the reply.
QByteArray sendRaw(Connection &link, const QByteArray &command, int answerLength);

} // namespace RemoteSequences
