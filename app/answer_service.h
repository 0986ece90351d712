// Where the answer service lives. The program talks to one fixed HTTP host that serves a path per
// platform; the base addresses are constants of the program, chosen when it is built (the CMake
// cache variable QUORVANE_ANSWER_HOST, host or host:port).
#pragma once

namespace quorvane {

// "http://", the host, then "/vm/0/" for Velmora or "/tdl/0/" for Tandrel: GBK texts (plain
// ASCII) that live as long as the program.
const char* VelmoraServiceBase();
const char* TandrelServiceBase();

}  // namespace quorvane
