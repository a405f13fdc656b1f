// A velmora-service process for the tests, on a free loopback port with a fresh test CA, and curl against it.
#pragma once

#include <sys/types.h>
#include <string>
#include <vector>

namespace service::testing {

struct CurlResult {
    int exitCode = -1;    // curl's exit status: 0 done, 7 could not connect, 28 timed out, 52 empty reply
    int status = 0;       // HTTP status, 0 without an answer
    std::string headers;  // raw response headers
    std::string body;
};

class RunningService {
public:
    // Starts the service with these extra arguments; `secure` adds the test CA's server certificate.
    explicit RunningService(std::vector<std::string> arguments = {}, bool secure = true);
    ~RunningService();
    RunningService(const RunningService&) = delete;
    RunningService& operator=(const RunningService&) = delete;

    // Returns whether the service printed its ready line.
    bool ready() const { return port_ > 0; }
    // Returns the port it listens on.
    int port() const { return port_; }
    // Returns "https://host:port" (or http without certificate).
    std::string origin(const std::string& host) const;
    // Runs curl on the URL with the extra arguments, the test CA trusted and the service's hosts on 127.0.0.1.
    CurlResult curl(const std::string& url, const std::vector<std::string>& extra = {}) const;
    // POSTs a JSON body to a control path ("/control/...").
    CurlResult control(const std::string& path, const std::string& json) const;
    // GETs a control path.
    CurlResult controlGet(const std::string& path) const;
    // Stops the process and waits for it.
    void stop();

    // Returns the directory holding the test CA of this test process (made once).
    static const std::string& certificateDirectory();
    // Returns a fresh scratch directory for one test, removed with the process's scratch root.
    static std::string scratchDirectory();

private:
    pid_t pid_ = -1;
    int port_ = 0;
    bool secure_ = true;
};

}  // namespace service::testing
