#include "inference/frame_preprocessing.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "foundations/log.h"
#include "inference/yuv_colour.h"

namespace vyai {

namespace {

// --- Row sources: R, G, B of the content columns of one sampled frame row. -------------

class YuvRowSource
{
public:
    YuvRowSource(const YuvFrameView& frame, const SamplingGeometry& geometry):
        m_frame(frame), m_columns(geometry.sourceColumns)
    {
    }

    void row(int32_t sourceRow, RgbRowScratch& rgb) const
    {
        const int64_t chromaRow = sourceRow / 2;
        convertYuvRow(m_frame.y + sourceRow * m_frame.yLineSize, m_frame.u + chromaRow * m_frame.uvLineSize,
            m_frame.v + chromaRow * m_frame.uvLineSize, m_columns.data(), static_cast<int32_t>(m_columns.size()),
            rgb);
    }

private:
    const YuvFrameView& m_frame;
    const std::vector<int32_t>& m_columns;
};

// RGB floats as a VideoFrame holds them; values are taken as they are (not clamped).
class RgbRowSource
{
public:
    RgbRowSource(const VideoFrame& frame, const SamplingGeometry& geometry):
        m_values(reinterpret_cast<const float*>(frame.pixels().data())),
        m_width(frame.width()),
        m_planeSize(frame.width() * frame.height()),
        m_planar(frame.layout() == 0),
        m_columns(geometry.sourceColumns)
    {
    }

    void row(int32_t sourceRow, RgbRowScratch& rgb) const
    {
        const size_t n = m_columns.size();
        const int32_t* columns = m_columns.data();
        if (m_planar) {
            const float* r = m_values + sourceRow * m_width;
            const float* g = r + m_planeSize;
            const float* b = g + m_planeSize;
            for (size_t j = 0; j < n; ++j) {
                rgb.red[j] = r[columns[j]];
                rgb.green[j] = g[columns[j]];
                rgb.blue[j] = b[columns[j]];
            }
            return;
        }
        const float* rowValues = m_values + sourceRow * m_width * 3;
        for (size_t j = 0; j < n; ++j) {
            const float* pixel = rowValues + 3 * static_cast<int64_t>(columns[j]);
            rgb.red[j] = pixel[0];
            rgb.green[j] = pixel[1];
            rgb.blue[j] = pixel[2];
        }
    }

private:
    const float* m_values;
    int64_t m_width;
    int64_t m_planeSize;
    bool m_planar;
    const std::vector<int32_t>& m_columns;
};

// --- Writers: one per image layout; rows are output rows, columns output columns. ------
// The float layouts stream their stores (see forEachStreamedLane): the image goes to the
// runtime's thread and is never read here.

// value × scale + offset per channel, for a group of lanes.
struct Normaliser {
    std::array<float, 3> scales;
    std::array<float, 3> offsets;

    template<typename Lanes>
    Lanes operator()(size_t channel, const float* values) const
    {
        return Lanes::load(values) * Lanes::broadcast(scales[channel]) + Lanes::broadcast(offsets[channel]);
    }
};

// One channel: the luma fold of the normalised channels.
template<typename Lanes>
Lanes foldToGray(Lanes red, Lanes green, Lanes blue)
{
    return Lanes::broadcast(0.299f) * red + Lanes::broadcast(0.587f) * green + Lanes::broadcast(0.114f) * blue;
}

class PlanarWriter
{
public:
    PlanarWriter(void* data, const ModelInputPlan& plan):
        m_width(plan.width()), m_normalise{plan.scales(), plan.offsets()}
    {
        const size_t planeSize = static_cast<size_t>(plan.width()) * static_cast<size_t>(plan.height());
        for (size_t c = 0; c < 3; ++c)
            m_planes[c] = static_cast<float*>(data) + c * planeSize;
    }

    void pad(int32_t row, int32_t begin, int32_t end)
    {
        for (size_t c = 0; c < 3; ++c) {
            float* out = at(c, row, begin);
            forEachStreamedLane(out, 1, end - begin, [&]<typename Lanes>(int32_t j) {
                Lanes::broadcast(m_normalise.offsets[c]).stream(out + j);
            });
        }
    }

    void content(int32_t row, int32_t begin, int32_t n, const RgbRowScratch& rgb)
    {
        const float* channels[3] = {rgb.red, rgb.green, rgb.blue};
        for (size_t c = 0; c < 3; ++c) {
            float* out = at(c, row, begin);
            forEachStreamedLane(out, 1, n, [&]<typename Lanes>(int32_t j) {
                m_normalise.operator()<Lanes>(c, channels[c] + j).stream(out + j);
            });
        }
    }

private:
    float* at(size_t channel, int32_t row, int32_t column)
    {
        return m_planes[channel] + static_cast<size_t>(row) * m_width + column;
    }

    float* m_planes[3] = {};
    int32_t m_width;
    Normaliser m_normalise;
};

template<typename Element, size_t Channels>
class PackedWriter
{
public:
    PackedWriter(void* data, int32_t width): m_data(static_cast<Element*>(data)), m_width(width) {}

protected:
    Element* at(int32_t row, int32_t column)
    {
        return m_data + (static_cast<size_t>(row) * m_width + column) * Channels;
    }

private:
    Element* m_data;
    int32_t m_width;
};

class InterleavedWriter: public PackedWriter<float, 3>
{
public:
    InterleavedWriter(void* data, const ModelInputPlan& plan):
        PackedWriter(data, plan.width()), m_normalise{plan.scales(), plan.offsets()}
    {
    }

    void pad(int32_t row, int32_t begin, int32_t end)
    {
        float* out = at(row, begin);
        const auto& offsets = m_normalise.offsets;
        forEachStreamedLane(out, 3, end - begin, [&]<typename Lanes>(int32_t j) {
            Lanes::streamInterleaved(Lanes::broadcast(offsets[0]), Lanes::broadcast(offsets[1]),
                Lanes::broadcast(offsets[2]), out + 3 * static_cast<size_t>(j));
        });
    }

    void content(int32_t row, int32_t begin, int32_t n, const RgbRowScratch& rgb)
    {
        float* out = at(row, begin);
        forEachStreamedLane(out, 3, n, [&]<typename Lanes>(int32_t j) {
            Lanes::streamInterleaved(m_normalise.operator()<Lanes>(0, rgb.red + j),
                m_normalise.operator()<Lanes>(1, rgb.green + j), m_normalise.operator()<Lanes>(2, rgb.blue + j),
                out + 3 * static_cast<size_t>(j));
        });
    }

private:
    Normaliser m_normalise;
};

class GrayWriter: public PackedWriter<float, 1>
{
public:
    GrayWriter(void* data, const ModelInputPlan& plan):
        PackedWriter(data, plan.width()), m_padding(grayPadding(plan)), m_normalise{plan.scales(), plan.offsets()}
    {
    }

    void pad(int32_t row, int32_t begin, int32_t end)
    {
        float* out = at(row, begin);
        forEachStreamedLane(out, 1, end - begin, [&]<typename Lanes>(int32_t j) {
            Lanes::broadcast(m_padding).stream(out + j);
        });
    }

    void content(int32_t row, int32_t begin, int32_t n, const RgbRowScratch& rgb)
    {
        float* out = at(row, begin);
        forEachStreamedLane(out, 1, n, [&]<typename Lanes>(int32_t j) {
            foldToGray(m_normalise.operator()<Lanes>(0, rgb.red + j), m_normalise.operator()<Lanes>(1, rgb.green + j),
                m_normalise.operator()<Lanes>(2, rgb.blue + j))
                .stream(out + j);
        });
    }

private:
    static float grayPadding(const ModelInputPlan& plan)
    {
        const auto& offsets = plan.offsets();
        return foldToGray(FloatLane{offsets[0]}, FloatLane{offsets[1]}, FloatLane{offsets[2]}).value;
    }

    float m_padding;
    Normaliser m_normalise;
};

class ByteWriter: public PackedWriter<uint8_t, 3>
{
public:
    ByteWriter(void* data, const ModelInputPlan& plan): PackedWriter(data, plan.width()) {}

    void pad(int32_t row, int32_t begin, int32_t end)
    {
        std::fill(at(row, begin), at(row, end), uint8_t{0});
    }

    void content(int32_t row, int32_t begin, int32_t n, const RgbRowScratch& rgb)
    {
        uint8_t* out = at(row, begin);
        forEachLane(n, [&]<typename Lanes>(int32_t j) {
            int32_t channels[3][Lanes::kWidth];
            clampColour(Lanes::load(rgb.red + j)).storeTruncated(channels[0]);
            clampColour(Lanes::load(rgb.green + j)).storeTruncated(channels[1]);
            clampColour(Lanes::load(rgb.blue + j)).storeTruncated(channels[2]);
            uint8_t* pixel = out + 3 * static_cast<size_t>(j);
            for (int lane = 0; lane < Lanes::kWidth; ++lane, pixel += 3) {
                pixel[0] = static_cast<uint8_t>(channels[0][lane]);
                pixel[1] = static_cast<uint8_t>(channels[1][lane]);
                pixel[2] = static_cast<uint8_t>(channels[2][lane]);
            }
        });
    }
};

// --- Driver ----------------------------------------------------------------------------

// Output rows that sample the same frame row as the row before are written again from its
// converted row (not copied: the row before went past the cache).
template<typename Source, typename Writer>
void fillImage(const Source& source, const SamplingGeometry& geometry, int32_t width, int32_t height, Writer writer)
{
    const int32_t n = geometry.columnEnd - geometry.columnBegin;
    RgbRowScratch rgb(n);
    int32_t previousSourceRow = -1;
    for (int32_t row = 0; row < height; ++row) {
        if (row < geometry.rowBegin || row >= geometry.rowEnd) {
            writer.pad(row, 0, width);
            continue;
        }
        const int32_t sourceRow = geometry.sourceRows[static_cast<size_t>(row - geometry.rowBegin)];
        if (sourceRow != previousSourceRow)
            source.row(sourceRow, rgb);
        previousSourceRow = sourceRow;
        writer.pad(row, 0, geometry.columnBegin);
        writer.content(row, geometry.columnBegin, n, rgb);
        writer.pad(row, geometry.columnEnd, width);
    }
}

template<typename Source>
void fillImage(const Source& source, const SamplingGeometry& geometry, const ModelInputPlan& plan, void* data)
{
    const int32_t width = plan.width();
    const int32_t height = plan.height();
    switch (plan.format()) {
        case PixelFormat::FloatPlanar:
            return fillImage(source, geometry, width, height, PlanarWriter(data, plan));
        case PixelFormat::FloatInterleaved:
            return fillImage(source, geometry, width, height, InterleavedWriter(data, plan));
        case PixelFormat::FloatGray:
            return fillImage(source, geometry, width, height, GrayWriter(data, plan));
        case PixelFormat::Bytes:
            return fillImage(source, geometry, width, height, ByteWriter(data, plan));
    }
}

// --- Tensor set --------------------------------------------------------------------------

// Writes `count` elements of value 1 in the given element type.
void fillWithOnes(void* data, size_t count, int32_t type)
{
    const size_t elementSize = tensorDataTypeSize(type);
    auto* bytes = static_cast<uint8_t*>(data);
    std::memset(bytes, 0, count * elementSize);
    const auto fill = [&](auto one) {
        for (size_t i = 0; i < count; ++i)
            std::memcpy(bytes + i * elementSize, &one, sizeof one);
    };
    switch (type) {
        case TensorDataType_Float:
        case TensorDataType_Complex64:
            return fill(1.0f);
        case TensorDataType_Double:
        case TensorDataType_Complex128:
            return fill(1.0);
        case TensorDataType_Float16:
            return fill(uint16_t{0x3C00});
        case TensorDataType_BFloat16:
            return fill(uint16_t{0x3F80});
        default:
            // Integers and bool: little-endian 1 in the lowest byte.
            for (size_t i = 0; i < count; ++i)
                bytes[i * elementSize] = 1;
    }
}

// Fills one record; false when memory runs out (what was allocated is freed with the set).
bool makeTensor(Tensor_t& tensor, const std::string& name, int32_t type, const std::vector<int32_t>& shape,
    uint64_t size)
{
    tensor.name = strdup(name.c_str());
    tensor.type = type;
    tensor.rank = static_cast<int32_t>(shape.size());
    tensor.shape = static_cast<int32_t*>(std::malloc(std::max<size_t>(shape.size(), 1) * sizeof(int32_t)));
    if (tensor.shape)
        std::copy(shape.begin(), shape.end(), tensor.shape);
    tensor.size = size;
    tensor.data = size > 0 ? std::malloc(size) : nullptr;
    return tensor.name && tensor.shape && (tensor.data || size == 0);
}

// The set with every record made and every data block allocated; the image's data is
// left for the caller to fill.
TensorSetPtr allocateInputSet(const ModelInputPlan& plan, float nmsValue)
{
    TensorSetPtr set(static_cast<TensorSet_t*>(std::calloc(1, sizeof(TensorSet_t))));
    if (!set)
        return nullptr;
    const int32_t count = 1 + (plan.maskInput() ? 1 : 0) + (plan.hasNmsInput() ? 1 : 0);
    set->tensors = static_cast<Tensor_t*>(std::calloc(static_cast<size_t>(count), sizeof(Tensor_t)));
    if (!set->tensors)
        return nullptr;
    set->count = count;

    Tensor_t* tensor = set->tensors;
    if (!makeTensor(*tensor, plan.imageName(), plan.imageType(), plan.imageShape(), plan.imageByteSize()))
        return nullptr;
    if (const auto& mask = plan.maskInput()) {
        ++tensor;
        const size_t elements = static_cast<size_t>(mask->rows) * static_cast<size_t>(mask->columns);
        if (!makeTensor(*tensor, mask->name, mask->type, {mask->rows, mask->columns},
                elements * tensorDataTypeSize(mask->type)))
            return nullptr;
        fillWithOnes(tensor->data, elements, mask->type);
    }
    if (plan.hasNmsInput()) {
        ++tensor;
        if (!makeTensor(*tensor, "nms_sensitivity-", TensorDataType_Float, {1}, sizeof(float)))
            return nullptr;
        std::memcpy(tensor->data, &nmsValue, sizeof(float));
    }
    return set;
}

template<typename MakeSource>
TensorSetPtr prepareInput(int64_t frameWidth, int64_t frameHeight, const ModelInputPlan& plan,
    const StageSampling& stage, MakeSource makeSource)
{
    if (frameWidth <= 0 || frameHeight <= 0)
        return nullptr;
    TensorSetPtr set = allocateInputSet(plan, stage.nmsValue);
    if (!set) {
        logError("Warning! Out of memory preparing the input of model %s.\n", plan.modelName().c_str());
        return nullptr;
    }
    if (set->tensors[0].size > 0) {
        const std::shared_ptr<const SamplingGeometry> geometry =
            plan.geometry(frameWidth, frameHeight, stage.region, stage.mode);
        fillImage(makeSource(*geometry), *geometry, plan, set->tensors[0].data);
        endStreaming();
    }
    return set;
}

} // namespace

TensorSetPtr prepareModelInput(const YuvFrameView& frame, const ModelInputPlan& plan, const StageSampling& stage)
{
    return prepareInput(frame.width, frame.height, plan, stage,
        [&](const SamplingGeometry& geometry) { return YuvRowSource(frame, geometry); });
}

TensorSetPtr preprocessVideoFrame(const VideoFrame& frame, const ModelInputPlan& plan, const StageSampling& stage)
{
    logInfo("Notice: vyai_module_video_preprocessing ##\n");
    if (frame.yuv())
        return prepareModelInput(*frame.yuv(), plan, stage);

    // The size comes from an external pre-processor: a product that overflows must not
    // wrap around to a small byte count.
    uint64_t needed = 0;
    if (__builtin_mul_overflow(static_cast<uint64_t>(std::max<int64_t>(frame.width(), 0)),
            static_cast<uint64_t>(std::max<int64_t>(frame.height(), 0)), &needed)
        || __builtin_mul_overflow(needed, uint64_t{3 * sizeof(float)}, &needed))
        needed = UINT64_MAX;
    if (frame.pixels().size() < needed) {
        logError("Warning! Image of %lld x %lld holds %zu bytes, not %llu; model %s gets no input.\n",
            static_cast<long long>(frame.width()), static_cast<long long>(frame.height()), frame.pixels().size(),
            static_cast<unsigned long long>(needed), plan.modelName().c_str());
        return nullptr;
    }
    return prepareInput(frame.width(), frame.height(), plan, stage,
        [&](const SamplingGeometry& geometry) { return RgbRowSource(frame, geometry); });
}

} // namespace vyai
