// PtyEnd: one end of a serial line for the PC build's stand-ins: a
// pseudo-terminal whose slave a link in the sandbox names (dev/ttyS0,
// dev/gpib), so that the instrument opens it as its device, while the tool
// reads and writes the master.
//
//   PtyEnd end;
//   end.open();                          // master, slave kept open too
//   end.linkAs(sandbox + "/dev/gpib");   // the device path leads to the slave
//   read(end.master(), ...)              // what the instrument wrote
//
// The tool keeps a descriptor of the slave itself, so the master never sees
// a hang-up while the instrument has the device closed.  The master is
// non-blocking: a write that does not fit (nobody reads the far side) is
// dropped, as on a line.  The destructor removes the link when it still
// leads to this slave.
#pragma once

#include <termios.h>

#include <string>

class PtyEnd {
public:
    PtyEnd() = default;
    ~PtyEnd();
    PtyEnd(const PtyEnd&) = delete;
    PtyEnd& operator=(const PtyEnd&) = delete;

    // Creates the pair; false with a message on standard error.
    bool open();
    // Makes path a link to the slave, replacing a link (only a link) that is
    // there; false with a message on standard error.
    bool linkAs(const std::string& path);

    int master() const { return masterFd; }
    const std::string& slaveName() const { return slave; }
    // The line settings the slave's user gave it.
    termios settings() const;
    // Writes all of bytes to the master as far as it takes them.
    void write(const std::string& bytes) const;

private:
    int masterFd = -1;
    int slaveFd = -1;
    std::string slave;
    std::string link;
};
