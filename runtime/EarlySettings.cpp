#include "runtime/EarlySettings.h"

#include "runtime/SaveStatus.h"

#include <algorithm>
#include <fstream>
#include <iomanip>
#include <limits>
#include <sstream>

namespace {
thread_local int applyingDepth = 0;
}  // namespace

EarlySettings::Applying::Applying() { ++applyingDepth; }
EarlySettings::Applying::~Applying() { --applyingDepth; }
bool EarlySettings::applyingOnThisThread() { return applyingDepth > 0; }

void EarlySettings::note(const char* key, std::string value) {
    if (applyingOnThisThread()) return;
    std::unique_lock<std::mutex> lock(mutex);
    if (state == State::kReading) {
        readingEnded.wait(lock, [this] { return state == State::kRead; });
        return;
    }
    if (state == State::kRecording) record(key, std::move(value));
}

std::string EarlySettings::floatText(float value) {
    std::ostringstream text;
    text << std::setprecision(std::numeric_limits<float>::max_digits10) << value;
    return text.str();
}

void EarlySettings::noteFloat(const char* key, float value) { note(key, floatText(value)); }

void EarlySettings::noteStored(const char* key, float value) {
    if (applyingOnThisThread()) return;
    std::lock_guard<std::mutex> lock(mutex);
    if (state == State::kRecording) record(key, floatText(value));
}

void EarlySettings::record(const char* key, std::string value) {
    auto kept = std::find_if(recorded.begin(), recorded.end(), [key](const auto& p) { return p.first == key; });
    if (kept != recorded.end())
        kept->second = std::move(value);
    else
        recorded.emplace_back(key, std::move(value));
}

EarlySettings::Pairs EarlySettings::handOver(State next) {
    std::lock_guard<std::mutex> lock(mutex);
    if (state != State::kRecording) return {};
    state = next;
    Pairs kept;
    kept.swap(recorded);
    return kept;
}

EarlySettings::Pairs EarlySettings::beginReading() { return handOver(State::kReading); }

void EarlySettings::endReading() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (state != State::kReading) return;
        state = State::kRead;
    }
    readingEnded.notify_all();
}

void EarlySettings::discard() {
    std::lock_guard<std::mutex> lock(mutex);
    if (state != State::kRecording) return;
    recorded.clear();
    state = State::kRead;
}

EarlySettings::Pairs EarlySettings::merge(Pairs file, const Pairs& kept) {
    for (const auto& k : kept) {
        bool found = false;
        for (auto& p : file) {
            if (p.first == k.first) {
                p.second = k.second;
                found = true;
            }
        }
        if (!found) file.push_back(k);
    }
    return file;
}

bool EarlySettings::saveUnread(SaveStatus& status, std::mutex& dataLock, const std::string& path,
                               const std::function<std::string()>& contents) {
    const Pairs kept = handOver(State::kRead);
    if (kept.empty()) return true;
    return status.saveUnder(dataLock, path, [&] {
        std::ifstream in(path);
        if (!in) return contents();
        std::string text;
        for (const auto& [key, value] : merge(readPairs(in), kept)) text += key + " " + value + "\n";
        return text;
    });
}

EarlySettings::Pairs EarlySettings::readPairs(std::istream& in) {
    Pairs pairs;
    std::string key, value;
    while (in >> key >> value) pairs.emplace_back(key, value);
    return pairs;
}
