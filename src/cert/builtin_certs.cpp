#include "cert/builtin_certs.h"

#include "base/resources.h"
#include "base/status.h"

namespace corvane {

X509Ptr LoadBuiltinCert(int id) {
  std::string_view der = FindResource("CERT", id);
  if (der.empty()) RaiseStatus(StatusCode::Undefined);
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
  if (!cert) RaiseStatus(StatusCode::Undefined);
  return cert;
}

}  // namespace corvane
