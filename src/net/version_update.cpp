#include "net/version_update.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "app/process_start.h"
#include "app/run_log.h"
#include "app/status.h"
#include "app/update_hand_off.h"
#include "net/communicator.h"
#include "net/server_hosts.h"
#include "net/update_comm.h"

namespace corvane {
namespace {

// Reads the document and records what it offers; true when that is newer than `current`.
bool ReadOffer(UpdateStatus& status, const std::string& notesElement, const std::string& current) {
  const VersionInfo info =
      UpdateComm::GetVerInfo(DownloadUrl(kUpdateDocumentName), kUpdateExecutableName, notesElement);
  status.currentVersion = current;
  status.newVersion = info.version;
  status.notes = info.notes;
  if (CompareVersions(info.version, current) > 0) status.hasNew = true;
  return status.hasNew;
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

}  // namespace

std::optional<CheckVersionButton> VersionCheckThread(UpdateStatus& status,
                                                     const std::string& notesElement,
                                                     const std::string& currentVersion) {
  std::optional<CheckVersionButton> button;
  try {
    if (ReadOffer(status, notesElement, currentVersion)) {
      button = CheckVersionButton{"UiBtnCheckVerNew", kColourRed};
    } else {
      button = CheckVersionButton{"UiBtnCheckVer", kColourGreen};
    }
  } catch (const std::exception& e) {
    LogError("%s, %s", "CGuiWnd::VersionCheckThread", e.what());
  }
  return button;
}

UpdateCheckView UpdateCheckThread(UpdateStatus& status, const std::string& notesElement,
                                  const std::string& currentVersion) {
  UpdateCheckView view;
  try {
    if (!status.hasNew) ReadOffer(status, notesElement, currentVersion);
    if (status.hasNew) {
      view.stateKey = "StateHaveNew";
      view.notes = status.notes;
      view.offerUpdate = true;
    } else {
      view.stateKey = "StateIsNew";
      view.notesKey = "DespNone";
    }
    view.showNewVersion = true;
  } catch (const std::exception&) {
    // Not logged: the window says it is not connected.
    view = UpdateCheckView{};
    view.stateKey = "StateNotConnect";
  }
  return view;
}

UpdateOutcome ExeUpdateThread(const UpdateStatus& status, const UpdateProgress& report,
                              WorkerRegistry& workers, const std::string& runningExecutable) {
  if (!status.hasNew) return UpdateOutcome::Closed;
  auto state = [&](const char* key, const char* colour) {
    if (report.state) report.state(key, colour);
  };
  auto progress = [&](int percent) {
    if (report.progress) report.progress(percent);
  };
  state("StateUpdateing", kStatusGreen);
  workers.RequestStop();
  while (workers.IsAnyWorkerRunning()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  progress(20);

  const std::string newPath = DirectoryOf(runningExecutable) + "/" + kUpdateLeftoverName;
  try {
    // A quote in the path could not travel inside the quoted hand-off argument.
    if (runningExecutable.empty() || runningExecutable.find('"') != std::string::npos)
      RaiseStatus("%s, file path: %s", "VerWnd::ExeUpdateThread", runningExecutable.c_str());
    ::unlink(newPath.c_str());
    CCommunicator::Download(DownloadUrl(kUpdateExecutableName), newPath);
    if (::chmod(newPath.c_str(), 0755) != 0)
      RaiseStatus("%s, file path: %s", "VerWnd::ExeUpdateThread", newPath.c_str());
    progress(100);
    if (!StartProgram(newPath, {HandOffArgument(runningExecutable)}))
      RaiseStatus("%s, file path: %s", "VerWnd::ExeUpdateThread", newPath.c_str());
    return UpdateOutcome::Started;
  } catch (const std::exception& e) {
    LogError("%s, %s", "VerWnd::ExeUpdateThread", e.what());
    ::unlink(newPath.c_str());
    state("StateUpdateFail", kStatusRed);
    return UpdateOutcome::Failed;
  }
}

}  // namespace corvane
