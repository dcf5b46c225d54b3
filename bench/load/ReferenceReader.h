#pragma once

#include "LoadRun.h"

// The floor to compare the link with: one thread, epoll over all K streams,
// plain non-blocking read of every descriptor that is ready, the same
// message check, resynchronisation and decoding as the link, one store per
// controller filled a batch at a time. No event loop, no Qt devices, no
// command handling. Runs against its own simulator process like runLoad
// and reports the CPU time of its reading thread per window.
LoadResult runReference(const LoadOptions &options);
