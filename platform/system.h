// Files, processes and the system log.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

class Files {
public:
    virtual ~Files() = default;
    // The whole content of the file at `path`, or nullopt when it cannot be read.
    virtual std::optional<std::vector<std::uint8_t>> read(const std::string& path) const = 0;
    // Whether a regular file at `path` exists and may be executed by this user.
    virtual bool isExecutableFile(const std::string& path) const = 0;
};

class Processes {
public:
    virtual ~Processes() = default;
    // This process's identifier.
    virtual int processIdentifier() const = 0;
    // Starts `executable` with `arguments` as a detached process that outlives this one;
    // nullopt on success, the system's error text otherwise.
    virtual std::optional<std::string> launch(const std::string& executable,
                                              const std::vector<std::string>& arguments) = 0;
};

class Log {
public:
    virtual ~Log() = default;
    // Writes one line to the system log.
    virtual void write(const std::string& line) = 0;
};

}  // namespace platform
