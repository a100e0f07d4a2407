#include "engine/run_progress.h"

#include <gtest/gtest.h>

#include "app/progress_text.h"

namespace kdr {
namespace {

using std::chrono::seconds;

ProgressState Copying(uint64_t files_done, uint64_t files_total, uint64_t bytes_done,
                      uint64_t bytes_total, seconds elapsed) {
  ProgressState state;
  state.phase = RunPhase::kCopying;
  state.edition = Edition::kClient;
  state.files_done = files_done;
  state.files_total = files_total;
  state.bytes_done = bytes_done;
  state.bytes_total = bytes_total;
  state.phase_elapsed = elapsed;
  return state;
}

TEST(RunProgressTest, ShareDoneAndTimeLeftGoByBytesThenFiles) {
  struct Case {
    ProgressState state;
    std::optional<int> permille;
    std::optional<int64_t> left_seconds;
  };
  const Case cases[] = {
      // A quarter of the bytes in 30 s: 90 s more, whatever the files say.
      {Copying(9, 10, 250, 1000, seconds(30)), 250, 90},
      // No bytes to copy (empty files): the files tell.
      {Copying(1, 4, 0, 0, seconds(10)), 250, 30},
      // Nothing known: no share, no time.
      {Copying(0, 0, 0, 0, seconds(10)), std::nullopt, std::nullopt},
      // Too early, or nothing done yet: no time.
      {Copying(1, 2, 500, 1000, std::chrono::seconds(0)), 500, std::nullopt},
      {Copying(0, 2, 0, 1000, seconds(5)), 0, std::nullopt},
      // More done than counted (a file grew): never past the whole.
      {Copying(3, 2, 1500, 1000, seconds(5)), 1000, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.state.files_done << "/" << c.state.files_total << " "
                                    << c.state.bytes_done << "/" << c.state.bytes_total);
    EXPECT_EQ(c.permille, PermilleDone(c.state));
    std::optional<seconds> left = TimeLeft(c.state);
    EXPECT_EQ(c.left_seconds, left ? std::optional<int64_t>(left->count()) : std::nullopt);
  }
}

TEST(RunProgressTest, WindowTextsNameTheEditionTheStepTheCountsAndTheTimeLeft) {
  ProgressState state = Copying(5000, 20010, 571u << 20, 2284179785u, seconds(100));
  ProgressTexts texts = MakeProgressTexts(state);
  EXPECT_EQ("Kodrel4 Client：データをコピーしています", texts.step);
  EXPECT_EQ("5000／20010ファイル　571.0 MB／2.1 GB（26%）", texts.counts);
  EXPECT_EQ("残り時間：約4分42秒", texts.left);
  state.stopping = true;
  EXPECT_EQ("処理を中断しています。しばらくお待ちください。", MakeProgressTexts(state).left);
  state.stopping = false;
  state.migrate = true;
  state.phase = RunPhase::kWritingBackup;
  state.files_total = state.files_done = state.bytes_total = state.bytes_done = 0;
  texts = MakeProgressTexts(state);
  EXPECT_EQ("Kodrel Client：元に戻すためのバックアップを作成しています", texts.step);
  EXPECT_EQ("", texts.counts);
  EXPECT_EQ("", texts.left);
}

TEST(RunProgressTest, AStepCountsFromNothingWhileTheRunKeepsItsTotal) {
  RunProgress progress;
  progress.Start(false);
  progress.StartPhase(RunPhase::kCopying, Edition::kPersonal, 3, 30);
  progress.AddDone(2, 20);
  progress.StartPhase(RunPhase::kCopying, Edition::kClient, 1, 5);
  progress.AddDone(1, 5);
  ProgressState state = progress.State();
  EXPECT_EQ(Edition::kClient, state.edition);
  EXPECT_EQ(1u, state.files_done);
  EXPECT_EQ(5u, state.bytes_done);
  EXPECT_EQ(3u, state.run_files);
  EXPECT_EQ(25u, state.run_bytes);
}

// A file not copied is done all the same; a folder not copied is none of the files counted,
// whatever the last byte of a file's name ("表" is 0x95 0x5C).
TEST(RunProgressTest, AFolderNotCopiedIsNoFileDone) {
  RunProgress progress;
  progress.Start(false);
  progress.StartPhase(RunPhase::kCopying, Edition::kClient, 5, 50);
  ProgressCopyObserver observer(&progress, nullptr);
  const FileResult denied = FileResult::Fail(kAccessDenied, "CopyFile", "x");
  for (const char* path :
       {"C:\\a\\x.dat", "C:\\a\\sub\\", "C:\\a\\\x95\x5c", "C:\\a\\\x95\x5c\\"}) {
    observer.CopyFailed(path, denied);
  }
  EXPECT_EQ(2u, progress.State().files_done);
}

}  // namespace
}  // namespace kdr
