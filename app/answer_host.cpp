// The answer service's base addresses as the program is built: string literals put together by
// the compiler, so the shipped program reads no setting, file or environment variable for them.
#include "app/answer_service.h"

#ifndef QUORVANE_ANSWER_HOST
#error "QUORVANE_ANSWER_HOST names the answer service's host (host or host:port)"
#endif

namespace quorvane {

const char* VelmoraServiceBase() { return "http://" QUORVANE_ANSWER_HOST "/vm/0/"; }
const char* TandrelServiceBase() { return "http://" QUORVANE_ANSWER_HOST "/tdl/0/"; }

}  // namespace quorvane
