#include "runner/stop_signal.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "output/output.h"
#include "platform/platform.h"

// SIGINT, SIGTERM and SIGABRT each ask for a stop. One during set-up is
// forgotten whole: no alarm is left behind to cut the run's reads and writes
// short. One after set-up gives output that a reader has stopped taking
// about a second, then counts it lost, and a second stop does not put that
// off. This waits on the clock for that second.
static void stop_after_set_up_only() {
  install_stop_handler(on_stop_signal);
  for (int sig : {SIGINT, SIGABRT, SIGTERM}) {
    stop_requested = 0;
    (void)kill(getpid(), sig);
    EXPECT_EQ(stop_requested, 1) << sig;
  }
  end_set_up();
  EXPECT_EQ(stop_requested, 0);
  EXPECT_EQ(alarm(0), 0u);
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  output_to(ends[1]);
  print_text(std::string(fcntl(ends[1], F_GETPIPE_SZ), 'x').c_str());
  (void)kill(getpid(), SIGTERM);
  auto start = std::chrono::steady_clock::now();
  std::thread second_stop([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(900));
    (void)kill(getpid(), SIGTERM);
  });
  print_text(std::string(4096, 'x').c_str());
  second_stop.join();
  EXPECT_EQ(output_exit_status(), 1);
  std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  EXPECT_GT(took.count(), 0.5);
  EXPECT_LT(took.count(), 1.5);
}

// The handlers, the stop flag and the alarm that rings every second cannot
// be undone: the checks run in a child of their own, which ends with status
// 1 if one of them failed, and whose standard error is compared.
TEST(StopSignal, StopsAfterSetUpOnly) {
  EXPECT_EXIT(
      {
        stop_after_set_up_only();
        exit(testing::Test::HasFailure() ? 1 : 0);
      },
      testing::ExitedWithCode(0),
      "^rcon-script: write error: Interrupted system call\n$");
}
