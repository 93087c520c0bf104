#include "tasks/create_cat.h"

#include <fcntl.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>

#include "base/file_publish.h"
#include "base/paths.h"
#include "base/run_log.h"
#include "base/status.h"
#include "base/utf8.h"
#include "formats/catalog/catalog_file.h"
#include "sign/catalog_member.h"
#include "tasks/task_texts.h"

namespace corvane {
namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() &&
         (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n'))
    text.remove_suffix(1);
  return text;
}

// Writes `bytes` to a new file beside `path` and renames it over `path`; `mode` is the new
// file's permission bits. False, with nothing changed at `path`, when any step fails.
// The INF text with the key set: lines keep their own ends, added lines get the file's.
std::string SetVersionCatalogFile(const std::string& text, const std::string& value) {
  const std::string eol = text.find("\r\n") != std::string::npos ? "\r\n" : "\n";
  const std::string entry = "CatalogFile=" + value;
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    end = end == std::string::npos ? text.size() : end + 1;
    lines.push_back(text.substr(at, end - at));
    at = end;
  }
  auto lineEnd = [](const std::string& line) {
    if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0)
      return std::string("\r\n");
    if (!line.empty() && line.back() == '\n') return std::string("\n");
    return std::string();
  };

  bool inVersion = false;
  std::size_t sectionLast = std::string::npos;  // last non-blank line of the version section
  bool found = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string_view line = Trim(lines[i]);
    if (!line.empty() && line.front() == '[') {
      std::size_t close = line.find(']');
      if (close != std::string_view::npos) {
        if (inVersion && found) break;
        bool version = EqualsNoCase(Trim(line.substr(1, close - 1)), "version");
        if (inVersion && !version) break;  // the first version section takes the key
        inVersion = version;
        if (inVersion) sectionLast = i;
        continue;
      }
    }
    if (!inVersion || line.empty()) continue;
    sectionLast = i;
    if (line.front() == ';') continue;
    std::size_t equals = line.find('=');
    if (equals != std::string_view::npos &&
        EqualsNoCase(Trim(line.substr(0, equals)), "CatalogFile")) {
      std::string end = lineEnd(lines[i]);
      lines[i] = entry + (end.empty() ? "" : end);
      found = true;
      break;
    }
  }
  if (!found) {
    if (sectionLast == std::string::npos) {
      if (!lines.empty() && lineEnd(lines.back()).empty()) lines.back() += eol;
      lines.push_back("[version]" + eol);
      lines.push_back(entry + eol);
    } else {
      if (lineEnd(lines[sectionLast]).empty()) lines[sectionLast] += eol;
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(sectionLast) + 1, entry + eol);
    }
  }
  std::string out;
  for (const std::string& line : lines) out += line;
  return out;
}

// Stores the catalog at `productPath`; raises "undefined" when it cannot be written.
void PersistCatalog(const catalog::Catalog& store, const std::string& productPath) {
  if (!PublishFile(productPath, catalog::Encode(store), NewFileMode()))
    RaiseStatus(StatusCode::Undefined);
}

}  // namespace

bool WriteInfCatalogFile(const std::string& rowPath, const std::string& productPath) {
  std::size_t dot = rowPath.rfind('.');
  if (dot == std::string::npos || rowPath.compare(dot, std::string::npos, ".inf") != 0) return true;
  std::ifstream in(rowPath, std::ios::binary);
  if (!in) return false;
  std::ostringstream content;
  content << in.rdbuf();
  std::string bytes = content.str();
  struct stat st {};
  if (::stat(rowPath.c_str(), &st) != 0) return false;

  const std::string value = FileNameOf(productPath);
  const bool utf16 = bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
                     static_cast<unsigned char>(bytes[1]) == 0xFE;
  std::string updated;
  if (utf16) {
    std::string text = Utf16LeToUtf8(std::string_view(bytes).substr(2));
    updated = "\xFF\xFE" + Utf8ToUtf16Le(SetVersionCatalogFile(text, value));
  } else {
    updated = SetVersionCatalogFile(bytes, value);
  }
  if (updated == bytes) return true;
  return PublishFile(rowPath, updated, st.st_mode & 07777);
}

std::string CreateCat(const std::vector<std::string>& paths, const SkinTexts& texts,
                      const ToolRowReport& report, std::stop_token stop,
                      const ChooseSavePath& chooseDestination, HashAlgorithm memberHash) {
  std::string product = chooseDestination().value_or("");
  auto stopped = [&] { return stop.stop_requested(); };
  try {
    catalog::Catalog store;
    store.version = memberHash == HashAlgorithm::Sha1 ? 1 : 2;
    store.listIdentifier.assign(16, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(store.listIdentifier.data()), 16) != 1)
      RaiseStatus(StatusCode::Undefined);
    store.thisUpdate = std::time(nullptr);

    for (std::size_t row = 0; row < paths.size() && !stopped(); ++row) {
      const std::string& path = paths[row];
      try {
        // Without a place to store the catalog the INF keeps the name it has.
        if (!product.empty() && !WriteInfCatalogFile(path, product))
          LogError("%s, %s, %s", "CGuiWnd::WriteInfCatalogFile", path.c_str(),
                   StatusCodeText(StatusCode::FileIsInUse));
        MemberIndirectData data = CreateMemberIndirectData(path, memberHash);
        catalog::Member member;
        member.referenceTag = ReferenceTag(data.digest);
        member.subjectType = data.subjectType;
        member.certVersion = 0;
        member.indirectData = std::move(data.indirectData);
        member.attributes.push_back(
            {"File",
             catalog::kAttrAuthenticated | catalog::kAttrDataAscii | catalog::kAttrNameAscii,
             catalog::Utf16Value(FileNameOf(path))});
        store.members.push_back(std::move(member));
        report(row, RowState::Complete, texts.Get("UiTaskStateComplete"));
      } catch (const std::exception& e) {
        report(row, TaskErrorState(e), TaskErrorText(e, texts));
        LogError("%s, %s, %s", "CGuiWnd::CreateCat", path.c_str(), e.what());
        product.clear();
        break;
      }
    }
    if (stopped()) product.clear();
    if (!product.empty()) PersistCatalog(store, product);
  } catch (const std::exception& e) {
    LogError("%s, %s", "CGuiWnd::CreateCat", e.what());
    RaiseStatus("%s, %s,", "CGuiWnd::CreateCat", e.what());
  }
  return product;
}

}  // namespace corvane
