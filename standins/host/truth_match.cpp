#include "host/truth_match.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vyhost {

std::string colourOfType(const std::string& typeId)
{
    const size_t dot = typeId.rfind('.');
    return dot == std::string::npos ? typeId : typeId.substr(dot + 1);
}

double intersectionOverUnion(const TruthBox& box, const ReturnedObject& object, int frameWidth,
    int frameHeight)
{
    const double x = object.x * frameWidth;
    const double y = object.y * frameHeight;
    const double width = object.width * frameWidth;
    const double height = object.height * frameHeight;
    const double overlapWidth = std::min<double>(box.x + box.width, x + width) - std::max<double>(box.x, x);
    const double overlapHeight =
        std::min<double>(box.y + box.height, y + height) - std::max<double>(box.y, y);
    if (overlapWidth <= 0 || overlapHeight <= 0)
        return 0;
    const double overlap = overlapWidth * overlapHeight;
    return overlap / ((double) box.width * box.height + width * height - overlap);
}

std::string plainTruthMatch(const std::string& camera, const MatchTally_t& tally)
{
    if (tally.framesAnswered == 0)
        return camera + ": no frame came back with objects";
    char text[160];
    std::snprintf(text, sizeof(text), "%lld of %lld boxes found", (long long) tally.found,
        (long long) tally.boxes);
    std::string said = camera + ": " + text;
    if (tally.found > 0)
    {
        std::snprintf(text, sizeof(text), ", median IoU %.2f, lowest %.2f", tally.medianIou,
            tally.lowestIou);
        said += text;
    }
    if (tally.extra > 0)
        said += ", " + std::to_string(tally.extra) + " objects on no box";
    std::snprintf(text, sizeof(text), " (%lld frames answered)", (long long) tally.framesAnswered);
    return said + text;
}

void TruthMatch::match(Camera_t& camera, Frame_t& frame, const ReturnedObject& object)
{
    // The object takes the unfound box of its colour it overlaps most.
    const std::string colour = colourOfType(object.typeId);
    const FrameTruth& truth = frame.truth;
    double bestIou = 0;
    size_t best = truth.boxes.size();
    for (size_t i = 0; i < truth.boxes.size(); ++i)
    {
        if (frame.found[i] || truth.boxes[i].colour != colour)
            continue;
        const double iou = intersectionOverUnion(truth.boxes[i], object, truth.width, truth.height);
        if (iou > bestIou)
        {
            bestIou = iou;
            best = i;
        }
    }
    MatchTally_t& tally = camera.tally;
    if (best == truth.boxes.size())
    {
        ++tally.extra;
        return;
    }
    frame.found[best] = true;
    tally.lowestIou = tally.found == 0 ? bestIou : std::min(tally.lowestIou, bestIou);
    ++tally.found;
    ++camera.iouCounts[(size_t) std::lround(std::clamp(bestIou, 0.0, 1.0) * kIouSteps)];
}

void TruthMatch::settle(Camera_t& camera, const Frame_t& frame)
{
    // Objects for a timestamp no frame had were found on no box.
    if (!frame.truthSeen)
        camera.tally.extra += (int64_t) frame.early.size();
}

void TruthMatch::addTruth(FrameTruth truth)
{
    std::lock_guard lock(m_mutex);
    Camera_t& camera = m_cameras[truth.camera];
    camera.pushed = true;
    camera.newestTruthUs = std::max(camera.newestTruthUs, truth.timestampUs);
    Frame_t& frame = camera.frames[truth.timestampUs];
    frame.truthSeen = true;
    frame.found.assign(truth.boxes.size(), false);
    frame.truth = std::move(truth);
    if (frame.answered)
    {
        ++camera.tally.framesAnswered;
        camera.tally.boxes += (int64_t) frame.truth.boxes.size();
    }
    for (const ReturnedObject& object: frame.early)
        match(camera, frame, object);
    frame.early.clear();
    frame.early.shrink_to_fit();

    // Frames pushed long enough before this one will get no more objects.
    const auto settledEnd = camera.frames.lower_bound(camera.newestTruthUs - kOutputsWithinUs);
    for (auto it = camera.frames.begin(); it != settledEnd; ++it)
        settle(camera, it->second);
    camera.frames.erase(camera.frames.begin(), settledEnd);
}

void TruthMatch::addObjects(
    const std::string& camera, int64_t timestampUs, std::vector<ReturnedObject> objects)
{
    std::lock_guard lock(m_mutex);
    Camera_t& state = m_cameras[camera];
    if (state.pushed && timestampUs < state.newestTruthUs - kOutputsWithinUs)
    {
        // Its frame is settled already, or was never pushed.
        state.tally.extra += (int64_t) objects.size();
        return;
    }
    Frame_t& frame = state.frames[timestampUs];
    if (!frame.answered && frame.truthSeen)
    {
        ++state.tally.framesAnswered;
        state.tally.boxes += (int64_t) frame.truth.boxes.size();
    }
    frame.answered = true;
    if (!frame.truthSeen)
    {
        frame.early.insert(frame.early.end(), std::make_move_iterator(objects.begin()),
            std::make_move_iterator(objects.end()));
        return;
    }
    for (const ReturnedObject& object: objects)
        match(state, frame, object);
}

MatchTally_t TruthMatch::tallyOf(const Camera_t& camera)
{
    MatchTally_t tally = camera.tally;
    for (const auto& [timestampUs, frame]: camera.frames)
    {
        if (!frame.truthSeen)
            tally.extra += (int64_t) frame.early.size();
    }
    tally.missed = tally.boxes - tally.found;
    // The middle step, or the mean of the two middle ones for an even count.
    const auto stepAt = [&camera](int64_t rank)
        {
            int64_t seen = 0;
            for (size_t step = 0; step < camera.iouCounts.size(); ++step)
            {
                seen += camera.iouCounts[step];
                if (seen > rank)
                    return (double) step / kIouSteps;
            }
            return 1.0;
        };
    if (tally.found > 0)
        tally.medianIou = (stepAt((tally.found - 1) / 2) + stepAt(tally.found / 2)) / 2;
    return tally;
}

size_t TruthMatch::framesKept() const
{
    std::lock_guard lock(m_mutex);
    size_t kept = 0;
    for (const auto& [name, camera]: m_cameras)
        kept += camera.frames.size();
    return kept;
}

std::map<std::string, MatchTally_t> TruthMatch::tally() const
{
    std::lock_guard lock(m_mutex);
    std::map<std::string, MatchTally_t> tallies;
    for (const auto& [name, camera]: m_cameras)
    {
        if (camera.pushed)
            tallies[name] = tallyOf(camera);
    }
    return tallies;
}

} // namespace vyhost
