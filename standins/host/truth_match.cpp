#include "host/truth_match.h"

#include <algorithm>
#include <cstdio>

namespace vyhost {

namespace {

struct FrameOutcome
{
    std::vector<double> ious; //< one per found box
    int64_t missed = 0;
    int64_t extra = 0;
};

/** Each object takes the unfound box of its colour it overlaps most; boxes left are missed. */
FrameOutcome matchFrame(const FrameTruth& truth, const std::vector<ReturnedObject>& objects)
{
    FrameOutcome outcome;
    std::vector<bool> found(truth.boxes.size(), false);
    for (const ReturnedObject& object: objects)
    {
        const std::string colour = colourOfType(object.typeId);
        double bestIou = 0;
        size_t best = truth.boxes.size();
        for (size_t i = 0; i < truth.boxes.size(); ++i)
        {
            if (found[i] || truth.boxes[i].colour != colour)
                continue;
            const double iou = intersectionOverUnion(truth.boxes[i], object, truth.width, truth.height);
            if (iou > bestIou)
            {
                bestIou = iou;
                best = i;
            }
        }
        if (best == truth.boxes.size())
        {
            ++outcome.extra;
            continue;
        }
        found[best] = true;
        outcome.ious.push_back(bestIou);
    }
    outcome.missed = (int64_t) std::count(found.begin(), found.end(), false);
    return outcome;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    const size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + (ptrdiff_t) middle, values.end());
    if (values.size() % 2 == 1)
        return values[middle];
    const double upper = values[middle];
    const double lower = *std::max_element(values.begin(), values.begin() + (ptrdiff_t) middle);
    return (lower + upper) / 2;
}

} // namespace

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

void TruthMatch::addTruth(FrameTruth truth)
{
    std::lock_guard lock(m_mutex);
    Frame_t& frame = m_frames[truth.camera][truth.timestampUs];
    frame.truth = std::move(truth);
    frame.truthSeen = true;
}

void TruthMatch::addObjects(
    const std::string& camera, int64_t timestampUs, std::vector<ReturnedObject> objects)
{
    std::lock_guard lock(m_mutex);
    Frame_t& frame = m_frames[camera][timestampUs];
    frame.answered = true;
    frame.objects.insert(frame.objects.end(), std::make_move_iterator(objects.begin()),
        std::make_move_iterator(objects.end()));
}

std::map<std::string, MatchTally_t> TruthMatch::tally() const
{
    std::lock_guard lock(m_mutex);
    std::map<std::string, MatchTally_t> tallies;
    for (const auto& [camera, frames]: m_frames)
    {
        MatchTally_t tally;
        std::vector<double> ious;
        bool pushed = false;
        for (const auto& [timestampUs, frame]: frames)
        {
            pushed = pushed || frame.truthSeen;
            if (!frame.answered)
                continue;
            if (!frame.truthSeen)
            {
                tally.extra += (int64_t) frame.objects.size();
                continue;
            }
            const FrameOutcome outcome = matchFrame(frame.truth, frame.objects);
            ++tally.framesAnswered;
            tally.boxes += (int64_t) frame.truth.boxes.size();
            tally.found += (int64_t) outcome.ious.size();
            tally.missed += outcome.missed;
            tally.extra += outcome.extra;
            ious.insert(ious.end(), outcome.ious.begin(), outcome.ious.end());
        }
        if (!pushed)
            continue;
        if (!ious.empty())
            tally.lowestIou = *std::min_element(ious.begin(), ious.end());
        tally.medianIou = median(std::move(ious));
        tallies[camera] = tally;
    }
    return tallies;
}

} // namespace vyhost
