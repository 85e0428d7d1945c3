#include "capture/profile_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <charconv>
#include <cstring>

#include "imaging/core/file_replacement.h"

namespace {

// A profile is a few kilobytes; anything far larger is not one.
constexpr qint64 kMaxProfileBytes = 1 << 20;

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return out;
}

std::string_view Trim(std::string_view s) {
  const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!s.empty() && space(s.front())) s.remove_prefix(1);
  while (!s.empty() && space(s.back())) s.remove_suffix(1);
  return s;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

CProfileFile::CProfileFile(QString path) : m_path(std::move(path)) {}

QString CProfileFile::ProfileDir() {
  QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
  if (base.isEmpty() || !QDir::isAbsolutePath(base)) base = QDir::homePath() + "/.config";
  return base + "/lumora2003";
}

void CProfileFile::Load() {
  m_sections.clear();
  m_sectionIndex.clear();
  QFile file(m_path);
  if (!file.open(QIODevice::ReadOnly)) return;
  if (file.size() > kMaxProfileBytes) return;
  const QByteArray bytes = file.read(kMaxProfileBytes + 1);
  if (bytes.size() > kMaxProfileBytes || bytes.contains('\0')) return;
  Section* current = nullptr;
  for (const QByteArray& raw : bytes.split('\n')) {
    const std::string_view line = Trim(std::string_view(raw.constData(), size_t(raw.size())));
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      const size_t end = line.find(']');
      if (end == std::string_view::npos) {
        current = nullptr;  // a broken header: its keys belong to no section
        continue;
      }
      current = &FindOrAdd(Unescape(Trim(line.substr(1, end - 1))));
      continue;
    }
    const size_t eq = line.find('=');
    if (!current || eq == std::string_view::npos || eq == 0) continue;
    // The last of repeated keys wins.
    current->Set(Unescape(Trim(line.substr(0, eq))), Unescape(Trim(line.substr(eq + 1))));
  }
}

bool CProfileFile::Save() const {
  const QFileInfo info(m_path);
  if (!QDir().mkpath(info.absolutePath())) return false;
  std::string text;
  for (const Section& s : m_sections) {
    text += '[' + Escape(s.name) + "]\n";
    for (const auto& [key, value] : s.keys) text += Escape(key) + '=' + Escape(value) + '\n';
  }
  CFileReplacement file;
  return file.Open(QFile::encodeName(m_path).toStdString()) == 0 &&
         file.CommitWith(text.data(), text.size()) == 0;
}

void CProfileFile::Section::Set(std::string_view key, std::string_view value) {
  const auto [it, added] = keyIndex.try_emplace(Lower(key), keys.size());
  if (added)
    keys.emplace_back(std::string(key), std::string(value));
  else
    keys[it->second].second = value;
}

CProfileFile::Section* CProfileFile::Find(std::string_view section) {
  const auto it = m_sectionIndex.find(Lower(section));
  return it == m_sectionIndex.end() ? nullptr : &m_sections[it->second];
}

const CProfileFile::Section* CProfileFile::Find(std::string_view section) const {
  return const_cast<CProfileFile*>(this)->Find(section);
}

CProfileFile::Section& CProfileFile::FindOrAdd(std::string_view section) {
  const auto [it, added] = m_sectionIndex.try_emplace(Lower(section), m_sections.size());
  if (added) m_sections.push_back(Section{std::string(section), {}, {}});
  return m_sections[it->second];
}

std::optional<std::string> CProfileFile::Get(std::string_view section,
                                             std::string_view key) const {
  const Section* s = Find(section);
  if (!s) return std::nullopt;
  const auto it = s->keyIndex.find(Lower(key));
  if (it == s->keyIndex.end()) return std::nullopt;
  return s->keys[it->second].second;
}

int32_t CProfileFile::GetInt(std::string_view section, std::string_view key,
                             int32_t fallback) const {
  const std::optional<std::string> text = Get(section, key);
  if (!text || text->empty()) return fallback;
  int32_t value = 0;
  const char* first = text->data();
  const char* last = first + text->size();
  if (*first == '+') ++first;
  const auto [end, ec] = std::from_chars(first, last, value);
  return ec == std::errc() && end == last ? value : fallback;
}

void CProfileFile::Set(std::string_view section, std::string_view key, std::string_view value) {
  FindOrAdd(section).Set(key, value);
}

void CProfileFile::RemoveSection(std::string_view section) {
  const auto it = m_sectionIndex.find(Lower(section));
  if (it == m_sectionIndex.end()) return;
  m_sections.erase(m_sections.begin() + std::ptrdiff_t(it->second));
  m_sectionIndex.clear();
  for (size_t i = 0; i < m_sections.size(); ++i) m_sectionIndex.emplace(Lower(m_sections[i].name), i);
}

std::vector<std::pair<std::string, std::string>> CProfileFile::Keys(
    std::string_view section) const {
  const Section* s = Find(section);
  return s ? s->keys : std::vector<std::pair<std::string, std::string>>{};
}

std::string CProfileFile::Escape(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (c == '\0' || std::strchr("%[]=;\r\n", c)) {
      out += '%';
      out += kHex[(unsigned char)c >> 4];
      out += kHex[(unsigned char)c & 15];
    } else {
      out += c;
    }
  }
  return out;
}

std::string CProfileFile::Unescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
        HexDigit(text[i + 2]) >= 0) {
      out += char(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}
