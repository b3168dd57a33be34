#include "runner/waiting.h"

#include <limits.h>

#include "output/output.h"
#include "runner/stop_signal.h"

// After a drain, no datagram ends a sleep for this long: a burst of the
// server's replies is taken a drain every few of them, and steps this short
// keep up with it, since the receive buffer holds what comes meanwhile.
enum { QUIET_AFTER_DRAIN_MS = 2 };

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

// What the next sleep watches, and when it ends at the latest.
struct next_sleep {
  rcon_socket watched;  // RCON_NO_SOCKET while the quiet time lasts
  long long wake_ms;    // -1: never
};

// Returns the next sleep of a wait that ends at \a until_ms (-1: never), on
// \a sock, at \a now: the socket is watched once the quiet time after a
// drain, up to \a quiet_until, is over; until then the sleep ends with that
// time, or with the wait if that comes first.
static next_sleep next_sleep_of(rcon_socket sock, long long now, long long quiet_until,
                                long long until_ms) {
  if (now >= quiet_until) return {sock, until_ms};
  if (until_ms >= 0 && until_ms < quiet_until) return {RCON_NO_SOCKET, until_ms};
  return {RCON_NO_SOCKET, quiet_until};
}

wait_end wait_printing_replies(rcon_link* link, int fd, long long until_ms) {
  rcon_socket sock = link != nullptr ? link->sock : RCON_NO_SOCKET;
  long long quiet_until = 0;  // no datagram ends a sleep before this
  for (;;) {
    long long now = monotonic_ms();
    if (until_ms >= 0 && now >= until_ms) return WAIT_TIME_UP;
    next_sleep next = next_sleep_of(sock, now, quiet_until, until_ms);
    wait_end end = sleep_until(fd, next.watched, next.wake_ms);
    if (end == WAIT_STOPPED || end == WAIT_SCRIPT) return end;
    if (end == WAIT_REPLIES) {
      rcon_drain(link);
      quiet_until = monotonic_ms() + QUIET_AFTER_DRAIN_MS;
    }
  }
}
