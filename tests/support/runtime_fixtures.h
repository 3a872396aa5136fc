#pragma once

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "inference/model_vocabulary.h"

namespace runtime_fixtures {

/**
 * Copies a built runtime library to <root>/inference_engine/RuntimeLibrary.so, where the
 * engine looks for it. Every copy is a file of its own, so each test's loads start fresh.
 */
inline std::filesystem::path installRuntime(const std::filesystem::path& root, const std::filesystem::path& built)
{
    const auto folder = root / "inference_engine";
    std::filesystem::create_directories(folder);
    const auto path = folder / "RuntimeLibrary.so";
    std::filesystem::copy_file(built, path, std::filesystem::copy_options::overwrite_existing);
    return path;
}

/** One tensor of a set to build: bytes are copied as they are. */
struct TensorContent {
    std::string name;
    int32_t type = TensorDataType_Float;
    std::vector<int32_t> shape;
    std::vector<uint8_t> bytes;
};

template<typename Value>
std::vector<uint8_t> toBytes(const std::vector<Value>& values)
{
    std::vector<uint8_t> bytes(values.size() * sizeof(Value));
    if (!bytes.empty())
        std::memcpy(bytes.data(), values.data(), bytes.size());
    return bytes;
}

/** A tensor set on the C heap, as the runtime interface passes it. */
inline vyai::TensorSetPtr makeTensorSet(const std::vector<TensorContent>& contents, uint32_t id = 0)
{
    auto* set = static_cast<TensorSet_t*>(std::calloc(1, sizeof(TensorSet_t)));
    set->id = id;
    set->count = static_cast<int32_t>(contents.size());
    set->tensors = static_cast<Tensor_t*>(std::calloc(contents.size(), sizeof(Tensor_t)));
    for (size_t i = 0; i < contents.size(); ++i) {
        Tensor_t& tensor = set->tensors[i];
        tensor.name = strdup(contents[i].name.c_str());
        tensor.type = contents[i].type;
        tensor.rank = static_cast<int32_t>(contents[i].shape.size());
        tensor.shape = static_cast<int32_t*>(std::malloc(sizeof(int32_t) * (contents[i].shape.size() + 1)));
        std::copy(contents[i].shape.begin(), contents[i].shape.end(), tensor.shape);
        tensor.size = contents[i].bytes.size();
        tensor.data = std::malloc(contents[i].bytes.size() + 1);
        if (!contents[i].bytes.empty())
            std::memcpy(tensor.data, contents[i].bytes.data(), contents[i].bytes.size());
    }
    return vyai::TensorSetPtr(set);
}

/** The elements of a float tensor. */
inline std::vector<float> floatsOf(const Tensor_t& tensor)
{
    std::vector<float> values(tensor.size / sizeof(float));
    if (!values.empty())
        std::memcpy(values.data(), tensor.data, values.size() * sizeof(float));
    return values;
}

inline std::vector<int32_t> shapeOf(const Tensor_t& tensor)
{
    return std::vector<int32_t>(tensor.shape, tensor.shape + tensor.rank);
}

} // namespace runtime_fixtures
