#pragma once

// What the live view's server and its page say to each other.
//
// HTTP: "GET /" is the page (text/html); "GET /data" upgrades to the
// WebSocket that carries everything else. Any other path is 404, any other
// method 405. A request whose Host header is not the view's own address and
// port (plus "localhost" and "127.0.0.1" when it listens on loopback), or an
// upgrade whose Origin is not "http://" followed by such a host, is refused
// with 403. A request head over 8 KiB is refused with 431.
//
// Page -> server, text, at most 4 KiB:
//   {"columns": N, "window_s": S}
// N (1..8192) pixel columns across a window of S seconds (1..60). Sent when
// the socket opens and whenever the canvas width or the window changes; the
// server answers with a snapshot (flag kReplace) of the last S seconds at
// that resolution, then updates. Anything else closes the socket.
//
// Server -> page, text: the status, JSON, on connect and whenever it changes
// (at most once per update interval):
//   {"type":"status","device":"Dev1","product_type":"USB-6211",
//    "serial_number":"...","sample_rate_hz":R,"requested_sample_rate_hz":R,
//    "started_utc":"...","channels":[{"name":"Dev1/ai0","kind":"analog",
//    "range_min_v":-10,"range_max_v":10,"units":"V"}, {"name":"Dev1/port0/line0",
//    "kind":"digital","range_min_v":0,"range_max_v":1,"units":""}],
//    "recording":{"file":"run.h5" or null,"state":S,"frames":F,"samples":N,
//    "gaps":G,"errors":E,"error":"..." or null},
//    "gaps":[{"t_s":T,"duration_s":D,"reason":"device_removed"}]}
// S is "recording" (or "viewing" without a file), "waiting for the device"
// during an outage, "stopped" or "error". Times t_s are seconds of samples
// since the first one, outages included, the axis the columns use.
//
// Server -> page, binary, about 30 a second per page (fewer for a page that
// falls behind: its updates are merged, never queued without bound):
//   offset  0  u8[4]  "NIVW"
//           4  u16    version (1)
//           6  u16    flags (kReplace: drop every column held before)
//           8  u32    C, channels (analog ones, then digital lines)
//          12  u32    N, columns in this message
//          16  u32    update number, counting from 1 per socket
//          20  u32    0
//          24  f64    index of the first column (column k starts at k x column_s)
//          32  f64    column_s, seconds per column
//          40  f32[C] each channel's last value (NaN before the first sample)
//   40 + 4C    f32[N][C][2] per column, per channel: minimum, maximum of the
//                      samples it covers; NaN, NaN where it covers none (an outage)
// All numbers little-endian. The columns of one message are consecutive; an
// update continues where the last one ended unless kReplace is set.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace ni_usb_daq::host::view {

inline constexpr std::string_view kPagePath = "/";
inline constexpr std::string_view kDataPath = "/data";
inline constexpr std::size_t kMaxRequestBytes = 8 * 1024;
inline constexpr std::size_t kMaxClientMessageBytes = 4 * 1024;
inline constexpr std::uint32_t kMaxColumns = 8192;
inline constexpr double kShortestWindowS = 1.0;
inline constexpr double kLongestWindowS = 60.0;

inline constexpr std::uint16_t kProtocolVersion = 1;
inline constexpr std::uint16_t kReplace = 1;
inline constexpr std::size_t kHeaderBytes = 40;

}  // namespace ni_usb_daq::host::view
