// The FileSystem contract against the portable file system, with drive C: mapped to a scratch
// folder.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/posix/portable_file_system.h"
#include "platform/text_encoding.h"
#include "tests/file_system_harness.h"
#include "tests/posix/temp_folder.h"

namespace kdr::contract {
namespace {

namespace stdfs = std::filesystem;

class PortableHarness : public FileSystemHarness {
 public:
  PortableHarness() {
    fs_.MapDrive('C', host_);
    root_ = "C:\\";
  }

  FileSystem& fs() override { return fs_; }
  const std::string& root() const override { return root_; }
  std::string MissingDrive() const override { return "Q:\\"; }
  bool IsPosix() const override { return true; }
  std::vector<std::string> List(const std::string& folder) override {
    std::vector<std::string> names;
    std::error_code ec;
    for (stdfs::directory_iterator it(Host(folder), ec), end; !ec && it != end; it.increment(ec)) {
      std::string utf8 = it->path().filename().string();
      auto cp932 = Utf8ToCp932(utf8);
      names.push_back(cp932 ? *cp932 : utf8);
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  bool Put(const std::string& path, const std::string& bytes) override {
    std::ofstream out(Host(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
  }
  std::string Get(const std::string& path) override {
    std::ifstream in(Host(path), std::ios::binary);
    if (!in) return "<missing>";
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  bool MakeFolder(const std::string& path) override {
    return ::mkdir(Host(path).c_str(), 0777) == 0;
  }
  bool SetModified(const std::string& path, int64_t unix_seconds) override {
    struct timespec times[2] = {{static_cast<time_t>(unix_seconds), 0},
                                {static_cast<time_t>(unix_seconds), 0}};
    return ::utimensat(AT_FDCWD, Host(path).c_str(), times, 0) == 0;
  }
  bool SetReadOnly(const std::string& path, bool read_only) override {
    return ::chmod(Host(path).c_str(), read_only ? 0444 : 0644) == 0;
  }
  bool IsReadOnly(const std::string& path) override {
    struct stat st {};
    return ::stat(Host(path).c_str(), &st) == 0 && (st.st_mode & 0222) == 0;
  }
  bool ShutFolder(const std::string& path, bool shut) override {
    return ::geteuid() != 0 && ::chmod(Host(path).c_str(), shut ? 0 : 0755) == 0;
  }
  std::string Cp932Problem() const override { return ""; }

 private:
  // Found independently of the file system under test: the drive is the scratch folder, names
  // are UTF-8 on the host.
  stdfs::path Host(const std::string& path) const {
    std::string rest = path.substr(root_.size());
    auto utf8 = Cp932ToUtf8(rest);
    std::string text = utf8 ? *utf8 : rest;
    std::replace(text.begin(), text.end(), '\\', '/');
    return host_ / text;
  }

  PortableFileSystem fs_;
  testing::TempFolder temp_{"kdr4tose-fs"};
  const stdfs::path& host_ = temp_.path();
  std::string root_;
};

std::unique_ptr<FileSystemHarness> MakePortable() { return std::make_unique<PortableHarness>(); }

const bool registered = RegisterImplementation("Portable", &MakePortable);

}  // namespace
}  // namespace kdr::contract
