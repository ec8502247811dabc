// The performance table: reads the JSON that frame_bench and stream_bench
// wrote (--benchmark_out) and, when callgrind ran, the instruction counts
// bench/run collected, and prints every figure next to the baseline measured
// in the same run, its target and whether the target is met.
//
//   bench_report FRAME_JSON STREAM_JSON [INSTRUCTIONS] [--host-pipe HOST_PIPE]
//                [--host-file HOST_FILE] [--host-view HOST_VIEW]
//
// INSTRUCTIONS has one line per shape: "CxS FAST_IR OBVIOUS_IR SAMPLES", the
// instructions callgrind counted inside each path and the samples written.
// HOST_PIPE is what bench/host_pipe_bench wrote: one line per run of the host
// program, "FORMAT SAMPLES WALL_S USER_S SYS_S MAX_RSS_KIB BYTES"; HOST_FILE
// is what bench/host_file_bench wrote, in the same form, for runs into a file
// (JSON lines, CSV from either topic, HDF5, and HDF5 of a paced stream).
// HOST_VIEW is what bench/host_view_bench wrote: a paced recording to HDF5
// alone and with the live view and a client attached, in the same form, then
// "view-client UPDATES BYTES SECONDS" and "view-page UPDATES_PER_S DRAWS_PER_S"
// (or "view-page skipped REASON").
// Each ratio is value / baseline, but for instruction counts baseline / value,
// so that there too above 1 means the plug-in's path does better.
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace {

using nlohmann::json;

const char* const kShapes[] = {"1x100",   "1x1000", "1x10000", "8x100",   "8x1000",
                               "8x10000", "32x100", "32x1000", "32x10000"};

std::optional<json> readJson(const char* path) {
    std::ifstream in(path);
    if (!in) {
        return std::nullopt;
    }
    json document = json::parse(in, nullptr, false);
    if (document.is_discarded() || !document.contains("benchmarks")) {
        return std::nullopt;
    }
    return document;
}

/// The run whose name is `name` (the median when the runs were repeated), or
/// the first whose name starts with `name` followed by '/'.
const json* findRun(const json& document, const std::string& name) {
    const json* single = nullptr;
    for (const json& run : document["benchmarks"]) {
        const std::string runName = run.value("run_name", run.value("name", ""));
        const bool matches = runName == name || runName.rfind(name + "/", 0) == 0;
        if (!matches || run.contains("error_message")) {
            continue;
        }
        if (run.value("run_type", "") == "aggregate") {
            if (run.value("aggregate_name", "") == "median") {
                return &run;
            }
        } else if (single == nullptr) {
            single = &run;
        }
    }
    return single;
}

double counter(const json* run, const char* key) {
    return run != nullptr && run->contains(key) ? (*run)[key].get<double>() : 0.0;
}

std::string format(const char* pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

struct Row {
    std::string figure;
    std::string value;
    std::string baseline;
    std::string ratio;
    std::string target;
    std::string verdict;
};

void print(const std::vector<Row>& rows) {
    const Row heading{"figure", "value", "baseline (same run)", "ratio", "target", "met"};
    std::size_t widths[5] = {};
    const auto widen = [&](const Row& row) {
        const std::string* cells[] = {&row.figure, &row.value, &row.baseline, &row.ratio,
                                      &row.target};
        for (std::size_t i = 0; i < 5; ++i) {
            widths[i] = std::max(widths[i], cells[i]->size());
        }
    };
    widen(heading);
    for (const Row& row : rows) {
        widen(row);
    }
    const auto line = [&](const Row& row) {
        std::printf("%-*s  %*s  %-*s  %*s  %-*s  %s\n", static_cast<int>(widths[0]),
                    row.figure.c_str(), static_cast<int>(widths[1]), row.value.c_str(),
                    static_cast<int>(widths[2]), row.baseline.c_str(), static_cast<int>(widths[3]),
                    row.ratio.c_str(), static_cast<int>(widths[4]), row.target.c_str(),
                    row.verdict.c_str());
    };
    line(heading);
    for (const Row& row : rows) {
        line(row);
    }
}

void frameRows(const json& frames, std::vector<Row>& rows) {
    for (const char* shape : kShapes) {
        const double fast =
            counter(findRun(frames, std::string("fast/") + shape), "items_per_second") / 1e6;
        const double obvious =
            counter(findRun(frames, std::string("obvious/") + shape), "items_per_second") / 1e6;
        if (fast == 0.0 || obvious == 0.0) {
            continue;
        }
        const double ratio = fast / obvious;
        std::string verdict = "yes";
        if (ratio < 3.0 || fast < 20.0) {
            verdict = "no: ";
            verdict += ratio < 3.0 ? format("%.1fx of 3x", ratio) : "";
            verdict += ratio < 3.0 && fast < 20.0 ? ", " : "";
            verdict += fast < 20.0 ? format("%.1f of 20 MS/s", fast) : "";
        }
        rows.push_back({std::string("frame text ") + shape + ", MS/s", format("%.1f", fast),
                        "build-then-dump " + format("%.1f", obvious), format("%.2f", ratio),
                        ">= 3x and >= 20", verdict});
    }
}

/// The stream's frames with the number text cache against the same writer
/// without it, on converter-shaped 8 x 10 000 blocks: codes of one
/// multiplexed converter (the target), and of one converter per channel,
/// whose calibrations make four times as many distinct values (shown only).
void cacheRows(const json& frames, std::vector<Row>& rows) {
    for (const char* converters : {"multiplexed", "per-channel"}) {
        const std::string suffix = std::string(converters) + "/8x10000";
        const double cached =
            counter(findRun(frames, "cached/" + suffix), "items_per_second") / 1e6;
        const double uncached =
            counter(findRun(frames, "uncached/" + suffix), "items_per_second") / 1e6;
        if (cached == 0.0 || uncached == 0.0) {
            continue;
        }
        const double ratio = cached / uncached;
        const bool target = std::string_view(converters) == "multiplexed";
        rows.push_back({"frame text cached 8x10000, " + std::string(converters) + ", MS/s",
                        format("%.1f", cached), "uncached " + format("%.1f", uncached),
                        format("%.2f", ratio), target ? ">= 2x" : "",
                        target ? (ratio >= 2.0 ? "yes" : format("no: %.1fx of 2x", ratio)) : ""});
    }
}

void instructionRows(const char* path, std::vector<Row>& rows) {
    std::ifstream in(path);
    std::string shape;
    double fast = 0.0;
    double obvious = 0.0;
    double samples = 0.0;
    for (std::string text; std::getline(in, text);) {
        std::istringstream fields(text);
        if (!(fields >> shape >> fast >> obvious >> samples) || samples <= 0.0 || fast <= 0.0) {
            continue;
        }
        rows.push_back({"frame text " + shape + ", instructions/sample",
                        format("%.0f", fast / samples),
                        "build-then-dump " + format("%.0f", obvious / samples),
                        format("%.2f", obvious / fast), "fewer (callgrind)", ""});
    }
}

void streamRows(const json& streams, std::vector<Row>& rows) {
    for (const char* shape : kShapes) {
        std::string args = shape;
        args[args.find('x')] = '/';
        const json* endToEnd = findRun(streams, "BM_StreamEndToEnd/" + args);
        const json* frameOnly = findRun(streams, "BM_FramePathOnly/" + args);
        const double delivered = counter(endToEnd, "items_per_second") / 1e6;
        const double alone = counter(frameOnly, "items_per_second") / 1e6;
        if (delivered == 0.0 || alone == 0.0) {
            continue;
        }
        const double ratio = delivered / alone;
        rows.push_back(
            {std::string("streamed ") + shape + ", MS/s (frames/s)",
             format("%.1f", delivered) + format(" (%.0f)", counter(endToEnd, "frames_per_s")),
             "frame text alone " + format("%.1f", alone), format("%.2f", ratio), ">= 0.5",
             ratio >= 0.5 ? "yes" : "no"});
    }

    // The same stream to a no-op subscriber of each topic, back to back: the
    // doubles as raw bytes against the frame text. With the simulator's
    // cheapest signal the rows show the plug-in's own cost (no target).
    for (const char* signals : {"realistic", "sawtooth"}) {
        const auto rate = [&](const char* topic) {
            const std::string name = std::string("BM_StreamTopic/") + topic + "/" + signals;
            return counter(findRun(streams, name + "/8/10000"), "items_per_second") / 1e6;
        };
        const double binary = rate("stream_binary");
        const double text = rate("stream");
        if (binary == 0.0 || text == 0.0) {
            continue;
        }
        const double ratio = binary / text;
        const bool target = std::string_view(signals) == "realistic";
        rows.push_back({std::string("streamed 8x10000 to \"stream_binary\", ") + signals + ", MS/s",
                        format("%.1f", binary), "to \"stream\" " + format("%.1f", text),
                        format("%.2f", ratio), target ? ">= 2.5x" : "",
                        target ? (ratio >= 2.5 ? "yes" : format("no: %.2fx of 2.5x", ratio)) : ""});
    }

    if (const json* paced = findRun(streams, "BM_PacedOneMegasample")) {
        const double cpu = counter(paced, "cpu_pct_of_core");
        rows.push_back({"paced 16 x 62.5 kS/s, CPU % of a core", format("%.1f", cpu),
                        "one core 100", format("%.3f", cpu / 100.0), "< 10%",
                        cpu < 10.0 ? "yes" : "no"});
        const double after10 = counter(paced, "rss_kib_10_frames");
        const double after1040 = counter(paced, "rss_kib_1040_frames");
        const double growth = after10 > 0.0 ? after1040 / after10 : 0.0;
        rows.push_back({"paced, resident KiB after 1040 frames", format("%.0f", after1040),
                        "after 10 frames " + format("%.0f", after10), format("%.3f", growth),
                        "flat (< 1.05)", growth > 0.0 && growth < 1.05 ? "yes" : "no"});
        const double stopMs = counter(paced, "stop_ms");
        const double periodMs = counter(paced, "block_period_ms");
        rows.push_back({"paced, stop_stream ms", format("%.1f", stopMs),
                        "block period " + format("%.0f ms", periodMs) + ", read timeout " +
                            format("%.0f s", counter(paced, "read_timeout_s")),
                        format("%.3f", periodMs > 0.0 ? stopMs / periodMs : 0.0), "<= 150 ms",
                        stopMs <= 150.0 ? "yes" : "no"});
    }

    if (const json* latency = findRun(streams, "BM_PacedLatency")) {
        const double periodMs = counter(latency, "block_period_ms");
        const std::string period = "block period " + format("%.0f ms", periodMs);
        const auto share = [&](double us) { return format("%.3f", us / (periodMs * 1e3)); };
        const std::pair<const char*, const char*> figures[] = {
            {"block ready -> callback, median us", "ready_to_callback_median_us"},
            {"block ready -> callback, p99 us", "ready_to_callback_p99_us"},
            {"read returned -> callback, median us", "read_to_callback_median_us"},
            {"read returned -> callback, p99 us", "read_to_callback_p99_us"},
        };
        for (const auto& [figure, key] : figures) {
            const double us = counter(latency, key);
            rows.push_back({std::string("paced 10 ms blocks, ") + figure, format("%.0f", us),
                            period, share(us), "< block period",
                            us < periodMs * 1e3 ? "yes" : "no"});
        }
        const double stopMs = counter(latency, "stop_ms");
        rows.push_back({"paced 10 ms blocks, stop_stream ms", format("%.1f", stopMs), period,
                        format("%.3f", stopMs / periodMs), "<= 150 ms",
                        stopMs <= 150.0 ? "yes" : "no"});
    }

    if (const json* stall = findRun(streams, "BM_LongestSurvivedStall")) {
        const double survived = counter(stall, "stall_survived_ms");
        const double span = counter(stall, "buffer_span_ms");
        const double ratio = span > 0.0 ? survived / span : 0.0;
        rows.push_back({"paced 1 MS/s, longest callback stall survived, ms",
                        format("%.0f", survived), "default buffer spans " + format("%.0f ms", span),
                        format("%.2f", ratio), ">= 0.8 of the span", ratio >= 0.8 ? "yes" : "no"});
    }

    for (const char* timeout : {"10", "-1"}) {
        const json* slow = findRun(streams, std::string("BM_StopDuringSlowBlock/") + timeout);
        if (slow == nullptr) {
            continue;
        }
        const double stopMs = counter(slow, "stop_ms");
        const double periodMs = counter(slow, "block_period_ms");
        rows.push_back({std::string("1 s blocks, read timeout ") + timeout + " s, stop_stream ms",
                        format("%.1f", stopMs), "block period " + format("%.0f ms", periodMs),
                        format("%.3f", periodMs > 0.0 ? stopMs / periodMs : 0.0), "<= 150 ms",
                        stopMs <= 150.0 ? "yes" : "no"});
    }
}

/// The whole host program into a pipe, against the plug-in's own streamed
/// rate for the same shape in the same run: the program can at best keep
/// the pace at which the plug-in makes frames.
void hostPipeRows(const char* path, const json& streams, std::vector<Row>& rows) {
    const double plugin =
        counter(findRun(streams, "BM_StreamEndToEnd/8/10000"), "items_per_second") / 1e6;
    const std::string baseline = "plug-in streamed 8x10000 " + format("%.1f", plugin);
    std::ifstream in(path);
    for (std::string text; std::getline(in, text);) {
        std::istringstream fields(text);
        std::string label;
        double samples = 0.0, wall = 0.0, user = 0.0, system = 0.0, rssKib = 0.0;
        if (!(fields >> label >> samples >> wall >> user >> system >> rssKib) || wall <= 0.0) {
            continue;
        }
        if (label == "late-reader") {
            const double mib = rssKib / 1024.0;
            rows.push_back({"host stream into a late reader, peak resident MiB",
                            format("%.1f", mib), "frame queue bound 32 MiB",
                            format("%.2f", mib / 32.0), "<= 64 MiB", mib <= 64.0 ? "yes" : "no"});
            continue;
        }
        const double rate = samples / wall / 1e6;
        const double perCpu = user + system > 0.0 ? samples / (user + system) / 1e6 : 0.0;
        const double target = label == "csv" ? 16.0 : 20.0;
        std::string verdict =
            rate >= target ? "yes" : "no: " + format("%.0f%%", 100.0 * rate / target);
        rows.push_back({"host stream " + label + " 8x10000 to a pipe, MS/s (per CPU s)",
                        format("%.1f", rate) + format(" (%.1f)", perCpu), baseline,
                        format("%.2f", plugin > 0.0 ? rate / plugin : 0.0),
                        format(">= %.0f", target), verdict});
    }
}

/// One run of the host program: "FORMAT SAMPLES WALL_S USER_S SYS_S MAX_RSS_KIB BYTES".
struct HostRun {
    double samples = 0.0;
    double wall = 0.0;
    double cpu = 0.0;  ///< user + system, every thread of the process
    double rssKib = 0.0;
    double bytes = 0.0;

    double rate() const { return wall > 0.0 ? samples / wall / 1e6 : 0.0; }
    double perCpu() const { return cpu > 0.0 ? samples / cpu / 1e6 : 0.0; }
};

std::optional<HostRun> findHostRun(const char* path, const std::string& format) {
    std::ifstream in(path);
    for (std::string text; std::getline(in, text);) {
        std::istringstream fields(text);
        std::string label;
        HostRun run;
        double user = 0.0, system = 0.0;
        if (fields >> label >> run.samples >> run.wall >> user >> system >> run.rssKib >>
                run.bytes &&
            label == format && run.wall > 0.0) {
            run.cpu = user + system;
            return run;
        }
    }
    return std::nullopt;
}

std::string rateText(const HostRun& run) {
    return format("%.1f", run.rate()) + format(" (%.1f)", run.perCpu());
}

/// CPU nanoseconds of the whole process per sample (per channel and block).
double nsPerSample(const HostRun& run) {
    return run.samples > 0.0 ? run.cpu / run.samples * 1e9 : 0.0;
}

/// HDF5 from the binary topic against JSON lines of the same samples, and
/// against the plug-in alone streaming to a no-op binary subscriber.
void hdf5CostRows(const HostRun& hdf5, const HostRun& jsonl, const json& streams,
                  std::vector<Row>& rows) {
    const double share = nsPerSample(hdf5) / nsPerSample(jsonl);
    rows.push_back({"host stream HDF5 8x10000 to a file, MS/s (per CPU s)", rateText(hdf5),
                    "JSON lines to a file " + rateText(jsonl), format("%.2f CPU", share),
                    "<= 1/4 the CPU, >= 60 per CPU s",
                    share <= 0.25 && hdf5.perCpu() >= 60.0
                        ? "yes"
                        : "no: " + format("%.2f of the CPU", share) +
                              format(", %.1f per CPU s", hdf5.perCpu())});
    const double plugin = counter(
        findRun(streams, "BM_StreamTopic/stream_binary/realistic/8/10000"), "items_per_second");
    if (plugin > 0.0) {
        // The plug-in's stream thread is busy the whole time it is measured.
        const double pluginNs = 1e9 / plugin;
        const double above = nsPerSample(hdf5) - pluginNs;
        rows.push_back({"host stream HDF5 8x10000, CPU ns/sample",
                        format("%.2f", nsPerSample(hdf5)),
                        "plug-in to a no-op \"stream_binary\" " + format("%.2f", pluginNs),
                        format("%+.2f ns", above), "<= +4 ns",
                        above <= 4.0 ? "yes" : format("no: %+.2f ns", above)});
    }
}

/// The whole host program recording into a file in the same run: HDF5 and
/// CSV from the binary topic against JSON lines and CSV through the frame
/// texts, file size per sample, peak memory, and HDF5 from a paced stream.
void hostFileRows(const char* path, const json& streams, std::vector<Row>& rows) {
    const auto jsonl = findHostRun(path, "jsonl");
    const auto csv = findHostRun(path, "csv");
    const auto csvText = findHostRun(path, "csv-text");
    if (jsonl) {
        rows.push_back({"host stream JSON lines 8x10000 to a file, MS/s (per CPU s)",
                        rateText(*jsonl), "", "", "", ""});
    }
    if (csv && csvText) {
        const double share = nsPerSample(*csv) / nsPerSample(*csvText);
        rows.push_back({"host stream CSV 8x10000 to a file, MS/s (per CPU s)", rateText(*csv),
                        "CSV through frame texts " + rateText(*csvText), format("%.2f CPU", share),
                        "<= 2/3 the CPU per sample",
                        share <= 2.0 / 3.0 ? "yes" : format("no: %.2f of the CPU", share)});
    }
    if (const auto hdf5 = findHostRun(path, "hdf5")) {
        if (jsonl) {
            hdf5CostRows(*hdf5, *jsonl, streams, rows);
        }
        const double perSample = hdf5->samples > 0.0 ? hdf5->bytes / hdf5->samples : 0.0;
        const double off = perSample / 8.0 - 1.0;
        rows.push_back({"HDF5 file, bytes/sample", format("%.3f", perSample), "float64 8",
                        format("%.3f", perSample / 8.0), "within 1% of 8",
                        off <= 0.01 && off >= -0.01 ? "yes" : "no"});
        const double mib = hdf5->rssKib / 1024.0;
        rows.push_back(
            {"host stream HDF5 to a file, peak resident MiB", format("%.1f", mib),
             jsonl ? "JSON lines to a file " + format("%.1f", jsonl->rssKib / 1024.0) : "", "",
             "<= 64 MiB", mib <= 64.0 ? "yes" : "no"});
    }
    if (const auto compressed = findHostRun(path, "hdf5-compress")) {
        rows.push_back({"host stream HDF5 compressed 8x10000 to a file, MS/s (per CPU s)",
                        rateText(*compressed), "", "", "",
                        format("%.3f bytes/sample", compressed->bytes / compressed->samples)});
    }
    if (const auto paced = findHostRun(path, "hdf5-paced")) {
        const double cpu = 100.0 * paced->cpu / paced->wall;
        rows.push_back({"host stream HDF5, paced 16 x 62.5 kS/s, CPU % of a core",
                        format("%.1f", cpu), "one core 100", format("%.3f", cpu / 100.0), "< 10%",
                        cpu < 10.0 ? "yes" : "no"});
    }
}

/// The fields after `label` on its line of `path`, or nothing when it has none.
std::optional<std::istringstream> findLine(const char* path, const std::string& label) {
    std::ifstream in(path);
    for (std::string text; std::getline(in, text);) {
        std::istringstream fields(text);
        std::string first;
        if (fields >> first && first == label) {
            return fields;
        }
    }
    return std::nullopt;
}

/// The view serves each page about 30 updates a second.
constexpr double kViewPace = 30.0;

/// The live view's cost to the recording host, CPU added over the same
/// paced recording without it, and the updates a client and a page got.
void hostViewRows(const char* path, std::vector<Row>& rows) {
    const auto alone = findHostRun(path, "hdf5-paced-alone");
    const auto viewed = findHostRun(path, "hdf5-paced-view");
    if (alone && viewed) {
        const double added = 100.0 * (viewed->cpu - alone->cpu) / viewed->wall;
        rows.push_back({"host stream HDF5, paced 8 x 250 kS/s, CPU % of a core added by a view",
                        format("%.1f", added),
                        "alone " + format("%.1f%% of a core", 100.0 * alone->cpu / alone->wall),
                        format("%.2f CPU", alone->cpu > 0.0 ? viewed->cpu / alone->cpu : 0.0),
                        "<= 5%", added <= 5.0 ? "yes" : "no"});
    }
    double updates = 0.0, bytes = 0.0, seconds = 0.0;
    if (auto client = findLine(path, "view-client");
        client && *client >> updates >> bytes >> seconds && seconds > 0.0) {
        const double rate = (updates - 1.0) / seconds;
        rows.push_back({"view client, 1200 columns over 10 s, updates/s (KiB/s)",
                        format("%.1f", rate) + format(" (%.1f)", bytes / seconds / 1024.0),
                        format("view's pace about %.0f", kViewPace),
                        format("%.2f", rate / kViewPace), "", ""});
    }
    if (auto page = findLine(path, "view-page")) {
        std::string text;
        std::getline(*page >> std::ws, text);
        const std::string figure = "view page in Chromium, 8 x 31.25 kS/s, updates/s (draws/s)";
        const std::string baseline = format("view's pace about %.0f", kViewPace);
        double rate = 0.0, draws = 0.0;
        if (!(std::istringstream(text) >> rate >> draws)) {
            rows.push_back({figure, "-", baseline, "", ">= 25", text});  // skipped, and why
            return;
        }
        rows.push_back({figure, format("%.1f", rate) + format(" (%.1f)", draws), baseline,
                        format("%.2f", rate / kViewPace), ">= 25", rate >= 25.0 ? "yes" : "no"});
    }
}

/// Takes "--NAME VALUE" out of the arguments; nullptr when absent.
const char* takeOption(int& argc, char** argv, const char* name) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == name) {
            const char* value = argv[i + 1];
            for (int j = i; j + 2 < argc; ++j) {
                argv[j] = argv[j + 2];
            }
            argc -= 2;
            return value;
        }
    }
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    const char* hostPipe = takeOption(argc, argv, "--host-pipe");
    const char* hostFile = takeOption(argc, argv, "--host-file");
    const char* hostView = takeOption(argc, argv, "--host-view");
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr,
                     "usage: bench_report FRAME_JSON STREAM_JSON [INSTRUCTIONS] "
                     "[--host-pipe HOST_PIPE] [--host-file HOST_FILE] "
                     "[--host-view HOST_VIEW]\n");
        return 2;
    }
    const auto frames = readJson(argv[1]);
    const auto streams = readJson(argv[2]);
    if (!frames || !streams) {
        std::fprintf(stderr, "bench_report: cannot read %s\n", !frames ? argv[1] : argv[2]);
        return 1;
    }
    const json& context = (*frames)["context"];
    std::printf("machine: %s, %d CPUs at %.0f MHz, %s\n\n", context.value("host_name", "?").c_str(),
                context.value("num_cpus", 0), context.value("mhz_per_cpu", 0.0),
                context.value("date", "?").c_str());
    std::vector<Row> rows;
    frameRows(*frames, rows);
    cacheRows(*frames, rows);
    if (argc == 4) {
        instructionRows(argv[3], rows);
    }
    streamRows(*streams, rows);
    if (hostPipe != nullptr) {
        hostPipeRows(hostPipe, *streams, rows);
    }
    if (hostFile != nullptr) {
        hostFileRows(hostFile, *streams, rows);
    }
    if (hostView != nullptr) {
        hostViewRows(hostView, rows);
    }
    print(rows);
    return 0;
}
