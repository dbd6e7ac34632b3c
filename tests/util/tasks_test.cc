#include "util/tasks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/model_support.h"
#include "util/arena.h"

namespace vesk {
namespace {

TEST(Tasks, EveryTaskRunsOnceWithItsOwnArenaAndAWaitingTaskSeesTheOthersResult) {
  const int64_t main_allocated = arena_allocated(), main_blocks = arena_blocks();
  constexpr int count = 9;
  const int order[count] = {8, 0, 7, 1, 6, 2, 5, 3, 4};
  std::atomic<int> runs[count] = {};
  const std::thread::id main_thread = std::this_thread::get_id();
  std::atomic<bool> worker_started{false};
  run_tasks(order, count, [&](int t) {
    runs[t]++;
    // Each task allocates and releases in its thread's arena. The main
    // thread's first task waits (at most 5 s) for the worker to take one,
    // so that a loaded machine cannot leave it idle.
    uint8_t* a = arena_alloc(1 << 20);
    a[0] = static_cast<uint8_t>(t);
    if (std::this_thread::get_id() != main_thread) worker_started = true;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (tasks_in_parallel() && !worker_started && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    arena_free(a);
  });
  for (const auto& r : runs) EXPECT_EQ(r.load(), 1);
  EXPECT_EQ(arena_allocated(), main_allocated);
  EXPECT_EQ(arena_blocks(), main_blocks);
  EXPECT_TRUE(worker_started || !tasks_in_parallel()) << "no task ran on the worker thread";
  // A waiting task sees the other one's result.
  const int pair[2] = {0, 1};
  task_done first;
  int value = 0, seen = -1;
  for (int trial = 0; trial < 50; trial++) {
    first.flag = false;
    value = 0;
    run_tasks(pair, 2, [&](int t) {
      if (t == 1) {
        first.wait();
        seen = value;
      } else {
        value = 42 + trial;
        first.set();
      }
    });
    ASSERT_EQ(seen, 42 + trial);
  }
}

// Streams coded side by side must code as they do alone: each thread
// builds its own tables.
TEST(Tasks, ModelsCodeTheSameSideBySide) {
  const test::bytes a = test::text_sample(40000, 21), b = test::random_bytes(30000, 22);
  const test::bytes alone_a = test::model_encode(byte_model, a);
  const test::bytes alone_b = test::model_encode(block_model, b);
  test::bytes side_a, side_b;
  const int order[2] = {0, 1};
  for (int trial = 0; trial < 3; trial++) {
    run_tasks(order, 2, [&](int t) {
      if (t == 0) {
        side_a = test::model_encode(byte_model, a);
      } else {
        side_b = test::model_encode(block_model, b);
      }
    });
    EXPECT_EQ(side_a, alone_a);
    EXPECT_EQ(side_b, alone_b);
  }
}

}  // namespace
}  // namespace vesk
