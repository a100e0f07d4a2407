// Content hashes, the store's manifest and the backup journal.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "store/backup_journal.h"
#include "store/content_hash.h"
#include "store/digest_worker.h"
#include "store/manifest.h"
#include "store/verified_copy.h"

namespace kdr {
namespace {

TEST(ContentHash, MatchesTheReferenceAndIgnoresHowBytesAreCut) {
  // XXH3-128 of no bytes, as xxhsum -H2 prints it.
  EXPECT_EQ("99aa06d3014798d86001c324468d497f", HashToHex(HashBytes("")));
  std::string text(100000, 'x');
  text[77777] = 'y';
  ContentHasher hasher;
  for (size_t i = 0; i < text.size(); i += 333) hasher.Add(std::string_view(text).substr(i, 333));
  EXPECT_EQ(HashBytes(text), hasher.Finish());
  EXPECT_EQ(text.size(), hasher.size());
  text[77777] = 'x';
  EXPECT_NE(HashBytes(text), hasher.Finish());
  EXPECT_EQ(HashBytes(text), HashFromHex(HashToHex(HashBytes(text))));
}

TEST(SourceHasher, KeepsADigestOnlyForAFileWhoseEveryByteWasHandedOver) {
  const struct {
    const char* what;
    std::vector<std::string> pieces;  // handed for "a" before it is reported
    uint64_t copied;                  // the size reported copied; 0 with `failed`
    bool failed;
    bool kept;
  } kCases[] = {
      {"whole, in pieces", {"", "ab", "c"}, 3, false, true},
      {"empty file", {""}, 0, false, true},
      {"nothing handed (the platform's copy)", {}, 0, false, false},
      {"a part handed", {"", "ab"}, 3, false, false},
      {"failed midway", {"", "ab", "c"}, 0, true, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    DigestCache cache;
    SourceHasher hasher(cache, nullptr);
    EXPECT_TRUE(hasher.WantsFileBytes("a"));
    std::string all;
    for (const std::string& piece : c.pieces) {
      hasher.FileBytes("a", piece);
      all += piece;
    }
    c.failed ? hasher.CopyFailed("a", FileResult::Fail(5, "ReadFile", "a"))
             : hasher.FileCopied("a", c.copied);
    if (c.kept) {
      EXPECT_EQ((DigestCache{{"a", {c.copied, HashBytes(all)}}}), cache);
      EXPECT_FALSE(hasher.WantsFileBytes("a"));
    } else {
      EXPECT_TRUE(cache.empty());
    }
  }
}

// Hands its pieces, then fails when `fails`.
class PiecesReader : public FileReader {
 public:
  PiecesReader(std::vector<std::string> pieces, bool fails)
      : pieces_(std::move(pieces)), fails_(fails) {}
  FileResult ReadPieces(const std::function<void(std::string_view)>& sink) override {
    for (const std::string& piece : pieces_) sink(piece);
    return fails_ ? FileResult::Fail(kIoDevice, "ReadFile", "") : FileResult::Ok();
  }

 private:
  std::vector<std::string> pieces_;
  bool fails_;
};

TEST(DigestWorker, GivesEachFileItsOwnDigestWhateverTheOrderTakenIn) {
  const struct {
    std::string key;
    std::vector<std::string> pieces;
    bool opened;
    bool fails;
  } kFiles[] = {
      {"a", {"ab", "c"}, true, false}, {"empty", {}, true, false},  {"gone", {}, false, false},
      {"cut", {"ab"}, true, true},     {"b", {"xyz"}, true, false},
  };
  // One file queued at a time: Add waits for the thread again and again.
  DigestWorker worker(1);
  for (const auto& f : kFiles) {
    worker.Add(f.key, FileStamp{f.pieces.size(), 0, 0},
               f.opened ? std::make_unique<PiecesReader>(f.pieces, f.fails) : nullptr);
  }
  worker.Add("a", std::nullopt,
             std::make_unique<PiecesReader>(std::vector<std::string>{"other"}, false));
  for (auto f = std::rbegin(kFiles); f != std::rend(kFiles); ++f) {
    SCOPED_TRACE(f->key);
    std::optional<FileDigest> digest;
    std::optional<FileStamp> stamp;
    ASSERT_TRUE(worker.Take(f->key, &digest, &stamp));
    EXPECT_EQ((FileStamp{f->pieces.size(), 0, 0}), stamp);
    std::string all;
    for (const std::string& piece : f->pieces) all += piece;
    if (f->opened && !f->fails) {
      EXPECT_EQ((FileDigest{all.size(), HashBytes(all)}), digest);
    } else {
      EXPECT_EQ(std::nullopt, digest);
    }
    EXPECT_FALSE(worker.Take(f->key, &digest, &stamp)) << "taken twice";
  }
  std::optional<FileDigest> digest;
  std::optional<FileStamp> stamp;
  EXPECT_FALSE(worker.Take("never added", &digest, &stamp));
  // Files left unread when it goes are closed unread.
  for (int i = 0; i < 100; ++i) {
    worker.Add(std::to_string(i), std::nullopt,
               std::make_unique<PiecesReader>(std::vector<std::string>{"x"}, false));
  }
}

// Fewer files than wake the thread: taking one wakes it (else the take would wait forever).
TEST(DigestWorker, ReadsAFewFilesOnceOneIsTaken) {
  DigestWorker worker(16);
  // Each file added to a thread that sleeps, having read all before it.
  for (const char* key : {"a", "b", "c"}) {
    worker.Add(key, std::nullopt,
               std::make_unique<PiecesReader>(std::vector<std::string>{key}, false));
    std::optional<FileDigest> digest;
    std::optional<FileStamp> stamp;
    ASSERT_TRUE(worker.Take(key, &digest, &stamp));
    EXPECT_EQ((FileDigest{1, HashBytes(key)}), digest) << key;
  }
}

// A file added is read and closed soon, not held open until it is taken: Windows replaces no
// file that is open, and the source may be the old product's own.
TEST(DigestWorker, ReadsAFileSoonWithoutBeingAskedForIt) {
  std::atomic<int> closed{0};
  class CountedReader : public PiecesReader {
   public:
    explicit CountedReader(std::atomic<int>& closed)
        : PiecesReader({"x"}, false), closed_(closed) {}
    ~CountedReader() override { ++closed_; }

   private:
    std::atomic<int>& closed_;
  };
  DigestWorker worker(64);
  for (int i = 0; i < 3; ++i)
    worker.Add("f" + std::to_string(i), std::nullopt, std::make_unique<CountedReader>(closed));
  for (int wait = 0; wait < 200 && closed < 3; ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(3, closed.load());
}

// One worker serves the copies of an edition one after another: what a copy left untaken (a
// failed copy's files, read or still queued) must not answer for the next copy's file of the
// same name.
TEST(DigestWorker, ForgetsWhatACopyLeftSoTheNextCopyGetsItsOwnFiles) {
  auto reader = [](std::string text) {
    return std::make_unique<PiecesReader>(std::vector<std::string>{std::move(text)}, false);
  };
  for (size_t queued : {1u, 16u}) {
    SCOPED_TRACE(queued);
    DigestWorker worker(queued);
    for (int i = 0; i < 20; ++i) worker.Add("f" + std::to_string(i), std::nullopt, reader("old"));
    worker.Forget();
    worker.Add("f7", std::nullopt, reader("new"));
    std::optional<FileDigest> digest;
    std::optional<FileStamp> stamp;
    ASSERT_TRUE(worker.Take("f7", &digest, &stamp));
    EXPECT_EQ((FileDigest{3, HashBytes("new")}), digest);
    EXPECT_FALSE(worker.Take("f3", &digest, &stamp)) << "a forgotten file answered";
  }
}

TEST(Manifest, RoundTripsNamesWithTabsPercentAndDoubleByteCharacters) {
  Manifest m;
  m.tool_version = "1.0.0.1";
  m.time = "2026-12-08T23:50:00Z";
  // "表" is 0x95 0x5C: its second byte is a backslash but not a separator.
  m.files = {{"DDBVID\\\x95\x5c\\a.dat", {3, HashBytes("abc")}},
             {"kdr4reg.fil", {0, HashBytes("")}},
             {"plog\\50%\tx.log", {1, HashBytes("z")}}};
  std::optional<std::string> text = FormatManifest(m);
  ASSERT_TRUE(text);
  EXPECT_NE(std::string::npos, text->find("50%25%09x.log"));
  ManifestParseResult back = ParseManifest(*text);
  ASSERT_TRUE(back.manifest) << back.error_line << ": " << back.error;
  ASSERT_EQ(3u, back.manifest->files.size());
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(m.files[i].path, back.manifest->files[i].path);
    EXPECT_EQ(m.files[i].digest, back.manifest->files[i].digest);
  }
  EXPECT_EQ(m.time, back.manifest->time);
  EXPECT_TRUE(back.manifest->sealed);

  // What Collect could not take, and an unfinished Collect, read back as written.
  m.sealed = false;
  m.missed = {{"C:\\old\\50%\tx.dat", "access denied\n(5)"}};
  text = FormatManifest(m);
  ASSERT_TRUE(text);
  back = ParseManifest(*text);
  ASSERT_TRUE(back.manifest) << back.error_line << ": " << back.error;
  EXPECT_FALSE(back.manifest->sealed);
  ASSERT_EQ(1u, back.manifest->missed.size());
  EXPECT_EQ(m.missed[0].what, back.manifest->missed[0].what);
  EXPECT_EQ(m.missed[0].why, back.manifest->missed[0].why);
}

TEST(Manifest, RefusesAnythingMalformedNamingTheLine) {
  const std::string head = "kdr4tose-manifest\t1\ntool\t1\ntime\tt\n";
  const std::string hash = HashToHex(HashBytes("a"));
  const std::string good = "file\t1\t" + hash + "\ta.dat\n";
  struct Case {
    std::string text;
    size_t line;
  };
  const Case cases[] = {
      {"", 1},                                                  // empty
      {"kdr4tose-manifest\t3\ntool\t1\ntime\tt\nend\t0\n", 1},  // a later format
      {"kdr4tose-manifest\t2\ntool\t1\ntime\tt\nend\t0\n", 4},  // no state line
      {"kdr4tose-manifest\t2\ntool\t1\ntime\tt\nstate\tdone\nend\t0\n", 4},
      {head + "missed\ta\tb\nend\t0\n", 4},  // format 1 has no missed lines
      {"kdr4tose-manifest\t2\ntool\t1\ntime\tt\nstate\tsealed\nmissed\ta\nend\t0\n", 5},
      {head + good, 5},                     // cut before the end line
      {head + good + "end\t1", 5},          // last line without its end
      {head + good + "end\t2\n", 5},        // count does not match
      {head + good + "end\t1\nfile\n", 6},  // text after the end
      {head + "file\t1\t" + hash + "\ta.dat\textra\nend\t1\n", 4},
      {head + "file\t01\t" + hash + "\ta.dat\nend\t1\n", 4},
      {head + "file\t-1\t" + hash + "\ta.dat\nend\t1\n", 4},
      {head + "file\t1\t" + hash.substr(1) + "\ta.dat\nend\t1\n", 4},
      {head + "file\t1\t" + std::string(32, 'A') + "\ta.dat\nend\t1\n", 4},
      {head + "file\t1\t" + hash + "\t..\\x\nend\t1\n", 4},
      {head + "file\t1\t" + hash + "\tC:\\x\nend\t1\n", 4},
      {head + "file\t1\t" + hash + "\t\\x\nend\t1\n", 4},
      {head + "file\t1\t" + hash + "\ta\\\\x\nend\t1\n", 4},
      {head + "file\t1\t" + hash + "\ta%2\nend\t1\n", 4},
      {head + "file\t1\t" + hash + "\t\xff\nend\t1\n", 4},          // not UTF-8
      {head + good + "file\t1\t" + hash + "\tA.DAT\nend\t2\n", 5},  // twice, by Windows' rule
      {head + "tool\t1\nend\t0\n", 4},
  };
  for (const Case& c : cases) {
    ManifestParseResult r = ParseManifest(c.text);
    EXPECT_FALSE(r.manifest) << c.text;
    EXPECT_EQ(c.line, r.error_line) << c.text << " -> " << r.error;
    EXPECT_FALSE(r.error.empty());
  }
  EXPECT_TRUE(ParseManifest(head + good + "end\t1\n").manifest);
}

// A replaced file's metadata as Windows gives it: read-only, hidden, archive; 2001-02-03.
const FileMetadata kReadOnlyHidden{FileMetadata::Kind::kWindows, 0x23, 0, 0, 0, 981173106000000000};

// A journal of two editions, as a Migrate appends it, with the end of each block.
std::string TwoEditionJournal(std::vector<size_t>* block_ends) {
  size_t lines = 0;
  std::string text = FormatJournalStart("2026-12-09T01:02:03Z", &lines);
  EditionPlan personal;
  personal.edition = Edition::kPersonal;
  personal.keys_created = {"Software\\VTQ\\KodrelSE\\\x95\x5c"};
  personal.values.Add({"Software\\VTQ\\KodrelSE", "A\tB", true, 1, std::string_view("old\0\n", 5),
                       4, std::string_view("\0\0\0\0", 4)});
  personal.values.Add({"Software\\VTQ\\KodrelSE", "", false, 0, "", 1, "new"});
  personal.folders_created = {"E:\\se\\pp"};
  JournalFile file{
      {"C:\\s\\a", "E:\\se\\pp\\a", true, 3, {1, HashBytes("x")}, {}}, "1", {3, HashBytes("old")}};
  file.planned.old_metadata = kReadOnlyHidden;
  EXPECT_TRUE(AppendJournalEdition(personal, {file}, &lines, &text));
  block_ends->push_back(text.size());
  EditionPlan client;
  client.edition = Edition::kClient;
  EXPECT_TRUE(AppendJournalEdition(client, {}, &lines, &text));
  block_ends->push_back(text.size());
  return text;
}

TEST(BackupJournal, ReadsBackWhatWasAppendedAndLeavesOutABlockCutShort) {
  std::vector<size_t> block_ends;
  const std::string text = TwoEditionJournal(&block_ends);
  JournalError error;
  std::optional<Journal> whole = ParseJournal(text, &error);
  ASSERT_TRUE(whole) << JournalErrorText(error);
  ASSERT_EQ(2u, whole->editions.size());
  EXPECT_FALSE(whole->cut_short);
  EXPECT_EQ("2026-12-09T01:02:03Z", whole->time);
  const JournalEdition& p = whole->editions[0];
  EXPECT_EQ("Software\\VTQ\\KodrelSE\\\x95\x5c", p.keys_created.at(0));
  ASSERT_EQ(2u, p.values.size());
  EXPECT_EQ("A\tB", p.values[0].name);
  EXPECT_EQ(std::string("old\0\n", 5), p.values[0].old_data);
  EXPECT_EQ(std::string(4, '\0'), p.values[0].new_data);
  EXPECT_TRUE(p.values[0].existed);
  EXPECT_EQ("", p.values[1].name);
  EXPECT_FALSE(p.values[1].existed);
  ASSERT_EQ(1u, p.files.size());
  EXPECT_EQ((FileDigest{3, HashBytes("old")}), p.files[0].old_digest);
  EXPECT_EQ((FileDigest{1, HashBytes("x")}), p.files[0].planned.new_digest);
  EXPECT_EQ(kReadOnlyHidden, p.files[0].planned.old_metadata);
  EXPECT_EQ(Edition::kClient, whole->editions[1].edition);

  // A Migrate stopped at any byte of an append: the blocks whose end line was written, and
  // nothing of the one cut short.
  for (size_t cut = 0; cut < text.size(); ++cut) {
    std::optional<Journal> part = ParseJournal(text.substr(0, cut), &error);
    ASSERT_TRUE(part) << cut << ": " << JournalErrorText(error);
    size_t whole_blocks = static_cast<size_t>(std::count_if(
        block_ends.begin(), block_ends.end(), [&](size_t end) { return end <= cut; }));
    EXPECT_EQ(whole_blocks, part->editions.size()) << cut;
    EXPECT_EQ(cut != 0 && std::find(block_ends.begin(), block_ends.end(), cut) == block_ends.end(),
              part->cut_short)
        << cut;
  }
}

// A large edition is written out in parts while its block is made: the parts make the same
// journal, none much larger than the spill size (a value of several megabytes too), and a part
// that cannot be written stops the block before its end line.
TEST(BackupJournal, ALargeBlockIsWrittenInPartsThatMakeTheSameJournal) {
  EditionPlan plan;
  plan.edition = Edition::kPersonal;
  for (int i = 0; i < 3000; ++i) {
    std::string name = "v" + std::to_string(i);
    plan.values.Add({"Software\\VTQ\\KodrelSE", name, true, 1, std::string(300, 'o'), 1,
                     std::string(300, 'n')});
    if (i == 1500) {
      plan.values.Add({"Software\\VTQ\\KodrelSE", "large", true, 3, std::string(3 << 20, 'O'), 3,
                       std::string(3 << 20, 'N')});
    }
  }
  size_t lines = 0;
  std::string whole = FormatJournalStart("t", &lines);
  size_t whole_lines = lines;
  ASSERT_TRUE(AppendJournalEdition(plan, {}, &whole_lines, &whole));

  std::string written;
  size_t parts = 0;
  std::string text = FormatJournalStart("t", &lines);
  ASSERT_TRUE(AppendJournalEdition(plan, {}, &lines, &text, [&](std::string* part) {
    EXPECT_LT(part->size(), kJournalSpillBytes + 4096);
    written += *part;
    part->clear();
    return ++parts < 100;
  }));
  EXPECT_GT(parts, 1u);
  EXPECT_EQ(whole, written + text);
  EXPECT_EQ(whole_lines, lines);

  text = FormatJournalStart("t", &lines);
  EXPECT_FALSE(AppendJournalEdition(plan, {}, &lines, &text, [](std::string*) { return false; }));
  JournalError error;
  std::optional<Journal> cut = ParseJournal(text, &error);
  ASSERT_TRUE(cut) << JournalErrorText(error);
  EXPECT_TRUE(cut->editions.empty());
}

TEST(BackupJournal, RefusesADamagedCountedPartNamingTheLine) {
  std::vector<size_t> block_ends;
  const std::string text = TwoEditionJournal(&block_ends);
  auto replace = [&](std::string from, std::string to) {
    std::string out = text;
    size_t at = out.find(from);
    EXPECT_NE(std::string::npos, at) << from;
    return at == std::string::npos ? out : out.replace(at, from.size(), to);
  };
  struct Case {
    std::string text;
    size_t line;
    JournalTrouble trouble;
  };
  const Case cases[] = {
      {replace("folder\t", "folder\t\t"), 7, JournalTrouble::kBadPath},  // a torn line
      {replace("\nvalue\t", "\nvalue\tx"), 5,
       JournalTrouble::kBadValue},                                       // a field that is not hex
      {replace("\t1\t1\t", "\t1\t01\t"), 5, JournalTrouble::kBadValue},  // a number not as written
      {replace("end\t8\n", "end\t7\n"), 9,
       JournalTrouble::kEndMiscounted},  // a count that does not match
      {replace("end\t8\n", "end\t8\nkey\t61\n"), 10,
       JournalTrouble::kItemAfterEnd},  // an item after the end
      {replace("edition\t2", "edition\t4"), 10, JournalTrouble::kUnknownEdition},
      {replace("kdr4tose-backup\t3", "kdr4tose-backup\t4"), 1, JournalTrouble::kOtherVersion},
      {replace("\twindows,35,", "\twindows,64,"), 8,
       JournalTrouble::kBadMetadata},  // an attribute not kept
      {replace("\twindows,35,", "\twindows,,"), 8, JournalTrouble::kBadMetadata},
      {replace("\twindows,35,981173106000000000", "\tposix,35,0,0"), 8,
       JournalTrouble::kBadMetadata},
      {replace(",981173106000000000\n", "\n"), 8, JournalTrouble::kBadMetadata},
      {replace(",981173106000000000\n", ",98117310600000000000\n"), 8,
       JournalTrouble::kBadMetadata},
      {replace("\twindows,35,981173106000000000", ""), 8,
       JournalTrouble::kFileFields},  // 9 fields in a journal of 3
      {replace("end\t8\n", "end\t8\nwritten\t2\n"), 10,
       JournalTrouble::kWrittenOutsideBlock},  // another edition's
      {replace("edition\t2\n", "written\t1\nwritten\t1\nedition\t2\n"), 11,
       JournalTrouble::kWrittenOutsideBlock},
      {"garbage with no end", 1, JournalTrouble::kNotAJournal},
  };
  for (const Case& c : cases) {
    JournalError error;
    EXPECT_FALSE(ParseJournal(c.text, &error)) << c.text;
    EXPECT_EQ(c.line, error.line) << c.text;
    EXPECT_EQ(c.trouble, error.trouble) << c.text;
  }
  // A journal of the first version, counted once at its end, still reads.
  std::string single = text;
  single.erase(block_ends[0] - std::string("end\t8\n").size(), std::string("end\t8\n").size());
  single.replace(single.rfind("end\t10\n"), 8, "end\t9\n");
  JournalError error;
  std::optional<Journal> old = ParseJournal(single, &error);
  ASSERT_TRUE(old) << JournalErrorText(error);
  EXPECT_EQ(2u, old->editions.size());
}

// Metadata read back as written, of either platform (a time before 1970 too); a journal of
// version 2, whose file lines have no such field, still reads, with none.
TEST(BackupJournal, ReadsTheMetadataOfReplacedFilesAndJournalsWithout) {
  const FileMetadata posix{FileMetadata::Kind::kPosix, 0, 04755, 1000, 65534, -1500000000};
  for (const std::optional<FileMetadata>& metadata :
       {std::optional<FileMetadata>(posix), std::optional<FileMetadata>(kReadOnlyHidden),
        std::optional<FileMetadata>()}) {
    EditionPlan plan;
    JournalFile file{{"C:\\s\\a", "E:\\a", true, 1, {1, HashBytes("x")}, {}}, "1", {}};
    file.planned.old_metadata = metadata;
    size_t lines = 0;
    std::string text = FormatJournalStart("t", &lines);
    ASSERT_TRUE(AppendJournalEdition(plan, {file}, &lines, &text));
    JournalError error;
    std::optional<Journal> read = ParseJournal(text, &error);
    ASSERT_TRUE(read) << JournalErrorText(error);
    EXPECT_EQ(metadata, read->editions.at(0).files.at(0).planned.old_metadata) << text;
  }
  const std::string hash = HashToHex(HashBytes("x"));
  const std::string version2 = "kdr4tose-backup\t2\ntime\tt\nedition\t1\nfile\t45\t43\t1\t31\t1\t" +
                               hash + "\t1\t" + hash + "\nend\t4\n";
  JournalError error;
  std::optional<Journal> old = ParseJournal(version2, &error);
  ASSERT_TRUE(old) << JournalErrorText(error);
  EXPECT_EQ("E", old->editions.at(0).files.at(0).planned.destination);
  EXPECT_EQ(std::nullopt, old->editions.at(0).files.at(0).planned.old_metadata);
  std::string with_field = version2;
  with_field.insert(with_field.find("\nend"), "\t-");
  EXPECT_FALSE(ParseJournal(with_field, &error));
  EXPECT_EQ("line 4: a file line has 9 fields", JournalErrorText(error));
}

}  // namespace
}  // namespace kdr
