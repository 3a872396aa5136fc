#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "inference/sampling_geometry.h"

namespace vyai {

/** One named input or output of a model as its metadata describes it. */
struct TensorSpec {
    std::string name;
    int32_t type = 0;           // TensorDataType code
    std::vector<int64_t> shape; // may hold -1 for a dynamic dimension
};

/** What frame pre-processing reads of a model's description. */
struct ModelInputSpec {
    std::string modelName;
    std::vector<TensorSpec> inputs;
    uint64_t width = 0;
    uint64_t height = 0;
    uint64_t channels = 3;
    int32_t order = 0; // 0 planar, 1 interleaved
    std::array<float, 3> means{0.0f, 0.0f, 0.0f};
    std::array<float, 3> vars{1.0f, 1.0f, 1.0f};
    std::string runtimeName; // the installed runtime recorded with the model
};

/** How the image tensor's data is laid out. */
enum class PixelFormat {
    FloatPlanar,      // three planes R, G, B of normalised float32
    FloatInterleaved, // normalised float32 R, G, B per pixel
    FloatGray,        // one plane: 0.299 R + 0.587 G + 0.114 B of the normalised values
    Bytes,            // uint8 R, G, B per pixel, not normalised
};

/**
 * Everything about a model's input that does not change from frame to frame, decided once
 * when the model is known: which input takes the image, its element type and layout, the
 * normalisation factors, the auxiliary inputs. Immutable after creation apart from a small
 * cache of sampling geometries; shared by every thread that prepares inputs for the model.
 */
class ModelInputPlan
{
public:
    struct MaskInput {
        std::string name;
        int32_t type = 0;
        int32_t rows = 0;
        int32_t columns = 0;
    };

    /** Null (with a warning) when the model has no input that takes the image. */
    static std::shared_ptr<const ModelInputPlan> create(const ModelInputSpec& model);

    const std::string& modelName() const { return m_modelName; }
    const std::string& imageName() const { return m_imageName; }
    int32_t imageType() const { return m_imageType; }
    const std::vector<int32_t>& imageShape() const { return m_imageShape; }
    int32_t width() const { return m_width; }
    int32_t height() const { return m_height; }
    PixelFormat format() const { return m_format; }
    /** Per channel R, G, B: normalised = value × scale + offset. */
    const std::array<float, 3>& scales() const { return m_scales; }
    const std::array<float, 3>& offsets() const { return m_offsets; }
    uint64_t imageByteSize() const;
    const std::optional<MaskInput>& maskInput() const { return m_maskInput; }
    bool hasNmsInput() const { return m_hasNmsInput; }

    /** The placement of a region of a frame of that size, reused while the frame size, region and mode recur. */
    std::shared_ptr<const SamplingGeometry> geometry(int64_t frameWidth, int64_t frameHeight,
        const NormalisedRegion& region, ResizeMode mode) const;

    ModelInputPlan(const ModelInputPlan&) = delete;
    ModelInputPlan& operator=(const ModelInputPlan&) = delete;

private:
    ModelInputPlan() = default;

    std::string m_modelName;
    std::string m_imageName;
    int32_t m_imageType = 0;
    std::vector<int32_t> m_imageShape;
    int32_t m_width = 0;
    int32_t m_height = 0;
    PixelFormat m_format = PixelFormat::FloatPlanar;
    std::array<float, 3> m_scales{};
    std::array<float, 3> m_offsets{};
    std::optional<MaskInput> m_maskInput;
    bool m_hasNmsInput = false;

    // Guards m_geometries only; held for a look-up or an insertion, never while computing.
    mutable std::mutex m_geometryMutex;
    // Most recently used first; a model serves a few cameras and regions at a time.
    mutable std::vector<std::shared_ptr<const SamplingGeometry>> m_geometries;
};

} // namespace vyai
