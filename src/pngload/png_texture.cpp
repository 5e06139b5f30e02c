// PNG files as GL textures: decode and sample without GL (png_decode.cpp), then a
// thin upload here, one mip level at a time so that only two are ever held.
#include "pngload/png_texture.h"
#include "pngload/png_decode.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace {

// File-static state of the loader. Written by load_png_texture, on the thread that
// owns the GL context.
struct loader_state {
    char reason[320]; // why the last load failed, "" after a success
};
loader_state loader;

GLuint fail_load(const char* path, const char* why) {
    std::snprintf(loader.reason, sizeof loader.reason, "%s: %s", path ? path : "(null)", why);
    return 0;
}

} // namespace

GLuint load_png_texture(const char* path) {
    // The name is created and set up before anything can fail, and stays bound (not
    // deleted) when the load fails: drawing then simply shows an empty texture.
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    if (!path) {
        return fail_load(path, "no file name");
    }

    constexpr GLint gl_min_texture_size = 64; // every GL takes at least this
    GLint max_texture_size = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max_texture_size);
    if (max_texture_size < gl_min_texture_size) {
        max_texture_size = gl_min_texture_size;
    }
    decoded_png image = {};
    const char* reason = "";
    const double screen_gamma = png_screen_gamma(std::getenv("VIEWING_GAMMA"));
    if (!decode_png_file(path, screen_gamma, uint32_t(max_texture_size), &image, &reason)) {
        return fail_load(path, reason);
    }

    // Rows are tightly packed; the caller's unpack alignment is put back afterwards.
    const GLenum format = image.components == 4 ? GL_RGBA : GL_RGB;
    GLint saved_alignment = 4;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &saved_alignment);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    png_level level = std::move(image.level);
    for (GLint index = 0;; ++index) {
        glTexImage2D(GL_TEXTURE_2D, index, GLint(format), GLsizei(level.width),
                     GLsizei(level.height), 0, format, GL_UNSIGNED_BYTE, level.bytes.data());
        if (level.width == 1 && level.height == 1) {
            break;
        }
        level = halve_png_level(level, image.components);
    }
    glPixelStorei(GL_UNPACK_ALIGNMENT, saved_alignment);
    loader.reason[0] = '\0';
    return name;
}

const char* png_failure_reason() {
    return loader.reason;
}
