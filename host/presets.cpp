#include "presets.h"

#include "embedded.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace texhost {

namespace {

bool ends_with(const std::string &s, const std::string &tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string read_preset_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw HostError("cannot read preset \"" + path + "\": " + std::strerror(errno));
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

std::string library_stem(const std::string &path)
{
    std::string name = path.substr(path.rfind('/') + 1);
    return ends_with(name, ".so") ? name.substr(0, name.size() - 3) : name;
}

Preset parse_preset(const std::string &name, const std::string &text, const std::string &origin)
{
    if (text.find('\0') != std::string::npos)
        throw HostError("\"" + origin + "\" is not a preset (binary data)");
    Preset p;
    p.name = name;
    p.text = text;
    p.origin = origin;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::string t = trim(line);
        if (t.empty() || t[0] != '#')
            continue;
        std::string body = trim(t.substr(1));
        size_t colon = body.find(':');
        if (colon == std::string::npos)
            continue;
        std::string key = normalized_name(body.substr(0, colon)), value = trim(body.substr(colon + 1));
        if (key == "sub_type" || key == "stype")
            p.subtype = value;
        else if (key == "shape")
            p.shape = shape_name(parse_shape(value)); // checked here, named as the renderer does
    }
    return p;
}

std::vector<Preset> presets_for(const std::string &stem)
{
    std::vector<Preset> found;
    const std::string folder = stem + "/";
    for (const EmbeddedFile *f = embedded_presets; f->name; f++) {
        std::string n = f->name;
        if (n.compare(0, folder.size(), folder) == 0 && ends_with(n, ".txt"))
            found.push_back(parse_preset(n.substr(folder.size(), n.size() - folder.size() - 4),
                                         f->text(), "presets/" + n));
    }
    std::sort(found.begin(), found.end(),
              [](const Preset &a, const Preset &b) { return a.name < b.name; });
    return found;
}

Preset find_preset(const std::string &stem, const std::string &arg)
{
    if (arg.find('/') != std::string::npos || ends_with(arg, ".txt")) {
        std::string name = library_stem(arg);
        return parse_preset(name.substr(0, name.size() - (ends_with(name, ".txt") ? 4 : 0)),
                            read_preset_file(arg), arg);
    }
    std::vector<Preset> all = presets_for(stem);
    for (const Preset &p : all)
        if (!normalized_name(arg).empty() && normalized_name(p.name) == normalized_name(arg))
            return p;
    std::string list;
    for (const Preset &p : all)
        list += (list.empty() ? "" : ", ") + p.name;
    throw HostError("unknown preset \"" + arg + "\" for " + stem + "; presets: " +
                    (list.empty() ? "none" : list));
}

int apply_preset(const Preset &preset, const Plugin &plugin, ParamBlock &block)
{
    block.apply_text(preset.text, preset.origin);
    if (preset.subtype.empty())
        return -1;
    try {
        return plugin.subtype(preset.subtype);
    } catch (const HostError &e) {
        throw HostError(preset.origin + ": " + e.what());
    }
}

} // namespace texhost
