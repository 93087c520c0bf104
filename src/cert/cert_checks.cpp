#include "cert/cert_checks.h"

#include <openssl/x509v3.h>

#include "base/status.h"

namespace corvane {

bool IsPastNotAfter(const ASN1_TIME* notAfter, std::time_t now) {
  std::tm end{};
  if (!notAfter || ASN1_TIME_to_tm(notAfter, &end) != 1) return true;
  return now > timegm(&end);
}

bool IsPastNotAfter(const ASN1_TIME* notAfter) {
  return IsPastNotAfter(notAfter, std::time(nullptr));
}

bool HasCodeSigningUsage(const X509* cert) {
  if (!cert) return false;
  auto* usages =
      static_cast<EXTENDED_KEY_USAGE*>(X509_get_ext_d2i(cert, NID_ext_key_usage, nullptr, nullptr));
  if (!usages) return false;
  bool found = false;
  for (int i = 0; i < sk_ASN1_OBJECT_num(usages) && !found; ++i)
    found = OBJ_obj2nid(sk_ASN1_OBJECT_value(usages, i)) == NID_code_sign;
  EXTENDED_KEY_USAGE_free(usages);
  return found;
}

bool IsCaCertificate(const X509* cert) {
  if (!cert || X509_get_ext_by_NID(cert, NID_basic_constraints, -1) < 0)
    RaiseStatus(StatusCode::Undefined);
  auto* constraints = static_cast<BASIC_CONSTRAINTS*>(
      X509_get_ext_d2i(cert, NID_basic_constraints, nullptr, nullptr));
  if (!constraints) RaiseStatus(StatusCode::Undefined);
  bool ca = constraints->ca != 0;
  BASIC_CONSTRAINTS_free(constraints);
  return ca;
}

}  // namespace corvane
