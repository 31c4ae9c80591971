#include "devices/DeviceErrors.h"

#include <cstdio>

#include "devices/DeviceInterfaces.h"

namespace ondrevo {

std::string WithErrorCode(const std::string& message, unsigned long code) {
  char hex[24];
  std::snprintf(hex, sizeof hex, "%02lX", code);  // an integer: no locale involved
  return message + " 0x" + hex;
}

const char* TriggerTypeText(TTriggerType type) {
  return type == TTriggerType::ttFallingEdge ? "falling edge" : "rising edge";
}

}  // namespace ondrevo
