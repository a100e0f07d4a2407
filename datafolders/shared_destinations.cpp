#include "datafolders/shared_destinations.h"

#include <map>
#include <string>

#include "platform/cp932.h"

namespace kdr {

bool CopiesWritingOverEarlier(FileSystem& files, const std::vector<FolderCopy>& copies,
                              std::vector<bool>* refused, std::string* unlisted) {
  refused->assign(copies.size(), false);
  // Only copies into one folder, or into folders one inside the other, can write one file: the
  // usual data paths apart from each other need no listing.
  bool nested = false;
  for (size_t i = 0; i < copies.size() && !nested; ++i) {
    for (size_t j = i + 1; j < copies.size() && !nested; ++j) {
      nested = Cp932StartsWithNoCase(copies[i].destination, copies[j].destination) ||
               Cp932StartsWithNoCase(copies[j].destination, copies[i].destination);
    }
  }
  if (!nested) return true;
  // Every destination file so far, as Windows compares names, with the copy that writes it.
  std::map<std::string, size_t> written;
  std::vector<std::string> names;
  for (size_t i = 0; i < copies.size(); ++i) {
    names.clear();
    if (!files.IsFolder(copies[i].source)) continue;
    if (!files.ListFiles(copies[i].source, &names)) {
      *unlisted = copies[i].source;
      return false;
    }
    std::vector<std::string> mine;
    mine.reserve(names.size());
    for (const std::string& name : names) {
      std::string key = Cp932UpperCase(copies[i].destination + name);
      auto it = written.find(key);
      if (it != written.end() && it->second != i) (*refused)[i] = true;
      mine.push_back(std::move(key));
    }
    // A refused copy writes nothing, so it takes no file from a later one.
    if ((*refused)[i]) continue;
    for (std::string& key : mine) written.emplace(std::move(key), i);
  }
  return true;
}

}  // namespace kdr
