// Failures of transports and drivers. Every class carries its message text.
#pragma once

#include <stdexcept>
#include <string>

namespace ondrevo {

class EInterfaceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// No instrument open, instrument lost, open or close refused.
class EConnectionError : public EInterfaceError {
 public:
  using EInterfaceError::EInterfaceError;
};

// Data not written or read completely.
class ETransceiveError : public EInterfaceError {
 public:
  using EInterfaceError::EInterfaceError;
};

// No complete reply within the time allowed.
class ETimeoutError : public EInterfaceError {
 public:
  using EInterfaceError::EInterfaceError;
};

// A driver library, monitor process or port is not present.
class ENotInstalledError : public EInterfaceError {
 public:
  using EInterfaceError::EInterfaceError;
};

// Message text + " 0x" + the code in upper-case hexadecimal, at least two digits.
std::string WithErrorCode(const std::string& message, unsigned long code);

}  // namespace ondrevo
