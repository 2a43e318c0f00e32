// Profile (INI) files with the reader and writer semantics of the Win32 private-profile calls.
#include "qvlink/platform/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "../common/text_rules.h"

namespace qv::platform {

namespace {

// Profiles are a few kilobytes; anything this large is not one and is not slurped.
constexpr size_t kMaxProfileBytes = 16u * 1024u * 1024u;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

enum class LineKind : uint8_t { Other, Section, Key };

// One line of the file: [begin, end) without its line break; breakEnd after the break.
struct Line {
  size_t begin, end, breakEnd;
  LineKind kind;
  std::string_view name;   // section or key name, trimmed
  std::string_view value;  // key value, trimmed (for Key lines)
  size_t valueBegin;       // offset where the value starts (Key lines)
};

std::vector<Line> SplitLines(const std::string& text) {
  std::vector<Line> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    const size_t breakEnd = nl == std::string::npos ? text.size() : nl + 1;
    size_t end = nl == std::string::npos ? text.size() : nl;
    if (end > pos && text[end - 1] == '\r') --end;
    Line l{pos, end, breakEnd, LineKind::Other, {}, {}, 0};
    std::string_view body(text.data() + pos, end - pos);
    std::string_view t = Trim(body);
    if (!t.empty() && t.front() == '[') {
      t.remove_prefix(1);
      const size_t close = t.find(']');
      l.kind = LineKind::Section;
      l.name = Trim(close == std::string_view::npos ? t : t.substr(0, close));
    } else if (!t.empty() && t.front() != ';') {
      const size_t eq = body.find('=');
      if (eq != std::string_view::npos) {
        l.kind = LineKind::Key;
        l.name = Trim(body.substr(0, eq));
        size_t vb = eq + 1;
        while (vb < body.size() && IsBlank(body[vb])) ++vb;
        l.valueBegin = pos + vb;
        l.value = Trim(body.substr(eq + 1));
      }
    }
    lines.push_back(l);
    pos = breakEnd;
  }
  return lines;
}

// Reads the whole file. False when it is missing, unreadable or implausibly large.
bool ReadWholeFile(const char* path, std::string& out) {
  // Non-blocking, so a FIFO put in the file's place cannot hang the caller in open().
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<uint64_t>(st.st_size) > kMaxProfileBytes) {
    ::close(fd);
    return false;
  }
  out.clear();
  char chunk[8192];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    out.append(chunk, static_cast<size_t>(n));
    if (out.size() > kMaxProfileBytes) {
      ::close(fd);
      return false;
    }
  }
  ::close(fd);
  return true;
}

uint32_t CopyOut(std::string_view s, char* buf, uint32_t bufSize) {
  const size_t n = s.size() < bufSize - 1u ? s.size() : bufSize - 1u;
  if (n > 0) std::memcpy(buf, s.data(), n);
  buf[n] = '\0';
  return static_cast<uint32_t>(n);
}

// Index of the first section named `section`, or lines.size().
size_t FindSection(const std::vector<Line>& lines, std::string_view section) {
  for (size_t i = 0; i < lines.size(); ++i)
    if (lines[i].kind == LineKind::Section && EqualNoCase(lines[i].name, section)) return i;
  return lines.size();
}

// Index one past the last line of the section whose header is at `header`.
size_t SectionEnd(const std::vector<Line>& lines, size_t header) {
  size_t i = header + 1;
  while (i < lines.size() && lines[i].kind != LineKind::Section) ++i;
  return i;
}

size_t FindKey(const std::vector<Line>& lines, size_t header, std::string_view key) {
  const size_t end = SectionEnd(lines, header);
  for (size_t i = header + 1; i < end; ++i)
    if (lines[i].kind == LineKind::Key && EqualNoCase(lines[i].name, key)) return i;
  return lines.size();
}

// A value in matching quotes is returned without them, as the Win32 reader does.
std::string_view Unquote(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    return v.substr(1, v.size() - 2);
  return v;
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t w = ::write(fd, text.data() + done, text.size() - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    done += static_cast<size_t>(w);
  }
  return true;
}

enum class Replace : uint8_t { Done, CannotReplace, Failed };

// Writes `text` to a temporary file beside `path`, gives it the old file's owner and mode and
// renames it over `path`. CannotReplace, with nothing changed, when no temporary can be made
// beside it or the owner cannot be kept (the caller then writes in place).
Replace ReplaceFileAtomically(const std::string& path, const std::string& text, mode_t mode,
                              const struct stat* old) {
  std::string tmpl = path + ".tmpXXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  const int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return Replace::CannotReplace;
  if (old != nullptr) {
    struct stat mine {};
    if (fstat(fd, &mine) != 0 ||
        ((mine.st_uid != old->st_uid || mine.st_gid != old->st_gid) &&
         fchown(fd, old->st_uid, old->st_gid) != 0)) {
      ::close(fd);
      ::unlink(name.data());
      return Replace::CannotReplace;
    }
  }
  // After the chown, which may clear set-id bits.
  bool ok = fchmod(fd, mode) == 0 && WriteAll(fd, text) && fsync(fd) == 0;
  if (::close(fd) != 0) ok = false;
  if (ok && std::rename(name.data(), path.c_str()) != 0) ok = false;
  if (!ok) ::unlink(name.data());
  return ok ? Replace::Done : Replace::Failed;
}

// Rewrites the file through its own inode: owner, mode and every hard link stay.
bool RewriteInPlace(const std::string& path, const std::string& text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && WriteAll(fd, text) &&
            ftruncate(fd, static_cast<off_t>(text.size())) == 0 && fsync(fd) == 0;
  if (::close(fd) != 0) ok = false;
  return ok;
}

// Stores the new text of the profile. A file without write permission is refused, as the
// Win32 writer refuses a read-only file; an existing file keeps its owner, mode and links.
bool StoreProfile(const std::string& path, const std::string& text, const struct stat* old) {
  if (old == nullptr) return ReplaceFileAtomically(path, text, 0644, nullptr) == Replace::Done;
  if ((old->st_mode & 0222) == 0 || faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) {
    errno = EACCES;
    return false;
  }
  // A rename would leave the other names of a hard-linked file with the old text.
  if (old->st_nlink == 1) {
    const Replace r = ReplaceFileAtomically(path, text, old->st_mode & 07777, old);
    if (r != Replace::CannotReplace) return r == Replace::Done;
  }
  return RewriteInPlace(path, text);
}

}  // namespace

bool ResolveProfilePath(const char* fileName, char* out, size_t outSize) {
  if (out == nullptr || outSize == 0) return false;
  out[0] = '\0';
  if (fileName == nullptr || fileName[0] == '\0') return false;
  int len;
  if (std::strchr(fileName, '/') != nullptr) {
    len = std::snprintf(out, outSize, "%s", fileName);
  } else {
    const char* dir = std::getenv("QV_PROFILE_DIR");
    if (dir == nullptr || dir[0] == '\0') dir = "/etc/qvlink";
    const size_t dl = std::strlen(dir);
    len = std::snprintf(out, outSize, dl > 0 && dir[dl - 1] == '/' ? "%s%s" : "%s/%s", dir,
                        fileName);
  }
  if (len < 0 || static_cast<size_t>(len) >= outSize) {
    out[0] = '\0';
    return false;
  }
  return true;
}

uint32_t ReadProfileString(const char* section, const char* key, const char* defaultText,
                           char* buf, uint32_t bufSize, const char* fileName) {
  if (buf == nullptr || bufSize == 0) return 0;
  const std::string_view fallback = defaultText ? defaultText : "";
  if (section == nullptr || key == nullptr) return CopyOut(fallback, buf, bufSize);

  char path[PATH_MAX];
  std::string text;
  if (!ResolveProfilePath(fileName, path, sizeof path) || !ReadWholeFile(path, text))
    return CopyOut(fallback, buf, bufSize);

  const std::vector<Line> lines = SplitLines(text);
  const size_t header = FindSection(lines, Trim(section));
  if (header == lines.size()) return CopyOut(fallback, buf, bufSize);
  const size_t k = FindKey(lines, header, Trim(key));
  if (k == lines.size()) return CopyOut(fallback, buf, bufSize);
  return CopyOut(Unquote(lines[k].value), buf, bufSize);
}

bool WriteProfileString(const char* section, const char* key, const char* value,
                        const char* fileName) {
  if (!detail::ProfileTextAcceptable(section, key, value)) return false;
  const std::string_view sec = Trim(section);
  const std::string_view k = key ? Trim(key) : std::string_view{};
  const std::string_view v = value ? Trim(value) : std::string_view{};

  char pathBuf[PATH_MAX];
  if (!ResolveProfilePath(fileName, pathBuf, sizeof pathBuf)) return false;
  std::string path = pathBuf;
  // Write through a symbolic link to its target, so the link stays a link.
  char real[PATH_MAX];
  if (realpath(pathBuf, real) != nullptr) path = real;

  std::string text;
  struct stat st {};
  const bool exists = ::stat(path.c_str(), &st) == 0;
  if (exists) {
    if (!ReadWholeFile(path.c_str(), text)) return false;
  } else if (errno != ENOENT) {
    return false;
  }

  // New lines follow the file's own line breaks.
  const std::string eol = text.find("\r\n") != std::string::npos ? "\r\n" : "\n";
  const std::vector<Line> lines = SplitLines(text);
  const size_t header = FindSection(lines, sec);
  std::string out;

  if (header == lines.size()) {
    if (key == nullptr || value == nullptr) return true;  // nothing to delete
    out = text;
    if (!out.empty() && out.back() != '\n') out += eol;
    if (!lines.empty() && !Trim(std::string_view(text).substr(lines.back().begin,
                                                            lines.back().end - lines.back().begin))
                                .empty())
      out += eol;  // a blank line between sections
    out.append("[").append(sec).append("]").append(eol);
    out.append(k).append("=").append(v).append(eol);
  } else if (key == nullptr) {
    // Delete the whole section.
    const size_t end = SectionEnd(lines, header);
    const size_t from = lines[header].begin;
    const size_t to = end < lines.size() ? lines[end].begin : text.size();
    out = text.substr(0, from) + text.substr(to);
  } else {
    const size_t found = FindKey(lines, header, k);
    if (found != lines.size()) {
      const Line& l = lines[found];
      if (value == nullptr) {
        out = text.substr(0, l.begin) + text.substr(l.breakEnd);
      } else {
        // Only the value changes; the key's spelling, spacing and line break stay.
        out = text.substr(0, l.valueBegin);
        out.append(v);
        out.append(text, l.end, std::string::npos);
      }
    } else {
      if (value == nullptr) return true;
      // After the section's last key (or its header): comments and blank lines that
      // follow the last key stay where they are, ahead of the next section.
      const size_t end = SectionEnd(lines, header);
      size_t after = header;
      for (size_t i = header + 1; i < end; ++i)
        if (lines[i].kind == LineKind::Key) after = i;
      const Line& l = lines[after];
      out = text.substr(0, l.breakEnd);
      if (l.breakEnd == l.end) out += eol;  // the last line had no line break
      out.append(k).append("=").append(v).append(eol);
      out.append(text, l.breakEnd, std::string::npos);
    }
  }
  return StoreProfile(path, out, exists ? &st : nullptr);
}

}  // namespace qv::platform
