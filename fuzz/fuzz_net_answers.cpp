// Answers of the maker's servers and the reputation service: the reputation answer, the
// update document, the log server's answer type and the run-log error lines. The first byte
// picks the reader, the rest is the answer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>

#include "base/status.h"
#include "net/cloud_scan.h"
#include "net/error_lines.h"
#include "net/stat_comm.h"
#include "net/update_comm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view answer(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 4) {
    case 0:
      try {
        corvane::ParseScanAnswer(answer);
      } catch (const std::out_of_range&) {
      }
      break;
    case 1:
      try {
        const corvane::VersionInfo info =
            corvane::UpdateComm::ReadVerInfo(answer, "corvanecode.exe", "desp-en");
        corvane::CompareVersions(info.version, "2.0.0.3");
      } catch (const corvane::ExceptionEx&) {
      }
      break;
    case 2:
      try {
        corvane::StatComm::CheckResponse("msgResp", std::string(answer));
      } catch (const corvane::ExceptionEx&) {
      }
      break;
    default: {
      // At most five lines of at most one 200-byte window each. A line holding two tags far
      // apart may be taken twice, in part, so the result can outgrow its input.
      const std::string lines = corvane::CollectErrorLinesFrom(answer);
      if (lines.size() > 5 * 200) std::abort();
      break;
    }
  }
  return 0;
}
