// The outcome of a host operation: success, or a failure with the text the
// user is shown. Host functions never throw; they answer with a Status.
#pragma once

#include <string>
#include <utility>

#include "host/api.h"

namespace imagehost {

class HOST_API Status {
 public:
  Status() = default;  // success
  static Status failure(std::string message) {
    Status status;
    status.failed_ = true;
    status.message_ = std::move(message);
    return status;
  }

  bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }
  const std::string& message() const { return message_; }

 private:
  bool failed_ = false;
  std::string message_;
};

}  // namespace imagehost
