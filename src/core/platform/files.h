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

// Replaces path with data as one step: writes a temporary file in the same
// folder, flushes it to disk and renames it over path. An existing file keeps
// its permissions; a crash leaves the old or the new file, never a mix.
bool WriteFileAtomic(const std::string& path, std::string_view data, std::string* why = nullptr);

}  // namespace bms
