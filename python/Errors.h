#pragma once

#include <stdexcept>
#include <string>

// The failures a script sees. Each is raised in Python as the exception of
// the same meaning (Module.cpp): all derive from beamstab.Error.
namespace beamstab {

struct Error : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

// The link could not be made (address, port, refused connection) or broke.
struct ConnectionFailed : Error
{
    using Error::Error;
};

// The controller did not answer in time.
struct NoReply : Error
{
    using Error::Error;
};

// The controller answered the identification with something else.
struct IdentificationFailed : Error
{
    using Error::Error;
};

// The controller refused a command, or a stream did not start or stop.
struct CommandFailed : Error
{
    using Error::Error;
};

} // namespace beamstab
