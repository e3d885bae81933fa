#include "sim/view/listener.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <list>
#include <mutex>
#include <optional>
#include <thread>

#include "sim/view/server.h"

namespace vantrel::sim::view {

using Clock = std::chrono::steady_clock;

// A request's headers and body must arrive within this from when the server waits for it,
// however slowly they trickle in.
constexpr auto kRequestTime = std::chrono::seconds(10);
// How long a connection may idle between two requests.
constexpr auto kIdleTime = std::chrono::seconds(2);
constexpr auto kWriteTime = std::chrono::seconds(5);
constexpr size_t kRequestsPerConnection = 100;

// The open connections. Over the limit, a new one closes the one that has waited longest for a
// request (idle, or trickling one in); a connection answering a request is left alone.
class Connections {
public:
    struct Entry {
        int fd;
        Clock::time_point waitingSince;
        bool answering = false;
        bool closed = false;  // shut down by us; its thread is ending it
    };
    using Handle = std::list<Entry>::iterator;

    // The new connection's entry, or none when it is refused.
    std::optional<Handle> open(int fd) {
        std::lock_guard lock(mutex_);
        if (stopping_) return std::nullopt;
        if (live_ >= kMaxConnections) {
            auto oldest = entries_.end();
            for (auto it = entries_.begin(); it != entries_.end(); ++it)
                if (!it->answering && !it->closed && (oldest == entries_.end() || it->waitingSince < oldest->waitingSince))
                    oldest = it;
            if (oldest == entries_.end()) return std::nullopt;
            shut(*oldest);
        }
        ++live_;
        entries_.push_back({fd, Clock::now()});
        return std::prev(entries_.end());
    }
    void waiting(Handle h) {
        std::lock_guard lock(mutex_);
        h->answering = false;
        h->waitingSince = Clock::now();
    }
    void answering(Handle h) {
        std::lock_guard lock(mutex_);
        h->answering = true;
    }
    // Forgets the entry before its socket is closed, so no one shuts a number reused by then.
    void remove(Handle h) {
        std::lock_guard lock(mutex_);
        if (!h->closed) --live_;
        entries_.erase(h);
    }
    // The server stops: every connection ends, and no new one is taken.
    void stopAll() {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        for (auto& e : entries_)
            if (!e.closed) shut(e);
    }

private:
    // Its thread, waiting to read or write, wakes and ends the connection.
    void shut(Entry& e) {
        ::shutdown(e.fd, SHUT_RDWR);
        e.closed = true;
        --live_;
    }

    std::mutex mutex_;
    std::list<Entry> entries_;
    size_t live_ = 0;
    bool stopping_ = false;
};

namespace {

// The connection the calling thread serves.
thread_local std::optional<Connections::Handle> tConnection;
// Set while a connection is handed over with no thread of its own to serve it.
thread_local bool tRefuse = false;

// One thread per connection, which the limit above bounds; shutdown ends them all.
class ConnectionThreads final : public httplib::TaskQueue {
public:
    explicit ConnectionThreads(Connections& connections) : connections_(connections) {}

    void enqueue(std::function<void()> serve) override {
        {
            std::lock_guard lock(mutex_);
            ++running_;
        }
        try {
            std::thread([this, serve] {
                serve();
                std::unique_lock lock(mutex_);
                --running_;
                std::notify_all_at_thread_exit(done_, std::move(lock));
            }).detach();
        } catch (const std::system_error&) {
            {
                std::lock_guard lock(mutex_);
                --running_;
            }
            tRefuse = true;  // no thread: the connection is closed at once
            serve();
            tRefuse = false;
        }
    }

    void shutdown() override {
        connections_.stopAll();
        std::unique_lock lock(mutex_);
        done_.wait(lock, [this] { return running_ == 0; });
    }

private:
    Connections& connections_;
    std::mutex mutex_;
    std::condition_variable done_;
    size_t running_ = 0;
};

// A connection's socket as httplib reads and writes it: buffered, every read bounded by the
// deadline of the request being read, every write by kWriteTime.
class ConnectionStream final : public httplib::Stream {
public:
    explicit ConnectionStream(int fd) : fd_(fd) {}

    void setDeadline(Clock::time_point deadline) { deadline_ = deadline; }
    // Whether a request's first byte is here or arrives before `until`.
    bool waitForData(Clock::time_point until) const { return begin_ < end_ || waitFor(POLLIN, until); }

    bool is_readable() const override { return waitForData(deadline_); }
    bool is_writable() const override { return waitFor(POLLOUT, Clock::now() + kWriteTime) && peerOpen(); }

    ssize_t read(char* ptr, size_t size) override {
        if (begin_ == end_) {
            if (!waitFor(POLLIN, deadline_)) return -1;
            ssize_t n;
            do n = ::recv(fd_, buffer_, sizeof buffer_, 0);
            while (n < 0 && errno == EINTR);
            if (n <= 0) return n;
            begin_ = 0;
            end_ = static_cast<size_t>(n);
        }
        size_t n = std::min(size, end_ - begin_);
        std::memcpy(ptr, buffer_ + begin_, n);
        begin_ += n;
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char* ptr, size_t size) override {
        if (!waitFor(POLLOUT, Clock::now() + kWriteTime)) return -1;
        ssize_t n;
        do n = ::send(fd_, ptr, size, MSG_NOSIGNAL);
        while (n < 0 && errno == EINTR);
        return n;
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override { address(::getpeername, ip, port); }
    void get_local_ip_and_port(std::string& ip, int& port) const override { address(::getsockname, ip, port); }
    int socket() const override { return fd_; }

private:
    // Ready before `until`; an error or hang-up counts as ready, for the read or write to report.
    bool waitFor(short events, Clock::time_point until) const {
        for (;;) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
            if (left <= 0) return false;
            pollfd p{fd_, events, 0};
            int r = ::poll(&p, 1, static_cast<int>(left));
            if (r > 0) return true;
            if (r < 0 && errno != EINTR) return false;
        }
    }

    bool peerOpen() const {
        char c;
        ssize_t n = ::recv(fd_, &c, 1, MSG_PEEK | MSG_DONTWAIT);
        return n > 0 || (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR));
    }

    template <class Name>
    void address(Name name, std::string& ip, int& port) const {
        sockaddr_in a{};
        socklen_t length = sizeof a;
        char text[INET_ADDRSTRLEN] = "";
        ip.clear();
        port = 0;
        if (name(fd_, reinterpret_cast<sockaddr*>(&a), &length) != 0 || a.sin_family != AF_INET) return;
        if (::inet_ntop(AF_INET, &a.sin_addr, text, sizeof text)) ip = text;
        port = ntohs(a.sin_port);
    }

    int fd_;
    Clock::time_point deadline_ = Clock::now() + kRequestTime;
    char buffer_[4096];
    size_t begin_ = 0, end_ = 0;
};

}  // namespace

Listener::Listener() : connections_(std::make_unique<Connections>()) {
    new_task_queue = [this] { return new ConnectionThreads(*connections_); };
}

Listener::~Listener() = default;

// A burst of connections waits in the kernel for the accept loop rather than being dropped.
void Listener::deepenBacklog() { ::listen(svr_sock_, 128); }

void Listener::answering() {
    if (tConnection) connections_->answering(*tConnection);
}

bool Listener::process_and_close_socket(int fd) {
    auto handle = tRefuse ? std::nullopt : connections_->open(fd);
    if (handle) {
        ConnectionStream stream(fd);
        tConnection = *handle;
        for (size_t served = 0; served < kRequestsPerConnection && is_running(); ++served) {
            connections_->waiting(*handle);
            const auto now = Clock::now();
            stream.setDeadline(now + kRequestTime);
            if (served > 0 && !stream.waitForData(now + kIdleTime)) break;
            bool closed = false;
            if (!process_request(stream, served + 1 == kRequestsPerConnection, closed, nullptr) || closed) break;
        }
        tConnection.reset();
        connections_->remove(*handle);
    }
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
    return true;
}

}  // namespace vantrel::sim::view
