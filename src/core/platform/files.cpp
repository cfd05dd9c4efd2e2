#include "core/platform/files.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

namespace bms {

namespace {

std::string ErrnoText(int err) { return std::error_code(err, std::generic_category()).message(); }

std::string WithSlash(std::string folder) {
  if (folder.empty()) return "./";
  if (folder.back() != '/') folder += '/';
  return folder;
}

std::string ParentFolder(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string CurrentFolder() {
  char buf[PATH_MAX];
  if (::getcwd(buf, sizeof buf) == nullptr) return ".";
  return buf;
}

// The process's file-creation mask, read without changing it (umask() would
// race with other threads creating files).
mode_t CurrentUmask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
  }
  return 022;
}

}  // namespace

bool FileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

bool FolderExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirectories(const std::string& folder, std::string* why) {
  if (folder.empty()) {
    if (why) *why = "no folder name";
    return false;
  }
  std::string partial;
  size_t pos = 0;
  while (pos <= folder.size()) {
    size_t slash = folder.find('/', pos);
    if (slash == std::string::npos) slash = folder.size();
    partial = folder.substr(0, slash);
    pos = slash + 1;
    if (partial.empty() || partial == "." || partial == "..") continue;
    if (::mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) {
      const int err = errno;
      if (!FolderExists(partial)) {
        if (why) *why = "cannot create the folder " + partial + ": " + ErrnoText(err);
        return false;
      }
    }
  }
  if (!FolderExists(folder)) {
    if (why) *why = folder + " exists but is not a folder";
    return false;
  }
  return true;
}

std::string ExecutablePath(const std::string& argv0) {
  std::vector<char> buf(PATH_MAX + 1);
  const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n > 0) return std::string(buf.data(), static_cast<size_t>(n));
  if (argv0.empty()) return "";
  if (argv0.find('/') != std::string::npos) return argv0.front() == '/' ? argv0 : CurrentFolder() + "/" + argv0;
  const char* path_env = ::getenv("PATH");
  std::stringstream dirs(path_env ? path_env : "");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    const std::string candidate = (dir.empty() ? "." : dir) + "/" + argv0;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate.front() == '/' ? candidate : CurrentFolder() + "/" + candidate;
  }
  return argv0;
}

std::string ExecutableFolder(const std::string& argv0) {
  const std::string exe = ExecutablePath(argv0);
  if (exe.find('/') == std::string::npos) return WithSlash(CurrentFolder());
  return WithSlash(ParentFolder(exe));
}

bool FolderWritable(const std::string& folder) {
  std::string name = WithSlash(folder) + ".bmsmon_write_test_XXXXXX";
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return false;
  ::close(fd);
  ::unlink(name.c_str());
  return true;
}

DataFolderChoice ChooseDataFolderReport(const std::string& app_folder) {
  DataFolderChoice c;
  if (!app_folder.empty() && FolderWritable(app_folder)) {
    c.folder = WithSlash(app_folder);
    return c;
  }
  std::string base;
  const char* xdg = ::getenv("XDG_DATA_HOME");
  if (xdg != nullptr && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = ::getenv("HOME");
    std::string home_dir = home != nullptr && home[0] == '/' ? home : "";
    if (home_dir.empty()) {
      if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) home_dir = pw->pw_dir;
    }
    base = (home_dir.empty() ? std::string("/tmp") : home_dir) + "/.local/share";
  }
  c.folder = WithSlash(base + "/bmsmon");
  c.fallback = true;
  std::string why;
  if (MakeDirectories(c.folder, &why))
    c.note = "the application folder " + app_folder + " is not writable: logs and reports go to " + c.folder;
  else
    c.note = "neither the application folder " + app_folder + " nor " + c.folder + " is writable (" + why + ")";
  return c;
}

std::string ChooseDataFolder(const std::string& app_folder, std::string* note) {
  DataFolderChoice c = ChooseDataFolderReport(app_folder);
  if (note) *note = c.note;
  return c.folder;
}

std::string SanitizeFileNamePart(std::string_view text) {
  std::string out;
  size_t i = 0;
  while (i < text.size() && out.size() < kMaxFileNamePart) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' || c == '_') {
      out += static_cast<char>(c);
      ++i;
    } else if (c == '.') {
      if (!out.empty() && out.back() != '.') out += '.';  // no leading dot, no ".."
      ++i;
    } else if (c < 0x20 || c == 0x7F) {
      ++i;  // control characters (a scanner's CR LF) carry nothing
    } else if (c >= 0xC2 && c <= 0xF4) {
      // One UTF-8 character, however many bytes, becomes one '_'.
      const size_t len = c >= 0xF0 ? 4 : (c >= 0xE0 ? 3 : 2);
      size_t k = 1;
      while (k < len && i + k < text.size() && (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80) ++k;
      out += '_';
      i += k;
    } else {
      out += '_';  // space, '/', '\\', ':', '*' and every other byte
      ++i;
    }
  }
  while (!out.empty() && out.back() == '.') out.pop_back();
  return out;
}

bool ReadWholeFile(const std::string& path, std::string* out) {
  out->clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buf[65536];
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) {
      out->append(buf, static_cast<size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      ok = false;
      break;
    }
  }
  ::close(fd);
  return ok;
}

bool ReadInputFile(const std::string& path, std::string* out, std::string* why, size_t max_bytes) {
  out->clear();
  auto refuse = [&](const std::string& text) {
    if (why) *why = "cannot read " + path + ": " + text;
    return false;
  };
  // O_NONBLOCK: opening a FIFO with no writer must not wait for one.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return refuse(ErrnoText(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    return refuse(ErrnoText(err));
  }
  std::string kind;
  if (S_ISDIR(st.st_mode))
    kind = "it is a folder, not a file";
  else if (S_ISFIFO(st.st_mode))
    kind = "it is a pipe (FIFO), not a file";
  else if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
    kind = "it is a device, not a file";
  else if (S_ISSOCK(st.st_mode))
    kind = "it is a socket, not a file";
  else if (!S_ISREG(st.st_mode))
    kind = "it is not a regular file";
  else if (static_cast<uint64_t>(st.st_size) > max_bytes)
    kind = "it is larger than " + std::to_string(max_bytes / 1024) + " KiB (" + std::to_string(st.st_size) + " bytes)";
  if (!kind.empty()) {
    ::close(fd);
    return refuse(kind);
  }
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) {
      out->append(buf, static_cast<size_t>(n));
      if (out->size() > max_bytes) {  // grew while being read
        ::close(fd);
        out->clear();
        return refuse("it is larger than " + std::to_string(max_bytes / 1024) + " KiB");
      }
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      const int err = errno;
      ::close(fd);
      out->clear();
      return refuse(ErrnoText(err));
    }
  }
  ::close(fd);
  return true;
}

RowFile::~RowFile() { Close(); }

bool RowFile::Create(const std::string& path, std::string* why, int* err) {
  Close();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd < 0) {
    const int e = errno;
    if (err) *err = e;
    if (why) *why = "cannot create " + path + ": " + (e == EEXIST ? std::string("the name is taken") : ErrnoText(e));
    return false;
  }
  if (err) *err = 0;
  fd_ = fd;
  path_ = path;
  return true;
}

bool RowFile::OpenAppend(const std::string& path, std::string* why) {
  Close();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd < 0) {
    const int e = errno;
    if (why) *why = "cannot open " + path + ": " + (e == ELOOP ? std::string("it is a symbolic link") : ErrnoText(e));
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    if (why) *why = "cannot open " + path + ": it is not a regular file";
    return false;
  }
  fd_ = fd;
  path_ = path;
  return true;
}

bool RowFile::WriteRow(std::string_view row, std::string* why) {
  if (fd_ < 0) {
    if (why) *why = "the file is not open";
    return false;
  }
  const off_t start = ::lseek(fd_, 0, SEEK_END);
  size_t done = 0;
  while (done < row.size()) {
    const ssize_t n = ::write(fd_, row.data() + done, row.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int e = n < 0 ? errno : ENOSPC;
      if (start >= 0 && done > 0 && ::ftruncate(fd_, start) != 0) {
        // The partial row stays; the caller reports the failure.
      }
      if (why) *why = "cannot write " + path_ + ": " + ErrnoText(e);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

void RowFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool WriteFileAtomic(const std::string& path, std::string_view data, std::string* why) {
  auto failed = [&](const std::string& text) {
    if (why) *why = "cannot write " + path + ": " + text;
    return false;
  };
  if (path.empty()) return failed("no file name");

  // A symbolic link stays a link: its target is replaced.
  std::string target = path;
  struct stat lst {};
  if (::lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
    if (char* real = ::realpath(path.c_str(), nullptr)) {
      target = real;
      ::free(real);
    }
  }
  struct stat st {};
  const bool exists = ::stat(target.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) return failed("it is a folder");
  const mode_t mode = exists ? (st.st_mode & 07777) : (0666 & ~CurrentUmask());

  std::string tmp = target + ".tmpXXXXXX";
  const int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
  if (fd < 0) return failed(ErrnoText(errno));
  auto abandon = [&](int err) {
    ::close(fd);
    ::unlink(tmp.c_str());
    return failed(ErrnoText(err));
  };
  if (::fchmod(fd, mode) != 0) return abandon(errno);
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return abandon(errno);
    }
    done += static_cast<size_t>(n);
  }
  if (::fsync(fd) != 0) return abandon(errno);
  if (::close(fd) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    return failed(ErrnoText(err));
  }
  if (::rename(tmp.c_str(), target.c_str()) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    return failed(ErrnoText(err));
  }
  // Make the rename itself durable.
  const int dir = ::open(ParentFolder(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

}  // namespace bms
