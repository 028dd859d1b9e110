#include "console/Console.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace console {

namespace {

constexpr std::chrono::milliseconds kExitBound{500};

// Writes all of text unless the output fails (a closed descriptor, a gone
// reader): then the rest of it is lost, as a failed printf would lose it.
void writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

std::string repeatNote(std::uint64_t n) { return "(last line repeated " + std::to_string(n) + " times)\n"; }
std::string dropNote(std::uint64_t n) { return "(" + std::to_string(n) + " console lines dropped)\n"; }

std::string format(const char* fmt, va_list args) {
    va_list again;
    va_copy(again, args);
    char small[256];
    const int n = std::vsnprintf(small, sizeof small, fmt, args);
    std::string text;
    if (n < 0) {
        text = fmt;
    } else if (static_cast<std::size_t>(n) < sizeof small) {
        text.assign(small, static_cast<std::size_t>(n));
    } else {
        std::vector<char> big(static_cast<std::size_t>(n) + 1);
        std::vsnprintf(big.data(), big.size(), fmt, again);
        text.assign(big.data(), static_cast<std::size_t>(n));
    }
    va_end(again);
    return text;
}

std::atomic<bool> direct{false};
std::atomic<Writer*> programWriter{nullptr};

// A child of fork() has none of the parent's threads: it gets a writer of
// its own when it first writes (the parent's is left as it is: its lock may
// have been held by another thread at the fork).
void forgetWriterInChild() { programWriter.store(nullptr); }

// Writing what is left and ending the thread leaves no thread of ours
// running into the end of the process.
void finishAtExit() {
    if (Writer* w = programWriter.load()) w->finish(kExitBound);
}

}  // namespace

Writer::Writer(const Options& opts) : options(opts) { thread = std::thread(&Writer::run, this); }

Writer::~Writer() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        closeRepeats();
        stopping = true;
    }
    wake.notify_one();
    if (thread.joinable()) thread.join();
}

void Writer::write(Stream stream, std::string text) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (stopping) {
            ++droppedTotal;
            return;
        }
        if (haveLast && stream == lastStream && text == lastText) {
            if (repeats++ > 0) return;   // the writer already waits for the run's end
            runStart = Clock::now();
        } else {
            closeRepeats();
            if (bytes + text.size() > options.capacity) {
                ++droppedSinceNote;
                ++droppedTotal;
                return;
            }
            if (droppedSinceNote > 0) {
                append(Stream::out, dropNote(droppedSinceNote));
                droppedSinceNote = 0;
            }
            append(stream, text);
            haveLast = true;
            lastStream = stream;
            lastText = std::move(text);
        }
    }
    wake.notify_one();
}

// Notes are queued beyond the capacity: at most two come between texts that
// fit, so the queue stays bounded.
void Writer::append(Stream stream, std::string text) {
    bytes += text.size();
    queue.push_back({stream, std::move(text)});
}

void Writer::closeRepeats() {
    if (repeats == 1)
        append(lastStream, lastText);
    else if (repeats > 1)
        append(lastStream, repeatNote(repeats));
    repeats = 0;
    haveLast = false;
}

bool Writer::flush(std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> lock(mutex);
    closeRepeats();
    wake.notify_one();
    return written.wait_for(lock, bound, [this] { return queue.empty() && !busy; });
}

bool Writer::finish(std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> lock(mutex);
    closeRepeats();
    stopping = true;
    wake.notify_one();
    if (!written.wait_for(lock, bound, [this] { return ended; })) return false;   // stuck in a write
    lock.unlock();
    if (thread.joinable()) thread.join();
    return true;
}

std::uint64_t Writer::dropped() const {
    std::lock_guard<std::mutex> lock(mutex);
    return droppedTotal;
}

void Writer::run() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        if (queue.empty()) {
            ended = stopping;
            written.notify_all();
            if (ended) return;
            if (repeats == 0) {
                wake.wait(lock);
            } else if (Clock::now() >= runStart + options.repeatWindow) {
                closeRepeats();
            } else {
                wake.wait_until(lock, runStart + options.repeatWindow);
            }
            continue;
        }
        std::deque<Entry> batch;
        batch.swap(queue);
        std::size_t batchBytes = 0;
        for (const Entry& e : batch) batchBytes += e.text.size();
        busy = true;
        lock.unlock();
        writeOut(batch);
        lock.lock();
        busy = false;
        bytes -= batchBytes;
        // The output took something: the texts lost while it did not are
        // counted where they were lost (every text still queued came before).
        if (droppedSinceNote > 0) {
            append(Stream::out, dropNote(droppedSinceNote));
            droppedSinceNote = 0;
        }
    }
}

// Consecutive texts of one stream go out in one write.
void Writer::writeOut(const std::deque<Entry>& batch) const {
    std::string chunk;
    Stream chunkStream = Stream::out;
    for (const Entry& e : batch) {
        if (!chunk.empty() && e.stream != chunkStream) {
            writeAll(chunkStream == Stream::out ? options.outFd : options.errFd, chunk);
            chunk.clear();
        }
        chunkStream = e.stream;
        chunk += e.text;
    }
    if (!chunk.empty()) writeAll(chunkStream == Stream::out ? options.outFd : options.errFd, chunk);
}

Writer& writer() {
    Writer* w = programWriter.load();
    if (w) return *w;
    static std::once_flag hooks;
    std::call_once(hooks, [] {
        pthread_atfork(nullptr, nullptr, forgetWriterInChild);
        std::atexit(finishAtExit);
    });
    // Never freed: threads may write until the process ends.
    Writer* made = new Writer;
    if (programWriter.compare_exchange_strong(w, made)) return *made;
    delete made;   // another thread made it first
    return *w;
}

void write(Stream stream, std::string text) {
    if (direct.load(std::memory_order_relaxed)) {
        static std::mutex wholeTexts;
        std::lock_guard<std::mutex> lock(wholeTexts);
        writeAll(stream == Stream::out ? 1 : 2, text);
        return;
    }
    writer().write(stream, std::move(text));
}

void print(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string text = format(fmt, args);
    va_end(args);
    write(Stream::out, std::move(text));
}

void printError(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string text = format(fmt, args);
    va_end(args);
    write(Stream::err, std::move(text));
}

void perror(const char* what) {
    const int error = errno;
    std::string text = what && *what ? std::string(what) + ": " : std::string();
    text += std::strerror(error);
    text += '\n';
    write(Stream::err, std::move(text));
    errno = error;
}

bool flush(std::chrono::milliseconds bound) {
    if (direct.load()) return true;
    Writer* w = programWriter.load();
    return !w || w->flush(bound);
}

void writeDirectly(bool on) { direct.store(on); }

}  // namespace console
