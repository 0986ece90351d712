// The "Adodb.Stream" automation object: an in-memory byte stream that can be read and written as
// bytes or as text in a named character set (stream_charset.h).
#pragma once

#include "platform/com/guid.h"
#include "platform/com/hresult.h"

namespace win {

// {00000566-0000-0010-8000-00AA006D2EA4}
inline constexpr CLSID CLSID_AdodbStream = {
    0x00000566, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};

// Registers the class under its CLSID with the ProgIDs "ADODB.Stream" and "ADODB.Stream.6.0".
// Called once at start-up; calling again replaces the entry.
HRESULT RegisterAdodbStreamClass();

}  // namespace win
