#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The controller's command protocol in one place: the reply length of every
// command, the argument bytes of every command that takes some, the rule for
// a good reply and the meaning of the status bits. Nothing else in the
// program builds a protocol byte or judges a reply by hand.
namespace Protocol {

// ---- Commands and their replies ---------------------------------------------------

// Answer length for a command given by its code (or by the whole command,
// only its first three bytes count). Unknown codes get 2, the length of a
// refusal.
int answerLength(const QByteArray &command);

// True when the code is one the controller knows.
bool isKnown(const QByteArray &command);

// Every known code, in the order of the command table.
QList<QByteArray> codes();

// A good reply begins 0x00 ';'.
bool isGoodReply(const QByteArray &reply);

// A refusal: a reply whose first byte is not 0x00. An empty reply (time-out)
// is no refusal.
bool isRefusal(const QByteArray &reply);

// The 16-bit value of a value reply (0x00 ';' high low ';'), -1 when the
// reply is not a good one of at least 4 bytes.
int replyValue(const QByteArray &reply);

// A good reply of exactly the length the command's reply has: a data reply
// that arrived whole.
bool isCompleteReply(const QByteArray &command, const QByteArray &reply);

// The data bytes of a good reply: everything between 0x00 ';' and the
// closing ';'. Empty for a bare acknowledgement and for anything not good.
QByteArray replyData(const QByteArray &reply);

// The data of a good reply read as 16-bit values, high byte first (the
// common detector reply carries four). A trailing odd byte is ignored.
QList<int> replyValues(const QByteArray &reply);
// The looser rule some commands are judged by: a reply of at least
// `minimumSize` bytes whose first byte is 0x00 (the second is not looked at).
bool isAcknowledged(const QByteArray &reply, int minimumSize = 1);

// The unsigned 16-bit big-endian word at `position` of a reply (a stream
// sample, the common detector values), -1 when the reply is too short.
int replyWord(const QByteArray &reply, int position);

// ---- Argument bytes ----------------------------------------------------------------

// Stream start: two option bytes, the rate high byte first, ';'.
QByteArray rateArguments(int rate);

// One stage byte (1, 2, or 3 for both where the command allows it), ';'.
QByteArray stageArgument(int stage);

// Stage and a raw 16-bit value, high byte first (SPF with the controller's
// own P-factor units).
QByteArray stageRawArgument(int stage, quint16 raw);

// Stage and axis byte ('x' or 'y'), ';' (GAI).
QByteArray axisArgument(int stage, char axis);

// Stage and a value in thousandths, truncated toward zero, as 16 bits high
// byte first (SPF, SDS).
QByteArray valueArgument(int stage, double value);

// Stage, axis and a signed value in thousandths as 16 bits (SAI).
QByteArray axisValueArgument(int stage, char axis, double value);

// Stage, axis and a raw 16-bit value (SDA, SAI with millivolts).
QByteArray axisRawArgument(int stage, char axis, quint16 raw);

// FRAM read: start address 0x0000, 0xFF bytes.
QByteArray framArguments();

// Code byte of the baud-rate command: 1 = 115200, 4 = 460800, 9 = 921600;
// 0 for a rate the controller cannot switch to.
char baudRateCode(int baud);
QByteArray baudRateArguments(int baud);

// The label field: the label in the local 8-bit encoding, padded with blanks
// or cut to exactly 25 bytes, then ';'.
constexpr int labelLength = 25;
QByteArray labelArguments(const QString &label);

// ---- Status flags (GSF) --------------------------------------------------------------

struct StatusFlags
{
    bool valid = false;           // a complete status reply was read
    unsigned char raw = 0;        // the flags byte
    bool pFactorFromSoftware = false;      // bit 0
    bool adjustFromSoftware[2] = {};       // bits 1, 2
    bool stabilizationOn[2] = {};          // bits 3, 4
    bool active[2] = {};                   // bits 5, 6
};

// The flags of a byte.
StatusFlags statusFlags(unsigned char flags);

// The flags of a status reply (0x00 ';' flags ';'); not valid otherwise.
StatusFlags statusFromReply(const QByteArray &reply);

} // namespace Protocol
