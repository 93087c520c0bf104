#include "net/curl_library.h"

#include <dlfcn.h>

#include <mutex>

namespace corvane {
namespace {

// The soname of the libcurl the headers describe.
constexpr const char* kCurlSoname = "libcurl.so.4";

template <typename Function>
bool Resolve(void* library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(::dlsym(library, name));
  return function != nullptr;
}

const CurlLibrary* Load() {
  // Never closed: handles made from it may live until the process exits.
  void* library = ::dlopen(kCurlSoname, RTLD_NOW | RTLD_LOCAL);
  if (!library) return nullptr;
  static CurlLibrary curl{};
  const bool complete = Resolve(library, "curl_global_init", curl.global_init) &&
                        Resolve(library, "curl_easy_init", curl.easy_init) &&
                        Resolve(library, "curl_easy_setopt", curl.easy_setopt) &&
                        Resolve(library, "curl_easy_perform", curl.easy_perform) &&
                        Resolve(library, "curl_easy_getinfo", curl.easy_getinfo) &&
                        Resolve(library, "curl_easy_cleanup", curl.easy_cleanup) &&
                        Resolve(library, "curl_slist_append", curl.slist_append) &&
                        Resolve(library, "curl_slist_free_all", curl.slist_free_all) &&
                        Resolve(library, "curl_share_init", curl.share_init) &&
                        Resolve(library, "curl_share_setopt", curl.share_setopt);
  if (!complete || curl.global_init(CURL_GLOBAL_ALL) != CURLE_OK) return nullptr;
  return &curl;
}

}  // namespace

const CurlLibrary* Curl() {
  static const CurlLibrary* const curl = Load();
  return curl;
}

}  // namespace corvane
