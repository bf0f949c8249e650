// All five plug-ins loaded into one process with RTLD_GLOBAL, as a host that
// loads them that way would: each must still answer exactly as when it is
// loaded alone, and no kit or pattern name may become visible to the process.
//
// Every loading happens in a forked child, so that each configuration starts
// from a process with no plug-in loaded; the child sends its answers back
// through a pipe as text.
#include "gen_expected_samples.h"
#include "hardening.h"

#include <map>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using samples::Answer;

struct Rendering {
    bool ok = false;
    std::string error;
    std::map<std::string, std::vector<Answer>> answers;
    std::map<std::string, std::string> display;   // name reported through PluginInfo
    std::map<std::string, bool> own_objects;      // PluginInfo points at the library's own data
    std::vector<std::string> visible;             // kit names found through RTLD_DEFAULT
    bool entries_global = false;                  // plugin_tex_doit found through RTLD_DEFAULT
};

const char *const kHiddenNames[] = {
    "turb",         "hash",          "hashvectf",      "intensity",  "recursive_turb",
    "point_turbulance", "fixed_rand", "vec_copy",      "vec_len",    "vec_add",
    "vec_sub",      "crossp",        "vec_normalize",  "map_range",  "map_range_unclipped",
    "clip_unit",    "evaluate",      "marble_vein",    "bump_step",  "lattice_cell",
    "sample",       "turb_reference", "finite_or_zero"};

// Child side: load, render interleaved (sample i of every plug-in before
// sample i + 1 of any), report.
[[noreturn]] void child(const std::vector<std::string> &order, int flags, int fd)
{
    std::ostringstream out;
    std::vector<void *> handles;
    std::vector<PluginInfo> infos;
    std::vector<std::vector<samples::Sample>> sets;
    for (const auto &name : order) {
        void *h = dlopen(plugin_path(name).c_str(), RTLD_NOW | flags);
        if (!h) {
            out << "E dlopen " << name << ": " << dlerror() << "\n";
            std::string s = out.str();
            (void)!write(fd, s.data(), s.size());
            _exit(1);
        }
        auto getinfo = (void (*)(PluginInfo *))dlsym(h, "plugin_getinfo");
        PluginInfo info{};
        getinfo(&info);
        handles.push_back(h);
        infos.push_back(info);
        sets.push_back(samples::sample_set(info));
        bool own = info.result == dlsym(h, "result") && info.name == dlsym(h, "name") &&
                   info.varstr == dlsym(h, "varstr") &&
                   (void *)info.tex_doit == dlsym(h, "plugin_tex_doit");
        out << "N " << name << " " << info.name << " " << own << "\n";
    }
    size_t longest = 0;
    for (const auto &s : sets)
        longest = std::max(longest, s.size());
    for (size_t i = 0; i < longest; i++)
        for (size_t p = 0; p < order.size(); p++)
            if (i < sets[p].size()) {
                Answer a = samples::render(infos[p], sets[p][i]);
                out << "A " << order[p] << " " << a.ret << " " << a.r0 << " " << a.r5 << " "
                    << a.r6 << " " << a.r7 << "\n";
            }
    for (const char *sym : kHiddenNames)
        if (dlsym(RTLD_DEFAULT, sym))
            out << "V " << sym << "\n";
    out << "G " << (dlsym(RTLD_DEFAULT, "plugin_tex_doit") != nullptr) << "\n";
    out << "OK\n";
    std::string s = out.str();
    size_t done = 0;
    while (done < s.size()) {
        ssize_t n = write(fd, s.data() + done, s.size() - done);
        if (n <= 0)
            _exit(1);
        done += (size_t)n;
    }
    _exit(0);
}

Rendering render_in_child(const std::vector<std::string> &order, int flags)
{
    Rendering r;
    int fds[2];
    if (pipe(fds) != 0) {
        r.error = "pipe failed";
        return r;
    }
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        child(order, flags, fds[1]);
    }
    close(fds[1]);
    std::string text;
    char buf[65536];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0)
        text.append(buf, (size_t)n);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);

    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream l(line);
        std::string tag, name;
        l >> tag;
        if (tag == "N") {
            std::string display;
            bool own;
            l >> name >> display >> own;
            r.display[name] = display;
            r.own_objects[name] = own;
        } else if (tag == "A") {
            Answer a;
            l >> name >> a.ret >> a.r0 >> a.r5 >> a.r6 >> a.r7;
            r.answers[name].push_back(a);
        } else if (tag == "V") {
            l >> name;
            r.visible.push_back(name);
        } else if (tag == "G") {
            l >> r.entries_global;
        } else if (tag == "OK") {
            r.ok = true;
        } else {
            r.error += line + "\n";
        }
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        r.ok = false;
        r.error += "child exited abnormally (status " + std::to_string(status) + ")";
    }
    return r;
}

// Each plug-in alone in a fresh process, loaded locally: the reference.
const std::map<std::string, Rendering> &alone()
{
    static const std::map<std::string, Rendering> refs = [] {
        std::map<std::string, Rendering> m;
        for (const auto &name : hardening::built())
            m[name] = render_in_child({name}, RTLD_LOCAL);
        return m;
    }();
    return refs;
}

std::vector<std::vector<std::string>> orders()
{
    auto forward = hardening::built();
    auto reverse = std::vector<std::string>(forward.rbegin(), forward.rend());
    auto rotated = forward;
    if (rotated.size() > 2)
        std::rotate(rotated.begin(), rotated.begin() + 2, rotated.end());
    return {forward, reverse, rotated};
}

std::string joined(const std::vector<std::string> &v)
{
    std::string s;
    for (const auto &x : v)
        s += (s.empty() ? "" : ", ") + x;
    return s;
}

class FiveInOneProcess : public ::testing::TestWithParam<int> {
  protected:
    void SetUp() override
    {
        if (hardening::built().size() < 2)
            GTEST_SKIP() << "fewer than two plug-ins in this build";
        for (const auto &d : hardening::five())
            if (!hardening::in_build(d.name))
                std::printf("note: %s is not in this build yet\n", d.name);
    }
};

} // namespace

TEST_P(FiveInOneProcess, EachPluginAnswersAsWhenLoadedAlone)
{
    const auto order = orders()[GetParam()];
    SCOPED_TRACE("loaded globally in the order " + joined(order));
    Rendering all = render_in_child(order, RTLD_GLOBAL);
    ASSERT_TRUE(all.ok) << all.error;
    EXPECT_TRUE(all.entries_global) << "RTLD_GLOBAL did not make the entry points global";

    for (const auto &name : order) {
        const Rendering &ref = alone().at(name);
        ASSERT_TRUE(ref.ok) << name << " alone: " << ref.error;
        EXPECT_EQ(all.display[name], ref.display.at(name))
            << name << " reports another plug-in's name";
        EXPECT_TRUE(all.own_objects[name])
            << name << ": PluginInfo points at data or entries of another library";
        const auto &want = ref.answers.at(name);
        const auto &got = all.answers[name];
        ASSERT_EQ(got.size(), want.size()) << name;
        ASSERT_FALSE(want.empty()) << name;
        int differing = 0;
        for (size_t i = 0; i < want.size(); i++)
            if (!(got[i] == want[i]) && ++differing <= 3)
                ADD_FAILURE() << name << " sample " << i << ": returned " << got[i].ret
                              << " r0 " << std::hex << got[i].r0 << ", alone " << std::dec
                              << want[i].ret << " r0 " << std::hex << want[i].r0;
        EXPECT_EQ(differing, 0) << name << ": " << differing << " of " << want.size()
                                << " samples differ from the plug-in loaded alone";
    }
}

TEST_P(FiveInOneProcess, NoKitOrPatternNameIsVisible)
{
    const auto order = orders()[GetParam()];
    Rendering all = render_in_child(order, RTLD_GLOBAL);
    ASSERT_TRUE(all.ok) << all.error;
    EXPECT_TRUE(all.visible.empty()) << "visible to the whole process: " << joined(all.visible);
}

std::string order_name(const ::testing::TestParamInfo<int> &info)
{
    static const char *const names[] = {"Forward", "Reverse", "Rotated"};
    return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(Orders, FiveInOneProcess, ::testing::Values(0, 1, 2), order_name);
