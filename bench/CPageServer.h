#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A tiny HTTP/1.1 server on 127.0.0.1 for the simulator to forward tunnelled
// connections to: one request per connection, answered from fixed resources
// with Content-Length and Connection: close. It runs on its own thread and
// serves one connection at a time, as the tunnel delivers them.
class CPageServer {
public:
    // One request as it was served.
    struct Served {
        std::string path;                                // the request target
        size_t requestBytes;                             // the request as received, header and body
        size_t responseBytes;                            // the answer as sent, header and body
        std::chrono::system_clock::time_point answered;  // when the answer had been written
    };

    CPageServer();
    ~CPageServer();
    CPageServer(const CPageServer&) = delete;
    CPageServer& operator=(const CPageServer&) = delete;

    // Adds a resource served at `path`.
    void Add(const std::string& path, const std::string& contentType, std::string body);
    // Binds and starts serving; false when no socket could be had.
    bool Start();
    // The bound port; 0 before Start.
    unsigned Port() const { return m_nPort; }
    // The requests served so far, oldest first.
    std::vector<Served> Log() const;
    // Sum of the bodies of all resources.
    size_t ResourceBytes() const;

private:
    // One resource.
    struct Resource {
        std::string contentType;  // its Content-Type
        std::string body;         // its bytes
    };

    void Run();
    void Serve(int fd);

    std::map<std::string, Resource> m_resources;  // by path; fixed once started
    int m_listenFd = -1;                          // the listening socket
    unsigned m_nPort = 0;                         // its port
    std::atomic<bool> m_bStop{false};             // asks the thread to end
    std::thread m_thread;                         // accepts and serves
    mutable std::mutex m_lock;                    // guards m_log
    std::vector<Served> m_log;                    // what was served
};
