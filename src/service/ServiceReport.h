#pragma once

#include <QByteArray>
#include <QString>

// The result-pane texts of the service tests that read data from the
// controller, built from the raw reply bytes. Each text ends with "\n".
namespace ServiceReport {

// A reply that starts with 0x00 and has at least two bytes (the second is
// not looked at): how a single-command test is judged.
bool isSuccess(const QByteArray &reply);

// "GAS;": the active signal of both stages.
QString activeSignal(const QByteArray &reply);
// "GIN": the intensity of stage 1.
QString intensity(const QByteArray &reply);
// "S1S;": one stream message, decoded into flag and value lines; a reply
// that is not a good one (0x00 ';') is a failure.
QString streamSample(const QByteArray &reply);
// "GER;": the command that failed last and its error code.
QString lastError(const QByteArray &reply);
// "RFR": the 255 bytes of FRAM content, one line per byte (index: hex).
QString framDump(const QByteArray &reply);

} // namespace ServiceReport
