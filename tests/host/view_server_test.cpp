// The live view's server over loopback, as browsers and hostile pages meet it.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "HostError.h"
#include "StreamSession.h"
#include "ViewServer.h"
#include "ViewState.h"
#include "support/ViewClient.h"

namespace ni_usb_daq::host::view {
namespace {

using test::viewRequest;
using test::ViewSocket;

class ViewServerTest : public ::testing::Test {
protected:
    ViewServerTest() : server_(state_, {"127.0.0.1", 0}, "<!doctype html><p>page</p>") {
        RecordingFacts facts;
        facts.device = "Dev1";
        facts.channels = {{"Dev1/ai0", -10, 10, "RSE"}};
        facts.sampleRateHz = 10'000.0;
        state_.begin(facts);
    }

    std::string origin() const { return test::withPort("http://127.0.0.1", server_.port()); }

    /// Frames of a ramp, as fast as the state takes them, until stopped.
    std::thread feeder(std::atomic<bool>& stop, std::uint64_t& fed) {
        return std::thread([this, &stop, &fed] {
            const std::vector<double> values(1'000, 0.25);
            FrameRecord record;
            record.sampleCount = 1'000;
            record.channelCount = 1;
            record.samples = values;
            while (!stop) {
                record.firstSample = fed;
                state_.frame(record);
                fed += 1'000;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    }

    ViewState state_{""};
    ViewServer server_;
};

TEST_F(ViewServerTest, ServesItsPageOnlyUnderItsOwnNameAndRefusesEverythingElse) {
    const auto port = server_.port();
    EXPECT_EQ(server_.url(), origin() + "/");
    EXPECT_EQ(viewRequest(port, "/"),
              std::make_pair(200U, std::string("<!doctype html><p>page</p>")));
    EXPECT_EQ(viewRequest(port, "/", {{"Host", test::withPort("localhost", port)}}).first, 200U);
    // A rebinding name pointing at this machine, and the right name at another port.
    EXPECT_EQ(viewRequest(port, "/", {{"Host", test::withPort("attacker.example", port)}}).first,
              403U);
    EXPECT_EQ(viewRequest(port, "/", {{"Host", "127.0.0.1:1"}}).first, 403U);
    EXPECT_EQ(viewRequest(port, "/etc/passwd").first, 404U);
    EXPECT_EQ(viewRequest(port, "/../x").first, 404U);
    EXPECT_EQ(viewRequest(port, "/", {}, test::view_client::http::verb::post).first, 405U);
    EXPECT_EQ(viewRequest(port, "/", {{"X-Filler", std::string(9'000, 'x')}}).first, 431U);
}

TEST_F(ViewServerTest, AForeignPageCannotOpenTheDataSocket) {
    ViewSocket foreign(server_.port(), "http://attacker.example");
    EXPECT_FALSE(foreign.upgraded());
    EXPECT_EQ(foreign.status(), 403U);
    ViewSocket otherPort(server_.port(), "http://127.0.0.1:1");
    EXPECT_FALSE(otherPort.upgraded());
    ViewSocket own(server_.port(), origin());
    EXPECT_TRUE(own.upgraded());
}

TEST_F(ViewServerTest, APageThatSendsWhatNoPageSendsIsClosed) {
    for (const std::string& message :
         {std::string(5'000, ' '), std::string("{\"columns\": 0, \"window_s\": 10}"),
          std::string("{\"columns\": 100, \"window_s\": 1e9}"), std::string("hello")}) {
        ViewSocket page(server_.port(), origin());
        ASSERT_TRUE(page.upgraded());
        page.send(message);
        std::string received;
        bool text = false;
        while (page.read(received, text)) {
        }
        SUCCEED() << "closed after " << message.substr(0, 40);
    }
}

TEST_F(ViewServerTest, EightPagesGetTheirUpdatesWhileOneThatNeverReadsHoldsNothingBack) {
    std::atomic<bool> stop = false;
    std::uint64_t fed = 0;
    ViewSocket stalled(server_.port(), origin());
    stalled.ask(8'192, 1.0);  // and never reads
    std::vector<std::unique_ptr<ViewSocket>> pages;
    for (int i = 0; i < 8; ++i) {
        pages.push_back(std::make_unique<ViewSocket>(server_.port(), origin()));
        ASSERT_TRUE(pages.back()->upgraded());
        pages.back()->ask(500, 5.0);
    }
    std::thread feeding = feeder(stop, fed);
    for (auto& page : pages) {
        std::string message;
        std::uint32_t last = 0;
        double next = -1;
        for (int n = 0; n < 5; ++n) {
            ASSERT_TRUE(page->readUpdate(message));
            const auto update = test::decodeViewUpdate(message);
            ASSERT_TRUE(update.valid);
            EXPECT_EQ(update.number, last + 1);
            if (next >= 0 && (update.flags & 1U) == 0) {
                EXPECT_EQ(update.firstColumn, next) << "columns continue where they ended";
            }
            next = update.firstColumn + update.columns;
            last = update.number;
            if (update.columns > 0) {
                EXPECT_EQ(update.last[0], 0.25F);
            }
        }
    }
    stop = true;
    feeding.join();
}

TEST_F(ViewServerTest, APortInUseIsAUsageError) {
    try {
        ViewServer second(state_, {"127.0.0.1", server_.port()}, "");
        FAIL() << "listened twice on one port";
    } catch (const HostError& error) {
        EXPECT_EQ(error.exitCode(), kUsageExitCode);
        EXPECT_NE(std::string(error.what()).find("cannot listen on 127.0.0.1:"), std::string::npos);
    }
    EXPECT_THROW(ViewServer(state_, {"no.such.address", 0}, ""), HostError);
}

}  // namespace
}  // namespace ni_usb_daq::host::view
