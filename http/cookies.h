// Cookies as plain text in the caller's variables: items "name=value" separated by "; ". A web
// request collects the name=value part of every "Set-Cookie" response line and, unless asked not
// to, merges the cookies it sent with those it received: a received cookie replaces a sent one of
// the same name, and a cookie set to "deleted" disappears.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/memory/owned.h"

namespace quorvane {

// When the text before the line's first ": " is exactly "Set-Cookie", appends the line's cookie,
// attributes dropped, and "; ". True when it did.
bool CollectCookie(const char* line, qv::OwnedText& receivedCookies);
// After the response's lines: drops the trailing "; " and, when mergeCookies and sendCookies is not
// empty, merges; both variables then hold the merged text.
void FinishReceivedCookies(qv::OwnedText& receivedCookies, qv::OwnedText& sendCookies, bool mergeCookies);

// Merges the old and the new cookie texts; both variables are rewritten (trimmed), the old one to
// the merged text, which is also returned.
qv::OwnedText MergeCookies(qv::OwnedText& oldCookies, qv::OwnedText& newCookies);
// The item's name: the text before its first '=' (the whole item without one), spaces trimmed.
qv::OwnedText CookieName(const char* item);

// A list of texts, as the cookie steps split and look up items.
using TextItems = std::vector<std::string>;

bool HasCookieName(const TextItems& items, const char* name);
// The text without the items (split at separator, or one item per character) that repeat an
// earlier item byte for byte, joined again by separator.
qv::OwnedText RemoveDuplicateItems(const char* text, const char* separator, bool bySeparator);
// The 1-based index of the first element equal to text, -1 when none.
int32_t FindInTextArray(const TextItems& array, const char* text);
// One item per character: a byte of 0x80 or more with the byte after it, CR LF, or one byte.
TextItems SplitCharacters(const char* text);

}  // namespace quorvane
