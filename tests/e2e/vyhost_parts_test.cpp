#include <limits>
#include <map>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include <vy/sdk/analytics/helpers/event_metadata.h>
#include <vy/sdk/analytics/helpers/event_metadata_packet.h>
#include <vy/sdk/analytics/helpers/object_metadata.h>
#include <vy/sdk/analytics/helpers/object_metadata_packet.h>
#include <vy/sdk/analytics/helpers/object_track_best_shot_packet.h>
#include <vy/sdk/helpers/attribute.h>
#include <vy/sdk/helpers/uuid.h>

#include "host/command_line.h"
#include "host/dialog_buttons.h"
#include "host/metadata_json.h"
#include "host/synthetic_scene.h"
#include "host/video_frame.h"

namespace {

using namespace vy::sdk;
using namespace vy::sdk::analytics;
using namespace vyhost;

uint8_t sample(const VideoFrame& frame, int plane, int x, int y)
{
    return static_cast<uint8_t>(frame.data(plane)[(size_t) y * frame.lineSize(plane) + x]);
}

TEST(VyhostDialog, ShowsAnItemByNameAndABannerByItsTextOnlyWhereNothingHidesThem)
{
    const std::string model = R"({"type": "Settings", "items": [
        {"type": "Banner", "text": "The runtime download was cancelled. Choose again."},
        {"type": "Button", "name": "reselectRuntimeButton", "caption": "Reselect Runtime"},
        {"type": "SwitchButton", "name": "deviceActiveSwitch", "caption": "Active"},
        {"type": "GroupBox", "visible": false, "items": [
            {"type": "Button", "name": "buriedButton"},
            {"type": "SpinBox", "name": "buriedSetting"},
            {"type": "Repeater", "count": 2, "template": {"type": "GroupBox", "items": [{"type": "TextField", "name": "buried#"}]}},
            {"type": "Banner", "text": "Hidden banner"}]}],
        "sections": [{"type": "Section", "name": "section", "items": [{"type": "Button", "name": "sectionButton", "visible": true},
            {"type": "Repeater", "count": 2, "template": {"type": "GroupBox", "items": [
                {"type": "ComboBox", "name": "mask#_type"}, {"type": "PolygonFigure", "name": "polygon#.figure", "visible": false}]}}]}]})";
    const struct {
        const char* wanted;
        bool shown;
    } cases[] = {
        {"reselectRuntimeButton", true},
        {"The runtime download was cancelled.", true}, // part of a banner's text
        {"sectionButton", true},
        {"deviceActiveSwitch", true},
        {"buriedSetting", false},
        {"mask2_type", true}, // a repeater's second
        {"mask3_type", false},
        {"buried1", false},
        {"Reselect Runtime", false}, // a caption is not a name
        {"reselect", false}, // a button's name matches whole
        {"buriedButton", false},
        {"Hidden banner", false},
    };
    for (const auto& [wanted, shown]: cases)
        EXPECT_EQ(dialogShows(model, wanted), shown) << wanted;
    EXPECT_FALSE(dialogShows("not json", "reselectRuntimeButton"));
    EXPECT_EQ(shownButtons(model),
        (std::map<std::string, std::string>{{"reselectRuntimeButton", "Reselect Runtime"}, {"sectionButton", ""}}));
    EXPECT_EQ(shownSettings(model), (std::set<std::string>{"deviceActiveSwitch", "mask1_type", "mask2_type"}));
}

TEST(VyhostFrame, BoxesAreDrawnInEveryPlaneAndPaddingIsLeftAlone)
{
    constexpr int kWidth = 320;
    constexpr int kHeight = 180;
    const auto frame = newRefCounted<VideoFrame>(kWidth, kHeight, 40, 1);
    const SyntheticScene scene(kWidth, kHeight, 1);
    constexpr int64_t kFrameIndex = 37;
    scene.render(kFrameIndex, frame->planes());

    for (int p = 0; p < 3; ++p)
    {
        const int width = p == 0 ? kWidth : kWidth / 2;
        const int height = p == 0 ? kHeight : kHeight / 2;
        ASSERT_GE(frame->lineSize(p), width + 40);
        EXPECT_EQ(frame->lineSize(p) % 16, 0);
        EXPECT_EQ(frame->dataSize(p), frame->lineSize(p) * height);
        for (int y = 0; y < height; y += 7)
        {
            for (int x = width; x < frame->lineSize(p); ++x)
                ASSERT_EQ(sample(*frame, p, x, y), VideoFrame::kPaddingFill) << p << " " << x;
        }
    }
    EXPECT_EQ(frame->data(3), nullptr);
    EXPECT_EQ(frame->lineSize(-1), 0);

    // The last box drawn is on top: its centre shows its colour in all three planes.
    const SyntheticScene::Box& box = scene.boxes().back();
    const auto [x, y] = scene.boxPosition(box, kFrameIndex);
    const int cx = x + box.width / 2;
    const int cy = y + box.height / 2;
    EXPECT_EQ(sample(*frame, 0, cx, cy), box.color.y);
    EXPECT_EQ(sample(*frame, 1, cx / 2, cy / 2), box.color.u);
    EXPECT_EQ(sample(*frame, 2, cx / 2, cy / 2), box.color.v);

    // Boxes stay inside the picture on every frame, bouncing off its edges.
    for (int64_t i = 0; i < 500; ++i)
    {
        for (const auto& each: scene.boxes())
        {
            const auto [bx, by] = scene.boxPosition(each, i);
            ASSERT_GE(bx, 0);
            ASSERT_GE(by, 0);
            ASSERT_LE(bx + each.width, kWidth);
            ASSERT_LE(by + each.height, kHeight);
        }
    }
}

TEST(VyhostMetadataLine, ReadsItemsAsTheHostDoes)
{
    const Uuid trackId = uuidFromString("0a1b2c3d-0000-4000-8000-00000000abcd");
    auto object = newRefCounted<ObjectMetadata>();
    object->setTypeId("vy.vyai.person");
    object->setTrackId(trackId);
    object->setConfidence(0.9F);
    object->setBoundingBox(BoundingBox{0.25F, 0.5F, 0.125F, 0.25F});
    object->addAttribute(newRefCounted<Attribute>("colour", "red", 0.5F));
    auto objects = newRefCounted<ObjectMetadataPacket>();
    objects->setTimestampUs(42);
    objects->setDurationUs(1);
    objects->addItem(object);

    ASSERT_EQ(packetKind(objects.get()), PacketKind::objects);
    EXPECT_EQ(metadataPacketLine(objects.get(), PacketKind::objects, "cam")->text(),
        R"({"type":"objects","camera":"cam","timestampUs":42,"durationUs":1,"items":[)"
        R"({"typeId":"vy.vyai.person","confidence":0.9,)"
        R"("trackId":"0a1b2c3d-0000-4000-8000-00000000abcd",)"
        R"("box":{"x":0.25,"y":0.5,"width":0.125,"height":0.25},)"
        R"("attributes":[{"name":"colour","value":"red","confidence":0.5}]}]})");

    auto event = newRefCounted<EventMetadata>();
    event->setTypeId("vy.vyai.lineCrossing");
    event->setCaption("Crossed");
    event->setDescription("line 1");
    event->setIsActive(false);
    auto events = newRefCounted<EventMetadataPacket>();
    events->setTimestampUs(43);
    events->addItem(event);
    ASSERT_EQ(packetKind(events.get()), PacketKind::events);
    const std::string eventLine =
        metadataPacketLine(events.get(), PacketKind::events, "cam")->text();
    EXPECT_NE(eventLine.find(R"("caption":"Crossed","description":"line 1","isActive":false)"),
        std::string::npos) << eventLine;

    const auto bestShot = newRefCounted<ObjectTrackBestShotPacket>(
        trackId, 44, BoundingBox{0.0F, 0.0F, 1.0F, 1.0F});
    ASSERT_EQ(packetKind(bestShot.get()), PacketKind::bestShot);
    EXPECT_EQ(metadataPacketLine(bestShot.get(), PacketKind::bestShot, "cam")->text(),
        R"({"type":"bestShot","camera":"cam","timestampUs":44,)"
        R"("trackId":"0a1b2c3d-0000-4000-8000-00000000abcd",)"
        R"("box":{"x":0.0,"y":0.0,"width":1.0,"height":1.0},"attributes":[]})");

    EXPECT_EQ(object->refCount(), 2) << "the packet's reference only";
}

// Whatever the plug-in hands over, each output line stays one JSON object with a "type".
TEST(VyhostMetadataLine, ValuesJsonCannotHoldStillGiveALineWithAType)
{
    struct Case
    {
        const char* name;
        std::string typeId;
        float confidence;
        std::string expected;
    };
    const Case cases[] = {
        {"confidence not a number", "vy.vyai.car", std::numeric_limits<float>::quiet_NaN(),
            R"({"type":"objects","camera":"cam","timestampUs":7,"durationUs":0,"items":[)"
            R"({"typeId":"vy.vyai.car","confidence":null,)"},
        {"infinite confidence", "vy.vyai.car", std::numeric_limits<float>::infinity(),
            R"("confidence":null,)"},
        {"type id that is no UTF-8", "vy.vyai.\xff\xfe", 0.5F,
            R"({"type":"log","message":"cannot write a \"objects\" line: )"},
    };
    for (const Case& c: cases)
    {
        SCOPED_TRACE(c.name);
        auto object = newRefCounted<ObjectMetadata>();
        object->setTypeId(c.typeId);
        object->setConfidence(c.confidence);
        auto packet = newRefCounted<ObjectMetadataPacket>();
        packet->setTimestampUs(7);
        packet->addItem(object);

        const std::string text =
            metadataPacketLine(packet.get(), PacketKind::objects, "cam")->text();
        EXPECT_NE(text.find(c.expected), std::string::npos) << text;
    }
}

TEST(VyhostCommandLine, ParsesTheContractsOptions)
{
    const char* argv[] = {"vyhost", "--plugin", "p.so", "--host-dir", "/tmp/h", "--cameras", "3",
        "--fps", "12.5", "--seconds", "2"};
    const ParsedCommandLine parsed = parseCommandLine(std::size(argv), argv);
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_EQ(parsed.options->pluginPath, "p.so");
    EXPECT_EQ(parsed.options->hostDirectory, "/tmp/h");
    EXPECT_EQ(parsed.options->cameras, 3);
    EXPECT_EQ(parsed.options->framesPerCamera(), 25);

    const char* frames[] = {"vyhost", "--frames", "7", "--fps", "1"};
    EXPECT_EQ(parseCommandLine(std::size(frames), frames).options->framesPerCamera(), 7);
}

} // namespace
