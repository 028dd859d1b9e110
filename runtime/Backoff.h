// Backoff: how long a loop waits before it tries again something that keeps
// failing (an accept with every descriptor taken): first, then twice as long
// after each further failure, up to longest; back to first after a success.
//
//   Backoff retry;                       // 100 ms, 200 ms, 400 ms ... 5 s
//   if (accept(...) < 0) wait(retry.failed()); else retry.succeeded();
#pragma once

#include <chrono>

class Backoff {
public:
    static constexpr std::chrono::milliseconds kFirst{100};
    static constexpr std::chrono::milliseconds kLongest{5000};

    explicit Backoff(std::chrono::milliseconds first = kFirst, std::chrono::milliseconds longest = kLongest)
        : first(first), longest(longest < first ? first : longest), next(first) {}

    // The wait after one more failure.
    std::chrono::milliseconds failed() {
        const std::chrono::milliseconds wait = next;
        next = next > longest / 2 ? longest : next * 2;
        return wait;
    }
    void succeeded() { next = first; }

private:
    const std::chrono::milliseconds first;
    const std::chrono::milliseconds longest;
    std::chrono::milliseconds next;
};
