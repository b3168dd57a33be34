#include "runner/waiting.h"

#include <limits.h>

#include "output/output.h"
#include "runner/stop_signal.h"

enum {
  SERVER_QUIET_MS = 2,    // after a drain that took the server's datagrams
  OTHERS_QUIET_MS = 500,  // after one that took only others'
};

// Returns how long after a drain that took \a drained no datagram may end a
// sleep. Steps short enough for the receive buffer to hold what comes
// meanwhile keep up with a burst of the server's replies, whatever they
// hold: its reply with no text, which ends a drain, may come first.
static int quiet_ms(rcon_drained drained) {
  switch (drained) {
    case DRAINED_NOTHING:
      return 0;
    case DRAINED_SERVER:
      return SERVER_QUIET_MS;
    case DRAINED_OTHERS:
      return OTHERS_QUIET_MS;
  }
  return 0;
}

// Sleeps until \a fd or \a replies is ready, \a until_ms has come (-1: never)
// or a stop; a sleep longer than wait_for() takes (some 24.8 days) ends
// early, for the caller to sleep again. It looks first, and writes out what
// output holds only when it is going to sleep, so that a script file read
// chunk by chunk still prints in blocks.
static wait_end sleep_until(int fd, rcon_socket replies, long long until_ms) {
  wait_end end = wait_for(fd, replies, 0, &stop_requested);
  if (end != WAIT_TIME_UP) return end;
  output_flush();
  if (until_ms < 0) return wait_for(fd, replies, -1, &stop_requested);
  long long left = until_ms - monotonic_ms();
  if (left <= 0) return WAIT_TIME_UP;
  if (left > INT_MAX) left = INT_MAX;
  return wait_for(fd, replies, static_cast<int>(left), &stop_requested);
}

wait_end wait_printing_replies(rcon_link* link, int fd, long long until_ms) {
  rcon_socket sock = link != nullptr ? link->sock : RCON_NO_SOCKET;
  long long quiet_until = 0;  // no datagram ends a sleep before this
  for (;;) {
    long long now = monotonic_ms();
    if (until_ms >= 0 && now >= until_ms) return WAIT_TIME_UP;
    int watched = now >= quiet_until;
    long long wake = until_ms;
    if (!watched && (wake < 0 || quiet_until < wake)) wake = quiet_until;
    wait_end end = sleep_until(fd, watched ? sock : RCON_NO_SOCKET, wake);
    if (end == WAIT_STOPPED || end == WAIT_SCRIPT) return end;
    if (end == WAIT_REPLIES) quiet_until = monotonic_ms() + quiet_ms(rcon_drain(link));
  }
}
