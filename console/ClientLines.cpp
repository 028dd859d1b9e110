#include "console/ClientLines.h"

#include <cstdarg>
#include <cstdio>
#include <utility>
#include <vector>

namespace console {

namespace {
thread_local Limiter* clientLimiter = nullptr;
}  // namespace

std::string escaped(const std::string& bytes) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b == '\\') {
            out += "\\\\";
        } else if (b >= 0x20 && b <= 0x7e) {
            out += c;
        } else {
            out += "\\x";
            out += kHex[b >> 4];
            out += kHex[b & 0x0f];
        }
    }
    return out;
}

Limiter::Limiter(std::string name, unsigned linesPerSecond, Sink to)
    : source(std::move(name)), perSecond(linesPerSecond), sink(to ? std::move(to) : Sink(&console::write)) {}

Limiter::~Limiter() { flush(); }

bool Limiter::admit(Clock::time_point now) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!started || now - windowStart >= std::chrono::seconds(1)) {
        started = true;
        windowStart = now;
        inWindow = 0;
    }
    if (inWindow >= perSecond) {
        ++pending;
        ++total;
        return false;
    }
    ++inWindow;
    writeCount();
    return true;
}

void Limiter::write(Stream stream, std::string text, Clock::time_point now) {
    if (admit(now)) sink(stream, std::move(text));
}

void Limiter::flush() {
    std::lock_guard<std::mutex> lock(mutex);
    writeCount();
}

std::uint64_t Limiter::leftOut() const {
    std::lock_guard<std::mutex> lock(mutex);
    return total;
}

void Limiter::writeCount() {
    if (pending == 0) return;
    sink(Stream::out, "(" + std::to_string(pending) + (pending == 1 ? " line from " : " lines from ") + source +
                          " left out)\n");
    pending = 0;
}

ClientScope::ClientScope(Limiter& limiter) : outer(clientLimiter) { clientLimiter = &limiter; }

ClientScope::~ClientScope() { clientLimiter = outer; }

void clientPrint(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text;
    if (n > 0) {
        std::vector<char> buffer(static_cast<std::size_t>(n) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, again);
        text.assign(buffer.data(), static_cast<std::size_t>(n));
    }
    va_end(again);
    if (clientLimiter)
        clientLimiter->write(Stream::out, std::move(text));
    else
        write(Stream::out, std::move(text));
}

}  // namespace console
