#pragma once
// INI files with private-profile semantics, as the stored files expect them:
//
// - section and key names match without regard to ASCII letter case and to
//   blanks (spaces, tabs) around them, in the file and in the call;
// - blanks around a value are dropped, and so is one pair of matching quotes
//   ("..." or '...') around the whole value;
// - a value is cut to kIniMaxValue (511) bytes, the default too (after its
//   trailing blanks are dropped);
// - a missing file, section or key gives the default; the first matching
//   section and the first matching key in it win;
// - lines may end in CR LF or LF; a line starting with ';' is a comment;
//   bytes are passed through as they are (8-bit text, code page 950).
//
// Writing replaces the value of an existing key in place and keeps every
// other byte of the file; a missing key is added after the last line of its
// section, a missing section at the end of the file, a missing file is
// created. New lines use the file's own line ends (CR LF for a new file). The
// file is replaced atomically (temporary file + rename in the same folder).
#include <string>
#include <utility>
#include <vector>

namespace bms {

inline constexpr size_t kIniMaxValue = 511;

// Why an existing file at path cannot serve as an INI file (a pipe, a
// device, a folder, larger than 1 MiB, unreadable); "" when it can or when
// there is no file. The lookups treat such a file as missing.
std::string IniFileProblem(const std::string& path);

std::string GetPrivateProfileString(const std::string& section, const std::string& key, const std::string& default_value, const std::string& path);

// The value as an integer: optional blanks and sign, then decimal digits, or
// hexadecimal digits after "0x"; reading stops at the first other character
// ("12abc" gives 12, "abc" gives 0). A missing key or an empty value gives
// default_value. Values wrap to 32 bits as the platform's function does.
int GetPrivateProfileInt(const std::string& section, const std::string& key, int default_value, const std::string& path);

// False (and the file untouched) when the file cannot be written, or when a
// name is empty or a name or the value holds a line break (which would forge
// other keys), or a section name holds ']' or a key '='.
bool WritePrivateProfileString(const std::string& section, const std::string& key, const std::string& value, const std::string& path, std::string* why = nullptr);

// Several keys of one section in one step: the same as writing them one by
// one in order, but the file is replaced once, and not at all when any of
// them is refused.
bool WritePrivateProfileStrings(const std::string& section, const std::vector<std::pair<std::string, std::string>>& entries, const std::string& path, std::string* why = nullptr);

}  // namespace bms
