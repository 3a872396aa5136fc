#include "foundations/constants.h"

#include <gtest/gtest.h>

namespace vyai {
namespace {

TEST(ConstantsTest, DocumentationMapHasEveryFamilyWithItsPage)
{
    const std::string site = "https://docs.vyai.example.com/ai-accelerators-support/";
    const std::map<std::string, std::string> expected = {
        {"Generic CPU", ""},
        {"Hailo", site + "advanced/hailo-support"},
        {"NVIDIA", site + "nvidia-support"},
        {"NVIDIA TensorRT", site + "nvidia-support"},
        {"Qualcomm", ""},
        {"MemryX", ""},
        {"DEEPX", site + "advanced/deepx-support"},
        {"Axelera", ""},
        {"SiMa", ""},
        {"EdgeCortix", ""},
        {"Ambarella CV75", ""},
        {"Intel", site + "intel-support"},
        {"Native Intel INT8", site + "intel-support"},
    };

    EXPECT_EQ(kAcceleratorDocumentation, expected);
}

TEST(ConstantsTest, FamilyWithoutPageIsFoundWithAnEmptyAddressUnknownIsNotFound)
{
    const auto qualcomm = kAcceleratorDocumentation.find("Qualcomm");
    ASSERT_NE(qualcomm, kAcceleratorDocumentation.end());
    EXPECT_EQ(qualcomm->second, "");
    EXPECT_EQ(kAcceleratorDocumentation.count("Generic CPU"), 1u);
    EXPECT_EQ(kAcceleratorDocumentation.count("Unknown accelerator"), 0u);
    // The map is keyed by other constants: none may have been read before it was built.
    EXPECT_EQ(kAcceleratorDocumentation.count(""), 0u);
}

TEST(ConstantsTest, ObjectTypeIsThePrefixFollowedByTheClass)
{
    EXPECT_EQ(kObjectTypePrefix + "person", "vy.vyai.person");
}

} // namespace
} // namespace vyai
