#include "exr.h"

#include "bake.h"

#include <IexBaseExc.h>
#include <ImfChannelList.h>
#include <ImfDoubleAttribute.h>
#include <ImfFloatAttribute.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfIO.h>
#include <ImfIntAttribute.h>
#include <ImfOutputFile.h>
#include <ImfStandardAttributes.h>
#include <ImfStringAttribute.h>
#include <ImfVecAttribute.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace texhost {

ExrCompression parse_exr_compression(const std::string &s)
{
    if (s == "none")
        return ExrCompression::none;
    if (s == "zip")
        return ExrCompression::zip;
    if (s == "piz")
        return ExrCompression::piz;
    throw HostError("unknown OpenEXR compression \"" + s + "\"; valid: none, zip, piz");
}

namespace {

// OpenEXR's output through a stdio FILE, remembering the system's error so
// that the report names it rather than the library's wrapping of it.
class FileStream : public Imf::OStream {
public:
    explicit FileStream(FILE *f) : Imf::OStream("image"), f_(f) {}
    void write(const char c[], int n) override
    {
        if (std::fwrite(c, 1, (size_t)n, f_) != (size_t)n)
            fail();
    }
    uint64_t tellp() override { return (uint64_t)ftello(f_); }
    void seekp(uint64_t pos) override
    {
        if (fseeko(f_, (off_t)pos, SEEK_SET) != 0)
            fail();
    }
    int error = 0;

private:
    void fail()
    {
        error = errno ? errno : EIO;
        throw Iex::IoExc(std::strerror(error));
    }
    FILE *f_;
};

const char *const bump_channels[3] = {"bump.X", "bump.Y", "bump.Z"};

Imf::Header make_header(const Plugin &plugin, const ParamBlock &block, const View &view,
                        const RenderOptions &options, bool bump, ExrCompression compression)
{
    Imf::Header h(view.width, view.height);
    h.compression() = compression == ExrCompression::piz   ? Imf::PIZ_COMPRESSION
                      : compression == ExrCompression::zip ? Imf::ZIP_COMPRESSION
                                                           : Imf::NO_COMPRESSION;
    h.lineOrder() = Imf::INCREASING_Y;
    h.channels().insert("Y", Imf::Channel(Imf::FLOAT));
    if (bump)
        for (const char *c : bump_channels)
            h.channels().insert(c, Imf::Channel(Imf::FLOAT));

    h.insert("software", Imf::StringAttribute(std::string("texhost ") + texhost_version));
    h.insert("plugin", Imf::StringAttribute(plugin.name()));
    const std::string &path = plugin.path();
    h.insert("pluginLibrary", Imf::StringAttribute(path.substr(path.rfind('/') + 1)));
    h.insert("pluginSubtype", Imf::StringAttribute(plugin.subtype_name(options.stype)));
    h.insert("pluginSubtypeIndex", Imf::IntAttribute(options.stype));
    // Every parameter twice: as the parameter file that --params reads back,
    // and one typed attribute each for metadata viewers.
    h.insert("parameters", Imf::StringAttribute(block.to_text()));
    for (const Widget &w : plugin.widgets()) {
        if (!w.has_value())
            continue;
        std::string name = "parameter:" + w.key;
        if (w.is_float())
            h.insert(name, Imf::FloatAttribute(block.get_float(w.index)));
        else
            h.insert(name, Imf::IntAttribute(block.get_int(w.index)));
    }
    h.insert("viewShape", Imf::StringAttribute(shape_name(view.shape)));
    h.insert("viewCenter",
             Imf::V3dAttribute(Imath::V3d(view.center[0], view.center[1], view.center[2])));
    h.insert("viewExtent", Imf::DoubleAttribute(view.extent));
    h.insert("viewFootprint", Imf::IntAttribute(view.footprint ? 1 : 0));
    if (view.shape == Shape::terrain)
        h.insert("viewRelief", Imf::DoubleAttribute(view.relief < 0 ? view.extent * 0.25
                                                                    : view.relief));
    h.insert("bumpScale", Imf::DoubleAttribute(options.bump_scale));
    h.insert("tileable", Imf::IntAttribute(options.tileable ? 1 : 0));
    if (options.tileable)
        Imf::addWrapmodes(h, "periodic");
    return h;
}

} // namespace

struct ExrWriter::State {
    explicit State(FILE *f) : stream(f) {}
    FileStream stream;
    std::unique_ptr<Imf::OutputFile> file;
    int width = 0;
    bool bump = false;
};

// OpenEXR reports with exceptions; the caller gets the system's reason when
// there is one, else the library's message.
#define EXR_CALL(state, ...)                                                                       \
    do {                                                                                           \
        try {                                                                                      \
            __VA_ARGS__;                                                                           \
        } catch (const std::exception &e) {                                                        \
            throw HostError((state)->stream.error ? std::strerror((state)->stream.error)           \
                                                  : e.what());                                     \
        }                                                                                          \
    } while (0)

ExrWriter::ExrWriter(FILE *file, const Plugin &plugin, const ParamBlock &block, const View &view,
                     const RenderOptions &options, bool bump, ExrCompression compression)
    : state_(new State(file))
{
    state_->width = view.width;
    state_->bump = bump;
    Imf::Header header = make_header(plugin, block, view, options, bump, compression);
    EXR_CALL(state_, state_->file.reset(new Imf::OutputFile(state_->stream, header)));
}

ExrWriter::~ExrWriter() = default;

void ExrWriter::write_rows(const Rendering &band, int first_row)
{
    const size_t w = (size_t)state_->width;
    if (band.width != state_->width || band.value.size() != w * band.height ||
        (state_->bump && band.bump.size() != 3 * w * band.height))
        throw HostError("internal: the band does not fit the image");
    const Imath::V2i origin(0, first_row);
    Imf::FrameBuffer fb;
    fb.insert("Y", Imf::Slice::Make(Imf::FLOAT, band.value.data(), origin, band.width, band.height,
                                    sizeof(float), w * sizeof(float)));
    if (state_->bump)
        for (int k = 0; k < 3; k++)
            fb.insert(bump_channels[k],
                      Imf::Slice::Make(Imf::FLOAT, band.bump.data() + k, origin, band.width,
                                       band.height, 3 * sizeof(float), 3 * w * sizeof(float)));
    EXR_CALL(state_, state_->file->setFrameBuffer(fb); state_->file->writePixels(band.height));
}

void ExrWriter::finish()
{
    // The offset table is written when the file object goes; errors there
    // are only seen by the stream.
    EXR_CALL(state_, state_->file.reset());
    if (state_->stream.error)
        throw HostError(std::strerror(state_->stream.error));
}

} // namespace texhost
