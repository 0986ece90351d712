#include "tests/app/query_test_host.h"

#include <string>

#include "app/answer_service.h"

namespace {
// Port 9 (discard) on loopback: nothing listens there, so a click before a test sets the port
// fails to connect rather than reaching a service by chance.
std::string g_velmora = "http://127.0.0.1:9/vm/0/";
std::string g_tandrel = "http://127.0.0.1:9/tdl/0/";
}  // namespace

namespace qvtest {

void SetAnswerServicePort(uint16_t port) {
  const std::string host = "http://127.0.0.1:" + std::to_string(port);
  g_velmora = host + "/vm/0/";
  g_tandrel = host + "/tdl/0/";
}

}  // namespace qvtest

namespace quorvane {

const char* VelmoraServiceBase() { return g_velmora.c_str(); }
const char* TandrelServiceBase() { return g_tandrel.c_str(); }

}  // namespace quorvane
