#include "link/Identification.h"

#include "link/Connection.h"

ControllerIdentity parseIdentification(const QByteArray &reply)
{
    ControllerIdentity identity;
    identity.answered = !reply.isEmpty();
    if (reply.size() < 4 || reply.at(0) != '\0' || reply.at(1) != ';' || reply.mid(2, 3) != "ORX")
        return identity;
    identity.valid = true;

    const int tag = reply.indexOf("-V");
    if (tag >= 0) {
        QByteArray version;
        if (reply.size() > tag + 2 && reply.at(tag + 2) == 'M') {
            identity.variantM = true;
            version = reply.mid(tag + 3);
        } else {
            version = reply.mid(tag + 2);
        }
        const int dash = version.indexOf('-');
        if (dash >= 0)
            version.truncate(dash);
        // The number is the leading digits: a text without its "-" (such
        // as "31;") still carries it.
        int digits = 0;
        while (digits < version.size() && digits < 9 && version.at(digits) >= '0' && version.at(digits) <= '9')
            ++digits;
        bool ok = false;
        const int value = version.left(digits).toInt(&ok);
        if (ok) {
            identity.hasVersion = true;
            identity.firmwareVersion = value;
        }
    }
    identity.triggerCapable = reply.size() > 10 && reply.at(10) == 'A';
    identity.controllerId = QString::fromLatin1(reply.mid(2, reply.size() - 3));
    return identity;
}

bool applyIdentification(Connection &connection, const ControllerIdentity &identity)
{
    if (!identity.valid)
        return false;
    if (identity.variantM)
        connection.setVariantM(true);
    if (identity.hasVersion)
        connection.setFirmwareVersion(identity.firmwareVersion);
    if (identity.triggerCapable)
        connection.setTriggerCapable(true);
    return true;
}

ControllerIdentity identifyController(Connection &connection, int stopAttempts)
{
    QByteArray reply;
    for (int i = 0; i < stopAttempts; ++i) {
        connection.clearLiveStream();
        connection.waitForReply(reply);
    }
    connection.getControllerId();
    connection.waitForReply(reply);
    const ControllerIdentity identity = parseIdentification(reply);
    applyIdentification(connection, identity);
    return identity;
}
