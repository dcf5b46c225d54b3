#pragma once

#include "setup/ConnectionSettings.h"

#include <QIODevice>
#include <QList>
#include <QObject>
#include <QString>

// Reads and writes the connection setup file and holds the records read from
// it. The file is an XML document of type "SetupML" with the root
// "ORX_Beam_Stabilization" and one "Device_<key>" element per controller.
//
// Every path argument may be empty, meaning the default file
// "ConnectionSetup.xml" in dataDirectory. Failures are reported only through
// the bool results; the file is opened and closed within each call.
//
// Robustness rules beyond the file format itself:
// - A file larger than maximumFileSize bytes or nested deeper than
//   maximumNestingDepth elements is treated as unreadable.
// - A device key read from an element name is cut to deviceKeyLength
//   characters.
// - Element names are built from the device key with every character that
//   an XML name cannot carry replaced by '_', and attribute texts have
//   control characters that XML cannot carry replaced by '?', so a written
//   file can always be read back.
// - A record without a controller ID (a detector-only device read from a
//   file) is written under its stored key rather than under an empty key.
// - Both savers write to a temporary file next to the target and rename it
//   over the target, so a failed write leaves the previous file intact.
class Settings : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 maximumFileSize = 1024 * 1024;
    static constexpr int maximumNestingDepth = 32;

    explicit Settings(QObject *parent = nullptr);
    ~Settings() override;

    // Replaces the record list by the devices of the file. Fails (false, the
    // record list unchanged) when the file is missing, cannot be opened for
    // reading and writing, does not parse or has another root element.
    bool loadFile(const QString &path = QString());

    // As loadFile, but needs only read access: for looking at a file that
    // this program will not write (a read-only copy, another user's file).
    bool inspectFile(const QString &path = QString());

    // Rewrites the file with the connection part ("Settings",
    // "DisplayColors") of every record; other devices in the file are gone.
    bool saveConnectionFile(const QString &path = QString());

    // Merges the detector part ("Detector1", "Detector2", "General") of
    // every record into the file. An existing non-empty file that does not
    // parse, or whose root is not "ORX_Beam_Stabilization", is left exactly
    // as it is and false is returned.
    bool saveDetectorFile(const QString &path = QString());

    // Saves a whole setup: the connection part and then the detector part
    // are written into one staging file beside the target ("<file>.saving"),
    // which then replaces the target in one step. On any failure the target
    // keeps its earlier content and the staging file is removed.
    bool saveSetupFile(const QString &path = QString());
    static QString stagingPath(const QString &path);

    // Fills out (cleared first) with the records that have a controller ID;
    // false when the record list is empty.
    bool connections(QList<ConnectionSettings> &out) const;

    // Replaces the record list by a copy of list; false when list is empty.
    bool setConnections(const QList<ConnectionSettings> &list);

    // Copies the stored detector settings, trigger display flag and key of
    // the record with record's device key into record; false when none.
    bool restoreDetectorSettings(ConnectionSettings &record) const;

    // Copies record's detector settings, trigger display flag and ID into
    // the stored record with the same device key (true); when there is
    // none, gives record its key and position and appends it (false).
    bool storeDetectorSettings(ConnectionSettings &record);

    // All records, including detector-only devices without an ID.
    const QList<ConnectionSettings> &records() const { return m_records; }

    // dataDirectory's path, the native separator and "ConnectionSetup.xml".
    static QString defaultFilePath();
    // path in native separators, or the default file for an empty path.
    static QString resolvePath(const QString &path);

private:
    bool load(const QString &path, QIODevice::OpenMode mode);
    int indexOfDevice(const QString &id) const;

    QList<ConnectionSettings> m_records;
};
