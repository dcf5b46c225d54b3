#pragma once

#include <QByteArray>
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
};

// Traffic counters of one controller.
struct SimCounters
{
    qint64 messagesSent = 0;        // replies and stream messages written (a stream start reply counts once)
    qint64 streamMessagesSent = 0;  // 25-byte stream messages among them
    qint64 commandsReceived = 0;    // commands parsed from the input, including refused ones
    qint64 garbageBytesSent = 0;
    qint64 repliesDropped = 0;
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
