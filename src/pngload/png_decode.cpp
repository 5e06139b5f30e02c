// PNG decoding over libpng, and the texture levels made from the result.
//
// libpng reports errors by longjmp. Only the two small functions that call setjmp
// (read_png_header, read_png_rows) run libpng's reading; they hold no C++ objects, and
// everything a decode owns lives in plain structs and vectors in their caller's frame,
// which a longjmp never skips.
#include "pngload/png_decode.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Where a decode reads its bytes from: a memory buffer, or a stdio file when `file` is
// set. Written only by the decode that owns it.
struct png_source {
    const uint8_t* data;
    size_t size;
    size_t offset;
    FILE* file;
};

// Everything one decode shares between its caller and the setjmp-guarded steps.
struct png_decode_job {
    png_structp png;
    png_infop info;
    png_source* source;
    double screen_gamma;
    uint32_t max_side;
    char message[160]; // libpng's error text, written by on_png_error
    uint32_t width;    // the rest is written by read_png_header
    uint32_t height;
    uint32_t components;
    bool interlaced;
};

// Where decoded rows go: picked into level 0 as they arrive. Buffers owned by the caller.
struct png_sampling {
    uint8_t* row;             // one decoded row (not interlaced), or null
    png_bytepp rows;          // every decoded row (interlaced), or null
    uint8_t* level;           // level_width x level_height pixels
    const uint32_t* source_x; // the image column each level column picks
    uint32_t level_width;
    uint32_t level_height;
    uint32_t next_y; // the next level row to fill
};

// File-static state: the text behind the last failure's reason. Written by every
// failing decode, on the caller's thread (decoding is not meant to run on two threads).
struct decoder_state {
    char reason[200];
};
decoder_state decoder;

const char* set_reason(const char* text) {
    std::snprintf(decoder.reason, sizeof decoder.reason, "%s", text);
    return decoder.reason;
}

void on_png_error(png_structp png, png_const_charp message) {
    auto* job = static_cast<png_decode_job*>(png_get_error_ptr(png));
    std::snprintf(job->message, sizeof job->message, "%s", message);
    png_longjmp(png, 1);
}

// Warnings (a bad ancillary chunk, a CRC error outside the image data) leave a usable
// image; the loader has no log to put them in.
void on_png_warning(png_structp, png_const_charp) {}

void read_png_bytes(png_structp png, png_bytep out, png_size_t length) {
    auto* source = static_cast<png_source*>(png_get_io_ptr(png));
    if (source->file) {
        if (std::fread(out, 1, length, source->file) != length) {
            png_error(png, std::ferror(source->file) ? "read error" : "file is truncated");
        }
        return;
    }
    if (source->size - source->offset < length) {
        png_error(png, "file is truncated");
    }
    std::memcpy(out, source->data + source->offset, length);
    source->offset += length;
}

// Reads up to the image data and sets up every transformation. False with
// job->message set when libpng gives up.
bool read_png_header(png_decode_job* job) {
    png_structp png = job->png;
    png_infop info = job->info;
    if (setjmp(png_jmpbuf(png))) {
        return false;
    }
    // Bounds for hostile files: the image size, and what ancillary chunks may cost.
    constexpr png_uint_32 chunk_cache_max = 1000;
    constexpr png_alloc_size_t chunk_malloc_max = 8u << 20;
    png_set_user_limits(png, job->max_side, job->max_side);
    png_set_chunk_cache_max(png, chunk_cache_max);
    png_set_chunk_malloc_max(png, chunk_malloc_max);

    // Of the ancillary chunks only gAMA counts: colour-space chunks would change the
    // gamma the file is read with, and tRNS would turn a colour into transparency.
    static const png_byte honoured_chunks[] = "gAMA";
    static const png_byte ignored_chunks[] = "tRNS";
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_AS_DEFAULT, honoured_chunks, 1);
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, ignored_chunks, 1);

    png_set_read_fn(png, job->source, read_png_bytes);
    constexpr int signature_bytes = 8;
    png_set_sig_bytes(png, signature_bytes);
    png_read_info(png, info);

    png_uint_32 width = 0, height = 0;
    int depth = 0, colour_type = 0, interlace = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &colour_type, &interlace, nullptr, nullptr);
    const bool interlaced = interlace != PNG_INTERLACE_NONE;
    if (uint64_t(width) * height > (interlaced ? png_max_interlaced_pixels : png_max_pixels)) {
        char text[100];
        std::snprintf(text, sizeof text, "%simage of %u x %u pixels is too large",
                      interlaced ? "interlaced " : "", width, height);
        png_error(png, text);
    }

    if (colour_type == PNG_COLOR_TYPE_PALETTE) {
        png_set_palette_to_rgb(png);
    }
    if (colour_type == PNG_COLOR_TYPE_GRAY && depth < 8) {
        png_set_expand_gray_1_2_4_to_8(png);
    }
    if (colour_type == PNG_COLOR_TYPE_GRAY || colour_type == PNG_COLOR_TYPE_GRAY_ALPHA) {
        png_set_gray_to_rgb(png);
    }
    if (depth == 16) {
        png_set_scale_16(png);
    }

    constexpr double default_file_gamma = 1.0 / 2.2;
    double file_gamma = default_file_gamma;
    if (!png_get_gAMA(png, info, &file_gamma)) {
        file_gamma = default_file_gamma;
    }
    if (png_gamma_needs_correction(file_gamma, job->screen_gamma)) {
        png_set_gamma(png, job->screen_gamma, file_gamma);
    }

    png_set_interlace_handling(png);
    png_read_update_info(png, info);

    const png_byte channels = png_get_channels(png, info);
    if (png_get_bit_depth(png, info) != 8 || (channels != 3 && channels != 4) ||
        png_get_rowbytes(png, info) != png_size_t(width) * channels) {
        png_error(png, "unsupported pixel layout");
    }
    job->width = width;
    job->height = height;
    job->components = channels;
    job->interlaced = interlaced;
    return true;
}

// Fills every level row that picks image row y from `row`.
void sample_png_row(const png_decode_job* job, png_sampling* s, const uint8_t* row, uint32_t y) {
    const uint32_t c = job->components;
    for (; s->next_y < s->level_height; ++s->next_y) {
        const uint32_t picks =
            uint32_t((uint64_t(2 * s->next_y + 1) * job->height) / (uint64_t(2) * s->level_height));
        if (picks != y) {
            return;
        }
        uint8_t* out = s->level + size_t(s->next_y) * s->level_width * c;
        for (uint32_t x = 0; x < s->level_width; ++x) {
            std::memcpy(out + size_t(x) * c, row + size_t(s->source_x[x]) * c, c);
        }
    }
}

// Reads every row (all passes when interlaced), samples it, and checks the rest of
// the file.
bool read_png_rows(png_decode_job* job, png_sampling* s) {
    if (setjmp(png_jmpbuf(job->png))) {
        return false;
    }
    if (s->rows) {
        png_read_image(job->png, s->rows);
    }
    for (uint32_t y = 0; y < job->height; ++y) {
        if (!s->rows) {
            png_read_row(job->png, s->row, nullptr);
        }
        sample_png_row(job, s, s->rows ? s->rows[y] : s->row, y);
    }
    png_read_end(job->png, nullptr);
    return true;
}

bool decode_png_source(png_source* source, double screen_gamma, uint32_t max_texture_size,
                       decoded_png* out, const char** reason) {
    out->level.bytes.clear();
    png_byte signature[8];
    bool have_signature = false;
    if (source->file) {
        have_signature =
            std::fread(signature, 1, sizeof signature, source->file) == sizeof signature;
    } else if (source->size >= sizeof signature) {
        std::memcpy(signature, source->data, sizeof signature);
        source->offset = sizeof signature;
        have_signature = true;
    }
    if (!have_signature || png_sig_cmp(signature, 0, sizeof signature) != 0) {
        *reason = set_reason("not a PNG file");
        return false;
    }

    png_decode_job job = {};
    job.source = source;
    job.screen_gamma = screen_gamma;
    job.max_side = uint32_t(std::min<uint64_t>(
        uint64_t(std::max<uint32_t>(max_texture_size, 1)) * png_max_side_factor, PNG_UINT_31_MAX));
    job.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &job, on_png_error, on_png_warning);
    if (job.png) {
        job.info = png_create_info_struct(job.png);
    }
    if (!job.png || !job.info) {
        png_destroy_read_struct(&job.png, &job.info, nullptr);
        *reason = set_reason("out of memory");
        return false;
    }

    bool decoded = read_png_header(&job);
    if (decoded) {
        out->width = job.width;
        out->height = job.height;
        out->components = job.components;
        png_level& level = out->level;
        level.width = png_texture_side(job.width, max_texture_size);
        level.height = png_texture_side(job.height, max_texture_size);
        level.bytes.assign(size_t(level.width) * level.height * job.components, 0);
        std::vector<uint32_t> source_x(level.width);
        for (uint32_t x = 0; x < level.width; ++x) {
            source_x[x] = uint32_t((uint64_t(2 * x + 1) * job.width) / (uint64_t(2) * level.width));
        }
        const size_t row_bytes = size_t(job.width) * job.components;
        std::vector<uint8_t> pixels(row_bytes * (job.interlaced ? job.height : 1));
        std::vector<png_bytep> rows(job.interlaced ? job.height : 0);
        for (size_t y = 0; y < rows.size(); ++y) {
            rows[y] = pixels.data() + row_bytes * y;
        }
        png_sampling sampling = {pixels.data(),
                                 job.interlaced ? rows.data() : nullptr,
                                 level.bytes.data(),
                                 source_x.data(),
                                 level.width,
                                 level.height,
                                 0};
        decoded = read_png_rows(&job, &sampling);
    }
    png_destroy_read_struct(&job.png, &job.info, nullptr);
    if (!decoded) {
        *reason = set_reason(job.message[0] ? job.message : "cannot decode");
        out->level.bytes.clear();
        return false;
    }
    *reason = set_reason("");
    return true;
}

} // namespace

double png_screen_gamma(const char* viewing_gamma) {
    constexpr double display_gamma = 2.2;
    // The screen gamma libpng can work with lies in [0.01, 100].
    constexpr double min_viewing_gamma = 0.022;
    constexpr double max_viewing_gamma = 220.0;
    if (!viewing_gamma || !*viewing_gamma) {
        return display_gamma;
    }
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(viewing_gamma, &end);
    while (*end == ' ' || *end == '\t') {
        ++end;
    }
    if (*end != '\0' || errno != 0 || !std::isfinite(value) || value < min_viewing_gamma ||
        value > max_viewing_gamma) {
        return display_gamma;
    }
    return display_gamma / value;
}

bool png_gamma_needs_correction(double file_gamma, double screen_gamma) {
    constexpr double gamma_tolerance = 0.05;
    return std::fabs(file_gamma * screen_gamma - 1.0) > gamma_tolerance;
}

bool decode_png(const uint8_t* data, size_t size, double screen_gamma, uint32_t max_texture_size,
                decoded_png* out, const char** reason) {
    png_source source = {data, data ? size : 0, 0, nullptr};
    return decode_png_source(&source, screen_gamma, max_texture_size, out, reason);
}

bool decode_png_file(const char* path, double screen_gamma, uint32_t max_texture_size,
                     decoded_png* out, const char** reason) {
    FILE* file = std::fopen(path, "rb");
    if (!file) {
        char text[200];
        std::snprintf(text, sizeof text, "cannot open: %s", std::strerror(errno));
        *reason = set_reason(text);
        return false;
    }
    png_source source = {nullptr, 0, 0, file};
    const bool decoded = decode_png_source(&source, screen_gamma, max_texture_size, out, reason);
    std::fclose(file);
    return decoded;
}

uint32_t png_texture_side(uint32_t image_side, uint32_t max_texture_size) {
    uint32_t largest = 1;
    while (largest <= max_texture_size / 2) {
        largest *= 2;
    }
    uint32_t side = 1;
    while (side < image_side && side < largest) {
        side *= 2;
    }
    return side;
}

png_level halve_png_level(const png_level& level, uint32_t components) {
    const uint32_t width = std::max<uint32_t>(level.width / 2, 1);
    const uint32_t height = std::max<uint32_t>(level.height / 2, 1);
    png_level half = {width, height, std::vector<uint8_t>(size_t(width) * height * components)};
    const size_t stride = size_t(level.width) * components;
    // A side of 1 is not halved: its block is one texel deep on that side.
    const size_t step_x = level.width > 1 ? components : 0;
    const size_t step_y = level.height > 1 ? stride : 0;
    const uint32_t count = (step_x ? 2 : 1) * (step_y ? 2 : 1);
    uint8_t* out = half.bytes.data();
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* row = level.bytes.data() + (level.height > 1 ? 2 * y : y) * stride;
        for (uint32_t x = 0; x < width; ++x) {
            const uint8_t* texel = row + size_t(level.width > 1 ? 2 * x : x) * components;
            for (uint32_t c = 0; c < components; ++c) {
                uint32_t sum = texel[c];
                sum += step_x ? texel[step_x + c] : 0;
                sum += step_y ? texel[step_y + c] : 0;
                sum += step_x && step_y ? texel[step_x + step_y + c] : 0;
                *out++ = uint8_t((sum + count / 2) / count);
            }
        }
    }
    return half;
}
