#include "sockets.h"

namespace reel {

// Windows has no SIGPIPE: a write to a closed socket returns an error.
void ignore_broken_pipes() {}

}  // namespace reel
