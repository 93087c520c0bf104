#include "crypto/trust_store.h"

#include <openssl/pem.h>

#include <cstdlib>
#include <filesystem>

#include "base/data_locations.h"
#include "crypto/cert_decode.h"
#include "crypto/openssl_ptr.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

constexpr char kSystemBundle[] = "/etc/ssl/certs/ca-certificates.crt";

// Every certificate of a file: a PEM bundle, or one DER/base64 certificate.
void AddFile(X509_STORE* store, const std::string& path) {
  BioPtr bio(BIO_new_file(path.c_str(), "rb"));
  if (!bio) return;
  int added = 0;
  while (X509* cert = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) {
    X509_STORE_add_cert(store, cert);
    X509_free(cert);
    ++added;
  }
  if (added > 0) return;
  try {
    X509Ptr cert = CertFromFile(path);
    X509_STORE_add_cert(store, cert.get());
  } catch (const std::exception&) {
  }
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
    } else if (fs::is_regular_file(location, ec)) {
      AddFile(store.get(), location);
    }
  }
  return store;
}

X509StorePtr BuildDefaultTrustStore() { return BuildTrustStore(DefaultTrustLocations()); }

}  // namespace corvane
