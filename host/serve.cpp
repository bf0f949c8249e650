#include "serve.h"

#include "embedded.h"
#include "loader.h"
#include "presets.h"
#include "render.h"
#include "serve_worker.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <spawn.h>
#include <thread>

extern char **environ;

namespace texhost {

namespace {

using json = nlohmann::json;

// A request the server refuses: the HTTP status and a one-line reason.
struct HttpError : HostError {
    int status;
    HttpError(int s, const std::string &why) : HostError(why), status(s) {}
};

// The largest body accepted: a parameter file is a few hundred bytes.
constexpr size_t max_body = 64 * 1024;

struct Entry {
    std::string id;      // the library's name without ".so": what requests name
    std::string path;
    std::unique_ptr<Plugin> plugin;
    std::vector<Preset> presets;
};

struct Lane;

// One render request; a newer one from the same page cancels it.
struct Job {
    long id = 0;
    Lane *lane = nullptr;
    std::atomic<bool> cancelled{false};
};

// A render process with the job it runs; previews and exports have one each,
// so that a long export does not hold up the preview.
struct Lane {
    explicit Lane(const std::string &exe) : process(exe) {}
    std::mutex run_lock;    // one job at a time
    std::mutex state_lock;  // guards `running`
    const Job *running = nullptr;
    RenderProcess process;
};

// What a render request asks for, checked.
struct RenderRequest {
    const Entry *entry = nullptr;
    RenderJob job;
    std::string session, download;
};

bool is_loopback(const std::string &host)
{
    return host == "localhost" || host == "::1" || host.compare(0, 4, "127.") == 0;
}

std::string one_line(std::string s)
{
    for (char &c : s)
        if (c == '\n' || c == '\r')
            c = ' ';
    return s;
}

double number_param(const std::string &name, const std::string &text)
{
    char *end = nullptr;
    double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end || !std::isfinite(v))
        throw HttpError(400, name + " needs a number, not \"" + text + "\"");
    return v;
}

int count_param(const std::string &name, const std::string &text, int lo, int hi)
{
    double v = number_param(name, text);
    if (v != std::floor(v) || v < lo || v > hi)
        throw HttpError(400, name + " needs a whole number from " + std::to_string(lo) + " to " +
                                 std::to_string(hi) + ", not \"" + text + "\"");
    return (int)v;
}

bool flag_param(const std::string &name, const std::string &text)
{
    if (text == "1" || text == "true" || text == "on")
        return true;
    if (text == "0" || text == "false" || text == "off")
        return false;
    throw HttpError(400, name + " is 0 or 1, not \"" + text + "\"");
}

void size_param(const std::string &text, View &view)
{
    size_t x = text.find_first_of("xX");
    if (x == std::string::npos) {
        view.width = view.height = count_param("size", text, 1, max_image_side);
    } else {
        view.width = count_param("size", text.substr(0, x), 1, max_image_side);
        view.height = count_param("size", text.substr(x + 1), 1, max_image_side);
    }
    if ((long)view.width * view.height > max_image_pixels)
        throw HttpError(400, "size " + text + " is above the limit of " +
                                 std::to_string(max_image_pixels) + " pixels");
}

void center_param(const std::string &text, double c[3])
{
    size_t a = text.find(','), b = a == std::string::npos ? a : text.find(',', a + 1);
    if (b == std::string::npos || text.find(',', b + 1) != std::string::npos)
        throw HttpError(400, "center needs x,y,z, not \"" + text + "\"");
    c[0] = number_param("center", text.substr(0, a));
    c[1] = number_param("center", text.substr(a + 1, b - a - 1));
    c[2] = number_param("center", text.substr(b + 1));
}

// Letters, digits and a few marks only: the name lands in a header or a map.
bool plain_name(const std::string &s, size_t max_length)
{
    if (s.empty() || s.size() > max_length || s[0] == '.')
        return false;
    for (unsigned char c : s)
        if (!std::isalnum(c) && c != '.' && c != '_' && c != '-')
            return false;
    return true;
}

const char *content_type(const std::string &name)
{
    auto ends = [&](const char *tail) {
        size_t n = std::strlen(tail);
        return name.size() >= n && name.compare(name.size() - n, n, tail) == 0;
    };
    if (ends(".html"))
        return "text/html; charset=utf-8";
    if (ends(".css"))
        return "text/css; charset=utf-8";
    if (ends(".js"))
        return "text/javascript; charset=utf-8";
    if (ends(".png"))
        return "image/png";
    return "application/octet-stream";
}

json widget_json(const Widget &w)
{
    return json{{"index", w.index},       {"kind", kind_name(w.kind)},
                {"label", w.label},       {"key", w.key},
                {"tip", w.tip},           {"default", float_text(w.def)},
                {"min", float_text(w.min)}, {"max", float_text(w.max)}};
}

json values_json(const ParamBlock &block)
{
    json values = json::object();
    for (const Widget &w : block.plugin().widgets())
        if (w.has_value())
            values[w.key] = block.value_text(w.index);
    return values;
}

class Service {
public:
    explicit Service(const ServeOptions &o)
        : options_(o), preview_(o.executable), exports_(o.executable)
    {
        load_plugins();
    }

    void route(httplib::Server &svr);
    void cancel_all();
    const std::vector<std::string> &problems() const { return problems_; }

private:
    void load_plugins();
    const Entry &entry(const std::string &name) const;
    ParamBlock block_from(const Entry &e, const httplib::Request &req, int *preset_stype,
                          const Preset **preset) const;
    RenderRequest parse_render(const httplib::Request &req) const;
    void render(const httplib::Request &req, httplib::Response &res);
    void params_file(const httplib::Request &req, httplib::Response &res) const;
    void parse_params(const httplib::Request &req, httplib::Response &res) const;

    std::shared_ptr<Job> begin_job(const std::string &key, Lane &lane);
    void end_job(const std::string &key, const std::shared_ptr<Job> &job);
    static void cancel(Job &job);
    RenderAnswer run(Lane &lane, const std::shared_ptr<Job> &job, RenderJob &rj);

    ServeOptions options_;
    std::vector<Entry> entries_;
    std::vector<std::string> problems_;
    std::string plugins_json_;
    Lane preview_, exports_;
    std::atomic<long> next_job_{1};
    std::mutex jobs_lock_;
    std::map<std::string, std::shared_ptr<Job>> latest_; // the newest job of each page and lane
};

void Service::load_plugins()
{
    json list = json::array();
    for (const std::string &path : scan_plugins(options_.plugin_dir)) {
        if (path.find('\n') != std::string::npos)
            continue; // the render job is one line
        Entry e;
        e.path = path;
        e.id = library_stem(path);
        try {
            e.plugin = Plugin::open(path);
        } catch (const HostError &err) {
            problems_.push_back(std::string("skipped: ") + err.what());
            continue;
        }
        json presets = json::array();
        for (const Preset &p : presets_for(e.id)) {
            try {
                ParamBlock block = e.plugin->defaults();
                int stype = apply_preset(p, *e.plugin, block);
                presets.push_back({{"name", p.name},
                                   {"subtype", stype < 0 ? "" : e.plugin->subtype_name(stype)},
                                   {"shape", p.shape},
                                   {"values", values_json(block)}});
                e.presets.push_back(p);
            } catch (const HostError &err) {
                problems_.push_back(std::string("preset skipped: ") + err.what());
            }
        }
        json widgets = json::array();
        for (const Widget &w : e.plugin->widgets())
            widgets.push_back(widget_json(w));
        list.push_back({{"id", e.id},
                        {"name", e.plugin->name()},
                        {"subtypes", e.plugin->subtypes()},
                        {"reentrant", e.plugin->reentrant()},
                        {"widgets", widgets},
                        {"presets", presets}});
        entries_.push_back(std::move(e));
    }
    if (entries_.empty())
        throw HostError("no usable plug-ins in \"" + options_.plugin_dir +
                        "\" (use --plugin-dir or TEXHOST_PLUGIN_DIR)" +
                        (problems_.empty() ? "" : "; " + problems_[0]));
    json limits = {{"max_side", max_image_side}, {"max_pixels", max_image_pixels}};
    // A plug-in's texts need not be UTF-8: bytes that are not are replaced.
    plugins_json_ = json{{"plugins", list}, {"limits", limits}}.dump(
        -1, ' ', false, json::error_handler_t::replace);
}

// Only the plug-ins found at start are known: a name never becomes a path.
const Entry &Service::entry(const std::string &name) const
{
    for (const Entry &e : entries_)
        if (e.id == name)
            return e;
    for (const Entry &e : entries_)
        if (!normalized_name(name).empty() && normalized_name(e.plugin->name()) == normalized_name(name))
            return e;
    std::string list;
    for (const Entry &e : entries_)
        list += (list.empty() ? "" : ", ") + e.id;
    throw HttpError(404, "unknown plug-in \"" + name + "\"; plug-ins: " + list);
}

// The parameter block of a request: the defaults, then the preset, then
// every p.LABEL=VALUE.
ParamBlock Service::block_from(const Entry &e, const httplib::Request &req, int *preset_stype,
                               const Preset **preset) const
{
    ParamBlock block = e.plugin->defaults();
    *preset_stype = -1;
    *preset = nullptr;
    if (req.has_param("preset")) {
        std::string name = req.get_param_value("preset");
        for (const Preset &p : e.presets)
            if (normalized_name(p.name) == normalized_name(name))
                *preset = &p;
        if (!*preset)
            throw HttpError(404, "unknown preset \"" + name + "\" for " + e.id);
        *preset_stype = apply_preset(**preset, *e.plugin, block);
    }
    for (const auto &kv : req.params)
        if (kv.first.compare(0, 2, "p.") == 0)
            block.set_index(e.plugin->widget(kv.first.substr(2)), kv.second);
    return block;
}

RenderRequest Service::parse_render(const httplib::Request &req) const
{
    static const char *const known[] = {"plugin", "stype",  "preset",     "shape",
                                        "view",   "size",   "extent",     "center",
                                        "footprint", "relief", "bump_scale", "bits",
                                        "session", "download"};
    for (const auto &kv : req.params) {
        bool ok = kv.first.compare(0, 2, "p.") == 0;
        for (const char *k : known)
            ok = ok || kv.first == k;
        if (!ok)
            throw HttpError(400, "unknown request parameter \"" + kv.first + "\"");
    }
    if (!req.has_param("plugin"))
        throw HttpError(400, "no plug-in given (plugin=NAME)");
    RenderRequest r;
    r.entry = &entry(req.get_param_value("plugin"));
    const Plugin &plugin = *r.entry->plugin;
    RenderJob &job = r.job;
    job.plugin_path = r.entry->path;

    int preset_stype;
    const Preset *preset;
    ParamBlock block = block_from(*r.entry, req, &preset_stype, &preset);
    job.slots = block.slots();
    job.stype = req.has_param("stype") ? plugin.subtype(req.get_param_value("stype"))
                                       : std::max(preset_stype, 0);

    View &v = job.view;
    std::string shape = req.has_param("shape") ? req.get_param_value("shape")
                        : preset && !preset->shape.empty() ? preset->shape
                                                           : "plane";
    v.shape = parse_shape(shape);
    std::string view = req.has_param("view") ? req.get_param_value("view")
                       : v.shape == Shape::plane ? "intensity"
                                                 : "shaded";
    if (view == "normal")
        job.kind = ImageKind::normal_map;
    else if (view != "intensity" && view != "shaded")
        throw HttpError(400, "unknown view \"" + view + "\"; views: intensity, normal, shaded");
    if (v.shape != Shape::plane && view != "shaded")
        throw HttpError(400, "the " + shape + " is shown shaded only (view=shaded)");
    if (v.shape == Shape::plane && view == "shaded") {
        // A lit flat surface: the height field without hills.
        v.shape = Shape::terrain;
        v.relief = 0;
    }
    if (req.has_param("size"))
        size_param(req.get_param_value("size"), v);
    if (req.has_param("extent")) {
        v.extent = number_param("extent", req.get_param_value("extent"));
        if (!(v.extent > 0))
            throw HttpError(400, "extent must be above 0");
    }
    if (req.has_param("center"))
        center_param(req.get_param_value("center"), v.center);
    if (req.has_param("footprint"))
        v.footprint = flag_param("footprint", req.get_param_value("footprint"));
    if (req.has_param("relief")) {
        if (shape != "terrain")
            throw HttpError(400, "relief belongs to shape=terrain");
        v.relief = number_param("relief", req.get_param_value("relief"));
        if (v.relief < 0)
            throw HttpError(400, "relief must not be negative");
    }
    if (req.has_param("bump_scale"))
        job.bump_scale = number_param("bump_scale", req.get_param_value("bump_scale"));
    if (req.has_param("bits")) {
        std::string b = req.get_param_value("bits");
        if (b != "8" && b != "16")
            throw HttpError(400, "bits is 8 or 16, not \"" + b + "\"");
        if (b == "16" && job.kind == ImageKind::normal_map)
            throw HttpError(400, "the normal map has 8 bits per channel");
        if (b == "16")
            job.kind = ImageKind::gray16;
    }
    if (req.has_param("session")) {
        r.session = req.get_param_value("session");
        if (!plain_name(r.session, 64))
            throw HttpError(400, "session is up to 64 letters, digits, '_' or '-'");
    }
    if (req.has_param("download")) {
        r.download = req.get_param_value("download");
        if (!plain_name(r.download, 128))
            throw HttpError(400, "download needs a plain file name, not \"" + r.download + "\"");
    }
    // A preview is shown and dropped: encoded fast. A download is the file
    // texhost render writes, to the byte.
    job.quick_png = r.download.empty();
    return r;
}

std::shared_ptr<Job> Service::begin_job(const std::string &key, Lane &lane)
{
    auto job = std::make_shared<Job>();
    job->id = next_job_++ & 0x7fffffff;
    job->lane = &lane;
    if (key.empty())
        return job;
    std::shared_ptr<Job> old;
    {
        std::lock_guard<std::mutex> hold(jobs_lock_);
        old = latest_[key];
        latest_[key] = job;
    }
    if (old)
        cancel(*old);
    return job;
}

void Service::end_job(const std::string &key, const std::shared_ptr<Job> &job)
{
    std::lock_guard<std::mutex> hold(jobs_lock_);
    auto it = latest_.find(key);
    if (it != latest_.end() && it->second == job)
        latest_.erase(it);
}

void Service::cancel(Job &job)
{
    job.cancelled = true;
    std::lock_guard<std::mutex> hold(job.lane->state_lock);
    if (job.lane->running == &job)
        job.lane->process.cancel(job.id);
}

void Service::cancel_all()
{
    std::lock_guard<std::mutex> hold(jobs_lock_);
    for (auto &kv : latest_)
        cancel(*kv.second);
}

RenderAnswer Service::run(Lane &lane, const std::shared_ptr<Job> &job, RenderJob &rj)
{
    std::lock_guard<std::mutex> one_at_a_time(lane.run_lock);
    {
        std::lock_guard<std::mutex> hold(lane.state_lock);
        if (job->cancelled)
            throw RenderCancelled();
        lane.running = job.get();
    }
    struct Done {
        Lane &lane;
        ~Done()
        {
            std::lock_guard<std::mutex> hold(lane.state_lock);
            lane.running = nullptr;
        }
    } done{lane};
    rj.id = job->id;
    return lane.process.run(rj);
}

void Service::render(const httplib::Request &req, httplib::Response &res)
{
    RenderRequest r = parse_render(req);
    Lane &lane = r.download.empty() ? preview_ : exports_;
    const std::string key = r.session.empty() ? "" : r.session + (&lane == &preview_ ? "/preview" : "/export");
    std::shared_ptr<Job> job = begin_job(key, lane);
    RenderAnswer a;
    try {
        a = run(lane, job, r.job);
    } catch (const RenderCrash &crash) {
        end_job(key, job);
        std::string what = "the plug-in " + r.entry->plugin->name() + " (" + r.entry->id +
                           ".so) crashed while rendering: the render process " + crash.what();
        std::fprintf(stderr, "texhost serve: %s; a new render process takes the next request\n",
                     what.c_str());
        throw HttpError(500, what);
    } catch (...) {
        end_job(key, job);
        throw;
    }
    end_job(key, job);
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.6f", a.seconds);
    res.set_header("X-Render-Seconds", seconds);
    res.set_header("X-Render-Samples", std::to_string(a.samples));
    res.set_header("X-Render-Threads", std::to_string(a.threads));
    res.set_header("X-Image-Size",
                   std::to_string(r.job.view.width) + "x" + std::to_string(r.job.view.height));
    res.set_header("Cache-Control", "no-store");
    if (!r.download.empty())
        res.set_header("Content-Disposition", "attachment; filename=\"" + r.download + "\"");
    res.set_content(std::string(a.png.begin(), a.png.end()), "image/png");
}

// The parameter file of the settings in the request, as --save-params writes it.
void Service::params_file(const httplib::Request &req, httplib::Response &res) const
{
    for (const auto &kv : req.params)
        if (kv.first != "plugin" && kv.first != "preset" && kv.first != "download" &&
            kv.first.compare(0, 2, "p.") != 0)
            throw HttpError(400, "unknown request parameter \"" + kv.first + "\"");
    if (!req.has_param("plugin"))
        throw HttpError(400, "no plug-in given (plugin=NAME)");
    const Entry &e = entry(req.get_param_value("plugin"));
    int stype;
    const Preset *preset;
    ParamBlock block = block_from(e, req, &stype, &preset);
    if (req.has_param("download")) {
        std::string name = req.get_param_value("download");
        if (!plain_name(name, 128))
            throw HttpError(400, "download needs a plain file name, not \"" + name + "\"");
        res.set_header("Content-Disposition", "attachment; filename=\"" + name + "\"");
    }
    res.set_content(block.to_text(), "text/plain; charset=utf-8");
}

// A parameter file sent by the page: its values over the defaults, or the
// line that is wrong.
void Service::parse_params(const httplib::Request &req, httplib::Response &res) const
{
    if (!req.has_param("plugin"))
        throw HttpError(400, "no plug-in given (plugin=NAME)");
    const Entry &e = entry(req.get_param_value("plugin"));
    if (req.body.find('\0') != std::string::npos)
        throw HttpError(400, "not a parameter file (binary data)");
    ParamBlock block = e.plugin->defaults();
    block.apply_text(req.body, "parameter file");
    res.set_content(json{{"values", values_json(block)}}.dump(-1, ' ', false,
                                                           json::error_handler_t::replace),
                    "application/json");
}

// Runs a handler; a refused request gets its status and a one-line reason.
template <class F> void answer(httplib::Response &res, F handler)
{
    try {
        handler();
    } catch (const HttpError &e) {
        res.status = e.status;
        res.set_content(one_line(e.what()) + "\n", "text/plain; charset=utf-8");
    } catch (const RenderCancelled &) {
        res.status = 409;
        res.set_content("superseded by a newer request\n", "text/plain; charset=utf-8");
    } catch (const HostError &e) {
        res.status = 400;
        res.set_content(one_line(e.what()) + "\n", "text/plain; charset=utf-8");
    } catch (const std::exception &e) {
        res.status = 500;
        res.set_content(one_line(e.what()) + "\n", "text/plain; charset=utf-8");
    }
}

void Service::route(httplib::Server &svr)
{
    svr.Get("/api/plugins", [this](const httplib::Request &, httplib::Response &res) {
        res.set_content(plugins_json_, "application/json");
    });
    svr.Get("/api/render", [this](const httplib::Request &req, httplib::Response &res) {
        answer(res, [&] { render(req, res); });
    });
    svr.Get("/api/params", [this](const httplib::Request &req, httplib::Response &res) {
        answer(res, [&] { params_file(req, res); });
    });
    svr.Post("/api/params", [this](const httplib::Request &req, httplib::Response &res) {
        answer(res, [&] { parse_params(req, res); });
    });
    // The page: only the files built in, looked up by name.
    svr.Get(R"(/([A-Za-z0-9_.-]*))", [](const httplib::Request &req, httplib::Response &res) {
        std::string name = req.matches[1];
        if (name.empty())
            name = "index.html";
        for (const EmbeddedFile *f = embedded_web; f->name; f++)
            if (std::string(f->name) == "web/" + name) {
                res.set_content(f->text(), content_type(name));
                return;
            }
        res.status = 404;
        res.set_content("not found: /" + one_line(name) + "\n", "text/plain; charset=utf-8");
    });
    svr.set_error_handler([](const httplib::Request &req, httplib::Response &res) {
        if (res.body.empty())
            res.set_content(std::to_string(res.status) + ": " + one_line(req.path) + "\n",
                            "text/plain; charset=utf-8");
    });
}

void open_browser(const std::string &url)
{
    std::string u = url;
    char prog[] = "xdg-open";
    char *argv[] = {prog, u.data(), nullptr};
    pid_t pid;
    if (posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ) != 0)
        std::fprintf(stderr, "texhost serve: cannot start a browser (xdg-open); open %s yourself\n",
                     url.c_str());
}

} // namespace

int serve(const ServeOptions &o)
{
    // Ctrl-C and SIGTERM are taken by one thread that stops the server; a
    // render process that died must not end the server by SIGPIPE.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    Service service(o);
    for (const std::string &p : service.problems())
        std::fprintf(stderr, "texhost serve: %s\n", one_line(p).c_str());

    httplib::Server svr;
    svr.set_payload_max_length(max_body);
    // Address reuse for a quick restart, but no port sharing: a second
    // server on a port in use must fail, not take half the requests.
    svr.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    service.route(svr);
    int port = o.port;
    if (port == 0)
        port = svr.bind_to_any_port(o.host);
    else if (!svr.bind_to_port(o.host, port))
        port = -1;
    if (port <= 0)
        throw HostError("cannot listen on " + o.host + " port " + std::to_string(o.port) +
                        " (in use, or not an address of this machine)");

    std::string host = o.host.find(':') != std::string::npos ? "[" + o.host + "]" : o.host;
    std::string url = "http://" + host + ":" + std::to_string(port) + "/";
    if (!is_loopback(o.host))
        std::fprintf(stderr,
                     "texhost serve: WARNING: listening on %s, not on this machine alone: "
                     "anyone who can reach this address can use the server and make it render, "
                     "without any password\n",
                     o.host.c_str());
    std::printf("texhost serve: %s (Ctrl-C stops it)\n", url.c_str());
    std::fflush(stdout);
    if (o.open_browser)
        open_browser(url);

    std::atomic<bool> stopping{false}, listening_over{false};
    std::thread stopper([&] {
        int sig = 0;
        sigwait(&stop_signals, &sig);
        stopping = true;
        service.cancel_all();
        // A stop before the server has begun to listen would be lost and
        // leave it listening: wait for it to begin (or to have ended).
        while (!svr.is_running() && !listening_over)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        svr.stop();
    });
    bool ok = svr.listen_after_bind();
    listening_over = true;
    if (!stopping) // the server ended by itself: wake the stopper
        pthread_kill(stopper.native_handle(), SIGTERM);
    stopper.join();
    return ok ? 0 : 1;
}

} // namespace texhost
