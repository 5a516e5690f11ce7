#include "web_server.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <deque>
#include <expected>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include <fmt/format.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include "access.h"
#include "edit_run.h"
#include "edits/time.h"
#include "json_writer.h"
#include "page_data.h"
#include "preview/preview.h"
#include "probe/probe.h"
#include "run_slot.h"
#include "tools/process.h"
#include "util/base64.h"
#include "util/files.h"
#include "util/numbers.h"
#include "util/text.h"
#include "web_assets.h"

namespace reel {

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr unsigned kDefaultFrameWidth = 160;
constexpr unsigned kMaxFrameWidth = 1280;
constexpr unsigned kClipHeight = 360;
// Worker threads: a browser keeps about six connections and one event stream.
constexpr std::size_t kWorkers = 16;

// A refused request: the status to answer and why.
struct Refusal {
    int status = 400;
    std::string message;
};
template <class T>
using Answer = std::expected<T, Refusal>;
std::unexpected<Refusal> refusal(int status, std::string message) {
    return std::unexpected<Refusal>(Refusal{status, std::move(message)});
}

void send_json(httplib::Response& res, const json& body, int status = 200) {
    res.status = status;
    res.set_content(body.dump(-1, ' ', false, json::error_handler_t::replace), "application/json");
}

void refuse(httplib::Response& res, const Refusal& refused) {
    send_json(res, {{"error", refused.message}}, refused.status);
}

std::optional<double> number_param(const httplib::Request& req, const char* name) {
    if (!req.has_param(name)) return std::nullopt;
    const auto value = read_number(req.get_param_value(name));
    if (!value || !std::isfinite(*value)) return std::nullopt;
    return value;
}

Answer<json> json_body(const httplib::Request& req) {
    json body = json::parse(req.body, nullptr, false);
    if (body.is_discarded() || !body.is_object()) return refusal(400, "the request body is not a JSON object");
    return body;
}

// A file's identity for the caches: a replaced output must not show old pictures.
std::string file_stamp(const fs::path& path) {
    std::error_code ec;
    const auto time = fs::last_write_time(path, ec).time_since_epoch().count();
    const auto size = fs::file_size(path, ec);
    return fmt::format("{}|{}|{}", path_text(path), time, size);
}

// Pictures made for the page, kept while they fit: the thumbnail strip is
// asked for again whenever a movie is opened again.
class FrameCache {
public:
    std::optional<std::string> find(const std::string& key) {
        std::lock_guard lock(mutex_);
        const auto found = pictures_.find(key);
        if (found == pictures_.end()) return std::nullopt;
        return found->second;
    }

    void keep(const std::string& key, const std::string& jpeg) {
        std::lock_guard lock(mutex_);
        if (!pictures_.emplace(key, jpeg).second) return;
        order_.push_back(key);
        bytes_ += jpeg.size();
        while (bytes_ > kLimit && !order_.empty()) {
            const auto oldest = pictures_.find(order_.front());
            bytes_ -= oldest->second.size();
            pictures_.erase(oldest);
            order_.pop_front();
        }
    }

private:
    static constexpr std::size_t kLimit = 64u << 20;
    std::mutex mutex_;
    std::map<std::string, std::string> pictures_;
    std::deque<std::string> order_;
    std::size_t bytes_ = 0;
};

// The last proxy clip: a video element asks for its file in ranges, and each
// range must not make the clip again.
class ClipCache {
public:
    std::optional<std::string> find(const std::string& key) {
        std::lock_guard lock(mutex_);
        if (key != key_) return std::nullopt;
        return clip_;
    }
    void keep(const std::string& key, const std::string& clip) {
        std::lock_guard lock(mutex_);
        key_ = key;
        clip_ = clip;
    }

private:
    std::mutex mutex_;
    std::string key_;
    std::string clip_;
};

}  // namespace

struct WebServer::Impl {
    ServerConfig config;
    httplib::Server http;
    std::thread listener;
    std::atomic<bool> listening{false};
    std::atomic<bool> stopping{false};
    std::once_flag stopped;
    RunSlot runs;
    FrameCache frames;
    ClipCache clips;

    // The path `relative` in the allowed folder numbered `root`.
    Answer<fs::path> resolve(std::string_view root, std::string_view relative) const {
        const auto index = parse_int64(root);
        if (!index || *index < 0 || *index >= static_cast<std::int64_t>(config.roots.size()))
            return refusal(404, fmt::format("there is no allowed folder '{}'", root));
        auto path = resolve_inside(config.roots[static_cast<std::size_t>(*index)], relative);
        if (!path) return refusal(403, path.error());
        return *path;
    }

    Answer<fs::path> existing_file(std::string_view root, std::string_view relative) const {
        auto path = resolve(root, relative);
        if (!path) return path;
        const auto info = file_info(path_text(*path));
        if (!info || !info->isRegular) return refusal(404, fmt::format("there is no file '{}'", relative));
        return path;
    }

    Answer<fs::path> requested_movie(const httplib::Request& req) const {
        return existing_file(req.get_param_value("root"), req.get_param_value("path"));
    }

    // Host, then token; the token in the address also sets the cookie.
    httplib::Server::HandlerResponse guard(const httplib::Request& req, httplib::Response& res) const {
        if (!host_allowed(req.get_header_value("Host"), config.port)) {
            refuse(res, {403, "this server answers only to 127.0.0.1 and localhost"});
            return httplib::Server::HandlerResponse::Handled;
        }
        const std::string cookie_name = token_cookie_name(config.port);
        const bool token_in_address = same_token(req.get_param_value("token"), config.token);
        const auto cookie = cookie_value(req.get_header_value("Cookie"), cookie_name);
        if (!token_in_address && !(cookie && same_token(*cookie, config.token))) {
            refuse(res, {401, "open the address that reelmender-cli --serve printed, with its token"});
            return httplib::Server::HandlerResponse::Handled;
        }
        if (token_in_address)
            res.set_header("Set-Cookie", fmt::format("{}={}; Path=/; HttpOnly; SameSite=Strict", cookie_name, config.token));
        return httplib::Server::HandlerResponse::Unhandled;
    }

    void list_folder(const httplib::Request& req, httplib::Response& res) const {
        const std::string root = req.get_param_value("root");
        const std::string relative = req.get_param_value("path");
        const auto folder = resolve(root, relative);
        if (!folder) return refuse(res, folder.error());
        std::error_code ec;
        if (!fs::is_directory(*folder, ec)) return refuse(res, {404, fmt::format("there is no folder '{}'", relative)});

        std::vector<std::string> folders;
        json files = json::array();
        std::vector<std::pair<std::string, std::uintmax_t>> found;
        for (fs::directory_iterator it(*folder, fs::directory_options::skip_permission_denied, ec), end;
             !ec && it != end; it.increment(ec)) {
            const std::string name = path_text(it->path().filename());
            if (name.starts_with(".")) continue;  // work folders and the like
            // A link that leads out of the folder is not offered at all.
            const auto inside = resolve(root, relative.empty() ? name : relative + "/" + name);
            if (!inside) continue;
            std::error_code kind;
            if (fs::is_directory(*inside, kind))
                folders.push_back(name);
            else if (fs::is_regular_file(*inside, kind))
                found.emplace_back(name, fs::file_size(*inside, kind));
        }
        std::ranges::sort(folders);
        std::ranges::sort(found);
        for (const auto& [name, size] : found) files.push_back({{"name", name}, {"size", size}});
        send_json(res, {{"root", root}, {"path", relative}, {"folders", folders}, {"files", files}});
    }

    void probe(const httplib::Request& req, httplib::Response& res) const {
        const auto movie = requested_movie(req);
        if (!movie) return refuse(res, movie.error());
        const auto info = probe_media(config.tools, path_text(*movie));
        if (!info) return refuse(res, {422, info.error()});
        res.set_content(write_probe_json(*info), "application/json");
    }

    void frame(const httplib::Request& req, httplib::Response& res) {
        const auto movie = requested_movie(req);
        if (!movie) return refuse(res, movie.error());
        const auto time = number_param(req, "t");
        if (!time) return refuse(res, {400, "a frame needs a time t in seconds"});
        const double asked = number_param(req, "w").value_or(kDefaultFrameWidth);
        const auto width = static_cast<unsigned>(std::clamp(asked, 64.0, static_cast<double>(kMaxFrameWidth)));
        const bool exact = req.get_param_value("exact") == "1";

        const std::string key = fmt::format("{}|{:.3f}|{}|{}", file_stamp(*movie), *time, width, exact);
        auto jpeg = frames.find(key);
        if (!jpeg) {
            auto encoded = grab_frame(config.tools, path_text(*movie), *time, width, exact);
            // Decoding keyframes only is quick but finds nothing after the last
            // keyframe that a seek can reach (near the end of a movie): the
            // picture is then decoded the slow way.
            if (!encoded && !exact) encoded = grab_frame(config.tools, path_text(*movie), *time, width, true);
            if (!encoded) return refuse(res, {422, encoded.error()});
            jpeg = base64_decode(*encoded);
            if (!jpeg) return refuse(res, {500, "the frame grab returned data that is not valid base64"});
            frames.keep(key, *jpeg);
        }
        res.set_header("Cache-Control", "no-store");
        res.set_content(*jpeg, "image/jpeg");
    }

    void clip(const httplib::Request& req, httplib::Response& res) {
        const auto movie = requested_movie(req);
        if (!movie) return refuse(res, movie.error());
        const auto start = number_param(req, "start");
        const auto length = number_param(req, "length");
        if (!start || !length || *length <= 0) return refuse(res, {400, "a clip needs a start and a length in seconds"});
        if (*length > kMaxClipSeconds)
            return refuse(res, {400, fmt::format("a clip is at most {} seconds long", format_shortest(kMaxClipSeconds))});

        const std::string key = fmt::format("{}|{:.3f}|{:.3f}", file_stamp(*movie), *start, *length);
        auto mp4 = clips.find(key);
        if (!mp4) {
            const auto encoded = make_proxy_clip(config.tools, path_text(*movie), *start, *length, kClipHeight);
            if (!encoded) return refuse(res, {422, encoded.error()});
            mp4 = base64_decode(*encoded);
            if (!mp4) return refuse(res, {500, "the proxy clip came back as data that is not valid base64"});
            clips.keep(key, *mp4);
        }
        res.set_header("Cache-Control", "no-store");
        res.set_content(*mp4, "video/mp4");
    }

    static void import_list(const httplib::Request& req, httplib::Response& res) {
        if (!is_valid_utf8(req.body)) return refuse(res, {400, "the edit list is not UTF-8 text"});
        const auto imported =
            import_edit_list(req.get_param_value("name"), req.body, number_param(req, "fps").value_or(0));
        json edits = json::array();
        for (const Edit& edit : imported.edits) edits.push_back(edit_to_json(edit));
        send_json(res, {{"edits", edits}, {"messages", imported.messages}});
    }

    static void export_list(const httplib::Request& req, httplib::Response& res) {
        const auto body = json_body(req);
        if (!body) return refuse(res, body.error());
        const auto edits = edits_from_json(body->value("edits", json()));
        if (!edits) return refuse(res, {400, edits.error()});
        const std::string format = req.get_param_value("format");
        if (format == "csv") return send_json(res, {{"text", edit_list_csv(*edits)}, {"messages", json::array()}});
        if (format == "edl") {
            const EdlText edl = edit_list_edl(*edits);
            return send_json(res, {{"text", edl.text}, {"messages", edl.messages}});
        }
        refuse(res, {400, "the export format is csv or edl"});
    }

    void start_run(const httplib::Request& req, httplib::Response& res) {
        const auto body = json_body(req);
        if (!body) return refuse(res, body.error());
        const json& root = body->value("root", json());
        const std::string movie_path = body->value("movie", std::string());
        const std::string output_path = body->value("output", std::string());
        if (!root.is_number_integer()) return refuse(res, {400, "the run needs the number of its folder"});
        const std::string root_text = root.dump();
        const auto movie = existing_file(root_text, movie_path);
        if (!movie) return refuse(res, movie.error());
        const auto output = resolve(root_text, output_path);
        if (!output) return refuse(res, output.error());
        if (output_path.empty()) return refuse(res, {400, "the run needs an output file name"});
        auto edits = edits_from_json(body->value("edits", json()));
        if (!edits) return refuse(res, {400, edits.error()});
        if (edits->empty()) return refuse(res, {400, "no edits given"});

        PipelineOptions options;
        options.movie = *movie;
        options.edits = std::move(*edits);
        options.output = *output;
        options.container = body->value("mp4", false) ? mp4_container() : matroska_container();
        json place = {{"root", root}, {"movie", movie_path}, {"output", output_path}};
        const bool started = runs.start(config.tools, [options = std::move(options), place](RunContext& ctx) {
            return run_job(ctx, options, place);
        });
        if (!started) return refuse(res, {409, "an edit run is going; wait for its end or cancel it"});
        send_json(res, {{"started", true}}, 202);
    }

    // The edit run, as the command line does it, and what the page shows after it.
    static json run_job(RunContext& ctx, const PipelineOptions& options, json place) {
        auto report = run_edits(ctx, options, {}, [&ctx](const std::string& warning) { ctx.log("warning: " + warning); });
        if (!report) return {{"ok", false}, {"error", report.error()}};
        double frame_seconds = 0;
        if (const auto info = probe_media(ctx.tools, path_text(options.movie)); info && info->video)
            frame_seconds = static_cast<double>(info->video->fpsDen) / static_cast<double>(info->video->fpsNum);
        json cuts = json::array();
        for (const CutPicture& cut : cut_pictures(*report, frame_seconds))
            cuts.push_back({{"id", cut.id}, {"kind", cut.kind}, {"source", cut.source}, {"output", cut.output}});
        place["ok"] = true;
        place["report"] = json::parse(write_run_report_json(*report));
        place["cuts"] = cuts;
        return place;
    }

    void events(httplib::Response& res) {
        res.set_header("Cache-Control", "no-store");
        auto state = std::make_shared<StreamState>();
        auto quiet = std::make_shared<int>(0);
        res.set_chunked_content_provider("text/event-stream", [this, state, quiet](std::size_t, httplib::DataSink& sink) {
            if (stopping.load()) {
                sink.done();
                return true;
            }
            std::string events = stream_events(runs.wait(state->revision, std::chrono::seconds(1)), *state);
            // A comment now and then finds out whether the page is still there.
            if (events.empty() && ++*quiet >= 15) events = ": still here\n\n";
            if (events.empty()) return true;
            *quiet = 0;
            return sink.write(events.data(), events.size());
        });
    }

    void routes() {
        http.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) { return guard(req, res); });
        for (const WebAsset& asset : web_assets()) {
            http.Get(std::string(asset.path), [&asset](const httplib::Request&, httplib::Response& res) {
                res.set_header("Cache-Control", "no-store");
                res.set_content(asset.body.data(), asset.body.size(), std::string(asset.contentType));
            });
        }
        http.Get("/api/roots", [this](const httplib::Request&, httplib::Response& res) {
            json roots = json::array();
            for (const fs::path& root : config.roots) roots.push_back(path_text(root));
            send_json(res, {{"roots", roots}});
        });
        http.Get("/api/list", [this](const httplib::Request& req, httplib::Response& res) { list_folder(req, res); });
        http.Get("/api/probe", [this](const httplib::Request& req, httplib::Response& res) { probe(req, res); });
        http.Get("/api/frame", [this](const httplib::Request& req, httplib::Response& res) { frame(req, res); });
        http.Get("/api/clip", [this](const httplib::Request& req, httplib::Response& res) { clip(req, res); });
        http.Get("/api/events", [this](const httplib::Request&, httplib::Response& res) { events(res); });
        http.Post("/api/import", [](const httplib::Request& req, httplib::Response& res) { import_list(req, res); });
        http.Post("/api/export", [](const httplib::Request& req, httplib::Response& res) { export_list(req, res); });
        http.Post("/api/run", [this](const httplib::Request& req, httplib::Response& res) { start_run(req, res); });
        http.Post("/api/cancel", [this](const httplib::Request&, httplib::Response& res) {
            if (!runs.cancel()) return refuse(res, {409, "no edit run is going"});
            send_json(res, {{"cancelled", true}});
        });
    }
};

Result<std::unique_ptr<WebServer>> WebServer::start(ServerConfig config) {
    auto impl = std::make_unique<Impl>();
    impl->config = std::move(config);
    impl->http.new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
    impl->http.set_payload_max_length(kMaxRequestBody);
    impl->http.set_default_headers({
        {"X-Content-Type-Options", "nosniff"},
        {"X-Frame-Options", "DENY"},
        {"Referrer-Policy", "no-referrer"},
        {"Content-Security-Policy",
         "default-src 'self'; img-src 'self' blob:; media-src 'self' blob:; object-src 'none'; base-uri 'none'; "
         "frame-ancestors 'none'"},
    });
    impl->routes();

    const std::string host = "127.0.0.1";
    const int asked = impl->config.port;
    const int port = asked == 0 ? impl->http.bind_to_any_port(host) : impl->http.bind_to_port(host, asked) ? asked : -1;
    if (port <= 0) return fail(fmt::format("cannot listen on {}:{}: the port is taken or not allowed", host, asked));
    impl->config.port = port;

    impl->listening = true;
    impl->listener = std::thread([raw = impl.get()] {
        raw->http.listen_after_bind();
        raw->listening = false;
    });
    // stop() before the listener runs would leave it listening for good.
    while (impl->listening.load() && !impl->http.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return std::unique_ptr<WebServer>(new WebServer(std::move(impl)));
}

WebServer::WebServer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

WebServer::~WebServer() { stop(); }

int WebServer::port() const { return impl_->config.port; }

const std::string& WebServer::token() const { return impl_->config.token; }

std::string WebServer::address() const { return fmt::format("http://127.0.0.1:{}/?token={}", port(), token()); }

bool WebServer::running() const { return impl_->listening.load(); }

void WebServer::stop() {
    std::call_once(impl_->stopped, [this] {
        impl_->stopping = true;
        impl_->runs.shutdown();
        impl_->http.stop();
        if (impl_->listener.joinable()) impl_->listener.join();
    });
}

}  // namespace reel
