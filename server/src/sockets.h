#pragma once
// The server's one need of the operating system beyond the process seam.
namespace reel {

// A browser that closes a connection mid-answer must not end the program:
// writes to a closed socket fail instead of raising SIGPIPE (POSIX; nothing to
// do on Windows). Children still start with the default (start_child).
void ignore_broken_pipes();

}  // namespace reel
