#include "scpi/ScpiServerMemory.h"

ScpiServerMemory::ScpiServerMemory(const Services& services) : ScpiServer(services) {}

ScpiServerMemory::~ScpiServerMemory() {
    stopStreaming();
    {
        std::lock_guard<std::mutex> guard(lock);
        running = 0;
    }
    changed.notify_all();
    stopReader();
}

std::vector<std::string> ScpiServerMemory::command(const std::string& line) {
    processLine(line);
    return takeReplies();
}

void ScpiServerMemory::feed(const std::string& bytes) {
    {
        std::lock_guard<std::mutex> guard(lock);
        input.feed(bytes);
    }
    changed.notify_all();
}

int ScpiServerMemory::read(char* buffer, int max) {
    std::unique_lock<std::mutex> guard(lock);
    while (running) {
        const int n = input.next(buffer, max);
        if (n > 0) ++lineCount;
        if (n >= 0) {
            changed.notify_all();
            return n;
        }
        changed.wait_for(guard, std::chrono::milliseconds(100));
    }
    return 0;
}

void ScpiServerMemory::write(const std::string& text) {
    {
        std::lock_guard<std::mutex> guard(lock);
        replies.push_back(text);
    }
    changed.notify_all();
}

bool ScpiServerMemory::waitForReplies(std::size_t count, std::chrono::milliseconds deadline) {
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, deadline, [&] { return replies.size() >= count; });
}

std::vector<std::string> ScpiServerMemory::takeReplies() {
    std::lock_guard<std::mutex> guard(lock);
    std::vector<std::string> out;
    out.swap(replies);
    return out;
}

std::size_t ScpiServerMemory::linesRead() const {
    std::lock_guard<std::mutex> guard(lock);
    return lineCount;
}
