#include "app/progress_text.h"

#include <cstdio>

#include "app/messages.h"

namespace kdr {

namespace {

std::string StepText(const ProgressState& state) {
  switch (state.phase) {
    case RunPhase::kNone:
      return "準備しています";
    case RunPhase::kCheckingStore:
      return "収集した情報を確認しています";
    case RunPhase::kWritingBackup:
      return "元に戻すためのバックアップを作成しています";
    case RunPhase::kSettings:
      return state.migrate ? "設定を移行しています" : "設定を収集しています";
    case RunPhase::kCopying:
      return "データをコピーしています";
  }
  return "";
}

}  // namespace

std::string ByteSize(uint64_t bytes) {
  static constexpr const char* kUnits[] = {"B", "KB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes);
  size_t unit = 0;
  while (value >= 1024 && unit + 1 < std::size(kUnits)) {
    value /= 1024;
    ++unit;
  }
  if (unit == 0) return std::to_string(bytes) + " B";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

ProgressTexts MakeProgressTexts(const ProgressState& state) {
  ProgressTexts texts;
  if (state.phase == RunPhase::kNone) {
    texts.step = StepText(state);
  } else {
    texts.step =
        (state.migrate ? MigratedProduct(state.edition) : CollectedProduct(state.edition)) + "：" +
        StepText(state);
  }
  if (state.files_total != 0 || state.files_done != 0) {
    texts.counts = std::to_string(state.files_done) + "／" + std::to_string(state.files_total) +
                   "ファイル　" + ByteSize(state.bytes_done) + "／" + ByteSize(state.bytes_total);
    if (std::optional<int> permille = PermilleDone(state)) {
      texts.counts += "（" + std::to_string(*permille / 10) + "%）";
    }
  }
  if (state.stopping) {
    // No time left to tell: on Windows the copy ends with the folder it is taking.
    texts.left = std::string(kStoppingText);
  } else if (std::optional<std::chrono::seconds> left = TimeLeft(state)) {
    const int64_t seconds = left->count();
    texts.left = "残り時間：約" +
                 (seconds >= 60 ? std::to_string(seconds / 60) + "分" : std::string()) +
                 std::to_string(seconds % 60) + "秒";
  } else if (PermilleDone(state)) {
    texts.left = "残り時間：計算しています";
  }
  return texts;
}

}  // namespace kdr
