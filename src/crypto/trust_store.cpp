#include "crypto/trust_store.h"

#include <openssl/pem.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <string_view>

#include "base/data_locations.h"
#include "crypto/cert_decode.h"
#include "crypto/openssl_ptr.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

constexpr char kSystemBundle[] = "/etc/ssl/certs/ca-certificates.crt";
// The same certificates one per file, each reachable by the hash of its subject name
// ("<hash>.0"), as the system's certificate update writes them beside the bundle.
constexpr char kSystemCertDirectory[] = "/etc/ssl/certs";

bool IsHashLinkName(std::string_view name) {
  const std::size_t dot = name.find('.');
  if (dot != 8 || dot + 1 >= name.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
    if (i < 8 ? !hex : (i > 8 && !(c >= '0' && c <= '9'))) return false;
  }
  return true;
}

bool HasHashLinks(const std::string& directory) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(directory, ec))
    if (IsHashLinkName(entry.path().filename().string())) return true;
  return false;
}

// Parsing the whole bundle costs more than signing a small file, and a run needs a few of its
// certificates at most: where the hashed directory is there, certificates are read from it by
// name when a chain asks for them.
bool AddSystemDirectory(X509_STORE* store) {
  if (!HasHashLinks(kSystemCertDirectory)) return false;
  X509_LOOKUP* lookup = X509_STORE_add_lookup(store, X509_LOOKUP_hash_dir());
  return lookup && X509_LOOKUP_add_dir(lookup, kSystemCertDirectory, X509_FILETYPE_PEM) == 1;
}

// Every certificate of a file: a PEM bundle, or one DER/base64 certificate.
std::vector<X509Ptr> ReadCertificates(const std::string& path) {
  std::vector<X509Ptr> certs;
  BioPtr bio(BIO_new_file(path.c_str(), "rb"));
  if (!bio) return certs;
  while (X509* cert = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr))
    certs.emplace_back(cert);
  if (!certs.empty()) return certs;
  try {
    certs.push_back(CertFromFile(path));
  } catch (const std::exception&) {
  }
  return certs;
}

// What tells one version of a file from the next.
struct FileVersion {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  timespec changed{};

  bool operator==(const FileVersion& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec &&
           changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
  }
};

struct ParsedFile {
  FileVersion version;
  std::vector<X509Ptr> certs;
};

// The certificates of every file read so far, while it stays the version read: parsing the
// system bundle takes longer than signing a small file, and a run builds stores several times.
std::mutex parsedMutex;
std::map<std::string, ParsedFile> parsedFiles;

void AddFile(X509_STORE* store, const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return;
  const FileVersion version{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
  std::lock_guard lock(parsedMutex);
  ParsedFile& parsed = parsedFiles[path];
  if (parsed.certs.empty() || !(parsed.version == version))
    parsed = {version, ReadCertificates(path)};
  for (const X509Ptr& cert : parsed.certs) X509_STORE_add_cert(store, cert.get());
}

std::string UserConfigDirectory() { return XdgConfigDirectory(); }

}  // namespace

std::string UserTrustDirectory() {
  std::string base = UserConfigDirectory();
  return base.empty() ? base : base + "/trust";
}

std::string UserIntermediateDirectory() {
  std::string base = UserConfigDirectory();
  return base.empty() ? base : base + "/intermediate";
}

std::vector<std::string> DefaultTrustLocations() {
  std::vector<std::string> locations;
  if (const char* env = std::getenv("CORVANECODE_TRUST"); env && *env) {
    std::string list = env;
    for (std::size_t start = 0; start <= list.size();) {
      std::size_t end = list.find(':', start);
      if (end == std::string::npos) end = list.size();
      if (end > start) locations.push_back(list.substr(start, end - start));
      start = end + 1;
    }
    return locations;
  }
  locations.push_back(kSystemBundle);
  if (std::string dir = UserTrustDirectory(); !dir.empty()) locations.push_back(dir);
  return locations;
}

X509StorePtr BuildTrustStore(const std::vector<std::string>& locations) {
  X509StorePtr store(X509_STORE_new());
  for (const std::string& location : locations) {
    std::error_code ec;
    if (fs::is_directory(location, ec)) {
      for (const auto& entry : fs::directory_iterator(location, ec)) {
        std::string ext = entry.path().extension().string();
        if (entry.is_regular_file(ec) && (ext == ".pem" || ext == ".crt" || ext == ".cer"))
          AddFile(store.get(), entry.path().string());
      }
    } else if (location == kSystemBundle && AddSystemDirectory(store.get())) {
      continue;
    } else if (fs::is_regular_file(location, ec)) {
      AddFile(store.get(), location);
    }
  }
  return store;
}

X509StorePtr BuildDefaultTrustStore() { return BuildTrustStore(DefaultTrustLocations()); }

}  // namespace corvane
