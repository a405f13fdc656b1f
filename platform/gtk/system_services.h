// Files, processes and the system log on Linux.
#pragma once

#include "platform/system.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace gtk {

// The local file system.
class LocalFiles : public platform::Files {
public:
    // The whole content of the file at `path`, or nullopt when it cannot be read.
    std::optional<std::vector<std::uint8_t>> read(const std::string& path) const override;
    // Whether a regular file at `path` exists and may be executed by this user.
    bool isExecutableFile(const std::string& path) const override;
};

// Programs started on their own, in a session of their own, never waited for.
class DetachedProcesses : public platform::Processes {
public:
    // This process's identifier.
    int processIdentifier() const override;
    // Starts the program at the path `executable` with `arguments`, detached from this process;
    // nullopt on success, the system's error text otherwise.
    std::optional<std::string> launch(const std::string& executable,
                                      const std::vector<std::string>& arguments) override;
};

// The system log through syslog(3), under the name "Velmora" with the process identifier.
class SystemLog : public platform::Log {
public:
    // Opens the connection to the system log, once for the whole process.
    SystemLog();
    // Writes one line to the system log.
    void write(const std::string& line) override;
};

}  // namespace gtk
