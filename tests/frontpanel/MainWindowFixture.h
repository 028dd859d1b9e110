// The main-window tests' instrument: the program's window (one per test
// process: the meter model is a singleton) on a private bus, in a sandbox of
// its own, beside mendra's three cards or with no card at all.  The test's
// thread is the GUI thread: it holds the toolkit lock, except while pump()
// lets the other threads (timers, the key link) take it.
#pragma once

#include <chrono>
#include <functional>
#include <string>

class MainWindow;
class Menu;
class MenuElement;

namespace mwtest {

// Defined by each test program: start mendra (three cards) or not (no card
// answers: the single-channel model).
bool withCards();

extern MainWindow* mw;

// Runs the GUI thread's queue and lets the other threads take the toolkit
// lock until pred holds.
bool pump(const std::function<bool()>& pred, std::chrono::milliseconds deadline = std::chrono::seconds(20));

int occurrences(Menu* menu, MenuElement* element);

// Where an instrument path lies in the window's sandbox.
std::string sandboxFile(const std::string& instrumentPath);

}  // namespace mwtest
