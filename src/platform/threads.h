// Host threads for the FTP server: start, and sleep.
#pragma once

#include <functional>
#include <thread>

namespace vrax {

// Starts `body` on a new thread stored in `thread`. False, with `thread`
// left empty, when the host cannot create one.
bool StartThread(std::thread& thread, std::function<void()> body);

// Waits for the thread when one was started; an empty one is ignored.
void JoinThread(std::thread& thread);

void SleepMilliseconds(int milliseconds);

}  // namespace vrax
