// The port's gate under threads taking turns and threads racing: every
// access runs alone, whichever thread makes it.
#include "ports/simboard/client_gate.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace simboard {
namespace {

TEST(ClientGate, AccessesNeverOverlapWhetherThreadsTakeTurnsOrRace) {
  ClientGate gate;
  // Not atomic on purpose: an overlap loses increments or trips `inside`.
  std::uint64_t count = 0;
  int inside = 0;
  bool overlapped = false;
  auto access = [&] {
    if (++inside != 1) overlapped = true;
    ++count;
    --inside;
    return count;
  };
  // Turns: one command's worker thread after another, as a driver runs them.
  for (int command = 0; command < 5; ++command) {
    std::thread worker([&] {
      for (int i = 0; i < 1000; ++i) gate.Pass(access);
    });
    worker.join();
  }
  EXPECT_EQ(count, 5000u);
  // A new thread may reuse an ended one's identity and pass straight on.
  if (gate.lock_free()) {
    EXPECT_GE(gate.handoffs(), 1u);
    EXPECT_LE(gate.handoffs(), 5u);
  }
  // Races: four threads at once.
  std::vector<std::thread> racers;
  for (int t = 0; t < 4; ++t) {
    racers.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) gate.Pass(access);
    });
  }
  for (auto& racer : racers) racer.join();
  EXPECT_EQ(count, 5000u + 4 * 20000u);
  EXPECT_FALSE(overlapped);
}

}  // namespace
}  // namespace simboard
