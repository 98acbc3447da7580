// Records the failure notices (platform/winapi/alert.h) raised while the object
// lives, instead of printing them.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/winapi/alert.h"

namespace testing_support {

class AlertRecorder {
 public:
  AlertRecorder() : m_Previous(SetAlertHandler(&Record)) { s_Current = this; }
  ~AlertRecorder() {
    SetAlertHandler(m_Previous);
    s_Current = nullptr;
  }
  AlertRecorder(const AlertRecorder&) = delete;
  AlertRecorder& operator=(const AlertRecorder&) = delete;

  // Each notice as (text, caption), in order.
  std::vector<std::pair<std::string, std::string>> Alerts;

 private:
  static void Record(const char* text, const char* caption) {
    if (s_Current) s_Current->Alerts.emplace_back(text, caption);
  }
  inline static AlertRecorder* s_Current = nullptr;
  AlertHandler m_Previous;
};

}  // namespace testing_support
