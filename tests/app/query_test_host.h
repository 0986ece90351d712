// The answer service's address for the end-to-end tests and the benchmark: they link the program's
// code without its built-in address and point it at a service of their own on 127.0.0.1.
#pragma once

#include <cstdint>

namespace qvtest {

// Every later click queries http://127.0.0.1:port/vm/0/ or /tdl/0/.
void SetAnswerServicePort(uint16_t port);

}  // namespace qvtest
