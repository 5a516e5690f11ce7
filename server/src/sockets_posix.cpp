#include "sockets.h"

#include <signal.h>

namespace reel {

void ignore_broken_pipes() { ::signal(SIGPIPE, SIG_IGN); }

}  // namespace reel
