#include "net/version_update.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "base/data_locations.h"
#include "base/paths.h"
#include "base/process_start.h"
#include "base/program_files.h"
#include "base/run_log.h"
#include "base/status.h"
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

// The programs an update of this copy renews: `self`, and the other one when it lies in the
// same directory under its own name (and is not the running file itself).
std::vector<Program> ProgramsToUpdate(const std::string& runningExecutable, Program self) {
  std::vector<Program> programs{self};
  const std::string directory = DirectoryOf(runningExecutable);
  for (Program other : kPrograms) {
    if (other == self) continue;
    const std::filesystem::path sibling =
        std::filesystem::path(directory) / FilesOf(other).installedName;
    std::error_code ec;
    if (std::filesystem::is_regular_file(sibling, ec) &&
        !std::filesystem::equivalent(sibling, runningExecutable, ec)) {
      programs.push_back(other);
    }
  }
  return programs;
}

bool CarriesAnotherProgramsName(const std::string& runningExecutable, Program self) {
  for (Program other : kPrograms) {
    if (other != self && FileNameOf(runningExecutable) == FilesOf(other).installedName) return true;
  }
  return false;
}

}  // namespace

std::string DownloadPage() { return DownloadUrl(""); }

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
      if (RunningInstallKind() == InstallKind::Installed) {
        view.byPackageManager = true;
        view.downloadPage = DownloadPage();
      } else {
        view.offerUpdate = true;
      }
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
                              WorkerRegistry& workers, const std::string& runningExecutable,
                              Program self) {
  if (!status.hasNew) return UpdateOutcome::Closed;
  // Files the package manager owns are not ours to replace.
  if (InstallKindOf(DirectoryOf(runningExecutable)) == InstallKind::Installed)
    return UpdateOutcome::ByPackageManager;
  auto state = [&](const char* key, const char* colour) {
    if (report.state) report.state(key, colour);
  };
  auto progress = [&](int percent) {
    if (report.progress) report.progress(percent);
  };
  state("StateUpdateing", kStatusGreen);
  workers.RequestStop();
  while (workers.IsAnyWorkerRunning()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  // The request just raised is for the other workers; the update's own downloads go on.
  TransferStopScope downloads{std::stop_token{}};
  progress(20);

  const std::string directory = DirectoryOf(runningExecutable);
  const std::vector<Program> programs = ProgramsToUpdate(runningExecutable, self);
  auto newPath = [&](Program program) { return directory + "/" + FilesOf(program).leftoverName; };
  try {
    // A quote in the path could not travel inside the quoted hand-off argument.
    if (runningExecutable.empty() || runningExecutable.find('"') != std::string::npos)
      RaiseStatus("%s, file path: %s", "VerWnd::ExeUpdateThread", runningExecutable.c_str());
    // Handing the window's release to the command line (or the reverse) would cross them.
    if (CarriesAnotherProgramsName(runningExecutable, self))
      RaiseStatus("%s, file path: %s", "VerWnd::ExeUpdateThread", runningExecutable.c_str());
    for (Program program : programs) {
      const std::string path = newPath(program);
      ::unlink(path.c_str());
      CCommunicator::Download(DownloadUrl(FilesOf(program).downloadName), path);
      if (::chmod(path.c_str(), 0755) != 0)
        RaiseStatus("%s, file path: %s", "VerWnd::ExeUpdateThread", path.c_str());
    }
    progress(100);
    if (!StartProgram(newPath(self), {HandOffArgument(runningExecutable)}))
      RaiseStatus("%s, file path: %s", "VerWnd::ExeUpdateThread", newPath(self).c_str());
    return UpdateOutcome::Started;
  } catch (const std::exception& e) {
    LogError("%s, %s", "VerWnd::ExeUpdateThread", e.what());
    for (Program program : programs) ::unlink(newPath(program).c_str());
    // The program goes on as it was: its workers may run again.
    workers.WithdrawStop();
    state("StateUpdateFail", kStatusRed);
    return UpdateOutcome::Failed;
  }
}

}  // namespace corvane
