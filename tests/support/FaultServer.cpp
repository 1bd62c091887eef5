#include "FaultServer.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <stdexcept>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sorvane_test {

namespace {

constexpr size_t kChunk = 16 * 1024;
constexpr std::time_t kFirstVersionTime = 1700000000;

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::string HttpDate(std::time_t when)
{
    std::tm utc{};
    gmtime_r(&when, &utc);
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &utc);
    return text;
}

std::string Header(const std::string& head, const std::string& name)
{
    std::string lower = Lower(head);
    size_t at = lower.find("\r\n" + name + ":");
    if (at == std::string::npos)
        return {};
    size_t start = at + 2 + name.size() + 1;
    size_t end = head.find("\r\n", start);
    std::string value = head.substr(start, end - start);
    value.erase(0, value.find_first_not_of(" \t"));
    return value;
}

} // namespace

FaultServer::FaultServer()
{
    m_listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(m_listen, 16) != 0 ||
        getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length) != 0 || pipe2(m_wake, O_CLOEXEC) != 0)
        throw std::runtime_error("the fault server cannot listen on loopback");
    m_port = ntohs(address.sin_port);
    m_acceptor = std::thread([this] { Serve(); });
}

FaultServer::~FaultServer()
{
    m_stopping = true;
    (void)!write(m_wake[1], "x", 1);
    m_acceptor.join();
    for (std::thread& connection : m_connections)
        connection.join();
    close(m_listen);
    close(m_wake[0]);
    close(m_wake[1]);
}

void FaultServer::SetFile(const std::string& path, std::string content)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_files[path] = File{std::move(content), ++m_versions};
}

void FaultServer::Script(std::vector<Behaviour> behaviours)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_script = behaviours.empty() ? std::vector<Behaviour>{Behaviour{}} : std::move(behaviours);
    m_nextBehaviour = 0;
}

std::string FaultServer::Url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

std::vector<FaultServer::Request> FaultServer::Requests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

std::string FaultServer::Content(const std::string& path) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto found = m_files.find(path);
    return found == m_files.end() ? std::string() : found->second.content;
}

FaultServer::Behaviour FaultServer::NextBehaviour()
{
    Behaviour behaviour = m_script[std::min(m_nextBehaviour, m_script.size() - 1)];
    ++m_nextBehaviour;
    return behaviour;
}

void FaultServer::Serve()
{
    while (!m_stopping) {
        pollfd fds[2] = {{m_listen, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR)
            return;
        if (fds[1].revents)
            return;
        if (fds[0].revents & POLLIN) {
            int fd = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0)
                m_connections.emplace_back([this, fd] {
                    Handle(fd);
                    close(fd);
                });
        }
    }
}

// Reads requests on one connection until the client or an answer closes it.
void FaultServer::Handle(int fd)
{
    std::string buffer;
    char data[4096];
    while (!m_stopping) {
        size_t end;
        while ((end = buffer.find("\r\n\r\n")) == std::string::npos) {
            pollfd fds[2] = {{fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
            if (poll(fds, 2, -1) < 0 || fds[1].revents)
                return;
            ssize_t got = read(fd, data, sizeof data);
            if (got <= 0)
                return;
            buffer.append(data, static_cast<size_t>(got));
        }
        std::string head = "\r\n" + buffer.substr(0, end + 2);
        buffer.erase(0, end + 4);
        if (!Answer(fd, head))
            return;
    }
}

bool FaultServer::SendAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        ssize_t sent = send(fd, data, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        data += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

void FaultServer::WaitUntilClosed(int fd)
{
    char data[256];
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 || fds[1].revents || read(fd, data, sizeof data) <= 0)
            return;
    }
}

// Answers one request; false when the connection must end.
bool FaultServer::Answer(int fd, const std::string& head)
{
    size_t pathStart = head.find(' ') + 1;
    std::string path = head.substr(pathStart, head.find(' ', pathStart) - pathStart);
    Request request{path, Header(head, "range"), Header(head, "if-range"), 0};

    std::unique_lock<std::mutex> lock(m_mutex);
    Behaviour behaviour = NextBehaviour();
    if (behaviour.replaceContent)
        m_files[path] = File{*behaviour.replaceContent, ++m_versions};
    auto found = m_files.find(path);
    File file = found == m_files.end() ? File{} : found->second;
    int status = behaviour.status ? behaviour.status : found == m_files.end() ? 404 : 200;
    std::string etag = "\"v" + std::to_string(file.version) + "\"";
    std::string lastModified = HttpDate(kFirstVersionTime + file.version);

    std::string body;
    std::string headers;
    if (status == 200) {
        body = file.content;
        uint64_t from = 0;
        bool ifRangeMatches = request.ifRange.empty() || request.ifRange == etag || request.ifRange == lastModified;
        if (behaviour.ranges && std::sscanf(request.range.c_str(), "bytes=%" SCNu64 "-", &from) == 1 &&
            (ifRangeMatches || !behaviour.honourIfRange)) {
            if (from >= file.content.size()) {
                status = 416;
                headers += "Content-Range: bytes */" + std::to_string(file.content.size()) + "\r\n";
                body.clear();
            } else {
                status = 206;
                headers += "Content-Range: bytes " + std::to_string(from) + "-" +
                           std::to_string(file.content.size() - 1) + "/" + std::to_string(file.content.size()) +
                           "\r\n";
                body = file.content.substr(from);
            }
        }
        if (behaviour.validators)
            headers += "ETag: " + etag + "\r\nLast-Modified: " + lastModified + "\r\n";
        if (behaviour.ranges)
            headers += "Accept-Ranges: bytes\r\n";
    } else {
        body = "status " + std::to_string(status) + "\n";
    }
    request.status = status;
    m_requests.push_back(request);
    lock.unlock();

    bool keepOpen = behaviour.length;
    std::string response = "HTTP/1.1 " + std::to_string(status) + " Fault\r\n" + headers;
    if (behaviour.length)
        response += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    else
        response += "Connection: close\r\n";
    response += "\r\n";
    if (!SendAll(fd, response.data(), response.size()))
        return false;

    size_t limit = body.size();
    if (behaviour.dropAfter >= 0)
        limit = std::min(limit, static_cast<size_t>(behaviour.dropAfter));
    if (behaviour.stallAfter >= 0)
        limit = std::min(limit, static_cast<size_t>(behaviour.stallAfter));
    for (size_t sent = 0; sent < limit; sent += kChunk)
        if (m_stopping || !SendAll(fd, body.data() + sent, std::min(kChunk, limit - sent)))
            return false;
    if (behaviour.stallAfter >= 0 && limit < body.size()) {
        WaitUntilClosed(fd);
        return false;
    }
    if (behaviour.dropAfter >= 0 && limit < body.size())
        return false;
    return keepOpen;
}

} // namespace sorvane_test
