// x11-screenshot: writes a PNG picture of an X display's screen, or of the
// part of it that a window covers.
//
//   x11-screenshot [-display :N] [-region X,Y,W,H] OUT.png
//
// Used to look at the front panel under Xvfb, where there is no screen.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

int usage() {
    std::fprintf(stderr, "Usage: x11-screenshot [-display :N] [-region X,Y,W,H] OUT.png\n");
    return 2;
}

// Scales a masked pixel field to 8 bits.
unsigned channel(unsigned long pixel, unsigned long mask) {
    if (!mask) return 0;
    int shift = 0;
    while (!((mask >> shift) & 1)) ++shift;
    const unsigned long max = mask >> shift;
    return static_cast<unsigned>(((pixel & mask) >> shift) * 255 / max);
}

bool writePng(const char* path, int w, int h, const std::vector<unsigned char>& rgb) {
    const std::string tmp = std::string(path) + ".tmp";
    FILE* f = std::fopen(tmp.c_str(), "wb");
    if (!f) { std::perror(path); return false; }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < h; ++y)
        png_write_row(png, const_cast<png_bytep>(&rgb[static_cast<std::size_t>(y) * w * 3]));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    // Replaced whole, so a viewer never opens a half-written picture.
    return std::rename(tmp.c_str(), path) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    const char* displayName = nullptr;
    const char* out = nullptr;
    int rx = 0, ry = 0, rw = -1, rh = -1;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "-display") && i + 1 < argc) {
            displayName = argv[++i];
        } else if (!std::strcmp(argv[i], "-region") && i + 1 < argc) {
            if (std::sscanf(argv[++i], "%d,%d,%d,%d", &rx, &ry, &rw, &rh) != 4) return usage();
        } else if (argv[i][0] != '-' && !out) {
            out = argv[i];
        } else {
            return usage();
        }
    }
    if (!out) return usage();
    Display* display = XOpenDisplay(displayName);
    if (!display) {
        std::fprintf(stderr, "x11-screenshot: cannot open display %s\n", XDisplayName(displayName));
        return 1;
    }
    const Window root = DefaultRootWindow(display);
    XWindowAttributes attributes;
    XGetWindowAttributes(display, root, &attributes);
    if (rw < 0) { rw = attributes.width; rh = attributes.height; }
    if (rx < 0 || ry < 0 || rw <= 0 || rh <= 0 || rx + rw > attributes.width || ry + rh > attributes.height) {
        std::fprintf(stderr, "x11-screenshot: region outside the %dx%d screen\n", attributes.width,
                     attributes.height);
        return 1;
    }
    XImage* image = XGetImage(display, root, rx, ry, rw, rh, AllPlanes, ZPixmap);
    if (!image) {
        std::fprintf(stderr, "x11-screenshot: cannot read the screen\n");
        return 1;
    }
    std::vector<unsigned char> rgb(static_cast<std::size_t>(rw) * rh * 3);
    for (int y = 0; y < rh; ++y)
        for (int x = 0; x < rw; ++x) {
            const unsigned long p = XGetPixel(image, x, y);
            unsigned char* d = &rgb[(static_cast<std::size_t>(y) * rw + x) * 3];
            d[0] = static_cast<unsigned char>(channel(p, image->red_mask));
            d[1] = static_cast<unsigned char>(channel(p, image->green_mask));
            d[2] = static_cast<unsigned char>(channel(p, image->blue_mask));
        }
    XDestroyImage(image);
    XCloseDisplay(display);
    return writePng(out, rw, rh, rgb) ? 0 : 1;
}
