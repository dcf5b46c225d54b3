#pragma once

#include <QByteArray>
#include <QMap>
#include <QSet>
#include <QString>
#include <QtGlobal>

// Behaviour of one simulated controller. Changing it at run time takes effect
// for the next command or stream message.
struct SimConfig
{
    int firmware = 31;            // version in the identification; >= 11 sends stream flags
    bool variantM = false;        // identification carries "-VM", accepts SGS, marks ignored samples
    bool triggerCapable = true;   // identification character at reply byte 10 is 'A' (else 'N')
    QString idText;               // serial/ID part of the identification; empty = "SIM" + 3-digit index
    quint32 seed = 1;             // seed of the beam model and of the fault generators
    double pulseRate = 10.0;      // trigger pulses per second in trigger mode (SPS)
    int ignorePercent = 10;       // variant M: share of stream messages carrying the ignore bit
    bool bench = false;           // sequence number and send time in the actuator range fields
};

// Faults that can be switched on and off while the simulator runs.
struct SimFaults
{
    int garbageEvery = 0;         // after every N stream messages insert garbageBytes bytes (0 = off)
    int garbageBytes = 0;         // garbage bytes are random and never 0x00
    int dropEvery = 0;            // drop every N-th reply (1 = every reply, 0 = off)
    int delayMs = 0;              // delay every reply by this many ms
    bool refuseAll = false;       // refuse every command with 0x01 ';'
    QSet<QByteArray> refuseCodes; // refuse only these three-letter codes
    bool stallStream = false;     // stream stays on but nothing is sent
    int closeAfterMs = 0;         // close a TCP client this many ms after it connected (0 = never)
    bool shortIdentification = false; // the GID reply lacks its last byte (49 bytes)
    bool keepBaudRate = false;    // SBR is acknowledged, but the serial line keeps its rate
    QMap<QByteArray, int> replyDelayByPrefix; // extra delay (ms) of the replies to commands beginning with these bytes
    int trailingJunk = 0;         // this many junk bytes (never 0x00) follow every reply a few ms later
    QSet<QByteArray> silentCodes; // these codes are neither carried out nor answered
    bool loseLastMessage = false; // on a stop the flagged last message is lost; only 0x00 ';' is sent
    bool foreignIdentification = false; // the GID reply is whole but carries another maker's tag
};

// Traffic counters of one controller.
struct SimCounters
{
    qint64 messagesSent = 0;        // replies and stream messages written (a stream start reply counts once)
    qint64 streamMessagesSent = 0;  // 25-byte stream messages among them
    qint64 commandsReceived = 0;    // commands parsed from the input, including refused ones
    qint64 garbageBytesSent = 0;
    qint64 repliesDropped = 0;
    // Serial transport: output while no application had the port open
    // (lost, as on a real line), and output dropped because the application
    // stopped reading for so long that the queue was cut (never otherwise).
    qint64 bytesNotDelivered = 0;
    qint64 bytesDropped = 0;
};

// The settings one stage of a controller holds, as the commands left them
// (values in the units of the protocol: mV or thousandths).
struct SimStageState
{
    int pFactor = 0;
    bool pFactorSoftware = false;  // common to both stages: last SPF was not 0
    int adjustIn[2] = {0, 0};      // x, y target in mV
    bool adjustInSoftware = false; // a non-zero target was set
    int sensitivity = 0;           // 0 = external analog input
    bool setHold = false;
    bool freeze = false;           // trigger freeze
    bool multiplex = false;        // on the common detectors of the group
    bool stabilization = false;
};
