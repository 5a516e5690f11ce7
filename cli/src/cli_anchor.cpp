// Keeps the command-line library non-empty while its modules are added one by one.
namespace reel::cli {
int anchor() { return 0; }
}  // namespace reel::cli
