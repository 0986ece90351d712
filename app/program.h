// Quorvane's program record: its description for the runtime, its constant data and its own
// initialisation, clean-up and start routines.
#pragma once

#include <cstdint>

#include "runtime/memory/owned.h"
#include "runtime/startup.h"

namespace quorvane {

inline constexpr uint32_t kMainWindowId = 0x52010001;

// The program's constant data, one region whose bounds the runtime records at start-up.
struct StaticData {
  int32_t emptyByteSet[2];  // also the template of an empty array
  char emptyText[1];
};
extern const StaticData kStaticData;

const qv::ProgramDescription& Description();
const qv::ProgramRoutines& Routines();

// Program-level state kept between clicks: the answer service's base address of the platform
// chosen at the last click.
qv::OwnedText& ServiceBase();

// The process entry of the program: returns the exit code.
int ProgramMain(int argc, char** argv);

}  // namespace quorvane
