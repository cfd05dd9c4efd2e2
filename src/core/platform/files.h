#pragma once
// Files and folders: existence, folder creation, the executable's folder, the
// folder that logs and reports go to, safe file-name parts and whole-file
// writes that never leave a half-written file behind.
#include <string>
#include <string_view>

namespace bms {

// True when path names an existing file or folder.
bool FileExists(const std::string& path);
// True when path names an existing folder.
bool FolderExists(const std::string& path);

// Creates the folder and every missing parent (like mkdir -p). True when the
// folder exists afterwards; otherwise *why (when given) says what failed.
bool MakeDirectories(const std::string& folder, std::string* why = nullptr);

// Full path of the running executable (/proc/self/exe); falls back to argv0
// made absolute, or to argv0 looked up on PATH.
std::string ExecutablePath(const std::string& argv0);
// Folder of the running executable, with a trailing '/'.
std::string ExecutableFolder(const std::string& argv0);

// True when a file can be created in folder (tried, not guessed).
bool FolderWritable(const std::string& folder);

// Where logs and reports are written: the application folder when it is
// writable, else $XDG_DATA_HOME/bmsmon, else ~/.local/share/bmsmon.
struct DataFolderChoice {
  std::string folder;     // trailing '/'
  bool fallback = false;  // not the application folder
  std::string note;       // one line for the operator; empty when not fallen back
};
DataFolderChoice ChooseDataFolderReport(const std::string& app_folder);
std::string ChooseDataFolder(const std::string& app_folder, std::string* note = nullptr);

// Makes operator input (barcode, work number) safe as part of a file name:
// letters, digits, '-', '_' and '.' stay; a space becomes '_'; any other byte
// (and each whole UTF-8 character) becomes '_'; runs of dots shrink to one;
// leading dots go; at most kMaxFileNamePart bytes. The result never contains
// '/', "..", control characters or a leading dot, so a name built from it
// stays in its folder. Empty input (or nothing usable) gives "".
inline constexpr size_t kMaxFileNamePart = 120;
std::string SanitizeFileNamePart(std::string_view text);

// Reads a whole file; false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string* out);

// Reads a local input file (INI, plan, table) the operator or the folder
// supplies: only a regular file of at most max_bytes is read. A FIFO, a
// device (/dev/zero), a folder or a larger file is refused at once, without
// blocking and without reading it; *why then names the file and the reason.
inline constexpr size_t kMaxInputFileBytes = 1024 * 1024;
bool ReadInputFile(const std::string& path, std::string* out, std::string* why = nullptr, size_t max_bytes = kMaxInputFileBytes);

// A file written row by row (logs, exports, the ledger): created anew and
// exclusively (O_EXCL, never through a symbolic link), or opened for
// appending without following a link. Each row goes out in one write; a
// failed or short write is reported at once and the partial row is cut off
// again, so the file always ends after a whole row.
class RowFile {
 public:
  RowFile() = default;
  ~RowFile();
  RowFile(const RowFile&) = delete;
  RowFile& operator=(const RowFile&) = delete;

  // Creates path; fails (EEXIST in *err) when the name is taken, also by a
  // link. *why says what failed, with the path.
  bool Create(const std::string& path, std::string* why = nullptr, int* err = nullptr);
  // Opens path for appending, creating it when missing; a link is refused.
  bool OpenAppend(const std::string& path, std::string* why = nullptr);
  // Writes one row (the caller supplies its line end). False, with *why,
  // when the row could not be written whole; the file then holds no part of
  // it (as far as the file system allows truncation).
  bool WriteRow(std::string_view row, std::string* why = nullptr);
  void Close();
  bool is_open() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

// Replaces path with data as one step: writes a temporary file in the same
// folder, flushes it to disk and renames it over path. An existing file keeps
// its permissions; a crash leaves the old or the new file, never a mix.
bool WriteFileAtomic(const std::string& path, std::string_view data, std::string* why = nullptr);

}  // namespace bms
