// What the crypto layer raises when bytes are not the structure asked for (a message that is
// no SignedData, a certificate that does not decode) or a file cannot be read. Its text says
// what went wrong, for a log or a test; the outcome a user sees is the caller's to choose.
#pragma once

#include <stdexcept>

namespace corvane {

class CryptoError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace corvane
