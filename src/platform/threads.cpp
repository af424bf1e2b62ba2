#include "platform/threads.h"

#include <chrono>
#include <system_error>
#include <utility>

namespace vrax {

bool StartThread(std::thread& thread, std::function<void()> body) {
  try {
    thread = std::thread(std::move(body));
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

void JoinThread(std::thread& thread) {
  if (thread.joinable()) thread.join();
}

void SleepMilliseconds(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace vrax
