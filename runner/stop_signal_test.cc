#include "runner/stop_signal.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "output/output.h"
#include "platform/platform.h"

// SIGINT, SIGTERM and SIGABRT each ask for a stop, and give output that a
// reader has stopped taking about a second from the first of them; then it
// counts as lost, and a later stop does not put that off. This waits on the
// clock for that second.
static void stop_gives_output_a_second() {
  install_stop_handler(on_stop_signal);
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  output_to(ends[1]);
  print_text(std::string(fcntl(ends[1], F_GETPIPE_SZ), 'x').c_str());
  auto start = std::chrono::steady_clock::now();
  for (int sig : {SIGINT, SIGABRT, SIGTERM}) {
    stop_requested = 0;
    (void)kill(getpid(), sig);
    EXPECT_EQ(stop_requested, 1) << sig;
  }
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
TEST(StopSignal, GivesOutputASecond) {
  EXPECT_EXIT(
      {
        stop_gives_output_a_second();
        exit(testing::Test::HasFailure() ? 1 : 0);
      },
      testing::ExitedWithCode(0),
      "^rcon-script: output not taken within a second of the stop: lost\n$");
}
