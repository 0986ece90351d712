// Helpers the JSON tests share.
#pragma once

#include <string>
#include <string_view>

#include "json/json_object.h"

namespace quorvane::jsontest {

// Seconds on the monotonic clock (<chrono> cannot be compiled with GBK as the execution charset).
double Now();

// UTF-8 to GBK through the program's declared MultiByteToWideChar and WideCharToMultiByte
// (commands 17 and 18), the conversion the query action performs on a reply before reading it.
std::string Utf8ToGbkForTest(std::string_view utf8);

// Runs script in the object's own context and gives the result as text.
std::string EvalInContext(const JsonObject& json, const char* script);

}  // namespace quorvane::jsontest
