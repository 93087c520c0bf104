// libcurl, loaded the first time a transfer needs it.
//
// Linking it would load it, and the LDAP, Kerberos, SSH, IDN and TLS libraries it brings in,
// at every start of every front end, though most runs never go to the network: loading them
// costs more than signing a small file. Only the headers are used at build time.
#pragma once

#include <curl/curl.h>

namespace corvane {

struct CurlLibrary {
  CURLcode (*global_init)(long flags);
  CURL* (*easy_init)();
  CURLcode (*easy_setopt)(CURL* handle, CURLoption option, ...);
  CURLcode (*easy_perform)(CURL* handle);
  CURLcode (*easy_getinfo)(CURL* handle, CURLINFO info, ...);
  void (*easy_cleanup)(CURL* handle);
  curl_slist* (*slist_append)(curl_slist* list, const char* text);
  void (*slist_free_all)(curl_slist* list);
  CURLSH* (*share_init)();
  CURLSHcode (*share_setopt)(CURLSH* share, CURLSHoption option, ...);
};

// The library, loaded and initialised once per process (curl_global_init included); nullptr
// when it cannot be loaded or lacks a function, which makes every transfer fail.
const CurlLibrary* Curl();

}  // namespace corvane
