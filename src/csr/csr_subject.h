// The subject of a certificate request, from the fields of the kind of certificate asked for.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "zorvat/cert_req_make.h"

namespace corvane {

enum class CsrKind { CodeSigning, Client, Ssl };

// The tab's seven fields as typed (UTF-8).
struct CsrFields {
  std::string publisherName;  // code signing
  std::string unitName1;      // code signing
  std::string commonName;     // client
  std::string email;          // client
  std::string domainName;     // SSL
  std::string unitName2;      // SSL
  std::string countryCode;    // SSL
};

// The e-mail rule: trimmed, at least 5 characters, ending ".com", ".net" or ".cn" (exact
// case), a letter or digit first, then letters, digits, "_-.@", one "@", 1 to 3 dots after it,
// no dot at the end nor beside the "@".
bool ValidateEmail(std::string_view text);

// The distinguished-name string of the key-store generators: "CN=%s, O=%s" (code signing),
// "CN=%s, E=%s" (client), "CN=%s, O=%s, C=%s" (SSL), reversed on a legacy platform. False only
// for a non-empty e-mail address that fails ValidateEmail.
bool BuildSubject(CsrKind kind, const CsrFields& fields, bool legacyPlatform, std::string& subject);

// The request's subject attributes in their order: O, CN (code signing: Publisher Name as O,
// Unit Name as CN); CN, emailAddress (client); CN, O, C (SSL).
std::vector<zorvat::SubjectEntry> SubjectEntriesFor(CsrKind kind, const CsrFields& fields);

}  // namespace corvane
