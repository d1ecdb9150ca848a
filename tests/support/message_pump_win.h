// Waiting in tests without timing anything: run this thread's messages (or
// just poll) until a condition holds or a deadline passes. A deadline that
// passes is a failure the caller names; it is never a measurement.
#pragma once

#include <chrono>
#include <functional>

namespace km_test {

// Long enough for anything a test waits for under a loaded Wine; short
// enough that a hang ends as a named failure rather than ctest's timeout.
inline constexpr std::chrono::milliseconds kDeadline{8000};

// Dispatches this thread's messages one at a time until done() or the
// deadline; returns done(). One at a time: a test may queue its next
// message as soon as the condition holds, ahead of what that one posted.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline = kDeadline);
// Dispatches this thread's messages for the whole span.
void PumpFor(std::chrono::milliseconds span);
// Polls done() without running messages (for another process, or another
// thread's window) until it holds or the deadline; returns done().
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline = kDeadline,
               std::chrono::milliseconds poll = std::chrono::milliseconds(20));

}  // namespace km_test
