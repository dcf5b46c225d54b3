#pragma once

#include "link/Protocol.h"

#include <QByteArray>
#include <QList>

class Connection;

// The command sequences of the parameters dialog and of the group (beam
// overlay) operations, written as blocking code on one Connection. They run
// on the controller's worker thread only (Controller::request). Each one
// stops a running stream first and restarts it at its rate afterwards; the
// outcome says whether that restart worked. The dialog gathers the inputs
// from its widgets before and shows the outcome after; nothing here touches
// a widget.
namespace ParameterSequences {

// ---- Reading the parameters (Refresh) ----------------------------------------------

struct Reading
{
    bool flagsGood = false;         // GSF answered with a good reply
    Protocol::StatusFlags flags;    // valid only with flagsGood
    QByteArray sample;              // the S1S reply (hold positions)
    int adjust[4] = {0, 0, 0, 0};   // GAI 1x, 1y, 2x, 2y, signed millivolts; 0 when refused
    int pFactor[2] = {0, 0};        // GPF, thousandths
    bool sensitivityRead = false;   // firmware 31 or later: GDS was asked
    int sensitivity[2] = {0, 0};    // GDS, thousandths
    bool streamResumed = true;
};

// GSF, S1S, GAI (1x, 1y, 2x, 2y), GPF (1, 2) and, from firmware 31, GDS (1, 2).
Reading read(Connection &link);

// The hold position of a stage (1 or 2) in a S1S reply, signed millivolts;
// false when the reply is too short to hold a sample.
bool holdPosition(const QByteArray &sample, int stage, int &x, int &y);

// ---- Writing the parameters (Apply) ------------------------------------------------

struct ApplyInputs
{
    bool pFactorSoftware[2] = {false, false};
    double pFactor[2] = {0, 0};
    bool sensitivitySoftware[2] = {false, false};
    double sensitivity[2] = {0, 0};
    // Software target chosen and the stage's new detector can take it.
    bool adjustSoftware[2] = {false, false};
    double adjust[2][2] = {{0, 0}, {0, 0}}; // [stage][x, y] in volts
    bool triggerMode = false;
};

// One step the controller did not take, in the order the steps ran.
struct ApplyFailure
{
    enum What { PFactor, PFactorExternal, Sensitivity, AdjustX, AdjustY };
    What what;
    int stage; // 1 or 2
};

struct ApplyOutcome
{
    QList<ApplyFailure> failures;
    bool streamResumed = true;
};

// SPF (1, 2), SDS (1, 2), SAI (1x, 1y, 2x, 2y); then the trigger mode is
// set on the link, so the stream restarts with it.
ApplyOutcome apply(Connection &link, const ApplyInputs &inputs);

// ---- Set & Hold, identification -------------------------------------------------------

struct HoldOutcome
{
    QByteArray sample;     // the S1S reply
    bool held = false;     // SSH acknowledged
    bool streamResumed = true;
};

// Stage 1: S1S then SSH (1); stage 2: SSH (2) then S1S.
HoldOutcome setHold(Connection &link, int stage);

struct IdOutcome
{
    QByteArray reply;      // the GID reply
    bool streamResumed = true;
};

// GID inside a stream pause.
IdOutcome readId(Connection &link);

// ---- Group operations ------------------------------------------------------------------

struct MultiplexOutcome
{
    bool switched[2] = {false, false}; // SMD (1), SMD (2) acknowledged
    bool streamResumed = true;
};

// SMD (1) then SMD (2) on the partner.
MultiplexOutcome switchToCommon(Connection &link);

struct CommonOutcome
{
    bool available = false;
    int values[4] = {0, 0, 0, 0}; // stage-1 x, y, stage-2 x, y; signed
    bool streamResumed = true;
};

// GCA: the positions the common detectors see.
CommonOutcome readCommon(Connection &link);

struct TargetsOutcome
{
    int accepted = 0; // SAI sent and acknowledged before the first refusal
    bool streamResumed = true;
};

// SAI (1x, 1y, 2x, 2y) with the given values; stops at the first refusal.
TargetsOutcome setTargets(Connection &link, const int values[4]);

struct LockOutcome
{
    bool locked[2] = {false, false}; // per stage asked; see lock()
    bool streamResumed = true;
};

// SSE for each stage whose flag in `stages` is set (stage 1 first).
LockOutcome lock(Connection &link, const bool stages[2]);

} // namespace ParameterSequences
