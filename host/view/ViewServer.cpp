// Boost.Beast over Asio, on one thread: every session and the update timer
// run there, so they share the list of pages without a lock; only the view
// state, written by the recording thread, is behind one.
#include "ViewServer.h"

#include <atomic>
#include <chrono>
#include <exception>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <nlohmann/json.hpp>

#include "HostError.h"
#include "Platform.h"
#include "ViewProtocol.h"
#include "ViewState.h"

namespace ni_usb_daq::host::view {

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {

constexpr std::chrono::milliseconds kUpdateInterval{33};
constexpr std::chrono::seconds kRequestTimeout{10};
/// Pages at once; more are told the server is busy.
constexpr std::size_t kMostPages = 32;
constexpr std::string_view kServerName = "ni-usb-daq-host";
/// The page may run its own inline code and talk to its own origin, nothing else.
constexpr std::string_view kPagePolicy =
    "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
    "connect-src 'self'; img-src data:; frame-ancestors 'none'";

class DataSession;

/// What every session of one server shares; used on the server's thread only.
struct Shared {
    const ViewState& state;
    HostCheck check;
    std::string_view page;
    std::vector<std::weak_ptr<DataSession>> pages;

    /// Pages still open, the closed ones forgotten.
    std::vector<std::shared_ptr<DataSession>> openPages() {
        std::erase_if(pages, [](const std::weak_ptr<DataSession>& page) { return page.expired(); });
        std::vector<std::shared_ptr<DataSession>> open;
        for (const auto& page : pages) {
            if (auto held = page.lock()) {
                open.push_back(std::move(held));
            }
        }
        return open;
    }
};

/// One page's WebSocket: reads what the page asks to see, writes the status
/// when it changes and an update each tick, one message at a time.
class DataSession : public std::enable_shared_from_this<DataSession> {
public:
    DataSession(tcp::socket socket, Shared& shared) : ws_(std::move(socket)), shared_(shared) {}
    DataSession(const DataSession&) = delete;
    DataSession& operator=(const DataSession&) = delete;

    /// Gone once nothing of it is in flight: its close is over.
    ~DataSession() {
        if (closing_) {
            --*closing_;
        }
    }

    void accept(const http::request<http::empty_body>& request) {
        ws_.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
        ws_.set_option(websocket::stream_base::decorator([](websocket::response_type& response) {
            response.set(http::field::server, kServerName);
        }));
        ws_.read_message_max(kMaxClientMessageBytes);
        ws_.async_accept(request,
                         beast::bind_front_handler(&DataSession::accepted, shared_from_this()));
    }

    /// Time for an update.
    void tick() {
        updateDue_ = true;
        pump();
    }

    /// The run is over: the last status, then a normal close, so that the
    /// page shows how the run ended instead of trying to reconnect.
    void finish(std::shared_ptr<std::atomic<int>> closing) {
        if (closed_) {
            return;
        }
        closing_ = std::move(closing);
        ++*closing_;
        finishing_ = true;
        pump();
    }

private:
    void accepted(beast::error_code error) {
        if (error) {
            return;
        }
        shared_.pages.push_back(weak_from_this());
        read();
        pump();
    }

    void read() {
        ws_.async_read(in_, beast::bind_front_handler(&DataSession::received, shared_from_this()));
    }

    void received(beast::error_code error, std::size_t) {
        if (error) {
            closed_ = true;  // closed, or a message over the limit (closed by the library)
            return;
        }
        const std::string text = beast::buffers_to_string(in_.data());
        in_.consume(in_.size());
        if (!ws_.got_text() || !ask(text)) {
            close(websocket::close_code::policy_error);
            return;
        }
        updateDue_ = true;
        pump();
        read();
    }

    /// Takes {"columns": N, "window_s": S}; false for anything else.
    bool ask(const std::string& text) {
        const auto message = nlohmann::json::parse(text, nullptr, false);
        if (!message.is_object() || !message.contains("columns") || !message.contains("window_s") ||
            !message["columns"].is_number_integer() || !message["window_s"].is_number()) {
            return false;
        }
        const auto columns = message["columns"].get<std::int64_t>();
        const auto window = message["window_s"].get<double>();
        if (columns < 1 || columns > kMaxColumns || !(window >= kShortestWindowS) ||
            !(window <= kLongestWindowS)) {
            return false;
        }
        cursor_.window = PageWindow{static_cast<std::uint32_t>(columns), window};
        cursor_.snapshotDue = true;
        return true;
    }

    void pump() {
        if (writing_ || closed_) {
            return;
        }
        if (auto status = shared_.state.statusSince(statusVersion_)) {
            text_ = std::move(*status);
            write(true, net::buffer(text_));
        } else if (finishing_) {
            close(websocket::close_code::normal);
        } else if (updateDue_ && shared_.state.update(cursor_, binary_)) {
            updateDue_ = false;
            write(false, net::buffer(binary_));
        }
    }

    void write(bool text, net::const_buffer message) {
        writing_ = true;
        ws_.text(text);
        ws_.async_write(message,
                        beast::bind_front_handler(&DataSession::written, shared_from_this()));
    }

    void written(beast::error_code error, std::size_t) {
        writing_ = false;
        if (error) {
            closed_ = true;
            return;
        }
        if (closeCode_) {
            close(*closeCode_);
            return;
        }
        pump();
    }

    void close(websocket::close_code code) {
        if (writing_) {
            closeCode_ = code;  // after the message in flight
            return;
        }
        closed_ = true;
        ws_.async_close(code, [self = shared_from_this()](beast::error_code) {});
    }

    websocket::stream<beast::tcp_stream> ws_;
    Shared& shared_;
    beast::flat_buffer in_;
    PageCursor cursor_;
    std::uint64_t statusVersion_ = 0;
    std::string text_;
    std::vector<std::uint8_t> binary_;
    std::optional<websocket::close_code> closeCode_;
    /// Pages still closing at the server's end, this one among them.
    std::shared_ptr<std::atomic<int>> closing_;
    bool finishing_ = false;
    bool writing_ = false;
    bool updateDue_ = false;
    bool closed_ = false;
};

/// One HTTP connection: the page, or the upgrade to a page's WebSocket.
class HttpSession : public std::enable_shared_from_this<HttpSession> {
public:
    HttpSession(tcp::socket socket, Shared& shared)
        : stream_(std::move(socket)), buffer_(kMaxRequestBytes), shared_(shared) {}

    void read() {
        parser_.emplace();
        parser_->header_limit(static_cast<std::uint32_t>(kMaxRequestBytes));
        stream_.expires_after(kRequestTimeout);
        http::async_read(stream_, buffer_, *parser_,
                         beast::bind_front_handler(&HttpSession::received, shared_from_this()));
    }

private:
    void received(beast::error_code error, std::size_t) {
        if (error == http::error::header_limit || error == http::error::buffer_overflow) {
            respond(http::status::request_header_fields_too_large, "request too large\n", false);
        } else if (error == http::error::end_of_stream || error == beast::error::timeout ||
                   error == net::error::operation_aborted || error == net::error::eof ||
                   error == net::error::connection_reset) {
            stream_.socket().shutdown(tcp::socket::shutdown_both, error);
        } else if (error) {
            respond(http::status::bad_request, "bad request\n", false);
        } else {
            handle(parser_->release());
        }
    }

    void handle(const http::request<http::empty_body>& request) {
        const std::string_view target = request.target();
        const bool page = target == kPagePath || target.starts_with("/?");
        if (!shared_.check.host(request[http::field::host])) {
            respond(http::status::forbidden, "forbidden\n", false);
        } else if (websocket::is_upgrade(request)) {
            upgrade(request);
        } else if (target != kDataPath && !page) {
            respond(http::status::not_found, "not found\n", request.keep_alive());
        } else if (request.method() != http::verb::get && request.method() != http::verb::head) {
            respond(http::status::method_not_allowed, "method not allowed\n", request.keep_alive());
        } else if (!page) {
            respond(http::status::upgrade_required, "a WebSocket\n", request.keep_alive());
        } else {
            respondPage(request);
        }
    }

    void upgrade(const http::request<http::empty_body>& request) {
        if (request.target() != kDataPath) {
            respond(http::status::not_found, "not found\n", false);
        } else if (!shared_.check.origin(request[http::field::origin])) {
            respond(http::status::forbidden, "forbidden\n", false);
        } else if (shared_.openPages().size() >= kMostPages) {
            respond(http::status::service_unavailable, "too many pages open\n", false);
        } else {
            stream_.expires_never();
            std::make_shared<DataSession>(stream_.release_socket(), shared_)->accept(request);
        }
    }

    void respondPage(const http::request<http::empty_body>& request) {
        auto& response = response_.emplace(http::status::ok, request.version());
        response.set(http::field::content_type, "text/html; charset=utf-8");
        response.set("Content-Security-Policy", kPagePolicy);
        response.set("X-Content-Type-Options", "nosniff");
        response.body() = shared_.page;
        response.prepare_payload();
        if (request.method() == http::verb::head) {
            response.body().clear();
        }
        send(request.keep_alive());
    }

    void respond(http::status status, std::string_view body, bool keepAlive) {
        auto& response = response_.emplace(status, 11);
        response.set(http::field::content_type, "text/plain; charset=utf-8");
        response.body() = body;
        response.prepare_payload();
        send(keepAlive);
    }

    void send(bool keepAlive) {
        auto& response = *response_;
        response.set(http::field::server, kServerName);
        response.set(http::field::cache_control, "no-store");
        response.keep_alive(keepAlive);
        http::async_write(
            stream_, response,
            beast::bind_front_handler(&HttpSession::sent, shared_from_this(), keepAlive));
    }

    void sent(bool keepAlive, beast::error_code error, std::size_t) {
        if (!error && keepAlive) {
            read();
            return;
        }
        stream_.socket().shutdown(tcp::socket::shutdown_send, error);
    }

    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::empty_body>> parser_;
    std::optional<http::response<http::string_body>> response_;
    Shared& shared_;
};

tcp::endpoint endpointOf(const ViewAddress& where) {
    beast::error_code error;
    const auto address = net::ip::make_address(where.address, error);
    if (error) {
        throw HostError("view: \"" + where.address + "\" is not an IP address", kUsageExitCode);
    }
    return {address, where.port};
}

}  // namespace

class ViewServer::Impl {
public:
    Impl(const ViewState& state, const ViewAddress& where, std::string_view page)
        : acceptor_(io_), timer_(io_) {
        listen(endpointOf(where));
        port_ = acceptor_.local_endpoint().port();
        shared_.emplace(Shared{state, HostCheck(where.address, port_), page, {}});
        accept();
        tick();
        thread_ = std::thread([this] { run(); });
    }

    ~Impl() {
        closePages();
        io_.stop();
        thread_.join();
    }

    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    const std::string& url() const { return shared_->check.url(); }
    std::uint16_t port() const { return port_; }

private:
    void listen(const tcp::endpoint& endpoint) {
        const auto fail = [&endpoint](const beast::error_code& error) {
            std::string message = "view: cannot listen on ";
            message.append(endpointText(endpoint)).append(": ").append(error.message());
            throw HostError(message, kUsageExitCode);
        };
        beast::error_code error;
        acceptor_.open(endpoint.protocol(), error);
        if (!error && platform::listenerReusesAddress()) {
            acceptor_.set_option(net::socket_base::reuse_address(true), error);
        }
        if (!error) {
            acceptor_.bind(endpoint, error);
        }
        if (!error) {
            acceptor_.listen(net::socket_base::max_listen_connections, error);
        }
        if (error) {
            fail(error);
        }
    }

    static std::string endpointText(const tcp::endpoint& endpoint) {
        std::string text = endpoint.address().to_string();
        if (endpoint.address().is_v6()) {
            text.insert(0, "[").append("]");
        }
        return text.append(":").append(std::to_string(endpoint.port()));
    }

    void accept() {
        acceptor_.async_accept([this](beast::error_code error, tcp::socket socket) {
            if (error == net::error::operation_aborted) {
                return;
            }
            if (!error) {
                std::make_shared<HttpSession>(std::move(socket), *shared_)->read();
            }
            accept();
        });
    }

    void tick() {
        timer_.expires_after(kUpdateInterval);
        timer_.async_wait([this](beast::error_code error) {
            if (error) {
                return;
            }
            for (const auto& page : shared_->openPages()) {
                page->tick();
            }
            tick();
        });
    }

    /// Gives the open pages a moment to receive the last status and a close.
    void closePages() {
        constexpr auto kLongest = std::chrono::milliseconds(500);
        auto closing = std::make_shared<std::atomic<int>>(0);
        auto posted = std::make_shared<std::atomic<bool>>(false);
        net::post(io_, [this, closing, posted] {
            for (const auto& page : shared_->openPages()) {
                page->finish(closing);
            }
            *posted = true;
        });
        const auto deadline = std::chrono::steady_clock::now() + kLongest;
        while ((!*posted || *closing > 0) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    /// A handler that throws loses its connection, never the server.
    void run() {
        while (!io_.stopped()) {
            try {
                io_.run();
            } catch (const std::exception& error) {
                std::cerr << kProgramName << ": view: " << error.what() << '\n';
            }
        }
    }

    // The sessions the context still holds refer to shared_: it goes last.
    std::optional<Shared> shared_;
    net::io_context io_;
    tcp::acceptor acceptor_;
    net::steady_timer timer_;
    std::uint16_t port_ = 0;
    std::thread thread_;
};

ViewServer::ViewServer(const ViewState& state, const ViewAddress& where, std::string_view page)
    : impl_(std::make_unique<Impl>(state, where, page)) {}

ViewServer::~ViewServer() = default;

const std::string& ViewServer::url() const {
    return impl_->url();
}

std::uint16_t ViewServer::port() const {
    return impl_->port();
}

}  // namespace ni_usb_daq::host::view
