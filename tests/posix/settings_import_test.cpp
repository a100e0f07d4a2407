// Settings files read back into the registry, including files that were tampered with.
#include "settings/settings_import.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/memory/memory_registry.h"
#include "platform/portable_profile_file.h"
#include "platform/posix/portable_file_system.h"
#include "settings/settings_import.h"
#include "tests/flow_world.h"
#include "tests/posix/temp_folder.h"
#include "tests/seeded_random.h"

namespace kdr::testing {
namespace {

class SettingsImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(temp_.path().empty());
    host_ = temp_.path();
    files_.MapDrive('C', host_);
  }

  void WriteSettings(std::string_view bytes) {
    std::ofstream(host_ / "kdr4reg.fil", std::ios::binary) << bytes;
  }
  void Import() {
    PortableProfileFile profiles(files_);
    SettingsImporter importer(registry_, profiles, log_);
    importer.ImportSettingsFile("C:\\kdr4reg.fil");
  }
  std::vector<std::string> Branch() {
    return DumpTree(registry_, RootKey::kCurrentUser, "Software\\VTQ\\KodrelSE");
  }
  // Every key and value of both roots lies in the new product's branch or is one of the keys
  // above it, which creating the branch makes.
  void ExpectNothingOutsideBranch() {
    for (RootKey root : {RootKey::kCurrentUser, RootKey::kLocalMachine}) {
      for (const std::string& line : DumpTree(registry_, root, "")) {
        std::string key = line.substr(0, line.find('|'));
        bool is_value = line.find('|') != std::string::npos;
        bool ancestor = key.empty() || key == "Software" || key == "Software\\VTQ";
        bool inside = root == RootKey::kCurrentUser && IsInNewProductBranch(key);
        EXPECT_TRUE(inside || (ancestor && !is_value && root == RootKey::kCurrentUser))
            << "written outside the branch: " << line;
      }
    }
  }

  class CountingLog : public ActivityLog {
   public:
    void Done(const LogText&) override { ++done; }
    void Skipped(const LogText&, const LogText& reason) override {
      ++skipped;
      reasons.push_back(reason.Utf8());
    }
    int done = 0;
    int skipped = 0;
    std::vector<std::string> reasons;
  };

  TempFolder temp_{"kdr-import"};
  std::filesystem::path host_;
  MemoryRegistry registry_;
  PortableFileSystem files_;
  CountingLog log_;
};

TEST_F(SettingsImportTest, EntriesOfTypeOneAndFourAreWrittenToTheMappedKey) {
  WriteSettings(
      "[Software\\VTQ\\Kodrel\\Client\\Common]\r\n"
      "SRVPORT=4:01000000\r\n"
      "X_PASS=1:616263\r\n"
      "X=1:abc\r\n"
      "E=1:\r\n"
      "B=3:0aff\r\n"
      "M=2:abc\r\n"
      "[Software\\VTQ\\Kodrel\\Client\\AppInfo\\Kodrel]\r\n"
      "[Software\\VTQ\\Kodrel\\Client\\Empty]\r\n");
  Import();
  const std::string c = "Software\\VTQ\\KodrelSE\\Client\\Common";
  EXPECT_EQ((std::vector<std::string>{
                "Software\\VTQ\\KodrelSE",
                "Software\\VTQ\\KodrelSE\\Client",
                "Software\\VTQ\\KodrelSE\\Client\\AppInfo",
                "Software\\VTQ\\KodrelSE\\Client\\AppInfo\\Kodrel",
                c,
                c + "|E|1|00",
                c + "|SRVPORT|4|01000000",
                c + "|X_PASS|1|61626300",
                c + "|X|1|61626300",
                "Software\\VTQ\\KodrelSE\\Client\\Empty",
            }),
            Branch());
}

TEST_F(SettingsImportTest, ExistingValuesAreReplacedWhateverTheirType) {
  SetRaw(registry_, RootKey::kCurrentUser, "Software\\VTQ\\KodrelSE\\Client\\Common", "SRVPORT",
         kRegBinary, "\x01\x02");
  SetString(registry_, RootKey::kCurrentUser, "Software\\VTQ\\KodrelSE\\Client\\Common", "Keep",
            "me");
  SetString(registry_, RootKey::kCurrentUser, "Software\\VTQ\\KodrelSE\\Client\\Common", "srvname",
            "old");
  WriteSettings(
      "[Software\\VTQ\\Kodrel\\Client\\Common]\r\nSRVPORT=4:02000000\r\nSRVNAME=1:new\r\n");
  Import();
  const std::string c = "Software\\VTQ\\KodrelSE\\Client\\Common";
  EXPECT_EQ((std::vector<std::string>{"Software\\VTQ\\KodrelSE", "Software\\VTQ\\KodrelSE\\Client",
                                      c, c + "|Keep|1|6d6500", c + "|SRVPORT|4|02000000",
                                      c + "|srvname|1|6e657700"}),
            Branch());
}

TEST_F(SettingsImportTest, SectionsOutsideTheNewBranchAreSkippedWithTheirEntries) {
  WriteSettings(
      "[Software\\Classes\\txtfile\\shell\\Kodrel\\command]\r\n@=1:calc.exe\r\n"
      "[Software\\Microsoft\\Windows\\CurrentVersion\\Run\\Kodrel]\r\nx=1:evil.exe\r\n"
      "[kodrel\\lower]\r\nx=1:y\r\n"
      "[Software\\VTQ\\KodrelX]\r\nx=1:y\r\n"
      "[Software\\VTQ\\Kodrel\\\\..\\double]\r\nx=1:y\r\n"
      "[Software\\VTQ\\Kodrel\\trailing\\]\r\nx=1:y\r\n"
      "[Software\\VTQ\\Kodrel\\Client\\Ok]\r\nx=1:y\r\n");
  Import();
  EXPECT_EQ((std::vector<std::string>{"Software\\VTQ\\KodrelSE", "Software\\VTQ\\KodrelSE\\Client",
                                      "Software\\VTQ\\KodrelSE\\Client\\Ok",
                                      "Software\\VTQ\\KodrelSE\\Client\\Ok|x|1|7900"}),
            Branch());
  EXPECT_EQ(nullptr, registry_.Find(RootKey::kCurrentUser, "Software\\Classes"));
  EXPECT_EQ(nullptr, registry_.Find(RootKey::kCurrentUser, "Software\\Microsoft"));
  ExpectNothingOutsideBranch();
}

TEST_F(SettingsImportTest, MalformedEntriesWriteNothing) {
  WriteSettings(
      "[Software\\VTQ\\Kodrel\\Client\\Common]\r\n"
      "T=11:abc\r\n"      // two-digit type: not imported
      "S=4:0100\r\n"      // short double word
      "N=4:zz000000\r\n"  // non-hex double word
      "noequals\r\n"
      "nocolon=1\r\n"
      "Y_PASS=1:nothex\r\n"  // a credential that is not hex
      "OK=1:fine\r\n");
  Import();
  const std::string c = "Software\\VTQ\\KodrelSE\\Client\\Common";
  EXPECT_EQ((std::vector<std::string>{"Software\\VTQ\\KodrelSE", "Software\\VTQ\\KodrelSE\\Client",
                                      c, c + "|OK|1|66696e6500"}),
            Branch());
}

TEST_F(SettingsImportTest, MissingOrEmptyFileCreatesNothing) {
  Import();  // no file at all
  EXPECT_EQ(0u, CountKeys(registry_));
  WriteSettings("");
  Import();
  WriteSettings("just text, no sections\r\n");
  Import();
  EXPECT_EQ(0u, CountKeys(registry_));
}

TEST_F(SettingsImportTest, HugeLineAndManySectionsAreReadWhole) {
  std::string big(1 << 20, 'v');
  std::string file = "[Software\\VTQ\\Kodrel\\Client\\Big]\r\nBig=1:" + big + "\r\n";
  for (int i = 0; i < 50000; ++i) {
    file += "[Software\\VTQ\\Kodrel\\Client\\S" + std::to_string(i) + "]\r\nv=4:" + "01000000\r\n";
  }
  WriteSettings(file);
  Import();
  uint32_t type = 0;
  std::string data;
  RegistryKeyPtr key;
  ASSERT_EQ(kOk, registry_.OpenKey(RootKey::kCurrentUser, "Software\\VTQ\\KodrelSE\\Client\\Big",
                                   kKeyQueryValue, &key));
  ASSERT_EQ(kOk, key->QueryValue("Big", &type, &data));
  EXPECT_EQ(big.size() + 1, data.size());
  const MemoryRegistry::Node* client =
      registry_.Find(RootKey::kCurrentUser, "Software\\VTQ\\KodrelSE\\Client");
  ASSERT_NE(nullptr, client);
  EXPECT_EQ(50001u, client->children().size());
  EXPECT_NE(nullptr,
            registry_.Find(RootKey::kCurrentUser, "Software\\VTQ\\KodrelSE\\Client\\S49999"));
}

TEST_F(SettingsImportTest, BinaryJunkNeverWritesOutsideTheBranch) {
  SeededRandom random(12345);
  for (int round = 0; round < 200; ++round) {
    std::string junk;
    size_t size = random() % 4096;
    for (size_t i = 0; i < size; ++i) {
      // Mostly bytes that matter to the format, some anything at all.
      static constexpr char kSpecial[] = "[]=:\r\n\\;Kodrel SE14 ";
      junk.push_back(random() % 3 ? kSpecial[random() % (sizeof kSpecial - 1)]
                                  : static_cast<char>(random() % 256));
    }
    WriteSettings(junk);
    Import();
  }
  ExpectNothingOutsideBranch();
}

// The store hands out created keys that refuse values (as a key created with fewer rights than
// setting values needs would); each value must still reach its key, opened by its path.
TEST_F(SettingsImportTest, AValueTheCreatedKeyRefusesIsWrittenThroughTheKeyOpenedByPath) {
  class ReadOnlyCreatedKeys : public Registry {
   public:
    explicit ReadOnlyCreatedKeys(Registry& inner) : inner_(inner) {}
    [[nodiscard]] Status OpenKey(RootKey root, std::string_view path, uint32_t access,
                                 RegistryKeyPtr* key, RegistryView view) override {
      ++opened;
      return inner_.OpenKey(root, path, access, key, view);
    }
    [[nodiscard]] Status CreateKey(RootKey root, std::string_view path,
                                   RegistryKeyPtr* key) override {
      RegistryKeyPtr created;
      Status status = inner_.CreateKey(root, path, &created);
      if (status != kOk) return status;
      return inner_.OpenKey(root, path, kKeyQueryValue, key);
    }
    Status DeleteKey(RootKey root, std::string_view path) override {
      return inner_.DeleteKey(root, path);
    }
    Registry& inner_;
    int opened = 0;
  };
  WriteSettings("[Software\\VTQ\\Kodrel\\A]\r\nX=1:x\r\nN=4:02000000\r\n");
  ReadOnlyCreatedKeys registry(registry_);
  PortableProfileFile profiles(files_);
  SettingsImporter(registry, profiles, log_).ImportSettingsFile("C:\\kdr4reg.fil");
  const std::string a = "Software\\VTQ\\KodrelSE\\A";
  EXPECT_EQ((std::vector<std::string>{"Software\\VTQ\\KodrelSE", a, a + "|N|4|02000000",
                                      a + "|X|1|7800"}),
            Branch());
  EXPECT_EQ(2, registry.opened);
  EXPECT_EQ(0, log_.skipped);
}

TEST(MapKeyPathTest, FirstKodrelBecomesKodrelSE) {
  std::string mapped;
  ASSERT_TRUE(MapKeyPath("Software\\VTQ\\Kodrel\\Client\\Common", &mapped));
  EXPECT_EQ("Software\\VTQ\\KodrelSE\\Client\\Common", mapped);
  ASSERT_TRUE(MapKeyPath("Software\\VTQ\\Kodrel\\Client\\AppInfo\\Kodrel", &mapped));
  EXPECT_EQ("Software\\VTQ\\KodrelSE\\Client\\AppInfo\\Kodrel", mapped);
  EXPECT_FALSE(MapKeyPath("Software\\VTQ\\kodrel\\Client", &mapped));
  EXPECT_EQ("", mapped);
}

TEST(NewBranchTest, OnlyTheBranchAndBelowIgnoringAsciiCase) {
  EXPECT_TRUE(IsInNewProductBranch("Software\\VTQ\\KodrelSE"));
  EXPECT_TRUE(IsInNewProductBranch("software\\vtq\\kodrelse\\Client"));
  EXPECT_FALSE(IsInNewProductBranch("Software\\VTQ\\KodrelSEX"));
  EXPECT_FALSE(IsInNewProductBranch("Software\\VTQ\\KodrelSE\\"));
  EXPECT_FALSE(IsInNewProductBranch("Software\\VTQ\\KodrelSE\\\\a"));
  EXPECT_FALSE(IsInNewProductBranch("Software\\Classes\\KodrelSE"));
  EXPECT_FALSE(IsInNewProductBranch("XSoftware\\VTQ\\KodrelSE"));
  // A double-byte character ending in 0x5C is a name, not a trailing separator.
  EXPECT_TRUE(IsInNewProductBranch("Software\\VTQ\\KodrelSE\\\x83\x5c"));
}

}  // namespace
}  // namespace kdr::testing
