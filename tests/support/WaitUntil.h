#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace zor::test {

// Polls APredicate until it holds or ATimeout passes. The time-out is a safety
// net for a broken build, never a way of waiting for something to happen.
[[nodiscard]] inline testing::AssertionResult WaitUntil(
    const std::function<bool()>& APredicate, std::chrono::milliseconds ATimeout = std::chrono::seconds(30),
    const std::string& AWhat = "condition") {
  const auto deadline = std::chrono::steady_clock::now() + ATimeout;
  while (!APredicate()) {
    if (std::chrono::steady_clock::now() >= deadline)
      return testing::AssertionFailure() << AWhat << " not reached within " << ATimeout.count() << " ms";
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return testing::AssertionSuccess();
}

}  // namespace zor::test
