#include "gallery.h"

#include "font.h"
#include "image.h"
#include "loader.h"
#include "presets.h"
#include "render.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace texhost {

namespace {

void make_folder(const std::string &path)
{
    std::string sofar;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        sofar = path.substr(0, pos);
        if (sofar.empty())
            continue;
        struct stat st;
        if (stat(sofar.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode))
                throw HostError("cannot create folder \"" + path + "\": \"" + sofar +
                                "\" is a file");
            continue;
        }
        if (mkdir(sofar.c_str(), 0777) != 0 && errno != EEXIST)
            throw HostError("cannot create folder \"" + path + "\": " + std::strerror(errno));
    }
}

std::string html_escape(const std::string &s)
{
    std::string out;
    for (char c : s) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string library_name(const std::string &path) { return path.substr(path.rfind('/') + 1); }

struct Shown {
    Swatch swatch;
    std::vector<uint8_t> pixels;
};

struct PluginPage {
    std::string name, library;
    int version = 0;
    bool reentrant = false;
    std::vector<Widget> widgets;
    std::vector<std::string> files, captions;
};

// A grid of swatches with the plug-in's name and the sub-type's name under each.
void write_contact_sheet(const std::string &path, const std::vector<Shown> &shown, int size)
{
    const int scale = size >= 192 ? 2 : 1;
    const int pad = 8 * scale;
    const int line = (glyph_height + 3) * scale;
    const int columns = std::min<int>((int)shown.size(), 4);
    const int rows = ((int)shown.size() + columns - 1) / columns;
    const int cell_w = size + pad, cell_h = size + pad / 2 + 2 * line;
    const int width = pad + columns * cell_w, height = pad + rows * (cell_h + pad / 2);
    const uint8_t paper = 40, ink = 235;
    std::vector<uint8_t> sheet((size_t)width * height, paper);
    const int max_chars = std::max(1, (cell_w - 2) / (glyph_advance * scale));
    auto fit = [&](std::string s) {
        if ((int)s.size() > max_chars)
            s = s.substr(0, (size_t)std::max(1, max_chars - 1)) + ".";
        return s;
    };
    for (size_t n = 0; n < shown.size(); n++) {
        int x0 = pad + (int)(n % columns) * cell_w;
        int y0 = pad + (int)(n / columns) * (cell_h + pad / 2);
        for (int y = 0; y < size; y++)
            std::memcpy(&sheet[(size_t)(y0 + y) * width + x0], &shown[n].pixels[(size_t)y * size],
                        (size_t)size);
        int ty = y0 + size + pad / 2;
        draw_text(sheet, width, height, x0, ty, fit(shown[n].swatch.plugin), ink, scale);
        const Swatch &sw = shown[n].swatch;
        std::string second = sw.preset.empty() ? sw.subtype : sw.preset;
        std::replace(second.begin(), second.end(), '_', ' ');
        draw_text(sheet, width, height, x0, ty + line, fit(second), ink, scale);
    }
    write_png_gray8(path, width, height, sheet);
}

void write_index(const std::string &path, const GalleryOptions &o,
                 const std::vector<PluginPage> &pages)
{
    std::string h;
    h += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
         "<title>Texture gallery</title>\n<style>\n"
         "body { font-family: sans-serif; background: #222; color: #ddd; margin: 2em; }\n"
         "a { color: #9cf; }\n"
         "figure { display: inline-block; margin: 0 1em 1em 0; }\n"
         "figcaption { text-align: center; }\n"
         "img { image-rendering: pixelated; }\n"
         "table { border-collapse: collapse; margin-bottom: 2em; }\n"
         "th, td { border: 1px solid #555; padding: 0.2em 0.6em; text-align: left; }\n"
         "td.num { text-align: right; font-family: monospace; }\n"
         "</style>\n</head>\n<body>\n<h1>Texture gallery</h1>\n";
    h += "<p>Every plug-in in <code>" + html_escape(o.plugin_dir) +
         "</code>, with its default parameters once per sub-type, then with each of its "
         "presets (<code>presets/</code>), over " +
         html_escape(float_text((float)o.extent)) + " &times; " +
         html_escape(float_text((float)o.extent)) +
         " units of texture space centred on the origin (z = 0).</p>\n";
    h += "<p><a href=\"contact_sheet.png\">Contact sheet</a></p>\n";
    for (const PluginPage &p : pages) {
        h += "<h2 id=\"" + html_escape(normalized_name(p.name)) + "\">" + html_escape(p.name) +
             "</h2>\n";
        h += "<p><code>" + html_escape(p.library) + "</code>, interface version " +
             std::to_string(p.version) + ", " + std::to_string(p.widgets.size()) +
             " parameters" + (p.reentrant ? "" : ", single-threaded (no plugin_tex_doit_r)") +
             "</p>\n<div>\n";
        for (size_t i = 0; i < p.files.size(); i++)
            h += "<figure><img src=\"" + html_escape(p.files[i]) + "\" width=\"" +
                 std::to_string(o.size) + "\" height=\"" + std::to_string(o.size) +
                 "\" alt=\"" + html_escape(p.captions[i]) + "\"><figcaption>" +
                 html_escape(p.captions[i]) + "</figcaption></figure>\n";
        h += "</div>\n<table>\n<tr><th>#</th><th>Label</th><th>Kind</th><th>Default</th>"
             "<th>Min</th><th>Max</th><th>Tip</th></tr>\n";
        for (const Widget &w : p.widgets) {
            h += "<tr><td class=\"num\">" + std::to_string(w.index) + "</td><td>" +
                 html_escape(w.label) + "</td><td>" + kind_name(w.kind) + "</td>";
            if (w.has_value())
                h += "<td class=\"num\">" + html_escape(float_text(w.def)) +
                     "</td><td class=\"num\">" + html_escape(float_text(w.min)) +
                     "</td><td class=\"num\">" + html_escape(float_text(w.max)) + "</td>";
            else
                h += "<td></td><td></td><td></td>";
            h += "<td>" + html_escape(w.tip) + "</td></tr>\n";
        }
        h += "</table>\n";
    }
    h += "</body>\n</html>\n";
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        throw HostError("cannot write \"" + path + "\": " + std::strerror(errno));
    bool ok = std::fwrite(h.data(), 1, h.size(), f) == h.size();
    ok = std::fclose(f) == 0 && ok;
    if (!ok)
        throw HostError("cannot write \"" + path + "\": " + std::strerror(errno));
}

// Whether the intensity changes along the z axis through the origin.
bool varies_along_z(const Plugin &plugin, const ParamBlock &block, int stype, double extent)
{
    float first = 0;
    for (int i = 0; i <= 16; i++) {
        const float p[3] = {0.0f, 0.0f, (float)(extent * (i / 16.0 - 0.5))};
        float out[8];
        plugin.sample(stype, block, p, nullptr, nullptr, out);
        if (i == 0)
            first = out[0];
        else if (out[0] != first)
            return true;
    }
    return false;
}

// The swatch's 8-bit pixels. A pattern that does not change across the
// slice z = 0 but does along z (layers) says nothing as a flat swatch: it is
// shown on the height field instead, where the layers cross the hills.
std::vector<uint8_t> swatch_pixels(const Plugin &plugin, const ParamBlock &block, int stype,
                                   Shape shape, const GalleryOptions &o, bool *on_terrain)
{
    View view;
    view.width = view.height = o.size;
    view.extent = o.extent;
    view.shape = shape;
    RenderOptions ro;
    ro.stype = stype;
    ro.threads = o.threads;
    Rendering r = render(plugin, block, view, ro);
    *on_terrain = false;
    if (view.shape == Shape::plane && !r.value.empty() &&
        std::all_of(r.value.begin(), r.value.end(), [&](float v) { return v == r.value[0]; }) &&
        varies_along_z(plugin, block, stype, o.extent)) {
        view.shape = Shape::terrain;
        r = render(plugin, block, view, ro);
        *on_terrain = true;
    }
    return gray8_pixels(r);
}

} // namespace

std::string preset_swatch_file_name(const std::string &library, const std::string &preset)
{
    return library_stem(library) + "_preset_" + normalized_name(preset) + ".png";
}

std::string swatch_file_name(const std::string &library, const std::string &subtype)
{
    std::string stem = library;
    if (stem.size() > 3 && stem.compare(stem.size() - 3, 3, ".so") == 0)
        stem.resize(stem.size() - 3);
    if (!subtype.empty()) {
        std::string n = normalized_name(subtype);
        stem += "_" + (n.empty() ? std::string("subtype") : n);
    }
    return stem + ".png";
}

GalleryResult make_gallery(const GalleryOptions &o,
                           const std::function<void(const std::string &)> &note)
{
    if (o.size < 8 || o.size > 2048)
        throw HostError("swatch size " + std::to_string(o.size) + " is not allowed (8 to 2048)");
    std::vector<std::string> libraries = scan_plugins(o.plugin_dir);
    if (libraries.empty())
        throw HostError("no plug-ins in \"" + o.plugin_dir +
                        "\" (use --plugin-dir or TEXHOST_PLUGIN_DIR)");
    make_folder(o.outdir);

    GalleryResult result;
    std::vector<Shown> shown;
    std::vector<PluginPage> pages;
    for (const std::string &lib : libraries) {
        std::unique_ptr<Plugin> plugin;
        try {
            plugin = Plugin::open(lib);
        } catch (const HostError &e) {
            result.problems.push_back(std::string("skipped: ") + e.what());
            continue;
        }
        PluginPage page;
        page.name = plugin->name();
        page.library = library_name(lib);
        page.version = plugin->version();
        page.reentrant = plugin->reentrant();
        page.widgets = plugin->widgets();
        ParamBlock block = plugin->defaults();
        auto add = [&](const ParamBlock &b, int stype, Shape shape, const std::string &preset) {
            bool on_terrain = false;
            Shown item;
            item.pixels = swatch_pixels(*plugin, b, stype, shape, o, &on_terrain);
            item.swatch.plugin = plugin->name();
            item.swatch.library = page.library;
            item.swatch.subtype = plugin->subtype_name(stype);
            item.swatch.preset = preset;
            item.swatch.file = preset.empty()
                                   ? swatch_file_name(page.library, item.swatch.subtype)
                                   : preset_swatch_file_name(page.library, preset);
            write_png_gray8(o.outdir + "/" + item.swatch.file, o.size, o.size, item.pixels);
            result.files.push_back(item.swatch.file);
            result.swatches.push_back(item.swatch);
            page.files.push_back(item.swatch.file);
            std::string caption = item.swatch.plugin;
            if (!preset.empty())
                caption += " preset \"" + preset + "\"";
            if (!item.swatch.subtype.empty())
                caption += (preset.empty() ? " " : ", ") + item.swatch.subtype;
            if (on_terrain || (!preset.empty() && shape != Shape::plane))
                caption += std::string(" (on the ") +
                           (shape == Shape::sphere ? "sphere)" : "height field)");
            page.captions.push_back(caption);
            if (note)
                note(item.swatch.file);
            shown.push_back(std::move(item));
        };
        int stypes = std::max<int>(1, (int)plugin->subtypes().size());
        for (int s = 0; s < stypes; s++)
            add(block, s, o.shape, "");
        // The presets beside the defaults, each seen as it names.
        for (const Preset &preset : presets_for(library_stem(lib))) {
            ParamBlock looks = plugin->defaults();
            int stype;
            try {
                stype = apply_preset(preset, *plugin, looks);
            } catch (const HostError &e) {
                result.problems.push_back(std::string("preset skipped: ") + e.what());
                continue;
            }
            add(looks, std::max(stype, 0), preset.shape.empty() ? o.shape : parse_shape(preset.shape),
                preset.name);
        }
        pages.push_back(std::move(page));
        result.plugins++;
    }
    if (shown.empty())
        throw HostError("none of the libraries in \"" + o.plugin_dir + "\" is a usable plug-in" +
                        (result.problems.empty() ? "" : " (" + result.problems[0] + ")"));
    write_contact_sheet(o.outdir + "/contact_sheet.png", shown, o.size);
    result.files.push_back("contact_sheet.png");
    write_index(o.outdir + "/index.html", o, pages);
    result.files.push_back("index.html");
    return result;
}

} // namespace texhost
