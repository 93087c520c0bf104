#include "csr/csr_subject.h"

#include <algorithm>

#include "base/utf8.h"

namespace corvane {
namespace {

bool IsAsciiAlnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

}  // namespace

bool ValidateEmail(std::string_view text) {
  std::string_view address = TrimBlanks(text);
  if (address.size() < 5) return false;
  std::size_t lastDot = address.rfind('.');
  std::string_view ending =
      lastDot == std::string_view::npos ? address : address.substr(lastDot + 1);
  if (ending != "com" && ending != "net" && ending != "cn") return false;
  if (!IsAsciiAlnum(address.front())) return false;
  for (char c : address.substr(1))
    if (!IsAsciiAlnum(c) && c != '_' && c != '-' && c != '.' && c != '@') return false;
  if (std::count(address.begin(), address.end(), '@') != 1) return false;
  std::size_t at = address.find('@');
  auto dotsAfterAt =
      std::count(address.begin() + static_cast<std::ptrdiff_t>(at), address.end(), '.');
  if (dotsAfterAt < 1 || dotsAfterAt > 3) return false;
  if (address.back() == '.') return false;
  if (at + 1 < address.size() && address[at + 1] == '.') return false;
  if (at > 0 && address[at - 1] == '.') return false;
  return true;
}

bool BuildSubject(CsrKind kind, const CsrFields& f, bool legacyPlatform, std::string& subject) {
  subject.clear();
  switch (kind) {
    case CsrKind::CodeSigning:
      subject = legacyPlatform ? "O=" + f.unitName1 + ", CN=" + f.publisherName
                               : "CN=" + f.publisherName + ", O=" + f.unitName1;
      return true;
    case CsrKind::Client:
      if (!f.email.empty() && !ValidateEmail(f.email)) return false;
      subject = legacyPlatform ? "E=" + f.email + ", CN=" + f.commonName
                               : "CN=" + f.commonName + ", E=" + f.email;
      return true;
    case CsrKind::Ssl:
      subject = legacyPlatform
                    ? "C=" + f.countryCode + ", O=" + f.unitName2 + ", CN=" + f.domainName
                    : "CN=" + f.domainName + ", O=" + f.unitName2 + ", C=" + f.countryCode;
      return true;
  }
  return true;
}

std::vector<zorvat::SubjectEntry> SubjectEntriesFor(CsrKind kind, const CsrFields& f) {
  switch (kind) {
    case CsrKind::CodeSigning:
      return {{"O", f.publisherName}, {"CN", f.unitName1}};
    case CsrKind::Client:
      return {{"CN", f.commonName}, {"emailAddress", f.email}};
    case CsrKind::Ssl:
      return {{"CN", f.domainName}, {"O", f.unitName2}, {"C", f.countryCode}};
  }
  return {};
}

}  // namespace corvane
