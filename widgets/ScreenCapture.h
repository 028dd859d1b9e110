// Screen captures: the X root window's image, written as an RGB JPEG of
// quality 100 into the next numbered capture file of the USB drive
// (FileIoManager::writeScreenCapture).
#pragma once

#include <string>

class FileIoManager;

namespace screencapture {

// Captures the screen of the X display (the default one, or a named one:
// ":1"); returns the file's path below the mount point.  Throws
// LocalExceptionMkdirFailure or LocalExceptionFileCreateFailure (also when
// there is no display).
std::string captureScreen(FileIoManager& files, const std::string& displayName = std::string());

// One pixel of a screen image as red, green and blue bytes.
void pixelToRgb(unsigned long pixel, int depth, unsigned long redMask, unsigned long greenMask,
                unsigned long blueMask, unsigned char rgb[3]);

}  // namespace screencapture
