// Writes a small capture of simulated bus traffic, made through the analyzer's
// own capture path: make_sample_capture FILE [EVENTS] [SEED]
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "analyzer/capture_feed.h"
#include "simulator/bus_traffic.h"
#include "simulator/capture_pages.h"
#include "ufcs/capture_file.h"
#include "ufcs/capture_list.h"

namespace {

constexpr const char* kUsage =
    "usage: make_sample_capture FILE [EVENTS] [SEED]\n"
    "  writes EVENTS (default 300) events of simulated bus traffic, made from SEED (default 7),\n"
    "  as a capture file\n";

// A whole non-negative number, or -1.
long wholeNumber(const char* text) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return (*text != '\0' && *end == '\0' && value >= 0) ? value : -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc < 2 || argc > 4 || argv[1][0] == '-') {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const long events = argc > 2 ? wholeNumber(argv[2]) : 300;
    const long seed = argc > 3 ? wholeNumber(argv[3]) : 7;
    if (events < 0 || seed < 0) {
        std::fprintf(stderr, "make_sample_capture: EVENTS and SEED are whole numbers\n%s", kUsage);
        return 2;
    }

    auto store = ufcs::CaptureStore::create();
    if (!store) {
        std::fprintf(stderr, "内存不足！无法运行！\n");
        return 1;
    }
    ufcs::CaptureHeaderRecord header;
    header.currentRangeMa = 6000;
    analyzer::CaptureFeed feed(*store, header);
    simulator::BusTraffic traffic({static_cast<uint32_t>(seed), 0.03});
    for (long i = 0; i < events && !feed.storeFull(); ++i)
        feed.feedReports(simulator::capturePages(traffic.next()));

    ufcs::CaptureList list(*store);  // the rows mark the records as the analyzer's list does
    list.appendNew();
    const ufcs::FileResult saved = ufcs::SaveCapture(*store, argv[1]);
    if (!saved.ok) {
        std::fprintf(stderr, "%s\n", saved.message.c_str());
        return 1;
    }
    return 0;
}
