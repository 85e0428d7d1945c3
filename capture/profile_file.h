// A user profile file: INI text of [sections] holding key=value lines, read whole and written
// whole. Writes replace the file whole or not at all (imaging/core/file_replacement.h), so a
// crash or a full disk never leaves half a profile behind; a profile that is a link keeps
// being one, and a read-only profile is not written.
//
// Reading never fails: a missing, unreadable, oversized or binary file reads as an empty
// profile, and lines that are neither a section header nor key=value are skipped. Section and
// key names compare without regard to ASCII case, as profile names always have. Text that
// would break the line structure ('%', line breaks, brackets, '=') is stored as %XX.
#pragma once

#include <QString>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

class CProfileFile {
 public:
  explicit CProfileFile(QString path);

  // The folder of this user's profiles: $XDG_CONFIG_HOME/lumora2003, or
  // ~/.config/lumora2003 when the variable is unset or not absolute.
  static QString ProfileDir();

  const QString& Path() const { return m_path; }
  // Replaces the contents with the file's; see above for what reads as empty.
  void Load();
  // Writes the whole profile (creating the folder). False when it could not be written;
  // the previous file is then left as it was.
  bool Save() const;

  std::optional<std::string> Get(std::string_view section, std::string_view key) const;
  // An integer value; `fallback` when the key is absent or its text is not a whole number
  // that fits 32 bits.
  int32_t GetInt(std::string_view section, std::string_view key, int32_t fallback) const;
  // Sets a key, keeping its place; a new key goes to the end of its section, a new section
  // to the end of the file.
  void Set(std::string_view section, std::string_view key, std::string_view value);
  void RemoveSection(std::string_view section);
  // Keys of a section in file order (empty when there is no such section).
  std::vector<std::pair<std::string, std::string>> Keys(std::string_view section) const;

  static std::string Escape(std::string_view text);
  static std::string Unescape(std::string_view text);

 private:
  // Names are looked up through their lower-case form, so that reading a profile of many
  // sections and keys stays linear.
  struct Section {
    std::string name;
    std::vector<std::pair<std::string, std::string>> keys;
    std::unordered_map<std::string, size_t> keyIndex;
    void Set(std::string_view key, std::string_view value);
  };
  Section* Find(std::string_view section);
  const Section* Find(std::string_view section) const;
  Section& FindOrAdd(std::string_view section);

  QString m_path;
  std::vector<Section> m_sections;
  std::unordered_map<std::string, size_t> m_sectionIndex;
};
