// The program's one way to wait: for a time, or for the next bytes of a
// script, printing the server's replies as they come meanwhile.
#ifndef RCON_WAITING_H
#define RCON_WAITING_H

#include "link/rcon_link.h"
#include "platform/platform.h"

/// Waits until the script \a fd (-1: none) can be read, \a until_ms by
/// monotonic_ms() has come (-1: never), or a stop. Meanwhile it prints the
/// server's replies on \a link (nullptr: none): it drains as soon as a
/// datagram waits, then keeps quiet for 2 ms before it looks again, so that
/// a burst of replies is taken as it comes. What output holds is written out
/// before each sleep. Returns WAIT_SCRIPT, WAIT_TIME_UP or WAIT_STOPPED.
wait_end wait_printing_replies(rcon_link* link, int fd, long long until_ms);

#endif
