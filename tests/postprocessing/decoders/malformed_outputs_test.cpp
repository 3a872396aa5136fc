// Every decoder, given a sound one-detection output and then each tensor broken in turn,
// answers with a well-formed empty table and never reads outside what it was given.
#include <climits>
#include <functional>

#include <gtest/gtest.h>

#include "decoder_fixtures.h"

namespace {

using namespace decoder_fixtures;

// One detection per architecture, in the smallest layout each accepts.
void buildSoundOutput(uint32_t architecture, OutputSet& o)
{
    switch (architecture) {
    case 0: o.add("output0", {1, 5, 2}, {0, 8, 0, 8, 0, 4, 0, 4, 0, 0.9f}); break;
    case 1: o.add("output0", {1, 1, 6}, {8, 8, 4, 4, 1, 0.9f}); break;
    case 2: o.add("output0", {1, 1, 6}, {0, 0, 4, 4, 0.9f, 0}); break;
    case 3:
        o.add("boxes", {1, 1, 4}, {0, 0, 4, 4});
        o.add("scores", {1, 1, 5}, {0.9f, 0, 0, 0, 0});
        break;
    case 4:
        o.add("logits", {1, 1, 2}, {5, 0});
        o.add("boxes", {1, 1, 4}, {0.5f, 0.5f, 0.1f, 0.1f});
        break;
    case 5:
        o.add("scores", {1, 1}, {0.9f});
        o.add("boxes", {1, 1, 4}, {0, 0, 0.5f, 0.5f});
        o.add("labels", {1, 1}, {1});
        break;
    case 6:
        o.add("boxes", {1, 1, 4}, {0, 0, 0.5f, 0.5f});
        o.add("scores", {1, 1, 2}, {0, 0.9f});
        break;
    case 7:
        o.add("detection_boxes", {1, 1, 4}, {0, 0, 0.5f, 0.5f});
        o.add("detection_scores", {1, 1}, {0.9f});
        o.add("detection_classes", {1, 1}, {1});
        o.add("num_detections", {1}, {1});
        break;
    case 8:
        o.zeros("cls", {1, 4, 33});
        o.zeros("dis", {1, 4, 32});
        o.zeros("cls", {1, 1, 33});
        o.zeros("dis", {1, 1, 32});
        o.floats(0)[0] = 0.9f;
        break;
    default:
        for (const int32_t side: {4, 2, 1}) {
            o.zeros("reg", {1, 64, side, side});
            o.zeros("cls", {1, 2, side, side});
        }
        o.floats(1)[0] = 0.9f;
        break;
    }
}

struct Breakage {
    const char* name;
    std::function<void(Tensor_t&)> apply;
};

const std::vector<Breakage>& breakages()
{
    static const std::vector<Breakage> all = {
        {"short_data", [](Tensor_t& t) { t.size -= 1; }},
        {"no_data", [](Tensor_t& t) { t.data = nullptr; }},
        {"no_shape", [](Tensor_t& t) { t.shape = nullptr; }},
        {"rank_zero", [](Tensor_t& t) { t.rank = 0; }},
        {"negative_rank", [](Tensor_t& t) { t.rank = -3; }},
        {"last_dim_zero", [](Tensor_t& t) { t.shape[t.rank - 1] = 0; }},
        {"last_dim_negative", [](Tensor_t& t) { t.shape[t.rank - 1] = -1; }},
        {"last_dim_huge", [](Tensor_t& t) { t.shape[t.rank - 1] = INT_MAX; }},
        {"first_dim_negative", [](Tensor_t& t) { t.shape[0] = INT_MIN; }},
        {"product_overflows", [](Tensor_t& t) { std::fill_n(t.shape, t.rank, INT_MAX); }},
    };
    return all;
}

TEST(MalformedOutputs, EveryBrokenTensorGivesAnEmptyTable)
{
    for (uint32_t architecture = 0; architecture <= 9; ++architecture) {
        OutputSet sound;
        buildSoundOutput(architecture, sound);
        const Table reference = decode(architecture, sound.set());
        ASSERT_EQ(reference.rows.size(), 1u) << "architecture " << architecture;

        const int32_t tensors = sound.set()->count;
        for (int32_t index = 0; index < tensors; ++index) {
            for (const Breakage& breakage: breakages()) {
                OutputSet broken;
                buildSoundOutput(architecture, broken);
                Tensor_t& tensor = const_cast<Tensor_t&>(broken.set()->tensors[index]);
                const bool hadShape = tensor.rank > 0;
                if (hadShape)
                    breakage.apply(tensor);
                const Table table = decode(architecture, broken.set());
                EXPECT_TRUE(table.wellFormed) << architecture << " " << index << " " << breakage.name;
                EXPECT_TRUE(table.rows.empty()) << architecture << " tensor " << index << " " << breakage.name;
            }
        }
    }
}

TEST(MalformedOutputs, NullAndEmptySetsGiveEmptyTables)
{
    for (uint32_t architecture = 0; architecture <= 10; ++architecture) {
        EXPECT_TRUE(decode(architecture, nullptr).wellFormed);
        TensorSet_t empty{3, 5, nullptr}; // a count with no array
        const Table table = decode(architecture, &empty);
        EXPECT_TRUE(table.wellFormed);
        EXPECT_TRUE(table.rows.empty());
    }
}

TEST(MalformedOutputs, APairWithDisagreeingRowCountsIsRefused)
{
    OutputSet nas;
    nas.add("boxes", {1, 2, 4}, {0, 0, 4, 4, 0, 0, 4, 4});
    nas.add("scores", {1, 1, 5}, {0.9f, 0, 0, 0, 0});
    EXPECT_TRUE(decode(3, nas.set()).rows.empty());
    OutputSet detr;
    detr.add("logits", {1, 2, 2}, {5, 0, 5, 0});
    detr.add("boxes", {1, 1, 4}, {0.5f, 0.5f, 0.1f, 0.1f});
    EXPECT_TRUE(decode(4, detr.set()).rows.empty());
}

} // namespace
