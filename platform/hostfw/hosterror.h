#pragma once

// The host framework's errors. ConfigError and DatabaseError are the system's own (base/error.h);
// HostError is what the framework raises when it is asked for something it cannot do now.

#include "base/error.h"

#include <QString>

namespace fis {

// The message is meant for the user; the host's error display shows it as it stands.
class HostError : public Error
{
public:
    explicit HostError(const QString &message, Kind kind = Kind::State)
        : Error(kind, message)
    {}
};

} // namespace fis
