#include "widgets/ScreenCapture.h"

#include "runtime/FileIoManager.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>
#include <memory>
#include <sstream>
#include <vector>

namespace {

TEST(ScreenCapturePixels, MasksAndShiftsFollowTheDepth) {
    const struct {
        unsigned long pixel;
        int depth;
        unsigned long red, green, blue;
        unsigned char expected[3];
    } cases[] = {
        {0xFFFF, 16, 0xF800, 0x07E0, 0x001F, {0xF8, 0xFC, 0xF8}},
        {0xF800, 16, 0xF800, 0x07E0, 0x001F, {0xF8, 0x00, 0x00}},
        {0x07E0, 16, 0xF800, 0x07E0, 0x001F, {0x00, 0xFC, 0x00}},
        {0x0001, 16, 0xF800, 0x07E0, 0x001F, {0x00, 0x00, 0x08}},
        {0x123456, 24, 0xFF0000, 0x00FF00, 0x0000FF, {0x12, 0x34, 0x56}},
        {0xFF123456, 32, 0xFF0000, 0x00FF00, 0x0000FF, {0x12, 0x34, 0x56}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pixel);
        unsigned char rgb[3] = {1, 2, 3};
        screencapture::pixelToRgb(c.pixel, c.depth, c.red, c.green, c.blue, rgb);
        EXPECT_EQ(rgb[0], c.expected[0]);
        EXPECT_EQ(rgb[1], c.expected[1]);
        EXPECT_EQ(rgb[2], c.expected[2]);
    }
}

// A decoded JPEG and the quantisation tables it was written with.
struct Jpeg {
    int width = 0;
    int height = 0;
    int components = 0;
    bool allQuantisersOne = false;
    std::vector<unsigned char> rgb;
    const unsigned char* at(int x, int y) const { return &rgb[(static_cast<std::size_t>(y) * width + x) * 3]; }
};

struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

void onJpegError(j_common_ptr info) { std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1); }

bool decodeJpeg(const std::string& file, Jpeg& out) {
    std::FILE* in = std::fopen(file.c_str(), "rb");
    if (!in) return false;
    jpeg_decompress_struct info;
    JpegError error;
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = onJpegError;
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&info);
        std::fclose(in);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, in);
    jpeg_read_header(&info, TRUE);
    // Quality 100 makes every quantiser 1.
    bool ones = info.quant_tbl_ptrs[0] != nullptr;
    for (JQUANT_TBL* table : info.quant_tbl_ptrs) {
        if (!table) continue;
        for (int i = 0; i < DCTSIZE2; ++i) ones = ones && table->quantval[i] == 1;
    }
    out.allQuantisersOne = ones;
    out.components = info.num_components;
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    out.width = static_cast<int>(info.output_width);
    out.height = static_cast<int>(info.output_height);
    out.rgb.resize(static_cast<std::size_t>(out.width) * out.height * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = out.rgb.data() + static_cast<std::size_t>(info.output_scanline) * out.width * 3;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    std::fclose(in);
    return true;
}

// The pixel value of an 8-bit-per-channel colour for a TrueColor visual.
unsigned long pixelOf(const Visual* visual, unsigned r, unsigned g, unsigned b) {
    auto place = [](unsigned value, unsigned long mask) {
        int shift = __builtin_ctzl(mask);
        int bits = __builtin_popcountl(mask);
        return (static_cast<unsigned long>(value >> (8 - bits)) << shift) & mask;
    };
    return place(r, visual->red_mask) | place(g, visual->green_mask) | place(b, visual->blue_mask);
}

// A private X server of the given depth for one test.
class XvfbScreen {
public:
    bool start(int depth) {
        if (access(kXvfb, X_OK) != 0) return false;
        if (!server.start(kXvfb, {"-displayfd", "1", "-screen", "0", "320x240x" + std::to_string(depth),
                                  "-nolisten", "tcp"}))
            return false;
        // Xvfb writes the number of the display it chose, on a line of its own.
        return testsupport::waitUntil([&] {
            std::istringstream out(server.output());
            std::string line;
            while (std::getline(out, line) && !out.eof()) {
                if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos) {
                    name = ":" + line;
                    return true;
                }
            }
            return false;
        });
    }
    const std::string& display() const { return name; }

    static constexpr const char* kXvfb = "/usr/bin/Xvfb";

private:
    testsupport::ChildProcess server;
    std::string name;
};

class ScreenCaptureTest : public ::testing::TestWithParam<int> {
protected:
    testsupport::TempSandbox sandbox{false};
};

// Paints the left half of the screen in one colour and the right half in
// another, captures it, and reads the JPEG back.
TEST_P(ScreenCaptureTest, CaptureWritesAQuality100JpegOfTheScreen) {
    const int depth = GetParam();
    XvfbScreen screen;
    if (access(XvfbScreen::kXvfb, X_OK) != 0) GTEST_SKIP() << "no Xvfb on this machine";
    ASSERT_TRUE(screen.start(depth));

    Display* display = XOpenDisplay(screen.display().c_str());
    ASSERT_NE(display, nullptr);
    std::unique_ptr<Display, int (*)(Display*)> closer(display, XCloseDisplay);
    int s = DefaultScreen(display);
    Window root = RootWindow(display, s);
    Visual* visual = DefaultVisual(display, s);
    GC gc = DefaultGC(display, s);
    XSetForeground(display, gc, pixelOf(visual, 255, 255, 255));
    XFillRectangle(display, root, gc, 0, 0, 160, 240);
    XSetForeground(display, gc, pixelOf(visual, 0, 0, 255));
    XFillRectangle(display, root, gc, 160, 0, 160, 240);
    XSync(display, False);

    testsupport::writeFile(sandbox.file("/proc/mounts"), "/dev/sdb1 /media/usb vfat rw 0 0\n");
    FileIoManager manager;
    ASSERT_TRUE(manager.findUsbDrive());
    EXPECT_EQ(screencapture::captureScreen(manager, screen.display()), "/tvl4700/screens/scrn0001.jpg");
    EXPECT_EQ(screencapture::captureScreen(manager, screen.display()), "/tvl4700/screens/scrn0002.jpg");
    EXPECT_EQ(testsupport::readFile(sandbox.file("/var/lib/tarvel/fileio")),
              "screenshotcounter: 2\ndatalogcounter: 0\n");

    Jpeg jpeg;
    ASSERT_TRUE(decodeJpeg(sandbox.file("/media/usb/tvl4700/screens/scrn0001.jpg"), jpeg));
    EXPECT_EQ(jpeg.width, 320);
    EXPECT_EQ(jpeg.height, 240);
    EXPECT_EQ(jpeg.components, 3);
    EXPECT_TRUE(jpeg.allQuantisersOne);
    // White and blue as the display holds them: 8 bits a channel at depth
    // 24, 5-6-5 bits (the low bits zero) at depth 16.
    const unsigned char white = depth == 16 ? 0xF8 : 0xFF;
    const unsigned char whiteGreen = depth == 16 ? 0xFC : 0xFF;
    const unsigned char blue = depth == 16 ? 0xF8 : 0xFF;
    for (int y : {0, 120, 239}) {
        SCOPED_TRACE(y);
        const unsigned char* left = jpeg.at(40, y);
        const unsigned char* right = jpeg.at(280, y);
        EXPECT_NEAR(left[0], white, 3);
        EXPECT_NEAR(left[1], whiteGreen, 3);
        EXPECT_NEAR(left[2], white, 3);
        EXPECT_NEAR(right[0], 0, 3);
        EXPECT_NEAR(right[1], 0, 3);
        EXPECT_NEAR(right[2], blue, 3);
    }
}

INSTANTIATE_TEST_SUITE_P(Depths, ScreenCaptureTest, ::testing::Values(24, 16));

TEST(ScreenCapture, WithoutADisplayItFailsWithAMessageAndWritesNothing) {
    testsupport::TempSandbox sandbox{false};
    testsupport::writeFile(sandbox.file("/proc/mounts"), "/dev/sdb1 /media/usb vfat rw 0 0\n");
    FileIoManager manager;
    ASSERT_TRUE(manager.findUsbDrive());
    testing::internal::CaptureStderr();
    EXPECT_THROW(screencapture::captureScreen(manager, ":64999"), LocalExceptionFileCreateFailure);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("cannot open display :64999"), std::string::npos);
    EXPECT_FALSE(testsupport::exists(sandbox.file("/media/usb/tvl4700")));
    EXPECT_FALSE(testsupport::exists(sandbox.file("/var/lib/tarvel/fileio")));
}

TEST(ScreenCapture, MissingDriveFolderIsAMkdirFailure) {
    testsupport::TempSandbox sandbox{false};
    XvfbScreen screen;
    if (access(XvfbScreen::kXvfb, X_OK) != 0) GTEST_SKIP() << "no Xvfb on this machine";
    ASSERT_TRUE(screen.start(24));
    testsupport::writeFile(sandbox.file("/proc/mounts"), "/dev/sdb1 /media/gone vfat rw 0 0\n");
    FileIoManager manager;
    ASSERT_TRUE(manager.findUsbDrive());
    EXPECT_THROW(screencapture::captureScreen(manager, screen.display()), LocalExceptionMkdirFailure);
    EXPECT_FALSE(testsupport::exists(sandbox.file("/media/gone")));
}

}  // namespace
