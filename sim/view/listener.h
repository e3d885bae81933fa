// httplib's server with our connections: its accept loop and request handling, a thread per
// connection, the connection limit and every request's deadlines.
#pragma once

#include <memory>

#include <httplib.h>

namespace vantrel::sim::view {

class Connections;

class Listener final : public httplib::Server {
public:
    Listener();
    ~Listener() override;

    // A burst of connections waits in the kernel for the accept loop rather than being dropped.
    void deepenBacklog();
    // The routes call this once a request's headers are in: its connection is no longer idle.
    void answering();

private:
    bool process_and_close_socket(int fd) override;

    std::unique_ptr<Connections> connections_;
};

}  // namespace vantrel::sim::view
