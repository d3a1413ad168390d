#include <algorithm>

#include "tools/diagram_layout.h"

namespace tarvex::tool {
namespace {

// A silent run longer than this folds all but its first frame.
constexpr std::size_t kSilentRunDrawn = 2;

struct Frame {
  std::uint64_t start_us;
  std::uint64_t end_us;  // where the next frame starts
  std::uint8_t address;
  bool answered = false;  // a byte came back before the next frame
  bool folded = false;
};

// The time a box belongs to: its start, or for a byte read back to back
// with the one before it, that one's. Bytes a port had buffered are laid
// out one after the other and may reach past the next frame's start.
std::vector<std::uint64_t> anchors_of(const std::vector<DiagramBox>& boxes) {
  std::vector<std::uint64_t> anchors;
  const DiagramBox* before = nullptr;
  for (const DiagramBox& b : boxes) {
    const bool follows = b.lane == Lane::Terminal && before != nullptr &&
                         before->lane == Lane::Terminal && before->end_us == b.start_us;
    anchors.push_back(follows ? anchors.back() : b.start_us);
    before = &b;
  }
  return anchors;
}

std::vector<Frame> frames_of(const DiagramLayout& layout,
                             const std::vector<std::uint64_t>& anchors) {
  std::vector<Frame> frames;
  const DiagramBox* before = nullptr;
  for (const DiagramBox& b : layout.boxes) {
    if (b.lane != Lane::Host) continue;
    const bool after_other = before == nullptr || before->parity_bit != 1 ||
                             b.start_us > before->end_us + 2 * layout.char_us;
    if (b.parity_bit == 1 && after_other) {
      if (!frames.empty()) frames.back().end_us = b.start_us;
      frames.push_back({b.start_us, layout.end_us + 1, b.bytes.front()});
    }
    before = &b;
  }
  for (std::size_t i = 0; i < layout.boxes.size(); ++i) {
    if (layout.boxes[i].lane != Lane::Terminal) continue;
    const auto in =
        std::upper_bound(frames.begin(), frames.end(), anchors[i],
                         [](std::uint64_t t, const Frame& f) { return t < f.start_us; });
    if (in != frames.begin()) std::prev(in)->answered = true;
  }
  return frames;
}

void mark_silent_runs(std::vector<Frame>& frames) {
  for (std::size_t i = 0; i < frames.size();) {
    std::size_t end = i;
    while (end < frames.size() && !frames[end].answered) ++end;
    if (end - i > kSilentRunDrawn) {
      for (std::size_t k = i + 1; k < end; ++k) frames[k].folded = true;
    }
    i = std::max(end, i + 1);
  }
}

void mark_middle(std::vector<Frame>& frames, std::size_t most_drawn) {
  std::vector<std::size_t> drawn;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    if (!frames[i].folded) drawn.push_back(i);
  }
  if (drawn.size() <= most_drawn) return;
  const std::size_t keep = std::max<std::size_t>(most_drawn / 2, 1);
  for (std::size_t k = drawn[keep]; k < drawn[drawn.size() - keep]; ++k) frames[k].folded = true;
}

bool folded(const std::vector<DiagramFold>& folds, std::uint64_t t) {
  return std::any_of(folds.begin(), folds.end(),
                     [t](const DiagramFold& f) { return t >= f.start_us && t < f.end_us; });
}

}  // namespace

void fold_frames(DiagramLayout& layout, std::size_t most_drawn) {
  // Boxes come lane by lane, each lane in time order.
  const std::vector<std::uint64_t> anchors = anchors_of(layout.boxes);
  std::vector<Frame> frames = frames_of(layout, anchors);
  mark_silent_runs(frames);
  mark_middle(frames, most_drawn);
  for (std::size_t i = 0; i < frames.size(); ++i) {
    if (!frames[i].folded || (i > 0 && frames[i - 1].folded)) continue;
    DiagramFold fold{frames[i].start_us, frames[i].end_us, 0, 0,
                     frames[i].address,  frames[i].address};
    for (std::size_t k = i; k < frames.size() && frames[k].folded; ++k) {
      fold.end_us = frames[k].end_us;
      fold.last_address = frames[k].address;
      ++fold.frames;
      if (frames[k].answered) ++fold.answered;
    }
    // A fold that runs to the end of the trace ends where the trace does.
    fold.end_us = std::min(fold.end_us, layout.end_us);
    layout.folds.push_back(fold);
  }
  if (layout.folds.empty()) return;
  std::vector<DiagramBox> kept;
  for (std::size_t i = 0; i < layout.boxes.size(); ++i) {
    if (!folded(layout.folds, anchors[i])) kept.push_back(layout.boxes[i]);
  }
  layout.boxes = std::move(kept);
  std::erase_if(layout.spans,
                [&](const DiagramSpan& s) { return folded(layout.folds, s.start_us); });
  std::erase_if(layout.marks, [&](const DiagramMark& m) { return folded(layout.folds, m.at_us); });
}

}  // namespace tarvex::tool
