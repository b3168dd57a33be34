#include "runner/waiting.h"

#include "output/output.h"
#include "runner/stop_signal.h"

enum {
  DRAIN_SPACING_MS = 500,  // the longest time between two drains
  BURST_SPACING_MS = 2,    // from a drain that printed to the next look
};

// Returns how long after a drain that took \a drained a datagram may end a
// sleep again. A burst of the server's replies is taken as it comes, in
// steps short enough that the receive buffer holds what comes meanwhile;
// others' datagrams wait for the next half-second drain.
static int quiet_ms(rcon_drained drained) {
  switch (drained) {
    case DRAINED_NOTHING:
      return 0;
    case DRAINED_REPLIES:
      return BURST_SPACING_MS;
    case DRAINED_OTHERS:
      return DRAIN_SPACING_MS;
  }
  return 0;
}

// Sleeps until \a fd or \a replies is ready, \a until_ms has come or a stop.
// It looks first, and writes out what output holds only when it is going to
// sleep, so that a script file read chunk by chunk still prints in blocks.
static wait_end sleep_until(int fd, rcon_socket replies, long long until_ms) {
  wait_end end = wait_for(fd, replies, 0, &stop_requested);
  if (end != WAIT_TIME_UP) return end;
  output_flush();
  long long left = until_ms - monotonic_ms();
  if (left <= 0) return WAIT_TIME_UP;
  return wait_for(fd, replies, static_cast<int>(left), &stop_requested);
}

wait_end wait_printing_replies(const rcon_link* link, int fd, long long until_ms) {
  rcon_socket sock = link != nullptr ? link->sock : RCON_NO_SOCKET;
  long long now = monotonic_ms();
  long long next_drain = now + DRAIN_SPACING_MS;
  long long watched_from = now;  // no datagram ends a sleep before this
  for (;;) {
    if (until_ms >= 0 && now >= until_ms) return WAIT_TIME_UP;
    long long wake = next_drain;
    if (until_ms >= 0 && until_ms < wake) wake = until_ms;
    int watched = now >= watched_from;
    if (!watched && watched_from < wake) wake = watched_from;
    wait_end end = sleep_until(fd, watched ? sock : RCON_NO_SOCKET, wake);
    if (end == WAIT_STOPPED || end == WAIT_SCRIPT) return end;
    now = monotonic_ms();
    if (end == WAIT_REPLIES || now >= next_drain) {
      rcon_drained drained = link != nullptr ? rcon_drain(link) : DRAINED_NOTHING;
      now = monotonic_ms();
      next_drain = now + DRAIN_SPACING_MS;
      watched_from = now + quiet_ms(drained);
    }
  }
}
