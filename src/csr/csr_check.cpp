#include "csr/csr_check.h"

#include <string>
#include <vector>

#include "base/utf8.h"
#include "csr/pkcs10_decode.h"
#include "zorvat/cert_req_check.h"

namespace corvane {
namespace {

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
  std::string out;
  out.reserve(text.size());
  std::size_t start = 0;
  for (std::size_t at; (at = text.find(from, start)) != std::string::npos; start = at + from.size())
    out.append(text, start, at - start).append(to);
  out.append(text, start, std::string::npos);
  text = std::move(out);
}

// True when `what` occurs at a position from 1 to 255.
bool FoundNearStart(const std::string& text, std::string_view what) {
  std::size_t at = text.find(what, 1);
  return at != std::string::npos && at <= 255;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

std::optional<CsrArmour> ArmourOf(std::string_view text) {
  if (StartsWith(text, kCsrHeader)) return CsrArmour::Standard;
  if (StartsWith(text, kNewCsrHeader)) return CsrArmour::New;
  return std::nullopt;
}

CsrCheckResult Shown(std::string resultText) {
  return {true, UiMessage::Green("UiTaskStateCheckCsrState"), std::move(resultText)};
}

CsrCheckResult Refused(const char* key) { return {false, UiMessage::Red(key), {}}; }

}  // namespace

std::string FormatLanguageText(std::string_view format,
                               std::initializer_list<std::string_view> args) {
  std::string out;
  auto next = args.begin();
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size()) {
      char spec = format[i + 1];
      if ((spec == 's' || spec == 'd') && next != args.end()) {
        out += *next++;
        ++i;
        continue;
      }
      if (spec == '%') {
        out += '%';
        ++i;
        continue;
      }
    }
    out += format[i];
  }
  return out;
}

std::optional<std::string> ExtractCsrBody(std::string_view text, CsrArmour armour) {
  std::string_view header = armour == CsrArmour::Standard ? kCsrHeader : kNewCsrHeader;
  std::string_view footer = armour == CsrArmour::Standard ? kCsrFooter : kNewCsrFooter;
  std::size_t begin = text.find(header);
  if (begin == std::string_view::npos) return std::nullopt;
  std::size_t end = text.find(footer);
  if (end == std::string_view::npos) return std::nullopt;
  std::size_t bodyStart = begin + header.size() + 1;
  if (end < bodyStart || end - bodyStart < 100) return std::nullopt;
  return std::string(text.substr(bodyStart, end - bodyStart));
}

std::string RepairLineBreaks(std::string body) {
  if (FoundNearStart(body, "\r\n")) return body;
  if (FoundNearStart(body, "\r")) {
    ReplaceAll(body, "\n", " ");
    body = std::string(TrimBlanks(body));
    ReplaceAll(body, "\r", "\r\n");
  } else if (FoundNearStart(body, " ")) {
    ReplaceAll(body, "\r", " ");
    ReplaceAll(body, "\n", " ");
    body = std::string(TrimBlanks(body));
    ReplaceAll(body, " ", "\r\n");
  }
  return body;
}

CsrCheckResult CheckCsr(std::string_view requestText, const SkinTexts& texts) {
  std::string_view text = TrimBlanks(requestText);
  if (text.empty()) return Refused("UiTaskStateCsrContentIsNull");
  if (text.size() < 100) return Refused("UiTaskStateCsrContentIsIllegal");

  std::string working;
  std::optional<CsrArmour> armour = ArmourOf(text);
  if (armour) {
    working = RepairLineBreaks(ExtractCsrBody(text, *armour).value_or(std::string()));
    // The extracted body keeps the rest of the header's line break and the footer's; they
    // would stand as empty lines inside the armour.
    working = std::string(TrimBlanks(working));
    working = *armour == CsrArmour::Standard
                  ? std::string(kCsrHeader) + "\r\n" + working + "\r\n" + kCsrFooter
                  : std::string(kNewCsrHeader) + "\r\n" + working + "\r\n" + kNewCsrFooter;
  }

  zorvat::CertReqInfo info;
  std::string errorText;
  if (!zorvat::CheckCertReq(zorvat::Source::Memory(working), info, errorText))
    return CheckCsrKeyStore(requestText, texts);
  return Shown(
      FormatLanguageText(texts.Get("UiTaskStateCheckCsrRet"),
                         {std::to_string(info.version), info.keyAlgorithm,
                          std::to_string(info.keyBits), info.signatureAlgorithm, info.subject}));
}

CsrCheckResult CheckCsrKeyStore(std::string_view requestText, const SkinTexts& texts) {
  std::string_view text = TrimBlanks(requestText);
  if (text.empty()) return Refused("UiTaskStateCsrContentIsNull");
  if (text.size() < 100) return Refused("UiTaskStateCsrContentIsIllegal");
  std::optional<CsrArmour> armour = ArmourOf(text);
  std::optional<std::string> body;
  if (armour) body = ExtractCsrBody(text, *armour);
  if (!body) return Refused("UiTaskStateCsrContentIsIllegal");

  std::optional<Pkcs10Description> description = DescribeBase64Pkcs10(*body);
  if (!description) return Refused("UiTaskStateCheckCsrFailed");
  return Shown(FormatLanguageText(texts.Get("UiTaskStateCheckCsrRetWithWin7"),
                                  {description->signatureAlgorithm, description->keyAlgorithm,
                                   std::to_string(description->keyBits), description->subject}));
}

}  // namespace corvane
