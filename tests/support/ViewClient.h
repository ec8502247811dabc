#pragma once

// A plain client of the live view, as a browser talks to it: an HTTP request,
// or a WebSocket that asks for columns and reads every message.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ViewUpdate.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

namespace ni_usb_daq::test {

namespace view_client {
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;
}  // namespace view_client

/// "PREFIX:PORT" ("127.0.0.1:8080", "http://localhost:8080").
inline std::string withPort(std::string_view prefix, std::uint16_t port) {
    std::string text(prefix);
    return text.append(":").append(std::to_string(port));
}

/// The status and body of one request to 127.0.0.1:`port`; `headers` are
/// added to it (a Host header among them replaces the usual one).
inline std::pair<unsigned, std::string> viewRequest(
    std::uint16_t port, const std::string& target,
    const std::vector<std::pair<std::string, std::string>>& headers = {},
    view_client::http::verb method = view_client::http::verb::get) {
    using namespace view_client;
    net::io_context io;
    beast::tcp_stream stream(io);
    stream.connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), port));
    http::request<http::empty_body> request(method, target, 11);
    request.set(http::field::host, withPort("127.0.0.1", port));
    for (const auto& [name, value] : headers) {
        request.set(name, value);
    }
    http::write(stream, request);
    beast::flat_buffer buffer;
    http::response<http::string_body> response;
    beast::error_code error;
    http::read(stream, buffer, response, error);
    return {error ? 0U : response.result_int(), response.body()};
}

/// One page's WebSocket to the view at 127.0.0.1:`port`.
class ViewSocket {
public:
    /// Connects with `origin` as the Origin header; upgraded() says whether
    /// the view took it, and status() the HTTP status it answered with.
    ViewSocket(std::uint16_t port, const std::string& origin) : ws_(io_) {
        using namespace view_client;
        const std::string host = withPort("127.0.0.1", port);
        beast::get_lowest_layer(ws_).connect(
            tcp::endpoint(net::ip::make_address("127.0.0.1"), port));
        ws_.set_option(websocket::stream_base::decorator(
            [origin](websocket::request_type& req) { req.set(http::field::origin, origin); }));
        websocket::response_type response;
        beast::error_code error;
        ws_.handshake(response, host, "/data", error);
        status_ = response.result_int();
        upgraded_ = !error;
    }

    bool upgraded() const { return upgraded_; }
    unsigned status() const { return status_; }

    void send(const std::string& text) {
        ws_.text(true);
        ws_.write(view_client::net::buffer(text));
    }

    void ask(unsigned columns, double windowS) {
        std::string message = "{\"columns\":";
        message.append(std::to_string(columns)).append(",\"window_s\":");
        send(message.append(std::to_string(windowS)).append("}"));
    }

    /// The next message and whether it is text; false when the socket closed.
    bool read(std::string& message, bool& text) {
        view_client::beast::flat_buffer buffer;
        view_client::beast::error_code error;
        ws_.read(buffer, error);
        if (error) {
            return false;
        }
        text = ws_.got_text();
        message = view_client::beast::buffers_to_string(buffer.data());
        return true;
    }

    /// Reads until a binary update comes; false when the socket closed first.
    bool readUpdate(std::string& message) {
        bool text = true;
        while (read(message, text)) {
            if (!text) {
                return true;
            }
        }
        return false;
    }

private:
    view_client::net::io_context io_;
    view_client::websocket::stream<view_client::beast::tcp_stream> ws_;
    unsigned status_ = 0;
    bool upgraded_ = false;
};

}  // namespace ni_usb_daq::test
