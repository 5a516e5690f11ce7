// For builds without cpp-httplib (the Windows cross-build): --serve explains
// itself instead of serving.
#include "serve.h"

namespace reel {

Result<void> serve(const ServeSettings&, const ToolSet&, std::ostream&, std::ostream&) {
    return fail("this build of reelmender-cli has no web front end (it was built without cpp-httplib)");
}

}  // namespace reel
