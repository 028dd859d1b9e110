#include "widgets/ScreenCapture.h"

#include "console/Console.h"
#include "runtime/FileIoManager.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <csetjmp>
#include <cstdio>   // before jpeglib.h, which uses FILE
#include <jpeglib.h>
#include <memory>
#include <vector>

namespace screencapture {

namespace {

struct ScreenImage {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;   // width * height * 3, rows top to bottom
};

// Reads the whole root window of the display's default screen.
bool grabScreen(const char* displayName, ScreenImage& screen) {
    Display* display = XOpenDisplay(displayName);
    if (!display) {
        console::printError("screen capture: cannot open display %s\n",
                            displayName ? displayName : XDisplayName(nullptr));
        return false;
    }
    std::unique_ptr<Display, int (*)(Display*)> closer(display, XCloseDisplay);
    Window root = RootWindow(display, DefaultScreen(display));
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, root, &attributes) || attributes.width <= 0 || attributes.height <= 0) {
        console::printError("screen capture: cannot read the screen size\n");
        return false;
    }
    XImage* image = XGetImage(display, root, 0, 0, static_cast<unsigned>(attributes.width),
                              static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    if (!image) {
        console::printError("screen capture: cannot read the screen image\n");
        return false;
    }
    auto destroyImage = [](XImage* i) { XDestroyImage(i); };   // a macro in Xutil.h
    std::unique_ptr<XImage, decltype(destroyImage)> imageGuard(image, destroyImage);
    screen.width = attributes.width;
    screen.height = attributes.height;
    screen.rgb.resize(static_cast<std::size_t>(screen.width) * screen.height * 3);
    unsigned char* out = screen.rgb.data();
    for (int y = 0; y < screen.height; ++y) {
        for (int x = 0; x < screen.width; ++x, out += 3)
            pixelToRgb(XGetPixel(image, x, y), image->depth, image->red_mask, image->green_mask,
                                      image->blue_mask, out);
    }
    return true;
}

// libjpeg reports fatal errors through error_exit, which must not return;
// the default one ends the process.  This one jumps back to writeJpeg.
struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

void onJpegError(j_common_ptr info) {
    (*info->err->output_message)(info);
    std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1);
}

// No object with a destructor lives between setjmp and longjmp here.
bool writeJpeg(std::FILE* file, const ScreenImage& screen) {
    jpeg_compress_struct info;
    JpegError error;
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = onJpegError;
    if (setjmp(error.jump)) {
        jpeg_destroy_compress(&info);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = static_cast<JDIMENSION>(screen.width);
    info.image_height = static_cast<JDIMENSION>(screen.height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 100, TRUE);
    jpeg_start_compress(&info, TRUE);
    const std::size_t stride = static_cast<std::size_t>(screen.width) * 3;
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(screen.rgb.data() + info.next_scanline * stride);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

}  // namespace

void pixelToRgb(unsigned long pixel, int depth, unsigned long redMask, unsigned long greenMask,
                unsigned long blueMask, unsigned char rgb[3]) {
    unsigned long red = pixel & redMask;
    unsigned long green = pixel & greenMask;
    unsigned long blue = pixel & blueMask;
    if (depth == 16) {
        red >>= 8;
        green >>= 3;
        blue <<= 3;
    } else {
        red >>= 16;
        green >>= 8;
    }
    rgb[0] = static_cast<unsigned char>(red & 0xFF);
    rgb[1] = static_cast<unsigned char>(green & 0xFF);
    rgb[2] = static_cast<unsigned char>(blue & 0xFF);
}

std::string captureScreen(FileIoManager& files, const std::string& displayName) {
    ScreenImage screen;
    if (!grabScreen(displayName.empty() ? nullptr : displayName.c_str(), screen))
        throw LocalExceptionFileCreateFailure();
    return files.writeScreenCapture([&screen](std::FILE* out) { return writeJpeg(out, screen); });
}

}  // namespace screencapture
