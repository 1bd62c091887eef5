// A small HTTP/1.1 server on a free loopback port, in a thread of the test, that serves one file
// per path and misbehaves on request: a status instead of the file, a connection dropped or
// stalled after some bytes, no range support, no length, a file that changes between requests,
// a broken If-Range. Every request is recorded.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace sorvane_test {

class FaultServer {
public:
    // How one request is answered.
    struct Behaviour {
        int status = 0;               // answer with this status and a short body instead of the file
        std::int64_t dropAfter = -1;  // close the connection after this many bytes of the body
        std::int64_t stallAfter = -1; // send this many bytes of the body, then nothing until the client goes
        bool ranges = true;           // honour "Range: bytes=N-"; else always the whole file with 200
        bool length = true;           // send Content-Length; else end the body by closing the connection
        bool validators = true;       // send ETag and Last-Modified
        bool honourIfRange = true;    // false: a broken server that answers 206 though If-Range does not match
        std::optional<std::string> replaceContent; // before answering, the file changes to this (a new version)
    };

    struct Request {
        std::string path;
        std::string range;   // the Range header, empty when absent
        std::string ifRange; // the If-Range header, empty when absent
        int status = 0;      // the status answered
    };

    FaultServer();
    ~FaultServer();
    FaultServer(const FaultServer&) = delete;
    FaultServer& operator=(const FaultServer&) = delete;

    // Serves `content` at /path; each call makes a new version (new ETag and Last-Modified).
    void SetFile(const std::string& path, std::string content);
    // Behaviours for the coming requests of any path, in order; the last one stays.
    void Script(std::vector<Behaviour> behaviours);

    int Port() const { return m_port; }
    std::string Url(const std::string& path) const;
    std::vector<Request> Requests() const;
    std::string Content(const std::string& path) const;

private:
    struct File {
        std::string content;
        int version = 0;
    };

    void Serve();
    void Handle(int fd);
    bool Answer(int fd, const std::string& head);
    Behaviour NextBehaviour();
    bool SendAll(int fd, const char* data, size_t size);
    void WaitUntilClosed(int fd);

    int m_listen = -1;
    int m_wake[2] = {-1, -1};
    int m_port = 0;
    std::atomic<bool> m_stopping{false};
    mutable std::mutex m_mutex;
    std::map<std::string, File> m_files;
    std::vector<Behaviour> m_script{Behaviour{}};
    size_t m_nextBehaviour = 0;
    std::vector<Request> m_requests;
    int m_versions = 0;
    std::vector<std::thread> m_connections;
    std::thread m_acceptor;
};

} // namespace sorvane_test
