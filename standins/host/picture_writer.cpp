#include "host/picture_writer.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "host/truth_match.h"

namespace vyhost {

namespace {

// Pictures left waiting beyond this are written without objects: a plug-in that answers no
// frame must not make vyhost keep every picture of a long run.
constexpr size_t kMaxPending = 16;

const cv::Scalar kTruthColour{255, 255, 255}; //< BGR
const cv::Scalar kObjectColour{255, 0, 255};

std::vector<uint8_t> packedI420(const FrameTruth& truth, const std::array<PlaneView, 3>& planes)
{
    std::vector<uint8_t> packed;
    packed.reserve((size_t) truth.width * truth.height * 3 / 2);
    for (const PlaneView& plane: planes)
    {
        for (int row = 0; row < plane.height; ++row)
        {
            const uint8_t* data = plane.data + (size_t) row * plane.lineSize;
            packed.insert(packed.end(), data, data + plane.width);
        }
    }
    return packed;
}

/** A camera name as a part of a file name: letters, digits, '-' and '_' only. */
std::string fileNamePart(const std::string& name)
{
    std::string part = name;
    for (char& c: part)
    {
        if (!std::isalnum((unsigned char) c) && c != '-' && c != '_')
            c = '_';
    }
    return part;
}

void drawLabelledBox(cv::Mat& picture, const cv::Rect& box, const std::string& label,
    const cv::Scalar& colour, int thickness, bool labelBelow)
{
    cv::rectangle(picture, box, colour, thickness);
    const cv::Point at = labelBelow ? cv::Point(box.x, box.y + box.height + 12) : cv::Point(box.x, box.y - 4);
    cv::putText(picture, label, at, cv::FONT_HERSHEY_SIMPLEX, 0.4, colour, 1, cv::LINE_AA);
}

} // namespace

PictureWriter::PictureWriter(std::string directory, int64_t every, OutputStream& out):
    m_directory(std::move(directory)), m_every(every), m_out(out)
{
    // A picture now and then needs no thread pool of OpenCV's: drawn and encoded on the
    // thread that hands the frame over, nothing runs beside the plug-in's own threads.
    cv::setNumThreads(0);
}

void PictureWriter::addFrame(const FrameTruth& truth, const std::array<PlaneView, 3>& planes)
{
    if (truth.frameIndex % m_every != 0)
        return;
    Pending_t evicted;
    bool evict = false;
    {
        std::lock_guard lock(m_mutex);
        m_pending[{truth.camera, truth.timestampUs}] = {truth, packedI420(truth, planes)};
        if (m_pending.size() > kMaxPending)
        {
            // Timestamps grow: the oldest of the camera with the first name goes first.
            evicted = std::move(m_pending.begin()->second);
            m_pending.erase(m_pending.begin());
            evict = true;
        }
    }
    if (evict)
        write(evicted, {});
}

void PictureWriter::addObjects(
    const std::string& camera, int64_t timestampUs, const std::vector<ReturnedObject>& objects)
{
    Pending_t picture;
    {
        std::lock_guard lock(m_mutex);
        const auto pending = m_pending.find({camera, timestampUs});
        if (pending == m_pending.end())
            return;
        picture = std::move(pending->second);
        m_pending.erase(pending);
    }
    write(picture, objects);
}

void PictureWriter::finish()
{
    std::map<Key, Pending_t> pending;
    {
        std::lock_guard lock(m_mutex);
        pending.swap(m_pending);
    }
    for (const auto& [key, picture]: pending)
        write(picture, {});
}

int64_t PictureWriter::written() const
{
    std::lock_guard lock(m_mutex);
    return m_written;
}

void PictureWriter::write(const Pending_t& picture, const std::vector<ReturnedObject>& objects)
{
    const FrameTruth& truth = picture.truth;
    const cv::Mat i420(truth.height * 3 / 2, truth.width, CV_8UC1, (void*) picture.i420.data());
    cv::Mat bgr;
    cv::cvtColor(i420, bgr, cv::COLOR_YUV2BGR_I420);

    for (const TruthBox& box: truth.boxes)
    {
        drawLabelledBox(bgr, {box.x, box.y, box.width, box.height}, "truth " + box.colour,
            kTruthColour, 1, /*labelBelow*/ true);
    }
    for (const ReturnedObject& object: objects)
    {
        const cv::Rect box((int) std::lround(object.x * truth.width),
            (int) std::lround(object.y * truth.height), (int) std::lround(object.width * truth.width),
            (int) std::lround(object.height * truth.height));
        // The first group of a track id tells tracks apart in a picture.
        const std::string track = object.trackId.substr(0, object.trackId.find('-'));
        drawLabelledBox(bgr, box, colourOfType(object.typeId) + " #" + track, kObjectColour, 2,
            /*labelBelow*/ false);
    }

    char name[64];
    std::snprintf(name, sizeof(name), "_frame%06lld.png", (long long) truth.frameIndex);
    const std::string path =
        (std::filesystem::path(m_directory) / (fileNamePart(truth.camera) + name)).string();
    bool saved = false;
    try
    {
        saved = cv::imwrite(path, bgr);
    }
    catch (const cv::Exception&)
    {
        // Told below like any other failure to write.
    }
    std::lock_guard lock(m_mutex);
    if (saved)
    {
        ++m_written;
    }
    else if (!m_failureLogged)
    {
        m_failureLogged = true;
        m_out.log("cannot write the picture " + path);
        std::fprintf(stderr, "vyhost: cannot write the picture %s; later failures are not told\n", path.c_str());
    }
}

} // namespace vyhost
