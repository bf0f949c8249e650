#include "loader.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace texhost {

std::string trim(const std::string &s)
{
    size_t b = 0, e = s.size();
    while (b < e && std::isspace((unsigned char)s[b]))
        b++;
    while (e > b && std::isspace((unsigned char)s[e - 1]))
        e--;
    return s.substr(b, e - b);
}


namespace {

// Calls through plugin_tex_doit share the plug-in's one `result` array, and
// two Plugin objects may stand for the same loaded library: one lock for all.
std::mutex shared_result_lock;

// The largest tables accepted from a plug-in; beyond them the description is
// taken to be garbage rather than a parameter table.
constexpr int max_vars = 4096;
constexpr int max_subtypes = 1024;

std::string fixed_text(const char *s, size_t width)
{
    return std::string(s, strnlen(s, width));
}

bool blank(const std::string &s)
{
    return std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isspace(c); });
}

std::string lower(std::string s)
{
    for (char &c : s)
        c = (char)std::tolower((unsigned char)c);
    return s;
}

bool all_digits(const std::string &s)
{
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

bool is_dir(const std::string &p)
{
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool is_file(const std::string &p)
{
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string one_line(std::string s)
{
    std::replace(s.begin(), s.end(), '\n', ' ');
    return s;
}

WidgetKind kind_of(int type)
{
    switch (type) {
    case VT_FLOAT_NUMBER: return WidgetKind::float_number;
    case VT_INT_NUMBER: return WidgetKind::int_number;
    case VT_INT_TOGGLE: return WidgetKind::toggle;
    case VT_LABEL: return WidgetKind::label;
    default: return WidgetKind::other;
    }
}

// The twelve parameters every plug-in's table starts with, by the field names
// of the Cast record's common prefix. A name applies only where the entry
// carries one of the labels that the common parameter has.
struct CommonField {
    const char *field;
    const char *labels[3];
};
const CommonField common_fields[12] = {
    {"turbulance_weight", {"Turbulance"}},
    {"noise_size", {"Noise Size"}},
    {"depth", {"Noise Depth"}},
    {"falloff", {"Detail Size"}},
    {"hard_noise", {"Hard Noise"}},
    {"seed", {"Seed"}},
    {"do_bump", {"BumpMap"}},
    {"filter", {"Filter"}},
    {"double_bump", {"Two-way filter", "Two-way Filter", "Double Sample"}},
    {"osa", {"OSA"}},
    {"map_max", {"Map Max"}},
    {"map_min", {"Map Min"}},
};

const char *common_field_name(const Widget &w)
{
    if (w.index >= 12 || !w.has_value())
        return nullptr;
    const CommonField &c = common_fields[w.index];
    for (const char *l : c.labels)
        if (l && w.label == l)
            return c.field;
    return nullptr;
}

} // namespace

const char *kind_name(WidgetKind kind)
{
    switch (kind) {
    case WidgetKind::float_number: return "float";
    case WidgetKind::int_number: return "int";
    case WidgetKind::toggle: return "toggle";
    case WidgetKind::label: return "label";
    case WidgetKind::other: break;
    }
    return "other";
}

std::string normalized_name(const std::string &s)
{
    std::string out;
    bool gap = false;
    for (unsigned char c : s) {
        if (std::isalnum(c)) {
            if (gap && !out.empty())
                out += '_';
            gap = false;
            out += (char)std::tolower(c);
        } else {
            gap = true;
        }
    }
    return out;
}

std::string float_text(float v)
{
    char buf[64];
    for (int precision = 6; precision <= 9; precision++) {
        std::snprintf(buf, sizeof buf, "%.*g", precision, (double)v);
        if (std::strtof(buf, nullptr) == v || v != v)
            break;
    }
    return buf;
}

std::unique_ptr<Plugin> Plugin::open(const std::string &path_arg)
{
    // dlopen searches the library path for a name without '/'; a file is meant.
    std::string path = path_arg.find('/') == std::string::npos ? "./" + path_arg : path_arg;
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        throw HostError("cannot open plug-in \"" + path_arg + "\": " + std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        throw HostError("\"" + path_arg + "\" is not a plug-in: not a regular file");

    std::unique_ptr<Plugin> p(new Plugin);
    p->path_ = path_arg;
    dlerror();
    p->handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!p->handle_) {
        const char *why = dlerror();
        throw HostError("\"" + path_arg + "\" is not a plug-in: cannot load it (" +
                        one_line(why ? why : "unknown reason") + ")");
    }
    auto getversion = (int (*)(void))dlsym(p->handle_, "plugin_tex_getversion");
    auto getinfo = (void (*)(PluginInfo *))dlsym(p->handle_, "plugin_getinfo");
    if (!getversion || !getinfo)
        throw HostError("\"" + path_arg + "\" is not a texture plug-in: it exports no " +
                        (getversion ? "plugin_getinfo" : "plugin_tex_getversion"));
    p->version_ = getversion();
    if (p->version_ != PLUGIN_TEX_VERSION)
        throw HostError("\"" + path_arg + "\" has plug-in interface version " +
                        std::to_string(p->version_) + "; this host needs version " +
                        std::to_string(PLUGIN_TEX_VERSION));

    PluginInfo info;
    std::memset(&info, 0, sizeof info);
    getinfo(&info);
    p->describe(info);
    p->info_ = info;
    p->doit_r_ = (TexDoitR)dlsym(p->handle_, "plugin_tex_doit_r");
    if (info.init)
        info.init();
    return p;
}

// Checks what plugin_getinfo stored and copies the tables into host form.
void Plugin::describe(const PluginInfo &info)
{
    auto bad = [&](const std::string &why) {
        return HostError("\"" + path_ + "\" describes itself wrongly: " + why);
    };
    if (!info.name)
        throw bad("no name");
    if (info.nvars < 0 || info.nvars > max_vars)
        throw bad(std::to_string(info.nvars) + " parameters");
    if (info.nvars > 0 && !info.varstr)
        throw bad("no parameter table");
    if (info.stypes < 0 || info.stypes > max_subtypes)
        throw bad(std::to_string(info.stypes) + " sub-types");
    if (info.stypes > 0 && !info.snames)
        throw bad("no sub-type names");
    if (!info.result)
        throw bad("no result array");
    if (!info.tex_doit)
        throw bad("no per-sample entry");

    name_ = fixed_text(info.name, 24);
    for (int i = 0; i < info.stypes; i++)
        subtypes_.push_back(fixed_text(info.snames + 16 * i, 16));

    std::string caption; // the last non-blank label, for entries without one
    int after_caption = 0;
    for (int i = 0; i < info.nvars; i++) {
        const VarStruct &v = info.varstr[i];
        Widget w;
        w.index = i;
        w.type = v.type;
        w.kind = kind_of(v.type);
        w.label = fixed_text(v.name, sizeof v.name);
        w.def = v.def;
        w.min = v.min;
        w.max = v.max;
        w.tip = fixed_text(v.tip, sizeof v.tip);
        if (!blank(w.label)) {
            w.key = trim(w.label);
            caption = w.key;
            after_caption = 0;
        } else if (w.has_value()) {
            // A value without a label of its own belongs to the caption above
            // it: the host shows it there, so it is named after it.
            after_caption++;
            w.key = caption.empty() ? "#" + std::to_string(i)
                                    : caption + " " + std::to_string(after_caption);
        } else {
            w.key = "#" + std::to_string(i);
        }
        widgets_.push_back(w);
    }
    // Every key must name one entry only; a clash falls back to the index form.
    for (Widget &w : widgets_) {
        int same = 0;
        for (const Widget &o : widgets_)
            if (normalized_name(o.key) == normalized_name(w.key))
                same++;
        if (same > 1 && w.key[0] != '#')
            w.key = "#" + std::to_string(w.index);
    }
}

Plugin::~Plugin()
{
    if (handle_)
        dlclose(handle_);
}

ParamBlock Plugin::defaults() const { return ParamBlock(*this); }

int Plugin::subtype(const std::string &arg) const
{
    std::string s = trim(arg);
    if (all_digits(s) && s.size() < 6) {
        int n = std::atoi(s.c_str());
        if (n < (int)subtypes_.size() || (subtypes_.empty() && n == 0))
            return n;
    }
    for (size_t i = 0; i < subtypes_.size(); i++)
        if (lower(subtypes_[i]) == lower(s) ||
            (!normalized_name(s).empty() && normalized_name(subtypes_[i]) == normalized_name(s)))
            return (int)i;
    if (subtypes_.empty())
        throw HostError(name_ + " has no sub-types; \"" + arg + "\" cannot be selected");
    std::string list;
    for (size_t i = 0; i < subtypes_.size(); i++)
        list += (i ? ", " : "") + subtypes_[i] + " (" + std::to_string(i) + ")";
    throw HostError("unknown sub-type \"" + arg + "\" for " + name_ + "; valid: " + list);
}

std::string Plugin::subtype_name(int stype) const
{
    if (stype >= 0 && stype < (int)subtypes_.size())
        return subtypes_[stype];
    return "";
}

int Plugin::find_widget(const std::string &arg) const
{
    std::string key = trim(arg);
    if (key.size() > 1 && key[0] == '#' && all_digits(key.substr(1)) && key.size() < 8) {
        int n = std::atoi(key.c_str() + 1);
        return n < nvars() ? n : -1;
    }
    for (const Widget &w : widgets_)
        if (!key.empty() && (w.key == key || w.label == key))
            return w.index;
    std::string n = normalized_name(key);
    if (n.empty())
        return -1;
    for (const Widget &w : widgets_)
        if (normalized_name(w.key) == n || normalized_name(w.label) == n)
            return w.index;
    for (const Widget &w : widgets_) {
        const char *field = common_field_name(w);
        if (field && n == field)
            return w.index;
    }
    return -1;
}

int Plugin::widget(const std::string &key) const
{
    int i = find_widget(key);
    if (i >= 0)
        return i;
    std::string list;
    for (const Widget &w : widgets_)
        if (w.has_value())
            list += (list.empty() ? "\"" : ", \"") + w.key + "\"";
    throw HostError("unknown parameter \"" + key + "\" for " + name_ + "; valid: " +
                    (list.empty() ? "none" : list));
}

namespace {
// The plug-in gets its own copies of the vectors: they are its to read.
struct SampleVectors {
    float p[3], x[3], y[3];
    bool footprint;

    SampleVectors(const float *texvec, const float *dxt, const float *dyt) : footprint(dxt)
    {
        std::memcpy(p, texvec, sizeof p);
        if (footprint) {
            std::memcpy(x, dxt, sizeof x);
            std::memcpy(y, dyt, sizeof y);
        }
    }
    float *dx() { return footprint ? x : nullptr; }
    float *dy() { return footprint ? y : nullptr; }
};
} // namespace

int Plugin::sample(int stype, const ParamBlock &block, const float texvec[3], const float *dxt,
                   const float *dyt, float out[8]) const
{
    if (!doit_r_)
        return sample_shared(stype, block, texvec, dxt, dyt, out);
    SampleVectors v(texvec, dxt, dyt);
    for (int i = 0; i < 8; i++)
        out[i] = 0.0f;
    return doit_r_(stype, const_cast<void *>(block.data()), v.p, v.dx(), v.dy(), out);
}

int Plugin::sample_shared(int stype, const ParamBlock &block, const float texvec[3],
                          const float *dxt, const float *dyt, float out[8]) const
{
    SampleVectors v(texvec, dxt, dyt);
    std::lock_guard<std::mutex> hold(shared_result_lock);
    int r = info_.tex_doit(stype, const_cast<void *>(block.data()), v.p, v.dx(), v.dy());
    std::memcpy(out, info_.result, 8 * sizeof(float));
    return r;
}

void Plugin::notify_changed(int index) const
{
    if (info_.callback)
        info_.callback(index);
}

std::string default_plugin_dir()
{
    const char *env = std::getenv("TEXHOST_PLUGIN_DIR");
    if (env && *env)
        return env;
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return "plugins";
    std::string exe(buf, (size_t)n);
    std::string dir = exe.substr(0, exe.rfind('/'));
    return plugin_dir_near(dir.empty() ? "/" : dir);
}

std::string plugin_dir_near(const std::string &dir)
{
    if (is_dir(dir + "/plugins"))
        return dir + "/plugins";
    std::string up = dir.substr(0, dir.rfind('/'));
    if (!up.empty() && is_dir(up + "/plugins"))
        return up + "/plugins";
    return dir + "/plugins";
}

std::vector<std::string> scan_plugins(const std::string &dir)
{
    std::vector<std::string> found;
    DIR *d = opendir(dir.c_str());
    if (!d)
        return found;
    while (dirent *e = readdir(d)) {
        std::string n = e->d_name;
        if (n.size() > 3 && n.compare(n.size() - 3, 3, ".so") == 0 && is_file(dir + "/" + n))
            found.push_back(dir + "/" + n);
    }
    closedir(d);
    std::sort(found.begin(), found.end());
    return found;
}

std::string resolve_plugin(const std::string &arg, const std::string &dir)
{
    if (arg.empty())
        throw HostError("no plug-in given");
    bool looks_like_file = arg.find('/') != std::string::npos ||
                           (arg.size() > 3 && arg.compare(arg.size() - 3, 3, ".so") == 0);
    if (looks_like_file) {
        if (is_file(arg) || arg.find('/') != std::string::npos)
            return arg; // opening it reports what is wrong with it
        if (is_file(dir + "/" + arg))
            return dir + "/" + arg;
        throw HostError("no plug-in file \"" + arg + "\"");
    }
    std::string direct = dir + "/" + lower(arg) + ".so";
    if (is_file(direct))
        return direct;
    std::vector<std::string> found = scan_plugins(dir);
    for (const std::string &f : found) {
        try {
            if (normalized_name(Plugin::open(f)->name()) == normalized_name(arg))
                return f;
        } catch (const HostError &) {
            // not a plug-in, so not the one asked for
        }
    }
    if (!is_dir(dir))
        throw HostError("unknown plug-in \"" + arg + "\": the plug-in folder \"" + dir +
                        "\" does not exist (use --plugin-dir or TEXHOST_PLUGIN_DIR)");
    std::string list;
    for (const std::string &f : found) {
        std::string n = f.substr(f.rfind('/') + 1);
        list += (list.empty() ? "" : ", ") + n.substr(0, n.size() - 3);
    }
    throw HostError("unknown plug-in \"" + arg + "\"; in \"" + dir + "\": " +
                    (list.empty() ? "no plug-ins" : list));
}

} // namespace texhost
