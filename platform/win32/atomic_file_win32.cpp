#include <windows.h>

#include "platform/atomic_file.h"
#include "platform/file_metadata.h"
#include "platform/swept_folders.h"
#include "platform/temp_file_name.h"
#include "platform/win32/staging_folder.h"
#include "platform/win32/unique_handle.h"

namespace fs = std::filesystem;

namespace kdr {
namespace {

FileResult LastError(std::string_view call) {
  return FileResult::Fail(static_cast<Status>(GetLastError()), call, "");
}

bool WriterIsGone(uint64_t pid) {
  if (pid == GetCurrentProcessId() || pid > 0xffffffffu) return false;
  FileHandle process(OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid)));
  if (!process.ok()) return GetLastError() == ERROR_INVALID_PARAMETER;
  return WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0;
}

FileResult WriteAll(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD chunk = bytes.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data(), chunk, &written, nullptr)) return LastError("WriteFile");
    if (written == 0) return FileResult::Fail(ERROR_HANDLE_DISK_FULL, "WriteFile", "");
    bytes.remove_prefix(written);
  }
  return FileResult::Ok();
}

}  // namespace

void RemoveStaleTempFiles(const fs::path& folder) {
  WIN32_FIND_DATAW entry;
  FindHandle find(FindFirstFileW((folder / L"*").c_str(), &entry));
  if (!find.ok()) return;
  do {
    std::wstring name = entry.cFileName;
    // The names are ASCII: a narrowing copy reads them.
    std::string ascii;
    for (wchar_t c : name) ascii.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    std::optional<uint64_t> writer = TempFileWriter(ascii);
    if (!writer || !WriterIsGone(*writer)) continue;
    // A folder of that name is a folder copy's staging folder (staging_folder.h); a link of
    // that name is removed as a link.
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      DeleteFileW((folder / name).c_str());
    } else if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      RemoveDirectoryW((folder / name).c_str());
    } else {
      RemoveTree((folder / name).wstring());
    }
  } while (FindNextFileW(find.get(), &entry));
}

FileResult WriteFileAtomically(const fs::path& path, std::string_view bytes) {
  return WriteFileAtomically(path, [bytes](const PutBytes& put) { return put(bytes); });
}

FileResult WriteFileAtomically(const fs::path& path, const ProduceBytes& produce,
                               const AtomicWriteOptions& options) {
  if (!path.has_filename()) return FileResult::Fail(ERROR_ACCESS_DENIED, "CreateFile", "");
  fs::path folder = path.parent_path();
  if (fs::path where = folder.empty() ? fs::path(L".") : folder; FirstSweepOf(where)) {
    RemoveStaleTempFiles(where);
  }
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return FileResult::Fail(ERROR_ACCESS_DENIED, "CreateFile", "");
  }
  // A name no other writer uses; CREATE_NEW makes sure of it.
  fs::path temp;
  FileHandle file;
  for (int attempt = 0; attempt < 100 && !file.ok(); ++attempt) {
    temp = folder / NextTempFileName(GetCurrentProcessId());
    file.Reset(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.ok() && GetLastError() != ERROR_FILE_EXISTS) return LastError("CreateFile");
  }
  if (!file.ok()) return FileResult::Fail(ERROR_FILE_EXISTS, "CreateFile", "");
  FileResult result = FileResult::Ok();
  bool produced = produce([&](std::string_view piece) {
    if (result) result = WriteAll(file.get(), piece);
    return result.ok();
  });
  if (result && !produced) result = FileResult::Fail(ERROR_CANCELLED, "WriteFile", "");
  if (result && !FlushFileBuffers(file.get())) result = LastError("FlushFileBuffers");
  if (!file.Close() && result) result = LastError("CloseHandle");
  if (result && options.unchanged && !options.unchanged(path)) {
    result = FileResult::Fail(ERROR_CANCELLED, "MoveFileEx", "");
  }
  // MoveFileEx refuses to replace a read-only file (Wine replaces it): POSIX asks only the
  // folder, so the attribute is lifted for the move, and put back on whichever file is there.
  bool existed = attributes != INVALID_FILE_ATTRIBUTES;
  bool lifted = result && existed && (attributes & FILE_ATTRIBUTE_READONLY) &&
                SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  // The move is the moment the new content appears, whole. A file open elsewhere cannot be
  // replaced: with wait_while_open such a refusal is tried again for about a second.
  for (int attempt = 0; result; ++attempt) {
    if (MoveFileExW(temp.c_str(), path.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      break;
    }
    DWORD code = GetLastError();
    if (options.wait_while_open && attempt < 50 &&
        (code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION)) {
      Sleep(20);
      continue;
    }
    result = FileResult::Fail(static_cast<Status>(code), "MoveFileEx", "");
  }
  if (!result) DeleteFileW(temp.c_str());
  // A replaced file keeps its attributes, as a POSIX one keeps its mode; new content is to be
  // archived.
  if (result && existed) {
    SetFileAttributesW(path.c_str(), (attributes & kKeptAttributes) | FILE_ATTRIBUTE_ARCHIVE);
  } else if (lifted) {
    SetFileAttributesW(path.c_str(), attributes);
  }
  return result;
}

FileResult AppendToFile(const fs::path& path, std::string_view bytes) {
  // Written through to the disk: FlushFileBuffers would need write access beyond appending,
  // and with it each write would go where the file pointer is rather than at the end.
  FileHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
  if (!file.ok()) return LastError("CreateFile");
  FileResult result = WriteAll(file.get(), bytes);
  if (!file.Close() && result) result = LastError("CloseHandle");
  return result;
}

}  // namespace kdr
