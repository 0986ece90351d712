// Test helper: every output of one WebRequest call, each starting from a value that the routine
// must either replace or leave alone.
#pragma once

#include <string>

#include "http/web_request.h"

namespace quorvane {

struct Exchange {
  qv::OwnedText result;
  qv::OwnedText sendCookies;
  qv::OwnedText receivedCookies;
  qv::OwnedText headers = qv::OwnedText::Copy("none");
  qv::OwnedText location = qv::OwnedText::Copy("none");
  qv::OwnedText status = qv::OwnedText::Copy("none");
  qv::OwnedByteSet bytes = qv::OwnedByteSet::Copy("none");

  void Run(const std::string& url, WebRequestArguments a = {}) {
    a.sendCookies = &sendCookies;
    a.receivedCookies = &receivedCookies;
    a.responseHeaders = &headers;
    a.location = &location;
    a.statusText = &status;
    a.responseBytes = &bytes;
    result = WebRequest(url.c_str(), a);
  }
};

}  // namespace quorvane
