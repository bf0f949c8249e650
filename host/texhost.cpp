// texhost: the stand-in host on the command line. Shows what a texture
// plug-in offers, bakes it to image files (flat, on a lit sphere or on a
// lit height field; 8-bit or 16-bit PNG or float OpenEXR intensity, a
// tangent-space normal map, a packed RGBA image, seamless tiles, up to
// 32768 pixels a side in bounded memory) and builds a gallery of every
// plug-in in a folder.
#include "bake.h"
#include "gallery.h"
#include "image.h"
#include "loader.h"
#include "presets.h"
#include "render.h"
#include "serve.h"
#include "serve_worker.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

using namespace texhost;

namespace {

const char usage_text[] =
    "usage:\n"
    "  texhost info PLUGIN                 name, sub-types and the widget table\n"
    "  texhost render PLUGIN -o FILE.png   render the texture to a PNG or OpenEXR file\n"
    "  texhost gallery OUTDIR              every plug-in, every sub-type, with defaults\n"
    "  texhost plugins                     the plug-ins found in the plug-in folder\n"
    "  texhost serve [--port N] [--open]   a live preview in the browser (see below)\n"
    "  texhost --version                   the tool's version\n"
    "\n"
    "PLUGIN is a path to a .so file or a plug-in's name (harvoske, Pellosca, ...)\n"
    "looked up in the plug-in folder: --plugin-dir DIR, else $TEXHOST_PLUGIN_DIR,\n"
    "else the folder \"plugins\" beside texhost (or beside its folder).\n"
    "\n"
    "render options:\n"
    "  -o, --output FILE      the intensity image: PNG, or OpenEXR (32-bit float) for\n"
    "                         FILE.exr, with the bump vector when \"BumpMap\" is on\n"
    "  --format png|exr       the intensity image's format, whatever its name\n"
    "  --exr-compression none|zip|piz   lossless OpenEXR compression (default piz)\n"
    "  --size N | WxH         resolution in pixels, up to 32768 (default 256)\n"
    "  --extent E             texture-space width of the view or sphere diameter (default 4)\n"
    "  --center X,Y,Z         texture-space point at the image centre (default 0,0,0)\n"
    "  --stype S              sub-type by name or index\n"
    "  --set \"LABEL=VALUE\"    a parameter by label or field name, case-insensitive;\n"
    "                         repeatable, applied after --params\n"
    "  --preset NAME          start from a preset (presets/LIBRARY/NAME.txt, or a file):\n"
    "                         its values, and its sub-type and shape unless given\n"
    "  --params FILE          load a parameter file (one \"label = value\" a line)\n"
    "  --save-params FILE     save the parameters in effect\n"
    "  --list                 print the widget table with the values in effect\n"
    "  --shape plane|sphere|terrain   what the texture is seen on (default plane)\n"
    "  --footprint            plane: pass each pixel's size to the plug-in as dxt, dyt\n"
    "  --tileable             plane: an image that repeats without a seam\n"
    "  --relief H             terrain: height of the hills (default extent / 4)\n"
    "  --bump-scale K         strength of the bump vector in shading and normal maps (1)\n"
    "  --bits 8|16            bits per PNG sample of intensity and pack (default 8)\n"
    "  --normal-map FILE      also write a tangent-space normal map, PNG (plane only)\n"
    "  --pack FILE            also write PNG RGBA: normal map in RGB, intensity in A\n"
    "  --threads N            render threads (default: every core)\n"
    "  --host-entry           call plugin_tex_doit and read result, on one thread\n"
    "  --quiet                no progress bar and no summary\n"
    "serve options: --port N (default 8765, 0: any free port), --plugin-dir DIR,\n"
    "  --open (start a browser), --host ADDRESS (default 127.0.0.1; any other\n"
    "  address lets other machines in, without a password)\n"
    "gallery options: --size N (swatch side, default 128), --extent E, --threads N,\n"
    "  --shape plane|sphere|terrain (default plane: the slice z = 0)\n";

// Every error is reported on one line, whatever the input it quotes.
int fail(const char *message, int status)
{
    std::string m = message;
    std::replace(m.begin(), m.end(), '\n', ' ');
    std::replace(m.begin(), m.end(), '\r', ' ');
    std::fprintf(stderr, "texhost: %s\n", m.c_str());
    return status;
}

// A mistake in the command line itself: exit status 2.
struct UsageError : HostError {
    using HostError::HostError;
};

struct Args {
    std::vector<std::string> items;
    size_t at = 0;
    bool done() const { return at >= items.size(); }
};

// The value of an option, given as "--opt VALUE" or "--opt=VALUE".
std::string option_value(Args &a, const std::string &opt, const std::string &inline_value,
                         bool has_inline)
{
    if (has_inline)
        return inline_value;
    if (a.done())
        throw UsageError("option " + opt + " needs a value");
    return a.items[a.at++];
}

// The next command-line word read as an option: "--name=value" carries its
// value inline, otherwise value() takes the word that follows.
struct Option {
    Args &a;
    std::string arg, opt, inline_value;
    bool has_inline = false;

    explicit Option(Args &args) : a(args), arg(args.items[args.at++]), opt(arg)
    {
        const size_t eq = arg.find('=');
        if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            opt = arg.substr(0, eq);
            inline_value = arg.substr(eq + 1);
            has_inline = true;
        }
    }
    std::string value() { return option_value(a, opt, inline_value, has_inline); }
};

// A parser of the libraries whose complaint is a mistake in the command line.
template <typename T>
T usage_checked(T (*parse)(const std::string &), const std::string &s)
{
    try {
        return parse(s);
    } catch (const HostError &e) {
        throw UsageError(e.what());
    }
}

double parse_number(const std::string &opt, const std::string &s)
{
    char *end = nullptr;
    double v = std::strtod(s.c_str(), &end);
    if (s.empty() || end != s.c_str() + s.size() || !std::isfinite(v))
        throw UsageError(opt + " needs a number, not \"" + s + "\"");
    return v;
}

int parse_count(const std::string &opt, const std::string &s, int lo, int hi)
{
    double v = parse_number(opt, s);
    if (v != std::floor(v) || v < lo || v > hi)
        throw UsageError(opt + " needs a whole number from " + std::to_string(lo) + " to " +
                         std::to_string(hi) + ", not \"" + s + "\"");
    return (int)v;
}

void parse_size(const std::string &s, int &w, int &h)
{
    size_t x = s.find_first_of("xX");
    if (x == std::string::npos) {
        w = h = parse_count("--size", s, 1, max_bake_side);
    } else {
        w = parse_count("--size", s.substr(0, x), 1, max_bake_side);
        h = parse_count("--size", s.substr(x + 1), 1, max_bake_side);
    }
}

void parse_center(const std::string &s, double c[3])
{
    size_t a = s.find(','), b = a == std::string::npos ? a : s.find(',', a + 1);
    if (b == std::string::npos || s.find(',', b + 1) != std::string::npos)
        throw UsageError("--center needs X,Y,Z, not \"" + s + "\"");
    c[0] = parse_number("--center", s.substr(0, a));
    c[1] = parse_number("--center", s.substr(a + 1, b - a - 1));
    c[2] = parse_number("--center", s.substr(b + 1));
}

std::string plugin_dir_from(const std::string &given)
{
    return given.empty() ? default_plugin_dir() : given;
}

// The widget table as the host shows it; with a block, its values as well.
void print_widgets(const Plugin &p, const ParamBlock *block)
{
    struct Row {
        std::string cells[8];
    };
    std::vector<Row> rows;
    rows.push_back({{"#", "label", "kind", "default", "min", "max", block ? "value" : "", "tip"}});
    for (const Widget &w : p.widgets()) {
        Row r;
        r.cells[0] = std::to_string(w.index);
        if (!w.has_value())
            r.cells[1] = "\"" + w.label + "\"";
        else if (w.key != w.label)
            r.cells[1] = w.key + " (no label)";
        else
            r.cells[1] = w.label;
        r.cells[2] = kind_name(w.kind);
        if (w.has_value()) {
            r.cells[3] = float_text(w.def);
            r.cells[4] = float_text(w.min);
            r.cells[5] = float_text(w.max);
            if (block)
                r.cells[6] = block->value_text(w.index);
        }
        r.cells[7] = w.tip;
        rows.push_back(r);
    }
    size_t width[8] = {};
    for (const Row &r : rows)
        for (int c = 0; c < 8; c++)
            width[c] = std::max(width[c], r.cells[c].size());
    for (const Row &r : rows) {
        std::string line = " ";
        for (int c = 0; c < 8; c++) {
            if (c == 6 && !block)
                continue;
            std::string cell = r.cells[c];
            if (c < 7)
                cell.resize(width[c], ' ');
            line += " " + cell;
        }
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        std::printf("%s\n", line.c_str());
    }
}

void print_header(const Plugin &p)
{
    std::printf("%s  (%s)\n", p.name().c_str(), p.path().c_str());
    std::printf("  interface version %d, %d parameters, ", p.version(), p.nvars());
    if (p.subtypes().empty()) {
        std::printf("no sub-types\n");
    } else {
        std::printf("sub-types:");
        for (size_t i = 0; i < p.subtypes().size(); i++)
            std::printf("%s %zu \"%s\"", i ? "," : "", i, p.subtypes()[i].c_str());
        std::printf("\n");
    }
    std::printf("  per-sample entry: %s\n",
                p.reentrant() ? "plugin_tex_doit_r (renders on every core)"
                              : "plugin_tex_doit only (renders on one thread)");
}

int cmd_info(Args &a)
{
    std::string plugin_arg, dir;
    while (!a.done()) {
        Option next(a);
        const std::string &arg = next.arg, &opt = next.opt;
        if (opt == "--plugin-dir")
            dir = next.value();
        else if (!arg.empty() && arg[0] == '-')
            throw UsageError("unknown option \"" + arg + "\" for info (see texhost --help)");
        else if (plugin_arg.empty())
            plugin_arg = arg;
        else
            throw UsageError("info takes one plug-in, got \"" + arg + "\" as well");
    }
    if (plugin_arg.empty())
        throw UsageError("info needs a plug-in (see texhost --help)");
    auto plugin = Plugin::open(resolve_plugin(plugin_arg, plugin_dir_from(dir)));
    print_header(*plugin);
    print_widgets(*plugin, nullptr);
    return 0;
}

int cmd_plugins(Args &a)
{
    std::string dir;
    while (!a.done()) {
        std::string arg = a.items[a.at++];
        if (arg == "--plugin-dir")
            dir = option_value(a, arg, "", false);
        else if (arg.rfind("--plugin-dir=", 0) == 0)
            dir = arg.substr(13);
        else
            throw UsageError("unknown argument \"" + arg + "\" for plugins");
    }
    dir = plugin_dir_from(dir);
    std::vector<std::string> found = scan_plugins(dir);
    if (found.empty())
        throw HostError("no plug-ins in \"" + dir + "\"");
    for (const std::string &f : found) {
        try {
            auto p = Plugin::open(f);
            std::printf("%-18s %s\n", p->name().c_str(), f.c_str());
        } catch (const HostError &e) {
            std::printf("%-18s %s: %s\n", "(not usable)", f.c_str(), e.what());
        }
    }
    return 0;
}

// Ctrl-C (or SIGTERM) during a bake: the render stops within a row and the
// partial files are removed. A second one ends the process at once.
std::atomic<bool> interrupted{false};
volatile std::sig_atomic_t interrupt_signal = 0;

extern "C" void on_interrupt(int sig)
{
    interrupt_signal = sig;
    interrupted.store(true);
}

void catch_interrupts()
{
    struct sigaction sa = {};
    sa.sa_handler = on_interrupt;
    sa.sa_flags = SA_RESETHAND;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    // Past the file size limit a write should fail and be reported, with
    // the partial files removed, rather than kill the process.
    std::signal(SIGXFSZ, SIG_IGN);
}

// A bar on stderr, only for a terminal and only once a render takes a moment.
class ProgressBar {
public:
    explicit ProgressBar(bool enabled) : enabled_(enabled && isatty(2))
    {
        start_ = std::chrono::steady_clock::now();
    }
    void update(int done, int total)
    {
        if (!enabled_)
            return;
        double t = seconds();
        if (t < 0.3 || (t - last_ < 0.1 && done < total))
            return;
        last_ = t;
        const int cells = 40;
        int full = (int)((long)done * cells / total);
        std::string bar(full, '#');
        bar.resize(cells, '.');
        std::fprintf(stderr, "\rrendering [%s] %3d%%", bar.c_str(), (int)((long)done * 100 / total));
        std::fflush(stderr);
        shown_ = true;
    }
    void finish()
    {
        if (shown_)
            std::fprintf(stderr, "\r%60s\r", "");
        shown_ = false;
    }

private:
    double seconds() const
    {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    }
    bool enabled_;
    bool shown_ = false;
    double last_ = 0;
    std::chrono::steady_clock::time_point start_;
};

std::string rate_text(double per_second)
{
    char buf[64];
    if (per_second >= 1e6)
        std::snprintf(buf, sizeof buf, "%.1fM", per_second / 1e6);
    else if (per_second >= 1e3)
        std::snprintf(buf, sizeof buf, "%.1fk", per_second / 1e3);
    else
        std::snprintf(buf, sizeof buf, "%.0f", per_second);
    return buf;
}

int cmd_render(Args &a)
{
    std::string plugin_arg, dir, output, normal_map, pack, params_in, params_out, stype_arg,
        preset_arg;
    bool shape_given = false;
    std::vector<std::string> sets;
    View view;
    RenderOptions ro;
    BakeOutputs outs;
    int bits = 8;
    bool list = false, quiet = false, format_given = false;
    while (!a.done()) {
        Option next(a);
        const std::string &arg = next.arg, &opt = next.opt;
        auto value = [&]() { return next.value(); };
        if (opt == "-o" || opt == "--output")
            output = value();
        else if (opt == "--size")
            parse_size(value(), view.width, view.height);
        else if (opt == "--extent") {
            view.extent = parse_number(opt, value());
            if (!(view.extent > 0))
                throw UsageError("--extent must be above 0");
        } else if (opt == "--center")
            parse_center(value(), view.center);
        else if (opt == "--stype")
            stype_arg = value();
        else if (opt == "--set")
            sets.push_back(value());
        else if (opt == "--params")
            params_in = value();
        else if (opt == "--preset")
            preset_arg = value();
        else if (opt == "--save-params")
            params_out = value();
        else if (opt == "--list" && !next.has_inline)
            list = true;
        else if (opt == "--shape") {
            view.shape = parse_shape(value());
            shape_given = true;
        } else if (opt == "--footprint" && !next.has_inline)
            view.footprint = true;
        else if (opt == "--tileable" && !next.has_inline)
            ro.tileable = true;
        else if (opt == "--relief") {
            view.relief = parse_number(opt, value());
            if (view.relief < 0)
                throw UsageError("--relief must not be negative");
        } else if (opt == "--bump-scale")
            ro.bump_scale = parse_number(opt, value());
        else if (opt == "--bits") {
            std::string b = value();
            if (b != "8" && b != "16")
                throw UsageError("--bits is 8 or 16, not \"" + b + "\"");
            bits = std::atoi(b.c_str());
        } else if (opt == "--normal-map")
            normal_map = value();
        else if (opt == "--pack")
            pack = value();
        else if (opt == "--format") {
            outs.image_format = usage_checked(parse_format, value());
            format_given = true;
        } else if (opt == "--exr-compression")
            outs.exr_compression = usage_checked(parse_exr_compression, value());
        else if (opt == "--threads")
            ro.threads = parse_count(opt, value(), 1, 1024);
        else if (opt == "--host-entry" && !next.has_inline)
            ro.host_entry = true;
        else if (opt == "--quiet" && !next.has_inline)
            quiet = true;
        else if (opt == "--plugin-dir")
            dir = value();
        else if (!arg.empty() && arg[0] == '-')
            throw UsageError("unknown option \"" + arg + "\" for render (see texhost --help)");
        else if (plugin_arg.empty())
            plugin_arg = arg;
        else
            throw UsageError("render takes one plug-in, got \"" + arg + "\" as well");
    }
    if (plugin_arg.empty())
        throw UsageError("render needs a plug-in (see texhost --help)");
    const bool writes = !output.empty() || !normal_map.empty() || !pack.empty();
    if (!writes && !list && params_out.empty())
        throw UsageError("render needs -o FILE.png (or FILE.exr), --normal-map FILE or --pack FILE");
    if ((!normal_map.empty() || !pack.empty()) && view.shape != Shape::plane)
        throw UsageError("a normal map is baked on the plane only (use --shape plane)");
    if (ro.tileable && view.shape != Shape::plane)
        throw UsageError("tileable images are made on the plane only (use --shape plane)");

    auto plugin = Plugin::open(resolve_plugin(plugin_arg, plugin_dir_from(dir)));
    ParamBlock block = plugin->defaults();
    if (!preset_arg.empty()) {
        Preset preset = find_preset(library_stem(plugin->path()), preset_arg);
        int stype = apply_preset(preset, *plugin, block);
        if (stype >= 0 && stype_arg.empty())
            ro.stype = stype;
        if (!preset.shape.empty() && !shape_given)
            view.shape = parse_shape(preset.shape);
    }
    if (!params_in.empty())
        block.load_file(params_in);
    for (const std::string &s : sets) {
        size_t eq = s.find('=');
        if (eq == std::string::npos)
            throw UsageError("--set needs \"LABEL=VALUE\", not \"" + s + "\"");
        block.set(s.substr(0, eq), s.substr(eq + 1));
    }
    if (!stype_arg.empty())
        ro.stype = plugin->subtype(stype_arg);

    if (list) {
        print_header(*plugin);
        print_widgets(*plugin, &block);
    }
    if (!params_out.empty())
        block.save_file(params_out);
    if (!writes)
        return 0;

    outs.image = output;
    if (!format_given)
        outs.image_format = format_of_path(output);
    outs.bits = bits;
    outs.normal_map = normal_map;
    outs.pack = pack;
    ProgressBar bar(!quiet);
    ro.progress = [&bar](int done, int total) { bar.update(done, total); };
    ro.cancel = &interrupted;
    catch_interrupts();
    BakeResult r;
    try {
        r = bake(*plugin, block, view, ro, outs);
    } catch (const HostError &) {
        bar.finish();
        throw;
    }
    bar.finish();

    if (!quiet) {
        std::vector<std::string> files;
        for (const std::string *f : {&output, &normal_map, &pack})
            if (!f->empty())
                files.push_back(*f);
        std::string written = files[0];
        for (size_t i = 1; i < files.size(); i++)
            written += (i + 1 == files.size() ? " and " : ", ") + files[i];
        std::string sub = plugin->subtype_name(ro.stype);
        std::string depth = outs.image_format == ImageFormat::exr && !output.empty()
                                ? "32-bit float"
                                : std::to_string(bits) + "-bit";
        std::printf("wrote %s: %s%s%s, %s %dx%d, %s%s, %ld samples in %.2f s "
                    "(%s samples/s, %d thread%s)\n",
                    written.c_str(), plugin->name().c_str(), sub.empty() ? "" : " ", sub.c_str(),
                    shape_name(view.shape), view.width, view.height, depth.c_str(),
                    ro.tileable ? ", tileable" : "", r.samples, r.seconds,
                    rate_text(r.seconds > 0 ? r.samples / r.seconds : 0).c_str(), r.threads,
                    r.threads == 1 ? "" : "s");
    }
    return 0;
}

int cmd_gallery(Args &a)
{
    GalleryOptions o;
    std::string dir;
    bool quiet = false;
    while (!a.done()) {
        Option next(a);
        const std::string &arg = next.arg, &opt = next.opt;
        auto value = [&]() { return next.value(); };
        if (opt == "--size")
            o.size = parse_count(opt, value(), 8, 2048);
        else if (opt == "--extent") {
            o.extent = parse_number(opt, value());
            if (!(o.extent > 0))
                throw UsageError("--extent must be above 0");
        } else if (opt == "--threads")
            o.threads = parse_count(opt, value(), 1, 1024);
        else if (opt == "--shape")
            o.shape = parse_shape(value());
        else if (opt == "--plugin-dir")
            dir = value();
        else if (opt == "--quiet" && !next.has_inline)
            quiet = true;
        else if (!arg.empty() && arg[0] == '-')
            throw UsageError("unknown option \"" + arg + "\" for gallery (see texhost --help)");
        else if (o.outdir.empty())
            o.outdir = arg;
        else
            throw UsageError("gallery takes one folder, got \"" + arg + "\" as well");
    }
    if (o.outdir.empty())
        throw UsageError("gallery needs an output folder (see texhost --help)");
    o.plugin_dir = plugin_dir_from(dir);
    auto start = std::chrono::steady_clock::now();
    GalleryResult g = make_gallery(o, [&](const std::string &file) {
        if (!quiet && isatty(2))
            std::fprintf(stderr, "  %s\n", file.c_str());
    });
    double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (const std::string &p : g.problems)
        fail(p.c_str(), 1);
    if (!quiet)
        std::printf("wrote %zu swatches of %d plug-ins, contact_sheet.png and index.html to %s "
                    "in %.2f s\n",
                    g.swatches.size(), g.plugins, o.outdir.c_str(), t);
    return g.problems.empty() ? 0 : 1;
}

int cmd_serve(Args &a)
{
    ServeOptions o;
    std::string dir;
    while (!a.done()) {
        Option next(a);
        const std::string &arg = next.arg, &opt = next.opt;
        if (opt == "--port")
            o.port = parse_count(opt, next.value(), 0, 65535);
        else if (opt == "--host")
            o.host = next.value();
        else if (opt == "--plugin-dir")
            dir = next.value();
        else if (opt == "--open" && !next.has_inline)
            o.open_browser = true;
        else
            throw UsageError("unknown argument \"" + arg + "\" for serve (see texhost --help)");
    }
    o.plugin_dir = plugin_dir_from(dir);
    o.executable = "/proc/self/exe";
    return serve(o);
}

} // namespace

int main(int argc, char **argv)
{
    Args a;
    for (int i = 1; i < argc; i++)
        a.items.push_back(argv[i]);
    try {
        if (a.done())
            throw UsageError("no command (see texhost --help)");
        std::string cmd = a.items[a.at++];
        if (cmd == "-h" || cmd == "--help" || cmd == "help") {
            std::fputs(usage_text, stdout);
            return 0;
        }
        if (cmd == "--version") {
            std::printf("texhost %s\n", texhost_version);
            return 0;
        }
        if (cmd == "info")
            return cmd_info(a);
        if (cmd == "render")
            return cmd_render(a);
        if (cmd == "gallery")
            return cmd_gallery(a);
        if (cmd == "plugins")
            return cmd_plugins(a);
        if (cmd == "serve")
            return cmd_serve(a);
        if (cmd == "serve-worker") // the render process of serve
            return serve_worker();
        throw UsageError("unknown command \"" + cmd +
                         "\"; commands: info, render, gallery, plugins, serve");
    } catch (const UsageError &e) {
        return fail(e.what(), 2);
    } catch (const RenderCancelled &) {
        fail("interrupted; nothing was written", 0);
        return 128 + (interrupt_signal ? (int)interrupt_signal : SIGINT);
    } catch (const HostError &e) {
        return fail(e.what(), 1);
    } catch (const std::exception &e) {
        return fail(e.what(), 1);
    }
}
