// The user's list of timestamp servers, as the window's settings keep it: "Settings.xml" beside
// User.xml, <config><timestamp><host>HOST[:PORT]</host>…</timestamp></config>. Both front ends
// load it at start-up; the environment and the command line win over it.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace corvane {

inline constexpr char kSettingsFileName[] = "Settings.xml";

std::string SettingsFilePath();

// The saved hosts in order; empty when nothing is saved or the file cannot be read.
std::vector<std::string> LoadTimestampHostsSetting();

// The first entry that is not "host" or "host:port" (a name, an IPv4 address or a bracketed
// IPv6 address; a port from 1 to 65535), if any.
std::optional<std::string> InvalidTimestampHost(const std::vector<std::string>& hosts);

// Writes the list (an empty list removes the setting) beside and over the file; false when it
// cannot be written. The hosts must have passed InvalidTimestampHost.
bool SaveTimestampHostsSetting(const std::vector<std::string>& hosts);

// Makes the saved list the one the signing runs try (below the environment and the setters).
void ApplyTimestampHostsSetting();

}  // namespace corvane
