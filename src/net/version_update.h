// The version check and the self-update, free of any window: each operation returns or
// reports what the main window's button and the version window show (language keys of their
// tables, colours as the skin files write them, progress), and never blocks on a window.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "base/program_files.h"
#include "base/worker_registry.h"

namespace corvane {

// Text colours of the "check version" button, and of status lines (errors, progress).
inline constexpr const char* kColourRed = "#00FF0000";
inline constexpr const char* kColourGreen = "#0030A139";
inline constexpr const char* kStatusRed = "#FFFF0000";
inline constexpr const char* kStatusGreen = "#00279E36";

// What the main window learns in its background check and hands to the version window.
struct UpdateStatus {
  bool hasNew = false;
  std::string newVersion;
  std::string currentVersion;
  std::string notes;
};

// The main window's "check version" button after the background check.
struct CheckVersionButton {
  std::string textKey;  // "UiBtnCheckVerNew" or "UiBtnCheckVer"
  std::string colour;   // red for a new release, green otherwise
};

// The main window's background check, once per start: reads the update document with the
// notes element of the language (`XmlDespName`) and compares its version with
// `currentVersion`. Sets `status.hasNew` when the offer is newer. A failure is written to the
// run log and gives nullopt: the button stays as it is.
std::optional<CheckVersionButton> VersionCheckThread(UpdateStatus& status,
                                                     const std::string& notesElement,
                                                     const std::string& currentVersion);

// What the version window shows after its own check.
struct UpdateCheckView {
  std::string stateKey;      // "StateHaveNew", "StateIsNew" or "StateNotConnect"
  std::string notes;         // the release notes; empty with notesKey "DespNone"
  std::string notesKey;      // "DespNone" when there are no notes to show
  bool offerUpdate = false;  // btExeUpdate updates; otherwise it reads "BtnExeUpdateName"
  bool showNewVersion = false;
  // An installed copy never replaces files the package manager owns: with a newer release it
  // shows "StateUpdateByPackage" followed by the download page instead of offering the update.
  bool byPackageManager = false;
  std::string downloadPage;
};

// The version window's check: uses `status` as the main window passed it when it already
// knows of a newer release, else reads the document itself (updating `status`). The running
// copy's kind (app/data_locations.h) decides whether the update is offered.
UpdateCheckView UpdateCheckThread(UpdateStatus& status, const std::string& notesElement,
                                  const std::string& currentVersion);

// What the version window shows while updating: a state key with its colour, the progress.
struct UpdateProgress {
  std::function<void(const std::string& stateKey, const char* colour)> state;
  std::function<void(int percent)> progress;
};

enum class UpdateOutcome {
  Closed,            // no newer release known: the window just closes
  Started,           // the new executable runs the hand-off; end this process now, exit code 0
  Failed,            // "StateUpdateFail" shown, the error logged; the running version is untouched
  ByPackageManager,  // an installed copy: nothing downloaded or changed; tell where to get it
};

// The update of the copy whose program `self` runs as `runningExecutable`: for that program and
// for the other one when it lies beside it under its own name, downloads the program's new
// executable (FilesOf: "corvanecode.exe", "corvanecode-cli.exe") from the download server over
// verified TLS to "<program>.new.exe" beside it (a temporary name first, renamed once
// complete) and makes it executable; then starts the new executable of `self` with the quoted
// hand-off argument naming `runningExecutable`. Before the downloads it raises the stop request
// of `workers` and waits until none of the main window's workers is busy. When any download
// fails nothing is started and every new executable is removed. An installed copy is left
// alone (ByPackageManager), and so is a running executable that carries the other program's
// name (Failed).
UpdateOutcome ExeUpdateThread(const UpdateStatus& status, const UpdateProgress& report,
                              WorkerRegistry& workers, const std::string& runningExecutable,
                              Program self);

// Where an installed copy's user gets the new release: the download server's page.
std::string DownloadPage();

}  // namespace corvane
