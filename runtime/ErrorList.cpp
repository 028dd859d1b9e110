#include "runtime/ErrorList.h"

#include "console/Console.h"
#include "platform/Platform.h"

#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

constexpr std::size_t kMaxLineLength = 255;
constexpr int kFieldCount = 8;

}  // namespace

int ErrorList::toInt(const std::string& text) {
    const long value = std::strtol(text.c_str(), nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

ErrorList* ErrorList::instance() {
    static ErrorList* const catalogue = [] {
        auto* list = new ErrorList;   // never freed
        list->load(platform::dataFile("ErrorDefinitions.csv"));
        return list;
    }();
    return catalogue;
}

ErrorList::ErrorList() = default;
ErrorList::~ErrorList() = default;

std::unique_ptr<TvlError> ErrorList::lookup(int code) const {
    std::lock_guard<std::mutex> guard(lock);
    auto it = records.find(code);
    if (it == records.end())
        return std::make_unique<TvlError>(code, 2, "Unknown Error", "", "", "", true, false);
    return std::make_unique<TvlError>(it->second);
}

void ErrorList::add(int code, int kind, const std::string& displayLine1,
                    const std::string& displayLine2, const std::string& displayLine3,
                    const std::string& scpiText, bool displayed, bool scpiReported) {
    std::lock_guard<std::mutex> guard(lock);
    records.insert_or_assign(code, TvlError(code, kind, displayLine1, displayLine2, displayLine3,
                                            scpiText, displayed, scpiReported));
}

std::size_t ErrorList::size() const {
    std::lock_guard<std::mutex> guard(lock);
    return records.size();
}

void ErrorList::load(const std::string& path) {
    std::ifstream file(path);
    if (!file) return;
    std::string line;
    while (std::getline(file, line)) {
        if (line.size() > kMaxLineLength) return;
        std::istringstream split(line);
        std::string fields[kFieldCount];
        int missing = 0;
        for (int i = 0; i < kFieldCount; ++i) {
            if (!std::getline(split, fields[i], ',')) {
                missing = i + 1;
                break;
            }
        }
        if (missing) {
            console::say("error field ", missing, " (", line, ")");
            continue;
        }
        if (fields[0].empty()) continue;
        add(toInt(fields[0]), toInt(fields[1]), fields[2], fields[3], fields[4], fields[5],
            toInt(fields[6]) != 0, toInt(fields[7]) != 0);
    }
}
