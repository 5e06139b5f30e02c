// PNG files as GL textures: decode and prepare without GL (png_decode.cpp), then a
// thin upload here.
#include "pngload/png_texture.h"
#include "pngload/png_decode.h"

#include <cstdio>
#include <cstdlib>

namespace {

// File-static state of the loader. Written by bind_png_texture, on the thread that
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

GLuint bind_png_texture(const char* path, int mipmap_mode, int alpha_mode, png_image_info* info,
                        GLint wrap_st, GLint min_filter, GLint mag_filter) {
    // The name is created and set up before anything can fail, and stays bound (not
    // deleted) when the load fails: drawing then simply shows an empty texture.
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, wrap_st);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, wrap_st);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, mag_filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, min_filter);

    if (mipmap_mode != png_build_mipmaps && mipmap_mode != 0) {
        return fail_load(path, "unsupported mipmap mode");
    }
    if (alpha_mode != png_alpha) {
        return fail_load(path, "unsupported alpha mode");
    }
    if (!path) {
        return fail_load(path, "no file name");
    }

    // Every GL takes at least 64; images may be up to a few times the largest texture
    // before they are refused outright (they are scaled down to fit).
    constexpr GLint gl_min_texture_size = 64;
    constexpr uint32_t oversize_factor = 4;
    GLint max_texture_size = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max_texture_size);
    if (max_texture_size < gl_min_texture_size) {
        max_texture_size = gl_min_texture_size;
    }

    png_pixels image = {};
    const char* reason = "";
    const double screen_gamma = png_screen_gamma(std::getenv("VIEWING_GAMMA"));
    if (!decode_png_file(path, screen_gamma, uint32_t(max_texture_size) * oversize_factor, &image,
                         &reason)) {
        return fail_load(path, reason);
    }
    const std::vector<png_level> levels =
        prepare_png_levels(image, uint32_t(max_texture_size), mipmap_mode == png_build_mipmaps);

    // Rows are tightly packed; the caller's unpack alignment is put back afterwards.
    const GLenum format = image.components == 4 ? GL_RGBA : GL_RGB;
    GLint saved_alignment = 4;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &saved_alignment);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    for (size_t level = 0; level < levels.size(); ++level) {
        glTexImage2D(GL_TEXTURE_2D, GLint(level), GLint(format), GLsizei(levels[level].width),
                     GLsizei(levels[level].height), 0, format, GL_UNSIGNED_BYTE,
                     levels[level].bytes.data());
    }
    glPixelStorei(GL_UNPACK_ALIGNMENT, saved_alignment);

    if (info) {
        constexpr uint32_t alpha_bits = 8;
        info->width = image.width;
        info->height = image.height;
        info->depth = image.file_depth;
        info->alpha = image.components == 4 ? alpha_bits : 0;
    }
    loader.reason[0] = '\0';
    return name;
}

const char* png_failure_reason() {
    return loader.reason;
}
