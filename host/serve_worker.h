// The preview server renders in a separate process, so that a plug-in that
// crashes takes down that process only: the server reports the crash, starts
// a new one and goes on serving. This is the protocol between the two: one
// request line in, a status line and the PNG bytes out.
#pragma once

#include "render.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

namespace texhost {

enum class ImageKind { gray8, gray16, normal_map };

struct RenderJob {
    long id = 0;                  // names the job when it is cancelled
    std::string plugin_path;
    int stype = 0;
    View view;
    double bump_scale = 1.0;
    ImageKind kind = ImageKind::gray8;
    bool quick_png = false;       // a preview: the same pixels, encoded faster
    std::vector<uint32_t> slots;  // the parameter block
};

struct RenderAnswer {
    std::vector<uint8_t> png;
    long samples = 0;
    double seconds = 0;
    int threads = 1;
};

// The render process died in the middle of a job.
class RenderCrash : public HostError {
public:
    using HostError::HostError;
};

// The parent's end: starts `executable serve-worker` when needed and hands it
// one job at a time.
class RenderProcess {
public:
    explicit RenderProcess(std::string executable) : executable_(std::move(executable)) {}
    ~RenderProcess();
    RenderProcess(const RenderProcess &) = delete;
    RenderProcess &operator=(const RenderProcess &) = delete;

    // One job at a time (the caller serialises). Throws RenderCancelled,
    // HostError for a job the worker refuses, RenderCrash when it died.
    RenderAnswer run(const RenderJob &job);
    // From any thread: stop job `id` if it runs now or is about to. A job
    // that has not stopped `grace` after this (a plug-in stuck inside one
    // sample) is ended with its process.
    void cancel(long id);
    static constexpr std::chrono::milliseconds grace{2000};

private:
    void start();
    void stop();
    // Waits until the worker answers; false when it was ended for a cancel.
    bool await_answer(long id);

    std::string executable_;
    std::mutex pid_lock_;
    pid_t pid_ = -1;
    int to_ = -1, from_ = -1;
    long cancelled_id_ = -1;  // the last job cancelled, and when (under pid_lock_)
    std::chrono::steady_clock::time_point cancelled_at_;
};

// The worker's end, as `texhost serve-worker`: jobs on stdin, answers on stdout.
int serve_worker();

// The request line of a job, and back; parse_job throws HostError.
std::string format_job(const RenderJob &job);
RenderJob parse_job(const std::string &line);

} // namespace texhost
