// The script that every JSON object's context runs first: the helper functions its generated
// script texts call (get__count, get__name_All, get__extend), a JSON serialiser and parser for
// engines that lack one, and the toJSONString / parseJSON methods on Object.prototype.
#pragma once

namespace quorvane {

// Plain ASCII, so it reads the same in any code page.
extern const char* const kJsonPrelude;

}  // namespace quorvane
