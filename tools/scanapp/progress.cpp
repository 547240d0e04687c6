#include "progress.h"

#include <algorithm>
#include <cstdio>

#include "ferrox/scanner_command.h"

namespace scanapp {

namespace {

ScanMonitor* g_monitor = nullptr;

// The status a progress function returns to stop the spooling of an enhanced scan at once.
constexpr int16_t kStopSpooling = 7;

}  // namespace

void ProgressBar::show(const std::string& label, uint64_t done, uint64_t total) {
  if (!enabled_) return;
  const int percent =
      total == 0 ? 0 : static_cast<int>(std::min<uint64_t>(done, total) * 100 / total);
  if (percent == shown_ && label == label_) return;
  shown_ = percent;
  label_ = label;
  constexpr int kWidth = 40;
  const int filled = percent * kWidth / 100;
  std::fprintf(stderr, "\r%s[%.*s%*s] %3d%%", label.empty() ? "" : (label + " ").c_str(), filled,
               "########################################", kWidth - filled, "", percent);
  std::fflush(stderr);
}

void ProgressBar::clear() {
  if (shown_ >= 0) std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  shown_ = -1;
}

ScanMonitor::ScanMonitor(ProgressBar& bar, std::string label, uint32_t spoolLines,
                         uint32_t outputLines)
    : bar_(bar), label_(std::move(label)), spoolLines_(spoolLines), outputLines_(outputLines) {
  g_monitor = this;
  draw();
}

ScanMonitor::~ScanMonitor() {
  if (g_monitor == this) g_monitor = nullptr;
}

void ScanMonitor::delivered(uint32_t lines) {
  delivered_ += lines;
  draw();
}

// An enhanced scan spools first (the first half of the bar), then delivers.
void ScanMonitor::draw() {
  const uint64_t total = uint64_t{spoolLines_} + outputLines_;
  bar_.show(label_, std::min<uint64_t>(spooled_, spoolLines_) + delivered_, total);
}

int16_t CALLBACK ScanMonitor::Callback(uint32_t event, uint32_t amount) {
  if (g_monitor == nullptr) return Interrupted() ? kStopSpooling : 0;
  return g_monitor->onEvent(event, amount);
}

int16_t ScanMonitor::onEvent(uint32_t event, uint32_t amount) {
  switch (event) {
    case PROGRESS_WAIT:
      // The first call gives the whole wait; each later one the time that passed.
      // A nonzero answer ends the wait, so answer it when the time is up.
      if (!waiting_) {
        waiting_ = true;
        waitLeft_ = amount;
        return 0;
      }
      waitLeft_ -= std::min(amount, waitLeft_);
      if (waitLeft_ == 0 || Interrupted()) {
        waiting_ = false;
        return 1;
      }
      return 0;
    case PROGRESS_SPOOLED:
      spooled_ += amount;
      draw();
      return Interrupted() ? kStopSpooling : 0;
    default:
      return 0;
  }
}

}  // namespace scanapp
