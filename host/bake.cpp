#include "bake.h"

#include "exr.h"
#include "image.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <future>
#include <memory>

namespace texhost {

const char texhost_version[] = "1.1";

ImageFormat format_of_path(const std::string &path)
{
    std::string tail = path.size() >= 4 ? path.substr(path.size() - 4) : "";
    for (char &c : tail)
        c = (char)std::tolower((unsigned char)c);
    return tail == ".exr" ? ImageFormat::exr : ImageFormat::png;
}

ImageFormat parse_format(const std::string &s)
{
    if (s == "png")
        return ImageFormat::png;
    if (s == "exr")
        return ImageFormat::exr;
    throw HostError("unknown format \"" + s + "\"; valid: png, exr");
}

namespace {

// One file of the bake: created at once, fed band after band, completed
// and then named.
class Output {
public:
    explicit Output(const std::string &path) : file(path) {}
    virtual ~Output() = default;
    virtual void write(const Rendering &band, int first_row) = 0;
    virtual void complete() = 0;

    // Writes and completes with the file's name in any error.
    void write_band(const Rendering &band, int first_row)
    {
        try {
            write(band, first_row);
        } catch (const HostError &e) {
            file.fail(e.what());
        }
    }
    void finish()
    {
        try {
            complete();
        } catch (const HostError &e) {
            file.fail(e.what());
        }
    }

    AtomicFile file;
};

enum class PngKind { gray8, gray16, rgb8, rgba8, rgba16 };

class PngOutput : public Output {
public:
    PngOutput(const std::string &path, PngKind kind, int width, int height)
        : Output(path), kind_(kind), png_(nullptr)
    {
        static const int channels[] = {1, 1, 3, 4, 4};
        const int bits = kind == PngKind::gray16 || kind == PngKind::rgba16 ? 16 : 8;
        try {
            png_.reset(new PngWriter(file.stream(), width, height, bits, channels[(int)kind]));
        } catch (const HostError &e) {
            file.fail(e.what());
        }
    }
    void write(const Rendering &band, int) override
    {
        switch (kind_) {
        case PngKind::gray8: png_->write_rows(gray8_pixels(band).data(), band.height); break;
        case PngKind::gray16: png_->write_rows(gray16_pixels(band).data(), band.height); break;
        case PngKind::rgb8: png_->write_rows(normal_map_pixels(band).data(), band.height); break;
        case PngKind::rgba8: png_->write_rows(packed8_pixels(band).data(), band.height); break;
        case PngKind::rgba16: png_->write_rows(packed16_pixels(band).data(), band.height); break;
        }
    }
    void complete() override { png_->finish(); }

private:
    PngKind kind_;
    std::unique_ptr<PngWriter> png_;
};

class ExrOutput : public Output {
public:
    ExrOutput(const std::string &path, const Plugin &plugin, const ParamBlock &block,
              const View &view, const RenderOptions &options, ExrCompression compression)
        : Output(path)
    {
        try {
            exr_.reset(new ExrWriter(file.stream(), plugin, block, view, options, options.bump,
                                     compression));
        } catch (const HostError &e) {
            file.fail(e.what());
        }
    }
    void write(const Rendering &band, int first_row) override { exr_->write_rows(band, first_row); }
    void complete() override { exr_->finish(); }

private:
    std::unique_ptr<ExrWriter> exr_;
};

bool bump_is_on(const Plugin &plugin, const ParamBlock &block)
{
    int i = plugin.find_widget("BumpMap");
    return i >= 0 && block.get_int(i) != 0;
}

// Opens every output named, in the order intensity, normal map, packed.
std::vector<std::unique_ptr<Output>> open_outputs(const Plugin &plugin, const ParamBlock &block,
                                                  const View &view, const RenderOptions &ro,
                                                  const BakeOutputs &out)
{
    std::vector<std::unique_ptr<Output>> outputs;
    const int w = view.width, h = view.height;
    if (!out.image.empty()) {
        if (out.image_format == ImageFormat::exr)
            outputs.emplace_back(
                new ExrOutput(out.image, plugin, block, view, ro, out.exr_compression));
        else
            outputs.emplace_back(new PngOutput(
                out.image, out.bits == 16 ? PngKind::gray16 : PngKind::gray8, w, h));
    }
    if (!out.normal_map.empty())
        outputs.emplace_back(new PngOutput(out.normal_map, PngKind::rgb8, w, h));
    if (!out.pack.empty())
        outputs.emplace_back(
            new PngOutput(out.pack, out.bits == 16 ? PngKind::rgba16 : PngKind::rgba8, w, h));
    return outputs;
}

void check_outputs(const BakeOutputs &out)
{
    if (out.image.empty() && out.normal_map.empty() && out.pack.empty())
        throw HostError("a bake needs at least one output file");
    if (out.bits != 8 && out.bits != 16)
        throw HostError("PNG images have 8 or 16 bits, not " + std::to_string(out.bits));
    const std::string *names[3] = {&out.image, &out.normal_map, &out.pack};
    for (int i = 0; i < 3; i++)
        for (int j = i + 1; j < 3; j++)
            if (!names[i]->empty() && *names[i] == *names[j])
                throw HostError("\"" + *names[i] + "\" is named for two outputs");
    for (const std::string *png_only : {&out.normal_map, &out.pack})
        if (!png_only->empty() && format_of_path(*png_only) == ImageFormat::exr)
            throw HostError("\"" + *png_only + "\": normal maps and packed images are PNG files; "
                            "the OpenEXR image (-o FILE.exr) holds the bump vector");
}

// The writes still running; the first failure among them, if any, is
// rethrown by wait().
struct Pending {
    std::vector<std::shared_future<void>> writes;
    void wait()
    {
        std::vector<std::shared_future<void>> all;
        all.swap(writes);
        std::exception_ptr first;
        for (auto &f : all) {
            try {
                f.get();
            } catch (...) {
                if (!first)
                    first = std::current_exception();
            }
        }
        if (first)
            std::rethrow_exception(first);
    }
};

bool is_cancel(const std::exception_ptr &e)
{
    try {
        std::rethrow_exception(e);
    } catch (const RenderCancelled &) {
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace

BakeResult bake(const Plugin &plugin, const ParamBlock &block, const View &view,
                const RenderOptions &options, const BakeOutputs &outputs, int band_rows)
{
    check_outputs(outputs);
    RenderOptions ro = options;
    ro.normal_map = options.normal_map || !outputs.normal_map.empty() || !outputs.pack.empty();
    ro.bump = options.bump ||
              (!outputs.image.empty() && outputs.image_format == ImageFormat::exr &&
               bump_is_on(plugin, block));
    check_renderable(plugin, view, ro, max_bake_side, max_bake_pixels);
    const int height = view.height;
    if (band_rows <= 0)
        band_rows = band_rows_for(view.width);
    band_rows = std::min(band_rows, height);

    std::vector<std::unique_ptr<Output>> files = open_outputs(plugin, block, view, ro, outputs);

    // Two bands: one is rendered while the other is written. Each file takes
    // its bands in order on a thread of its own; a failed write stops the
    // render at the next row.
    Rendering bands[2];
    Pending pending[2];
    std::vector<std::shared_future<void>> last(files.size());
    std::atomic<bool> write_failed{false};
    BakeResult result;
    auto start = std::chrono::steady_clock::now();
    try {
        for (int first = 0, b = 0; first < height; first += band_rows, b++) {
            Rendering &band = bands[b & 1];
            pending[b & 1].wait();
            band.height = std::min(band_rows, height - first);
            RenderOptions band_options = ro;
            if (options.progress)
                band_options.progress = [&options, first, height](int done, int) {
                    options.progress(first + done, height);
                };
            render_band(plugin, block, view, band_options, first, band, &write_failed);
            result.threads = band.threads;
            result.samples += band.samples;
            result.bands++;
            for (size_t i = 0; i < files.size(); i++) {
                Output *out = files[i].get();
                std::shared_future<void> before = last[i];
                last[i] = std::async(std::launch::async, [out, before, &band, first, &write_failed]() {
                              if (before.valid())
                                  before.get();
                              try {
                                  out->write_band(band, first);
                              } catch (...) {
                                  write_failed = true;
                                  throw;
                              }
                          }).share();
                pending[b & 1].writes.push_back(last[i]);
            }
        }
        pending[0].wait();
        pending[1].wait();
        for (auto &f : files)
            f->finish();
    } catch (...) {
        // A failed write is the reason the render stopped: report it rather
        // than the stop. Every write must be over before the files go.
        write_failed = true;
        std::exception_ptr first = std::current_exception();
        for (Pending &p : pending) {
            try {
                p.wait();
            } catch (...) {
                if (is_cancel(first))
                    first = std::current_exception();
            }
        }
        std::rethrow_exception(first);
    }
    for (auto &f : files)
        f->file.commit();
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return result;
}

} // namespace texhost
