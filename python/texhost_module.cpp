// texhost for Python: the stand-in host's loader and renderer as a module,
// with NumPy arrays in and out. Sampling and rendering run on every core with
// the interpreter lock released; every value comes from the plug-in's own
// entry point, one call per point, exactly as the host makes it.
#include "image.h"
#include "loader.h"
#include "render.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <chrono>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <exception>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>

namespace py = pybind11;
using namespace texhost;

namespace {

using FloatArray = py::array_t<float, py::array::c_style | py::array::forcecast>;
using DoubleArray = py::array_t<double, py::array::c_style | py::array::forcecast>;

// The command line's limit on threads.
constexpr int max_threads = 1024;

// ---- where the plug-ins are ----------------------------------------------

// The folder of this module's own file.
std::string module_dir()
{
    static const char anchor = 0;
    Dl_info info;
    if (!dladdr(&anchor, &info) || !info.dli_fname)
        return ".";
    char *real = realpath(info.dli_fname, nullptr);
    std::string path = real ? real : info.dli_fname;
    std::free(real);
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// $TEXHOST_PLUGIN_DIR when set, otherwise "plugins" beside the module's folder
// (build/python/texhost...so finds build/plugins), as texhost does beside itself.
std::string module_plugin_dir()
{
    const char *env = std::getenv("TEXHOST_PLUGIN_DIR");
    if (env && *env)
        return env;
    return plugin_dir_near(module_dir());
}

// A str, bytes or os.PathLike as a file name.
std::string path_text(py::handle path)
{
    return py::module_::import("os").attr("fsdecode")(path).cast<std::string>();
}

std::string plugin_dir_arg(py::handle dir)
{
    return dir.is_none() ? module_plugin_dir() : path_text(dir);
}

std::string type_name(py::handle obj) { return py::str(py::type::of(obj).attr("__name__")); }

// ---- parameters --------------------------------------------------------------

// A parameter block bound to the plug-in it belongs to, which it keeps loaded.
struct Params {
    std::shared_ptr<Plugin> plugin;
    ParamBlock block;

    explicit Params(std::shared_ptr<Plugin> p) : plugin(std::move(p)), block(*plugin) {}
};

// The index of the parameter `key` names; captions are not parameters.
int parameter_index(const Plugin &plugin, const std::string &key)
{
    int i = plugin.find_widget(key);
    if (i >= 0 && !plugin.widgets()[i].has_value())
        throw py::key_error("\"" + key + "\" of " + plugin.name() + " is a caption, not a parameter");
    if (i >= 0)
        return i;
    try {
        plugin.widget(key);
    } catch (const HostError &e) {
        throw py::key_error(e.what());
    }
    throw py::key_error(key);
}

bool has_parameter(const Plugin &plugin, const std::string &key)
{
    int i = plugin.find_widget(key);
    return i >= 0 && plugin.widgets()[i].has_value();
}

// A Python value as the text the parameter parser reads: bools and integers
// exactly, a float rounded to the float the block stores, a string as given.
std::string value_text(py::handle v, const Widget &w)
{
    PyObject *o = v.ptr();
    if (py::isinstance<py::str>(v))
        return v.cast<std::string>();
    if (PyBool_Check(o))
        return o == Py_True ? "1" : "0";
    if (PyIndex_Check(o))
        return py::str(py::reinterpret_steal<py::object>(PyNumber_Index(o)));
    if (PyFloat_Check(o) || PyObject_HasAttrString(o, "__float__")) {
        double d = py::float_(py::reinterpret_borrow<py::object>(v));
        if (w.is_float() && std::isfinite(d) && std::fabs(d) <= FLT_MAX)
            return float_text((float)d);
        return py::repr(py::float_(d)); // the parser says what is wrong with it
    }
    throw py::type_error("\"" + w.key + "\" takes a number, a bool or a string, not " +
                         type_name(v));
}

void set_parameter(Params &p, const std::string &key, py::handle value)
{
    int i = parameter_index(*p.plugin, key);
    std::string text = value_text(value, p.plugin->widgets()[i]);
    try {
        p.block.set_index(i, text);
    } catch (const HostError &e) {
        throw py::value_error(e.what());
    }
}

py::object get_parameter(const Params &p, const std::string &key)
{
    int i = parameter_index(*p.plugin, key);
    if (p.plugin->widgets()[i].is_float())
        return py::float_(p.block.get_float(i));
    return py::int_(p.block.get_int(i));
}

std::vector<std::string> parameter_keys(const Plugin &plugin)
{
    std::vector<std::string> keys;
    for (const Widget &w : plugin.widgets())
        if (w.has_value())
            keys.push_back(w.key);
    return keys;
}

py::dict parameter_dict(const Params &p)
{
    py::dict d;
    for (const std::string &k : parameter_keys(*p.plugin))
        d[py::str(k)] = get_parameter(p, k);
    return d;
}

bool is_mapping(py::handle obj)
{
    return py::isinstance(obj, py::module_::import("collections.abc").attr("Mapping"));
}

// Settings from a mapping of label: value, in its order.
void update_parameters(Params &p, py::handle mapping)
{
    if (!is_mapping(mapping))
        throw py::type_error("parameters are given as a mapping of label: value, not " +
                             type_name(mapping));
    for (py::handle item : mapping.attr("items")()) {
        py::tuple kv = py::reinterpret_borrow<py::tuple>(item);
        if (!py::isinstance<py::str>(kv[0]))
            throw py::type_error("parameter labels are strings, not " + type_name(kv[0]));
        set_parameter(p, kv[0].cast<std::string>(), kv[1]);
    }
}

// The block a call uses: the plug-in's defaults, a Params of this plug-in, or
// the defaults changed by a mapping of label: value.
ParamBlock block_for(const std::shared_ptr<Plugin> &plugin, py::handle params)
{
    Params p(plugin);
    if (params.is_none())
        return p.block;
    if (py::isinstance<Params>(params)) {
        const Params &given = params.cast<const Params &>();
        if (given.plugin->path() != plugin->path() || given.block.size() != p.block.size())
            throw py::value_error("these parameters belong to " + given.plugin->name() + " (" +
                                  given.plugin->path() + "), not to " + plugin->name() + " (" +
                                  plugin->path() + ")");
        std::memcpy(p.block.data(), given.block.data(), 4 * (size_t)p.block.size());
        return p.block;
    }
    if (!is_mapping(params))
        throw py::type_error("params is None, a Params from defaults() or a dict of "
                             "label: value, not " + type_name(params));
    update_parameters(p, params);
    return p.block;
}

// ---- arguments -----------------------------------------------------------------

int threads_arg(int threads)
{
    if (threads < 0 || threads > max_threads)
        throw py::value_error("threads is 0 (every core) or a count from 1 to " +
                              std::to_string(max_threads) + ", not " + std::to_string(threads));
    return threads > 0 ? threads : std::max(1, (int)std::thread::hardware_concurrency());
}

// A sub-type by index or by name (case-insensitive).
int stype_arg(const Plugin &plugin, py::handle stype)
{
    std::string text;
    if (py::isinstance<py::str>(stype))
        text = stype.cast<std::string>();
    else if (PyIndex_Check(stype.ptr()) && !PyBool_Check(stype.ptr()))
        text = py::str(py::reinterpret_steal<py::object>(PyNumber_Index(stype.ptr())));
    else
        throw py::type_error("stype is a sub-type's index or name, not " + type_name(stype));
    try {
        return plugin.subtype(text);
    } catch (const HostError &e) {
        throw py::value_error(e.what());
    }
}

std::string shape_text(const py::array &a)
{
    std::string s = "(";
    for (py::ssize_t i = 0; i < a.ndim(); i++)
        s += (i ? ", " : "") + std::to_string(a.shape(i));
    return s + (a.ndim() == 1 ? ",)" : ")");
}

std::string dtype_text(const py::array &a) { return py::str(a.dtype()); }

// An array of real numbers (floats or integers) as a C-ordered array of T:
// float64 is rounded to the nearest float for T = float, as the host stores a
// coordinate. A copy is made only when the array is not of T and contiguous.
template <typename T>
py::array_t<T, py::array::c_style | py::array::forcecast> real_array(py::handle obj,
                                                                      const std::string &what)
{
    py::array a = py::module_::import("numpy").attr("asarray")(obj);
    char kind = a.dtype().kind();
    if (kind != 'f' && kind != 'i' && kind != 'u')
        throw py::type_error(what + " must hold real numbers, not " + dtype_text(a));
    auto converted = py::array_t<T, py::array::c_style | py::array::forcecast>::ensure(a);
    if (!converted)
        throw py::type_error(what + " cannot be converted from " + dtype_text(a));
    return converted;
}

FloatArray float32_array(py::handle obj, const std::string &what)
{
    return real_array<float>(obj, what);
}

// Points: an (N, 3) array. With `one_allowed`, a single 3-vector stands for
// the same vector at every point.
FloatArray vectors_arg(py::handle obj, const std::string &what, bool one_allowed)
{
    FloatArray a = float32_array(obj, what);
    bool one = one_allowed && a.ndim() == 1 && a.shape(0) == 3;
    if (!one && !(a.ndim() == 2 && a.shape(1) == 3))
        throw py::value_error(what + " must be an (N, 3) array" +
                              std::string(one_allowed ? " or one 3-vector" : "") + ", not shape " +
                              shape_text(a));
    return a;
}

// ---- sampling ------------------------------------------------------------------

// ---- long calls that Ctrl-C can stop ----------------------------------------

// Runs `work` on a thread of its own with the interpreter lock released, while
// the calling thread looks for signals a few times a second: the interpreter
// only runs its handlers (Ctrl-C raising KeyboardInterrupt) in the main thread
// and with the lock held. When a handler raises, `cancel` is set, the work is
// waited for, and the handler's exception propagates; otherwise an exception
// of the work is rethrown here.
void run_interruptible(const std::function<void(const std::atomic<bool> &cancel)> &work)
{
    std::atomic<bool> cancel{false};
    std::exception_ptr failure;
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    bool interrupted = false;
    auto run = [&]() {
        try {
            work(cancel);
        } catch (...) {
            failure = std::current_exception();
        }
        std::lock_guard<std::mutex> hold(lock);
        done = true;
        finished.notify_one();
    };
    {
        py::gil_scoped_release unlocked;
        std::thread worker;
        try {
            worker = std::thread(run);
        } catch (const std::system_error &) {
            run(); // no thread to spare: the work runs here, without Ctrl-C
        }
        std::unique_lock<std::mutex> hold(lock);
        while (!finished.wait_for(hold, std::chrono::milliseconds(50), [&] { return done; })) {
            if (interrupted)
                continue;
            hold.unlock();
            {
                py::gil_scoped_acquire locked;
                interrupted = PyErr_CheckSignals() != 0; // the exception stays set
            }
            if (interrupted)
                cancel = true;
            hold.lock();
        }
        hold.unlock();
        if (worker.joinable())
            worker.join();
    }
    if (interrupted)
        throw py::error_already_set();
    if (failure)
        std::rethrow_exception(failure);
}

struct SampleJob {
    const Plugin *plugin;
    int stype;
    bool shared;                  // through plugin_tex_doit and `result`
    size_t n;
    const float *points;
    const float *dxt, *dyt;       // null without a footprint
    size_t dxt_step, dyt_step;    // 3, or 0 for one vector for all points
    float *intensity, *bump;
};

// Points [begin, end): the intensity, and the bump vector where the plug-in
// says it wrote one (zero otherwise).
void sample_range(const SampleJob &job, const ParamBlock &block, size_t begin, size_t end)
{
    for (size_t i = begin; i < end; i++) {
        const float *p = job.points + 3 * i;
        const float *dx = job.dxt ? job.dxt + job.dxt_step * i : nullptr;
        const float *dy = job.dyt ? job.dyt + job.dyt_step * i : nullptr;
        float out[8];
        int r = job.shared ? job.plugin->sample_shared(job.stype, block, p, dx, dy, out)
                           : job.plugin->sample(job.stype, block, p, dx, dy, out);
        job.intensity[i] = out[0];
        for (int k = 0; k < 3; k++)
            job.bump[3 * i + k] = r == RESULT_HAS_NORMAL ? out[5 + k] : 0.0f;
    }
}

// Chunks of points handed out to the threads as they come free, until all
// are done or `cancel` is set.
void run_sample(const SampleJob &job, const ParamBlock &block, int threads,
                const std::atomic<bool> &cancel)
{
    constexpr size_t chunk = 4096;
    const size_t chunks = (job.n + chunk - 1) / chunk;
    if (job.shared)
        threads = 1; // the shared `result` allows one call at a time
    threads = (int)std::min<size_t>((size_t)threads, std::max<size_t>(chunks, 1));
    std::atomic<size_t> next{0};
    auto work = [&]() {
        ParamBlock own = block; // each thread hands the plug-in its own block
        for (size_t c; !cancel && (c = next.fetch_add(1)) < chunks;)
            sample_range(job, own, c * chunk, std::min(job.n, (c + 1) * chunk));
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; t++) {
        try {
            pool.emplace_back(work);
        } catch (const std::system_error &) {
            break; // fewer threads do the same work
        }
    }
    work();
    for (std::thread &t : pool)
        t.join();
}

py::tuple plugin_sample(const std::shared_ptr<Plugin> &plugin, py::handle points_arg,
                        py::handle dxt_arg, py::handle dyt_arg, py::handle stype_arg_,
                        py::handle params, int threads, bool host_entry)
{
    FloatArray points = vectors_arg(points_arg, "points", false);
    const size_t n = (size_t)points.shape(0);
    if (dxt_arg.is_none() != dyt_arg.is_none())
        throw py::value_error("a footprint needs both dxt and dyt");
    const bool footprint = !dxt_arg.is_none();
    FloatArray dxt, dyt;
    if (footprint) {
        dxt = vectors_arg(dxt_arg, "dxt", true);
        dyt = vectors_arg(dyt_arg, "dyt", true);
        for (const FloatArray *d : {&dxt, &dyt})
            if (d->ndim() == 2 && (size_t)d->shape(0) != n)
                throw py::value_error(std::string(d == &dxt ? "dxt" : "dyt") + " has " +
                                      std::to_string(d->shape(0)) + " rows for " +
                                      std::to_string(n) + " points");
    }
    SampleJob job{};
    job.plugin = plugin.get();
    job.stype = stype_arg(*plugin, stype_arg_);
    job.shared = host_entry || !plugin->reentrant();
    int nthreads = threads_arg(threads);
    ParamBlock block = block_for(plugin, params);

    py::array_t<float> intensity(std::vector<py::ssize_t>{(py::ssize_t)n});
    py::array_t<float> bump({(py::ssize_t)n, (py::ssize_t)3});
    job.n = n;
    job.points = points.data();
    if (footprint) {
        job.dxt = dxt.data();
        job.dyt = dyt.data();
        job.dxt_step = dxt.ndim() == 2 ? 3 : 0;
        job.dyt_step = dyt.ndim() == 2 ? 3 : 0;
    }
    job.intensity = intensity.mutable_data();
    job.bump = bump.mutable_data();
    run_interruptible(
        [&](const std::atomic<bool> &cancel) { run_sample(job, block, nthreads, cancel); });
    return py::make_tuple(intensity, bump);
}

// ---- rendering -----------------------------------------------------------------

// A vector handed to NumPy without a copy: the array owns it.
py::array_t<float> owned_array(std::vector<float> &&values, std::vector<py::ssize_t> shape)
{
    auto *held = new std::vector<float>(std::move(values));
    py::capsule owner(held, [](void *p) { delete static_cast<std::vector<float> *>(p); });
    return py::array_t<float>(shape, held->data(), owner);
}

int side_arg(py::handle v)
{
    if (!PyIndex_Check(v.ptr()) || PyBool_Check(v.ptr()))
        throw py::type_error("size is a whole number or (width, height), not " + type_name(v));
    py::int_ whole = py::reinterpret_steal<py::int_>(PyNumber_Index(v.ptr()));
    int overflow = 0;
    long long n = PyLong_AsLongLongAndOverflow(whole.ptr(), &overflow);
    if (overflow || n < 1 || n > max_image_side)
        throw py::value_error("image side " + std::string(py::str(whole)) + " is not allowed (1 to " +
                              std::to_string(max_image_side) + " pixels)");
    return (int)n;
}

void size_arg(py::handle size, View &view)
{
    if (PyIndex_Check(size.ptr())) {
        view.width = view.height = side_arg(size);
        return;
    }
    if (!PySequence_Check(size.ptr()) || py::len(size) != 2)
        throw py::type_error("size is a whole number or (width, height)");
    py::sequence s = py::reinterpret_borrow<py::sequence>(size);
    view.width = side_arg(s[0]);
    view.height = side_arg(s[1]);
}

double finite_arg(double v, const char *what)
{
    if (!std::isfinite(v))
        throw py::value_error(std::string(what) + " must be a finite number");
    return v;
}

py::tuple plugin_render(const std::shared_ptr<Plugin> &plugin, py::handle size, double extent,
                        std::vector<double> center, py::handle stype, py::handle params,
                        const std::string &shape, bool footprint, bool tileable, int threads,
                        double bump_scale, py::handle relief, bool host_entry)
{
    View view;
    RenderOptions options;
    size_arg(size, view);
    view.extent = extent;
    if (center.size() != 3)
        throw py::value_error("center is three numbers (x, y, z), not " +
                              std::to_string(center.size()));
    std::copy(center.begin(), center.end(), view.center);
    view.footprint = footprint;
    if (!relief.is_none()) {
        view.relief = finite_arg(relief.cast<double>(), "relief");
        if (view.relief < 0)
            throw py::value_error("relief must not be negative");
    }
    try {
        view.shape = parse_shape(shape);
    } catch (const HostError &e) {
        throw py::value_error(e.what());
    }
    options.stype = stype_arg(*plugin, stype);
    options.threads = threads_arg(threads);
    options.normal_map = view.shape == Shape::plane;
    options.bump_scale = finite_arg(bump_scale, "bump_scale");
    options.host_entry = host_entry;
    options.tileable = tileable;
    ParamBlock block = block_for(plugin, params);

    Rendering r;
    try {
        run_interruptible([&](const std::atomic<bool> &cancel) {
            options.cancel = &cancel;
            r = render(*plugin, block, view, options);
        });
    } catch (const HostError &e) {
        throw py::value_error(e.what());
    }
    const py::ssize_t h = r.height, w = r.width;
    py::object normal = py::none();
    if (options.normal_map)
        normal = owned_array(std::move(r.normal), {h, w, 3});
    return py::make_tuple(owned_array(std::move(r.value), {h, w}), normal);
}

// ---- images --------------------------------------------------------------------

// Intensities to the 8-bit or 16-bit levels texhost render writes.
py::array quantize(py::handle image, int bits)
{
    if (bits != 8 && bits != 16)
        throw py::value_error("bits is 8 or 16, not " + std::to_string(bits));
    DoubleArray v = real_array<double>(image, "image");
    std::vector<py::ssize_t> shape(v.shape(), v.shape() + v.ndim());
    const double *in = v.data();
    const size_t n = (size_t)v.size();
    if (bits == 8) {
        py::array_t<uint8_t> out(shape);
        std::transform(in, in + n, out.mutable_data(), [](double x) { return to_8bit(x); });
        return out;
    }
    py::array_t<uint16_t> out(shape);
    std::transform(in, in + n, out.mutable_data(), [](double x) { return to_16bit(x); });
    return out;
}

// Normals to the RGB texels of the normal map texhost render writes.
py::array_t<uint8_t> encode_normal_map(py::handle normal)
{
    FloatArray a = float32_array(normal, "normal");
    if (a.ndim() < 1 || a.shape(a.ndim() - 1) != 3)
        throw py::value_error("normal must be an array of 3-vectors (last axis 3), not shape " +
                              shape_text(a));
    std::vector<py::ssize_t> shape(a.shape(), a.shape() + a.ndim());
    std::vector<uint8_t> rgb = encode_normals(std::vector<float>(a.data(), a.data() + a.size()));
    py::array_t<uint8_t> out(shape);
    std::copy(rgb.begin(), rgb.end(), out.mutable_data());
    return out;
}

template <typename T> std::vector<T> pixel_vector(const py::array &a)
{
    auto c = py::array_t<T, py::array::c_style | py::array::forcecast>::ensure(a);
    return std::vector<T>(c.data(), c.data() + c.size());
}

// uint8 (H, W): 8-bit gray; uint16 (H, W): 16-bit gray; uint8 (H, W, 3): RGB.
void write_png(py::handle path_arg, py::array pixels)
{
    const std::string path = path_text(path_arg);
    const bool rgb = pixels.ndim() == 3 && pixels.shape(2) == 3;
    if (pixels.ndim() != 2 && !rgb)
        throw py::value_error("write_png takes an (H, W) or (H, W, 3) array, not shape " +
                              shape_text(pixels));
    if (pixels.shape(0) < 1 || pixels.shape(1) < 1 || pixels.shape(0) > max_image_side ||
        pixels.shape(1) > max_image_side)
        throw py::value_error("image shape " + shape_text(pixels) + " is not allowed (1 to " +
                              std::to_string(max_image_side) + " pixels a side)");
    const int h = (int)pixels.shape(0), w = (int)pixels.shape(1);
    if (py::isinstance<py::array_t<uint8_t>>(pixels)) {
        std::vector<uint8_t> px = pixel_vector<uint8_t>(pixels);
        if (rgb)
            write_png_rgb8(path, w, h, px);
        else
            write_png_gray8(path, w, h, px);
    } else if (py::isinstance<py::array_t<uint16_t>>(pixels) && !rgb) {
        write_png_gray16(path, w, h, pixel_vector<uint16_t>(pixels));
    } else {
        throw py::type_error("write_png takes uint8 (gray or RGB) or uint16 (gray) pixels, not " +
                             dtype_text(pixels) + (rgb ? " RGB" : "") + "; see texhost.quantize");
    }
}

// ---- plug-ins ------------------------------------------------------------------

std::shared_ptr<Plugin> load(py::handle name_or_path, py::handle plugin_dir)
{
    return Plugin::open(resolve_plugin(path_text(name_or_path), plugin_dir_arg(plugin_dir)));
}

// The names of the libraries in the folder that load as texture plug-ins.
std::vector<std::string> plugin_names(py::handle plugin_dir)
{
    std::vector<std::string> names;
    for (const std::string &f : scan_plugins(plugin_dir_arg(plugin_dir))) {
        try {
            Plugin::open(f);
        } catch (const HostError &) {
            continue;
        }
        std::string file = f.substr(f.rfind('/') + 1);
        names.push_back(file.substr(0, file.size() - 3));
    }
    return names;
}

std::string widget_repr(const Widget &w)
{
    std::string s = "Widget(#" + std::to_string(w.index) + " \"" + w.label + "\", " +
                    kind_name(w.kind);
    if (w.has_value())
        s += ", default " + float_text(w.def) + ", " + float_text(w.min) + " to " +
             float_text(w.max);
    return s + ")";
}

std::string params_repr(const Params &p)
{
    std::string s = "Params(" + p.plugin->name() + ": ";
    bool first = true;
    for (const Widget &w : p.plugin->widgets())
        if (w.has_value()) {
            s += (first ? "" : ", ") + w.key + "=" + p.block.value_text(w.index);
            first = false;
        }
    return s + ")";
}

} // namespace

PYBIND11_MODULE(texhost, m)
{
    m.doc() = "The texture plug-ins as the stand-in host sees them, with NumPy arrays.";
    py::register_exception<HostError>(m, "HostError", PyExc_RuntimeError);

    py::class_<Widget>(m, "Widget", "One entry of a plug-in's parameter table.")
        .def_readonly("index", &Widget::index)
        .def_readonly("label", &Widget::label, "exactly as the plug-in spells it")
        .def_readonly("key", &Widget::key, "the name to set it by (the label, trimmed)")
        .def_property_readonly("kind", [](const Widget &w) { return kind_name(w.kind); },
                               "\"float\", \"int\", \"toggle\", \"label\" or \"other\"")
        .def_readonly("default", &Widget::def)
        .def_readonly("min", &Widget::min)
        .def_readonly("max", &Widget::max)
        .def_readonly("tip", &Widget::tip)
        .def("__repr__", &widget_repr);

    py::class_<Params>(m, "Params",
                       "A plug-in's parameter block, changed by label and checked against "
                       "the widget ranges.")
        .def("__getitem__", &get_parameter)
        .def("__setitem__", &set_parameter)
        .def("__contains__",
             [](const Params &p, py::handle key) {
                 return py::isinstance<py::str>(key) &&
                        has_parameter(*p.plugin, key.cast<std::string>());
             })
        .def("__iter__",
             [](const Params &p) { return py::iter(py::cast(parameter_keys(*p.plugin))); })
        .def("__len__", [](const Params &p) { return parameter_keys(*p.plugin).size(); })
        .def("keys", [](const Params &p) { return parameter_keys(*p.plugin); })
        .def("to_dict", &parameter_dict, "{key: value} of every parameter")
        .def(
            "update",
            [](Params &p, py::handle mapping, py::kwargs kw) {
                if (!mapping.is_none())
                    update_parameters(p, mapping);
                update_parameters(p, kw);
            },
            py::arg("mapping") = py::none())
        .def("copy", [](const Params &p) { return Params(p); })
        .def("to_text", [](const Params &p) { return p.block.to_text(); },
             "the parameter file texhost reads: one \"label = value\" a line")
        .def(
            "apply_text",
            [](Params &p, const std::string &text) {
                try {
                    p.block.apply_text(text, "text");
                } catch (const HostError &e) {
                    throw py::value_error(e.what());
                }
            },
            "applies the settings of a parameter file's text")
        .def("tobytes",
             [](const Params &p) {
                 return py::bytes((const char *)p.block.data(), 4 * (size_t)p.block.size());
             },
             "the block as the plug-in reads it: one 4-byte slot per widget")
        .def(
            "__eq__",
            [](const Params &a, const Params &b) {
                return a.plugin->path() == b.plugin->path() && a.block.slots() == b.block.slots();
            },
            py::is_operator())
        .def_property_readonly("plugin", [](const Params &p) { return p.plugin; })
        .def("__repr__", &params_repr);

    py::class_<Plugin, std::shared_ptr<Plugin>>(m, "Plugin", "A loaded texture plug-in.")
        .def_property_readonly("name", &Plugin::name)
        .def_property_readonly("path", &Plugin::path)
        .def_property_readonly("version", &Plugin::version)
        .def_property_readonly("subtypes", &Plugin::subtypes)
        .def_property_readonly("widgets", &Plugin::widgets)
        .def_property_readonly("reentrant", &Plugin::reentrant,
                               "True when it exports plugin_tex_doit_r (samples on every core)")
        .def("defaults", [](std::shared_ptr<Plugin> p) { return Params(std::move(p)); })
        .def("sample", &plugin_sample, py::arg("points"), py::arg("dxt") = py::none(),
             py::arg("dyt") = py::none(), py::arg("stype") = 0, py::arg("params") = py::none(),
             py::arg("threads") = 0, py::arg("host_entry") = false,
             "(intensity (N,), bump (N, 3)) float32 for (N, 3) points, one plug-in call each")
        .def("render", &plugin_render, py::arg("size"), py::arg("extent") = 4.0,
             py::arg("center") = std::vector<double>{0, 0, 0}, py::arg("stype") = 0,
             py::arg("params") = py::none(), py::arg("shape") = "plane",
             py::arg("footprint") = false, py::arg("tileable") = false, py::arg("threads") = 0, py::arg("bump_scale") = 1.0,
             py::arg("relief") = py::none(), py::arg("host_entry") = false,
             "(intensity (H, W), normal (H, W, 3) or None) float32, as texhost render")
        .def("__repr__", [](const Plugin &p) {
            return "<texhost.Plugin " + p.name() + " from " + p.path() + ">";
        });

    m.def("load", &load, py::arg("name_or_path"), py::arg("plugin_dir") = py::none(),
          "a plug-in by deliverable or display name, or by path to its .so");
    m.def("plugins", &plugin_names, py::arg("plugin_dir") = py::none(),
          "the names of the plug-ins in the plug-in folder");
    m.def("default_plugin_dir", &module_plugin_dir,
          "$TEXHOST_PLUGIN_DIR, else the folder \"plugins\" beside the module's folder");
    m.def("quantize", &quantize, py::arg("image"), py::arg("bits") = 8,
          "intensities in [0, 1] to the uint8 or uint16 levels texhost render writes");
    m.def("encode_normal_map", &encode_normal_map, py::arg("normal"),
          "normals to the uint8 RGB texels texhost render writes");
    m.def("write_png", &write_png, py::arg("path"), py::arg("pixels"),
          "writes uint8 gray, uint16 gray or uint8 RGB pixels as texhost render does");
}
