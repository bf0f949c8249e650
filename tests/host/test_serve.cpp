// texhost serve over HTTP: every endpoint's answers, the same bytes as
// texhost render, each kind of bad request refused with a 4xx and one line,
// a crashing plug-in survived, and a newer request cancelling an older one.
#include "host_test_util.h"
#include "loader.h"
#include "presets.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <future>
#include <map>

using namespace texhost;
using namespace hosttest;
using json = nlohmann::json;

namespace {

struct Server {
    pid_t pid = -1;
    int port = 0;
    std::string first_line;
};

// Starts texhost serve with `args` and reads the line with its URL; stderr
// goes to `err`.
Server start_server(const std::vector<std::string> &args, const std::string &err)
{
    Server s;
    int out[2];
    if (pipe(out) != 0)
        return s;
    std::vector<std::string> argv_s = {TEXHOST_PATH, "serve"};
    argv_s.insert(argv_s.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &a : argv_s)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::fflush(nullptr);
    s.pid = fork();
    if (s.pid == 0) {
        dup2(out[1], 1);
        if (!std::freopen(err.c_str(), "w", stderr))
            _exit(127);
        close(out[0]);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n')
        s.first_line += c;
    close(out[0]);
    size_t colon = s.first_line.rfind(':');
    if (s.first_line.find("http://") != std::string::npos && colon != std::string::npos)
        s.port = std::atoi(s.first_line.c_str() + colon + 1);
    return s;
}

// Stops the server as Ctrl-C does; its exit status.
int stop_server(const Server &s)
{
    int status = 0;
    kill(s.pid, SIGINT);
    waitpid(s.pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// One server for the whole suite, over a folder with three real plug-ins,
// the gradient, the crashing fake and a library of the wrong version.
class Serve : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = new TempDir;
        for (const char *d : {"harvoske", "pellosca", "vamorela"})
            std::filesystem::create_symlink(plugin_file(d), dir_->file(std::string(d) + ".so"));
        for (const char *f : {"gradient", "crashing/crash", "version2"})
            std::filesystem::create_symlink(fake_file(f), dir_->file(library_stem(f) + ".so"));
        server_ = start_server({"--port", "0", "--plugin-dir", dir_->path()},
                               dir_->file("stderr.txt"));
        ASSERT_NE(server_.first_line.find("http://127.0.0.1:"), std::string::npos)
            << server_.first_line;
        port_ = server_.port;
    }

    static void TearDownTestSuite()
    {
        if (server_.pid > 0) {
            EXPECT_EQ(stop_server(server_), 0) << "Ctrl-C ends the server cleanly";
        }
        delete dir_;
    }

    static httplib::Client client()
    {
        httplib::Client c("127.0.0.1", port_);
        c.set_read_timeout(120, 0);
        return c;
    }

    static httplib::Result get(const std::string &path, const httplib::Params &params = {})
    {
        return client().Get(path, params, httplib::Headers{});
    }

    static std::string server_log() { return read_text(dir_->file("stderr.txt")); }

public:
    static int port() { return port_; }

protected:

    // The file texhost render writes for these arguments.
    static std::string cli_bytes(std::vector<std::string> args, const std::string &file = "cli.png")
    {
        args.push_back("--plugin-dir");
        args.push_back(dir_->path());
        args.push_back("--quiet");
        RunResult r = run_texhost(args);
        EXPECT_EQ(r.status, 0) << r.err;
        return read_text(dir_->file(file));
    }

    static std::string out(const std::string &file = "cli.png") { return dir_->file(file); }

    static TempDir *dir_;
    static Server server_;
    static int port_;
};

TempDir *Serve::dir_ = nullptr;
Server Serve::server_;
int Serve::port_ = 0;

// A refused request: the status, one line of reason, and the server goes on.
void expect_refused(const httplib::Result &r, int status, const std::string &reason)
{
    ASSERT_TRUE(r) << "no answer";
    EXPECT_EQ(r->status, status) << r->body;
    EXPECT_EQ(std::count(r->body.begin(), r->body.end(), '\n'), 1) << r->body;
    EXPECT_NE(r->body.find(reason), std::string::npos) << "expected \"" << reason << "\" in " << r->body;
}

} // namespace

TEST_F(Serve, ListsThePluginsWithWidgetsAndPresets)
{
    auto r = get("/api/plugins");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    EXPECT_EQ(r->get_header_value("Content-Type"), "application/json");
    json j = json::parse(r->body);
    std::map<std::string, json> by_id;
    for (const json &p : j["plugins"])
        by_id[p["id"]] = p;
    // The library of the wrong version is skipped, and the server says so.
    EXPECT_EQ(by_id.size(), 5u);
    EXPECT_EQ(by_id.count("version2"), 0u);
    EXPECT_NE(server_log().find("version2.so"), std::string::npos) << server_log();
    EXPECT_EQ(by_id["crash"]["name"], "Crasher");
    EXPECT_EQ(by_id["gradient"]["reentrant"], false);
    EXPECT_EQ(j["limits"]["max_side"], max_image_side);

    auto marble = Plugin::open(plugin_file("pellosca"));
    const json &m = by_id["pellosca"];
    EXPECT_EQ(m["subtypes"], json({"Bands", "Rings", "Vertical"}));
    ASSERT_EQ(m["widgets"].size(), marble->widgets().size());
    for (const Widget &w : marble->widgets()) {
        const json &jw = m["widgets"][w.index];
        EXPECT_EQ(jw["label"], w.label);
        EXPECT_EQ(jw["key"], w.key);
        EXPECT_EQ(jw["kind"], kind_name(w.kind));
        EXPECT_EQ(jw["tip"], w.tip);
        EXPECT_EQ(jw["min"], float_text(w.min));
        EXPECT_EQ(jw["max"], float_text(w.max));
        EXPECT_EQ(jw["default"], float_text(w.def));
    }
    // A preset carries its sub-type and every value it leads to.
    bool found = false;
    for (const json &p : by_id["vamorela"]["presets"])
        if (p["name"] == "running_bond_wall") {
            found = true;
            EXPECT_EQ(p["subtype"], "2D");
            EXPECT_EQ(p["values"]["Z Size"], "0.5");
            EXPECT_EQ(p["values"]["Seed"], "0");
        }
    EXPECT_TRUE(found);
}

TEST_F(Serve, ServesThePageAndNothingElse)
{
    auto page = get("/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_NE(page->get_header_value("Content-Type").find("text/html"), std::string::npos);
    for (const char *id : {"id=\"plugin\"", "id=\"stype\"", "id=\"shape\"", "id=\"preview\""})
        EXPECT_NE(page->body.find(id), std::string::npos) << id;
    auto js = get("/app.js");
    ASSERT_TRUE(js);
    EXPECT_EQ(js->status, 200);
    EXPECT_NE(js->get_header_value("Content-Type").find("javascript"), std::string::npos);
    EXPECT_EQ(get("/style.css")->status, 200);

    // Only the built-in files: no path reaches the disk.
    for (const char *path : {"/nothing.js", "/..", "/../../../../etc/passwd", "/%2e%2e/%2e%2e/etc/passwd",
                             "/web/index.html", "/..%2f..%2fCMakeLists.txt", "/api/", "/api/plugins/x"}) {
        SCOPED_TRACE(path);
        auto r = client().Get(path);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, 404);
        EXPECT_EQ(r->body.find("root:"), std::string::npos);
        EXPECT_EQ(std::count(r->body.begin(), r->body.end(), '\n'), 1) << r->body;
    }
}

// The preview has the pixels of the file texhost render writes for the same
// settings, in every view, and a download is that file to the byte; the
// headers tell the render's figures.
TEST_F(Serve, RendersTheBytesOfTheCommandLine)
{
    struct Case {
        httplib::Params query;
        std::vector<std::string> args;
    };
    const std::vector<Case> cases = {
        {{{"plugin", "harvoske"}, {"size", "40x24"}, {"extent", "3"}, {"center", "0.5,-1,0.25"},
          {"footprint", "1"}, {"p.Noise Size", "0.5"}, {"p.osa", "3"}},
         {"render", "harvoske", "--size", "40x24", "--extent", "3", "--center", "0.5,-1,0.25",
          "--footprint", "--set", "Noise Size=0.5", "--set", "osa=3", "-o", out()}},
        {{{"plugin", "pellosca"}, {"stype", "Rings"}, {"size", "32"}, {"bits", "16"}},
         {"render", "pellosca", "--stype", "Rings", "--size", "32", "--bits", "16", "-o", out()}},
        {{{"plugin", "pellosca"}, {"view", "normal"}, {"size", "20"}},
         {"render", "pellosca", "--size", "20", "-o", out("i.png"), "--normal-map", out()}},
        {{{"plugin", "vamorela"}, {"view", "shaded"}, {"size", "20"}, {"bump_scale", "2"}},
         {"render", "vamorela", "--size", "20", "--shape", "terrain", "--relief", "0",
          "--bump-scale", "2", "-o", out()}},
        {{{"plugin", "vamorela"}, {"shape", "sphere"}, {"size", "30"}, {"stype", "2D"}},
         {"render", "vamorela", "--shape", "sphere", "--size", "30", "--stype", "2D", "-o", out()}},
        {{{"plugin", "Pellosca"}, {"shape", "terrain"}, {"relief", "0.5"}, {"size", "20"}},
         {"render", "pellosca", "--shape", "terrain", "--relief", "0.5", "--size", "20", "-o", out()}},
        {{{"plugin", "vamorela"}, {"preset", "Stone Floor"}, {"p.Seed", "5"}, {"size", "24"}},
         {"render", "vamorela", "--preset", "stone_floor", "--set", "seed=5", "--size", "24", "-o",
          out()}},
        // Over a million pixels: rendered and encoded in two bands.
        {{{"plugin", "gradient"}, {"stype", "rise"}, {"size", "1030x1100"}, {"extent", "1"}},
         {"render", "gradient", "--stype", "rise", "--size", "1030x1100", "--extent", "1", "-o",
          out()}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args[1] + " " + c.args[2] + " " + c.args[3]);
        const std::string file = cli_bytes(c.args);
        auto r = get("/api/render", c.query);
        ASSERT_TRUE(r);
        ASSERT_EQ(r->status, 200) << r->body;
        EXPECT_EQ(r->get_header_value("Content-Type"), "image/png");
        write_text(out("preview.png"), r->body);
        Png preview = read_png(out("preview.png")), cli = read_png(out());
        EXPECT_EQ(preview.width, cli.width);
        EXPECT_EQ(preview.height, cli.height);
        EXPECT_EQ(preview.bit_depth, cli.bit_depth);
        EXPECT_EQ(preview.channels, cli.channels);
        EXPECT_EQ(preview.samples, cli.samples);
        httplib::Params download = c.query;
        download.emplace("download", "x.png");
        r = get("/api/render", download);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->body, file);
    }
    auto r = get("/api/render", {{"plugin", "harvoske"}, {"size", "30x20"}, {"download", "c.png"}});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->get_header_value("X-Image-Size"), "30x20");
    EXPECT_EQ(r->get_header_value("X-Render-Samples"), "600");
    EXPECT_GT(std::atof(r->get_header_value("X-Render-Seconds").c_str()), 0.0);
    EXPECT_GE(std::atoi(r->get_header_value("X-Render-Threads").c_str()), 1);
    EXPECT_EQ(r->get_header_value("Content-Disposition"), "attachment; filename=\"c.png\"");
}

TEST_F(Serve, RefusesEveryKindOfBadRequest)
{
    const std::vector<std::tuple<httplib::Params, int, std::string>> bad = {
        {{{"size", "8"}}, 400, "no plug-in given"},
        {{{"plugin", "nosuch"}}, 404, "unknown plug-in \"nosuch\""},
        {{{"plugin", "../plugins/harvoske"}}, 404, "unknown plug-in"},
        {{{"plugin", dir_->file("harvoske.so")}}, 404, "unknown plug-in"},
        {{{"plugin", "harvoske.so"}}, 404, "unknown plug-in"},
        {{{"plugin", "version2"}}, 404, "unknown plug-in"},
        {{{"plugin", "pellosca"}, {"stype", "Spiral"}}, 400, "unknown sub-type \"Spiral\""},
        {{{"plugin", "pellosca"}, {"stype", "7"}}, 400, "unknown sub-type"},
        {{{"plugin", "harvoske"}, {"stype", "1"}}, 400, "no sub-types"},
        {{{"plugin", "harvoske"}, {"p.Sharpness", "1"}}, 400, "unknown parameter \"Sharpness\""},
        {{{"plugin", "harvoske"}, {"p.Noise Size", "5"}}, 400, "out of range"},
        {{{"plugin", "harvoske"}, {"p.Noise Size", "abc"}}, 400, "needs a number"},
        {{{"plugin", "harvoske"}, {"p.Noise Size", "nan"}}, 400, "needs a number"},
        {{{"plugin", "harvoske"}, {"p.Noise Depth", "2.5"}}, 400, "whole number"},
        {{{"plugin", "harvoske"}, {"preset", "castle"}}, 404, "unknown preset"},
        {{{"plugin", "harvoske"}, {"size", "20000"}}, 400, "size"},
        {{{"plugin", "harvoske"}, {"size", "9000x9000"}}, 400, "above the limit"},
        {{{"plugin", "harvoske"}, {"size", "0"}}, 400, "size"},
        {{{"plugin", "harvoske"}, {"size", "big"}}, 400, "needs a number"},
        {{{"plugin", "harvoske"}, {"extent", "-1"}}, 400, "extent"},
        {{{"plugin", "harvoske"}, {"extent", "inf"}}, 400, "extent"},
        {{{"plugin", "harvoske"}, {"center", "1,2"}}, 400, "center"},
        {{{"plugin", "harvoske"}, {"shape", "cube"}}, 400, "unknown shape"},
        {{{"plugin", "harvoske"}, {"view", "x-ray"}}, 400, "unknown view"},
        {{{"plugin", "harvoske"}, {"shape", "sphere"}, {"view", "normal"}}, 400, "shaded only"},
        {{{"plugin", "harvoske"}, {"relief", "1"}}, 400, "relief"},
        {{{"plugin", "harvoske"}, {"bits", "12"}}, 400, "bits"},
        {{{"plugin", "harvoske"}, {"view", "normal"}, {"bits", "16"}}, 400, "8 bits"},
        {{{"plugin", "harvoske"}, {"footprint", "maybe"}}, 400, "footprint"},
        {{{"plugin", "harvoske"}, {"download", "../x.png"}}, 400, "plain file name"},
        {{{"plugin", "harvoske"}, {"session", "a b"}}, 400, "session"},
        {{{"plugin", "harvoske"}, {"colour", "red"}}, 400, "unknown request parameter \"colour\""},
    };
    for (const auto &[query, status, reason] : bad) {
        SCOPED_TRACE(reason);
        expect_refused(get("/api/render", query), status, reason);
    }
    // A caption is no parameter ('#' spelled out: the client leaves it as it is).
    expect_refused(client().Get("/api/render?plugin=harvoske&p.%230=1"), 400, "caption");
    // The parameter-file endpoint checks the same way.
    expect_refused(get("/api/params", {{"plugin", "nosuch"}}), 404, "unknown plug-in");
    expect_refused(get("/api/params", {{"plugin", "harvoske"}, {"p.Seed", "300"}}), 400, "out of range");
    expect_refused(get("/api/params", {{"plugin", "harvoske"}, {"size", "8"}}), 400, "unknown request parameter");
    // And the server goes on serving.
    auto r = get("/api/render", {{"plugin", "harvoske"}, {"size", "8"}});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
}

TEST_F(Serve, ParameterFilesBothWays)
{
    auto r = get("/api/params", {{"plugin", "pellosca"}, {"preset", "veined"}, {"p.Width", "0.5"},
                                 {"download", "marble.txt"}});
    ASSERT_TRUE(r);
    ASSERT_EQ(r->status, 200) << r->body;
    EXPECT_EQ(r->get_header_value("Content-Disposition"), "attachment; filename=\"marble.txt\"");
    RunResult cli = run_texhost({"render", "pellosca", "--preset", "veined", "--set", "width=0.5",
                                 "--save-params", out("saved.txt")});
    ASSERT_EQ(cli.status, 0) << cli.err;
    EXPECT_EQ(r->body, read_text(out("saved.txt")));

    // Loading it back gives its values; a bad line is named.
    auto back = client().Post("/api/params?plugin=pellosca", r->body, "text/plain");
    ASSERT_TRUE(back);
    ASSERT_EQ(back->status, 200) << back->body;
    json values = json::parse(back->body)["values"];
    EXPECT_EQ(values["Width"], "0.5");
    EXPECT_EQ(values["Turbulance"], "3.5");
    expect_refused(client().Post("/api/params?plugin=pellosca", "Width = 0.5\nWidth = 7\n", "text/plain"),
                   400, "parameter file:2: \"Width\" = 7 is out of range");
    expect_refused(client().Post("/api/params?plugin=pellosca", std::string("Seed = 1\0", 9), "text/plain"),
                   400, "binary");
    expect_refused(client().Post("/api/params?plugin=nosuch", "Seed = 1\n", "text/plain"), 404,
                   "unknown plug-in");
    // Far larger than any parameter file.
    auto huge = client().Post("/api/params?plugin=pellosca", std::string(100000, '#'), "text/plain");
    ASSERT_TRUE(huge);
    EXPECT_EQ(huge->status, 413);
}

TEST_F(Serve, SurvivesACrashingPlugin)
{
    auto r = get("/api/render", {{"plugin", "crash"}, {"size", "8"}, {"p.Steps", "7"}});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 500);
    EXPECT_NE(r->body.find("the plug-in Crasher (crash.so) crashed while rendering"), std::string::npos)
        << r->body;
    EXPECT_NE(server_log().find("crashed while rendering"), std::string::npos) << server_log();
    // A new render process takes the next requests.
    r = get("/api/render", {{"plugin", "crash"}, {"size", "8"}, {"p.Steps", "2"}});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200) << r->body;
    r = get("/api/render", {{"plugin", "harvoske"}, {"size", "8"}});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200) << r->body;
}

namespace {

// Sends `first`, and `newer` from the same page while the first still runs:
// the first is refused as superseded, the newer one answered.
void expect_superseded(const httplib::Params &first, const httplib::Params &newer)
{
    auto running = std::async(std::launch::async, [&] {
        return httplib::Client("127.0.0.1", Serve::port()).Get("/api/render", first, {});
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    auto second = httplib::Client("127.0.0.1", Serve::port()).Get("/api/render", newer, {});
    expect_refused(running.get(), 409, "superseded by a newer request");
    ASSERT_TRUE(second);
    EXPECT_EQ(second->status, 200) << second->body;
}

} // namespace

// A newer preview from the same page cancels the render of the older one;
// another page's preview is left alone.
TEST_F(Serve, NewerRequestCancelsTheOlderOne)
{
    // Long enough to be still running when the next request comes.
    expect_superseded({{"plugin", "harvoske"}, {"size", "4096"}, {"footprint", "1"}, {"p.OSA", "16"},
                       {"session", "pageA"}},
                      {{"plugin", "harvoske"}, {"size", "16"}, {"session", "pageA"}});
    auto other = get("/api/render", {{"plugin", "harvoske"}, {"size", "16"}, {"session", "pageB"}});
    ASSERT_TRUE(other);
    EXPECT_EQ(other->status, 200) << other->body;
}

// A plug-in stuck inside one sample never sees the cancel: its render
// process is ended once the grace time has passed, and the page goes on.
TEST_F(Serve, StuckPluginIsEndedWhenSuperseded)
{
    expect_superseded({{"plugin", "crash"}, {"size", "4"}, {"p.Steps", "6"}, {"session", "pageC"}},
                      {{"plugin", "crash"}, {"size", "4"}, {"session", "pageC"}});
}

// Ctrl-C at once after the server has printed its URL, before it may have
// begun to listen: it must still stop (a stop lost in that gap left it
// listening for good, now and then).
TEST(ServeStop, CtrlCRightAfterTheStartStopsIt)
{
    TempDir one;
    std::filesystem::create_symlink(plugin_file("harvoske"), one.file("harvoske.so"));
    for (int attempt = 0; attempt < 40; attempt++) {
        Server s = start_server({"--port", "0", "--plugin-dir", one.path()}, one.file("err.txt"));
        ASSERT_GT(s.port, 0) << s.first_line;
        kill(s.pid, SIGINT);
        int status = 0;
        pid_t done = 0;
        for (int wait = 0; wait < 1000 && done == 0; wait++) { // up to 10 s
            done = waitpid(s.pid, &status, WNOHANG);
            if (done == 0)
                usleep(10000);
        }
        if (done == 0) {
            kill(s.pid, SIGKILL);
            waitpid(s.pid, &status, 0);
            FAIL() << "the server kept listening after Ctrl-C (attempt " << attempt << ")";
        }
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "attempt " << attempt;
    }
}

TEST_F(Serve, StartsOnlyWhereItCanAndSaysWhenItOpensUp)
{
    // The port is taken by the suite's server.
    TempDir one, empty;
    std::filesystem::create_symlink(plugin_file("harvoske"), one.file("harvoske.so"));
    expect_one_line_error(run_texhost({"serve", "--port", std::to_string(port_), "--plugin-dir",
                                       one.path()}),
                          "cannot listen on 127.0.0.1 port " + std::to_string(port_));
    expect_one_line_error(run_texhost({"serve", "--port", "0", "--plugin-dir", empty.path()}),
                          "no usable plug-ins");
    expect_one_line_error(run_texhost({"serve", "--port", "70000"}), "--port");
    expect_one_line_error(run_texhost({"serve", "--colour"}), "unknown argument \"--colour\"");

    // Any other address than loopback: a warning, loud and on its own line.
    Server open = start_server({"--port", "0", "--host", "0.0.0.0", "--plugin-dir", dir_->path()},
                               empty.file("err.txt"));
    ASSERT_GT(open.port, 0) << open.first_line;
    EXPECT_EQ(stop_server(open), 0);
    std::string err = read_text(empty.file("err.txt"));
    EXPECT_NE(err.find("WARNING: listening on 0.0.0.0"), std::string::npos) << err;
    EXPECT_NE(err.find("without any password"), std::string::npos) << err;
}
