#include "store/manifest.h"

#include "platform/cp932.h"
#include "platform/text_encoding.h"
#include "store/text_fields.h"

namespace kdr {
namespace {

constexpr std::string_view kMagic = "kdr4tose-manifest";

std::string EscapePath(std::string_view utf8) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : utf8) {
    if (c == '\t' || c == '\n' || c == '\r' || c == '%') {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

constexpr std::string_view kBegun = "begun";
constexpr std::string_view kSealed = "sealed";

std::optional<std::string> UnescapePath(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out.push_back(text[i]);
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    int high = HexDigitValue(text[i + 1]);
    int low = HexDigitValue(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return out;
}

}  // namespace

bool IsSafeRelativePath(std::string_view path) {
  std::vector<std::string_view> names;
  if (path.empty() || !SplitCp932Path(path, &names)) return false;
  for (std::string_view name : names) {
    if (name == "." || name == ".." || name.find(':') != std::string_view::npos ||
        name.find('/') != std::string_view::npos) {
      return false;
    }
    if (name.find('\0') != std::string_view::npos) return false;
  }
  return true;
}

std::optional<std::string> FormatManifest(const Manifest& manifest) {
  std::string out;
  out.append(kMagic).append("\t").append(std::to_string(manifest.format)).append("\n");
  out.append("tool\t").append(manifest.tool_version).append("\n");
  out.append("time\t").append(manifest.time).append("\n");
  out.append("state\t").append(manifest.sealed ? kSealed : kBegun).append("\n");
  for (const ManifestFile& file : manifest.files) {
    std::optional<std::string> utf8 = Cp932ToUtf8(file.path);
    if (!utf8) return std::nullopt;
    out.append("file\t")
        .append(std::to_string(file.digest.size))
        .append("\t")
        .append(HashToHex(file.digest.hash))
        .append("\t")
        .append(EscapePath(*utf8))
        .append("\n");
  }
  for (const ManifestMiss& miss : manifest.missed) {
    out.append("missed\t").append(EscapePath(miss.what)).append("\t").append(EscapePath(miss.why));
    out.append("\n");
  }
  out.append("end\t").append(std::to_string(manifest.files.size())).append("\n");
  return out;
}

std::string ManifestDamageText(ManifestDamage damage, std::string_view detail) {
  static constexpr struct {
    ManifestDamage damage;
    std::string_view text;
  } kTexts[] = {
      {ManifestDamage::kNoLineEnd, "the last line has no line end"},
      {ManifestDamage::kTextAfterEnd, "text after the end line"},
      {ManifestDamage::kNotAManifest, "not a kdr4tose manifest"},
      {ManifestDamage::kUnknownFormat, "format {0} is not one this version reads"},
      {ManifestDamage::kNoTool, "no tool line"},
      {ManifestDamage::kNoTime, "no time line"},
      {ManifestDamage::kNoState, "no state line"},
      {ManifestDamage::kBadMissed, "a missed line has a path and a reason"},
      {ManifestDamage::kFileFields, "a file line has 4 fields"},
      {ManifestDamage::kBadSize, "the size is not a number"},
      {ManifestDamage::kBadHash, "the hash is not 32 lowercase hex digits"},
      {ManifestDamage::kBadPath, "the path is not a relative path inside the edition folder"},
      {ManifestDamage::kPathTwice, "the path is listed twice"},
      {ManifestDamage::kBadCount, "the end line does not count the file lines"},
      {ManifestDamage::kUnknownLine, "unknown line"},
      {ManifestDamage::kNoEnd, "the end line is missing (the manifest is cut short)"},
  };
  for (const auto& t : kTexts) {
    if (t.damage != damage) continue;
    std::string text(t.text);
    if (size_t at = text.find("{0}"); at != std::string::npos) text.replace(at, 3, detail);
    return text;
  }
  return {};
}

ManifestParseResult ParseManifest(std::string_view text) {
  ManifestParseResult result;
  Manifest manifest;
  Cp932NameSet& seen = result.paths;
  size_t line_number = 0;
  bool ended = false;
  auto fail = [&](ManifestDamage damage, std::string detail = {}) {
    result.paths.clear();
    result.error_line = line_number;
    result.error = ManifestDamageText(damage, detail);
    result.damage = damage;
    result.detail = std::move(detail);
    return result;
  };
  while (!text.empty()) {
    ++line_number;
    std::string_view line;
    if (!TakeLine(&text, &line)) return fail(ManifestDamage::kNoLineEnd);
    if (ended) return fail(ManifestDamage::kTextAfterEnd);
    std::vector<std::string_view> f = SplitTabs(line);
    if (line_number == 1) {
      if (f.size() != 2 || f[0] != kMagic) return fail(ManifestDamage::kNotAManifest);
      if (f[1] == "1") {
        manifest.format = 1;
      } else if (f[1] != std::to_string(kManifestFormat)) {
        // Only a number is echoed: the error is shown, and the line could hold anything.
        return ParseDecimal(f[1]) ? fail(ManifestDamage::kUnknownFormat, std::string(f[1]))
                                  : fail(ManifestDamage::kNotAManifest);
      }
    } else if (line_number == 2) {
      if (f.size() != 2 || f[0] != "tool" || !IsPlainField(f[1]))
        return fail(ManifestDamage::kNoTool);
      manifest.tool_version = f[1];
    } else if (line_number == 3) {
      if (f.size() != 2 || f[0] != "time" || !IsPlainField(f[1]))
        return fail(ManifestDamage::kNoTime);
      manifest.time = f[1];
    } else if (line_number == 4 && manifest.format >= 2) {
      if (f.size() != 2 || f[0] != "state" || (f[1] != kBegun && f[1] != kSealed)) {
        return fail(ManifestDamage::kNoState);
      }
      manifest.sealed = f[1] == kSealed;
    } else if (f[0] == "missed" && manifest.format >= 2) {
      std::optional<std::string> what = f.size() == 3 ? UnescapePath(f[1]) : std::nullopt;
      std::optional<std::string> why = f.size() == 3 ? UnescapePath(f[2]) : std::nullopt;
      if (!what || !why || what->empty()) return fail(ManifestDamage::kBadMissed);
      manifest.missed.push_back(ManifestMiss{std::move(*what), std::move(*why)});
    } else if (f[0] == "file") {
      if (f.size() != 4) return fail(ManifestDamage::kFileFields);
      std::optional<uint64_t> size = ParseDecimal(f[1]);
      std::optional<ContentHash> hash = HashFromHex(f[2]);
      std::optional<std::string> utf8 = UnescapePath(f[3]);
      std::optional<std::string> path = utf8 ? Utf8ToCp932(*utf8) : std::nullopt;
      if (!size) return fail(ManifestDamage::kBadSize);
      if (!hash) return fail(ManifestDamage::kBadHash);
      if (!path || !IsSafeRelativePath(*path)) {
        return fail(ManifestDamage::kBadPath);
      }
      if (!seen.insert(*path).second) return fail(ManifestDamage::kPathTwice);
      manifest.files.push_back(ManifestFile{*path, FileDigest{*size, *hash}});
    } else if (f[0] == "end") {
      std::optional<uint64_t> count = f.size() == 2 ? ParseDecimal(f[1]) : std::nullopt;
      if (!count || *count != manifest.files.size()) {
        return fail(ManifestDamage::kBadCount);
      }
      ended = true;
    } else {
      return fail(ManifestDamage::kUnknownLine);
    }
  }
  if (!ended) {
    ++line_number;
    return fail(ManifestDamage::kNoEnd);
  }
  result.manifest = std::move(manifest);
  return result;
}

}  // namespace kdr
