// Failures of the data logs and screen captures that the user asked for.
// The callers catch them and show their what() texts.
#pragma once

#include <exception>

class LocalExceptionNoUsbDrive : public std::exception {
public:
    const char* what() const noexcept override { return "No USB drive present"; }
};

class LocalExceptionMkdirFailure : public std::exception {
public:
    const char* what() const noexcept override { return "Failed to create directory"; }
};

class LocalExceptionFileCreateFailure : public std::exception {
public:
    const char* what() const noexcept override { return "Failed to create file"; }
};

class LocalExceptionNoProbe : public std::exception {
public:
    const char* what() const noexcept override { return "No probe connected"; }
};
