// vornhal-capture: the demo rendered offline, one command per kind of output, with one
// option table in the same conventions as vornhal's own.
#include "capture.h"

#include "datafiles/data_files.h"
#include "host/files.h"
#include "scene/scene.h"
#include "version.h"

#include <cerrno>
#include <climits>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <getopt.h>

static const char usage[] =
    "usage: vornhal-capture frame MS OUT.png [--size WxH] [--data DIR]\n"
    "       vornhal-capture video OUT.mp4 [OPTIONS]\n"
    "       vornhal-capture frames DIR [OPTIONS]\n"
    "Renders the demo with no display, through its own frame code.\n"
    "\n"
    "  frame   the picture the demo shows when its clock reads MS milliseconds (a whole\n"
    "          number, 0 to 16777216; from 142000 on the show is over and never shows it)\n"
    "  video   the show with its soundtrack as an H.264/AAC MP4, through ffmpeg on PATH\n"
    "  frames  the show as DIR/frame-000000.png, frame-000001.png, ... (DIR is created)\n"
    "\n"
    "      --fps N      frames a second (default 60)\n"
    "      --from MS    start at MS milliseconds (default 0)\n"
    "      --to MS      stop before MS (default: the show's end)\n"
    "      --jobs N     rendering processes (default: one per CPU core), each with\n"
    "                   LP_NUM_THREADS set to share the cores unless the environment\n"
    "                   sets it; the frames are the same bytes whatever N\n"
    "      --size WxH   present the picture at that size, scaled to fit and centred\n"
    "                   (default 800x600, the size the demo draws at)\n"
    "      --data DIR   read the images and music from DIR (default: data/ in the\n"
    "                   working directory, else the installed data)\n"
    "      --null       video: render the same frames and write nothing (a speed baseline)\n"
    "  -h, --help       show this help and exit\n"
    "  -V, --version    show the version and exit\n"
    "\n"
    "Exit status: 0 done, 1 failed, 2 bad command line, 130 interrupted.\n";

constexpr int exit_usage = 2;
constexpr int exit_failed = 1;

// A whole number from low to high; one line and false otherwise.
static bool parse_number(const char* option, const char* text, long low, long high, int& value) {
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || errno != 0 || parsed < low || parsed > high) {
        std::fprintf(stderr, "vornhal-capture: %s needs a whole number from %ld to %ld, not '%s'\n",
                     option, low, high, text);
        return false;
    }
    value = static_cast<int>(parsed);
    return true;
}

// "WxH", each side from 1 to the largest a capture may ask for.
static bool parse_size(const char* text, capture_request& request) {
    constexpr int max_side_px = 8192;
    const char* x = std::strchr(text, 'x');
    const std::string width(text, x ? static_cast<size_t>(x - text) : 0);
    if (x && parse_number("--size width", width.c_str(), 1, max_side_px, request.width_px) &&
        parse_number("--size height", x + 1, 1, max_side_px, request.height_px))
        return true;
    if (!x)
        std::fprintf(stderr, "vornhal-capture: --size needs WIDTHxHEIGHT, not '%s'\n", text);
    return false;
}

// Reads the whole command line into request. Returns -1 to go on, else the exit status.
static int parse_command_line(int argc, char** argv, capture_request& request) {
    enum { fps = 1000, from, to, jobs, size, data, null };
    // clang-format off
    static const option table[] = {
        {"fps", required_argument, nullptr, fps},
        {"from", required_argument, nullptr, from},
        {"to", required_argument, nullptr, to},
        {"jobs", required_argument, nullptr, jobs},
        {"size", required_argument, nullptr, size},
        {"data", required_argument, nullptr, data},
        {"null", no_argument, nullptr, null},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},
        {nullptr, 0, nullptr, 0},
    };
    // clang-format on
    constexpr int max_fps = 1000;
    constexpr int max_jobs = 256;
    // The options that take a whole number, and its range.
    const struct {
        int code;
        const char* name;
        long low, high;
        int* value;
    } numbers[] = {{fps, "--fps", 1, max_fps, &request.fps},
                   {from, "--from", 0, INT_MAX, &request.from_ms},
                   {to, "--to", 1, INT_MAX, &request.to_ms},
                   {jobs, "--jobs", 1, max_jobs, &request.jobs}};
    request.width_px = screen_width;
    request.height_px = screen_height;
    std::vector<const char*> operands;
    std::vector<int> given; // the options given, to check against the command's
    opterr = 0;
    for (;;) {
        const int code = getopt_long(argc, argv, "-:hV", table, nullptr);
        bool ok = true;
        switch (code) {
        case -1:
            break;
        case 1: // an operand, in place
            operands.push_back(optarg);
            continue;
        case 'h':
        case 'V':
            return print_to_stdout("vornhal-capture",
                                   code == 'h' ? usage : "vornhal-capture " VORNHAL_VERSION "\n")
                       ? 0
                       : exit_failed;
        case fps:
        case from:
        case to:
        case jobs:
            for (const auto& number : numbers)
                if (number.code == code)
                    ok = parse_number(number.name, optarg, number.low, number.high, *number.value);
            break;
        case size:
            ok = parse_size(optarg, request);
            break;
        case data:
            request.data_dir = optarg;
            break;
        case null:
            request.null_output = true;
            break;
        case ':':
            std::fprintf(stderr, "vornhal-capture: %s needs a value\n", argv[optind - 1]);
            return exit_usage;
        default: {
            const char* word = argv[optind - 1];
            // "-5" is a number below 0, not an option.
            if (word[0] == '-' && std::isdigit(static_cast<unsigned char>(word[1])))
                std::fprintf(stderr,
                             "vornhal-capture: %s is below 0: times and counts are "
                             "whole numbers from 0\n",
                             word);
            else
                std::fprintf(stderr, "vornhal-capture: unknown option '%s'\n", word);
            return exit_usage;
        }
        }
        if (!ok)
            return exit_usage;
        if (code != -1)
            given.push_back(code);
        if (code == -1)
            break;
    }
    request.command = operands.empty() ? "" : operands[0];
    const std::string command = request.command;
    const size_t wanted = command == "frame" ? 3 : 2;
    if (command != "frame" && command != "video" && command != "frames") {
        std::fprintf(stderr, "vornhal-capture: %s\n",
                     operands.empty() ? "which command? frame, video or frames"
                                      : ("unknown command '" + command + "'").c_str());
        return exit_usage;
    }
    // Each command takes only the options it uses: frame draws one picture; only video
    // has a file to leave out.
    const struct {
        int code;
        const char* name;
    } span_options[] = {
        {fps, "--fps"}, {from, "--from"}, {to, "--to"}, {jobs, "--jobs"}, {null, "--null"}};
    for (int code : given)
        for (const auto& option : span_options) {
            const bool used = command != "frame" && (code != null || command == "video");
            if (option.code == code && !used) {
                std::fprintf(stderr, "vornhal-capture: %s does not take %s\n", command.c_str(),
                             option.name);
                return exit_usage;
            }
        }
    if (command == "video" && request.null_output && operands.size() == 1)
        operands.push_back(nullptr);
    if (operands.size() != wanted) {
        std::fprintf(stderr, "vornhal-capture: %s takes %s\n", request.command,
                     command == "frame"   ? "a time in ms and an output file"
                     : command == "video" ? "an output file"
                                          : "an output directory");
        return exit_usage;
    }
    if (command == "frame" &&
        !parse_number("the frame time", operands[1], 0, 1 << 24, request.frame_ms))
        return exit_usage;
    request.output = operands.back();
    if (request.output && !request.output[0]) {
        std::fprintf(stderr, "vornhal-capture: the output name is empty\n");
        return exit_usage;
    }
    if (request.to_ms >= 0 && request.to_ms <= request.from_ms) {
        std::fprintf(stderr, "vornhal-capture: --to (%d) must be later than --from (%d)\n",
                     request.to_ms, request.from_ms);
        return exit_usage;
    }
    return -1;
}

int main(int argc, char** argv) {
    capture_request request;
    const int status = parse_command_line(argc, argv, request);
    if (status >= 0) {
        if (status == exit_usage)
            std::fprintf(stderr, "Try 'vornhal-capture --help' for more.\n");
        return status;
    }
    const std::string command = request.command;
    install_interrupt_handlers();
    if (!choose_data_dir("vornhal-capture", request.data_dir))
        return 1;
    return command == "frame"   ? run_frame_command(request)
           : command == "video" ? run_video_command(request)
                                : run_frames_command(request);
}
