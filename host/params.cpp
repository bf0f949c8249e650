// The parameter block and the parameter files that keep a whole setting.
#include "loader.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace texhost {

namespace {

// An int slot's default from the table's float: truncated like a C cast, but
// a NaN or a value beyond the int range gives 0 or the nearest int instead of
// undefined behaviour.
int int_from_default(float def)
{
    if (!(def == def))
        return 0;
    if (def >= 2147483648.0f)
        return INT_MAX;
    if (def <= -2147483648.0f)
        return INT_MIN;
    return (int)def;
}

std::string range_text(const Widget &w)
{
    if (w.is_float())
        return float_text(w.min) + " to " + float_text(w.max);
    return std::to_string(int_from_default(w.min)) + " to " + std::to_string(int_from_default(w.max));
}

bool parse_float(const std::string &s, float &v)
{
    if (s.empty())
        return false;
    errno = 0;
    char *end = nullptr;
    v = std::strtof(s.c_str(), &end);
    return end == s.c_str() + s.size() && std::isfinite(v);
}

bool parse_whole(const std::string &s, double &v)
{
    static const struct {
        const char *word;
        int value;
    } words[] = {{"on", 1}, {"off", 0}, {"true", 1}, {"false", 0}, {"yes", 1}, {"no", 0}};
    std::string l;
    for (char c : s)
        l += (char)std::tolower((unsigned char)c);
    for (const auto &w : words)
        if (l == w.word) {
            v = w.value;
            return true;
        }
    if (s.empty())
        return false;
    char *end = nullptr;
    double d = std::strtod(s.c_str(), &end);
    if (end != s.c_str() + s.size() || !std::isfinite(d) || d != std::floor(d))
        return false;
    v = d;
    return true;
}

} // namespace

ParamBlock::ParamBlock(const Plugin &plugin) : plugin_(&plugin)
{
    slots_.resize(plugin.nvars());
    for (const Widget &w : plugin.widgets()) {
        if (w.is_float()) {
            std::memcpy(&slots_[w.index], &w.def, 4);
        } else {
            int n = int_from_default(w.def);
            std::memcpy(&slots_[w.index], &n, 4);
        }
    }
}

float ParamBlock::get_float(int index) const
{
    float v;
    std::memcpy(&v, &slots_.at(index), 4);
    return v;
}

int ParamBlock::get_int(int index) const
{
    int v;
    std::memcpy(&v, &slots_.at(index), 4);
    return v;
}

std::string ParamBlock::value_text(int index) const
{
    const Widget &w = plugin_->widgets().at(index);
    return w.is_float() ? float_text(get_float(index)) : std::to_string(get_int(index));
}

void ParamBlock::set(const std::string &key, const std::string &value)
{
    set_index(plugin_->widget(key), value);
}

void ParamBlock::set_index(int index, const std::string &value_arg)
{
    const Widget &w = plugin_->widgets().at(index);
    const std::string name = "\"" + w.key + "\"";
    if (!w.has_value())
        throw HostError(name + " (#" + std::to_string(index) + ") of " + plugin_->name() +
                        " is a caption, not a parameter");
    std::string value = trim(value_arg);
    if (value.empty())
        throw HostError("no value given for " + name);
    if (w.is_float()) {
        float v;
        if (!parse_float(value, v))
            throw HostError(name + " needs a number, not \"" + value + "\"");
        if (!(v >= w.min && v <= w.max))
            throw HostError(name + " = " + value + " is out of range: " + range_text(w));
        std::memcpy(&slots_[index], &v, 4);
    } else {
        double v;
        if (!parse_whole(value, v))
            throw HostError(name + " needs a whole number" +
                            (w.kind == WidgetKind::toggle ? std::string(" (or on/off)") : "") +
                            ", not \"" + value + "\"");
        // Checked as a double first, so that no value beyond the int range is converted.
        if (!(v >= w.min && v <= w.max && v >= INT_MIN && v <= INT_MAX))
            throw HostError(name + " = " + value + " is out of range: " + range_text(w));
        int n = (int)v;
        std::memcpy(&slots_[index], &n, 4);
    }
    plugin_->notify_changed(index);
}

std::string ParamBlock::to_text() const
{
    std::string out = "# " + plugin_->name() + " parameters: label = value\n";
    for (const Widget &w : plugin_->widgets())
        if (w.has_value())
            out += w.key + " = " + value_text(w.index) + "\n";
    return out;
}

void ParamBlock::apply_text(const std::string &text, const std::string &origin)
{
    std::istringstream in(text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        number++;
        std::string where = origin + ":" + std::to_string(number) + ": ";
        std::string t = trim(line);
        if (t.empty() || t[0] == '#')
            continue;
        size_t eq = t.find('=');
        if (eq == std::string::npos)
            throw HostError(where + "expected \"label = value\", not \"" + t + "\"");
        std::string key = trim(t.substr(0, eq)), value = trim(t.substr(eq + 1));
        if (key.empty())
            throw HostError(where + "expected \"label = value\", the label is missing");
        try {
            set(key, value);
        } catch (const HostError &e) {
            throw HostError(where + e.what());
        }
    }
}

void ParamBlock::load_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw HostError("cannot read parameter file \"" + path + "\": " + std::strerror(errno));
    std::ostringstream text;
    text << in.rdbuf();
    std::string s = text.str();
    if (s.find('\0') != std::string::npos)
        throw HostError("\"" + path + "\" is not a parameter file (binary data)");
    apply_text(s, path);
}

void ParamBlock::save_file(const std::string &path) const
{
    std::string text = to_text();
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        throw HostError("cannot write parameter file \"" + path + "\": " + std::strerror(errno));
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = (std::fclose(f) == 0) && ok;
    if (!ok)
        throw HostError("cannot write parameter file \"" + path + "\": " + std::strerror(errno));
}

} // namespace texhost
