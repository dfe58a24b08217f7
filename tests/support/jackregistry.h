#pragma once

namespace marlix::test {

// JACK keeps a table of at most eight running servers in shared memory. A server that
// dies without unregistering keeps its row, and JACK reclaims a row only for a server of
// the same name, so private servers with changing names fill the table for good. This
// clears the rows of servers whose process is gone (what JACK itself does for a same-named
// row) and returns how many it cleared; call it before starting a private server.
int ReclaimDeadJackServers();

} // namespace marlix::test
