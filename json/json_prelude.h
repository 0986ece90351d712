// The script that every JSON object's context runs first: the helper functions its generated
// script texts call (get__count, get__name_All, get__extend), the toJSONString / parseJSON methods
// on Object.prototype, and a JSON serialiser and parser for engines that lack their own.
#pragma once

#include "runtime/automation/holders.h"

namespace quorvane {

// Runs the prelude in the context of a script control whose language is set. The JSON part is
// added only when the context has no JSON.stringify, JSON.parse or Date.prototype.toJSON.
void AddPrelude(const qv::OwnedObject& control);

}  // namespace quorvane
