// One page of the live view, without the page: connects to the view at
// 127.0.0.1:PORT with the view's own Origin, asks for COLUMNS columns over a
// WINDOW_S-second window, reads every message until the socket closes and
// prints what it read:
//   updates N bytes B seconds S
// N binary updates of B bytes in all (the text status messages not counted),
// S seconds from the first update to the last.
//   usage: view_client PORT [COLUMNS [WINDOW_S]]
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>

#include "ViewClient.h"

namespace {

struct Tally {
    unsigned long long updates = 0;
    unsigned long long bytes = 0;
    double seconds = 0.0;
};

Tally readUntilClosed(ni_usb_daq::test::ViewSocket& socket) {
    using Clock = std::chrono::steady_clock;
    Tally tally;
    Clock::time_point first;
    std::string message;
    bool text = false;
    while (socket.read(message, text)) {
        if (text) {
            continue;
        }
        const auto now = Clock::now();
        if (tally.updates++ == 0) {
            first = now;
        }
        tally.bytes += message.size();
        tally.seconds = std::chrono::duration<double>(now - first).count();
    }
    return tally;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: view_client PORT [COLUMNS [WINDOW_S]]\n");
        return 2;
    }
    try {
        const auto port = static_cast<std::uint16_t>(std::stoul(argv[1]));
        const unsigned columns = argc > 2 ? static_cast<unsigned>(std::stoul(argv[2])) : 1200U;
        const double windowS = argc > 3 ? std::stod(argv[3]) : 10.0;
        ni_usb_daq::test::ViewSocket socket(port,
                                            ni_usb_daq::test::withPort("http://127.0.0.1", port));
        if (!socket.upgraded()) {
            std::fprintf(stderr, "view_client: the view answered %u\n", socket.status());
            return 1;
        }
        socket.ask(columns, windowS);
        const Tally tally = readUntilClosed(socket);
        std::printf("updates %llu bytes %llu seconds %.3f\n", tally.updates, tally.bytes,
                    tally.seconds);
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "view_client: %s\n", error.what());
        return 1;
    }
}
