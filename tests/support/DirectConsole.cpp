// Linked into every test program: console lines are written at once, on the
// thread that prints them, so that a test that captures standard output or
// error (gtest's CaptureStdout) finds them there when it reads the capture.
// The programs the tests start keep their writer thread.
#include "console/Console.h"

namespace {

const bool direct = (console::writeDirectly(true), true);

}  // namespace
