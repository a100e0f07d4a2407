#include "platform/file_metadata.h"

#include <string_view>
#include <vector>

namespace kdr {

unsigned MetadataParts(const FileMetadata& metadata) {
  return metadata.kind == FileMetadata::Kind::kWindows
             ? kMetadataAttributes | kMetadataTime
             : kMetadataMode | kMetadataOwner | kMetadataGroup | kMetadataTime;
}

std::string DescribeMetadataParts(unsigned parts) {
  static constexpr struct {
    unsigned part;
    std::string_view name;
  } kNames[] = {{kMetadataAttributes, "attributes"},
                {kMetadataMode, "mode"},
                {kMetadataOwner, "owner"},
                {kMetadataGroup, "group"},
                {kMetadataTime, "last-write time"}};
  std::vector<std::string_view> named;
  for (const auto& n : kNames) {
    if (parts & n.part) named.push_back(n.name);
  }
  std::string text;
  for (size_t i = 0; i < named.size(); ++i) {
    if (i > 0) text += i + 1 == named.size() ? " and " : ", ";
    text += named[i];
  }
  return text.empty() ? text : "its " + text;
}

}  // namespace kdr
