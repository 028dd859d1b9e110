// The five serial-port settings of the SCPI RS-232 port, kept as small codes.
// The meter model stores them in its settings file, the RS-232 form edits
// them and the serial transport applies them to the port.  Codes are stored
// as given: the object validates nothing.
#pragma once

class RS232Configuration {
public:
    // Codes of each setting.
    // speed:        0 2400, 1 4800, 2 9600, 3 19200, 4 38400, 5 57600, 6 115200 baud
    // data bits:    0 seven, 1 eight
    // stop bits:    0 one, 1 two
    // parity:       0 none, 1 even, 2 odd
    // flow control: 0 none, 1 software (XON/XOFF), 2 hardware (RTS/CTS)
    RS232Configuration() = default;
    virtual ~RS232Configuration() = default;
    RS232Configuration(const RS232Configuration&) = default;
    RS232Configuration& operator=(const RS232Configuration&) = default;

    int getSpeed() const { return speed; }
    int getDataBits() const { return dataBits; }
    int getStopBits() const { return stopBits; }
    int getParity() const { return parity; }
    int getFlowControl() const { return flowControl; }

    void setSpeed(int code) { speed = code; }
    void setDataBits(int code) { dataBits = code; }
    void setStopBits(int code) { stopBits = code; }
    void setParity(int code) { parity = code; }
    void setFlowControl(int code) { flowControl = code; }

private:
    int speed = 2;        // 9600 baud
    int dataBits = 1;     // eight bits
    int stopBits = 0;     // one stop bit
    int parity = 0;       // none
    int flowControl = 0;  // none
};
