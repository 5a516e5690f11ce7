#pragma once
// The page, its script and its style, built into the program from server/web
// (see embed_web.cmake), so that nothing is read or fetched at run time.
#include <string_view>
#include <vector>

namespace reel {

struct WebAsset {
    std::string_view path;  // the request path: "/", "/app.js", "/app.css"
    std::string_view contentType;
    std::string_view body;
};

const std::vector<WebAsset>& web_assets();

}  // namespace reel
