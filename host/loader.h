// The stand-in host's loader: opens a texture plug-in with dlopen, checks the
// interface version, reads its description through plugin_getinfo, keeps a
// parameter block laid out as the plug-in's Cast record and calls the
// per-sample entry the way the host renderer does.
#pragma once

#include "plugin_api.h"

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace texhost {

// The text without leading and trailing white space.
std::string trim(const std::string &s);

// Input the host cannot use. The message is a single line meant for the user.
class HostError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class WidgetKind { float_number, int_number, toggle, label, other };

// One entry of the plug-in's parameter table, as the host shows it.
struct Widget {
    int index = 0;
    int type = 0;              // the raw type word
    WidgetKind kind = WidgetKind::other;
    std::string label;         // exactly as the plug-in spells it
    std::string key;           // the name used on the command line and in parameter files
    float def = 0, min = 0, max = 0;
    std::string tip;

    bool has_value() const { return kind != WidgetKind::label; }
    bool is_float() const { return kind == WidgetKind::float_number; }
};

const char *kind_name(WidgetKind kind);

class ParamBlock;

class Plugin {
public:
    // Loads the library at `path`; throws HostError when it is missing, not a
    // texture plug-in, of another interface version or describes itself badly.
    static std::unique_ptr<Plugin> open(const std::string &path);
    ~Plugin();
    Plugin(const Plugin &) = delete;
    Plugin &operator=(const Plugin &) = delete;

    const std::string &path() const { return path_; }
    const std::string &name() const { return name_; }
    int version() const { return version_; }
    const std::vector<std::string> &subtypes() const { return subtypes_; }
    const std::vector<Widget> &widgets() const { return widgets_; }
    int nvars() const { return (int)widgets_.size(); }
    // True when the plug-in exports plugin_tex_doit_r and can serve several threads.
    bool reentrant() const { return doit_r_ != nullptr; }

    // The block the host builds from the widget defaults.
    ParamBlock defaults() const;

    // Sub-type by name (case-insensitive) or index; throws HostError listing the valid ones.
    int subtype(const std::string &name_or_index) const;
    // Display name of a sub-type ("" for a plug-in without sub-types).
    std::string subtype_name(int stype) const;

    // Index of the widget that `key` names: its label or key, case-insensitive,
    // with spaces and punctuation equivalent to '_', the field name of a common
    // parameter ("noise_size", "falloff"), or "#index". Returns -1 if none does.
    int find_widget(const std::string &key) const;
    // As find_widget, but throws HostError listing the valid names.
    int widget(const std::string &key) const;

    // One shading sample. Through plugin_tex_doit_r when the plug-in has it
    // (callable from several threads at once), otherwise through plugin_tex_doit
    // and a copy of `result` taken before the next call. `out` receives the
    // plug-in's 8 result floats; returns the plug-in's return value.
    int sample(int stype, const ParamBlock &block, const float texvec[3], const float *dxt,
               const float *dyt, float out[8]) const;
    // Always through plugin_tex_doit and `result`, one call at a time.
    int sample_shared(int stype, const ParamBlock &block, const float texvec[3], const float *dxt,
                      const float *dyt, float out[8]) const;

    // Tells the plug-in that widget `index` changed, as the host does.
    void notify_changed(int index) const;

private:
    Plugin() = default;
    void describe(const PluginInfo &info);

    std::string path_;
    void *handle_ = nullptr;
    PluginInfo info_{};
    TexDoitR doit_r_ = nullptr;
    int version_ = 0;
    std::string name_;
    std::vector<std::string> subtypes_;
    std::vector<Widget> widgets_;
};

// The parameter block: one 4-byte slot per widget, a float for a float widget
// and an int for every other kind, in table order.
class ParamBlock {
public:
    explicit ParamBlock(const Plugin &plugin);

    const Plugin &plugin() const { return *plugin_; }
    int size() const { return (int)slots_.size(); }

    float get_float(int index) const;
    int get_int(int index) const;
    // The value as text, short and exact: reading it back gives the same bits.
    std::string value_text(int index) const;

    // Parses `value` for the widget named `key` and checks it against the
    // widget's range; throws HostError with a one-line reason.
    void set(const std::string &key, const std::string &value);
    void set_index(int index, const std::string &value);

    // Parameter files: one "label = value" a line, '#' starts a comment line.
    std::string to_text() const;
    // Applies the settings of `text`; `origin` names it in error messages.
    void apply_text(const std::string &text, const std::string &origin);
    void load_file(const std::string &path);
    void save_file(const std::string &path) const;

    void *data() { return slots_.data(); }
    const void *data() const { return slots_.data(); }
    const std::vector<uint32_t> &slots() const { return slots_; }

private:
    const Plugin *plugin_;
    std::vector<uint32_t> slots_;
};

// Where plug-ins are looked for: $TEXHOST_PLUGIN_DIR when set, otherwise the
// folder "plugins" beside the running executable (or beside its folder).
std::string default_plugin_dir();
// The folder "plugins" in `dir` or, failing that, in its parent: a program
// built one folder below the build folder finds the plug-ins built with it.
std::string plugin_dir_near(const std::string &dir);
// The *.so files of `dir`, sorted by name; empty when the folder is missing.
std::vector<std::string> scan_plugins(const std::string &dir);
// A path to a library (contains '/' or ends in ".so"), or a deliverable or
// display name looked up in `dir`; throws HostError naming what was found.
std::string resolve_plugin(const std::string &arg, const std::string &dir);

// Lower case, every run of other characters than letters and digits one '_'.
std::string normalized_name(const std::string &s);
// A float as the shortest text that reads back to the same value.
std::string float_text(float v);

} // namespace texhost
