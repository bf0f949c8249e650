#include "serve_worker.h"

#include "image.h"
#include "loader.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace texhost {

namespace {

const char *kind_word(ImageKind k)
{
    switch (k) {
    case ImageKind::gray8: return "gray8";
    case ImageKind::gray16: return "gray16";
    case ImageKind::normal_map: return "normal";
    }
    return "?";
}

// Doubles travel as hexadecimal floats, so that the worker sees the same bits.
std::string hex_double(double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%a", v);
    return buf;
}

double read_double(const std::string &token)
{
    char *end = nullptr;
    double v = std::strtod(token.c_str(), &end);
    if (token.empty() || *end)
        throw HostError("malformed render job: \"" + token + "\" is not a number");
    return v;
}

long read_long(const std::string &token)
{
    char *end = nullptr;
    long v = std::strtol(token.c_str(), &end, 0);
    if (token.empty() || *end)
        throw HostError("malformed render job: \"" + token + "\" is not a whole number");
    return v;
}

// --- the worker ---

// Which job the parent wants stopped: set from the SIGUSR1 handler, whose
// value names the job, so that a late signal never stops the next one.
std::atomic<int> current_job{-1}, cancelled_job{-1};
std::atomic<bool> cancel_flag{false};

void on_cancel(int, siginfo_t *info, void *)
{
    int id = info->si_value.sival_int;
    cancelled_job.store(id);
    if (current_job.load() == id)
        cancel_flag.store(true);
}

void begin_job(int id)
{
    cancel_flag.store(false);
    current_job.store(id);
    if (cancelled_job.load() == id)
        cancel_flag.store(true);
}

// Renders the job in bands of about a million pixels, each encoded as soon
// as it is done, so that a large export needs the memory of one band and
// its PNG bytes only.
std::vector<uint8_t> render_png(const RenderJob &job, const Plugin &plugin, RenderAnswer &answer)
{
    ParamBlock block = plugin.defaults();
    if (job.slots.size() != (size_t)block.size())
        throw HostError("malformed render job: " + std::to_string(job.slots.size()) +
                        " parameters for a block of " + std::to_string(block.size()));
    std::memcpy(block.data(), job.slots.data(), job.slots.size() * 4);
    RenderOptions ro;
    ro.stype = job.stype;
    ro.normal_map = job.kind == ImageKind::normal_map;
    ro.bump_scale = job.bump_scale;
    ro.cancel = &cancel_flag;
    const View &v = job.view;
    check_renderable(plugin, v, ro, max_image_side, max_image_pixels);

    std::vector<uint8_t> png;
    PngWriter writer(&png, v.width, v.height, job.kind == ImageKind::gray16 ? 16 : 8,
                     job.kind == ImageKind::normal_map ? 3 : 1,
                     job.quick_png ? PngEffort::quick : PngEffort::file);
    const int band_rows = band_rows_for(v.width);
    for (int row = 0; row < v.height; row += band_rows) {
        Rendering band;
        band.height = std::min(band_rows, v.height - row);
        render_band(plugin, block, v, ro, row, band);
        answer.samples += band.samples;
        answer.seconds += band.seconds;
        answer.threads = band.threads;
        switch (job.kind) {
        case ImageKind::gray8: writer.write_rows(gray8_pixels(band).data(), band.height); break;
        case ImageKind::gray16: writer.write_rows(gray16_pixels(band).data(), band.height); break;
        case ImageKind::normal_map:
            writer.write_rows(normal_map_pixels(band).data(), band.height);
            break;
        }
    }
    writer.finish();
    return png;
}

// --- the parent ---

// Moves `size` bytes through read() or write(), again after a signal, until
// all are through; false when the pipe closed or failed.
template <typename Op, typename Bytes> bool move_all(Op op, int fd, Bytes *p, size_t size)
{
    while (size > 0) {
        ssize_t n = op(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= (size_t)n;
    }
    return true;
}

bool write_all(int fd, const void *data, size_t size)
{
    return move_all(::write, fd, static_cast<const char *>(data), size);
}

bool read_all(int fd, void *data, size_t size)
{
    return move_all(::read, fd, static_cast<char *>(data), size);
}

// The status line is short; reading it a byte at a time leaves the image
// bytes behind it in the pipe.
bool read_line(int fd, std::string &line)
{
    line.clear();
    char c;
    while (line.size() < 4096) {
        if (!read_all(fd, &c, 1))
            return false;
        if (c == '\n')
            return true;
        line += c;
    }
    return false;
}

std::string exit_text(int status)
{
    if (WIFSIGNALED(status)) {
        const char *name = strsignal(WTERMSIG(status));
        return std::string("killed by signal ") + std::to_string(WTERMSIG(status)) +
               (name ? std::string(", ") + name : "");
    }
    if (WIFEXITED(status))
        return "exit status " + std::to_string(WEXITSTATUS(status));
    return "stopped";
}

} // namespace

std::string format_job(const RenderJob &job)
{
    const View &v = job.view;
    std::string line = "job " + std::to_string(job.id) + " " + std::to_string(job.stype) + " " +
                       std::to_string(v.width) + " " + std::to_string(v.height) + " " +
                       hex_double(v.extent) + " " + hex_double(v.center[0]) + " " +
                       hex_double(v.center[1]) + " " + hex_double(v.center[2]) + " " +
                       shape_name(v.shape) + " " + (v.footprint ? "1 " : "0 ") +
                       hex_double(v.relief) + " " + hex_double(job.bump_scale) + " " +
                       kind_word(job.kind) + (job.quick_png ? " quick " : " file ") +
                       std::to_string(job.slots.size());
    char slot[16];
    for (uint32_t s : job.slots) {
        std::snprintf(slot, sizeof slot, " %x", (unsigned)s);
        line += slot;
    }
    return line + " " + job.plugin_path + "\n";
}

RenderJob parse_job(const std::string &line)
{
    std::istringstream in(line);
    std::string t[16];
    for (std::string &s : t)
        in >> s;
    if (t[0] != "job")
        throw HostError("malformed render job");
    RenderJob job;
    job.id = read_long(t[1]);
    job.stype = (int)read_long(t[2]);
    job.view.width = (int)read_long(t[3]);
    job.view.height = (int)read_long(t[4]);
    job.view.extent = read_double(t[5]);
    for (int k = 0; k < 3; k++)
        job.view.center[k] = read_double(t[6 + k]);
    job.view.shape = parse_shape(t[9]);
    job.view.footprint = t[10] == "1";
    job.view.relief = read_double(t[11]);
    job.bump_scale = read_double(t[12]);
    if (t[13] == "gray16")
        job.kind = ImageKind::gray16;
    else if (t[13] == "normal")
        job.kind = ImageKind::normal_map;
    else if (t[13] != "gray8")
        throw HostError("malformed render job: image kind \"" + t[13] + "\"");
    job.quick_png = t[14] == "quick";
    long n = read_long(t[15]);
    if (n < 0 || n > 4096)
        throw HostError("malformed render job: " + t[15] + " parameters");
    for (long i = 0; i < n; i++) {
        std::string s;
        in >> s;
        job.slots.push_back((uint32_t)std::strtoul(s.c_str(), nullptr, 16));
    }
    std::getline(in, job.plugin_path);
    if (job.plugin_path.size() < 2 || job.plugin_path[0] != ' ')
        throw HostError("malformed render job: no plug-in");
    job.plugin_path.erase(0, 1);
    return job;
}

int serve_worker()
{
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_sigaction = on_cancel;
    sa.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGUSR1, &sa, nullptr);
    // The server starts this process with cancels held back (see start()):
    // one sent before the handler was in place is delivered to it now.
    sigset_t cancels;
    sigemptyset(&cancels);
    sigaddset(&cancels, SIGUSR1);
    pthread_sigmask(SIG_UNBLOCK, &cancels, nullptr);

    std::map<std::string, std::unique_ptr<Plugin>> loaded;
    std::string line;
    while (std::getline(std::cin, line)) {
        RenderAnswer answer;
        std::string head;
        try {
            RenderJob job = parse_job(line);
            begin_job((int)job.id);
            std::unique_ptr<Plugin> &plugin = loaded[job.plugin_path];
            if (!plugin)
                plugin = Plugin::open(job.plugin_path);
            answer.png = render_png(job, *plugin, answer);
            head = "ok " + std::to_string(answer.samples) + " " + hex_double(answer.seconds) + " " +
                   std::to_string(answer.threads) + " " + std::to_string(answer.png.size());
        } catch (const RenderCancelled &) {
            head = "cancelled";
        } catch (const std::exception &e) {
            std::string m = e.what();
            for (char &c : m)
                if (c == '\n' || c == '\r')
                    c = ' ';
            head = "error " + m;
        }
        current_job.store(-1);
        head += "\n";
        if (!write_all(1, head.data(), head.size()) ||
            !write_all(1, answer.png.data(), answer.png.size()))
            return 1;
    }
    return 0;
}

RenderProcess::~RenderProcess() { stop(); }

void RenderProcess::start()
{
    int to[2], from[2];
    if (pipe2(to, O_CLOEXEC) != 0)
        throw HostError(std::string("cannot start the render process: ") + std::strerror(errno));
    if (pipe2(from, O_CLOEXEC) != 0) {
        close(to[0]);
        close(to[1]);
        throw HostError(std::string("cannot start the render process: ") + std::strerror(errno));
    }
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_adddup2(&files, to[0], 0);
    posix_spawn_file_actions_adddup2(&files, from[1], 1);
    // Ctrl-C in the terminal is the server's to handle: the worker ends when
    // its input closes, not in the middle of a job. A cancel (SIGUSR1) is held
    // back until the worker has its handler, instead of ending it.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGUSR1);
    posix_spawnattr_setsigmask(&attr, &mask);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
    std::string exe = executable_;
    char arg1[] = "serve-worker";
    char *argv[] = {exe.data(), arg1, nullptr};
    pid_t pid = -1;
    int err = posix_spawn(&pid, exe.c_str(), &files, &attr, argv, environ);
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attr);
    close(to[0]);
    close(from[1]);
    if (err != 0) {
        close(to[1]);
        close(from[0]);
        throw HostError("cannot start the render process \"" + executable_ +
                        "\": " + std::strerror(err));
    }
    std::lock_guard<std::mutex> hold(pid_lock_);
    pid_ = pid;
    to_ = to[1];
    from_ = from[0];
}

void RenderProcess::stop()
{
    pid_t pid;
    {
        std::lock_guard<std::mutex> hold(pid_lock_);
        pid = pid_;
        pid_ = -1;
    }
    if (to_ >= 0)
        close(to_);
    if (from_ >= 0)
        close(from_);
    to_ = from_ = -1;
    if (pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

void RenderProcess::cancel(long id)
{
    std::lock_guard<std::mutex> hold(pid_lock_);
    cancelled_id_ = id;
    cancelled_at_ = std::chrono::steady_clock::now();
    if (pid_ > 0) {
        union sigval value;
        value.sival_int = (int)id;
        sigqueue(pid_, SIGUSR1, value);
    }
}

bool RenderProcess::await_answer(long id)
{
    for (;;) {
        struct pollfd p = {from_, POLLIN, 0};
        if (poll(&p, 1, 100) != 0)
            return true; // an answer, or the end of the pipe: read_line tells
        std::lock_guard<std::mutex> hold(pid_lock_);
        if (cancelled_id_ == id && std::chrono::steady_clock::now() - cancelled_at_ > grace)
            break;
    }
    stop();
    return false;
}

RenderAnswer RenderProcess::run(const RenderJob &job)
{
    if (pid_ < 0)
        start();
    std::string line = format_job(job), head;
    bool sent = write_all(to_, line.data(), line.size());
    if (sent && !await_answer(job.id))
        throw RenderCancelled();
    if (!sent || !read_line(from_, head)) {
        // The worker is gone: collect how it ended (give it a moment to
        // finish dying), then start afresh with the next job.
        int status = 0;
        pid_t pid = pid_;
        bool reaped = false;
        for (int i = 0; i < 100 && !reaped; i++) {
            reaped = waitpid(pid, &status, WNOHANG) == pid;
            if (!reaped)
                usleep(10000);
        }
        {
            std::lock_guard<std::mutex> hold(pid_lock_);
            if (reaped)
                pid_ = -1;
        }
        stop();
        throw RenderCrash(reaped ? exit_text(status) : "it stopped answering");
    }
    if (head == "cancelled")
        throw RenderCancelled();
    if (head.compare(0, 6, "error ") == 0)
        throw HostError(head.substr(6));
    std::istringstream in(head);
    std::string ok, samples, seconds, threads, size;
    in >> ok >> samples >> seconds >> threads >> size;
    RenderAnswer a;
    a.samples = read_long(samples);
    a.seconds = read_double(seconds);
    a.threads = (int)read_long(threads);
    long n = read_long(size);
    if (ok != "ok" || n < 0)
        throw HostError("the render process answered \"" + head + "\"");
    a.png.resize((size_t)n);
    if (!read_all(from_, a.png.data(), a.png.size())) {
        stop();
        throw RenderCrash("it stopped in the middle of its answer");
    }
    return a;
}

} // namespace texhost
